#pragma once

#include <QString>

// The gate for every operator-typed text that reaches a file name or a server command
// in user administration. Each check returns an empty text when the value is safe,
// otherwise the Russian message for the dispatcher; nothing is sent in that case.
class AdminInput
{
public:
    static constexpr int MaxLoginLength = 64;

    // A directory user id that is also safe as a file name: letters, digits, "_", "-",
    // "."; not starting with "."; at most MaxLoginLength characters.
    static QString loginError(const QString &login);
    // An IPv4 address in dotted form or an IPv6 address.
    static QString ipError(const QString &ip);
    // The user's file on the server from the template; empty with *error set when the
    // template is unset or the login is unsafe.
    static QString userFilePath(const QString &fileTemplate, const QString &login, QString *error);
};
