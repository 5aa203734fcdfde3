#include "lab/labconferences.h"

#include "lab/labevent.h"
#include "lab/labplayer.h"
#include "lab/labrecorder.h"
#include "lab/labserver.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QTimer>
#include <QUrl>

namespace {

QString boolText(bool b)
{
    return b ? QStringLiteral("true") : QStringLiteral("false");
}

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

QString xmlEscape(const QString &s)
{
    return s.toHtmlEscaped();
}

QString urlEncode(const QString &s)
{
    // The server percent-encodes caller names in xml_list, blanks included.
    return QString::fromLatin1(QUrl::toPercentEncoding(s));
}

} // namespace

LabConferences::LabConferences(LabServer *server)
    : QObject(server)
    , m_server(server)
    , m_recorder(new LabRecorder(server->config().recordings, server->config().cdrCommand,
                                 server->config().recordAll, this))
{}

LabConferences::~LabConferences() = default;

LabEvent LabConferences::conferenceEvent(const Conference &c, const QString &function, int line) const
{
    LabEvent e = LabEvent::create(QStringLiteral("CUSTOM"), QStringLiteral("conference::maintenance"),
                                  QStringLiteral("mod_conference.c"), function, line);
    e.add(QStringLiteral("Conference-Name"), c.name);
    e.add(QStringLiteral("Conference-Domain"), m_server->config().domain);
    e.add(QStringLiteral("Conference-Size"), QString::number(c.members.size()));
    e.add(QStringLiteral("Conference-Ghosts"), QStringLiteral("0"));
    e.add(QStringLiteral("Conference-Profile-Name"), QStringLiteral("default"));
    e.add(QStringLiteral("Conference-Unique-ID"), c.uuid);
    return e;
}

void LabConferences::appendMemberFields(LabEvent &e, const Member &m) const
{
    e.add(QStringLiteral("Video"), QStringLiteral("false"));
    e.add(QStringLiteral("Hear"), QStringLiteral("true"));
    e.add(QStringLiteral("See"), QStringLiteral("true"));
    e.add(QStringLiteral("Speak"), boolText(m.canSpeak));
    e.add(QStringLiteral("Talking"), boolText(m.talking));
    e.add(QStringLiteral("Mute-Detect"), QStringLiteral("false"));
    e.add(QStringLiteral("Hold"), QStringLiteral("false"));
    e.add(QStringLiteral("Member-ID"), QString::number(m.id));
    e.add(QStringLiteral("Member-Type"), QStringLiteral("member"));
    e.add(QStringLiteral("Member-Ghost"), QStringLiteral("false"));
    e.add(QStringLiteral("Energy-Level"), QStringLiteral("100"));
    e.add(QStringLiteral("Current-Energy"), m.talking ? QStringLiteral("1200") : QStringLiteral("0"));
}

LabEvent LabConferences::memberEvent(const Conference &c, const Member &m, const QString &action,
                                     const QString &function, int line, const QString &cause) const
{
    LabEvent e = conferenceEvent(c, function, line);
    e.add(QStringLiteral("Floor"), boolText(c.floorId == m.id));
    m.channel.appendTo(e, cause.isEmpty() ? QStringLiteral("answered") : QStringLiteral("hangup"), cause);
    appendMemberFields(e, m);
    e.add(QStringLiteral("Action"), action);
    return e;
}

LabConferences::Conference &LabConferences::ensure(const QString &name)
{
    auto it = m_conferences.find(name);
    if (it != m_conferences.end())
        return it.value();
    Conference c;
    c.name = name;
    c.uuid = LabEvent::newUuid();
    c.createdMs = nowMs();
    it = m_conferences.insert(name, c);
    m_recorder->conferenceCreated(name);
    LabEvent e = conferenceEvent(it.value(), QStringLiteral("conference_new"), 3848);
    e.add(QStringLiteral("Action"), QStringLiteral("conference-create"));
    m_server->publish(e);
    return it.value();
}

void LabConferences::addMember(Conference &c, const Member &m)
{
    c.members.append(m);
    m_recorder->memberJoined(c.name, m.id, m.channel.callerIdNumber, m.channel.callerIdName);
    m_server->publish(
        memberEvent(c, m, QStringLiteral("add-member"), QStringLiteral("conference_member_add"), 962));
    if (c.floorId == 0) {
        c.floorId = m.id;
        LabEvent e = conferenceEvent(c, QStringLiteral("conference_member_set_floor_holder"), 1158);
        e.add(QStringLiteral("Action"), QStringLiteral("floor-change"));
        e.add(QStringLiteral("Old-ID"), QStringLiteral("none"));
        e.add(QStringLiteral("New-ID"), QString::number(m.id));
        m_server->publish(e);
    }
}

int LabConferences::join(const QString &conference, const LabChannel &channel)
{
    Conference &c = ensure(conference);
    Member m;
    m.id = m_nextMemberId++;
    m.channel = channel;
    m.joinedMs = nowMs();
    addMember(c, m);
    return m.id;
}

LabConferences::Member LabConferences::removeMember(Conference &c, int index, const QString &cause,
                                                    bool kicked)
{
    if (kicked) {
        // Sent while the member still counts, before it leaves.
        m_server->publish(memberEvent(c, c.members[index], QStringLiteral("kick-member"),
                                      QStringLiteral("conference_api_sub_kick"), 902));
    }
    Member m = c.members.takeAt(index);
    m_recorder->memberLeft(c.name, m.id);
    if (c.floorId == m.id) {
        c.floorId = c.members.isEmpty() ? 0 : c.members.first().id;
        LabEvent e = conferenceEvent(c, QStringLiteral("conference_member_set_floor_holder"), 1158);
        e.add(QStringLiteral("Action"), QStringLiteral("floor-change"));
        e.add(QStringLiteral("Old-ID"), QString::number(m.id));
        e.add(QStringLiteral("New-ID"), c.floorId ? QString::number(c.floorId) : QStringLiteral("none"));
        m_server->publish(e);
    }
    m_server->publish(memberEvent(c, m, QStringLiteral("del-member"), QStringLiteral("conference_member_del"),
                                  1355, cause));
    return m;
}

void LabConferences::destroyIfEmpty(const QString &name)
{
    auto it = m_conferences.find(name);
    if (it == m_conferences.end() || !it->members.isEmpty())
        return;
    if (it->player) {
        // The file still playing closes with the conference.
        LabPlayer *p = it->player;
        it->player = nullptr;
        p->stop();
        delete p;
    }
    LabEvent e = conferenceEvent(it.value(), QStringLiteral("conference_thread_run"), 863);
    e.add(QStringLiteral("Action"), QStringLiteral("conference-destroy"));
    m_conferences.erase(it);
    m_server->publish(e);
    m_recorder->conferenceEnded(name);
}

LabConferences::Member *LabConferences::findMember(Conference &c, int id)
{
    for (Member &m : c.members) {
        if (m.id == id)
            return &m;
    }
    return nullptr;
}

bool LabConferences::hasChannel(const QString &uuid) const
{
    for (const Conference &c : m_conferences) {
        for (const Member &m : c.members) {
            if (m.channel.uuid == uuid)
                return true;
        }
    }
    return false;
}

bool LabConferences::hangup(const QString &uuid, const QString &cause)
{
    for (auto it = m_conferences.begin(); it != m_conferences.end(); ++it) {
        for (int i = 0; i < it->members.size(); ++i) {
            if (it->members[i].channel.uuid != uuid)
                continue;
            const QString name = it.key();
            const Member m = removeMember(it.value(), i, cause, false);
            destroyIfEmpty(name);
            emit channelEnded(m.channel, cause);
            return true;
        }
    }
    return false;
}

int LabConferences::setTalking(const QString &who, bool talking)
{
    int count = 0;
    for (Conference &c : m_conferences) {
        for (Member &m : c.members) {
            const bool match = m.channel.presenceId == who || m.channel.callerIdNumber == who ||
                               m.channel.presenceId.section(QLatin1Char('@'), 0, 0) == who;
            if (!match || m.talking == talking)
                continue;
            m.talking = talking;
            m.everTalked = m.everTalked || talking;
            ++count;
            m_server->publish(
                memberEvent(c, m, talking ? QStringLiteral("start-talking") : QStringLiteral("stop-talking"),
                            QStringLiteral("conference_loop_input"), 1154));
        }
    }
    return count;
}

bool LabConferences::setChannelTalking(const QString &uuid, bool talking)
{
    for (Conference &c : m_conferences) {
        for (Member &m : c.members) {
            if (m.channel.uuid != uuid)
                continue;
            if (m.talking == talking || (talking && !m.canSpeak))
                return true;
            m.talking = talking;
            m.everTalked = m.everTalked || talking;
            m_server->publish(
                memberEvent(c, m, talking ? QStringLiteral("start-talking") : QStringLiteral("stop-talking"),
                            QStringLiteral("conference_loop_input"), 1154));
            return true;
        }
    }
    return false;
}

QString LabConferences::conferenceOf(const QString &uuid) const
{
    for (const Conference &c : m_conferences) {
        for (const Member &m : c.members) {
            if (m.channel.uuid == uuid)
                return c.name;
        }
    }
    return QString();
}

bool LabConferences::canSpeak(const QString &uuid) const
{
    for (const Conference &c : m_conferences) {
        for (const Member &m : c.members) {
            if (m.channel.uuid == uuid)
                return m.canSpeak;
        }
    }
    return false;
}

const LabPlayer *LabConferences::player(const QString &conference) const
{
    const auto it = m_conferences.constFind(conference);
    return it == m_conferences.constEnd() ? nullptr : it->player;
}

int LabConferences::memberCount(const QString &conference) const
{
    const auto it = m_conferences.constFind(conference);
    return it == m_conferences.constEnd() ? 0 : it->members.size();
}

QString LabConferences::xmlList(const QString &only) const
{
    QString out = QStringLiteral("<?xml version=\"1.0\"?>\n<conferences>");
    const qint64 now = nowMs();
    for (const Conference &c : m_conferences) {
        if (!only.isEmpty() && c.name != only)
            continue;
        out +=
            QStringLiteral("\n  <conference name=\"%1\" member-count=\"%2\" ghost-count=\"0\" rate=\"8000\" "
                           "uuid=\"%3\" running=\"true\" answered=\"true\" enforce_min=\"true\" "
                           "dynamic=\"true\" exit_sound=\"true\" enter_sound=\"true\" run_time=\"%4\">\n")
                .arg(xmlEscape(c.name))
                .arg(c.members.size())
                .arg(c.uuid)
                .arg((now - c.createdMs) / 1000);
        out += QStringLiteral("    <variables></variables>\n    <members>\n");
        // Newest member first, as the real server lists them.
        for (int i = c.members.size() - 1; i >= 0; --i) {
            const Member &m = c.members[i];
            out += QStringLiteral("      <member type=\"caller\">\n        <id>%1</id>\n        <flags>\n")
                       .arg(m.id);
            const QList<QPair<QString, bool>> flags = {
                {QStringLiteral("can_hear"), true},
                {QStringLiteral("can_see"), true},
                {QStringLiteral("can_speak"), m.canSpeak},
                {QStringLiteral("mute_detect"), false},
                {QStringLiteral("talking"), m.talking},
                {QStringLiteral("hold"), false},
                {QStringLiteral("has_video"), false},
                {QStringLiteral("video_bridge"), false},
                {QStringLiteral("has_floor"), c.floorId == m.id},
                {QStringLiteral("is_moderator"), false},
                {QStringLiteral("end_conference"), false},
                {QStringLiteral("mandatory_member_end_conference"), false},
                {QStringLiteral("is_ghost"), false}};
            for (const auto &f : flags)
                out += QStringLiteral("          <%1>%2</%1>\n").arg(f.first, boolText(f.second));
            out += QStringLiteral("        </flags>\n");
            out += QStringLiteral("        <uuid>%1</uuid>\n").arg(m.channel.uuid);
            out += QStringLiteral("        <caller_id_name>%1</caller_id_name>\n")
                       .arg(urlEncode(m.channel.callerIdName));
            out += QStringLiteral("        <caller_id_number>%1</caller_id_number>\n")
                       .arg(xmlEscape(m.channel.callerIdNumber));
            out += QStringLiteral("        <join_time>%1</join_time>\n").arg((now - m.joinedMs) / 1000);
            out += QStringLiteral("        <last_talking>%1</last_talking>\n")
                       .arg(m.everTalked ? QStringLiteral("0") : QStringLiteral("N/A"));
            out += QStringLiteral(
                "        <energy>100</energy>\n        <volume_in>0</volume_in>\n"
                "        <volume_out>0</volume_out>\n        <output-volume>0</output-volume>\n"
                "      </member>\n");
        }
        out += QStringLiteral("    </members>\n  </conference>\n");
    }
    out += QStringLiteral("</conferences>\n");
    return out;
}

QString LabConferences::listText(const Conference &c) const
{
    QString out;
    for (int i = c.members.size() - 1; i >= 0; --i) {
        const Member &m = c.members[i];
        QStringList flags = {QStringLiteral("hear")};
        if (m.canSpeak)
            flags << QStringLiteral("speak");
        if (m.talking)
            flags << QStringLiteral("talking");
        if (c.floorId == m.id)
            flags << QStringLiteral("floor");
        out += QStringList({QString::number(m.id), m.channel.name, m.channel.uuid, m.channel.callerIdName,
                            m.channel.callerIdNumber, flags.join(QLatin1Char('|')), QStringLiteral("0"),
                            QStringLiteral("0"), QStringLiteral("100")})
                   .join(QLatin1Char(';')) +
               QLatin1Char('\n');
    }
    return out;
}

QString LabConferences::api(const QString &args)
{
    const QStringList words = args.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return QStringLiteral("<conf name> xml_list \n<conf name> list [delim <string>]|[count]\n");
    if (words[0] == QLatin1String("xml_list"))
        return xmlList();
    if (words[0] == QLatin1String("list")) {
        if (m_conferences.isEmpty())
            return QStringLiteral("+OK No active conferences.\n");
        QString out;
        for (const Conference &c : m_conferences) {
            out +=
                QStringLiteral("+OK Conference %1 (%2 member%3 rate: 8000 flags: "
                               "running|answered|enforce_min|dynamic|exit_sound|enter_sound|json_status)\n")
                    .arg(c.name)
                    .arg(c.members.size())
                    .arg(c.members.size() == 1 ? QString() : QStringLiteral("s"));
            out += listText(c);
        }
        return out;
    }
    const QString name = words[0];
    auto it = m_conferences.find(name);
    if (it == m_conferences.end())
        return QStringLiteral("-ERR Conference %1 not found\n").arg(name);
    const QString verb = words.value(1);
    if (verb == QLatin1String("xml_list"))
        return xmlList(name);
    if (verb == QLatin1String("list"))
        return listText(it.value());
    if (verb == QLatin1String("count"))
        return QString::number(it->members.size());
    if (verb == QLatin1String("mute") || verb == QLatin1String("unmute") || verb == QLatin1String("kick"))
        return memberCommand(it.value(), verb, words.mid(2));
    if (verb == QLatin1String("transfer"))
        return transfer(it.value(), words.mid(2));
    if (verb == QLatin1String("play"))
        return play(it.value(), words.mid(2));
    if (verb == QLatin1String("stop"))
        return stopPlay(it.value());
    if (verb == QLatin1String("record") || verb == QLatin1String("norecord"))
        return recordCommand(name, verb, words.mid(2));
    if (verb == QLatin1String("pause_play")) {
        if (!it->player)
            return QStringLiteral("-ERR no reply\n");
        return it->player->togglePause() ? QStringLiteral("+OK Pause\n") : QStringLiteral("+OK Resume\n");
    }
    if (verb == QLatin1String("file_seek")) {
        if (!it->player || words.size() < 3)
            return QStringLiteral("-ERR no reply\n");
        const qint64 ms = it->player->seek(words[2]);
        return QStringLiteral("+OK seek to position %1\n").arg(ms * LabPlayer::Rate / 1000);
    }
    return QStringLiteral("-ERR Command not found\n");
}

QString LabConferences::memberCommand(Conference &c, const QString &verb, const QStringList &words)
{
    const QString usage =
        verb == QLatin1String("kick")
            ? QStringLiteral("kick <[member_id|all|last|non_moderator]> [<optional sound file>]")
            : verb + QStringLiteral(" <[member_id|all]|last|non_moderator> [<quiet>]");
    if (words.isEmpty())
        return usage;
    QList<int> ids;
    if (words[0] == QLatin1String("all")) {
        for (const Member &m : qAsConst(c.members))
            ids.append(m.id);
    } else {
        bool ok = false;
        const int id = words[0].toInt(&ok);
        if (!ok)
            return usage;
        if (!findMember(c, id))
            return QStringLiteral("-ERR Non-Existant ID %1\n").arg(words[0]);
        ids.append(id);
    }
    QString out;
    const QString name = c.name;
    for (int id : qAsConst(ids)) {
        if (verb == QLatin1String("kick")) {
            Conference &conf = m_conferences[name];
            for (int i = 0; i < conf.members.size(); ++i) {
                if (conf.members[i].id != id)
                    continue;
                const Member m = removeMember(conf, i, QString(), true);
                emit channelEnded(m.channel, QStringLiteral("NORMAL_CLEARING"));
                break;
            }
            out += QStringLiteral("+OK kicked %1\n").arg(id);
            continue;
        }
        Member *m = findMember(c, id);
        const bool mute = verb == QLatin1String("mute");
        m->canSpeak = !mute;
        if (mute)
            m->talking = false;
        m_server->publish(memberEvent(
            c, *m, mute ? QStringLiteral("mute-member") : QStringLiteral("unmute-member"),
            mute ? QStringLiteral("conference_api_sub_mute") : QStringLiteral("conference_api_sub_unmute"),
            339));
        out += QStringLiteral("+OK %1 %2\n").arg(verb).arg(id);
    }
    if (verb == QLatin1String("kick"))
        destroyIfEmpty(name);
    return out;
}

QString LabConferences::transfer(Conference &c, const QStringList &words)
{
    if (words.size() < 2)
        return QStringLiteral("transfer <conference_name> <member id> [...<member id>]");
    const QString from = c.name;
    const QString to = words[0];
    QString out;
    for (int w = 1; w < words.size(); ++w) {
        Conference &source = m_conferences[from];
        int index = -1;
        for (int i = 0; i < source.members.size(); ++i) {
            if (QString::number(source.members[i].id) == words[w])
                index = i;
        }
        if (index < 0) {
            out += QStringLiteral("-ERR No Member %1 in conference %2.\n").arg(words[w], from);
            continue;
        }
        if (to == from) {
            out += QStringLiteral("+OK Member '%1' sent to conference %2.\n").arg(words[w], to);
            continue;
        }
        LabEvent e = memberEvent(source, source.members[index], QStringLiteral("transfer"),
                                 QStringLiteral("conference_api_sub_transfer"), 3704);
        // The action closes the real event; the conference names come just before it.
        LabEvent t;
        for (const auto &f : e.fields()) {
            if (f.first != QLatin1String("Action"))
                t.add(f.first, f.second);
        }
        t.add(QStringLiteral("Old-Conference-Name"), from);
        t.add(QStringLiteral("New-Conference-Name"), to);
        t.add(QStringLiteral("Action"), QStringLiteral("transfer"));
        m_server->publish(t);
        // The member keeps its Member-ID in the new conference.
        const Member m = removeMember(source, index, QString(), false);
        Member moved = m;
        moved.joinedMs = nowMs();
        moved.talking = false;
        Conference &target = ensure(to);
        addMember(target, moved);
        out += QStringLiteral("+OK Member '%1' sent to conference %2.\n").arg(words[w], to);
    }
    destroyIfEmpty(from);
    return out;
}

QString LabConferences::recordCommand(const QString &name, const QString &verb, const QStringList &words)
{
    if (verb == QLatin1String("norecord"))
        return m_recorder->stop(name);
    return m_recorder->record(name, words.join(QLatin1Char(' ')));
}

QString LabConferences::resolveFile(const QString &path) const
{
    // Files are searched as given, then by name in the recordings folder: the console plays
    // paths recorded on the real server.
    if (QFileInfo(path).isFile())
        return path;
    const QString folder = m_server->config().recordings;
    if (folder.isEmpty())
        return QString();
    const QDir dir(folder);
    for (const QString &candidate : {path, QFileInfo(path).fileName()}) {
        const QString full = dir.filePath(candidate);
        if (QFileInfo(full).isFile())
            return full;
    }
    return QString();
}

QString LabConferences::play(Conference &c, const QStringList &words)
{
    const QString usage = QStringLiteral("play <file_path> [async|<member_id> [nomux]]");
    if (words.isEmpty())
        return usage;
    const QString file = words[0];
    const QString found = resolveFile(file);
    const qint64 duration = found.isEmpty() ? -1 : LabPlayer::wavDurationMs(found);
    if (duration < 0)
        return QStringLiteral("-ERR (play) File: %1 not found.\n").arg(file);
    const QString name = c.name;
    if (words.size() >= 2 && words[1] != QLatin1String("async")) {
        bool ok = false;
        const int id = words[1].toInt(&ok);
        Member *m = ok ? findMember(c, id) : nullptr;
        if (!m)
            return QStringLiteral("-ERR Member: %1 not found.\n").arg(words[1]) + usage;
        LabEvent e = memberEvent(c, *m, QStringLiteral("play-file-member"),
                                 QStringLiteral("conference_api_sub_play"), 2817);
        e.add(QStringLiteral("File"), file);
        m_server->publish(e);
        const QString uuid = m->channel.uuid;
        QTimer::singleShot(
            m_server->scaledMs(duration / 1000.0), this, [this, name, id, uuid, file, duration] {
                auto it = m_conferences.find(name);
                if (it == m_conferences.end())
                    return;
                Member *member = findMember(it.value(), id);
                if (!member || member->channel.uuid != uuid)
                    return;
                LabEvent done = memberEvent(it.value(), *member, QStringLiteral("play-file-member-done"),
                                            QStringLiteral("conference_file_close"), 52);
                done.add(QStringLiteral("File"), file);
                m_server->publish(done);
            });
        return QStringLiteral("+OK (play) Playing file %1 to member %2\n").arg(file).arg(id);
    }
    // A new file replaces the one playing, as with the console's stop-then-play.
    if (c.player) {
        c.player->stop();
        c.player->deleteLater();
        c.player = nullptr;
    }
    auto *player = new LabPlayer(file, duration, m_server->config().timeScale, this);
    c.player = player;
    connect(player, &LabPlayer::finished, this, [this, name, player] { playFinished(name, player); });
    LabEvent e = conferenceEvent(c, QStringLiteral("conference_api_sub_play"), 2817);
    e.add(QStringLiteral("Action"), QStringLiteral("play-file"));
    e.add(QStringLiteral("File"), file);
    e.add(QStringLiteral("Async"), QStringLiteral("false"));
    m_server->publish(e);
    player->start();
    return QStringLiteral("+OK (play) Playing file %1\n").arg(file);
}

void LabConferences::playFinished(const QString &conference, LabPlayer *player)
{
    auto it = m_conferences.find(conference);
    if (it == m_conferences.end() || it->player != player)
        return;
    const qint64 ms = player->positionMs();
    it->player = nullptr;
    LabEvent e = conferenceEvent(it.value(), QStringLiteral("conference_file_close"), 52);
    e.add(QStringLiteral("seconds"), QString::number(ms / 1000));
    e.add(QStringLiteral("milliseconds"), QString::number(ms));
    e.add(QStringLiteral("samples"), QString::number(ms * LabPlayer::Rate / 1000));
    e.add(QStringLiteral("Action"), QStringLiteral("play-file-done"));
    e.add(QStringLiteral("File"), player->file());
    m_server->publish(e);
    player->deleteLater();
}

QString LabConferences::stopPlay(Conference &c)
{
    if (!c.player)
        return QStringLiteral("+OK Stopped 0 files.\n");
    LabPlayer *p = c.player;
    p->stop();
    playFinished(c.name, p);
    return QStringLiteral("+OK Stopped 1 files.\n");
}
