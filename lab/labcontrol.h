#pragma once

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>

class LabServer;
class QTcpServer;
class QTcpSocket;

// The lab's control interface: a line-based port on loopback and start-up scripts with the
// same commands. Registers simulated users, sets their behaviour, makes members talk and
// injects faults into the event socket. Each command gets one status line, "+OK ..." or
// "-ERR ...", data replies as "+OK <bytes>" followed by exactly that many bytes.
// Owned by main() or a test, next to the LabServer it drives.
class LabControl final : public QObject
{
    Q_OBJECT
public:
    using Reply = std::function<void(const QString &status, const QByteArray &data)>;

    explicit LabControl(LabServer *server, QObject *parent = nullptr);

    bool listen(quint16 port, QString *error);
    quint16 port() const;

    // Runs one command line; the reply may come later (api, sleep).
    void execute(const QString &line, const Reply &done);
    // Runs the lines of a script file one after another; false when it cannot be read.
    bool runScript(const QString &path, QString *error);

signals:
    void scriptFinished();

private:
    void onNewConnection();
    void pump(QTcpSocket *socket);
    void runScriptLine(const QStringList &lines, int index);
    QString registerUser(const QStringList &words);

    LabServer *m_server;
    QTcpServer *m_tcp = nullptr;
    QSet<QTcpSocket *> m_busy; // connections with a command still running
    int m_nextContactPort = 5100;
};
