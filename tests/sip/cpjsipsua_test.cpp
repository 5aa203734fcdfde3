#include "app/logfile.h"
#include "app/xmlconfig.h"
#include "sip/cpjsipsua.h"
#include "sip/defaultinterface.h"
#include "tests/sip/siprig.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

#include <sys/socket.h>
#include <unistd.h>

using namespace SipRig;

namespace {

// sipp calls the agent once; its audio goes to a port nobody reads.
bool callAgent(QProcess &sipp, QStringList extra = {})
{
    return SipRig::callAgent(sipp, CPJSIPSUA::instance().transportPort(CPJSIPSUA::Transport::Udp),
                             freeSipPort(), extra);
}

} // namespace

class CPJSIPSUATest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    XMLConfig m_defaults;
    CPJSIPSUA &ua = CPJSIPSUA::instance();
    XMLConfig &config = XMLConfig::instance();

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        // Log files go under "logs" of the working directory.
        QVERIFY(QDir::setCurrent(m_dir.path()));
        CPJSIPSUA::startupLibrary();
        ua.setDataDirectory(m_dir.filePath(QStringLiteral("sipdata")));
    }

    void init()
    {
        // Every case starts from the shipped defaults.
        config = m_defaults;
        speakerLevel = microphoneLevel = 100;
    }

    void cleanup()
    {
        ua.Deinit();
        ua.setRegistrarPort(0);
    }

    void cleanupTestCase()
    {
        // Process end with the agent still running, as after a crash-free exit
        // that skipped the login cycle's tear-down.
        QVERIFY(ua.Init());
        CPJSIPSUA::shutdownLibrary();
        QVERIFY(!ua.isInitialised());
    }

    void configurationRules()
    {
        // Out-of-range SIP ports fall back to the standard port; 0 means "any".
        const int sipPorts[][2] = {{70000, 5060}, {-5, 5060}, {65535, 5060}, {0, 0}, {1, 1}, {65534, 65534}};
        for (const auto &p : sipPorts)
            QCOMPARE(CPJSIPSUA::sipPortFor(p[0]), p[1]);
        // The RTP port must stay clear of the SIP port (5060) and leave room above it.
        const int mediaPorts[][2] = {{4000, 1}, {65525, 1}, {5060, 0}, {0, 0}, {65526, 0}};
        for (const auto &p : mediaPorts)
            QCOMPARE(CPJSIPSUA::mediaPortApplies(p[0], 5060), p[1] == 1);

        // The login URI: a secure scheme is taken, a telephone URI refused untouched.
        QString user, host = QStringLiteral("keep");
        int port = -7;
        QVERIFY(ua.parseUri(QStringLiteral("sips:bob@secure.example.org:5070"), user, host, port));
        QVERIFY(user == QLatin1String("bob") && host == QLatin1String("secure.example.org") && port == 5070);
        QVERIFY(!ua.parseUri(QStringLiteral("tel:+74951234567"), user, host, port));
        QVERIFY(user == QLatin1String("bob") && port == 5070);

        // Levels cannot be set before the agent runs.
        QVERIFY(!ua.setSpeakerLevel(50));
        QCOMPARE(speakerLevel, 100);
    }

    void listenersAndPorts()
    {
        using T = CPJSIPSUA::Transport;
        // Library's choice: TCP and TLS follow the UDP port it picked.
        QVERIFY2(ua.Init(), qPrintable(ua.initError()));
        const int udp = ua.transportPort(T::Udp);
        QVERIFY(udp > 0);
        QCOMPARE(ua.transportPort(T::Tcp), udp);
        QVERIFY(ua.Deinit());
        QVERIFY(!ua.Deinit());

        // A configured port taken by another program fails the start, naming the listener.
        const int port = freeSipPort();
        config.sipPort = port;
        const auto failsWith = [this](const char *text) {
            return !ua.Init() && !ua.isInitialised() && ua.initError().startsWith(QLatin1String(text));
        };
        {
            QUdpSocket taken;
            QVERIFY(taken.bind(QHostAddress(QHostAddress::AnyIPv4), port));
            QVERIFY2(failsWith("Error creating SIP UDP listener:"), qPrintable(ua.initError()));
        }
        {
            QTcpServer taken;
            QVERIFY(taken.listen(QHostAddress::AnyIPv4, port));
            QVERIFY2(failsWith("Error creating SIP TCP listener:"), qPrintable(ua.initError()));
        }

        // Once free, the port is used for UDP and TCP, the next one for TLS.
        QVERIFY2(ua.Init(), qPrintable(ua.initError()));
        QCOMPARE(ua.transportPort(T::Udp), port);
        QCOMPARE(ua.transportPort(T::Tcp), port);
        const int tls = ua.transportPort(T::Tls);
        QVERIFY2(tls == port + 1 || tls == 0, qPrintable(QString::number(tls)));
        QUdpSocket probe;
        QVERIFY2(!probe.bind(QHostAddress(QHostAddress::AnyIPv4), port),
                 "the UDP listener is not really bound");
        QVERIFY(ua.Deinit());
        QVERIFY2(probe.bind(QHostAddress(QHostAddress::AnyIPv4), port), "Deinit left the UDP listener open");
        probe.close();

        // An address this host does not have names the cause, not a busy port.
        config.bindAddressAuto = false;
        config.bindAddress = QStringLiteral("203.0.113.9");
        QVERIFY2(failsWith("Error creating SIP UDP listener:") &&
                     ua.initError().endsWith(QStringLiteral("[status:%1]").arg(EADDRNOTAVAIL)),
                 qPrintable(ua.initError()));
        // A configured address is the only one listened on.
        config.bindAddress = QStringLiteral("127.0.0.1");
        QVERIFY2(ua.Init(), qPrintable(ua.initError()));
        QVERIFY(!probe.bind(QHostAddress(QHostAddress::LocalHost), port));
        QByteArray external;
        if (DefaultInterface::localAddress(AF_INET, external))
            QVERIFY2(probe.bind(QHostAddress(QString::fromLatin1(external)), port),
                     "listening beyond loopback");
        probe.close();
        QVERIFY(ua.Deinit());

        // With an external phone the core runs without any listener.
        config.externalUA = true;
        QVERIFY2(ua.Init(), qPrintable(ua.initError()));
        QVERIFY(ua.transportPort(T::Udp) <= 0 && ua.transportPort(T::Tcp) <= 0);
    }

    void startReportedFromTheEventLoop()
    {
        QSignalSpy up(&ua, &CPJSIPSUA::initialised);
        QSignalSpy failed(&ua, &CPJSIPSUA::initFailed);
        QVERIFY2(ua.Init(), qPrintable(ua.initError()));
        // Not from inside Init: the login dialog carries on first.
        QCOMPARE(up.count(), 0);
        QVERIFY(!ua.isReady());
        // What the main window does next works before the core is reported up.
        QVERIFY(ua.setSpeakerLevel(60));
        QVERIFY(ua.addAccount("dispatcher@198.51.100.7", "pw"));
        QVERIFY(ua.setRegistrationTimeout(300));
        QTRY_COMPARE_WITH_TIMEOUT(up.count(), 1, 5000);
        QVERIFY(ua.isReady() && ua.registrationTimeout() == 300 && ua.accountCount() == 1);

        // Init on a running agent starts nothing and reports nothing.
        QVERIFY(ua.Init());
        QTest::qWait(100);
        QCOMPARE(up.count(), 1);

        // Stopped before it was reported: no late word about a core that is gone.
        QVERIFY(ua.Deinit());
        QVERIFY(ua.Init());
        QVERIFY(ua.Deinit());
        // A failure seen at once is returned, not signalled.
        QUdpSocket taken;
        QVERIFY(taken.bind(QHostAddress(QHostAddress::AnyIPv4), 0));
        config.sipPort = taken.localPort();
        QVERIFY(!ua.Init());
        QTest::qWait(100);
        QCOMPARE(up.count(), 1);
        QCOMPARE(failed.count(), 0);
    }

    // The library's databases belong inside the data folder, not beside it.
    void filesStayInTheDataFolder()
    {
        QTemporaryDir parent;
        const QString data = parent.filePath(QStringLiteral("sip"));
        ua.setDataDirectory(data);
        auto restore =
            qScopeGuard([this]() { ua.setDataDirectory(m_dir.filePath(QStringLiteral("sipdata"))); });
        QVERIFY2(ua.Init(), qPrintable(ua.initError()));
        QVERIFY(ua.addAccount("dispatcher@198.51.100.7", "pw"));
        QTest::qWait(200);
        QVERIFY(ua.Deinit());
        const auto all = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden;
        QCOMPARE(QDir(parent.path()).entryList(all), QStringList{QStringLiteral("sip")});
        const QStringList inside = QDir(data).entryList(all);
        QVERIFY2(inside.contains(QStringLiteral("linphone.db")), qPrintable(inside.join(QLatin1Char(' '))));
    }

    void accountAddressesAndReplacement()
    {
        // Without a running agent nothing is registered.
        QVERIFY(!ua.addAccount("dispatcher@198.51.100.7", "pw"));
        // The cause, not a made-up status number.
        QCOMPARE(ua.accountError(),
                 QStringLiteral("Error creating PJSUA account:the SIP user agent is not running"));
        QVERIFY(!ua.hasAccount());

        QVERIFY2(ua.Init(), qPrintable(ua.initError()));
        const int defaultAudioPort = ua.audioPort();
        // 198.51.100.7 is a documentation address: nothing answers there.
        config.sipTransport = XMLConfig::TransportTls;
        config.sipClientReregistration = 900;
        config.mediaPort = freeSipPort();
        QVERIFY(ua.addAccount("sip:U@198.51.100.7:5080", "pw"));
        QCOMPARE(ua.accountId(), QByteArray("sip:U@198.51.100.7"));
        QCOMPARE(ua.registrarUri(), QByteArray("sips:198.51.100.7;transport=tls"));
        QVERIFY(ua.registrationTimeout() == 900 && ua.audioPort() == config.mediaPort);

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
        QVERIFY(!ua.setRegistrationTimeout(0));

        // A telephone URI is no SIP account, and a refused one keeps the current.
        QVERIFY(!ua.addAccount("tel:+74951234567", "pw"));
        QVERIFY(ua.hasAccount());

        // Deinit drops the account; the next start begins without one.
        QVERIFY(ua.Deinit());
        QVERIFY(!ua.hasAccount());
        config.mediaPort = 0;
        QVERIFY(ua.Init());
        QCOMPARE(ua.accountCount(), 0);
        QCOMPARE(ua.audioPort(), defaultAudioPort);
    }

    void digestRegistration_data()
    {
        QTest::addColumn<QByteArray>("login");
        QTest::addColumn<QByteArray>("password");
        QTest::addColumn<QString>("refusal");
        // A port in the login URI is not used for the registrar; the rig's port is.
        QTest::newRow("401 then 200")
            << QByteArray("dispatcher@127.0.0.1:1") << QByteArray("s3cret") << QString();
        QTest::newRow("403") << QByteArray("dispatcher@127.0.0.1") << QByteArray("wrong")
                             << QStringLiteral("403 Forbidden");
        // The lowest refusal counts as one too.
        QTest::newRow("400") << QByteArray("dispatcher@127.0.0.1") << QByteArray("wrong")
                             << QStringLiteral("400 Bad Request");
    }

    void digestRegistration()
    {
        if (sippPath().isEmpty())
            QSKIP("sipp (package sip-tester) is not installed");
        QFETCH(QByteArray, login);
        QFETCH(QByteArray, password);
        QFETCH(QString, refusal);
        QVERIFY2(ua.Init(), qPrintable(ua.initError()));
        QSignalSpy ok(&ua, &CPJSIPSUA::registrationOK);
        QSignalSpy refused(&ua, &CPJSIPSUA::registrationError);

        const int registrarPort = freeSipPort();
        QProcess sipp;
        QVERIFY(startSipp(sipp, "registrar_digest.xml",
                          {"-p", QString::number(registrarPort), "-set", "password", "s3cret", "-set",
                           "refusal", refusal.left(3)}));
        QTest::qWait(300);
        ua.setRegistrarPort(registrarPort);
        QVERIFY(ua.addAccount(login, password));
        QCOMPARE(ua.registrarUri(), "sip:127.0.0.1:" + QByteArray::number(registrarPort) + ";transport=udp");
        QTRY_COMPARE_WITH_TIMEOUT(ok.count() + refused.count(), 1, 15000);
        QVERIFY(sippEnded(sipp));
        QVERIFY2(sipp.exitCode() == 0, sipp.readAll().constData());
        // Exactly one outcome, and no second one later.
        QTest::qWait(200);
        QCOMPARE(ok.count(), int(refusal.isEmpty()));
        QCOMPARE(refused.count(), int(!refusal.isEmpty()));
        QCOMPARE(refused.value(0).value(0).toString(), refusal);
    }

    void unreachableRegistrarIsOnlyLogged()
    {
        QVERIFY2(ua.Init(), qPrintable(ua.initError()));
        QSignalSpy ok(&ua, &CPJSIPSUA::registrationOK);
        QSignalSpy refused(&ua, &CPJSIPSUA::registrationError);

        // Nobody listens on this TCP port: the connection is refused locally,
        // which is no answer of a server and must not reach the operator.
        config.sipTransport = XMLConfig::TransportTcp;
        ua.setRegistrarPort(freeSipPort());
        QFile log(LogFile::debugLog().filePath());
        QVERIFY(log.open(QIODevice::ReadOnly) && log.seek(log.size()));
        QVERIFY(ua.addAccount("dispatcher@127.0.0.1", "pw"));

        QByteArray seen;
        QTRY_VERIFY_WITH_TIMEOUT(
            (seen += log.readAll()).contains("CPJSIPSUA::on_reg_state2(): SIP registration error:"), 15000);
        QCOMPARE(refused.count() + ok.count(), 0);
    }

    void incomingCallRunsMediaWithLevels()
    {
        if (sippPath().isEmpty())
            QSKIP("sipp (package sip-tester) is not installed");
        // Optional SRTP must still take the server's plain RTP offer.
        config.srtpMode = XMLConfig::SrtpOptional;
        // Not the library's fixed RTP port, which parallel runs would share.
        config.mediaPort = freeSipPort();
        QVERIFY2(ua.Init(), qPrintable(ua.initError()));

        // Levels chosen before the call must reach it when its media starts.
        QVERIFY(ua.setSpeakerLevel(40));
        QVERIFY(ua.setMicrophoneLevel(0));
        QVERIFY(!ua.setSpeakerLevel(101));
        QVERIFY(speakerLevel == 40 && currentCallSlot == -1);

        QProcess sipp;
        QVERIFY(callAgent(sipp, {"-d", "3000"}));
        QTRY_VERIFY_WITH_TIMEOUT(currentCallSlot != -1, 10000);
        QVERIFY(qAbs(ua.activeSpeakerGain() - 0.4f) < 0.01f);
        QCOMPARE(ua.activeMicrophoneGain(), 0.0f);

        // The server hangs up.
        QTRY_COMPARE_WITH_TIMEOUT(currentCallSlot, -1, 15000);
        QVERIFY(sippEnded(sipp));
        QVERIFY2(sipp.exitCode() == 0, sipp.readAll().constData());
        QCOMPARE(ua.activeSpeakerGain(), -1.0f);
    }

    void soundDevicesAndSoundTest()
    {
        const QString why = pulseAudioMissing();
        if (!why.isEmpty())
            QSKIP(qPrintable(QStringLiteral("sound device cases need PulseAudio: ") + why));

        // A null sink to play into and a null source to capture from, named so
        // that no parallel run shares them and the machine's cards do not matter.
        // The two modules name their description differently.
        const QString sinkName = QStringLiteral("tesmar_sip_test_%1").arg(::getpid());
        const QByteArray sinkId = sinkName.toLatin1();
        PulseModules modules;
        for (const char *module : {"module-null-sink sink_name=%1 sink_properties=device.description=%1",
                                   "module-null-source source_name=%1 description=%1_in"})
            QVERIFY(modules.load(QString::fromLatin1(module).arg(sinkName)));

        QVERIFY2(ua.Init(), qPrintable(ua.initError()));
        QList<QByteArray> outputs{"stale"}, inputs;
        QVERIFY(ua.outputDevices(outputs));
        QVERIFY(!outputs.contains("stale"));
        const QByteArray nullSink = named(outputs, sinkId);
        QVERIFY2(!nullSink.isEmpty(), outputs.join(", ").constData());
        ua.inputDevices(inputs);
        QVERIFY2(!inputs.contains(nullSink), "a playback-only device is listed for capture");
        const QByteArray nullSource = named(inputs, sinkId + "_in");
        QVERIFY2(!nullSource.isEmpty(), inputs.join(", ").constData());

        // Each direction takes only its own devices; empty means the default.
        QVERIFY(ua.setInputDevice(nullSource));
        QCOMPARE(ua.currentInputDeviceName(), nullSource);
        QVERIFY(!ua.setOutputDevice(nullSource));
        QVERIFY(ua.setInputDevice(QByteArray()));
        QCOMPARE(ua.currentInputDeviceName(), ua.defaultInputDeviceName());
        const QByteArray defaultOutput = ua.defaultOutputDeviceName();
        QVERIFY(ua.setOutputDevice(nullSink));
        QVERIFY(!ua.setOutputDevice("no such device"));
        QCOMPARE(ua.currentOutputDeviceName(), nullSink);
        QVERIFY(ua.setOutputDevice(QByteArray()));
        QCOMPARE(ua.currentOutputDeviceName(), defaultOutput);

        // The sound test must play into the chosen sink, and stop on request.
        const auto playingStreams = [&sinkId]() {
            QByteArray sinks, streams, index;
            pactl({"list", "short", "sinks"}, &sinks);
            pactl({"list", "short", "sink-inputs"}, &streams);
            for (const QByteArray &line : sinks.split('\n'))
                if (line.contains(sinkId))
                    index = line.split('\t').value(0);
            int count = 0;
            for (const QByteArray &line : streams.split('\n'))
                count += !index.isEmpty() && line.split('\t').value(1) == index;
            return count;
        };
        ua.startSoundTest(nullSink);
        QVERIFY(ua.soundTestRunning());
        QTRY_COMPARE_WITH_TIMEOUT(playingStreams(), 1, 5000);
        // Longer than the 5.4 s sound: it loops instead of ending.
        QTest::qWait(6500);
        QVERIFY(ua.soundTestRunning());
        QCOMPARE(playingStreams(), 1);
        ua.stopSoundTest();
        QVERIFY(!ua.soundTestRunning());
        QTRY_COMPARE_WITH_TIMEOUT(playingStreams(), 0, 5000);

        // An unknown device plays nothing and says so (the configured device at start is
        // what the calls suite records from).
        QFile log(LogFile::debugLog().filePath());
        QVERIFY(log.open(QIODevice::ReadOnly) && log.seek(log.size()));
        ua.startSoundTest("no such device");
        QVERIFY(log.readAll().contains(
            "CPJSIPSUA::startSoundTest(): cannot create sound player port: no such sound device\n"));
        QVERIFY(!ua.soundTestRunning());
    }

    void libraryLogLinesReachDebugLog()
    {
        CPJSIPSUA::libraryLogWriter(LinphoneLogLevelError, "belle-sip Registration refused\n", 31);
        // The given length runs past a zero byte: the line ends there.
        CPJSIPSUA::libraryLogWriter(LinphoneLogLevelMessage, "mediastreamer Card list ready\0garbage", 37);
        LogFile::debugLog().flush(); // debug lines are written in batches

        QFile file(LogFile::debugLog().filePath());
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
        const QByteArray log = file.readAll();
        // Levels mapped, and the trailing line feed dropped: no empty line follows.
        QVERIFY2(log.contains("[ERROR  ] belle-sip Registration refused\n") && !log.contains("refused\n\n"),
                 log.right(300).constData());
        QVERIFY2(log.contains("[INFO   ] mediastreamer Card list ready\n"), log.right(300).constData());
    }
};

QTEST_GUILESS_MAIN(CPJSIPSUATest)
#include "cpjsipsua_test.moc"
