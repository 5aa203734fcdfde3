#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A private MariaDB server for tests: a fresh data directory in a temporary
// folder, a free port on 127.0.0.1 and a socket of its own, so any number of
// suites can run one at the same time. Root logs in over the socket without a
// password; tests create their databases and accounts with exec().
//
//   TestMariaDb db;
//   QVERIFY2(db.start(), qPrintable(db.error()));
//   QVERIFY2(db.exec("CREATE DATABASE dispatcher; CREATE USER 'u'@'%' IDENTIFIED BY 'p';"),
//   qPrintable(db.error())); connection.connectToDatabase(db.host(), "u", "p", db.port());
//
// The server is stopped (and the data removed) when the object goes. Single thread.
class TestMariaDb
{
public:
    TestMariaDb();
    ~TestMariaDb();

    TestMariaDb(const TestMariaDb &) = delete;
    TestMariaDb &operator=(const TestMariaDb &) = delete;

    // Creates the data directory on first use and starts the server; false with
    // error() when it cannot.
    bool start();
    // Shuts the server down and waits for it; the data stays for the next start().
    void stop();
    // The server goes down and comes back on the same port, as after a server restart.
    bool restart();
    bool isRunning() const;

    QString host() const { return QStringLiteral("127.0.0.1"); }
    int port() const { return m_port; }
    QString socketPath() const;

    // Runs SQL statements as root; false with error() on failure. Output is the
    // rows, tab-separated, one per line.
    bool exec(const QString &sql, QString *output = nullptr);
    QString error() const { return m_error; }

    // The SQL text of a string literal.
    static QString quoted(const QString &text);

private:
    bool install();
    bool launch();
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QStringList serverOptions() const;

    QTemporaryDir m_dir;
    QProcess m_server;
    QString m_serverBinary;
    int m_port = 0;
    bool m_installed = false;
    QString m_error;
};
