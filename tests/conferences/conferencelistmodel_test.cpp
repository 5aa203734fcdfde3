#include "conferencetestutil.h"

#include "conferences/deferredautodelete.h"

#include <QAbstractItemModelTester>
#include <QtTest>

#include <memory>

using namespace conftest;
using Tester = QAbstractItemModelTester;

class ConferenceListModelTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<ESL2> m_esl;
    std::unique_ptr<LM> m_model;
    QList<std::shared_ptr<PM>> m_watched;

    // The conference's members, checked by the item model tester from now on.
    std::shared_ptr<PM> watch(const QString &conference)
    {
        m_watched << m_model->getParticipantsModel(conference);
        new Tester(m_watched.last().get(), Tester::FailureReportingMode::QtTest, m_model.get());
        return m_watched.last();
    }
    void send(std::initializer_list<ESL2::Event> events)
    {
        for (const ESL2::Event &event : events)
            m_model->conferenceEvent(event);
    }
    std::shared_ptr<PM> create(const QString &conference)
    {
        send({confEvent("conference-create", conference)});
        return watch(conference);
    }
    void job(const QString &uuid, const QString &body) { emit m_esl->backgroundJob(jobResult(uuid, body)); }

private slots:
    void init()
    {
        qRegisterMetaType<Qt::Orientation>();
        resetConfigAndDirectory();
        DeferredAutoDelete::setSecondLengthForTest(1000);
        m_esl = std::make_unique<ESL2>();
        m_model = std::make_unique<LM>();
        new Tester(m_model.get(), Tester::FailureReportingMode::QtTest, m_model.get());
    }

    void cleanup()
    {
        m_watched.clear();
        m_model.reset();
        m_esl.reset();
    }

    void snapshotsFollowTheServer()
    {
        QSignalSpy requests(m_esl.get(), &ESL2::sigSendRequest);
        m_model->eslConnected();
        QCOMPARE(requests.first().mid(0, 3),
                 (QVariantList{"api conference xml_list\n\n", QVariant::fromValue<QObject *>(m_model.get()),
                               "conferenceListReceived"}));

        QSignalSpy entered(m_model.get(), &LM::dispatcherEnteredConference);
        QSignalSpy left(m_model.get(), &LM::dispatcherLeftConference);
        QSignalSpy userLeft(m_model.get(), &LM::userLeftConference);
        m_model->conferenceListReceived(snapshot(
            {conference("0", {member("6", "1000", "S"), member("7", "1009", "T"), member("8", "1005", "SG")}),
             conference("room3", {member("2", "pstn:89001234567", "-"), member("3", "1009", "S")})}));
        QCOMPARE(conferenceIds(*m_model), (QStringList{"0", "room3"}));
        QVERIFY(m_model->index(1, 0).data(LM::ActiveRole).toBool());
        auto primary = watch("0");
        auto room3 = watch("room3");
        // The ghost is not a member; the others are connected with their flags.
        QCOMPARE(m_model->index(0, 0).data(LM::ParticipantCountRole).toInt(), 2);
        const QModelIndex muted = memberByUri(*primary, "1009@pbx");
        QCOMPARE(state(muted), int(PM::Connected));
        QVERIFY(!muted.data(PM::CanSpeakRole).toBool() && muted.data(PM::TalkingRole).toBool());
        QCOMPARE(muted.data().toString(), "Имя 1009@pbx"_q);
        QCOMPARE(emitted(entered), QStringList{"0"});

        // The PSTN member loses the gateway prefix and is its bare number, as in its add-member event,
        // so it is found as in the conference; it is marked and makes the conference non-privileged.
        const QModelIndex pstn = room3->index(0, 0);
        QCOMPARE(pstn.data(PM::UriRole).toString(), "89001234567"_q);
        QVERIFY(m_model->isUserInConference("room3", "89001234567"));
        QVERIFY(pstn.data(PM::PstnRole).toBool() && pstn.data(PM::CanSpeakRole).toBool());
        QVERIFY(m_model->index(1, 0).data(LM::NonPrivilegedRole).toBool());
        QVERIFY(m_model->hasNonPrivilegedParticipants("room3") &&
                !m_model->hasNonPrivilegedParticipants("0"));

        // Next: the dispatcher and 1009 left the primary, 1007 joined; 1009 keeps its row in room3.
        m_model->conferenceListReceived(snapshot(
            {conference("0", {member("9", "1007", "S")}), conference("room3", {member("3", "1009", "ST")})}));
        QCOMPARE(primary->rowCount(), 1);
        QCOMPARE(primary->index(0, 0).data(PM::MemberIdRole).toString(), "9"_q);
        QCOMPARE(room3->rowCount(), 1);
        QVERIFY(room3->index(0, 0).data(PM::TalkingRole).toBool());
        QCOMPARE(emitted(userLeft), (QStringList{"0/1000@pbx", "0/1009@pbx", "room3/89001234567"}));
        QCOMPARE(emitted(left), QStringList{"0"});

        // Only a new conference listed: room3 goes without member signals, the unlisted primary stays.
        userLeft.clear();
        m_model->conferenceListReceived(snapshot({conference("night")}));
        QCOMPARE(conferenceIds(*m_model), (QStringList{"0", "night"}));
        QCOMPARE(userLeft.count(), 0);
        QCOMPARE(primary->rowCount(), 1);

        // Broken ones keep only the primary: a broken document, the event-socket client's answer when
        // it is not connected, an error reply.
        const std::pair<QString, QStringList> cases[] = {
            {snapshot({conference("room1"), conference("room2")}), {"0", "room1", "room2"}},
            {"<conferences><conference name=", {"0"}},
            {QString(), {"0"}},
            {"<result>-ERR no conferences</result>", {"0"}},
        };
        for (const auto &c : cases) {
            // The primary row renamed away by a raw display write is recreated at row 0.
            QVERIFY(m_model->setData(m_model->index(0, 0), "renamed", Qt::DisplayRole));
            m_model->conferenceListReceived(c.first);
            QCOMPARE(conferenceIds(*m_model), c.second);
        }
    }

    void snapshotMembersArriveComplete()
    {
        // A conference already shown when the snapshot comes: its view sees each insertion.
        auto room = create("room9");
        QStringList inserted;
        connect(room.get(), &QAbstractItemModel::rowsInserted, this,
                [&](const QModelIndex &, int first, int last) {
                    for (int row = first; row <= last; ++row)
                        inserted << QString::number(state(room->index(row, 0))) + " " +
                                        room->index(row, 0).data(PM::UriRole).toString();
                });
        QStringList seenOnEntry;
        connect(m_model.get(), &LM::dispatcherEnteredConference, this, [&](const QString &name) {
            for (int row = 0; row < room->rowCount(); ++row)
                seenOnEntry << name + ":" + room->index(row, 0).data(PM::MemberIdRole).toString();
            seenOnEntry << QString::number(m_model->index(1, 0).data(LM::ParticipantCountRole).toInt());
        });
        m_model->conferenceListReceived(snapshot({conference(
            "room9", {member("1", "1003", "S"), member("2", "1000", "S"), member("3", "1004", "S")})}));
        // Rows come filled in; the control logic learns of the dispatcher with the members listed before.
        const QString c = QString::number(PM::Connected);
        QCOMPARE(inserted, (QStringList{c + " 1003@pbx", c + " 1000@pbx", c + " 1004@pbx"}));
        QCOMPARE(seenOnEntry, (QStringList{"room9:1", "1"}));
        QCOMPARE(m_model->index(1, 0).data(LM::ParticipantCountRole).toInt(), 3);
        QVERIFY(m_model->index(1, 0).data(LM::NonPrivilegedRole).toBool());
        QCOMPARE(memberByUri(*room, kDispatcher).data().toString(), "Имя 1000@pbx"_q);
    }

    void calledMemberLifecycle()
    {
        XMLConfig::instance().displayDisconnected = 2;
        DeferredAutoDelete::setSecondLengthForTest(20);
        const QString uri = "1003@pbx";
        const QString conf = "конференция-1";

        // Dropped onto empty space: a planned conference with a planned member.
        std::unique_ptr<QMimeData> users(drag("application/x-useruri", {uri}));
        QVERIFY(m_model->dropMimeData(users.get(), Qt::CopyAction, -1, -1, QModelIndex()));
        QCOMPARE(conferenceIds(*m_model), (QStringList{"0", conf}));
        auto members = watch(conf);
        const QModelIndex row = members->index(0, 0);
        QCOMPARE(state(row), int(PM::Planned));

        // The server creates it; the console's placeholder reuses the planned row, its echo is ignored.
        create(conf);
        send({placeholder(conf, uri, "call-A", "job-A"), placeholder(conf, uri, "call-A", "job-A")});
        QCOMPARE(members->rowCount(), 1);
        QCOMPARE(state(row), int(PM::Calling));
        QVERIFY(m_model->isUserInConference(conf, uri));

        send({conftest::event({"Event-Subclass", "alert::notify", "User-Name", uri})});
        QCOMPARE(state(row), int(PM::Alerting));

        // Answered: the real member takes over the ringing row.
        send({addMember(conf, "12", uri, "false")});
        QCOMPARE(members->rowCount(), 1);
        QCOMPARE(state(row), int(PM::Connected));
        QVERIFY(!row.data(PM::CanSpeakRole).toBool());
        QCOMPARE(m_model->getMemberId(conf, uri), "12"_q);
        QVERIFY(m_model->index(1, 0).data(LM::NonPrivilegedRole).toBool());

        QSignalSpy userLeft(m_model.get(), &LM::userLeftConference);
        send({confEvent("del-member", conf, {"Member-ID", "12"})});
        QCOMPARE(state(row), int(PM::Disconnected));
        QCOMPARE(emitted(userLeft), QStringList{conf + '/' + uri});

        // The row goes after the configured two "seconds"; the emptied conference goes with it.
        QCOMPARE(members->rowCount(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(members->rowCount(), 0, 2000);
        QCOMPARE(conferenceIds(*m_model), QStringList{"0"});
    }

    void originateFailureBeforeAndAfterPlaceholder()
    {
        auto members = create("room5");
        auto rowText = [&](const char *uri) -> QString {
            const QModelIndex m = memberByUri(*members, QString::fromLatin1(uri));
            return QString::number(state(m)) + ' ' + m.data(Qt::ToolTipRole).toString();
        };
        const QString failed = QString::number(PM::Failed) + ' ';

        // Fails before the placeholder arrives; of several causes the first in order wins.
        job("job-1", "-ERR USER_BUSY NO_ANSWER\n");
        send({placeholder("room5", "1003@pbx", "call-1", "job-1")});
        QCOMPARE(rowText("1003@pbx"), failed + "Вызываемый пользователь не отвечает");

        // Re-called into the same row and answered: the old failure text goes with the failure.
        send({placeholder("room5", "1003@pbx", "call-1b", "job-1b")});
        QCOMPARE(rowText("1003@pbx"), QString::number(PM::Calling) + ' ');
        send({addMember("room5", "31", "1003@pbx")});
        QCOMPARE(rowText("1003@pbx"), QString::number(PM::Connected) + ' ');
        // A result without a Job-UUID belongs to no row, not to the rows that never had a job.
        job(QString(), "-ERR NO_ANSWER");
        QCOMPARE(rowText("1003@pbx"), QString::number(PM::Connected) + ' ');

        // Fails after the placeholder: the participants model marks the row; +OK changes nothing.
        send({placeholder("room5", "1004@pbx", "call-2", "job-2")});
        job("job-2", "+OK 1234");
        QCOMPARE(rowText("1004@pbx"), QString::number(PM::Calling) + ' ');
        job("job-2", "-ERR CALL_REJECTED\n");
        QCOMPARE(rowText("1004@pbx"), failed + "Вызов отклонен вызываемым пользователем");

        // A placeholder whose originate reply was already an error fails at once, with that text.
        send({placeholder("room5", "1006@pbx", "call-3", "-ERR INVALID_GATEWAY")});
        QCOMPARE(rowText("1006@pbx"), failed + "-ERR INVALID_GATEWAY");
        // A planned row (no job yet) is untouched by a result without a Job-UUID.
        std::unique_ptr<QMimeData> users(drag("application/x-useruri", {"1007@pbx"}));
        send({confEvent("conference-destroy", "room5")});
        QVERIFY(m_model->dropMimeData(users.get(), Qt::CopyAction, -1, -1, m_model->index(1, 0)));
        job(QString(), "-ERR NO_ANSWER");
        QCOMPARE(rowText("1007@pbx"), QString::number(PM::Planned) + ' ');
        members->removeRow(memberByUri(*members, "1007@pbx").row());

        // With "DisplayFailedCalls" set, failed rows leave by themselves.
        XMLConfig::instance().displayFailedCalls = 1;
        DeferredAutoDelete::setSecondLengthForTest(10);
        send({placeholder("room5", "1008@pbx", "call-4", "job-4")});
        job("job-4", "-ERR NO_ANSWER");
        QTRY_COMPARE_WITH_TIMEOUT(members->rowCount(), 3, 2000);
        QVERIFY(!memberByUri(*members, "1008@pbx").isValid());

        // A failed row called again and failing again shows the new failure for its whole delay: the
        // first failure's timer does not take it away early.
        XMLConfig::instance().displayFailedCalls = 30;
        send({placeholder("room5", "1008@pbx", "call-5", "job-5")});
        job("job-5", "-ERR USER_BUSY");
        QTest::qWait(200);
        send({placeholder("room5", "1008@pbx", "call-6", "job-6")});
        job("job-6", "-ERR USER_BUSY");
        QTest::qWait(150);
        QCOMPARE(state(memberByUri(*members, "1008@pbx")), int(PM::Failed));
        QTRY_VERIFY_WITH_TIMEOUT(!memberByUri(*members, "1008@pbx").isValid(), 2000);
    }

    void dispatcherOwnRowsAndCallErrors()
    {
        QSignalSpy entered(m_model.get(), &LM::dispatcherEnteredConference);
        QSignalSpy left(m_model.get(), &LM::dispatcherLeftConference);
        auto room7 = create("room7");

        // The placeholder of the dispatcher's own call does not count as joining.
        send({placeholder("room7", kDispatcher, "c1", "j1")});
        QCOMPARE(entered.count(), 0);
        send({addMember("room7", "21", kDispatcher), addMember("room7", "22", kDispatcher)});
        QCOMPARE(entered.count(), 1);
        QVERIFY(!m_model->index(1, 0).data(LM::NonPrivilegedRole).toBool());

        // The hooks of the control logic: the conferences the dispatcher is connected in, by name.
        auto alpha = create("alpha");
        send({addMember("alpha", "40", kDispatcher), addMember("alpha", "41", "1003@pbx")});
        QCOMPARE(m_model->dispatcherConferences(), (QStringList{"alpha", "room7"}));
        QCOMPARE(m_model->conferenceNames(), (QStringList{"0", "alpha", "room7"}));
        QVERIFY(m_model->hasConference("alpha") && !m_model->hasConference("beta"));
        send({confEvent("del-member", "alpha", {"Member-ID", "40"})});
        QCOMPARE(m_model->dispatcherConferences(), QStringList{"room7"});

        send({confEvent("del-member", "room7", {"Member-ID", "21"})});
        QCOMPARE(left.count(), 1);
        QCOMPARE(m_model->getMemberId("room7", kDispatcher), "22"_q);
        send({confEvent("del-member", "room7", {"Member-ID", "22"})});
        QCOMPARE(left.count(), 2);
        QVERIFY(!m_model->isDispatcherConnected());
        // Disconnected rows stay while "DisplayDisconnected" is 0; joining again is a new transition.
        send({addMember("room7", "23", kDispatcher)});
        QCOMPARE(entered.count(), 3);
        QCOMPARE(room7->rowCount(), 2);

        time_t now = 100000;
        m_model->setClockForTest([&now] { return now; });
        auto members = create("room5");
        QSignalSpy callError(m_model.get(), &LM::dispatcherCallError);

        // The dispatcher's own call fails after its placeholder, and before the next one.
        send({placeholder("room5", kDispatcher, "call-d", "job-d")});
        job("job-d", "-ERR USER_NOT_REGISTERED");
        QCOMPARE(emitted(callError), QStringList{"room5/Ошибка вызова: -ERR USER_NOT_REGISTERED"});
        job("job-e", "-ERR NO_ANSWER");
        QCOMPARE(callError.count(), 1);
        send({placeholder("room5", kDispatcher, "call-e", "job-e")});
        QCOMPARE(emitted(callError).value(1), "room5/Вызываемый пользователь не отвечает"_q);

        // A stored failure lives one hour: past that the next failure purges it.
        job("job-h", "-ERR USER_BUSY");
        now += 3601;
        job("job-i", "-ERR USER_BUSY");
        send({placeholder("room5", "1004@pbx", "call-h", "job-h")});
        QCOMPARE(state(memberByUri(*members, "1004@pbx")), int(PM::Calling));
    }

    void modelBuiltBeforeTheEventSocketClient()
    {
        m_model.reset();
        m_esl.reset();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("no event-socket client yet"));
        m_model = std::make_unique<LM>();
        auto members = create("room4");
        send({placeholder("room4", "1003@pbx", "call-1", "job-1")});

        // The client comes later; from its first connection on the originate results arrive.
        m_esl = std::make_unique<ESL2>();
        m_model->eslConnected();
        job("job-1", "-ERR USER_BUSY");
        QCOMPARE(state(members->index(0, 0)), int(PM::Failed));
        QCOMPARE(members->index(0, 0).data(Qt::ToolTipRole).toString(), "Пользователь занят"_q);
    }

    void memberEventsAndPrimaryOnlyEntrySignal()
    {
        QSignalSpy userEntered(m_model.get(), &LM::userEnteredConference);
        auto primary = create("0");
        auto room2 = create("room2");
        send({addMember("0", "5", "1003@pbx"), addMember("room2", "6", "1004@pbx")});
        QCOMPARE(emitted(userEntered), QStringList{"0/1003@pbx"});

        // Ghosts and events for unknown conferences change nothing.
        ESL2::Event ghost = addMember("0", "7", "1005@pbx");
        ghost.insert("Member-Ghost", "TRUE");
        send({ghost, addMember("nowhere", "8", "1005@pbx"), addMember(QString(), "8", "1005@pbx")});
        QCOMPARE(primary->rowCount(), 1);
        QCOMPARE(m_model->rowCount(), 2);

        // A PSTN caller found by its number when there is no presence id.
        ESL2::Event pstn = addMember("room2", "9", QString());
        pstn.insert("Caller-Caller-ID-Number", "pstn:84951234567");
        send({pstn});
        QVERIFY(memberByUri(*room2, "84951234567").data(PM::PstnRole).toBool());

        const QModelIndex m = primary->index(0, 0);
        send({confEvent("mute-member", "0", {"Member-ID", "5"}),
              confEvent("start-talking", "0", {"Member-ID", "5"})});
        QVERIFY(!m.data(PM::CanSpeakRole).toBool() && m.data(PM::TalkingRole).toBool());
        send({confEvent("unmute-member", "0", {"Member-ID", "5"}),
              confEvent("stop-talking", "0", {"Member-ID", "5"})});
        QVERIFY(m.data(PM::CanSpeakRole).toBool() && !m.data(PM::TalkingRole).toBool());

        // Destroy keeps the row and its members but clears the flags.
        send({confEvent("conference-destroy", "room2")});
        QVERIFY(!m_model->index(1, 0).data(LM::ActiveRole).toBool());
        QVERIFY(!m_model->index(1, 0).data(LM::NonPrivilegedRole).toBool());
        QCOMPARE(room2->rowCount(), 2);
    }

    void dropsOfUsersAndMembers()
    {
        create("room1");
        send({addMember("room1", "3", "1003@pbx")});
        QSignalSpy calls(m_model.get(), &LM::callToConference);
        QSignalSpy transfers(m_model.get(), &LM::transferRequest);
        const QModelIndex room1 = m_model->index(1, 0);
        std::unique_ptr<QMimeData> users(drag("application/x-useruri", {"1004@pbx", "1005@pbx", "1004@pbx"}));

        // Active target: one call per distinct URI, nothing stored locally.
        QVERIFY(m_model->dropMimeData(users.get(), Qt::CopyAction, -1, 0, room1));
        QCOMPARE(emitted(calls), (QStringList{"room1/1004@pbx", "room1/1005@pbx"}));
        QCOMPARE(m_model->getParticipantsModel("room1")->rowCount(), 1);

        // Inactive primary: planned members, one per URI, none twice.
        auto primary = watch("0");
        QVERIFY(m_model->dropMimeData(users.get(), Qt::CopyAction, -1, -1, m_model->index(0, 0)));
        QVERIFY(m_model->dropMimeData(users.get(), Qt::CopyAction, -1, -1, m_model->index(0, 0)));
        QCOMPARE(primary->rowCount(), 2);
        QCOMPARE(primary->index(1, 0).data().toString(), "Имя 1005@pbx"_q);

        // Members back onto their own conference: refused; onto another: one transfer each; on
        // empty space they go to a fresh planned conference.
        const char *memberMime = "application/x-conference-member";
        std::unique_ptr<QMimeData> own(drag(memberMime, {"room1", "3"}));
        QVERIFY(!m_model->dropMimeData(own.get(), Qt::CopyAction, -1, -1, room1));
        // Dragged rows are only ever copied: a move would let Qt delete the source row itself, and
        // the server's del-member, which really moves the member, would find nothing.
        QCOMPARE(m_model->getParticipantsModel("room1")->supportedDragActions(), Qt::CopyAction);
        std::unique_ptr<QMimeData> two(drag(memberMime, {"room1", "3", "4"}));
        QVERIFY(m_model->dropMimeData(two.get(), Qt::CopyAction, -1, -1, m_model->index(0, 0)));
        QVERIFY(m_model->dropMimeData(two.get(), Qt::MoveAction, 3, -1, QModelIndex()));
        QCOMPARE(emitted(transfers),
                 (QStringList{"0/room1/3", "0/room1/4", "конференция-1/room1/3", "конференция-1/room1/4"}));

        // The next new conference takes the next free number, with the configured prefix.
        XMLConfig::instance().newConferencePrefix = "conf-";
        QCOMPARE(m_model->addNewConference(), 3);
        m_model->addNewConference();
        // A prefix that would make names the server cannot take falls back to the standard one.
        XMLConfig::instance().newConferencePrefix = "ночная смена-";
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("unusable prefix"));
        m_model->addNewConference();
        QCOMPARE(conferenceIds(*m_model).mid(2),
                 (QStringList{"конференция-1", "conf-1", "conf-2", "конференция-2"}));
    }

    void renamesAndPrimaryChanges()
    {
        const QModelIndex idx = m_model->index(m_model->addNewConference(), 0);
        auto editable = [&](const QModelIndex &i) { return bool(m_model->flags(i) & Qt::ItemIsEditable); };
        QVERIFY(editable(idx) && !editable(m_model->index(0, 0)));
        auto members = watch(idx.data(LM::ConferenceIdRole).toString());

        // Taking the primary's shown name means taking the primary's id, which exists; names the server
        // cannot take as one word are refused with the reason.
        QSignalSpy refusedNames(m_model.get(), &LM::nameRefused);
        for (const QString &refused : {QString(), "Главная"_q, "0"_q, "a b"_q, "x,y"_q, "room@default"_q})
            QVERIFY(!m_model->setData(idx, refused, Qt::EditRole));
        QCOMPARE(emitted(refusedNames),
                 (QStringList{
                     "Недопустимое имя конференции «a b»: пробелы, табуляция и переводы строк недопустимы",
                     "Недопустимое имя конференции «x,y»: символ «,» недопустим",
                     "Недопустимое имя конференции «room@default»: символ «@» недопустим"}));
        QVERIFY(m_model->setData(idx, "Пожар", Qt::EditRole));
        QCOMPARE(idx.data(LM::ConferenceIdRole).toString(), "Пожар"_q);
        QCOMPARE(members->headerData(0, Qt::Horizontal).toString(), "Пожар"_q);

        // A server conference is not renamable.
        create("Пожар");
        QVERIFY(!editable(idx));

        // A new primary id: without members the old primary goes; the new one appears at row 0.
        XMLConfig &config = XMLConfig::instance();
        config.primaryConferenceId = "100";
        m_model->configChanged();
        QCOMPARE(conferenceIds(*m_model), (QStringList{"100", "Пожар"}));

        // With members the old primary stays as an ordinary conference; an existing row
        // becomes the primary in place, and the former primary now empties like any other.
        send({addMember("100", "1", "1003@pbx")});
        config.primaryConferenceId = "Пожар";
        config.primaryConferenceDisplayName = "Основная";
        m_model->configChanged();
        QCOMPARE(conferenceIds(*m_model), (QStringList{"100", "Пожар"}));
        QCOMPARE(m_model->index(1, 0).data().toString(), "Основная"_q);
        m_model->getParticipantsModel("100")->removeRows(0, 1);
        QCOMPARE(conferenceIds(*m_model), QStringList{"Пожар"});
    }
};

QTEST_GUILESS_MAIN(ConferenceListModelTest)
#include "conferencelistmodel_test.moc"
