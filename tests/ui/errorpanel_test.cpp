#include "ui/errorpanel.h"

#include <QAudioDeviceInfo>
#include <QAudioOutput>
#include <QElapsedTimer>
#include <QtTest>

// The warning strip: who is shown when, the mute zone, and the alarm that is
// decoded for the chosen device and looped while warnings are pending.
class ErrorPanelTest : public QObject
{
    Q_OBJECT

private:
    static const int kShownMs = 300;

    static void makePanel(ErrorPanel &panel)
    {
        panel.setMinimumDisplayTimeForTest(kShownMs);
        panel.resize(400, 30);
    }

private slots:
    void eachMessageStaysItsMinimumTimeAndTheQueueKeepsOrder()
    {
        ErrorPanel panel;
        makePanel(panel);
        QVERIFY(panel.isHidden());

        QElapsedTimer clock;
        clock.start();
        panel.addError("первое");
        panel.addError("второе");
        panel.addError("третье");
        panel.addError("второе"); // already queued: no duplicate, no change
        QCOMPARE(panel.messages(), (QStringList{"первое", "второе", "третье"}));
        QVERIFY(panel.isVisible());
        QCOMPARE(panel.text(), QString("первое"));

        // Removed long before its time: it stays, flagged for removal.
        QTest::qWait(kShownMs / 5);
        panel.removeError("первое");
        QVERIFY(panel.removalPending());
        QCOMPARE(panel.text(), QString("первое"));
        // A message queued behind the shown one goes at once and silently.
        panel.removeError("третье");
        QCOMPARE(panel.messages(), (QStringList{"первое", "второе"}));

        QTRY_COMPARE_WITH_TIMEOUT(panel.text(), QString("второе"), 5 * kShownMs);
        QVERIFY2(clock.elapsed() >= kShownMs - 20, "shown for less than its minimum time");
        QVERIFY(!panel.minimumShown());

        // The next one gets its own full time; re-adding it during that time
        // cancels its removal for good.
        panel.removeError("второе");
        QVERIFY(panel.removalPending());
        panel.addError("второе");
        QVERIFY(!panel.removalPending());
        QTest::qWait(2 * kShownMs);
        QVERIFY(panel.minimumShown());
        QCOMPARE(panel.messages(), QStringList{"второе"});

        // Past its minimum time a removal takes effect at once.
        panel.removeError("второе");
        QVERIFY(panel.messages().isEmpty() && panel.isHidden());
    }

    void muteZoneSilencesUntilThePanelEmptiesAndAWarningReturns()
    {
        ErrorPanel panel;
        makePanel(panel);
        panel.show();
        // Without a device the warnings show silently and the sound test does nothing harmful.
        QTest::ignoreMessage(QtCriticalMsg, "ErrorPanel::setAudioDevice(): device \"нет такого\" not found");
        panel.setAudioDevice("нет такого");
        QVERIFY(!panel.audioOutput());
        panel.startAlarmTest();
        panel.stopAlarmTest();
        panel.addError("Нет ответа от сервера FreeSwitch");
        QVERIFY(panel.isVisible() && !panel.isTesting());

        const QRect zone = panel.muteClickArea();
        QCOMPARE(zone, QRect(400 - 40, (30 - 23) / 2, 24, 23));
        QTest::mouseClick(&panel, Qt::LeftButton, Qt::NoModifier, QPoint(50, 15)); // on the text
        QVERIFY(!panel.isMuted());
        QTest::mouseClick(&panel, Qt::LeftButton, Qt::NoModifier, QPoint(400 - 10, 15)); // right of the zone
        QVERIFY(!panel.isMuted());
        QTest::mouseClick(&panel, Qt::LeftButton, Qt::NoModifier, zone.center());
        QVERIFY(panel.isMuted());

        // A second warning while muted stays silent.
        panel.addError("другое");
        QVERIFY(panel.isMuted());

        QTest::qWait(kShownMs + 50);
        panel.removeError("Нет ответа от сервера FreeSwitch");
        QVERIFY(panel.isMuted());
        QTest::qWait(kShownMs + 50);
        panel.removeError("другое");
        QVERIFY(panel.isHidden() && !panel.isMuted());
    }

    void alarmIsDecodedForTheDeviceAndLoopsWhileWarned()
    {
        const QAudioDeviceInfo device = QAudioDeviceInfo::defaultOutputDevice();
        if (device.isNull())
            QSKIP("no audio output device (start PulseAudio: scripts/start-test-services)");

        ErrorPanel panel;
        makePanel(panel);
        panel.setVolume(40);
        panel.setAudioDevice(device.deviceName());
        QVERIFY(panel.audioOutput());
        QCOMPARE(panel.audioOutput()->volume(), 0.4);
        QTRY_VERIFY_WITH_TIMEOUT(panel.isDecoded(), 10000);

        // One second of alarm in the device's format, whatever that format is.
        const QAudioFormat format = panel.audioOutput()->format();
        const qint64 expected = format.bytesForDuration(1000000);
        QVERIFY2(qAbs(panel.decodedAudio().size() - expected) <= expected / 20,
                 qPrintable(QString("decoded %1 bytes, expected about %2")
                                .arg(panel.decodedAudio().size())
                                .arg(expected)));
        QCOMPARE(panel.audioOutput()->state(), QAudio::StoppedState); // nothing to warn about yet

        panel.addError("тревога");
        QTRY_COMPARE_WITH_TIMEOUT(panel.audioOutput()->state(), QAudio::ActiveState, 3000);
        // Well past the one-second sound the output is still playing: the alarm
        // starts over instead of running out.
        QTRY_VERIFY_WITH_TIMEOUT(panel.audioOutput()->processedUSecs() > 2500000, 15000);
        QCOMPARE(panel.audioOutput()->state(), QAudio::ActiveState);

        // Mute stops it; the sound test plays despite the mute and stops again.
        QTest::mouseClick(&panel, Qt::LeftButton, Qt::NoModifier, panel.muteClickArea().center());
        QCOMPARE(panel.audioOutput()->state(), QAudio::StoppedState);
        panel.startAlarmTest();
        QTRY_COMPARE_WITH_TIMEOUT(panel.audioOutput()->state(), QAudio::ActiveState, 3000);
        panel.stopAlarmTest();
        QCOMPARE(panel.audioOutput()->state(), QAudio::StoppedState);

        // A device change drops the old output and decodes again.
        QAudioOutput *old = panel.audioOutput();
        QPointer<QAudioOutput> watch(old);
        panel.setAudioDevice(device.deviceName());
        QVERIFY(!watch);
        QVERIFY(!panel.isDecoded());
        QTRY_VERIFY_WITH_TIMEOUT(panel.isDecoded(), 10000);
    }
};

QTEST_MAIN(ErrorPanelTest)
#include "errorpanel_test.moc"
