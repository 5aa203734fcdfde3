#include "records/recordplayback.h"
#include "tests/support/fakeeslserver.h"

#include <QSignalSpy>
#include <QtTest>

namespace {

const qint64 T = 1700000000;
const QString kFile = "/rec/a.wav";

QDateTime at(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds);
}

ESL2::Event maintenance(const QString &action, const QString &conference, const QString &file)
{
    return {{"Event-Name", "CUSTOM"},
            {"Event-Subclass", "conference::maintenance"},
            {"Conference-Name", conference},
            {"Action", action},
            {"File", file}};
}

} // namespace

class RecordPlaybackTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakeEslServer> m_server;
    std::unique_ptr<ESL2> m_esl;
    std::unique_ptr<RecordPlayback> m_pb;
    std::unique_ptr<QSignalSpy> m_messages;
    QStringList m_joined;
    qint64 m_now = 0;

    const RecordPlayback::Panel &panel() const { return m_pb->panel(); }

    // Waits for the server to have received exactly these commands since the last call.
    bool sent(const QStringList &expected)
    {
        const bool ok = QTest::qWaitFor([&] { return m_server->commands().size() >= expected.size(); }, 5000);
        QTest::qWait(30); // and nothing else
        const QStringList got = m_server->commands();
        m_server->clearRequests();
        if (!ok || got != expected)
            qWarning() << "sent" << got << "expected" << expected;
        return ok && got == expected;
    }

    // Serves reply to command, runs action and waits until done holds.
    template <typename Action, typename Done>
    bool answer(const QString &command, const QString &reply, Action action, Done done)
    {
        m_server->clearReplies();
        m_server->addApiReply(command, reply);
        action();
        return QTest::qWaitFor(done, 5000);
    }

    bool startPlaying()
    {
        m_server->clearReplies();
        m_server->addApiReply("api conference alpha stop", "+OK Stopped 0 files.\n");
        m_server->addApiReply("api conference alpha play " + kFile,
                              "+OK (play) Playing file " + kFile + "\n");
        m_pb->PlayButtonPressed();
        return QTest::qWaitFor([&] { return m_pb->isPlaying(); }, 5000) &&
               sent({"api conference alpha stop", "api conference alpha play " + kFile});
    }

    QString lastMessage() const
    {
        return m_messages->isEmpty() ? QString() : m_messages->last().first().toString();
    }

    // Serves an error reply to command, runs action and returns what the operator is told.
    template <typename Action>
    QString refused(const QString &command, const QString &reply, Action action)
    {
        const int before = m_messages->count();
        return answer(command, reply, action, [&] { return m_messages->count() > before; }) ? lastMessage()
                                                                                            : QString();
    }

private slots:
    void init()
    {
        m_server = std::make_unique<FakeEslServer>();
        m_esl = std::make_unique<ESL2>();
        m_esl->setTimerIntervalsForTest(2000, 3000, 50);
        emit m_esl->sigConnect(m_server->host(), m_server->port(), m_server->password());
        QTRY_VERIFY(m_server->isSubscribed());
        m_server->clearRequests();
        m_pb = std::make_unique<RecordPlayback>(nullptr, m_esl.get());
        m_pb->setConferenceSource([this] { return m_joined; });
        m_pb->setClock([this] { return m_now; });
        connect(m_esl.get(), &ESL2::conferenceEvent, m_pb.get(), &RecordPlayback::conferenceEvent,
                Qt::QueuedConnection);
        m_messages = std::make_unique<QSignalSpy>(m_pb.get(), &RecordPlayback::message);
        m_joined = QStringList{"beta", "alpha"};
        m_now = 1000;
    }

    void playPauseSeekResumeStop()
    {
        m_pb->recordingTime(at(T), at(T + 125), kFile);
        QCOMPARE(panel().endLabel, at(T + 125).toString("mm:ss"));
        QCOMPARE(panel().position, at(T).toString("dd.MM.yyyy hh:mm:ss") + " (0:00/0:02:05)");
        QVERIFY(panel().playEnabled && !panel().stopEnabled && !panel().sliderEnabled);

        // Into the first joined conference by name, after stopping whatever it plays.
        QVERIFY(startPlaying());
        QVERIFY(panel().showPause && panel().stopEnabled && panel().sliderEnabled);
        QVERIFY(m_pb->isSliderTimerActive());
        QCOMPARE(m_pb->playConference(), QString("alpha"));

        m_now += 10000;
        m_pb->recordSliderUpdate();
        QCOMPARE(panel().slider, 80000);
        QVERIFY(panel().position.endsWith(" (0:10/0:02:05)"));

        // Pause at 12 s: the estimate stops there however long the pause lasts.
        m_now += 2000;
        QVERIFY(answer(
            "api conference alpha pause_play", "+OK Pause\n", [&] { m_pb->PlayButtonPressed(); },
            [&] { return m_pb->isPaused(); }));
        QCOMPARE(m_pb->playOffsetMs(), 12000);
        QVERIFY(!panel().showPause && panel().playEnabled && !m_pb->isSliderTimerActive());
        m_now += 50000;
        m_pb->recordSliderUpdate();
        QCOMPARE(panel().slider, 96000);

        // Dragging to 50 s while paused: the label follows the drag, the timer leaves the slider alone,
        // and the seek moves the estimate to the target.
        m_pb->setSliderDown(true);
        m_pb->valueChangeForSlider(400000);
        QVERIFY(panel().position.endsWith(" (0:50/0:02:05)"));
        m_pb->recordSliderUpdate();
        QCOMPARE(panel().slider, 400000);
        QVERIFY(answer(
            "api conference alpha file_seek 50000", "+OK seek to position 400000\n",
            [&] { m_pb->recordSliderReleased(); }, [&] { return m_pb->playOffsetMs() == 50000; }));
        QVERIFY(m_pb->isPaused() && m_pb->isPlaying());
        QCOMPARE(panel().slider, 400000);

        QVERIFY(answer(
            "api conference alpha pause_play", "+OK Resume\n", [&] { m_pb->PlayButtonPressed(); },
            [&] { return !m_pb->isPaused(); }));
        QVERIFY(panel().showPause && m_pb->isSliderTimerActive());
        m_now += 1000;
        m_pb->recordSliderUpdate();
        QCOMPARE(panel().slider, 408000);
        // A second pause adds the new stretch to the position it resumed from.
        m_now += 1000;
        QVERIFY(answer(
            "api conference alpha pause_play", "+OK Pause\n", [&] { m_pb->PlayButtonPressed(); },
            [&] { return m_pb->isPaused(); }));
        QCOMPARE(m_pb->playOffsetMs(), 52000);

        QVERIFY(answer(
            "api conference alpha stop", "+OK Stopped 1 files.\n", [&] { m_pb->StopButtonPressed(); },
            [&] { return !m_pb->isPlaying(); }));
        QVERIFY(!panel().stopEnabled && !panel().sliderEnabled && !panel().showPause);
        QVERIFY(!m_pb->isSliderTimerActive());
        QCOMPARE(panel().slider, 0);
        QVERIFY(sent({"api conference alpha pause_play", "api conference alpha file_seek 50000",
                      "api conference alpha pause_play", "api conference alpha pause_play",
                      "api conference alpha stop"}));
        QCOMPARE(m_messages->count(), 0);
    }

    void failuresKeepTheStateAndSayWhy()
    {
        m_pb->recordingTime(at(T), at(T + 125), kFile);
        m_joined.clear();
        m_pb->PlayButtonPressed();
        QCOMPARE(lastMessage(),
                 QString("Вы должны войти в конференцию для возможности воспроизводить записи"));
        m_joined = QStringList{"alpha"};

        // A failed stop before play: play is never sent.
        QCOMPARE(refused("api conference alpha stop", "-ERR Conference alpha not found\n",
                         [&] { m_pb->PlayButtonPressed(); }),
                 QString("При попытке отмены воспроизведения возникла ошибка: -ERR Conference alpha "
                         "not found\n"));
        QVERIFY(sent({"api conference alpha stop"}));

        m_server->clearReplies();
        m_server->addApiReply("api conference alpha stop", "+OK Stopped 0 files.\n");
        m_server->addApiReply("api conference alpha play " + kFile,
                              "-ERR (play) File: /rec/a.wav not found.\n");
        m_pb->PlayButtonPressed();
        QTRY_COMPARE(m_messages->count(), 3);
        QCOMPARE(lastMessage(),
                 QString("При попытке воспроизведения файла /rec/a.wav возникла ошибка: -ERR (play) "
                         "File: /rec/a.wav not found.\n"));
        QVERIFY(!m_pb->isPlaying() && !panel().stopEnabled);
        QVERIFY(sent({"api conference alpha stop", "api conference alpha play " + kFile}));

        QVERIFY(startPlaying());
        QCOMPARE(
            refused("api conference alpha pause_play", "-ERR no reply\n", [&] { m_pb->PlayButtonPressed(); }),
            QString("При попытке остановки воспроизведения возникла ошибка: -ERR no reply\n"));
        QVERIFY(m_pb->isPlaying() && !m_pb->isPaused() && panel().playEnabled);

        m_pb->valueChangeForSlider(8000); // 1 s
        QCOMPARE(refused("api conference alpha file_seek 1000", "-ERR no reply\n",
                         [&] { m_pb->recordSliderReleased(); }),
                 QString("При попытке изменить позицию воспроизведения возникла ошибка: -ERR no reply\n"));
        QCOMPARE(m_pb->playOffsetMs(), 0);

        QVERIFY(!refused("api conference alpha stop", "-ERR Conference alpha not found\n", [&] {
                     m_pb->StopButtonPressed();
                 }).isEmpty());
        QVERIFY(m_pb->isPlaying() && !panel().stopEnabled);
        QVERIFY(sent({"api conference alpha pause_play", "api conference alpha file_seek 1000",
                      "api conference alpha stop"}));

        // Text that would break the command is refused before anything is sent.
        m_pb->recordingTime(at(T), at(T + 5), "/rec/a b.wav\napi shutdown");
        m_joined = QStringList{"alpha"};
        QVERIFY(answer(
            "api conference alpha stop", "+OK Stopped 1 files.\n", [&] { m_pb->StopButtonPressed(); },
            [&] { return !m_pb->isPlaying(); }));
        m_server->clearRequests();
        m_pb->PlayButtonPressed();
        QVERIFY(lastMessage().startsWith("Запись нельзя воспроизвести: "));
        m_pb->recordingTime(at(T), at(T + 5), kFile);
        m_joined = QStringList{"al pha"};
        m_pb->PlayButtonPressed();
        QVERIFY(lastMessage().startsWith("Запись нельзя воспроизвести: "));
        QCOMPARE(m_messages->count(), 8);
        // Without a conference model the button does nothing.
        m_pb->setConferenceSource({});
        m_pb->PlayButtonPressed();
        QCOMPARE(m_messages->count(), 8);
        QVERIFY(sent({}));
    }

    void durationsAndDegenerateRecordings()
    {
        const QList<QPair<qint64, QString>> formats{{0, "0:00"},       {59, "0:59"},
                                                    {60, "0:01:00"},   {3599, "0:59:59"},
                                                    {3600, "1:00:00"}, {36125, "10:02:05"}};
        for (const auto &f : formats)
            QCOMPARE(RecordPlayback::formatDuration(f.first), f.second);

        // Zero length and end before start last a second, so the slider arithmetic stays finite.
        for (qint64 end : {T, T - 30}) {
            m_pb->recordingTime(at(T), at(end), kFile);
            QCOMPARE(m_pb->recordDuration(), 1);
            QVERIFY(panel().playEnabled);
            m_pb->recordSliderUpdate(5000);
            QCOMPARE(panel().slider, RecordPlayback::kSliderRange);
            QVERIFY(panel().position.endsWith(" (0:01/0:01)"));
        }

        // Without a start time: question marks and no playing.
        m_pb->recordingTime(QDateTime(), at(T + 10), kFile);
        QCOMPARE(panel().startLabel, QString("??:??"));
        QVERIFY(!panel().playEnabled && !panel().sliderEnabled);

        // Releasing the slider while nothing plays snaps it back and sends nothing.
        m_pb->recordingTime(at(T), at(T + 100), kFile);
        m_pb->valueChangeForSlider(500000);
        m_pb->recordSliderReleased();
        QCOMPARE(panel().slider, 0);
        QVERIFY(panel().position.endsWith(" (0:00/0:01:40)"));
        QVERIFY(sent({}));
    }

    void serverEventsAndSelectionChanges()
    {
        m_pb->recordingTime(at(T), at(T + 125), kFile);
        QVERIFY(startPlaying());
        m_now += 20000;
        m_pb->recordSliderUpdate();
        QVERIFY(panel().slider > 0);

        // Another conference's or another file's end changes nothing; this one's returns to ready.
        m_server->sendEvent(maintenance("play-file-done", "beta", kFile));
        m_server->sendEvent(maintenance("play-file-done", "alpha", "/rec/other.wav"));
        m_server->sendEvent(maintenance("play-file-done", "alpha", kFile));
        QTRY_VERIFY(!m_pb->isPlaying());
        QVERIFY(!panel().stopEnabled && !panel().sliderEnabled && !panel().showPause && panel().playEnabled);
        QVERIFY(!m_pb->isSliderTimerActive());
        QCOMPARE(panel().slider, 0);

        // The server starting the file (say, from another console) counts as playing.
        m_server->sendEvent(maintenance("play-file", "alpha", kFile));
        QTRY_VERIFY(m_pb->isPlaying());
        QVERIFY(panel().showPause && panel().sliderEnabled);

        // A new selection stops the file first; deselecting clears the panel.
        m_server->addApiReply("api conference alpha stop", "+OK Stopped 1 files.\n");
        m_pb->recordSelected(QModelIndex());
        QTRY_VERIFY(!m_pb->isPlaying());
        QVERIFY(sent({"api conference alpha stop"}));
        m_pb->recordDeselected();
        QVERIFY(!panel().playEnabled && panel().title.isEmpty() && panel().position.isEmpty());
        QCOMPARE(panel().startLabel, QString("00:00"));
        QVERIFY(sent({}));

        // Closing the window stops a playing file without waiting for the reply.
        m_pb->recordingTime(at(T), at(T + 125), kFile);
        QVERIFY(startPlaying());
        m_pb->windowClosing();
        QVERIFY(!m_pb->isPlaying());
        QVERIFY(sent({"api conference alpha stop"}));
        QCOMPARE(m_messages->count(), 0);
    }
};

QTEST_MAIN(RecordPlaybackTest)
#include "recordplayback_test.moc"
