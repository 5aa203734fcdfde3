#pragma once

#include <QMap>
#include <QString>

// One leg of an originate dial string: its [per-leg] channel variables and its endpoint.
struct LabDialLeg
{
    QMap<QString, QString> vars;
    QString endpoint; // "user/1005@127.0.0.1", "loopback/1005@127.0.0.1/alarm", "loopback/555/pstn/XML"
};
