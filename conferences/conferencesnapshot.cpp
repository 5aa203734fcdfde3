#include "conferences/conferencesnapshot.h"

#include "conferences/snapshotscanner.h"

#include <QDomDocument>
#include <QDomElement>

namespace {
bool flagIsTrue(const QDomElement &flags, QLatin1String tag, bool absent)
{
    const QDomElement e = flags.firstChildElement(tag);
    return e.isNull() ? absent : e.text().compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
}

// Whatever the scanner leaves is read as a document tree: the parser the console has always
// used decides what such a reply says, quirks and complaints included.
void readTree(const QDomElement &root, QVector<ConferenceSnapshot::Conference> &conferences)
{
    for (QDomElement c = root.firstChildElement(QStringLiteral("conference")); !c.isNull();
         c = c.nextSiblingElement(QStringLiteral("conference"))) {
        ConferenceSnapshot::Conference conf;
        conf.hasName = c.hasAttribute(QStringLiteral("name"));
        conf.name = c.attribute(QStringLiteral("name"));
        const QDomElement members = c.firstChildElement(QStringLiteral("members"));
        conf.hasMembers = !members.isNull();
        for (QDomElement m = members.firstChildElement(QStringLiteral("member")); !m.isNull();
             m = m.nextSiblingElement(QStringLiteral("member"))) {
            ConferenceSnapshot::Member member;
            member.hasType = m.hasAttribute(QStringLiteral("type"));
            member.type = m.attribute(QStringLiteral("type"));
            const QDomElement id = m.firstChildElement(QStringLiteral("id"));
            member.hasId = !id.isNull();
            member.id = id.text();
            const QDomElement number = m.firstChildElement(QStringLiteral("caller_id_number"));
            member.hasNumber = !number.isNull();
            member.number = number.text();
            const QDomElement flags = m.firstChildElement(QStringLiteral("flags"));
            member.hasFlags = !flags.isNull();
            member.ghost = flagIsTrue(flags, QLatin1String("is_ghost"), false);
            member.canSpeak = flagIsTrue(flags, QLatin1String("can_speak"), true);
            member.talking = flagIsTrue(flags, QLatin1String("talking"), false);
            conf.members.append(member);
        }
        conferences.append(conf);
    }
}

bool isTrue(SnapshotScanner &reader)
{
    return reader.elementText().compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
}

// Only the first element of each name counts, as the list model has always read it.
void readFlags(SnapshotScanner &reader, ConferenceSnapshot::Member &member)
{
    bool ghostSeen = false, speakSeen = false, talkingSeen = false;
    while (reader.readNextStartElement()) {
        if (!ghostSeen && reader.isTag(QLatin1String("is_ghost"))) {
            ghostSeen = true;
            member.ghost = isTrue(reader);
        } else if (!speakSeen && reader.isTag(QLatin1String("can_speak"))) {
            speakSeen = true;
            member.canSpeak = isTrue(reader);
        } else if (!talkingSeen && reader.isTag(QLatin1String("talking"))) {
            talkingSeen = true;
            member.talking = isTrue(reader);
        } else {
            reader.skipCurrentElement();
        }
    }
}

void readMember(SnapshotScanner &reader, ConferenceSnapshot::Member &member)
{
    member.hasType = reader.attribute(QLatin1String("type"), &member.type);
    while (reader.readNextStartElement()) {
        if (!member.hasId && reader.isTag(QLatin1String("id"))) {
            member.hasId = true;
            member.id = reader.elementText();
        } else if (!member.hasNumber && reader.isTag(QLatin1String("caller_id_number"))) {
            member.hasNumber = true;
            member.number = reader.elementText();
        } else if (!member.hasFlags && reader.isTag(QLatin1String("flags"))) {
            member.hasFlags = true;
            readFlags(reader, member);
        } else {
            reader.skipCurrentElement();
        }
    }
}

void readConference(SnapshotScanner &reader, ConferenceSnapshot::Conference &conference)
{
    conference.hasName = reader.attribute(QLatin1String("name"), &conference.name);
    while (reader.readNextStartElement()) {
        if (conference.hasMembers || !reader.isTag(QLatin1String("members"))) {
            reader.skipCurrentElement();
            continue;
        }
        conference.hasMembers = true;
        while (reader.readNextStartElement()) {
            if (reader.isTag(QLatin1String("member"))) {
                conference.members.append(ConferenceSnapshot::Member());
                readMember(reader, conference.members.last());
            } else {
                reader.skipCurrentElement();
            }
        }
    }
}

// False when the root is not "conferences". The caller checks whether the scanner gave up.
bool readDocument(SnapshotScanner &reader, QVector<ConferenceSnapshot::Conference> &conferences)
{
    bool rightRoot = false;
    if (reader.readNextStartElement()) {
        rightRoot = reader.isTag(QLatin1String("conferences"));
        if (!rightRoot)
            reader.skipCurrentElement();
        while (rightRoot && reader.readNextStartElement()) {
            if (reader.isTag(QLatin1String("conference"))) {
                conferences.append(ConferenceSnapshot::Conference());
                readConference(reader, conferences.last());
            } else {
                reader.skipCurrentElement();
            }
        }
    }
    // The whole document must be well-formed, trailing part included, before any of it is used.
    reader.finish();
    return rightRoot;
}
} // namespace

ConferenceSnapshot::Status ConferenceSnapshot::read(const QString &xml)
{
    m_conferences.clear();
    m_error.clear();
    m_errorLine = m_errorColumn = 0;

    {
        SnapshotScanner scanner(xml);
        const bool rightRoot = readDocument(scanner, m_conferences);
        if (!scanner.failed())
            return rightRoot ? Ok : WrongRoot;
        m_conferences.clear();
    }

    QDomDocument doc;
    if (!doc.setContent(xml, &m_error, &m_errorLine, &m_errorColumn))
        return Broken;
    if (doc.documentElement().tagName() != QLatin1String("conferences"))
        return WrongRoot;
    readTree(doc.documentElement(), m_conferences);
    return Ok;
}
