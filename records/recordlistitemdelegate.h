#pragma once

#include <QIcon>
#include <QStyledItemDelegate>

// Paints a row of the recordings list: kind icon, text, and the start and end as
// date-over-time columns at the right; the row that loads more is a centred "Еще...".
// Reads the row only through RecordListModel's roles. Owned by its view; GUI thread.
class RecordListItemDelegate final : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit RecordListItemDelegate(QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    QIcon m_conference;
    QIcon m_conferenceWhite;
    QIcon m_direct;
    QIcon m_directWhite;
};
