#pragma once

#include <QDateEdit>

// A date editor of the recordings filter: Enter is handled as usual and then asks for
// the filter to run. Owned by the recordings page; GUI thread.
class DateEditWithApplyFilter final : public QDateEdit
{
    Q_OBJECT

public:
    explicit DateEditWithApplyFilter(QWidget *parent = nullptr);

signals:
    void ApplyFilterByEnterPressed();

protected:
    void keyPressEvent(QKeyEvent *event) override;
};
