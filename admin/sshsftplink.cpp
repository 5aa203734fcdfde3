#include "admin/sshsftplink.h"

#include <QDebug>
#include <QRandomGenerator>

#include <fcntl.h>
#include <libssh/callbacks.h>
#include <libssh/libssh.h>
#include <libssh/sftp.h>

namespace {

constexpr long ConnectTimeoutUsec = 10000000;
constexpr long SessionTimeoutUsec = 1000000;
constexpr int ReadChunk = 16384;
constexpr int RawTimeoutMs = 5000;

void logToQt(int priority, const char *function, const char *buffer, void *)
{
    Q_UNUSED(priority)
    qDebug("libssh %s: %s", function, buffer);
}

// SFTP wire helpers for the one extended request libssh does not offer.
void putU32(QByteArray &out, quint32 v)
{
    out.append(char(v >> 24)).append(char(v >> 16)).append(char(v >> 8)).append(char(v));
}

void putString(QByteArray &out, const QByteArray &s)
{
    putU32(out, quint32(s.size()));
    out.append(s);
}

quint32 getU32(const QByteArray &in, int at)
{
    if (at + 4 > in.size())
        return 0;
    const auto *p = reinterpret_cast<const unsigned char *>(in.constData() + at);
    return (quint32(p[0]) << 24) | (quint32(p[1]) << 16) | (quint32(p[2]) << 8) | quint32(p[3]);
}

bool writeAll(ssh_channel channel, const QByteArray &data)
{
    return ssh_channel_write(channel, data.constData(), uint32_t(data.size())) == data.size();
}

bool readExactly(ssh_channel channel, char *buf, int count)
{
    int got = 0;
    while (got < count) {
        const int n = ssh_channel_read_timeout(channel, buf + got, uint32_t(count - got), 0, RawTimeoutMs);
        if (n <= 0)
            return false;
        got += n;
    }
    return true;
}

// One SFTP packet: its type and payload, or type 0 on failure.
QByteArray readPacket(ssh_channel channel, int *type)
{
    *type = 0;
    char head[4];
    if (!readExactly(channel, head, 4))
        return QByteArray();
    const quint32 len = getU32(QByteArray(head, 4), 0);
    if (len < 1 || len > 256 * 1024)
        return QByteArray();
    QByteArray body(int(len), '\0');
    if (!readExactly(channel, body.data(), body.size()))
        return QByteArray();
    *type = quint8(body.at(0));
    return body.mid(1);
}

QByteArray packet(int type, const QByteArray &payload)
{
    QByteArray out;
    putU32(out, quint32(payload.size() + 1));
    out.append(char(type));
    out.append(payload);
    return out;
}

} // namespace

SSHSFTPLink::SSHSFTPLink() = default;

SSHSFTPLink::~SSHSFTPLink()
{
    disconnect();
}

SSHSFTPLink &SSHSFTPLink::instance()
{
    static SSHSFTPLink link;
    return link;
}

void SSHSFTPLink::fail(const char *what)
{
    lastError = m_connection ? QByteArray(ssh_get_error(m_connection)) : QByteArray();
    qWarning("%s %s", what, lastError.constData());
}

bool SSHSFTPLink::connectTo(const QByteArray &newHost, const QByteArray &newUser,
                            const QByteArray &newPassword, bool acceptNewKey, int newPort)
{
    if (m_connection)
        return false;
    host = newHost;
    user = newUser;
    password = newPassword;
    port = newPort;
    connectResult = -1;
    authResult = AuthError;
    fingerprint.clear();

    ssh_set_log_callback(logToQt);
    ssh_session session = ssh_new();
    if (!session) {
        lastError = "ssh_new() failed";
        return false;
    }
    const QByteArray hostName = host.isEmpty() ? QByteArray("localhost") : host;
    const int verbosity = SSH_LOG_PROTOCOL;
    const unsigned int portValue = unsigned(port);
    const long timeout = ConnectTimeoutUsec;
    ssh_options_set(session, SSH_OPTIONS_HOST, hostName.constData());
    ssh_options_set(session, SSH_OPTIONS_USER, user.constData());
    ssh_options_set(session, SSH_OPTIONS_LOG_VERBOSITY, &verbosity);
    ssh_options_set(session, SSH_OPTIONS_PORT, &portValue);
    ssh_options_set(session, SSH_OPTIONS_TIMEOUT_USEC, &timeout);
    if (!m_knownHostsFile.isEmpty())
        ssh_options_set(session, SSH_OPTIONS_KNOWNHOSTS, m_knownHostsFile.constData());
    // The account's ssh_config must not redirect the console to another host or port.
    const int noConfig = 0;
    ssh_options_set(session, SSH_OPTIONS_PROCESS_CONFIG, &noConfig);

    // The handle becomes the connection only once authenticated; until then a failure
    // frees it without touching knownState, which the host-key question still needs.
    m_connection = session;
    connectResult = ssh_connect(session) == SSH_OK ? 0 : -1;
    if (connectResult != 0) {
        // No key was checked: an unreachable server must not look like an unknown one.
        knownState = KnownError;
        fail("Error connecting:");
        m_connection = nullptr;
        ssh_free(session);
        return false;
    }
    if (ssh_blocking_flush(session, 100) == SSH_AGAIN)
        ssh_blocking_flush(session, 100);

    ssh_key key = nullptr;
    if (ssh_get_server_publickey(session, &key) == SSH_OK) {
        unsigned char *hash = nullptr;
        size_t hashLen = 0;
        if (ssh_get_publickey_hash(key, SSH_PUBLICKEY_HASH_MD5, &hash, &hashLen) == 0) {
            char *hex = ssh_get_hexa(hash, hashLen);
            fingerprint = QByteArray(hex);
            ssh_string_free_char(hex);
            ssh_clean_pubkey_hash(&hash);
        }
        ssh_key_free(key);
    }

    if (!checkKnownHost(acceptNewKey) || !authenticate()) {
        m_connection = nullptr;
        ssh_disconnect(session);
        ssh_free(session);
        return false;
    }
    const long sessionTimeout = SessionTimeoutUsec;
    ssh_options_set(session, SSH_OPTIONS_TIMEOUT_USEC, &sessionTimeout);
    return true;
}

bool SSHSFTPLink::checkKnownHost(bool acceptNewKey)
{
    switch (ssh_session_is_known_server(m_connection)) {
    case SSH_KNOWN_HOSTS_OK:
        knownState = ServerKnown;
        return true;
    case SSH_KNOWN_HOSTS_CHANGED:
        knownState = KeyChanged;
        qWarning("Host key for server changed: it is now: %s", fingerprint.constData());
        if (!acceptNewKey) {
            qWarning("For security reasons, connection will be stopped");
            return false;
        }
        break;
    case SSH_KNOWN_HOSTS_OTHER:
        knownState = OtherKeyType;
        qWarning("The host key for this server was not found but an other type of key exists.");
        qWarning(
            "An attacker might change the default server key toconfuse your client into thinking the key "
            "does not exist");
        return false;
    case SSH_KNOWN_HOSTS_NOT_FOUND:
        knownState = KnownHostsMissing;
        qWarning("Could not find known host file.");
        qWarning("If you accept the host key here, the file will be automatically created.");
        if (!acceptNewKey)
            return false;
        break;
    case SSH_KNOWN_HOSTS_UNKNOWN:
        knownState = ServerUnknown;
        qWarning("The server is unknown.");
        if (!acceptNewKey)
            return false;
        break;
    case SSH_KNOWN_HOSTS_ERROR:
    default:
        knownState = KnownError;
        fail("Error");
        return false;
    }
    if (ssh_session_update_known_hosts(m_connection) != SSH_OK) {
        fail("Error");
        return false;
    }
    return true;
}

bool SSHSFTPLink::authenticate()
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        authResult = AuthError;
        authResult = ssh_userauth_password(m_connection, nullptr, password.constData());
        if (authResult == AuthSuccess)
            return true;
        lastError = ssh_get_error(m_connection);
        const bool again = authResult == AuthAgain && attempt == 0;
        qWarning("Authentication failed (%d) - Error authenticating with password: %s%s", authResult,
                 lastError.constData(), again ? ", trying again" : "");
        if (!again)
            return false;
    }
    return false;
}

bool SSHSFTPLink::reconnect()
{
    disconnect();
    return connectTo(host, user, password, true, port);
}

bool SSHSFTPLink::disconnect()
{
    if (!m_connection)
        return false;
    ssh_disconnect(m_connection);
    ssh_free(m_connection);
    m_connection = nullptr;
    knownState = KnownError;
    return true;
}

sftp_session SSHSFTPLink::openSftp()
{
    sftp_session sftp = sftp_new(m_connection);
    if (!sftp) {
        fail("Error allocating SFTP session:");
        return nullptr;
    }
    if (sftp_init(sftp) != SSH_OK) {
        fail("Error initializing SFTP session:");
        sftp_free(sftp);
        return nullptr;
    }
    return sftp;
}

void SSHSFTPLink::closeSftp(sftp_session sftp)
{
    sftp_free(sftp);
}

bool SSHSFTPLink::readFile(const QByteArray &path, QByteArray &content)
{
    content.clear();
    if (!m_connection || path.isEmpty())
        return false;
    sftp_session sftp = openSftp();
    if (!sftp)
        return false;
    bool ok = false;
    sftp_file file = sftp_open(sftp, path.constData(), O_RDONLY, 0);
    if (!file) {
        fail("Can't open file for reading:");
    } else {
        QByteArray buffer(ReadChunk, '\0');
        for (;;) {
            buffer.fill('\0');
            const ssize_t n = sftp_read(file, buffer.data(), size_t(buffer.size()));
            if (n == 0) {
                ok = true;
                break;
            }
            if (n < 0) {
                fail("Error while reading file:");
                content.clear();
                break;
            }
            content.append(buffer.constData(), int(n));
        }
        sftp_close(file);
    }
    closeSftp(sftp);
    return ok;
}

bool SSHSFTPLink::writeWhole(sftp_session sftp, const QByteArray &path, const QByteArray &content)
{
    sftp_file file = sftp_open(sftp, path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (!file) {
        fail("Can't open file for writing:");
        return false;
    }
    // The library may split large writes; every byte must reach the file.
    qint64 done = 0;
    while (done < content.size()) {
        const ssize_t n = sftp_write(file, content.constData() + done, size_t(content.size() - done));
        if (n <= 0) {
            fail("Can't write data to file:");
            sftp_close(file);
            return false;
        }
        done += n;
    }
    if (sftp_close(file) != SSH_OK) {
        fail("Can't close the written file:");
        return false;
    }
    return true;
}

bool SSHSFTPLink::writeFile(const QByteArray &path, const QByteArray &content)
{
    if (!m_connection || path.isEmpty() || content.isEmpty())
        return false;
    sftp_session sftp = openSftp();
    if (!sftp)
        return false;
    // A hidden sibling without the ".xml" ending, so the server never includes it.
    const int slash = path.lastIndexOf('/');
    const QByteArray temp = path.left(slash + 1) + '.' + path.mid(slash + 1) + ".tmp-" +
                            QByteArray::number(QRandomGenerator::global()->generate(), 16);
    bool ok = writeWhole(sftp, temp, content);
    if (ok) {
        if (m_beforeRename)
            m_beforeRename();
        ok = replaceFile(sftp, temp, path);
    }
    if (!ok && m_connection) {
        const QByteArray error = lastError;
        sftp_unlink(sftp, temp.constData());
        lastError = error;
    }
    closeSftp(sftp);
    return ok;
}

bool SSHSFTPLink::replaceFile(sftp_session sftp, const QByteArray &from, const QByteArray &to)
{
    if (sftp_extension_supported(sftp, "posix-rename@openssh.com", "1"))
        return posixRename(from, to);
    // Plain SFTP rename refuses an existing target: move the old file aside first and
    // put it back if the new one cannot take its place.
    const QByteArray aside = from + ".old";
    const bool hadOld = sftp_rename(sftp, to.constData(), aside.constData()) == SSH_OK;
    if (sftp_rename(sftp, from.constData(), to.constData()) != SSH_OK) {
        fail("Can't rename the written file:");
        const QByteArray error = lastError;
        if (hadOld)
            sftp_rename(sftp, aside.constData(), to.constData());
        lastError = error;
        return false;
    }
    if (hadOld)
        sftp_unlink(sftp, aside.constData());
    return true;
}

// posix-rename@openssh.com replaces the target atomically; libssh has no call for it, so
// it goes over a channel of its own speaking the SFTP wire format.
bool SSHSFTPLink::posixRename(const QByteArray &from, const QByteArray &to)
{
    ssh_channel channel = ssh_channel_new(m_connection);
    if (!channel) {
        fail("Can't rename the written file:");
        return false;
    }
    QByteArray status;
    int type = 0;
    if (ssh_channel_open_session(channel) == SSH_OK &&
        ssh_channel_request_subsystem(channel, "sftp") == SSH_OK) {
        QByteArray init;
        putU32(init, 3);
        QByteArray request;
        putU32(request, 1);
        putString(request, "posix-rename@openssh.com");
        putString(request, from);
        putString(request, to);
        if (writeAll(channel, packet(SSH_FXP_INIT, init)) &&
            (readPacket(channel, &type), type == SSH_FXP_VERSION) &&
            writeAll(channel, packet(SSH_FXP_EXTENDED, request)))
            status = readPacket(channel, &type);
    }
    const bool answered = type == SSH_FXP_STATUS && getU32(status, 0) == 1;
    const bool ok = answered && getU32(status, 4) == SSH_FX_OK;
    if (answered && !ok) {
        lastError = status.mid(12, int(getU32(status, 8)));
        qWarning("Can't rename the written file: %s", lastError.constData());
    } else if (!ok) {
        fail("Can't rename the written file:");
    }
    if (ssh_channel_is_open(channel)) {
        ssh_channel_send_eof(channel);
        ssh_channel_close(channel);
    }
    ssh_channel_free(channel);
    return ok;
}

bool SSHSFTPLink::deleteFile(const QByteArray &path)
{
    if (!m_connection || path.isEmpty())
        return false;
    sftp_session sftp = openSftp();
    if (!sftp)
        return false;
    const bool ok = sftp_unlink(sftp, path.constData()) == SSH_OK;
    if (!ok)
        fail("Error deleting of file:");
    closeSftp(sftp);
    return ok;
}
