#pragma once

#include <QString>

#include <functional>

// Answers the two questions the conference models ask about a member's URI: the
// name to show and whether the user is a dispatcher or technician. It asks the
// process-wide user list; a URI it does not know (or no user list at all) is shown
// as itself and counts as non-privileged. Tests may install their own directory.
// Stateless apart from the test override; GUI thread.
class MemberDirectory
{
public:
    struct Override
    {
        std::function<QString(const QString &)> displayName;
        std::function<bool(const QString &)> isPrivileged;
    };

    static QString displayName(const QString &uri);
    static bool isDispatcherOrTechnician(const QString &uri);

    // The dispatcher's own URI: the login user at the login domain.
    static QString dispatcherUri();
    // The SIP domain of the current login.
    static QString sipDomain();

    // For tests: replace the user list; an empty Override restores it.
    static void setOverrideForTest(const Override &directory);
};
