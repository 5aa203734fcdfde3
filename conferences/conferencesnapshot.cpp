#include "conferences/conferencesnapshot.h"

#include <QXmlStreamReader>

namespace {
bool isTag(const QXmlStreamReader &reader, QLatin1String tag)
{
    return reader.qualifiedName() == tag;
}

// The text of the current element and all its descendants, as a document tree gives it:
// text runs of whitespace only are left out.
QString elementText(QXmlStreamReader &reader)
{
    QString text;
    int depth = 0;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::Characters:
            if (!reader.isWhitespace())
                text += reader.text();
            break;
        case QXmlStreamReader::StartElement:
            ++depth;
            break;
        case QXmlStreamReader::EndElement:
            if (depth-- == 0)
                return text;
            break;
        default:
            break;
        }
    }
    return text;
}

bool isTrue(QXmlStreamReader &reader)
{
    return elementText(reader).compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
}

// Only the first element of each name counts, as the list model has always read it.
void readFlags(QXmlStreamReader &reader, ConferenceSnapshot::Member &member)
{
    bool ghostSeen = false, speakSeen = false, talkingSeen = false;
    while (reader.readNextStartElement()) {
        if (!ghostSeen && isTag(reader, QLatin1String("is_ghost"))) {
            ghostSeen = true;
            member.ghost = isTrue(reader);
        } else if (!speakSeen && isTag(reader, QLatin1String("can_speak"))) {
            speakSeen = true;
            member.canSpeak = isTrue(reader);
        } else if (!talkingSeen && isTag(reader, QLatin1String("talking"))) {
            talkingSeen = true;
            member.talking = isTrue(reader);
        } else {
            reader.skipCurrentElement();
        }
    }
}

void readMember(QXmlStreamReader &reader, ConferenceSnapshot::Member &member)
{
    const QXmlStreamAttributes attributes = reader.attributes();
    member.hasType = attributes.hasAttribute(QLatin1String("type"));
    if (member.hasType)
        member.type = attributes.value(QLatin1String("type")).toString();
    while (reader.readNextStartElement()) {
        if (!member.hasId && isTag(reader, QLatin1String("id"))) {
            member.hasId = true;
            member.id = elementText(reader);
        } else if (!member.hasNumber && isTag(reader, QLatin1String("caller_id_number"))) {
            member.hasNumber = true;
            member.number = elementText(reader);
        } else if (!member.hasFlags && isTag(reader, QLatin1String("flags"))) {
            member.hasFlags = true;
            readFlags(reader, member);
        } else {
            reader.skipCurrentElement();
        }
    }
}

void readConference(QXmlStreamReader &reader, ConferenceSnapshot::Conference &conference)
{
    const QXmlStreamAttributes attributes = reader.attributes();
    conference.hasName = attributes.hasAttribute(QLatin1String("name"));
    if (conference.hasName)
        conference.name = attributes.value(QLatin1String("name")).toString();
    while (reader.readNextStartElement()) {
        if (conference.hasMembers || !isTag(reader, QLatin1String("members"))) {
            reader.skipCurrentElement();
            continue;
        }
        conference.hasMembers = true;
        while (reader.readNextStartElement()) {
            if (isTag(reader, QLatin1String("member"))) {
                conference.members.append(ConferenceSnapshot::Member());
                readMember(reader, conference.members.last());
            } else {
                reader.skipCurrentElement();
            }
        }
    }
}
} // namespace

ConferenceSnapshot::Status ConferenceSnapshot::read(const QString &xml)
{
    m_conferences.clear();
    m_error.clear();
    m_errorLine = m_errorColumn = 0;

    QXmlStreamReader reader(xml);
    // Prefixes are plain parts of names here, declared or not.
    reader.setNamespaceProcessing(false);
    bool rightRoot = false;
    if (reader.readNextStartElement()) {
        rightRoot = isTag(reader, QLatin1String("conferences"));
        if (!rightRoot)
            reader.skipCurrentElement();
        while (rightRoot && reader.readNextStartElement()) {
            if (isTag(reader, QLatin1String("conference"))) {
                m_conferences.append(Conference());
                readConference(reader, m_conferences.last());
            } else {
                reader.skipCurrentElement();
            }
        }
    }
    // The whole document must be well-formed, trailing part included, before any of it is used.
    while (!reader.atEnd())
        reader.readNext();
    if (reader.hasError()) {
        m_conferences.clear();
        m_error = reader.errorString();
        m_errorLine = int(reader.lineNumber());
        m_errorColumn = int(reader.columnNumber());
        return Broken;
    }
    if (!rightRoot) {
        m_conferences.clear();
        return WrongRoot;
    }
    return Ok;
}
