#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

class QTcpServer;
class QTcpSocket;

// A scripted stand-in for the telephony server's event socket, for tests. Listens on
// 127.0.0.1 on a free port and speaks the real wire format (see the reference transcripts):
//
//   FakeEslServer server;                      // listening at once; default password "ClueCon"
//   esl.setTimerIntervalsForTest(200, 300, 50);
//   emit esl.sigConnect(server.host(), server.port(), server.password());
//   QTRY_VERIFY(server.isAuthenticated());     // greeting, auth and subscription went through
//
//   server.addApiReply("api list_users", body);                  // exact command
//   server.addApiReply("api user_data ", "-ERR no reply\n", FakeEslServer::Prefix);
//   server.addCommandReply(QRegularExpression("^bgapi originate"), "+OK Job-UUID: 1234");
//   server.sendEvent({{"Event-Name", "PRESENCE_IN"}, {"from", "1001@127.0.0.1"}});
//
// Commands are matched without their terminating blank line ("api version"); for a sendevent
// the whole header block is matched. The first matching rule wins (rules are tried in the
// order added); without a match the default replies apply:
//   "api version"        -> api/response "FreeSWITCH Version 1.11.1-release~64bit ( 64bit)\n"
//   "api create_uuid"    -> api/response with a fresh UUID (recorded in createdUuids())
//   other "api ..."      -> api/response "-ERR <command> Command not found!\n"
//   "event json ..."     -> command/reply "+OK event listener enabled json" (marks subscribed)
//   "bgapi ..."          -> command/reply "+OK Job-UUID: <fresh uuid>" (+ Job-UUID header)
//   "sendevent ..."      -> command/reply "+OK <uuid>" and, when subscribed, the event comes back
//                           as a JSON event with an extra "Command" field, like the real server
//   anything else        -> command/reply "-ERR command not found"
//
// Every request (auth included) is recorded in requests() and announced by requestReceived().
// With setHoldReplies(true) requests (but not "auth") are recorded and left unanswered; answer them
// later in order with releaseHeldReply().
// One client at a time: a new connection replaces the previous one. Single thread (the test's).
class FakeEslServer : public QObject
{
    Q_OBJECT

public:
    enum MatchMode {
        Exact,
        Prefix,
    };

    explicit FakeEslServer(QObject *parent = nullptr);
    ~FakeEslServer() override;

    QString host() const { return QStringLiteral("127.0.0.1"); }
    int port() const;

    // The password accepted by "auth"; anything else gets "-ERR invalid", the disconnect notice
    // and a closed connection, as the real server does.
    void setPassword(const QString &password) { m_password = password; }
    QString password() const { return m_password; }

    // When set, new connections get the rude rejection ("Access Denied, go away.\n"), the
    // disconnect notice and are closed, like a client address refused by the server's ACL.
    void setRejectConnections(bool reject) { m_rejectConnections = reject; }

    // Canned replies. An api/response carries body as its body; a command/reply carries
    // replyText in its Reply-Text header (and no body).
    void addApiReply(const QString &command, const QString &body, MatchMode mode = Exact)
    {
        m_rules.append({command, QRegularExpression(), mode, true, body});
    }
    void addCommandReply(const QString &command, const QString &replyText, MatchMode mode = Exact)
    {
        m_rules.append({command, QRegularExpression(), mode, false, replyText});
    }
    void addCommandReply(const QRegularExpression &pattern, const QString &replyText)
    {
        m_rules.append({QString(), pattern, Exact, false, replyText});
    }
    void clearReplies() { m_rules.clear(); }

    // Silence: requests are recorded but not answered until released (or forever).
    void setHoldReplies(bool hold) { m_hold = hold; }
    int heldCount() const { return m_held.size(); }
    // Answers the oldest held request with its canned or default reply; false if none held.
    bool releaseHeldReply();

    // Everything received, in order, each request as sent (with its blank line and any body).
    QStringList requests() const { return m_requests; }
    // The requests without their terminating blank line, excluding the "auth" request.
    QStringList commands() const;
    int countRequests(const QString &command) const { return commands().count(command); }
    void clearRequests() { m_requests.clear(); }

    bool isAuthenticated() const { return m_authenticated; }
    bool isSubscribed() const { return m_subscribed; }
    int connectionCount() const { return m_connectionCount; }
    // Job UUIDs handed out by default bgapi replies, in order.
    QStringList jobUuids() const { return m_jobUuids; }
    // Channel UUIDs handed out by default create_uuid replies, in order.
    QStringList createdUuids() const { return m_createdUuids; }

    // Server-initiated traffic to the current client.
    void sendEvent(const QMap<QString, QString> &fields);
    void sendRaw(const QByteArray &bytes);
    // Closes the current connection (the client sees the remote host close it).
    void closeConnection();

    // A command/reply frame, exactly as the real server writes it.
    static QByteArray commandReplyFrame(const QString &replyText, const QString &extraHeaders = QString());

signals:
    void requestReceived(const QString &request);

private:
    struct Rule
    {
        QString command;
        QRegularExpression pattern; // used when command is empty
        MatchMode mode = Exact;
        bool api = true;
        QString reply;
    };

    void onNewConnection();
    void onReadyRead();
    void handleRequest(const QString &request);
    void answer(const QString &request);
    QByteArray replyFor(const QString &request, QByteArray *echoEvent);
    void rudeReject();
    void writeToClient(const QByteArray &bytes);

    QTcpServer *m_server = nullptr;
    QPointer<QTcpSocket> m_client;
    QByteArray m_buffer;
    QString m_password = QStringLiteral("ClueCon");
    bool m_rejectConnections = false;
    bool m_authenticated = false;
    bool m_subscribed = false;
    bool m_hold = false;
    int m_connectionCount = 0;
    QList<Rule> m_rules;
    QStringList m_held;
    QStringList m_requests;
    QStringList m_jobUuids;
    QStringList m_createdUuids;
};
