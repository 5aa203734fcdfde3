#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QTcpSocket>
#include <QTimer>
#include <QVariant>

#include <memory>

class EslParser;

// The console's only link to the telephony server's event socket: framing, JSON
// event decoding and dispatch, authentication, subscription, one-at-a-time
// requests with queued replies, keep-alive, dead detection and reconnection.
// One process-wide instance (ESL2::instance()), living in the GUI thread.
class ESL2 : public QObject
{
    Q_OBJECT

public:
    // One server event: every string field of the JSON object, by name.
    using Event = QMap<QString, QString>;

    // One received message (header block plus optional body).
    class Message
    {
    public:
        enum MessageType {
            Unknown = 0,
            AuthRequest = 1,
            DisconnectNotice = 2,
            Reply = 3,
            EventPlain = 4,
            EventXml = 5,
            EventJson = 6,
            RudeRejection = 7,
        };

        virtual ~Message() = default;

        void addHeaderLine(const QString &line);
        QString toText() const;
        void clear();

        QList<QPair<QString, QString>> headers;
        int contentLength = 0;
        int contentType = Unknown;
        QByteArray body;
        QString replyText;
    };

    explicit ESL2(QObject *parent = nullptr);
    ~ESL2() override;

    // The process-wide instance: the most recently constructed live ESL2, or null.
    static ESL2 *instance();

    // Fire-and-forget request; an error reply is only logged.
    void sendRequest(const QString &request);
    // The reply arrives later as a queued call receiver->slot(QString reply, QVariant context);
    // an empty reply means no answer (not connected, or the connection was reset).
    void sendRequest(const QString &request, QObject *receiver, const QString &slot,
                     const QVariant &context = QVariant());

    void disconnectFromServer();

    bool isAuthenticated() const { return m_authenticated; }
    bool isDead() const { return m_dead; }
    // Pause between two connection attempts, in milliseconds.
    int reconnectInterval() const { return m_reconnectInterval; }
    // Grows by one with every accepted login on the socket: listeners of connected() tell a
    // new session (a load) from a reload that a server event asked for within the same one.
    quint64 sessionNumber() const { return m_sessionNumber; }

    // For tests only: shorten the request (5000 ms), reconnect (10000 ms) and
    // delayed-connected (500 ms) periods.
    void setTimerIntervalsForTest(int requestMs, int reconnectMs, int delayedConnectedMs);

// The signal event(Event) is part of the interface; it is not meant to override QObject::event().
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Woverloaded-virtual"
#endif
signals:
    void connected();
    void connectionIsDead(bool dead);
    void connectError(QString text);
    void disconnected(QString reason);
    void sigConnect(QString host, int port, QString password);
    void sigSendRequest(QString request, QObject *obj, QString method, QVariant ctx);
    void event(ESL2::Event event);
    void presence(ESL2::Event event);
    void backgroundJob(ESL2::Event event);
    void registeredEvent(ESL2::Event event);
    void conferenceEvent(ESL2::Event event);
#if defined(__clang__)
#pragma clang diagnostic pop
#endif

public slots:
    void _connect(QString host, int port, QString password);
    void hostFound();
    void _connected();
    void socketError(QAbstractSocket::SocketError socketError);
    void readyRead();
    void request(QString r, QObject *obj, QString m, QVariant ctx);
    void reqTimeout();
    void reconnectTimeout();

private:
    // Lets benchmarks and fuzz targets push bytes through consume() without a socket.
    friend struct ESL2TestAccess;

    // One request waiting for its turn on the wire.
    struct RequestRecord
    {
        QString text;
        QPointer<QObject> receiver;
        bool hasReceiver = false;
        QString slot;
        QVariant context;
    };

    // Frames and processes bytes received on the current connection; returns false when a
    // message handler tore the connection down (the rest belongs to the old connection).
    bool consume(const char *data, int size);
    void processMessage(Message &message);
    // bodyText: the body as text (up to its first zero byte), handed on to the receiver.
    void processReply(const Message &message, QString &&bodyText);
    void logReceived(const Message &message, const QString &bodyText);
    void processJsonEvent(const Message &message);
    void resetConnection();
    void startConnection();
    void send_request(const QString &request);
    void sendNext(const RequestRecord &record);
    void failWaitingRequests();
    void deliverReply(const QPointer<QObject> &receiver, const QString &slot, const QString &reply,
                      const QVariant &context);

    bool m_authenticated = false;
    bool m_dead = false;
    int m_requestTimeout = 5000;
    int m_reconnectInterval = 10000;
    bool m_pending = false;
    QString m_currentRequest;
    QPointer<QObject> m_receiver;
    bool m_hasReceiver = false;
    QString m_slot;
    QVariant m_context;
    QString m_host;
    int m_port = -1;
    QString m_password;
    QTcpSocket *m_socket = nullptr;
    QTimer m_requestTimer;
    QTimer m_reconnectTimer;
    QTimer m_delayedConnectedTimer;
    std::unique_ptr<EslParser> m_parser;
    QList<RequestRecord> m_queue;
    // Bumped whenever the connection is torn down, so that bytes still in hand from the old
    // connection are not processed after a message handler reset it.
    quint64 m_connectionGeneration = 0;
    quint64 m_sessionNumber = 0;
};

Q_DECLARE_METATYPE(ESL2::Event)
