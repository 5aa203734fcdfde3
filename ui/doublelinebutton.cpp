#include "ui/doublelinebutton.h"

#include <QLayout>

DoubleLineButton::DoubleLineButton(QWidget *parent)
    : QPushButton(parent)
{}

void DoubleLineButton::toggled(bool checked)
{
    QLayout *own = layout();
    if (!own)
        return;
    for (int i = 0; i < own->count(); ++i) {
        if (QWidget *widget = own->itemAt(i)->widget())
            widget->setEnabled(checked);
    }
}
