#include "tests/support/fakeeslserver.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUuid>

namespace {

QString freshUuid()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

// The command as matched by the rules: the request without its trailing line ends.
QString commandOf(const QString &request)
{
    QString command = request;
    while (command.endsWith(QLatin1Char('\n')) || command.endsWith(QLatin1Char('\r')))
        command.chop(1);
    return command;
}

} // namespace

FakeEslServer::FakeEslServer(QObject *parent) : QObject(parent), m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &FakeEslServer::onNewConnection);
    if (!m_server->listen(QHostAddress::LocalHost, 0))
        qWarning("FakeEslServer: cannot listen: %s", qPrintable(m_server->errorString()));
}

FakeEslServer::~FakeEslServer()
{
    if (m_client) {
        m_client->disconnect(this);
        m_client->abort();
    }
}

int FakeEslServer::port() const
{
    return m_server->serverPort();
}

void FakeEslServer::addApiReply(const QString &command, const QString &body, MatchMode mode)
{
    m_rules.append({command, QRegularExpression(), mode, false, true, body});
}

void FakeEslServer::addApiReply(const QRegularExpression &pattern, const QString &body)
{
    m_rules.append({QString(), pattern, Exact, true, true, body});
}

void FakeEslServer::addCommandReply(const QString &command, const QString &replyText, MatchMode mode)
{
    m_rules.append({command, QRegularExpression(), mode, false, false, replyText});
}

void FakeEslServer::addCommandReply(const QRegularExpression &pattern, const QString &replyText)
{
    m_rules.append({QString(), pattern, Exact, true, false, replyText});
}

void FakeEslServer::clearReplies()
{
    m_rules.clear();
}

void FakeEslServer::setHoldReplies(bool hold)
{
    m_hold = hold;
}

bool FakeEslServer::releaseHeldReply()
{
    if (m_held.isEmpty())
        return false;
    answer(m_held.takeFirst());
    return true;
}

void FakeEslServer::replyApi(const QString &body)
{
    if (!m_held.isEmpty())
        m_held.removeFirst();
    writeToClient(apiResponseFrame(body.toUtf8()));
}

void FakeEslServer::replyCommand(const QString &replyText)
{
    if (!m_held.isEmpty())
        m_held.removeFirst();
    writeToClient(commandReplyFrame(replyText));
}

QStringList FakeEslServer::commands() const
{
    QStringList result;
    for (const QString &request : m_requests) {
        if (!request.startsWith(QLatin1String("auth ")))
            result.append(commandOf(request));
    }
    return result;
}

int FakeEslServer::countRequests(const QString &command) const
{
    return commands().count(command);
}

bool FakeEslServer::hasClient() const
{
    return m_client && m_client->state() == QAbstractSocket::ConnectedState;
}

void FakeEslServer::sendEvent(const QMap<QString, QString> &fields)
{
    QJsonObject object;
    for (auto it = fields.constBegin(); it != fields.constEnd(); ++it)
        object.insert(it.key(), it.value());
    sendEventBody(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

void FakeEslServer::sendEventJson(const QVariantMap &object)
{
    sendEventBody(QJsonDocument(QJsonObject::fromVariantMap(object)).toJson(QJsonDocument::Compact));
}

void FakeEslServer::sendEventBody(const QByteArray &json)
{
    writeToClient(eventFrame(json));
}

void FakeEslServer::sendBackgroundJob(const QString &jobUuid, const QString &body, const QString &command)
{
    sendEvent({{QStringLiteral("Event-Name"), QStringLiteral("BACKGROUND_JOB")},
               {QStringLiteral("Job-UUID"), jobUuid},
               {QStringLiteral("Job-Command"), command},
               {QStringLiteral("Content-Length"), QString::number(body.toUtf8().size())},
               {QStringLiteral("_body"), body}});
}

void FakeEslServer::sendRaw(const QByteArray &bytes)
{
    writeToClient(bytes);
}

void FakeEslServer::closeConnection()
{
    if (!m_client)
        return;
    m_client->flush();
    m_client->disconnectFromHost();
}

void FakeEslServer::rudeReject()
{
    writeToClient(rudeRejectionFrame() + disconnectNoticeFrame());
    closeConnection();
}

QByteArray FakeEslServer::eventFrame(const QByteArray &json)
{
    return "Content-Length: " + QByteArray::number(json.size()) + "\nContent-Type: text/event-json\n\n" +
           json;
}

QByteArray FakeEslServer::apiResponseFrame(const QByteArray &body)
{
    return "Content-Type: api/response\nContent-Length: " + QByteArray::number(body.size()) + "\n\n" + body;
}

QByteArray FakeEslServer::commandReplyFrame(const QString &replyText, const QString &extraHeaders)
{
    return "Content-Type: command/reply\nReply-Text: " + replyText.toUtf8() + "\n" + extraHeaders.toUtf8() +
           "\n";
}

QByteArray FakeEslServer::disconnectNoticeFrame()
{
    const QByteArray body = "Disconnected, goodbye.\nSee you at ClueCon! http://www.cluecon.com/\n";
    return "Content-Type: text/disconnect-notice\nContent-Length: " + QByteArray::number(body.size()) +
           "\n\n" + body;
}

QByteArray FakeEslServer::rudeRejectionFrame()
{
    const QByteArray body = "Access Denied, go away.\n";
    return "Content-Type: text/rude-rejection\nContent-Length: " + QByteArray::number(body.size()) + "\n\n" +
           body;
}

void FakeEslServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        if (m_client) {
            m_client->disconnect(this);
            m_client->abort();
            m_client->deleteLater();
        }
        m_client = socket;
        m_buffer.clear();
        m_held.clear();
        m_authenticated = false;
        m_subscribed = false;
        ++m_connectionCount;
        connect(socket, &QTcpSocket::readyRead, this, &FakeEslServer::onReadyRead);
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            if (socket != m_client)
                return;
            m_authenticated = false;
            m_subscribed = false;
            emit clientDisconnected();
        });
        emit clientConnected();
        if (m_rejectConnections) {
            rudeReject();
            continue;
        }
        writeToClient("Content-Type: auth/request\n\n");
    }
}

void FakeEslServer::onReadyRead()
{
    if (!m_client)
        return;
    m_buffer += m_client->readAll();
    // A request is its header block up to the first empty line, plus a body when the block
    // declares a Content-Length (sendevent).
    for (;;) {
        const int end = m_buffer.indexOf("\n\n");
        if (end < 0)
            return;
        int contentLength = 0;
        const QList<QByteArray> lines = m_buffer.left(end).split('\n');
        for (const QByteArray &line : lines) {
            const int colon = line.indexOf(':');
            if (colon > 0 && line.left(colon).trimmed().toLower() == "content-length")
                contentLength = line.mid(colon + 1).trimmed().toInt();
        }
        int total = end + 2 + contentLength;
        if (m_buffer.size() < total)
            return;
        // Line ends right after a body belong to it (the reference client sends one).
        if (contentLength > 0) {
            while (total < m_buffer.size() && m_buffer.at(total) == '\n')
                ++total;
        }
        const QString request = QString::fromUtf8(m_buffer.left(total));
        m_buffer.remove(0, total);
        handleRequest(request);
        if (!m_client)
            return;
    }
}

void FakeEslServer::handleRequest(const QString &request)
{
    m_requests.append(request);
    emit requestReceived(request);

    if (!m_authenticated) {
        if (request.startsWith(QLatin1String("auth "))) {
            if (commandOf(request).mid(5) == m_password) {
                m_authenticated = true;
                writeToClient(commandReplyFrame(QStringLiteral("+OK accepted")));
                emit authenticated();
            } else {
                writeToClient(commandReplyFrame(QStringLiteral("-ERR invalid")) + disconnectNoticeFrame());
                closeConnection();
            }
        } else {
            writeToClient(commandReplyFrame(QStringLiteral("-ERR invalid")));
        }
        return;
    }
    if (m_hold) {
        m_held.append(request);
        return;
    }
    answer(request);
}

void FakeEslServer::answer(const QString &request)
{
    QString echo;
    writeToClient(replyFor(request, &echo));
    if (!echo.isEmpty() && m_subscribed)
        writeToClient(echo.toUtf8());
}

QByteArray FakeEslServer::replyFor(const QString &request, QString *echoEvent)
{
    const QString command = commandOf(request);
    for (const Rule &rule : qAsConst(m_rules)) {
        bool match = false;
        if (rule.useRegex)
            match = rule.pattern.match(command).hasMatch();
        else if (rule.mode == Prefix)
            match = command.startsWith(rule.command);
        else
            match = command == rule.command;
        if (match)
            return rule.api ? apiResponseFrame(rule.reply.toUtf8()) : commandReplyFrame(rule.reply);
    }

    if (command == QLatin1String("api version"))
        return apiResponseFrame("FreeSWITCH Version 1.11.1-release~64bit ( 64bit)\n");
    if (command == QLatin1String("api create_uuid")) {
        const QString uuid = freshUuid();
        m_createdUuids.append(uuid);
        return apiResponseFrame(uuid.toUtf8());
    }
    if (command.startsWith(QLatin1String("api "))) {
        const QString name = command.mid(4).section(QLatin1Char(' '), 0, 0);
        return apiResponseFrame("-ERR " + name.toUtf8() + " Command not found!\n");
    }
    if (command.startsWith(QLatin1String("event json"))) {
        m_subscribed = true;
        return commandReplyFrame(QStringLiteral("+OK event listener enabled json"));
    }
    if (command.startsWith(QLatin1String("bgapi "))) {
        const QString uuid = freshUuid();
        m_jobUuids.append(uuid);
        return commandReplyFrame(QStringLiteral("+OK Job-UUID: ") + uuid,
                                 QStringLiteral("Job-UUID: ") + uuid + '\n');
    }
    // "sendevent CUSTOM" names the event on its first line; a bare "sendevent" leaves it to the
    // Event-Name header (both are accepted by the real server).
    if (command.startsWith(QLatin1String("sendevent ")) || command.startsWith(QLatin1String("sendevent\n"))) {
        const QString uuid = freshUuid();
        const int blank = request.indexOf(QLatin1String("\n\n"));
        const QStringList lines = request.left(blank).split(QLatin1Char('\n'));
        QMap<QString, QString> fields;
        fields.insert(QStringLiteral("Event-Name"), lines.first().mid(10).trimmed());
        fields.insert(QStringLiteral("Command"), lines.first());
        fields.insert(QStringLiteral("Event-UUID"), uuid);
        int contentLength = 0;
        for (int i = 1; i < lines.size(); ++i) {
            const int colon = lines.at(i).indexOf(QLatin1Char(':'));
            if (colon <= 0)
                continue;
            const QString name = lines.at(i).left(colon).trimmed();
            const QString value = lines.at(i).mid(colon + 1).trimmed();
            fields.insert(name, value);
            if (name.compare(QLatin1String("Content-Length"), Qt::CaseInsensitive) == 0)
                contentLength = value.toInt();
        }
        if (contentLength > 0) {
            const QByteArray body = request.mid(blank + 2).toUtf8().left(contentLength);
            fields.insert(QStringLiteral("_body"), QString::fromUtf8(body));
        }
        QJsonObject object;
        for (auto it = fields.constBegin(); it != fields.constEnd(); ++it)
            object.insert(it.key(), it.value());
        *echoEvent = QString::fromUtf8(eventFrame(QJsonDocument(object).toJson(QJsonDocument::Compact)));
        return commandReplyFrame(QStringLiteral("+OK ") + uuid);
    }
    return commandReplyFrame(QStringLiteral("-ERR command not found"));
}

void FakeEslServer::writeToClient(const QByteArray &bytes)
{
    if (m_client && m_client->state() == QAbstractSocket::ConnectedState)
        m_client->write(bytes);
}
