#include "tests/lab/labclient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>

bool LabClient::waitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!condition()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QTest::qWait(2);
    }
    return true;
}

bool LabClient::connectTo(quint16 port, int timeoutMs)
{
    connect(&m_socket, &QTcpSocket::readyRead, this, &LabClient::readAvailable, Qt::UniqueConnection);
    // The server may close at once (refusal); having been connected is what counts here.
    connect(&m_socket, &QTcpSocket::connected, this, [this] { m_connected = true; });
    m_socket.connectToHost(QHostAddress::LocalHost, port);
    return waitUntil([this] { return m_connected; }, timeoutMs);
}

bool LabClient::login(quint16 port, const QByteArray &password, bool subscribe)
{
    if (!connectTo(port))
        return false;
    if (nextFrame().header("Content-Type") != "auth/request")
        return false;
    if (request("auth " + password + "\n\n").header("Reply-Text") != "+OK accepted")
        return false;
    if (!subscribe)
        return true;
    return request("event json PRESENCE_IN RELOADXML BACKGROUND_JOB MODULE_LOAD CUSTOM sofia::register "
                   "sofia::expire sofia::unregister conference::maintenance alert::notify\n\n")
        .header("Reply-Text")
        .startsWith("+OK");
}

void LabClient::send(const QByteArray &bytes)
{
    m_socket.write(bytes);
    m_socket.flush();
}

LabFrame LabClient::request(const QByteArray &command, int timeoutMs)
{
    send(command);
    return nextReply(timeoutMs);
}

void LabClient::readAvailable()
{
    m_buffer.append(m_socket.readAll());
    while (parseOne()) {
    }
}

bool LabClient::parseOne()
{
    const int end = m_buffer.indexOf("\n\n");
    if (end < 0)
        return false;
    LabFrame f;
    int length = 0;
    for (const QByteArray &line : m_buffer.left(end).split('\n')) {
        const int colon = line.indexOf(':');
        if (colon < 0)
            continue;
        const QByteArray name = line.left(colon).trimmed();
        const QByteArray value = line.mid(colon + 1).trimmed();
        f.headers.append(qMakePair(name, value));
        if (name.compare("Content-Length", Qt::CaseInsensitive) == 0)
            length = value.toInt();
    }
    if (m_buffer.size() < end + 2 + length)
        return false;
    f.body = m_buffer.mid(end + 2, length);
    f.raw = m_buffer.left(end + 2 + length);
    m_buffer.remove(0, end + 2 + length);
    m_frames.append(f);
    return true;
}

LabFrame LabClient::nextFrame(int timeoutMs)
{
    if (!waitUntil([this] { return !m_frames.isEmpty(); }, timeoutMs))
        return LabFrame();
    return m_frames.takeFirst();
}

LabFrame LabClient::nextReply(int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    for (;;) {
        const int left = timeoutMs - int(t.elapsed());
        if (left < 0)
            return LabFrame();
        LabFrame f = nextFrame(left);
        if (!f.isValid())
            return f;
        if (!f.isEvent())
            return f;
        m_events.append(f);
    }
}

LabFrame LabClient::waitEvent(const std::function<bool(const LabFrame &)> &match, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    for (;;) {
        for (int i = 0; i < m_events.size(); ++i) {
            if (match(m_events[i]))
                return m_events.takeAt(i);
        }
        for (int i = 0; i < m_frames.size(); ++i) {
            if (!m_frames[i].isEvent())
                continue;
            // Events before the match stay available, in order, for later waits.
            if (match(m_frames[i])) {
                for (int j = 0; j < i; ++j) {
                    if (m_frames[j].isEvent())
                        m_events.append(m_frames[j]);
                }
                LabFrame found = m_frames[i];
                QList<LabFrame> rest;
                for (int j = 0; j < m_frames.size(); ++j) {
                    if (j > i || (j < i && !m_frames[j].isEvent()))
                        rest.append(m_frames[j]);
                }
                m_frames = rest;
                return found;
            }
        }
        if (t.elapsed() > timeoutMs)
            return LabFrame();
        QTest::qWait(2);
    }
}

LabFrame LabClient::waitAction(const QString &action, int timeoutMs)
{
    return waitEvent([action](const LabFrame &f) { return f.field(QStringLiteral("Action")) == action; },
                     timeoutMs);
}

QList<LabFrame> LabClient::takeEvents()
{
    QList<LabFrame> all = m_events;
    m_events.clear();
    QList<LabFrame> rest;
    for (const LabFrame &f : qAsConst(m_frames)) {
        if (f.isEvent())
            all.append(f);
        else
            rest.append(f);
    }
    m_frames = rest;
    return all;
}

bool LabClient::waitClosed(int timeoutMs)
{
    return waitUntil([this] { return m_socket.state() == QAbstractSocket::UnconnectedState; }, timeoutMs);
}
