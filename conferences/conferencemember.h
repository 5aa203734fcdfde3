#pragma once

#include <QString>

// One member row of a conference as the participants model stores it. Plain value,
// owned by ConferenceParticipantsModel; GUI thread.
struct ConferenceMember
{
    int state = 0;
    QString uri;
    QString memberId;
    QString display;
    QString memberType;
    bool canSpeak = false;
    bool talking = false;
    QString toolTip;
    QString callUuid;
    QString jobUuid;
    bool pstn = false;
    bool privileged = false;
    // What the console asked the server to do with this member and awaits; empty when nothing.
    QString pending;
};
