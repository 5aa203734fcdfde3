#include "lab/labcontrol.h"

#include "lab/labcalls.h"
#include "lab/labconferences.h"
#include "lab/labdirectory.h"
#include "lab/labkeyvaluestore.h"
#include "lab/labserver.h"

#include <QDebug>
#include <QFile>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {

const char Help[] = "register <id> [sip:contact] | unregister <id> | expire <id>\n"
                    "behaviour <id> answer [s]|busy [s]|noanswer|reject [s]|nonexistent\n"
                    "pstn <prefix|*> <behaviour>\n"
                    "talk <id|context:number> start|stop\n"
                    "hangup <uuid> | module_load | reloadxml | api <command> | db | users | conferences\n"
                    "allow <entry,...|any> | sleep <ms>\n"
                    "fault silence on|off | fault delay <ms> | fault close | fault refuse on|off\n"
                    "fault rude on|off|now | fault malformed badlength|badjson|garbage|truncated\n";

bool onOff(const QString &word, bool *value)
{
    if (word == QLatin1String("on"))
        *value = true;
    else if (word == QLatin1String("off"))
        *value = false;
    else
        return false;
    return true;
}

} // namespace

LabControl::LabControl(LabServer *server, QObject *parent) : QObject(parent), m_server(server)
{}

bool LabControl::listen(quint16 port, QString *error)
{
    m_tcp = new QTcpServer(this);
    connect(m_tcp, &QTcpServer::newConnection, this, &LabControl::onNewConnection);
    if (!m_tcp->listen(QHostAddress::LocalHost, port)) {
        *error = m_tcp->errorString();
        return false;
    }
    return true;
}

quint16 LabControl::port() const
{
    return m_tcp ? m_tcp->serverPort() : 0;
}

void LabControl::onNewConnection()
{
    while (QTcpSocket *socket = m_tcp->nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { pump(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_busy.remove(socket);
            socket->deleteLater();
        });
    }
}

void LabControl::pump(QTcpSocket *socket)
{
    // Commands of one connection run strictly in order, each after the previous reply.
    while (!m_busy.contains(socket) && socket->canReadLine()) {
        const QString line = QString::fromUtf8(socket->readLine()).trimmed();
        if (line.isEmpty())
            continue;
        m_busy.insert(socket);
        QPointer<QTcpSocket> guard(socket);
        execute(line, [this, guard](const QString &status, const QByteArray &data) {
            if (!guard)
                return;
            guard->write(status.toUtf8() + '\n' + data);
            m_busy.remove(guard);
            QTimer::singleShot(0, guard, [this, guard] {
                if (guard)
                    pump(guard);
            });
        });
    }
}

QString LabControl::registerUser(const QStringList &words)
{
    LabDirectory &dir = m_server->directory();
    const QString id = words.value(1);
    if (!dir.user(id))
        return QStringLiteral("-ERR no such user ") + id;
    QString contact = words.value(2);
    if (contact.isEmpty())
        contact = QStringLiteral("sip:%1@127.0.0.1:%2").arg(id).arg(m_nextContactPort++);
    dir.setContact(id, contact);
    for (const LabEvent &e : dir.registerEvents(id, contact, 3600))
        m_server->publish(e);
    return QStringLiteral("+OK registered ") + id;
}

void LabControl::execute(const QString &line, const Reply &done)
{
    const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const QString cmd = words.value(0).toLower();
    LabDirectory &dir = m_server->directory();
    auto ok = [&](const QString &text = QString()) {
        done(text.isEmpty() ? QStringLiteral("+OK") : QStringLiteral("+OK ") + text, QByteArray());
    };
    auto err = [&](const QString &text) { done(QStringLiteral("-ERR ") + text, QByteArray()); };
    auto data = [&](const QString &text) {
        const QByteArray bytes = text.toUtf8();
        done(QStringLiteral("+OK %1").arg(bytes.size()), bytes);
    };

    if (cmd == QLatin1String("help")) {
        data(QString::fromLatin1(Help));
    } else if (cmd == QLatin1String("register")) {
        const QString r = registerUser(words);
        r.startsWith(QLatin1String("+OK")) ? ok(r.mid(4)) : err(r.mid(5));
    } else if (cmd == QLatin1String("unregister") || cmd == QLatin1String("expire")) {
        const QString id = words.value(1);
        const QString contact = dir.contact(id);
        if (contact.isEmpty())
            return err(QStringLiteral("not registered ") + id);
        dir.setContact(id, QString());
        if (cmd == QLatin1String("expire")) {
            m_server->publish(dir.expireEvent(id, contact));
        } else {
            for (const LabEvent &e : dir.unregisterEvents(id, contact))
                m_server->publish(e);
        }
        ok(cmd + QLatin1Char(' ') + id);
    } else if (cmd == QLatin1String("behaviour") || cmd == QLatin1String("behavior")) {
        LabBehaviour b;
        if (words.size() < 3 || !LabBehaviour::parse(words.mid(2), &b))
            return err(
                QStringLiteral("usage: behaviour <id> answer [s]|busy [s]|noanswer|reject [s]|nonexistent"));
        m_server->calls().setUserBehaviour(words[1], b);
        ok(words[1] + QLatin1Char(' ') + b.toString());
    } else if (cmd == QLatin1String("pstn")) {
        LabBehaviour b;
        if (words.size() < 3 || !LabBehaviour::parse(words.mid(2), &b))
            return err(QStringLiteral("usage: pstn <prefix|*> <behaviour>"));
        const QString prefix = words[1] == QLatin1String("*") ? QString() : words[1];
        m_server->calls().setPstnBehaviour(prefix, b);
        ok(words[1] + QLatin1Char(' ') + b.toString());
    } else if (cmd == QLatin1String("talk")) {
        const QString mode = words.value(2);
        if (words.size() < 3 || (mode != QLatin1String("start") && mode != QLatin1String("stop")))
            return err(QStringLiteral("usage: talk <id|context:number> start|stop"));
        const int n = m_server->conferences().setTalking(words[1], mode == QLatin1String("start"));
        n > 0 ? ok(QString::number(n)) : err(QStringLiteral("no such member ") + words[1]);
    } else if (cmd == QLatin1String("hangup")) {
        const QString r = m_server->calls().kill(words.value(1));
        r.startsWith(QLatin1String("+OK")) ? ok() : err(r.mid(5).trimmed());
    } else if (cmd == QLatin1String("module_load")) {
        m_server->moduleLoad();
        ok();
    } else if (cmd == QLatin1String("reloadxml")) {
        const QString r = m_server->reloadXml();
        r.startsWith(QLatin1String("+OK")) ? ok() : err(r.trimmed());
    } else if (cmd == QLatin1String("api")) {
        const QString command = line.section(QLatin1Char(' '), 1, -1, QString::SectionSkipEmpty);
        m_server->runApi(command, [done](const QString &reply) {
            const QByteArray bytes = reply.toUtf8();
            done(QStringLiteral("+OK %1").arg(bytes.size()), bytes);
        });
    } else if (cmd == QLatin1String("db")) {
        data(m_server->store().dump());
    } else if (cmd == QLatin1String("users")) {
        QString out;
        for (const QString &id : dir.userIds()) {
            const QString contact = dir.contact(id);
            out += id + QLatin1Char(' ') + (contact.isEmpty() ? QStringLiteral("unregistered") : contact) +
                   QLatin1Char(' ') + m_server->calls().userBehaviour(id).toString() + QLatin1Char('\n');
        }
        data(out);
    } else if (cmd == QLatin1String("conferences")) {
        data(m_server->conferences().xmlList());
    } else if (cmd == QLatin1String("allow")) {
        const QString list = words.value(1);
        m_server->setAllowList(list.isEmpty() || list == QLatin1String("any")
                                   ? QStringList()
                                   : list.split(QLatin1Char(','), Qt::SkipEmptyParts));
        ok();
    } else if (cmd == QLatin1String("sleep")) {
        bool valid = false;
        const int ms = words.value(1).toInt(&valid);
        if (!valid || ms < 0)
            return err(QStringLiteral("usage: sleep <ms>"));
        QTimer::singleShot(ms, this, [done] { done(QStringLiteral("+OK"), QByteArray()); });
    } else if (cmd == QLatin1String("fault")) {
        const QString kind = words.value(1);
        const QString arg = words.value(2);
        bool on = false;
        if (kind == QLatin1String("silence") && onOff(arg, &on)) {
            m_server->setSilent(on);
        } else if (kind == QLatin1String("delay") && !arg.isEmpty()) {
            m_server->setReplyDelayMs(qMax(0, arg.toInt()));
        } else if (kind == QLatin1String("close")) {
            m_server->closeAll();
        } else if (kind == QLatin1String("refuse") && onOff(arg, &on)) {
            m_server->setRefuse(on);
        } else if (kind == QLatin1String("rude") && arg == QLatin1String("now")) {
            m_server->rejectAll();
        } else if (kind == QLatin1String("rude") && onOff(arg, &on)) {
            m_server->setRudeToNew(on);
        } else if (kind == QLatin1String("malformed")) {
            if (arg == QLatin1String("badlength"))
                m_server->sendMalformed(LabServer::Malformed::BadLength);
            else if (arg == QLatin1String("badjson"))
                m_server->sendMalformed(LabServer::Malformed::BadJson);
            else if (arg == QLatin1String("garbage"))
                m_server->sendMalformed(LabServer::Malformed::Garbage);
            else if (arg == QLatin1String("truncated"))
                m_server->sendMalformed(LabServer::Malformed::Truncated);
            else
                return err(QStringLiteral("usage: fault malformed badlength|badjson|garbage|truncated"));
        } else {
            return err(QStringLiteral("unknown fault ") + kind);
        }
        ok(QStringLiteral("fault ") + kind);
    } else {
        err(QStringLiteral("unknown command ") + cmd);
    }
}

bool LabControl::runScript(const QString &path, QString *error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = path + QStringLiteral(": ") + f.errorString();
        return false;
    }
    QStringList lines;
    for (const QByteArray &raw : f.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (!line.isEmpty() && !line.startsWith(QLatin1Char('#')))
            lines.append(line);
    }
    QTimer::singleShot(0, this, [this, lines] { runScriptLine(lines, 0); });
    return true;
}

void LabControl::runScriptLine(const QStringList &lines, int index)
{
    if (index >= lines.size()) {
        emit scriptFinished();
        return;
    }
    QPointer<LabControl> self(this);
    execute(lines[index], [self, lines, index](const QString &status, const QByteArray &) {
        if (!self)
            return;
        if (status.startsWith(QLatin1String("-ERR")))
            qWarning() << "tesmar-lab: script:" << lines[index] << "->" << status;
        else
            qInfo() << "tesmar-lab: script:" << lines[index] << "->" << status;
        QTimer::singleShot(0, self, [self, lines, index] {
            if (self)
                self->runScriptLine(lines, index + 1);
        });
    });
}
