#include "records/recordparticipantlistmodel.h"

RecordParticipantListModel::RecordParticipantListModel(QObject *parent) : QAbstractItemModel(parent)
{}

QModelIndex RecordParticipantListModel::index(int row, int column, const QModelIndex &parent) const
{
    if (parent.isValid() || column != 0 || row < 0 || row >= m_entries.size())
        return QModelIndex();
    return createIndex(row, column);
}

QModelIndex RecordParticipantListModel::parent(const QModelIndex &) const
{
    return QModelIndex();
}

int RecordParticipantListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_entries.size();
}

int RecordParticipantListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 1;
}

QVariant RecordParticipantListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_entries.size())
        return QVariant();
    const Entry &e = m_entries.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return e.number;
    case JoinTimeRole:
        return e.join;
    case LeaveTimeRole:
        return e.leave;
    default:
        return QVariant();
    }
}

bool RecordParticipantListModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!index.isValid() || index.row() >= m_entries.size())
        return false;
    Entry &e = m_entries[index.row()];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        e.number = value.toString();
        break;
    case JoinTimeRole:
        e.join = value.toDateTime();
        break;
    case LeaveTimeRole:
        e.leave = value.toDateTime();
        break;
    default:
        return false;
    }
    emit dataChanged(index, index, {role});
    return true;
}

Qt::ItemFlags RecordParticipantListModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
}

bool RecordParticipantListModel::insertRows(int row, int count, const QModelIndex &parent)
{
    if (parent.isValid() || row < 0 || row > m_entries.size() || count < 1)
        return false;
    beginInsertRows(parent, row, row + count - 1);
    for (int i = 0; i < count; ++i)
        m_entries.insert(row, Entry());
    endInsertRows();
    return true;
}

bool RecordParticipantListModel::removeRows(int row, int count, const QModelIndex &parent)
{
    if (parent.isValid() || row < 0 || count < 1 || row + count > m_entries.size())
        return false;
    beginRemoveRows(parent, row, row + count - 1);
    m_entries.erase(m_entries.begin() + row, m_entries.begin() + row + count);
    endRemoveRows();
    return true;
}

void RecordParticipantListModel::clear()
{
    if (!m_entries.isEmpty())
        removeRows(0, m_entries.size());
}
