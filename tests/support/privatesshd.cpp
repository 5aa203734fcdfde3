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

bool run(const QString &program, const QStringList &args, const QByteArray &input = QByteArray(),
         int *exitCode = nullptr)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForStarted(5000))
        return false;
    if (!input.isEmpty())
        p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(20000);
    if (exitCode)
        *exitCode = p.exitCode();
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

int freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
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
    if (m_prepared)
        return true;
    if (geteuid() != 0) {
        *error = QStringLiteral("the private sshd needs root (a local test account and /run/sshd)");
        return false;
    }
    if (!QFile::exists(QStringLiteral("/usr/sbin/sshd"))) {
        *error = QStringLiteral("openssh-server is not installed");
        return false;
    }
    if (!m_dir.isValid()) {
        *error = QStringLiteral("no temporary directory");
        return false;
    }
    QDir().mkpath(QStringLiteral("/run/sshd"));
    chmod("/run/sshd", 0755);
    // Another test process may create the account at the same moment; exit code 9 means it exists.
    if (!getpwnam(user().constData())) {
        int code = 0;
        run(QStringLiteral("useradd"),
            {QStringLiteral("-M"), QStringLiteral("-d"), QStringLiteral("/"), QStringLiteral("-s"),
             QStringLiteral("/bin/sh"), QString::fromLatin1(user())},
            QByteArray(), &code);
    }
    const passwd *pw = getpwnam(user().constData());
    if (!pw || !run(QStringLiteral("chpasswd"), {}, user() + ':' + password() + '\n')) {
        *error = QStringLiteral("cannot set up the test account");
        return false;
    }
    chmod(QFile::encodeName(m_dir.path()).constData(), 0755);
    QDir(m_dir.path()).mkdir(QStringLiteral("files"));
    if (chown(QFile::encodeName(dataDir()).constData(), pw->pw_uid, pw->pw_gid) != 0) {
        *error = QStringLiteral("cannot hand the data directory to the test account");
        return false;
    }
    m_prepared = generateHostKey(error);
    return m_prepared;
}

bool PrivateSshd::generateHostKey(QString *error)
{
    const QString key = m_dir.filePath(QStringLiteral("host_key"));
    QFile::remove(key);
    QFile::remove(key + QStringLiteral(".pub"));
    if (!run(QStringLiteral("ssh-keygen"),
             {QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("ed25519"), QStringLiteral("-N"),
              QString(), QStringLiteral("-f"), key})) {
        *error = QStringLiteral("ssh-keygen failed");
        return false;
    }
    return true;
}

bool PrivateSshd::launch(QString *error)
{
    const QString config = m_dir.filePath(QStringLiteral("sshd_config"));
    QFile f(config);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    f.write(QStringLiteral("Port %1\n"
                           "ListenAddress 127.0.0.1\n"
                           "HostKey %2\n"
                           "PidFile %3\n"
                           "Subsystem sftp internal-sftp\n"
                           "PasswordAuthentication yes\n"
                           "KbdInteractiveAuthentication no\n"
                           "PubkeyAuthentication no\n"
                           "UsePAM no\n"
                           "StrictModes no\n"
                           "PermitRootLogin no\n"
                           "AllowUsers %4\n"
                           "MaxStartups 50\n"
                           "LogLevel ERROR\n")
                .arg(m_port)
                .arg(m_dir.filePath(QStringLiteral("host_key")), m_dir.filePath(QStringLiteral("sshd.pid")),
                     QString::fromLatin1(user()))
                .toUtf8());
    f.close();
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start(QStringLiteral("/usr/sbin/sshd"),
                    {QStringLiteral("-D"), QStringLiteral("-e"), QStringLiteral("-f"), config});
    if (!m_process.waitForStarted(5000)) {
        *error = QStringLiteral("sshd did not start");
        return false;
    }
    // Listening is silent at LogLevel ERROR: wait until the port answers.
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 5000 && m_process.state() == QProcess::Running) {
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
        m_port = freePort();
        if (launch(error))
            return true;
    }
    return false;
}

bool PrivateSshd::restart(bool newHostKey, QString *error)
{
    stop();
    if (newHostKey && !generateHostKey(error))
        return false;
    return launch(error);
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
    const qint64 listener = m_process.processId();
    if (listener <= 0)
        return 0;
    // Every process below the listener serves one connection (privileged monitor and
    // its unprivileged child); killing the monitors ends the sessions at once.
    int killed = 0;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool numeric = false;
        const qint64 pid = entry.toLongLong(&numeric);
        if (!numeric)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        // pid (comm) state ppid ...; comm may hold blanks, so read after the last ')'.
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields.at(1).toLongLong() == listener) {
            ::kill(pid_t(pid), SIGKILL);
            ++killed;
        }
    }
    QThread::msleep(50);
    return killed;
}
