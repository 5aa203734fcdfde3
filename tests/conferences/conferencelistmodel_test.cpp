#include "conferencetestutil.h"

#include "conferences/deferredautodelete.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

using namespace conftest;

class ConferenceListModelTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void snapshotsFollowTheServer();
    void brokenSnapshotsKeepOnlyThePrimary();
    void calledMemberLifecycle();
    void originateFailureBeforeAndAfterPlaceholder();
    void dispatcherCallErrorAndPendingPurge();
    void dispatcherStaysWhileASecondRowIsConnected();
    void memberEventsAndPrimaryOnlyEntrySignal();
    void dropsOfUsersAndMembers();
    void renamesAndFlags();
    void configChangedMovesThePrimary();

private:
    // The conference's members, checked by the item model tester from now on.
    std::shared_ptr<PM> watch(const QString &conference);
    void create(const QString &conference)
    {
        m_model->conferenceEvent(confEvent("conference-create"_q, conference));
    }

    std::unique_ptr<ESL2> m_esl;
    std::unique_ptr<LM> m_model;
    QList<std::shared_ptr<PM>> m_watched;
};

void ConferenceListModelTest::init()
{
    qRegisterMetaType<Qt::Orientation>();
    resetConfigAndDirectory();
    DeferredAutoDelete::setSecondLengthForTest(1000);
    m_esl = std::make_unique<ESL2>();
    m_model = std::make_unique<LM>();
    new QAbstractItemModelTester(m_model.get(), QAbstractItemModelTester::FailureReportingMode::QtTest,
                                 m_model.get());
}

void ConferenceListModelTest::cleanup()
{
    m_watched.clear();
    m_model.reset();
    m_esl.reset();
    MemberDirectory::setOverrideForTest({});
}

std::shared_ptr<PM> ConferenceListModelTest::watch(const QString &conference)
{
    std::shared_ptr<PM> members = m_model->getParticipantsModel(conference);
    if (members) {
        m_watched << members;
        new QAbstractItemModelTester(members.get(), QAbstractItemModelTester::FailureReportingMode::QtTest,
                                     m_model.get());
    }
    return members;
}

void ConferenceListModelTest::snapshotsFollowTheServer()
{
    QSignalSpy requests(m_esl.get(), &ESL2::sigSendRequest);
    m_model->eslConnected();
    QCOMPARE(requests.count(), 1);
    QCOMPARE(requests.first().at(0).toString(), "api conference xml_list\n\n"_q);
    QCOMPARE(requests.first().at(1).value<QObject *>(), m_model.get());
    QCOMPARE(requests.first().at(2).toString(), "conferenceListReceived"_q);

    // Before any snapshot: only the inactive primary, shown by its display name.
    QCOMPARE(conferenceIds(*m_model), QStringList{"0"_q});
    QCOMPARE(m_model->index(0, 0).data().toString(), "Главная"_q);
    QVERIFY(!m_model->index(0, 0).data(LM::ActiveRole).toBool());

    QSignalSpy entered(m_model.get(), &LM::dispatcherEnteredConference);
    QSignalSpy left(m_model.get(), &LM::dispatcherLeftConference);
    QSignalSpy userLeft(m_model.get(), &LM::userLeftConference);
    m_model->conferenceListReceived(
        snapshot({conference("0"_q, {member("6"_q, "1000"_q, flags(true, false)),
                                     member("7"_q, "1009"_q, flags(false, true)),
                                     member("8"_q, "1005"_q, flags(true, false, true))}),
                  conference("room3"_q, {member("2"_q, "pstn:89001234567"_q, "-"_q),
                                         member("3"_q, "1009"_q, flags(true, false))})}));
    QCOMPARE(conferenceIds(*m_model), (QStringList{"0"_q, "room3"_q}));
    QVERIFY(m_model->index(1, 0).data(LM::ActiveRole).toBool());
    auto primary = watch("0"_q);
    auto room3 = watch("room3"_q);
    // The ghost is not a member; the others are connected with their flags.
    QCOMPARE(m_model->index(0, 0).data(LM::ParticipantCountRole).toInt(), 2);
    const QModelIndex muted = memberByUri(*primary, "1009@example.org"_q);
    QCOMPARE(muted.data(PM::StateRole).toInt(), int(PM::Connected));
    QVERIFY(!muted.data(PM::CanSpeakRole).toBool());
    QVERIFY(muted.data(PM::TalkingRole).toBool());
    QCOMPARE(muted.data().toString(), "Имя 1009@example.org"_q);
    QVERIFY(!m_model->index(0, 0).data(LM::NonPrivilegedRole).toBool());
    QCOMPARE(entered.count(), 1);
    QCOMPARE(m_model->getMemberId("0"_q, kDispatcher), "6"_q);

    // The PSTN member loses the gateway prefix, is marked and makes the conference non-privileged.
    const QModelIndex pstn = room3->index(0, 0);
    QCOMPARE(pstn.data(PM::UriRole).toString(), "89001234567@example.org"_q);
    QVERIFY(pstn.data(PM::PstnRole).toBool());
    QVERIFY(pstn.data(PM::CanSpeakRole).toBool());
    QVERIFY(m_model->index(1, 0).data(LM::NonPrivilegedRole).toBool());
    QVERIFY(m_model->hasNonPrivilegedParticipants("room3"_q));
    QVERIFY(!m_model->hasNonPrivilegedParticipants("0"_q));

    // Next: the dispatcher and 1009 left the primary, 1007 joined; 1009 keeps its row in room3.
    m_model->conferenceListReceived(
        snapshot({conference("0"_q, {member("9"_q, "1007"_q, flags(true, false))}),
                  conference("room3"_q, {member("3"_q, "1009"_q, flags(true, true))})}));
    QCOMPARE(primary->rowCount(), 1);
    QCOMPARE(primary->index(0, 0).data(PM::MemberIdRole).toString(), "9"_q);
    QCOMPARE(room3->rowCount(), 1);
    QVERIFY(room3->index(0, 0).data(PM::TalkingRole).toBool());
    QStringList leftUris;
    for (const QList<QVariant> &args : userLeft)
        leftUris << args.at(0).toString() + QLatin1Char('/') + args.at(1).toString();
    leftUris.sort();
    QCOMPARE(leftUris, (QStringList{"0/1000@example.org"_q, "0/1009@example.org"_q,
                                    "room3/89001234567@example.org"_q}));
    QCOMPARE(left.count(), 1);
    QCOMPARE(left.first().at(0).toString(), "0"_q);

    // A snapshot listing only a new conference: room3 goes without member signals, the
    // unlisted primary stays with its member.
    userLeft.clear();
    m_model->conferenceListReceived(snapshot({conference("night"_q)}));
    QCOMPARE(conferenceIds(*m_model), (QStringList{"0"_q, "night"_q}));
    QCOMPARE(userLeft.count(), 0);
    QCOMPARE(primary->rowCount(), 1);
}

void ConferenceListModelTest::brokenSnapshotsKeepOnlyThePrimary()
{
    m_model->conferenceListReceived(snapshot({conference("room1"_q), conference("room2"_q)}));
    QCOMPARE(m_model->rowCount(), 3);
    m_model->conferenceListReceived("<conferences><conference name="_q);
    QCOMPARE(conferenceIds(*m_model), QStringList{"0"_q});

    // An element without a name and one without members are tolerated.
    m_model->conferenceListReceived("<conferences><conference/><conference name=\"bare\"/></conferences>"_q);
    QCOMPARE(conferenceIds(*m_model), (QStringList{"0"_q, "bare"_q}));
    // The event-socket client's answer when it is not connected.
    m_model->conferenceListReceived(QString());
    QCOMPARE(conferenceIds(*m_model), QStringList{"0"_q});

    // The primary row renamed away by a raw display write is recreated at row 0.
    QVERIFY(m_model->setData(m_model->index(0, 0), "renamed"_q, Qt::DisplayRole));
    QCOMPARE(m_model->getParticipantsModel(0)->headerData(0, Qt::Horizontal).toString(), "renamed"_q);
    m_model->conferenceListReceived("<result>-ERR no conferences</result>"_q);
    QCOMPARE(conferenceIds(*m_model), QStringList{"0"_q});
    QVERIFY(m_model->getParticipantsModel(1) == nullptr);
}

void ConferenceListModelTest::calledMemberLifecycle()
{
    XMLConfig::instance().displayDisconnected = 2;
    DeferredAutoDelete::setSecondLengthForTest(20);
    const QString uri = "1003@example.org"_q;
    const QString conf = "конференция-1"_q;

    // Dropped onto empty space: a planned conference with a planned member.
    std::unique_ptr<QMimeData> users(drag("application/x-useruri", {uri}));
    QVERIFY(m_model->dropMimeData(users.get(), Qt::CopyAction, -1, -1, QModelIndex()));
    QCOMPARE(conferenceIds(*m_model), (QStringList{"0"_q, conf}));
    auto members = watch(conf);
    const QModelIndex row = members->index(0, 0);
    QCOMPARE(row.data(PM::StateRole).toInt(), int(PM::Planned));
    QCOMPARE(row.data(PM::MemberIdRole).toString(), "virtual"_q);
    QCOMPARE(row.data(PM::MemberTypeRole).toString(), "member"_q);
    QVERIFY(!m_model->isUserInConference(conf, uri));

    // The server creates it; the console's placeholder reuses the planned row, its echo is ignored.
    create(conf);
    m_model->conferenceEvent(placeholder(conf, uri, "call-A"_q, "job-A"_q));
    m_model->conferenceEvent(placeholder(conf, uri, "call-A"_q, "job-A"_q));
    QCOMPARE(members->rowCount(), 1);
    QCOMPARE(row.data(PM::StateRole).toInt(), int(PM::Calling));
    QCOMPARE(row.data(PM::JobUuidRole).toString(), "job-A"_q);
    QVERIFY(m_model->isUserInConference(conf, uri));

    m_model->conferenceEvent(conftest::event({{"Event-Subclass", "alert::notify"_q}, {"User-Name", uri}}));
    QCOMPARE(row.data(PM::StateRole).toInt(), int(PM::Alerting));
    QCOMPARE(m_model->getMemberId(conf, uri), QString());

    // Answered: the real member takes over the ringing row.
    m_model->conferenceEvent(addMember(conf, "12"_q, uri, false));
    QCOMPARE(members->rowCount(), 1);
    QCOMPARE(row.data(PM::StateRole).toInt(), int(PM::Connected));
    QVERIFY(!row.data(PM::CanSpeakRole).toBool());
    QCOMPARE(m_model->getMemberId(conf, uri), "12"_q);
    QVERIFY(m_model->index(1, 0).data(LM::NonPrivilegedRole).toBool());

    QSignalSpy userLeft(m_model.get(), &LM::userLeftConference);
    m_model->conferenceEvent(delMember(conf, "12"_q));
    QCOMPARE(row.data(PM::StateRole).toInt(), int(PM::Disconnected));
    QCOMPARE(userLeft.count(), 1);
    QCOMPARE(userLeft.first(), (QList<QVariant>{conf, uri}));

    // The row goes after the configured two "seconds"; the emptied conference goes with it.
    QCOMPARE(members->rowCount(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(members->rowCount(), 0, 2000);
    QCOMPARE(conferenceIds(*m_model), QStringList{"0"_q});
}

void ConferenceListModelTest::originateFailureBeforeAndAfterPlaceholder()
{
    create("room5"_q);
    auto members = watch("room5"_q);
    // Another conference's members must not react to room5's jobs.
    auto primary = watch("0"_q);
    m_model->conferenceEvent(addMember("0"_q, "1"_q, "1009@example.org"_q));

    // Fails before the placeholder arrives; of several causes the first in order wins.
    emit m_esl->backgroundJob(jobResult("job-1"_q, "-ERR USER_BUSY NO_ANSWER\n"_q));
    m_model->conferenceEvent(placeholder("room5"_q, "1003@example.org"_q, "call-1"_q, "job-1"_q));
    const QModelIndex first = memberByUri(*members, "1003@example.org"_q);
    QCOMPARE(first.data(PM::StateRole).toInt(), int(PM::Failed));
    QCOMPARE(first.data(Qt::ToolTipRole).toString(), "Вызываемый пользователь не отвечает"_q);

    // Fails after the placeholder: the participants model marks the row; +OK changes nothing.
    m_model->conferenceEvent(placeholder("room5"_q, "1004@example.org"_q, "call-2"_q, "job-2"_q));
    const QModelIndex second = memberByUri(*members, "1004@example.org"_q);
    emit m_esl->backgroundJob(jobResult("job-2"_q, "+OK 1234"_q));
    QCOMPARE(second.data(PM::StateRole).toInt(), int(PM::Calling));
    emit m_esl->backgroundJob(jobResult("job-2"_q, "-ERR CALL_REJECTED\n"_q));
    QCOMPARE(second.data(PM::StateRole).toInt(), int(PM::Failed));
    QCOMPARE(second.data(Qt::ToolTipRole).toString(), "Вызов отклонен вызываемым пользователем"_q);
    QCOMPARE(primary->index(0, 0).data(PM::StateRole).toInt(), int(PM::Connected));

    // A placeholder whose originate reply was already an error fails at once, with that text.
    m_model->conferenceEvent(
        placeholder("room5"_q, "1006@example.org"_q, "call-3"_q, "-ERR INVALID_GATEWAY"_q));
    const QModelIndex third = memberByUri(*members, "1006@example.org"_q);
    QCOMPARE(third.data(PM::StateRole).toInt(), int(PM::Failed));
    QCOMPARE(third.data(Qt::ToolTipRole).toString(), "-ERR INVALID_GATEWAY"_q);

    QCOMPARE(PM::callErrorText("-ERR DESTINATION_OUT_OF_ORDER"_q),
             "Ошибка вызова: -ERR DESTINATION_OUT_OF_ORDER"_q);
    QCOMPARE(PM::callErrorText("-ERR UNALLOCATED_NUMBER"_q), "Вызываемый пользователь не существует"_q);
    QCOMPARE(PM::callErrorText("-ERR USER_BUSY"_q), "Пользователь занят"_q);

    // With "DisplayFailedCalls" set, failed rows leave by themselves.
    XMLConfig::instance().displayFailedCalls = 1;
    DeferredAutoDelete::setSecondLengthForTest(10);
    m_model->conferenceEvent(placeholder("room5"_q, "1008@example.org"_q, "call-4"_q, "job-4"_q));
    emit m_esl->backgroundJob(jobResult("job-4"_q, "-ERR NO_ANSWER"_q));
    QTRY_COMPARE_WITH_TIMEOUT(members->rowCount(), 3, 2000);
    QVERIFY(!memberByUri(*members, "1008@example.org"_q).isValid());
}

void ConferenceListModelTest::dispatcherCallErrorAndPendingPurge()
{
    time_t now = 100000;
    m_model->setClockForTest([&now] { return now; });
    create("room5"_q);
    auto members = watch("room5"_q);
    QSignalSpy callError(m_model.get(), &LM::dispatcherCallError);

    // The dispatcher's own call fails after its placeholder, and before the next one.
    m_model->conferenceEvent(placeholder("room5"_q, kDispatcher, "call-d"_q, "job-d"_q));
    QCOMPARE(callError.count(), 0);
    emit m_esl->backgroundJob(jobResult("job-d"_q, "-ERR USER_NOT_REGISTERED"_q));
    QCOMPARE(callError.count(), 1);
    QCOMPARE(callError.first(), (QList<QVariant>{"room5"_q, "Ошибка вызова: -ERR USER_NOT_REGISTERED"_q}));
    emit m_esl->backgroundJob(jobResult("job-e"_q, "-ERR NO_ANSWER"_q));
    QCOMPARE(callError.count(), 1);
    m_model->conferenceEvent(placeholder("room5"_q, kDispatcher, "call-e"_q, "job-e"_q));
    QCOMPARE(callError.count(), 2);
    QCOMPARE(callError.last(), (QList<QVariant>{"room5"_q, "Вызываемый пользователь не отвечает"_q}));

    // Failures of other commands are not originate results.
    emit m_esl->backgroundJob(jobResult("job-f"_q, "-ERR NO_ANSWER"_q, "conference"_q));
    // A stored failure lives one hour: exactly 3600 s later it still counts...
    emit m_esl->backgroundJob(jobResult("job-g"_q, "-ERR USER_BUSY"_q));
    now += 3600;
    emit m_esl->backgroundJob(jobResult("job-h"_q, "-ERR USER_BUSY"_q));
    m_model->conferenceEvent(placeholder("room5"_q, "1003@example.org"_q, "call-g"_q, "job-g"_q));
    QCOMPARE(memberByUri(*members, "1003@example.org"_q).data(PM::StateRole).toInt(), int(PM::Failed));
    // ...one second more and the next failure purges it; job-f was never stored.
    now += 3601;
    emit m_esl->backgroundJob(jobResult("job-i"_q, "-ERR USER_BUSY"_q));
    m_model->conferenceEvent(placeholder("room5"_q, "1004@example.org"_q, "call-h"_q, "job-h"_q));
    m_model->conferenceEvent(placeholder("room5"_q, "1005@example.org"_q, "call-f"_q, "job-f"_q));
    QCOMPARE(memberByUri(*members, "1004@example.org"_q).data(PM::StateRole).toInt(), int(PM::Calling));
    QCOMPARE(memberByUri(*members, "1005@example.org"_q).data(PM::StateRole).toInt(), int(PM::Calling));
}

void ConferenceListModelTest::dispatcherStaysWhileASecondRowIsConnected()
{
    QSignalSpy entered(m_model.get(), &LM::dispatcherEnteredConference);
    QSignalSpy left(m_model.get(), &LM::dispatcherLeftConference);
    create("room7"_q);
    auto members = watch("room7"_q);

    // The placeholder of the dispatcher's own call does not count as joining.
    m_model->conferenceEvent(placeholder("room7"_q, kDispatcher, "c1"_q, "j1"_q));
    QCOMPARE(entered.count(), 0);
    m_model->conferenceEvent(addMember("room7"_q, "21"_q, kDispatcher));
    m_model->conferenceEvent(addMember("room7"_q, "22"_q, kDispatcher));
    QCOMPARE(members->rowCount(), 2);
    QCOMPARE(entered.count(), 1);
    QVERIFY(!m_model->index(1, 0).data(LM::NonPrivilegedRole).toBool());

    m_model->conferenceEvent(delMember("room7"_q, "21"_q));
    QCOMPARE(left.count(), 0);
    QCOMPARE(m_model->getMemberId("room7"_q, kDispatcher), "22"_q);
    m_model->conferenceEvent(delMember("room7"_q, "22"_q));
    QCOMPARE(left.count(), 1);
    // Disconnected rows stay while "DisplayDisconnected" is 0; joining again is a new transition.
    QCOMPARE(members->rowCount(), 2);
    m_model->conferenceEvent(addMember("room7"_q, "23"_q, kDispatcher));
    QCOMPARE(entered.count(), 2);
    QCOMPARE(members->rowCount(), 2);
}

void ConferenceListModelTest::memberEventsAndPrimaryOnlyEntrySignal()
{
    QSignalSpy userEntered(m_model.get(), &LM::userEnteredConference);
    create("0"_q);
    create("room2"_q);
    QCOMPARE(m_model->rowCount(), 2);
    auto primary = watch("0"_q);
    auto room2 = watch("room2"_q);
    m_model->conferenceEvent(addMember("0"_q, "5"_q, "1003@example.org"_q));
    m_model->conferenceEvent(addMember("room2"_q, "6"_q, "1004@example.org"_q));
    QCOMPARE(userEntered.count(), 1);
    QCOMPARE(userEntered.first(), (QList<QVariant>{"0"_q, "1003@example.org"_q}));

    // Ghosts and events for unknown conferences change nothing.
    ESL2::Event ghost = addMember("0"_q, "7"_q, "1005@example.org"_q);
    ghost.insert("Member-Ghost"_q, "TRUE"_q);
    m_model->conferenceEvent(ghost);
    m_model->conferenceEvent(addMember("nowhere"_q, "8"_q, "1005@example.org"_q));
    m_model->conferenceEvent(addMember(QString(), "8"_q, "1005@example.org"_q));
    QCOMPARE(primary->rowCount(), 1);
    QCOMPARE(m_model->rowCount(), 2);

    // A PSTN caller found by its number when there is no presence id.
    ESL2::Event pstn = addMember("room2"_q, "9"_q, QString());
    pstn.insert("Caller-Caller-ID-Number"_q, "pstn:84951234567"_q);
    m_model->conferenceEvent(pstn);
    QVERIFY(memberByUri(*room2, "84951234567"_q).data(PM::PstnRole).toBool());

    const QModelIndex m = primary->index(0, 0);
    m_model->conferenceEvent(confEvent("mute-member"_q, "0"_q, {{"Member-ID", "5"_q}}));
    m_model->conferenceEvent(confEvent("start-talking"_q, "0"_q, {{"Member-ID", "5"_q}}));
    QVERIFY(!m.data(PM::CanSpeakRole).toBool());
    QVERIFY(m.data(PM::TalkingRole).toBool());
    m_model->conferenceEvent(confEvent("unmute-member"_q, "0"_q, {{"Member-ID", "5"_q}}));
    m_model->conferenceEvent(confEvent("stop-talking"_q, "0"_q, {{"Member-ID", "5"_q}}));
    QVERIFY(m.data(PM::CanSpeakRole).toBool());
    QVERIFY(!m.data(PM::TalkingRole).toBool());

    // Destroy keeps the row and its members but clears the flags.
    m_model->conferenceEvent(confEvent("conference-destroy"_q, "room2"_q));
    QVERIFY(!m_model->index(1, 0).data(LM::ActiveRole).toBool());
    QVERIFY(!m_model->index(1, 0).data(LM::NonPrivilegedRole).toBool());
    QCOMPARE(room2->rowCount(), 2);

    // Removing the last member of a conference removes it, but never the primary.
    room2->removeRows(0, 2);
    primary->removeRows(0, 1);
    QCOMPARE(conferenceIds(*m_model), QStringList{"0"_q});
}

void ConferenceListModelTest::dropsOfUsersAndMembers()
{
    create("room1"_q);
    m_model->conferenceEvent(addMember("room1"_q, "3"_q, "1003@example.org"_q));
    QSignalSpy calls(m_model.get(), &LM::callToConference);
    QSignalSpy transfers(m_model.get(), &LM::transferRequest);
    const QModelIndex room1 = m_model->index(1, 0);
    std::unique_ptr<QMimeData> users(
        drag("application/x-useruri", {"1004@example.org"_q, "1005@example.org"_q, "1004@example.org"_q}));
    QMimeData text;
    text.setText("1004@example.org"_q);
    QVERIFY(!m_model->canDropMimeData(users.get(), Qt::CopyAction, -1, 1, room1));
    QVERIFY(!m_model->dropMimeData(&text, Qt::CopyAction, -1, -1, room1));
    QVERIFY(m_model->dropMimeData(users.get(), Qt::IgnoreAction, -1, -1, room1));
    QCOMPARE(calls.count(), 0);

    // Active target: one call per distinct URI, nothing stored locally.
    QVERIFY(m_model->dropMimeData(users.get(), Qt::CopyAction, -1, 0, room1));
    QCOMPARE(calls.count(), 2);
    QCOMPARE(calls.at(0), (QList<QVariant>{"room1"_q, "1004@example.org"_q}));
    QCOMPARE(calls.at(1), (QList<QVariant>{"room1"_q, "1005@example.org"_q}));
    QCOMPARE(m_model->getParticipantsModel("room1"_q)->rowCount(), 1);

    // Inactive primary: planned members, one per URI, none twice.
    auto primary = watch("0"_q);
    QVERIFY(m_model->dropMimeData(users.get(), Qt::CopyAction, -1, -1, m_model->index(0, 0)));
    QVERIFY(m_model->dropMimeData(users.get(), Qt::CopyAction, -1, -1, m_model->index(0, 0)));
    QCOMPARE(primary->rowCount(), 2);
    QCOMPARE(primary->index(1, 0).data().toString(), "Имя 1005@example.org"_q);

    // Members back onto their own conference: refused; onto another: one transfer each.
    const char *memberMime = "application/x-conference-member";
    std::unique_ptr<QMimeData> own(drag(memberMime, {"room1"_q, "3"_q}));
    QVERIFY(!m_model->dropMimeData(own.get(), Qt::MoveAction, -1, -1, room1));
    QCOMPARE(transfers.count(), 0);
    std::unique_ptr<QMimeData> two(drag(memberMime, {"room1"_q, "3"_q, "4"_q}));
    QVERIFY(m_model->dropMimeData(two.get(), Qt::MoveAction, -1, -1, m_model->index(0, 0)));
    QCOMPARE(transfers.count(), 2);
    QCOMPARE(transfers.at(1), (QList<QVariant>{"0"_q, "room1"_q, "4"_q}));
    // On empty space they go to a fresh planned conference.
    QVERIFY(m_model->dropMimeData(two.get(), Qt::MoveAction, 3, -1, QModelIndex()));
    QCOMPARE(transfers.last().at(0).toString(), "конференция-1"_q);

    // The next new conference takes the next free number, with the configured prefix.
    XMLConfig::instance().newConferencePrefix = "conf-"_q;
    QCOMPARE(m_model->addNewConference(), 3);
    QCOMPARE(m_model->addNewConference(), 4);
    QCOMPARE(conferenceIds(*m_model).mid(2), (QStringList{"конференция-1"_q, "conf-1"_q, "conf-2"_q}));
}

void ConferenceListModelTest::renamesAndFlags()
{
    const QModelIndex idx = m_model->index(m_model->addNewConference(), 0);
    QCOMPARE(int(m_model->flags(idx)), 43);
    QCOMPARE(int(m_model->flags(m_model->index(0, 0))), 41);
    QCOMPARE(m_model->flags(QModelIndex()), Qt::ItemIsDropEnabled);
    auto members = watch(idx.data(LM::ConferenceIdRole).toString());
    QSignalSpy header(members.get(), &PM::headerDataChanged);

    // Taking the primary's shown name means taking the primary's id, which exists.
    QVERIFY(!m_model->setData(idx, QString(), Qt::EditRole));
    QVERIFY(!m_model->setData(idx, "Главная"_q, Qt::EditRole));
    QVERIFY(!m_model->setData(idx, "0"_q, Qt::EditRole));
    QCOMPARE(header.count(), 0);
    QVERIFY(m_model->setData(idx, "Пожар"_q, Qt::EditRole));
    QCOMPARE(idx.data(LM::ConferenceIdRole).toString(), "Пожар"_q);
    QCOMPARE(members->headerData(0, Qt::Horizontal).toString(), "Пожар"_q);
    QCOMPARE(header.count(), 1);
    QVERIFY(m_model->getParticipantsModel("Пожар"_q) == members);

    // A server conference is not renamable.
    create("Пожар"_q);
    QVERIFY(!idx.data(LM::RenamableRole).toBool());
    QCOMPARE(int(m_model->flags(idx)), 41);

    // Setting the count on an empty conference removes it.
    QVERIFY(m_model->setData(idx, 0, LM::ParticipantCountRole));
    QCOMPARE(conferenceIds(*m_model), QStringList{"0"_q});
}

void ConferenceListModelTest::configChangedMovesThePrimary()
{
    XMLConfig &config = XMLConfig::instance();
    QSignalSpy changed(m_model.get(), &QAbstractItemModel::dataChanged);
    config.primaryConferenceDisplayName = "Дежурная"_q;
    m_model->configChanged();
    QCOMPARE(changed.count(), 1);
    QCOMPARE(m_model->index(0, 0).data().toString(), "Дежурная"_q);

    // Without members the old primary goes; the new one appears at row 0.
    create("room1"_q);
    config.primaryConferenceId = "100"_q;
    config.primaryConferenceDisplayName.clear();
    m_model->configChanged();
    QCOMPARE(conferenceIds(*m_model), (QStringList{"100"_q, "room1"_q}));
    QCOMPARE(m_model->index(0, 0).data().toString(), "100"_q);

    // With members the old primary stays as an ordinary conference; an existing row
    // becomes the primary in place.
    m_model->conferenceEvent(addMember("100"_q, "1"_q, "1003@example.org"_q));
    config.primaryConferenceId = "room1"_q;
    config.primaryConferenceDisplayName = "Основная"_q;
    m_model->configChanged();
    QCOMPARE(conferenceIds(*m_model), (QStringList{"100"_q, "room1"_q}));
    QCOMPARE(m_model->index(1, 0).data().toString(), "Основная"_q);
    // The former primary now empties like any other conference.
    m_model->getParticipantsModel("100"_q)->removeRows(0, 1);
    QCOMPARE(conferenceIds(*m_model), QStringList{"room1"_q});
}

QTEST_GUILESS_MAIN(ConferenceListModelTest)
#include "conferencelistmodel_test.moc"
