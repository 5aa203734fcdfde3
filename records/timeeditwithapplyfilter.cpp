#include "records/timeeditwithapplyfilter.h"

#include <QKeyEvent>

TimeEditWithApplyFilter::TimeEditWithApplyFilter(QWidget *parent) : QTimeEdit(parent)
{}

void TimeEditWithApplyFilter::keyPressEvent(QKeyEvent *event)
{
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    QTimeEdit::keyPressEvent(event);
    if (enter)
        emit ApplyFilterByEnterPressed();
}
