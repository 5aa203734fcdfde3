#include "tests/support/labenv.h"

#include <QFile>

#ifndef TESMAR_LAB_ENV_FILE
#define TESMAR_LAB_ENV_FILE ".lab/env"
#endif

QString LabEnv::defaultPath()
{
    const QString fromEnvironment = qEnvironmentVariable("LAB_ENV_FILE");
    return fromEnvironment.isEmpty() ? QStringLiteral(TESMAR_LAB_ENV_FILE) : fromEnvironment;
}

bool LabEnv::load(QString *error)
{
    return load(defaultPath(), error);
}

bool LabEnv::load(const QString &path, QString *error)
{
    m_values.clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("the lab is not up (%1: %2): run scripts/lab-up first")
                     .arg(path, file.errorString());
        return false;
    }
    for (const QByteArray &raw : file.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw);
        const int eq = line.indexOf(QLatin1Char('='));
        if (eq > 0)
            m_values.insert(line.left(eq), unquote(line.mid(eq + 1)));
    }
    for (const char *key : {"LAB_ESL_PORT", "LAB_ESL_PASSWORD", "LAB_DB_PORT", "LAB_DB_SOCKET", "LAB_DOMAIN",
                            "LAB_DISPATCHER_USER", "LAB_DISPATCHER_PASSWORD", "LAB_CONTROL_PORT"}) {
        if (value(QLatin1String(key)).isEmpty()) {
            *error = QStringLiteral("%1 has no %2: run scripts/lab-up again").arg(path, QLatin1String(key));
            return false;
        }
    }
    return true;
}

QString LabEnv::unquote(const QString &text)
{
    // %q writes '' for an empty value, $'...' for control characters, and otherwise escapes
    // special characters with a backslash.
    if (text == QLatin1String("''"))
        return QString();
    QString out;
    const bool dollar = text.startsWith(QLatin1String("$'")) && text.endsWith(QLatin1Char('\''));
    const QString body = dollar ? text.mid(2, text.size() - 3) : text;
    for (int i = 0; i < body.size(); ++i) {
        QChar c = body[i];
        if (c == QLatin1Char('\\') && i + 1 < body.size()) {
            c = body[++i];
            if (dollar && c == QLatin1Char('n'))
                c = QLatin1Char('\n');
            else if (dollar && c == QLatin1Char('t'))
                c = QLatin1Char('\t');
        }
        out += c;
    }
    return out;
}
