#pragma once

#include "tests/lab/labframe.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTcpSocket>
#include <functional>

// A bare event-socket client for the lab's tests: writes raw command text and cuts what
// comes back into frames. It does not share code with the console's client on purpose, so
// the two check each other. Everything waits by spinning the event loop, because the server
// under test runs on the same thread.
class LabClient : public QObject
{
    Q_OBJECT
public:
    using Match = std::function<bool(const LabFrame &)>;

    bool connectTo(quint16 port, int timeoutMs = 3000);
    // Reads the greeting, authenticates, and optionally subscribes like the console does.
    bool login(quint16 port, const QByteArray &password = "ClueCon", bool subscribe = true);

    void send(const QByteArray &bytes);
    // Sends a command and returns the next reply frame (command/reply or api/response).
    LabFrame request(const QByteArray &command, int timeoutMs = 3000);
    LabFrame api(const QByteArray &command) { return request("api " + command + "\n\n"); }
    // The first received frame of any kind, in arrival order.
    LabFrame nextFrame(int timeoutMs = 3000)
    {
        return take([](const LabFrame &) { return true; }, timeoutMs);
    }
    // The first non-event frame; events stay for waitEvent.
    LabFrame nextReply(int timeoutMs = 3000)
    {
        return take([](const LabFrame &f) { return !f.isEvent(); }, timeoutMs);
    }
    // Takes the first received event that matches, waiting for it when needed.
    LabFrame waitEvent(const Match &match, int timeoutMs = 3000);
    LabFrame waitEvent(const QString &field, const QString &value, int timeoutMs = 3000);
    LabFrame waitAction(const QString &action, int timeoutMs = 3000)
    {
        return waitEvent("Action", action, timeoutMs);
    }
    // Events received and not yet taken, in order.
    QList<LabFrame> takeEvents();
    // True once the server closed the connection (waits up to timeoutMs).
    bool waitClosed(int timeoutMs = 3000);
    QByteArray unparsed() const { return m_buffer; }

    static bool waitUntil(const std::function<bool()> &condition, int timeoutMs);

private:
    LabFrame take(const Match &match, int timeoutMs);
    void readAvailable();

    QTcpSocket m_socket;
    bool m_connected = false;
    QByteArray m_buffer;
    QList<LabFrame> m_frames; // parsed, not yet taken
};
