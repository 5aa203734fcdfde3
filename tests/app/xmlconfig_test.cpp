#include "app/logfile.h"
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
    static QString flat(const QString &file)
    {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).remove(QRegularExpression("\n *"))
                                           : QString();
    }
    static void write(const QString &file, const QByteArray &content)
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
    }

private slots:
    // The main log goes to logs/ of the working directory: keep it in the scratch directory.
    void initTestCase() { QVERIFY(QDir::setCurrent(m_dir.path())); }

    void everyStoredFieldSurvivesARoundTrip()
    {
        // Every key away from its default: a key that is not read back, or not written, changes the file.
        const QString stored = QString::fromUtf8(
            R"(<?xml version="1.0" encoding="UTF-8"?><root><LastStart><LoginDialog MonitorID="1" xPos="-2")"
            R"( yPos="3"/><MainWindow WindowState="2" xPos="15" yPos="25" WWindow="9" HWindow="8"/>)"
            R"(</LastStart><Environment><ShowLog>false</ShowLog><ShowCursor>false</ShowCursor>)"
            R"(<ShowNumRegistered>false</ShowNumRegistered><PhoneBookPath>книга</PhoneBookPath>)"
            R"(<PhoneBookFontSize>18</PhoneBookFontSize></Environment><Connection><TelephoneGateway>gw)"
            R"(</TelephoneGateway><AlarmDelay>45</AlarmDelay><CallTimeout>60</CallTimeout>)"
            R"(<SIPClientReregistration>300</SIPClientReregistration><ExternalUA>true</ExternalUA>)"
            R"(<BindAddress Auto="false" Address="10.0.0.5"/><MediaPort>40000</MediaPort><SIPPort>5070)"
            R"(</SIPPort><SIPTransport>2</SIPTransport><SRTPMode>2</SRTPMode><CAFile>ca</CAFile>)"
            R"(<certFile>cert</certFile><keyFile>key</keyFile><ESLPort>8022</ESLPort><SSHPort>2222</SSHPort>)"
            R"(<DBPort>3307</DBPort></Connection><Conference>)"
            R"(<SwitchToConference>permanent</SwitchToConference><PrimaryConferenceDisplayName>Главная)"
            R"(</PrimaryConferenceDisplayName><NewConferencePrefix>conf-</NewConferencePrefix>)"
            R"(<DisplayDisconnected>7</DisplayDisconnected><DisplayFailedCalls>9</DisplayFailedCalls>)"
            R"(<PrimaryConferenceId>3000</PrimaryConferenceId></Conference><Mixer><InputSoundDevice)"
            R"( InputSoundDeviceName="Мик" InputSoundDeviceVolume="0"/><OutputSoundDevice)"
            R"( OutputSoundDeviceName="Out" OutputSoundDeviceVolume="55"/><SystemSoundDevice)"
            R"( SystemSoundDeviceName="Sys" SystemSoundDeviceVolume="7"/><AlarmSound>false</AlarmSound>)"
            R"(</Mixer><Users><User sip-uri="1@h" AutoStart="true" Password="p&amp;&lt;&quot;w&quot;&gt;"/>)"
            R"(<User sip-uri="2@h"/><WarningForUser>3@h</WarningForUser><UserFileTemplate>%1.xml)"
            R"(</UserFileTemplate></Users><PstnDialHistory><number>8900</number></PstnDialHistory></root>)");
        write(path(), stored.toUtf8());
        XMLConfig r(path());
        QVERIFY(r.load() && r.fileLoaded);
        // A user without auto-start never has the password stored.
        r.users[1].password = QStringLiteral("forgotten");
        r.filePath = path("copy.xml");
        QVERIFY(r.save());
        QCOMPARE(flat(r.filePath), stored);
        // Loading again replaces the lists instead of appending to them.
        QVERIFY(r.load());
        QCOMPARE(r.users.size() + r.warningUsers.size() + r.pstnDialHistory.size(), 4);

        // Unset values are left out of the file, or written as their default.
        r.primaryConferenceId.clear();
        r.bindAddressAuto = true;
        r.outputVolume = 101;
        QVERIFY(r.save());
        const QString text = flat(r.filePath);
        QVERIFY(text.contains(R"(<BindAddress Auto="true"/><MediaPort>)"));
        QVERIFY(text.contains(R"(<PrimaryConferenceId>0</PrimaryConferenceId>)"));
        QVERIFY(text.contains(R"(<OutputSoundDevice OutputSoundDeviceName="Out"/>)"));
    }

    void handWrittenValuesAreNormalised()
    {
        write(path(), R"(<settings>
  <Vendor><Conference><SwitchToConference>forced</SwitchToConference></Conference></Vendor>
  <Environment><ShowLog>True</ShowLog><PhoneBookPath/></Environment>
  <Connection><SIPClientReregistration>60</SIPClientReregistration><AlarmDelay></AlarmDelay>
    <BindAddress Auto="true" Address="10.1.1.1"/><Unknown><CallTimeout>1</CallTimeout></Unknown></Connection>
  <Mixer><InputSoundDevice InputSoundDeviceName="Mic" InputSoundDeviceVolume="loud"/></Mixer>
  <Users><User sip-uri="a@h" AutoStart="yes" Password="x"/><User sip-uri="b@h" AutoStart="true"/></Users>
</settings>)");
        XMLConfig c(path());
        QVERIFY(c.load() && c.fileLoaded);
        // The nested "forced" does not apply; unreadable numbers fall back; a re-registration
        // under two minutes is raised; an empty element changes nothing.
        QCOMPARE((QList<int>{c.switchToConference, c.sipClientReregistration, c.alarmDelay, c.callTimeout,
                             c.inputVolume}),
                 (QList<int>{XMLConfig::SwitchAuto, 120, 30, 120, 100}));
        QCOMPARE((QStringList{c.phoneBookPath, c.bindAddress, c.inputDeviceName}),
                 (QStringList{"phonebook.txt", QString(), "Mic"}));
        QVERIFY(!c.showLog && !c.users[0].autoStart && c.users[1].autoStart);

        // Each keyword of a top-level Conference section, and nothing else, selects its mode.
        const QStringList keywords{"manual", "auto", "permanent", "forced", "Forced", "3"};
        for (int i = 0; i < keywords.size(); ++i) {
            write(path(), "<root><Conference><SwitchToConference>" + keywords[i].toUtf8() +
                              "</SwitchToConference></Conference></root>");
            XMLConfig k(path());
            k.switchToConference = -1;
            QVERIFY(k.load());
            QCOMPARE(k.switchToConference, i < 4 ? i : -1);
        }
    }

    void missingOrDamagedFileDoesNotCountAsLoaded()
    {
        QVERIFY(!XMLConfig(path("none.xml")).load());
        // Truncated: what was read before the error is kept.
        write(path(), "<root><Connection><TelephoneGateway>gw1</TelephoneGateway></Connection><Users><Us");
        XMLConfig r(path());
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("line \\d+, column \\d+"));
        QVERIFY(r.load());
        QVERIFY(!r.fileLoaded);
        QCOMPARE(r.telephoneGateway, QStringLiteral("gw1"));
    }

    void saveIsPrivateAndAtomic()
    {
        write(path(), QByteArray(64 * 1024, 'x'));
        QVERIFY(QFile::setPermissions(path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
        const mode_t oldMask = umask(022);
        QVERIFY(XMLConfig(path()).save());
        umask(oldMask);

        struct stat info = {};
        QCOMPARE(stat(QFile::encodeName(path()).constData(), &info), 0);
        QCOMPARE(int(info.st_mode & 0777), 0600);
        const QString text = flat(path());
        QVERIFY(text.startsWith("<?xml") && !text.contains("xxxx"));
        // No temporary file is left beside it, and a directory that does not exist fails.
        QCOMPARE(QDir(m_dir.path()).entryList({"TesmarDispatcher.xml*"}, QDir::Files | QDir::Hidden),
                 QStringList{"TesmarDispatcher.xml"});
        XMLConfig lost(path("missing/TesmarDispatcher.xml"));
        QVERIFY(!lost.save());
        // A failed save is not silent: the main log and the error text name the file.
        const QString error = "Не удалось сохранить настройки в файл " + lost.filePath;
        QCOMPARE(lost.saveError(), error);
        QFile log(LogFile::mainLog().filePath());
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(QString::fromUtf8(log.readAll()).contains("[WARNING] " + error + "\n"));
        lost.filePath = path();
        QVERIFY(lost.save() && lost.saveError().isEmpty());
    }

    void userConfigDirectoryIsCreatedWhenNoneIsWritable()
    {
        // No ~/.config; the only existing configuration directory is one nobody may write to
        // (like /etc/xdg for a dispatcher).
        const QString home = m_dir.filePath("home/.config");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home));
        qputenv("XDG_CONFIG_DIRS", "/proc/1");
        QCOMPARE(XMLConfig::defaultFilePath(), home + "/TesmarDispatcher.xml");
        QVERIFY(QFileInfo(home).isDir());
        XMLConfig c;
        QVERIFY(c.save() && QFile::exists(home + "/TesmarDispatcher.xml"));
        // A writable system directory is still taken when it is the first existing one.
        QVERIFY(QDir(home).removeRecursively());
        qputenv("XDG_CONFIG_DIRS", QFile::encodeName(m_dir.filePath("xdg")));
        QVERIFY(QDir().mkpath(m_dir.filePath("xdg")));
        QCOMPARE(XMLConfig::defaultFilePath(), m_dir.filePath("xdg/TesmarDispatcher.xml"));
        QVERIFY(!QFileInfo(home).exists());
    }
};

QTEST_GUILESS_MAIN(XMLConfigTest)
#include "xmlconfig_test.moc"
