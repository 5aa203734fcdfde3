#pragma once

#include <QTimeEdit>

// A time editor of the recordings filter: Enter is handled as usual and then asks for
// the filter to run. Owned by the recordings page; GUI thread.
class TimeEditWithApplyFilter final : public QTimeEdit
{
    Q_OBJECT

public:
    explicit TimeEditWithApplyFilter(QWidget *parent = nullptr);

signals:
    void ApplyFilterByEnterPressed();

protected:
    void keyPressEvent(QKeyEvent *event) override;
};
