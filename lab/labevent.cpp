#include "lab/labevent.h"

#include <QDateTime>
#include <QHostInfo>
#include <QLocale>
#include <QUuid>

namespace {

qint64 g_sequence = 0;

void appendJsonString(QByteArray &out, const QString &text)
{
    // Escaping as the server's cJSON does it: UTF-8 kept as is, control characters escaped.
    const QByteArray utf8 = text.toUtf8();
    out.append('"');
    for (const char c : utf8) {
        switch (c) {
        case '"':
            out.append("\\\"");
            break;
        case '\\':
            out.append("\\\\");
            break;
        case '\b':
            out.append("\\b");
            break;
        case '\f':
            out.append("\\f");
            break;
        case '\n':
            out.append("\\n");
            break;
        case '\r':
            out.append("\\r");
            break;
        case '\t':
            out.append("\\t");
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                out.append(QStringLiteral("\\u%1").arg(int(c), 4, 16, QLatin1Char('0')).toLatin1());
            } else {
                out.append(c);
            }
        }
    }
    out.append('"');
}

QByteArray urlEncode(const QString &text)
{
    // The characters the server escapes in plain events, plus anything outside printable ASCII.
    static const QByteArray unsafe = "\r\n \"#%&+:;<=>?@[\\]^`{|}";
    QByteArray out;
    for (const char c : text.toUtf8()) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u >= 0x7f || unsafe.contains(c))
            out.append('%').append(QByteArray::number(u, 16).toUpper().rightJustified(2, '0'));
        else
            out.append(c);
    }
    return out;
}

} // namespace

LabEvent LabEvent::create(const QString &name, const QString &subclass, const QString &callingFile,
                          const QString &callingFunction, int callingLine)
{
    LabEvent e;
    if (!subclass.isEmpty())
        e.add(QStringLiteral("Event-Subclass"), subclass);
    e.addStandardHeaders(name, callingFile, callingFunction, callingLine);
    return e;
}

void LabEvent::addStandardHeaders(const QString &name, const QString &callingFile,
                                  const QString &callingFunction, int callingLine)
{
    static const QString host = QHostInfo::localHostName();
    const QDateTime now = QDateTime::currentDateTime();
    const QLocale c = QLocale::c();
    add(QStringLiteral("Event-Name"), name);
    add(QStringLiteral("Core-UUID"), coreUuid());
    add(QStringLiteral("FreeSWITCH-Hostname"), host);
    add(QStringLiteral("FreeSWITCH-Switchname"), host);
    add(QStringLiteral("FreeSWITCH-IPv4"), QStringLiteral("127.0.0.1"));
    add(QStringLiteral("FreeSWITCH-IPv6"), QStringLiteral("::1"));
    add(QStringLiteral("Event-Date-Local"), now.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
    add(QStringLiteral("Event-Date-GMT"),
        c.toString(now.toUTC(), QStringLiteral("ddd, dd MMM yyyy hh:mm:ss")) + QStringLiteral(" GMT"));
    add(QStringLiteral("Event-Date-Timestamp"), QString::number(nowMicroseconds()));
    add(QStringLiteral("Event-Calling-File"), callingFile);
    add(QStringLiteral("Event-Calling-Function"), callingFunction);
    add(QStringLiteral("Event-Calling-Line-Number"), QString::number(callingLine));
    add(QStringLiteral("Event-Sequence"), QString::number(++g_sequence));
}

void LabEvent::add(const QString &name, const QString &value)
{
    m_fields.append(Field(name, value));
}

void LabEvent::set(const QString &name, const QString &value)
{
    for (Field &f : m_fields) {
        if (f.first == name) {
            f.second = value;
            return;
        }
    }
    add(name, value);
}

void LabEvent::setBody(const QString &body)
{
    m_body = body;
    m_hasBody = true;
}

QString LabEvent::value(const QString &name) const
{
    for (const Field &f : m_fields) {
        if (f.first == name)
            return f.second;
    }
    if (m_hasBody && name == QLatin1String("_body"))
        return m_body;
    return QString();
}

QByteArray LabEvent::toJson() const
{
    QByteArray out;
    out.reserve(1024);
    out.append('{');
    bool first = true;
    auto field = [&](const QString &name, const QString &value) {
        if (!first)
            out.append(',');
        first = false;
        appendJsonString(out, name);
        out.append(':');
        appendJsonString(out, value);
    };
    for (const Field &f : m_fields)
        field(f.first, f.second);
    if (m_hasBody) {
        field(QStringLiteral("Content-Length"), QString::number(m_body.toUtf8().size()));
        field(QStringLiteral("_body"), m_body);
    }
    out.append('}');
    return out;
}

QByteArray LabEvent::toFrame() const
{
    const QByteArray json = toJson();
    QByteArray frame =
        "Content-Length: " + QByteArray::number(json.size()) + "\nContent-Type: text/event-json\n\n";
    frame.append(json);
    return frame;
}

QByteArray LabEvent::toPlainFrame() const
{
    QByteArray body;
    for (const Field &f : m_fields)
        body.append(f.first.toUtf8()).append(": ").append(urlEncode(f.second)).append('\n');
    if (m_hasBody) {
        const QByteArray utf8 = m_body.toUtf8();
        body.append("Content-Length: " + QByteArray::number(utf8.size()) + "\n\n").append(utf8);
    } else {
        body.append('\n');
    }
    return "Content-Length: " + QByteArray::number(body.size()) + "\nContent-Type: text/event-plain\n\n" +
           body;
}

QString LabEvent::coreUuid()
{
    static const QString uuid = newUuid();
    return uuid;
}

QString LabEvent::newUuid()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

qint64 LabEvent::nowMicroseconds()
{
    return QDateTime::currentMSecsSinceEpoch() * 1000;
}
