#include "conferences/conferencesnapshot.h"

#include "conferences/snapshotscanner.h"

#include <QXmlStreamReader>

namespace {
// The full parser behind the calls the reading below makes.
class StreamReader
{
public:
    explicit StreamReader(const QString &xml) : m_reader(xml)
    {
        // Prefixes are plain parts of names here, declared or not.
        m_reader.setNamespaceProcessing(false);
    }
    bool readNextStartElement() { return m_reader.readNextStartElement(); }
    void skipCurrentElement() { m_reader.skipCurrentElement(); }
    bool isTag(QLatin1String tag) const { return m_reader.qualifiedName() == tag; }
    bool attribute(QLatin1String name, QString *value) const
    {
        const QXmlStreamAttributes attributes = m_reader.attributes();
        if (!attributes.hasAttribute(name))
            return false;
        *value = attributes.value(name).toString();
        return true;
    }
    // The text of the current element and all its descendants, as a document tree gives it:
    // text runs of whitespace only are left out.
    QString elementText()
    {
        QString text;
        int depth = 0;
        while (!m_reader.atEnd()) {
            switch (m_reader.readNext()) {
            case QXmlStreamReader::Characters:
                if (!m_reader.isWhitespace())
                    text += m_reader.text();
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
    void finish()
    {
        while (!m_reader.atEnd())
            m_reader.readNext();
    }
    const QXmlStreamReader &reader() const { return m_reader; }

private:
    QXmlStreamReader m_reader;
};

template <typename Reader>
bool isTrue(Reader &reader)
{
    return reader.elementText().compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
}

// Only the first element of each name counts, as the list model has always read it.
template <typename Reader>
void readFlags(Reader &reader, ConferenceSnapshot::Member &member)
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

template <typename Reader>
void readMember(Reader &reader, ConferenceSnapshot::Member &member)
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

template <typename Reader>
void readConference(Reader &reader, ConferenceSnapshot::Conference &conference)
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

// False when the root is not "conferences". The caller checks the reader for errors.
template <typename Reader>
bool readDocument(Reader &reader, QVector<ConferenceSnapshot::Conference> &conferences)
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

    StreamReader stream(xml);
    const bool rightRoot = readDocument(stream, m_conferences);
    if (stream.reader().hasError()) {
        m_conferences.clear();
        m_error = stream.reader().errorString();
        m_errorLine = int(stream.reader().lineNumber());
        m_errorColumn = int(stream.reader().columnNumber());
        return Broken;
    }
    if (!rightRoot) {
        m_conferences.clear();
        return WrongRoot;
    }
    return Ok;
}
