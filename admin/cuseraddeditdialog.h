#pragma once

#include "admin/userformcheck.h"
#include "admin/userprofile.h"

#include <QDialog>
#include <QList>

#include <functional>

class AdminPrompter;
class EditorWithTextBackground;
class QComboBox;
class QPushButton;
class QSplitter;
class QStandardItem;
class QStandardItemModel;

// The create/edit form of a directory user. Save checks the form (UserFormCheck) and,
// when it passes, emits saveRequested() and stays open until UserAdmin reports the
// file saved (accept) or refused (the dispatcher can correct and retry).
class CUserAddEditDialog final : public QDialog
{
    Q_OBJECT

public:
    // loginExists answers whether a login is already in the user tree.
    CUserAddEditDialog(bool isNewUser, const UserProfile &profile, AdminPrompter *prompter,
                       std::function<bool(const QString &)> loginExists, QWidget *parent = nullptr);

    void buildForm();
    bool isNewUser() const { return m_isNewUser; }
    // The checked data of the last successful save press.
    UserProfile profile() const { return m_profile; }
    // While a save is on its way the save button is off.
    void setSaving(bool saving);
    // Shows a message over the form (dropping stay-on-top meanwhile).
    void warn(const QString &text);

signals:
    void saveRequested();

public slots:
    void CloseButtonPressed();
    void SaveButtonPressed();
    void AddNewUserButtonPressed();
    void EraseOperatorButtonPressed();
    void ItemChanged(QStandardItem *item);

private:
    struct OperatorRow
    {
        QWidget *box = nullptr;
        EditorWithTextBackground *name = nullptr;
        EditorWithTextBackground *phone = nullptr;
        QPushButton *remove = nullptr;
    };

    void addOperatorRow(const QString &name, const QString &phone);
    void renumberOperators();
    bool ask(const QString &text);
    void withoutStayOnTop(const std::function<void()> &show);
    UserFormCheck::Input formInput() const;

    bool m_isNewUser;
    UserProfile m_profile;
    AdminPrompter *m_prompter;
    std::function<bool(const QString &)> m_loginExists;

    EditorWithTextBackground *m_displayName = nullptr;
    EditorWithTextBackground *m_login = nullptr;
    QComboBox *m_userType = nullptr;
    EditorWithTextBackground *m_password = nullptr;
    QComboBox *m_groups = nullptr;
    QStandardItemModel *m_groupItems = nullptr;
    EditorWithTextBackground *m_alarmIp = nullptr;
    QComboBox *m_alarmSlot = nullptr;
    QSplitter *m_operatorArea = nullptr;
    QPushButton *m_save = nullptr;
    QList<OperatorRow> m_operators;
};
