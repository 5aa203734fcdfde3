#include "sip/cpjsipsua.h"

#include "app/logfile.h"
#include "app/xmlconfig.h"
#include "sip/sipaudiodevices.h"

#include <QCoreApplication>
#include <QDebug>
#include <QElapsedTimer>
#include <QThread>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

int currentCallSlot = -1;
int microphoneLevel = 100;
int speakerLevel = 100;

namespace {

// Pace of the core: fast enough for SIP timers and media events.
const int iteratePeriodMs = 20;
// How long a started core may take to come up before the start is given up.
const int startupLimitMs = 10000;
// Calls the server may hold with the dispatcher at once (one per conference
// joined); the library's default of a few would answer the rest with busy.
const int maxCalls = 64;
// Longest wait for the server to confirm the un-REGISTER at logout.
const int unregisterWaitMs = 2000;

LinphoneLoggingServiceCbs *s_loggingCbs = nullptr;
bool s_instanceMade = false;

void loggingServiceWriter(LinphoneLoggingService *, const char *domain, LinphoneLogLevel level,
                          const char *message)
{
    QByteArray line;
    if (domain && *domain)
        line = QByteArray(domain) + ' ';
    line += message ? message : "";
    CPJSIPSUA::libraryLogWriter(level, line.constData(), line.size());
}

QString registrationStateText(LinphoneAccount *account)
{
    const LinphoneErrorInfo *info = linphone_account_get_error_info(account);
    const int code = info ? linphone_error_info_get_protocol_code(info) : 0;
    const char *phrase = info ? linphone_error_info_get_phrase(info) : nullptr;
    if (code > 0 && phrase)
        return QString::fromUtf8(phrase);
    switch (linphone_account_get_state(account)) {
    case LinphoneRegistrationOk:
        return QStringLiteral("OK");
    case LinphoneRegistrationProgress:
        return QStringLiteral("In Progress");
    case LinphoneRegistrationFailed:
        return QStringLiteral("Failed");
    default:
        return QStringLiteral("not registered");
    }
}

} // namespace

CPJSIPSUA::CPJSIPSUA()
{
    m_iterateTimer.setInterval(iteratePeriodMs);
    connect(&m_iterateTimer, &QTimer::timeout, this, [this]() {
        if (m_core)
            linphone_core_iterate(m_core);
        if (m_starting)
            checkStartup();
    });
}

CPJSIPSUA::~CPJSIPSUA()
{
    // At static destruction the debug log may already be gone: the library's
    // farewell lines must not reach it.
    if (m_initialised && s_loggingCbs) {
        linphone_logging_service_remove_callbacks(linphone_logging_service_get(), s_loggingCbs);
        linphone_logging_service_cbs_unref(s_loggingCbs);
        s_loggingCbs = nullptr;
    }
    Deinit();
}

CPJSIPSUA &CPJSIPSUA::instance()
{
    static CPJSIPSUA agent;
    s_instanceMade = true;
    return agent;
}

void CPJSIPSUA::startupLibrary()
{
    LinphoneFactory *factory = linphone_factory_get();
    if (!s_loggingCbs) {
        s_loggingCbs = linphone_factory_create_logging_service_cbs(factory);
        linphone_logging_service_cbs_set_log_message_written(s_loggingCbs, loggingServiceWriter);
        LinphoneLoggingService *service = linphone_logging_service_get();
        linphone_logging_service_add_callbacks(service, s_loggingCbs);
        linphone_logging_service_set_log_level(service, LinphoneLogLevelMessage);
    }
}

void CPJSIPSUA::shutdownLibrary()
{
    // The core must go before the factory that made it.
    if (s_instanceMade)
        instance().Deinit();
    if (s_loggingCbs) {
        linphone_logging_service_remove_callbacks(linphone_logging_service_get(), s_loggingCbs);
        linphone_logging_service_cbs_unref(s_loggingCbs);
        s_loggingCbs = nullptr;
    }
    linphone_factory_clean();
}

void CPJSIPSUA::setDataDirectory(const QString &path)
{
    m_dataDirectory = path;
}

QString CPJSIPSUA::dataDirectory() const
{
    if (!m_dataDirectory.isEmpty())
        return m_dataDirectory;
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) + QStringLiteral("/sip");
}

int CPJSIPSUA::sipPortFor(int configuredPort)
{
    if (configuredPort == 0)
        return 0;
    return configuredPort >= 1 && configuredPort <= 65534 ? configuredPort : 5060;
}

bool CPJSIPSUA::mediaPortApplies(int mediaPort, int sipPort)
{
    return mediaPort >= 1 && mediaPort <= 65525 && mediaPort != sipPort;
}

QByteArray CPJSIPSUA::registrarUriFor(const QByteArray &host, int transport, int port)
{
    const QByteArray hostPort = port > 0 ? QByteArray(host + ':' + QByteArray::number(port)) : host;
    switch (transport) {
    case XMLConfig::TransportUdp:
        return "sip:" + hostPort + ";transport=udp";
    case XMLConfig::TransportTcp:
        return "sip:" + hostPort + ";transport=tcp";
    case XMLConfig::TransportTls:
        return "sips:" + hostPort + ";transport=tls";
    default:
        return "sip:" + hostPort;
    }
}

int CPJSIPSUA::accountCount() const
{
    return m_core ? static_cast<int>(bctbx_list_size(linphone_core_get_account_list(m_core))) : 0;
}

bool CPJSIPSUA::Init()
{
    if (m_initialised)
        return true;

    // The library's lines belong in the debug log even when the program did
    // not route them at start-up.
    startupLibrary();
    const XMLConfig &config = XMLConfig::instance();
    LinphoneFactory *factory = linphone_factory_get();

    // Without a writable data directory the core never reaches its On state
    // and answers every call with 503.
    const QString dir = dataDirectory();
    if (!QDir().mkpath(dir)) {
        m_initError = QStringLiteral("Cannot create PJSIP: cannot create the data directory ") + dir;
        return false;
    }
    // The library appends its file names to these as they are: without the
    // separator its databases would land beside the directory.
    const QByteArray dirPath = QFile::encodeName(QDir(dir).absolutePath() + QLatin1Char('/'));
    linphone_factory_set_data_dir(factory, dirPath.constData());
    linphone_factory_set_config_dir(factory, dirPath.constData());

    // No configuration file: every setting comes from our own configuration,
    // nothing from an earlier run.
    m_core = linphone_factory_create_core_3(factory, nullptr, nullptr, nullptr);
    if (!m_core) {
        m_initError = QStringLiteral("Cannot create PJSIP: the SIP library could not create its core");
        return false;
    }
    m_initialised = true;

    m_coreCbs = linphone_factory_create_core_cbs(factory);
    linphone_core_cbs_set_user_data(m_coreCbs, this);
    linphone_core_cbs_set_call_state_changed(m_coreCbs, &CPJSIPSUA::onCallState);
    linphone_core_cbs_set_account_registration_state_changed(m_coreCbs, &CPJSIPSUA::onRegistrationState);
    linphone_core_add_callbacks(m_core, m_coreCbs);

    applyMediaSettings(config);

    const int port = sipPortFor(config.sipPort);
    m_listeners.prepare(m_core, config, port);

    if (linphone_core_start(m_core) != 0) {
        m_initError = QStringLiteral("Error creating PJSUA instance:the SIP library core did not start");
        destroyCore();
        return false;
    }
    linphone_core_set_network_reachable(m_core, TRUE);
    // The listeners are opened while the core starts, so a busy port is
    // known here already.
    if (!config.externalUA && !m_listeners.check(m_core, port, m_initError)) {
        destroyCore();
        return false;
    }

    const LinphoneAudioDevice *in = linphone_core_get_default_input_audio_device(m_core);
    const LinphoneAudioDevice *out = linphone_core_get_default_output_audio_device(m_core);
    m_libraryDefaultInput = in ? QByteArray(linphone_audio_device_get_id(in)) : QByteArray();
    m_libraryDefaultOutput = out ? QByteArray(linphone_audio_device_get_id(out)) : QByteArray();

    // A restarted core starts on the library's defaults; keep the operator's
    // devices. A device that has gone leaves the default in place.
    if (!config.inputDeviceName.isEmpty() && !setInputDevice(config.inputDeviceName.toUtf8()))
        qInfo() << "CPJSIPSUA::Init(): capture device not found:" << qPrintable(config.inputDeviceName);
    if (!config.outputDeviceName.isEmpty() && !setOutputDevice(config.outputDeviceName.toUtf8()))
        qInfo() << "CPJSIPSUA::Init(): playback device not found:" << qPrintable(config.outputDeviceName);

    // The core comes up while the event loop runs; the caller hears of it by
    // signal, also when it is up already, after Init has returned.
    m_starting = true;
    m_startClock.start();
    m_iterateTimer.start();
    QMetaObject::invokeMethod(this, &CPJSIPSUA::checkStartup, Qt::QueuedConnection);
    return true;
}

void CPJSIPSUA::checkStartup()
{
    if (!m_starting || !m_core)
        return;
    const LinphoneGlobalState state = linphone_core_get_global_state(m_core);
    if (state == LinphoneGlobalOn) {
        m_starting = false;
        emit initialised();
        return;
    }
    const bool stopped = state == LinphoneGlobalOff || state == LinphoneGlobalShutdown;
    if (!stopped && m_startClock.elapsed() < startupLimitMs)
        return;
    m_initError =
        stopped ? QStringLiteral("Error creating PJSUA instance:the SIP library core stopped while starting")
                : QStringLiteral("Error creating PJSUA instance:the SIP library core did not come up "
                                 "within %1 s")
                      .arg(startupLimitMs / 1000);
    Deinit();
    emit initFailed(m_initError);
}

void CPJSIPSUA::applyMediaSettings(const XMLConfig &config)
{
    switch (config.srtpMode) {
    case XMLConfig::SrtpOptional:
        linphone_core_set_media_encryption(m_core, LinphoneMediaEncryptionSRTP);
        linphone_core_set_media_encryption_mandatory(m_core, FALSE);
        break;
    case XMLConfig::SrtpMandatory:
        linphone_core_set_media_encryption(m_core, LinphoneMediaEncryptionSRTP);
        linphone_core_set_media_encryption_mandatory(m_core, TRUE);
        break;
    default:
        linphone_core_set_media_encryption(m_core, LinphoneMediaEncryptionNone);
        linphone_core_set_media_encryption_mandatory(m_core, FALSE);
        break;
    }

    linphone_core_set_user_agent(m_core, "Tesmar", nullptr);
    // Calls are answered at once; a ring tone would only be a click.
    linphone_core_set_ring(m_core, nullptr);
    linphone_core_enable_video_capture(m_core, FALSE);
    linphone_core_enable_video_display(m_core, FALSE);

    // The server calls the dispatcher once per conference joined, possibly
    // from one and the same address, and every such call must stay live both
    // ways. With shared media resources the library keeps each call's own
    // streams on the sound devices instead of holding the older call; the
    // duplicate check would answer a second call from the same address busy.
    linphone_core_set_media_resource_mode(m_core, LinphoneSharedMediaResources);
    linphone_core_set_max_calls(m_core, maxCalls);
    // The library's echo canceller runs per call against that call's far
    // side only, while the loudspeaker plays the mix of all calls: measured,
    // it cut the dispatcher's voice to a fifth and garbled a remaining call's
    // audio once another call had ended.
    linphone_core_enable_echo_cancellation(m_core, FALSE);
    linphone_config_set_int(linphone_core_get_config(m_core), "sip", "reject_duplicated_calls", 0);
    // The library's RTP port is one fixed port; a configured one is taken
    // from the start, not only with the account, so that calls answered
    // without an account (or before it is added) use it too.
    if (mediaPortApplies(config.mediaPort, config.sipPort))
        linphone_core_set_audio_port(m_core, config.mediaPort);
}

void CPJSIPSUA::destroyCore()
{
    m_iterateTimer.stop();
    m_starting = false;
    m_calls.clear();
    currentCallSlot = -1;
    if (m_core) {
        if (m_coreCbs)
            linphone_core_remove_callbacks(m_core, m_coreCbs);
        if (linphone_core_get_global_state(m_core) == LinphoneGlobalOn)
            linphone_core_stop(m_core);
        linphone_core_unref(m_core);
        m_core = nullptr;
    }
    if (m_coreCbs) {
        linphone_core_cbs_unref(m_coreCbs);
        m_coreCbs = nullptr;
    }
    m_initialised = false;
}

bool CPJSIPSUA::Deinit()
{
    if (!m_initialised)
        return false;
    stopSoundTest();
    if (m_account)
        unregisterAccount();
    m_listeners.clear();
    m_accountId.clear();
    m_registrarUri.clear();
    m_realm.clear();
    m_userName.clear();
    m_password.clear();
    destroyCore();
    return true;
}

void CPJSIPSUA::unregisterAccount()
{
    // Removing the account sends the un-REGISTER, but only the core's next iterations carry
    // it out (with a fresh digest challenge on the way); a core stopped at once leaves the
    // server calling a console that is gone until the binding expires. Logout waits for it
    // briefly and keeps the event loop turning meanwhile, so the window does not freeze.
    LinphoneAccount *account = linphone_account_ref(m_account);
    const bool registered = linphone_account_get_state(account) == LinphoneRegistrationOk;
    removeAccount(m_account);
    QElapsedTimer clock;
    clock.start();
    while (registered && clock.elapsed() < unregisterWaitMs) {
        const LinphoneRegistrationState state = linphone_account_get_state(account);
        if (state == LinphoneRegistrationCleared || state == LinphoneRegistrationFailed ||
            state == LinphoneRegistrationNone)
            break;
        linphone_core_iterate(m_core);
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
        QThread::msleep(5);
    }
    if (registered && clock.elapsed() >= unregisterWaitMs)
        qWarning() << "CPJSIPSUA::Deinit(): the server did not confirm the unregistration in"
                   << unregisterWaitMs << "ms";
    linphone_account_unref(account);
}

void CPJSIPSUA::removeAccount(LinphoneAccount *account)
{
    linphone_account_set_user_data(account, nullptr);
    linphone_core_remove_account(m_core, account);
    if (account == m_account) {
        linphone_account_unref(m_account);
        m_account = nullptr;
    }
}

bool CPJSIPSUA::addAccount(const QByteArray &uri, const QByteArray &password)
{
    if (uri.isEmpty())
        return false;
    QString user, host;
    int port = 0;
    if (!parseUri(QString::fromUtf8(uri), user, host, port))
        return false;

    const XMLConfig &config = XMLConfig::instance();
    m_accountId = "sip:" + user.toUtf8() + '@' + host.toUtf8();
    m_registrarUri = registrarUriFor(host.toUtf8(), config.sipTransport, m_registrarPort);
    m_realm = host.toUtf8();
    m_userName = user.toUtf8();
    m_password = password;

    if (!m_core) {
        m_accountError = QStringLiteral("Error creating PJSUA account:the SIP user agent is not running");
        return false;
    }

    // A second login with the same address (every settings save) replaces
    // the first account rather than registering the same contact twice. An
    // account of another address stays with the library, as before.
    if (m_account) {
        linphone_account_unref(m_account);
        m_account = nullptr;
    }
    for (const bctbx_list_t *it = linphone_core_get_account_list(m_core); it;) {
        auto *account = static_cast<LinphoneAccount *>(bctbx_list_get_data(it));
        it = bctbx_list_next(it);
        const LinphoneAddress *identity =
            linphone_account_params_get_identity_address(linphone_account_get_params(account));
        char *text = identity ? linphone_address_as_string_uri_only(identity) : nullptr;
        const bool same = text && m_accountId == text;
        bctbx_free(text);
        if (same)
            removeAccount(account);
    }

    LinphoneFactory *factory = linphone_factory_get();
    LinphoneAuthInfo *auth =
        linphone_factory_create_auth_info_2(factory, m_userName.constData(), nullptr, m_password.constData(),
                                            nullptr, m_realm.constData(), m_realm.constData(), nullptr);
    linphone_core_add_auth_info(m_core, auth);
    linphone_auth_info_unref(auth);

    if (mediaPortApplies(config.mediaPort, config.sipPort))
        linphone_core_set_audio_port(m_core, config.mediaPort);

    LinphoneAccountParams *params = linphone_core_create_account_params(m_core);
    LinphoneAddress *identity = linphone_address_new(m_accountId.constData());
    int status = identity ? linphone_account_params_set_identity_address(params, identity) : -1;
    if (identity)
        linphone_address_unref(identity);
    if (status == 0)
        status = linphone_account_params_set_server_addr(params, m_registrarUri.constData());
    linphone_account_params_set_expires(params, config.sipClientReregistration);
    linphone_account_params_set_register_enabled(params, TRUE);

    LinphoneAccount *account = status == 0 ? linphone_core_create_account(m_core, params) : nullptr;
    linphone_account_params_unref(params);
    if (account) {
        linphone_account_set_user_data(account, this);
        status = linphone_core_add_account(m_core, account);
    } else {
        status = -1;
    }
    if (status != 0) {
        if (account)
            linphone_account_unref(account);
        // The library gives no reason beyond refusing.
        m_accountError = QStringLiteral("Error creating PJSUA account:the SIP library refused the account ") +
                         QString::fromUtf8(m_accountId);
        return false;
    }
    linphone_core_set_default_account(m_core, account);
    m_account = account;

    const LinphoneErrorInfo *info = linphone_account_get_error_info(account);
    const int code = info ? linphone_error_info_get_protocol_code(info) : 0;
    m_accountError = registrationStateText(account);
    if (code >= 400) {
        removeAccount(account);
        return false;
    }
    return true;
}

void CPJSIPSUA::updateTransportType()
{
    QString user, host;
    int port = 0;
    if (!parseUri(QString::fromUtf8(m_registrarUri), user, host, port)) {
        qCritical() << "CPJSIPSUA::updateTransportType(): cannot parse current registration URI";
        return;
    }
    m_registrarUri = registrarUriFor(host.toUtf8(), XMLConfig::instance().sipTransport, m_registrarPort);
    if (!m_account) {
        qCritical() << "CPJSIPSUA::updateTransportType():"
                    << "no account";
        return;
    }
    LinphoneAccountParams *params = linphone_account_params_clone(linphone_account_get_params(m_account));
    int status = linphone_account_params_set_server_addr(params, m_registrarUri.constData());
    if (status == 0)
        status = linphone_account_set_params(m_account, params);
    linphone_account_params_unref(params);
    if (status != 0)
        qCritical() << "CPJSIPSUA::updateTransportType():"
                    << "the SIP library refused registrar" << m_registrarUri.constData();
}

bool CPJSIPSUA::setRegistrationTimeout(int seconds)
{
    if (!m_account || seconds <= 0)
        return false;
    LinphoneAccountParams *params = linphone_account_params_clone(linphone_account_get_params(m_account));
    linphone_account_params_set_expires(params, seconds);
    const int status = linphone_account_set_params(m_account, params);
    linphone_account_params_unref(params);
    return status == 0;
}

int CPJSIPSUA::registrationTimeout() const
{
    return m_account ? linphone_account_params_get_expires(linphone_account_get_params(m_account)) : -1;
}

bool CPJSIPSUA::parseUri(const QString &uri, QString &user, QString &host, int &port)
{
    const QByteArray text = uri.toUtf8();
    LinphoneAddress *address = linphone_address_new(text.constData());
    if (!address)
        address = linphone_address_new(QByteArray("sip:" + text).constData());
    if (!address)
        return false;
    const char *scheme = linphone_address_get_scheme(address);
    const bool sip = scheme && (qstrcmp(scheme, "sip") == 0 || qstrcmp(scheme, "sips") == 0);
    const char *domain = linphone_address_get_domain(address);
    if (sip && domain) {
        const char *name = linphone_address_get_username(address);
        user = QString::fromUtf8(name ? name : "");
        host = QString::fromUtf8(domain);
        port = linphone_address_get_port(address);
    }
    linphone_address_unref(address);
    return sip && domain;
}

bool CPJSIPSUA::setMicrophoneLevel(unsigned percent)
{
    if (!m_initialised || percent > 100)
        return false;
    microphoneLevel = static_cast<int>(percent);
    applyMicrophoneLevel();
    return true;
}

bool CPJSIPSUA::setSpeakerLevel(unsigned percent)
{
    if (!m_initialised || percent > 100)
        return false;
    speakerLevel = static_cast<int>(percent);
    applySpeakerLevel();
    return true;
}

// Levels are linear factors; the library takes them in its decibels, and 0
// as a mute since no decibel value silences. The core-wide gain is what the library
// gives streams it starts or unmutes later; each running call gets it at once.
void CPJSIPSUA::applySpeakerLevel()
{
    const int level = speakerLevel;
    if (!m_core || level < 0 || level > 100)
        return;
    if (level > 0)
        linphone_core_set_playback_gain_db(m_core, SipCallSet::decibels(level));
    m_calls.applySpeakerLevel(level);
}

void CPJSIPSUA::applyMicrophoneLevel()
{
    const int level = microphoneLevel;
    if (!m_core || level < 0 || level > 100)
        return;
    if (level > 0)
        linphone_core_set_mic_gain_db(m_core, SipCallSet::decibels(level));
    m_calls.applyMicrophoneLevel(level);
}

float CPJSIPSUA::activeSpeakerGain() const
{
    return m_calls.speakerGain();
}

float CPJSIPSUA::activeMicrophoneGain() const
{
    return m_calls.microphoneGain();
}

int CPJSIPSUA::transportPort(Transport transport) const
{
    switch (transport) {
    case Transport::Udp:
        return SipListeners::port(m_core, SipListeners::Protocol::Udp);
    case Transport::Tcp:
        return SipListeners::port(m_core, SipListeners::Protocol::Tcp);
    case Transport::Tls:
        break;
    }
    return SipListeners::port(m_core, SipListeners::Protocol::Tls);
}

int CPJSIPSUA::audioPort() const
{
    return m_core ? linphone_core_get_audio_port(m_core) : -1;
}

void CPJSIPSUA::onCallState(LinphoneCore *core, LinphoneCall *call, LinphoneCallState state, const char *)
{
    auto *self =
        static_cast<CPJSIPSUA *>(linphone_core_cbs_get_user_data(linphone_core_get_current_callbacks(core)));
    if (self)
        self->callStateChanged(call, state);
}

void CPJSIPSUA::callStateChanged(LinphoneCall *call, LinphoneCallState state)
{
    if (!linphone_call_get_user_data(call))
        linphone_call_set_user_data(call,
                                    reinterpret_cast<void *>(static_cast<intptr_t>(m_nextCallHandle++)));
    const int handle = static_cast<int>(reinterpret_cast<intptr_t>(linphone_call_get_user_data(call)));

    switch (state) {
    case LinphoneCallStateIncomingReceived:
        if (linphone_call_accept(call) != 0)
            qWarning() << "CPJSIPSUA::on_incoming_call(): cannot answer call" << handle;
        break;
    case LinphoneCallStateStreamsRunning:
        callMediaActive(call);
        break;
    case LinphoneCallStateEnd:
    case LinphoneCallStateError:
    case LinphoneCallStateReleased:
        // The other calls go on as they are; the newest of them becomes
        // the one levels are reported for.
        if (m_calls.remove(call)) {
            LinphoneCall *current = m_calls.current();
            currentCallSlot =
                current ? static_cast<int>(reinterpret_cast<intptr_t>(linphone_call_get_user_data(current)))
                        : -1;
        }
        break;
    default:
        break;
    }
}

void CPJSIPSUA::callMediaActive(LinphoneCall *call)
{
    m_calls.add(call);
    currentCallSlot = static_cast<int>(reinterpret_cast<intptr_t>(linphone_call_get_user_data(call)));
    if (speakerLevel <= 100)
        applySpeakerLevel();
    if (microphoneLevel <= 100)
        applyMicrophoneLevel();
}

void CPJSIPSUA::onRegistrationState(LinphoneCore *, LinphoneAccount *account, LinphoneRegistrationState state,
                                    const char *)
{
    if (state != LinphoneRegistrationOk && state != LinphoneRegistrationFailed)
        return;
    auto *self = static_cast<CPJSIPSUA *>(linphone_account_get_user_data(account));
    if (!self) {
        qWarning() << "CPJSIPSUA::on_reg_state2(): cannot get user agent object";
        return;
    }
    self->registrationStateChanged(account, state);
}

void CPJSIPSUA::registrationStateChanged(LinphoneAccount *account, LinphoneRegistrationState state)
{
    const LinphoneErrorInfo *info = linphone_account_get_error_info(account);
    if (!info) {
        qWarning() << "CPJSIPSUA::on_reg_state2(): no registration data in callback";
        return;
    }
    const int code = linphone_error_info_get_protocol_code(info);
    const LinphoneReason reason = linphone_error_info_get_reason(info);
    const char *phrase = linphone_error_info_get_phrase(info);
    if (state == LinphoneRegistrationOk) {
        emit registrationOK();
        return;
    }
    // Failures the library met on its own (no answer, broken connection)
    // are not the server's verdict.
    if (code <= 0 || reason == LinphoneReasonIOError || reason == LinphoneReasonNoResponse) {
        qCritical() << "CPJSIPSUA::on_reg_state2(): SIP registration error:"
                    << (phrase ? phrase : linphone_reason_to_string(reason));
        return;
    }
    if (code >= 400 && code <= 499) {
        const QString text = QStringLiteral("%1 %2").arg(code).arg(QString::fromUtf8(phrase ? phrase : ""));
        qWarning() << "CPJSIPSUA::on_reg_state2(): SIP registration failed:" << qPrintable(text);
        emit registrationError(text);
    }
}

bool CPJSIPSUA::inputDevices(QList<QByteArray> &list) const
{
    return SipAudioDevices::list(m_core, LinphoneAudioDeviceCapabilityRecord, list);
}

bool CPJSIPSUA::outputDevices(QList<QByteArray> &list) const
{
    return SipAudioDevices::list(m_core, LinphoneAudioDeviceCapabilityPlay, list);
}

QByteArray CPJSIPSUA::defaultInputDeviceName() const
{
    return m_core ? m_libraryDefaultInput : QByteArray();
}

QByteArray CPJSIPSUA::defaultOutputDeviceName() const
{
    return m_core ? m_libraryDefaultOutput : QByteArray();
}

QByteArray CPJSIPSUA::currentInputDeviceName() const
{
    return SipAudioDevices::current(m_core, false);
}

QByteArray CPJSIPSUA::currentOutputDeviceName() const
{
    return SipAudioDevices::current(m_core, true);
}

bool CPJSIPSUA::setInputDevice(const QByteArray &name)
{
    if (!m_initialised)
        return false;
    const QByteArray id = name.isEmpty()
                              ? m_libraryDefaultInput
                              : SipAudioDevices::find(m_core, name, LinphoneAudioDeviceCapabilityRecord);
    return !id.isEmpty() && SipAudioDevices::select(m_core, id, false, m_calls);
}

bool CPJSIPSUA::setOutputDevice(const QByteArray &name)
{
    if (!m_initialised)
        return false;
    const QByteArray id = name.isEmpty()
                              ? m_libraryDefaultOutput
                              : SipAudioDevices::find(m_core, name, LinphoneAudioDeviceCapabilityPlay);
    return !id.isEmpty() && SipAudioDevices::select(m_core, id, true, m_calls);
}

void CPJSIPSUA::startSoundTest(const QByteArray &name)
{
    // Any direction: the first device of that name, as the settings page lists it.
    m_soundTest.start(m_core, SipAudioDevices::find(m_core, name, 0), dataDirectory());
}

void CPJSIPSUA::stopSoundTest()
{
    m_soundTest.stop();
}

void CPJSIPSUA::libraryLogWriter(int level, const char *data, int length)
{
    if (!data || length <= 0)
        return;
    const int size = static_cast<int>(qstrnlen(data, static_cast<uint>(length)));
    QString text = QString::fromLocal8Bit(data, size);
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);

    int mapped = DEBUG;
    if (level & (LinphoneLogLevelError | LinphoneLogLevelFatal))
        mapped = ERROR;
    else if (level & LinphoneLogLevelWarning)
        mapped = WARNING;
    else if (level & LinphoneLogLevelMessage)
        mapped = INFO;
    LogFile::debugLog().write(mapped, text);
}
