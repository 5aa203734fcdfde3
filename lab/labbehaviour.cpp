#include "lab/labbehaviour.h"

bool LabBehaviour::parse(const QStringList &words, LabBehaviour *out)
{
    if (words.isEmpty())
        return false;
    LabBehaviour b;
    const QString kind = words[0].toLower();
    if (kind == QLatin1String("answer"))
        b.kind = Kind::Answer;
    else if (kind == QLatin1String("busy"))
        b.kind = Kind::Busy;
    else if (kind == QLatin1String("noanswer"))
        b.kind = Kind::NoAnswer;
    else if (kind == QLatin1String("reject"))
        b.kind = Kind::Reject;
    else if (kind == QLatin1String("nonexistent"))
        b.kind = Kind::Nonexistent;
    else
        return false;
    if (words.size() > 1) {
        bool ok = false;
        b.seconds = words[1].toDouble(&ok);
        if (!ok || b.seconds < 0)
            return false;
    }
    *out = b;
    return true;
}

QString LabBehaviour::toString() const
{
    switch (kind) {
    case Kind::Answer:
        return QStringLiteral("answer %1").arg(seconds);
    case Kind::Busy:
        return QStringLiteral("busy %1").arg(seconds);
    case Kind::NoAnswer:
        return QStringLiteral("noanswer");
    case Kind::Reject:
        return QStringLiteral("reject %1").arg(seconds);
    case Kind::Nonexistent:
        return QStringLiteral("nonexistent");
    }
    return QString();
}

QString LabBehaviour::cause() const
{
    switch (kind) {
    case Kind::Busy:
        return QStringLiteral("USER_BUSY");
    case Kind::Reject:
        return QStringLiteral("CALL_REJECTED");
    case Kind::Nonexistent:
        return QStringLiteral("UNALLOCATED_NUMBER");
    case Kind::NoAnswer:
        return QStringLiteral("NO_ANSWER");
    case Kind::Answer:
        break;
    }
    return QString();
}
