#include "lab/labdialstring.h"

#include <QStringList>

namespace {

// Splits at sep where it is outside quotes and outside {...} / [...] groups.
QStringList splitTopLevel(const QString &text, QChar sep)
{
    QStringList parts;
    QString current;
    bool quoted = false;
    int depth = 0;
    for (const QChar c : text) {
        if (c == QLatin1Char('\'')) {
            quoted = !quoted;
        } else if (!quoted && (c == QLatin1Char('{') || c == QLatin1Char('['))) {
            ++depth;
        } else if (!quoted && (c == QLatin1Char('}') || c == QLatin1Char(']'))) {
            --depth;
        } else if (!quoted && depth == 0 && c == sep) {
            parts.append(current);
            current.clear();
            continue;
        }
        current.append(c);
    }
    parts.append(current);
    return parts;
}

bool parseVars(const QString &body, QMap<QString, QString> *vars)
{
    for (const QString &item : splitTopLevel(body, QLatin1Char(','))) {
        if (item.trimmed().isEmpty())
            continue;
        const int eq = item.indexOf(QLatin1Char('='));
        if (eq <= 0)
            return false;
        QString value = item.mid(eq + 1);
        if (value.size() >= 2 && value.startsWith(QLatin1Char('\'')) && value.endsWith(QLatin1Char('\'')))
            value = value.mid(1, value.size() - 2);
        vars->insert(item.left(eq).trimmed(), value);
    }
    return true;
}

// Takes a leading {...} or [...] group off text; false when it is not closed.
bool takeGroup(QString &text, QChar open, QChar close, QMap<QString, QString> *vars)
{
    if (!text.startsWith(open))
        return true;
    bool quoted = false;
    for (int i = 1; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('\''))
            quoted = !quoted;
        else if (!quoted && text[i] == close) {
            if (!parseVars(text.mid(1, i - 1), vars))
                return false;
            text = text.mid(i + 1);
            return true;
        }
    }
    return false;
}

} // namespace

bool LabDialString::parse(const QString &args, LabDialString *out, QString *error)
{
    LabDialString d;
    // The dial string ends at the first blank outside quotes and groups.
    const QStringList words = splitTopLevel(args.trimmed(), QLatin1Char(' '));
    QString dial = words.value(0);
    if (dial.isEmpty()) {
        *error = QStringLiteral("empty dial string");
        return false;
    }
    if (!takeGroup(dial, QLatin1Char('{'), QLatin1Char('}'), &d.globals)) {
        *error = QStringLiteral("unclosed {");
        return false;
    }
    for (QString leg : splitTopLevel(dial, QLatin1Char(','))) {
        LabDialLeg l;
        if (!takeGroup(leg, QLatin1Char('['), QLatin1Char(']'), &l.vars)) {
            *error = QStringLiteral("unclosed [");
            return false;
        }
        l.endpoint = leg.trimmed();
        if (l.endpoint.isEmpty()) {
            *error = QStringLiteral("empty endpoint");
            return false;
        }
        d.legs.append(l);
    }
    const QStringList rest = words.mid(1);
    QStringList nonEmpty;
    for (const QString &w : rest) {
        if (!w.isEmpty())
            nonEmpty.append(w);
    }
    d.destination = nonEmpty.value(0);
    d.dialplan = nonEmpty.value(1);
    d.context = nonEmpty.value(2);
    *out = d;
    return true;
}

QString LabDialString::var(int leg, const QString &name) const
{
    if (leg >= 0 && leg < legs.size() && legs[leg].vars.contains(name))
        return legs[leg].vars.value(name);
    return globals.value(name);
}

QString LabDialString::conference() const
{
    if (destination.startsWith(QLatin1String("&conference(")) && destination.endsWith(QLatin1Char(')'))) {
        const QString inner = destination.mid(12, destination.size() - 13);
        return inner.section(QLatin1Char('@'), 0, 0);
    }
    if (!destination.startsWith(QLatin1Char('&')) && context == QLatin1String("conference"))
        return destination;
    return QString();
}
