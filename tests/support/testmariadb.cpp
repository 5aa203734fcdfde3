#include "tests/support/testmariadb.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>

#include <unistd.h>

namespace {

// The server lives in sbin, which a normal user's PATH may lack.
QString findProgram(const QStringList &names)
{
    const QStringList dirs = qEnvironmentVariable("PATH").split(QLatin1Char(':'), Qt::SkipEmptyParts) +
                             QStringLiteral("/usr/sbin /usr/bin /usr/local/sbin /usr/local/bin /usr/libexec")
                                 .split(QLatin1Char(' '));
    for (const QString &name : names) {
        const QString found = QStandardPaths::findExecutable(name, dirs);
        if (!found.isEmpty())
            return found;
    }
    return QString();
}

int freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

QString tail(const QString &fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll().right(2000)) : QString();
}

} // namespace

TestMariaDb::TestMariaDb() = default;

TestMariaDb::~TestMariaDb()
{
    stop();
}

QString TestMariaDb::socketPath() const
{
    return path(QStringLiteral("mysqld.sock"));
}

QString TestMariaDb::quoted(const QString &text)
{
    QString out = text;
    out.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('\''), QLatin1String("\\'"));
    return QLatin1Char('\'') + out + QLatin1Char('\'');
}

QStringList TestMariaDb::serverOptions() const
{
    // Small buffers and no native AIO: several servers share a small machine.
    QStringList options =
        QStringLiteral("--no-defaults --skip-name-resolve --innodb-buffer-pool-size=16M "
                       "--innodb-log-file-size=4M --innodb-use-native-aio=0 "
                       "--max-connections=40 --open-files-limit=1024 --table-open-cache=200")
            .split(QLatin1Char(' '));
    options << QStringLiteral("--datadir=") + path(QStringLiteral("data"));
    if (geteuid() == 0)
        options << QStringLiteral("--user=root");
    return options;
}

bool TestMariaDb::install()
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary directory");
        return false;
    }
    m_serverBinary = findProgram({QStringLiteral("mariadbd"), QStringLiteral("mysqld")});
    if (m_serverBinary.isEmpty()) {
        m_error =
            QStringLiteral("MariaDB server not installed (scripts/install-deps installs mariadb-server)");
        return false;
    }
    // Only the system tables the accounts need: the installer's help tables and sys
    // schema would take seconds more.
    QByteArray sql = "create database if not exists mysql;\nuse mysql;\nSET @auth_root_socket=NULL;\n";
    for (const char *name :
         {"mysql_system_tables.sql", "mysql_performance_tables.sql", "mysql_system_tables_data.sql"}) {
        QFile file(QStringLiteral("/usr/share/mysql/") + QLatin1String(name));
        if (!file.open(QIODevice::ReadOnly)) {
            m_error = QStringLiteral("cannot read ") + file.fileName();
            return false;
        }
        sql += file.readAll() + '\n';
    }
    if (!QDir().mkpath(path(QStringLiteral("data")))) {
        m_error = QStringLiteral("cannot create the data directory");
        return false;
    }
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(m_serverBinary,
                  serverOptions() + QStringLiteral("--bootstrap --log-warnings=0 "
                                                   "--enforce-storage-engine= --max-allowed-packet=8M")
                                        .split(QLatin1Char(' ')));
    process.write(sql);
    process.closeWriteChannel();
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        m_error = QStringLiteral("bootstrap failed: ") + QString::fromUtf8(process.readAll().right(2000));
        return false;
    }
    m_installed = true;
    return true;
}

bool TestMariaDb::launch()
{
    const QString log = path(QStringLiteral("server.log"));
    QFile::remove(log);
    // Temporary tables stay in the server's own folder: other users' /tmp clean-ups removed them
    // under running queries ("Error on delete of '/tmp/#sql-temptable-...'").
    const QString tmp = path(QStringLiteral("tmp"));
    if (!QDir().mkpath(tmp)) {
        m_error = QStringLiteral("cannot create ") + tmp;
        return false;
    }
    QStringList arguments = serverOptions();
    arguments << QStringLiteral("--tmpdir=") + tmp << QStringLiteral("--socket=") + socketPath()
              << QStringLiteral("--port=%1").arg(m_port) << QStringLiteral("--bind-address=127.0.0.1")
              << QStringLiteral("--log-error=") + log
              << QStringLiteral("--pid-file=") + path(QStringLiteral("mysqld.pid"))
              << QStringLiteral("--character-set-server=utf8mb4");
    m_server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_server.start(m_serverBinary, arguments);
    if (!m_server.waitForStarted(10000)) {
        m_error = QStringLiteral("cannot run ") + m_serverBinary;
        return false;
    }
    // The server says it is ready in its log; a running process without that line is still starting.
    QDeadlineTimer deadline(60000);
    while (!deadline.hasExpired()) {
        if (m_server.waitForFinished(20)) {
            m_error = QStringLiteral("the server stopped at start:\n") + tail(log);
            return false;
        }
        if (tail(log).contains(QLatin1String("ready for connections")))
            return true;
    }
    m_error = QStringLiteral("the server did not get ready:\n") + tail(log);
    stop();
    return false;
}

bool TestMariaDb::start()
{
    if (isRunning())
        return true;
    m_error.clear();
    if (!m_installed && !install())
        return false;
    // Another program may take the probed port before the server binds it; try a few.
    const bool keepPort = m_port != 0;
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (!keepPort || attempt > 0)
            m_port = freePort();
        if (launch())
            return true;
        if (!m_error.contains(QLatin1String("Bind on TCP/IP port")))
            return false;
    }
    return false;
}

void TestMariaDb::stop()
{
    if (m_server.state() == QProcess::NotRunning)
        return;
    m_server.terminate();
    if (!m_server.waitForFinished(30000)) {
        m_server.kill();
        m_server.waitForFinished(5000);
    }
}

bool TestMariaDb::restart()
{
    stop();
    return start();
}

bool TestMariaDb::isRunning() const
{
    return m_server.state() == QProcess::Running;
}

bool TestMariaDb::exec(const QString &sql, QString *output)
{
    const QString client = findProgram({QStringLiteral("mariadb"), QStringLiteral("mysql")});
    if (client.isEmpty()) {
        m_error = QStringLiteral("MariaDB client not installed");
        return false;
    }
    QProcess process;
    process.start(client, QStringLiteral("--no-defaults --user=root --batch --skip-column-names "
                                         "--default-character-set=utf8mb4")
                                  .split(QLatin1Char(' '))
                              << QStringLiteral("--socket=") + socketPath()
                              << QStringLiteral("--execute=") + sql);
    const bool finished = process.waitForFinished(60000);
    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    if (!finished || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        m_error = QStringLiteral("SQL failed: ") + QString::fromUtf8(process.readAllStandardError());
        return false;
    }
    if (output)
        *output = out;
    return true;
}
