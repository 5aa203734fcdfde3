#include "records/dateeditwithapplyfilter.h"

#include <QKeyEvent>

DateEditWithApplyFilter::DateEditWithApplyFilter(QWidget *parent) : QDateEdit(parent)
{}

void DateEditWithApplyFilter::keyPressEvent(QKeyEvent *event)
{
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    QDateEdit::keyPressEvent(event);
    if (enter)
        emit ApplyFilterByEnterPressed();
}
