#include "admin/admininput.h"

#include <QHostAddress>
#include <QRegularExpression>

QString AdminInput::loginError(const QString &login)
{
    static const QRegularExpression valid(QStringLiteral("^[A-Za-z0-9_\\-][A-Za-z0-9_.\\-]*$"));
    if (login.isEmpty())
        return QStringLiteral("Логин пользователя не должен быть пустым");
    if (login.size() > MaxLoginLength || !valid.match(login).hasMatch())
        return QStringLiteral("Недопустимый логин пользователя «%1»: разрешены только латинские буквы, цифры "
                              "и знаки «_», «-», «.», логин не может начинаться с точки и быть длиннее %2 "
                              "символов")
            .arg(login)
            .arg(MaxLoginLength);
    return QString();
}

QString AdminInput::ipError(const QString &ip)
{
    // QHostAddress also takes shorthand forms like "10.1"; the server needs the full form.
    static const QRegularExpression ipv4(
        QStringLiteral("^(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})$"));
    static const QRegularExpression ipv6(QStringLiteral("^[0-9A-Fa-f:.]+$"));
    const auto m = ipv4.match(ip);
    bool ok = false;
    if (m.hasMatch()) {
        ok = true;
        for (int i = 1; i <= 4; ++i)
            ok = ok && m.captured(i).toInt() <= 255;
    } else if (ip.contains(QLatin1Char(':')) && ipv6.match(ip).hasMatch()) {
        QHostAddress address;
        ok = address.setAddress(ip) && address.protocol() == QAbstractSocket::IPv6Protocol;
    }
    return ok ? QString() : QStringLiteral("Введите правильную строку настроек громкого боя");
}

QString AdminInput::userFilePath(const QString &fileTemplate, const QString &login, QString *error)
{
    if (fileTemplate.isEmpty()) {
        *error = QStringLiteral("Ошибка: не установлен шаблон имени файла пользователя");
        return QString();
    }
    // Without the placeholder every user would land in one and the same file.
    if (!fileTemplate.contains(QLatin1String("%1"))) {
        *error = QStringLiteral("Ошибка: шаблон имени файла пользователя «%1» не содержит %2")
                     .arg(fileTemplate, QStringLiteral("%1"));
        return QString();
    }
    *error = loginError(login);
    if (!error->isEmpty())
        return QString();
    QString path = fileTemplate;
    return path.replace(QLatin1String("%1"), login);
}
