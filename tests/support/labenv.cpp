#include "tests/support/labenv.h"

#include <QFile>
#include <QHostAddress>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTest>

#ifndef TESMAR_LAB_ENV_FILE
#define TESMAR_LAB_ENV_FILE ".lab/env"
#endif

bool LabEnv::load(const QString &given, QString *error)
{
    m_values.clear();
    QString path = given.isEmpty() ? qEnvironmentVariable("LAB_ENV_FILE") : given;
    if (path.isEmpty())
        path = QStringLiteral(TESMAR_LAB_ENV_FILE);
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

QByteArray LabEnv::control(const QString &command) const
{
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, port(QStringLiteral("LAB_CONTROL_PORT")));
    s.write(command.toUtf8() + '\n');
    // The event loop keeps running: the lab may be calling the test's own SIP agent, which
    // answers from it. Generous waits: a busy machine runs several labs and suites at once.
    QByteArray reply;
    const auto until = [&](const auto &done) {
        return QTest::qWaitFor(
            [&] {
                reply += s.readAll();
                return done();
            },
            30000);
    };
    until([&] { return reply.contains('\n'); });
    const int end = reply.indexOf('\n');
    const QByteArray status = end < 0 ? QByteArray() : reply.left(end).trimmed();
    const QRegularExpressionMatch sized =
        QRegularExpression(QStringLiteral("^\\+OK (\\d+)$")).match(QString::fromLatin1(status));
    if (!sized.hasMatch())
        return status.isEmpty() ? QByteArray("-ERR no reply from the control port") : status;
    const int size = sized.captured(1).toInt();
    until([&] { return reply.size() - end - 1 >= size; });
    return reply.mid(end + 1, size);
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
