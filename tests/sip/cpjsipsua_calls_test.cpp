#include "app/xmlconfig.h"
#include "sip/cpjsipsua.h"
#include "tests/sip/siprig.h"
#include "tests/support/rtpfarend.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

using namespace SipRig;

namespace {

// The dispatcher's microphone hears this tone (a PulseAudio sine into a null
// sink whose monitor feeds the agent's capture device); each far side sends a
// tone of its own.
const double micHz = 440.0;
const double farHzA = 700.0;
const double farHzB = 1300.0;
// Time for a level change or a call event to pass the audio buffers.
const int settleMs = 400;
const int measureMs = 1000;

} // namespace

// The agent's audio as the far sides and the dispatcher's loudspeaker really
// get it: calls from sipp whose audio goes to RtpFarEnd sockets, a tone on
// the microphone device and a recording of the loudspeaker device.
class CPJSIPSUACallsTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    CPJSIPSUA &ua = CPJSIPSUA::instance();
    XMLConfig &config = XMLConfig::instance();
    PulseModules m_modules;
    QString m_speakerSink;
    Recorder m_loudspeaker;

    bool startAgent()
    {
        QSignalSpy up(&ua, &CPJSIPSUA::initialised);
        return ua.Init() && (up.count() == 1 || up.wait(5000));
    }

    int agentPort() const { return ua.transportPort(CPJSIPSUA::Transport::Udp); }

    // The far side's share of the dispatcher's microphone tone.
    double heardAtFarSide(RtpFarEnd &far, RtpFarEnd *other = nullptr)
    {
        QTest::qWait(settleMs);
        far.reset();
        if (other)
            other->reset();
        QTest::qWait(measureMs);
        return far.toneAmplitude(micHz);
    }
    void heardAtFarSide(RtpFarEnd &far, RtpFarEnd &other) { heardAtFarSide(far, &other); }

    QVector<qint16> loudspeaker()
    {
        QTest::qWait(settleMs);
        m_loudspeaker.take();
        QTest::qWait(measureMs);
        return m_loudspeaker.take();
    }

    static double tone(const QVector<qint16> &samples, double hz)
    {
        return RtpFarEnd::toneAmplitudeIn(samples, hz, 8000);
    }

private slots:
    void initTestCase()
    {
        if (sippPath().isEmpty())
            QSKIP("sipp (package sip-tester) is not installed");
        const QString why = pulseAudioMissing();
        if (!why.isEmpty())
            QSKIP(qPrintable(QStringLiteral("the audio cases need PulseAudio: ") + why));
        QVERIFY(m_dir.isValid());
        QVERIFY(QDir::setCurrent(m_dir.path()));
        CPJSIPSUA::startupLibrary();
        ua.setDataDirectory(m_dir.filePath(QStringLiteral("sipdata")));

        // Devices named after this process, so parallel runs keep apart.
        const QString name = QStringLiteral("tesmar_calls_%1").arg(::getpid());
        const QString micSink = name + QStringLiteral("_mic");
        m_speakerSink = name + QStringLiteral("_spk");
        for (const QString &sink : {micSink, m_speakerSink})
            QVERIFY(m_modules.load(
                QStringLiteral("module-null-sink sink_name=%1 sink_properties=device.description=%1")
                    .arg(sink)));
        QVERIFY(m_modules.load(QStringLiteral("module-sine sink=%1 frequency=%2").arg(micSink).arg(micHz)));
        // The library lists no monitor sources; a remapped one is a plain source.
        QVERIFY(m_modules.load(QStringLiteral("module-remap-source master=%1.monitor source_name=%1_in "
                                              "source_properties=device.description=%1_in")
                                   .arg(micSink)));

        QVERIFY2(startAgent(), qPrintable(ua.initError()));
        QList<QByteArray> inputs, outputs;
        ua.inputDevices(inputs);
        ua.outputDevices(outputs);
        const QByteArray mic = named(inputs, micSink.toLatin1() + "_in");
        const QByteArray speaker = named(outputs, m_speakerSink.toLatin1());
        QVERIFY2(!mic.isEmpty(), inputs.join(", ").constData());
        QVERIFY2(!speaker.isEmpty(), outputs.join(", ").constData());
        QVERIFY(ua.Deinit());
        config.inputDeviceName = QString::fromLatin1(mic);
        config.outputDeviceName = QString::fromLatin1(speaker);
        QVERIFY(m_loudspeaker.start(m_speakerSink + QStringLiteral(".monitor")));
    }

    void init()
    {
        // The library's fixed RTP port would be shared with parallel runs.
        config.mediaPort = freeSipPort();
        speakerLevel = microphoneLevel = 100;
        QVERIFY2(startAgent(), qPrintable(ua.initError()));
        QVERIFY(ua.setMicrophoneLevel(100) && ua.setSpeakerLevel(100));
    }

    void cleanup() { ua.Deinit(); }

    void cleanupTestCase()
    {
        ua.Deinit();
        m_loudspeaker.stop();
        m_modules.unloadAll();
        CPJSIPSUA::shutdownLibrary();
    }

    // The server calls the dispatcher into two conferences from the same
    // address. Both calls must carry audio both ways the whole time: neither
    // is refused or put on hold (sipp fails on any request in between), the
    // dispatcher hears both and speaks into both, and the end of one leaves
    // the other as it was.
    void everyAnsweredCallStaysLiveBothWays()
    {
        RtpFarEnd farA(farHzA), farB(farHzB);
        QVERIFY(farA.isValid() && farB.isValid());
        QProcess sippA, sippB;
        QVERIFY(callAgent(sippA, agentPort(), farA.port(), {"-d", "14000"}));
        QTRY_VERIFY_WITH_TIMEOUT(farA.packets() > 10, 10000);
        QCOMPARE(ua.activeCallCount(), 1);
        const int handleA = currentCallSlot;
        QVERIFY(handleA != -1);

        QVERIFY(callAgent(sippB, agentPort(), farB.port(), {"-d", "6000"}));
        QTRY_VERIFY_WITH_TIMEOUT(farB.packets() > 10, 10000);
        QCOMPARE(ua.activeCallCount(), 2);

        // Both up: each far side gets the microphone, the loudspeaker
        // carries both far sides mixed.
        heardAtFarSide(farA, farB);
        const double micAtA = farA.toneAmplitude(micHz), micAtB = farB.toneAmplitude(micHz);
        const int packetsA = farA.packets(), packetsB = farB.packets();
        QVERIFY2(packetsA > measureMs / 20 * 3 / 4, qPrintable(QString::number(packetsA)));
        QVERIFY2(packetsB > measureMs / 20 * 3 / 4, qPrintable(QString::number(packetsB)));
        QVERIFY2(micAtA > 0.02 && micAtB > 0.02, qPrintable(QStringLiteral("%1 %2").arg(micAtA).arg(micAtB)));
        // The calls do not hear each other: each far side gets only the microphone.
        QVERIFY2(farA.toneAmplitude(farHzB) < micAtA / 10, "the second call leaks into the first");
        QVERIFY2(farB.toneAmplitude(farHzA) < micAtB / 10, "the first call leaks into the second");
        const QVector<qint16> both = loudspeaker();
        qInfo("two calls: far sides got %d and %d packets/s, microphone tone %.3f and %.3f; "
              "loudspeaker %.3f (first) and %.3f (second) of 0.300 sent",
              packetsA, packetsB, micAtA, micAtB, tone(both, farHzA), tone(both, farHzB));
        QVERIFY2(tone(both, farHzA) > 0.02 && tone(both, farHzB) > 0.02,
                 qPrintable(QStringLiteral("%1 %2").arg(tone(both, farHzA)).arg(tone(both, farHzB))));

        // A level set now reaches both calls.
        QVERIFY(ua.setMicrophoneLevel(0));
        heardAtFarSide(farA, farB);
        QVERIFY2(farA.toneAmplitude(micHz) < micAtA / 10, "mute missed the first call");
        QVERIFY2(farB.toneAmplitude(micHz) < micAtB / 10, "mute missed the second call");
        QVERIFY(ua.setMicrophoneLevel(100));

        // The second call ends: the first goes on untouched, and stays the
        // one levels report.
        QTRY_COMPARE_WITH_TIMEOUT(ua.activeCallCount(), 1, 15000);
        QVERIFY(sippEnded(sippB));
        QVERIFY2(sippB.exitCode() == 0, sippB.readAll().constData());
        QCOMPARE(currentCallSlot, handleA);
        const double micAfter = heardAtFarSide(farA);
        const int packetsAfter = farA.packets();
        QVERIFY2(micAfter > micAtA / 2, "the first call lost the microphone");
        QVERIFY(packetsAfter > measureMs / 20 * 3 / 4);
        const QVector<qint16> one = loudspeaker();
        qInfo("after the second call ended: first far side got %d packets/s, microphone tone %.3f; "
              "loudspeaker %.3f (first), %.3f (second)",
              packetsAfter, micAfter, tone(one, farHzA), tone(one, farHzB));
        // The receiver's clock adjustment may still squeeze a bit of the window.
        QVERIFY2(tone(one, farHzA) > tone(both, farHzA) / 2, "the first call is heard less than before");
        QVERIFY(tone(one, farHzB) < 0.01);
        QVERIFY(ua.setSpeakerLevel(50));
        QVERIFY(qAbs(ua.activeSpeakerGain() - 0.5f) < 0.01f);

        QTRY_COMPARE_WITH_TIMEOUT(ua.activeCallCount(), 0, 20000);
        QVERIFY(sippEnded(sippA));
        QVERIFY2(sippA.exitCode() == 0, sippA.readAll().constData());
        QCOMPARE(currentCallSlot, -1);
    }

    // What the far side and the loudspeaker get at 100, 50 and 0, and that
    // one direction's level leaves the other alone.
    void levelsReachTheStreams()
    {
        RtpFarEnd far(farHzA);
        QProcess sipp;
        QVERIFY(callAgent(sipp, agentPort(), far.port(), {"-d", "30000"}));
        auto stop = qScopeGuard([&sipp]() {
            sipp.kill();
            sipp.waitForFinished();
        });
        QTRY_VERIFY_WITH_TIMEOUT(far.packets() > 10, 10000);

        const double mic100 = heardAtFarSide(far);
        const double speaker100 = tone(loudspeaker(), farHzA);
        QVERIFY2(mic100 > 0.02 && speaker100 > 0.02,
                 qPrintable(QStringLiteral("%1 %2").arg(mic100).arg(speaker100)));
        // Loose enough for the receiver's clock adjustment at the start of a
        // call, tight enough to tell 0.5 from 0.25 or 1.
        const auto near = [](double measured, double reference, double factor) {
            return qAbs(measured / reference - factor) < 0.15;
        };
        const auto text = [](double measured, double reference) {
            return QByteArray::number(measured / reference).append(" of the level at 100");
        };

        QVERIFY(ua.setMicrophoneLevel(50));
        double mic = heardAtFarSide(far), speaker = tone(loudspeaker(), farHzA);
        QVERIFY2(near(mic, mic100, 0.5), text(mic, mic100).constData());
        QVERIFY2(near(speaker, speaker100, 1.0), text(speaker, speaker100).constData());

        QVERIFY(ua.setSpeakerLevel(50));
        mic = heardAtFarSide(far);
        speaker = tone(loudspeaker(), farHzA);
        QVERIFY2(near(speaker, speaker100, 0.5), text(speaker, speaker100).constData());
        QVERIFY2(near(mic, mic100, 0.5), text(mic, mic100).constData());

        // Mute, then back to the middle level rather than to full.
        QVERIFY(ua.setMicrophoneLevel(0));
        mic = heardAtFarSide(far);
        QVERIFY2(mic < mic100 / 20, text(mic, mic100).constData());
        QVERIFY2(far.packets() > measureMs / 20 * 3 / 4, "a muted call must still carry RTP");
        QVERIFY(ua.setMicrophoneLevel(50));
        mic = heardAtFarSide(far);
        QVERIFY2(near(mic, mic100, 0.5), text(mic, mic100).constData());

        QVERIFY(ua.setSpeakerLevel(0));
        speaker = tone(loudspeaker(), farHzA);
        QVERIFY2(speaker < speaker100 / 20, text(speaker, speaker100).constData());
    }
};

QTEST_GUILESS_MAIN(CPJSIPSUACallsTest)
#include "cpjsipsua_calls_test.moc"
