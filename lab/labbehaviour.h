#pragma once

#include <QString>
#include <QStringList>

// How a simulated party reacts to a call: answer after some seconds, busy, no answer,
// reject, or not existing. Parsed from control commands ("answer 2", "busy", "reject 1").
struct LabBehaviour
{
    enum class Kind { Answer, Busy, NoAnswer, Reject, Nonexistent };

    Kind kind = Kind::Answer;
    double seconds = 1.0; // ring time before answering, refusing or rejecting

    static bool parse(const QStringList &words, LabBehaviour *out);
    QString toString() const;
    // The originate failure cause for a refusing behaviour ("USER_BUSY", ...); empty for Answer.
    QString cause() const;
};
