#include "admin/useradmin.h"

#include "admin/admininput.h"
#include "admin/adminprompter.h"
#include "admin/cuseraddeditdialog.h"
#include "admin/cuserinfodialog.h"
#include "admin/sshsftplink.h"
#include "admin/userfile.h"
#include "app/xmlconfig.h"
#include "esl/esl2.h"
#include "users/userlistmodel.h"

#include <QDebug>
#include <QWidget>

UserAdmin::UserAdmin(ESL2 *esl, UserListModel *users, XMLConfig &config, const SSHSFTPLink *link,
                     AdminPrompter *prompter, QWidget *dialogParent, QObject *parent)
    : QObject(parent)
    , m_esl(esl)
    , m_users(users)
    , m_config(config)
    , m_link(link)
    , m_prompter(prompter)
    , m_dialogParent(dialogParent)
{}

UserAdmin::~UserAdmin()
{
    delete m_infoDialog;
    delete m_editDialog;
}

QString UserAdmin::serverHost() const
{
    return m_config.currentServerHost;
}

QString UserAdmin::filePathFor(const QString &login)
{
    QString error;
    const QString path = AdminInput::userFilePath(m_config.userFileTemplate, login, &error);
    if (!error.isEmpty())
        m_prompter->warning(error);
    return path;
}

void UserAdmin::userInformation(QString uri)
{
    // The edit form holds unsaved input and the user record it belongs to.
    if (m_editDialog) {
        m_editDialog->raise();
        return;
    }
    const QString userName = uri.section(QLatin1Char('@'), 0, 0);
    const QString path = filePathFor(userName);
    if (path.isEmpty())
        return;
    m_userName = userName;
    m_loadingFile = path;
    emit LoadFile(path);
}

void UserAdmin::FileLoaded(QString qsFileText)
{
    UserProfile profile;
    const QString error = UserFile::read(qsFileText, m_userName, m_loadingFile, profile);
    if (!error.isEmpty()) {
        m_prompter->warning(error);
        return;
    }
    delete m_infoDialog;
    m_profile = profile;
    const QString contact =
        m_users ? m_users->contactAddress(profile.login + QLatin1Char('@') + serverHost()) : QString();
    m_infoDialog = new CUserInfoDialog(profile, contact, m_dialogParent);
    m_infoDialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_infoDialog, &QDialog::finished, this, &UserAdmin::UserInfoDlgFinished);
    m_infoDialog->show();
}

void UserAdmin::UserInfoDlgFinished(int Result)
{
    if (m_infoDialog) {
        m_infoDialog->deleteLater();
        m_infoDialog = nullptr;
    }
    if (Result == CUserInfoDialog::Edit) {
        openEditDialog(false, m_profile);
    } else if (Result == CUserInfoDialog::Delete) {
        const bool yes = m_prompter->question(
            QStringLiteral("Вы уверенны что хотите удалить пользователя ") + m_profile.displayName,
            QStringLiteral("Пользователь будёт стёрт без возможности восстановления"), QString(), QString());
        if (!yes)
            return;
        const QString path = filePathFor(m_userName);
        if (path.isEmpty())
            return;
        qInfo().noquote() << "removing file" << path;
        emit EraseFile(path);
    }
}

void UserAdmin::EditUsersButtonPressed()
{
    if (m_infoDialog || m_editDialog)
        return;
    openEditDialog(true, UserProfile());
}

void UserAdmin::openEditDialog(bool isNewUser, const UserProfile &profile)
{
    const QPointer<UserListModel> users = m_users;
    const QString domain = serverHost();
    m_editDialog = new CUserAddEditDialog(
        isNewUser, profile, m_prompter,
        [users, domain](const QString &login) {
            return users && users->hasUser(login + QLatin1Char('@') + domain);
        },
        m_dialogParent);
    m_editDialog->setAttribute(Qt::WA_DeleteOnClose);
    m_editDialog->buildForm();
    connect(m_editDialog, &QDialog::finished, this, &UserAdmin::UserEditDlgFinished);
    connect(m_editDialog, &CUserAddEditDialog::saveRequested, this, &UserAdmin::saveRequested);
    m_editDialog->show();
}

// The form stays open while its file travels, so a refusal loses nothing typed.
void UserAdmin::saveRequested()
{
    if (!m_editDialog || m_saveInFlight)
        return;
    const UserProfile profile = m_editDialog->profile();
    const QString path = filePathFor(profile.login);
    if (path.isEmpty())
        return;
    m_saving = profile;
    m_saveInFlight = true;
    m_editDialog->setSaving(true);
    emit SaveFile(path, UserFile::write(profile));
}

void UserAdmin::UserEditDlgFinished(int Result)
{
    Q_UNUSED(Result)
    if (m_editDialog) {
        disconnect(m_editDialog, nullptr, this, nullptr);
        m_editDialog->deleteLater();
        m_editDialog = nullptr;
    }
}

void UserAdmin::FileSaved()
{
    // Alarm and reload belong to a save this controller started, and only once.
    if (!m_saveInFlight)
        return;
    m_saveInFlight = false;
    if (m_saving.alarmSetting.isEmpty())
        deleteAlarm(m_saving.login);
    else
        setAlarm(m_saving.login, m_saving.alarmSetting);
    sendCommand(QStringLiteral("api reloadxml\n\n"), QStringLiteral("Ошибка выполнения reloadxml: %1"));
    if (m_editDialog)
        m_editDialog->accept();
}

void UserAdmin::FileDeleted()
{
    deleteAlarm(m_userName);
    sendCommand(QStringLiteral("api reloadxml\n\n"), QStringLiteral("Ошибка выполнения reloadxml: %1"));
}

void UserAdmin::FileLoadSaveError(QString qsWarningMessage)
{
    if (m_infoDialog) {
        m_infoDialog->deleteLater();
        m_infoDialog = nullptr;
    }
    if (m_editDialog && m_saveInFlight) {
        // Keep the form: the dispatcher sees why and may try again.
        m_saveInFlight = false;
        m_editDialog->setSaving(false);
        m_editDialog->warn(qsWarningMessage);
        return;
    }
    m_saveInFlight = false;
    m_prompter->warning(qsWarningMessage);
}

void UserAdmin::SSHKeyChanged(QString qsUserToLoad, QString qsFileContent, bool bErase)
{
    const QString host = serverHost();
    const int known = m_link->knownState;
    if (known == SSHSFTPLink::ServerUnknown && m_link->fingerprint.isEmpty()) {
        FileLoadSaveError(QStringLiteral("Отсуствует соединение с сервером ") + host);
        return;
    }
    const QString text =
        known == SSHSFTPLink::ServerUnknown || known == SSHSFTPLink::KnownHostsMissing
            ? QStringLiteral("Сервер ") + host + QStringLiteral(" отсутствует в списке известных хостов")
            : QStringLiteral("Ключ сервера изменился");
    const QString info =
        m_link->fingerprint.isEmpty()
            ? QString()
            : QStringLiteral("Отпечаток:") + QString::fromLatin1(m_link->fingerprint).toUpper();
    if (!m_prompter->question(text, info, QStringLiteral("Подключиться"), QStringLiteral("Отменить"))) {
        if (m_saveInFlight && m_editDialog) {
            m_saveInFlight = false;
            m_editDialog->setSaving(false);
        }
        return;
    }
    emit ReregisterSSHKey();
    if (bErase)
        emit EraseFile(qsUserToLoad);
    else if (qsFileContent.isEmpty())
        emit LoadFile(qsUserToLoad);
    else
        emit SaveFile(qsUserToLoad, qsFileContent);
}

QString UserAdmin::alarmInsertCommand(const QString &login, const QString &ip, int slot)
{
    if (login.isEmpty() || ip.isEmpty() || slot < 0)
        return QString();
    if (slot == 0)
        return QStringLiteral("api db insert/alarms/%1/%2 .1.3.6.1.4.1.47781.1.1.0\n\n").arg(login, ip);
    return QStringLiteral("api db insert/alarms/%1/%2 .1.3.6.1.4.1.47781.9999.4.%3.7.0\n\n")
        .arg(login, ip)
        .arg(slot);
}

void UserAdmin::setAlarm(const QString &login, const QString &alarmSetting)
{
    // An IPv6 address holds colons itself; the slot follows the last one.
    const int colon = alarmSetting.lastIndexOf(QLatin1Char(':'));
    const QString ip = alarmSetting.left(colon);
    bool numeric = false;
    const int slot = alarmSetting.mid(colon + 1).toInt(&numeric);
    if (colon < 0 || !numeric)
        return;
    const QString error =
        AdminInput::loginError(login).isEmpty() ? AdminInput::ipError(ip) : AdminInput::loginError(login);
    if (!error.isEmpty()) {
        m_prompter->warning(error);
        return;
    }
    const QString command = alarmInsertCommand(login, ip, slot);
    if (!command.isEmpty())
        sendCommand(command,
                    QStringLiteral("Ошибка установки громкого боя для пользователя %1: %2").arg(login));
}

void UserAdmin::deleteAlarm(const QString &login)
{
    const QString error = AdminInput::loginError(login);
    if (!error.isEmpty()) {
        m_prompter->warning(error);
        return;
    }
    sendCommand(QStringLiteral("api db delete/alarms/%1\n\n").arg(login),
                QStringLiteral("Ошибка удаления настройки громкого боя для пользователя %1: %2").arg(login));
}

void UserAdmin::sendCommand(const QString &command, const QString &context)
{
    if (m_esl)
        m_esl->sendRequest(command, this, QStringLiteral("reportEslError"), context);
}

void UserAdmin::reportEslError(QString res, QVariant ctx)
{
    if (res.contains(QLatin1String("-ERR")))
        m_prompter->warning(ctx.toString().arg(res));
}
