#pragma once

#include <QDialog>

class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class XMLConfig;

// The small pop-up in which the dispatcher types or picks a public-network number: a
// field that takes dialling characters only, a dial pad, and the last 100 dialled numbers
// (kept in the configuration) filtered as the dispatcher types. The main window owns it,
// shows and hides it, and reads number() after accepted(). GUI thread.
class TelephoneNumberDlg : public QDialog
{
    Q_OBJECT

public:
    static constexpr int MaxHistory = 100;

    explicit TelephoneNumberDlg(XMLConfig &config, QWidget *parent = nullptr);

    QString number() const;
    // Clears the number and hides the history.
    void resetDialog();

    QLineEdit *numberEdit() const { return m_numberEdit; }
    QListWidget *historyList() const { return m_historyList; }
    QPushButton *dialButton() const { return m_dialButton; }

public slots:
    void accept() override;
    void pressclose();
    void numbertextEdited(QString text);
    void returnPressed();
    void pressClearNumberEditor();
    void press();
    void pressdial();
    void historyClicked(QListWidgetItem *item);

protected:
    void showEvent(QShowEvent *event) override;

private:
    XMLConfig &m_config;
    QLineEdit *m_numberEdit;
    QPushButton *m_clearButton;
    QPushButton *m_dialButton;
    QListWidget *m_historyList;
};
