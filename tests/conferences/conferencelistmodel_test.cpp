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
    std::shared_ptr<PM> watch(const QString &conference);

    std::unique_ptr<ESL2> m_esl;
    std::unique_ptr<LM> m_model;
    QList<std::shared_ptr<PM>> m_watched;
    QList<QAbstractItemModelTester *> m_testers;
};

void ConferenceListModelTest::init()
{
    qRegisterMetaType<Qt::Orientation>();
    resetConfig();
    installDirectory();
    DeferredAutoDelete::setSecondLengthForTest(1000);
    m_esl = std::make_unique<ESL2>();
    m_model = std::make_unique<LM>();
    m_testers << new QAbstractItemModelTester(
        m_model.get(), QAbstractItemModelTester::FailureReportingMode::QtTest, m_model.get());
}

void ConferenceListModelTest::cleanup()
{
    m_testers.clear();
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
        m_testers << new QAbstractItemModelTester(
            members.get(), QAbstractItemModelTester::FailureReportingMode::QtTest, m_model.get());
    }
    return members;
}

void ConferenceListModelTest::snapshotsFollowTheServer()
{
    QSignalSpy requests(m_esl.get(), &ESL2::sigSendRequest);
    m_model->eslConnected();
    QCOMPARE(requests.count(), 1);
    QCOMPARE(requests.first().at(0).toString(), QStringLiteral("api conference xml_list\n\n"));
    QCOMPARE(requests.first().at(1).value<QObject *>(), m_model.get());
    QCOMPARE(requests.first().at(2).toString(), QStringLiteral("conferenceListReceived"));

    // Before any snapshot: only the inactive primary, shown by its display name.
    QCOMPARE(conferenceIds(*m_model), QStringList{QStringLiteral("0")});
    QCOMPARE(m_model->index(0, 0).data().toString(), QStringLiteral("Главная"));
    QCOMPARE(m_model->index(0, 0).data(LM::ActiveRole).toBool(), false);

    QSignalSpy entered(m_model.get(), &LM::dispatcherEnteredConference);
    QSignalSpy left(m_model.get(), &LM::dispatcherLeftConference);
    QSignalSpy userLeft(m_model.get(), &LM::userLeftConference);

    m_model->conferenceListReceived(
        snapshot(
            {conference(
                 QStringLiteral("0"),
                 {{QStringLiteral("6"), QStringLiteral("1000"), flags(true, false), QStringLiteral("caller")},
                  {QStringLiteral("7"), QStringLiteral("1009"), flags(false, true), QString()},
                  {QStringLiteral("8"), QStringLiteral("1005"), flags(true, false, true), QString()}}),
             conference(QStringLiteral("room3"),
                        {{QStringLiteral("2"), QStringLiteral("pstn:89001234567"), QStringLiteral("-"),
                          QStringLiteral("caller")},
                         {QStringLiteral("3"), QStringLiteral("1009"), flags(true, false), QString()}})}),
        QVariant());

    QCOMPARE(conferenceIds(*m_model), (QStringList{QStringLiteral("0"), QStringLiteral("room3")}));
    QVERIFY(m_model->index(1, 0).data(LM::ActiveRole).toBool());
    QCOMPARE(m_model->index(1, 0).data(LM::RenamableRole).toBool(), false);
    auto primary = watch(QStringLiteral("0"));
    auto room3 = watch(QStringLiteral("room3"));
    // The ghost is not a member; the others are connected with their flags.
    QCOMPARE(primary->rowCount(), 2);
    QCOMPARE(m_model->index(0, 0).data(LM::ParticipantCountRole).toInt(), 2);
    const QModelIndex muted = memberByUri(*primary, QStringLiteral("1009@example.org"));
    QCOMPARE(muted.data(PM::StateRole).toInt(), int(PM::Connected));
    QCOMPARE(muted.data(PM::CanSpeakRole).toBool(), false);
    QCOMPARE(muted.data(PM::TalkingRole).toBool(), true);
    QCOMPARE(muted.data(PM::MemberTypeRole).toString(), QStringLiteral("caller"));
    QCOMPARE(muted.data().toString(), QStringLiteral("Имя 1009@example.org"));
    // Only privileged members: the primary has no non-privileged member.
    QCOMPARE(m_model->index(0, 0).data(LM::NonPrivilegedRole).toBool(), false);
    QCOMPARE(entered.count(), 1);
    QCOMPARE(entered.first().at(0).toString(), QStringLiteral("0"));

    // The PSTN member loses the gateway prefix, is marked and makes the conference non-privileged.
    const QModelIndex pstn = room3->index(0, 0);
    QCOMPARE(pstn.data(PM::UriRole).toString(), QStringLiteral("89001234567@example.org"));
    QVERIFY(pstn.data(PM::PstnRole).toBool());
    QCOMPARE(pstn.data(PM::PrivilegedRole).toBool(), false);
    QVERIFY(pstn.data(PM::CanSpeakRole).toBool());
    QVERIFY(m_model->index(1, 0).data(LM::NonPrivilegedRole).toBool());
    QVERIFY(m_model->hasNonPrivilegedParticipants(QStringLiteral("room3")));
    QVERIFY(!m_model->hasNonPrivilegedParticipants(QStringLiteral("0")));
    QCOMPARE(m_model->getMemberId(QStringLiteral("0"), kDispatcher), QStringLiteral("6"));

    // Second snapshot: the dispatcher and 1009 left the primary, 1007 joined, 1009's row
    // in room3 keeps its row (same Member-ID) and room3 stays; "old" vanished earlier.
    m_model->conferenceListReceived(
        snapshot({conference(QStringLiteral("0"),
                             {{QStringLiteral("9"), QStringLiteral("1007"), flags(true, false), {}}}),
                  conference(QStringLiteral("room3"),
                             {{QStringLiteral("3"), QStringLiteral("1009"), flags(true, true), QString()}})}),
        QVariant());
    QCOMPARE(primary->rowCount(), 1);
    QCOMPARE(primary->index(0, 0).data(PM::MemberIdRole).toString(), QStringLiteral("9"));
    QCOMPARE(room3->rowCount(), 1);
    QVERIFY(room3->index(0, 0).data(PM::TalkingRole).toBool());
    QCOMPARE(userLeft.count(), 3);
    QStringList leftUris;
    for (const QList<QVariant> &args : userLeft)
        leftUris << args.at(0).toString() + QLatin1Char('/') + args.at(1).toString();
    leftUris.sort();
    QCOMPARE(leftUris,
             (QStringList{QStringLiteral("0/1000@example.org"), QStringLiteral("0/1009@example.org"),
                          QStringLiteral("room3/89001234567@example.org")}));
    QCOMPARE(left.count(), 1);
    QCOMPARE(left.first().at(0).toString(), QStringLiteral("0"));
    QCOMPARE(m_model->getMemberId(QStringLiteral("0"), kDispatcher), QString());

    // Third snapshot lists only a new conference: room3 goes without member signals.
    userLeft.clear();
    m_model->conferenceListReceived(snapshot({conference(QStringLiteral("night"), {})}), QVariant());
    QCOMPARE(conferenceIds(*m_model), (QStringList{QStringLiteral("0"), QStringLiteral("night")}));
    QCOMPARE(userLeft.count(), 0);
    // The primary stays with its member although it was not listed.
    QCOMPARE(primary->rowCount(), 1);
}

void ConferenceListModelTest::brokenSnapshotsKeepOnlyThePrimary()
{
    m_model->conferenceListReceived(
        snapshot({conference(QStringLiteral("room1"),
                             {{QStringLiteral("4"), QStringLiteral("1003"), flags(true, false), {}}}),
                  conference(QStringLiteral("room2"), {})}),
        QVariant());
    QCOMPARE(m_model->rowCount(), 3);

    m_model->conferenceListReceived(QStringLiteral("<conferences><conference name="), QVariant());
    QCOMPARE(conferenceIds(*m_model), QStringList{QStringLiteral("0")});

    // An element without a name and one without members are tolerated.
    m_model->conferenceListReceived(
        QStringLiteral("<conferences><conference/><conference name=\"bare\"/></conferences>"), QVariant());
    QCOMPARE(conferenceIds(*m_model), (QStringList{QStringLiteral("0"), QStringLiteral("bare")}));

    // The event-socket client's answer when it is not connected.
    m_model->conferenceListReceived(QString(), QVariant());
    QCOMPARE(conferenceIds(*m_model), QStringList{QStringLiteral("0")});

    // A wrong root element counts as an empty list too.
    m_model->conferenceListReceived(QStringLiteral("<result>-ERR no conferences</result>"), QVariant());
    QCOMPARE(conferenceIds(*m_model), QStringList{QStringLiteral("0")});

    // The primary row renamed away by a raw display write is recreated at row 0.
    QVERIFY(m_model->setData(m_model->index(0, 0), QStringLiteral("renamed"), Qt::DisplayRole));
    QCOMPARE(m_model->getParticipantsModel(0)->headerData(0, Qt::Horizontal).toString(),
             QStringLiteral("renamed"));
    m_model->conferenceListReceived(snapshot({conference(QStringLiteral("room9"), {})}), QVariant());
    QCOMPARE(conferenceIds(*m_model), (QStringList{QStringLiteral("0"), QStringLiteral("room9")}));
    QCOMPARE(m_model->index(0, 0).data(LM::ActiveRole).toBool(), false);
    QVERIFY(m_model->getParticipantsModel(5) == nullptr);
}

void ConferenceListModelTest::calledMemberLifecycle()
{
    XMLConfig::instance().displayDisconnected = 2;
    DeferredAutoDelete::setSecondLengthForTest(20);
    const QString uri = QStringLiteral("1003@example.org");

    // Dropped onto empty space: a planned conference with a planned member.
    std::unique_ptr<QMimeData> drag(userDrag({uri}));
    QVERIFY(m_model->dropMimeData(drag.get(), Qt::CopyAction, -1, -1, QModelIndex()));
    QCOMPARE(conferenceIds(*m_model), (QStringList{QStringLiteral("0"), QStringLiteral("конференция-1")}));
    const QString conf = QStringLiteral("конференция-1");
    auto members = watch(conf);
    QCOMPARE(members->rowCount(), 1);
    QModelIndex row = members->index(0, 0);
    QCOMPARE(row.data(PM::StateRole).toInt(), int(PM::Planned));
    QCOMPARE(row.data(PM::MemberIdRole).toString(), QStringLiteral("virtual"));
    QCOMPARE(row.data(PM::MemberTypeRole).toString(), QStringLiteral("member"));
    QVERIFY(row.data(PM::EndedRole).toBool());
    QVERIFY(!m_model->isUserInConference(conf, uri));

    // The server creates it; the console's placeholder reuses the planned row.
    m_model->conferenceEvent(confEvent(QStringLiteral("conference-create"), conf));
    QVERIFY(m_model->index(1, 0).data(LM::ActiveRole).toBool());
    m_model->conferenceEvent(placeholder(conf, uri, QStringLiteral("call-A"), QStringLiteral("job-A")));
    QCOMPARE(members->rowCount(), 1);
    QCOMPARE(row.data(PM::StateRole).toInt(), int(PM::Calling));
    QCOMPARE(row.data(PM::JobUuidRole).toString(), QStringLiteral("job-A"));
    QCOMPARE(row.data(PM::CallUuidRole).toString(), QStringLiteral("call-A"));
    QVERIFY(!row.data(PM::EndedRole).toBool());
    QVERIFY(m_model->isUserInConference(conf, uri));

    // The server echoes the placeholder: ignored, no second row.
    m_model->conferenceEvent(placeholder(conf, uri, QStringLiteral("call-A"), QStringLiteral("job-A")));
    QCOMPARE(members->rowCount(), 1);

    m_model->conferenceEvent(conftest::event({{"Event-Name", QStringLiteral("CUSTOM")},
                                              {"Event-Subclass", QStringLiteral("alert::notify")},
                                              {"User-Name", uri}}));
    QCOMPARE(row.data(PM::StateRole).toInt(), int(PM::Alerting));
    QCOMPARE(m_model->getMemberId(conf, uri), QString());

    // Answered: the real member takes over the ringing row.
    m_model->conferenceEvent(addMember(conf, QStringLiteral("12"), uri, false));
    QCOMPARE(members->rowCount(), 1);
    QCOMPARE(row.data(PM::StateRole).toInt(), int(PM::Connected));
    QCOMPARE(row.data(PM::MemberIdRole).toString(), QStringLiteral("12"));
    QCOMPARE(row.data(PM::CanSpeakRole).toBool(), false);
    QCOMPARE(row.data(PM::PrivilegedRole).toBool(), false);
    QCOMPARE(m_model->getMemberId(conf, uri), QStringLiteral("12"));
    QVERIFY(m_model->index(1, 0).data(LM::NonPrivilegedRole).toBool());

    QSignalSpy userLeft(m_model.get(), &LM::userLeftConference);
    m_model->conferenceEvent(delMember(conf, QStringLiteral("12")));
    QCOMPARE(row.data(PM::StateRole).toInt(), int(PM::Disconnected));
    QCOMPARE(userLeft.count(), 1);
    QCOMPARE(userLeft.first(), (QList<QVariant>{conf, uri}));
    QVERIFY(!m_model->isUserInConference(conf, uri));

    // The row goes after the configured two "seconds"; the emptied conference goes with it.
    QTest::qWait(15);
    QCOMPARE(members->rowCount(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(members->rowCount(), 0, 2000);
    QCOMPARE(conferenceIds(*m_model), QStringList{QStringLiteral("0")});
}

void ConferenceListModelTest::originateFailureBeforeAndAfterPlaceholder()
{
    m_model->conferenceEvent(confEvent(QStringLiteral("conference-create"), QStringLiteral("room5")));
    auto members = watch(QStringLiteral("room5"));
    // Another conference's participants model must not react to room5's job.
    auto primary = watch(QStringLiteral("0"));
    m_model->conferenceEvent(
        addMember(QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("1009@example.org")));

    // The job fails before the placeholder arrives; several causes: the first in order wins.
    emit m_esl->backgroundJob(
        jobResult(QStringLiteral("job-1"), QStringLiteral("-ERR USER_BUSY NO_ANSWER\n")));
    m_model->conferenceEvent(placeholder(QStringLiteral("room5"), QStringLiteral("1003@example.org"),
                                         QStringLiteral("call-1"), QStringLiteral("job-1")));
    QModelIndex first = memberByUri(*members, QStringLiteral("1003@example.org"));
    QCOMPARE(first.data(PM::StateRole).toInt(), int(PM::Failed));
    QCOMPARE(first.data(Qt::ToolTipRole).toString(), QStringLiteral("Вызываемый пользователь не отвечает"));

    // The job fails after the placeholder: the participants model marks the row.
    m_model->conferenceEvent(placeholder(QStringLiteral("room5"), QStringLiteral("1004@example.org"),
                                         QStringLiteral("call-2"), QStringLiteral("job-2")));
    QModelIndex second = memberByUri(*members, QStringLiteral("1004@example.org"));
    QCOMPARE(second.data(PM::StateRole).toInt(), int(PM::Calling));
    emit m_esl->backgroundJob(jobResult(QStringLiteral("job-2"), QStringLiteral("+OK 1234")));
    QCOMPARE(second.data(PM::StateRole).toInt(), int(PM::Calling));
    emit m_esl->backgroundJob(jobResult(QStringLiteral("job-2"), QStringLiteral("-ERR CALL_REJECTED\n")));
    QCOMPARE(second.data(PM::StateRole).toInt(), int(PM::Failed));
    QCOMPARE(second.data(Qt::ToolTipRole).toString(),
             QStringLiteral("Вызов отклонен вызываемым пользователем"));
    QVERIFY(second.data(PM::EndedRole).toBool());
    QCOMPARE(primary->index(0, 0).data(PM::StateRole).toInt(), int(PM::Connected));

    // A placeholder whose originate reply was already an error fails at once, with that text.
    m_model->conferenceEvent(placeholder(QStringLiteral("room5"), QStringLiteral("1006@example.org"),
                                         QStringLiteral("call-3"), QStringLiteral("-ERR INVALID_GATEWAY")));
    QModelIndex third = memberByUri(*members, QStringLiteral("1006@example.org"));
    QCOMPARE(third.data(PM::StateRole).toInt(), int(PM::Failed));
    QCOMPARE(third.data(Qt::ToolTipRole).toString(), QStringLiteral("-ERR INVALID_GATEWAY"));

    // Unknown causes keep the server's text; unmapped numbers and other commands.
    QCOMPARE(PM::callErrorText(QStringLiteral("-ERR DESTINATION_OUT_OF_ORDER")),
             QStringLiteral("Ошибка вызова: -ERR DESTINATION_OUT_OF_ORDER"));
    QCOMPARE(PM::callErrorText(QStringLiteral("-ERR UNALLOCATED_NUMBER")),
             QStringLiteral("Вызываемый пользователь не существует"));
    QCOMPARE(PM::callErrorText(QStringLiteral("-ERR USER_BUSY")), QStringLiteral("Пользователь занят"));

    // With "DisplayFailedCalls" set, failed rows leave by themselves; the conference stays
    // as long as one member remains.
    XMLConfig::instance().displayFailedCalls = 1;
    DeferredAutoDelete::setSecondLengthForTest(10);
    m_model->conferenceEvent(placeholder(QStringLiteral("room5"), QStringLiteral("1008@example.org"),
                                         QStringLiteral("call-4"), QStringLiteral("job-4")));
    QCOMPARE(members->rowCount(), 4);
    emit m_esl->backgroundJob(jobResult(QStringLiteral("job-4"), QStringLiteral("-ERR NO_ANSWER")));
    QTRY_COMPARE_WITH_TIMEOUT(members->rowCount(), 3, 2000);
    QVERIFY(!memberByUri(*members, QStringLiteral("1008@example.org")).isValid());
    QCOMPARE(conferenceIds(*m_model), (QStringList{QStringLiteral("0"), QStringLiteral("room5")}));
}

void ConferenceListModelTest::dispatcherCallErrorAndPendingPurge()
{
    time_t now = 100000;
    m_model->setClockForTest([&now] { return now; });
    m_model->conferenceEvent(confEvent(QStringLiteral("conference-create"), QStringLiteral("room5")));
    auto members = watch(QStringLiteral("room5"));
    QSignalSpy callError(m_model.get(), &LM::dispatcherCallError);

    // The dispatcher's own call fails after its placeholder.
    m_model->conferenceEvent(
        placeholder(QStringLiteral("room5"), kDispatcher, QStringLiteral("call-d"), QStringLiteral("job-d")));
    QCOMPARE(callError.count(), 0);
    emit m_esl->backgroundJob(jobResult(QStringLiteral("job-d"), QStringLiteral("-ERR USER_NOT_REGISTERED")));
    QCOMPARE(callError.count(), 1);
    QCOMPARE(callError.first(), (QList<QVariant>{QStringLiteral("room5"),
                                                 QStringLiteral("Ошибка вызова: -ERR USER_NOT_REGISTERED")}));

    // ...and before it: the placeholder reports the stored error.
    emit m_esl->backgroundJob(jobResult(QStringLiteral("job-e"), QStringLiteral("-ERR NO_ANSWER")));
    QCOMPARE(callError.count(), 1);
    members->removeRows(0, members->rowCount());
    m_model->conferenceEvent(confEvent(QStringLiteral("conference-create"), QStringLiteral("room5")));
    members = watch(QStringLiteral("room5"));
    m_model->conferenceEvent(
        placeholder(QStringLiteral("room5"), kDispatcher, QStringLiteral("call-e"), QStringLiteral("job-e")));
    QCOMPARE(callError.count(), 2);
    QCOMPARE(callError.last(), (QList<QVariant>{QStringLiteral("room5"),
                                                QStringLiteral("Вызываемый пользователь не отвечает")}));

    // Failures of other commands are not originate results.
    emit m_esl->backgroundJob(
        jobResult(QStringLiteral("job-f"), QStringLiteral("-ERR NO_ANSWER"), QStringLiteral("conference")));

    // A stored failure lives one hour: exactly 3600 s later it still counts...
    emit m_esl->backgroundJob(jobResult(QStringLiteral("job-g"), QStringLiteral("-ERR USER_BUSY")));
    now += 3600;
    emit m_esl->backgroundJob(jobResult(QStringLiteral("job-h"), QStringLiteral("-ERR USER_BUSY")));
    m_model->conferenceEvent(placeholder(QStringLiteral("room5"), QStringLiteral("1003@example.org"),
                                         QStringLiteral("call-g"), QStringLiteral("job-g")));
    QCOMPARE(memberByUri(*members, QStringLiteral("1003@example.org")).data(PM::StateRole).toInt(),
             int(PM::Failed));
    // ...one second more and the next failure purges it; job-f was never stored.
    now += 3601;
    emit m_esl->backgroundJob(jobResult(QStringLiteral("job-i"), QStringLiteral("-ERR USER_BUSY")));
    m_model->conferenceEvent(placeholder(QStringLiteral("room5"), QStringLiteral("1004@example.org"),
                                         QStringLiteral("call-h"), QStringLiteral("job-h")));
    QCOMPARE(memberByUri(*members, QStringLiteral("1004@example.org")).data(PM::StateRole).toInt(),
             int(PM::Calling));
    m_model->conferenceEvent(placeholder(QStringLiteral("room5"), QStringLiteral("1005@example.org"),
                                         QStringLiteral("call-f"), QStringLiteral("job-f")));
    QCOMPARE(memberByUri(*members, QStringLiteral("1005@example.org")).data(PM::StateRole).toInt(),
             int(PM::Calling));
}

void ConferenceListModelTest::dispatcherStaysWhileASecondRowIsConnected()
{
    QSignalSpy entered(m_model.get(), &LM::dispatcherEnteredConference);
    QSignalSpy left(m_model.get(), &LM::dispatcherLeftConference);
    m_model->conferenceEvent(confEvent(QStringLiteral("conference-create"), QStringLiteral("room7")));
    auto members = watch(QStringLiteral("room7"));

    // The placeholder of the dispatcher's own call does not count as joining.
    m_model->conferenceEvent(
        placeholder(QStringLiteral("room7"), kDispatcher, QStringLiteral("c1"), QStringLiteral("j1")));
    QCOMPARE(entered.count(), 0);
    m_model->conferenceEvent(addMember(QStringLiteral("room7"), QStringLiteral("21"), kDispatcher));
    m_model->conferenceEvent(addMember(QStringLiteral("room7"), QStringLiteral("22"), kDispatcher));
    QCOMPARE(members->rowCount(), 2);
    QCOMPARE(entered.count(), 1);
    // Privileged only: the conference is not flagged.
    QCOMPARE(m_model->index(1, 0).data(LM::NonPrivilegedRole).toBool(), false);

    m_model->conferenceEvent(delMember(QStringLiteral("room7"), QStringLiteral("21")));
    QCOMPARE(left.count(), 0);
    QCOMPARE(m_model->getMemberId(QStringLiteral("room7"), kDispatcher), QStringLiteral("22"));
    m_model->conferenceEvent(delMember(QStringLiteral("room7"), QStringLiteral("22")));
    QCOMPARE(left.count(), 1);
    QCOMPARE(left.first().at(0).toString(), QStringLiteral("room7"));
    // Disconnected rows stay while "DisplayDisconnected" is 0.
    QCOMPARE(members->rowCount(), 2);
    // Joining again is a new transition.
    m_model->conferenceEvent(addMember(QStringLiteral("room7"), QStringLiteral("23"), kDispatcher));
    QCOMPARE(entered.count(), 2);
    QCOMPARE(members->rowCount(), 2);
}

void ConferenceListModelTest::memberEventsAndPrimaryOnlyEntrySignal()
{
    QSignalSpy userEntered(m_model.get(), &LM::userEnteredConference);
    m_model->conferenceEvent(confEvent(QStringLiteral("conference-create"), QStringLiteral("0")));
    m_model->conferenceEvent(confEvent(QStringLiteral("conference-create"), QStringLiteral("room2")));
    QCOMPARE(m_model->rowCount(), 2);
    auto primary = watch(QStringLiteral("0"));
    auto room2 = watch(QStringLiteral("room2"));

    m_model->conferenceEvent(
        addMember(QStringLiteral("0"), QStringLiteral("5"), QStringLiteral("1003@example.org")));
    m_model->conferenceEvent(
        addMember(QStringLiteral("room2"), QStringLiteral("6"), QStringLiteral("1004@example.org")));
    QCOMPARE(userEntered.count(), 1);
    QCOMPARE(userEntered.first(), (QList<QVariant>{QStringLiteral("0"), QStringLiteral("1003@example.org")}));

    // Ghost members and events for unknown conferences change nothing.
    ESL2::Event ghost =
        addMember(QStringLiteral("0"), QStringLiteral("7"), QStringLiteral("1005@example.org"));
    ghost.insert(QStringLiteral("Member-Ghost"), QStringLiteral("TRUE"));
    m_model->conferenceEvent(ghost);
    m_model->conferenceEvent(
        addMember(QStringLiteral("nowhere"), QStringLiteral("8"), QStringLiteral("1005@example.org")));
    m_model->conferenceEvent(addMember(QString(), QStringLiteral("8"), QStringLiteral("1005@example.org")));
    QCOMPARE(primary->rowCount(), 1);
    QCOMPARE(m_model->rowCount(), 2);

    // A PSTN caller found by its number when there is no presence id.
    ESL2::Event pstn = addMember(QStringLiteral("room2"), QStringLiteral("9"), QString());
    pstn.insert(QStringLiteral("Caller-Caller-ID-Number"), QStringLiteral("pstn:84951234567"));
    m_model->conferenceEvent(pstn);
    const QModelIndex pstnRow = memberByUri(*room2, QStringLiteral("84951234567"));
    QVERIFY(pstnRow.isValid());
    QVERIFY(pstnRow.data(PM::PstnRole).toBool());

    const QModelIndex m = primary->index(0, 0);
    m_model->conferenceEvent(
        confEvent(QStringLiteral("mute-member"), QStringLiteral("0"), {{"Member-ID", QStringLiteral("5")}}));
    QCOMPARE(m.data(PM::CanSpeakRole).toBool(), false);
    m_model->conferenceEvent(confEvent(QStringLiteral("start-talking"), QStringLiteral("0"),
                                       {{"Member-ID", QStringLiteral("5")}}));
    QCOMPARE(m.data(PM::TalkingRole).toBool(), true);
    m_model->conferenceEvent(confEvent(QStringLiteral("unmute-member"), QStringLiteral("0"),
                                       {{"Member-ID", QStringLiteral("5")}}));
    m_model->conferenceEvent(
        confEvent(QStringLiteral("stop-talking"), QStringLiteral("0"), {{"Member-ID", QStringLiteral("5")}}));
    QCOMPARE(m.data(PM::CanSpeakRole).toBool(), true);
    QCOMPARE(m.data(PM::TalkingRole).toBool(), false);
    QVERIFY(m_model->hasNonPrivilegedParticipants(QStringLiteral("0")));

    // Destroy keeps the row and its members but clears the flags.
    QVERIFY(m_model->index(1, 0).data(LM::NonPrivilegedRole).toBool());
    m_model->conferenceEvent(confEvent(QStringLiteral("conference-destroy"), QStringLiteral("room2")));
    QCOMPARE(m_model->index(1, 0).data(LM::ActiveRole).toBool(), false);
    QCOMPARE(m_model->index(1, 0).data(LM::NonPrivilegedRole).toBool(), false);
    QVERIFY(m_model->index(1, 0).data(LM::RenamableRole).toBool());
    QCOMPARE(room2->rowCount(), 2);

    // Removing the last member of a conference removes it, but never the primary.
    room2->removeRows(0, 2);
    QCOMPARE(conferenceIds(*m_model), QStringList{QStringLiteral("0")});
    primary->removeRows(0, 1);
    QCOMPARE(conferenceIds(*m_model), QStringList{QStringLiteral("0")});
}

void ConferenceListModelTest::dropsOfUsersAndMembers()
{
    m_model->conferenceEvent(confEvent(QStringLiteral("conference-create"), QStringLiteral("room1")));
    m_model->conferenceEvent(
        addMember(QStringLiteral("room1"), QStringLiteral("3"), QStringLiteral("1003@example.org")));
    QSignalSpy calls(m_model.get(), &LM::callToConference);
    QSignalSpy transfers(m_model.get(), &LM::transferRequest);
    const QModelIndex room1 = m_model->index(1, 0);

    std::unique_ptr<QMimeData> users(
        userDrag({QStringLiteral("1004@example.org"), QStringLiteral("1005@example.org"),
                  QStringLiteral("1004@example.org")}));
    QVERIFY(!m_model->canDropMimeData(users.get(), Qt::CopyAction, -1, 1, room1));
    QMimeData text;
    text.setText(QStringLiteral("1004@example.org"));
    QVERIFY(!m_model->canDropMimeData(&text, Qt::CopyAction, -1, -1, room1));
    QVERIFY(!m_model->dropMimeData(&text, Qt::CopyAction, -1, -1, room1));
    QVERIFY(m_model->dropMimeData(users.get(), Qt::IgnoreAction, -1, -1, room1));
    QCOMPARE(calls.count(), 0);

    // Active target: one call per distinct URI, nothing stored locally.
    QVERIFY(m_model->dropMimeData(users.get(), Qt::CopyAction, -1, 0, room1));
    QCOMPARE(calls.count(), 2);
    QCOMPARE(calls.at(0), (QList<QVariant>{QStringLiteral("room1"), QStringLiteral("1004@example.org")}));
    QCOMPARE(calls.at(1), (QList<QVariant>{QStringLiteral("room1"), QStringLiteral("1005@example.org")}));
    QCOMPARE(m_model->getParticipantsModel(QStringLiteral("room1"))->rowCount(), 1);

    // Inactive primary: planned members, one per URI, none twice.
    auto primary = watch(QStringLiteral("0"));
    QVERIFY(m_model->dropMimeData(users.get(), Qt::CopyAction, -1, -1, m_model->index(0, 0)));
    QVERIFY(m_model->dropMimeData(users.get(), Qt::CopyAction, -1, -1, m_model->index(0, 0)));
    QCOMPARE(primary->rowCount(), 2);
    QCOMPARE(primary->index(1, 0).data().toString(), QStringLiteral("Имя 1005@example.org"));
    QCOMPARE(calls.count(), 2);

    // Members back onto their own conference: refused; onto another: one transfer each.
    std::unique_ptr<QMimeData> own(memberDrag(QStringLiteral("room1"), {QStringLiteral("3")}));
    QVERIFY(!m_model->dropMimeData(own.get(), Qt::MoveAction, -1, -1, room1));
    QCOMPARE(transfers.count(), 0);
    std::unique_ptr<QMimeData> two(
        memberDrag(QStringLiteral("room1"), {QStringLiteral("3"), QStringLiteral("4")}));
    QVERIFY(m_model->dropMimeData(two.get(), Qt::MoveAction, -1, -1, m_model->index(0, 0)));
    QCOMPARE(transfers.count(), 2);
    QCOMPARE(transfers.at(1),
             (QList<QVariant>{QStringLiteral("0"), QStringLiteral("room1"), QStringLiteral("4")}));

    // Members dropped on empty space go to a fresh planned conference.
    QVERIFY(m_model->dropMimeData(two.get(), Qt::MoveAction, 3, -1, QModelIndex()));
    QCOMPARE(conferenceIds(*m_model).last(), QStringLiteral("конференция-1"));
    QCOMPARE(transfers.last().at(0).toString(), QStringLiteral("конференция-1"));

    // The next new conference takes the next free number, with the configured prefix.
    XMLConfig::instance().newConferencePrefix = QStringLiteral("conf-");
    QCOMPARE(m_model->addNewConference(), 3);
    QCOMPARE(m_model->index(3, 0).data().toString(), QStringLiteral("conf-1"));
    QCOMPARE(m_model->addNewConference(), 4);
    QCOMPARE(m_model->index(4, 0).data().toString(), QStringLiteral("conf-2"));
}

void ConferenceListModelTest::renamesAndFlags()
{
    const int planned = m_model->addNewConference();
    const QModelIndex idx = m_model->index(planned, 0);
    QCOMPARE(int(m_model->flags(idx)), 43);
    QCOMPARE(int(m_model->flags(m_model->index(0, 0))), 41);
    QCOMPARE(m_model->flags(QModelIndex()), Qt::ItemIsDropEnabled);
    auto members = watch(m_model->index(planned, 0).data(LM::ConferenceIdRole).toString());
    QSignalSpy header(members.get(), &PM::headerDataChanged);

    QVERIFY(!m_model->setData(idx, QString(), Qt::EditRole));
    // Taking the primary's shown name means taking the primary's id, which exists.
    QVERIFY(!m_model->setData(idx, QStringLiteral("Главная"), Qt::EditRole));
    QVERIFY(!m_model->setData(idx, QStringLiteral("0"), Qt::EditRole));
    QCOMPARE(header.count(), 0);
    QVERIFY(m_model->setData(idx, QStringLiteral("Пожар"), Qt::EditRole));
    QCOMPARE(idx.data(LM::ConferenceIdRole).toString(), QStringLiteral("Пожар"));
    QCOMPARE(members->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Пожар"));
    QCOMPARE(header.count(), 1);
    QVERIFY(m_model->getParticipantsModel(QStringLiteral("Пожар")) == members);
    QVERIFY(m_model->getParticipantsModel(QStringLiteral("конференция-1")) == nullptr);

    // A server conference is not renamable, nor is the primary.
    m_model->conferenceEvent(confEvent(QStringLiteral("conference-create"), QStringLiteral("Пожар")));
    QCOMPARE(idx.data(LM::RenamableRole).toBool(), false);
    QCOMPARE(int(m_model->flags(idx)), 41);
    QVERIFY(!m_model->setData(idx, 5, LM::RenamableRole));

    // Setting the count on an empty conference removes it.
    QSignalSpy removed(m_model.get(), &QAbstractItemModel::rowsRemoved);
    QVERIFY(m_model->setData(idx, 0, LM::ParticipantCountRole));
    QCOMPARE(removed.count(), 1);
    QCOMPARE(conferenceIds(*m_model), QStringList{QStringLiteral("0")});
}

void ConferenceListModelTest::configChangedMovesThePrimary()
{
    XMLConfig &config = XMLConfig::instance();
    QSignalSpy changed(m_model.get(), &QAbstractItemModel::dataChanged);
    config.primaryConferenceDisplayName = QStringLiteral("Дежурная");
    m_model->configChanged();
    QCOMPARE(changed.count(), 1);
    QCOMPARE(m_model->index(0, 0).data().toString(), QStringLiteral("Дежурная"));

    // Without members the old primary goes; the new one appears at row 0.
    m_model->conferenceEvent(confEvent(QStringLiteral("conference-create"), QStringLiteral("room1")));
    config.primaryConferenceId = QStringLiteral("100");
    config.primaryConferenceDisplayName.clear();
    m_model->configChanged();
    QCOMPARE(conferenceIds(*m_model), (QStringList{QStringLiteral("100"), QStringLiteral("room1")}));
    QCOMPARE(m_model->index(0, 0).data().toString(), QStringLiteral("100"));

    // With members the old primary stays as an ordinary conference; an existing row
    // becomes the primary in place.
    m_model->conferenceEvent(
        addMember(QStringLiteral("100"), QStringLiteral("1"), QStringLiteral("1003@example.org")));
    config.primaryConferenceId = QStringLiteral("room1");
    config.primaryConferenceDisplayName = QStringLiteral("Основная");
    m_model->configChanged();
    QCOMPARE(conferenceIds(*m_model), (QStringList{QStringLiteral("100"), QStringLiteral("room1")}));
    QCOMPARE(m_model->index(0, 0).data().toString(), QStringLiteral("100"));
    QCOMPARE(m_model->index(1, 0).data().toString(), QStringLiteral("Основная"));
    // The former primary now empties like any other conference.
    m_model->getParticipantsModel(QStringLiteral("100"))->removeRows(0, 1);
    QCOMPARE(conferenceIds(*m_model), QStringList{QStringLiteral("room1")});
}

QTEST_GUILESS_MAIN(ConferenceListModelTest)
#include "conferencelistmodel_test.moc"
