#pragma once

#include <QByteArray>

#include <functional>

struct ssh_session_struct;
struct sftp_session_struct;

// Blocking SSH/SFTP client for the server's directory user files: one SSH connection
// kept open between operations, one SFTP session per operation. One process-wide
// instance (SSHSFTPLink::instance()); used only from the SSH worker thread, except
// that knownState and fingerprint are read by the GUI thread once the worker is idle.
class SSHSFTPLink
{
public:
    // Result of the known-hosts check of the last connect.
    enum KnownState {
        KnownError = -1,
        ServerUnknown = 0,
        ServerKnown = 1,
        KeyChanged = 2,
        OtherKeyType = 3,
        KnownHostsMissing = 4,
    };
    // Result of the last password authentication.
    enum AuthResult {
        AuthError = -1,
        AuthSuccess = 0,
        AuthDenied = 1,
        AuthPartial = 2,
        AuthInfo = 3,
        AuthAgain = 4
    };

    SSHSFTPLink();
    virtual ~SSHSFTPLink();
    SSHSFTPLink(const SSHSFTPLink &) = delete;
    SSHSFTPLink &operator=(const SSHSFTPLink &) = delete;

    static SSHSFTPLink &instance();

    bool connectTo(const QByteArray &host, const QByteArray &user, const QByteArray &password,
                   bool acceptNewKey, int port = 22);
    bool reconnect();
    bool disconnect();
    bool isConnected() const { return m_connection != nullptr; }

    bool readFile(const QByteArray &path, QByteArray &content);
    // Writes a sibling temporary file and renames it over path, so that a dropped
    // connection leaves either the old or the new file, never a partial one.
    bool writeFile(const QByteArray &path, const QByteArray &content);
    bool deleteFile(const QByteArray &path);

    // Empty: the library's default known-hosts file of the account.
    void setKnownHostsFile(const QByteArray &path) { m_knownHostsFile = path; }
    // Called between the temporary write and the rename; lets tests cut the line there.
    void setBeforeRenameHook(std::function<void()> hook) { m_beforeRename = std::move(hook); }

    QByteArray host;
    QByteArray user;
    QByteArray password;
    int port = 22;
    QByteArray lastError;
    int knownState = ServerUnknown;
    int authResult = AuthError;
    int connectResult = -1;
    QByteArray fingerprint;

private:
    void fail(const char *what);
    void dropConnection();
    bool checkKnownHost(bool acceptNewKey);
    bool authenticate();
    sftp_session_struct *openSftp();
    void closeSftp(sftp_session_struct *sftp);
    bool writeWhole(sftp_session_struct *sftp, const QByteArray &path, const QByteArray &content);
    bool replaceFile(sftp_session_struct *sftp, const QByteArray &from, const QByteArray &to);
    bool posixRename(const QByteArray &from, const QByteArray &to);

    ssh_session_struct *m_connection = nullptr;
    QByteArray m_knownHostsFile;
    std::function<void()> m_beforeRename;
};
