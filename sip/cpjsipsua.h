#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <linphone/core.h>

#include "sip/sipcallset.h"
#include "sip/siplisteners.h"
#include "sip/soundtestplayer.h"

class XMLConfig;

// Levels shared with the call handling: the handle of the newest call whose
// media runs (-1 when none runs) and the remembered microphone and speaker
// levels in percent, which apply to every running call.
extern int currentCallSlot;
extern int microphoneLevel;
extern int speakerLevel;

// The console's own SIP endpoint: registers the dispatcher's account at the
// telephony server, answers every incoming call at once and keeps all answered
// calls connected to the selected sound devices together (the dispatcher hears
// them mixed and speaks into each) with the dispatcher's levels, and plays the
// test sound. A thin owner of one liblinphone core.
//
// One process-wide instance (instance()), no parent. It lives on the GUI thread:
// the core is driven by a 20 ms timer on that thread, so the library's callbacks
// and all signals arrive there too.
//
// Init() creates and starts the core without waiting for it: false at once for
// a failure it can see (initError()), else true and later initialised() or
// initFailed(). Accounts, levels and devices may be set as soon as Init()
// returned true.
class CPJSIPSUA final : public QObject
{
    Q_OBJECT

public:
    // SIP listeners of the core, for transportPort().
    enum class Transport { Udp, Tcp, Tls };

    CPJSIPSUA();
    ~CPJSIPSUA() override;

    static CPJSIPSUA &instance();

    // Process start and end: route the library's log to the debug log, and
    // release the library's process-wide state.
    static void startupLibrary();
    static void shutdownLibrary();

    // Where the core keeps its files; defaults to "sip" under the user's data
    // location. Takes effect at the next Init.
    void setDataDirectory(const QString &path);
    QString dataDirectory() const;

    bool Init();
    bool Deinit();
    bool isInitialised() const { return m_initialised; }
    // The core has come up (initialised() was or is about to be emitted).
    bool isReady() const { return m_initialised && !m_starting; }

    bool addAccount(const QByteArray &uri, const QByteArray &password);
    void updateTransportType();
    bool setRegistrationTimeout(int seconds);
    bool parseUri(const QString &uri, QString &user, QString &host, int &port);

    bool setMicrophoneLevel(unsigned percent);
    bool setSpeakerLevel(unsigned percent);

    bool setInputDevice(const QByteArray &name);
    bool setOutputDevice(const QByteArray &name);
    QByteArray defaultInputDeviceName() const;
    QByteArray defaultOutputDeviceName() const;
    bool inputDevices(QList<QByteArray> &list) const;
    bool outputDevices(QList<QByteArray> &list) const;
    // The devices calls currently use, as the library reports them.
    QByteArray currentInputDeviceName() const;
    QByteArray currentOutputDeviceName() const;

    void startSoundTest(const QByteArray &name);
    void stopSoundTest();
    bool soundTestRunning() const { return m_soundTest.isPlaying(); }

    QString initError() const { return m_initError; }
    QString accountError() const { return m_accountError; }

    // The account as configured, and what the core actually listens on; for
    // the settings pages and diagnostics.
    bool hasAccount() const { return m_account != nullptr; }
    QByteArray accountId() const { return m_accountId; }
    QByteArray registrarUri() const { return m_registrarUri; }
    int registrationTimeout() const;
    int transportPort(Transport transport) const;
    int audioPort() const;
    // Gains the media streams of the newest running call apply (linear, 0
    // when muted); -1 when no call media runs.
    float activeSpeakerGain() const;
    float activeMicrophoneGain() const;
    // What the newest running call hears from the server, in dBm0 (-120: nothing).
    float activeReceivedLevel() const { return m_calls.receivedLevel(); }
    // Calls whose media runs.
    int activeCallCount() const { return m_calls.count(); }

    // Configuration rules.
    static int sipPortFor(int configuredPort);
    static bool mediaPortApplies(int mediaPort, int sipPort);
    static QByteArray registrarUriFor(const QByteArray &host, int transport, int port = 0);

    // Port the registrar URI names; 0 (the default) leaves the scheme's
    // standard port, where the telephony server listens. For test rigs.
    void setRegistrarPort(int port) { m_registrarPort = port; }
    // Accounts the library holds.
    int accountCount() const;

    // Writes one library log line to the debug log: level mapped (error,
    // warning, info, debug), a leading time stamp and one trailing line feed
    // removed. Called by the library on any thread.
    static void libraryLogWriter(int level, const char *data, int length);

signals:
    void registrationOK();
    void registrationError(QString error);
    void initialised();
    void initFailed(QString error);

private:
    static void onCallState(LinphoneCore *core, LinphoneCall *call, LinphoneCallState state,
                            const char *message);
    static void onRegistrationState(LinphoneCore *core, LinphoneAccount *account,
                                    LinphoneRegistrationState state, const char *message);

    void checkStartup();
    void callStateChanged(LinphoneCall *call, LinphoneCallState state);
    void callMediaActive(LinphoneCall *call);
    void registrationStateChanged(LinphoneAccount *account, LinphoneRegistrationState state);
    void applySpeakerLevel();
    void applyMicrophoneLevel();
    void applyMediaSettings(const XMLConfig &config);
    void destroyCore();
    void removeAccount(LinphoneAccount *account);
    void unregisterAccount();

    bool m_initialised = false;
    // Between a successful Init() and the core's coming up.
    bool m_starting = false;
    QElapsedTimer m_startClock;
    LinphoneCore *m_core = nullptr;
    LinphoneCoreCbs *m_coreCbs = nullptr;
    QTimer m_iterateTimer;
    QString m_dataDirectory;

    SipListeners m_listeners;

    LinphoneAccount *m_account = nullptr;
    QByteArray m_accountId;
    QByteArray m_registrarUri;
    int m_registrarPort = 0;
    QByteArray m_realm;
    QByteArray m_userName;
    QByteArray m_password;

    SipCallSet m_calls;
    int m_nextCallHandle = 1;

    // Library defaults read right after start, before any selection.
    QByteArray m_libraryDefaultInput;
    QByteArray m_libraryDefaultOutput;

    SoundTestPlayer m_soundTest;

    QString m_initError;
    QString m_accountError;
};
