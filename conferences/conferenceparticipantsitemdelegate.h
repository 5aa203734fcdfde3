#pragma once

#include <QIcon>
#include <QStyledItemDelegate>

class QMovie;

// Paints one conference member: state colours, name and status line, PSTN mark,
// microphone / recall / disconnect icons. Also owns the call animation shared by
// the labels the participants view puts on ringing rows, and the icon zones the
// view's mouse handling uses. Owned by its ConferenceParticipantsView; GUI thread.
class ConferenceParticipantsItemDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit ConferenceParticipantsItemDelegate(QObject *parent = nullptr);

    // Icon zones of a row rectangle: the left one (microphone, recall, animation)
    // and the right one (disconnect).
    static QRect leftZone(const QRect &row);
    static QRect rightZone(const QRect &row);
    // Padding that puts the animation's right edge on the left zone's right edge.
    static int animationPadding() { return 50; }

    QMovie *callMovie() const { return m_callMovie; }

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    QIcon m_micActive;
    QIcon m_mic;
    QIcon m_micDisabled;
    QIcon m_disconnect;
    QIcon m_recall;
    QIcon m_pstn;
    QMovie *m_callMovie = nullptr;
};
