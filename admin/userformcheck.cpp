#include "admin/userformcheck.h"

#include "admin/admininput.h"

QString UserFormCheck::checkLogin(QString &login)
{
    login = login.trimmed();
    return AdminInput::loginError(login);
}

bool UserFormCheck::needsReplaceQuestion(const Input &input, bool loginExists)
{
    return loginExists && (input.isNewUser || input.login.trimmed() != input.originalLogin);
}

QStringList UserFormCheck::groupsFromText(const QString &text)
{
    QStringList groups;
    for (const QString &part : text.split(QLatin1Char(';'))) {
        const QString g = part.trimmed();
        if (g.compare(QStringLiteral("без имени"), Qt::CaseInsensitive) == 0)
            return QStringList();
        if (!g.isEmpty() && !groups.contains(g))
            groups.append(g);
    }
    return groups;
}

QString UserFormCheck::checkRest(const Input &input, UserProfile &profile)
{
    profile = UserProfile();
    profile.login = input.login.trimmed();
    profile.displayName = input.displayName.trimmed();
    if (profile.displayName.isEmpty())
        return QStringLiteral("Отображаемое имя пользователя не должно быть пустым");
    if (input.userTypeIndex < 0 || input.userTypeIndex > 2)
        return QStringLiteral("Выберите тип пользователя");
    profile.userType = input.userTypeIndex;

    const QString ip = input.alarmIp.trimmed();
    if (!ip.isEmpty()) {
        const QString error = AdminInput::ipError(ip);
        if (!error.isEmpty())
            return error;
        profile.alarmSetting = ip + QLatin1Char(':') + input.alarmSlot;
    }
    profile.password = input.password;
    profile.groups = groupsFromText(input.groupsText);
    for (const auto &row : input.operatorRows) {
        if (!row.first.isEmpty() || !row.second.isEmpty())
            profile.operators.append(row);
    }
    return QString();
}
