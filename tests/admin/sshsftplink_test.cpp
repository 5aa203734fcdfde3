#include "admin/sshcommands.h"
#include "admin/sshsftplink.h"
#include "tests/support/privatesshd.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpServer>
#include <QThread>
#include <QtTest>

#include <libssh/libssh.h>

// The SFTP link and its Qt front against a real OpenSSH server started for the test.
class SshSftpLinkTest : public QObject
{
    Q_OBJECT

private:
    PrivateSshd m_sshd;

    QString path(const QString &name) const { return m_sshd.dataDir() + QLatin1Char('/') + name; }

    static QByteArray readLocal(const QString &file)
    {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

    static void writeLocal(const QString &file, const QByteArray &bytes)
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }

    // The server's key as "ssh-keygen -E md5" prints it, without the "MD5:" prefix.
    QByteArray serverFingerprint()
    {
        QProcess p;
        p.start(QStringLiteral("ssh-keygen"),
                {QStringLiteral("-l"), QStringLiteral("-E"), QStringLiteral("md5"), QStringLiteral("-f"),
                 QFileInfo(m_sshd.knownHostsFile()).dir().filePath("host_key.pub")});
        p.waitForFinished(5000);
        return p.readAll().split(' ').value(1).mid(4);
    }

    bool connectKnown(SSHSFTPLink &link, const QByteArray &password = PrivateSshd::password())
    {
        link.setKnownHostsFile(QFile::encodeName(m_sshd.knownHostsFile()));
        return link.connectTo("127.0.0.1", PrivateSshd::user(), password, true, m_sshd.port());
    }

    QString lastMessage(QSignalSpy &spy) { return spy.isEmpty() ? QString() : spy.last().at(0).toString(); }

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
    // stores the key, so the next console start loads without a question. A server that
    // later shows another key is asked about again, for load, save and erase alike.
    void hostKeyQuestionFlow()
    {
        QFile::remove(m_sshd.knownHostsFile());
        writeLocal(path("1001.xml"), "<include>первый</include>");
        SSHSFTPLink link;
        link.setKnownHostsFile(QFile::encodeName(m_sshd.knownHostsFile()));
        QThread worker;
        worker.setObjectName(QStringLiteral("ssh"));
        auto *commands =
            new SSHCommands(&link, QStringLiteral("127.0.0.1"), QString::fromLatin1(PrivateSshd::password()),
                            m_sshd.port(), QString::fromLatin1(PrivateSshd::user()));
        commands->moveToThread(&worker);
        connect(&worker, &QThread::finished, commands, &QObject::deleteLater);
        worker.start();
        auto stopWorker = qScopeGuard([&] {
            worker.quit();
            worker.wait();
        });
        QSignalSpy key(commands, &SSHCommands::SSHKeyChanged);
        QSignalSpy loaded(commands, &SSHCommands::FileLoaded);
        QSignalSpy errors(commands, &SSHCommands::FileLoadSaveError);

        QMetaObject::invokeMethod(commands, "LoadFile", Qt::QueuedConnection,
                                  Q_ARG(QString, path("1001.xml")));
        QTRY_COMPARE_WITH_TIMEOUT(key.count(), 1, 15000);
        QCOMPARE(key.at(0), (QVariantList{path("1001.xml"), QString(), false}));
        // The library reports a missing file of the account as an unknown server.
        QVERIFY(link.knownState == SSHSFTPLink::ServerUnknown ||
                link.knownState == SSHSFTPLink::KnownHostsMissing);
        QCOMPARE(link.fingerprint, serverFingerprint());
        QVERIFY(!link.isConnected());

        QMetaObject::invokeMethod(commands, "ReregisterSSHKey", Qt::QueuedConnection);
        QMetaObject::invokeMethod(commands, "LoadFile", Qt::QueuedConnection,
                                  Q_ARG(QString, path("1001.xml")));
        QTRY_COMPARE_WITH_TIMEOUT(loaded.count(), 1, 15000);
        QCOMPARE(loaded.at(0).at(0).toString(), QStringLiteral("<include>первый</include>"));
        QVERIFY(QFile::exists(m_sshd.knownHostsFile()));
        stopWorker.dismiss();
        worker.quit();
        worker.wait();

        SSHSFTPLink next;
        SSHCommands again(&next, QStringLiteral("127.0.0.1"), QString::fromLatin1(PrivateSshd::password()),
                          m_sshd.port(), QString::fromLatin1(PrivateSshd::user()));
        next.setKnownHostsFile(QFile::encodeName(m_sshd.knownHostsFile()));
        QSignalSpy nextLoaded(&again, &SSHCommands::FileLoaded);
        QSignalSpy nextKey(&again, &SSHCommands::SSHKeyChanged);
        again.LoadFile(path("1001.xml"));
        QCOMPARE(nextLoaded.count(), 1);
        QCOMPARE(nextKey.count(), 0);
        QCOMPARE(next.knownState, int(SSHSFTPLink::ServerKnown));

        QString why;
        QVERIFY2(m_sshd.restart(true, &why), qPrintable(why));
        SSHSFTPLink changed;
        changed.setKnownHostsFile(QFile::encodeName(m_sshd.knownHostsFile()));
        SSHCommands afterChange(&changed, QStringLiteral("127.0.0.1"),
                                QString::fromLatin1(PrivateSshd::password()), m_sshd.port(),
                                QString::fromLatin1(PrivateSshd::user()));
        QSignalSpy changedKey(&afterChange, &SSHCommands::SSHKeyChanged);
        QSignalSpy saved(&afterChange, &SSHCommands::FileSaved);
        afterChange.SaveFile(path("1001.xml"), QStringLiteral("<include>второй</include>"));
        afterChange.EraseFile(path("1001.xml"));
        QCOMPARE(changedKey.count(), 2);
        QCOMPARE(changedKey.at(0),
                 (QVariantList{path("1001.xml"), QStringLiteral("<include>второй</include>"), false}));
        QCOMPARE(changedKey.at(1), (QVariantList{path("1001.xml"), QString(), true}));
        QCOMPARE(changed.knownState, int(SSHSFTPLink::KeyChanged));
        QCOMPARE(readLocal(path("1001.xml")), QByteArray("<include>первый</include>"));

        afterChange.ReregisterSSHKey();
        afterChange.SaveFile(path("1001.xml"), QStringLiteral("<include>второй</include>"));
        QCOMPARE(saved.count(), 1);
        QCOMPARE(readLocal(path("1001.xml")), QByteArray("<include>второй</include>"));
    }

    // Each connect failure names its cause for the dispatcher; an address that accepts
    // TCP but never speaks SSH gives up within the connect timeout.
    void connectFailures()
    {
        SSHSFTPLink warm;
        QVERIFY(connectKnown(warm));

        SSHSFTPLink link;
        link.setKnownHostsFile(QFile::encodeName(m_sshd.knownHostsFile()));
        SSHCommands wrong(&link, QStringLiteral("127.0.0.1"), QStringLiteral("not-the-password"),
                          m_sshd.port(), QString::fromLatin1(PrivateSshd::user()));
        QSignalSpy errors(&wrong, &SSHCommands::FileLoadSaveError);
        wrong.LoadFile(path("x.xml"));
        QCOMPARE(lastMessage(errors), QStringLiteral("Доступ запрещён, пароль или имя пользователя неверны"));
        QCOMPARE(link.authResult, int(SSHSFTPLink::AuthDenied));
        QVERIFY(!link.isConnected());

        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        const int closedPort = closed.serverPort();
        closed.close();
        SSHSFTPLink refused;
        SSHCommands noServer(&refused, QStringLiteral("127.0.0.1"), QStringLiteral("x"), closedPort,
                             QString::fromLatin1(PrivateSshd::user()));
        QSignalSpy refusedErrors(&noServer, &SSHCommands::FileLoadSaveError);
        noServer.LoadFile(path("x.xml"));
        QCOMPARE(lastMessage(refusedErrors), QStringLiteral("Нет связи с SSH сервером"));

        QTcpServer silent; // the kernel completes the handshake; nobody answers
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        SSHSFTPLink hanging;
        SSHCommands mute(&hanging, QStringLiteral("127.0.0.1"), QStringLiteral("x"), silent.serverPort(),
                         QString::fromLatin1(PrivateSshd::user()));
        QSignalSpy muteErrors(&mute, &SSHCommands::FileLoadSaveError);
        QElapsedTimer clock;
        clock.start();
        mute.LoadFile(path("x.xml"));
        QVERIFY2(clock.elapsed() < 13000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(lastMessage(muteErrors), QStringLiteral("Нет связи с SSH сервером"));
    }

    // Files of any size and text go through unchanged; errors on the server are told
    // apart from lost connections; erasing a missing file counts as erased.
    void transfers()
    {
        SSHSFTPLink link;
        QVERIFY(connectKnown(link));
        QByteArray big;
        for (int i = 0; big.size() < 100 * 1024; ++i)
            big += "строка " + QByteArray::number(i) + " <&\"'>\n";
        QVERIFY(link.writeFile(QFile::encodeName(path("big.xml")), big));
        QCOMPARE(readLocal(path("big.xml")), big);
        QByteArray back;
        QVERIFY(link.readFile(QFile::encodeName(path("big.xml")), back));
        QCOMPARE(back.size(), big.size());
        QCOMPARE(back, big);
        QVERIFY(QDir(m_sshd.dataDir()).entryList({".*"}, QDir::Files | QDir::Hidden).isEmpty());

        QVERIFY(!link.writeFile(QFile::encodeName(path("empty.xml")), QByteArray()));
        QVERIFY(!link.readFile(QByteArray(), back));

        SSHCommands commands(&link, QStringLiteral("127.0.0.1"), QString::fromLatin1(PrivateSshd::password()),
                             m_sshd.port(), QString::fromLatin1(PrivateSshd::user()));
        QSignalSpy loaded(&commands, &SSHCommands::FileLoaded);
        QSignalSpy deleted(&commands, &SSHCommands::FileDeleted);
        QSignalSpy errors(&commands, &SSHCommands::FileLoadSaveError);
        commands.LoadFile(path("big.xml"));
        QCOMPARE(loaded.value(0).value(0).toString().toUtf8(), big);
        commands.LoadFile(path("missing.xml"));
        QVERIFY(lastMessage(errors).startsWith(QStringLiteral("Ошибка на сервере SSH ,")));
        QVERIFY(lastMessage(errors).contains(QStringLiteral("No such file")));
        commands.SaveFile(QStringLiteral("/nonexistent-dir/1.xml"), QStringLiteral("<include/>"));
        QCOMPARE(errors.count(), 2);
        QVERIFY(lastMessage(errors).startsWith(QStringLiteral("Ошибка на сервере SSH ,")));

        commands.EraseFile(path("big.xml"));
        commands.EraseFile(path("big.xml"));
        QCOMPARE(deleted.count(), 2);
        QVERIFY(!QFile::exists(path("big.xml")));
        QCOMPARE(errors.count(), 2);
    }

    // A connection the server dropped while idle is re-opened once for the next load or
    // save. A connection cut between writing the new file and putting it in place leaves
    // the old file as it was; the retry after the reconnect then replaces it.
    void droppedConnections()
    {
        writeLocal(path("2001.xml"), "old");
        SSHSFTPLink link;
        link.setKnownHostsFile(QFile::encodeName(m_sshd.knownHostsFile()));
        SSHCommands commands(&link, QStringLiteral("127.0.0.1"), QString::fromLatin1(PrivateSshd::password()),
                             m_sshd.port(), QString::fromLatin1(PrivateSshd::user()));
        QSignalSpy loaded(&commands, &SSHCommands::FileLoaded);
        QSignalSpy saved(&commands, &SSHCommands::FileSaved);
        QSignalSpy errors(&commands, &SSHCommands::FileLoadSaveError);
        commands.LoadFile(path("2001.xml"));
        QCOMPARE(loaded.count(), 1);

        QVERIFY(m_sshd.dropSessions() > 0);
        commands.SaveFile(path("2001.xml"), QStringLiteral("новый"));
        QCOMPARE(saved.count(), 1);
        QCOMPARE(readLocal(path("2001.xml")), QStringLiteral("новый").toUtf8());
        QVERIFY(m_sshd.dropSessions() > 0);
        commands.LoadFile(path("2001.xml"));
        QCOMPARE(loaded.count(), 2);
        QCOMPARE(loaded.at(1).at(0).toString(), QStringLiteral("новый"));

        int cuts = 0;
        link.setBeforeRenameHook([&] {
            if (cuts++ == 0)
                m_sshd.dropSessions();
        });
        QVERIFY(!link.writeFile(QFile::encodeName(path("2001.xml")), "half"));
        QCOMPARE(readLocal(path("2001.xml")), QStringLiteral("новый").toUtf8());
        QVERIFY(link.lastError.toLower().contains("socket"));
        // What the cut left behind must not look like a user file to the server.
        QCOMPARE(QDir(m_sshd.dataDir()).entryList({"*.xml"}, QDir::Files),
                 (QStringList{"1001.xml", "2001.xml"}));

        commands.LoadFile(path("2001.xml")); // reconnects after the cut
        QCOMPARE(loaded.count(), 3);
        cuts = 0;
        commands.SaveFile(path("2001.xml"), QStringLiteral("третий"));
        QCOMPARE(cuts, 2);
        QCOMPARE(saved.count(), 2);
        QCOMPARE(readLocal(path("2001.xml")), QStringLiteral("третий").toUtf8());
        QCOMPARE(errors.count(), 0);
    }
};

QTEST_GUILESS_MAIN(SshSftpLinkTest)
#include "sshsftplink_test.moc"
