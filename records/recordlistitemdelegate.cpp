#include "records/recordlistitemdelegate.h"

#include "records/recordlistmodel.h"

#include <QLocale>
#include <QPainter>

namespace {

// Draws date over time, right-aligned, ending at right; returns the column's left edge.
int drawStamp(QPainter *painter, const QFont &font, const QDateTime &when, int right, const QRect &area)
{
    const QLocale locale;
    const QDateTime local = when.toLocalTime();
    const QString date = when.isValid() ? locale.toString(local.date(), QLocale::ShortFormat) : QString();
    const QString time = when.isValid() ? locale.toString(local.time(), QLocale::ShortFormat) : QString();
    const QFontMetrics metrics(font);
    const int width = qMax(metrics.horizontalAdvance(date), metrics.horizontalAdvance(time));
    const QRect column(QPoint(right - width, area.top()), QPoint(right, area.bottom()));
    painter->drawText(column, Qt::AlignRight | Qt::AlignTop, date);
    painter->drawText(column, Qt::AlignRight | Qt::AlignBottom, time);
    return column.left();
}

} // namespace

RecordListItemDelegate::RecordListItemDelegate(QObject *parent)
    : QStyledItemDelegate(parent)
    , m_conference(QStringLiteral(":/Data/menu_conferences.png"))
    , m_conferenceWhite(QStringLiteral(":/Data/menu_conferences_white.png"))
    , m_direct(QStringLiteral(":/Data/TelephoneCallSmall.png"))
    , m_directWhite(QStringLiteral(":/Data/units_phonecall_white.png"))
{}

QSize RecordListItemDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    return QSize(QStyledItemDelegate::sizeHint(option, index).width(), 40);
}

void RecordListItemDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                                   const QModelIndex &index) const
{
    const QRect r = option.rect;
    const bool enabled = option.state & QStyle::State_Enabled;
    const bool selected = option.state & QStyle::State_Selected;
    const bool hovered = option.state & QStyle::State_MouseOver;

    QColor background(Qt::white);
    if (!enabled)
        background = QColor(0xD0, 0xD0, 0xD0);
    else if (selected)
        background = QColor(0x29, 0x8F, 0xCC);
    else if (hovered)
        background = QColor(0xF3, 0xF3, 0xF3);

    painter->save();
    painter->fillRect(QRect(r.left(), r.top(), r.width(), r.height() - 1), background);
    painter->setPen(QColor(0xE8, 0xE8, 0xE8));
    painter->drawLine(r.left(), r.bottom(), r.right(), r.bottom());

    if (index.data(RecordListModel::RecordMoreRole).toBool()) {
        painter->setFont(option.font);
        painter->setPen(selected ? QColor(Qt::white) : QColor(Qt::blue));
        painter->drawText(r, Qt::AlignCenter, QStringLiteral("Еще..."));
    } else {
        const bool conference = index.data(RecordListModel::RecordIsConferenceRole).toBool();
        const QIcon &icon = conference ? (selected ? m_conferenceWhite : m_conference)
                                       : (selected ? m_directWhite : m_direct);
        icon.paint(painter, QRect(QPoint(r.left() + 8, r.top()), QPoint(r.left() + 31, r.bottom())),
                   Qt::AlignCenter, enabled ? QIcon::Normal : QIcon::Disabled);

        const QRect area(QPoint(r.left() + 40, r.top() + 3), QPoint(r.right() - 8, r.bottom() - 4));
        QFont small = option.font;
        small.setPixelSize(12);
        painter->setFont(small);
        painter->setPen(selected ? QColor(0xAB, 0xCC, 0xE6) : QColor(0x9E, 0x9E, 0x9E));
        int left = drawStamp(painter, small, index.data(RecordListModel::RecordEndRole).toDateTime(),
                             area.right(), area);
        const QFontMetrics smallMetrics(small);
        const QString dash = QStringLiteral("-");
        const int dashRight = left - 8;
        painter->drawText(QRect(QPoint(dashRight - smallMetrics.horizontalAdvance(dash), area.top()),
                                QPoint(dashRight, area.bottom())),
                          Qt::AlignRight | Qt::AlignVCenter, dash);
        left = drawStamp(painter, small, index.data(RecordListModel::RecordStartRole).toDateTime(),
                         dashRight - smallMetrics.horizontalAdvance(dash) - 9, area);

        const QRect textArea(area.topLeft(), QPoint(left - 4, area.bottom()));
        painter->setFont(option.font);
        painter->setPen(selected ? Qt::white : Qt::black);
        painter->drawText(textArea, Qt::AlignLeft | Qt::AlignVCenter,
                          QFontMetrics(option.font)
                              .elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight,
                                          qMax(0, textArea.width())));
    }

    if (option.state & QStyle::State_HasFocus) {
        painter->setPen(QPen(QColor(0, 160, 0), 2));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(r.adjusted(2, 2, -2, -2));
    }
    painter->restore();
}
