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

// A frame with a body, as the real server frames api replies, events and notices.
QByteArray framed(const QByteArray &type, const QByteArray &body)
{
    return "Content-Type: " + type + "\nContent-Length: " + QByteArray::number(body.size()) + "\n\n" + body;
}

// Events name their length first, unlike the other frames.
QByteArray eventFrame(const QJsonObject &object)
{
    const QByteArray json = QJsonDocument(object).toJson(QJsonDocument::Compact);
    return "Content-Length: " + QByteArray::number(json.size()) + "\nContent-Type: text/event-json\n\n" +
           json;
}

const QByteArray kDisconnectNotice =
    framed("text/disconnect-notice", "Disconnected, goodbye.\nSee you at ClueCon! http://www.cluecon.com/\n");

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

bool FakeEslServer::releaseHeldReply()
{
    if (m_held.isEmpty())
        return false;
    answer(m_held.takeFirst());
    return true;
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

void FakeEslServer::sendEvent(const QMap<QString, QString> &fields)
{
    QJsonObject object;
    for (auto it = fields.constBegin(); it != fields.constEnd(); ++it)
        object.insert(it.key(), it.value());
    writeToClient(eventFrame(object));
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
    writeToClient(framed("text/rude-rejection", "Access Denied, go away.\n") + kDisconnectNotice);
    closeConnection();
}

QByteArray FakeEslServer::commandReplyFrame(const QString &replyText, const QString &extraHeaders)
{
    return "Content-Type: command/reply\nReply-Text: " + replyText.toUtf8() + "\n" + extraHeaders.toUtf8() +
           "\n";
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
            if (socket == m_client)
                m_authenticated = m_subscribed = false;
        });
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
            } else {
                writeToClient(commandReplyFrame(QStringLiteral("-ERR invalid")) + kDisconnectNotice);
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
    QByteArray echo;
    writeToClient(replyFor(request, &echo));
    if (!echo.isEmpty() && m_subscribed)
        writeToClient(echo);
}

QByteArray FakeEslServer::replyFor(const QString &request, QByteArray *echoEvent)
{
    const QString command = commandOf(request);
    for (const Rule &rule : qAsConst(m_rules)) {
        const bool match = rule.command.isEmpty() ? rule.pattern.match(command).hasMatch()
                           : rule.mode == Prefix  ? command.startsWith(rule.command)
                                                  : command == rule.command;
        if (match)
            return rule.api ? framed("api/response", rule.reply.toUtf8()) : commandReplyFrame(rule.reply);
    }

    if (command == QLatin1String("api version"))
        return framed("api/response", "FreeSWITCH Version 1.11.1-release~64bit ( 64bit)\n");
    if (command == QLatin1String("api create_uuid")) {
        m_createdUuids.append(freshUuid());
        return framed("api/response", m_createdUuids.last().toUtf8());
    }
    if (command.startsWith(QLatin1String("api "))) {
        const QString name = command.mid(4).section(QLatin1Char(' '), 0, 0);
        return framed("api/response", "-ERR " + name.toUtf8() + " Command not found!\n");
    }
    if (command.startsWith(QLatin1String("event json"))) {
        m_subscribed = true;
        return commandReplyFrame(QStringLiteral("+OK event listener enabled json"));
    }
    if (command.startsWith(QLatin1String("bgapi "))) {
        m_jobUuids.append(freshUuid());
        return commandReplyFrame(QStringLiteral("+OK Job-UUID: ") + m_jobUuids.last(),
                                 QStringLiteral("Job-UUID: ") + m_jobUuids.last() + '\n');
    }
    // "sendevent CUSTOM" names the event on its first line; a bare "sendevent" leaves it to the
    // Event-Name header (both are accepted by the real server).
    if (command.startsWith(QLatin1String("sendevent ")) || command.startsWith(QLatin1String("sendevent\n"))) {
        const QString uuid = freshUuid();
        const int blank = request.indexOf(QLatin1String("\n\n"));
        const QStringList lines = request.left(blank).split(QLatin1Char('\n'));
        QJsonObject fields{{QStringLiteral("Event-Name"), lines.first().mid(10).trimmed()},
                           {QStringLiteral("Command"), lines.first()},
                           {QStringLiteral("Event-UUID"), uuid}};
        int contentLength = 0;
        for (int i = 1; i < lines.size(); ++i) {
            const int colon = lines.at(i).indexOf(QLatin1Char(':'));
            const QString name = lines.at(i).left(colon).trimmed(),
                          value = lines.at(i).mid(colon + 1).trimmed();
            if (colon > 0)
                fields.insert(name, value);
            if (colon > 0 && name.compare(QLatin1String("Content-Length"), Qt::CaseInsensitive) == 0)
                contentLength = value.toInt();
        }
        if (contentLength > 0)
            fields.insert(QStringLiteral("_body"),
                          QString::fromUtf8(request.mid(blank + 2).toUtf8().left(contentLength)));
        *echoEvent = eventFrame(fields);
        return commandReplyFrame(QStringLiteral("+OK ") + uuid);
    }
    return commandReplyFrame(QStringLiteral("-ERR command not found"));
}

void FakeEslServer::writeToClient(const QByteArray &bytes)
{
    if (m_client && m_client->state() == QAbstractSocket::ConnectedState)
        m_client->write(bytes);
}
