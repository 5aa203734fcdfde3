#include "conferences/snapshotscanner.h"

namespace {
// ASCII name characters: 1 may start a name, 2 may continue one. Colons are left out: a
// prefixed name is the full parser's business.
struct NameTable
{
    unsigned char kind[128] = {};
    NameTable()
    {
        for (int c = 0; c < 128; ++c) {
            if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_')
                kind[c] = 3;
            else if ((c >= '0' && c <= '9') || c == '-' || c == '.')
                kind[c] = 2;
        }
    }
};
const NameTable kNames;

bool isNameStart(ushort c)
{
    return c < 128 && (kNames.kind[c] & 1);
}

bool isNameChar(ushort c)
{
    return c < 128 && (kNames.kind[c] & 2);
}

bool isSpace(ushort c)
{
    return c == ' ' || c == '\t' || c == '\n';
}

// Characters that need no further look inside text or a value: past '>' and below the surrogates.
bool isPlain(ushort c)
{
    return c > '>' && c < 0xd800;
}
} // namespace

SnapshotScanner::SnapshotScanner(const QString &xml) : m_data(xml.constData()), m_size(xml.size())
{
    // Only the declarations a server writes; any other prolog goes to the full parser.
    static const QLatin1String declarations[] = {
        QLatin1String("<?xml version=\"1.0\"?>"),
        QLatin1String("<?xml version=\"1.0\" encoding=\"utf-8\"?>"),
        QLatin1String("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"),
    };
    const QStringView text(m_data, m_size);
    for (const QLatin1String &declaration : declarations) {
        if (text.startsWith(declaration)) {
            m_pos = declaration.size();
            break;
        }
    }
}

SnapshotScanner::Token SnapshotScanner::fail()
{
    m_failed = true;
    return Fail;
}

void SnapshotScanner::skipSpace()
{
    while (m_pos < m_size && isSpace(m_data[m_pos].unicode()))
        ++m_pos;
}

bool SnapshotScanner::readName(Span *name)
{
    name->from = m_pos;
    if (m_pos >= m_size || !isNameStart(m_data[m_pos].unicode()))
        return false;
    ++m_pos;
    while (m_pos < m_size && isNameChar(m_data[m_pos].unicode()))
        ++m_pos;
    name->length = m_pos - name->from;
    return true;
}

bool SnapshotScanner::sameText(Span a, Span b) const
{
    return a.length == b.length &&
           QStringView(m_data + a.from, a.length) == QStringView(m_data + b.from, b.length);
}

bool SnapshotScanner::readStartTag()
{
    // At the name, past '<'.
    if (!readName(&m_name))
        return false;
    m_attributes.clear();
    while (m_pos < m_size) {
        const int before = m_pos;
        skipSpace();
        if (m_pos >= m_size)
            return false;
        const ushort c = m_data[m_pos].unicode();
        if (c == '>') {
            ++m_pos;
            return true;
        }
        if (c == '/') {
            if (m_pos + 1 >= m_size || m_data[m_pos + 1] != QLatin1Char('>'))
                return false;
            m_pos += 2;
            m_pendingEnd = true;
            return true;
        }
        // An attribute needs whitespace before it.
        Span name;
        if (m_pos == before || !readName(&name))
            return false;
        skipSpace();
        if (m_pos >= m_size || m_data[m_pos] != QLatin1Char('='))
            return false;
        ++m_pos;
        skipSpace();
        if (m_pos >= m_size)
            return false;
        const QChar quote = m_data[m_pos];
        if (quote != QLatin1Char('"') && quote != QLatin1Char('\''))
            return false;
        Span value;
        value.from = ++m_pos;
        for (;; ++m_pos) {
            if (m_pos >= m_size)
                return false;
            const ushort v = m_data[m_pos].unicode();
            if (isPlain(v))
                continue;
            if (v == quote.unicode())
                break;
            // Values the parser would rewrite (entities, line ends, tabs) are left to it.
            if (v < 0x20 || v == '<' || v == '&' || (v >= 0xd800 && v <= 0xdfff) || v >= 0xfffe)
                return false;
        }
        value.length = m_pos - value.from;
        ++m_pos;
        for (int i = 0; i < m_attributes.size(); i += 2) {
            if (sameText(m_attributes.at(i), name))
                return false;
        }
        m_attributes.append(name);
        m_attributes.append(value);
    }
    return false;
}

bool SnapshotScanner::readEndTag()
{
    // At the name, past "</".
    Span name;
    if (!readName(&name) || m_open.isEmpty() || !sameText(name, m_open.last()))
        return false;
    skipSpace();
    if (m_pos >= m_size || m_data[m_pos] != QLatin1Char('>'))
        return false;
    ++m_pos;
    m_name = m_open.last();
    m_open.removeLast();
    return true;
}

SnapshotScanner::Token SnapshotScanner::next()
{
    if (m_failed)
        return Fail;
    if (m_pendingEnd) {
        m_pendingEnd = false;
        m_open.removeLast();
        return EndTag;
    }
    if (m_pos >= m_size)
        return m_rootSeen && m_open.isEmpty() ? Done : fail();
    if (m_data[m_pos] != QLatin1Char('<')) {
        m_text.from = m_pos;
        bool space = true;
        for (; m_pos < m_size; ++m_pos) {
            const ushort c = m_data[m_pos].unicode();
            if (isPlain(c)) {
                space = false;
                continue;
            }
            if (c == '<')
                break;
            if (isSpace(c))
                continue;
            space = false;
            if (c < 0x20 || c == '&' || (c >= 0xd800 && c <= 0xdfff) || c >= 0xfffe)
                return fail();
            if (c == '>' && m_pos >= 2 && m_data[m_pos - 1] == QLatin1Char(']') &&
                m_data[m_pos - 2] == QLatin1Char(']'))
                return fail();
        }
        m_text.length = m_pos - m_text.from;
        m_textIsSpace = space;
        // Outside the root only whitespace may stand.
        if (m_open.isEmpty() && !m_textIsSpace)
            return fail();
        return Text;
    }
    ++m_pos;
    if (m_pos < m_size && m_data[m_pos] == QLatin1Char('/')) {
        ++m_pos;
        return readEndTag() ? EndTag : fail();
    }
    // A second root, or comments, CDATA, declarations and instructions: the full parser's business.
    if (m_open.isEmpty() && m_rootSeen)
        return fail();
    if (!readStartTag())
        return fail();
    m_rootSeen = true;
    m_open.append(m_name);
    return StartTag;
}

bool SnapshotScanner::readNextStartElement()
{
    for (;;) {
        switch (next()) {
        case StartTag:
            return true;
        case Text:
            continue;
        default:
            return false;
        }
    }
}

void SnapshotScanner::skipCurrentElement()
{
    int depth = 1;
    while (depth > 0) {
        switch (next()) {
        case StartTag:
            ++depth;
            break;
        case EndTag:
            --depth;
            break;
        case Text:
            break;
        default:
            return;
        }
    }
}

bool SnapshotScanner::isTag(QLatin1String tag) const
{
    return QStringView(m_data + m_name.from, m_name.length) == tag;
}

bool SnapshotScanner::attribute(QLatin1String name, QString *value) const
{
    for (int i = 0; i < m_attributes.size(); i += 2) {
        const Span n = m_attributes.at(i);
        if (QStringView(m_data + n.from, n.length) == name) {
            const Span v = m_attributes.at(i + 1);
            *value = QString(m_data + v.from, v.length);
            return true;
        }
    }
    return false;
}

QString SnapshotScanner::elementText()
{
    QString text;
    int depth = 0;
    for (;;) {
        switch (next()) {
        case Text:
            if (!m_textIsSpace)
                text.append(m_data + m_text.from, m_text.length);
            break;
        case StartTag:
            ++depth;
            break;
        case EndTag:
            if (depth-- == 0)
                return text;
            break;
        default:
            return text;
        }
    }
}

void SnapshotScanner::finish()
{
    for (;;) {
        const Token token = next();
        if (token == Done || token == Fail)
            return;
    }
}
