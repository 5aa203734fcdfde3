#pragma once

#include <QByteArray>
#include <QPair>
#include <QString>
#include <QVector>

// One server event as the lab emits it: an ordered list of fields (duplicates kept, as the real
// server sends them) with an optional body, rendered as a "text/event-json" frame.
// Plain value type; created and consumed on the lab's single thread.
class LabEvent
{
public:
    using Field = QPair<QString, QString>;

    LabEvent() = default;

    // An event that opens with the header block every server event carries
    // (Event-Name, Core-UUID, host names, dates, calling site, sequence number).
    static LabEvent create(const QString &name, const QString &subclass = QString(),
                           const QString &callingFile = QString(), const QString &callingFunction = QString(),
                           int callingLine = 0);

    // Appends the standard header block to an event assembled by hand (sendevent).
    void addStandardHeaders(const QString &name, const QString &callingFile, const QString &callingFunction,
                            int callingLine);

    void add(const QString &name, const QString &value);
    // Replaces the first field of that name, or appends it.
    void set(const QString &name, const QString &value);
    // Body text, rendered as "Content-Length" and "_body" at the end of the object.
    void setBody(const QString &body);

    QString value(const QString &name) const;
    QString eventName() const { return value(QStringLiteral("Event-Name")); }
    QString subclass() const { return value(QStringLiteral("Event-Subclass")); }
    const QVector<Field> &fields() const { return m_fields; }

    QByteArray toJson() const;
    // "Content-Length: N\nContent-Type: text/event-json\n\n" + JSON.
    QByteArray toFrame() const;
    // "text/event-plain": one "Name: url-encoded value" line per field.
    QByteArray toPlainFrame() const;

    static QString coreUuid();
    static QString newUuid();
    static qint64 nowMicroseconds();

private:
    QVector<Field> m_fields;
    QString m_body;
    bool m_hasBody = false;
};
