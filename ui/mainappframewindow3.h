#pragma once

#include <QIcon>
#include <QMainWindow>
#include <QModelIndex>
#include <QSet>
#include <QThread>

#include "esl/esl2.h"
#include "ui/phonebookfile.h"

#include <QDateTime>
#include <QVariant>

class AdminPrompter;
class ConferenceControl;
class ConferenceListView;
class ConferenceParticipantsModel;
class ConferenceParticipantsView;
class ConnectionWatch;
class ErrorPanel;
class KeyEnterReceiver;
class LineEditEscapeKey;
class QAction;
class QLabel;
class QPlainTextEdit;
class QStackedWidget;
class QToolButton;
class RecordPlayback;
class RecordsPage;
class SSHCommands;
class SettingsPage;
class TelephoneNumberDlg;
class UserAdmin;
class UserListView;

// The dispatcher's single window: tool bar, error panel and the stacked pages
// (conferences with users and log, recordings, settings, phone book). It is a
// shell: it builds the widgets, makes the connections between the process-wide
// objects and forwards its slots to the subsystem controllers. Built and
// destroyed by the login cycle once per login; GUI thread.
class MainAppFrameWindow3 : public QMainWindow
{
    Q_OBJECT

public:
    enum Page { ConferencesPage = 0, RecordingsPage = 1, SettingsPage = 2, PhoneBookPage = 3 };

    // ssh: this login's SSH front; the window runs it on its SSH worker thread.
    explicit MainAppFrameWindow3(SSHCommands *ssh = nullptr, QWidget *parent = nullptr);
    ~MainAppFrameWindow3() override;

    ErrorPanel *errorPanel() const { return m_errorPanel; }
    QStackedWidget *mainStack() const { return m_mainStack; }
    UserListView *userView() const { return m_userView; }
    ConferenceListView *conferenceView() const { return m_conferenceView; }
    ConferenceParticipantsView *participantsView() const { return m_participantsView; }
    QPlainTextEdit *logView() const { return m_logView; }
    QPlainTextEdit *phonebookView() const { return m_phonebookView; }
    ConnectionWatch *connectionWatch() const { return m_watch; }
    ConferenceControl *conferenceControl() const { return m_conferenceControl; }
    TelephoneNumberDlg *telephoneDialog() const { return m_telephoneDlg; }
    UserAdmin *userAdmin() const { return m_userAdmin; }
    ::SettingsPage *settingsPage() const { return m_settingsPage; }
    // Null when no recording list model exists (the page then shows its heading only).
    RecordPlayback *recordPlayback() const { return m_recordPlayback; }
    RecordsPage *recordsPage() const { return m_recordsPage; }
    QAction *microphoneAction() const { return m_micAction; }
    QLabel *staleBanner() const { return m_staleBanner; }
    bool microphoneMuted() const { return m_micMuted; }
    bool usersFilterShown() const;
    LineEditEscapeKey *filterLine() const { return m_filterLine; }
    QThread *workerThread(int i) { return &m_threads[i]; }

    // Writes the configuration; a failure stays visible in the error panel
    // until a later save succeeds.
    bool saveConfiguration();
    static QString saveFailedText(const QString &path);
    static QString deadLinkText();

public slots:
    void HomeButtonPressed();
    void SoundButtonPressed();
    void PreferencesButtonPressed();
    void PhonebookButtonPressed();
    void MicrophoneButtonPressed();
    void eslConnectionDead(bool dead);
    void FilterZoomButtonPressed();
    void FilterCloseButtonPressed();
    void toggleShowUnregistered();
    void uaRegistrationError(QString error);
    void LogOutputError(QString qsLogMsg);

    // Conference control.
    void conferenceSelected(QModelIndex index);
    void conferenceDeselected(QModelIndex index);
    void callToConference(QSet<QString> uris);
    void callToConference(QString confName, QString uri);
    void transferRequest(QString toConference, QString fromConference, QString memberId);
    void userEnteredConference(QString confName, QString uri);
    void userLeftConference(QString confName, QString uri);
    void dispatcherLeftConference();
    void dispatcherCallError(QString confName, QString error);
    void EditUsersListButtonPressed();
    void EndConferenceButtonPressed();
    void StartConferenceButtonPressed();
    void TelephoneButtonPressed();
    void TelephoneNumberaccepted();
    void TelephoneNumberrejected();

    // User administration.
    void userInformation(QString uri);
    void EditUsersButtonPressed();
    void FileLoaded(QString qsFileText);
    void FileSaved();
    void FileDeleted();
    void FileLoadSaveError(QString qsWarningMessage);
    void SSHKeyChanged(QString qsUserToLoad, QString qsFileContent, bool bErase);

    // Settings.
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
    // Recordings.
    void recordSelected(QModelIndex index);
    void recordDeselected();
    void recordingTime(QDateTime start, QDateTime end, QString file);
    void PlayButtonPressed();
    void StopButtonPressed();
    void playFileResult(QString res, QVariant ctx);
    void pausePlayResult(QString res, QVariant ctx);
    void stopResult(QString res, QVariant ctx);
    void stopResult2(QString res, QVariant ctx);
    void fileSeekResult(QString res, QVariant ctx);
    void recordSliderUpdate(qint64 posMS);
    void recordSliderUpdate();
    void valueChangeForSlider(int value);
    void recordSliderReleased();
    void conferenceEvent(ESL2::Event event);
    void ApplyFilter();
    void ClearFilter();
    void recordFilterDone();
    // The saved settings reach the recording list here (primary conference name).
    void recordsConfigChanged();

signals:
    void LoadFile(QString qsFileName);
    void SaveFile(QString qsFileName, QString qsFileContent);
    void EraseFile(QString qsFileName);
    void ReregisterSSHKey();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildToolBar();
    QWidget *buildConferencesPage();
    QWidget *buildUsersPanel();
    QWidget *buildConferencePanel();
    QWidget *buildLogPanel();
    QWidget *buildHeadingPage(const QString &heading);
    QWidget *buildPhoneBookPage();
    QWidget *buildRecordsPage();
    void showPage(int page);

    // One place per subsystem for its connections.
    void connectNavigation();
    void connectUsers();
    void connectConferences();
    void connectConferenceControl();
    void connectUserAdmin(SSHCommands *ssh);
    void connectEventSocket();
    void connectSipAgent();
    void connectSettings();
    void setMicrophoneMuted(bool muted);
    void showAgentFailure(const QString &text);
    void connectRecords();
    void applyAlarmSettings();
    void stopWorkers();

    void showLinkDead(bool dead);
    void showStale(bool stale);

    QIcon m_blueIcon;
    QIcon m_grayIcon;
    QIcon m_yellowIcon;
    QIcon m_redIcon;

    QAction *m_homeAction = nullptr;
    QAction *m_soundAction = nullptr;
    QAction *m_preferencesAction = nullptr;
    QAction *m_phonebookAction = nullptr;
    QAction *m_micAction = nullptr;
    bool m_micMuted = false;

    ErrorPanel *m_errorPanel = nullptr;
    QStackedWidget *m_mainStack = nullptr;

    QStackedWidget *m_usersHeader = nullptr;
    QToolButton *m_unregisteredButton = nullptr;
    QToolButton *m_newUserButton = nullptr;
    QToolButton *m_filterButton = nullptr;
    LineEditEscapeKey *m_filterLine = nullptr;
    QToolButton *m_filterCloseButton = nullptr;
    UserListView *m_userView = nullptr;
    QWidget *m_usersPanel = nullptr;

    ConferenceListView *m_conferenceView = nullptr;
    ConferenceParticipantsView *m_participantsView = nullptr;
    ConferenceControl *m_conferenceControl = nullptr;
    TelephoneNumberDlg *m_telephoneDlg = nullptr;
    AdminPrompter *m_prompter = nullptr;
    UserAdmin *m_userAdmin = nullptr;
    QWidget *m_conferencePanel = nullptr;
    QToolButton *m_newConferenceButton = nullptr;
    QToolButton *m_endConferenceButton = nullptr;
    QToolButton *m_callParticipantsButton = nullptr;
    QToolButton *m_telephoneButton = nullptr;
    QLabel *m_staleBanner = nullptr;

    QWidget *m_logPanel = nullptr;
    QPlainTextEdit *m_logView = nullptr;

    RecordPlayback *m_recordPlayback = nullptr;
    RecordsPage *m_recordsPage = nullptr;

    QPlainTextEdit *m_phonebookView = nullptr;
    PhoneBookFile m_phoneBook;

    ::SettingsPage *m_settingsPage = nullptr;
    // The SIP start failure shown in the error panel, until the agent starts.
    QString m_agentFailure;

    ConnectionWatch *m_watch = nullptr;
    KeyEnterReceiver *m_keyReceiver = nullptr;
    QString m_saveFailure;

    // The SSH worker, a second worker started and stopped with it, and a spare.
    QThread m_threads[3];
};
