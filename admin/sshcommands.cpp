#include "admin/sshcommands.h"

#include "admin/sshsftplink.h"

#include <QTextCodec>

SSHCommands::SSHCommands(SSHSFTPLink *link, const QString &host, const QString &password, int port,
                         const QString &user, QObject *parent)
    : QObject(parent), m_link(link), m_host(host), m_password(password), m_user(user), m_port(port)
{
    setObjectName(QStringLiteral("SSHCommands"));
}

QString SSHCommands::connectionMessage(const SSHSFTPLink &link)
{
    if (link.connectResult == -1)
        return QStringLiteral("Нет связи с SSH сервером");
    if (link.authResult == SSHSFTPLink::AuthDenied || link.authResult == SSHSFTPLink::AuthPartial)
        return QStringLiteral("Доступ запрещён, пароль или имя пользователя неверны");
    if (link.authResult == SSHSFTPLink::AuthError)
        return QStringLiteral("Ошибка сервера SSH");
    return QStringLiteral("Нет связи с SSH сервером");
}

bool SSHCommands::connectLink(bool acceptNewKey)
{
    return m_link->connectTo(m_host.toUtf8(), m_user.toUtf8(), m_password.toUtf8(), acceptNewKey, m_port);
}

QString SSHCommands::errorText(const QString &prefix) const
{
    return prefix + QStringLiteral(" ,") + QTextCodec::codecForLocale()->toUnicode(m_link->lastError);
}

// libssh reports a dead transport as a "Socket error" of one kind or another.
bool SSHCommands::lostConnection() const
{
    return m_link->lastError.toLower().contains("socket");
}

bool SSHCommands::ensureConnected(const QString &fileName, const QString &content, bool erase)
{
    if (m_link->isConnected() || connectLink(false))
        return true;
    const int known = m_link->knownState;
    if (known == SSHSFTPLink::ServerUnknown || known == SSHSFTPLink::KeyChanged ||
        known == SSHSFTPLink::KnownHostsMissing)
        emit SSHKeyChanged(fileName, content, erase);
    else
        emit FileLoadSaveError(connectionMessage(*m_link));
    return false;
}

void SSHCommands::LoadFile(QString qsFileName)
{
    if (!ensureConnected(qsFileName, QString(), false))
        return;
    QByteArray content;
    if (m_link->readFile(qsFileName.toUtf8(), content)) {
        emit FileLoaded(QString::fromUtf8(content));
        return;
    }
    if (!lostConnection()) {
        emit FileLoadSaveError(errorText(QStringLiteral("Ошибка на сервере SSH")));
        return;
    }
    if (!m_link->reconnect()) {
        emit FileLoadSaveError(errorText(QStringLiteral("Ошибка установления связи с сервером по SSH")));
        return;
    }
    if (m_link->readFile(qsFileName.toUtf8(), content))
        emit FileLoaded(QString::fromUtf8(content));
    else
        emit FileLoadSaveError(errorText(QStringLiteral("Ошибка связи с сервером по SSH")));
}

void SSHCommands::SaveFile(QString qsFileName, QString qsFileContent)
{
    // A new user may be the first thing saved in a session, so saving connects too.
    if (!ensureConnected(qsFileName, qsFileContent, false))
        return;
    const QByteArray content = qsFileContent.toUtf8();
    bool ok = m_link->writeFile(qsFileName.toUtf8(), content);
    if (!ok && lostConnection() && m_link->reconnect())
        ok = m_link->writeFile(qsFileName.toUtf8(), content);
    if (ok)
        emit FileSaved();
    else
        emit FileLoadSaveError(errorText(QStringLiteral("Ошибка на сервере SSH")));
}

void SSHCommands::EraseFile(QString qsFileName)
{
    if (!ensureConnected(qsFileName, QString(), true))
        return;
    if (m_link->deleteFile(qsFileName.toUtf8()) || m_link->lastError.toLower().contains("no such file"))
        emit FileDeleted();
    else
        emit FileLoadSaveError(errorText(QStringLiteral("Ошибка на сервере SSH")));
}

void SSHCommands::ReregisterSSHKey()
{
    connectLink(true);
}
