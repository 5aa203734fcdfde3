#pragma once

#include "ui/settingsform.h"

#include <QObject>
#include <QStringList>

#include <functional>

class CPJSIPSUA;
class ErrorPanel;
class XMLConfig;

// The settings page's logic without its widgets: reads the configuration into
// a form, and on save checks every field, stores what it can take, writes the
// file and applies each change to the running parts (the SIP agent, the alarm
// of the error panel, and through signals the models and views of the window).
// A value that cannot be applied (a port in use, a missing file or device, a
// text unsafe for the server) is refused with a Russian message for its field;
// the configuration keeps the old value there and everything else is applied.
// Owned by the settings page; GUI thread.
class SettingsController final : public QObject
{
    Q_OBJECT

public:
    // alarm may be null: no alarm is applied then.
    SettingsController(XMLConfig &config, CPJSIPSUA &agent, ErrorPanel *alarm, QObject *parent = nullptr);

    // The form as the configuration has it: numbers 0 as empty texts, devices
    // as their stored names (empty: the default device).
    SettingsForm load() const;

    // Stores, saves and applies the form. Returns the fields refused, with
    // their messages; empty when everything was taken.
    SettingsErrors save(const SettingsForm &form);

    // Replaces the plain file write of save(): the window passes its own,
    // which also keeps a failure visible in the error panel. It returns
    // whether the file was written; the configuration's saveError() says why not.
    void setFileWriter(std::function<bool()> write) { m_writeFile = std::move(write); }

    // Whether the last save restarted the SIP agent (for diagnostics and tests).
    bool agentRestarted() const { return m_restarted; }

    // The name the alarm of the error panel plays on for the configuration:
    // the stored system sound device, the system's default output when none
    // is stored, empty (no alarm) when the alarm sound is off.
    static QString alarmDevice(const XMLConfig &config);
    // The system's audio outputs by name, without repeats, default first.
    static QStringList systemOutputDevices();
    static QString systemDefaultOutputDevice();

    // The media-port editor's filter: numbers above 65535 are cut to their
    // first four characters, anything else loses every non-digit.
    static QString filterMediaPort(const QString &text);

    // Field texts that reach server commands or a server path; empty when safe,
    // else the message for the operator.
    static QString conferenceNameError(const QString &name);
    static QString userFileTemplateError(const QString &fileTemplate);
    static QString warningUsersError(const QStringList &users);

    // Messages for the operator.
    static QString initFailedText(const QString &error);
    static QString accountFailedText(const QString &uri, const QString &error);

signals:
    // A message box for the operator, as the running parts report it.
    void warning(QString text);
    // The file was written: the models re-read what they use.
    void configChanged();
    // The primary conference or the mode may have changed: apply the
    // dispatcher's conference policy again.
    void conferencePolicyChanged();
    void showLogChanged(bool show);
    void phoneBookFontSizeChanged(int points);
    void warningUsersChanged(QStringList users);

private:
    struct Network;
    void storeNetwork(const SettingsForm &form, SettingsErrors &errors);
    void restartAgent(const Network &previous, SettingsErrors &errors);
    void storeConferences(const SettingsForm &form, SettingsErrors &errors);
    void storeAudio(const SettingsForm &form, SettingsErrors &errors);
    void storeMisc(const SettingsForm &form, SettingsErrors &errors);

    XMLConfig &m_config;
    CPJSIPSUA &m_agent;
    ErrorPanel *m_alarm;
    std::function<bool()> m_writeFile;
    bool m_restarted = false;
};
