#include "admin/sshcommands.h"
#include "admin/sshsftplink.h"
#include "tests/support/privatesshd.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpServer>
#include <QThread>
#include <QtTest>

#include <libssh/libssh.h>

namespace {

// A link with its Qt front for the test account, and a spy on every answer.
struct Front
{
    Front(const PrivateSshd &sshd, const QString &password = QString::fromLatin1(PrivateSshd::password()),
          int port = 0)
        : commands(&link, QStringLiteral("127.0.0.1"), password, port ? port : sshd.port(),
                   QString::fromLatin1(PrivateSshd::user()))
    {
        link.setKnownHostsFile(QFile::encodeName(sshd.knownHostsFile()));
    }
    QString lastError() const { return errors.isEmpty() ? QString() : errors.last().at(0).toString(); }

    SSHSFTPLink link;
    SSHCommands commands;
    QSignalSpy loaded{&commands, &SSHCommands::FileLoaded};
    QSignalSpy saved{&commands, &SSHCommands::FileSaved};
    QSignalSpy deleted{&commands, &SSHCommands::FileDeleted};
    QSignalSpy errors{&commands, &SSHCommands::FileLoadSaveError};
    QSignalSpy key{&commands, &SSHCommands::SSHKeyChanged};
};

QByteArray readLocal(const QString &file)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeLocal(const QString &file, const QByteArray &bytes)
{
    QFile f(file);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}

} // namespace

// The SFTP link and its Qt front against a real OpenSSH server started for the test.
class SshSftpLinkTest : public QObject
{
    Q_OBJECT

private:
    PrivateSshd m_sshd;

    QString path(const QString &name) const { return m_sshd.dataDir() + QLatin1Char('/') + name; }

    // The server's key as "ssh-keygen -E md5" prints it, without the "MD5:" prefix.
    QByteArray serverFingerprint()
    {
        QProcess p;
        p.start(QStringLiteral("ssh-keygen"),
                {"-l", "-E", "md5", "-f", QFileInfo(m_sshd.knownHostsFile()).dir().filePath("host_key.pub")});
        p.waitForFinished(5000);
        return p.readAll().split(' ').value(1).mid(4);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(ssh_init() == 0);
        QString why;
        if (!m_sshd.start(&why))
            QSKIP(qPrintable(why));
    }

    void cleanupTestCase() { ssh_finalize(); }

    // First contact asks about the key; accepting it loads the file in the same flow and
    // stores the key, so the next start loads without a question. A server that later
    // shows another key is asked about again, for save and erase alike.
    void hostKeyQuestionFlow()
    {
        QFile::remove(m_sshd.knownHostsFile());
        writeLocal(path("1001.xml"), "<include>первый</include>");
        Front first(m_sshd);
        QThread worker;
        first.commands.moveToThread(&worker);
        worker.start();
        QThread *home = thread();
        auto stopWorker = qScopeGuard([&] {
            QMetaObject::invokeMethod(
                &first.commands, [&] { first.commands.moveToThread(home); }, Qt::BlockingQueuedConnection);
            worker.quit();
            worker.wait();
        });
        QMetaObject::invokeMethod(&first.commands, "LoadFile", Q_ARG(QString, path("1001.xml")));
        QTRY_COMPARE_WITH_TIMEOUT(first.key.count(), 1, 15000);
        QCOMPARE(first.key.at(0), (QVariantList{path("1001.xml"), QString(), false}));
        // The library reports a missing known-hosts file of the account as an unknown server.
        QVERIFY(first.link.knownState == SSHSFTPLink::ServerUnknown ||
                first.link.knownState == SSHSFTPLink::KnownHostsMissing);
        QCOMPARE(first.link.fingerprint, serverFingerprint());
        QVERIFY(!first.link.isConnected());

        QMetaObject::invokeMethod(&first.commands, "ReregisterSSHKey");
        QMetaObject::invokeMethod(&first.commands, "LoadFile", Q_ARG(QString, path("1001.xml")));
        QTRY_COMPARE_WITH_TIMEOUT(first.loaded.count(), 1, 15000);
        QCOMPARE(first.loaded.at(0).at(0).toString(), QStringLiteral("<include>первый</include>"));

        Front next(m_sshd);
        next.commands.LoadFile(path("1001.xml"));
        QCOMPARE(next.loaded.count(), 1);
        QCOMPARE(next.key.count(), 0);
        QCOMPARE(next.link.knownState, int(SSHSFTPLink::ServerKnown));

        QString why;
        QVERIFY2(m_sshd.restart(true, &why), qPrintable(why));
        Front changed(m_sshd);
        changed.commands.SaveFile(path("1001.xml"), QStringLiteral("<include>второй</include>"));
        changed.commands.EraseFile(path("1001.xml"));
        QCOMPARE(changed.key.count(), 2);
        QCOMPARE(changed.key.at(0),
                 (QVariantList{path("1001.xml"), QStringLiteral("<include>второй</include>"), false}));
        QCOMPARE(changed.key.at(1), (QVariantList{path("1001.xml"), QString(), true}));
        QCOMPARE(changed.link.knownState, int(SSHSFTPLink::KeyChanged));
        QCOMPARE(readLocal(path("1001.xml")), QByteArray("<include>первый</include>"));

        changed.commands.ReregisterSSHKey();
        changed.commands.SaveFile(path("1001.xml"), QStringLiteral("<include>второй</include>"));
        QCOMPARE(changed.saved.count(), 1);
        QCOMPARE(readLocal(path("1001.xml")), QByteArray("<include>второй</include>"));
    }

    // Each connect failure names its cause; an address that accepts TCP but never speaks
    // SSH gives up within the connect timeout.
    void connectFailures()
    {
        Front warm(m_sshd);
        QVERIFY(warm.link.connectTo("127.0.0.1", PrivateSshd::user(), PrivateSshd::password(), true,
                                    m_sshd.port()));

        Front wrong(m_sshd, QStringLiteral("not-the-password"));
        wrong.commands.LoadFile(path("x.xml"));
        QCOMPARE(wrong.lastError(), QStringLiteral("Доступ запрещён, пароль или имя пользователя неверны"));
        QCOMPARE(wrong.link.authResult, int(SSHSFTPLink::AuthDenied));
        QVERIFY(!wrong.link.isConnected());

        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        const int port = server.serverPort();
        server.close();
        Front refused(m_sshd, QStringLiteral("x"), port);
        refused.commands.LoadFile(path("x.xml"));
        QCOMPARE(refused.lastError(), QStringLiteral("Нет связи с SSH сервером"));

        QVERIFY(server.listen(QHostAddress::LocalHost, 0)); // the kernel accepts; nobody answers
        Front mute(m_sshd, QStringLiteral("x"), server.serverPort());
        QElapsedTimer clock;
        clock.start();
        mute.commands.LoadFile(path("x.xml"));
        QVERIFY2(clock.elapsed() < 13000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(mute.lastError(), QStringLiteral("Нет связи с SSH сервером"));
    }

    // Files of any size and text go through unchanged; errors on the server are told
    // apart from lost connections; erasing a missing file counts as erased.
    void transfers()
    {
        Front f(m_sshd);
        QVERIFY(
            f.link.connectTo("127.0.0.1", PrivateSshd::user(), PrivateSshd::password(), true, m_sshd.port()));
        QByteArray big;
        for (int i = 0; big.size() < 100 * 1024; ++i)
            big += "строка " + QByteArray::number(i) + " <&\"'>\n";
        QVERIFY(f.link.writeFile(QFile::encodeName(path("big.xml")), big));
        QCOMPARE(readLocal(path("big.xml")), big);
        QVERIFY(QDir(m_sshd.dataDir()).entryList({".*"}, QDir::Files | QDir::Hidden).isEmpty());
        QVERIFY(!f.link.writeFile(QFile::encodeName(path("empty.xml")), QByteArray()));

        f.commands.LoadFile(path("big.xml"));
        QCOMPARE(f.loaded.value(0).value(0).toString().toUtf8(), big);
        f.commands.LoadFile(path("missing.xml"));
        QVERIFY(f.lastError().startsWith(QStringLiteral("Ошибка на сервере SSH ,")));
        QVERIFY(f.lastError().contains(QStringLiteral("No such file")));

        f.commands.EraseFile(path("big.xml"));
        f.commands.EraseFile(path("big.xml"));
        QVERIFY(f.deleted.count() == 2 && f.errors.count() == 1 && !QFile::exists(path("big.xml")));
    }

    // A connection the server dropped while idle is re-opened once for the next load or
    // save. A connection cut between writing the new file and putting it in place leaves
    // the old file as it was; the retry after the reconnect then replaces it.
    void droppedConnections()
    {
        writeLocal(path("2001.xml"), "old");
        Front f(m_sshd);
        f.commands.LoadFile(path("2001.xml"));
        QCOMPARE(f.loaded.count(), 1);
        QVERIFY(m_sshd.dropSessions() > 0);
        f.commands.SaveFile(path("2001.xml"), QStringLiteral("новый"));
        QCOMPARE(f.saved.count(), 1);
        QCOMPARE(readLocal(path("2001.xml")), QStringLiteral("новый").toUtf8());
        QVERIFY(m_sshd.dropSessions() > 0);
        f.commands.LoadFile(path("2001.xml"));
        QCOMPARE(f.loaded.count(), 2);
        QCOMPARE(f.loaded.at(1).at(0).toString(), QStringLiteral("новый"));

        int cuts = 0;
        f.link.setBeforeRenameHook([&] {
            if (cuts++ == 0)
                m_sshd.dropSessions();
        });
        QVERIFY(!f.link.writeFile(QFile::encodeName(path("2001.xml")), "half"));
        QCOMPARE(readLocal(path("2001.xml")), QStringLiteral("новый").toUtf8());
        QVERIFY(f.link.lastError.toLower().contains("socket"));
        // What the cut left behind must not look like a user file to the server.
        QCOMPARE(QDir(m_sshd.dataDir()).entryList({"*.xml"}, QDir::Files),
                 (QStringList{"1001.xml", "2001.xml"}));

        f.commands.LoadFile(path("2001.xml")); // reconnects after the cut
        cuts = 0;
        f.commands.SaveFile(path("2001.xml"), QStringLiteral("третий"));
        QCOMPARE(cuts, 2);
        QCOMPARE(f.saved.count(), 2);
        QCOMPARE(readLocal(path("2001.xml")), QStringLiteral("третий").toUtf8());
        QCOMPARE(f.errors.count(), 0);
    }
};

QTEST_GUILESS_MAIN(SshSftpLinkTest)
#include "sshsftplink_test.moc"
