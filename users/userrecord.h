#pragma once

#include <QString>

// Role of a directory user, from the user's "role" attribute.
enum UserType { UserTypeSubscriber = 0, UserTypeDispatcher = 1, UserTypeTechnician = 2 };

// One directory user as listed by the server; a plain value copied freely.
// Owned by UserListModel (GUI thread); other code sees copies.
struct UserRecord
{
    QString userId;
    QString context;
    QString domain;
    int type = UserTypeSubscriber;
    QString group;
    QString contact;
    QString callGroup;
    QString displayName;
    QString callerIdNumber;
    bool registered = false;
    QString callState;

    QString uri() const { return userId + QLatin1Char('@') + domain; }
};
