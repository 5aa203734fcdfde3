#include "admin/editorwithtextbackground.h"

#include <QPalette>

EditorWithTextBackground::EditorWithTextBackground(const QString &hint, QWidget *parent) : QLineEdit(parent)
{
    QPalette p = palette();
    p.setColor(QPalette::PlaceholderText, Qt::gray);
    setPalette(p);
    setBackgroundText(hint);
}

void EditorWithTextBackground::setBackgroundText(const QString &hint)
{
    setPlaceholderText(hint);
}
