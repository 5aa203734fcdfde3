#include "ui/settingspage.h"

#include "app/xmlconfig.h"
#include "sip/cpjsipsua.h"
#include "ui/errorpanel.h"
#include "ui/settingscontroller.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSlider>
#include <QStackedWidget>
#include <QVBoxLayout>

using Field = SettingsForm::Field;

namespace {

struct SubPageInfo
{
    const char *button;
    const char *toolTip;
    const char *objectName;
    const char *title;
};

const SubPageInfo subPages[] = {
    {"Сеть", "Основные настройки сети", "connectionPreferences", "Настройки соединения"},
    {"Конференции", "Настройки параметров конференции", "conferencePreferences", "Настройки конференций"},
    {"Внешний Вид", "Настройки внешнего вида программы", "appearancePreferences", "Настройки внешнего вида"},
    {"Аудио", "Настройки аудио параметров", "audioPreferences", "Настройки аудио устройств"},
    {"Прочее", "Прочие настройки программы", "miscPreferences", "Прочие настройки"},
};

const char digitsPattern[] = "[0-9]+";
const char namePattern[] = "[\\w-]+";

QString percentText(int value)
{
    return QStringLiteral("%1%").arg(value);
}

} // namespace

SettingsPage::SettingsPage(XMLConfig &config, CPJSIPSUA &agent, ErrorPanel *alarm, QWidget *parent)
    : QWidget(parent)
    , m_config(config)
    , m_agent(agent)
    , m_alarm(alarm)
    , m_controller(new SettingsController(config, agent, alarm, this))
{
    setObjectName(QStringLiteral("settingsPage"));
    auto *layout = new QVBoxLayout(this);
    // A band of its own, so that the style sheet draws the heading as on the other pages.
    auto *heading = new QWidget(this);
    heading->setObjectName(QStringLiteral("header"));
    auto *headingLayout = new QHBoxLayout(heading);
    headingLayout->setContentsMargins(8, 0, 8, 0);
    headingLayout->addWidget(new QLabel(QStringLiteral("Настройки"), heading));
    layout->addWidget(heading);

    auto *body = new QHBoxLayout;
    auto *selector = new QWidget(this);
    selector->setObjectName(QStringLiteral("settingsSelector"));
    auto *selectorLayout = new QVBoxLayout(selector);
    selectorLayout->setContentsMargins(0, 0, 0, 0);
    for (const SubPageInfo &info : subPages) {
        auto *button = new QPushButton(QString::fromUtf8(info.button), selector);
        button->setToolTip(QString::fromUtf8(info.toolTip));
        button->setCheckable(true);
        button->setAutoExclusive(true);
        button->setMinimumWidth(140);
        selectorLayout->addWidget(button);
        m_selectors << button;
    }
    selectorLayout->addStretch(1);
    body->addWidget(selector);

    auto *right = new QVBoxLayout;
    m_title = new QLabel(this);
    m_title->setObjectName(QStringLiteral("settingsTitle"));
    QFont titleFont = m_title->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.2);
    m_title->setFont(titleFont);
    right->addWidget(m_title);
    m_stack = new QStackedWidget(this);
    m_stack->setObjectName(QStringLiteral("PreferencesStack"));
    m_stack->addWidget(buildConnectionPage());
    m_stack->addWidget(buildConferencesPage());
    m_stack->addWidget(buildAppearancePage());
    m_stack->addWidget(buildAudioPage());
    m_stack->addWidget(buildMiscPage());
    right->addWidget(m_stack, 1);
    body->addLayout(right, 1);
    layout->addLayout(body, 1);

    auto *buttons = new QHBoxLayout;
    m_fileError = new QLabel(this);
    m_fileError->setObjectName(QStringLiteral("fieldError"));
    m_fileError->setWordWrap(true);
    m_fileError->hide();
    m_errors.insert(Field::File, m_fileError);
    buttons->addWidget(m_fileError, 1);
    buttons->addStretch(0);
    m_cancelButton = new QPushButton(QStringLiteral("Отмена"), this);
    m_saveButton = new QPushButton(QStringLiteral("Сохранить Настройки"), this);
    m_cancelButton->setMinimumWidth(140);
    m_saveButton->setMinimumWidth(200);
    buttons->addWidget(m_cancelButton);
    buttons->addWidget(m_saveButton);
    layout->addLayout(buttons);

    connect(m_selectors[Connection], SIGNAL(clicked()), this, SLOT(ConnectionEditButtonPressed()));
    connect(m_selectors[Conferences], SIGNAL(clicked()), this, SLOT(ConferencesEditButtonPressed()));
    connect(m_selectors[Appearance], SIGNAL(clicked()), this, SLOT(AppearanceEditButtonPressed()));
    connect(m_selectors[Audio], SIGNAL(clicked()), this, SLOT(AudioEditButtonPressed()));
    connect(m_selectors[Misc], SIGNAL(clicked()), this, SLOT(MiscalleousButtonPressed()));
    connect(m_cancelButton, SIGNAL(pressed()), this, SLOT(CancelSettingsChangePressed()));
    connect(m_saveButton, SIGNAL(pressed()), this, SLOT(SaveSettingsPressed()));

    connect(m_controller, &SettingsController::warning, this, &SettingsPage::warning);
    connect(m_controller, &SettingsController::configChanged, this, &SettingsPage::configChanged);
    connect(m_controller, &SettingsController::conferencePolicyChanged, this,
            &SettingsPage::conferencePolicyChanged);
    connect(m_controller, &SettingsController::showLogChanged, this, &SettingsPage::showLogChanged);
    connect(m_controller, &SettingsController::phoneBookFontSizeChanged, this,
            &SettingsPage::phoneBookFontSizeChanged);
    connect(m_controller, &SettingsController::warningUsersChanged, this, &SettingsPage::warningUsersChanged);

    fillDevices();
    setForm(m_controller->load());
    setEdited(false);
    ConnectionEditButtonPressed();
}

SettingsPage::~SettingsPage()
{
    if (m_outputTestStop->isEnabled())
        m_agent.stopSoundTest();
    if (m_alarm && m_systemTestStop->isEnabled())
        m_alarm->stopAlarmTest();
}

QFormLayout *SettingsPage::formPage(QWidget *page)
{
    auto *layout = new QFormLayout(page);
    layout->setRowWrapPolicy(QFormLayout::WrapLongRows);
    layout->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    layout->setLabelAlignment(Qt::AlignLeft);
    return layout;
}

void SettingsPage::addRow(QFormLayout *layout, const QString &label, QWidget *editor, Field field)
{
    auto *cell = new QWidget(layout->parentWidget());
    auto *column = new QVBoxLayout(cell);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);
    column->addWidget(editor);
    auto *error = new QLabel(cell);
    error->setObjectName(QStringLiteral("fieldError"));
    error->setStyleSheet(QStringLiteral("color: #C62828;"));
    error->setWordWrap(true);
    error->hide();
    column->addWidget(error);
    if (label.isEmpty())
        layout->addRow(cell);
    else
        layout->addRow(label, cell);
    m_editors.insert(field, editor);
    m_errors.insert(field, error);
}

QLineEdit *SettingsPage::lineEdit(const char *name, const QString &pattern, const QString &placeholder)
{
    auto *edit = new QLineEdit(this);
    edit->setObjectName(QLatin1String(name));
    if (!pattern.isEmpty())
        // Names are Russian as often as not: \w must take Cyrillic letters too.
        edit->setValidator(new QRegularExpressionValidator(
            QRegularExpression(pattern, QRegularExpression::UseUnicodePropertiesOption), edit));
    edit->setPlaceholderText(placeholder);
    // Numbers need no full-width field.
    if (pattern == QLatin1String(digitsPattern))
        edit->setMaximumWidth(140);
    connect(edit, SIGNAL(textEdited(QString)), this, SLOT(configurationChanged()));
    return edit;
}

QComboBox *SettingsPage::combo(const char *name, const QStringList &items)
{
    auto *box = new QComboBox(this);
    box->setObjectName(QLatin1String(name));
    box->addItems(items);
    connect(box, SIGNAL(currentIndexChanged(int)), this, SLOT(configurationChanged()));
    return box;
}

QCheckBox *SettingsPage::checkBox(const char *name, const QString &text)
{
    auto *box = new QCheckBox(text, this);
    box->setObjectName(QLatin1String(name));
    connect(box, SIGNAL(toggled(bool)), this, SLOT(configurationChanged()));
    return box;
}

QSlider *SettingsPage::volumeSlider(const char *name, QLabel **percent, QWidget *parent)
{
    auto *slider = new QSlider(Qt::Horizontal, parent);
    slider->setObjectName(QLatin1String(name));
    slider->setRange(0, 100);
    *percent = new QLabel(percentText(0), parent);
    (*percent)->setMinimumWidth((*percent)->fontMetrics().horizontalAdvance(QStringLiteral("100%")) + 4);
    return slider;
}

QWidget *SettingsPage::buildConnectionPage()
{
    auto *page = new QWidget(this);
    page->setObjectName(QLatin1String(subPages[Connection].objectName));
    QFormLayout *form = formPage(page);
    m_sipPort = lineEdit("SIPPort", digitsPattern);
    m_mediaPort = lineEdit("MediaPort");
    m_mediaPort->setMaximumWidth(140);
    // The media port has its own filter instead of the common edit signal.
    disconnect(m_mediaPort, SIGNAL(textEdited(QString)), this, SLOT(configurationChanged()));
    connect(m_mediaPort, SIGNAL(textEdited(QString)), this, SLOT(MediaPortEdittextEdited(QString)));
    m_caFile = lineEdit("CAFile");
    m_certFile = lineEdit("certFile");
    m_keyFile = lineEdit("keyFile");
    m_transport =
        combo("SIPTransport", {QStringLiteral("UDP"), QStringLiteral("TCP"), QStringLiteral("TLS")});
    m_srtp = combo("SRTPMode", {QStringLiteral("Только RTP"), QStringLiteral("RTP / SRTP"),
                                QStringLiteral("Только SRTP")});
    m_transport->setMaximumWidth(200);
    m_srtp->setMaximumWidth(200);
    m_reregistration = lineEdit("SIPClientReregistration", digitsPattern, QStringLiteral("3600"));
    m_gateway = lineEdit("TelephoneGateway", QString(), QStringLiteral("pstn"));
    m_externalUA = checkBox("ExternalUA", QStringLiteral("Внешний SIP user agent"));
    m_eslPort = lineEdit("ESLPort", digitsPattern, QStringLiteral("8021"));
    m_sshPort = lineEdit("SSHPort", digitsPattern, QStringLiteral("22"));
    m_dbPort = lineEdit("DBPort", digitsPattern, QStringLiteral("3306"));

    addRow(form, QStringLiteral("Локальный порт SIP:"), m_sipPort, Field::SipPort);
    addRow(form, QStringLiteral("Медиа-порт:"), m_mediaPort, Field::MediaPort);
    addRow(form, QStringLiteral("файл CA:"), m_caFile, Field::CaFile);
    addRow(form, QStringLiteral("файл сертификата:"), m_certFile, Field::CertFile);
    addRow(form, QStringLiteral("файл ключа сертификата:"), m_keyFile, Field::KeyFile);
    addRow(form, QStringLiteral("SIP транспорт:"), m_transport, Field::SipTransport);
    addRow(form, QStringLiteral("Режим RTP / SRTP:"), m_srtp, Field::SrtpMode);
    addRow(form, QStringLiteral("Период регистрации (сек):"), m_reregistration, Field::Reregistration);
    addRow(form, QStringLiteral("Контекст для вызова ТСОП:"), m_gateway, Field::TelephoneGateway);
    addRow(form, QString(), m_externalUA, Field::ExternalUA);
    auto *serverPorts = new QLabel(QStringLiteral("Порты сервера (применяются при следующем входе)"), page);
    serverPorts->setStyleSheet(QStringLiteral("font-weight: bold; margin-top: 8px;"));
    form->addRow(serverPorts);
    addRow(form, QStringLiteral("Порт Event Socket:"), m_eslPort, Field::EslPort);
    addRow(form, QStringLiteral("Порт SSH:"), m_sshPort, Field::SshPort);
    addRow(form, QStringLiteral("Порт базы данных:"), m_dbPort, Field::DbPort);
    return page;
}

QWidget *SettingsPage::buildConferencesPage()
{
    auto *page = new QWidget(this);
    page->setObjectName(QLatin1String(subPages[Conferences].objectName));
    QFormLayout *form = formPage(page);
    m_primaryId = lineEdit("PrimaryConferenceId", namePattern, QStringLiteral("0"));
    m_primaryName = lineEdit("PrimaryConferenceDisplayName");
    m_prefix = lineEdit("NewConferencePrefix", namePattern, QStringLiteral("конференция-"));
    m_switchMode =
        combo("SwitchToConference", {QStringLiteral("Ручное"), QStringLiteral("Автоматическое"),
                                     QStringLiteral("Постоянное"), QStringLiteral("Принудительное")});
    m_switchMode->setMaximumWidth(220);
    m_alarmDelay = lineEdit("AlarmDelay", digitsPattern, QStringLiteral("30"));
    m_callTimeout = lineEdit("CallTimeout", digitsPattern, QStringLiteral("120"));
    m_displayDisconnected = lineEdit("DisplayDisconnected", digitsPattern, QStringLiteral("5"));
    m_displayFailed = lineEdit("DisplayFailedCalls", digitsPattern, QStringLiteral("5"));

    addRow(form, QStringLiteral("Имя основной конференции:"), m_primaryId, Field::PrimaryConferenceId);
    addRow(form, QStringLiteral("Переименовать основную конференцию в:"), m_primaryName,
           Field::PrimaryConferenceDisplayName);
    addRow(form, QStringLiteral("Префикс новой конференции:"), m_prefix, Field::NewConferencePrefix);
    addRow(form, QStringLiteral("Подключение к основной конференции:"), m_switchMode,
           Field::SwitchToConference);
    addRow(form, QStringLiteral("Ожидание ответа перед включением Громкого Боя (сек):"), m_alarmDelay,
           Field::AlarmDelay);
    addRow(form, QStringLiteral("Ожидание ответа перед завершением вызова (сек):"), m_callTimeout,
           Field::CallTimeout);
    addRow(form, QStringLiteral("Отображать отключившихся абонентов (сек, 0 - вечно):"),
           m_displayDisconnected, Field::DisplayDisconnected);
    addRow(form, QStringLiteral("Отображать неудачные вызовы (сек, 0 - вечно):"), m_displayFailed,
           Field::DisplayFailedCalls);
    return page;
}

QWidget *SettingsPage::buildAppearancePage()
{
    auto *page = new QWidget(this);
    page->setObjectName(QLatin1String(subPages[Appearance].objectName));
    QFormLayout *form = formPage(page);
    QStringList sizes;
    for (int size : QFontDatabase::standardSizes()) {
        if (size >= 8 && size <= 48)
            sizes << QString::number(size);
    }
    m_fontSize = combo("PhoneBookFontSize", sizes);
    m_fontSize->setMaximumWidth(100);
    m_showLog = checkBox("ShowLog", QStringLiteral("Отображать журнал"));
    m_showCursor = checkBox("ShowCursor", QStringLiteral("Отображать курсор"));
    m_showNumRegistered =
        checkBox("ShowNumRegistered", QStringLiteral("Отображать число зарегистрированных членов групп"));
    addRow(form, QStringLiteral("Размер шрифта телефонной книги:"), m_fontSize, Field::PhoneBookFontSize);
    form->addRow(m_showLog);
    form->addRow(m_showCursor);
    form->addRow(m_showNumRegistered);
    return page;
}

QWidget *SettingsPage::buildAudioPage()
{
    auto *page = new QWidget(this);
    page->setObjectName(QLatin1String(subPages[Audio].objectName));
    auto *layout = new QVBoxLayout(page);

    // One block per device: its choice, its volume and, for outputs, a test.
    const auto block = [&](const QString &label, QComboBox *device, Field field, const QString &volumeName,
                           QSlider *slider, QLabel *percent, QPushButton *start, QPushButton *stop) {
        QFormLayout *form = formPage(new QWidget(page));
        QWidget *editor = device;
        if (start) {
            editor = new QWidget(page);
            auto *row = new QHBoxLayout(editor);
            row->setContentsMargins(0, 0, 0, 0);
            row->addWidget(device, 1);
            row->addWidget(start);
            row->addWidget(stop);
        }
        form->setRowWrapPolicy(QFormLayout::WrapAllRows);
        addRow(form, label, editor, field);
        m_editors.insert(field, device);
        auto *volume = new QWidget(page);
        auto *row = new QHBoxLayout(volume);
        row->setContentsMargins(0, 0, 0, 0);
        auto *name = new QLabel(volumeName, volume);
        // The three sliders start at one line.
        name->setMinimumWidth(name->fontMetrics().horizontalAdvance(QStringLiteral("Громкоговоритель")) + 12);
        row->addWidget(name);
        row->addWidget(slider, 1);
        row->addWidget(percent);
        form->addRow(QStringLiteral("Громкость"), volume);
        layout->addWidget(form->parentWidget());
    };

    m_inputDevice = combo("InputSoundDeviceName", {});
    m_inputVolume = volumeSlider("InputSoundDeviceVolume", &m_inputPercent, page);
    m_outputDevice = combo("OutputSoundDeviceName", {});
    m_outputVolume = volumeSlider("OutputSoundDeviceVolume", &m_outputPercent, page);
    m_outputTestStart = new QPushButton(QStringLiteral("Начать тест"), page);
    m_outputTestStop = new QPushButton(QStringLiteral("Остановить тест"), page);
    m_systemDevice = combo("SystemSoundDeviceName", {});
    m_systemVolume = volumeSlider("SystemSoundDeviceVolume", &m_systemPercent, page);
    m_systemTestStart = new QPushButton(QStringLiteral("Начать тест"), page);
    m_systemTestStop = new QPushButton(QStringLiteral("Остановить тест"), page);
    m_outputTestStop->setEnabled(false);
    m_systemTestStop->setEnabled(false);

    block(QStringLiteral("Выберите устройство аудиоввода:"), m_inputDevice, Field::InputDevice,
          QStringLiteral("Микрофон"), m_inputVolume, m_inputPercent, nullptr, nullptr);
    block(QStringLiteral("Выберите устройство аудиовывода конференций:"), m_outputDevice, Field::OutputDevice,
          QStringLiteral("Громкоговоритель"), m_outputVolume, m_outputPercent, m_outputTestStart,
          m_outputTestStop);
    block(QStringLiteral("Выберите устройство воспроизведения системных звуков:"), m_systemDevice,
          Field::SystemDevice, QStringLiteral("Системные звуки"), m_systemVolume, m_systemPercent,
          m_systemTestStart, m_systemTestStop);
    layout->addStretch(1);

    connect(m_inputVolume, SIGNAL(valueChanged(int)), this, SLOT(SoundInputVolumeSliderChanged(int)));
    connect(m_outputVolume, SIGNAL(valueChanged(int)), this, SLOT(SoundOutputVolumeSliderChanged(int)));
    connect(m_systemVolume, SIGNAL(valueChanged(int)), this, SLOT(SystemSoundVolumeSliderChanged(int)));
    connect(m_outputTestStart, SIGNAL(pressed()), this, SLOT(pjsipStartSoundTest()));
    connect(m_outputTestStop, SIGNAL(pressed()), this, SLOT(pjsipStopSoundTest()));
    connect(m_systemTestStart, SIGNAL(pressed()), this, SLOT(systemStartSoundTest()));
    connect(m_systemTestStop, SIGNAL(pressed()), this, SLOT(systemStopSoundTest()));
    return page;
}

QWidget *SettingsPage::buildMiscPage()
{
    auto *page = new QWidget(this);
    page->setObjectName(QLatin1String(subPages[Misc].objectName));
    QFormLayout *form = formPage(page);
    form->setRowWrapPolicy(QFormLayout::WrapAllRows);
    m_warningUsers = new QPlainTextEdit(page);
    m_warningUsers->setObjectName(QStringLiteral("WarningForUser"));
    m_warningUsers->setMaximumHeight(m_warningUsers->fontMetrics().lineSpacing() * 5);
    connect(m_warningUsers, SIGNAL(textChanged()), this, SLOT(configurationChanged()));
    m_userFileTemplate =
        lineEdit("UserFileTemplate", QString(), QStringLiteral("/etc/freeswitch/directory/default/%1.xml"));
    m_alarmSound = checkBox("AlarmSound", QStringLiteral("Звуковая сигнализация при аварии"));
    addRow(
        form,
        QStringLiteral("Давать предупреждение при отсутствиии пользователей (имена пользователей разделяемые "
                       "пробелом):"),
        m_warningUsers, Field::WarningForUser);
    addRow(form,
           QStringLiteral("Шаблон имени файла пользователя FreeSwitch (\"%1\" заменяется на username):"),
           m_userFileTemplate, Field::UserFileTemplate);
    addRow(form, QString(), m_alarmSound, Field::AlarmSound);
    return page;
}

void SettingsPage::fillDevices()
{
    const bool loading = m_loading;
    m_loading = true;
    const auto fill = [](QComboBox *box, const QList<QByteArray> &names) {
        const QString current = box->currentText();
        box->clear();
        for (const QByteArray &name : names)
            box->addItem(QString::fromUtf8(name));
        selectText(box, current, QString());
    };
    QList<QByteArray> names;
    m_agent.inputDevices(names);
    fill(m_inputDevice, names);
    names.clear();
    m_agent.outputDevices(names);
    fill(m_outputDevice, names);
    names.clear();
    for (const QString &name : SettingsController::systemOutputDevices())
        names << name.toUtf8();
    fill(m_systemDevice, names);
    m_loading = loading;
}

void SettingsPage::selectText(QComboBox *combo, const QString &text, const QString &fallback)
{
    int at = combo->findText(text);
    if (at < 0)
        at = combo->findText(fallback);
    if (at < 0 && combo->count() > 0)
        at = 0;
    combo->setCurrentIndex(at);
}

SettingsForm SettingsPage::form() const
{
    SettingsForm f;
    f.sipPort = m_sipPort->text();
    f.mediaPort = m_mediaPort->text();
    f.caFile = m_caFile->text();
    f.certFile = m_certFile->text();
    f.keyFile = m_keyFile->text();
    f.sipTransport = m_transport->currentIndex();
    f.srtpMode = m_srtp->currentIndex();
    f.reregistration = m_reregistration->text();
    f.telephoneGateway = m_gateway->text();
    f.externalUA = m_externalUA->isChecked();
    f.eslPort = m_eslPort->text();
    f.sshPort = m_sshPort->text();
    f.dbPort = m_dbPort->text();
    f.primaryConferenceId = m_primaryId->text();
    f.primaryConferenceDisplayName = m_primaryName->text();
    f.newConferencePrefix = m_prefix->text();
    f.switchToConference = m_switchMode->currentIndex();
    f.alarmDelay = m_alarmDelay->text();
    f.callTimeout = m_callTimeout->text();
    f.displayDisconnected = m_displayDisconnected->text();
    f.displayFailedCalls = m_displayFailed->text();
    f.phoneBookFontSize = m_fontSize->currentText();
    f.showLog = m_showLog->isChecked();
    f.showCursor = m_showCursor->isChecked();
    f.showNumRegistered = m_showNumRegistered->isChecked();
    f.inputDevice = m_inputDevice->currentText();
    f.inputVolume = m_inputVolume->value();
    f.outputDevice = m_outputDevice->currentText();
    f.outputVolume = m_outputVolume->value();
    f.systemDevice = m_systemDevice->currentText();
    f.systemVolume = m_systemVolume->value();
    f.warningForUser = m_warningUsers->toPlainText();
    f.userFileTemplate = m_userFileTemplate->text();
    f.alarmSound = m_alarmSound->isChecked();
    return f;
}

void SettingsPage::setForm(const SettingsForm &f)
{
    const bool loading = m_loading;
    m_loading = true;
    m_sipPort->setText(f.sipPort);
    m_mediaPort->setText(f.mediaPort);
    m_caFile->setText(f.caFile);
    m_certFile->setText(f.certFile);
    m_keyFile->setText(f.keyFile);
    m_transport->setCurrentIndex(f.sipTransport);
    m_srtp->setCurrentIndex(f.srtpMode);
    m_reregistration->setText(f.reregistration);
    m_gateway->setText(f.telephoneGateway);
    m_externalUA->setChecked(f.externalUA);
    m_eslPort->setText(f.eslPort);
    m_sshPort->setText(f.sshPort);
    m_dbPort->setText(f.dbPort);
    m_primaryId->setText(f.primaryConferenceId);
    m_primaryName->setText(f.primaryConferenceDisplayName);
    m_prefix->setText(f.newConferencePrefix);
    m_switchMode->setCurrentIndex(f.switchToConference);
    m_alarmDelay->setText(f.alarmDelay);
    m_callTimeout->setText(f.callTimeout);
    m_displayDisconnected->setText(f.displayDisconnected);
    m_displayFailed->setText(f.displayFailedCalls);
    selectText(m_fontSize, f.phoneBookFontSize, QString());
    m_showLog->setChecked(f.showLog);
    m_showCursor->setChecked(f.showCursor);
    m_showNumRegistered->setChecked(f.showNumRegistered);
    // No stored name means the default device.
    selectText(m_inputDevice,
               f.inputDevice.isEmpty() ? QString::fromUtf8(m_agent.defaultInputDeviceName()) : f.inputDevice,
               QString::fromUtf8(m_agent.defaultInputDeviceName()));
    selectText(m_outputDevice,
               f.outputDevice.isEmpty() ? QString::fromUtf8(m_agent.defaultOutputDeviceName())
                                        : f.outputDevice,
               QString::fromUtf8(m_agent.defaultOutputDeviceName()));
    selectText(m_systemDevice,
               f.systemDevice.isEmpty() ? SettingsController::systemDefaultOutputDevice() : f.systemDevice,
               SettingsController::systemDefaultOutputDevice());
    m_inputVolume->setValue(f.inputVolume);
    m_outputVolume->setValue(f.outputVolume);
    m_systemVolume->setValue(f.systemVolume);
    m_warningUsers->setPlainText(f.warningForUser);
    m_userFileTemplate->setText(f.userFileTemplate);
    m_alarmSound->setChecked(f.alarmSound);
    m_loading = loading;
}

QString SettingsPage::fieldError(Field field) const
{
    QLabel *label = m_errors.value(field);
    return label && !label->isHidden() ? label->text() : QString();
}

QWidget *SettingsPage::editor(Field field) const
{
    return m_editors.value(field);
}

void SettingsPage::showErrors(const SettingsErrors &errors)
{
    for (auto it = m_errors.cbegin(); it != m_errors.cend(); ++it) {
        const QString text = errors.value(it.key());
        it.value()->setText(text);
        it.value()->setVisible(!text.isEmpty());
    }
    // The first refused field's page comes to the front.
    for (int page = 0; page < m_stack->count(); ++page) {
        for (auto it = errors.cbegin(); it != errors.cend(); ++it) {
            QWidget *editor = m_editors.value(it.key());
            if (editor && m_stack->widget(page)->isAncestorOf(editor)) {
                showSubPage(page);
                return;
            }
        }
    }
}

void SettingsPage::setEdited(bool edited)
{
    m_cancelButton->setEnabled(edited);
    m_saveButton->setEnabled(edited);
}

void SettingsPage::showSubPage(int page)
{
    m_stack->setCurrentIndex(page);
    m_title->setText(QString::fromUtf8(subPages[page].title));
    m_selectors[page]->setChecked(true);
}

void SettingsPage::ConnectionEditButtonPressed()
{
    showSubPage(Connection);
}

void SettingsPage::ConferencesEditButtonPressed()
{
    showSubPage(Conferences);
}

void SettingsPage::AppearanceEditButtonPressed()
{
    showSubPage(Appearance);
}

void SettingsPage::AudioEditButtonPressed()
{
    showSubPage(Audio);
}

void SettingsPage::MiscalleousButtonPressed()
{
    showSubPage(Misc);
}

void SettingsPage::configurationChanged()
{
    if (!m_loading)
        setEdited(true);
}

void SettingsPage::MediaPortEdittextEdited(QString text)
{
    if (!text.isEmpty()) {
        const QString filtered = SettingsController::filterMediaPort(text);
        if (filtered != text)
            m_mediaPort->setText(filtered);
    }
    configurationChanged();
}

void SettingsPage::SoundInputVolumeSliderChanged(int value)
{
    m_inputPercent->setText(percentText(value));
    if (m_loading)
        return;
    m_agent.setMicrophoneLevel(unsigned(value));
    emit microphoneUnmuted();
    configurationChanged();
}

void SettingsPage::SoundOutputVolumeSliderChanged(int value)
{
    m_outputPercent->setText(percentText(value));
    if (m_loading)
        return;
    m_agent.setSpeakerLevel(unsigned(value));
    configurationChanged();
}

void SettingsPage::SystemSoundVolumeSliderChanged(int value)
{
    m_systemPercent->setText(percentText(value));
    if (m_loading)
        return;
    if (m_alarm)
        m_alarm->setVolume(value);
    configurationChanged();
}

void SettingsPage::SaveSettingsPressed()
{
    const SettingsErrors errors = m_controller->save(form());
    showErrors(errors);
    // What was refused still differs from the configuration.
    setEdited(!errors.isEmpty());
}

void SettingsPage::CancelSettingsChangePressed()
{
    // Levels the sliders applied at once go back with them.
    const SettingsForm shown = form();
    setForm(m_controller->load());
    if (shown.inputVolume != m_config.inputVolume)
        m_agent.setMicrophoneLevel(unsigned(m_config.inputVolume));
    if (shown.outputVolume != m_config.outputVolume)
        m_agent.setSpeakerLevel(unsigned(m_config.outputVolume));
    if (m_alarm)
        m_alarm->setVolume(m_config.systemVolume);
    showErrors({});
    showSubPage(m_stack->currentIndex());
    setEdited(false);
}

void SettingsPage::pjsipStartSoundTest()
{
    m_outputTestStart->setEnabled(false);
    m_outputTestStop->setEnabled(true);
    m_agent.startSoundTest(m_outputDevice->currentText().toUtf8());
}

void SettingsPage::pjsipStopSoundTest()
{
    m_outputTestStart->setEnabled(true);
    m_outputTestStop->setEnabled(false);
    m_agent.stopSoundTest();
}

void SettingsPage::systemStartSoundTest()
{
    m_systemTestStart->setEnabled(false);
    m_systemTestStop->setEnabled(true);
    if (!m_alarm)
        return;
    m_alarm->setAudioDevice(m_systemDevice->currentText());
    m_alarm->startAlarmTest();
}

void SettingsPage::systemStopSoundTest()
{
    m_systemTestStart->setEnabled(true);
    m_systemTestStop->setEnabled(false);
    if (!m_alarm)
        return;
    m_alarm->stopAlarmTest();
    // The test may have played on another device than the alarm's, or with
    // the alarm switched off: the alarm goes back to its own.
    if (m_systemDevice->currentText() != SettingsController::alarmDevice(m_config))
        m_alarm->setAudioDevice(SettingsController::alarmDevice(m_config));
}
