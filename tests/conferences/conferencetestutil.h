#pragma once

#include "app/xmlconfig.h"
#include "conferences/conferencelistmodel.h"
#include "conferences/conferenceparticipantsmodel.h"
#include "conferences/memberdirectory.h"
#include "esl/esl2.h"

#include <QtTest>

// Builders for the server documents and events the conference tests feed in, and readers of the results.
namespace conftest {

using PM = ConferenceParticipantsModel;
using LM = ConferenceListModel;

inline QString operator""_q(const char *text, size_t size)
{
    return QString::fromUtf8(text, int(size));
}

inline const QString kDispatcher = QStringLiteral("1000@pbx");

// Login 1000@pbx; 1000 and 1009 are privileged; display names differ from URIs.
inline void resetConfigAndDirectory()
{
    XMLConfig &c = XMLConfig::instance();
    c.currentLoginUser = QStringLiteral("1000");
    c.currentServerHost = QStringLiteral("pbx");
    c.primaryConferenceId = QStringLiteral("0");
    c.primaryConferenceDisplayName = QStringLiteral("Главная");
    c.newConferencePrefix.clear();
    c.telephoneGateway = QStringLiteral("pstn");
    c.displayDisconnected = c.displayFailedCalls = 0;
    MemberDirectory::Override d;
    d.displayName = [](const QString &uri) -> QString { return QStringLiteral("Имя ") + uri; };
    d.isPrivileged = [](const QString &uri) { return uri == kDispatcher || uri.startsWith("1009@"); };
    MemberDirectory::setOverrideForTest(d);
}

// One <member> of "conference xml_list". flags: "-" for no <flags> element, otherwise the letters
// that are true among S (can speak), T (talking) and G (ghost).
inline QString member(const QString &id, const QString &number, const QString &flags)
{
    auto b = [&flags](char c) {
        return QString::fromLatin1(flags.contains(QLatin1Char(c)) ? "true" : "false");
    };
    const QString f = "<flags><can_hear>true</can_hear><can_speak>" + b('S') + "</can_speak><talking>" +
                      b('T') + "</talking><is_ghost>" + b('G') + "</is_ghost></flags>";
    return "<member type=\"caller\"><id>" + id + "</id>" + (flags == "-" ? QString() : f) + "<uuid>u-" + id +
           "</uuid><caller_id_number>" + number + "</caller_id_number><join_time>2</join_time></member>";
}

inline QString conference(const QString &name, const QStringList &members = {})
{
    return "<conference name=\"" + name + "\" running=\"true\"><members>" + members.join(QString()) +
           "</members></conference>";
}

inline QString snapshot(const QStringList &conferences)
{
    return "<?xml version=\"1.0\"?>\n<conferences>" + conferences.join(QString()) + "</conferences>\n";
}

// An event from alternating header names and values.
inline ESL2::Event event(const QStringList &fields)
{
    ESL2::Event e;
    for (int i = 0; i + 1 < fields.size(); i += 2)
        e.insert(fields.at(i), fields.at(i + 1));
    return e;
}

inline ESL2::Event confEvent(const QString &action, const QString &conf, const QStringList &more = {})
{
    return event(QStringList{"Event-Name", "CUSTOM", "Event-Subclass", "conference::maintenance", "Action",
                             action, "Conference-Name", conf} +
                 more);
}

// A real member joining, as the server reports it.
inline ESL2::Event addMember(const QString &conf, const QString &id, const QString &presence,
                             const QString &speak = "true")
{
    return confEvent("add-member", conf,
                     {"Member-ID", id, "Channel-Presence-ID", presence, "Channel-Call-UUID", "call-" + id,
                      "Speak", speak});
}

// The placeholder the console injects after originating a call.
inline ESL2::Event placeholder(const QString &conf, const QString &uri, const QString &callUuid,
                               const QString &jobUuid)
{
    return confEvent("add-member", conf,
                     {"Member-ID", "virtual", "Channel-Presence-ID", uri, "Channel-Call-UUID", callUuid,
                      "Member-Job-UUID", jobUuid, "Speak", "true"});
}

inline ESL2::Event jobResult(const QString &jobUuid, const QString &body,
                             const QString &command = "originate")
{
    return event(
        {"Event-Name", "BACKGROUND_JOB", "Job-UUID", jobUuid, "Job-Command", command, "_body", body});
}

// A drag payload: the strings in order under the given format.
inline QMimeData *drag(const char *format, const QStringList &items)
{
    QByteArray bytes;
    QDataStream s(&bytes, QIODevice::WriteOnly);
    for (const QString &item : items)
        s << item;
    auto *mime = new QMimeData;
    mime->setData(QString::fromLatin1(format), bytes);
    return mime;
}

// Every emission of a spied signal: its arguments joined by "/", or only its argument `only`.
inline QStringList emitted(const QSignalSpy &spy, int only = -1)
{
    QStringList out;
    for (const QVariantList &args : spy)
        out << (only < 0 ? QVariant(args).toStringList().join('/') : args.value(only).toString());
    return out;
}

inline QStringList conferenceIds(const LM &model)
{
    QStringList ids;
    for (int row = 0; row < model.rowCount(); ++row)
        ids << model.index(row, 0).data(LM::ConferenceIdRole).toString();
    return ids;
}

inline QModelIndex memberByUri(const PM &members, const QString &uri)
{
    const QModelIndexList hits = members.match(members.index(0, 0), PM::UriRole, uri, 1, Qt::MatchExactly);
    return hits.isEmpty() ? QModelIndex() : hits.first();
}

inline int state(const QModelIndex &member)
{
    return member.data(PM::StateRole).toInt();
}

} // namespace conftest
