// The console against the lab, as a dispatcher uses it: automatic log-in as the sample
// dispatcher, the whole user tree and the running conferences as the lab reports them, a
// member joining and leaving, and the lab going away and coming back.

#include "app/cstartupdlg.h"
#include "app/startup.h"
#include "app/xmlconfig.h"
#include "conferences/conferencecontrol.h"
#include "conferences/conferencelistmodel.h"
#include "conferences/conferencelistview.h"
#include "conferences/conferenceparticipantsmodel.h"
#include "conferences/conferenceparticipantsview.h"
#include "esl/esl2.h"
#include "sip/cpjsipsua.h"
#include "tests/support/labenv.h"
#include "ui/connectionwatch.h"
#include "ui/consoleparts.h"
#include "ui/errorpanel.h"
#include "ui/mainappframewindow3.h"
#include "users/userlistmodel.h"

#include <QDomDocument>
#include <QLabel>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QtTest>

using PM = ConferenceParticipantsModel;

class E2eConsoleTest : public QObject
{
    Q_OBJECT

private:
    LabEnv m_env;
    QTemporaryDir m_dir;
    ConsoleParts *m_parts = nullptr;
    MainAppFrameWindow3 *m_window = nullptr;

    QString uri(const QString &id) const { return id + "@" + m_env.value("LAB_DOMAIN"); }
    int requests(const QString &what) const { return m_requests.count(what); }
    QStringList m_requests;

    // The lab's conferences: name -> member count.
    QMap<QString, int> labConferences() const
    {
        QDomDocument doc;
        doc.setContent(m_env.control("conferences"));
        QMap<QString, int> out;
        for (QDomElement c = doc.documentElement().firstChildElement("conference"); !c.isNull();
             c = c.nextSiblingElement("conference"))
            out.insert(c.attribute("name"), c.attribute("member-count").toInt());
        return out;
    }
    QMap<QString, int> consoleConferences() const
    {
        QMap<QString, int> out;
        ConferenceListModel *model = m_parts->conferences();
        for (int row = 0; row < model->rowCount(); ++row) {
            const auto members = model->getParticipantsModel(row);
            int connected = 0;
            for (int i = 0; members && i < members->rowCount(); ++i)
                connected += members->index(i, 0).data(PM::StateRole).toInt() == PM::Connected;
            out.insert(model->index(row, 0).data(ConferenceListModel::ConferenceIdRole).toString(),
                       connected);
        }
        return out;
    }
    bool panesCurrent() const
    {
        return !m_window->connectionWatch()->isStale() && m_window->errorPanel()->messages().isEmpty();
    }

private slots:
    void initTestCase()
    {
        QString why;
        QVERIFY2(m_env.load(&why), qPrintable(why));
        XMLConfig &c = XMLConfig::instance();
        c.filePath = m_dir.filePath("TesmarDispatcher.xml");
        c.eslPort = m_env.port("LAB_ESL_PORT");
        c.dbPort = m_env.port("LAB_DB_PORT");
        c.sshPort = m_env.port("LAB_SSH_PORT");
        c.externalUA = true; // the lab has no SIP registrar
        c.alarmSound = false;
        c.users = {{uri(m_env.value("LAB_DISPATCHER_USER")), true, m_env.value("LAB_DISPATCHER_PASSWORD")}};
        CPJSIPSUA::instance().setDataDirectory(m_dir.filePath("sip"));

        m_parts = new ConsoleParts([] { return new CStartupDlg; });
        m_parts->createProcessObjects();
        m_parts->esl()->setTimerIntervalsForTest(5000, 1000, 500);
        connect(m_parts->esl(), &ESL2::connected, this, [this] { m_requests << "connected"; });
        connect(m_parts->users(), &UserListModel::userListReloaded, this, [this] { m_requests << "users"; });
        connect(m_parts->conferences(), &ConferenceListModel::conferenceListReloaded, this,
                [this] { m_requests << "conferences"; });
    }

    void cleanupTestCase()
    {
        m_env.control("fault refuse off");
        if (m_parts) {
            if (m_window)
                m_parts->destroySession();
            m_parts->closeLinks();
            m_parts->destroyProcessObjects();
        }
        delete m_parts;
    }

    void dispatcherLogsInAndSeesTheLab()
    {
        // The stored dispatcher logs in by itself.
        std::unique_ptr<QDialog> dialog(m_parts->createLoginDialog());
        QTRY_COMPARE_WITH_TIMEOUT(dialog->result(), int(QDialog::Accepted), 20000);
        dialog.reset();
        m_window = qobject_cast<MainAppFrameWindow3 *>(m_parts->createSession());
        QVERIFY(m_window);
        m_window->errorPanel()->setMinimumDisplayTimeForTest(200);
        m_window->show();
        QTRY_VERIFY_WITH_TIMEOUT(requests("conferences") >= 1, 20000);

        // Every user of the lab with its registration state and role.
        UserListModel *users = m_parts->users();
        const QStringList lines = QString::fromUtf8(m_env.control("users")).split('\n', Qt::SkipEmptyParts);
        QVERIFY(lines.size() > 10);
        for (const QString &line : lines) {
            const QStringList f = line.split(' ');
            const QString u = uri(f.at(0));
            QVERIFY2(users->hasUser(u), qPrintable(u));
            QCOMPARE(users->user(u).registered, f.at(1).startsWith("sip:"));
            const bool privileged = f.at(0).startsWith("10") || f.at(0).startsWith("11");
            QCOMPARE(users->isDispatcherOrTechnician(u), privileged);
        }
        // The running conferences with their members.
        QTRY_COMPARE(consoleConferences(), labConferences());
        QVERIFY(panesCurrent());
    }

    void membersComeAndGo()
    {
        const QString subscriber = m_env.value("LAB_SUBSCRIBER_USER");
        const QString conference = "e2e-" + QString::number(QDateTime::currentMSecsSinceEpoch() % 100000);
        QVERIFY(m_env.control("api originate user/" + uri(subscriber) + " &conference(" + conference + ")")
                    .startsWith("+OK"));
        QTRY_VERIFY_WITH_TIMEOUT(consoleConferences().value(conference) == 1, 10000);
        QCOMPARE(consoleConferences(), labConferences());

        // Selected, it shows its member; hung up, the member goes and so does the conference.
        ConferenceListModel *model = m_parts->conferences();
        const QModelIndexList rows = model->match(model->index(0, 0), ConferenceListModel::ConferenceIdRole,
                                                  conference, 1, Qt::MatchExactly);
        QVERIFY(!rows.isEmpty());
        m_window->conferenceView()->setCurrentIndex(rows.first());
        QTRY_COMPARE(m_window->conferenceControl()->selectedConference(), conference);
        auto *shown = qobject_cast<PM *>(m_window->participantsView()->model());
        QVERIFY(shown && shown->rowCount() == 1);
        QCOMPARE(shown->index(0, 0).data(PM::UriRole).toString(), uri(subscriber));
        const QString callUuid = shown->index(0, 0).data(PM::CallUuidRole).toString();
        QVERIFY(!callUuid.isEmpty());
        QVERIFY(m_env.control("hangup " + callUuid).startsWith("+OK"));
        QTRY_VERIFY_WITH_TIMEOUT(!consoleConferences().contains(conference), 15000);
        QCOMPARE(consoleConferences(), labConferences());
    }

    void labGoesAwayAndComesBack()
    {
        QTRY_VERIFY(panesCurrent());
        m_requests.clear();
        QVERIFY(m_env.control("fault refuse on").startsWith("+OK"));
        QVERIFY(m_env.control("fault close").startsWith("+OK"));
        QTRY_VERIFY_WITH_TIMEOUT(
            m_window->errorPanel()->messages().contains(MainAppFrameWindow3::deadLinkText()), 5000);
        QVERIFY(!m_window->mainStack()->widget(MainAppFrameWindow3::ConferencesPage)->isEnabled());
        QVERIFY(m_window->staleBanner()->isVisibleTo(m_window));
        QTest::qWait(2500); // retries meet a closed port meanwhile
        QVERIFY(m_window->connectionWatch()->isDead());

        QVERIFY(m_env.control("fault refuse off").startsWith("+OK"));
        QTRY_VERIFY_WITH_TIMEOUT(panesCurrent(), 20000);
        QVERIFY(m_window->mainStack()->widget(MainAppFrameWindow3::ConferencesPage)->isEnabled());
        QTest::qWait(1500);
        // Exactly one reload after the reconnect.
        QCOMPARE(m_requests, (QStringList{"connected", "users", "conferences"}));
        QCOMPARE(consoleConferences(), labConferences());
    }
};

QTEST_MAIN(E2eConsoleTest)
#include "e2econsole_test.moc"
