#include "conferences/commandsafety.h"

namespace {

bool isControl(QChar c)
{
    return c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
           c == QChar::ParagraphSeparator;
}

// The first character of value that is a control character, white space or one of forbidden.
int firstBad(const QString &value, const QString &forbidden)
{
    for (int i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (isControl(c) || c.isSpace() || forbidden.contains(c))
            return i;
    }
    return -1;
}

QString describe(QChar c)
{
    if (isControl(c) || c.isSpace())
        return QStringLiteral("пробелы, табуляция и переводы строк недопустимы");
    return QStringLiteral("символ «%1» недопустим").arg(c);
}

bool check(const QString &value, const QString &forbidden, const QString &what, QString *why)
{
    if (value.trimmed().isEmpty()) {
        if (why)
            *why = QStringLiteral("%1: значение не может быть пустым").arg(what);
        return false;
    }
    const int bad = firstBad(value, forbidden);
    if (bad < 0)
        return true;
    if (why)
        *why = QStringLiteral("%1 «%2»: %3").arg(what, value, describe(value.at(bad)));
    return false;
}

} // namespace

bool CommandSafety::isConferenceName(const QString &name, QString *why)
{
    return check(name, QStringLiteral("'\",{}[]@/%"), QStringLiteral("Недопустимое имя конференции"), why);
}

bool CommandSafety::isBareArgument(const QString &value, QString *why)
{
    return check(value, QStringLiteral("'\",{}[]/|%"),
                 QStringLiteral("Недопустимое значение для команды сервера"), why);
}

bool CommandSafety::quotedValue(const QString &value, QString *safe, QString *why)
{
    QString out;
    out.reserve(value.size());
    for (const QChar c : value) {
        if (isControl(c)) {
            if (why)
                *why =
                    QStringLiteral("Недопустимое имя «%1»: управляющие символы и переводы строк недопустимы")
                        .arg(value);
            return false;
        }
        switch (c.unicode()) {
        case '\'':
            out += QChar(0x2019);
            break;
        case '{':
        case '[':
            out += QLatin1Char('(');
            break;
        case '}':
        case ']':
            out += QLatin1Char(')');
            break;
        case '%':
            out += QChar(0xFF05);
            break;
        default:
            out += c;
        }
    }
    *safe = out;
    return true;
}

QString CommandSafety::headerValue(const QString &value)
{
    QString out;
    out.reserve(value.size());
    for (const QChar c : value) {
        if (isControl(c))
            out += QLatin1Char(' ');
        else if (c == QLatin1Char('%'))
            out += QChar(0xFF05);
        else
            out += c;
    }
    return out.simplified();
}
