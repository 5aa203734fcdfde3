// ConferenceListModel: keeping the list in step with the server (snapshot, events,
// originate results).
#include "conferences/conferencelistmodel.h"

#include "app/xmlconfig.h"
#include "conferences/conferenceparticipantsmodel.h"
#include "conferences/memberdirectory.h"

#include <QDebug>
#include <QDomDocument>
#include <QDomElement>
#include <QSet>
#include <QVector>

using PM = ConferenceParticipantsModel;

namespace {
bool flagIsTrue(const QDomElement &flags, const QString &tag, bool absent)
{
    const QDomElement e = flags.firstChildElement(tag);
    if (e.isNull())
        return absent;
    return e.text().compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
}

bool headerIsTrue(const ESL2::Event &event, const char *name)
{
    return event.value(QLatin1String(name)).compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
}
} // namespace

void ConferenceListModel::conferenceListReceived(QString res, QVariant)
{
    QSet<QString> existing;
    for (const ConferenceEntry &entry : qAsConst(m_conferences))
        existing.insert(entry.name);

    bool primaryListed = false;
    QDomDocument doc;
    QString message;
    int line = 0;
    int column = 0;
    if (!doc.setContent(res, &message, &line, &column)) {
        qWarning() << "cannot parse conference list:" << message << "at line" << line << "column" << column;
    } else if (doc.documentElement().tagName() != QLatin1String("conferences")) {
        qWarning() << "no 'conferences' element in XML conference list";
    } else {
        for (QDomElement conf = doc.documentElement().firstChildElement(QStringLiteral("conference"));
             !conf.isNull(); conf = conf.nextSiblingElement(QStringLiteral("conference"))) {
            if (!conf.hasAttribute(QStringLiteral("name"))) {
                qWarning() << "'conferences' element doesn't have 'name' attribute";
                continue;
            }
            const QString name = conf.attribute(QStringLiteral("name"));
            int row = -1;
            if (existing.remove(name)) {
                row = rowOf(name);
                if (row < 0) {
                    qCritical() << "ConferenceListModel::conferenceListReceived(): conference" << name
                                << "is in set, but index not found!";
                    continue;
                }
            } else {
                row = m_conferences.size();
                if (!insertRows(row, 1)) {
                    qCritical()
                        << "ConferenceListModel::conferenceListReceived(): cannot insert conference row";
                    continue;
                }
            }
            setData(index(row, 0), name, Qt::DisplayRole);
            setData(index(row, 0), true, ActiveRole);
            if (name == m_primaryId)
                primaryListed = true;
            const QDomElement members = conf.firstChildElement(QStringLiteral("members"));
            if (members.isNull()) {
                qWarning() << "no 'members' element in conference" << name;
                continue;
            }
            applySnapshotMembers(name, members);
        }
    }

    for (const QString &name : qAsConst(existing)) {
        if (name == m_primaryId) {
            primaryListed = true;
            continue;
        }
        const int row = rowOf(name);
        if (row < 0) {
            qCritical() << "ConferenceListModel::conferenceListReceived(): conference" << name
                        << "is in set, but index not found!";
            continue;
        }
        removeRows(row, 1);
    }

    if (!primaryListed && rowOf(m_primaryId) < 0) {
        if (insertRows(0, 1))
            setData(index(0, 0), m_primaryId, Qt::DisplayRole);
        else
            qCritical() << "ConferenceListModel::conferenceListReceived(): cannot insert conference row";
    }
    emit conferenceListReloaded();
}

void ConferenceListModel::applySnapshotMembers(const QString &name, const QDomElement &members)
{
    // Shared ownership: the conference row may go away below when it empties.
    const std::shared_ptr<PM> participants = m_conferences.at(rowOf(name)).participants;
    const QString dispatcher = MemberDirectory::dispatcherUri();
    const QString domain = MemberDirectory::sipDomain();

    QStringList connectedIds;
    for (int i = 0; i < participants->rowCount(); ++i) {
        const QModelIndex m = participants->index(i, 0);
        if (m.data(PM::StateRole).toInt() == PM::Connected)
            connectedIds.append(m.data(PM::MemberIdRole).toString());
    }

    for (QDomElement member = members.firstChildElement(QStringLiteral("member")); !member.isNull();
         member = member.nextSiblingElement(QStringLiteral("member"))) {
        const QString type = member.hasAttribute(QStringLiteral("type"))
                                 ? member.attribute(QStringLiteral("type"))
                                 : QStringLiteral("caller");
        const QDomElement idElement = member.firstChildElement(QStringLiteral("id"));
        if (idElement.isNull()) {
            qWarning() << "no 'id' element in conference member";
            continue;
        }
        const QDomElement numberElement = member.firstChildElement(QStringLiteral("caller_id_number"));
        if (numberElement.isNull()) {
            qWarning() << "no 'caller_id_number' element in conference member";
            continue;
        }
        const QString id = idElement.text();
        // A PSTN member is its bare number, as in the add-member event; users get the domain.
        QString uri = numberElement.text();
        const bool pstn = stripPstnPrefix(uri);
        if (!pstn)
            uri += QLatin1Char('@') + domain;
        const QDomElement flags = member.firstChildElement(QStringLiteral("flags"));
        bool canSpeak = true;
        bool talking = false;
        if (!flags.isNull()) {
            if (flagIsTrue(flags, QStringLiteral("is_ghost"), false))
                continue;
            canSpeak = flagIsTrue(flags, QStringLiteral("can_speak"), true);
            talking = flagIsTrue(flags, QStringLiteral("talking"), false);
        }

        if (!pstn && uri == dispatcher && !m_joinedConferences.contains(name)) {
            m_joinedConferences.append(name);
            emit dispatcherEnteredConference(name);
        }

        QModelIndex m;
        if (connectedIds.removeOne(id)) {
            m = participants->participantIndex(id);
            if (!m.isValid()) {
                qCritical() << "ConferenceListModel::conferenceListReceived(): member ID" << id
                            << "is in set, but index not found!";
                continue;
            }
        } else {
            const int memberRow = participants->rowCount();
            if (!participants->insertRows(memberRow, 1)) {
                qCritical() << "ConferenceListModel::conferenceListReceived(): что-то пошло не так: не можем "
                               "добавить участника"
                            << id << "в конференцию" << name;
                continue;
            }
            m = participants->index(memberRow, 0);
        }
        const bool privileged = !pstn && MemberDirectory::isDispatcherOrTechnician(uri);
        participants->setData(m, uri, PM::UriRole);
        participants->setData(m, id, PM::MemberIdRole);
        participants->setData(m, MemberDirectory::displayName(uri), Qt::DisplayRole);
        participants->setData(m, type, PM::MemberTypeRole);
        participants->setData(m, PM::Connected, PM::StateRole);
        participants->setData(m, canSpeak, PM::CanSpeakRole);
        participants->setData(m, talking, PM::TalkingRole);
        participants->setData(m, pstn, PM::PstnRole);
        participants->setData(m, privileged, PM::PrivilegedRole);
        if (!privileged) {
            const int row = rowOf(name);
            if (row >= 0)
                setData(index(row, 0), true, NonPrivilegedRole);
        }
    }

    for (const QString &id : qAsConst(connectedIds)) {
        const QModelIndex m = participants->participantIndex(id);
        if (!m.isValid()) {
            qCritical() << "ConferenceListModel::conferenceListReceived(): member ID" << id
                        << "was in conference" << name << "but index not found!";
            continue;
        }
        const QString uri = m.data(PM::UriRole).toString();
        const bool pstn = m.data(PM::PstnRole).toBool();
        participants->removeRow(m.row());
        emit userLeftConference(name, uri);
        if (!pstn)
            checkDispatcherLeft(name, uri, true);
    }
}

void ConferenceListModel::conferenceEvent(ESL2::Event event)
{
    if (event.value(QStringLiteral("Event-Subclass")) == QLatin1String("alert::notify")) {
        const QString uri = event.value(QStringLiteral("User-Name"));
        for (const ConferenceEntry &entry : qAsConst(m_conferences)) {
            PM *members = entry.participants.get();
            for (int i = 0; i < members->rowCount(); ++i) {
                const QModelIndex m = members->index(i, 0);
                if (m.data(PM::UriRole).toString() == uri && m.data(PM::StateRole).toInt() == PM::Calling)
                    members->setData(m, PM::Alerting, PM::StateRole);
            }
        }
        return;
    }

    const QString action = event.value(QStringLiteral("Action"));
    const QString name = event.value(QStringLiteral("Conference-Name"));
    if (name.isEmpty()) {
        qWarning() << "conferenceEvent(): no 'Conference-Name' field";
        return;
    }
    if (action == QLatin1String("conference-create")) {
        int row = rowOf(name);
        if (row < 0) {
            row = m_conferences.size();
            if (!insertRows(row, 1)) {
                qCritical() << "ConferenceListModel::conferenceListReceived(): cannot insert conference row";
                return;
            }
            setData(index(row, 0), name, Qt::DisplayRole);
        }
        setData(index(row, 0), true, ActiveRole);
    } else if (action == QLatin1String("conference-destroy")) {
        const int row = rowOf(name);
        if (row < 0) {
            qWarning() << "conferenceEvent(): received conference-destroy event for nonexistent conference"
                       << name;
            return;
        }
        setData(index(row, 0), false, ActiveRole);
        setData(index(row, 0), false, NonPrivilegedRole);
    } else if (action == QLatin1String("add-member")) {
        memberAdded(event, name);
    } else if (action == QLatin1String("del-member")) {
        memberDeleted(event, name);
    } else if (action == QLatin1String("start-talking") || action == QLatin1String("stop-talking")) {
        setMemberRole(event, name, PM::TalkingRole, action == QLatin1String("start-talking"));
    } else if (action == QLatin1String("mute-member") || action == QLatin1String("unmute-member")) {
        setMemberRole(event, name, PM::CanSpeakRole, action == QLatin1String("unmute-member"));
    }
}

void ConferenceListModel::setMemberRole(const ESL2::Event &event, const QString &name, int role, bool value)
{
    const std::shared_ptr<PM> members = getParticipantsModel(name);
    if (!members)
        return;
    const QModelIndex m = members->participantIndex(event.value(QStringLiteral("Member-ID")));
    if (m.isValid())
        members->setData(m, value, role);
}

void ConferenceListModel::memberDeleted(const ESL2::Event &event, const QString &name)
{
    const std::shared_ptr<PM> members = getParticipantsModel(name);
    if (!members)
        return;
    const QModelIndex m = members->participantIndex(event.value(QStringLiteral("Member-ID")));
    if (!m.isValid())
        return;
    const QString uri = m.data(PM::UriRole).toString();
    members->setData(m, PM::Disconnected, PM::StateRole);
    const int seconds = XMLConfig::instance().displayDisconnected;
    if (seconds > 0)
        startAutoDelete(seconds, members, m);
    emit userLeftConference(name, uri);
    checkDispatcherLeft(name, uri, false);
}

void ConferenceListModel::memberAdded(const ESL2::Event &event, const QString &name)
{
    if (headerIsTrue(event, "Member-Ghost"))
        return;
    const std::shared_ptr<PM> members = getParticipantsModel(name);
    if (!members)
        return;

    QString uri = event.value(QStringLiteral("Channel-Presence-ID"));
    if (uri.isEmpty())
        uri = event.value(QStringLiteral("Caller-Caller-ID-Number"));
    const bool pstn = stripPstnPrefix(uri);
    const QString memberId = event.value(QStringLiteral("Member-ID"));
    const QString memberType = event.value(QStringLiteral("Member-Type"));
    const QString display = MemberDirectory::displayName(uri);
    const QString callUuid = event.value(QStringLiteral("Channel-Call-UUID"));
    const bool canSpeak = headerIsTrue(event, "Speak");
    const bool talking = headerIsTrue(event, "Talking");
    const bool placeholder = memberId == QLatin1String("virtual");
    const QString dispatcher = MemberDirectory::dispatcherUri();

    if (!pstn && uri == dispatcher && !placeholder && !m_joinedConferences.contains(name)) {
        m_joinedConferences.append(name);
        emit dispatcherEnteredConference(name);
    }

    int row = -1;
    for (int i = 0; i < members->rowCount(); ++i) {
        const QModelIndex m = members->index(i, 0);
        if (placeholder && m.data(PM::CallUuidRole).toString() == callUuid) {
            qDebug() << "ConferenceListModel::conferenceEvent(): participant with callUUID" << callUuid
                     << "already in conference. Ignoring event.";
            return;
        }
        if (row < 0 && m.data(PM::UriRole).toString() == uri &&
            m.data(PM::StateRole).toInt() != PM::Connected)
            row = i;
    }
    if (row < 0) {
        row = members->rowCount();
        if (!members->insertRows(row, 1)) {
            qCritical()
                << "ConferenceListModel::conferenceEvent(): cannot create conference participant item";
            return;
        }
    }
    const QModelIndex m = members->index(row, 0);
    members->setData(m, uri, PM::UriRole);
    members->setData(m, memberId, PM::MemberIdRole);
    members->setData(m, display, Qt::DisplayRole);
    members->setData(m, memberType, PM::MemberTypeRole);
    members->setData(m, pstn, PM::PstnRole);
    members->setData(m, callUuid, PM::CallUuidRole);
    members->setData(m, canSpeak, PM::CanSpeakRole);
    members->setData(m, talking, PM::TalkingRole);
    // The server has answered whatever the console was waiting for on this row.
    members->setData(m, QString(), PM::PendingRole);

    int state = PM::Connected;
    if (!placeholder) {
        const bool privileged = !pstn && MemberDirectory::isDispatcherOrTechnician(uri);
        members->setData(m, privileged, PM::PrivilegedRole);
        if (!privileged) {
            const int confRow = rowOf(name);
            if (confRow < 0)
                qWarning() << "conferenceEvent(): received add-member event for nonexistent conference"
                           << name;
            else
                setData(index(confRow, 0), true, NonPrivilegedRole);
        }
        if (name == m_primaryId)
            emit userEnteredConference(name, uri);
    } else {
        const QString jobUuid = event.value(QStringLiteral("Member-Job-UUID"));
        if (callUuid.contains(QLatin1String("-ERR"))) {
            members->setData(m, callUuid, Qt::ToolTipRole);
            state = PM::Failed;
        } else if (jobUuid.contains(QLatin1String("-ERR"))) {
            members->setData(m, jobUuid, Qt::ToolTipRole);
            state = PM::Failed;
        } else {
            const auto pending = m_pendingCalls.constFind(jobUuid);
            if (pending == m_pendingCalls.constEnd() || pending->error.isEmpty()) {
                state = PM::Calling;
            } else {
                members->setData(m, pending->error, Qt::ToolTipRole);
                state = PM::Failed;
            }
            members->setData(m, jobUuid, PM::JobUuidRole);
        }
        if (state == PM::Failed && uri == dispatcher)
            emit dispatcherCallError(name, m.data(Qt::ToolTipRole).toString());
        else
            m_pendingCalls.insert(jobUuid, PendingCall{name, uri, QString(), m_clock()});
    }

    members->setData(m, state, PM::StateRole);
    const int seconds = XMLConfig::instance().displayFailedCalls;
    if ((state == 4 || state == PM::Failed) && seconds >= 1)
        startAutoDelete(seconds, members, m);
}

void ConferenceListModel::backgroundJob(ESL2::Event event)
{
    rememberJobFailure(event);
    // The rows of every conference learn the result too; copies, as a row may empty its conference.
    QVector<std::shared_ptr<PM>> models;
    for (const ConferenceEntry &entry : qAsConst(m_conferences))
        models.append(entry.participants);
    for (const std::shared_ptr<PM> &members : qAsConst(models))
        members->conferenceEvent(event);
}

void ConferenceListModel::rememberJobFailure(const ESL2::Event &event)
{
    const QString body = event.value(QStringLiteral("_body"));
    if (event.value(QStringLiteral("Job-Command")) != QLatin1String("originate") ||
        !body.contains(QLatin1String("-ERR")))
        return;
    const QString error = PM::callErrorText(body);
    const QString jobUuid = event.value(QStringLiteral("Job-UUID"));
    const time_t now = m_clock();
    auto pending = m_pendingCalls.find(jobUuid);
    if (pending != m_pendingCalls.end()) {
        pending->error = error;
        if (pending->uri == MemberDirectory::dispatcherUri())
            emit dispatcherCallError(pending->conference, error);
    } else {
        // The job failed before its placeholder arrived: the placeholder shows it at once.
        m_pendingCalls.insert(jobUuid, PendingCall{QString(), QString(), error, now});
    }
    for (auto it = m_pendingCalls.begin(); it != m_pendingCalls.end();) {
        if (now - it->created > m_pendingMaxAge)
            it = m_pendingCalls.erase(it);
        else
            ++it;
    }
}
