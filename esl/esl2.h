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

    // For tests only: shorten the request (5000 ms), reconnect (10000 ms) and
    // delayed-connected (500 ms) periods.
    void setTimerIntervalsForTest(int requestMs, int reconnectMs, int delayedConnectedMs);

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
    // Implementation details are the client's own; see esl2.cpp.
    bool m_authenticated = false;
    bool m_dead = false;
};

Q_DECLARE_METATYPE(ESL2::Event)
