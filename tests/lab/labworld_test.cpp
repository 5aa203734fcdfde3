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
    // Every file parses: 40 users, 3 dispatchers and 3 technicians, 5 groups.
    const QStringList lines = QString::fromUtf8(c.api("list_users").body).split('\n', Qt::SkipEmptyParts);
    QStringList registered, users;
    for (const QString &line : lines.mid(1, lines.size() - 2)) {
        const QStringList f = line.split('|');
        users.append(f[0]);
        if (!f.value(4).startsWith("error/"))
            registered.append(f[0]);
    }
    QCOMPARE(users.size(), 40);
    QMap<QString, int> roles;
    QSet<QString> groups;
    for (const QString &id : users) {
        const QString role =
            QString::fromUtf8(c.api(("user_data " + id + "@127.0.0.1 attr role").toUtf8()).body);
        ++roles[role];
        for (const QString &g :
             QString::fromUtf8(c.api(("user_data " + id + "@127.0.0.1 attr groups").toUtf8()).body)
                 .split(';'))
            if (!g.isEmpty() && !g.startsWith("-ERR"))
                groups.insert(g);
    }
    QCOMPARE(roles.value("dispatcher"), 3);
    QCOMPARE(roles.value("technician"), 3);
    QVERIFY(roles.value("-ERR no reply\n") >= 5); // users without a role
    QCOMPARE(groups.size(), 5);
    QVERIFY(groups.contains("Диспетчерская"));

    // Simulated users are registered, the dispatchers are left to the console.
    QVERIFY2(registered.size() >= 6, qPrintable(registered.join(',')));
    for (const char *dispatcher : {"1001", "1002", "1003"})
        QVERIFY(!registered.contains(QString::fromLatin1(dispatcher)));

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
