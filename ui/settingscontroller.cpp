#include "ui/settingscontroller.h"

#include "app/xmlconfig.h"
#include "conferences/commandsafety.h"
#include "sip/cpjsipsua.h"
#include "ui/errorpanel.h"

#include <QAudioDeviceInfo>
#include <QDebug>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTcpServer>
#include <QUdpSocket>

using Field = SettingsForm::Field;

namespace {

const QString defaultPrefix = QStringLiteral("конференция-");

// Ports shown as empty when unset.
QString portText(int port)
{
    return port == 0 ? QString() : QString::number(port);
}

// A field of digits: empty gives the fallback; otherwise the value, when it
// lies in [low, high]. Refusals name the range.
bool readNumber(const QString &text, int fallback, int low, int high, int *value, QString *why)
{
    const QString t = text.trimmed();
    if (t.isEmpty()) {
        *value = fallback;
        return true;
    }
    bool ok = false;
    const qlonglong n = t.toLongLong(&ok);
    if (!ok || n < low || n > high) {
        *why = QStringLiteral("Введите число от %1 до %2").arg(low).arg(high);
        return false;
    }
    *value = int(n);
    return true;
}

// Whether nobody else listens on the port; SO_REUSEADDR would hide a UDP
// listener, so the probe binds exclusively.
bool portFree(int port, bool tcpToo)
{
    QUdpSocket udp;
    if (!udp.bind(QHostAddress(QHostAddress::AnyIPv4), quint16(port), QAbstractSocket::DontShareAddress))
        return false;
    if (!tcpToo)
        return true;
    QTcpServer tcp;
    return tcp.listen(QHostAddress(QHostAddress::AnyIPv4), quint16(port));
}

QString portBusyText(int port)
{
    return QStringLiteral("Порт %1 уже занят другой программой").arg(port);
}

} // namespace

// The values whose change restarts the SIP agent, plus those it reads when it
// adds the account.
struct SettingsController::Network
{
    int sipPort;
    int mediaPort;
    QString caFile;
    QString certFile;
    QString keyFile;
    int srtpMode;
    bool externalUA;

    static Network of(const XMLConfig &c)
    {
        return {c.sipPort, c.mediaPort, c.caFile, c.certFile, c.keyFile, c.srtpMode, c.externalUA};
    }
    void storeInto(XMLConfig &c) const
    {
        c.sipPort = sipPort;
        c.mediaPort = mediaPort;
        c.caFile = caFile;
        c.certFile = certFile;
        c.keyFile = keyFile;
        c.srtpMode = srtpMode;
        c.externalUA = externalUA;
    }
    // The fields that differ from other, for the messages of a refused restart.
    QList<Field> changedFrom(const Network &other) const
    {
        QList<Field> out;
        if (sipPort != other.sipPort)
            out << Field::SipPort;
        if (mediaPort != other.mediaPort)
            out << Field::MediaPort;
        if (caFile != other.caFile)
            out << Field::CaFile;
        if (certFile != other.certFile)
            out << Field::CertFile;
        if (keyFile != other.keyFile)
            out << Field::KeyFile;
        if (srtpMode != other.srtpMode)
            out << Field::SrtpMode;
        if (externalUA != other.externalUA)
            out << Field::ExternalUA;
        return out;
    }
};

SettingsController::SettingsController(XMLConfig &config, CPJSIPSUA &agent, ErrorPanel *alarm,
                                       QObject *parent)
    : QObject(parent), m_config(config), m_agent(agent), m_alarm(alarm)
{}

SettingsForm SettingsController::load() const
{
    const XMLConfig &c = m_config;
    SettingsForm f;
    f.sipPort = portText(c.sipPort);
    f.mediaPort = portText(c.mediaPort);
    f.caFile = c.caFile;
    f.certFile = c.certFile;
    f.keyFile = c.keyFile;
    f.sipTransport = c.sipTransport;
    f.srtpMode = c.srtpMode;
    f.reregistration = QString::number(c.sipClientReregistration);
    f.telephoneGateway = c.telephoneGateway;
    f.externalUA = c.externalUA;
    f.eslPort = portText(c.eslPort);
    f.sshPort = portText(c.sshPort);
    f.dbPort = portText(c.dbPort);
    f.primaryConferenceId = c.primaryConferenceId;
    f.primaryConferenceDisplayName = c.primaryConferenceDisplayName;
    f.newConferencePrefix = c.newConferencePrefix;
    f.switchToConference = c.switchToConference;
    // 0 is a value of its own here ("forever"), not an unset field.
    f.alarmDelay = QString::number(c.alarmDelay);
    f.callTimeout = QString::number(c.callTimeout);
    f.displayDisconnected = QString::number(c.displayDisconnected);
    f.displayFailedCalls = QString::number(c.displayFailedCalls);
    f.phoneBookFontSize = QString::number(c.phoneBookFontSize);
    f.showLog = c.showLog;
    f.showCursor = c.showCursor;
    f.showNumRegistered = c.showNumRegistered;
    f.inputDevice = c.inputDeviceName;
    f.inputVolume = c.inputVolume;
    f.outputDevice = c.outputDeviceName;
    f.outputVolume = c.outputVolume;
    f.systemDevice = c.systemDeviceName;
    f.systemVolume = c.systemVolume;
    f.warningForUser = c.warningUsers.join(QLatin1Char(' '));
    f.userFileTemplate = c.userFileTemplate;
    f.alarmSound = c.alarmSound;
    return f;
}

SettingsErrors SettingsController::save(const SettingsForm &form)
{
    SettingsErrors errors;
    m_restarted = false;
    storeNetwork(form, errors);
    storeConferences(form, errors);
    storeAudio(form, errors);
    storeMisc(form, errors);

    // One write of the whole file, replaced atomically: a failure leaves the
    // previous file as it was.
    if (!(m_writeFile ? m_writeFile() : m_config.save()))
        errors.insert(Field::File, m_config.saveError());
    emit configChanged();
    emit conferencePolicyChanged();
    return errors;
}

void SettingsController::storeNetwork(const SettingsForm &form, SettingsErrors &errors)
{
    XMLConfig &c = m_config;
    const Network previous = Network::of(c);
    const int agentSipPort = m_agent.transportPort(CPJSIPSUA::Transport::Udp);
    QString why;

    // A refused value keeps the stored one.
    int sipPort = c.sipPort;
    if (!readNumber(form.sipPort, 0, 0, 65534, &sipPort, &why))
        errors.insert(Field::SipPort, why);
    else if (sipPort != c.sipPort && sipPort != 0 && sipPort != agentSipPort && !portFree(sipPort, true))
        errors.insert(Field::SipPort, portBusyText(sipPort));
    if (errors.contains(Field::SipPort))
        sipPort = c.sipPort;

    int mediaPort = c.mediaPort;
    if (!readNumber(form.mediaPort, 0, 0, 65525, &mediaPort, &why))
        errors.insert(Field::MediaPort, why);
    else if (mediaPort != 0 && mediaPort == sipPort)
        errors.insert(Field::MediaPort, QStringLiteral("Медиа-порт совпадает с портом SIP"));
    else if (mediaPort != c.mediaPort && mediaPort != 0 && mediaPort != m_agent.audioPort() &&
             !portFree(mediaPort, false))
        errors.insert(Field::MediaPort, portBusyText(mediaPort));
    if (errors.contains(Field::MediaPort))
        mediaPort = c.mediaPort;

    Network next = previous;
    next.sipPort = sipPort;
    next.mediaPort = mediaPort;
    const struct
    {
        Field field;
        const QString &text;
        QString &target;
    } files[] = {{Field::CaFile, form.caFile, next.caFile},
                 {Field::CertFile, form.certFile, next.certFile},
                 {Field::KeyFile, form.keyFile, next.keyFile}};
    for (const auto &file : files) {
        const QString path = file.text.trimmed();
        if (path != file.target && !path.isEmpty() && !QFileInfo(path).isFile())
            errors.insert(file.field, QStringLiteral("Файл %1 не найден").arg(path));
        else
            file.target = path;
    }
    next.srtpMode = form.srtpMode >= 0 ? form.srtpMode : c.srtpMode;
    next.externalUA = form.externalUA;

    // Read by the agent when it adds its account: stored before any restart,
    // so that a restarted agent registers with the new values at once.
    const int oldTransport = c.sipTransport;
    if (form.sipTransport >= 0)
        c.sipTransport = form.sipTransport;
    const int oldPeriod = c.sipClientReregistration;
    int period = oldPeriod;
    if (!readNumber(form.reregistration, 3600, 120, 86400 * 7, &period, &why))
        errors.insert(Field::Reregistration, why);
    else
        c.sipClientReregistration = period;

    const QString gateway =
        form.telephoneGateway.trimmed().isEmpty() ? QStringLiteral("pstn") : form.telephoneGateway.trimmed();
    if (!CommandSafety::isBareArgument(gateway, &why))
        errors.insert(Field::TelephoneGateway, why);
    else
        c.telephoneGateway = gateway;

    // The server's ports are read at the next login.
    const struct
    {
        Field field;
        const QString &text;
        int fallback;
        int low;
        int &target;
    } ports[] = {{Field::EslPort, form.eslPort, 8021, 1, c.eslPort},
                 {Field::SshPort, form.sshPort, 22, 1, c.sshPort},
                 {Field::DbPort, form.dbPort, 0, 0, c.dbPort}};
    for (const auto &port : ports) {
        int value = port.target;
        if (!readNumber(port.text, port.fallback, port.low, 65535, &value, &why))
            errors.insert(port.field, why);
        else
            port.target = value;
    }

    next.storeInto(c);
    const bool restart = !next.changedFrom(previous).isEmpty();
    if (restart) {
        m_agent.Deinit();
        m_restarted = true;
    }
    restartAgent(previous, errors);
    if (!m_agent.isInitialised() || c.externalUA)
        return;

    const QString uri = c.currentLoginAddress;
    if (restart || !m_agent.hasAccount()) {
        if (!uri.isEmpty() && !m_agent.addAccount(uri.toUtf8(), c.currentSipPassword.toUtf8()))
            emit warning(accountFailedText(uri, m_agent.accountError()));
        return;
    }
    if (c.sipTransport != oldTransport)
        m_agent.updateTransportType();
    if (c.sipClientReregistration != oldPeriod)
        m_agent.setRegistrationTimeout(c.sipClientReregistration);
}

void SettingsController::restartAgent(const Network &previous, SettingsErrors &errors)
{
    if (m_agent.Init())
        return;
    const QString error = m_agent.initError();
    // The new network values keep the agent from starting: go back to the
    // ones it ran with, so that the dispatcher stays reachable, and say at
    // each changed field why it was not taken.
    const Network refused = Network::of(m_config);
    const QList<Field> changed = refused.changedFrom(previous);
    if (!changed.isEmpty()) {
        for (Field field : changed)
            errors.insert(field, QStringLiteral("Не применено, SIP не запускается: ") + error);
        previous.storeInto(m_config);
        if (m_agent.Init())
            return;
    }
    emit warning(initFailedText(m_agent.initError()));
}

void SettingsController::storeConferences(const SettingsForm &form, SettingsErrors &errors)
{
    XMLConfig &c = m_config;
    QString why;
    const QString primary =
        form.primaryConferenceId.isEmpty() ? QStringLiteral("0") : form.primaryConferenceId;
    why = conferenceNameError(primary);
    if (why.isEmpty())
        c.primaryConferenceId = primary;
    else
        errors.insert(Field::PrimaryConferenceId, why);
    c.primaryConferenceDisplayName = form.primaryConferenceDisplayName;
    const QString prefix = form.newConferencePrefix.isEmpty() ? defaultPrefix : form.newConferencePrefix;
    // New conferences are named prefix + number.
    why = conferenceNameError(prefix + QLatin1Char('1'));
    if (why.isEmpty())
        c.newConferencePrefix = prefix;
    else
        errors.insert(Field::NewConferencePrefix, why);

    const struct
    {
        Field field;
        const QString &text;
        int fallback;
        int &target;
    } numbers[] = {{Field::CallTimeout, form.callTimeout, 120, c.callTimeout},
                   {Field::DisplayDisconnected, form.displayDisconnected, 5, c.displayDisconnected},
                   {Field::DisplayFailedCalls, form.displayFailedCalls, 5, c.displayFailedCalls},
                   {Field::AlarmDelay, form.alarmDelay, 30, c.alarmDelay}};
    for (const auto &n : numbers) {
        int value = n.target;
        if (readNumber(n.text, n.fallback, 0, 86400 * 7, &value, &why))
            n.target = value;
        else
            errors.insert(n.field, why);
    }
    if (form.switchToConference >= XMLConfig::SwitchManual &&
        form.switchToConference <= XMLConfig::SwitchForced)
        c.switchToConference = form.switchToConference;
}

void SettingsController::storeAudio(const SettingsForm &form, SettingsErrors &errors)
{
    XMLConfig &c = m_config;
    CPJSIPSUA &agent = m_agent; // captured by name: no member access through the closure
    const bool agentUp = agent.isInitialised();
    const auto missing = [](const QString &name) {
        return QStringLiteral("Устройство «%1» не найдено").arg(name);
    };
    // The library's default device is stored as no name, so that the console
    // follows the default when it changes.
    const auto choose = [&](const QString &text, const QByteArray &libraryDefault, QString &stored,
                            Field field, bool (CPJSIPSUA::*select)(const QByteArray &)) {
        const QString name = text.toUtf8() == libraryDefault ? QString() : text;
        if (name == stored)
            return;
        if (agentUp && !(agent.*select)(name.toUtf8()) && !name.isEmpty())
            errors.insert(field, missing(name));
        else
            stored = name;
    };
    choose(form.inputDevice, m_agent.defaultInputDeviceName(), c.inputDeviceName, Field::InputDevice,
           &CPJSIPSUA::setInputDevice);
    choose(form.outputDevice, m_agent.defaultOutputDeviceName(), c.outputDeviceName, Field::OutputDevice,
           &CPJSIPSUA::setOutputDevice);

    const QString oldAlarm = alarmDevice(c);
    const QString system = form.systemDevice == systemDefaultOutputDevice() ? QString() : form.systemDevice;
    if (system != c.systemDeviceName && !system.isEmpty() && !systemOutputDevices().contains(system))
        errors.insert(Field::SystemDevice, missing(system));
    else
        c.systemDeviceName = system;
    c.alarmSound = form.alarmSound;

    c.inputVolume = qBound(0, form.inputVolume, 100);
    c.outputVolume = qBound(0, form.outputVolume, 100);
    c.systemVolume = qBound(0, form.systemVolume, 100);
    if (m_alarm) {
        m_alarm->setVolume(c.systemVolume);
        // A new device restarts decoding; an unchanged one keeps a sounding
        // alarm going.
        if (alarmDevice(c) != oldAlarm || (!c.alarmSound && m_alarm->audioOutput()))
            m_alarm->setAudioDevice(alarmDevice(c));
    }
}

void SettingsController::storeMisc(const SettingsForm &form, SettingsErrors &errors)
{
    XMLConfig &c = m_config;
    QString why = userFileTemplateError(form.userFileTemplate);
    if (why.isEmpty())
        c.userFileTemplate = form.userFileTemplate;
    else
        errors.insert(Field::UserFileTemplate, why);

    c.showLog = form.showLog;
    emit showLogChanged(c.showLog);

    bool ok = false;
    const int size = form.phoneBookFontSize.toInt(&ok);
    c.phoneBookFontSize = ok && size > 0 ? size : 12;
    emit phoneBookFontSizeChanged(c.phoneBookFontSize);

    c.showCursor = form.showCursor;
    c.showNumRegistered = form.showNumRegistered;

    const QStringList users =
        form.warningForUser.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    why = warningUsersError(users);
    if (why.isEmpty()) {
        c.warningUsers = users;
        emit warningUsersChanged(users);
    } else {
        errors.insert(Field::WarningForUser, why);
    }
}

QString SettingsController::alarmDevice(const XMLConfig &config)
{
    if (!config.alarmSound)
        return QString();
    return config.systemDeviceName.isEmpty() ? systemDefaultOutputDevice() : config.systemDeviceName;
}

QStringList SettingsController::systemOutputDevices()
{
    QStringList names;
    const QString preferred = systemDefaultOutputDevice();
    if (!preferred.isEmpty())
        names << preferred;
    for (const QAudioDeviceInfo &device : QAudioDeviceInfo::availableDevices(QAudio::AudioOutput)) {
        if (!names.contains(device.deviceName()))
            names << device.deviceName();
    }
    return names;
}

QString SettingsController::systemDefaultOutputDevice()
{
    const QAudioDeviceInfo device = QAudioDeviceInfo::defaultOutputDevice();
    return device.isNull() ? QString() : device.deviceName();
}

QString SettingsController::filterMediaPort(const QString &text)
{
    QString digits;
    for (QChar ch : text) {
        // Digits of other scripts count as the digits they are.
        if (ch.isDigit())
            digits += QChar(QLatin1Char('0' + ch.digitValue()));
    }
    if (digits.size() > 5 || digits.toInt() > 65535)
        digits.truncate(4);
    return digits;
}

QString SettingsController::conferenceNameError(const QString &name)
{
    QString why;
    return CommandSafety::isConferenceName(name, &why) ? QString() : why;
}

QString SettingsController::userFileTemplateError(const QString &fileTemplate)
{
    if (!fileTemplate.startsWith(QLatin1Char('/')))
        return QStringLiteral("Укажите полный путь, начиная с «/»");
    // Without the placeholder every user would land in one and the same file.
    if (!fileTemplate.contains(QLatin1String("%1")))
        return QStringLiteral("Шаблон должен содержать %1 на месте имени пользователя");
    for (QChar ch : fileTemplate) {
        if (ch.category() == QChar::Other_Control)
            return QStringLiteral("Шаблон содержит управляющий символ");
    }
    if (fileTemplate.contains(QLatin1String("/../")))
        return QStringLiteral("Шаблон не может содержать «/../»");
    return QString();
}

QString SettingsController::warningUsersError(const QStringList &users)
{
    QString why;
    for (const QString &user : users) {
        if (!CommandSafety::isBareArgument(user, &why))
            return why;
    }
    return QString();
}

QString SettingsController::initFailedText(const QString &error)
{
    return QStringLiteral("Ошибка инициализации SIP: %1").arg(error);
}

QString SettingsController::accountFailedText(const QString &uri, const QString &error)
{
    return QStringLiteral("Не удалось подключиться к ") + uri + QStringLiteral(": ") + error;
}
