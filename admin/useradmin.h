#pragma once

#include "admin/userprofile.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>

class AdminPrompter;
class CUserAddEditDialog;
class CUserInfoDialog;
class ESL2;
class QWidget;
class SSHSFTPLink;
class UserListModel;
class XMLConfig;

// The road of user administration: information, new, edit and delete of directory
// users, their loud-alarm entries and the reload of the server's XML. The main window
// owns it and forwards its slots of the same names; file transfers leave through the
// LoadFile/SaveFile/EraseFile/ReregisterSSHKey signals (to SSHCommands on the SSH
// thread) and come back to the slots below. GUI thread.
class UserAdmin final : public QObject
{
    Q_OBJECT

public:
    // link is only read (host, knownState, fingerprint) for the host-key question, once
    // the worker has reported; prompter shows every modal message and question.
    UserAdmin(ESL2 *esl, UserListModel *users, XMLConfig &config, const SSHSFTPLink *link,
              AdminPrompter *prompter, QWidget *dialogParent, QObject *parent = nullptr);
    ~UserAdmin() override;

    CUserInfoDialog *infoDialog() const { return m_infoDialog; }
    CUserAddEditDialog *editDialog() const { return m_editDialog; }
    // The copy of the user being handled, as read from his file.
    UserProfile profile() const { return m_profile; }

    // The db command that sets the user's alarm entry; empty when nothing is to be set.
    static QString alarmInsertCommand(const QString &login, const QString &ip, int slot);

signals:
    void LoadFile(QString qsFileName);
    void SaveFile(QString qsFileName, QString qsFileContent);
    void EraseFile(QString qsFileName);
    void ReregisterSSHKey();

public slots:
    void userInformation(QString uri);
    void FileLoaded(QString qsFileText);
    void UserInfoDlgFinished(int Result);
    void EditUsersButtonPressed();
    void UserEditDlgFinished(int Result);
    void FileSaved();
    void FileDeleted();
    void FileLoadSaveError(QString qsWarningMessage);
    void SSHKeyChanged(QString qsUserToLoad, QString qsFileContent, bool bErase);
    void reportEslError(QString res, QVariant ctx);

private:
    void openEditDialog(bool isNewUser, const UserProfile &profile);
    void saveRequested();
    void setAlarm(const QString &login, const QString &alarmSetting);
    void deleteAlarm(const QString &login);
    void sendCommand(const QString &command, const QString &context);
    QString filePathFor(const QString &login);
    QString serverHost() const;

    ESL2 *m_esl;
    QPointer<UserListModel> m_users;
    XMLConfig &m_config;
    const SSHSFTPLink *m_link;
    AdminPrompter *m_prompter;
    QPointer<QWidget> m_dialogParent;

    QString m_userName;
    QString m_loadingFile;
    UserProfile m_profile;
    UserProfile m_saving;
    bool m_saveInFlight = false;
    QPointer<CUserInfoDialog> m_infoDialog;
    QPointer<CUserAddEditDialog> m_editDialog;
};
