// The console's own SIP agent against the lab's SIP side: digest registration with the right
// and a wrong password, the call into a conference with media both ways, and the SRTP
// settings of the console against the server's rtp_secure_media.

#include "app/xmlconfig.h"
#include "lab/labevent.h"
#include "lab/labrtpsession.h"
#include "lab/labsipcall.h"
#include "lab/labsipstack.h"
#include "sip/cpjsipsua.h"
#include "tests/lab/labclient.h"
#include "tests/lab/labfixture.h"
#include "tests/support/freemediaport.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

namespace {

// The console's own template for calling a user into a conference, with its loud-alarm leg.
QByteArray originate(const QString &uuid, const QString &secure = "forbidden")
{
    return QString(
               "bgapi originate {originate_timeout=30,origination_caller_id_name='room1',rtp_secure_media="
               "%2,origination_caller_id_number=room1,origination_callee_id_name='Тест'}[api_hangup_"
               "hook='originate loopback/1001@127.0.0.1/answered 0',origination_uuid=%1]user/1001@127.0.0.1,"
               "[leg_delay_start=30]loopback/1001@127.0.0.1/alarm room1 XML conference\n\n")
        .arg(uuid, secure)
        .toUtf8();
}

QString jobResult(LabClient &c, const QByteArray &command)
{
    const QByteArray job = c.request(command).header("Job-UUID");
    return c.waitEvent("Job-UUID", job, 15000).field("_body");
}

} // namespace

class LabSipConsoleTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    XMLConfig m_defaults;
    CPJSIPSUA &ua = CPJSIPSUA::instance();
    XMLConfig &config = XMLConfig::instance();

    // Starts the agent and registers 1001 at the lab; false if that fails.
    bool registerConsole(LabFixture &lab, LabClient &c)
    {
        if (!ua.Init())
            return false;
        QSignalSpy ok(&ua, &CPJSIPSUA::registrationOK);
        ua.setRegistrarPort(lab.server().sip()->port());
        return ua.addAccount("1001@127.0.0.1", "pw1001") && (ok.count() > 0 || ok.wait(10000)) &&
               !c.waitEvent("Event-Subclass", "sofia::register").body.isEmpty();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(QDir::setCurrent(m_dir.path()));
        CPJSIPSUA::startupLibrary();
        ua.setDataDirectory(m_dir.filePath("sipdata"));
    }
    void init()
    {
        config = m_defaults;
        config.mediaPort = freeMediaPort();
    }
    void cleanup()
    {
        ua.Deinit();
        ua.setRegistrarPort(0);
    }
    void cleanupTestCase() { CPJSIPSUA::shutdownLibrary(); }

    void registersAndIsCalledIntoAConference()
    {
        LabFixture lab(1.0, {}, "127.0.0.1:0");
        QVERIFY(lab.ok() && lab.server().sip());
        LabClient c;
        QVERIFY(c.login(lab.port()));
        QVERIFY2(ua.Init(), qPrintable(ua.initError()));
        ua.setRegistrarPort(lab.server().sip()->port());
        QSignalSpy ok(&ua, &CPJSIPSUA::registrationOK);
        QSignalSpy refused(&ua, &CPJSIPSUA::registrationError);

        // A wrong password is refused with the server's reason.
        QVERIFY(ua.addAccount("1001@127.0.0.1", "pw1002"));
        QTRY_COMPARE_WITH_TIMEOUT(refused.count(), 1, 10000);
        QCOMPARE(refused.value(0).value(0).toString(), "403 Forbidden");
        QCOMPARE(ok.count(), 0);
        QVERIFY(c.api("list_users user 1001").body.contains("|error/user_not_registered|"));

        QVERIFY(ua.addAccount("1001@127.0.0.1", "pw1001"));
        QTRY_COMPARE_WITH_TIMEOUT(ok.count(), 1, 10000);
        const LabFrame reg = c.waitEvent("Event-Subclass", "sofia::register");
        QCOMPARE(reg.field("from-user"), "1001");
        QCOMPARE(reg.field("network-port"), QString::number(ua.transportPort(CPJSIPSUA::Transport::Udp)));

        // The server calls the console into a conference; the console answers at once.
        const QString uuid = LabEvent::newUuid();
        QCOMPARE(jobResult(c, originate(uuid)), "+OK " + uuid + "\n");
        const LabFrame added = c.waitEvent([&](const LabFrame &f) {
            return f.field("Action") == "add-member" && f.field("Unique-ID") == uuid;
        });
        QCOMPARE(added.field("Caller-Caller-ID-Name"), "Тест");
        QTRY_VERIFY_WITH_TIMEOUT(ua.activeSpeakerGain() >= 0, 5000);
        // Media flows both ways: the lab hears the console's stream and feeds it the mix.
        const LabRtpSession *media = lab.server().sip()->findCall(uuid)->media();
        QTRY_VERIFY_WITH_TIMEOUT(media->packetsReceived() > 25 && media->packetsSent() > 25, 10000);

        // Kicking the member ends the console's call.
        QVERIFY(c.api("conference room1 kick all").body.startsWith("+OK kicked"));
        QTRY_COMPARE_WITH_TIMEOUT(ua.activeSpeakerGain(), -1.0f, 5000);

        // Logging out takes the binding away at once: the server must not keep calling a
        // console that is gone until the registration expires.
        QVERIFY(ua.Deinit());
        QCOMPARE(c.waitEvent("Event-Subclass", "sofia::unregister").field("from-user"), "1001");
        QVERIFY(c.api("list_users user 1001").body.contains("|error/user_not_registered|"));
    }

    void secureMediaCombinations_data()
    {
        QTest::addColumn<int>("console");
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("result"); // "srtp" or "rtp"
        QTest::newRow("mandatory both") << int(XMLConfig::SrtpMandatory) << "mandatory"
                                        << "srtp";
        // The console's agent answers an offer in the plain profile without keys when SRTP is optional.
        QTest::newRow("console optional, server optional") << int(XMLConfig::SrtpOptional) << "optional"
                                                           << "rtp";
        // ... and takes a secure-profile offer with keys even with SRTP switched off.
        QTest::newRow("console disabled, server mandatory") << int(XMLConfig::SrtpDisabled) << "mandatory"
                                                            << "srtp";
    }

    void secureMediaCombinations()
    {
        QFETCH(int, console);
        QFETCH(QString, server);
        QFETCH(QString, result);
        config.srtpMode = console;
        LabFixture lab(1.0, {}, "127.0.0.1:0");
        QVERIFY(lab.ok() && lab.server().sip());
        LabClient c;
        QVERIFY(c.login(lab.port()));
        QVERIFY(registerConsole(lab, c));

        const QString uuid = LabEvent::newUuid();
        QCOMPARE(jobResult(c, originate(uuid, server)), "+OK " + uuid + "\n");
        LabRtpSession *media = lab.server().sip()->findCall(uuid)->media();
        QCOMPARE(media->srtp().active(), result == "srtp");
        // Packets the lab could not open are dropped: counting them proves the keys agree.
        QTRY_VERIFY2_WITH_TIMEOUT(media->packetsReceived() > 25,
                                  qPrintable(QStringLiteral("%1 packets, %2 undecryptable")
                                                 .arg(media->packetsReceived())
                                                 .arg(media->packetsUndecryptable())),
                                  15000);
        QVERIFY(c.api("uuid_kill " + uuid.toUtf8()).body == "+OK\n");
        QTRY_COMPARE_WITH_TIMEOUT(ua.activeSpeakerGain(), -1.0f, 5000);
    }
};

QTEST_GUILESS_MAIN(LabSipConsoleTest)
#include "labsipconsole_test.moc"
