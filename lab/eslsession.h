#pragma once

#include "lab/eslrequestparser.h"

#include <QByteArray>
#include <QObject>
#include <QSet>
#include <QString>

class LabEvent;
class LabServer;
class QTcpSocket;

// One client connection of the lab's event socket: greeting, authentication, event
// subscription, and the api/bgapi/sendevent/exit commands. Requests are answered one at a
// time in arrival order, as the real server does per connection. Owned by LabServer, lives
// on the lab's thread; deletes itself after the client is gone.
class EslSession final : public QObject
{
    Q_OBJECT
public:
    EslSession(QTcpSocket *socket, LabServer *server);
    ~EslSession() override;

    void greet();
    // Refuses the client: "text/rude-rejection", the disconnect notice, then close.
    void rudeReject();
    // Writes the event frame when this connection subscribed to it.
    void deliver(const LabEvent &event);
    bool wantsEvent(const LabEvent &event) const;
    void sendRaw(const QByteArray &bytes);
    void abort();
    bool authenticated() const { return m_authenticated; }

signals:
    void closed(EslSession *session);

private:
    void readyRead();
    void processNext();
    void handle(const EslRequest &request);
    void subscribe(const QString &args);
    void commandReply(const QString &text, const QByteArray &extraHeaders = QByteArray());
    void apiResponse(const QString &body);
    void finish(const QByteArray &reply);
    void sendNoticeAndClose();

    QTcpSocket *m_socket;
    LabServer *m_server;
    EslRequestParser m_parser;
    bool m_authenticated = false;
    bool m_busy = false;     // a request is being answered
    bool m_inHandle = false; // inside handle(): replies must not start the next request recursively
    bool m_closing = false;
    bool m_allEvents = false;
    bool m_plain = false;
    QSet<QString> m_events;
    QSet<QString> m_subclasses;
};
