// The lab's directory and SIP registrations: list_users and user_data as the real server
// formats them, registration events, reloadxml, MODULE_LOAD and the key-value store.

#include "lab/labdirectory.h"
#include "tests/lab/labclient.h"
#include "tests/lab/labfixture.h"

#include <QDir>
#include <QFile>
#include <QTest>

class LabDirectoryTest : public QObject
{
    Q_OBJECT
private slots:
    void listUsersAndUserDataMatchTheRecording();
    void registrationsRaiseTheEventsTheConsoleReads();
    void reloadxmlRereadsTheFolder();
    void moduleLoadAndKeyValueStore();
};

static LabFrame api(LabClient &c, const QByteArray &command)
{
    return c.request("api " + command + "\n\n");
}

static QStringList missingFields(const LabFrame &ours, const QString &referenceStem)
{
    QStringList missing;
    for (const QString &k : LabFixture::referenceFields(referenceStem)) {
        if (!ours.json().contains(k))
            missing << k;
    }
    return missing;
}

void LabDirectoryTest::listUsersAndUserDataMatchTheRecording()
{
    LabFixture lab;
    QVERIFY(lab.ok());
    LabClient c;
    QVERIFY(c.login(lab.port()));
    // The recording was made with 1002 registered from port 5074.
    QCOMPARE(lab.run(QStringLiteral("register 1002 sip:1002@127.0.0.1:5074")),
             QStringLiteral("+OK registered 1002"));

    QCOMPARE(api(c, "list_users").raw, LabFixture::reference(QStringLiteral("019_api_list_users")));
    QCOMPARE(api(c, "list_users user 1001").raw,
             LabFixture::reference(QStringLiteral("020_api_list_users_user_1001")));

    const QList<QPair<QByteArray, QString>> cases = {
        {"user_data 1001@127.0.0.1 attr role", QStringLiteral("023_user_data_1001_attr_role")},
        {"user_data 1001@127.0.0.1 attr groups", QStringLiteral("024_user_data_1001_attr_groups")},
        {"user_data 1003@127.0.0.1 attr groups", QStringLiteral("028_user_data_1003_attr_groups")},
        {"user_data 1001@127.0.0.1 var effective_caller_id_name",
         QStringLiteral("037_user_data_1001_var_name")},
        {"user_data 1005@127.0.0.1 var effective_caller_id_name",
         QStringLiteral("038_user_data_1005_var_name_empty")},
        {"user_data 1001@127.0.0.1 param password", QStringLiteral("040_user_data_1001_param_password")},
        {"user_data 9999@127.0.0.1 attr role", QStringLiteral("041_user_data_9999_nonexistent_attr_role")},
        {"user_data 1001@example.invalid attr role",
         QStringLiteral("042_user_data_1001_otherdomain_attr_role")},
        {"user_data 1001 attr role", QStringLiteral("043_user_data_no_domain")},
    };
    for (const auto &tc : cases)
        QVERIFY2(api(c, tc.first).raw == LabFixture::reference(tc.second), tc.first.constData());
}

void LabDirectoryTest::registrationsRaiseTheEventsTheConsoleReads()
{
    LabFixture lab;
    QVERIFY(lab.ok());
    LabClient c;
    QVERIFY(c.login(lab.port()));

    QCOMPARE(lab.run(QStringLiteral("register 1001")), QStringLiteral("+OK registered 1001"));
    const LabFrame reg = c.waitEvent([](const LabFrame &f) {
        return f.field(QStringLiteral("Event-Subclass")) == QLatin1String("sofia::register");
    });
    QCOMPARE(reg.field(QStringLiteral("from-user")), QStringLiteral("1001"));
    QCOMPARE(reg.field(QStringLiteral("from-host")), QStringLiteral("127.0.0.1"));
    QCOMPARE(reg.field(QStringLiteral("effective_caller_id_name")), QStringLiteral("Иванов Иван"));
    QVERIFY(reg.field(QStringLiteral("contact")).startsWith(QLatin1String("\"\" <sip:1001@127.0.0.1:")));
    QVERIFY2(missingFields(reg, QStringLiteral("0003_ev_CUSTOM_sofia-register")).isEmpty(),
             qPrintable(
                 missingFields(reg, QStringLiteral("0003_ev_CUSTOM_sofia-register")).join(QLatin1Char(','))));
    const QString contact = reg.field(QStringLiteral("contact")).mid(4).chopped(1);
    QVERIFY(api(c, "list_users user 1001").body.contains("|sofia/internal/" + contact.toUtf8() + "|"));

    QCOMPARE(lab.run(QStringLiteral("unregister 1001")), QStringLiteral("+OK unregister 1001"));
    // The presence change comes first, then the unregistration, as on the real server.
    const LabFrame presence = c.waitEvent([](const LabFrame &f) {
        return f.field(QStringLiteral("Event-Name")) == QLatin1String("PRESENCE_IN") &&
               f.field(QStringLiteral("status")) == QLatin1String("Unregistered");
    });
    QCOMPARE(presence.field(QStringLiteral("from")), QStringLiteral("1001@127.0.0.1"));
    QVERIFY(missingFields(presence, QStringLiteral("0110_ev_PRESENCE_IN")).isEmpty());
    const QList<LabFrame> after = c.takeEvents();
    QVERIFY(!after.isEmpty());
    const LabFrame unreg = after.last();
    QCOMPARE(unreg.field(QStringLiteral("Event-Subclass")), QStringLiteral("sofia::unregister"));
    QCOMPARE(unreg.field(QStringLiteral("from-user")), QStringLiteral("1001"));
    QVERIFY(missingFields(unreg, QStringLiteral("0111_ev_CUSTOM_sofia-unregister")).isEmpty());
    QVERIFY(api(c, "list_users user 1001").body.contains("|error/user_not_registered|"));

    // Expiry names the user in "user" and "host", and carries an absolute time.
    lab.run(QStringLiteral("register 1004 sip:1004@127.0.0.1:5090"));
    QCOMPARE(lab.run(QStringLiteral("expire 1004")), QStringLiteral("+OK expire 1004"));
    const LabFrame expire = c.waitEvent([](const LabFrame &f) {
        return f.field(QStringLiteral("Event-Subclass")) == QLatin1String("sofia::expire");
    });
    QCOMPARE(expire.field(QStringLiteral("user")), QStringLiteral("1004"));
    QCOMPARE(expire.field(QStringLiteral("host")), QStringLiteral("127.0.0.1"));
    QVERIFY(expire.field(QStringLiteral("expires")).toLongLong() > 1700000000);
    QVERIFY(missingFields(expire, QStringLiteral("0112_ev_CUSTOM_sofia-expire")).isEmpty());

    QVERIFY(lab.run(QStringLiteral("register 4242")).startsWith(QLatin1String("-ERR")));
    QVERIFY(lab.run(QStringLiteral("unregister 1002")).startsWith(QLatin1String("-ERR")));
}

void LabDirectoryTest::reloadxmlRereadsTheFolder()
{
    LabFixture lab;
    QVERIFY(lab.ok());
    LabClient c;
    QVERIFY(c.login(lab.port()));
    lab.run(QStringLiteral("register 1001"));

    // A new user with operators, one user removed, and one broken file that must not hide the rest.
    QFile added(QDir(lab.directoryPath()).filePath(QStringLiteral("1007.xml")));
    QVERIFY(added.open(QIODevice::WriteOnly));
    added.write("<include>\n  <user id=\"1007\" groups=\"Смена;\" role=\"technician\" "
                "allow=\"recordings;settings;control\">\n"
                "    <params><param name=\"password\" value=\"pw1007\"/></params>\n"
                "    <variables><variable name=\"user_context\" value=\"default\"/>"
                "<variable name=\"effective_caller_id_name\" value=\"Новый\"/></variables>\n"
                "    <operators><operator name=\"Дежурный\" telephone=\"555\"/></operators>\n  "
                "</user>\n</include>\n");
    added.close();
    QVERIFY(QFile::remove(QDir(lab.directoryPath()).filePath(QStringLiteral("1006.xml"))));
    QFile broken(QDir(lab.directoryPath()).filePath(QStringLiteral("1008.xml")));
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write("<include><user id=\"1008\">");
    broken.close();

    QCOMPARE(api(c, "list_users").body.count('\n'), 6 + 3); // not re-read before reloadxml
    QCOMPARE(api(c, "reloadxml").raw, LabFixture::reference(QStringLiteral("126_reloadxml")));
    const LabFrame reload = c.waitEvent([](const LabFrame &f) {
        return f.field(QStringLiteral("Event-Name")) == QLatin1String("RELOADXML");
    });
    QVERIFY(reload.isValid());
    QVERIFY(missingFields(reload, QStringLiteral("0092_ev_RELOADXML")).isEmpty());

    const QByteArray users = api(c, "list_users").body;
    QVERIFY(users.contains("\n1007|default|127.0.0.1|default|error/user_not_registered||Новый|\n"));
    QVERIFY(!users.contains("\n1006|"));
    QVERIFY(!users.contains("\n1008|"));
    // Registrations of users still there survive the reload.
    QVERIFY(users.contains("\n1001|default|127.0.0.1|default|sofia/internal/sip:1001@"));
    QCOMPARE(api(c, "user_data 1007@127.0.0.1 attr allow").body, QByteArray("recordings;settings;control"));
    QCOMPARE(api(c, "user_data 1006@127.0.0.1 attr role").body, QByteArray("-ERR no reply\n"));

    LabDirectory dir(QStringLiteral("127.0.0.1"));
    QString error;
    QVERIFY(dir.load(lab.directoryPath(), &error));
    QCOMPARE(dir.user(QStringLiteral("1007"))->operators.size(), 1);
    QCOMPARE(dir.user(QStringLiteral("1007"))->operators.first().second, QStringLiteral("555"));
    QVERIFY(!dir.load(lab.directoryPath() + QStringLiteral("/missing"), &error));
}

void LabDirectoryTest::moduleLoadAndKeyValueStore()
{
    LabFixture lab;
    QVERIFY(lab.ok());
    LabClient c;
    QVERIFY(c.login(lab.port()));

    QCOMPARE(lab.run(QStringLiteral("module_load")), QStringLiteral("+OK"));
    const LabFrame load = c.waitEvent([](const LabFrame &f) {
        return f.field(QStringLiteral("Event-Name")) == QLatin1String("MODULE_LOAD");
    });
    QCOMPARE(load.field(QStringLiteral("key")), QStringLiteral("mod_sofia"));
    QVERIFY(missingFields(load, QStringLiteral("0094_ev_MODULE_LOAD")).isEmpty());
    QCOMPARE(api(c, "reload mod_sofia").body,
             QByteArray("+OK Reloading XML\n+OK module unloaded\n+OK module loaded\n"));
    QVERIFY(c.waitEvent([](const LabFrame &f) {
                 return f.field(QStringLiteral("key")) == QLatin1String("mod_sofia");
             }).isValid());

    // The console's loud-alarm entries: the value holds a blank and dots.
    QCOMPARE(api(c, "db insert/alarms/1001/10.0.0.5 .1.3.6.1.4.1.47781.1.1.0").raw,
             LabFixture::reference(QStringLiteral("117_db_insert")));
    QCOMPARE(api(c, "db select/alarms/1001").raw, LabFixture::reference(QStringLiteral("118_db_select")));
    QCOMPARE(lab.run(QStringLiteral("db")),
             QStringLiteral("+OK 46\nalarms/1001=10.0.0.5 .1.3.6.1.4.1.47781.1.1.0\n"));
    QCOMPARE(api(c, "db delete/alarms/1001").raw, LabFixture::reference(QStringLiteral("121_db_delete")));
    QCOMPARE(api(c, "db select/alarms/1001").raw,
             LabFixture::reference(QStringLiteral("122_db_select_after_delete")));
    QCOMPARE(api(c, "db delete/alarms/1001").body, QByteArray("+OK"));
    QCOMPARE(api(c, "db bogus/alarms/1001").body, QByteArray("!err!"));
    QCOMPARE(lab.run(QStringLiteral("db")), QStringLiteral("+OK 0"));
}

QTEST_GUILESS_MAIN(LabDirectoryTest)
#include "labdirectory_test.moc"
