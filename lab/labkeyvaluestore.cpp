#include "lab/labkeyvaluestore.h"

#include <QStringList>

QString LabKeyValueStore::command(const QString &args)
{
    // The value is everything after the third slash and may hold blanks and slashes.
    const QString sub = args.section(QLatin1Char('/'), 0, 0).trimmed();
    const QString realm = args.section(QLatin1Char('/'), 1, 1);
    const QString key = args.section(QLatin1Char('/'), 2, 2);
    const QString value = args.section(QLatin1Char('/'), 3);
    if (sub == QLatin1String("insert")) {
        if (realm.isEmpty() || key.isEmpty())
            return QStringLiteral("!err!");
        m_realms[realm][key] = value;
        return QStringLiteral("+OK");
    }
    if (sub == QLatin1String("delete")) {
        if (m_realms.contains(realm)) {
            m_realms[realm].remove(key);
            if (m_realms[realm].isEmpty())
                m_realms.remove(realm);
        }
        return QStringLiteral("+OK");
    }
    if (sub == QLatin1String("select")) {
        const QString v = this->value(realm, key);
        return v.isNull() ? QStringLiteral("-ERR no reply\n") : v;
    }
    if (sub == QLatin1String("exists"))
        return m_realms.value(realm).contains(key) ? QStringLiteral("true") : QStringLiteral("false");
    if (sub == QLatin1String("list"))
        return m_realms.value(realm).keys().join(QLatin1Char(','));
    return QStringLiteral("!err!");
}

QString LabKeyValueStore::value(const QString &realm, const QString &key) const
{
    const auto r = m_realms.constFind(realm);
    if (r == m_realms.constEnd())
        return QString();
    return r->value(key);
}

QString LabKeyValueStore::dump() const
{
    QString out;
    for (auto r = m_realms.constBegin(); r != m_realms.constEnd(); ++r) {
        for (auto k = r->constBegin(); k != r->constEnd(); ++k)
            out += r.key() + QLatin1Char('/') + k.key() + QLatin1Char('=') + k.value() + QLatin1Char('\n');
    }
    return out;
}
