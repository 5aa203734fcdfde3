#pragma once

#include "lab/labdialleg.h"

#include <QMap>
#include <QString>
#include <QVector>

// The arguments of "originate": {global variables}, legs separated by commas, each with
// optional [variables], then the destination ("room1 XML conference" or "&app(args)").
// Quoted values ('...') may hold blanks and commas. Plain value type.
struct LabDialString
{
    QMap<QString, QString> globals;
    QVector<LabDialLeg> legs;
    QString destination; // the extension, or the application with its arguments after '&'
    QString dialplan;
    QString context;

    static bool parse(const QString &args, LabDialString *out, QString *error);

    // A leg's variable, falling back to the global one.
    QString var(int leg, const QString &name) const;
    // The conference the answered leg joins; empty when the destination is not a conference.
    QString conference() const;
};
