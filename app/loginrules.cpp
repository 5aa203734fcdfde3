#include "app/loginrules.h"

namespace {

bool hasControlCharacter(const QString &text)
{
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control)
            return true;
    }
    return false;
}

} // namespace

QString LoginRules::credentialsError(const QString &user, const QString &host, const QString &password)
{
    if (user.isEmpty())
        return QStringLiteral("Не указано имя пользователя");
    // A line break would end the request it is written into.
    if (hasControlCharacter(user) || hasControlCharacter(host) || hasControlCharacter(password))
        return QStringLiteral(
            "Имя пользователя, адрес сервера и пароль не должны содержать управляющих символов");
    if (host.contains(QLatin1Char(' ')) || user.contains(QLatin1Char(' ')))
        return QStringLiteral("Имя пользователя и адрес сервера не должны содержать пробелов");
    return QString();
}

QString LoginRules::eventSocketPasswordError(const QString &password)
{
    if (password.isEmpty())
        return QStringLiteral("Пароль event socket в базе данных пуст");
    if (hasControlCharacter(password))
        return QStringLiteral("Пароль event socket в базе данных содержит управляющие символы");
    return QString();
}

QString LoginRules::connectionHost(const QString &host)
{
    if (host.size() > 2 && host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        return host.mid(1, host.size() - 2);
    return host;
}

void LoginRules::rememberUser(QList<XMLConfig::UserEntry> &users, const QString &address, bool autoStart,
                              const QString &password)
{
    int found = -1;
    for (int i = 0; i < users.size(); ++i) {
        if (users.at(i).sipUri == address) {
            found = i;
            break;
        }
    }
    if (found != 0) {
        if (!users.isEmpty())
            users.first().autoStart = false;
        if (found > 0) {
            users.move(found, 0);
        } else {
            XMLConfig::UserEntry entry;
            entry.sipUri = address;
            users.prepend(entry);
            while (users.size() > kMaxUsers)
                users.removeLast();
        }
    }
    XMLConfig::UserEntry &first = users.first();
    first.autoStart = autoStart;
    if (autoStart)
        first.password = password;
}

QString LoginRules::eventSocketFailure(const QString &clientText, const QString &host, int port)
{
    const QString where = host + QLatin1Char(':') + QString::number(port);
    if (clientText == QLatin1String("connection refused"))
        return QStringLiteral("Сервер %1 отклонил соединение: event socket не запущен или порт неверен")
            .arg(where);
    if (clientText == QLatin1String("host not found"))
        return QStringLiteral("Сервер %1 не найден").arg(host);
    if (clientText == QLatin1String("operation timed out") || clientText == QLatin1String("network error"))
        return QStringLiteral("Сервер %1 не отвечает").arg(where);
    if (clientText == QLatin1String("connection closed by remote host"))
        return QStringLiteral("Сервер %1 закрыл соединение").arg(where);
    if (clientText == QStringLiteral("Ошибка аутентификации"))
        return QStringLiteral("Сервер %1 не принял пароль event socket из базы данных").arg(where);
    if (clientText.startsWith(QStringLiteral("Отказ в доступе к FreeSwitch")))
        return QStringLiteral("Сервер %1 отказал в доступе этому компьютеру (список доступа event socket)")
            .arg(where);
    if (clientText.endsWith(QLatin1String("requested")))
        return QString();
    return QStringLiteral("Ошибка соединения с %1: %2").arg(where, clientText);
}
