#pragma once

#include <QAbstractItemModel>
#include <QDateTime>
#include <QList>
#include <QString>

// The participants of the selected conference recording, as its call detail record
// lists them: number, join and leave time. Owned by RecordListModel, which fills it;
// shown read-only by the recordings page. GUI thread.
class RecordParticipantListModel final : public QAbstractItemModel
{
    Q_OBJECT

public:
    enum Roles {
        JoinTimeRole = Qt::UserRole,
        LeaveTimeRole,
    };

    explicit RecordParticipantListModel(QObject *parent = nullptr);

    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool insertRows(int row, int count, const QModelIndex &parent = QModelIndex()) override;
    bool removeRows(int row, int count, const QModelIndex &parent = QModelIndex()) override;

    void clear();

private:
    struct Entry
    {
        QString number;
        QDateTime join;
        QDateTime leave;
    };
    QList<Entry> m_entries;
};
