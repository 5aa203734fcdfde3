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

namespace {
QIcon twoStateIcon(const QString &normal, const QString &active)
{
    QIcon icon(normal);
    icon.addFile(active, QSize(), QIcon::Normal, QIcon::On);
    icon.addFile(active, QSize(), QIcon::Active, QIcon::On);
    return icon;
}

QToolButton *iconButton(const QString &icon, const QString &toolTip, QWidget *parent)
{
    auto *button = new QToolButton(parent);
    button->setIcon(QIcon(icon));
    button->setIconSize(QSize(24, 24));
    button->setToolTip(toolTip);
    button->setAutoRaise(true);
    return button;
}

QLabel *heading(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QStringLiteral("header"));
    return label;
}

QPlainTextEdit *textView(QWidget *parent)
{
    auto *view = new QPlainTextEdit(parent);
    view->setReadOnly(true);
    view->setLineWrapMode(QPlainTextEdit::NoWrap);
    view->setUndoRedoEnabled(false);
    return view;
}
} // namespace

QString MainAppFrameWindow3::deadLinkText()
{
    return QStringLiteral("Нет ответа от сервера FreeSwitch");
}

QString MainAppFrameWindow3::saveFailedText(const QString &path)
{
    return QStringLiteral("Не удалось сохранить настройки в файл ") + path;
}

MainAppFrameWindow3::MainAppFrameWindow3(SSHCommands *ssh, QWidget *parent)
    : QMainWindow(parent)
    , m_blueIcon(QStringLiteral(":/Data/blue.ico"))
    , m_grayIcon(QStringLiteral(":/Data/gray.ico"))
    , m_yellowIcon(QStringLiteral(":/Data/yellow.ico"))
    , m_redIcon(QStringLiteral(":/Data/red.ico"))
    , m_watch(new ConnectionWatch(this))
{
    if (ESL2::instance() && ConferenceListModel::instance() && UserListModel::instance())
        m_conferenceControl = new ConferenceControl(ESL2::instance(), ConferenceListModel::instance(),
                                                    UserListModel::instance(), XMLConfig::instance(), this);
    Startup::setReloginRequested(false);
    setWindowTitle(QStringLiteral("Tesmar - ") + XMLConfig::instance().currentLoginAddress);
    setWindowIcon(m_blueIcon);

    buildToolBar();

    auto *central = new QWidget(this);
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_errorPanel = new ErrorPanel(central);
    m_errorPanel->setMinimumHeight(30);
    layout->addWidget(m_errorPanel);

    m_mainStack = new QStackedWidget(central);
    m_mainStack->setObjectName(QStringLiteral("mainStack"));
    m_mainStack->addWidget(buildConferencesPage());
    m_mainStack->addWidget(buildRecordsPage());
    m_settingsPage = new ::SettingsPage(XMLConfig::instance(), CPJSIPSUA::instance(), m_errorPanel, this);
    m_mainStack->addWidget(m_settingsPage);
    m_mainStack->addWidget(buildPhoneBookPage());
    layout->addWidget(m_mainStack, 1);
    setCentralWidget(central);
    showPage(ConferencesPage);

    connectNavigation();
    connectUsers();
    connectConferences();
    connectConferenceControl();
    connectUserAdmin(ssh);
    connectEventSocket();
    connectSettings();
    applyAlarmSettings();
    connectSipAgent();
    connectRecords();

    m_threads[0].setObjectName(QStringLiteral("SSHCommands"));
    m_threads[1].setObjectName(QStringLiteral("WindowWorker"));
    m_threads[0].start();
    m_threads[1].start();

    m_keyReceiver = new KeyEnterReceiver(this);
    installEventFilter(m_keyReceiver);
    connect(m_keyReceiver, SIGNAL(ShowHideAllUsersGroup()), m_userView, SLOT(showHideAllUsersGroup()));
    connect(m_keyReceiver, SIGNAL(quit()), qApp, SLOT(quit()));
}

MainAppFrameWindow3::~MainAppFrameWindow3()
{
    stopWorkers();
    delete m_prompter;
    if (LogFile::mainLog().viewer() == m_logView)
        LogFile::mainLog().setViewer(nullptr);
}

void MainAppFrameWindow3::buildToolBar()
{
    QToolBar *bar = addToolBar(QStringLiteral("navigation"));
    bar->setObjectName(QStringLiteral("navigation"));
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->setIconSize(QSize(32, 32));
    bar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    bar->toggleViewAction()->setEnabled(false);
    // The white icons of the active page need the accent colour behind them.
    bar->setStyleSheet(
        QStringLiteral("QToolButton:checked { background: #298FCC; color: white; border: none; "
                       "border-radius: 3px; }"));

    auto *pages = new QActionGroup(this);
    auto pageAction = [&](const QString &text, const QString &name) {
        QAction *action = bar->addAction(twoStateIcon(QStringLiteral(":/Data/menu_%1.png").arg(name),
                                                      QStringLiteral(":/Data/menu_%1_white.png").arg(name)),
                                         text);
        action->setCheckable(true);
        // Ctrl+1..Ctrl+4 reach the pages from the keyboard.
        action->setShortcut(QKeySequence(Qt::CTRL | (Qt::Key_1 + pages->actions().size())));
        pages->addAction(action);
        return action;
    };
    m_homeAction = pageAction(QStringLiteral("Конференции"), QStringLiteral("conferences"));
    m_soundAction = pageAction(QStringLiteral("Записи переговоров"), QStringLiteral("audiologs"));
    m_preferencesAction = pageAction(QStringLiteral("Настройки программы"), QStringLiteral("settings"));
    m_phonebookAction = pageAction(QStringLiteral("Телефонный справочник"), QStringLiteral("logs"));

    auto *spacer = new QWidget(bar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    bar->addWidget(spacer);
    m_micAction = bar->addAction(QIcon(QStringLiteral(":/Data/menu_mic-10.png")), QStringLiteral("Микрофон"));
    m_micAction->setToolTip(QStringLiteral("Выключить микрофон"));
}

QWidget *MainAppFrameWindow3::buildConferencesPage()
{
    auto *page = new QWidget(this);
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(4, 4, 4, 4);
    m_staleBanner = new QLabel(QStringLiteral("Связь с сервером восстанавливается: списки пользователей и "
                                              "конференций могут быть неактуальны"),
                               page);
    m_staleBanner->setObjectName(QStringLiteral("staleBanner"));
    m_staleBanner->setStyleSheet(QStringLiteral("background: #FFF3C4; color: #7A5B00; padding: 4px;"));
    m_staleBanner->setWordWrap(true);
    m_staleBanner->hide();
    layout->addWidget(m_staleBanner);

    auto *vertical = new QSplitter(Qt::Vertical, page);
    auto *horizontal = new QSplitter(Qt::Horizontal, vertical);
    m_usersPanel = buildUsersPanel();
    m_conferencePanel = buildConferencePanel();
    horizontal->addWidget(m_usersPanel);
    horizontal->addWidget(m_conferencePanel);
    horizontal->setStretchFactor(0, 2);
    horizontal->setStretchFactor(1, 3);
    vertical->addWidget(horizontal);
    m_logPanel = buildLogPanel();
    vertical->addWidget(m_logPanel);
    vertical->setStretchFactor(0, 4);
    vertical->setStretchFactor(1, 1);
    layout->addWidget(vertical, 1);
    return page;
}

QWidget *MainAppFrameWindow3::buildUsersPanel()
{
    auto *panel = new QWidget(this);
    auto *layout = new QVBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);

    m_usersHeader = new QStackedWidget(panel);
    auto *headingRow = new QWidget(m_usersHeader);
    auto *headingLayout = new QHBoxLayout(headingRow);
    headingLayout->setContentsMargins(4, 0, 0, 0);
    headingLayout->addWidget(heading(QStringLiteral("Пользователи"), headingRow), 1);
    m_unregisteredButton =
        iconButton(QStringLiteral(":/Data/hideUnregistered.png"),
                   QStringLiteral("Показывать/скрывать незарегистрированных пользователей"), headingRow);
    m_newUserButton = iconButton(QStringLiteral(":/Data/adduser.png"),
                                 QStringLiteral("Создание нового пользователя"), headingRow);
    m_filterButton = iconButton(QStringLiteral(":/Data/FilterZoom.png"),
                                QStringLiteral("Фильтр пользователей"), headingRow);
    headingLayout->addWidget(m_unregisteredButton);
    headingLayout->addWidget(m_newUserButton);
    headingLayout->addWidget(m_filterButton);

    auto *filterRow = new QWidget(m_usersHeader);
    auto *filterLayout = new QHBoxLayout(filterRow);
    filterLayout->setContentsMargins(0, 0, 0, 0);
    m_filterLine = new LineEditEscapeKey(QStringLiteral("Введите имя"), filterRow);
    m_filterLine->setObjectName(QStringLiteral("editPanel"));
    m_filterCloseButton =
        iconButton(QStringLiteral(":/Data/CloseFilter.png"), QStringLiteral("Закрыть фильтр"), filterRow);
    filterLayout->addWidget(m_filterLine, 1);
    filterLayout->addWidget(m_filterCloseButton);

    m_usersHeader->addWidget(headingRow);
    m_usersHeader->addWidget(filterRow);
    m_usersHeader->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    layout->addWidget(m_usersHeader);

    m_userView = new UserListView(panel);
    m_userView->setModel(UserListModel::instance());
    layout->addWidget(m_userView, 1);
    return panel;
}

QWidget *MainAppFrameWindow3::buildConferencePanel()
{
    auto *panel = new QWidget(this);
    auto *layout = new QVBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);

    auto *buttons = new QHBoxLayout;
    buttons->setContentsMargins(4, 0, 4, 0);
    buttons->addWidget(heading(QStringLiteral("Конференции"), panel), 1);
    m_newConferenceButton = iconButton(QStringLiteral(":/Data/EditUsersDialog.png"),
                                       QStringLiteral("Создание новой конференции"), panel);
    m_endConferenceButton = iconButton(QStringLiteral(":/Data/EndSelectedConference.png"),
                                       QStringLiteral("Завершить конференцию"), panel);
    m_callParticipantsButton = iconButton(QStringLiteral(":/Data/StartSelectedConference.png"),
                                          QStringLiteral("Вызвать участников в конференцию"), panel);
    m_telephoneButton =
        iconButton(QStringLiteral(":/Data/TelephoneCall.png"),
                   QStringLiteral("Вызов абонента телефонной сети общего пользования"), panel);
    m_endConferenceButton->setEnabled(false);
    m_callParticipantsButton->setEnabled(false);
    for (QToolButton *button :
         {m_newConferenceButton, m_endConferenceButton, m_callParticipantsButton, m_telephoneButton})
        buttons->addWidget(button);
    layout->addLayout(buttons);

    auto *lists = new QSplitter(Qt::Horizontal, panel);
    m_conferenceView = new ConferenceListView(lists);
    m_participantsView = new ConferenceParticipantsView(lists);
    lists->addWidget(m_conferenceView);
    lists->addWidget(m_participantsView);
    lists->setStretchFactor(0, 1);
    lists->setStretchFactor(1, 2);
    layout->addWidget(lists, 1);
    // The list's model is set last: it selects its first conference at once,
    // which must find the participants view and the control in place.
    if (m_conferenceControl)
        connect(m_conferenceControl, &ConferenceControl::participantsChanged, m_participantsView,
                &ConferenceParticipantsView::setModel);
    connect(m_conferenceView, SIGNAL(itemSelected(QModelIndex)), this, SLOT(conferenceSelected(QModelIndex)));
    connect(m_conferenceView, SIGNAL(itemDeselected(QModelIndex)), this,
            SLOT(conferenceDeselected(QModelIndex)));
    m_conferenceView->setModel(ConferenceListModel::instance());
    return panel;
}

QWidget *MainAppFrameWindow3::buildLogPanel()
{
    auto *panel = new QWidget(this);
    auto *layout = new QVBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(heading(QStringLiteral("Лог программы"), panel));
    m_logView = textView(panel);
    m_logView->setObjectName(QStringLiteral("logView"));
    layout->addWidget(m_logView, 1);
    LogFile::mainLog().setViewer(m_logView);
    LogFile::mainLog().loadIntoViewer();
    panel->setVisible(XMLConfig::instance().showLog);
    return panel;
}

QWidget *MainAppFrameWindow3::buildHeadingPage(const QString &text)
{
    auto *page = new QWidget(this);
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(heading(text, page));
    layout->addStretch(1);
    return page;
}

QWidget *MainAppFrameWindow3::buildRecordsPage()
{
    RecordListModel *records = RecordListModel::instance();
    if (!records)
        return buildHeadingPage(QStringLiteral("Записи переговоров"));
    m_recordPlayback = new RecordPlayback(records, ESL2::instance(), this);
    m_recordsPage = new RecordsPage(records, m_recordPlayback, this);
    return m_recordsPage;
}

QWidget *MainAppFrameWindow3::buildPhoneBookPage()
{
    auto *page = new QWidget(this);
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(heading(QStringLiteral("Телефонный справочник"), page));
    m_phonebookView = textView(page);
    m_phonebookView->setObjectName(QStringLiteral("phonebookView"));
    QFont font = m_phonebookView->font();
    font.setPointSize(XMLConfig::instance().phoneBookFontSize);
    m_phonebookView->setFont(font);
    layout->addWidget(m_phonebookView, 1);
    return page;
}

void MainAppFrameWindow3::connectNavigation()
{
    connect(m_homeAction, SIGNAL(triggered()), this, SLOT(HomeButtonPressed()));
    connect(m_soundAction, SIGNAL(triggered()), this, SLOT(SoundButtonPressed()));
    connect(m_preferencesAction, SIGNAL(triggered()), this, SLOT(PreferencesButtonPressed()));
    connect(m_phonebookAction, SIGNAL(triggered()), this, SLOT(PhonebookButtonPressed()));
    connect(m_micAction, SIGNAL(triggered()), this, SLOT(MicrophoneButtonPressed()));
}

void MainAppFrameWindow3::connectUsers()
{
    connect(m_unregisteredButton, SIGNAL(pressed()), this, SLOT(toggleShowUnregistered()));
    connect(m_filterButton, SIGNAL(pressed()), this, SLOT(FilterZoomButtonPressed()));
    connect(m_filterLine, SIGNAL(EscapeKeyPressed()), this, SLOT(FilterCloseButtonPressed()));
    connect(m_filterLine, SIGNAL(textChanged(QString)), m_userView, SLOT(setFilter(QString)));
    connect(m_filterLine, SIGNAL(EscapeKeyPressed()), m_userView, SLOT(setFilter()));
    connect(m_filterCloseButton, SIGNAL(pressed()), this, SLOT(FilterCloseButtonPressed()));
    connect(m_filterCloseButton, SIGNAL(pressed()), m_userView, SLOT(setFilter()));
    if (UserListModel *users = UserListModel::instance()) {
        connect(users, SIGNAL(setWarning(QString)), m_errorPanel, SLOT(addError(QString)));
        connect(users, SIGNAL(clearWarning(QString)), m_errorPanel, SLOT(removeError(QString)));
    }
}

void MainAppFrameWindow3::connectConferences()
{
    connect(m_participantsView, SIGNAL(haveParticipants(bool)), m_endConferenceButton,
            SLOT(setEnabled(bool)));
    connect(m_participantsView, SIGNAL(canRecallToConference(bool)), m_callParticipantsButton,
            SLOT(setEnabled(bool)));
    if (ConferenceListModel *conferences = ConferenceListModel::instance())
        connect(conferences, &ConferenceListModel::conferenceListReloaded, m_watch,
                &ConnectionWatch::conferencesReloaded);
}

void MainAppFrameWindow3::connectEventSocket()
{
    connect(m_watch, &ConnectionWatch::deadChanged, this, &MainAppFrameWindow3::showLinkDead);
    connect(m_watch, &ConnectionWatch::staleChanged, this, &MainAppFrameWindow3::showStale);
    if (UserListModel *users = UserListModel::instance())
        connect(m_watch, &ConnectionWatch::reloadRequested, users, &UserListModel::eslConnected);
    ESL2 *esl = ESL2::instance();
    if (!esl)
        return;
    connect(esl, SIGNAL(connectionIsDead(bool)), this, SLOT(eslConnectionDead(bool)));
    connect(esl, &ESL2::disconnected, m_watch, &ConnectionWatch::linkLost);
    connect(esl, &ESL2::connected, m_watch, &ConnectionWatch::linkUp);
}

void MainAppFrameWindow3::applyAlarmSettings()
{
    const XMLConfig &config = XMLConfig::instance();
    m_errorPanel->setVolume(config.systemVolume);
    m_errorPanel->setAudioDevice(SettingsController::alarmDevice(config));
}

void MainAppFrameWindow3::connectSettings()
{
    ::SettingsPage *page = m_settingsPage;
    // A failed write stays in the error panel until a later save succeeds.
    page->controller()->setFileWriter([this] { return saveConfiguration(); });
    connect(page, &::SettingsPage::configChanged, this, [this] {
        if (ConferenceListModel *conferences = ConferenceListModel::instance())
            conferences->configChanged();
        recordsConfigChanged();
        // Group counts and the cursor follow the appearance options.
        m_userView->viewport()->update();
    });
    if (m_conferenceControl)
        connect(page, &::SettingsPage::conferencePolicyChanged, m_conferenceControl,
                &ConferenceControl::dispatcherLeftConference);
    connect(page, &::SettingsPage::showLogChanged, m_logPanel, &QWidget::setVisible);
    connect(page, &::SettingsPage::phoneBookFontSizeChanged, this, [this](int points) {
        QFont font = m_phonebookView->font();
        font.setPointSize(points);
        m_phonebookView->setFont(font);
    });
    if (UserListModel *users = UserListModel::instance())
        connect(page, &::SettingsPage::warningUsersChanged, users, &UserListModel::setMandatoryUserList);
    connect(page, &::SettingsPage::warning, this,
            [this](const QString &text) { QMessageBox::warning(this, QStringLiteral("Tesmar"), text); });
    connect(page, &::SettingsPage::microphoneUnmuted, this, [this] { setMicrophoneMuted(false); });

    // The agent may also fail after Init() returned, from its own start.
    CPJSIPSUA &agent = CPJSIPSUA::instance();
    connect(&agent, &CPJSIPSUA::initFailed, this,
            [this](const QString &error) { showAgentFailure(SettingsController::initFailedText(error)); });
    connect(&agent, &CPJSIPSUA::initialised, this, [this] { showAgentFailure(QString()); });
}

void MainAppFrameWindow3::showAgentFailure(const QString &text)
{
    if (!m_agentFailure.isEmpty())
        m_errorPanel->removeError(m_agentFailure);
    m_agentFailure = text;
    if (!text.isEmpty())
        m_errorPanel->addError(text);
}

void MainAppFrameWindow3::connectSipAgent()
{
    CPJSIPSUA &agent = CPJSIPSUA::instance();
    const XMLConfig &config = XMLConfig::instance();
    // A configured device that is no longer there leaves the library's choice in place.
    QList<QByteArray> devices;
    if (!config.inputDeviceName.isEmpty() && agent.inputDevices(devices) &&
        devices.contains(config.inputDeviceName.toUtf8()))
        agent.setInputDevice(config.inputDeviceName.toUtf8());
    devices.clear();
    if (!config.outputDeviceName.isEmpty() && agent.outputDevices(devices) &&
        devices.contains(config.outputDeviceName.toUtf8()))
        agent.setOutputDevice(config.outputDeviceName.toUtf8());
    agent.setMicrophoneLevel(unsigned(config.inputVolume));
    agent.setSpeakerLevel(unsigned(config.outputVolume));

    connect(&agent, SIGNAL(registrationError(QString)), this, SLOT(uaRegistrationError(QString)),
            Qt::QueuedConnection);

    if (!config.externalUA) {
        const QString uri = config.currentLoginAddress;
        if (!agent.addAccount(uri.toUtf8(), config.currentSipPassword.toUtf8()))
            QMessageBox::warning(this, QStringLiteral("Tesmar"),
                                 QStringLiteral("Не удалось подключиться к ") + uri + QStringLiteral(": ") +
                                     agent.accountError());
    }
}

void MainAppFrameWindow3::showPage(int page)
{
    m_mainStack->setCurrentIndex(page);
    QAction *actions[] = {m_homeAction, m_soundAction, m_preferencesAction, m_phonebookAction};
    actions[page]->setChecked(true);
}

void MainAppFrameWindow3::HomeButtonPressed()
{
    showPage(ConferencesPage);
}

void MainAppFrameWindow3::SoundButtonPressed()
{
    showPage(RecordingsPage);
}

void MainAppFrameWindow3::PreferencesButtonPressed()
{
    showPage(SettingsPage);
}

void MainAppFrameWindow3::PhonebookButtonPressed()
{
    if (m_mainStack->currentIndex() == PhoneBookPage)
        return;
    showPage(PhoneBookPage);
    QString text;
    if (m_phoneBook.refresh(XMLConfig::instance().phoneBookPath, &text) != PhoneBookFile::Result::Unchanged)
        m_phonebookView->setPlainText(text);
}

void MainAppFrameWindow3::MicrophoneButtonPressed()
{
    setMicrophoneMuted(!m_micMuted);
    // Live again at the slider's level, which may not be saved yet.
    const int level = m_micMuted ? 0 : m_settingsPage->form().inputVolume;
    CPJSIPSUA::instance().setMicrophoneLevel(unsigned(level));
}

void MainAppFrameWindow3::setMicrophoneMuted(bool muted)
{
    m_micMuted = muted;
    m_micAction->setIcon(
        QIcon(muted ? QStringLiteral(":/Data/menu_mic-mute.png") : QStringLiteral(":/Data/menu_mic-10.png")));
    m_micAction->setToolTip(muted ? QStringLiteral("Включить микрофон")
                                  : QStringLiteral("Выключить микрофон"));
}

void MainAppFrameWindow3::eslConnectionDead(bool dead)
{
    m_watch->setDead(dead);
}

void MainAppFrameWindow3::showLinkDead(bool dead)
{
    if (dead)
        m_errorPanel->addError(deadLinkText());
    else
        m_errorPanel->removeError(deadLinkText());
    m_mainStack->widget(ConferencesPage)->setEnabled(!dead);
    m_mainStack->widget(RecordingsPage)->setEnabled(!dead);
}

void MainAppFrameWindow3::showStale(bool stale)
{
    m_staleBanner->setVisible(stale);
    // Greyed lists tell at a glance that what they show may be out of date.
    const QString look = stale ? QStringLiteral("color: #8A8A8A; background: #F0F0F0;") : QString();
    m_userView->setStyleSheet(look);
    m_conferenceView->setStyleSheet(look);
    m_participantsView->setStyleSheet(look);
}

bool MainAppFrameWindow3::usersFilterShown() const
{
    return m_usersHeader->currentIndex() == 1;
}

void MainAppFrameWindow3::FilterZoomButtonPressed()
{
    m_usersHeader->setCurrentIndex(1);
    m_filterLine->setFocus();
    m_filterLine->selectAll();
    m_userView->setFilter(m_filterLine->text());
}

void MainAppFrameWindow3::FilterCloseButtonPressed()
{
    m_usersHeader->setCurrentIndex(0);
}

void MainAppFrameWindow3::toggleShowUnregistered()
{
    const bool show = !m_userView->showUnregistered();
    m_userView->setShowUnregistered(show);
    m_unregisteredButton->setIcon(QIcon(show ? QStringLiteral(":/Data/hideUnregistered.png")
                                             : QStringLiteral(":/Data/showUnregistered.png")));
}

void MainAppFrameWindow3::uaRegistrationError(QString error)
{
    QMessageBox::warning(this, QStringLiteral("Tesmar"),
                         QStringLiteral("Ошибка регистрации SIP юзер-агента: ") + error);
}

void MainAppFrameWindow3::LogOutputError(QString qsLogMsg)
{
    LogFile::mainLog().write(ERROR, qsLogMsg);
}
