#include "conferences/conferenceparticipantsitemdelegate.h"

#include "conferences/conferenceparticipantsmodel.h"
#include "conferences/memberdirectory.h"

#include <QMovie>
#include <QPainter>

#include <algorithm>

using PM = ConferenceParticipantsModel;

namespace {
const int kIconHeight = 23;
const int kAccentWidth = 8;
// The name is centred above this band at the row's bottom; the status line sits in it.
const int kStatusBand = 11;

QFont statusFontOf(const QFont &viewFont)
{
    QFont font = viewFont;
    font.setItalic(true);
    font.setWeight(50);
    font.setPointSize(8);
    return font;
}

struct RowColours
{
    QColor accent;
    QColor background;
    QColor hovered;
};

RowColours coloursFor(int state)
{
    switch (state) {
    case PM::Calling:
        return {QColor(230, 0, 213), QColor(255, 255, 255), QColor(254, 225, 255)};
    case PM::Alerting:
        return {QColor(255, 242, 0), QColor(253, 255, 182), QColor(253, 255, 135)};
    case PM::Connected:
        return {QColor(0, 84, 240), QColor(225, 232, 246), QColor(199, 223, 244)};
    case 4:
        return {QColor(77, 234, 8), QColor(255, 202, 202), QColor(255, 170, 170)};
    case PM::Failed:
        return {QColor(231, 0, 0), QColor(231, 0, 0), QColor(255, 0, 0)};
    case PM::Disconnected:
        return {QColor(176, 176, 176), QColor(214, 214, 214), QColor(208, 208, 208)};
    default:
        return {QColor(77, 234, 8), QColor(255, 255, 255), QColor(243, 243, 243)};
    }
}

QRect zone(const QRect &row, int fromRight, int toRight)
{
    const int margin = std::max(0, (row.bottom() - row.top() - kIconHeight) / 2);
    return QRect(QPoint(row.right() - fromRight, row.top() + margin),
                 QPoint(row.right() - toRight, row.bottom() - margin));
}
} // namespace

ConferenceParticipantsItemDelegate::ConferenceParticipantsItemDelegate(QObject *parent)
    : QStyledItemDelegate(parent)
    , m_micActive(QStringLiteral(":/Data/mic-small-active.png"))
    , m_mic(QStringLiteral(":/Data/mic-small.png"))
    , m_micDisabled(QStringLiteral(":/Data/mic-small-disabled.png"))
    , m_disconnect(QStringLiteral(":/Data/DisconnectUser.png"))
    , m_recall(QStringLiteral(":/Data/recall.png"))
    , m_pstn(QStringLiteral(":/Data/TelephoneCallSmall.png"))
    , m_callMovie(new QMovie(QStringLiteral(":/Data/call-anim.gif"), QByteArray(), this))
{}

QRect ConferenceParticipantsItemDelegate::leftZone(const QRect &row)
{
    return zone(row, 74, 50);
}

QRect ConferenceParticipantsItemDelegate::rightZone(const QRect &row)
{
    return zone(row, 37, 14);
}

void ConferenceParticipantsItemDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                                               const QModelIndex &index) const
{
    const QRect r = option.rect;
    const int state = index.data(PM::StateRole).toInt();
    const bool hovered = option.state & QStyle::State_MouseOver;
    const bool enabled = option.state & QStyle::State_Enabled;

    painter->save();
    RowColours colours = coloursFor(state);
    QColor accent = colours.accent;
    QColor background = hovered ? colours.hovered : colours.background;
    QColor nameColour = Qt::black;
    QColor statusColour(112, 112, 112);
    if (state == PM::Failed) {
        nameColour = Qt::white;
        statusColour = Qt::white;
    }
    if (!enabled) {
        accent = QColor(208, 208, 208);
        background = QColor(192, 192, 192);
        nameColour = Qt::white;
        statusColour = Qt::white;
    }

    painter->setPen(QColor(232, 232, 232));
    painter->drawLine(r.left(), r.bottom(), r.right(), r.bottom());
    const int fillHeight = r.height() - 1;
    painter->fillRect(QRect(r.left(), r.top(), kAccentWidth, fillHeight), accent);
    painter->fillRect(QRect(r.left() + kAccentWidth, r.top(), r.width() - kAccentWidth, fillHeight),
                      background);

    const QIcon::Mode iconMode = enabled ? QIcon::Normal : QIcon::Disabled;
    int textLeft = r.left() + 25;
    if (index.data(PM::PstnRole).toBool()) {
        m_pstn.paint(painter, QRect(QPoint(r.left() + 25, r.top()), QPoint(r.left() + 48, r.bottom())),
                     Qt::AlignCenter, iconMode);
        textLeft = r.left() + 57;
    }

    const QRect left = leftZone(r);
    const QRect textArea(QPoint(textLeft, r.top()), QPoint(left.left() - 1, r.bottom() - kStatusBand));
    QFont nameFont = option.font;
    if (index.data(PM::UriRole).toString() == MemberDirectory::dispatcherUri())
        nameFont.setWeight(75);
    painter->setFont(nameFont);
    painter->setPen(nameColour);
    const QString name = QFontMetrics(nameFont).elidedText(index.data(Qt::DisplayRole).toString(),
                                                           Qt::ElideRight, textArea.width());
    painter->drawText(textArea, Qt::AlignLeft | Qt::AlignVCenter, name);

    QString status;
    if (state == PM::Calling || state == PM::Alerting)
        status = QStringLiteral("Вызывается...");
    else if (state == PM::Connected)
        status = QStringLiteral("Подключен");
    else if (state == PM::Failed)
        status = index.data(Qt::ToolTipRole).toString();
    // A command awaiting the server shows instead; a refused one leaves its cause as tool tip.
    const QString pending = index.data(PM::PendingRole).toString();
    if (!pending.isEmpty())
        status = pending;
    else if (status.isEmpty())
        status = index.data(Qt::ToolTipRole).toString();
    if (!status.isEmpty()) {
        const QFont statusFont = statusFontOf(option.font);
        painter->setFont(statusFont);
        painter->setPen(statusColour);
        const QRect statusArea(QPoint(textLeft, r.bottom() - 12), QPoint(left.left() - 1, r.bottom()));
        painter->drawText(statusArea, Qt::AlignLeft | Qt::AlignTop,
                          QFontMetrics(statusFont).elidedText(status, Qt::ElideRight, statusArea.width()));
    }

    // Ringing rows carry the animation as an index widget of the view instead.
    if (state == PM::Connected) {
        const QIcon &mic = !index.data(PM::CanSpeakRole).toBool() ? m_micDisabled
                           : index.data(PM::TalkingRole).toBool() ? m_micActive
                                                                  : m_mic;
        mic.paint(painter, left, Qt::AlignCenter, iconMode);
    } else if (state != PM::Calling && state != PM::Alerting && hovered) {
        m_recall.paint(painter, left, Qt::AlignCenter, iconMode);
    }
    if (hovered)
        m_disconnect.paint(painter, rightZone(r), Qt::AlignCenter, iconMode);

    if (option.state & QStyle::State_HasFocus) {
        painter->setPen(QPen(QColor(0, 160, 0), 2));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(r.adjusted(2, 2, -2, -2));
    }
    painter->restore();
}

QSize ConferenceParticipantsItemDelegate::sizeHint(const QStyleOptionViewItem &option,
                                                   const QModelIndex &index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    // The view's default height holds one line: the name needs its own line
    // clear of the status band, and the icons a little air.
    QFont nameFont = option.font;
    nameFont.setWeight(75);
    const int lines = QFontMetrics(nameFont).height() + 4 +
                      std::max(kStatusBand, QFontMetrics(statusFontOf(option.font)).ascent() + 2);
    size.setHeight(std::max({size.height(), lines, kIconHeight + 6}));
    return size;
}
