// The window's subsystem wiring and the slots that forward, one line each, to the
// controllers that hold the logic (conference control, user administration,
// settings, recordings playback).
#include "ui/mainappframewindow3.h"

#include "admin/cuseraddeditdialog.h"
#include "admin/cuserinfodialog.h"
#include "admin/messageboxprompter.h"
#include "admin/sshcommands.h"
#include "admin/sshsftplink.h"
#include "admin/useradmin.h"
#include "app/logfile.h"
#include "app/startup.h"
#include "app/xmlconfig.h"
#include "conferences/conferencecontrol.h"
#include "conferences/conferencelistmodel.h"
#include "conferences/conferencelistview.h"
#include "conferences/conferenceparticipantsmodel.h"
#include "conferences/conferenceparticipantsview.h"
#include "esl/esl2.h"
#include "records/recordlistmodel.h"
#include "records/recordplayback.h"
#include "records/recordspage.h"
#include "sip/cpjsipsua.h"
#include "ui/connectionwatch.h"
#include "ui/errorpanel.h"
#include "ui/keyenterreceiver.h"
#include "ui/lineeditescapekey.h"
#include "ui/settingscontroller.h"
#include "ui/settingspage.h"
#include "ui/telephonenumberdlg.h"
#include "users/userlistmodel.h"
#include "users/userlistview.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QStackedWidget>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

void MainAppFrameWindow3::connectConferenceControl()
{
    m_telephoneDlg = new TelephoneNumberDlg(XMLConfig::instance(), this);
    connect(m_newConferenceButton, SIGNAL(pressed()), this, SLOT(EditUsersListButtonPressed()));
    connect(m_endConferenceButton, SIGNAL(pressed()), this, SLOT(EndConferenceButtonPressed()));
    connect(m_callParticipantsButton, SIGNAL(pressed()), this, SLOT(StartConferenceButtonPressed()));
    connect(m_telephoneButton, SIGNAL(pressed()), this, SLOT(TelephoneButtonPressed()));
    connect(m_telephoneDlg, SIGNAL(accepted()), this, SLOT(TelephoneNumberaccepted()));
    connect(m_telephoneDlg, SIGNAL(rejected()), this, SLOT(TelephoneNumberrejected()));
    connect(m_userView, SIGNAL(callToConference(QSet<QString>)), this, SLOT(callToConference(QSet<QString>)));
    connect(m_participantsView, SIGNAL(callToConference(QString, QString)), this,
            SLOT(callToConference(QString, QString)));
    if (ConferenceListModel *conferences = ConferenceListModel::instance()) {
        connect(conferences, SIGNAL(callToConference(QString, QString)), this,
                SLOT(callToConference(QString, QString)));
        connect(conferences, SIGNAL(transferRequest(QString, QString, QString)), this,
                SLOT(transferRequest(QString, QString, QString)));
        connect(conferences, SIGNAL(userEnteredConference(QString, QString)), this,
                SLOT(userEnteredConference(QString, QString)));
        connect(conferences, SIGNAL(userLeftConference(QString, QString)), this,
                SLOT(userLeftConference(QString, QString)));
        connect(conferences, SIGNAL(dispatcherLeftConference(QString)), this,
                SLOT(dispatcherLeftConference()));
        connect(conferences, SIGNAL(dispatcherCallError(QString, QString)), this,
                SLOT(dispatcherCallError(QString, QString)));
    }
    if (UserListModel *users = UserListModel::instance())
        connect(users, SIGNAL(dispatcherRegistered()), this, SLOT(dispatcherLeftConference()));
    if (m_conferenceControl)
        connect(
            m_conferenceControl, &ConferenceControl::message, this,
            [this](const QString &title, const QString &text) { QMessageBox::warning(this, title, text); });
}

void MainAppFrameWindow3::connectUserAdmin(SSHCommands *ssh)
{
    m_prompter = new MessageBoxPrompter(this);
    if (ESL2::instance() && UserListModel::instance())
        m_userAdmin = new UserAdmin(ESL2::instance(), UserListModel::instance(), XMLConfig::instance(),
                                    &SSHSFTPLink::instance(), m_prompter, this, this);
    connect(m_userView, SIGNAL(userInformation(QString)), this, SLOT(userInformation(QString)));
    connect(m_newUserButton, SIGNAL(pressed()), this, SLOT(EditUsersButtonPressed()));
    if (m_userAdmin) {
        connect(m_userAdmin, SIGNAL(LoadFile(QString)), this, SIGNAL(LoadFile(QString)));
        connect(m_userAdmin, SIGNAL(SaveFile(QString, QString)), this, SIGNAL(SaveFile(QString, QString)));
        connect(m_userAdmin, SIGNAL(EraseFile(QString)), this, SIGNAL(EraseFile(QString)));
        connect(m_userAdmin, SIGNAL(ReregisterSSHKey()), this, SIGNAL(ReregisterSSHKey()));
    }
    if (!ssh)
        return;
    // Every SSH/SFTP call blocks: the front works on its own thread, queued both ways.
    ssh->moveToThread(&m_threads[0]);
    connect(this, SIGNAL(LoadFile(QString)), ssh, SLOT(LoadFile(QString)));
    connect(this, SIGNAL(SaveFile(QString, QString)), ssh, SLOT(SaveFile(QString, QString)));
    connect(this, SIGNAL(EraseFile(QString)), ssh, SLOT(EraseFile(QString)));
    connect(this, SIGNAL(ReregisterSSHKey()), ssh, SLOT(ReregisterSSHKey()));
    connect(ssh, SIGNAL(FileLoaded(QString)), this, SLOT(FileLoaded(QString)));
    connect(ssh, SIGNAL(FileSaved()), this, SLOT(FileSaved()));
    connect(ssh, SIGNAL(FileDeleted()), this, SLOT(FileDeleted()));
    connect(ssh, SIGNAL(FileLoadSaveError(QString)), this, SLOT(FileLoadSaveError(QString)));
    connect(ssh, SIGNAL(SSHKeyChanged(QString, QString, bool)), this,
            SLOT(SSHKeyChanged(QString, QString, bool)));
}

void MainAppFrameWindow3::userInformation(QString uri)
{
    m_userAdmin->userInformation(uri);
}

void MainAppFrameWindow3::EditUsersButtonPressed()
{
    m_userAdmin->EditUsersButtonPressed();
}

void MainAppFrameWindow3::FileLoaded(QString qsFileText)
{
    m_userAdmin->FileLoaded(qsFileText);
}

void MainAppFrameWindow3::FileSaved()
{
    m_userAdmin->FileSaved();
}

void MainAppFrameWindow3::FileDeleted()
{
    m_userAdmin->FileDeleted();
}

void MainAppFrameWindow3::FileLoadSaveError(QString qsWarningMessage)
{
    m_userAdmin->FileLoadSaveError(qsWarningMessage);
}

void MainAppFrameWindow3::SSHKeyChanged(QString qsUserToLoad, QString qsFileContent, bool bErase)
{
    m_userAdmin->SSHKeyChanged(qsUserToLoad, qsFileContent, bErase);
}

void MainAppFrameWindow3::conferenceSelected(QModelIndex index)
{
    m_conferenceControl->conferenceSelected(index);
}

void MainAppFrameWindow3::conferenceDeselected(QModelIndex index)
{
    m_conferenceControl->conferenceDeselected(index);
}

void MainAppFrameWindow3::callToConference(QSet<QString> uris)
{
    m_conferenceControl->callToConference(uris);
}

void MainAppFrameWindow3::callToConference(QString confName, QString uri)
{
    m_conferenceControl->callToConference(confName, uri);
}

void MainAppFrameWindow3::transferRequest(QString toConference, QString fromConference, QString memberId)
{
    m_conferenceControl->transferRequest(toConference, fromConference, memberId);
}

void MainAppFrameWindow3::userEnteredConference(QString confName, QString uri)
{
    m_conferenceControl->userEnteredConference(confName, uri);
}

void MainAppFrameWindow3::userLeftConference(QString confName, QString uri)
{
    m_conferenceControl->userLeftConference(confName, uri);
}

void MainAppFrameWindow3::dispatcherLeftConference()
{
    m_conferenceControl->dispatcherLeftConference();
}

void MainAppFrameWindow3::dispatcherCallError(QString confName, QString error)
{
    m_conferenceControl->dispatcherCallError(confName, error);
}

void MainAppFrameWindow3::EditUsersListButtonPressed()
{
    m_conferenceView->setCurrentIndex(
        ConferenceListModel::instance()->index(ConferenceListModel::instance()->addNewConference(), 0));
}

void MainAppFrameWindow3::EndConferenceButtonPressed()
{
    m_conferenceControl->endConference();
}

void MainAppFrameWindow3::StartConferenceButtonPressed()
{
    m_conferenceControl->startConference();
}

void MainAppFrameWindow3::TelephoneButtonPressed()
{
    m_telephoneDlg->resetDialog();
    m_telephoneDlg->show();
}

void MainAppFrameWindow3::TelephoneNumberaccepted()
{
    m_conferenceControl->callPstnNumber(m_telephoneDlg->number());
}

void MainAppFrameWindow3::TelephoneNumberrejected()
{
    m_telephoneDlg->hide();
}

void MainAppFrameWindow3::ConnectionEditButtonPressed()
{
    m_settingsPage->ConnectionEditButtonPressed();
}

void MainAppFrameWindow3::ConferencesEditButtonPressed()
{
    m_settingsPage->ConferencesEditButtonPressed();
}

void MainAppFrameWindow3::AppearanceEditButtonPressed()
{
    m_settingsPage->AppearanceEditButtonPressed();
}

void MainAppFrameWindow3::AudioEditButtonPressed()
{
    m_settingsPage->AudioEditButtonPressed();
}

void MainAppFrameWindow3::MiscalleousButtonPressed()
{
    m_settingsPage->MiscalleousButtonPressed();
}

void MainAppFrameWindow3::configurationChanged()
{
    m_settingsPage->configurationChanged();
}

void MainAppFrameWindow3::MediaPortEdittextEdited(QString text)
{
    m_settingsPage->MediaPortEdittextEdited(text);
}

void MainAppFrameWindow3::SoundInputVolumeSliderChanged(int value)
{
    m_settingsPage->SoundInputVolumeSliderChanged(value);
}

void MainAppFrameWindow3::SoundOutputVolumeSliderChanged(int value)
{
    m_settingsPage->SoundOutputVolumeSliderChanged(value);
}

void MainAppFrameWindow3::SystemSoundVolumeSliderChanged(int value)
{
    m_settingsPage->SystemSoundVolumeSliderChanged(value);
}

void MainAppFrameWindow3::SaveSettingsPressed()
{
    m_settingsPage->SaveSettingsPressed();
}

void MainAppFrameWindow3::CancelSettingsChangePressed()
{
    m_settingsPage->CancelSettingsChangePressed();
}

void MainAppFrameWindow3::pjsipStartSoundTest()
{
    m_settingsPage->pjsipStartSoundTest();
}

void MainAppFrameWindow3::pjsipStopSoundTest()
{
    m_settingsPage->pjsipStopSoundTest();
}

void MainAppFrameWindow3::systemStartSoundTest()
{
    m_settingsPage->systemStartSoundTest();
}

void MainAppFrameWindow3::systemStopSoundTest()
{
    m_settingsPage->systemStopSoundTest();
}

bool MainAppFrameWindow3::saveConfiguration()
{
    XMLConfig &config = XMLConfig::instance();
    const bool saved = config.save();
    if (!m_saveFailure.isEmpty())
        m_errorPanel->removeError(m_saveFailure);
    m_saveFailure = saved ? QString() : saveFailedText(config.filePath);
    if (!saved)
        m_errorPanel->addError(m_saveFailure);
    return saved;
}

void MainAppFrameWindow3::closeEvent(QCloseEvent *event)
{
    if (m_recordPlayback)
        m_recordPlayback->windowClosing();
    QMainWindow::closeEvent(event);
    stopWorkers();
}

void MainAppFrameWindow3::stopWorkers()
{
    // The second worker first, then the SSH worker.
    for (int i : {1, 0}) {
        m_threads[i].quit();
        m_threads[i].wait();
    }
}

void MainAppFrameWindow3::connectRecords()
{
    // The page wires its own list, buttons and slider; the window adds the server's events.
    if (m_recordPlayback && ESL2::instance())
        connect(ESL2::instance(), &ESL2::conferenceEvent, this, &MainAppFrameWindow3::conferenceEvent,
                Qt::QueuedConnection);
}

void MainAppFrameWindow3::recordSelected(QModelIndex index)
{
    m_recordPlayback->recordSelected(index);
}

void MainAppFrameWindow3::recordDeselected()
{
    m_recordPlayback->recordDeselected();
}

void MainAppFrameWindow3::recordingTime(QDateTime start, QDateTime end, QString file)
{
    m_recordPlayback->recordingTime(start, end, file);
}

void MainAppFrameWindow3::PlayButtonPressed()
{
    m_recordPlayback->PlayButtonPressed();
}

void MainAppFrameWindow3::StopButtonPressed()
{
    m_recordPlayback->StopButtonPressed();
}

void MainAppFrameWindow3::playFileResult(QString res, QVariant ctx)
{
    m_recordPlayback->playFileResult(res, ctx);
}

void MainAppFrameWindow3::pausePlayResult(QString res, QVariant ctx)
{
    m_recordPlayback->pausePlayResult(res, ctx);
}

void MainAppFrameWindow3::stopResult(QString res, QVariant ctx)
{
    m_recordPlayback->stopResult(res, ctx);
}

void MainAppFrameWindow3::stopResult2(QString res, QVariant ctx)
{
    m_recordPlayback->stopResult2(res, ctx);
}

void MainAppFrameWindow3::fileSeekResult(QString res, QVariant ctx)
{
    m_recordPlayback->fileSeekResult(res, ctx);
}

void MainAppFrameWindow3::recordSliderUpdate(qint64 posMS)
{
    m_recordPlayback->recordSliderUpdate(posMS);
}

void MainAppFrameWindow3::recordSliderUpdate()
{
    m_recordPlayback->recordSliderUpdate();
}

void MainAppFrameWindow3::valueChangeForSlider(int value)
{
    m_recordPlayback->valueChangeForSlider(value);
}

void MainAppFrameWindow3::recordSliderReleased()
{
    m_recordPlayback->recordSliderReleased();
}

void MainAppFrameWindow3::conferenceEvent(ESL2::Event event)
{
    m_recordPlayback->conferenceEvent(event);
}

void MainAppFrameWindow3::ApplyFilter()
{
    m_recordsPage->ApplyFilter();
}

void MainAppFrameWindow3::ClearFilter()
{
    m_recordsPage->ClearFilter();
}

void MainAppFrameWindow3::recordFilterDone()
{
    m_recordsPage->recordFilterDone();
}

void MainAppFrameWindow3::recordsConfigChanged()
{
    if (RecordListModel *records = RecordListModel::instance())
        records->configChanged();
}
