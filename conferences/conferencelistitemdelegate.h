#pragma once

#include <QIcon>
#include <QStyledItemDelegate>

// Paints one conference row: background by state, icon, name and member count.
// Owned by its ConferenceListView; GUI thread.
class ConferenceListItemDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit ConferenceListItemDelegate(QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    QIcon m_icon;
    QIcon m_iconWhite;
};
