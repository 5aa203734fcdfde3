#pragma once

#include <QString>

#include <ctime>

// What is known about one originate job until its placeholder member shows up:
// the target, and the failure text once the job has failed. Value type kept by
// ConferenceListModel; GUI thread.
struct PendingCall
{
    QString conference;
    QString uri;
    QString error;
    time_t created = 0;
};
