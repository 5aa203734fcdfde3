#include "users/directorydomainreply.h"

#include <QXmlStreamReader>

namespace {
// The server's answer for a missing or empty attribute; the per-user requests cannot tell
// the two apart, so neither can this.
const QString kNoReply = QStringLiteral("-ERR no reply\n");

QString asAnswered(const QXmlStreamAttributes &attributes, QLatin1String name)
{
    const QStringRef value = attributes.value(name);
    return value.isEmpty() ? kNoReply : value.toString();
}
} // namespace

QString DirectoryDomainReply::request(const QString &domain, QString *error)
{
    // A blank or a line break would split the argument or end the command early.
    bool safe = !domain.isEmpty();
    for (const QChar c : domain)
        safe = safe && c.isPrint() && !c.isSpace();
    if (!safe) {
        *error = QStringLiteral("Домен \"%1\" нельзя передать серверу: пустой, с пробелами или "
                                "управляющими символами")
                     .arg(domain);
        return QString();
    }
    return QStringLiteral("api xml_locate directory domain name ") + domain + QStringLiteral("\n\n");
}

bool DirectoryDomainReply::parse(const QString &reply, const QString &domain)
{
    m_users.clear();
    QXmlStreamReader xml(reply);
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("domain") ||
        xml.attributes().value(QLatin1String("name")) != domain)
        return false;
    QHash<QString, Answers> users;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement() || xml.name() != QLatin1String("user"))
            continue;
        const QXmlStreamAttributes attributes = xml.attributes();
        // A pointer entry in another group only refers to the user defined elsewhere.
        if (attributes.value(QLatin1String("type")) == QLatin1String("pointer"))
            continue;
        const QString id = attributes.value(QLatin1String("id")).toString();
        if (!id.isEmpty() && !users.contains(id))
            users.insert(id, {asAnswered(attributes, QLatin1String("role")),
                              asAnswered(attributes, QLatin1String("groups"))});
    }
    if (xml.hasError())
        return false;
    m_users.swap(users);
    return true;
}
