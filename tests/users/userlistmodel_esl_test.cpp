#include "app/xmlconfig.h"
#include "tests/support/fakeeslserver.h"
#include "tests/users/usertestdata.h"

#include <QAbstractItemModelTester>
#include <QtTest>

using namespace UserTestData;

// The model behind a real event-socket client and the scripted server: the
// requests it sends, the events it follows, the reload on reconnection.
class UserListModelEslTest : public QObject
{
    Q_OBJECT

private slots:
    void connectionLoadsDirectoryAndFollowsEvents();
};

void UserListModelEslTest::connectionLoadsDirectoryAndFollowsEvents()
{
    qRegisterMetaType<ESL2::Event>("ESL2::Event");
    XMLConfig::instance().currentServerHost = kDomain;
    XMLConfig::instance().currentLoginUser = QStringLiteral("1006");
    FakeEslServer server;
    server.addApiReply(QStringLiteral("api list_users"), listUsersReply());
    server.addApiReply(QStringLiteral("api user_data 1001@127.0.0.1 attr role"),
                       QStringLiteral("dispatcher"));
    server.addApiReply(QStringLiteral("api user_data 1001@127.0.0.1 attr groups"), QStringLiteral("А;Б;"));
    server.addApiReply(QStringLiteral("api user_data 1004@127.0.0.1 attr groups"), QStringLiteral("Б;"));
    server.addApiReply(QStringLiteral("api user_data "), kNoReply, FakeEslServer::Prefix);

    ESL2 esl;
    esl.setTimerIntervalsForTest(2000, 300, 50);
    UserListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    connect(&esl, &ESL2::connected, &model, &UserListModel::eslConnected, Qt::QueuedConnection);
    connect(&esl, &ESL2::registeredEvent, &model, &UserListModel::registeredEvent, Qt::QueuedConnection);
    connect(&esl, &ESL2::presence, &model, &UserListModel::presenceEvent, Qt::QueuedConnection);
    QSignalSpy reloaded(&model, &UserListModel::userListReloaded);

    emit esl.sigConnect(server.host(), server.port(), server.password());
    QTRY_COMPARE_WITH_TIMEOUT(model.rowCount(), 4, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(model.rowCount(model.index(3, 0)), 4, 5000);
    QCOMPARE(model.index(3, 0).data().toString(), kNoGroup);
    QVERIFY(model.isDispatcherOrTechnician(uri("1001")));
    // Two requests for each user of the login domain, none for the foreign one.
    QCOMPARE(server.countRequests(QStringLiteral("api list_users")), 1);
    QCOMPARE(server.commands().filter(QStringLiteral("user_data")).size(), 12);
    QCOMPARE(server.countRequests(QStringLiteral("api user_data 1005@127.0.0.1 attr groups")), 1);
    QVERIFY(server.commands().filter(QStringLiteral("2001")).isEmpty());

    server.sendEvent(registerEvent(QStringLiteral("sofia::register"), QStringLiteral("1003")));
    server.sendEvent(presenceEvent(uri("1003"), QStringLiteral("active")));
    server.sendEvent(registerEvent(QStringLiteral("sofia::expire"), QStringLiteral("1002")));
    QTRY_VERIFY_WITH_TIMEOUT(!model.user(uri("1002")).registered, 5000);
    QVERIFY(model.user(uri("1003")).registered);
    QCOMPARE(model.user(uri("1003")).callState, QStringLiteral("active"));

    // Reconnection: the list is asked for again and states start over.
    server.closeConnection();
    QTRY_COMPARE_WITH_TIMEOUT(reloaded.count(), 2, 10000);
    QCOMPARE(model.user(uri("1003")).callState, QStringLiteral("idle"));
    QVERIFY(model.user(uri("1002")).registered);
    QTRY_COMPARE_WITH_TIMEOUT(model.rowCount(), 4, 5000);
}

QTEST_MAIN(UserListModelEslTest)
#include "userlistmodel_esl_test.moc"
