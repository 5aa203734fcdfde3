#include "app/startup.h"
#include "app/xmlconfig.h"
#include "sip/cpjsipsua.h"
#include "ui/errorpanel.h"
#include "ui/settingscontroller.h"
#include "ui/settingspage.h"

#include <QAudioOutput>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSlider>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

#include <memory>

using Field = SettingsForm::Field;

namespace {

// A port nobody uses for UDP and TCP right now.
int freePort()
{
    for (;;) {
        QTcpServer tcp;
        if (!tcp.listen(QHostAddress(QHostAddress::AnyIPv4), 0))
            return 0;
        QUdpSocket udp;
        if (udp.bind(QHostAddress(QHostAddress::AnyIPv4), tcp.serverPort(),
                     QAbstractSocket::DontShareAddress))
            return tcp.serverPort();
    }
}

} // namespace

class SettingsPageTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    XMLConfig m_defaults;
    XMLConfig &config = XMLConfig::instance();
    CPJSIPSUA &agent = CPJSIPSUA::instance();
    std::unique_ptr<ErrorPanel> m_panel;
    std::unique_ptr<SettingsPage> m_page;

    template <class T>
    T *child(const char *name) const
    {
        T *found = m_page->findChild<T *>(QLatin1String(name));
        if (!found)
            qFatal("no editor %s", name);
        return found;
    }
    void type(const char *name, const QString &text)
    {
        auto *edit = child<QLineEdit>(name);
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        // Key by key as typed, also for letters outside ASCII.
        for (QChar ch : text)
            QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString(ch), Qt::NoModifier);
    }
    // The configuration as the file has it.
    std::unique_ptr<XMLConfig> stored() const
    {
        auto reread = std::make_unique<XMLConfig>(config.filePath);
        reread->load();
        return reread;
    }
    void build()
    {
        m_page = std::make_unique<SettingsPage>(config, agent, m_panel.get());
        m_page->resize(900, 640);
        m_page->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_page.get()));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(QDir::setCurrent(m_dir.path()));
        CPJSIPSUA::startupLibrary();
        agent.setDataDirectory(m_dir.filePath(QStringLiteral("sipdata")));
    }

    void init()
    {
        config = m_defaults;
        config.filePath = m_dir.filePath(QStringLiteral("TesmarDispatcher.xml"));
        QFile::remove(config.filePath);
        config.currentLoginAddress = QStringLiteral("1001@127.0.0.1");
        config.currentSipPassword = QStringLiteral("pw1001");
        // Registrations go to a port where nobody answers.
        agent.setRegistrarPort(freePort());
        QVERIFY2(agent.Init(), qPrintable(agent.initError()));
        QVERIFY(agent.addAccount("1001@127.0.0.1", "pw1001"));
        m_panel = std::make_unique<ErrorPanel>();
    }

    void cleanup()
    {
        m_page.reset();
        m_panel.reset();
        agent.Deinit();
    }

    void cleanupTestCase() { CPJSIPSUA::shutdownLibrary(); }

    void navigationFiltersAndCancel()
    {
        config.sipTransport = XMLConfig::TransportUdp;
        config.sipClientReregistration = 600;
        config.displayDisconnected = 0;
        config.mediaPort = 0;
        config.switchToConference = XMLConfig::SwitchForced;
        config.phoneBookFontSize = 15; // not offered: the first size is shown
        config.warningUsers = QStringList{"1002", "1003"};
        build();

        const auto selectors =
            m_page->findChild<QWidget *>("settingsSelector")->findChildren<QPushButton *>();
        QCOMPARE(selectors.size(), 5);
        for (int i = 4; i >= 0; --i) {
            QTest::mouseClick(selectors[i], Qt::LeftButton);
            QCOMPARE(m_page->stack()->currentIndex(), i);
        }
        QCOMPARE(m_page->title()->text(), QString("Настройки соединения"));

        // Filled from the configuration: 0 of a port as empty, 0 of a period as itself.
        QCOMPARE(child<QLineEdit>("MediaPort")->text(), QString());
        QCOMPARE(child<QLineEdit>("DisplayDisconnected")->text(), QString("0"));
        QCOMPARE(child<QComboBox>("SwitchToConference")->currentIndex(), 3);
        QCOMPARE(child<QComboBox>("PhoneBookFontSize")->currentText(), QString("8"));
        QCOMPARE(child<QPlainTextEdit>("WarningForUser")->toPlainText(), QString("1002 1003"));
        QVERIFY(!m_page->saveButton()->isEnabled() && !m_page->cancelButton()->isEnabled());

        // The media port keeps a port number whatever is typed.
        type("MediaPort", "70000");
        QCOMPARE(child<QLineEdit>("MediaPort")->text(), QString("7000"));
        type("MediaPort", "12a3");
        QCOMPARE(child<QLineEdit>("MediaPort")->text(), QString("123"));
        QCOMPARE(SettingsController::filterMediaPort(QString::fromUtf8("٤٥x6")), QString("456"));
        QVERIFY(m_page->saveButton()->isEnabled() && m_page->cancelButton()->isEnabled());
        // Blanks stay out of names.
        type("PrimaryConferenceId", "main hall");
        QCOMPARE(child<QLineEdit>("PrimaryConferenceId")->text(), QString("mainhall"));

        child<QComboBox>("SIPTransport")->setCurrentIndex(2);
        child<QCheckBox>("ShowLog")->setChecked(false);
        auto *speaker = child<QSlider>("OutputSoundDeviceVolume");
        speaker->setValue(40);
        QCOMPARE(speakerLevel, 40);

        // Cancel puts everything back, the level the slider applied included.
        QTest::mouseClick(m_page->cancelButton(), Qt::LeftButton);
        QCOMPARE((QStringList{child<QLineEdit>("MediaPort")->text(),
                              child<QLineEdit>("PrimaryConferenceId")->text()}),
                 (QStringList{"", "0"}));
        QVERIFY(child<QComboBox>("SIPTransport")->currentIndex() == 0 &&
                child<QCheckBox>("ShowLog")->isChecked());
        QVERIFY(speaker->value() == 100 && speakerLevel == 100);
        QVERIFY(!m_page->saveButton()->isEnabled() && !m_page->cancelButton()->isEnabled());
        QVERIFY(!QFile::exists(config.filePath));
    }

    void saveWithoutRestartRoundTrip()
    {
        build();
        QSignalSpy started(&agent, &CPJSIPSUA::initialised);
        QSignalSpy changed(m_page.get(), &SettingsPage::configChanged);
        QSignalSpy policy(m_page.get(), &SettingsPage::conferencePolicyChanged);
        QSignalSpy warnings(m_page.get(), &SettingsPage::warningUsersChanged);
        QSignalSpy font(m_page.get(), &SettingsPage::phoneBookFontSizeChanged);
        QSignalSpy boxes(m_page.get(), &SettingsPage::warning);
        const int sipPort = agent.transportPort(CPJSIPSUA::Transport::Udp);

        // Transport and period only: the account follows without a restart.
        child<QComboBox>("SIPTransport")->setCurrentIndex(1);
        type("SIPClientReregistration", "");
        type("TelephoneGateway", "  city  ");
        type("CallTimeout", "");
        type("DisplayFailedCalls", "0");
        type("PrimaryConferenceId", "");
        type("NewConferencePrefix", "смена_");
        type("ESLPort", "18021");
        type("DBPort", "");
        child<QComboBox>("SwitchToConference")->setCurrentIndex(0);
        child<QComboBox>("PhoneBookFontSize")->setCurrentText("20");
        child<QPlainTextEdit>("WarningForUser")->setPlainText("  1002\n\n1003   1004 ");
        QTest::mouseClick(m_page->saveButton(), Qt::LeftButton);

        QCOMPARE(boxes.count(), 0);
        QCOMPARE(m_page->fieldError(Field::File), QString());
        QVERIFY(!m_page->controller()->agentRestarted());
        QCOMPARE(agent.transportPort(CPJSIPSUA::Transport::Udp), sipPort);
        QVERIFY(agent.registrarUri().endsWith(";transport=tcp") && agent.hasAccount());
        QCOMPARE(agent.registrationTimeout(), 3600);
        QVERIFY(!m_page->saveButton()->isEnabled() && !m_page->cancelButton()->isEnabled());
        QCOMPARE(changed.count() + policy.count(), 2);
        QCOMPARE(warnings.value(0).value(0).toStringList(), (QStringList{"1002", "1003", "1004"}));
        QCOMPARE(font.value(0).value(0).toInt(), 20);

        const auto f = stored();
        QCOMPARE((QVariantList{f->sipTransport, f->sipClientReregistration, f->telephoneGateway,
                               f->callTimeout, f->displayFailedCalls, f->primaryConferenceId,
                               f->newConferencePrefix, f->eslPort, f->dbPort, f->switchToConference,
                               f->phoneBookFontSize, f->warningUsers, f->sipPort}),
                 (QVariantList{1, 3600, "city", 120, 0, "0", "смена_", 18021, 0, 0, 20,
                               QStringList{"1002", "1003", "1004"}, 0}));
        // The core came up once, before the page; nothing restarted it.
        QTest::qWait(100);
        QCOMPARE(started.count(), 0);

        // A fresh page shows what was saved.
        m_page.reset();
        build();
        QCOMPARE((QStringList{m_page->form().telephoneGateway, m_page->form().reregistration,
                              m_page->form().warningForUser}),
                 (QStringList{"city", "3600", "1002 1003 1004"}));
    }

    void transportChangeRegistersOverTcp()
    {
        // A registrar that listens on TCP only: the agent reaches it once the
        // page has switched the transport.
        if (QStandardPaths::findExecutable("sipp").isEmpty())
            QSKIP("sipp is not installed (scripts/install-deps)");
        const int port = freePort();
        QProcess sipp;
        sipp.setProcessChannelMode(QProcess::MergedChannels);
        const QString args = QString("-t t1 -i 127.0.0.1 -p %1 -m 1 -nostdin -timeout 30s -cp %2 -mp %3 "
                                     "-set password pw-tcp")
                                 .arg(port)
                                 .arg(freePort())
                                 .arg(freePort());
        sipp.start("sipp", args.split(' ') + QStringList{"-sf", SIP_SCENARIO_DIR "/registrar_digest.xml",
                                                         "-set", "refusal", ""});
        QVERIFY(sipp.waitForStarted());
        QTest::qWait(300);
        config.currentLoginAddress = QStringLiteral("dispatcher@127.0.0.1");
        config.currentSipPassword = QStringLiteral("pw-tcp");
        agent.setRegistrarPort(port);
        QVERIFY(agent.addAccount("dispatcher@127.0.0.1", "pw-tcp"));
        build();
        QSignalSpy registered(&agent, &CPJSIPSUA::registrationOK);
        QTest::qWait(500);
        QCOMPARE(registered.count(), 0);

        child<QComboBox>("SIPTransport")->setCurrentIndex(XMLConfig::TransportTcp);
        QTest::mouseClick(m_page->saveButton(), Qt::LeftButton);
        QVERIFY(!m_page->controller()->agentRestarted());
        QTRY_COMPARE_WITH_TIMEOUT(registered.count(), 1, 15000);
        QVERIFY(sipp.state() == QProcess::NotRunning || sipp.waitForFinished(15000));
        QVERIFY2(sipp.exitCode() == 0, sipp.readAll().constData());
    }

    void refusedSettingsAndTheRestApplied()
    {
        build();
        QSignalSpy boxes(m_page.get(), &SettingsPage::warning);
        QUdpSocket taken;
        QVERIFY(taken.bind(QHostAddress(QHostAddress::AnyIPv4), 0, QAbstractSocket::DontShareAddress));
        const int busy = taken.localPort();

        type("SIPPort", QString::number(busy));
        type("certFile", m_dir.filePath("missing.pem"));
        type("TelephoneGateway", "pstn/x");
        type("UserFileTemplate", "/etc/freeswitch/users.xml");
        child<QPlainTextEdit>("WarningForUser")->setPlainText("1002 10'03");
        type("AlarmDelay", "45");
        child<QComboBox>("SRTPMode")->setCurrentIndex(1);
        QTest::mouseClick(m_page->saveButton(), Qt::LeftButton);

        QVERIFY(m_page->fieldError(Field::SipPort).contains(QString("Порт %1 уже занят").arg(busy)));
        QVERIFY(m_page->fieldError(Field::CertFile).contains("не найден"));
        QVERIFY(!m_page->fieldError(Field::TelephoneGateway).isEmpty());
        QVERIFY(m_page->fieldError(Field::UserFileTemplate).contains("%1"));
        QVERIFY(m_page->fieldError(Field::WarningForUser).contains("'"));
        QCOMPARE(m_page->fieldError(Field::AlarmDelay), QString());
        QCOMPARE(m_page->stack()->currentIndex(), int(SettingsPage::Connection));
        // What could not be taken stays on the page to correct.
        QVERIFY(m_page->saveButton()->isEnabled());
        QCOMPARE(child<QLineEdit>("SIPPort")->text(), QString::number(busy));

        // The rest is stored and applied: the SRTP change restarted the agent on its old port.
        QCOMPARE(boxes.count(), 0);
        QVERIFY(m_page->controller()->agentRestarted());
        QVERIFY(agent.isInitialised() && agent.hasAccount());
        const auto f = stored();
        QCOMPARE((QVariantList{f->alarmDelay, f->srtpMode, f->sipPort, f->certFile, f->telephoneGateway,
                               f->userFileTemplate, f->warningUsers}),
                 (QVariantList{45, 1, 0, "", "pstn", m_defaults.userFileTemplate, QStringList()}));

        // Corrected, the port is taken: the agent listens there now and the messages go.
        const int port = freePort();
        type("SIPPort", QString::number(port));
        type("certFile", "");
        type("TelephoneGateway", "");
        type("UserFileTemplate", "/srv/users/%1.xml");
        child<QPlainTextEdit>("WarningForUser")->setPlainText("1002");
        QTest::mouseClick(m_page->saveButton(), Qt::LeftButton);
        QCOMPARE(m_page->fieldError(Field::SipPort) + m_page->fieldError(Field::WarningForUser), QString());
        QVERIFY(!m_page->saveButton()->isEnabled());
        QCOMPARE(agent.transportPort(CPJSIPSUA::Transport::Udp), port);
        QCOMPARE(stored()->sipPort, port);

        // A port held on IPv6 only passes the IPv4 probe but fails the agent's start: back on
        // the running settings the dispatcher stays registered, and no box is needed.
        const int held = freePort();
        QTcpServer tcp;
        QUdpSocket udp;
        QVERIFY(tcp.listen(QHostAddress(QHostAddress::AnyIPv6), held));
        QVERIFY(udp.bind(QHostAddress(QHostAddress::AnyIPv6), held, QAbstractSocket::DontShareAddress));
        type("SIPPort", QString::number(held));
        type("CallTimeout", "77");
        QTest::mouseClick(m_page->saveButton(), Qt::LeftButton);
        QVERIFY2(m_page->fieldError(Field::SipPort).startsWith("Не применено, SIP не запускается: "),
                 qPrintable(m_page->fieldError(Field::SipPort)));
        QVERIFY(boxes.isEmpty() && agent.isInitialised() && agent.hasAccount());
        QCOMPARE(agent.transportPort(CPJSIPSUA::Transport::Udp), port);
        QCOMPARE((QList<int>{config.sipPort, stored()->sipPort, stored()->callTimeout}),
                 (QList<int>{port, port, 77}));

        // An unwritable file is reported at the buttons, not half-written.
        const QByteArray savedBefore = [&] {
            QFile f(config.filePath);
            f.open(QIODevice::ReadOnly);
            return f.readAll();
        }();
        config.filePath = m_dir.filePath("no-such-dir/TesmarDispatcher.xml");
        type("AlarmDelay", "50");
        QTest::mouseClick(m_page->saveButton(), Qt::LeftButton);
        QVERIFY(m_page->fieldError(Field::File).contains("no-such-dir"));
        QFile old(m_dir.filePath("TesmarDispatcher.xml"));
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), savedBefore);
    }

    void audioLevelsTestsAndAlarm()
    {
        // A sink of its own: other suites' sinks come and go, and with any of them
        // loaded PulseAudio drops its stand-in sink.
        const QString device = QStringLiteral("tesmar_settings_%1").arg(QCoreApplication::applicationPid());
        QProcess pactl;
        pactl.start("pactl", {"load-module", "module-null-sink", "sink_name=" + device});
        if (!pactl.waitForFinished(5000) || pactl.exitCode() != 0)
            QSKIP("no PulseAudio (scripts/start-test-services starts it)");
        const QString module = QString::fromLatin1(pactl.readAllStandardOutput()).trimmed();
        const auto unload = qScopeGuard([&] { QProcess::execute("pactl", {"unload-module", module}); });
        QTRY_VERIFY(SettingsController::systemOutputDevices().contains(device));
        config.systemDeviceName = device;
        build();
        QSignalSpy unmuted(m_page.get(), &SettingsPage::microphoneUnmuted);
        m_page->AudioEditButtonPressed();

        child<QSlider>("InputSoundDeviceVolume")->setValue(30);
        QCOMPARE(microphoneLevel, 30);
        QCOMPARE(unmuted.count(), 1);
        child<QSlider>("SystemSoundDeviceVolume")->setValue(25);
        QCOMPARE(m_panel->volume(), 25);

        // The alarm sounds on the default device while a warning is up.
        m_panel->addError(QStringLiteral("Нет ответа от сервера FreeSwitch"));
        m_panel->setAudioDevice(SettingsController::alarmDevice(config));
        QTRY_VERIFY_WITH_TIMEOUT(
            m_panel->audioOutput() && m_panel->audioOutput()->state() == QAudio::ActiveState, 10000);

        // The system test plays there too, and stopping it leaves the alarm running.
        auto buttons = m_page->findChild<QWidget *>("audioPreferences")->findChildren<QPushButton *>();
        QCOMPARE(buttons.size(), 4);
        m_page->systemStartSoundTest();
        QVERIFY(m_panel->isTesting() && !buttons[2]->isEnabled() && buttons[3]->isEnabled());
        m_page->systemStopSoundTest();
        QVERIFY(!m_panel->isTesting() && buttons[2]->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(
            m_panel->audioOutput() && m_panel->audioOutput()->state() == QAudio::ActiveState, 10000);

        // Switched off, the running alarm stops at once.
        m_page->MiscalleousButtonPressed();
        child<QCheckBox>("AlarmSound")->setChecked(false);
        QTest::mouseClick(m_page->saveButton(), Qt::LeftButton);
        QVERIFY(!m_panel->audioOutput());
        const auto f = stored();
        QVERIFY(!f->alarmSound && SettingsController::alarmDevice(*f).isEmpty());
        QCOMPARE((QList<int>{f->inputVolume, f->systemVolume}), (QList<int>{30, 25}));
        // A test with the alarm off does not leave the alarm switched on.
        m_page->systemStartSoundTest();
        m_page->systemStopSoundTest();
        QVERIFY(!m_panel->audioOutput());

        // The conference test plays on the chosen playback device of the agent.
        m_page->pjsipStartSoundTest();
        QVERIFY(agent.soundTestRunning() && !buttons[0]->isEnabled() && buttons[1]->isEnabled());
        m_page->pjsipStopSoundTest();
        QVERIFY(!agent.soundTestRunning() && buttons[0]->isEnabled());

        // Devices that are gone by the time of the save are named at their fields.
        for (const char *name : {"SystemSoundDeviceName", "InputSoundDeviceName"}) {
            auto *box = child<QComboBox>(name);
            box->addItem(QStringLiteral("unplugged-card"));
            box->setCurrentText(QStringLiteral("unplugged-card"));
        }
        QTest::mouseClick(m_page->saveButton(), Qt::LeftButton);
        QVERIFY(m_page->fieldError(Field::SystemDevice).contains("unplugged-card"));
        QVERIFY(m_page->fieldError(Field::InputDevice).contains("unplugged-card"));
        QCOMPARE(stored()->systemDeviceName + stored()->inputDeviceName,
                 f->systemDeviceName + f->inputDeviceName);
    }

    void screenshots()
    {
        // TESMAR_SCREENSHOT_DIR=<dir> keeps a picture of each sub-page (scripts/screenshots).
        const QString shots = qEnvironmentVariable("TESMAR_SCREENSHOT_DIR");
        if (shots.isEmpty())
            QSKIP("TESMAR_SCREENSHOT_DIR not set");
        qApp->setStyleSheet(Startup::styleSheet());
        config.warningUsers = QStringList{"1002", "1003"};
        build();
        m_page->resize(1000, 700);
        for (int i = 0; i < m_page->stack()->count(); ++i) {
            m_page->findChild<QWidget *>("settingsSelector")->findChildren<QPushButton *>()[i]->click();
            if (i == 0) {
                type("certFile", "/nonexistent/cert.pem");
                QTest::mouseClick(m_page->saveButton(), Qt::LeftButton);
                m_page->ConnectionEditButtonPressed();
            }
            QTest::qWait(50);
            const QString name = m_page->stack()->widget(i)->objectName();
            QVERIFY(m_page->grab().save(QDir(shots).filePath("settings-" + name + ".png")));
        }
        qApp->setStyleSheet(QString());
    }
};

QTEST_MAIN(SettingsPageTest)
#include "settingspage_test.moc"
