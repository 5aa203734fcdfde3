#pragma once

#include <QMap>
#include <QPair>
#include <QString>
#include <QVector>

// One directory user as read from its XML file.
struct LabUser
{
    QString id;
    QVector<QPair<QString, QString>> attributes; // of the user element, in file order
    QMap<QString, QString> params;
    QMap<QString, QString> variables;
    QVector<QPair<QString, QString>> operators; // (name, telephone)

    QString attribute(const QString &name) const;
};
