#include "conferences/conferencelistmodel.h"

#include "app/xmlconfig.h"
#include "conferences/commandsafety.h"
#include "conferences/conferenceparticipantsmodel.h"
#include "conferences/deferredautodelete.h"
#include "conferences/memberdirectory.h"

#include <QDataStream>
#include <QDebug>
#include <QMimeData>
#include <QTimer>
#include <QVector>

namespace {
const char *const kUserMime = "application/x-useruri";
const char *const kMemberMime = "application/x-conference-member";

ConferenceListModel *s_instance = nullptr;

QString primaryDisplayFromConfig(const QString &id)
{
    const QString display = XMLConfig::instance().primaryConferenceDisplayName;
    return display.isEmpty() ? id : display;
}
} // namespace

ConferenceListModel::ConferenceListModel(QObject *parent)
    : QAbstractItemModel(parent), m_clock([] { return time(nullptr); })
{
    s_instance = this;
    m_primaryId = XMLConfig::instance().primaryConferenceId;
    m_primaryDisplayName = primaryDisplayFromConfig(m_primaryId);
    if (insertRows(0, 1))
        setData(index(0, 0), m_primaryId, Qt::DisplayRole);
    if (!attachEsl())
        qWarning() << "ConferenceListModel: no event-socket client yet; originate results are followed "
                      "once it connects";
}

bool ConferenceListModel::attachEsl()
{
    ESL2 *esl = ESL2::instance();
    if (!esl)
        return false;
    if (esl != m_esl) {
        if (m_esl)
            disconnect(m_esl, nullptr, this, nullptr);
        m_esl = esl;
        connect(esl, &ESL2::backgroundJob, this, &ConferenceListModel::backgroundJob);
    }
    return true;
}

ConferenceListModel::~ConferenceListModel()
{
    if (s_instance == this)
        s_instance = nullptr;
}

ConferenceListModel *ConferenceListModel::instance()
{
    return s_instance;
}

int ConferenceListModel::rowOf(const QString &name) const
{
    for (int row = 0; row < m_conferences.size(); ++row) {
        if (m_conferences.at(row).name == name)
            return row;
    }
    return -1;
}

bool ConferenceListModel::isPrimary(int row) const
{
    return m_conferences.at(row).name == m_primaryId;
}

std::shared_ptr<ConferenceParticipantsModel>
ConferenceListModel::getParticipantsModel(const QString &name) const
{
    const int row = rowOf(name);
    if (row < 0) {
        qWarning() << "ConferenceListModel::getParticipantsModel(): access to nonexistent conference" << name;
        return nullptr;
    }
    return m_conferences.at(row).participants;
}

std::shared_ptr<ConferenceParticipantsModel> ConferenceListModel::getParticipantsModel(int row) const
{
    if (row < 0 || row >= m_conferences.size())
        return nullptr;
    return m_conferences.at(row).participants;
}

bool ConferenceListModel::hasNonPrivilegedParticipants(const QString &name) const
{
    qDebug() << "ConferenceListModel::hasNonPrivilegedParticipants(" << name << ")...";
    const int row = rowOf(name);
    if (row < 0) {
        qDebug() << "ConferenceListModel::hasNonPrivilegedParticipants(): no such conference";
        return false;
    }
    const ConferenceParticipantsModel *members = m_conferences.at(row).participants.get();
    for (int i = 0; i < members->rowCount(); ++i) {
        const QModelIndex m = members->index(i, 0);
        if (!m.data(ConferenceParticipantsModel::PrivilegedRole).toBool() &&
            m.data(ConferenceParticipantsModel::StateRole).toInt() ==
                ConferenceParticipantsModel::Connected) {
            qDebug() << "ConferenceListModel::hasNonPrivilegedParticipants(): Yes,"
                     << m.data(ConferenceParticipantsModel::UriRole).toString();
            return true;
        }
    }
    qDebug() << "ConferenceListModel::hasNonPrivilegedParticipants(): No";
    return false;
}

bool ConferenceListModel::isUserInConference(const QString &name, const QString &uri) const
{
    qDebug() << "ConferenceListModel::isUserInConference(" << name << "," << uri << ")...";
    const int row = rowOf(name);
    if (row < 0) {
        qDebug() << "ConferenceListModel::isUserInConference(): no such conference";
        return false;
    }
    const ConferenceParticipantsModel *members = m_conferences.at(row).participants.get();
    for (int i = 0; i < members->rowCount(); ++i) {
        const QModelIndex m = members->index(i, 0);
        if (m.data(ConferenceParticipantsModel::UriRole).toString() != uri)
            continue;
        const int state = m.data(ConferenceParticipantsModel::StateRole).toInt();
        qDebug() << "ConferenceListModel::isUserInConference(): found in state" << state;
        if (state == ConferenceParticipantsModel::Calling || state == ConferenceParticipantsModel::Alerting ||
            state == ConferenceParticipantsModel::Connected) {
            qDebug() << "ConferenceListModel::isUserInConference(): Yes";
            return true;
        }
    }
    qDebug() << "ConferenceListModel::isUserInConference(): No";
    return false;
}

QString ConferenceListModel::getMemberId(const QString &name, const QString &uri) const
{
    const int row = rowOf(name);
    if (row < 0)
        return QString();
    const ConferenceParticipantsModel *members = m_conferences.at(row).participants.get();
    for (int i = 0; i < members->rowCount(); ++i) {
        const QModelIndex m = members->index(i, 0);
        if (m.data(ConferenceParticipantsModel::UriRole).toString() == uri &&
            m.data(ConferenceParticipantsModel::StateRole).toInt() == ConferenceParticipantsModel::Connected)
            return m.data(ConferenceParticipantsModel::MemberIdRole).toString();
    }
    return QString();
}

QStringList ConferenceListModel::conferenceNames() const
{
    QStringList names;
    for (const ConferenceEntry &entry : m_conferences)
        names.append(entry.name);
    names.sort();
    return names;
}

QStringList ConferenceListModel::dispatcherConferences() const
{
    const QString dispatcher = MemberDirectory::dispatcherUri();
    QStringList names;
    for (const ConferenceEntry &entry : m_conferences) {
        const ConferenceParticipantsModel *members = entry.participants.get();
        for (int i = 0; i < members->rowCount(); ++i) {
            const QModelIndex m = members->index(i, 0);
            if (m.data(ConferenceParticipantsModel::UriRole).toString() == dispatcher &&
                m.data(ConferenceParticipantsModel::StateRole).toInt() ==
                    ConferenceParticipantsModel::Connected &&
                !m.data(ConferenceParticipantsModel::PstnRole).toBool()) {
                names.append(entry.name);
                break;
            }
        }
    }
    names.sort();
    return names;
}

int ConferenceListModel::addNewConference()
{
    QString prefix = XMLConfig::instance().newConferencePrefix;
    QString why;
    if (!prefix.isEmpty() && !CommandSafety::isConferenceName(prefix + QLatin1Char('1'), &why)) {
        qWarning() << "ConferenceListModel::addNewConference(): unusable prefix" << prefix << why;
        prefix.clear();
    }
    if (prefix.isEmpty())
        prefix = QStringLiteral("конференция-");
    QString candidate;
    for (int n = 1;; ++n) {
        candidate = prefix + QString::number(n);
        bool taken = false;
        for (int row = 0; row < m_conferences.size() && !taken; ++row)
            taken = data(index(row, 0), Qt::DisplayRole).toString() == candidate;
        if (!taken)
            break;
    }
    const int row = m_conferences.size();
    if (!insertRows(row, 1))
        return -1;
    setData(index(row, 0), candidate, Qt::DisplayRole);
    return row;
}

QModelIndex ConferenceListModel::index(int row, int column, const QModelIndex &parent) const
{
    if (parent.isValid() || column != 0 || row < 0 || row >= m_conferences.size())
        return QModelIndex();
    return createIndex(row, column);
}

QModelIndex ConferenceListModel::parent(const QModelIndex &) const
{
    return QModelIndex();
}

int ConferenceListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_conferences.size();
}

int ConferenceListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 1;
}

QVariant ConferenceListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_conferences.size())
        return QVariant();
    const ConferenceEntry &entry = m_conferences.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return entry.name == m_primaryId ? m_primaryDisplayName : entry.name;
    case ParticipantCountRole:
        return entry.participants->rowCount();
    case ConferenceIdRole:
        return entry.name;
    case ActiveRole:
        return entry.active;
    case NonPrivilegedRole:
        return entry.nonPrivilegedPresent;
    case RenamableRole:
        return !entry.active && entry.name != m_primaryId;
    default:
        return QVariant();
    }
}

bool ConferenceListModel::rename(int row, const QString &requested, bool checked)
{
    QString name = requested;
    if (checked) {
        if (name.isEmpty())
            return false;
        // Typing the primary's shown name means the primary itself.
        if (name == m_primaryDisplayName)
            name = m_primaryId;
        if (rowOf(name) >= 0)
            return false;
        QString why;
        if (!CommandSafety::isConferenceName(name, &why)) {
            emit nameRefused(why);
            return false;
        }
    }
    m_conferences[row].name = name;
    m_conferences[row].participants->setHeaderData(0, Qt::Horizontal, name, Qt::EditRole);
    return true;
}

bool ConferenceListModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!index.isValid() || index.row() >= m_conferences.size())
        return false;
    const int row = index.row();
    ConferenceEntry &entry = m_conferences[row];
    switch (role) {
    case Qt::DisplayRole:
        rename(row, value.toString(), false);
        break;
    case Qt::EditRole:
        if (!rename(row, value.toString(), true))
            return false;
        break;
    case ParticipantCountRole:
        if (entry.participants->rowCount() == 0 && !isPrimary(row)) {
            removeRows(row, 1);
            return true;
        }
        break;
    case ActiveRole:
        entry.active = value.toBool();
        if (!entry.active)
            entry.nonPrivilegedPresent = false;
        break;
    case NonPrivilegedRole:
        entry.nonPrivilegedPresent = value.toBool();
        break;
    default:
        return false;
    }
    emit dataChanged(index, index, {role});
    return true;
}

Qt::ItemFlags ConferenceListModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::ItemIsDropEnabled;
    Qt::ItemFlags f = Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsDropEnabled;
    if (data(index, RenamableRole).toBool())
        f |= Qt::ItemIsEditable;
    return f;
}

bool ConferenceListModel::insertRows(int row, int count, const QModelIndex &parent)
{
    if (parent.isValid() || row < 0 || row > m_conferences.size() || count < 1)
        return false;
    beginInsertRows(QModelIndex(), row, row + count - 1);
    for (int i = 0; i < count; ++i) {
        ConferenceEntry entry;
        entry.participants = std::make_shared<ConferenceParticipantsModel>();
        m_conferences.insert(row, entry);
    }
    endInsertRows();
    return true;
}

bool ConferenceListModel::removeRows(int row, int count, const QModelIndex &parent)
{
    if (parent.isValid() || row < 0 || count < 1 || row + count > m_conferences.size())
        return false;
    // The removal may be triggered from inside a participants model (its last member
    // went), so its release waits for the next pass of the event loop.
    QVector<std::shared_ptr<ConferenceParticipantsModel>> retired;
    beginRemoveRows(QModelIndex(), row, row + count - 1);
    for (int i = 0; i < count; ++i)
        retired.append(m_conferences.takeAt(row).participants);
    endRemoveRows();
    QTimer::singleShot(0, this, [retired]() {});
    return true;
}

QStringList ConferenceListModel::mimeTypes() const
{
    return {QString::fromLatin1(kUserMime), QString::fromLatin1(kMemberMime)};
}

Qt::DropActions ConferenceListModel::supportedDropActions() const
{
    return Qt::CopyAction | Qt::MoveAction;
}

bool ConferenceListModel::canDropMimeData(const QMimeData *data, Qt::DropAction, int, int column,
                                          const QModelIndex &) const
{
    if (!data || (column != -1 && column != 0))
        return false;
    return data->hasFormat(QString::fromLatin1(kUserMime)) ||
           data->hasFormat(QString::fromLatin1(kMemberMime));
}

bool ConferenceListModel::dropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
                                       const QModelIndex &parent)
{
    if (!canDropMimeData(data, action, row, column, parent))
        return false;
    if (action == Qt::IgnoreAction)
        return true;

    const bool memberDrop = data->hasFormat(QString::fromLatin1(kMemberMime));
    const int target = parent.isValid() ? parent.row() : addNewConference();
    if (target < 0)
        return false;
    const QString targetName = m_conferences.at(target).name;

    if (memberDrop) {
        QDataStream stream(data->data(QString::fromLatin1(kMemberMime)));
        QString source;
        stream >> source;
        if (source == targetName)
            return false;
        while (!stream.atEnd()) {
            QString memberId;
            stream >> memberId;
            if (stream.status() != QDataStream::Ok)
                break;
            emit transferRequest(targetName, source, memberId);
        }
        return true;
    }

    QDataStream stream(data->data(QString::fromLatin1(kUserMime)));
    QStringList uris;
    while (!stream.atEnd()) {
        QString uri;
        stream >> uri;
        if (stream.status() != QDataStream::Ok)
            break;
        if (!uris.contains(uri))
            uris.append(uri);
    }
    if (m_conferences.at(target).active) {
        for (const QString &uri : uris)
            emit callToConference(targetName, uri);
        return true;
    }
    const std::shared_ptr<ConferenceParticipantsModel> members = m_conferences.at(target).participants;
    for (const QString &uri : uris) {
        if (!members
                 ->match(members->index(0, 0), ConferenceParticipantsModel::UriRole, uri, 1, Qt::MatchExactly)
                 .isEmpty())
            continue;
        const int memberRow = members->rowCount();
        if (!members->insertRows(memberRow, 1))
            continue;
        const QModelIndex m = members->index(memberRow, 0);
        members->setData(m, ConferenceParticipantsModel::Planned, ConferenceParticipantsModel::StateRole);
        members->setData(m, uri, ConferenceParticipantsModel::UriRole);
        members->setData(m, QStringLiteral("virtual"), ConferenceParticipantsModel::MemberIdRole);
        members->setData(m, MemberDirectory::displayName(uri), Qt::DisplayRole);
        members->setData(m, QStringLiteral("member"), ConferenceParticipantsModel::MemberTypeRole);
    }
    return true;
}

void ConferenceListModel::configChanged()
{
    const QString newId = XMLConfig::instance().primaryConferenceId;
    const QString newDisplay = primaryDisplayFromConfig(newId);
    if (newId == m_primaryId) {
        if (newDisplay != m_primaryDisplayName) {
            m_primaryDisplayName = newDisplay;
            const int row = rowOf(m_primaryId);
            if (row < 0)
                qCritical() << "ConferenceListModel::configChanged(): default conference not found!";
            else
                emit dataChanged(index(row, 0), index(row, 0));
        }
        return;
    }

    const QString oldId = m_primaryId;
    m_primaryId = newId;
    m_primaryDisplayName = newDisplay;
    const int oldRow = rowOf(oldId);
    if (oldRow < 0) {
        qCritical() << "ConferenceListModel::configChanged(): default conference" << oldId << "not found!";
    } else if (m_conferences.at(oldRow).participants->rowCount() == 0) {
        removeRows(oldRow, 1);
    } else {
        emit dataChanged(index(oldRow, 0), index(oldRow, 0));
    }

    const int newRow = rowOf(newId);
    if (newRow >= 0) {
        emit dataChanged(index(newRow, 0), index(newRow, 0));
    } else if (insertRows(0, 1)) {
        setData(index(0, 0), newId, Qt::DisplayRole);
    }
}

void ConferenceListModel::eslConnected()
{
    // The client may have been built after this model: follow it from its first connection.
    if (!attachEsl()) {
        qWarning() << "ConferenceListModel::eslConnected(): no event-socket client";
        return;
    }
    m_esl->sendRequest(QStringLiteral("api conference xml_list\n\n"), this,
                       QStringLiteral("conferenceListReceived"), QVariant());
}

bool ConferenceListModel::stripPstnPrefix(QString &uri) const
{
    const QString prefix = XMLConfig::instance().telephoneGateway + QLatin1Char(':');
    if (!uri.startsWith(prefix, Qt::CaseSensitive))
        return false;
    uri.remove(0, prefix.size());
    return true;
}

void ConferenceListModel::checkDispatcherLeft(const QString &name, const QString &uri, bool ignorePstnRows)
{
    if (uri != MemberDirectory::dispatcherUri())
        return;
    const int row = rowOf(name);
    if (row >= 0) {
        const ConferenceParticipantsModel *members = m_conferences.at(row).participants.get();
        for (int i = 0; i < members->rowCount(); ++i) {
            const QModelIndex m = members->index(i, 0);
            if (m.data(ConferenceParticipantsModel::UriRole).toString() == uri &&
                m.data(ConferenceParticipantsModel::StateRole).toInt() ==
                    ConferenceParticipantsModel::Connected &&
                !(ignorePstnRows && m.data(ConferenceParticipantsModel::PstnRole).toBool()))
                return;
        }
    }
    if (m_joinedConferences.removeAll(name) > 0)
        emit dispatcherLeftConference(name);
}

void ConferenceListModel::startAutoDelete(int seconds,
                                          const std::shared_ptr<ConferenceParticipantsModel> &model,
                                          const QModelIndex &member)
{
    new DeferredAutoDelete(DeferredAutoDelete::delayForSeconds(seconds), model, member, this);
}
