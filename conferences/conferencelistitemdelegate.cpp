#include "conferences/conferencelistitemdelegate.h"

#include "conferences/conferencelistmodel.h"

#include <QPainter>

ConferenceListItemDelegate::ConferenceListItemDelegate(QObject *parent)
    : QStyledItemDelegate(parent)
    , m_icon(QStringLiteral(":/Data/menu_conferences.png"))
    , m_iconWhite(QStringLiteral(":/Data/menu_conferences_white.png"))
{}

void ConferenceListItemDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                                       const QModelIndex &index) const
{
    const QRect r = option.rect;
    const bool enabled = option.state & QStyle::State_Enabled;
    const bool selected = option.state & QStyle::State_Selected;
    const bool hovered = option.state & QStyle::State_MouseOver;
    const bool active = index.data(ConferenceListModel::ActiveRole).toBool();

    QColor background;
    if (!enabled)
        background = QColor(208, 208, 208);
    else if (selected)
        background = QColor(41, 143, 204);
    else if (active)
        background = hovered ? QColor(243, 243, 243) : QColor(255, 255, 255);
    else
        background = hovered ? QColor(226, 226, 226) : QColor(232, 232, 232);

    painter->save();
    painter->fillRect(QRect(r.left(), r.top(), r.width(), r.height() - 1), background);
    painter->setPen(QColor(232, 232, 232));
    painter->drawLine(r.left(), r.bottom(), r.right(), r.bottom());

    const QIcon &icon = (selected || !active) ? m_iconWhite : m_icon;
    icon.paint(painter, QRect(QPoint(r.left() + 13, r.top()), QPoint(r.left() + 36, r.bottom())),
               Qt::AlignCenter, enabled ? QIcon::Normal : QIcon::Disabled);

    QFont countFont = option.font;
    countFont.setPixelSize(13);
    const QString count =
        QStringLiteral("%1").arg(index.data(ConferenceListModel::ParticipantCountRole).toInt());
    const QFontMetrics countMetrics(countFont);
    const int countWidth = countMetrics.horizontalAdvance(count);
    const QRect countArea(QPoint(r.right() - 8 - countWidth, r.top()), QPoint(r.right() - 8, r.bottom()));
    painter->setFont(countFont);
    painter->setPen(!enabled ? QColor(Qt::white) : selected ? QColor(171, 204, 230) : QColor(158, 158, 158));
    painter->drawText(countArea, Qt::AlignRight | Qt::AlignVCenter, count);

    const QRect nameArea(QPoint(r.left() + 44, r.top()), QPoint(countArea.left() - 6, r.bottom()));
    painter->setFont(option.font);
    painter->setPen(selected ? Qt::white : Qt::black);
    painter->drawText(
        nameArea, Qt::AlignLeft | Qt::AlignVCenter,
        QFontMetrics(option.font)
            .elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight, nameArea.width()));

    if (option.state & QStyle::State_HasFocus) {
        painter->setPen(QPen(QColor(0, 160, 0), 2));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(r.adjusted(2, 2, -2, -2));
    }
    painter->restore();
}

QSize ConferenceListItemDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    // Room for the 24-pixel icon with a little air, as the user list's rows.
    size.setHeight(qMax(size.height(), 28));
    return size;
}
