#include "users/userlistitemdelegate.h"

#include "app/xmlconfig.h"
#include "users/userlistmodel.h"

#include <QAbstractItemModel>
#include <QFontMetrics>
#include <QPainter>

namespace {
const QColor kDisabledBackground(208, 208, 208);
const QColor kSelectedBackground(41, 143, 204);
const QColor kHoverBackground(243, 243, 243);
const QColor kBottomLine(232, 232, 232);
const QColor kChildStrip(231, 231, 231);
const QColor kTotalCount(158, 158, 158);
const QColor kTotalCountSelected(171, 204, 230);
const QColor kRegisteredCount(0, 221, 0);
} // namespace

UserListItemDelegate::UserListItemDelegate(QObject *parent)
    : QStyledItemDelegate(parent)
    , m_branchClosed(QStringLiteral(":/Data/branch-closed.png"))
    , m_branchOpen(QStringLiteral(":/Data/branch-open.png"))
{}

QSize UserListItemDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    // Room for the 24-pixel state icon with a little air around it.
    size.setHeight(qMax(size.height(), IconWidth + 4));
    return size;
}

void UserListItemDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                                 const QModelIndex &index) const
{
    const QAbstractItemModel *model = index.model();
    if (!model)
        return;
    const bool enabled = option.state & QStyle::State_Enabled;
    const bool selected = option.state & QStyle::State_Selected;
    const bool isGroup = model->hasChildren(index);
    const QRect row = option.rect;

    painter->save();

    if (!enabled)
        painter->fillRect(row, kDisabledBackground);
    else if (selected)
        painter->fillRect(row, kSelectedBackground);
    else if (option.state & QStyle::State_MouseOver)
        painter->fillRect(row, kHoverBackground);
    else
        painter->fillRect(row, option.backgroundBrush);

    painter->fillRect(QRect(row.left(), row.bottom(), row.width(), 1), kBottomLine);

    QRect content = row;
    if (index.parent().isValid()) {
        painter->fillRect(QRect(row.left(), row.top(), ChildIndent, row.height()), kChildStrip);
        content.setLeft(row.left() + ChildIndent);
    }

    if (option.state & QStyle::State_HasFocus) {
        const QRect frame = row.adjusted(1, 1, -1, -1);
        const QColor green(Qt::green);
        painter->fillRect(QRect(frame.left(), frame.top(), frame.width(), 2), green);
        painter->fillRect(QRect(frame.left(), frame.bottom() - 1, frame.width(), 2), green);
        painter->fillRect(QRect(frame.left(), frame.top(), 2, frame.height()), green);
        painter->fillRect(QRect(frame.right() - 1, frame.top(), 2, frame.height()), green);
    }

    content.setRight(content.right() - RightMargin);
    int textRight = content.right();

    if (isGroup) {
        QFont counterFont = option.font;
        counterFont.setPixelSize(13);
        painter->setFont(counterFont);
        const QFontMetrics fm(counterFont);
        const int rows = model->rowCount(index);
        int left = content.right() + 1;
        QColor totalColour = selected ? kTotalCountSelected : kTotalCount;
        if (!enabled)
            totalColour = Qt::white;
        if (XMLConfig::instance().showNumRegistered) {
            int registered = 0;
            for (int i = 0; i < rows; ++i) {
                if (model->index(i, 0, index).data(UserListModel::RegisteredRole).toBool())
                    ++registered;
            }
            const QString total = QStringLiteral("/%1").arg(rows);
            const QString reg = QStringLiteral("%1").arg(registered);
            const int totalWidth = fm.horizontalAdvance(total);
            const int regWidth = fm.horizontalAdvance(reg);
            left -= totalWidth;
            painter->setPen(totalColour);
            painter->drawText(QRect(left, content.top(), totalWidth, content.height()),
                              Qt::AlignRight | Qt::AlignVCenter, total);
            left -= regWidth;
            painter->setPen(enabled ? kRegisteredCount : QColor(Qt::white));
            painter->drawText(QRect(left, content.top(), regWidth, content.height()),
                              Qt::AlignRight | Qt::AlignVCenter, reg);
        } else {
            const QString total = QStringLiteral("%1").arg(rows);
            const int totalWidth = fm.horizontalAdvance(total);
            left -= totalWidth;
            painter->setPen(totalColour);
            painter->drawText(QRect(left, content.top(), totalWidth, content.height()),
                              Qt::AlignRight | Qt::AlignVCenter, total);
        }
        textRight = left - 1;
    }

    const QRect iconRect(content.left() + IconOffset, content.top(), IconWidth, content.height());
    const QIcon::Mode mode = enabled ? QIcon::Normal : QIcon::Disabled;
    QIcon icon;
    if (isGroup)
        icon = (option.state & QStyle::State_Open) ? m_branchOpen : m_branchClosed;
    else
        icon = qvariant_cast<QIcon>(index.data(Qt::DecorationRole));
    if (!icon.isNull())
        icon.paint(painter, iconRect, Qt::AlignCenter, mode);

    QFont font = option.font;
    if (index.data(UserListModel::UserUriRole).toString() == UserListModel::dispatcherUri())
        font.setWeight(QFont::Bold);
    painter->setFont(font);
    painter->setPen(selected || !enabled ? QColor(Qt::white) : QColor(Qt::black));
    const QRect textRect(content.left() + TextOffset, content.top(),
                         qMax(0, textRight - (content.left() + TextOffset) + 1), content.height());
    const QString text = QFontMetrics(font).elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight,
                                                       textRect.width());
    painter->setClipRect(textRect);
    painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, text);

    painter->restore();
}
