#include "app/xmlconfig.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

class XMLConfigTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path(const char *name = "TesmarDispatcher.xml") const
    {
        return m_dir.filePath(QLatin1String(name));
    }

    static QByteArray read(const QString &file)
    {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static void write(const QString &file, const QByteArray &content)
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
    }

private slots:
    void init()
    {
        for (const QString &name : QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden))
            QFile::remove(m_dir.filePath(name));
    }

    void defaultsAreWrittenInTheExactLayout()
    {
        XMLConfig missing(path());
        QVERIFY(!missing.load());
        QVERIFY(!missing.fileLoaded);
        QVERIFY(missing.save());
        QCOMPARE(
            QString::fromUtf8(read(path())),
            QStringLiteral(
                "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root>\n    <LastStart>\n"
                "        <LoginDialog MonitorID=\"-1\" xPos=\"0\" yPos=\"0\"/>\n"
                "        <MainWindow WindowState=\"-1\" xPos=\"0\" yPos=\"0\" WWindow=\"0\" HWindow=\"0\"/>\n"
                "    </LastStart>\n    <Environment>\n        <ShowLog>true</ShowLog>\n"
                "        <ShowCursor>true</ShowCursor>\n        <ShowNumRegistered>true</ShowNumRegistered>\n"
                "        <PhoneBookPath>phonebook.txt</PhoneBookPath>\n"
                "        <PhoneBookFontSize>14</PhoneBookFontSize>\n    </Environment>\n    <Connection>\n"
                "        <TelephoneGateway>pstn</TelephoneGateway>\n        <AlarmDelay>30</AlarmDelay>\n"
                "        <CallTimeout>120</CallTimeout>\n"
                "        <SIPClientReregistration>3600</SIPClientReregistration>\n"
                "        <ExternalUA>false</ExternalUA>\n        <BindAddress Auto=\"true\"/>\n"
                "        <SIPTransport>0</SIPTransport>\n        <SRTPMode>0</SRTPMode>\n    </Connection>\n"
                "    <Conference>\n        <SwitchToConference>auto</SwitchToConference>\n"
                "        <PrimaryConferenceDisplayName></PrimaryConferenceDisplayName>\n"
                "        <NewConferencePrefix>конференция-</NewConferencePrefix>\n"
                "        <DisplayDisconnected>5</DisplayDisconnected>\n"
                "        <DisplayFailedCalls>5</DisplayFailedCalls>\n"
                "        <PrimaryConferenceId>0</PrimaryConferenceId>\n    </Conference>\n    <Mixer>\n"
                "        <InputSoundDevice InputSoundDeviceVolume=\"100\"/>\n"
                "        <OutputSoundDevice OutputSoundDeviceVolume=\"100\"/>\n"
                "        <SystemSoundDevice SystemSoundDeviceVolume=\"100\"/>\n"
                "        <AlarmSound>true</AlarmSound>\n    </Mixer>\n    <Users>\n"
                "        <UserFileTemplate>/etc/freeswitch/directory/default/%1.xml</UserFileTemplate>\n"
                "    </Users>\n    <PstnDialHistory/>\n</root>\n"));
        XMLConfig reloaded(path());
        QVERIFY(reloaded.load());
        QVERIFY(reloaded.fileLoaded);

        // Without a path of its own the file sits in the user's configuration directory.
        const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.path()));
        XMLConfig located;
        qputenv("XDG_CONFIG_HOME", saved);
        QCOMPARE(located.filePath, path());
    }

    void everyStoredFieldSurvivesARoundTrip()
    {
        XMLConfig c(path());
        c.loginDialogScreen = 1;
        c.loginDialogX = -20;
        c.loginDialogY = 340;
        c.mainWindowX = 15;
        c.mainWindowWidth = 1280;
        c.mainWindowY = 25;
        c.mainWindowHeight = 800;
        c.mainWindowState = Qt::WindowMaximized;
        c.users = {{QStringLiteral("1001@pbx"), true, QStringLiteral("p&ss<\"word\">")},
                   {QStringLiteral("1002@pbx"), false, QStringLiteral("forgotten")}};
        c.warningUsers = QStringList{QStringLiteral("2001@pbx"), QStringLiteral("2002@pbx")};
        c.pstnDialHistory = QStringList{QStringLiteral("89001234567"), QStringLiteral("+7 (812) 000")};
        c.telephoneGateway = QStringLiteral("gw-мск");
        c.alarmDelay = 45;
        c.callTimeout = 60;
        c.displayDisconnected = 7;
        c.displayFailedCalls = 9;
        c.sipClientReregistration = 300;
        c.mediaPort = 40000;
        c.externalUA = true;
        c.bindAddressAuto = false;
        c.bindAddress = QStringLiteral("10.0.0.5");
        c.sipPort = 5070;
        c.sipTransport = XMLConfig::TransportTls;
        c.srtpMode = XMLConfig::SrtpMandatory;
        c.caFile = QStringLiteral("/etc/ssl/ca.pem");
        c.certFile = QStringLiteral("/home/op/cert.pem");
        c.keyFile = QStringLiteral("/home/op/key.pem");
        c.newConferencePrefix = QStringLiteral("conf-");
        c.primaryConferenceDisplayName = QStringLiteral("Главная");
        c.userFileTemplate = QStringLiteral("/srv/dir/%1.xml");
        c.primaryConferenceId = QStringLiteral("3000");
        c.switchToConference = XMLConfig::SwitchPermanent;
        c.showLog = false;
        c.showCursor = false;
        c.showNumRegistered = false;
        c.alarmSound = false;
        c.inputDeviceName = QStringLiteral("Микрофон USB");
        c.inputVolume = 0;
        c.outputDeviceName = QStringLiteral("Speakers");
        c.outputVolume = 55;
        c.systemDeviceName = QStringLiteral("HDMI");
        c.systemVolume = 7;
        c.phoneBookPath = QStringLiteral("/tmp/книга.txt");
        c.phoneBookFontSize = 18;
        c.currentSipPassword = QStringLiteral("never-stored");
        QVERIFY(c.save());
        const QByteArray text = read(path());
        QVERIFY(!text.contains("never-stored"));
        QVERIFY(!text.contains("forgotten"));

        // Loaded and written again, the file must not change: a key that is not read
        // back would fall to its default and show up here.
        XMLConfig r(path());
        QVERIFY(r.load());
        QVERIFY(r.fileLoaded);
        r.filePath = path("copy.xml");
        QVERIFY(r.save());
        QCOMPARE(QString::fromUtf8(read(r.filePath)), QString::fromUtf8(text));
        QCOMPARE(r.users[0].password, QStringLiteral("p&ss<\"word\">"));
        QVERIFY(!r.users[1].autoStart);
        QCOMPARE(r.users[1].password, QString());
        // Loading again replaces the lists instead of appending to them.
        QVERIFY(r.load());
        QCOMPARE(r.users.size() + r.warningUsers.size() + r.pstnDialHistory.size(), 6);

        // Values that are never written come back as defaults.
        r.outputVolume = 101;
        r.primaryConferenceId.clear();
        r.bindAddressAuto = true;
        r.mediaPort = 0;
        QVERIFY(r.save());
        XMLConfig d(r.filePath);
        QVERIFY(d.load());
        QCOMPARE(d.outputVolume, 100);
        QCOMPARE(d.primaryConferenceId, QStringLiteral("0"));
        QCOMPARE(d.bindAddress, QString());
        QVERIFY(!read(r.filePath).contains("MediaPort"));
    }

    void handWrittenValuesAreNormalised()
    {
        write(path(), R"(<?xml version="1.0" encoding="UTF-8"?>
<settings>
  <Vendor><Conference><SwitchToConference>forced</SwitchToConference></Conference></Vendor>
  <LastStart><LoginDialog MonitorID="two" xPos="12"/><MainWindow WindowState="4"/></LastStart>
  <Environment><ShowLog>True</ShowLog><PhoneBookFontSize>big</PhoneBookFontSize><PhoneBookPath/></Environment>
  <Connection>
    <SIPClientReregistration>60</SIPClientReregistration><AlarmDelay></AlarmDelay>
    <BindAddress Auto="true" Address="10.1.1.1"/>
    <Unknown><CallTimeout>1</CallTimeout></Unknown>
  </Connection>
  <Conference><SwitchToConference>Auto</SwitchToConference></Conference>
  <Mixer><InputSoundDevice InputSoundDeviceName="Mic" InputSoundDeviceVolume="loud"/></Mixer>
  <Users><User sip-uri="a@h" AutoStart="yes" Password="x"/><User sip-uri="b@h" AutoStart="true"/></Users>
</settings>
)");
        XMLConfig c(path());
        QVERIFY(c.load());
        QVERIFY(c.fileLoaded);
        QCOMPARE(c.switchToConference, int(XMLConfig::SwitchAuto)); // neither "forced" nor "Auto" applied
        QCOMPARE(c.loginDialogScreen, -1);
        QCOMPARE(c.loginDialogX, 12);
        QCOMPARE(c.mainWindowState, 4);
        QVERIFY(!c.showLog);
        QCOMPARE(c.phoneBookFontSize, 0);
        QCOMPARE(c.phoneBookPath, QStringLiteral("phonebook.txt"));
        QCOMPARE(c.sipClientReregistration, 120);
        QCOMPARE(c.alarmDelay, 30);
        QCOMPARE(c.callTimeout, 120);
        QCOMPARE(c.bindAddress, QString());
        QCOMPARE(c.inputDeviceName, QStringLiteral("Mic"));
        QCOMPARE(c.inputVolume, 100);
        QVERIFY(!c.users[0].autoStart);
        QVERIFY(c.users[1].autoStart);

        const char *const cases[][4] = {
            {"manual", "0", "0", "120"}, {"forced", "abc", "3", "120"}, {"permanent", "121", "2", "121"}};
        for (const auto &k : cases) {
            write(path(), QByteArray("<root><Conference><SwitchToConference>") + k[0] +
                              "</SwitchToConference></Conference><Connection><SIPClientReregistration>" +
                              k[1] + "</SIPClientReregistration></Connection></root>");
            XMLConfig m(path());
            QVERIFY(m.load());
            QCOMPARE(m.switchToConference, QByteArray(k[2]).toInt());
            QCOMPARE(m.sipClientReregistration, QByteArray(k[3]).toInt());
        }
    }

    void damagedFileStopsAtTheErrorAndKeepsWhatWasRead()
    {
        XMLConfig c(path());
        c.telephoneGateway = QStringLiteral("gw1");
        QVERIFY(c.save());
        QByteArray text = read(path());
        text.truncate(text.indexOf("<UserFileTemplate>") + 5);
        write(path(), text);

        XMLConfig r(path());
        r.pstnDialHistory = QStringList{QStringLiteral("kept")};
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^Loading config from ")));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("line \\d+, column \\d+")));
        QVERIFY(r.load());
        QVERIFY(!r.fileLoaded);
        QCOMPARE(r.telephoneGateway, QStringLiteral("gw1"));
        QCOMPARE(r.pstnDialHistory, QStringList{QStringLiteral("kept")});

        write(path(), "\x01garbage");
        XMLConfig g(path());
        QVERIFY(!g.load());
        QVERIFY(!g.fileLoaded);
    }

    void saveIsPrivateAndAtomic()
    {
        write(path(), QByteArray(64 * 1024, 'x'));
        QVERIFY(QFile::setPermissions(path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
        const mode_t oldMask = umask(022);
        XMLConfig c(path());
        QVERIFY(c.save());
        umask(oldMask);

        struct stat info = {};
        QCOMPARE(stat(QFile::encodeName(path()).constData(), &info), 0);
        QCOMPARE(int(info.st_mode & 0777), 0600);
        const QByteArray text = read(path());
        QVERIFY(text.startsWith("<?xml") && !text.contains("xxxx"));
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("TesmarDispatcher.xml")});

        // Paths that cannot be written fail and leave the existing file alone.
        QVERIFY(!XMLConfig(path("missing/TesmarDispatcher.xml")).save());
        QVERIFY(!XMLConfig(m_dir.path()).save());
        QCOMPARE(read(path()), text);
    }
};

QTEST_GUILESS_MAIN(XMLConfigTest)
#include "xmlconfig_test.moc"
