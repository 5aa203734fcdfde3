#pragma once

#include <QByteArray>
#include <QPair>
#include <QString>
#include <QVector>

// One command a client sent on the event socket: the command line, the header lines that
// followed it (sendevent, bgapi with Job-UUID) and the body announced by Content-Length.
struct EslRequest
{
    QString command;
    QVector<QPair<QString, QString>> headers;
    QByteArray body;

    QString header(const QString &name) const;
};
