#pragma once

#include "admin/userprofile.h"

#include <QList>
#include <QString>

// The checks of the user edit form, in the order the dispatcher meets them, without
// widgets: the dialog collects the texts, asks the replace question between the login
// check and the rest, and shows whatever message comes back.
class UserFormCheck
{
public:
    struct Input
    {
        bool isNewUser = true;
        QString originalLogin; // the login the dialog opened with
        QString login;
        QString displayName;
        int userTypeIndex = 0;
        QString password;
        QString groupsText;
        QList<UserProfile::Operator> operatorRows;
        QString alarmIp;
        QString alarmSlot;
    };

    // Trims the login in place; returns the message for an empty or unsafe one.
    static QString checkLogin(QString &login);
    // Whether saving would overwrite another user's file that the tree already shows.
    static bool needsReplaceQuestion(const Input &input, bool loginExists);
    // The remaining checks; on success fills profile and returns an empty text.
    static QString checkRest(const Input &input, UserProfile &profile);
    // The group field's text as a group list: trimmed, no empties, no repeats; "без имени"
    // stands for no groups at all.
    static QStringList groupsFromText(const QString &text);
};
