// The sample world that scripts/lab-up serves: its directory loads whole and its start-up
// script leaves the lab in the state newcomers and the end-to-end tests rely on.

#include "lab/labconfig.h"
#include "lab/labcontrol.h"
#include "lab/labevent.h"
#include "lab/labserver.h"
#include "tests/lab/labclient.h"

#include <QDir>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

class LabWorldTest : public QObject
{
    Q_OBJECT
private slots:
    void worldStartsWithUsersConferencesAndPstn();
};

void LabWorldTest::worldStartsWithUsersConferencesAndPstn()
{
    const QString world = qEnvironmentVariable("TESMAR_SOURCE_DIR") + "/lab/world";
    LabConfig config;
    config.listenPort = 0;
    config.directory = world + "/directory";
    config.timeScale = 0.01;
    LabServer server(config);
    LabControl control(&server);
    QVERIFY(server.start());
    QSignalSpy finished(&control, &LabControl::scriptFinished);
    QString error;
    QVERIFY2(control.runScript(world + "/world.lab", &error), qPrintable(error));
    QVERIFY(finished.wait(5000));

    LabClient c;
    QVERIFY(c.login(server.port()));
    // Every file parses: 40 users, 3 dispatchers, 3 technicians, 5 groups; simulated users
    // are registered, the dispatchers are left to the console.
    QStringList lines = QString::fromUtf8(c.api("list_users").body).split('\n', Qt::SkipEmptyParts);
    lines = lines.mid(1, lines.size() - 2);
    QCOMPARE(lines.size(), 40);
    QMap<QString, int> roles;
    QSet<QString> groups;
    int registered = 0;
    for (const QString &line : lines) {
        const QByteArray user = line.section('|', 0, 0).toUtf8() + "@127.0.0.1 attr ";
        const QString role = QString::fromUtf8(c.api("user_data " + user + "role").body);
        ++roles[role];
        for (const QString &group : QString::fromUtf8(c.api("user_data " + user + "groups").body).split(';'))
            groups.insert(group);
        const bool online = !line.section('|', 4, 4).startsWith("error/");
        registered += online;
        QVERIFY2(!(online && role == "dispatcher"), qPrintable(line));
    }
    QCOMPARE(roles.value("dispatcher"), 3);
    QCOMPARE(roles.value("technician"), 3);
    QVERIFY(roles.value("-ERR no reply\n") >= 5); // users without a role
    groups.remove("");
    groups.remove("-ERR no reply\n");
    QCOMPARE(groups.size(), 5);
    QVERIFY(registered >= 6);

    // The primary conference and a second one where somebody talks.
    const QString conferences = QString::fromUtf8(c.api("conference list").body);
    QVERIFY2(conferences.contains("+OK Conference 0 (1 member ") &&
                 conferences.contains("+OK Conference 100 (2 members "),
             qPrintable(conferences));
    QVERIFY(c.api("conference 100 xml_list").body.contains("<talking>true</talking>"));

    // Public numbers: 8... answers, 7... is busy.
    const auto dial = [&](const QByteArray &number) {
        const LabFrame reply =
            c.request("bgapi originate loopback/" + number + "/default/XML pstn XML conference\n\n");
        const QByteArray job = reply.header("Job-UUID");
        return c.waitEvent("Job-UUID", QString::fromUtf8(job), 5000).field("_body");
    };
    QVERIFY(dial("89161234567").startsWith("+OK "));
    QCOMPARE(dial("74951234567"), QString("-ERR USER_BUSY\n"));
}

QTEST_GUILESS_MAIN(LabWorldTest)
#include "labworld_test.moc"
