#pragma once

#include "app/xmlconfig.h"
#include "conferences/conferencelistmodel.h"
#include "conferences/conferenceparticipantsmodel.h"
#include "conferences/memberdirectory.h"
#include "esl/esl2.h"

#include <QDataStream>
#include <QMimeData>
#include <QStringList>

#include <initializer_list>
#include <utility>

// Builders for the server's documents and events the conference tests feed in.
namespace conftest {

using PM = ConferenceParticipantsModel;
using LM = ConferenceListModel;

inline const QString kDomain = QStringLiteral("example.org");
inline const QString kDispatcher = QStringLiteral("1000@example.org");

inline void resetConfig()
{
    XMLConfig &c = XMLConfig::instance();
    c.currentLoginUser = QStringLiteral("1000");
    c.currentServerHost = kDomain;
    c.primaryConferenceId = QStringLiteral("0");
    c.primaryConferenceDisplayName = QStringLiteral("Главная");
    c.newConferencePrefix = QString();
    c.telephoneGateway = QStringLiteral("pstn");
    c.displayDisconnected = 0;
    c.displayFailedCalls = 0;
}

// 1000 (the dispatcher) and 1009 are privileged; everybody gets a display name
// that differs from the URI so its use is visible.
inline void installDirectory()
{
    MemberDirectory::Override d;
    d.displayName = [](const QString &uri) -> QString { return QStringLiteral("Имя ") + uri; };
    d.isPrivileged = [](const QString &uri) {
        return uri == kDispatcher || uri == QStringLiteral("1009@example.org");
    };
    MemberDirectory::setOverrideForTest(d);
}

struct XmlMember
{
    QString id;
    QString number;
    QString flags; // raw <flags> content, or "-" for no flags element
    QString type;  // empty: no type attribute
};

inline QString member(const XmlMember &m)
{
    QString s =
        m.type.isEmpty() ? QStringLiteral("<member>") : QStringLiteral("<member type=\"%1\">").arg(m.type);
    s += QStringLiteral("<id>%1</id>").arg(m.id);
    if (m.flags != QLatin1String("-"))
        s += QStringLiteral("<flags>%1</flags>").arg(m.flags);
    s += QStringLiteral(
             "<uuid>u-%1</uuid><caller_id_number>%2</caller_id_number><join_time>2</join_time></member>")
             .arg(m.id, m.number);
    return s;
}

inline QString flags(bool canSpeak, bool talking, bool ghost = false)
{
    auto b = [](bool v) { return v ? QStringLiteral("true") : QStringLiteral("false"); };
    return QStringLiteral("<can_hear>true</can_hear><can_speak>%1</can_speak><talking>%2</talking>"
                          "<is_ghost>%3</is_ghost>")
        .arg(b(canSpeak), b(talking), b(ghost));
}

inline QString conference(const QString &name, const QList<XmlMember> &members)
{
    QString s =
        QStringLiteral("<conference name=\"%1\" member-count=\"%2\" running=\"true\"><variables></variables>"
                       "<members>")
            .arg(name)
            .arg(members.size());
    for (const XmlMember &m : members)
        s += member(m);
    return s + QStringLiteral("</members></conference>");
}

inline QString snapshot(const QStringList &conferences)
{
    return QStringLiteral("<?xml version=\"1.0\"?>\n<conferences>") + conferences.join(QString()) +
           QStringLiteral("</conferences>\n");
}

inline ESL2::Event event(std::initializer_list<std::pair<const char *, QString>> fields)
{
    ESL2::Event e;
    for (const auto &f : fields)
        e.insert(QString::fromLatin1(f.first), f.second);
    return e;
}

inline ESL2::Event confEvent(const QString &action, const QString &conf,
                             std::initializer_list<std::pair<const char *, QString>> more = {})
{
    ESL2::Event e = event(more);
    e.insert(QStringLiteral("Event-Name"), QStringLiteral("CUSTOM"));
    e.insert(QStringLiteral("Event-Subclass"), QStringLiteral("conference::maintenance"));
    e.insert(QStringLiteral("Action"), action);
    e.insert(QStringLiteral("Conference-Name"), conf);
    return e;
}

// A real member joining, as the server reports it.
inline ESL2::Event addMember(const QString &conf, const QString &id, const QString &presence,
                             bool speak = true)
{
    return confEvent(QStringLiteral("add-member"), conf,
                     {{"Member-ID", id},
                      {"Member-Type", QStringLiteral("member")},
                      {"Member-Ghost", QStringLiteral("false")},
                      {"Channel-Presence-ID", presence},
                      {"Caller-Caller-ID-Number", presence.section(QLatin1Char('@'), 0, 0)},
                      {"Channel-Call-UUID", QStringLiteral("call-") + id},
                      {"Speak", speak ? QStringLiteral("true") : QStringLiteral("false")},
                      {"Talking", QStringLiteral("false")}});
}

// The placeholder the console injects after originating a call.
inline ESL2::Event placeholder(const QString &conf, const QString &uri, const QString &callUuid,
                               const QString &jobUuid)
{
    return confEvent(QStringLiteral("add-member"), conf,
                     {{"Member-ID", QStringLiteral("virtual")},
                      {"Member-Type", QStringLiteral("member")},
                      {"Channel-Presence-ID", uri},
                      {"Channel-Call-UUID", callUuid},
                      {"Member-Job-UUID", jobUuid},
                      {"Speak", QStringLiteral("true")}});
}

inline ESL2::Event delMember(const QString &conf, const QString &id)
{
    return confEvent(QStringLiteral("del-member"), conf, {{"Member-ID", id}});
}

inline ESL2::Event jobResult(const QString &jobUuid, const QString &body,
                             const QString &command = QStringLiteral("originate"))
{
    return event({{"Event-Name", QStringLiteral("BACKGROUND_JOB")},
                  {"Job-UUID", jobUuid},
                  {"Job-Command", command},
                  {"_body", body}});
}

inline QMimeData *userDrag(const QStringList &uris)
{
    QByteArray bytes;
    QDataStream s(&bytes, QIODevice::WriteOnly);
    for (const QString &u : uris)
        s << u;
    auto *mime = new QMimeData;
    mime->setData(QStringLiteral("application/x-useruri"), bytes);
    return mime;
}

inline QMimeData *memberDrag(const QString &source, const QStringList &ids)
{
    QByteArray bytes;
    QDataStream s(&bytes, QIODevice::WriteOnly);
    s << source;
    for (const QString &id : ids)
        s << id;
    auto *mime = new QMimeData;
    mime->setData(QStringLiteral("application/x-conference-member"), bytes);
    return mime;
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
    for (int row = 0; row < members.rowCount(); ++row) {
        if (members.index(row, 0).data(PM::UriRole).toString() == uri)
            return members.index(row, 0);
    }
    return QModelIndex();
}

} // namespace conftest
