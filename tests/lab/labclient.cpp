#include "tests/lab/labclient.h"

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
    if (!connectTo(port) || nextFrame().header("Content-Type") != "auth/request" ||
        request("auth " + password + "\n\n").header("Reply-Text") != "+OK accepted")
        return false;
    return !subscribe ||
           request("event json PRESENCE_IN RELOADXML BACKGROUND_JOB MODULE_LOAD CUSTOM sofia::register "
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
    for (int end; (end = m_buffer.indexOf("\n\n")) >= 0;) {
        LabFrame f;
        int length = 0;
        for (const QByteArray &line : m_buffer.left(end).split('\n')) {
            const int colon = line.indexOf(':');
            if (colon < 0)
                continue;
            f.headers.append(qMakePair(line.left(colon).trimmed(), line.mid(colon + 1).trimmed()));
            if (f.headers.last().first.compare("Content-Length", Qt::CaseInsensitive) == 0)
                length = f.headers.last().second.toInt();
        }
        if (m_buffer.size() < end + 2 + length)
            return;
        f.body = m_buffer.mid(end + 2, length);
        f.raw = m_buffer.left(end + 2 + length);
        m_buffer.remove(0, end + 2 + length);
        m_frames.append(f);
    }
}

LabFrame LabClient::take(const Match &match, int timeoutMs)
{
    int i = 0;
    waitUntil(
        [&] {
            for (i = 0; i < m_frames.size(); ++i) {
                if (match(m_frames[i]))
                    return true;
            }
            return false;
        },
        timeoutMs);
    return i < m_frames.size() ? m_frames.takeAt(i) : LabFrame();
}

LabFrame LabClient::waitEvent(const Match &match, int timeoutMs)
{
    return take([&](const LabFrame &f) { return f.isEvent() && match(f); }, timeoutMs);
}

LabFrame LabClient::waitEvent(const QString &field, const QString &value, int timeoutMs)
{
    return waitEvent([&](const LabFrame &f) { return f.field(field) == value; }, timeoutMs);
}

QList<LabFrame> LabClient::takeEvents()
{
    QList<LabFrame> events, rest;
    for (const LabFrame &f : qAsConst(m_frames))
        (f.isEvent() ? events : rest).append(f);
    m_frames = rest;
    return events;
}

bool LabClient::waitClosed(int timeoutMs)
{
    return waitUntil([this] { return m_socket.state() == QAbstractSocket::UnconnectedState; }, timeoutMs);
}
