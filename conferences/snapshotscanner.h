#pragma once

#include <QString>
#include <QVarLengthArray>

// A quick reader for the plain XML a server writes: elements, attributes and text,
// nothing more. Whatever lies outside that (comments, CDATA, entities, processing
// instructions, non-ASCII names, carriage returns...) or is not well-formed makes it
// give up (failed()), and the caller reads the document with a full XML parser
// instead; what it does accept it reads as that parser would.
// Offers the few navigation calls of QXmlStreamReader that ConferenceSnapshot uses.
class SnapshotScanner
{
public:
    explicit SnapshotScanner(const QString &xml);
    // The scanner reads the text in place: a temporary would be gone before it is read.
    explicit SnapshotScanner(QString &&) = delete;

    // As QXmlStreamReader's: true at the next child start tag, false at the parent's end.
    bool readNextStartElement();
    void skipCurrentElement();
    bool isTag(QLatin1String tag) const;
    // The attribute of the current start tag; false when it has none of that name.
    bool attribute(QLatin1String name, QString *value) const;
    // The current element's text, descendants included, runs of whitespace left out.
    QString elementText();
    // Reads the rest of the document, checking it.
    void finish();
    bool failed() const { return m_failed; }

private:
    enum Token { StartTag, EndTag, Text, Done, Fail };
    struct Span
    {
        int from = 0;
        int length = 0;
    };

    Token next();
    Token fail();
    bool readName(Span *name);
    bool readStartTag();
    bool readEndTag();
    bool sameText(Span a, Span b) const;
    void skipSpace();

    const QChar *m_data;
    int m_size;
    int m_pos = 0;
    bool m_failed = false;
    bool m_rootSeen = false;
    // The start tag just read closed itself: its end comes next.
    bool m_pendingEnd = false;
    Span m_name;
    Span m_text;
    bool m_textIsSpace = false;
    QVarLengthArray<Span, 8> m_attributes; // name, value, name, value...
    QVarLengthArray<Span, 16> m_open;
};
