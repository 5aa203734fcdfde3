#include "esl/esl2.h"

#include "esl/eslparser.h"

#include <QLoggingCategory>
#include <QMetaObject>
#include <QtDebug>

#include <cstring>
#include <utility>

namespace {

// Live clients, oldest first; the newest is the process-wide instance.
QList<ESL2 *> &liveInstances()
{
    static QList<ESL2 *> list;
    return list;
}

const char kSubscription[] =
    "event json PRESENCE_IN RELOADXML BACKGROUND_JOB MODULE_LOAD CUSTOM sofia::register "
    "sofia::expire sofia::unregister conference::maintenance alert::notify\n\n";

int messageTypeFromContentType(const QString &value)
{
    static const struct
    {
        const char *name;
        int type;
    } types[] = {
        {"auth/request", ESL2::Message::AuthRequest},
        {"text/disconnect-notice", ESL2::Message::DisconnectNotice},
        {"command/reply", ESL2::Message::Reply},
        {"api/response", ESL2::Message::Reply},
        {"text/event-plain", ESL2::Message::EventPlain},
        {"text/event-xml", ESL2::Message::EventXml},
        {"text/event-json", ESL2::Message::EventJson},
        {"text/rude-rejection", ESL2::Message::RudeRejection},
    };
    for (const auto &t : types) {
        if (value.compare(QLatin1String(t.name), Qt::CaseInsensitive) == 0)
            return t.type;
    }
    return ESL2::Message::Unknown;
}

// Body text as the server meant it: a C string, so it ends at the first zero byte.
QString bodyText(const QByteArray &body)
{
    const void *zero = std::memchr(body.constData(), '\0', static_cast<size_t>(body.size()));
    const int size =
        zero ? static_cast<int>(static_cast<const char *>(zero) - body.constData()) : body.size();
    return QString::fromUtf8(body.constData(), size);
}

QString socketErrorText(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return QStringLiteral("connection refused");
    case QAbstractSocket::RemoteHostClosedError:
        return QStringLiteral("connection closed by remote host");
    case QAbstractSocket::HostNotFoundError:
        return QStringLiteral("host not found");
    case QAbstractSocket::SocketAccessError:
        return QStringLiteral("socker access error");
    case QAbstractSocket::SocketResourceError:
        return QStringLiteral("no resources");
    case QAbstractSocket::SocketTimeoutError:
        return QStringLiteral("operation timed out");
    case QAbstractSocket::DatagramTooLargeError:
        return QStringLiteral("datagram too large");
    case QAbstractSocket::NetworkError:
        return QStringLiteral("network error");
    case QAbstractSocket::AddressInUseError:
        return QStringLiteral("address in user");
    case QAbstractSocket::SocketAddressNotAvailableError:
        return QStringLiteral("socket address not available");
    case QAbstractSocket::UnsupportedSocketOperationError:
        return QStringLiteral("unsupported socket operation");
    case QAbstractSocket::UnfinishedSocketOperationError:
        return QStringLiteral("unfinished socket operation");
    case QAbstractSocket::ProxyAuthenticationRequiredError:
        return QStringLiteral("proxy authentication required");
    case QAbstractSocket::SslHandshakeFailedError:
        return QStringLiteral("SSL handshake failed");
    case QAbstractSocket::ProxyConnectionRefusedError:
        return QStringLiteral("proxy connection refused");
    case QAbstractSocket::ProxyConnectionClosedError:
        return QStringLiteral("proxy connection closed");
    case QAbstractSocket::ProxyConnectionTimeoutError:
        return QStringLiteral("proxy connection timeout");
    case QAbstractSocket::ProxyNotFoundError:
        return QStringLiteral("proxy not found");
    case QAbstractSocket::ProxyProtocolError:
        return QStringLiteral("proxy protocol error");
    case QAbstractSocket::OperationError:
        return QStringLiteral("operation error (wrong state)");
    case QAbstractSocket::SslInternalError:
        return QStringLiteral("SSL internal error");
    case QAbstractSocket::SslInvalidUserDataError:
        return QStringLiteral("SSL invalid user data");
    case QAbstractSocket::TemporaryError:
        return QStringLiteral("try again");
    default:
        return QStringLiteral("unknown error");
    }
}

bool onlyLineEnds(const QByteArray &text, int begin, int end)
{
    for (int i = begin; i < end; ++i) {
        if (text.at(i) != '\r' && text.at(i) != '\n')
            return false;
    }
    return true;
}

// The server reads a command up to its first empty line (a line of nothing but carriage returns
// counts as empty), then as many body bytes as a Content-Length header declares; whatever follows
// is read as the next command. So a display name or a file name with line breaks in it could
// smuggle a second command onto the wire. A request is one command when nothing but line ends
// follows its header block, or its declared body. A body shorter than declared is refused too:
// the server would swallow the next request into it.
bool isSingleCommand(const QByteArray &text)
{
    int lineStart = 0;
    int contentLength = 0;
    while (lineStart < text.size()) {
        const int nl = text.indexOf('\n', lineStart);
        if (nl < 0)
            return true; // no empty line at all: nothing can follow the command
        if (onlyLineEnds(text, lineStart, nl)) {
            const int bodyStart = nl + 1;
            const int bodyEnd = bodyStart + contentLength;
            return bodyEnd <= text.size() && onlyLineEnds(text, bodyEnd, text.size());
        }
        const QByteArray line = text.mid(lineStart, nl - lineStart);
        const int colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == "content-length") {
            bool ok = false;
            const int value = line.mid(colon + 1).trimmed().toInt(&ok, 10);
            contentLength = ok && value >= 0 ? value : 0;
        }
        lineStart = nl + 1;
    }
    return true;
}

// The directory in XML carries every user's password param.
bool holdsSecrets(const QString &request)
{
    return request.startsWith(QLatin1String("api xml_locate "));
}

QString firstLine(const QString &request)
{
    const int nl = request.indexOf(QLatin1Char('\n'));
    return nl < 0 ? request : request.left(nl);
}

} // namespace

void ESL2::Message::addHeaderLine(const QString &line)
{
    const int colon = line.indexOf(QLatin1Char(':'));
    if (colon < 0) {
        headers.append(qMakePair(line, QString()));
        return;
    }
    const QString name = line.left(colon);
    const QString value = line.mid(colon + 1).trimmed();
    headers.append(qMakePair(name, value));
    if (name.compare(QLatin1String("Content-Type"), Qt::CaseInsensitive) == 0) {
        contentType = messageTypeFromContentType(value);
    } else if (name.compare(QLatin1String("Content-Length"), Qt::CaseInsensitive) == 0) {
        bool ok = false;
        contentLength = value.toInt(&ok, 10);
        if (!ok) {
            qWarning() << "ESL2::Message::addHeaderLine(): invalid Content-Length field value:" << value;
            contentLength = 0;
        }
    } else if (name.compare(QLatin1String("Reply-Text"), Qt::CaseInsensitive) == 0) {
        replyText = value;
    }
}

QString ESL2::Message::toText() const
{
    QString text;
    for (const auto &header : headers)
        text += header.first + QLatin1String(": ") + header.second + QLatin1Char('\n');
    text += QLatin1Char('\n');
    text += bodyText(body);
    return text;
}

void ESL2::Message::clear()
{
    headers.clear();
    body.clear();
    replyText.clear();
    contentLength = 0;
    contentType = Unknown;
}

ESL2::ESL2(QObject *parent)
    : QObject(parent), m_socket(new QTcpSocket(this)), m_parser(std::make_unique<EslParser>())
{
    static const bool registered = [] {
        qRegisterMetaType<ESL2::Event>("ESL2::Event");
        qRegisterMetaType<QAbstractSocket::SocketError>("QAbstractSocket::SocketError");
        return true;
    }();
    Q_UNUSED(registered)

    m_requestTimer.setSingleShot(true);
    m_reconnectTimer.setSingleShot(true);
    m_delayedConnectedTimer.setSingleShot(true);
    m_delayedConnectedTimer.setInterval(500);

    connect(this, &ESL2::sigConnect, this, &ESL2::_connect, Qt::QueuedConnection);
    connect(this, &ESL2::sigSendRequest, this, &ESL2::request, Qt::QueuedConnection);
    connect(m_socket, &QTcpSocket::connected, this, &ESL2::_connected);
    connect(m_socket, &QTcpSocket::hostFound, this, &ESL2::hostFound);
    connect(m_socket, &QTcpSocket::readyRead, this, &ESL2::readyRead);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &ESL2::socketError);
    connect(&m_requestTimer, &QTimer::timeout, this, &ESL2::reqTimeout);
    connect(&m_reconnectTimer, &QTimer::timeout, this, &ESL2::reconnectTimeout);
    connect(&m_delayedConnectedTimer, &QTimer::timeout, this, &ESL2::connected);

    liveInstances().append(this);
}

ESL2::~ESL2()
{
    resetConnection();
    m_requestTimer.stop();
    m_reconnectTimer.stop();
    m_delayedConnectedTimer.stop();
    // The socket must not call back into a half-destroyed client.
    m_socket->disconnect(this);
    delete m_socket;
    m_socket = nullptr;
    liveInstances().removeOne(this);
}

ESL2 *ESL2::instance()
{
    const QList<ESL2 *> &list = liveInstances();
    return list.isEmpty() ? nullptr : list.last();
}

void ESL2::sendRequest(const QString &request)
{
    emit sigSendRequest(request, nullptr, QString(), QVariant());
}

void ESL2::sendRequest(const QString &request, QObject *receiver, const QString &slot,
                       const QVariant &context)
{
    emit sigSendRequest(request, receiver, slot, context);
}

void ESL2::setTimerIntervalsForTest(int requestMs, int reconnectMs, int delayedConnectedMs)
{
    m_requestTimeout = requestMs;
    m_reconnectInterval = reconnectMs;
    m_delayedConnectedTimer.setInterval(delayedConnectedMs);
}

void ESL2::_connect(QString host, int port, QString password)
{
    if (m_authenticated && host == m_host && port == m_port && password == m_password)
        return;
    m_host = host;
    m_port = port;
    m_password = password;
    startConnection();
}

void ESL2::startConnection()
{
    resetConnection();
    m_parser->reset();
    m_socket->connectToHost(m_host, static_cast<quint16>(m_port), QIODevice::ReadWrite,
                            QAbstractSocket::AnyIPProtocol);
}

void ESL2::hostFound()
{}

void ESL2::_connected()
{}

void ESL2::failWaitingRequests()
{
    const QList<RequestRecord> queue = m_queue;
    m_queue.clear();
    for (const RequestRecord &record : queue) {
        if (record.hasReceiver)
            deliverReply(record.receiver, record.slot, QString(), record.context);
    }
    if (m_pending && m_hasReceiver)
        deliverReply(m_receiver, m_slot, QString(), m_context);
    m_hasReceiver = false;
    m_receiver = nullptr;
    m_slot.clear();
    m_context = QVariant();
}

void ESL2::resetConnection()
{
    ++m_connectionGeneration;
    if (m_authenticated) {
        m_authenticated = false;
        m_requestTimer.stop();
        emit disconnected(QStringLiteral("reconnect requested"));
        failWaitingRequests();
    }
    m_pending = false;
    m_requestTimer.stop();
    m_socket->abort();
    m_reconnectTimer.start(m_reconnectInterval);
}

void ESL2::disconnectFromServer()
{
    ++m_connectionGeneration;
    if (m_authenticated) {
        m_authenticated = false;
        m_requestTimer.stop();
        emit disconnected(QStringLiteral("disconnect requested"));
        failWaitingRequests();
    }
    m_pending = false;
    m_requestTimer.stop();
    m_socket->abort();
    // Stay down until the next sigConnect: a retry or a late connected() would undo the logout.
    m_reconnectTimer.stop();
    m_delayedConnectedTimer.stop();
}

void ESL2::reconnectTimeout()
{
    if (!m_host.isEmpty() && !m_password.isEmpty() && !m_authenticated)
        startConnection();
}

void ESL2::socketError(QAbstractSocket::SocketError socketError)
{
    const QString text = socketErrorText(socketError);
    qWarning() << "ESL2::socketError():" << text;
    emit connectError(text);
    resetConnection();
}

void ESL2::readyRead()
{
    while (m_socket->bytesAvailable() > 0) {
        const QByteArray chunk = m_socket->read(m_socket->bytesAvailable());
        if (chunk.isEmpty()) {
            qWarning("ESL2::readyRead(): getChar() error");
            return;
        }
        if (!consume(chunk.constData(), chunk.size()))
            return;
    }
}

bool ESL2::consume(const char *data, int size)
{
    const quint64 generation = m_connectionGeneration;
    int offset = 0;
    while (offset < size) {
        bool complete = false;
        offset += m_parser->feed(data + offset, size - offset, &complete);
        if (!complete)
            continue;
        processMessage(m_parser->message());
        if (generation != m_connectionGeneration)
            return false;
    }
    return true;
}

void ESL2::processMessage(Message &message)
{
    // A body is converted once, here: the log line and the delivery share that text. Replies run
    // to megabytes (the directory, the conference list), so every extra pass shows in a load.
    const bool debug = QLoggingCategory::defaultCategory()->isDebugEnabled();
    const bool secret = message.contentType == Message::Reply && m_pending && holdsSecrets(m_currentRequest);
    QString text;
    if (message.contentType == Message::Reply || message.contentType == Message::RudeRejection ||
        (debug && !secret))
        text = bodyText(message.body);
    if (debug) {
        if (secret)
            qDebug("ESL2: message received: reply of %d bytes to \"%s\" (not logged: it holds passwords)",
                   message.body.size(), qPrintable(firstLine(m_currentRequest)));
        else
            logReceived(message, text);
    }

    switch (message.contentType) {
    case Message::AuthRequest: {
        const QString auth = QStringLiteral("auth ") + m_password + QStringLiteral("\n\n");
        if (!isSingleCommand(auth.toUtf8())) {
            qWarning() << "ESL2: refusing a request with an embedded empty line:"
                       << "auth **********";
            message.clear();
            emit disconnected(QStringLiteral("Ошибка аутентификации"));
            resetConnection();
            return;
        }
        send_request(auth);
        break;
    }
    case Message::Reply:
        processReply(message, std::move(text));
        break;
    case Message::EventPlain:
        qWarning("ESL2: Plain event format not supported");
        break;
    case Message::EventXml:
        qWarning("ESL2: XML event format not supported");
        break;
    case Message::EventJson:
        processJsonEvent(message);
        break;
    case Message::RudeRejection: {
        const QString reason = QStringLiteral("Отказ в доступе к FreeSwitch: ") + text;
        message.clear();
        emit disconnected(reason);
        resetConnection();
        return;
    }
    default:
        qWarning("ESL2::processMessage(): unknown message type");
        break;
    }
    message.clear();
}

void ESL2::logReceived(const Message &message, const QString &bodyText)
{
    // The same text as "received:\n" + toText(): header lines, an empty line, the body up to
    // its first zero byte. Built in one buffer and handed to the message handler as it is,
    // since streaming a megabyte reply through QDebug costs more than the whole reply's parse.
    qsizetype size = 32 + bodyText.size();
    for (const auto &header : message.headers)
        size += header.first.size() + header.second.size() + 3;
    QString text;
    text.reserve(int(size));
    text += QLatin1String("ESL2: message received:\n");
    for (const auto &header : message.headers) {
        text += header.first;
        text += QLatin1String(": ");
        text += header.second;
        text += QLatin1Char('\n');
    }
    text += QLatin1Char('\n');
    text += bodyText;
    qt_message_output(QtDebugMsg, QMessageLogContext(nullptr, 0, nullptr, "default"), text);
}

void ESL2::processReply(const Message &message, QString &&bodyText)
{
    if (!m_pending) {
        qWarning("ESL2::processMessage(): unexpected command reply received");
        return;
    }
    m_pending = false;
    m_requestTimer.stop();
    if (m_dead) {
        qWarning("ESL connection is alive");
        m_dead = false;
        emit connectionIsDead(false);
    }

    if (!m_authenticated) {
        if (message.replyText == QLatin1String("+OK accepted")) {
            m_authenticated = true;
            ++m_sessionNumber;
            emit connected();
            // A connected() handler may have torn the connection down again.
            if (m_authenticated && !m_pending) {
                m_hasReceiver = false;
                m_receiver = nullptr;
                m_slot.clear();
                m_context = QVariant();
                send_request(QString::fromLatin1(kSubscription));
            }
        } else {
            emit disconnected(QStringLiteral("Ошибка аутентификации"));
            resetConnection();
        }
        return;
    }

    // A reply without a body answers in its Reply-Text header.
    const QString reply = message.body.isEmpty() ? message.replyText : std::move(bodyText);
    if (!m_hasReceiver) {
        if (reply.contains(QLatin1String("-ERR")))
            qWarning() << "ESL2:" << m_currentRequest << "returned error:" << reply;
    } else {
        deliverReply(m_receiver, m_slot, reply, m_context);
        m_hasReceiver = false;
        m_receiver = nullptr;
        m_slot.clear();
        m_context = QVariant();
    }

    if (m_queue.isEmpty()) {
        m_requestTimer.start(m_requestTimeout);
        return;
    }
    sendNext(m_queue.takeFirst());
}

void ESL2::processJsonEvent(const Message &message)
{
    Event ev;
    QString name;
    QString subclass;
    if (!EslParser::decodeJsonEvent(message.body, &ev, &name, &subclass))
        return;

    emit event(ev);

    if (name == QLatin1String("PRESENCE_IN")) {
        emit presence(ev);
    } else if (name == QLatin1String("BACKGROUND_JOB")) {
        emit backgroundJob(ev);
    } else if (name == QLatin1String("RELOADXML")) {
        emit connected();
    } else if (name == QLatin1String("MODULE_LOAD")) {
        // The SIP module has just (re)loaded; give it a moment before listeners reload.
        if (ev.value(QStringLiteral("key")) == QLatin1String("mod_sofia"))
            m_delayedConnectedTimer.start();
    } else if (name == QLatin1String("CUSTOM")) {
        if (subclass == QLatin1String("sofia::register") || subclass == QLatin1String("sofia::unregister") ||
            subclass == QLatin1String("sofia::expire")) {
            emit registeredEvent(ev);
        } else if (subclass == QLatin1String("conference::maintenance") ||
                   subclass == QLatin1String("alert::notify")) {
            emit conferenceEvent(ev);
        }
    } else {
        qWarning() << "ESL2: unknown event name:" << name;
    }
}

void ESL2::request(QString r, QObject *obj, QString m, QVariant ctx)
{
    if (!isSingleCommand(r.toUtf8())) {
        qWarning() << "ESL2: refusing a request with an embedded empty line:" << firstLine(r);
        if (obj)
            deliverReply(obj, m, QString(), ctx);
        return;
    }
    if (!m_authenticated) {
        if (obj)
            deliverReply(obj, m, QString(), ctx);
        return;
    }
    RequestRecord record;
    record.text = r;
    record.receiver = obj;
    record.hasReceiver = obj != nullptr;
    record.slot = m;
    record.context = ctx;
    if (m_pending) {
        m_queue.append(record);
        return;
    }
    sendNext(record);
}

void ESL2::sendNext(const RequestRecord &record)
{
    m_receiver = record.receiver;
    m_hasReceiver = record.hasReceiver;
    m_slot = record.slot;
    m_context = record.context;
    send_request(record.text);
}

void ESL2::send_request(const QString &request)
{
    if (m_pending) {
        qCritical("ESL2::send_request(): error: another request awaiting for response");
        return;
    }
    m_currentRequest = request;
    if (request.startsWith(QLatin1String("auth ")))
        qDebug() << "ESL2: sending request:" << QStringLiteral("auth **********\n\n");
    else
        qDebug() << "ESL2: sending request:" << request;
    m_requestTimer.stop();
    m_pending = true;
    m_socket->write(request.toUtf8());
    m_requestTimer.start(m_requestTimeout);
}

void ESL2::reqTimeout()
{
    if (!m_pending) {
        if (!m_authenticated)
            return;
        m_hasReceiver = false;
        m_receiver = nullptr;
        m_slot.clear();
        m_context = QVariant();
        send_request(QStringLiteral("api version\n\n"));
        return;
    }
    if (!m_dead) {
        qWarning("ESL connection is dead");
        m_dead = true;
        emit connectionIsDead(true);
    }
}

void ESL2::deliverReply(const QPointer<QObject> &receiver, const QString &slot, const QString &reply,
                        const QVariant &context)
{
    // A receiver that went away in the meantime simply gets nothing.
    if (!receiver)
        return;
    const QByteArray method = slot.toLatin1();
    if (!QMetaObject::invokeMethod(receiver.data(), method.constData(), Qt::QueuedConnection,
                                   Q_ARG(QString, reply), Q_ARG(QVariant, context))) {
        qWarning() << "ESL2: cannot deliver the reply to" << receiver->metaObject()->className() << "slot"
                   << slot;
    }
}
