#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// One directory user as the user dialogs edit it: the contents of his file on the
// server plus the loud-alarm setting, which lives in the server's key-value store.
struct UserProfile
{
    enum UserType { Subscriber = 0, Dispatcher = 1, Technician = 2 };
    using Operator = QPair<QString, QString>; // name, telephone

    QString login;
    QStringList groups;
    int userType = Subscriber;
    QString displayName;
    QString password;
    QList<Operator> operators;
    // "IP:slot", or empty for a user without an alarm device.
    QString alarmSetting;

    bool operator==(const UserProfile &o) const
    {
        return login == o.login && groups == o.groups && userType == o.userType &&
               displayName == o.displayName && password == o.password && operators == o.operators &&
               alarmSetting == o.alarmSetting;
    }
};
