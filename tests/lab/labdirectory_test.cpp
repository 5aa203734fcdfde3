// The lab's directory and SIP registrations: list_users and user_data as the real server
// formats them, registration events, reloadxml, MODULE_LOAD and the key-value store.

#include "tests/lab/labclient.h"
#include "tests/lab/labfixture.h"

#include <QDir>
#include <QTest>

class LabDirectoryTest : public QObject
{
    Q_OBJECT
private slots:
    void apiRepliesMatchTheRecording();
    void registrationsRaiseTheEventsTheConsoleReads();
    void reloadsRereadTheFolderAndAnnounceTheModule();
};

void LabDirectoryTest::apiRepliesMatchTheRecording()
{
    LabFixture lab;
    LabClient c;
    QVERIFY(lab.ok() && c.login(lab.port()));
    // The recording was made with 1002 registered from port 5074.
    QCOMPARE(lab.run("register 1002 sip:1002@127.0.0.1:5074"), "+OK registered 1002");

    const char *const cases[][2] = {
        {"list_users", "019"},
        {"list_users user 1001", "020"},
        {"user_data 1001@127.0.0.1 attr role", "023"},
        {"user_data 1001@127.0.0.1 attr groups", "024"},
        {"user_data 1003@127.0.0.1 attr groups", "028"},
        {"user_data 1001@127.0.0.1 var effective_caller_id_name", "037"},
        {"user_data 1005@127.0.0.1 var effective_caller_id_name", "038"},
        {"user_data 1001@127.0.0.1 param password", "040"},
        {"user_data 9999@127.0.0.1 attr role", "041"},
        {"user_data 1001@example.invalid attr role", "042"},
        {"user_data 1001 attr role", "043"},
        // The console's loud-alarm entries: the value holds a blank and dots.
        {"db insert/alarms/1001/10.0.0.5 .1.3.6.1.4.1.47781.1.1.0", "117"},
        {"db select/alarms/1001", "118"},
    };
    for (const auto &tc : cases)
        QVERIFY2(c.api(tc[0]).raw == LabFixture::reference(tc[1]), tc[0]);

    QCOMPARE(c.api("db delete/alarms/1001").raw, LabFixture::reference("121"));
    QCOMPARE(c.api("db select/alarms/1001").raw, LabFixture::reference("122"));
}

void LabDirectoryTest::registrationsRaiseTheEventsTheConsoleReads()
{
    LabFixture lab;
    LabClient c;
    QVERIFY(lab.ok() && c.login(lab.port()));

    QCOMPARE(lab.run("register 1001"), "+OK registered 1001");
    const LabFrame reg = c.waitEvent("Event-Subclass", "sofia::register");
    QCOMPARE(
        LabFixture::problems(
            reg, "0003",
            {{"from-user", "1001"}, {"from-host", "127.0.0.1"}, {"effective_caller_id_name", "Иванов Иван"}}),
        QString());
    QVERIFY(reg.field("contact").startsWith("\"\" <sip:1001@127.0.0.1:"));
    const QString contact = reg.field("contact").mid(4).chopped(1);
    QVERIFY(c.api("list_users user 1001").body.contains("|sofia/internal/" + contact.toUtf8() + "|"));

    QCOMPARE(lab.run("unregister 1001"), "+OK unregister 1001");
    // The presence change comes first, then the unregistration, as on the real server.
    const LabFrame presence = c.waitEvent("status", "Unregistered");
    QCOMPARE(
        LabFixture::problems(presence, "0110", {{"Event-Name", "PRESENCE_IN"}, {"from", "1001@127.0.0.1"}}),
        QString());
    const QList<LabFrame> after = c.takeEvents();
    QCOMPARE(LabFixture::problems(after.value(after.size() - 1), "0111",
                                  {{"Event-Subclass", "sofia::unregister"}, {"from-user", "1001"}}),
             QString());
    QVERIFY(c.api("list_users user 1001").body.contains("|error/user_not_registered|"));

    // Expiry names the user in "user" and "host", and carries an absolute time.
    lab.run("register 1004 sip:1004@127.0.0.1:5090");
    QCOMPARE(lab.run("expire 1004"), "+OK expire 1004");
    const LabFrame expire = c.waitEvent("Event-Subclass", "sofia::expire");
    QCOMPARE(LabFixture::problems(expire, "0112", {{"user", "1004"}, {"host", "127.0.0.1"}}), QString());
    QVERIFY(expire.field("expires").toLongLong() > 1700000000);
}

void LabDirectoryTest::reloadsRereadTheFolderAndAnnounceTheModule()
{
    LabFixture lab;
    LabClient c;
    QVERIFY(lab.ok() && c.login(lab.port()));
    lab.run("register 1001");

    // A new user with operators, one user removed, and one broken file that must not hide the rest.
    const QDir dir(lab.directoryPath());
    QVERIFY(LabFixture::writeFile(
        dir.filePath("1007.xml"),
        "<include><user id=\"1007\" groups=\"Смена;\" role=\"technician\" "
        "allow=\"recordings;settings;control\">"
        "<params><param name=\"password\" value=\"pw1007\"/></params>"
        "<variables><variable name=\"user_context\" value=\"default\"/>"
        "<variable name=\"effective_caller_id_name\" value=\"Новый\"/></variables>"
        "<operators><operator name=\"Дежурный\" telephone=\"555\"/></operators></user></include>\n"));
    QVERIFY(QFile::remove(dir.filePath("1006.xml")));
    QVERIFY(LabFixture::writeFile(dir.filePath("1008.xml"), "<include><user id=\"1008\">"));

    QCOMPARE(c.api("list_users").body.count('\n'), 6 + 3); // not re-read before reloadxml
    QCOMPARE(c.api("reloadxml").raw, LabFixture::reference("126"));
    QCOMPARE(LabFixture::problems(c.waitEvent("Event-Name", "RELOADXML"), "0092"), QString());

    const QByteArray users = c.api("list_users").body;
    QVERIFY(users.contains("\n1007|default|127.0.0.1|default|error/user_not_registered||Новый|\n"));
    QVERIFY(!users.contains("\n1006|") && !users.contains("\n1008|"));
    // Registrations of users still there survive the reload.
    QVERIFY(users.contains("\n1001|default|127.0.0.1|default|sofia/internal/sip:1001@"));
    QCOMPARE(c.api("user_data 1007@127.0.0.1 attr allow").body, "recordings;settings;control");
    QCOMPARE(c.api("user_data 1006@127.0.0.1 attr role").body, "-ERR no reply\n");
    QVERIFY(
        c.api("xml_locate directory domain name 127.0.0.1").body.contains(" telephone=\"555\"></operator>"));

    // Loading the SIP module again announces it.
    QCOMPARE(lab.run("module_load"), "+OK");
    QCOMPARE(LabFixture::problems(c.waitEvent("Event-Name", "MODULE_LOAD"), "0094", {{"key", "mod_sofia"}}),
             QString());
}

QTEST_GUILESS_MAIN(LabDirectoryTest)
#include "labdirectory_test.moc"
