#pragma once

#include <QHash>
#include <QString>

// What the settings page's editors hold, as the operator left them: texts as
// typed, combo boxes as index and text, boxes and sliders as values. The
// settings controller turns it into configuration and back. Plain value type.
struct SettingsForm
{
    // One per editor, for the messages shown next to it.
    enum class Field {
        SipPort,
        MediaPort,
        CaFile,
        CertFile,
        KeyFile,
        SipTransport,
        SrtpMode,
        Reregistration,
        TelephoneGateway,
        ExternalUA,
        EslPort,
        SshPort,
        DbPort,
        PrimaryConferenceId,
        PrimaryConferenceDisplayName,
        NewConferencePrefix,
        SwitchToConference,
        AlarmDelay,
        CallTimeout,
        DisplayDisconnected,
        DisplayFailedCalls,
        PhoneBookFontSize,
        InputDevice,
        OutputDevice,
        SystemDevice,
        WarningForUser,
        UserFileTemplate,
        AlarmSound,
        // Not an editor: the configuration file itself.
        File,
    };

    // Network
    QString sipPort;
    QString mediaPort;
    QString caFile;
    QString certFile;
    QString keyFile;
    int sipTransport = 0;
    int srtpMode = 0;
    QString reregistration;
    QString telephoneGateway;
    bool externalUA = false;
    QString eslPort;
    QString sshPort;
    QString dbPort;
    // Conferences
    QString primaryConferenceId;
    QString primaryConferenceDisplayName;
    QString newConferencePrefix;
    int switchToConference = -1;
    QString alarmDelay;
    QString callTimeout;
    QString displayDisconnected;
    QString displayFailedCalls;
    // Appearance
    QString phoneBookFontSize;
    bool showLog = true;
    bool showCursor = true;
    bool showNumRegistered = true;
    // Audio: the chosen device's text, empty when nothing is chosen
    QString inputDevice;
    int inputVolume = 100;
    QString outputDevice;
    int outputVolume = 100;
    QString systemDevice;
    int systemVolume = 100;
    // Miscellaneous
    QString warningForUser;
    QString userFileTemplate;
    bool alarmSound = true;
};

inline uint qHash(SettingsForm::Field field, uint seed = 0)
{
    return ::qHash(static_cast<int>(field), seed);
}

// Russian messages for the editors whose value could not be taken.
using SettingsErrors = QHash<SettingsForm::Field, QString>;
