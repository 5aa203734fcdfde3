// scripts/lab-up and scripts/lab-down on a lab of their own (own state folder, no standard
// ports), beside the lab the other end-to-end tests use: everything comes up quickly and
// is written to the env file, a second lab-up changes nothing, and lab-down leaves no
// process and no listening port behind.

#include "tests/support/labenv.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {

const char *const kPorts[] = {"LAB_ESL_PORT", "LAB_CONTROL_PORT", "LAB_DB_PORT", "LAB_SSH_PORT",
                              "LAB_SIP_PORT"};

QString script(const QString &name)
{
    return qEnvironmentVariable("TESMAR_SOURCE_DIR") + "/scripts/" + name;
}

// Runs a lab script; its exit code, with everything it printed on failure.
int run(const QString &name, const QStringList &args, QString *output)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TESMAR_LAB_BIN", qEnvironmentVariable("TESMAR_BINARY_DIR") + "/lab/tesmar-lab");
    p.setProcessEnvironment(env);
    p.start("bash", QStringList{script(name)} + args);
    if (!p.waitForFinished(90000)) {
        p.kill();
        p.waitForFinished();
    }
    *output = QString::fromUtf8(p.readAll());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// Processes whose command line names the state folder, by program name.
QMap<QString, QList<int>> processesOf(const QString &state)
{
    QMap<QString, QList<int>> out;
    for (const QString &pid : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (pid.toInt() <= 0 || pid.toInt() == getpid())
            continue;
        QFile f("/proc/" + pid + "/cmdline");
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QByteArray cmdline = f.readAll();
        if (!cmdline.contains(state.toUtf8()))
            continue;
        QString program = QString::fromUtf8(cmdline.left(cmdline.indexOf('\0')));
        // sshd shows itself as "sshd: /usr/sbin/sshd -f ... [listener] ...".
        program = program.section(' ', 0, 0).section('/', -1).remove(':');
        out[program].append(pid.toInt());
    }
    return out;
}

bool accepts(quint16 port)
{
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, port);
    return s.waitForConnected(2000);
}

} // namespace

class E2eLabScriptsTest : public QObject
{
    Q_OBJECT
private slots:
    void upTwiceThenDownLeavesNothing();
};

void E2eLabScriptsTest::upTwiceThenDownLeavesNothing()
{
    QTemporaryDir dir;
    const QString state = dir.filePath("state");
    const QStringList up = {"--state", state, "--free-ports", "--sample"};
    QString output;
    // A failing check must not leave this lab running.
    struct Down
    {
        QString state;
        ~Down()
        {
            QString ignored;
            run("lab-down", {"--state", state}, &ignored);
        }
    } down{state};

    QElapsedTimer clock;
    clock.start();
    QCOMPARE(run("lab-up", up, &output), 0);
    const qint64 firstUpMs = clock.elapsed();
    qInfo("lab-up with a fresh state folder took %lld ms", firstUpMs);
    QVERIFY2(firstUpMs < 15000, qPrintable(output));

    LabEnv env;
    QString error;
    QVERIFY2(env.load(state + "/env", &error), qPrintable(error));
    const bool root = geteuid() == 0;
    QSet<quint16> ports;
    for (const char *key : kPorts) {
        QVERIFY2(env.contains(key), key);
        if (env.value(key).isEmpty()) {
            // SIP comes with a lab that serves it; SSH needs root.
            QVERIFY2(QByteArray(key) == "LAB_SIP_PORT" || (!root && QByteArray(key) == "LAB_SSH_PORT"), key);
            continue;
        }
        const quint16 port = env.port(key);
        QVERIFY2(port >= 1024 && port != 8021 && port != 8022 && port != 3306 && port != 5060, key);
        ports.insert(port);
        if (QByteArray(key) != "LAB_SIP_PORT")
            QVERIFY2(accepts(port), key);
    }
    QVERIFY(ports.size() >= (root ? 4 : 3));
    for (const char *key : {"LAB_ESL_PASSWORD", "LAB_DB_SOCKET", "LAB_DOMAIN", "LAB_DISPATCHER_USER",
                            "LAB_DISPATCHER_PASSWORD"})
        QVERIFY2(!env.value(key).isEmpty(), key);
    QVERIFY(QFileInfo(env.value("LAB_DB_SOCKET")).exists());
    QVERIFY(output.contains(env.value("LAB_ESL_PASSWORD")) && output.contains(env.value("LAB_DB_PORT")));

    const QMap<QString, QList<int>> first = processesOf(state);
    QCOMPARE(first.value("mariadbd").size(), 1);
    QCOMPARE(first.value("tesmar-lab").size(), 1);
    QCOMPARE(first.value("sshd").size(), root ? 1 : 0);

    // Again: the same processes on the same ports.
    QCOMPARE(run("lab-up", up, &output), 0);
    LabEnv again;
    QVERIFY2(again.load(state + "/env", &error), qPrintable(error));
    for (const char *key : kPorts)
        QCOMPARE(again.value(key), env.value(key));
    QCOMPARE(processesOf(state), first);

    QCOMPARE(run("lab-down", {"--state", state}, &output), 0);
    QVERIFY2(processesOf(state).isEmpty(), qPrintable(output));
    for (const quint16 port : ports)
        QVERIFY2(!accepts(port), qPrintable(QString::number(port)));
    QVERIFY(!QFileInfo::exists(state + "/env"));
    QCOMPARE(run("lab-down", {"--state", state}, &output), 0);
}

QTEST_GUILESS_MAIN(E2eLabScriptsTest)
#include "e2elabscripts_test.moc"
