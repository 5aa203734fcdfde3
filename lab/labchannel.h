#pragma once

#include <QString>

class LabEvent;

// One simulated call leg as the server's events describe it (the channel block and the
// Caller-* profile). Value type shared by LabCalls and LabConferences.
struct LabChannel
{
    QString uuid;
    QString name;       // "loopback/1005@127.0.0.1-a", "sofia/internal/1005@127.0.0.1:5071"
    QString presenceId; // user@domain for directory users; empty for public-network parties
    QString callerIdName;
    QString callerIdNumber; // user id, or "<context>:<number>" for a public-network party
    QString origCallerIdName;
    QString origCallerIdNumber;
    QString destination;
    QString context = QStringLiteral("default");
    QString source = QStringLiteral("mod_loopback");
    QString transferSource; // set once the leg was sent on to its conference
    QString rdnis;          // the address the leg was dialled as
    QString hangupHook;     // api_hangup_hook, run when the answered leg hangs up
    qint64 createdUs = 0;
    qint64 answeredUs = 0;

    // Appends the channel block and the caller profile the way conference events carry them.
    void appendTo(LabEvent &event, const QString &answerState, const QString &hangupCause = QString()) const;
};
