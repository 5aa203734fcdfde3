#pragma once

#include <QString>

#include <memory>

class ConferenceParticipantsModel;

// One conference row of ConferenceListModel. The participants model is shared with
// views, pending auto-deletes and callers of getParticipantsModel. GUI thread.
struct ConferenceEntry
{
    QString name;
    bool active = false;
    bool nonPrivilegedPresent = false;
    std::shared_ptr<ConferenceParticipantsModel> participants;
};
