#pragma once

#include <QObject>
#include <QString>

class SSHSFTPLink;

// Qt front of the SSH file link. Created by the login cycle with the login's server
// address and password, moved to the main window's SSH worker thread; runs one
// request at a time there and answers only through its signals (queued to the GUI).
class SSHCommands final : public QObject
{
    Q_OBJECT

public:
    // The account on the server that owns the directory files.
    static QString defaultUser() { return QStringLiteral("freeswitch"); }

    SSHCommands(SSHSFTPLink *link, const QString &host, const QString &password, int port = 22,
                const QString &user = defaultUser(), QObject *parent = nullptr);

    // The text for a failed connect, chosen from the link's last results.
    static QString connectionMessage(const SSHSFTPLink &link);

signals:
    void FileLoaded(QString qsFileText);
    void FileSaved();
    void FileDeleted();
    void FileLoadSaveError(QString qsWarningMessage);
    void SSHKeyChanged(QString qsUserToLoad, QString qsFileContent, bool bErase);

public slots:
    void LoadFile(QString qsFileName);
    void SaveFile(QString qsFileName, QString qsFileContent);
    void EraseFile(QString qsFileName);
    void ReregisterSSHKey();

private:
    bool connectLink(bool acceptNewKey);
    // Connects when needed; on failure emits the key question or the error and returns false.
    bool ensureConnected(const QString &fileName, const QString &content, bool erase);
    QString errorText(const QString &prefix) const;
    bool lostConnection() const;

    SSHSFTPLink *m_link;
    QString m_host;
    QString m_password;
    QString m_user;
    int m_port;
};
