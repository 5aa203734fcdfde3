#pragma once

#include <QMap>
#include <QString>

// The server's key-value store as reached through "api db": realm/key -> value, kept in memory.
// Plain class owned by LabServer.
class LabKeyValueStore
{
public:
    // Runs "insert/<realm>/<key>/<value>", "delete/<realm>/<key>", "select/<realm>/<key>",
    // "exists/<realm>/<key>" or "list/<realm>" and returns the reply body.
    QString command(const QString &args);

    QString value(const QString &realm, const QString &key) const;
    // Every entry as "realm/key=value" lines, for the control interface.
    QString dump() const;

private:
    QMap<QString, QMap<QString, QString>> m_realms;
};
