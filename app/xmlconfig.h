#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class QXmlStreamReader;

// Every persistent setting of the console plus the values of the current login.
// One process-wide instance (XMLConfig::instance()), read and written directly by
// the GUI thread; loaded once at start-up and written back whole.
class XMLConfig
{
public:
    // Values of Conference/SwitchToConference.
    enum SwitchMode { SwitchManual = 0, SwitchAuto = 1, SwitchPermanent = 2, SwitchForced = 3 };
    // Values of Connection/SIPTransport.
    enum Transport { TransportUdp = 0, TransportTcp = 1, TransportTls = 2 };
    // Values of Connection/SRTPMode.
    enum SrtpMode { SrtpDisabled = 0, SrtpOptional = 1, SrtpMandatory = 2 };

    struct UserEntry
    {
        QString sipUri;
        bool autoStart = false;
        QString password;
    };

    // The path defaults to defaultFilePath(); tests pass their own.
    XMLConfig();
    explicit XMLConfig(const QString &filePath);
    virtual ~XMLConfig();

    // The process-wide instance.
    static XMLConfig &instance();

    // "TesmarDispatcher.xml" in the first existing configuration directory; when none is
    // writable, the user's own (~/.config) is created first and normally becomes that directory.
    static QString defaultFilePath();

    bool load();
    // False when the file cannot be written; the failure is then in the main log and in
    // saveError(), for the operator's error panel.
    bool save();
    // The operator-level text of the last failed save ("" after a successful one).
    QString saveError() const { return m_saveError; }
    void clearCurrentLogin();

    // LastStart
    int loginDialogScreen = -1;
    int loginDialogX = 0;
    int loginDialogY = 0;
    int mainWindowX = 0;
    int mainWindowY = 0;
    int mainWindowWidth = 0;
    int mainWindowHeight = 0;
    int mainWindowState = -1;

    QList<UserEntry> users;

    // Current login, never stored.
    QString currentLoginAddress; // user@host
    QString currentLoginUser;
    QString currentServerHost; // also the directory domain
    QString currentSipPassword;
    QString currentEslPassword;

    QStringList warningUsers;
    QStringList pstnDialHistory;

    // Connection
    QString telephoneGateway = QStringLiteral("pstn");
    int alarmDelay = 30;
    int callTimeout = 120;
    // Conference
    int displayDisconnected = 5;
    int displayFailedCalls = 5;
    // Connection
    int sipClientReregistration = 3600;
    int mediaPort = 0;
    bool externalUA = false;
    bool bindAddressAuto = true;
    QString bindAddress;
    int sipPort = 0;
    int sipTransport = TransportUdp;
    int srtpMode = SrtpDisabled;
    QString caFile;
    QString certFile;
    QString keyFile;
    // Real sites move these off their standard ports; 0 for the database means
    // the client library's default.
    int eslPort = 8021;
    int sshPort = 22;
    int dbPort = 0;
    // Conference
    QString primaryConferenceDisplayName;
    QString newConferencePrefix = QStringLiteral("конференция-");
    // Users
    QString userFileTemplate = QStringLiteral("/etc/freeswitch/directory/default/%1.xml");
    // Conference
    QString primaryConferenceId = QStringLiteral("0");
    int switchToConference = SwitchAuto;
    // Environment / Mixer
    bool showLog = true;
    bool showCursor = true;
    bool showNumRegistered = true;
    bool alarmSound = true;
    QString inputDeviceName;
    int inputVolume = 100;
    QString outputDeviceName;
    int outputVolume = 100;
    QString systemDeviceName;
    int systemVolume = 100;
    QString phoneBookPath = QStringLiteral("phonebook.txt");
    int phoneBookFontSize = 14;

    bool fileLoaded = false;
    QString filePath;

private:
    bool writeFile();

    QString m_saveError;
};
