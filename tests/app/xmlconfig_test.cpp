#include "app/xmlconfig.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

} // namespace

class XMLConfigTest : public QObject
{
    Q_OBJECT

private:
    QString configPath() const { return m_dir.filePath(QStringLiteral("TesmarDispatcher.xml")); }
    QTemporaryDir m_dir;

private slots:
    void init() { QFile::remove(configPath()); }

    void missingFileKeepsDefaultsAndDefaultPathFollowsConfigDir()
    {
        XMLConfig config(configPath());
        QVERIFY(!config.load());
        QVERIFY(!config.fileLoaded);
        QCOMPARE(config.sipClientReregistration, 3600);
        QCOMPARE(config.switchToConference, int(XMLConfig::SwitchAuto));
        QCOMPARE(config.newConferencePrefix, QStringLiteral("конференция-"));
        QCOMPARE(config.userFileTemplate, QStringLiteral("/etc/freeswitch/directory/default/%1.xml"));
        QCOMPARE(config.primaryConferenceId, QStringLiteral("0"));
        QCOMPARE(config.loginDialogScreen, -1);
        QCOMPARE(config.mainWindowState, -1);
        QVERIFY(config.bindAddressAuto);
        QCOMPARE(config.phoneBookPath, QStringLiteral("phonebook.txt"));
        QCOMPARE(config.phoneBookFontSize, 14);
        QCOMPARE(config.inputVolume, 100);
        QVERIFY(config.showLog && config.showCursor && config.showNumRegistered && config.alarmSound);
        QVERIFY(!QFile::exists(configPath()));

        // The default file sits in the user's configuration directory.
        const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.path()));
        XMLConfig located;
        qputenv("XDG_CONFIG_HOME", saved);
        QCOMPARE(located.filePath, m_dir.path() + QStringLiteral("/TesmarDispatcher.xml"));
    }

    void defaultsAreWrittenInTheExactLayout()
    {
        XMLConfig config(configPath());
        QVERIFY(config.save());
        const QString expected = QStringLiteral(
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<root>\n"
            "    <LastStart>\n"
            "        <LoginDialog MonitorID=\"-1\" xPos=\"0\" yPos=\"0\"/>\n"
            "        <MainWindow WindowState=\"-1\" xPos=\"0\" yPos=\"0\" WWindow=\"0\" HWindow=\"0\"/>\n"
            "    </LastStart>\n"
            "    <Environment>\n"
            "        <ShowLog>true</ShowLog>\n"
            "        <ShowCursor>true</ShowCursor>\n"
            "        <ShowNumRegistered>true</ShowNumRegistered>\n"
            "        <PhoneBookPath>phonebook.txt</PhoneBookPath>\n"
            "        <PhoneBookFontSize>14</PhoneBookFontSize>\n"
            "    </Environment>\n"
            "    <Connection>\n"
            "        <TelephoneGateway>pstn</TelephoneGateway>\n"
            "        <AlarmDelay>30</AlarmDelay>\n"
            "        <CallTimeout>120</CallTimeout>\n"
            "        <SIPClientReregistration>3600</SIPClientReregistration>\n"
            "        <ExternalUA>false</ExternalUA>\n"
            "        <BindAddress Auto=\"true\"/>\n"
            "        <SIPTransport>0</SIPTransport>\n"
            "        <SRTPMode>0</SRTPMode>\n"
            "    </Connection>\n"
            "    <Conference>\n"
            "        <SwitchToConference>auto</SwitchToConference>\n"
            "        <PrimaryConferenceDisplayName></PrimaryConferenceDisplayName>\n"
            "        <NewConferencePrefix>конференция-</NewConferencePrefix>\n"
            "        <DisplayDisconnected>5</DisplayDisconnected>\n"
            "        <DisplayFailedCalls>5</DisplayFailedCalls>\n"
            "        <PrimaryConferenceId>0</PrimaryConferenceId>\n"
            "    </Conference>\n"
            "    <Mixer>\n"
            "        <InputSoundDevice InputSoundDeviceVolume=\"100\"/>\n"
            "        <OutputSoundDevice OutputSoundDeviceVolume=\"100\"/>\n"
            "        <SystemSoundDevice SystemSoundDeviceVolume=\"100\"/>\n"
            "        <AlarmSound>true</AlarmSound>\n"
            "    </Mixer>\n"
            "    <Users>\n"
            "        <UserFileTemplate>/etc/freeswitch/directory/default/%1.xml</UserFileTemplate>\n"
            "    </Users>\n"
            "    <PstnDialHistory/>\n"
            "</root>\n");
        QCOMPARE(QString::fromUtf8(readAll(configPath())), expected);

        // Reading our own file back reaches the end of the document.
        XMLConfig reloaded(configPath());
        QVERIFY(reloaded.load());
        QVERIFY(reloaded.fileLoaded);
        QCOMPARE(reloaded.sipClientReregistration, 3600);
        QCOMPARE(reloaded.primaryConferenceDisplayName, QString());
    }

    void everyStoredFieldSurvivesARoundTrip()
    {
        XMLConfig config(configPath());
        config.loginDialogScreen = 1;
        config.loginDialogX = -20;
        config.loginDialogY = 340;
        config.mainWindowX = 15;
        config.mainWindowY = 25;
        config.mainWindowWidth = 1280;
        config.mainWindowHeight = 800;
        config.mainWindowState = Qt::WindowMaximized;
        config.users = {{QStringLiteral("1001@pbx.local"), true, QStringLiteral("p&ss<\"word\">")},
                        {QStringLiteral("1002@pbx.local"), false, QStringLiteral("forgotten")}};
        config.warningUsers = QStringList{QStringLiteral("2001@pbx.local"), QStringLiteral("2002@pbx.local")};
        config.pstnDialHistory =
            QStringList{QStringLiteral("89001234567"), QStringLiteral("+7 (812) 000-00-00")};
        config.telephoneGateway = QStringLiteral("gw-мск");
        config.alarmDelay = 45;
        config.callTimeout = 60;
        config.displayDisconnected = 7;
        config.displayFailedCalls = 9;
        config.sipClientReregistration = 300;
        config.mediaPort = 40000;
        config.externalUA = true;
        config.bindAddressAuto = false;
        config.bindAddress = QStringLiteral("10.0.0.5");
        config.sipPort = 5070;
        config.sipTransport = XMLConfig::TransportTls;
        config.srtpMode = XMLConfig::SrtpMandatory;
        config.caFile = QStringLiteral("/etc/ssl/ca.pem");
        config.certFile = QStringLiteral("/home/op/cert.pem");
        config.keyFile = QStringLiteral("/home/op/key.pem");
        config.primaryConferenceDisplayName = QStringLiteral("Главная");
        config.newConferencePrefix = QStringLiteral("conf-");
        config.userFileTemplate = QStringLiteral("/srv/dir/%1.xml");
        config.primaryConferenceId = QStringLiteral("3000");
        config.switchToConference = XMLConfig::SwitchPermanent;
        config.showLog = false;
        config.showCursor = false;
        config.showNumRegistered = false;
        config.alarmSound = false;
        config.inputDeviceName = QStringLiteral("Микрофон USB");
        config.inputVolume = 0;
        config.outputDeviceName = QStringLiteral("Speakers");
        config.outputVolume = 55;
        config.systemDeviceName = QStringLiteral("HDMI");
        config.systemVolume = 100;
        config.phoneBookPath = QStringLiteral("/tmp/книга.txt");
        config.phoneBookFontSize = 18;
        config.currentLoginAddress = QStringLiteral("1001@pbx.local");
        config.currentSipPassword = QStringLiteral("never-stored");
        QVERIFY(config.save());

        const QByteArray text = readAll(configPath());
        QVERIFY(!text.contains("never-stored"));
        QVERIFY(!text.contains("forgotten"));

        XMLConfig r(configPath());
        QVERIFY(r.load());
        QVERIFY(r.fileLoaded);
        QCOMPARE(r.loginDialogScreen, 1);
        QCOMPARE(r.loginDialogX, -20);
        QCOMPARE(r.loginDialogY, 340);
        QCOMPARE(r.mainWindowX, 15);
        QCOMPARE(r.mainWindowY, 25);
        QCOMPARE(r.mainWindowWidth, 1280);
        QCOMPARE(r.mainWindowHeight, 800);
        QCOMPARE(r.mainWindowState, int(Qt::WindowMaximized));
        QCOMPARE(r.users.size(), 2);
        QCOMPARE(r.users[0].sipUri, QStringLiteral("1001@pbx.local"));
        QVERIFY(r.users[0].autoStart);
        QCOMPARE(r.users[0].password, QStringLiteral("p&ss<\"word\">"));
        QCOMPARE(r.users[1].sipUri, QStringLiteral("1002@pbx.local"));
        QVERIFY(!r.users[1].autoStart);
        QCOMPARE(r.users[1].password, QString());
        QCOMPARE(r.warningUsers, config.warningUsers);
        QCOMPARE(r.pstnDialHistory, config.pstnDialHistory);
        QCOMPARE(r.telephoneGateway, config.telephoneGateway);
        QCOMPARE(r.alarmDelay, 45);
        QCOMPARE(r.callTimeout, 60);
        QCOMPARE(r.displayDisconnected, 7);
        QCOMPARE(r.displayFailedCalls, 9);
        QCOMPARE(r.sipClientReregistration, 300);
        QCOMPARE(r.mediaPort, 40000);
        QVERIFY(r.externalUA);
        QVERIFY(!r.bindAddressAuto);
        QCOMPARE(r.bindAddress, QStringLiteral("10.0.0.5"));
        QCOMPARE(r.sipPort, 5070);
        QCOMPARE(r.sipTransport, int(XMLConfig::TransportTls));
        QCOMPARE(r.srtpMode, int(XMLConfig::SrtpMandatory));
        QCOMPARE(r.caFile, config.caFile);
        QCOMPARE(r.certFile, config.certFile);
        QCOMPARE(r.keyFile, config.keyFile);
        QCOMPARE(r.primaryConferenceDisplayName, config.primaryConferenceDisplayName);
        QCOMPARE(r.newConferencePrefix, QStringLiteral("conf-"));
        QCOMPARE(r.userFileTemplate, QStringLiteral("/srv/dir/%1.xml"));
        QCOMPARE(r.primaryConferenceId, QStringLiteral("3000"));
        QCOMPARE(r.switchToConference, int(XMLConfig::SwitchPermanent));
        QVERIFY(!r.showLog && !r.showCursor && !r.showNumRegistered && !r.alarmSound);
        QCOMPARE(r.inputDeviceName, config.inputDeviceName);
        QCOMPARE(r.inputVolume, 0);
        QCOMPARE(r.outputDeviceName, config.outputDeviceName);
        QCOMPARE(r.outputVolume, 55);
        QCOMPARE(r.systemDeviceName, config.systemDeviceName);
        QCOMPARE(r.systemVolume, 100);
        QCOMPARE(r.phoneBookPath, config.phoneBookPath);
        QCOMPARE(r.phoneBookFontSize, 18);
        QCOMPARE(r.currentLoginAddress, QString());
        QCOMPARE(r.currentSipPassword, QString());

        // Loading again replaces the lists instead of appending to them.
        QVERIFY(r.load());
        QCOMPARE(r.users.size(), 2);
        QCOMPARE(r.warningUsers.size(), 2);
        QCOMPARE(r.pstnDialHistory.size(), 2);
    }

    void valuesThatAreNotWrittenComeBackAsDefaults()
    {
        XMLConfig config(configPath());
        config.inputVolume = 101;
        config.outputVolume = 250;
        config.mediaPort = 0;
        config.sipPort = 0;
        config.primaryConferenceId.clear();
        config.bindAddressAuto = true;
        config.bindAddress = QStringLiteral("192.168.1.9");
        config.switchToConference = XMLConfig::SwitchManual;
        QVERIFY(config.save());

        const QString text = QString::fromUtf8(readAll(configPath()));
        QVERIFY(!text.contains(QLatin1String("InputSoundDeviceVolume")));
        QVERIFY(!text.contains(QLatin1String("OutputSoundDeviceVolume")));
        QVERIFY(text.contains(QLatin1String("SystemSoundDeviceVolume=\"100\"")));
        QVERIFY(!text.contains(QLatin1String("MediaPort")));
        QVERIFY(!text.contains(QLatin1String("SIPPort")));
        QVERIFY(!text.contains(QLatin1String("192.168.1.9")));
        QVERIFY(!text.contains(QLatin1String("CAFile")));
        QVERIFY(text.contains(QLatin1String("<PrimaryConferenceId>0</PrimaryConferenceId>")));
        QVERIFY(text.contains(QLatin1String("<SwitchToConference>manual</SwitchToConference>")));

        XMLConfig r(configPath());
        r.mediaPort = 1234; // must not be touched by an absent key either
        QVERIFY(r.load());
        QCOMPARE(r.inputVolume, 100);
        QCOMPARE(r.outputVolume, 100);
        QCOMPARE(r.mediaPort, 1234);
        QCOMPARE(r.sipPort, 0);
        QCOMPARE(r.primaryConferenceId, QStringLiteral("0"));
        QVERIFY(r.bindAddressAuto);
        QCOMPARE(r.bindAddress, QString());
        QCOMPARE(r.switchToConference, int(XMLConfig::SwitchManual));
    }

    void handWrittenValuesAreNormalised()
    {
        writeFile(configPath(), R"(<?xml version="1.0" encoding="UTF-8"?>
<settings>
  <Vendor><Conference><SwitchToConference>forced</SwitchToConference></Conference></Vendor>
  <LastStart>
    <LoginDialog MonitorID="two" xPos="12"/>
    <MainWindow WindowState="4" WWindow="x"/>
  </LastStart>
  <Environment>
    <ShowLog>True</ShowLog>
    <ShowCursor>yes</ShowCursor>
    <PhoneBookFontSize>big</PhoneBookFontSize>
    <PhoneBookPath/>
  </Environment>
  <Connection>
    <SIPClientReregistration>60</SIPClientReregistration>
    <AlarmDelay></AlarmDelay>
    <CallTimeout>90</CallTimeout>
    <BindAddress Auto="true" Address="10.1.1.1"/>
    <Unknown><CallTimeout>1</CallTimeout></Unknown>
  </Connection>
  <Conference>
    <SwitchToConference>Auto</SwitchToConference>
    <DisplayFailedCalls>12</DisplayFailedCalls>
  </Conference>
  <Mixer>
    <InputSoundDevice InputSoundDeviceName="Mic" InputSoundDeviceVolume="loud"/>
    <OutputSoundDevice OutputSoundDeviceVolume="40"/>
  </Mixer>
  <Users>
    <User sip-uri="a@h" AutoStart="yes" Password="x"/>
    <User sip-uri="b@h" AutoStart="true"/>
    <WarningForUser>c@h</WarningForUser>
  </Users>
</settings>
)");
        XMLConfig c(configPath());
        c.showCursor = true;
        QVERIFY(c.load());
        QVERIFY(c.fileLoaded);
        // An unknown top-level element is skipped with everything inside it.
        QCOMPARE(c.switchToConference, int(XMLConfig::SwitchAuto));
        QCOMPARE(c.loginDialogScreen, -1);
        QCOMPARE(c.loginDialogX, 12);
        QCOMPARE(c.loginDialogY, 0);
        QCOMPARE(c.mainWindowState, 4);
        QCOMPARE(c.mainWindowWidth, 0);
        QVERIFY(!c.showLog);
        QVERIFY(!c.showCursor);
        QCOMPARE(c.phoneBookFontSize, 0);
        QCOMPARE(c.phoneBookPath, QStringLiteral("phonebook.txt"));
        QCOMPARE(c.sipClientReregistration, 120);
        QCOMPARE(c.alarmDelay, 30);
        QCOMPARE(c.callTimeout, 90);
        QVERIFY(c.bindAddressAuto);
        QCOMPARE(c.bindAddress, QString());
        QCOMPARE(c.displayFailedCalls, 12);
        QCOMPARE(c.inputDeviceName, QStringLiteral("Mic"));
        QCOMPARE(c.inputVolume, 100);
        QCOMPARE(c.outputVolume, 40);
        QCOMPARE(c.users.size(), 2);
        QVERIFY(!c.users[0].autoStart);
        QVERIFY(c.users[1].autoStart);
        QCOMPARE(c.users[1].password, QString());
        QCOMPARE(c.warningUsers, QStringList{QStringLiteral("c@h")});

        // Every keyword maps; zero and text fall to the re-registration floor.
        const struct
        {
            const char *keyword;
            const char *reregistration;
            int mode;
            int interval;
        } cases[] = {{"manual", "0", 0, 120},
                     {"permanent", "abc", 2, 120},
                     {"forced", "121", 3, 121},
                     {"FORCED", "-5", 1, 120}};
        for (const auto &k : cases) {
            writeFile(configPath(),
                      QByteArray("<root><Conference><SwitchToConference>") + k.keyword +
                          "</SwitchToConference></Conference><Connection><SIPClientReregistration>" +
                          k.reregistration + "</SIPClientReregistration></Connection></root>");
            XMLConfig m(configPath());
            QVERIFY(m.load());
            QCOMPARE(m.switchToConference, k.mode);
            QCOMPARE(m.sipClientReregistration, k.interval);
        }
    }

    void damagedFileStopsAtTheErrorAndKeepsWhatWasRead()
    {
        XMLConfig config(configPath());
        config.telephoneGateway = QStringLiteral("gw1");
        config.users = {{QStringLiteral("1001@h"), true, QStringLiteral("pw")}};
        QVERIFY(config.save());
        QByteArray text = readAll(configPath());
        // Cut inside the Users section: Connection was read, PstnDialHistory never came.
        text.truncate(text.indexOf("<UserFileTemplate>") + 5);
        writeFile(configPath(), text);

        XMLConfig r(configPath());
        r.pstnDialHistory = QStringList{QStringLiteral("kept")};
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^Loading config from ")));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("line \\d+, column \\d+")));
        QVERIFY(r.load());
        QVERIFY(!r.fileLoaded);
        QCOMPARE(r.telephoneGateway, QStringLiteral("gw1"));
        QCOMPARE(r.users.size(), 1);
        QCOMPARE(r.pstnDialHistory, QStringList{QStringLiteral("kept")});

        // Not XML at all: no root element, nothing loaded.
        writeFile(configPath(), "\x01garbage");
        XMLConfig g(configPath());
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^Loading config from ")));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("line \\d+, column \\d+")));
        QVERIFY(!g.load());
        QVERIFY(!g.fileLoaded);
        QCOMPARE(g.telephoneGateway, QStringLiteral("pstn"));

        // An empty file is the same.
        writeFile(configPath(), QByteArray());
        XMLConfig e(configPath());
        QVERIFY(!e.load());
        QVERIFY(!e.fileLoaded);
    }

    void saveIsPrivateAndAtomic()
    {
        const mode_t oldMask = umask(022);
        writeFile(configPath(), QByteArray(64 * 1024, 'x'));
        QVERIFY(QFile::setPermissions(configPath(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                        QFileDevice::ReadGroup | QFileDevice::ReadOther));

        XMLConfig config(configPath());
        config.users = {{QStringLiteral("1001@h"), true, QStringLiteral("secret")}};
        QVERIFY(config.save());
        umask(oldMask);

        struct stat info = {};
        QCOMPARE(stat(QFile::encodeName(configPath()).constData(), &info), 0);
        QCOMPARE(int(info.st_mode & 0777), 0600);
        // The whole old content is gone and no temporary file is left beside it.
        const QByteArray text = readAll(configPath());
        QVERIFY(text.startsWith("<?xml"));
        QVERIFY(!text.contains("xxxx"));
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("TesmarDispatcher.xml")});

        // A path that cannot be written fails without touching anything.
        XMLConfig nowhere(m_dir.filePath(QStringLiteral("missing/TesmarDispatcher.xml")));
        QVERIFY(!nowhere.save());
        XMLConfig directory(m_dir.path());
        QVERIFY(!directory.save());
        QCOMPARE(readAll(configPath()), text);
    }

    void clearingTheLoginEmptiesOnlyTheCurrentLogin()
    {
        XMLConfig config(configPath());
        config.currentLoginAddress = QStringLiteral("1001@h");
        config.currentLoginUser = QStringLiteral("1001");
        config.currentServerHost = QStringLiteral("h");
        config.currentSipPassword = QStringLiteral("a");
        config.currentEslPassword = QStringLiteral("b");
        config.users = {{QStringLiteral("1001@h"), true, QStringLiteral("a")}};
        config.clearCurrentLogin();
        QVERIFY(config.currentLoginAddress.isEmpty() && config.currentLoginUser.isEmpty() &&
                config.currentServerHost.isEmpty() && config.currentSipPassword.isEmpty() &&
                config.currentEslPassword.isEmpty());
        QCOMPARE(config.users.size(), 1);
        QCOMPARE(config.users[0].password, QStringLiteral("a"));
    }
};

QTEST_GUILESS_MAIN(XMLConfigTest)
#include "xmlconfig_test.moc"
