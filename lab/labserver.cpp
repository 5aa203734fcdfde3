#include "lab/labserver.h"

#include "lab/eslsession.h"
#include "lab/labcalls.h"
#include "lab/labconferences.h"
#include "lab/labdirectory.h"
#include "lab/labevent.h"
#include "lab/labkeyvaluestore.h"
#include "lab/labxmllocate.h"
#include "lab/labsipstack.h"

#include <QDebug>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtMath>

LabServer::LabServer(const LabConfig &config, QObject *parent)
    : QObject(parent)
    , m_config(config)
    , m_tcp(new QTcpServer(this))
    , m_directory(std::make_unique<LabDirectory>(config.domain))
    , m_store(std::make_unique<LabKeyValueStore>())
    , m_conferences(new LabConferences(this))
    , m_calls(new LabCalls(this))
{
    connect(m_tcp, &QTcpServer::newConnection, this, &LabServer::onNewConnection);
}

LabServer::~LabServer()
{
    // Sessions and calls refer back to the server; take them down while it is still whole.
    delete m_sip;
    m_sip = nullptr;
    delete m_calls;
    m_calls = nullptr;
    for (EslSession *s : qAsConst(m_sessions)) {
        s->disconnect(this);
        delete s;
    }
    m_sessions.clear();
}

bool LabServer::start(QString *error)
{
    if (!m_config.directory.isEmpty()) {
        QString loadError;
        if (!m_directory->load(m_config.directory, &loadError)) {
            if (error)
                *error = loadError;
            return false;
        }
    }
    if (!m_config.sipListen.isEmpty() && !m_sip) {
        m_sip = new LabSipStack(this);
        QString sipError;
        if (!m_sip->start(m_config.sipListen, &sipError)) {
            delete m_sip;
            m_sip = nullptr;
            if (error)
                *error = sipError;
            return false;
        }
    }
    return listen(error);
}

bool LabServer::listen(QString *error)
{
    if (!m_tcp->listen(m_config.listenAddress, m_port ? m_port : m_config.listenPort)) {
        if (error)
            *error = m_tcp->errorString();
        return false;
    }
    m_port = m_tcp->serverPort();
    return true;
}

void LabServer::setRefuse(bool on)
{
    // Closing the listener makes new clients see "connection refused", like a stopped server.
    m_refuse = on;
    if (on)
        m_tcp->close();
    else if (!m_tcp->isListening() && !listen(nullptr))
        qWarning() << "tesmar-lab: cannot listen again on port" << m_port;
}

bool LabServer::allowed(const QHostAddress &address) const
{
    if (m_config.allow.isEmpty())
        return true;
    QHostAddress peer = address;
    bool ok = false;
    const quint32 v4 = peer.toIPv4Address(&ok);
    if (ok)
        peer = QHostAddress(v4);
    for (const QString &entry : m_config.allow) {
        const QPair<QHostAddress, int> subnet = QHostAddress::parseSubnet(
            entry.contains(QLatin1Char('/')) ? entry : entry + QStringLiteral("/32"));
        if (subnet.first.isNull())
            continue;
        if (peer.isInSubnet(subnet))
            return true;
    }
    return false;
}

void LabServer::onNewConnection()
{
    while (QTcpSocket *socket = m_tcp->nextPendingConnection()) {
        auto *session = new EslSession(socket, this);
        connect(session, &EslSession::closed, this, [this](EslSession *s) { m_sessions.removeAll(s); });
        m_sessions.append(session);
        if (m_rudeToNew || !allowed(socket->peerAddress())) {
            qInfo() << "tesmar-lab: refusing client" << socket->peerAddress().toString();
            session->rudeReject();
            continue;
        }
        session->greet();
    }
}

void LabServer::publish(const LabEvent &event)
{
    const QList<EslSession *> sessions = m_sessions;
    for (EslSession *s : sessions)
        s->deliver(event);
}

int LabServer::scaledMs(double seconds) const
{
    return qMax(0, qRound(seconds * 1000.0 * m_config.timeScale));
}

void LabServer::closeAll()
{
    const QList<EslSession *> sessions = m_sessions;
    for (EslSession *s : sessions)
        s->abort();
}

void LabServer::rejectAll()
{
    const QList<EslSession *> sessions = m_sessions;
    for (EslSession *s : sessions)
        s->rudeReject();
}

void LabServer::sendMalformed(Malformed kind)
{
    QByteArray bytes;
    switch (kind) {
    case Malformed::BadLength:
        bytes = "Content-Type: api/response\nContent-Length: twelve\n\n";
        break;
    case Malformed::BadJson:
        bytes = "Content-Length: 16\nContent-Type: text/event-json\n\n{\"Event-Name\":[1";
        break;
    case Malformed::Garbage:
        static const char garbage[] = "\x01\x02garbage without colon\n\xff\xfe\n\n";
        bytes = QByteArray(garbage, sizeof(garbage) - 1);
        break;
    case Malformed::Truncated:
        // Announces more body than it sends: the client waits for the rest.
        bytes = "Content-Length: 5000\nContent-Type: text/event-json\n\n{\"Event-Name\":\"CUSTOM\"";
        break;
    }
    const QList<EslSession *> sessions = m_sessions;
    for (EslSession *s : sessions) {
        if (s->authenticated())
            s->sendRaw(bytes);
    }
}

void LabServer::moduleLoad()
{
    LabEvent e =
        LabEvent::create(QStringLiteral("MODULE_LOAD"), QString(), QStringLiteral("switch_loadable_module.c"),
                         QStringLiteral("switch_loadable_module_process"), 174);
    e.add(QStringLiteral("type"), QStringLiteral("endpoint"));
    e.add(QStringLiteral("name"), QStringLiteral("sofia"));
    e.add(QStringLiteral("key"), QStringLiteral("mod_sofia"));
    e.add(QStringLiteral("filename"), QStringLiteral("/usr/lib/freeswitch/mod/mod_sofia.so"));
    publish(e);
}

QString LabServer::reloadXml()
{
    if (!m_config.directory.isEmpty()) {
        QString error;
        if (!m_directory->load(m_config.directory, &error)) {
            qWarning() << "tesmar-lab: reloadxml:" << error;
            return QStringLiteral("-ERR [") + error + QStringLiteral("]\n");
        }
    }
    publish(LabEvent::create(QStringLiteral("RELOADXML"), QString(), QStringLiteral("switch_xml.c"),
                             QStringLiteral("switch_xml_open_root"), 2421));
    return QStringLiteral("+OK [Success]\n");
}

void LabServer::runApi(const QString &line, const Reply &done)
{
    const QString trimmed = line.trimmed();
    const int space = trimmed.indexOf(QLatin1Char(' '));
    const QString cmd = space < 0 ? trimmed : trimmed.left(space);
    const QString args = space < 0 ? QString() : trimmed.mid(space + 1).trimmed();

    if (cmd == QLatin1String("version")) {
        done(QStringLiteral("FreeSWITCH Version 1.11.1-release~64bit ( 64bit)\n"));
    } else if (cmd == QLatin1String("list_users")) {
        done(m_directory->listUsers(args));
    } else if (cmd == QLatin1String("user_data")) {
        done(m_directory->userData(args));
    } else if (cmd == QLatin1String("xml_locate")) {
        done(LabXmlLocate::answer(*m_directory, args));
    } else if (cmd == QLatin1String("user_exists")) {
        done(m_directory->userExists(args));
    } else if (cmd == QLatin1String("reloadxml")) {
        done(reloadXml());
    } else if (cmd == QLatin1String("reload") && args == QLatin1String("mod_sofia")) {
        done(QStringLiteral("+OK Reloading XML\n+OK module unloaded\n+OK module loaded\n"));
        moduleLoad();
    } else if (cmd == QLatin1String("create_uuid")) {
        done(LabEvent::newUuid());
    } else if (cmd == QLatin1String("conference")) {
        done(m_conferences->api(args));
    } else if (cmd == QLatin1String("originate")) {
        m_calls->originate(args, done);
    } else if (cmd == QLatin1String("uuid_kill")) {
        done(m_calls->kill(args.section(QLatin1Char(' '), 0, 0)));
    } else if (cmd == QLatin1String("show") && args == QLatin1String("channels")) {
        done(m_calls->showChannels());
    } else if (cmd == QLatin1String("db")) {
        done(m_store->command(args));
    } else {
        done(QStringLiteral("-ERR ") + cmd + QStringLiteral(" Command not found!\n"));
    }
}
