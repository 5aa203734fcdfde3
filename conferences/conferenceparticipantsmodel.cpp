#include "conferences/conferenceparticipantsmodel.h"

#include "app/xmlconfig.h"
#include "conferences/conferencelistmodel.h"
#include "conferences/deferredautodelete.h"

#include <QDataStream>
#include <QDebug>
#include <QMimeData>

namespace {
const char *const kMemberMime = "application/x-conference-member";
}

ConferenceParticipantsModel::ConferenceParticipantsModel(QObject *parent) : QAbstractItemModel(parent)
{}

QString ConferenceParticipantsModel::callErrorText(const QString &body)
{
    // Order matters: a body naming several causes shows the first that matches.
    if (body.contains(QLatin1String("NO_ANSWER")))
        return QStringLiteral("Вызываемый пользователь не отвечает");
    if (body.contains(QLatin1String("USER_BUSY")))
        return QStringLiteral("Пользователь занят");
    if (body.contains(QLatin1String("CALL_REJECTED")))
        return QStringLiteral("Вызов отклонен вызываемым пользователем");
    if (body.contains(QLatin1String("UNALLOCATED_NUMBER")))
        return QStringLiteral("Вызываемый пользователь не существует");
    return QStringLiteral("Ошибка вызова: ") + body;
}

QModelIndex ConferenceParticipantsModel::participantIndex(const QString &memberId) const
{
    for (int row = 0; row < m_members.size(); ++row) {
        if (m_members.at(row).memberId == memberId)
            return createIndex(row, 0);
    }
    qWarning() << "ConferenceParticipantsModel::participantIndex(): access to nonexistent member" << memberId;
    return QModelIndex();
}

QModelIndex ConferenceParticipantsModel::index(int row, int column, const QModelIndex &parent) const
{
    if (parent.isValid() || column != 0 || row < 0 || row >= m_members.size())
        return QModelIndex();
    return createIndex(row, column);
}

QModelIndex ConferenceParticipantsModel::parent(const QModelIndex &) const
{
    return QModelIndex();
}

int ConferenceParticipantsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_members.size();
}

int ConferenceParticipantsModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 1;
}

QVariant ConferenceParticipantsModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_members.size())
        return QVariant();
    const ConferenceMember &m = m_members.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return m.display;
    case Qt::ToolTipRole:
        return m.toolTip;
    case UriRole:
        return m.uri;
    case MemberIdRole:
        return m.memberId;
    case MemberTypeRole:
        return m.memberType;
    case StateRole:
        return m.state;
    case CanSpeakRole:
        return m.canSpeak;
    case TalkingRole:
        return m.talking;
    case CallUuidRole:
        return m.callUuid;
    case JobUuidRole:
        return m.jobUuid;
    case EndedRole:
        return isEndedState(m.state);
    case PstnRole:
        return m.pstn;
    case PrivilegedRole:
        return m.privileged;
    case PendingRole:
        return m.pending;
    default:
        return QVariant();
    }
}

bool ConferenceParticipantsModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!index.isValid() || index.row() >= m_members.size())
        return false;
    ConferenceMember &m = m_members[index.row()];
    QVector<int> roles{role};
    switch (role) {
    case Qt::DisplayRole:
        m.display = value.toString();
        break;
    case Qt::ToolTipRole:
        m.toolTip = value.toString();
        break;
    case UriRole:
        m.uri = value.toString();
        break;
    case MemberIdRole:
        m.memberId = value.toString();
        break;
    case MemberTypeRole:
        m.memberType = value.toString();
        break;
    case StateRole: {
        const int old = m.state;
        m.state = value.toInt();
        if (isEndedState(old) != isEndedState(m.state))
            roles.append(EndedRole);
        if (old != m.state) {
            // A new state answers whatever was awaited; an error text belongs to the failure
            // (or refused command) it describes, so it goes unless the row fails now.
            if (!m.pending.isEmpty()) {
                m.pending.clear();
                roles.append(PendingRole);
            }
            if (m.state != Failed && !m.toolTip.isEmpty()) {
                m.toolTip.clear();
                roles.append(Qt::ToolTipRole);
            }
        }
        break;
    }
    case CanSpeakRole:
        m.canSpeak = value.toBool();
        break;
    case TalkingRole:
        m.talking = value.toBool();
        break;
    case CallUuidRole:
        m.callUuid = value.toString();
        break;
    case JobUuidRole:
        m.jobUuid = value.toString();
        break;
    case PstnRole:
        m.pstn = value.toBool();
        break;
    case PrivilegedRole:
        m.privileged = value.toBool();
        break;
    case PendingRole:
        m.pending = value.toString();
        break;
    default:
        qCritical() << "ConferenceParticipantsModel::setData(): unsupported role" << role;
        return false;
    }
    emit dataChanged(index, index, roles);
    return true;
}

Qt::ItemFlags ConferenceParticipantsModel::flags(const QModelIndex &index) const
{
    if (!index.isValid() || index.row() >= m_members.size())
        return Qt::NoItemFlags;
    // Only a live member can be dragged to another conference (a transfer).
    if (m_members.at(index.row()).state == Connected)
        return Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemIsEnabled;
    return Qt::ItemIsEnabled;
}

QVariant ConferenceParticipantsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (section == 0 && orientation == Qt::Horizontal && (role == Qt::DisplayRole || role == Qt::EditRole))
        return m_conferenceName;
    return QVariant();
}

bool ConferenceParticipantsModel::setHeaderData(int section, Qt::Orientation orientation,
                                                const QVariant &value, int)
{
    if (section != 0 || orientation != Qt::Horizontal)
        return false;
    m_conferenceName = value.toString();
    emit headerDataChanged(Qt::Horizontal, 0, 0);
    return true;
}

bool ConferenceParticipantsModel::insertRows(int row, int count, const QModelIndex &parent)
{
    if (parent.isValid() || row < 0 || row > m_members.size() || count < 1)
        return false;
    beginInsertRows(QModelIndex(), row, row + count - 1);
    for (int i = 0; i < count; ++i)
        m_members.insert(row, ConferenceMember());
    endInsertRows();
    propagateCount();
    return true;
}

void ConferenceParticipantsModel::appendMembers(const QVector<ConferenceMember> &members)
{
    if (members.isEmpty())
        return;
    const int first = m_members.size();
    beginInsertRows(QModelIndex(), first, first + members.size() - 1);
    m_members.reserve(first + members.size());
    for (const ConferenceMember &member : members)
        m_members.append(member);
    endInsertRows();
    propagateCount();
}

bool ConferenceParticipantsModel::removeRows(int row, int count, const QModelIndex &parent)
{
    if (parent.isValid() || row < 0 || count < 1 || row + count > m_members.size())
        return false;
    beginRemoveRows(QModelIndex(), row, row + count - 1);
    m_members.erase(m_members.begin() + row, m_members.begin() + row + count);
    endRemoveRows();
    propagateCount();
    return true;
}

QStringList ConferenceParticipantsModel::mimeTypes() const
{
    return {QString::fromLatin1(kMemberMime)};
}

QMimeData *ConferenceParticipantsModel::mimeData(const QModelIndexList &indexes) const
{
    QByteArray encoded;
    QDataStream stream(&encoded, QIODevice::WriteOnly);
    stream << m_conferenceName;
    for (const QModelIndex &index : indexes)
        stream << index.data(MemberIdRole).toString();
    auto *mime = new QMimeData;
    mime->setData(QString::fromLatin1(kMemberMime), encoded);
    return mime;
}

Qt::DropActions ConferenceParticipantsModel::supportedDragActions() const
{
    // Never a move: Qt would delete the dragged row itself, and the server's del-member that
    // really moves the member would then find nothing to update.
    return Qt::CopyAction;
}

QModelIndex ConferenceParticipantsModel::findRow(int role, const QString &value) const
{
    if (value.isEmpty())
        return QModelIndex();
    for (int row = 0; row < m_members.size(); ++row) {
        if (data(index(row, 0), role).toString() == value)
            return index(row, 0);
    }
    return QModelIndex();
}

void ConferenceParticipantsModel::conferenceEvent(ESL2::Event event)
{
    // Rows that never had a job (planned, real members) must not match a job without an id.
    const int row = findRow(JobUuidRole, event.value(QStringLiteral("Job-UUID"))).row();
    if (row < 0)
        return;
    const QString body = event.value(QStringLiteral("_body"));
    if (!body.contains(QLatin1String("-ERR")))
        return;
    const QModelIndex idx = index(row, 0);
    setData(idx, callErrorText(body), Qt::ToolTipRole);
    setData(idx, Failed, StateRole);

    const int seconds = XMLConfig::instance().displayFailedCalls;
    if (seconds > 0) {
        // The list model parents the timer: it outlives the conference row, not the other way round.
        ConferenceListModel *list = ConferenceListModel::instance();
        std::shared_ptr<ConferenceParticipantsModel> self;
        if (list)
            self = list->getParticipantsModel(m_conferenceName);
        if (!self || self.get() != this)
            self = weak_from_this().lock();
        if (self)
            new DeferredAutoDelete(DeferredAutoDelete::delayForSeconds(seconds), self, idx, list);
    }
}

void ConferenceParticipantsModel::propagateCount()
{
    ConferenceListModel *list = ConferenceListModel::instance();
    if (!list)
        return;
    // Keep this model alive while the list may drop the conference that owns it.
    const auto self = weak_from_this().lock();
    const QModelIndexList hits = list->match(list->index(0, 0), ConferenceListModel::ConferenceIdRole,
                                             m_conferenceName, 1, Qt::MatchExactly);
    if (hits.isEmpty()) {
        qCritical() << "ConferenceParticipantsModel::removeRows(): conference" << m_conferenceName
                    << "not found";
        return;
    }
    list->setData(hits.first(), rowCount(), ConferenceListModel::ParticipantCountRole);
}
