#include "ui/lineeditescapekey.h"

#include <QKeyEvent>
#include <QPainter>

LineEditEscapeKey::LineEditEscapeKey(const QString &hint, QWidget *parent)
    : QLineEdit(parent)
    , m_hint(hint)
{}

void LineEditEscapeKey::setHint(const QString &hint)
{
    m_hint = hint;
    update();
}

void LineEditEscapeKey::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        emit EscapeKeyPressed();
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void LineEditEscapeKey::paintEvent(QPaintEvent *event)
{
    QLineEdit::paintEvent(event);
    if (!text().isEmpty() || m_hint.isEmpty())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    QFont hintFont = font();
    hintFont.setPixelSize(14);
    painter.setFont(hintFont);
    painter.setPen(Qt::gray);
    painter.drawText(rect().adjusted(14, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, m_hint);
}
