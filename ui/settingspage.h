#pragma once

#include "ui/settingsform.h"

#include <QHash>
#include <QWidget>

class CPJSIPSUA;
class ErrorPanel;
class QAbstractButton;
class QCheckBox;
class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSlider;
class QStackedWidget;
class SettingsController;
class XMLConfig;

// Page 2 of the main window: the program settings on five sub-pages with their
// selector buttons, "Отмена" and "Сохранить Настройки". Volumes and sound
// tests act at once; everything else is applied on save by its
// SettingsController, and a refused value is shown under its editor. The
// window keeps the slot names and forwards them here. Child of the window's
// page stack; GUI thread.
class SettingsPage final : public QWidget
{
    Q_OBJECT

public:
    enum SubPage { Connection = 0, Conferences = 1, Appearance = 2, Audio = 3, Misc = 4 };

    SettingsPage(XMLConfig &config, CPJSIPSUA &agent, ErrorPanel *alarm, QWidget *parent = nullptr);
    ~SettingsPage() override;

    SettingsController *controller() const { return m_controller; }
    // The editors' contents, and putting a form into them.
    SettingsForm form() const;
    void setForm(const SettingsForm &form);
    // The message under a field's editor, empty when none is shown.
    QString fieldError(SettingsForm::Field field) const;
    // The editor of a field (for the window's focus and for tests).
    QWidget *editor(SettingsForm::Field field) const;
    QStackedWidget *stack() const { return m_stack; }
    QLabel *title() const { return m_title; }
    QPushButton *saveButton() const { return m_saveButton; }
    QPushButton *cancelButton() const { return m_cancelButton; }

    // Lists the SIP agent's and the system's sound devices in the combo boxes.
    void fillDevices();

public slots:
    void ConnectionEditButtonPressed();
    void ConferencesEditButtonPressed();
    void AppearanceEditButtonPressed();
    void AudioEditButtonPressed();
    void MiscalleousButtonPressed();
    void configurationChanged();
    void MediaPortEdittextEdited(QString text);
    void SoundInputVolumeSliderChanged(int value);
    void SoundOutputVolumeSliderChanged(int value);
    void SystemSoundVolumeSliderChanged(int value);
    void SaveSettingsPressed();
    void CancelSettingsChangePressed();
    void pjsipStartSoundTest();
    void pjsipStopSoundTest();
    void systemStartSoundTest();
    void systemStopSoundTest();

signals:
    // The input volume was moved: the microphone is live again.
    void microphoneUnmuted();
    // Passed on from the controller; see there.
    void warning(QString text);
    void configChanged();
    void conferencePolicyChanged();
    void showLogChanged(bool show);
    void phoneBookFontSizeChanged(int points);
    void warningUsersChanged(QStringList users);

private:
    void showSubPage(int page);
    QWidget *buildConnectionPage();
    QWidget *buildConferencesPage();
    QWidget *buildAppearancePage();
    QWidget *buildAudioPage();
    QWidget *buildMiscPage();
    QFormLayout *formPage(QWidget *page);
    // Puts editor in a row with its label and the hidden line for its message.
    void addRow(QFormLayout *layout, const QString &label, QWidget *editor, SettingsForm::Field field);
    QLineEdit *lineEdit(const char *name, const QString &pattern = QString(),
                        const QString &placeholder = QString());
    QComboBox *combo(const char *name, const QStringList &items);
    QCheckBox *checkBox(const char *name, const QString &text);
    QSlider *volumeSlider(const char *name, QLabel **percent, QWidget *parent);
    void showErrors(const SettingsErrors &errors);
    void setEdited(bool edited);
    static void selectText(QComboBox *combo, const QString &text, const QString &fallback);

    XMLConfig &m_config;
    CPJSIPSUA &m_agent;
    ErrorPanel *m_alarm;
    SettingsController *m_controller;
    // Filling the editors is not an edit.
    bool m_loading = false;

    QStackedWidget *m_stack = nullptr;
    QLabel *m_title = nullptr;
    QList<QAbstractButton *> m_selectors;
    QPushButton *m_cancelButton = nullptr;
    QPushButton *m_saveButton = nullptr;
    QLabel *m_fileError = nullptr;
    QHash<SettingsForm::Field, QWidget *> m_editors;
    QHash<SettingsForm::Field, QLabel *> m_errors;

    QLineEdit *m_sipPort = nullptr;
    QLineEdit *m_mediaPort = nullptr;
    QLineEdit *m_caFile = nullptr;
    QLineEdit *m_certFile = nullptr;
    QLineEdit *m_keyFile = nullptr;
    QComboBox *m_transport = nullptr;
    QComboBox *m_srtp = nullptr;
    QLineEdit *m_reregistration = nullptr;
    QLineEdit *m_gateway = nullptr;
    QCheckBox *m_externalUA = nullptr;
    QLineEdit *m_eslPort = nullptr;
    QLineEdit *m_sshPort = nullptr;
    QLineEdit *m_dbPort = nullptr;

    QLineEdit *m_primaryId = nullptr;
    QLineEdit *m_primaryName = nullptr;
    QLineEdit *m_prefix = nullptr;
    QComboBox *m_switchMode = nullptr;
    QLineEdit *m_alarmDelay = nullptr;
    QLineEdit *m_callTimeout = nullptr;
    QLineEdit *m_displayDisconnected = nullptr;
    QLineEdit *m_displayFailed = nullptr;

    QComboBox *m_fontSize = nullptr;
    QCheckBox *m_showLog = nullptr;
    QCheckBox *m_showCursor = nullptr;
    QCheckBox *m_showNumRegistered = nullptr;

    QComboBox *m_inputDevice = nullptr;
    QSlider *m_inputVolume = nullptr;
    QLabel *m_inputPercent = nullptr;
    QComboBox *m_outputDevice = nullptr;
    QSlider *m_outputVolume = nullptr;
    QLabel *m_outputPercent = nullptr;
    QPushButton *m_outputTestStart = nullptr;
    QPushButton *m_outputTestStop = nullptr;
    QComboBox *m_systemDevice = nullptr;
    QSlider *m_systemVolume = nullptr;
    QLabel *m_systemPercent = nullptr;
    QPushButton *m_systemTestStart = nullptr;
    QPushButton *m_systemTestStop = nullptr;

    QPlainTextEdit *m_warningUsers = nullptr;
    QLineEdit *m_userFileTemplate = nullptr;
    QCheckBox *m_alarmSound = nullptr;
};
