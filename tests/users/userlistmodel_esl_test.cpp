#include "app/xmlconfig.h"
#include "esl/esl2.h"
#include "tests/support/fakeeslserver.h"
#include "tests/users/usertestdata.h"
#include "users/userlistmodel.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QtTest>

using namespace UserTestData;

// The model wired to a real event-socket client talking to the scripted server:
// the requests it makes and the events it follows, over the wire.
class UserListModelEslTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void connectionLoadsDirectoryAndFollowsEvents();
};

void UserListModelEslTest::initTestCase()
{
    qRegisterMetaType<ESL2::Event>("ESL2::Event");
    XMLConfig::instance().currentServerHost = kDomain;
    XMLConfig::instance().currentLoginUser = QStringLiteral("1006");
}

void UserListModelEslTest::connectionLoadsDirectoryAndFollowsEvents()
{
    FakeEslServer server;
    server.addApiReply(QStringLiteral("api list_users"), listUsersReply());
    server.addApiReply(QStringLiteral("api user_data 1001@127.0.0.1 attr role"),
                       QStringLiteral("dispatcher"));
    server.addApiReply(QStringLiteral("api user_data 1001@127.0.0.1 attr groups"),
                       QStringLiteral("Группа А;Группа Б;"));
    server.addApiReply(QStringLiteral("api user_data 1002@127.0.0.1 attr role"),
                       QStringLiteral("technician"));
    server.addApiReply(QStringLiteral("api user_data 1002@127.0.0.1 attr groups"),
                       QStringLiteral("Группа А;"));
    server.addApiReply(QStringLiteral("api user_data 1004@127.0.0.1 attr groups"),
                       QStringLiteral("Группа Б;"));
    server.addApiReply(QStringLiteral("api user_data "), kNoReply, FakeEslServer::Prefix);

    ESL2 esl;
    esl.setTimerIntervalsForTest(2000, 300, 50);
    UserListModel model(QStringLiteral("root"));
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    connect(&esl, &ESL2::connected, &model, &UserListModel::eslConnected, Qt::QueuedConnection);
    connect(&esl, &ESL2::registeredEvent, &model, &UserListModel::registeredEvent, Qt::QueuedConnection);
    connect(&esl, &ESL2::presence, &model, &UserListModel::presenceEvent, Qt::QueuedConnection);
    QSignalSpy reloaded(&model, &UserListModel::userListReloaded);

    emit esl.sigConnect(server.host(), server.port(), server.password());
    QTRY_COMPARE_WITH_TIMEOUT(reloaded.count(), 1, 5000);
    // Every user of the login domain gets its two requests; the foreign one none.
    QTRY_COMPARE_WITH_TIMEOUT(server.commands().filter(QStringLiteral("user_data")).size(), 12, 5000);
    QCOMPARE(server.countRequests(QStringLiteral("api list_users")), 1);
    QCOMPARE(server.countRequests(QStringLiteral("api user_data 1005@127.0.0.1 attr role")), 1);
    QCOMPARE(server.countRequests(QStringLiteral("api user_data 1005@127.0.0.1 attr groups")), 1);
    QVERIFY(server.commands().filter(QStringLiteral("2001")).isEmpty());

    QTRY_COMPARE_WITH_TIMEOUT(model.indexesOfUser(QStringLiteral("1006@127.0.0.1")).size(), 2, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(model.rowCount(), 4, 5000);
    QCOMPARE(model.index(3, 0).data().toString(), kNoGroup);
    QCOMPARE(model.rowCount(model.index(3, 0)), 3);
    QVERIFY(model.isDispatcherOrTechnician(QStringLiteral("1001@127.0.0.1")));
    QVERIFY(model.isDispatcherOrTechnician(QStringLiteral("1002@127.0.0.1")));
    QVERIFY(!model.isDispatcherOrTechnician(QStringLiteral("1003@127.0.0.1")));

    // Events as the server sends them.
    server.sendEvent(registerEvent(QStringLiteral("sofia::register"), QStringLiteral("1003")));
    QTRY_VERIFY_WITH_TIMEOUT(model.user(QStringLiteral("1003@127.0.0.1")).registered, 5000);
    server.sendEvent(presenceEvent(QStringLiteral("1003@127.0.0.1"), QStringLiteral("active")));
    QTRY_COMPARE_WITH_TIMEOUT(model.user(QStringLiteral("1003@127.0.0.1")).callState,
                              QStringLiteral("active"), 5000);
    server.sendEvent(registerEvent(QStringLiteral("sofia::expire"), QStringLiteral("1002")));
    QTRY_VERIFY_WITH_TIMEOUT(!model.user(QStringLiteral("1002@127.0.0.1")).registered, 5000);

    // A reconnection reloads the list: states start over from the list reply.
    server.closeConnection();
    QTRY_COMPARE_WITH_TIMEOUT(reloaded.count(), 2, 10000);
    QCOMPARE(server.countRequests(QStringLiteral("api list_users")), 2);
    QCOMPARE(model.user(QStringLiteral("1003@127.0.0.1")).registered, false);
    QCOMPARE(model.user(QStringLiteral("1003@127.0.0.1")).callState, QStringLiteral("idle"));
    QTRY_COMPARE_WITH_TIMEOUT(model.rowCount(), 4, 5000);
}

QTEST_MAIN(UserListModelEslTest)
#include "userlistmodel_esl_test.moc"
