#pragma once

#include <QLineEdit>

// A line editor showing a grey hint in place of the text while it is empty.
class EditorWithTextBackground final : public QLineEdit
{
    Q_OBJECT

public:
    explicit EditorWithTextBackground(const QString &hint = QString(), QWidget *parent = nullptr);

    void setBackgroundText(const QString &hint);
    QString backgroundText() const { return placeholderText(); }
};
