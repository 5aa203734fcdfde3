#pragma once

#include <QDialog>
#include <QList>
#include <QString>
#include <QStringList>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTimer;

// The modal login dialog shown before every main window. One press of "Вход" (or
// the automatic log-in of the first remembered user) runs the whole chain: start
// the SIP agent, connect to the server's database with the SIP credentials, read
// the event-socket password there, connect the event-socket client, and, once it
// has authenticated, remember the user and accept. Built anew by the login cycle
// for each login, without a parent; GUI thread.
class CStartupDlg final : public QDialog
{
    Q_OBJECT

public:
    explicit CStartupDlg(QWidget *parent = nullptr);
    ~CStartupDlg() override;

    // The server host and login address (user@host) of the login under way or done,
    // for the rest of the program.
    static QString serverHost();
    static QString loginAddress();

public slots:
    void reject() override;
    void ConnectButton_pressed();
    void mysqlConnected();
    void eventSocketPwd(QList<QStringList> result, QString error, int context);
    void ErrorReport(QString qsErrorMessage);
    void Done();
    void loginChanged(QString text);

private slots:
    void sipInitFailed(QString error);
    void eventSocketFailed(QString text);
    void eventSocketSilent();

private:
    enum class Step { Idle, Database, Password, EventSocket, Finished };

    void buildWidgets();
    void centreOnScreen();
    void showInfo(const QString &text);
    void setStep(Step step);
    void showRetry(const QString &reason, int msUntilRetry);

    QComboBox *m_userBox = nullptr;
    QLineEdit *m_passwordField = nullptr;
    QCheckBox *m_autoConnectBox = nullptr;
    QPushButton *m_loginButton = nullptr;
    QLabel *m_infoPanel = nullptr;
    QLabel *m_errorPanel = nullptr;
    QProgressBar *m_busy = nullptr;
    // Fires when an event-socket attempt neither succeeded nor failed in time.
    QTimer *m_silence = nullptr;
    QString m_host;
    Step m_step = Step::Idle;
};
