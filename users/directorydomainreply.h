#pragma once

#include <QHash>
#include <QString>

// The server's answer to "api xml_locate directory domain name <domain>": the whole directory
// domain as one XML document. Read into what the per-user requests ("user_data <uri> attr role"
// and "... attr groups") would have answered for each user, so both ways of loading the
// directory end in the same model state. Plain value class, any thread.
class DirectoryDomainReply
{
public:
    // What "user_data" answers for one attribute of one user.
    struct Answers
    {
        QString role;
        QString groups;
    };

    // The request for the domain, or empty with *error set (in Russian) when the domain
    // cannot be sent as one argument of a server command.
    static QString request(const QString &domain, QString *error);

    // True when reply is the document of this domain; the users it lists are then known.
    bool parse(const QString &reply, const QString &domain);

    bool contains(const QString &userId) const { return m_users.contains(userId); }
    Answers answers(const QString &userId) const { return m_users.value(userId); }
    int userCount() const { return m_users.size(); }

private:
    QHash<QString, Answers> m_users;
};
