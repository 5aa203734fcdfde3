// tesmar-lab: a stand-in telephony server for the console's tests, demos and newcomers.

#include "lab/labconfig.h"
#include "lab/labcontrol.h"
#include "lab/labserver.h"
#include "lab/labsipstack.h"

#include <QCommandLineParser>
#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tesmar-lab"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Event-socket lab server for Tesmar"));
    parser.addHelpOption();
    const QCommandLineOption listen(QStringLiteral("listen"), QStringLiteral("Event socket address:port."),
                                    QStringLiteral("addr:port"), QStringLiteral("127.0.0.1:8021"));
    const QCommandLineOption password(QStringLiteral("password"), QStringLiteral("Event socket password."),
                                      QStringLiteral("password"), QStringLiteral("ClueCon"));
    const QCommandLineOption directory(QStringLiteral("directory"),
                                       QStringLiteral("Folder of user XML files."), QStringLiteral("folder"));
    const QCommandLineOption domain(QStringLiteral("domain"), QStringLiteral("Directory domain."),
                                    QStringLiteral("domain"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption recordings(QStringLiteral("recordings"),
                                        QStringLiteral("Folder of files to play."), QStringLiteral("folder"));
    const QCommandLineOption controlPort(QStringLiteral("control-port"),
                                         QStringLiteral("Control port on loopback (0: any free port)."),
                                         QStringLiteral("port"), QStringLiteral("8022"));
    const QCommandLineOption noControl(QStringLiteral("no-control"),
                                       QStringLiteral("Do not open the control port."));
    const QCommandLineOption script(QStringLiteral("script"),
                                    QStringLiteral("Control commands to run at start."),
                                    QStringLiteral("file"));
    const QCommandLineOption allow(QStringLiteral("allow"),
                                   QStringLiteral("Comma-separated addresses or subnets allowed to connect."),
                                   QStringLiteral("list"));
    const QCommandLineOption timeScale(QStringLiteral("time-scale"),
                                       QStringLiteral("Multiplier for every simulated delay."),
                                       QStringLiteral("factor"), QStringLiteral("1"));
    const QCommandLineOption recordAll(QStringLiteral("record-all"),
                                       QStringLiteral("Record every conference from its start."));
    const QCommandLineOption cdrCommand(
        QStringLiteral("cdr-command"),
        QStringLiteral("Command that reads the CDR of each recorded conference as SQL on stdin."),
        QStringLiteral("command"));
    const QCommandLineOption sipListen(QStringLiteral("sip-listen"),
                                       QStringLiteral("SIP registrar and calls, UDP and TCP, on addr:port."),
                                       QStringLiteral("addr:port"), QStringLiteral("127.0.0.1:5060"));
    parser.addOptions({listen, password, directory, domain, recordings, controlPort, noControl, script, allow,
                       timeScale, recordAll, cdrCommand, sipListen});
    parser.process(app);

    LabConfig config;
    const QString address = parser.value(listen);
    const int colon = address.lastIndexOf(QLatin1Char(':'));
    bool portOk = false;
    config.listenAddress = QHostAddress(colon < 0 ? address : address.left(colon));
    config.listenPort = quint16((colon < 0 ? address : address.mid(colon + 1)).toUInt(&portOk));
    if (config.listenAddress.isNull() || !portOk) {
        qCritical("tesmar-lab: --listen wants addr:port");
        return 2;
    }
    config.password = parser.value(password);
    config.directory = parser.value(directory);
    config.domain = parser.value(domain);
    config.recordings = parser.value(recordings);
    config.allow = parser.value(allow).split(QLatin1Char(','), Qt::SkipEmptyParts);
    config.sipListen = parser.value(sipListen);
    config.timeScale = parser.value(timeScale).toDouble();
    config.recordAll = parser.isSet(recordAll);
    config.cdrCommand = parser.value(cdrCommand);
    if (config.timeScale <= 0)
        config.timeScale = 1.0;

    LabServer server(config);
    QString error;
    if (!server.start(&error)) {
        qCritical().noquote() << "tesmar-lab: cannot start:" << error;
        return 1;
    }
    qInfo().noquote() << "tesmar-lab: event socket on"
                      << config.listenAddress.toString() + QLatin1Char(':') + QString::number(server.port());
    if (server.sip())
        qInfo().noquote() << "tesmar-lab: SIP on"
                          << server.sip()->address().toString() + QLatin1Char(':') +
                                 QString::number(server.sip()->port())
                          << "(UDP and TCP)";

    LabControl control(&server);
    if (!parser.isSet(noControl)) {
        if (!control.listen(quint16(parser.value(controlPort).toUInt()), &error)) {
            qCritical().noquote() << "tesmar-lab: cannot open the control port:" << error;
            return 1;
        }
        qInfo() << "tesmar-lab: control port on 127.0.0.1:" << control.port();
    }
    if (parser.isSet(script) && !control.runScript(parser.value(script), &error)) {
        qCritical().noquote() << "tesmar-lab:" << error;
        return 1;
    }
    return app.exec();
}
