#pragma once

#include "admin/userprofile.h"

#include <QDialog>

// Read-only profile of one directory user with the edit and delete buttons. Finishes
// with 0 (close), 1 (edit) or 2 (delete); UserAdmin decides what follows.
class CUserInfoDialog final : public QDialog
{
    Q_OBJECT

public:
    enum Result { Closed = 0, Edit = 1, Delete = 2 };

    CUserInfoDialog(const UserProfile &profile, const QString &contact, QWidget *parent = nullptr);

    static QString userTypeName(int userType);

public slots:
    void CloseButtonPressed();
    void EditProfileButtonPressed();
    void DeleteProfileButtonPressed();
};
