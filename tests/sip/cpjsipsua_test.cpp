#include "app/logfile.h"
#include "app/xmlconfig.h"
#include "sip/cpjsipsua.h"
#include "sip/defaultinterface.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

#include <sys/socket.h>
#include <unistd.h>

namespace {

// A port free for UDP and TCP, with the next one free for TCP too (TLS).
int freeSipPort()
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        QUdpSocket udp;
        if (!udp.bind(QHostAddress(QHostAddress::AnyIPv4), 0))
            continue;
        const int port = udp.localPort();
        if (port >= 65534)
            continue;
        QTcpServer tcp;
        QTcpServer tls;
        if (tcp.listen(QHostAddress::AnyIPv4, port) && tls.listen(QHostAddress::AnyIPv4, port + 1))
            return port;
    }
    return -1;
}

QString sippPath()
{
    return QStandardPaths::findExecutable(QStringLiteral("sipp"));
}

// One sipp run on loopback, answering or calling once.
void startSipp(QProcess &sipp, const char *scenarioName, QStringList extra)
{
    extra << QStringLiteral("-sf") << QStringLiteral(SIP_SCENARIO_DIR "/") + QLatin1String(scenarioName)
          << QStringLiteral("-i") << QStringLiteral("127.0.0.1") << QStringLiteral("-m")
          << QStringLiteral("1") << QStringLiteral("-nostdin") << QStringLiteral("-timeout")
          << QStringLiteral("30s");
    sipp.setProcessChannelMode(QProcess::MergedChannels);
    sipp.start(sippPath(), extra);
}

bool runQuiet(const QString &program, const QStringList &arguments, QByteArray *output = nullptr)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(10000))
        return false;
    if (output)
        *output = process.readAllStandardOutput();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// The test's own event processing may already have reaped the process.
bool sippEnded(QProcess &sipp)
{
    return sipp.state() == QProcess::NotRunning || sipp.waitForFinished(15000);
}

} // namespace

class CPJSIPSUATest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void configurationRules();
    void startStopAndPorts();
    void occupiedPortsFailInit();
    void accountAddressesAndReplacement();
    void parseUriSchemes();
    void digestRegistrationAccepted();
    void digestRegistrationForbidden();
    void unreachableRegistrarIsOnlyLogged();
    void incomingCallRunsMediaWithLevels();
    void mandatorySrtpRefusesPlainAudio();
    void soundDevicesAndSoundTest();
    void libraryLogLinesReachDebugLog();

private:
    bool ensurePulseAudio(QString &why);

    QTemporaryDir m_dir;
    QString m_oldCwd;
    XMLConfig m_defaults;
};

void CPJSIPSUATest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // Log files go under "logs" of the working directory.
    m_oldCwd = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dir.path()));
    CPJSIPSUA::startupLibrary();
    CPJSIPSUA::instance().setDataDirectory(m_dir.filePath(QStringLiteral("sipdata")));
}

void CPJSIPSUATest::init()
{
    // Every case starts from the shipped defaults.
    XMLConfig::instance() = m_defaults;
    speakerLevel = 100;
    microphoneLevel = 100;
}

void CPJSIPSUATest::cleanup()
{
    CPJSIPSUA::instance().Deinit();
    CPJSIPSUA::instance().setRegistrarPort(0);
}

void CPJSIPSUATest::cleanupTestCase()
{
    // Process end with the agent still running, as after a crash-free exit
    // that skipped the login cycle's tear-down.
    QVERIFY(CPJSIPSUA::instance().Init());
    CPJSIPSUA::shutdownLibrary();
    QVERIFY(!CPJSIPSUA::instance().isInitialised());
    QDir::setCurrent(m_oldCwd);
}

void CPJSIPSUATest::configurationRules()
{
    // Out-of-range SIP ports fall back to the standard port; 0 means "any".
    QCOMPARE(CPJSIPSUA::sipPortFor(70000), 5060);
    QCOMPARE(CPJSIPSUA::sipPortFor(-5), 5060);
    QCOMPARE(CPJSIPSUA::sipPortFor(65535), 5060);
    QCOMPARE(CPJSIPSUA::sipPortFor(0), 0);
    QCOMPARE(CPJSIPSUA::sipPortFor(1), 1);
    QCOMPARE(CPJSIPSUA::sipPortFor(65534), 65534);

    // The RTP port must stay clear of the SIP port and leave room above it.
    QVERIFY(CPJSIPSUA::mediaPortApplies(4000, 5060));
    QVERIFY(CPJSIPSUA::mediaPortApplies(65525, 5060));
    QVERIFY(!CPJSIPSUA::mediaPortApplies(5060, 5060));
    QVERIFY(!CPJSIPSUA::mediaPortApplies(0, 5060));
    QVERIFY(!CPJSIPSUA::mediaPortApplies(65526, 5060));

    // Levels cannot be set before the agent runs.
    CPJSIPSUA &ua = CPJSIPSUA::instance();
    QVERIFY(!ua.isInitialised());
    QVERIFY(!ua.setSpeakerLevel(50));
    QCOMPARE(speakerLevel, 100);
    QVERIFY(!ua.Deinit());
}

void CPJSIPSUATest::startStopAndPorts()
{
    CPJSIPSUA &ua = CPJSIPSUA::instance();

    // Library's choice: TCP and TLS follow the UDP port it picked.
    QVERIFY2(ua.Init(), qPrintable(ua.initError()));
    const int udp = ua.transportPort(CPJSIPSUA::Transport::Udp);
    QVERIFY(udp > 0);
    QCOMPARE(ua.transportPort(CPJSIPSUA::Transport::Tcp), udp);
    QVERIFY(ua.Init());
    QCOMPARE(ua.transportPort(CPJSIPSUA::Transport::Udp), udp);
    QVERIFY(ua.Deinit());
    QVERIFY(!ua.isInitialised());
    QVERIFY(!ua.Deinit());
    QCOMPARE(ua.transportPort(CPJSIPSUA::Transport::Udp), -1);

    // A configured port is used for UDP and TCP, the next one for TLS.
    const int port = freeSipPort();
    QVERIFY(port > 0);
    XMLConfig::instance().sipPort = port;
    QVERIFY2(ua.Init(), qPrintable(ua.initError()));
    QCOMPARE(ua.transportPort(CPJSIPSUA::Transport::Udp), port);
    QCOMPARE(ua.transportPort(CPJSIPSUA::Transport::Tcp), port);
    const int tls = ua.transportPort(CPJSIPSUA::Transport::Tls);
    QVERIFY2(tls == port + 1 || tls == 0, qPrintable(QString::number(tls)));
    QUdpSocket probe;
    QVERIFY2(!probe.bind(QHostAddress(QHostAddress::AnyIPv4), port), "the UDP listener is not really bound");
    QVERIFY(ua.Deinit());
    QVERIFY2(probe.bind(QHostAddress(QHostAddress::AnyIPv4), port), "Deinit left the UDP listener open");
    probe.close();

    // A configured address is the only one listened on.
    XMLConfig::instance().bindAddressAuto = false;
    XMLConfig::instance().bindAddress = QStringLiteral("127.0.0.1");
    QVERIFY2(ua.Init(), qPrintable(ua.initError()));
    QVERIFY(!probe.bind(QHostAddress(QHostAddress::LocalHost), port));
    QByteArray external;
    if (DefaultInterface::localAddress(AF_INET, external))
        QVERIFY2(probe.bind(QHostAddress(QString::fromLatin1(external)), port), "listening beyond loopback");
    probe.close();
    QVERIFY(ua.Deinit());

    // With an external phone the core runs without any listener.
    XMLConfig::instance().externalUA = true;
    QVERIFY2(ua.Init(), qPrintable(ua.initError()));
    QVERIFY(ua.transportPort(CPJSIPSUA::Transport::Udp) <= 0);
    QVERIFY(ua.transportPort(CPJSIPSUA::Transport::Tcp) <= 0);
    QVERIFY(ua.setSpeakerLevel(30));
    QCOMPARE(speakerLevel, 30);
}

void CPJSIPSUATest::occupiedPortsFailInit()
{
    CPJSIPSUA &ua = CPJSIPSUA::instance();
    const int port = freeSipPort();
    QVERIFY(port > 0);
    XMLConfig::instance().sipPort = port;

    {
        QUdpSocket taken;
        QVERIFY(taken.bind(QHostAddress(QHostAddress::AnyIPv4), port));
        QVERIFY(!ua.Init());
        QVERIFY(!ua.isInitialised());
        QVERIFY2(ua.initError().startsWith(QLatin1String("Error creating SIP UDP listener:")),
                 qPrintable(ua.initError()));
        QVERIFY2(ua.initError().endsWith(QLatin1Char(']')) &&
                     ua.initError().contains(QLatin1String("[status:")),
                 qPrintable(ua.initError()));
    }
    {
        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress::AnyIPv4, port));
        QVERIFY(!ua.Init());
        QVERIFY2(ua.initError().startsWith(QLatin1String("Error creating SIP TCP listener:")),
                 qPrintable(ua.initError()));
    }
    // An address this host does not have names the cause, not a busy port.
    XMLConfig::instance().bindAddressAuto = false;
    XMLConfig::instance().bindAddress = QStringLiteral("203.0.113.9");
    QVERIFY(!ua.Init());
    QVERIFY2(ua.initError().startsWith(QLatin1String("Error creating SIP UDP listener:")),
             qPrintable(ua.initError()));
    QVERIFY2(ua.initError().endsWith(QStringLiteral("[status:%1]").arg(EADDRNOTAVAIL)),
             qPrintable(ua.initError()));
    XMLConfig::instance().bindAddressAuto = true;

    // Once the port is free again the agent starts, and the old text does
    // not matter any more.
    QVERIFY2(ua.Init(), qPrintable(ua.initError()));
    QCOMPARE(ua.transportPort(CPJSIPSUA::Transport::Udp), port);
}

void CPJSIPSUATest::accountAddressesAndReplacement()
{
    CPJSIPSUA &ua = CPJSIPSUA::instance();
    XMLConfig &config = XMLConfig::instance();

    // Without a running agent nothing is registered.
    QVERIFY(!ua.addAccount("dispatcher@198.51.100.7", "pw"));
    QVERIFY(ua.accountError().startsWith(QLatin1String("Error creating PJSUA account:")));
    QVERIFY(!ua.hasAccount());

    QVERIFY2(ua.Init(), qPrintable(ua.initError()));
    const int defaultAudioPort = ua.audioPort();
    QVERIFY(!ua.addAccount(QByteArray(), "pw"));
    QVERIFY(!ua.hasAccount());

    // 198.51.100.7 is a documentation address: nothing answers there.
    config.sipTransport = XMLConfig::TransportTls;
    config.sipClientReregistration = 900;
    config.mediaPort = freeSipPort();
    QVERIFY(ua.addAccount("sip:U@198.51.100.7:5080", "pw"));
    QCOMPARE(ua.accountId(), QByteArray("sip:U@198.51.100.7"));
    QCOMPARE(ua.registrarUri(), QByteArray("sips:198.51.100.7;transport=tls"));
    QCOMPARE(ua.registrationTimeout(), 900);
    QCOMPARE(ua.audioPort(), config.mediaPort);
    QVERIFY(!ua.accountError().isEmpty());

    // Same address again (a settings save): one account, not two.
    config.sipTransport = 5;
    config.mediaPort = config.sipPort;
    QVERIFY(ua.addAccount("U@198.51.100.7", "pw2"));
    QCOMPARE(ua.registrarUri(), QByteArray("sip:198.51.100.7"));
    QCOMPARE(ua.accountCount(), 1);
    // Another address is a second account; the newest is the one we manage.
    QVERIFY(ua.addAccount("V@198.51.100.7", "pw"));
    QCOMPARE(ua.accountCount(), 2);
    QVERIFY(ua.addAccount("U@198.51.100.7", "pw2"));
    QCOMPARE(ua.accountCount(), 2);
    QCOMPARE(ua.accountId(), QByteArray("sip:U@198.51.100.7"));

    config.sipTransport = XMLConfig::TransportTcp;
    ua.updateTransportType();
    QCOMPARE(ua.registrarUri(), QByteArray("sip:198.51.100.7;transport=tcp"));
    QCOMPARE(ua.accountId(), QByteArray("sip:U@198.51.100.7"));
    config.sipTransport = XMLConfig::TransportUdp;
    ua.updateTransportType();
    QCOMPARE(ua.registrarUri(), QByteArray("sip:198.51.100.7;transport=udp"));

    QVERIFY(!ua.setRegistrationTimeout(0));
    QVERIFY(ua.setRegistrationTimeout(120));
    QCOMPARE(ua.registrationTimeout(), 120);

    // A telephone URI is no SIP account.
    QVERIFY(!ua.addAccount("tel:+74951234567", "pw"));
    QVERIFY(ua.hasAccount());

    // Deinit drops the account; the next start begins without one.
    QVERIFY(ua.Deinit());
    QVERIFY(!ua.hasAccount());
    QVERIFY(ua.accountId().isEmpty());
    config.mediaPort = 0;
    QVERIFY(ua.Init());
    QVERIFY(!ua.hasAccount());
    QCOMPARE(ua.accountCount(), 0);
    QCOMPARE(ua.audioPort(), defaultAudioPort);
}

void CPJSIPSUATest::parseUriSchemes()
{
    CPJSIPSUA &ua = CPJSIPSUA::instance();
    QString user = QStringLiteral("keep"), host = QStringLiteral("keep");
    int port = -7;

    QVERIFY(ua.parseUri(QStringLiteral("sip:alice@pbx.example.org:5070"), user, host, port));
    QCOMPARE(user, QStringLiteral("alice"));
    QCOMPARE(host, QStringLiteral("pbx.example.org"));
    QCOMPARE(port, 5070);

    QVERIFY(ua.parseUri(QStringLiteral("operator1@10.1.2.3"), user, host, port));
    QCOMPARE(user, QStringLiteral("operator1"));
    QCOMPARE(host, QStringLiteral("10.1.2.3"));
    QCOMPARE(port, 0);

    QVERIFY(ua.parseUri(QStringLiteral("sips:bob@secure.example.org"), user, host, port));
    QCOMPARE(user, QStringLiteral("bob"));

    user = host = QStringLiteral("keep");
    port = -7;
    QVERIFY(!ua.parseUri(QStringLiteral("tel:+74951234567"), user, host, port));
    QVERIFY(!ua.parseUri(QString(), user, host, port));
    QCOMPARE(user, QStringLiteral("keep"));
    QCOMPARE(host, QStringLiteral("keep"));
    QCOMPARE(port, -7);
}

void CPJSIPSUATest::digestRegistrationAccepted()
{
    if (sippPath().isEmpty())
        QSKIP("sipp (package sip-tester) is not installed");
    CPJSIPSUA &ua = CPJSIPSUA::instance();
    QVERIFY2(ua.Init(), qPrintable(ua.initError()));
    QSignalSpy ok(&ua, &CPJSIPSUA::registrationOK);
    QSignalSpy refused(&ua, &CPJSIPSUA::registrationError);

    const int registrarPort = freeSipPort();
    QProcess sipp;
    startSipp(sipp, "registrar_digest.xml",
              {"-p", QString::number(registrarPort), "-set", "password", "s3cret"});
    QVERIFY(sipp.waitForStarted());
    QTest::qWait(300);

    // A port in the login URI is not used for the registrar; the rig's port is.
    ua.setRegistrarPort(registrarPort);
    QVERIFY(ua.addAccount("dispatcher@127.0.0.1:1", "s3cret"));
    QCOMPARE(ua.registrarUri(), "sip:127.0.0.1:" + QByteArray::number(registrarPort) + ";transport=udp");
    QTRY_COMPARE_WITH_TIMEOUT(ok.count(), 1, 15000);
    QVERIFY(sippEnded(sipp));
    QVERIFY2(sipp.exitCode() == 0, sipp.readAll().constData());
    QTest::qWait(200);
    QCOMPARE(refused.count(), 0);
    QCOMPARE(ok.count(), 1);
}

void CPJSIPSUATest::digestRegistrationForbidden()
{
    if (sippPath().isEmpty())
        QSKIP("sipp (package sip-tester) is not installed");
    CPJSIPSUA &ua = CPJSIPSUA::instance();
    QVERIFY2(ua.Init(), qPrintable(ua.initError()));
    QSignalSpy ok(&ua, &CPJSIPSUA::registrationOK);
    QSignalSpy refused(&ua, &CPJSIPSUA::registrationError);

    const int registrarPort = freeSipPort();
    QProcess sipp;
    startSipp(sipp, "registrar_digest.xml",
              {"-p", QString::number(registrarPort), "-set", "password", "s3cret"});
    QVERIFY(sipp.waitForStarted());
    QTest::qWait(300);

    ua.setRegistrarPort(registrarPort);
    QVERIFY(ua.addAccount("dispatcher@127.0.0.1", "wrong"));
    QTRY_COMPARE_WITH_TIMEOUT(refused.count(), 1, 15000);
    QCOMPARE(refused.at(0).at(0).toString(), QStringLiteral("403 Forbidden"));
    QVERIFY(sippEnded(sipp));
    QCOMPARE(ok.count(), 0);
}

void CPJSIPSUATest::unreachableRegistrarIsOnlyLogged()
{
    CPJSIPSUA &ua = CPJSIPSUA::instance();
    QVERIFY2(ua.Init(), qPrintable(ua.initError()));
    QSignalSpy ok(&ua, &CPJSIPSUA::registrationOK);
    QSignalSpy refused(&ua, &CPJSIPSUA::registrationError);

    // Nobody listens on this TCP port: the connection is refused locally,
    // which is no answer of a server and must not reach the operator.
    XMLConfig::instance().sipTransport = XMLConfig::TransportTcp;
    ua.setRegistrarPort(freeSipPort());
    QFile log(LogFile::debugLog().filePath());
    QVERIFY(log.open(QIODevice::ReadOnly));
    log.seek(log.size());
    QVERIFY(ua.addAccount("dispatcher@127.0.0.1", "pw"));

    QByteArray seen;
    QTRY_VERIFY_WITH_TIMEOUT(
        (seen += log.readAll()).contains("CPJSIPSUA::on_reg_state2(): SIP registration error:"), 15000);
    QCOMPARE(refused.count(), 0);
    QCOMPARE(ok.count(), 0);
}

void CPJSIPSUATest::incomingCallRunsMediaWithLevels()
{
    if (sippPath().isEmpty())
        QSKIP("sipp (package sip-tester) is not installed");
    CPJSIPSUA &ua = CPJSIPSUA::instance();
    // Optional SRTP must still take the server's plain RTP offer.
    XMLConfig::instance().srtpMode = XMLConfig::SrtpOptional;
    QVERIFY2(ua.Init(), qPrintable(ua.initError()));
    const int agentPort = ua.transportPort(CPJSIPSUA::Transport::Udp);
    QVERIFY(agentPort > 0);

    // Levels chosen before the call must reach it when its media starts.
    QVERIFY(ua.setSpeakerLevel(40));
    QVERIFY(ua.setMicrophoneLevel(0));
    QVERIFY(!ua.setSpeakerLevel(101));
    QCOMPARE(speakerLevel, 40);
    QCOMPARE(currentCallSlot, -1);
    QCOMPARE(ua.activeSpeakerGain(), -1.0f);

    QProcess sipp;
    startSipp(sipp, "uac_call.xml",
              {QStringLiteral("127.0.0.1:%1").arg(agentPort), "-p", QString::number(freeSipPort()), "-mp",
               QString::number(freeSipPort()), "-s", "dispatcher", "-d", "3000"});
    QVERIFY(sipp.waitForStarted());

    QTRY_VERIFY_WITH_TIMEOUT(currentCallSlot != -1, 10000);
    const int handle = currentCallSlot;
    QVERIFY(qAbs(ua.activeSpeakerGain() - 0.4f) < 0.01f);
    QCOMPARE(ua.activeMicrophoneGain(), 0.0f);

    // Changes apply to the running call at once; a refused one changes nothing.
    QVERIFY(ua.setMicrophoneLevel(100));
    QVERIFY(qAbs(ua.activeMicrophoneGain() - 1.0f) < 0.01f);
    QVERIFY(!ua.setMicrophoneLevel(101));
    QCOMPARE(microphoneLevel, 100);
    QVERIFY(ua.setSpeakerLevel(0));
    QCOMPARE(ua.activeSpeakerGain(), 0.0f);
    QCOMPARE(currentCallSlot, handle);

    // The server hangs up.
    QTRY_COMPARE_WITH_TIMEOUT(currentCallSlot, -1, 15000);
    QVERIFY(sippEnded(sipp));
    QVERIFY2(sipp.exitCode() == 0, sipp.readAll().constData());
    QCOMPARE(ua.activeSpeakerGain(), -1.0f);
}

void CPJSIPSUATest::mandatorySrtpRefusesPlainAudio()
{
    if (sippPath().isEmpty())
        QSKIP("sipp (package sip-tester) is not installed");
    CPJSIPSUA &ua = CPJSIPSUA::instance();
    XMLConfig::instance().srtpMode = XMLConfig::SrtpMandatory;
    QVERIFY2(ua.Init(), qPrintable(ua.initError()));

    QProcess sipp;
    startSipp(sipp, "uac_call.xml",
              {QStringLiteral("127.0.0.1:%1").arg(ua.transportPort(CPJSIPSUA::Transport::Udp)), "-p",
               QString::number(freeSipPort()), "-mp", QString::number(freeSipPort()), "-s", "dispatcher"});
    QVERIFY(sipp.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(sipp.state() == QProcess::NotRunning, 15000);
    QVERIFY2(sipp.exitCode() != 0, "an unencrypted call was answered");
    QCOMPARE(currentCallSlot, -1);
}

bool CPJSIPSUATest::ensurePulseAudio(QString &why)
{
    if (QStandardPaths::findExecutable(QStringLiteral("pactl")).isEmpty()) {
        why = QStringLiteral("pactl is not installed");
        return false;
    }
    if (runQuiet(QStringLiteral("pactl"), {QStringLiteral("info")}))
        return true;
    QProcess::execute(QStringLiteral("pulseaudio"),
                      {QStringLiteral("-D"), QStringLiteral("--exit-idle-time=-1")});
    for (int i = 0; i < 20; ++i) {
        if (runQuiet(QStringLiteral("pactl"), {QStringLiteral("info")}))
            return true;
        QTest::qWait(250);
    }
    why = QStringLiteral("no PulseAudio server could be reached or started");
    return false;
}

void CPJSIPSUATest::soundDevicesAndSoundTest()
{
    QString why;
    if (!ensurePulseAudio(why))
        QSKIP(qPrintable(QStringLiteral("sound device cases need PulseAudio: ") + why));

    // Devices of our own, with a name no parallel run shares, so the case
    // does not depend on the machine's cards.
    const QString sinkName = QStringLiteral("tesmar_sip_test_%1").arg(::getpid());
    // A null sink to play into and a null source to capture from.
    QList<QByteArray> modules;
    auto unload = qScopeGuard([&modules]() {
        for (const QByteArray &id : modules)
            runQuiet(QStringLiteral("pactl"), {QStringLiteral("unload-module"), QString::fromLatin1(id)});
    });
    // The two modules name their description differently.
    const QList<QStringList> loads{
        {"load-module", "module-null-sink", "sink_name=" + sinkName,
         "sink_properties=device.description=" + sinkName},
        {"load-module", "module-null-source", "source_name=" + sinkName, "description=" + sinkName + "_in"}};
    for (const QStringList &load : loads) {
        QByteArray id;
        QVERIFY(runQuiet(QStringLiteral("pactl"), load, &id));
        modules << id.trimmed();
    }

    CPJSIPSUA &ua = CPJSIPSUA::instance();
    QVERIFY2(ua.Init(), qPrintable(ua.initError()));

    QList<QByteArray> outputs{"stale"};
    QVERIFY(ua.outputDevices(outputs));
    QVERIFY(!outputs.contains("stale"));
    QByteArray nullSink;
    for (const QByteArray &name : outputs)
        if (name.endsWith(sinkName.toLatin1()))
            nullSink = name;
    QVERIFY2(!nullSink.isEmpty(), outputs.join(", ").constData());

    QList<QByteArray> inputs;
    ua.inputDevices(inputs);
    QVERIFY2(!inputs.contains(nullSink), "a playback-only device is listed for capture");
    QByteArray nullSource;
    for (const QByteArray &name : inputs)
        if (name.contains(sinkName.toLatin1() + "_in"))
            nullSource = name;
    QVERIFY2(!nullSource.isEmpty(), inputs.join(", ").constData());
    QVERIFY(ua.setInputDevice(nullSource));
    QCOMPARE(ua.currentInputDeviceName(), nullSource);
    QVERIFY(!ua.setOutputDevice(nullSource));
    QVERIFY(ua.setInputDevice(QByteArray()));
    QCOMPARE(ua.currentInputDeviceName(), ua.defaultInputDeviceName());

    const QByteArray defaultOutput = ua.defaultOutputDeviceName();
    QVERIFY(!defaultOutput.isEmpty());
    QVERIFY(outputs.contains(defaultOutput));

    QVERIFY(ua.setOutputDevice(nullSink));
    QCOMPARE(ua.currentOutputDeviceName(), nullSink);
    QVERIFY(!ua.setOutputDevice("no such device"));
    QCOMPARE(ua.currentOutputDeviceName(), nullSink);
    QVERIFY(!ua.setInputDevice(nullSink));
    QVERIFY(ua.setOutputDevice(QByteArray()));
    QCOMPARE(ua.currentOutputDeviceName(), defaultOutput);
    QCOMPARE(ua.defaultOutputDeviceName(), defaultOutput);

    // The sound test must play into the chosen sink, and stop on request.
    ua.startSoundTest(nullSink);
    QVERIFY(ua.soundTestRunning());
    auto playingStreams = [&sinkName]() {
        QByteArray sinks, inputsList;
        runQuiet(QStringLiteral("pactl"),
                 {QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sinks")}, &sinks);
        runQuiet(QStringLiteral("pactl"),
                 {QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sink-inputs")},
                 &inputsList);
        QByteArray index;
        for (const QByteArray &line : sinks.split('\n'))
            if (line.contains(sinkName.toLatin1()))
                index = line.split('\t').value(0);
        int count = 0;
        for (const QByteArray &line : inputsList.split('\n'))
            if (!index.isEmpty() && line.split('\t').value(1) == index)
                ++count;
        return count;
    };
    QTRY_COMPARE_WITH_TIMEOUT(playingStreams(), 1, 5000);
    // Longer than the 5.4 s sound: it loops instead of ending.
    QTest::qWait(6500);
    QVERIFY(ua.soundTestRunning());
    QCOMPARE(playingStreams(), 1);
    ua.stopSoundTest();
    QVERIFY(!ua.soundTestRunning());
    QTRY_COMPARE_WITH_TIMEOUT(playingStreams(), 0, 5000);

    // A restart keeps the configured device.
    XMLConfig::instance().outputDeviceName = QString::fromLatin1(nullSink);
    QVERIFY(ua.Deinit());
    QVERIFY(ua.Init());
    QCOMPARE(ua.currentOutputDeviceName(), nullSink);

    // An unknown device plays nothing.
    ua.startSoundTest("no such device");
    QVERIFY(!ua.soundTestRunning());
}

void CPJSIPSUATest::libraryLogLinesReachDebugLog()
{
    const QByteArray line = "belle-sip Registration refused\n";
    CPJSIPSUA::libraryLogWriter(LinphoneLogLevelError, line.constData(), line.size());
    const QByteArray cut = "mediastreamer Card list ready\0garbage";
    CPJSIPSUA::libraryLogWriter(LinphoneLogLevelMessage, cut.constData(), 37);

    QFile log(LogFile::debugLog().filePath());
    QVERIFY2(log.open(QIODevice::ReadOnly), qPrintable(log.fileName()));
    const QList<QByteArray> lines = log.readAll().split('\n');
    int refused = -1, ready = -1;
    for (int i = 0; i < lines.size(); ++i) {
        if (lines.at(i).endsWith("[ERROR  ] belle-sip Registration refused"))
            refused = i;
        if (lines.at(i).endsWith("[INFO   ] mediastreamer Card list ready"))
            ready = i;
    }
    QVERIFY2(refused >= 0, "error line missing or not mapped to ERROR");
    QVERIFY2(ready >= 0, "message line missing, not cut at the zero byte or not mapped to INFO");
    // The trailing line feed is dropped: no empty line follows.
    QVERIFY(lines.value(refused + 1).size() > 0);
}

QTEST_GUILESS_MAIN(CPJSIPSUATest)
#include "cpjsipsua_test.moc"
