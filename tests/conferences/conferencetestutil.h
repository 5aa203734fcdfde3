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

// Builders for the server documents and events the conference tests feed in.
namespace conftest {

using PM = ConferenceParticipantsModel;
using LM = ConferenceListModel;
using Fields = std::initializer_list<std::pair<const char *, QString>>;

inline QString operator""_q(const char *text, size_t size)
{
    return QString::fromUtf8(text, int(size));
}

inline const QString kDispatcher = QStringLiteral("1000@example.org");

// Login 1000@example.org; 1000 and 1009 are privileged; display names differ from URIs.
inline void resetConfigAndDirectory()
{
    XMLConfig &c = XMLConfig::instance();
    c.currentLoginUser = QStringLiteral("1000");
    c.currentServerHost = QStringLiteral("example.org");
    c.primaryConferenceId = QStringLiteral("0");
    c.primaryConferenceDisplayName = QStringLiteral("Главная");
    c.newConferencePrefix.clear();
    c.telephoneGateway = QStringLiteral("pstn");
    c.displayDisconnected = 0;
    c.displayFailedCalls = 0;
    MemberDirectory::Override d;
    d.displayName = [](const QString &uri) -> QString { return QStringLiteral("Имя ") + uri; };
    d.isPrivileged = [](const QString &uri) {
        return uri == kDispatcher || uri.startsWith(QLatin1String("1009@"));
    };
    MemberDirectory::setOverrideForTest(d);
}

// One <member> of "conference xml_list"; flags is the raw <flags> content, "-" for none.
inline QString member(const QString &id, const QString &number, const QString &flags)
{
    return QStringLiteral("<member type=\"caller\"><id>%1</id>%2<uuid>u-%1</uuid><caller_id_number>%3"
                          "</caller_id_number><join_time>2</join_time></member>")
        .arg(id, flags == QLatin1String("-") ? QString() : QStringLiteral("<flags>%1</flags>").arg(flags),
             number);
}

inline QString flags(bool canSpeak, bool talking, bool ghost = false)
{
    auto b = [](bool v) { return v ? QStringLiteral("true") : QStringLiteral("false"); };
    return QStringLiteral("<can_hear>true</can_hear><can_speak>%1</can_speak><talking>%2</talking>"
                          "<is_ghost>%3</is_ghost>")
        .arg(b(canSpeak), b(talking), b(ghost));
}

inline QString conference(const QString &name, const QStringList &members = {})
{
    return QStringLiteral(
               "<conference name=\"%1\" running=\"true\"><variables></variables><members>%2</members>"
               "</conference>")
        .arg(name, members.join(QString()));
}

inline QString snapshot(const QStringList &conferences)
{
    return QStringLiteral("<?xml version=\"1.0\"?>\n<conferences>%1</conferences>\n")
        .arg(conferences.join(QString()));
}

inline ESL2::Event event(Fields fields)
{
    ESL2::Event e;
    for (const auto &f : fields)
        e.insert(QString::fromLatin1(f.first), f.second);
    return e;
}

inline ESL2::Event confEvent(const QString &action, const QString &conf, Fields more = {})
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

} // namespace conftest
