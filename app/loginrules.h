#pragma once

#include "app/xmlconfig.h"

#include <QList>
#include <QString>

// The rules of the login dialog that need no screen: which texts may go to the
// servers, the host as the connection needs it, the remembered users, and what
// an event-socket failure means to the operator. Static only, GUI thread.
class LoginRules
{
public:
    LoginRules() = delete;

    static const int kMaxUsers = 8;

    // Empty when user name, host and password may go to the database and the SIP
    // registrar; otherwise the Russian reason they are refused.
    static QString credentialsError(const QString &user, const QString &host, const QString &password);
    // The same for the event-socket password read from the database, which goes
    // into the socket's "auth" command.
    static QString eventSocketPasswordError(const QString &password);

    // An IPv6 literal loses its brackets ("[::1]" -> "::1"); anything else stays.
    static QString connectionHost(const QString &host);

    // Puts the login address first in the list (at most kMaxUsers entries); only the
    // first entry may start automatically, and only it keeps a password.
    static void rememberUser(QList<XMLConfig::UserEntry> &users, const QString &address, bool autoStart,
                             const QString &password);

    // What a failed event-socket attempt means, in Russian, from the client's
    // connectError() text or disconnected() reason; empty for an orderly disconnect.
    static QString eventSocketFailure(const QString &clientText, const QString &host, int port);
};
