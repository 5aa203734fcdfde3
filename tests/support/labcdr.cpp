#include "tests/support/labcdr.h"

#include <QXmlStreamReader>

namespace {

qint64 epoch(QXmlStreamReader &r)
{
    const bool unix = r.attributes().value(QLatin1String("type")) == QLatin1String("UNIX-epoch");
    const QString text = r.readElementText();
    return unix ? text.toLongLong() : -1;
}

} // namespace

LabCdr LabCdr::parse(const QString &xml)
{
    LabCdr cdr;
    QXmlStreamReader r(xml);
    if (!r.readNextStartElement() || r.name() != QLatin1String("cdr") || !r.readNextStartElement() ||
        r.name() != QLatin1String("conference"))
        return cdr;
    bool members = false;
    while (r.readNextStartElement()) {
        if (r.name() == QLatin1String("name")) {
            cdr.name = r.readElementText();
            continue;
        }
        if (r.name() != QLatin1String("members")) {
            r.skipCurrentElement();
            continue;
        }
        members = true;
        while (r.readNextStartElement()) {
            const QString type = r.attributes().value(QLatin1String("type")).toString();
            Member m;
            while (r.readNextStartElement()) {
                if (r.name() == QLatin1String("join_time"))
                    m.join = epoch(r);
                else if (r.name() == QLatin1String("leave_time"))
                    m.leave = epoch(r);
                else if (r.name() == QLatin1String("record_path"))
                    m.number = r.readElementText();
                else if (r.name() != QLatin1String("caller_profile"))
                    r.skipCurrentElement();
                else {
                    while (r.readNextStartElement()) {
                        if (r.name() == QLatin1String("caller_id_number"))
                            m.number = r.readElementText();
                        else
                            r.skipCurrentElement();
                    }
                }
            }
            if (type == QLatin1String("caller"))
                cdr.callers.append(m);
            else if (type == QLatin1String("recording_node"))
                cdr.recording = m;
        }
    }
    cdr.ok = !r.hasError() && members && !cdr.recording.number.isEmpty();
    return cdr;
}

QStringList LabCdr::numbers() const
{
    QStringList out;
    for (const Member &m : callers)
        out.append(m.number);
    return out;
}
