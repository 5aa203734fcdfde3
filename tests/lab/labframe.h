#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>

using LabFields = QList<QPair<QString, QString>>;

// One frame the server sent: header lines, the body announced by Content-Length, and the
// exact bytes it took on the wire.
struct LabFrame
{
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    QByteArray raw;

    bool isValid() const { return !raw.isEmpty(); }
    QByteArray header(const QByteArray &name) const;
    bool isEvent() const { return header("Content-Type") == "text/event-json"; }
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
    QString field(const QString &name) const { return json().value(name).toString(); }
    // The given fields whose values differ, as "name=actual", comma-separated; empty when all match.
    QString mismatches(const LabFields &expected) const;
};
