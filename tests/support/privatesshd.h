#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A throw-away OpenSSH server for the SFTP tests: its own host key, configuration and
// free port on 127.0.0.1, all inside a temporary directory. Password logins go to a
// local test account (created once, idempotently), so it needs root; start() says why
// it cannot run otherwise. Several instances may run at once, in several processes.
//
//   PrivateSshd sshd;
//   QString why;
//   if (!sshd.start(&why)) QSKIP(qPrintable(why));
//   link.connectTo("127.0.0.1", PrivateSshd::user(), PrivateSshd::password(), true, sshd.port());
class PrivateSshd
{
public:
    PrivateSshd();
    ~PrivateSshd();

    static QByteArray user() { return "tesmarsftp"; }
    static QByteArray password() { return "Tsm-sftp-7q"; }

    bool start(QString *error);
    void stop();
    // Same port, optionally with a freshly generated host key.
    bool restart(bool newHostKey, QString *error);
    // Kills the server processes serving the open sessions; the listener stays.
    int dropSessions();

    int port() const { return m_port; }
    // A directory the test account may write to.
    QString dataDir() const;
    // A known-hosts file path of the test's own (not created).
    QString knownHostsFile() const;

private:
    bool prepare(QString *error);
    bool generateHostKey(QString *error);
    bool launch(QString *error);

    QTemporaryDir m_dir;
    QProcess m_process;
    int m_port = 0;
};
