#include "lab/eslsession.h"

#include "lab/labevent.h"
#include "lab/labserver.h"

#include <QDebug>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

namespace {

const QByteArray DisconnectNotice = "Content-Type: text/disconnect-notice\nContent-Length: 67\n\n"
                                    "Disconnected, goodbye.\nSee you at ClueCon! http://www.cluecon.com/\n";

QByteArray apiFrame(const QString &body)
{
    const QByteArray utf8 = body.toUtf8();
    return "Content-Type: api/response\nContent-Length: " + QByteArray::number(utf8.size()) + "\n\n" + utf8;
}

} // namespace

EslSession::EslSession(QTcpSocket *socket, LabServer *server)
    : QObject(server), m_socket(socket), m_server(server)
{
    m_socket->setParent(this);
    connect(m_socket, &QTcpSocket::readyRead, this, &EslSession::readyRead);
    connect(m_socket, &QTcpSocket::disconnected, this, [this] {
        m_closing = true;
        emit closed(this);
        deleteLater();
    });
}

EslSession::~EslSession() = default;

void EslSession::greet()
{
    sendRaw("Content-Type: auth/request\n\n");
}

void EslSession::rudeReject()
{
    const QByteArray body = "Access Denied, go away.\n";
    sendRaw("Content-Type: text/rude-rejection\nContent-Length: " + QByteArray::number(body.size()) + "\n\n" +
            body);
    sendNoticeAndClose();
}

bool EslSession::wantsEvent(const LabEvent &event) const
{
    if (!m_authenticated)
        return false;
    if (m_allEvents)
        return true;
    const QString name = event.eventName();
    if (!m_events.contains(name))
        return false;
    // A CUSTOM event goes only to listeners of its subclass.
    if (name == QLatin1String("CUSTOM"))
        return m_subclasses.contains(event.subclass());
    return true;
}

void EslSession::deliver(const LabEvent &event)
{
    if (wantsEvent(event))
        sendRaw(m_plain ? event.toPlainFrame() : event.toFrame());
}

void EslSession::sendRaw(const QByteArray &bytes)
{
    if (m_socket->state() == QAbstractSocket::ConnectedState)
        m_socket->write(bytes);
}

void EslSession::abort()
{
    m_closing = true;
    m_socket->abort();
}

void EslSession::sendNoticeAndClose()
{
    sendRaw(DisconnectNotice);
    m_closing = true;
    m_socket->disconnectFromHost();
}

void EslSession::readyRead()
{
    m_parser.feed(m_socket->readAll());
    if (m_parser.broken()) {
        qWarning() << "tesmar-lab: request too large, closing connection";
        abort();
        return;
    }
    processNext();
}

void EslSession::processNext()
{
    if (m_inHandle)
        return; // the loop below is already running further up the stack
    EslRequest request;
    while (!m_busy && !m_closing && m_parser.next(request)) {
        if (m_server->silent())
            continue; // fault: requests vanish without a reply
        m_busy = true;
        m_inHandle = true;
        handle(request);
        m_inHandle = false;
    }
}

void EslSession::finish(const QByteArray &reply)
{
    const int delay = m_server->replyDelayMs();
    auto send = [this, reply] {
        sendRaw(reply);
        m_busy = false;
        processNext();
    };
    if (delay > 0)
        QTimer::singleShot(delay, this, send);
    else
        send();
}

void EslSession::commandReply(const QString &text, const QByteArray &extraHeaders)
{
    finish("Content-Type: command/reply\nReply-Text: " + text.toUtf8() + "\n" + extraHeaders + "\n");
}

void EslSession::apiResponse(const QString &body)
{
    finish(apiFrame(body));
}

void EslSession::handle(const EslRequest &request)
{
    const QString cmd = request.command;
    const int space = cmd.indexOf(QLatin1Char(' '));
    const QString verb = (space < 0 ? cmd : cmd.left(space)).toLower();
    const QString args = space < 0 ? QString() : cmd.mid(space + 1).trimmed();

    if (!m_authenticated) {
        if (verb == QLatin1String("auth") && args == m_server->config().password) {
            m_authenticated = true;
            commandReply(QStringLiteral("+OK accepted"));
            return;
        }
        // Like the real server: a wrong password or any other command before auth ends the session.
        sendRaw("Content-Type: command/reply\nReply-Text: -ERR invalid\n\n");
        sendNoticeAndClose();
        return;
    }

    if (verb == QLatin1String("api")) {
        QPointer<EslSession> self(this);
        m_server->runApi(args, [self](const QString &result) {
            if (self)
                self->apiResponse(result);
        });
        return;
    }
    if (verb == QLatin1String("bgapi")) {
        QString jobUuid = request.header(QStringLiteral("Job-UUID"));
        if (jobUuid.isEmpty())
            jobUuid = LabEvent::newUuid();
        commandReply(QStringLiteral("+OK Job-UUID: ") + jobUuid, "Job-UUID: " + jobUuid.toUtf8() + "\n");
        const int argSpace = args.indexOf(QLatin1Char(' '));
        const QString jobCommand = argSpace < 0 ? args : args.left(argSpace);
        const QString jobArg = argSpace < 0 ? QString() : args.mid(argSpace + 1);
        QPointer<LabServer> server(m_server);
        m_server->runApi(args, [server, jobUuid, jobCommand, jobArg](const QString &result) {
            if (!server)
                return;
            LabEvent e =
                LabEvent::create(QStringLiteral("BACKGROUND_JOB"), QString(),
                                 QStringLiteral("mod_event_socket.c"), QStringLiteral("api_exec"), 1569);
            e.add(QStringLiteral("Job-UUID"), jobUuid);
            e.add(QStringLiteral("Job-Command"), jobCommand);
            e.add(QStringLiteral("Job-Command-Arg"), jobArg);
            e.setBody(result);
            server->publish(e);
        });
        return;
    }
    if (verb == QLatin1String("event")) {
        subscribe(args);
        return;
    }
    if (verb == QLatin1String("noevents")) {
        m_allEvents = false;
        m_events.clear();
        m_subclasses.clear();
        commandReply(QStringLiteral("+OK no longer listening for events"));
        return;
    }
    if (verb == QLatin1String("sendevent")) {
        LabEvent e;
        const QString named = args.trimmed();
        QString name = named;
        if (name.isEmpty())
            name = request.header(QStringLiteral("Event-Name"));
        if (name.isEmpty())
            name = QStringLiteral("CUSTOM");
        const QString subclass = request.header(QStringLiteral("Event-Subclass"));
        // The real server puts the subclass first when the name is given on the command line,
        // then the command, then the client's headers in order.
        const bool subclassFirst = !named.isEmpty() && !subclass.isEmpty();
        if (subclassFirst)
            e.add(QStringLiteral("Event-Subclass"), subclass);
        e.add(QStringLiteral("Command"), cmd);
        for (const auto &h : request.headers) {
            if (subclassFirst && h.first == QLatin1String("Event-Subclass"))
                continue;
            e.add(h.first, h.second);
        }
        const QString eventUuid = LabEvent::newUuid();
        e.add(QStringLiteral("Event-UUID"), eventUuid);
        e.addStandardHeaders(name, QStringLiteral("mod_event_socket.c"), QStringLiteral("parse_command"),
                             2272);
        if (!request.body.isEmpty())
            e.setBody(QString::fromUtf8(request.body));
        commandReply(QStringLiteral("+OK ") + eventUuid);
        m_server->publish(e);
        return;
    }
    if (verb == QLatin1String("exit")) {
        sendRaw("Content-Type: command/reply\nReply-Text: +OK bye\n\n");
        sendNoticeAndClose();
        return;
    }
    commandReply(QStringLiteral("-ERR command not found"));
}

void EslSession::subscribe(const QString &args)
{
    QStringList words = args.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QString format = QStringLiteral("plain");
    if (!words.isEmpty()) {
        const QString first = words.first().toLower();
        if (first == QLatin1String("json") || first == QLatin1String("plain") ||
            first == QLatin1String("xml")) {
            format = first;
            words.removeFirst();
        }
    }
    // Event names from the server's table; after CUSTOM every word is a subclass.
    static const QSet<QString> known = {
        QStringLiteral("CUSTOM"),         QStringLiteral("PRESENCE_IN"),    QStringLiteral("RELOADXML"),
        QStringLiteral("BACKGROUND_JOB"), QStringLiteral("MODULE_LOAD"),    QStringLiteral("MODULE_UNLOAD"),
        QStringLiteral("CHANNEL_CREATE"), QStringLiteral("CHANNEL_ANSWER"), QStringLiteral("CHANNEL_HANGUP"),
        QStringLiteral("CHANNEL_STATE"),  QStringLiteral("HEARTBEAT"),      QStringLiteral("API"),
        QStringLiteral("PRESENCE_OUT"),   QStringLiteral("RE_SCHEDULE"),    QStringLiteral("ALL")};
    int keys = 0;
    bool custom = false;
    for (const QString &w : words) {
        if (custom) {
            m_subclasses.insert(w);
            continue;
        }
        const QString upper = w.toUpper();
        if (!known.contains(upper))
            continue;
        ++keys;
        if (upper == QLatin1String("ALL")) {
            m_allEvents = true;
        } else {
            m_events.insert(upper);
            if (upper == QLatin1String("CUSTOM"))
                custom = true;
        }
    }
    if (keys == 0) {
        commandReply(QStringLiteral("-ERR no keywords supplied"));
        return;
    }
    // The last format asked for applies to the whole connection; XML is served as JSON.
    m_plain = format == QLatin1String("plain");
    commandReply(QStringLiteral("+OK event listener enabled ") + format);
}
