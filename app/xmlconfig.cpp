#include "app/xmlconfig.h"

#include "app/logfile.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <algorithm>
#include <optional>

namespace {

const char *const kFileName = "TesmarDispatcher.xml";
const int kMinReregistration = 120;

QString firstConfigDirectory()
{
    // locate() returns the first existing configuration directory with a trailing '/'.
    return QStandardPaths::locate(QStandardPaths::ConfigLocation, QString(), QStandardPaths::LocateDirectory);
}

const char *const kSwitchKeywords[] = {"manual", "auto", "permanent", "forced"};

QString switchKeyword(int mode)
{
    if (mode < 0 || mode > 3)
        mode = XMLConfig::SwitchAuto;
    return QLatin1String(kSwitchKeywords[mode]);
}

QString boolText(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

QString number(int value)
{
    return QString::number(value);
}

// The text of the element just started, or nothing when it is empty. Nested
// markup is skipped; the reader stops on the element's end tag.
std::optional<QString> readValue(QXmlStreamReader &reader)
{
    reader.readNext();
    if (reader.isEndElement())
        return std::nullopt;
    QString text;
    for (;;) {
        if (reader.isCharacters())
            text += reader.text();
        else if (reader.isStartElement())
            reader.skipCurrentElement();
        else if (reader.isEndElement() || reader.atEnd())
            break;
        reader.readNext();
    }
    return text;
}

void readBool(QXmlStreamReader &reader, bool &field)
{
    if (const auto text = readValue(reader))
        field = *text == QLatin1String("true");
}

void readInt(QXmlStreamReader &reader, int &field)
{
    if (const auto text = readValue(reader))
        field = text->toInt(nullptr, 10);
}

void readString(QXmlStreamReader &reader, QString &field)
{
    if (const auto text = readValue(reader))
        field = *text;
}

int intAttribute(const QXmlStreamAttributes &attributes, const char *name, int fallback)
{
    bool ok = false;
    const int value = attributes.value(QLatin1String(name)).toInt(&ok, 10);
    return ok ? value : fallback;
}

void readDevice(QXmlStreamReader &reader, const char *nameKey, const char *volumeKey, QString &name,
                int &volume)
{
    const QXmlStreamAttributes attributes = reader.attributes();
    if (attributes.hasAttribute(QLatin1String(nameKey)))
        name = attributes.value(QLatin1String(nameKey)).toString();
    bool ok = false;
    const int value = attributes.value(QLatin1String(volumeKey)).toInt(&ok, 10);
    if (ok)
        volume = value;
    reader.skipCurrentElement();
}

// Walks the children of the current section; `child` handles one start element
// and returns false when the element is to be skipped: an unknown name, or one
// read from its attributes alone.
template <typename Handler>
void readSection(QXmlStreamReader &reader, Handler child)
{
    const QString section = reader.name().toString();
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isEndElement() && reader.name() == section)
            return;
        if (reader.isStartElement() && !child(reader.name()))
            reader.skipCurrentElement();
    }
}

void readLastStart(QXmlStreamReader &reader, XMLConfig &c)
{
    readSection(reader, [&](const QStringRef &name) {
        const QXmlStreamAttributes a = reader.attributes();
        if (name == QLatin1String("LoginDialog")) {
            c.loginDialogScreen = intAttribute(a, "MonitorID", -1);
            c.loginDialogX = intAttribute(a, "xPos", 0);
            c.loginDialogY = intAttribute(a, "yPos", 0);
        } else if (name == QLatin1String("MainWindow")) {
            c.mainWindowState = intAttribute(a, "WindowState", -1);
            c.mainWindowX = intAttribute(a, "xPos", 0);
            c.mainWindowY = intAttribute(a, "yPos", 0);
            c.mainWindowWidth = intAttribute(a, "WWindow", 0);
            c.mainWindowHeight = intAttribute(a, "HWindow", 0);
        }
        return false;
    });
}

void readEnvironment(QXmlStreamReader &reader, XMLConfig &c)
{
    readSection(reader, [&](const QStringRef &name) {
        if (name == QLatin1String("ShowLog"))
            readBool(reader, c.showLog);
        else if (name == QLatin1String("ShowCursor"))
            readBool(reader, c.showCursor);
        else if (name == QLatin1String("ShowNumRegistered"))
            readBool(reader, c.showNumRegistered);
        else if (name == QLatin1String("PhoneBookPath"))
            readString(reader, c.phoneBookPath);
        else if (name == QLatin1String("PhoneBookFontSize"))
            readInt(reader, c.phoneBookFontSize);
        else
            return false;
        return true;
    });
}

void readConnection(QXmlStreamReader &reader, XMLConfig &c)
{
    readSection(reader, [&](const QStringRef &name) {
        if (name == QLatin1String("TelephoneGateway")) {
            readString(reader, c.telephoneGateway);
        } else if (name == QLatin1String("AlarmDelay")) {
            readInt(reader, c.alarmDelay);
        } else if (name == QLatin1String("CallTimeout")) {
            readInt(reader, c.callTimeout);
        } else if (name == QLatin1String("SIPClientReregistration")) {
            readInt(reader, c.sipClientReregistration);
            c.sipClientReregistration = std::max(c.sipClientReregistration, kMinReregistration);
        } else if (name == QLatin1String("MediaPort")) {
            readInt(reader, c.mediaPort);
        } else if (name == QLatin1String("ExternalUA")) {
            readBool(reader, c.externalUA);
        } else if (name == QLatin1String("BindAddress")) {
            const QXmlStreamAttributes a = reader.attributes();
            c.bindAddressAuto = a.value(QLatin1String("Auto")) == QLatin1String("true");
            if (!c.bindAddressAuto)
                c.bindAddress = a.value(QLatin1String("Address")).toString();
            return false;
        } else if (name == QLatin1String("SIPPort")) {
            readInt(reader, c.sipPort);
        } else if (name == QLatin1String("SIPTransport")) {
            readInt(reader, c.sipTransport);
        } else if (name == QLatin1String("SRTPMode")) {
            readInt(reader, c.srtpMode);
        } else if (name == QLatin1String("CAFile")) {
            readString(reader, c.caFile);
        } else if (name == QLatin1String("certFile")) {
            readString(reader, c.certFile);
        } else if (name == QLatin1String("keyFile")) {
            readString(reader, c.keyFile);
        } else if (name == QLatin1String("ESLPort")) {
            readInt(reader, c.eslPort);
        } else if (name == QLatin1String("SSHPort")) {
            readInt(reader, c.sshPort);
        } else if (name == QLatin1String("DBPort")) {
            readInt(reader, c.dbPort);
        } else {
            return false;
        }
        return true;
    });
}

void readConference(QXmlStreamReader &reader, XMLConfig &c)
{
    readSection(reader, [&](const QStringRef &name) {
        if (name == QLatin1String("SwitchToConference")) {
            if (const auto text = readValue(reader)) {
                for (int mode = 0; mode < 4; ++mode) {
                    if (*text == QLatin1String(kSwitchKeywords[mode]))
                        c.switchToConference = mode;
                }
            }
        } else if (name == QLatin1String("PrimaryConferenceDisplayName")) {
            readString(reader, c.primaryConferenceDisplayName);
        } else if (name == QLatin1String("NewConferencePrefix")) {
            readString(reader, c.newConferencePrefix);
        } else if (name == QLatin1String("DisplayDisconnected")) {
            readInt(reader, c.displayDisconnected);
        } else if (name == QLatin1String("DisplayFailedCalls")) {
            readInt(reader, c.displayFailedCalls);
        } else if (name == QLatin1String("PrimaryConferenceId")) {
            readString(reader, c.primaryConferenceId);
        } else {
            return false;
        }
        return true;
    });
}

void readMixer(QXmlStreamReader &reader, XMLConfig &c)
{
    readSection(reader, [&](const QStringRef &name) {
        if (name == QLatin1String("InputSoundDevice"))
            readDevice(reader, "InputSoundDeviceName", "InputSoundDeviceVolume", c.inputDeviceName,
                       c.inputVolume);
        else if (name == QLatin1String("OutputSoundDevice"))
            readDevice(reader, "OutputSoundDeviceName", "OutputSoundDeviceVolume", c.outputDeviceName,
                       c.outputVolume);
        else if (name == QLatin1String("SystemSoundDevice"))
            readDevice(reader, "SystemSoundDeviceName", "SystemSoundDeviceVolume", c.systemDeviceName,
                       c.systemVolume);
        else if (name == QLatin1String("AlarmSound"))
            readBool(reader, c.alarmSound);
        else
            return false;
        return true;
    });
}

void readUsers(QXmlStreamReader &reader, XMLConfig &c)
{
    c.users.clear();
    c.warningUsers.clear();
    readSection(reader, [&](const QStringRef &name) {
        if (name == QLatin1String("User")) {
            const QXmlStreamAttributes a = reader.attributes();
            XMLConfig::UserEntry entry;
            entry.sipUri = a.value(QLatin1String("sip-uri")).toString();
            entry.autoStart = a.value(QLatin1String("AutoStart")) == QLatin1String("true");
            entry.password = a.value(QLatin1String("Password")).toString();
            c.users.append(entry);
            return false;
        }
        if (name == QLatin1String("WarningForUser")) {
            if (const auto text = readValue(reader))
                c.warningUsers.append(*text);
        } else if (name == QLatin1String("UserFileTemplate")) {
            readString(reader, c.userFileTemplate);
        } else {
            return false;
        }
        return true;
    });
}

void readDialHistory(QXmlStreamReader &reader, XMLConfig &c)
{
    c.pstnDialHistory.clear();
    readSection(reader, [&](const QStringRef &name) {
        if (name != QLatin1String("number"))
            return false;
        if (const auto text = readValue(reader))
            c.pstnDialHistory.append(*text);
        return true;
    });
}

} // namespace

XMLConfig::XMLConfig() : filePath(defaultFilePath())
{}

QString XMLConfig::defaultFilePath()
{
    QString dir = firstConfigDirectory();
    // Without the user's own directory the first existing one is a system directory such as
    // /etc/xdg that a dispatcher cannot write to: every save would fail. Create the user's.
    if (dir.isEmpty() || !QFileInfo(dir).isWritable()) {
        const QString home = QStandardPaths::writableLocation(QStandardPaths::ConfigLocation);
        if (!home.isEmpty() && QDir().mkpath(home))
            dir = firstConfigDirectory();
    }
    return dir + QLatin1String(kFileName);
}

XMLConfig::XMLConfig(const QString &path) : filePath(path)
{}

XMLConfig::~XMLConfig() = default;

XMLConfig &XMLConfig::instance()
{
    static XMLConfig config;
    return config;
}

void XMLConfig::clearCurrentLogin()
{
    currentLoginAddress.clear();
    currentLoginUser.clear();
    currentServerHost.clear();
    currentSipPassword.clear();
    currentEslPassword.clear();
}

bool XMLConfig::load()
{
    qDebug("Loading config from %s", filePath.toUtf8().constData());
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return false;

    QXmlStreamReader reader(&file);
    if (reader.hasError() || !reader.readNextStartElement()) {
        if (reader.hasError())
            qWarning("XMLConfig::load(): %s: line %lld, column %lld: %s", qPrintable(filePath),
                     reader.lineNumber(), reader.columnNumber(), qPrintable(reader.errorString()));
        return false;
    }

    while (!reader.atEnd()) {
        reader.readNext();
        if (!reader.isStartElement())
            continue;
        const QStringRef name = reader.name();
        if (name == QLatin1String("LastStart"))
            readLastStart(reader, *this);
        else if (name == QLatin1String("Environment"))
            readEnvironment(reader, *this);
        else if (name == QLatin1String("Connection"))
            readConnection(reader, *this);
        else if (name == QLatin1String("Conference"))
            readConference(reader, *this);
        else if (name == QLatin1String("Mixer"))
            readMixer(reader, *this);
        else if (name == QLatin1String("Users"))
            readUsers(reader, *this);
        else if (name == QLatin1String("PstnDialHistory"))
            readDialHistory(reader, *this);
        else
            reader.skipCurrentElement();
    }

    if (reader.hasError()) {
        // A truncated or damaged file: keep what was read, but do not claim it loaded.
        qWarning("XMLConfig::load(): %s: line %lld, column %lld: %s", qPrintable(filePath),
                 reader.lineNumber(), reader.columnNumber(), qPrintable(reader.errorString()));
    } else {
        fileLoaded = true;
    }
    return true;
}

bool XMLConfig::save()
{
    m_saveError.clear();
    if (!writeFile()) {
        m_saveError = QStringLiteral("Не удалось сохранить настройки в файл %1").arg(filePath);
        qWarning("XMLConfig::save(): cannot write %s", qPrintable(filePath));
        LogFile::mainLog().write(WARNING, m_saveError);
        return false;
    }
    return true;
}

bool XMLConfig::writeFile()
{
    QSaveFile file(filePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return false;
    // The file may hold passwords of auto-start users.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);

    QXmlStreamWriter w(&file);
    w.setAutoFormatting(true);
    if (w.hasError()) {
        file.cancelWriting();
        return false;
    }

    w.writeStartDocument();
    w.writeStartElement(QStringLiteral("root"));

    w.writeStartElement(QStringLiteral("LastStart"));
    w.writeEmptyElement(QStringLiteral("LoginDialog"));
    w.writeAttribute(QStringLiteral("MonitorID"), number(loginDialogScreen));
    w.writeAttribute(QStringLiteral("xPos"), number(loginDialogX));
    w.writeAttribute(QStringLiteral("yPos"), number(loginDialogY));
    w.writeEmptyElement(QStringLiteral("MainWindow"));
    w.writeAttribute(QStringLiteral("WindowState"), number(mainWindowState));
    w.writeAttribute(QStringLiteral("xPos"), number(mainWindowX));
    w.writeAttribute(QStringLiteral("yPos"), number(mainWindowY));
    w.writeAttribute(QStringLiteral("WWindow"), number(mainWindowWidth));
    w.writeAttribute(QStringLiteral("HWindow"), number(mainWindowHeight));
    w.writeEndElement();

    w.writeStartElement(QStringLiteral("Environment"));
    w.writeTextElement(QStringLiteral("ShowLog"), boolText(showLog));
    w.writeTextElement(QStringLiteral("ShowCursor"), boolText(showCursor));
    w.writeTextElement(QStringLiteral("ShowNumRegistered"), boolText(showNumRegistered));
    w.writeTextElement(QStringLiteral("PhoneBookPath"), phoneBookPath);
    w.writeTextElement(QStringLiteral("PhoneBookFontSize"), number(phoneBookFontSize));
    w.writeEndElement();

    w.writeStartElement(QStringLiteral("Connection"));
    w.writeTextElement(QStringLiteral("TelephoneGateway"), telephoneGateway);
    w.writeTextElement(QStringLiteral("AlarmDelay"), number(alarmDelay));
    w.writeTextElement(QStringLiteral("CallTimeout"), number(callTimeout));
    w.writeTextElement(QStringLiteral("SIPClientReregistration"), number(sipClientReregistration));
    w.writeTextElement(QStringLiteral("ExternalUA"), boolText(externalUA));
    w.writeEmptyElement(QStringLiteral("BindAddress"));
    w.writeAttribute(QStringLiteral("Auto"), boolText(bindAddressAuto));
    if (!bindAddressAuto)
        w.writeAttribute(QStringLiteral("Address"), bindAddress);
    if (mediaPort != 0)
        w.writeTextElement(QStringLiteral("MediaPort"), number(mediaPort));
    if (sipPort != 0)
        w.writeTextElement(QStringLiteral("SIPPort"), number(sipPort));
    w.writeTextElement(QStringLiteral("SIPTransport"), number(sipTransport));
    w.writeTextElement(QStringLiteral("SRTPMode"), number(srtpMode));
    if (!caFile.isEmpty())
        w.writeTextElement(QStringLiteral("CAFile"), caFile);
    if (!certFile.isEmpty())
        w.writeTextElement(QStringLiteral("certFile"), certFile);
    if (!keyFile.isEmpty())
        w.writeTextElement(QStringLiteral("keyFile"), keyFile);
    w.writeTextElement(QStringLiteral("ESLPort"), number(eslPort));
    w.writeTextElement(QStringLiteral("SSHPort"), number(sshPort));
    w.writeTextElement(QStringLiteral("DBPort"), number(dbPort));
    w.writeEndElement();

    w.writeStartElement(QStringLiteral("Conference"));
    w.writeTextElement(QStringLiteral("SwitchToConference"), switchKeyword(switchToConference));
    w.writeTextElement(QStringLiteral("PrimaryConferenceDisplayName"), primaryConferenceDisplayName);
    w.writeTextElement(QStringLiteral("NewConferencePrefix"), newConferencePrefix);
    w.writeTextElement(QStringLiteral("DisplayDisconnected"), number(displayDisconnected));
    w.writeTextElement(QStringLiteral("DisplayFailedCalls"), number(displayFailedCalls));
    w.writeTextElement(QStringLiteral("PrimaryConferenceId"),
                       primaryConferenceId.isEmpty() ? QStringLiteral("0") : primaryConferenceId);
    w.writeEndElement();

    w.writeStartElement(QStringLiteral("Mixer"));
    const struct
    {
        const char *element;
        const QString &name;
        int volume;
    } devices[] = {{"InputSoundDevice", inputDeviceName, inputVolume},
                   {"OutputSoundDevice", outputDeviceName, outputVolume},
                   {"SystemSoundDevice", systemDeviceName, systemVolume}};
    for (const auto &device : devices) {
        const QString element = QLatin1String(device.element);
        w.writeEmptyElement(element);
        if (!device.name.isEmpty())
            w.writeAttribute(element + QStringLiteral("Name"), device.name);
        if (device.volume <= 100)
            w.writeAttribute(element + QStringLiteral("Volume"), number(device.volume));
    }
    w.writeTextElement(QStringLiteral("AlarmSound"), boolText(alarmSound));
    w.writeEndElement();

    w.writeStartElement(QStringLiteral("Users"));
    for (const UserEntry &user : users) {
        w.writeEmptyElement(QStringLiteral("User"));
        w.writeAttribute(QStringLiteral("sip-uri"), user.sipUri);
        if (user.autoStart) {
            w.writeAttribute(QStringLiteral("AutoStart"), QStringLiteral("true"));
            w.writeAttribute(QStringLiteral("Password"), user.password);
        }
    }
    for (const QString &user : warningUsers)
        w.writeTextElement(QStringLiteral("WarningForUser"), user);
    w.writeTextElement(QStringLiteral("UserFileTemplate"), userFileTemplate);
    w.writeEndElement();

    w.writeStartElement(QStringLiteral("PstnDialHistory"));
    for (const QString &entry : pstnDialHistory)
        w.writeTextElement(QStringLiteral("number"), entry);
    w.writeEndElement();

    w.writeEndElement();
    w.writeEndDocument();

    if (w.hasError()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

// The configuration exists with its defaults before main() runs.
[[maybe_unused]] static XMLConfig &s_config = XMLConfig::instance();
