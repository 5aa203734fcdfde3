#include "tests/support/privatesshd.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool run(const QString &program, const QStringList &args, const QByteArray &input = QByteArray())
{
    QProcess p;
    p.start(program, args);
    p.write(input);
    p.closeWriteChannel();
    return p.waitForFinished(20000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

} // namespace

PrivateSshd::PrivateSshd() = default;

PrivateSshd::~PrivateSshd()
{
    stop();
}

QString PrivateSshd::dataDir() const
{
    return m_dir.filePath(QStringLiteral("files"));
}

QString PrivateSshd::knownHostsFile() const
{
    return m_dir.filePath(QStringLiteral("known_hosts"));
}

bool PrivateSshd::prepare(QString *error)
{
    if (geteuid() != 0 || !QFile::exists(QStringLiteral("/usr/sbin/sshd")) || !m_dir.isValid()) {
        *error = QStringLiteral("the private sshd needs root, openssh-server and a temporary directory");
        return false;
    }
    QDir().mkpath(QStringLiteral("/run/sshd"));
    chmod("/run/sshd", 0755);
    // Another test process may create the account at the same moment; then it just exists.
    if (!getpwnam(user().constData()))
        run(QStringLiteral("useradd"), {"-M", "-d", "/", "-s", "/bin/sh", QString::fromLatin1(user())});
    const passwd *pw = getpwnam(user().constData());
    chmod(QFile::encodeName(m_dir.path()).constData(), 0755);
    QDir(m_dir.path()).mkdir(QStringLiteral("files"));
    if (!pw || !run(QStringLiteral("chpasswd"), {}, user() + ':' + password() + '\n') ||
        chown(QFile::encodeName(dataDir()).constData(), pw->pw_uid, pw->pw_gid) != 0) {
        *error = QStringLiteral("cannot set up the test account");
        return false;
    }
    return generateHostKey(error);
}

bool PrivateSshd::generateHostKey(QString *error)
{
    const QString key = m_dir.filePath(QStringLiteral("host_key"));
    QFile::remove(key);
    QFile::remove(key + QStringLiteral(".pub"));
    if (run(QStringLiteral("ssh-keygen"), {"-q", "-t", "ed25519", "-N", "", "-f", key}))
        return true;
    *error = QStringLiteral("ssh-keygen failed");
    return false;
}

bool PrivateSshd::launch(QString *error)
{
    const QString config = m_dir.filePath(QStringLiteral("sshd_config"));
    QFile f(config);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    f.write(
        QStringLiteral("Port %1\nListenAddress 127.0.0.1\nHostKey %2\nPidFile %3\n"
                       "Subsystem sftp internal-sftp\nPasswordAuthentication yes\n"
                       "KbdInteractiveAuthentication no\nPubkeyAuthentication no\nUsePAM no\nStrictModes no\n"
                       "PermitRootLogin no\nAllowUsers %4\nMaxStartups 50\nLogLevel ERROR\n")
            .arg(m_port)
            .arg(m_dir.filePath(QStringLiteral("host_key")), m_dir.filePath(QStringLiteral("sshd.pid")),
                 QString::fromLatin1(user()))
            .toUtf8());
    f.close();
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start(QStringLiteral("/usr/sbin/sshd"), {"-D", "-e", "-f", config});
    // Listening is silent at this log level: wait until the port answers.
    QElapsedTimer clock;
    clock.start();
    while (m_process.waitForStarted(5000) && m_process.state() == QProcess::Running &&
           clock.elapsed() < 5000) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, quint16(m_port));
        if (probe.waitForConnected(200))
            return true;
        QThread::msleep(20);
    }
    *error = QStringLiteral("sshd did not listen: ") + QString::fromLocal8Bit(m_process.readAll());
    stop();
    return false;
}

bool PrivateSshd::start(QString *error)
{
    if (!prepare(error))
        return false;
    // The probed port may be taken by someone else before sshd binds it: try a few.
    for (int attempt = 0; attempt < 5; ++attempt) {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        m_port = probe.serverPort();
        probe.close();
        if (launch(error))
            return true;
    }
    return false;
}

bool PrivateSshd::restart(bool newHostKey, QString *error)
{
    stop();
    return (!newHostKey || generateHostKey(error)) && launch(error);
}

void PrivateSshd::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    dropSessions();
    m_process.terminate();
    if (!m_process.waitForFinished(3000)) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}

int PrivateSshd::dropSessions()
{
    // Every child of the listener serves one connection; killing it ends the session.
    const qint64 listener = m_process.processId();
    int killed = 0;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (listener <= 0 || entry.toLongLong() <= 0 || !stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (comm) state ppid ...": comm may hold blanks, so read after the last ')'.
        const QByteArray line = stat.readAll();
        if (line.mid(line.lastIndexOf(')') + 2).split(' ').value(1).toLongLong() == listener) {
            ::kill(pid_t(entry.toLongLong()), SIGKILL);
            ++killed;
        }
    }
    QThread::msleep(50);
    return killed;
}
