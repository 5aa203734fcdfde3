#pragma once

#include <QObject>

// Window-wide keyboard shortcuts, installed as an event filter on the main
// window: Alt+F (or Meta+F) folds or unfolds every user group, Ctrl+Q quits.
// Owned by the main window; GUI thread.
class KeyEnterReceiver final : public QObject
{
    Q_OBJECT

public:
    explicit KeyEnterReceiver(QObject *parent = nullptr);

signals:
    void ShowHideAllUsersGroup();
    void quit();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};
