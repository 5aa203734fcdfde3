#pragma once

#include "admin/userprofile.h"

#include <QString>

// Reader and writer of a directory user's XML file in the server's layout. Plain
// functions of the text; the GUI thread calls them around the SSH transfers.
class UserFile
{
public:
    // The complete document, UTF-8 declared, attributes escaped.
    static QString write(const UserProfile &profile);

    // Fills profile (alarmSetting stays empty) and returns an empty text, or returns the
    // message for the dispatcher. fileName only appears in messages.
    static QString read(const QString &text, const QString &expectedLogin, const QString &fileName,
                        UserProfile &profile);

    static QString roleOf(int userType);
    static QString allowOf(int userType);
};
