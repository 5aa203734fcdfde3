#include "tests/support/testmariadb.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>

#include <unistd.h>

namespace {

const QStringList kSearchPaths{QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin"),
                               QStringLiteral("/usr/local/sbin"), QStringLiteral("/usr/local/bin"),
                               QStringLiteral("/usr/libexec")};

QString findProgram(const QStringList &names)
{
    for (const QString &name : names) {
        QString found = QStandardPaths::findExecutable(name);
        if (found.isEmpty())
            found = QStandardPaths::findExecutable(name, kSearchPaths);
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
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray all = file.readAll();
    return QString::fromUtf8(all.right(2000));
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
    QStringList options{QStringLiteral("--no-defaults"),
                        QStringLiteral("--datadir=") + path(QStringLiteral("data")),
                        QStringLiteral("--skip-name-resolve"),
                        QStringLiteral("--innodb-buffer-pool-size=16M"),
                        QStringLiteral("--innodb-log-file-size=4M"),
                        QStringLiteral("--innodb-use-native-aio=0"),
                        QStringLiteral("--max-connections=40"),
                        QStringLiteral("--open-files-limit=1024"),
                        QStringLiteral("--table-open-cache=200")};
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
    QStringList arguments = serverOptions();
    arguments << QStringLiteral("--bootstrap") << QStringLiteral("--log-warnings=0")
              << QStringLiteral("--enforce-storage-engine=") << QStringLiteral("--max-allowed-packet=8M");
    process.start(m_serverBinary, arguments);
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
    process.start(client,
                  {QStringLiteral("--no-defaults"), QStringLiteral("--socket=") + socketPath(),
                   QStringLiteral("--user=root"), QStringLiteral("--batch"),
                   QStringLiteral("--skip-column-names"), QStringLiteral("--default-character-set=utf8mb4"),
                   QStringLiteral("--execute=") + sql});
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
