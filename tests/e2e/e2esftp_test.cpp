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

struct Sftp
{
    ssh_session session = ssh_new();
    sftp_session sftp = nullptr;
    ~Sftp()
    {
        if (sftp)
            sftp_free(sftp);
        ssh_disconnect(session);
        ssh_free(session);
    }
    bool connect(const LabEnv &env, const QString &password, const QString &knownHosts)
    {
        const unsigned port = env.port("LAB_SSH_PORT");
        ssh_options_set(session, SSH_OPTIONS_HOST, "127.0.0.1");
        ssh_options_set(session, SSH_OPTIONS_PORT, &port);
        ssh_options_set(session, SSH_OPTIONS_USER, "freeswitch");
        ssh_options_set(session, SSH_OPTIONS_KNOWNHOSTS, knownHosts.toUtf8().constData());
        if (ssh_connect(session) != SSH_OK ||
            ssh_userauth_password(session, nullptr, password.toUtf8().constData()) != SSH_AUTH_SUCCESS)
            return false;
        sftp = sftp_new(session);
        return sftp && sftp_init(sftp) == SSH_OK;
    }
    bool write(const QString &path, const QByteArray &data)
    {
        sftp_file f = sftp_open(sftp, path.toUtf8().constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const bool ok = f && sftp_write(f, data.constData(), size_t(data.size())) == data.size();
        return f && sftp_close(f) == SSH_OK && ok;
    }
    QString error() const { return QString::fromUtf8(ssh_get_error(session)); }
};

} // namespace

class E2eSftpTest : public QObject
{
    Q_OBJECT
private slots:
    void userFileWrittenOverSftpIsServedAfterReloadxml();
};

void E2eSftpTest::userFileWrittenOverSftpIsServedAfterReloadxml()
{
    LabEnv env;
    QString error;
    QVERIFY2(env.load(&error), qPrintable(error));
    if (env.value("LAB_SSH_PORT").isEmpty())
        QSKIP(qPrintable("the lab has no SSH account: " + env.value("LAB_SSH_NOTE")));
    QTemporaryDir home; // known hosts of this test only
    Sftp intruder;
    QVERIFY(!intruder.connect(env, "not-the-password", home.filePath("known_hosts")));

    const QByteArray id = QByteArray::number(4900 + QDateTime::currentMSecsSinceEpoch() % 100);
    const QByteArray domain = env.value("LAB_DOMAIN").toUtf8();
    const QString path = env.value("LAB_USER_FILE_TEMPLATE").arg(QString::fromLatin1(id));
    const QByteArray file =
        "<include>\n  <user id=\"" + id +
        "\" groups=\"Проверка;\" role=\"technician\" allow=\"\">\n"
        "    <params><param name=\"password\" value=\"pw" +
        id +
        "\"/></params>\n"
        "    <variables><variable name=\"effective_caller_id_name\" value=\"Новый Техник\"/>"
        "</variables>\n  </user>\n</include>\n";
    Sftp sftp;
    QVERIFY2(sftp.connect(env, env.value("LAB_SSH_PASSWORD"), home.filePath("known_hosts")),
             qPrintable(sftp.error()));
    QVERIFY2(sftp.write(path, file), qPrintable(path + ": " + sftp.error()));

    LabClient esl;
    QVERIFY(esl.login(env.port("LAB_ESL_PORT"), env.value("LAB_ESL_PASSWORD").toUtf8(), false));
    const QByteArray line = "\n" + id + "|default|" + domain + "|";
    QVERIFY(!esl.api("list_users").body.contains(line)); // nothing is re-read before reloadxml
    QCOMPARE(esl.api("reloadxml").body, "+OK [Success]\n");
    QVERIFY2(esl.api("list_users").body.contains(line), line.constData());
    QCOMPARE(esl.api("user_data " + id + "@" + domain + " attr role").body, "technician");

    QVERIFY2(sftp_unlink(sftp.sftp, path.toUtf8().constData()) == 0, qPrintable(sftp.error()));
    QCOMPARE(esl.api("reloadxml").body, "+OK [Success]\n");
    QVERIFY(!esl.api("list_users").body.contains(line));
}

QTEST_GUILESS_MAIN(E2eSftpTest)
#include "e2esftp_test.moc"
