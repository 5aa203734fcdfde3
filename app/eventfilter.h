#pragma once

#include <QObject>
#include <QPointer>

class QWidget;

// Application-wide filter for the relogin key: Alt+Q in a shown main window
// asks for a new login and closes the window. Installed on the application by
// the login cycle while a main window exists; GUI thread.
class EventFilter final : public QObject
{
    Q_OBJECT

public:
    explicit EventFilter(QObject *parent = nullptr);

    void setMainWindow(QWidget *window) { m_window = window; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QPointer<QWidget> m_window;
};
