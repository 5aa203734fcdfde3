// The lab's SSH account as the console uses it: "freeswitch" with the event-socket password
// writes a directory user file through the configured template over SFTP, and the lab
// serves that user after "reloadxml".

#include "tests/lab/labclient.h"
#include "tests/support/labenv.h"

#include <QDateTime>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <libssh/libssh.h>
#include <libssh/sftp.h>

namespace {

class Sftp
{
public:
    ~Sftp()
    {
        if (m_sftp)
            sftp_free(m_sftp);
        if (m_session) {
            ssh_disconnect(m_session);
            ssh_free(m_session);
        }
    }
    bool connect(const LabEnv &env, const QString &password, const QString &knownHosts)
    {
        m_session = ssh_new();
        const unsigned port = env.port("LAB_SSH_PORT");
        const QByteArray hosts = knownHosts.toUtf8();
        ssh_options_set(m_session, SSH_OPTIONS_HOST, "127.0.0.1");
        ssh_options_set(m_session, SSH_OPTIONS_PORT, &port);
        ssh_options_set(m_session, SSH_OPTIONS_USER, "freeswitch");
        ssh_options_set(m_session, SSH_OPTIONS_KNOWNHOSTS, hosts.constData());
        if (ssh_connect(m_session) != SSH_OK)
            return fail();
        if (ssh_userauth_password(m_session, nullptr, password.toUtf8().constData()) != SSH_AUTH_SUCCESS)
            return fail();
        m_sftp = sftp_new(m_session);
        return (m_sftp && sftp_init(m_sftp) == SSH_OK) || fail();
    }
    bool write(const QString &path, const QByteArray &data)
    {
        sftp_file f = sftp_open(m_sftp, path.toUtf8().constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (!f)
            return fail();
        const bool ok = sftp_write(f, data.constData(), size_t(data.size())) == data.size();
        sftp_close(f);
        return ok || fail();
    }
    QByteArray read(const QString &path)
    {
        QByteArray out;
        sftp_file f = sftp_open(m_sftp, path.toUtf8().constData(), O_RDONLY, 0);
        if (!f)
            return out;
        char buffer[4096];
        ssize_t n;
        while ((n = sftp_read(f, buffer, sizeof buffer)) > 0)
            out.append(buffer, int(n));
        sftp_close(f);
        return out;
    }
    bool remove(const QString &path) { return sftp_unlink(m_sftp, path.toUtf8().constData()) == 0 || fail(); }
    QString error() const { return m_error; }

private:
    bool fail()
    {
        m_error = QString::fromUtf8(ssh_get_error(m_session));
        return false;
    }
    ssh_session m_session = nullptr;
    sftp_session m_sftp = nullptr;
    QString m_error;
};

} // namespace

class E2eSftpTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void userFileWrittenOverSftpIsServedAfterReloadxml();
    void wrongPasswordIsRefused();

private:
    LabEnv m_env;
    QTemporaryDir m_home;
};

void E2eSftpTest::initTestCase()
{
    QString error;
    QVERIFY2(m_env.load(&error), qPrintable(error));
    if (m_env.value("LAB_SSH_PORT").isEmpty())
        QSKIP(qPrintable("the lab has no SSH account: " + m_env.value("LAB_SSH_NOTE")));
}

void E2eSftpTest::userFileWrittenOverSftpIsServedAfterReloadxml()
{
    const QString id = QString::number(4900 + QDateTime::currentMSecsSinceEpoch() % 100);
    const QString domain = m_env.value("LAB_DOMAIN");
    const QString path = m_env.value("LAB_USER_FILE_TEMPLATE").arg(id);
    const QByteArray file = "<include>\n  <user id=\"" + id.toUtf8() +
                            "\" groups=\"Проверка;\" role=\"technician\" allow=\"\">\n"
                            "    <params><param name=\"password\" value=\"pw" +
                            id.toUtf8() +
                            "\"/></params>\n"
                            "    <variables><variable name=\"effective_caller_id_name\" "
                            "value=\"Новый Техник\"/></variables>\n  </user>\n</include>\n";

    Sftp sftp;
    QVERIFY2(sftp.connect(m_env, m_env.value("LAB_SSH_PASSWORD"), m_home.filePath("known_hosts")),
             qPrintable(sftp.error()));
    QVERIFY2(sftp.write(path, file), qPrintable(path + ": " + sftp.error()));
    QCOMPARE(sftp.read(path), file);

    LabClient esl;
    QVERIFY(esl.login(m_env.port("LAB_ESL_PORT"), m_env.value("LAB_ESL_PASSWORD").toUtf8(), false));
    const QByteArray line = id.toUtf8() + "|default|" + domain.toUtf8() + "|default|";
    // Nothing is re-read before reloadxml.
    QVERIFY(!esl.api("list_users").body.contains(line));
    QCOMPARE(esl.api("reloadxml").body, QByteArray("+OK [Success]\n"));
    QVERIFY2(esl.api("list_users").body.contains(line), qPrintable(line));
    QCOMPARE(esl.api("user_data " + id.toUtf8() + "@" + domain.toUtf8() + " attr role").body,
             QByteArray("technician"));

    QVERIFY2(sftp.remove(path), qPrintable(sftp.error()));
    QCOMPARE(esl.api("reloadxml").body, QByteArray("+OK [Success]\n"));
    QVERIFY(!esl.api("list_users").body.contains(line));
}

void E2eSftpTest::wrongPasswordIsRefused()
{
    Sftp sftp;
    QVERIFY(!sftp.connect(m_env, "not-the-password", m_home.filePath("known_hosts")));
}

QTEST_GUILESS_MAIN(E2eSftpTest)
#include "e2esftp_test.moc"
