#include "lab/labdirectory.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QXmlStreamReader>

namespace {

const QString NoReply = QStringLiteral("-ERR no reply\n");

void addUserVariables(LabEvent &e, const LabUser *u, const QString &domain)
{
    e.add(QStringLiteral("sip_number_alias"), u->id);
    e.add(QStringLiteral("sip_auth_username"), u->id);
    e.add(QStringLiteral("sip_auth_realm"), domain);
    e.add(QStringLiteral("number_alias"), u->id);
    e.add(QStringLiteral("user_name"), u->id);
    e.add(QStringLiteral("domain_name"), domain);
    // Domain-wide variables of the stock configuration the real events carry.
    e.add(QStringLiteral("record_stereo"), QStringLiteral("true"));
    e.add(QStringLiteral("default_areacode"), QStringLiteral("918"));
    for (auto it = u->variables.constBegin(); it != u->variables.constEnd(); ++it)
        e.add(it.key(), it.value());
}

// The presence change the registrar reports beside each registration event.
LabEvent registrationPresence(const QString &uri, const QString &status)
{
    LabEvent p = LabEvent::create(QStringLiteral("PRESENCE_IN"), QString(), QStringLiteral("sofia_reg.c"),
                                  QStringLiteral("sofia_reg_handle_register_token"), 2103);
    p.add(QStringLiteral("proto"), QStringLiteral("sip"));
    p.add(QStringLiteral("rpid"), QStringLiteral("unknown"));
    p.add(QStringLiteral("login"), QStringLiteral("sip:mod_sofia@127.0.0.1:5060"));
    p.add(QStringLiteral("user-agent"), QStringLiteral("tesmar-lab"));
    p.add(QStringLiteral("from"), uri);
    p.add(QStringLiteral("status"), status);
    p.add(QStringLiteral("presence-source"), QStringLiteral("register"));
    p.add(QStringLiteral("event_type"), QStringLiteral("presence"));
    return p;
}

QString networkPort(const QString &contact)
{
    const int colon = contact.lastIndexOf(QLatin1Char(':'));
    return colon < 0 ? QStringLiteral("5060") : contact.mid(colon + 1);
}

} // namespace

LabDirectory::LabDirectory(const QString &domain) : m_domain(domain)
{}

bool LabDirectory::parseFile(const QString &path, LabUser &user, QString *error) const
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = path + QStringLiteral(": ") + file.errorString();
        return false;
    }
    QXmlStreamReader xml(&file);
    bool inOperators = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isEndElement() && xml.name() == QLatin1String("operators"))
            inOperators = false;
        if (!xml.isStartElement())
            continue;
        const auto attrs = xml.attributes();
        if (xml.name() == QLatin1String("user")) {
            for (const auto &a : attrs)
                user.attributes.append(qMakePair(a.name().toString(), a.value().toString()));
            user.id = attrs.value(QLatin1String("id")).toString();
        } else if (xml.name() == QLatin1String("param")) {
            user.params.insert(attrs.value(QLatin1String("name")).toString(),
                               attrs.value(QLatin1String("value")).toString());
        } else if (xml.name() == QLatin1String("variable")) {
            user.variables.insert(attrs.value(QLatin1String("name")).toString(),
                                  attrs.value(QLatin1String("value")).toString());
        } else if (xml.name() == QLatin1String("operators")) {
            inOperators = true;
        } else if (inOperators && xml.name() == QLatin1String("operator")) {
            user.operators.append(qMakePair(attrs.value(QLatin1String("name")).toString(),
                                            attrs.value(QLatin1String("telephone")).toString()));
        }
    }
    if (xml.hasError()) {
        *error = QStringLiteral("%1: line %2: %3").arg(path).arg(xml.lineNumber()).arg(xml.errorString());
        return false;
    }
    if (user.id.isEmpty()) {
        *error = path + QStringLiteral(": no user id");
        return false;
    }
    return true;
}

bool LabDirectory::load(const QString &folder, QString *error)
{
    QDir dir(folder);
    if (!dir.exists()) {
        *error = QStringLiteral("directory folder not found: ") + folder;
        return false;
    }
    QVector<LabUser> users;
    const QStringList files = dir.entryList({QStringLiteral("*.xml")}, QDir::Files, QDir::Name);
    for (const QString &name : files) {
        LabUser user;
        QString fileError;
        // One broken file must not hide the others, as with the real server's includes.
        if (!parseFile(dir.filePath(name), user, &fileError)) {
            qWarning() << "tesmar-lab: skipping user file" << fileError;
            continue;
        }
        users.append(user);
    }
    m_users = users;
    QHash<QString, QString> kept;
    for (const LabUser &u : qAsConst(m_users)) {
        if (m_contacts.contains(u.id))
            kept.insert(u.id, m_contacts.value(u.id));
    }
    m_contacts = kept;
    return true;
}

void LabDirectory::addUser(const LabUser &user)
{
    m_users.append(user);
}

const LabUser *LabDirectory::user(const QString &id) const
{
    for (const LabUser &u : m_users) {
        if (u.id == id)
            return &u;
    }
    return nullptr;
}

QStringList LabDirectory::userIds() const
{
    QStringList ids;
    for (const LabUser &u : m_users)
        ids.append(u.id);
    return ids;
}

QString LabDirectory::resolve(const QString &uri) const
{
    const int at = uri.indexOf(QLatin1Char('@'));
    const QString id = at < 0 ? uri : uri.left(at);
    if (at >= 0 && uri.mid(at + 1) != m_domain)
        return QString();
    return user(id) ? id : QString();
}

QString LabDirectory::listUsers(const QString &args) const
{
    const QStringList words = args.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QString filterKey;
    QString filterValue;
    if (words.size() >= 2) {
        filterKey = words[0];
        filterValue = words[1];
    }
    QString out = QStringLiteral("userid|context|domain|group|contact|callgroup|effective_caller_id_name|"
                                 "effective_caller_id_number\n");
    for (const LabUser &u : m_users) {
        const QString context = u.variables.value(QStringLiteral("user_context"), QStringLiteral("default"));
        if (filterKey == QLatin1String("user") && u.id != filterValue)
            continue;
        if (filterKey == QLatin1String("domain") && m_domain != filterValue)
            continue;
        if (filterKey == QLatin1String("context") && context != filterValue)
            continue;
        if (filterKey == QLatin1String("group") && filterValue != QLatin1String("default"))
            continue;
        const QString c = contact(u.id);
        const QStringList fields = {u.id,
                                    context,
                                    m_domain,
                                    QStringLiteral("default"),
                                    c.isEmpty() ? QStringLiteral("error/user_not_registered")
                                                : QStringLiteral("sofia/internal/") + c,
                                    u.variables.value(QStringLiteral("callgroup")),
                                    u.variables.value(QStringLiteral("effective_caller_id_name")),
                                    u.variables.value(QStringLiteral("effective_caller_id_number"))};
        out += fields.join(QLatin1Char('|')) + QLatin1Char('\n');
    }
    out += QStringLiteral("\n+OK\n");
    return out;
}

QString LabDirectory::userData(const QString &args) const
{
    const QStringList words = args.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.size() < 3)
        return NoReply;
    const QString id = resolve(words[0]);
    const LabUser *u = user(id);
    if (!u)
        return NoReply;
    const QString kind = words[1];
    const QString name = words[2];
    QString value;
    if (kind == QLatin1String("attr"))
        value = u->attribute(name);
    else if (kind == QLatin1String("var"))
        value = u->variables.value(name);
    else if (kind == QLatin1String("param"))
        value = u->params.value(name);
    return value.isEmpty() ? NoReply : value;
}

QString LabDirectory::userExists(const QString &args) const
{
    // "user_exists id <user> <domain>"
    const QStringList words = args.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.size() < 3 || words[0] != QLatin1String("id") || words[2] != m_domain)
        return QStringLiteral("false");
    return user(words[1]) ? QStringLiteral("true") : QStringLiteral("false");
}

QVector<LabEvent> LabDirectory::registerEvents(const QString &id, const QString &contact, int expires) const
{
    const LabUser *u = user(id);
    QVector<LabEvent> events;
    if (!u)
        return events;
    const QString port = networkPort(contact);
    LabEvent e = LabEvent::create(QStringLiteral("CUSTOM"), QStringLiteral("sofia::register"),
                                  QStringLiteral("sofia_reg.c"),
                                  QStringLiteral("sofia_reg_handle_register_token"), 2059);
    e.add(QStringLiteral("profile-name"), QStringLiteral("internal"));
    e.add(QStringLiteral("from-user"), id);
    e.add(QStringLiteral("from-host"), m_domain);
    e.add(QStringLiteral("presence-hosts"), m_domain);
    e.add(QStringLiteral("contact"), QStringLiteral("\"\" <") + contact + QLatin1Char('>'));
    e.add(QStringLiteral("call-id"), QStringLiteral("lab-") + id + QLatin1Char('@') + m_domain);
    e.add(QStringLiteral("rpid"), QStringLiteral("unknown"));
    e.add(QStringLiteral("status"), QStringLiteral("Registered(UDP)"));
    e.add(QStringLiteral("expires"), QString::number(expires));
    e.add(QStringLiteral("to-user"), id);
    e.add(QStringLiteral("to-host"), m_domain);
    e.add(QStringLiteral("network-ip"), QStringLiteral("127.0.0.1"));
    e.add(QStringLiteral("network-port"), port);
    e.add(QStringLiteral("username"), id);
    e.add(QStringLiteral("realm"), m_domain);
    e.add(QStringLiteral("user-agent"), QStringLiteral("tesmar-lab"));
    addUserVariables(e, u, m_domain);
    events.append(e);

    events.append(registrationPresence(id + QLatin1Char('@') + m_domain, QStringLiteral("Registered")));
    return events;
}

QVector<LabEvent> LabDirectory::unregisterEvents(const QString &id, const QString &contact) const
{
    const LabUser *u = user(id);
    QVector<LabEvent> events;
    if (!u)
        return events;
    // The real server reports the presence change first, then the unregistration.
    events.append(registrationPresence(id + QLatin1Char('@') + m_domain, QStringLiteral("Unregistered")));

    LabEvent e = LabEvent::create(QStringLiteral("CUSTOM"), QStringLiteral("sofia::unregister"),
                                  QStringLiteral("sofia_reg.c"),
                                  QStringLiteral("sofia_reg_handle_register_token"), 2213);
    e.add(QStringLiteral("profile-name"), QStringLiteral("internal"));
    e.add(QStringLiteral("username"), id);
    e.add(QStringLiteral("from-user"), id);
    e.add(QStringLiteral("from-host"), m_domain);
    e.add(QStringLiteral("contact"), QStringLiteral("\"\" <") + contact + QLatin1Char('>'));
    e.add(QStringLiteral("call-id"), QStringLiteral("lab-") + id + QLatin1Char('@') + m_domain);
    e.add(QStringLiteral("rpid"), QStringLiteral("unknown"));
    e.add(QStringLiteral("realm"), m_domain);
    e.add(QStringLiteral("network-ip"), QStringLiteral("127.0.0.1"));
    e.add(QStringLiteral("network-port"), networkPort(contact));
    e.add(QStringLiteral("user-agent"), QStringLiteral("tesmar-lab"));
    e.add(QStringLiteral("expires"), QStringLiteral("0"));
    addUserVariables(e, u, m_domain);
    events.append(e);
    return events;
}

LabEvent LabDirectory::expireEvent(const QString &id, const QString &contact) const
{
    LabEvent e =
        LabEvent::create(QStringLiteral("CUSTOM"), QStringLiteral("sofia::expire"),
                         QStringLiteral("sofia_reg.c"), QStringLiteral("sofia_reg_del_callback"), 726);
    e.add(QStringLiteral("profile-name"), QStringLiteral("internal"));
    e.add(QStringLiteral("call-id"), QStringLiteral("lab-") + id + QLatin1Char('@') + m_domain);
    e.add(QStringLiteral("user"), id);
    e.add(QStringLiteral("username"), id);
    e.add(QStringLiteral("host"), m_domain);
    e.add(QStringLiteral("contact"), QStringLiteral("\"\" <") + contact + QLatin1Char('>'));
    // An absolute time, as the real event carries it.
    e.add(QStringLiteral("expires"), QString::number(LabEvent::nowMicroseconds() / 1000000));
    e.add(QStringLiteral("user-agent"), QStringLiteral("tesmar-lab"));
    e.add(QStringLiteral("realm"), m_domain);
    e.add(QStringLiteral("network-ip"), QStringLiteral("127.0.0.1"));
    e.add(QStringLiteral("network-port"), networkPort(contact));
    return e;
}
