#include "app/cstartupdlg.h"

#include "app/logfile.h"
#include "app/loginrules.h"
#include "app/mysqlconnection.h"
#include "app/startup.h"
#include "app/xmlconfig.h"
#include "esl/esl2.h"
#include "sip/cpjsipsua.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDebug>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QString s_serverHost;
QString s_loginAddress;

// An attempt that has produced nothing by the time the client retries is reported
// a little after that retry.
const int kSilenceSlackMs = 250;

const char *const kPasswordQuery = "SELECT value FROM options WHERE name = 'event-socket-pwd'";

QString connectingToEventSocket()
{
    return QStringLiteral("Выполняется подключение к FreeSwitch серверу через ESL");
}

} // namespace

CStartupDlg::CStartupDlg(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setWindowTitle(QStringLiteral("Tesmar - Авторизация"));
    setWindowIcon(QIcon(QStringLiteral(":/Data/blue.ico")));
    buildWidgets();
    m_silence = new QTimer(this);
    m_silence->setSingleShot(true);
    connect(m_silence, &QTimer::timeout, this, &CStartupDlg::eventSocketSilent);

    const XMLConfig &config = XMLConfig::instance();
    for (const XMLConfig::UserEntry &user : config.users)
        m_userBox->addItem(user.sipUri);
    if (!config.users.isEmpty() && config.users.first().autoStart) {
        m_autoConnectBox->setChecked(true);
        m_passwordField->setText(config.users.first().password);
    }
    if (!config.fileLoaded)
        showInfo(QStringLiteral("Отсутствует файл конфигурации"));
    m_passwordField->setFocus();
    loginChanged(m_userBox->currentText());

    connect(m_loginButton, SIGNAL(pressed()), this, SLOT(ConnectButton_pressed()));
    connect(m_userBox, SIGNAL(currentTextChanged(const QString &)), this, SLOT(loginChanged(QString)));
    MySQLConnection *database = &MySQLConnection::instance();
    connect(database, SIGNAL(connected()), this, SLOT(mysqlConnected()));
    connect(database, SIGNAL(connectionError(const QString &)), this, SLOT(ErrorReport(QString)));
    if (ESL2 *esl = ESL2::instance()) {
        connect(esl, SIGNAL(connected()), this, SLOT(Done()), Qt::QueuedConnection);
        connect(esl, &ESL2::connectError, this, &CStartupDlg::eventSocketFailed);
        connect(esl, &ESL2::disconnected, this, &CStartupDlg::eventSocketFailed);
    }
    // A SIP agent that starts in the background reports a late failure by signal.
    CPJSIPSUA *ua = &CPJSIPSUA::instance();
    if (ua->metaObject()->indexOfSignal("initFailed(QString)") >= 0)
        connect(ua, SIGNAL(initFailed(QString)), this, SLOT(sipInitFailed(QString)));

    centreOnScreen();

    if (m_autoConnectBox->isChecked() && !Startup::reloginRequested() && !Startup::autologinDisabled())
        ConnectButton_pressed();
}

CStartupDlg::~CStartupDlg() = default;

QString CStartupDlg::serverHost()
{
    return s_serverHost;
}

QString CStartupDlg::loginAddress()
{
    return s_loginAddress;
}

void CStartupDlg::buildWidgets()
{
    auto *header = new QWidget(this);
    header->setObjectName(QStringLiteral("blueLabelWidget"));
    auto *logo = new QLabel(header);
    logo->setPixmap(QPixmap(QStringLiteral(":/Data/logo.png"))
                        .scaled(48, 48, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    auto *product = new QLabel(QStringLiteral("Tesmar — диспетчерский пульт"), header);
    auto *headerLayout = new QHBoxLayout(header);
    headerLayout->addWidget(logo);
    headerLayout->addWidget(product, 1);

    m_userBox = new QComboBox(this);
    m_userBox->setEditable(true);
    m_userBox->setInsertPolicy(QComboBox::NoInsert);
    m_userBox->setToolTip(QStringLiteral("Выберите пользователя из списка или введите новый URI"));
    m_userBox->lineEdit()->setPlaceholderText(QStringLiteral("Введите имя пользователя"));

    m_passwordField = new QLineEdit(this);
    m_passwordField->setEchoMode(QLineEdit::Password);
    m_passwordField->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_passwordField->setPlaceholderText(QStringLiteral("Введите ваш пароль"));

    m_autoConnectBox = new QCheckBox(QStringLiteral("Автоматическое подключение"), this);
    m_loginButton = new QPushButton(QStringLiteral("Вход"), this);
    m_loginButton->setObjectName(QStringLiteral("blueButton"));

    m_busy = new QProgressBar(this);
    m_busy->setRange(0, 0);
    m_busy->setTextVisible(false);
    m_busy->setMaximumHeight(6);
    m_busy->hide();

    m_infoPanel = new QLabel(this);
    m_infoPanel->setObjectName(QStringLiteral("infoPanel"));
    m_infoPanel->setWordWrap(true);
    m_infoPanel->hide();
    m_errorPanel = new QLabel(this);
    m_errorPanel->setObjectName(QStringLiteral("errorPanel"));
    m_errorPanel->setWordWrap(true);
    m_errorPanel->hide();

    auto *body = new QVBoxLayout;
    body->setContentsMargins(10, 10, 10, 10);
    body->setSpacing(6);
    body->addWidget(new QLabel(QStringLiteral("Пользователь:"), this));
    body->addWidget(m_userBox);
    body->addWidget(new QLabel(QStringLiteral("Пароль:"), this));
    body->addWidget(m_passwordField);
    body->addWidget(m_autoConnectBox);
    body->addWidget(m_loginButton);
    body->addWidget(m_busy);
    body->addWidget(m_infoPanel);
    body->addWidget(m_errorPanel);

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    outer->addWidget(header);
    outer->addLayout(body);
    setMinimumWidth(360);
}

void CStartupDlg::centreOnScreen()
{
    adjustSize();
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
}

void CStartupDlg::showInfo(const QString &text)
{
    m_errorPanel->hide();
    m_infoPanel->setText(text);
    m_infoPanel->show();
}

void CStartupDlg::setStep(Step step)
{
    m_step = step;
    m_busy->setVisible(step == Step::Database || step == Step::Password || step == Step::EventSocket);
    if (step != Step::EventSocket)
        m_silence->stop();
}

void CStartupDlg::loginChanged(QString text)
{
    m_loginButton->setEnabled(!text.isEmpty() && m_step == Step::Idle);
}

void CStartupDlg::ConnectButton_pressed()
{
    if (m_step != Step::Idle)
        return;
    XMLConfig &config = XMLConfig::instance();

    CPJSIPSUA &ua = CPJSIPSUA::instance();
    if (!ua.Init()) {
        ErrorReport(QStringLiteral("Не удалось запустить SIP-агент: ") + ua.initError());
        return;
    }

    QString user;
    QString host;
    int sipPort = 0;
    if (!ua.parseUri(m_userBox->currentText().trimmed(), user, host, sipPort)) {
        ErrorReport(QStringLiteral("Неверный URI для пользователя"));
        config.clearCurrentLogin();
        return;
    }
    // The SIP parser hands an IPv6 host back bare; the login address keeps it bracketed.
    if (host.contains(QLatin1Char(':')) && !host.startsWith(QLatin1Char('[')))
        host = QLatin1Char('[') + host + QLatin1Char(']');
    const QString password = m_passwordField->text();
    const QString refused = LoginRules::credentialsError(user, host, password);
    if (!refused.isEmpty()) {
        ErrorReport(refused);
        config.clearCurrentLogin();
        return;
    }

    const QString address = user + QLatin1Char('@') + host;
    s_serverHost = host;
    s_loginAddress = address;

    m_loginButton->setEnabled(false);
    config.currentLoginAddress = address;
    config.currentLoginUser = user;
    config.currentServerHost = host;
    config.currentSipPassword = password;
    m_host = LoginRules::connectionHost(host);

    setStep(Step::Database);
    showInfo(QStringLiteral("Выполняется подключение к базе данных..."));
    MySQLConnection::instance().connectToDatabase(m_host, user, password, config.dbPort);
}

void CStartupDlg::mysqlConnected()
{
    if (m_step != Step::Database)
        return;
    qDebug("CStartupDlg::mysqlConnected()");
    setStep(Step::Password);
    MySQLConnection::instance().execQuery(QString::fromLatin1(kPasswordQuery), this,
                                          QStringLiteral("eventSocketPwd"), 0);
}

void CStartupDlg::eventSocketPwd(QList<QStringList> result, QString error, int context)
{
    Q_UNUSED(context)
    if (m_step != Step::Password)
        return;
    if (!error.isEmpty()) {
        ErrorReport(error);
        return;
    }
    if (result.isEmpty() || result.first().isEmpty()) {
        ErrorReport(QStringLiteral("Ошибка запроса к базе данных: получен пустой результат"));
        return;
    }
    const QString password = result.first().first();
    const QString refused = LoginRules::eventSocketPasswordError(password);
    if (!refused.isEmpty()) {
        ErrorReport(refused);
        return;
    }
    XMLConfig &config = XMLConfig::instance();
    config.currentEslPassword = password;
    setStep(Step::EventSocket);
    showInfo(connectingToEventSocket());
    if (ESL2 *esl = ESL2::instance()) {
        m_silence->start(esl->reconnectInterval() + kSilenceSlackMs);
        emit esl->sigConnect(m_host, config.eslPort, password);
    }
}

void CStartupDlg::eventSocketFailed(QString text)
{
    ESL2 *esl = ESL2::instance();
    if (m_step != Step::EventSocket || !esl)
        return;
    const QString reason = LoginRules::eventSocketFailure(text, m_host, XMLConfig::instance().eslPort);
    if (!reason.isEmpty())
        showRetry(reason, esl->reconnectInterval());
}

void CStartupDlg::eventSocketSilent()
{
    ESL2 *esl = ESL2::instance();
    if (m_step != Step::EventSocket || !esl)
        return;
    showRetry(LoginRules::eventSocketFailure(QStringLiteral("operation timed out"), m_host,
                                             XMLConfig::instance().eslPort),
              esl->reconnectInterval() - kSilenceSlackMs);
}

void CStartupDlg::showRetry(const QString &reason, int msUntilRetry)
{
    if (ESL2 *esl = ESL2::instance())
        m_silence->start(esl->reconnectInterval() + kSilenceSlackMs);
    const QDateTime next = QDateTime::currentDateTime().addMSecs(msUntilRetry);
    showInfo(connectingToEventSocket() + QLatin1Char('\n') + reason + QLatin1Char('\n') +
             QStringLiteral("Следующая попытка в ") + next.toString(QStringLiteral("HH:mm:ss")));
}

void CStartupDlg::sipInitFailed(QString error)
{
    if (m_step == Step::Database || m_step == Step::Password || m_step == Step::EventSocket)
        ErrorReport(QStringLiteral("Не удалось запустить SIP-агент: ") + error);
}

void CStartupDlg::ErrorReport(QString qsErrorMessage)
{
    // Whatever step was running is abandoned; a retrying event socket stops too.
    if (m_step == Step::EventSocket) {
        if (ESL2 *esl = ESL2::instance())
            esl->disconnectFromServer();
    }
    if (m_step != Step::Finished)
        setStep(Step::Idle);
    m_infoPanel->hide();
    m_errorPanel->setText(qsErrorMessage);
    m_errorPanel->show();
    LogFile::mainLog().write(ERROR, qsErrorMessage);
    m_loginButton->setEnabled(!m_userBox->currentText().isEmpty());
}

void CStartupDlg::Done()
{
    if (m_step != Step::EventSocket)
        return;
    XMLConfig &config = XMLConfig::instance();
    LoginRules::rememberUser(config.users, config.currentLoginAddress, m_autoConnectBox->isChecked(),
                             m_passwordField->text());
    setStep(Step::Finished);
    LogFile::mainLog().write(
        INFO, QStringLiteral("Подключение к FreeSwitch серверу через систему ESL прошло успешно"));
    accept();
}

void CStartupDlg::reject()
{
    if (m_step == Step::EventSocket) {
        if (ESL2 *esl = ESL2::instance())
            esl->disconnectFromServer();
    }
    setStep(Step::Finished);
    CPJSIPSUA::instance().Deinit();
    QDialog::reject();
}
