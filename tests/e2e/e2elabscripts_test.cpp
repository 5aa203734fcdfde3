// scripts/lab-up and scripts/lab-down on a lab of their own (own state folder, no standard
// ports) beside the one the other end-to-end tests use: it comes up quickly with every
// value in its env file, a second lab-up changes nothing, and lab-down leaves no process and
// no listening port behind.

#include "tests/support/labenv.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {

int run(const QString &name, const QStringList &args, QString *output)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TESMAR_LAB_BIN", qEnvironmentVariable("TESMAR_BINARY_DIR") + "/lab/tesmar-lab");
    p.setProcessEnvironment(env);
    p.start("bash", QStringList{qEnvironmentVariable("TESMAR_SOURCE_DIR") + "/scripts/" + name} + args);
    if (!p.waitForFinished(90000))
        p.kill();
    p.waitForFinished();
    *output = QString::fromUtf8(p.readAll());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// Program name -> pids of the processes whose command line names the state folder.
QMap<QString, QList<int>> processesOf(const QString &state)
{
    QMap<QString, QList<int>> out;
    for (const QString &pid : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile f("/proc/" + pid + "/cmdline");
        const QByteArray cmdline = pid.toInt() != getpid() && f.open(QIODevice::ReadOnly) ? f.readAll() : "";
        // sshd shows itself as "sshd: /usr/sbin/sshd -f ... [listener] ...".
        if (cmdline.contains(state.toUtf8()))
            out[QString::fromUtf8(cmdline)
                    .section(' ', 0, 0)
                    .section('\0', 0, 0)
                    .section('/', -1)
                    .remove(':')]
                .append(pid.toInt());
    }
    return out;
}

bool accepts(quint16 port)
{
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, port);
    return s.waitForConnected(2000);
}

} // namespace

class E2eLabScriptsTest : public QObject
{
    Q_OBJECT
private slots:
    void upTwiceThenDownLeavesNothing();
};

void E2eLabScriptsTest::upTwiceThenDownLeavesNothing()
{
    QTemporaryDir dir;
    const QString state = dir.filePath("state");
    const QStringList up = {"--state", state, "--free-ports", "--sample"};
    QString output;
    struct Down // a failing check must not leave this lab running
    {
        QString state;
        ~Down()
        {
            QString ignored;
            run("lab-down", {"--state", state}, &ignored);
        }
    } down{state};

    QElapsedTimer clock;
    clock.start();
    QCOMPARE(run("lab-up", up, &output), 0);
    qInfo("lab-up with a fresh state folder took %lld ms", clock.elapsed());
    QVERIFY2(clock.elapsed() < 15000, qPrintable(output));

    LabEnv env;
    QString error;
    QVERIFY2(env.load(state + "/env", &error), qPrintable(error));
    const bool root = geteuid() == 0;
    QSet<quint16> ports;
    for (const char *key :
         {"LAB_ESL_PORT", "LAB_CONTROL_PORT", "LAB_DB_PORT", "LAB_SSH_PORT", "LAB_SIP_PORT"}) {
        // SIP comes with a lab that serves it; SSH needs root.
        const bool optional =
            key == QByteArray("LAB_SIP_PORT") || (!root && key == QByteArray("LAB_SSH_PORT"));
        QVERIFY2(env.contains(key), key);
        if (optional && env.value(key).isEmpty())
            continue;
        const quint16 port = env.port(key);
        QVERIFY2(port >= 1024 && port != 8021 && port != 8022 && port != 3306 && port != 5060 &&
                     !ports.contains(port),
                 key);
        ports.insert(port);
        QVERIFY2(key == QByteArray("LAB_SIP_PORT") || accepts(port), key);
    }
    QVERIFY(ports.size() >= (root ? 4 : 3));
    QVERIFY(QFileInfo(env.value("LAB_DB_SOCKET")).exists());
    QVERIFY(output.contains(env.value("LAB_DISPATCHER_PASSWORD")) &&
            output.contains(env.value("LAB_DB_PORT")));
    // One of each; sshd's children for the probes above take a moment to go.
    QMap<QString, QList<int>> first;
    const auto oneEach = [&] {
        first = processesOf(state);
        return std::all_of(first.begin(), first.end(),
                           [](const QList<int> &pids) { return pids.size() == 1; });
    };
    QTRY_VERIFY_WITH_TIMEOUT(oneEach(), 15000);
    QCOMPARE(first.keys(), root ? QStringList({"mariadbd", "sshd", "tesmar-lab"})
                                : QStringList({"mariadbd", "tesmar-lab"}));

    // Again: the same processes on the same ports.
    QCOMPARE(run("lab-up", up, &output), 0);
    LabEnv again;
    QVERIFY2(again.load(state + "/env", &error), qPrintable(error));
    for (const char *key : {"LAB_ESL_PORT", "LAB_CONTROL_PORT", "LAB_DB_PORT", "LAB_SSH_PORT"})
        QCOMPARE(again.value(key), env.value(key));
    QCOMPARE(processesOf(state), first);

    QCOMPARE(run("lab-down", {"--state", state}, &output), 0);
    QVERIFY2(processesOf(state).isEmpty(), qPrintable(output));
    for (const quint16 port : ports)
        QVERIFY2(!accepts(port), qPrintable(QString::number(port)));
    QVERIFY(!QFileInfo::exists(state + "/env"));
    QCOMPARE(run("lab-down", {"--state", state}, &output), 0);
}

QTEST_GUILESS_MAIN(E2eLabScriptsTest)
#include "e2elabscripts_test.moc"
