#pragma once

#include "lab/labevent.h"
#include "lab/labuser.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>

// The server's user directory: one XML file per user in a folder (include / user / params /
// variables / operators), one domain. Answers list_users, user_data and user_exists the way
// the real server formats them, and keeps the registration contact of each simulated user.
// Plain class owned by LabServer.
class LabDirectory
{
public:
    explicit LabDirectory(const QString &domain);

    // Reads every *.xml of the folder (in file-name order); keeps registrations of users still there.
    bool load(const QString &folder, QString *error);
    void addUser(const LabUser &user);

    QString domain() const { return m_domain; }
    const LabUser *user(const QString &id) const;
    QStringList userIds() const;
    // "1001@domain" or "1001" -> "1001" when it names a user of this domain; else empty.
    QString resolve(const QString &uri) const;

    QString listUsers(const QString &args) const;
    QString userData(const QString &args) const;
    QString userExists(const QString &args) const;

    // Registration of simulated users; an empty contact means not registered.
    void setContact(const QString &id, const QString &contact) { m_contacts[id] = contact; }
    QString contact(const QString &id) const { return m_contacts.value(id); }
    bool isRegistered(const QString &id) const { return !m_contacts.value(id).isEmpty(); }

    // The events the SIP module sends when a user registers, unregisters or lets his registration expire.
    QVector<LabEvent> registerEvents(const QString &id, const QString &contact, int expires) const;
    QVector<LabEvent> unregisterEvents(const QString &id, const QString &contact) const;
    LabEvent expireEvent(const QString &id, const QString &contact) const;

private:
    bool parseFile(const QString &path, LabUser &user, QString *error) const;

    QString m_domain;
    QVector<LabUser> m_users;
    QHash<QString, QString> m_contacts;
};
