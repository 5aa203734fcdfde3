#pragma once

#include <QPushButton>

// A push button that carries a layout of its own (typically two lines of text
// or a label and an editor); toggling it enables or disables everything in that
// layout. GUI thread.
class DoubleLineButton final : public QPushButton
{
    Q_OBJECT

public:
    explicit DoubleLineButton(QWidget *parent = nullptr);

public slots:
    void toggled(bool checked);
};
