#include "lab/labcalls.h"

#include "lab/labconferences.h"
#include "lab/labdialstring.h"
#include "lab/labdirectory.h"
#include "lab/labevent.h"
#include "lab/labsipstack.h"

#include <QDebug>
#include <QTimer>
#include <QVector>

struct LabCalls::Leg
{
    enum class Kind { User, Alarm, Answered, Pstn, Unknown };
    Kind kind = Kind::Unknown;
    QString target; // user URI or dialled number
    QString context;
    LabChannel channel;
    bool started = false;
    bool ringing = false;
    bool over = false;
};

struct LabCalls::Job
{
    LabServer::Reply done;
    LabDialString dial;
    QString conference;
    QVector<Leg> legs;
    QObject *timers = nullptr; // parent of this originate's timers; deleted when it ends
    bool finished = false;
    QString firstCause;
};

namespace {

// Simulated seconds of an originate variable, with a default.
double seconds(const QString &text, double fallback)
{
    bool ok = false;
    const double v = text.toDouble(&ok);
    return ok && v >= 0 ? v : fallback;
}

} // namespace

LabCalls::LabCalls(LabServer *server) : QObject(server), m_server(server)
{
    m_defaultUser.kind = LabBehaviour::Kind::Answer;
    m_defaultUser.seconds = 1.0;
    m_pstnBehaviours.insert(QString(), m_defaultUser);
    connect(&m_server->conferences(), &LabConferences::channelEnded, this, &LabCalls::channelEnded);
}

LabCalls::~LabCalls()
{
    for (const auto &job : qAsConst(m_ringing))
        job->finished = true;
}

LabBehaviour LabCalls::pstnBehaviour(const QString &number) const
{
    LabBehaviour best = m_pstnBehaviours.value(QString(), m_defaultUser);
    int bestLength = -1;
    for (auto it = m_pstnBehaviours.constBegin(); it != m_pstnBehaviours.constEnd(); ++it) {
        if (number.startsWith(it.key()) && it.key().size() > bestLength) {
            best = it.value();
            bestLength = it.key().size();
        }
    }
    return best;
}

void LabCalls::originate(const QString &args, const LabServer::Reply &done)
{
    auto job = std::make_shared<Job>();
    QString error;
    if (!LabDialString::parse(args, &job->dial, &error)) {
        qWarning() << "tesmar-lab: originate:" << error;
        done(QStringLiteral("-ERR INVALID_GATEWAY\n"));
        return;
    }
    job->done = done;
    job->conference = job->dial.conference();
    job->timers = new QObject(this);
    const QString domain = m_server->directory().domain();

    for (int i = 0; i < job->dial.legs.size(); ++i) {
        const QString endpoint = job->dial.legs[i].endpoint;
        Leg leg;
        if (endpoint.startsWith(QLatin1String("user/"))) {
            leg.kind = Leg::Kind::User;
            leg.target = endpoint.mid(5);
            if (!leg.target.contains(QLatin1Char('@')))
                leg.target += QLatin1Char('@') + domain;
        } else if (endpoint.startsWith(QLatin1String("loopback/"))) {
            const QStringList parts = endpoint.mid(9).split(QLatin1Char('/'));
            leg.target = parts.value(0);
            const QString second = parts.value(1);
            if (second == QLatin1String("alarm")) {
                leg.kind = Leg::Kind::Alarm;
            } else if (second == QLatin1String("answered")) {
                leg.kind = Leg::Kind::Answered;
            } else {
                leg.kind = Leg::Kind::Pstn;
                leg.context = second.isEmpty() ? QStringLiteral("default") : second;
            }
        }
        job->legs.append(leg);
    }

    const double timeoutSeconds = seconds(job->dial.globals.value(QStringLiteral("originate_timeout")), 60);
    QTimer::singleShot(m_server->scaledMs(timeoutSeconds), job->timers, [this, job] { timeout(job); });
    for (int i = 0; i < job->legs.size(); ++i) {
        const double delay = seconds(job->dial.var(i, QStringLiteral("leg_delay_start")), 0);
        if (delay <= 0) {
            startLeg(job, i);
        } else {
            QTimer::singleShot(m_server->scaledMs(delay), job->timers, [this, job, i] {
                if (!job->finished && !job->legs[i].started)
                    startLeg(job, i);
            });
        }
        if (job->finished)
            break;
    }
}

void LabCalls::startLeg(const std::shared_ptr<Job> &job, int index)
{
    Leg &leg = job->legs[index];
    leg.started = true;
    switch (leg.kind) {
    case Leg::Kind::User: {
        const QString id = m_server->directory().resolve(leg.target);
        if (id.isEmpty()) {
            failLeg(job, index, QStringLiteral("SUBSCRIBER_ABSENT"));
            return;
        }
        if (!m_server->directory().isRegistered(id)) {
            failLeg(job, index, QStringLiteral("USER_NOT_REGISTERED"));
            return;
        }
        const LabBehaviour b = userBehaviour(id);
        if (b.kind == LabBehaviour::Kind::Nonexistent) {
            failLeg(job, index, b.cause());
            return;
        }
        ring(job, index, b);
        return;
    }
    case Leg::Kind::Pstn: {
        const LabBehaviour b = pstnBehaviour(leg.target);
        if (b.kind == LabBehaviour::Kind::Nonexistent) {
            failLeg(job, index, b.cause());
            return;
        }
        ring(job, index, b);
        return;
    }
    case Leg::Kind::Alarm: {
        // The loud-alarm leg: the dialplan raises the alarm for the user and hangs up unanswered.
        LabEvent e = LabEvent::create(QStringLiteral("CUSTOM"), QStringLiteral("alert::notify"),
                                      QStringLiteral("lab_dialplan"), QStringLiteral("alarm"), 1);
        e.add(QStringLiteral("User-Name"), leg.target);
        m_server->publish(e);
        legOver(job, index);
        return;
    }
    case Leg::Kind::Answered:
        legOver(job, index);
        return;
    case Leg::Kind::Unknown:
        failLeg(job, index, QStringLiteral("CHAN_NOT_IMPLEMENTED"));
        return;
    }
}

void LabCalls::ring(const std::shared_ptr<Job> &job, int index, const LabBehaviour &b)
{
    Leg &leg = job->legs[index];
    const LabDialString &d = job->dial;
    LabChannel &c = leg.channel;
    c.uuid = d.var(index, QStringLiteral("origination_uuid"));
    if (c.uuid.isEmpty() || m_ringing.contains(c.uuid) || m_server->conferences().hasChannel(c.uuid))
        c.uuid = LabEvent::newUuid();
    c.origCallerIdName = d.var(index, QStringLiteral("origination_caller_id_name"));
    c.origCallerIdNumber = d.var(index, QStringLiteral("origination_caller_id_number"));
    c.destination = job->conference.isEmpty() ? d.destination : job->conference;
    c.context = d.context.isEmpty() ? QStringLiteral("default") : d.context;
    c.hangupHook = d.var(index, QStringLiteral("api_hangup_hook"));
    c.createdUs = LabEvent::nowMicroseconds();
    if (leg.kind == Leg::Kind::User) {
        const QString id = leg.target.section(QLatin1Char('@'), 0, 0);
        const LabUser *u = m_server->directory().user(id);
        QString contact = m_server->directory().contact(id);
        if (contact.startsWith(QLatin1String("sip:")))
            contact = contact.mid(4);
        contact = contact.section(QLatin1Char(';'), 0, 0); // URI parameters are not part of the name
        c.name = QStringLiteral("sofia/internal/") + contact;
        c.source = QStringLiteral("mod_sofia");
        c.presenceId = leg.target;
        c.callerIdNumber = id;
        c.callerIdName = d.var(index, QStringLiteral("origination_callee_id_name"));
        if (c.callerIdName.isEmpty() && u)
            c.callerIdName = u->variables.value(QStringLiteral("effective_caller_id_name"));
    } else {
        c.name = QStringLiteral("loopback/") + leg.target + QStringLiteral("-a");
        c.presenceId = d.var(index, QStringLiteral("presence_id"));
        c.callerIdNumber = leg.context + QLatin1Char(':') + leg.target;
        c.callerIdName = QStringLiteral("Outbound Call");
    }
    leg.ringing = true;
    m_ringing.insert(c.uuid, job);
    publishPresence(c, QStringLiteral("progressing"), QStringLiteral("ringing"));

    const QString userId = leg.target.section(QLatin1Char('@'), 0, 0);
    if (leg.kind == Leg::Kind::User && m_server->sip() && m_server->sip()->isRegistered(userId)) {
        // A user registered over SIP really gets called; the callee decides, not a behaviour.
        const QString uuid = c.uuid;
        const auto outcome = [this, job, index, uuid](const QString &cause) {
            if (job->finished || !job->legs[index].ringing || job->legs[index].channel.uuid != uuid)
                return false;
            if (cause.isEmpty())
                answer(job, index);
            else
                failLeg(job, index, cause);
            return true;
        };
        if (!m_server->sip()->call(c, userId, d.var(index, QStringLiteral("rtp_secure_media")), outcome))
            failLeg(job, index, QStringLiteral("DESTINATION_OUT_OF_ORDER"));
        return;
    }
    if (b.kind == LabBehaviour::Kind::NoAnswer)
        return; // rings until the originate times out or the channel is killed
    const QString uuid = c.uuid;
    QTimer::singleShot(m_server->scaledMs(b.seconds), job->timers, [this, job, index, b, uuid] {
        if (job->finished || !job->legs[index].ringing || job->legs[index].channel.uuid != uuid)
            return;
        if (b.kind == LabBehaviour::Kind::Answer)
            answer(job, index);
        else
            failLeg(job, index, b.cause());
    });
}

void LabCalls::answer(const std::shared_ptr<Job> &job, int index)
{
    Leg &leg = job->legs[index];
    leg.ringing = false;
    leg.over = true;
    m_ringing.remove(leg.channel.uuid);
    leg.channel.answeredUs = LabEvent::nowMicroseconds();
    // The first answer wins; the other legs of the originate are dropped.
    for (int i = 0; i < job->legs.size(); ++i) {
        Leg &other = job->legs[i];
        if (i == index || other.over)
            continue;
        if (other.ringing) {
            other.ringing = false;
            m_ringing.remove(other.channel.uuid);
            if (m_server->sip())
                m_server->sip()->hangup(other.channel.uuid, QStringLiteral("ORIGINATOR_CANCEL"));
            publishPresence(other.channel, QStringLiteral("idle"), QStringLiteral("hangup"));
        }
        other.started = true;
        other.over = true;
    }
    if (!job->conference.isEmpty()) {
        // The answered leg is blind-transferred into the conference extension, as the real dialplan does.
        leg.channel.transferSource = QStringLiteral("%1:%2:bl_xfer:%3/conference/XML")
                                         .arg(leg.channel.answeredUs / 1000000)
                                         .arg(LabEvent::newUuid(), job->conference);
        leg.channel.rdnis = leg.target;
    }
    const LabChannel channel = leg.channel;
    publishPresence(channel, QStringLiteral("active"), QStringLiteral("answered"));
    finish(job, QStringLiteral("+OK ") + channel.uuid + QLatin1Char('\n'));
    if (!job->conference.isEmpty())
        m_server->conferences().join(job->conference, channel);
    else
        m_parked.insert(channel.uuid, channel);
}

void LabCalls::failLeg(const std::shared_ptr<Job> &job, int index, const QString &cause)
{
    Leg &leg = job->legs[index];
    if (leg.over || job->finished)
        return;
    if (leg.ringing) {
        leg.ringing = false;
        m_ringing.remove(leg.channel.uuid);
        if (m_server->sip())
            m_server->sip()->hangup(leg.channel.uuid, cause);
        publishPresence(leg.channel, QStringLiteral("idle"), QStringLiteral("hangup"));
    }
    if (job->firstCause.isEmpty())
        job->firstCause = cause;
    // A failed user leg brings the loud alarm forward, as the real dialplan does.
    if (leg.kind == Leg::Kind::User) {
        for (int i = 0; i < job->legs.size(); ++i) {
            if (job->legs[i].kind == Leg::Kind::Alarm && !job->legs[i].started)
                startLeg(job, i);
        }
    }
    legOver(job, index);
}

void LabCalls::legOver(const std::shared_ptr<Job> &job, int index)
{
    job->legs[index].over = true;
    for (const Leg &l : qAsConst(job->legs)) {
        if (!l.over)
            return;
    }
    const QString cause = job->firstCause.isEmpty() ? QStringLiteral("NO_ANSWER") : job->firstCause;
    finish(job, QStringLiteral("-ERR ") + cause + QLatin1Char('\n'));
}

void LabCalls::timeout(const std::shared_ptr<Job> &job)
{
    if (job->finished)
        return;
    for (int i = 0; i < job->legs.size() && !job->finished; ++i) {
        if (job->legs[i].ringing)
            failLeg(job, i, QStringLiteral("NO_ANSWER"));
    }
    for (int i = 0; i < job->legs.size() && !job->finished; ++i) {
        if (!job->legs[i].started && job->legs[i].kind != Leg::Kind::Alarm) {
            job->legs[i].started = true;
            failLeg(job, i, QStringLiteral("NO_ANSWER"));
        }
    }
}

void LabCalls::finish(const std::shared_ptr<Job> &job, const QString &result)
{
    if (job->finished)
        return;
    job->finished = true;
    job->timers->deleteLater();
    job->timers = nullptr;
    job->done(result);
}

QString LabCalls::kill(const QString &uuid)
{
    const auto ringing = m_ringing.constFind(uuid);
    if (ringing != m_ringing.constEnd()) {
        const std::shared_ptr<Job> job = ringing.value();
        for (int i = 0; i < job->legs.size(); ++i) {
            if (job->legs[i].ringing && job->legs[i].channel.uuid == uuid) {
                failLeg(job, i, QStringLiteral("NORMAL_CLEARING"));
                break;
            }
        }
        return QStringLiteral("+OK\n");
    }
    if (m_server->conferences().hangup(uuid, QStringLiteral("NORMAL_CLEARING")))
        return QStringLiteral("+OK\n");
    if (m_parked.contains(uuid)) {
        channelEnded(m_parked.take(uuid), QStringLiteral("NORMAL_CLEARING"));
        return QStringLiteral("+OK\n");
    }
    return QStringLiteral("-ERR No such channel!\n");
}

QString LabCalls::showChannels() const
{
    QString out = QStringLiteral("uuid,name,state\n");
    int count = 0;
    for (auto it = m_ringing.constBegin(); it != m_ringing.constEnd(); ++it) {
        out += it.key() + QStringLiteral(",,CS_CONSUME_MEDIA\n");
        ++count;
    }
    for (auto it = m_parked.constBegin(); it != m_parked.constEnd(); ++it) {
        out += it.key() + QLatin1Char(',') + it->name + QStringLiteral(",CS_EXECUTE\n");
        ++count;
    }
    if (count == 0)
        return QStringLiteral("\n0 total.\n");
    return out + QStringLiteral("\n%1 total.\n").arg(count);
}

void LabCalls::publishPresence(const LabChannel &channel, const QString &state, const QString &answerState)
{
    // Only legs to directory users carry a presence id; public-network legs stay silent.
    if (channel.presenceId.isEmpty())
        return;
    LabEvent e =
        LabEvent::create(QStringLiteral("PRESENCE_IN"), QString(), QStringLiteral("switch_channel.c"),
                         QStringLiteral("switch_channel_perform_presence"), 806);
    channel.appendTo(e, answerState);
    e.add(QStringLiteral("proto"), QStringLiteral("any"));
    e.add(QStringLiteral("login"), QStringLiteral("src/switch_channel.c"));
    e.add(QStringLiteral("from"), channel.presenceId);
    e.add(QStringLiteral("rpid"), QStringLiteral("unknown"));
    e.add(QStringLiteral("status"), answerState);
    e.add(QStringLiteral("event_type"), QStringLiteral("presence"));
    e.add(QStringLiteral("alt_event_type"), QStringLiteral("dialog"));
    e.add(QStringLiteral("presence-call-info-state"), state);
    e.add(QStringLiteral("presence-call-direction"), QStringLiteral("outbound"));
    e.add(QStringLiteral("event_count"), QStringLiteral("1"));
    e.add(QStringLiteral("Presence-Calling-File"), QStringLiteral("src/switch_channel.c"));
    e.add(QStringLiteral("Presence-Calling-Function"), QStringLiteral("switch_channel_perform_presence"));
    e.add(QStringLiteral("Presence-Calling-Line"), QStringLiteral("806"));
    m_server->publish(e);
}

void LabCalls::channelEnded(const LabChannel &channel, const QString &cause)
{
    if (m_server->sip())
        m_server->sip()->hangup(channel.uuid, cause);
    publishPresence(channel, QStringLiteral("idle"), QStringLiteral("hangup"));
    if (!channel.hangupHook.isEmpty()) {
        qInfo() << "tesmar-lab: hang-up hook:" << channel.hangupHook;
        m_server->runApi(channel.hangupHook, [](const QString &) {});
    }
}
