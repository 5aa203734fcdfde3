// The recordings page against the lab with its sample recordings, as a dispatcher uses it:
// the console logs in with its own SIP agent, lists the last week's recordings page by page,
// opens a conference recording with its participants, is called into a conference and plays
// the recording there; what the agent hears shows that play, pause, seek and stop took effect
// on the server and not only in the controller.

#include "app/cstartupdlg.h"
#include "app/mysqlconnection.h"
#include "app/xmlconfig.h"
#include "conferences/conferencelistmodel.h"
#include "esl/esl2.h"
#include "records/dateeditwithapplyfilter.h"
#include "records/recordlistmodel.h"
#include "records/recordlistview.h"
#include "records/recordplayback.h"
#include "records/recordspage.h"
#include "records/timeeditwithapplyfilter.h"
#include "sip/cpjsipsua.h"
#include "tests/support/freemediaport.h"
#include "tests/support/labenv.h"
#include "ui/consoleparts.h"
#include "ui/mainappframewindow3.h"

#include <QMessageBox>
#include <QStackedWidget>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

namespace {

QString controlText(const LabEnv &env, const QString &command)
{
    return QString::fromUtf8(env.control(command));
}

// A sample recording reaches the agent well above the lab's comfort tone (about -6 against
// -21 dBm0 as the agent measured them); the test asks for a margin that leaves room for the meter.
constexpr float kAboveTone = 4.0f;

// Receives one answer of the console's database connection.
class Answer : public QObject
{
    Q_OBJECT
public:
    QList<QStringList> rows;
    QString error;
    bool done = false;
public slots:
    void queryResult(QList<QStringList> result, QString e, int)
    {
        rows = result;
        error = e;
        done = true;
    }
};

} // namespace

class E2eRecordingsTest : public QObject
{
    Q_OBJECT

    LabEnv m_env;
    QTemporaryDir m_dir;
    ConsoleParts *m_parts = nullptr;
    MainAppFrameWindow3 *m_window = nullptr;
    QString m_conference;
    QList<ESL2::Event> m_fileEvents;
    float m_toneLevel = 0;
    // The page's modal message boxes, answered as the operator would.
    QStringList m_boxes;
    QTimer m_boxCloser;

    CPJSIPSUA &ua = CPJSIPSUA::instance();
    QString uri(const QString &id) const { return id + "@" + m_env.value("LAB_DOMAIN"); }
    RecordListModel *records() const { return m_parts->records(); }
    RecordPlayback *playback() const { return m_window->recordPlayback(); }

    // One value through the console's own database link (the dispatcher's read-only account).
    QString scalar(const QString &query)
    {
        Answer answer;
        MySQLConnection::instance().execQuery(query, &answer, "queryResult", 0);
        if (!QTest::qWaitFor([&] { return answer.done; }, 10000) || !answer.error.isEmpty() ||
            answer.rows.isEmpty())
            return "error: " + answer.error;
        return answer.rows.first().value(0);
    }

    bool fetchPage()
    {
        QSignalSpy done(records(), &RecordListModel::recordFilterDone);
        records()->fetchNextPage();
        return done.wait(20000);
    }

    // Waits until the agent's received level has stayed on one side of the threshold for half a
    // second; the library's meter takes about a second to follow a change.
    bool hears(bool recording, int timeoutMs = 8000)
    {
        const float threshold = m_toneLevel + kAboveTone;
        QElapsedTimer clock;
        clock.start();
        int agreeing = 0;
        while (clock.elapsed() < timeoutMs) {
            agreeing = (ua.activeReceivedLevel() > threshold) == recording ? agreeing + 1 : 0;
            if (agreeing >= 5) {
                qInfo() << (recording ? "recording" : "tone only") << "received at"
                        << ua.activeReceivedLevel() << "dBm0, tone" << m_toneLevel;
                return true;
            }
            QTest::qWait(100);
        }
        qWarning() << "received level" << ua.activeReceivedLevel() << "dBm0, tone" << m_toneLevel;
        return false;
    }

    int fileEvents(const QString &action) const
    {
        int n = 0;
        for (const ESL2::Event &e : m_fileEvents)
            n += e.value("Action") == action && e.value("File") == playback()->recordFile();
        return n;
    }

private slots:
    void initTestCase()
    {
        QString why;
        QVERIFY2(m_env.load(&why), qPrintable(why));
        QVERIFY(m_env.port("LAB_SIP_PORT") != 0);
        XMLConfig &c = XMLConfig::instance();
        c.filePath = m_dir.filePath("TesmarDispatcher.xml");
        c.eslPort = m_env.port("LAB_ESL_PORT");
        c.dbPort = m_env.port("LAB_DB_PORT");
        c.sshPort = m_env.port("LAB_SSH_PORT");
        c.externalUA = false;
        c.alarmSound = false;
        c.mediaPort = freeMediaPort();
        c.users = {{uri(m_env.value("LAB_DISPATCHER_USER")), true, m_env.value("LAB_DISPATCHER_PASSWORD")}};
        CPJSIPSUA::startupLibrary();
        ua.setDataDirectory(m_dir.filePath("sip"));
        ua.setRegistrarPort(m_env.port("LAB_SIP_PORT"));

        connect(&m_boxCloser, &QTimer::timeout, this, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                m_boxes << box->text();
                box->accept();
            }
        });
        m_boxCloser.start(50);

        m_parts = new ConsoleParts([] { return new CStartupDlg; });
        m_parts->setShutdownLibraries(false);
        m_parts->createProcessObjects();
        connect(m_parts->esl(), &ESL2::conferenceEvent, this, [this](const ESL2::Event &e) {
            if (e.contains("File"))
                m_fileEvents << e;
        });

        std::unique_ptr<QDialog> dialog(m_parts->createLoginDialog());
        QTRY_COMPARE_WITH_TIMEOUT(dialog->result(), int(QDialog::Accepted), 20000);
        dialog.reset();
        m_window = qobject_cast<MainAppFrameWindow3 *>(m_parts->createSession());
        QVERIFY(m_window && m_window->recordsPage() && playback());
        QCOMPARE(RecordListModel::instance(), records());
        m_window->show();
        // The agent registered with the lab: the lab's user list shows its contact.
        const QString dispatcher = m_env.value("LAB_DISPATCHER_USER");
        QTRY_VERIFY_WITH_TIMEOUT(controlText(m_env, "users")
                                     .contains(QRegularExpression("(^|\\n)" + dispatcher + " sip:" +
                                                                  dispatcher + "@127\\.0\\.0\\.1:")),
                                 15000);
    }

    void cleanupTestCase()
    {
        if (m_parts) {
            if (m_window)
                m_window->close();
            m_parts->destroySession();
            m_parts->closeLinks();
            m_parts->destroyProcessObjects();
        }
        delete m_parts;
        CPJSIPSUA::shutdownLibrary();
    }

    void lastWeekPageByPageAndAConferenceWithItsParticipants()
    {
        m_window->SoundButtonPressed();
        QCOMPARE(m_window->mainStack()->currentWidget(), m_window->recordsPage());
        const QList<DateEditWithApplyFilter *> dates =
            m_window->recordsPage()->findChildren<DateEditWithApplyFilter *>();
        const QList<TimeEditWithApplyFilter *> times =
            m_window->recordsPage()->findChildren<TimeEditWithApplyFilter *>();
        QCOMPARE(dates.size(), 2);
        QCOMPARE(times.size(), 2);
        const QDateTime now = QDateTime::currentDateTime();
        const QDateTime weekAgo = now.addDays(-7);
        dates[0]->setDate(weekAgo.date());
        times[0]->setTime(weekAgo.time());
        dates[1]->setDate(now.date());
        times[1]->setTime(now.time());

        QSignalSpy done(records(), &RecordListModel::recordFilterDone);
        m_window->ApplyFilter();
        QVERIFY(done.wait(20000));
        QCOMPARE(records()->recordCount(), 20);
        QVERIFY(records()->hasMore());
        while (records()->hasMore())
            QVERIFY(fetchPage());

        // Every recording of both tables that overlaps the week, each once, oldest first.
        const qint64 from = RecordListModel::filterFrom(weekAgo.date(), weekAgo.time()).toSecsSinceEpoch();
        const qint64 to = RecordListModel::filterTo(now.date(), now.time()).toSecsSinceEpoch();
        const QString overlap =
            QString("UNIX_TIMESTAMP(endtime) >= %1 AND UNIX_TIMESTAMP(%3) <= %2").arg(from).arg(to);
        const QString start =
            MySQLConnection::instance().hasStartRecordColumn() ? "startrecord" : "starttime";
        const int expected =
            scalar("SELECT (SELECT COUNT(*) FROM cdr WHERE has_record=1 AND " + overlap.arg(start) +
                   ") + (SELECT COUNT(*) FROM recordings WHERE " + overlap.arg("starttime") + ")")
                .toInt();
        QVERIFY2(expected > 40, qPrintable(QString::number(expected)));
        QCOMPARE(records()->rowCount(), expected);
        QSet<QPair<bool, quint64>> seen;
        QDateTime previous;
        for (int r = 0; r < records()->rowCount(); ++r) {
            const QModelIndex i = records()->index(r, 0);
            seen.insert({i.data(RecordListModel::RecordIsConferenceRole).toBool(),
                         i.data(RecordListModel::RecordIdRole).toULongLong()});
            const QDateTime started = i.data(RecordListModel::RecordStartRole).toDateTime();
            QVERIFY(!previous.isValid() || previous <= started);
            previous = started;
        }
        QCOMPARE(seen.size(), expected);

        // The newest sample conference recording with a file of at least 11 s (8 kHz, 16 bit): its
        // participants from the CDR and a steady sound to play, long enough to pause and seek.
        RecordListView *list = m_window->recordsPage()->recordList();
        int row = records()->rowCount();
        bool found = false;
        while (!found && --row >= 0) {
            const QModelIndex i = records()->index(row, 0);
            if (!i.data(RecordListModel::RecordIsConferenceRole).toBool() ||
                i.data(RecordListModel::RecordEndRole).toDateTime() >
                    QDateTime::currentDateTime().addSecs(-3600))
                continue;
            list->setCurrentIndex(i);
            QTRY_VERIFY_WITH_TIMEOUT(records()->participants()->rowCount() > 0, 10000);
            QTRY_VERIFY(playback()->panel().playEnabled);
            QVERIFY2(RecordPlayback::isPlayableFile(playback()->recordFile()),
                     qPrintable(playback()->recordFile()));
            found = playback()->recordFile().contains("/sample/") &&
                    QFileInfo(playback()->recordFile()).size() >= 44 + 16000 * 11;
        }
        QVERIFY(found);
        const QString cdrId = records()->index(row, 0).data(RecordListModel::RecordIdRole).toString();
        const QString xml = scalar("SELECT xml FROM cdr WHERE id=" + cdrId);
        for (int p = 0; p < records()->participants()->rowCount(); ++p)
            QVERIFY(xml.contains("<caller_id_number>" +
                                 records()->participants()->index(p, 0).data().toString() +
                                 "</caller_id_number>"));
    }

    void playsIntoTheDispatchersConferenceAndTheAgentHearsIt()
    {
        QVERIFY(!playback()->recordFile().isEmpty());
        // Not in a conference yet: nothing is sent, the operator is told why in a modal box.
        // A conference an interrupted earlier run left behind goes first.
        for (const QString &left : ConferenceListModel::instance()->dispatcherConferences())
            if (left.startsWith("e2e-rec-"))
                controlText(m_env, "api conference " + left + " kick all");
        QTRY_VERIFY_WITH_TIMEOUT(ConferenceListModel::instance()->dispatcherConferences().isEmpty(), 5000);
        m_window->PlayButtonPressed();
        QTRY_COMPARE(m_boxes,
                     QStringList{"Вы должны войти в конференцию для возможности воспроизводить записи"});
        QVERIFY(!playback()->isPlaying());

        // The server calls the dispatcher's agent into a new conference, as the conference
        // control does; the agent answers by itself.
        m_conference = "e2e-rec-" + QString::number(QDateTime::currentMSecsSinceEpoch() % 100000);
        const QString dispatcher = uri(m_env.value("LAB_DISPATCHER_USER"));
        QVERIFY(controlText(m_env, "api originate user/" + dispatcher + " &conference(" + m_conference + ")")
                    .startsWith("+OK"));
        QTRY_VERIFY_WITH_TIMEOUT(
            ConferenceListModel::instance()->dispatcherConferences().contains(m_conference), 15000);
        QTRY_VERIFY_WITH_TIMEOUT(ua.activeCallCount() == 1, 5000);
        // Only the comfort tone so far: its level, once the meter has settled, is the baseline.
        QTest::qWait(2000);
        m_toneLevel = ua.activeReceivedLevel();
        QVERIFY2(m_toneLevel > -60, qPrintable(QString::number(m_toneLevel)));

        // Play: the server starts the file in that conference and the agent hears it.
        m_window->PlayButtonPressed();
        QTRY_VERIFY_WITH_TIMEOUT(playback()->isPlaying(), 10000);
        QCOMPARE(playback()->playConference(), m_conference);
        QTRY_COMPARE_WITH_TIMEOUT(fileEvents("play-file"), 1, 5000);
        QVERIFY(playback()->panel().showPause && playback()->panel().stopEnabled);
        QVERIFY(hears(true));

        // Pause: silence but for the comfort tone, and the position stands still.
        m_window->PlayButtonPressed();
        QTRY_VERIFY_WITH_TIMEOUT(playback()->isPaused(), 5000);
        QVERIFY(!playback()->panel().showPause);
        QVERIFY(hears(false));
        const int pausedAt = playback()->panel().slider;
        QTest::qWait(500);
        QCOMPARE(playback()->panel().slider, pausedAt);
        QCOMPARE(fileEvents("play-file-done"), 0);

        // Resume, then drag the slider back to about the second second (the CDR's duration, which
        // the slider spans, is longer than the sample file): the server seeks, the controller
        // takes the target as its position, and the file plays on.
        m_window->PlayButtonPressed();
        QTRY_VERIFY_WITH_TIMEOUT(!playback()->isPaused() && playback()->panel().showPause, 5000);
        QVERIFY(hears(true));
        playback()->setSliderDown(true);
        const int value = int(2000 * 1000 / playback()->recordDuration());
        m_window->valueChangeForSlider(value);
        m_window->recordSliderReleased();
        const qint64 target = qint64(value) * playback()->recordDuration() / 1000;
        QVERIFY(target > 1000 && target <= 2000);
        QTRY_COMPARE_WITH_TIMEOUT(playback()->playOffsetMs(), target, 5000);
        QVERIFY(playback()->isPlaying());
        QVERIFY(hears(true, 3000));

        // Stop: the server closes the file, the panel goes back, the agent hears the tone again.
        m_window->StopButtonPressed();
        QTRY_VERIFY_WITH_TIMEOUT(!playback()->isPlaying(), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(fileEvents("play-file-done"), 1, 5000);
        QCOMPARE(playback()->panel().slider, 0);
        QVERIFY(!playback()->panel().sliderEnabled && !playback()->panel().stopEnabled);
        QVERIFY(hears(false));
        QCOMPARE(m_boxes.size(), 1);
    }

    void theFileEndsOnTheServerThenTheWindowCloses()
    {
        QVERIFY(!m_conference.isEmpty());
        m_window->PlayButtonPressed();
        QTRY_VERIFY_WITH_TIMEOUT(playback()->isPlaying(), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(fileEvents("play-file"), 2, 5000);

        // Seeking to a second before the file's end: only the server's event can tell the
        // controller that the file is over.
        const qint64 fileMs = (QFileInfo(playback()->recordFile()).size() - 44) / 16;
        playback()->setSliderDown(true);
        m_window->valueChangeForSlider(int((fileMs - 1000) * 1000 / playback()->recordDuration()));
        m_window->recordSliderReleased();
        QTRY_VERIFY_WITH_TIMEOUT(!playback()->isPlaying(), 5000);
        QCOMPARE(fileEvents("play-file-done"), 2);
        QVERIFY(!playback()->panel().stopEnabled && !playback()->panel().showPause);
        QVERIFY(hears(false));

        // Closing the window stops a playing file on the server.
        m_window->PlayButtonPressed();
        QTRY_VERIFY_WITH_TIMEOUT(playback()->isPlaying(), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(fileEvents("play-file"), 3, 5000);
        m_window->close();
        QTRY_COMPARE_WITH_TIMEOUT(fileEvents("play-file-done"), 3, 5000);
        QVERIFY(controlText(m_env, "api conference " + m_conference + " kick all").startsWith("+OK"));
        QCOMPARE(m_boxes.size(), 1);
    }
};

QTEST_MAIN(E2eRecordingsTest)
#include "e2erecordings_test.moc"
