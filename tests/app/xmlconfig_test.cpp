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
    QString path(const char *name = "TesmarDispatcher.xml") const { return m_dir.filePath(name); }

    // The file's text without the line breaks and indentation.
    static QString flat(QString text) { return text.remove(QRegularExpression(QStringLiteral("\n *"))); }
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

    void missingFileIsWrittenWithTheDefaults()
    {
        XMLConfig missing(path());
        QVERIFY(!missing.load());
        QVERIFY(!missing.fileLoaded);
        QVERIFY(missing.save());
        const QString text = QString::fromUtf8(read(path()));
        QVERIFY(text.startsWith(
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root>\n    <LastStart>\n        <"));
        QVERIFY(text.endsWith("</Users>\n    <PstnDialHistory/>\n</root>\n"));
        QCOMPARE(
            flat(text),
            QString(
                R"(<?xml version="1.0" encoding="UTF-8"?><root><LastStart>)"
                R"(<LoginDialog MonitorID="-1" xPos="0" yPos="0"/>)"
                R"(<MainWindow WindowState="-1" xPos="0" yPos="0" WWindow="0" HWindow="0"/></LastStart>)"
                R"(<Environment><ShowLog>true</ShowLog><ShowCursor>true</ShowCursor>)"
                R"(<ShowNumRegistered>true</ShowNumRegistered><PhoneBookPath>phonebook.txt</PhoneBookPath>)"
                R"(<PhoneBookFontSize>14</PhoneBookFontSize></Environment><Connection>)"
                R"(<TelephoneGateway>pstn</TelephoneGateway><AlarmDelay>30</AlarmDelay><CallTimeout>120</CallTimeout>)"
                R"(<SIPClientReregistration>3600</SIPClientReregistration><ExternalUA>false</ExternalUA>)"
                R"(<BindAddress Auto="true"/><SIPTransport>0</SIPTransport><SRTPMode>0</SRTPMode></Connection>)"
                R"(<Conference><SwitchToConference>auto</SwitchToConference>)"
                R"(<PrimaryConferenceDisplayName></PrimaryConferenceDisplayName>)"
                R"(<NewConferencePrefix>конференция-</NewConferencePrefix><DisplayDisconnected>5</DisplayDisconnected>)"
                R"(<DisplayFailedCalls>5</DisplayFailedCalls><PrimaryConferenceId>0</PrimaryConferenceId></Conference>)"
                R"(<Mixer><InputSoundDevice InputSoundDeviceVolume="100"/><OutputSoundDevice )"
                R"(OutputSoundDeviceVolume="100"/><SystemSoundDevice SystemSoundDeviceVolume="100"/>)"
                R"(<AlarmSound>true</AlarmSound></Mixer><Users>)"
                R"(<UserFileTemplate>/etc/freeswitch/directory/default/%1.xml</UserFileTemplate></Users>)"
                R"(<PstnDialHistory/></root>)"));
    }

    void everyStoredFieldSurvivesARoundTrip()
    {
        // Every key away from its default. Loaded and written again, the file must not
        // change: a key that is not read back, or not written, shows up here.
        const QByteArray stored =
            R"(<?xml version="1.0" encoding="UTF-8"?><root><LastStart>)"
            R"(<LoginDialog MonitorID="1" xPos="-20" yPos="340"/>)"
            R"(<MainWindow WindowState="2" xPos="15" yPos="25" WWindow="1280" HWindow="800"/></LastStart>)"
            R"(<Environment><ShowLog>false</ShowLog><ShowCursor>false</ShowCursor>)"
            R"(<ShowNumRegistered>false</ShowNumRegistered><PhoneBookPath>/tmp/книга.txt</PhoneBookPath>)"
            R"(<PhoneBookFontSize>18</PhoneBookFontSize></Environment><Connection>)"
            R"(<TelephoneGateway>gw-мск</TelephoneGateway><AlarmDelay>45</AlarmDelay><CallTimeout>60</CallTimeout>)"
            R"(<SIPClientReregistration>300</SIPClientReregistration><ExternalUA>true</ExternalUA>)"
            R"(<BindAddress Auto="false" Address="10.0.0.5"/><MediaPort>40000</MediaPort><SIPPort>5070</SIPPort>)"
            R"(<SIPTransport>2</SIPTransport><SRTPMode>2</SRTPMode><CAFile>/etc/ssl/ca.pem</CAFile>)"
            R"(<certFile>/home/op/cert.pem</certFile><keyFile>/home/op/key.pem</keyFile></Connection>)"
            R"(<Conference><SwitchToConference>permanent</SwitchToConference>)"
            R"(<PrimaryConferenceDisplayName>Главная</PrimaryConferenceDisplayName>)"
            R"(<NewConferencePrefix>conf-</NewConferencePrefix><DisplayDisconnected>7</DisplayDisconnected>)"
            R"(<DisplayFailedCalls>9</DisplayFailedCalls><PrimaryConferenceId>3000</PrimaryConferenceId>)"
            R"(</Conference><Mixer><InputSoundDevice InputSoundDeviceName="Микрофон USB" )"
            R"(InputSoundDeviceVolume="0"/><OutputSoundDevice OutputSoundDeviceName="Speakers" )"
            R"(OutputSoundDeviceVolume="55"/><SystemSoundDevice SystemSoundDeviceName="HDMI" )"
            R"(SystemSoundDeviceVolume="7"/><AlarmSound>false</AlarmSound></Mixer><Users>)"
            R"(<User sip-uri="1001@pbx" AutoStart="true" Password="p&amp;ss&lt;&quot;word&quot;&gt;"/>)"
            R"(<User sip-uri="1002@pbx"/><WarningForUser>2001@pbx</WarningForUser>)"
            R"(<WarningForUser>2002@pbx</WarningForUser><UserFileTemplate>/srv/dir/%1.xml</UserFileTemplate>)"
            R"(</Users><PstnDialHistory><number>89001234567</number><number>+7 (812) 000</number>)"
            R"(</PstnDialHistory></root>)";
        write(path(), stored);
        XMLConfig r(path());
        QVERIFY(r.load());
        QVERIFY(r.fileLoaded);
        QCOMPARE(r.users[0].password, QStringLiteral("p&ss<\"word\">"));
        // Never stored: the current login's password, nor that of a user without auto-start.
        r.currentSipPassword = QStringLiteral("never-stored");
        r.users[1].password = QStringLiteral("forgotten");
        r.filePath = path("copy.xml");
        QVERIFY(r.save());
        QCOMPARE(flat(QString::fromUtf8(read(r.filePath))), QString::fromUtf8(stored));
        // Loading again replaces the lists instead of appending to them.
        QVERIFY(r.load());
        QCOMPARE(r.users.size() + r.warningUsers.size() + r.pstnDialHistory.size(), 6);

        // Values that are left out of the file, or written as their default.
        r.outputVolume = 101;
        r.primaryConferenceId.clear();
        r.bindAddressAuto = true;
        QVERIFY(r.save());
        const QByteArray text = read(r.filePath);
        QVERIFY(!text.contains("OutputSoundDeviceVolume") && !text.contains("Address="));
        QVERIFY(text.contains("<PrimaryConferenceId>0</PrimaryConferenceId>"));
    }

    void handWrittenValuesAreNormalised()
    {
        write(path(), R"(<?xml version="1.0" encoding="UTF-8"?><settings>
  <Vendor><Conference><SwitchToConference>forced</SwitchToConference></Conference></Vendor>
  <LastStart><LoginDialog MonitorID="two" xPos="12"/><MainWindow WindowState="4"/></LastStart>
  <Environment><ShowLog>True</ShowLog><PhoneBookFontSize>big</PhoneBookFontSize><PhoneBookPath/></Environment>
  <Connection><SIPClientReregistration>60</SIPClientReregistration><AlarmDelay></AlarmDelay>
    <BindAddress Auto="true" Address="10.1.1.1"/><Unknown><CallTimeout>1</CallTimeout></Unknown></Connection>
  <Conference><SwitchToConference>Auto</SwitchToConference></Conference>
  <Mixer><InputSoundDevice InputSoundDeviceName="Mic" InputSoundDeviceVolume="loud"/></Mixer>
  <Users><User sip-uri="a@h" AutoStart="yes" Password="x"/><User sip-uri="b@h" AutoStart="true"/></Users>
</settings>)");
        XMLConfig c(path());
        QVERIFY(c.load());
        QVERIFY(c.fileLoaded);
        // Neither the nested "forced" nor "Auto" applies; unreadable numbers fall back;
        // a re-registration under two minutes is raised; an empty element changes nothing.
        QCOMPARE((QList<int>{c.switchToConference, c.loginDialogScreen, c.loginDialogX, c.mainWindowState,
                             c.phoneBookFontSize, c.sipClientReregistration, c.alarmDelay, c.callTimeout,
                             c.inputVolume}),
                 (QList<int>{XMLConfig::SwitchAuto, -1, 12, 4, 0, 120, 30, 120, 100}));
        QCOMPARE((QStringList{c.phoneBookPath, c.bindAddress, c.inputDeviceName}),
                 (QStringList{"phonebook.txt", QString(), "Mic"}));
        QVERIFY(!c.showLog);
        QVERIFY(!c.users[0].autoStart && c.users[1].autoStart);

        for (const auto &k : {std::make_pair("manual", 0), std::make_pair("forced", 3)}) {
            write(path(), QByteArray("<root><Conference><SwitchToConference>") + k.first +
                              "</SwitchToConference></Conference></root>");
            XMLConfig m(path());
            QVERIFY(m.load());
            QCOMPARE(m.switchToConference, k.second);
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
        r.pstnDialHistory = QStringList{"kept"};
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("line \\d+, column \\d+")));
        QVERIFY(r.load());
        QVERIFY(!r.fileLoaded);
        QCOMPARE(r.telephoneGateway, QStringLiteral("gw1"));
        QCOMPARE(r.pstnDialHistory, QStringList{"kept"});

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
                 QStringList{"TesmarDispatcher.xml"});

        // Paths that cannot be written fail and leave the existing file alone.
        QVERIFY(!XMLConfig(path("missing/TesmarDispatcher.xml")).save());
        QVERIFY(!XMLConfig(m_dir.path()).save());
        QCOMPARE(read(path()), text);
    }
};

QTEST_GUILESS_MAIN(XMLConfigTest)
#include "xmlconfig_test.moc"
