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
    // printf %q writes '' for an empty value and escapes special characters with a backslash
    // (the lab writes no control characters, which would need its $'...' form).
    if (text == QLatin1String("''"))
        return QString();
    QString out;
    for (int i = 0; i < text.size(); ++i)
        out += text[i] == QLatin1Char('\\') && i + 1 < text.size() ? text[++i] : text[i];
    return out;
}
