#include "users/directorydomainreply.h"

#include <algorithm>

namespace {
// The server's answer for a missing or empty attribute; the per-user requests cannot tell
// the two apart, so neither can this.
const QString kNoReply = QStringLiteral("-ERR no reply\n");

QString asAnswered(const QString &value)
{
    return value.isEmpty() ? kNoReply : value;
}

// The code of a numeric reference, name being "#123" or "#x7B".
uint referenceCode(QStringView name, bool *ok)
{
    const bool hex = name.size() > 1 && name.at(1) == QLatin1Char('x');
    const QStringView digits = name.mid(hex ? 2 : 1);
    // Plain digits, the usual case, are read in place; anything else as QString::toUInt reads it.
    if (!digits.isEmpty() && digits.size() <= 7) {
        uint code = 0;
        int i = 0;
        for (; i < digits.size(); ++i) {
            const ushort c = digits.at(i).unicode();
            uint digit;
            if (c >= '0' && c <= '9')
                digit = c - '0';
            else if (hex && c >= 'a' && c <= 'f')
                digit = c - 'a' + 10;
            else if (hex && c >= 'A' && c <= 'F')
                digit = c - 'A' + 10;
            else
                break;
            code = code * (hex ? 16 : 10) + digit;
        }
        if (i == digits.size()) {
            *ok = true;
            return code;
        }
    }
    return digits.toString().toUInt(ok, hex ? 16 : 10);
}

// Attribute text with its character and entity references resolved; false for one that is not
// well-formed.
bool unescape(const QChar *from, const QChar *to, QString *out)
{
    out->clear();
    out->reserve(int(to - from));
    while (from < to) {
        // Plain runs are copied whole: values are mostly free of references.
        const QChar *ampersand = std::find(from, to, QLatin1Char('&'));
        out->append(from, int(ampersand - from));
        from = ampersand;
        if (from == to)
            break;
        const QChar *semicolon = std::find(from, to, QLatin1Char(';'));
        if (semicolon == to)
            return false;
        const QStringView name(from + 1, semicolon - from - 1);
        if (name.startsWith(QLatin1Char('#'))) {
            bool ok = false;
            const uint code = referenceCode(name, &ok);
            if (!ok || code == 0 || code > 0x10FFFF)
                return false;
            if (QChar::requiresSurrogates(code)) {
                out->append(QChar(QChar::highSurrogate(code)));
                out->append(QChar(QChar::lowSurrogate(code)));
            } else {
                out->append(QChar(code));
            }
        } else if (name == QLatin1String("amp")) {
            out->append(QLatin1Char('&'));
        } else if (name == QLatin1String("lt")) {
            out->append(QLatin1Char('<'));
        } else if (name == QLatin1String("gt")) {
            out->append(QLatin1Char('>'));
        } else if (name == QLatin1String("quot")) {
            out->append(QLatin1Char('"'));
        } else if (name == QLatin1String("apos")) {
            out->append(QLatin1Char('\''));
        } else {
            return false;
        }
        from = semicolon + 1;
    }
    return true;
}

// Reads the start tag at pos if it is <name ...>: its attributes into *attributes, returning the
// position after it. -1 when the tag has another name, -2 when it is not well-formed.
int readTag(const QString &text, int pos, QLatin1String name, QHash<QString, QString> *attributes)
{
    const QChar *s = text.constData();
    const int size = text.size();
    if (pos >= size || s[pos] != QLatin1Char('<'))
        return -1;
    int i = pos + 1;
    if (QStringRef(&text, i, qMin(name.size(), size - i)) != name)
        return -1;
    i += name.size();
    if (i >= size)
        return -2;
    if (!s[i].isSpace() && s[i] != QLatin1Char('>') && s[i] != QLatin1Char('/'))
        return -1;
    for (;;) {
        while (i < size && s[i].isSpace())
            ++i;
        if (i >= size)
            return -2;
        if (s[i] == QLatin1Char('>'))
            return i + 1;
        if (s[i] == QLatin1Char('/'))
            return i + 1 < size && s[i + 1] == QLatin1Char('>') ? i + 2 : -2;
        const int nameStart = i;
        while (i < size && s[i] != QLatin1Char('=') && !s[i].isSpace() && s[i] != QLatin1Char('>'))
            ++i;
        const QString attribute(s + nameStart, i - nameStart);
        while (i < size && s[i].isSpace())
            ++i;
        if (attribute.isEmpty() || i + 1 >= size || s[i] != QLatin1Char('='))
            return -2;
        ++i;
        while (i < size && s[i].isSpace())
            ++i;
        if (i >= size || (s[i] != QLatin1Char('"') && s[i] != QLatin1Char('\'')))
            return -2;
        const QChar quote = s[i];
        const int valueStart = ++i;
        while (i < size && s[i] != quote) {
            if (s[i] == QLatin1Char('<'))
                return -2;
            ++i;
        }
        if (i >= size)
            return -2;
        QString value;
        if (!unescape(s + valueStart, s + i, &value))
            return -2;
        attributes->insert(attribute, value);
        ++i;
    }
}
} // namespace

QString DirectoryDomainReply::request(const QString &domain, QString *error)
{
    // A blank or a line break would split the argument or end the command early.
    bool safe = !domain.isEmpty();
    for (const QChar c : domain)
        safe = safe && c.isPrint() && !c.isSpace();
    if (!safe) {
        *error = QStringLiteral("Домен \"%1\" нельзя передать серверу: пустой, с пробелами или "
                                "управляющими символами")
                     .arg(domain);
        return QString();
    }
    return QStringLiteral("api xml_locate directory domain name ") + domain + QStringLiteral("\n\n");
}

bool DirectoryDomainReply::parse(const QString &reply, const QString &domain)
{
    m_users.clear();
    // The server writes this document itself, in a fixed layout, and it runs to megabytes for a
    // large directory: only the user start tags are read, by a scan over the text. The document
    // must open with its domain and close; anything else (an error text, a cut-off reply, another
    // domain) is not it.
    const QChar *text = reply.constData();
    const int size = reply.size();
    int pos = 0;
    while (pos < size && text[pos].isSpace())
        ++pos;
    QHash<QString, QString> attributes;
    const int rootEnd = readTag(reply, pos, QLatin1String("domain"), &attributes);
    if (rootEnd < 0 || attributes.value(QStringLiteral("name")) != domain ||
        !QStringRef(&reply).trimmed().endsWith(QLatin1String("</domain>")))
        return false;

    QHash<QString, Answers> users;
    for (int at = reply.indexOf(QLatin1String("<user"), rootEnd); at >= 0;
         at = reply.indexOf(QLatin1String("<user"), at + 5)) {
        attributes.clear();
        const int end = readTag(reply, at, QLatin1String("user"), &attributes);
        if (end == -2)
            return false;
        if (end < 0) // <users> and the like
            continue;
        // A pointer entry in another group only refers to the user defined elsewhere.
        if (attributes.value(QStringLiteral("type")) == QLatin1String("pointer"))
            continue;
        const QString id = attributes.value(QStringLiteral("id"));
        if (!id.isEmpty() && !users.contains(id))
            users.insert(id, {asAnswered(attributes.value(QStringLiteral("role"))),
                              asAnswered(attributes.value(QStringLiteral("groups")))});
    }
    m_users.swap(users);
    return true;
}
