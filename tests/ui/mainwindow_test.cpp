#include "app/xmlconfig.h"
#include "conferences/conferencecontrol.h"
#include "conferences/conferencelistmodel.h"
#include "conferences/conferencelistview.h"
#include "conferences/conferenceparticipantsmodel.h"
#include "conferences/conferenceparticipantsview.h"
#include "esl/esl2.h"
#include "sip/cpjsipsua.h"
#include "tests/support/fakeeslserver.h"
#include "ui/connectionwatch.h"
#include "ui/consoleparts.h"
#include "ui/errorpanel.h"
#include "ui/lineeditescapekey.h"
#include "ui/mainappframewindow3.h"
#include "ui/settingscontroller.h"
#include "ui/settingspage.h"
#include "users/userlistmodel.h"
#include "users/userlistview.h"

#include <QAction>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QSlider>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const QString kUsers =
    "userid|context|domain|group|contact|callgroup|effective_caller_id_name|effective_caller_id_number\n"
    "1001|default|127.0.0.1|default|sofia/internal/sip:1001@127.0.0.1:5070||Диспетчер Один|\n"
    "1002|default|127.0.0.1|default|sofia/internal/sip:1002@127.0.0.1:5074||Петров Пётр|\n"
    "1003|default|127.0.0.1|default|error/user_not_registered||Сидорова Анна|\n"
    "1004|default|127.0.0.1|default|sofia/internal/sip:1004@127.0.0.1:5076||Иванов Иван|\n"
    "+OK\n";

QString member(const QString &id, const QString &number)
{
    return "<member type=\"caller\"><id>" + id + "</id><flags><can_hear>true</can_hear><can_speak>true" +
           "</can_speak><talking>false</talking><is_ghost>false</is_ghost></flags><uuid>u-" + id +
           "</uuid><caller_id_number>" + number + "</caller_id_number><join_time>2</join_time></member>";
}

const QString kConferences = "<?xml version=\"1.0\"?>\n<conferences>"
                             "<conference name=\"3000\" running=\"true\"><members>" +
                             member("7", "1002") + member("8", "1004") +
                             "</members></conference></conferences>\n";

} // namespace

// The window against a scripted event socket, wired by the console's own parts:
// what the dispatcher sees after login, how the panes follow the server, and
// what happens when the link fails and comes back.
class MainWindowTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    FakeEslServer *m_server = nullptr;
    ConsoleParts *m_parts = nullptr;
    MainAppFrameWindow3 *m_window = nullptr;

    int listed() const { return m_server->countRequests("api list_users"); }
    int conferenceSnapshots() const { return m_server->countRequests("api conference xml_list"); }
    bool panesCurrent() const
    {
        return !m_window->staleBanner()->isVisibleTo(m_window) && !m_window->connectionWatch()->isStale();
    }
    ConferenceParticipantsModel *shownMembers() const
    {
        return qobject_cast<ConferenceParticipantsModel *>(m_window->participantsView()->model());
    }

private slots:
    void initTestCase()
    {
        XMLConfig &c = XMLConfig::instance();
        c.filePath = m_dir.filePath("TesmarDispatcher.xml");
        c.currentLoginUser = "1001";
        c.currentServerHost = "127.0.0.1";
        c.currentLoginAddress = "1001@127.0.0.1";
        c.externalUA = true;
        c.alarmSound = false;
        c.displayDisconnected = 1;
        c.phoneBookPath = m_dir.filePath("phonebook.txt");
        // A data directory that cannot be made: the SIP agent refuses to start
        // at once instead of opening SIP ports.
        QFile blocker(m_dir.filePath("blocker"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        CPJSIPSUA::instance().setDataDirectory(m_dir.filePath("blocker/sip"));

        m_server = new FakeEslServer(this);
        m_server->addApiReply("api list_users", kUsers);
        m_server->addApiReply("api user_data 1002@127.0.0.1 attr role", "dispatcher");
        m_server->addApiReply("api user_data 1002@127.0.0.1 attr groups", "Смена А;");
        m_server->addApiReply("api user_data 1004@127.0.0.1 attr groups", "Смена А;");
        m_server->addApiReply("api user_data ", "", FakeEslServer::Prefix);
        m_server->addApiReply("api conference xml_list", kConferences);

        m_parts = new ConsoleParts([] { return nullptr; });
        m_parts->createProcessObjects();
        m_parts->esl()->setTimerIntervalsForTest(400, 200, 50);
        emit m_parts->esl()->sigConnect(m_server->host(), m_server->port(), m_server->password());
        QTRY_VERIFY(m_server->isAuthenticated());
        m_window = qobject_cast<MainAppFrameWindow3 *>(m_parts->createSession());
        QVERIFY(m_window);
        m_window->errorPanel()->setMinimumDisplayTimeForTest(100);
        m_window->show();
    }

    void cleanupTestCase()
    {
        m_parts->destroySession();
        m_parts->closeLinks();
        m_parts->destroyProcessObjects();
        delete m_parts;
    }

    void afterLoginTheTreeAndConferencesFollowTheServer()
    {
        UserListModel *users = m_parts->users();
        QTRY_COMPARE_WITH_TIMEOUT(conferenceSnapshots(), 1, 5000);
        QCOMPARE(m_window->userView()->model(), users);
        QTRY_VERIFY(!users->indexesOfUser("1002@127.0.0.1").isEmpty());
        QVERIFY(users->isDispatcherOrTechnician("1002@127.0.0.1") &&
                users->user("1002@127.0.0.1").registered);
        QVERIFY(!users->user("1003@127.0.0.1").registered);

        // The server's conference plus the permanent primary one; the view keeps one
        // selected and the participants pane shows the selected conference's members.
        ConferenceListModel *conferences = m_parts->conferences();
        QTRY_COMPARE(conferences->rowCount(), 2);
        QString selected;
        QVERIFY(m_window->conferenceView()->selectedConference(selected));
        const int row = conferences
                            ->match(conferences->index(0, 0), ConferenceListModel::ConferenceIdRole, "3000",
                                    1, Qt::MatchExactly)
                            .value(0)
                            .row();
        m_window->conferenceView()->setCurrentIndex(conferences->index(row, 0));
        QTRY_VERIFY(shownMembers() && shownMembers()->rowCount() == 2);
        QVERIFY(m_window->errorPanel()->isHidden() && panesCurrent());

        QCOMPARE(m_window->conferenceControl()->selectedConference(), QString("3000"));
    }

    // A dropped link and the reconnect are the end-to-end console test's (e2econsole_test).
    void silentServerIsDeadUntilItAnswersThenReloadsOnce()
    {
        QTRY_VERIFY(panesCurrent());
        const int listsBefore = listed();
        const int snapshotsBefore = conferenceSnapshots();
        const int connectionsBefore = m_server->connectionCount();
        QStackedWidget *stack = m_window->mainStack();
        const auto page = [stack](int index) { return stack->widget(index)->isEnabled(); };

        // The idle keep-alive goes unanswered: the request times out on a live socket.
        // The server pages are locked, the local ones not.
        m_server->setHoldReplies(true);
        QTRY_VERIFY_WITH_TIMEOUT(m_window->connectionWatch()->isDead(), 5000);
        QVERIFY(m_window->errorPanel()->messages().contains(MainAppFrameWindow3::deadLinkText()));
        QVERIFY(m_window->errorPanel()->isVisible() && m_window->staleBanner()->isVisibleTo(m_window));
        QVERIFY(!page(MainAppFrameWindow3::ConferencesPage) && !page(MainAppFrameWindow3::RecordingsPage));
        QVERIFY(page(MainAppFrameWindow3::SettingsPage) && page(MainAppFrameWindow3::PhoneBookPage));

        m_server->setHoldReplies(false);
        while (m_server->releaseHeldReply()) {
        }
        QTRY_VERIFY_WITH_TIMEOUT(panesCurrent(), 5000);
        QVERIFY(page(MainAppFrameWindow3::ConferencesPage));
        QTest::qWait(600);
        QCOMPARE(m_server->connectionCount(), connectionsBefore);
        QCOMPARE(listed(), listsBefore + 1);
        QCOMPARE(conferenceSnapshots(), snapshotsBefore + 1);
        QTRY_VERIFY(m_window->errorPanel()->isHidden());
    }

    void phoneBookIsReadWhenItsPageOpensAndTheFileChanged()
    {
        // The file rules themselves are PhoneBookFile's (widgets test); here: when the window asks.
        QPlainTextEdit *view = m_window->phonebookView();
        QFile file(XMLConfig::instance().phoneBookPath);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("112\n") == 4);
        file.close();
        m_window->PhonebookButtonPressed();
        QCOMPARE(m_window->mainStack()->currentIndex(), int(MainAppFrameWindow3::PhoneBookPage));
        QCOMPARE(view->toPlainText(), QString("112\n"));
        view->setPlainText("marker");
        m_window->HomeButtonPressed();
        m_window->PhonebookButtonPressed(); // unchanged file: not read again
        QCOMPARE(view->toPlainText(), QString("marker"));
        QVERIFY(file.open(QIODevice::Append) && file.write("103\n") == 4);
        file.flush();
        file.setFileTime(QDateTime::currentDateTime().addSecs(3), QFileDevice::FileModificationTime);
        file.close();
        m_window->HomeButtonPressed();
        m_window->PhonebookButtonPressed();
        QCOMPARE(view->toPlainText(), QString("112\n103\n"));
        m_window->HomeButtonPressed();
    }

    void userFilterRowAndMicrophone()
    {
        m_window->FilterZoomButtonPressed();
        QVERIFY(m_window->usersFilterShown());
        QTest::keyClicks(m_window->filterLine(), "Petr");
        QCOMPARE(m_window->userView()->filter(), QString("Petr"));
        QTest::keyClick(m_window->filterLine(), Qt::Key_Escape);
        QVERIFY(!m_window->usersFilterShown());
        QCOMPARE(m_window->userView()->filter(), QString());
        m_window->FilterZoomButtonPressed(); // reopening keeps the text and applies it again
        QCOMPARE(m_window->userView()->filter(), QString("Petr"));
        m_window->FilterCloseButtonPressed();

        QAction *mic = m_window->microphoneAction();
        mic->trigger();
        QVERIFY(m_window->microphoneMuted());
        QCOMPARE(mic->toolTip(), QString("Включить микрофон"));
        mic->trigger();
        QVERIFY(!m_window->microphoneMuted());
    }

    void settingsSavedInTheWindowReachItsPanes()
    {
        XMLConfig &c = XMLConfig::instance();
        ::SettingsPage *page = m_window->settingsPage();
        m_window->PreferencesButtonPressed();
        QCOMPARE(m_window->mainStack()->currentWidget(), page);

        // Moving the microphone slider while muted makes the microphone live.
        m_window->microphoneAction()->trigger();
        QVERIFY(m_window->microphoneMuted());
        auto *input = page->findChild<QSlider *>("InputSoundDeviceVolume");
        QVERIFY(input);
        input->setValue(input->value() == 40 ? 41 : 40);
        QVERIFY(!m_window->microphoneMuted());
        QCOMPARE(m_window->microphoneAction()->toolTip(), QString("Выключить микрофон"));

        // Message boxes of the save are read and closed as they come up.
        QStringList boxes;
        QTimer closer;
        connect(&closer, &QTimer::timeout, [&boxes] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                boxes << box->text();
                box->close();
            }
        });
        closer.start(20);

        SettingsForm form = page->form();
        form.showLog = false;
        form.phoneBookFontSize = "20";
        form.warningForUser = "1003";
        page->setForm(form);
        m_window->SaveSettingsPressed();
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes.first().startsWith(SettingsController::initFailedText(QString())),
                 qPrintable(boxes.first()));
        QWidget *conferencesPage = m_window->mainStack()->widget(MainAppFrameWindow3::ConferencesPage);
        QVERIFY(!m_window->logView()->isVisibleTo(conferencesPage));
        QCOMPARE(m_window->phonebookView()->font().pointSize(), 20);
        QCOMPARE(m_parts->users()->mandatoryUsers(), QSet<QString>{"1003@127.0.0.1"});
        // Сидорова Анна is not registered: the warning is up at once.
        QCOMPARE(m_window->errorPanel()->messages().size(), 1);
        QVERIFY(m_window->errorPanel()->messages().first().contains("Сидорова Анна"));

        // A file that cannot be written shows in the panel and under the page's buttons.
        const QString good = c.filePath;
        c.filePath = m_dir.filePath("missing/folder/TesmarDispatcher.xml");
        const QString failure = MainAppFrameWindow3::saveFailedText(c.filePath);
        form.warningForUser.clear();
        form.showLog = true;
        page->setForm(form);
        m_window->SaveSettingsPressed();
        QVERIFY(m_window->logView()->isVisibleTo(conferencesPage));
        QVERIFY(!page->fieldError(SettingsForm::Field::File).isEmpty());
        QTRY_COMPARE(m_window->errorPanel()->messages(), QStringList{failure});
        c.filePath = good;
        m_window->SaveSettingsPressed();
        QVERIFY(page->fieldError(SettingsForm::Field::File).isEmpty());
        QTRY_VERIFY(m_window->errorPanel()->messages().isEmpty());
        QCOMPARE(boxes.size(), 3);

        // The agent failing later, on its own start, stays in the panel until it starts.
        const QString late = SettingsController::initFailedText("нет звуковой карты");
        emit CPJSIPSUA::instance().initFailed("нет звуковой карты");
        QCOMPARE(m_window->errorPanel()->messages(), QStringList{late});
        QTest::qWait(150);
        emit CPJSIPSUA::instance().initialised();
        QVERIFY(m_window->errorPanel()->messages().isEmpty());
        m_window->HomeButtonPressed();
    }

    void watchedUserWarningsReachThePanelAndClosingStopsTheWorkers()
    {
        emit m_parts->users()->setWarning("Пользователь Сидорова Анна не зарегистрирован");
        QCOMPARE(m_window->errorPanel()->messages().size(), 1);
        QTest::qWait(150);
        emit m_parts->users()->clearWarning("Пользователь Сидорова Анна не зарегистрирован");
        QVERIFY(m_window->errorPanel()->messages().isEmpty());

        QVERIFY(m_window->workerThread(0)->isRunning());
        QVERIFY(m_window->workerThread(1)->isRunning());
        m_window->close();
        QVERIFY(m_window->workerThread(0)->isFinished());
        QVERIFY(m_window->workerThread(1)->isFinished());
    }
};

QTEST_MAIN(MainWindowTest)
#include "mainwindow_test.moc"
