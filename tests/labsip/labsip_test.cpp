// The lab's SIP side against sipp on loopback: digest registration and its events, expiry,
// calls answered, refused and left ringing, the media both ways with real levels, playback
// into the conference, talking from real audio, and the SRTP modes of the offer.

#include "lab/labevent.h"
#include "lab/labg711.h"
#include "lab/labsipstack.h"
#include "tests/lab/labclient.h"
#include "tests/lab/labfixture.h"
#include "tests/labsip/rtpprobe.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QString sippPath()
{
    return QStandardPaths::findExecutable(QStringLiteral("sipp"));
}

QString scenario(const QString &name)
{
    return QStringLiteral(LABSIP_SCENARIO_DIR "/") + name;
}

quint16 freeUdpPort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress(QHostAddress::LocalHost), 0);
    return probe.localPort();
}

// One sipp run in a folder of its own, so that its log can be read afterwards.
class Sipp
{
public:
    explicit Sipp(quint16 port) : m_port(port) {}
    ~Sipp()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }

    bool start(const QString &file, const QStringList &args, const QString &remote = QString())
    {
        m_process.setWorkingDirectory(m_dir.path());
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        QStringList all;
        if (!remote.isEmpty())
            all << remote;
        all << "-sf" << file << args << "-p" << QString::number(m_port) << "-mp"
            << QString::number(freeUdpPort());
        all += QStringLiteral("-i 127.0.0.1 -m 1 -nostdin -timeout 20s -trace_logs").split(' ');
        m_process.start(sippPath(), all);
        // sipp needs a moment before its socket answers.
        return m_process.waitForStarted() && (QTest::qWait(250), true);
    }
    // True once the scenario ran to its end.
    bool succeeded(int timeoutMs = 15000)
    {
        LabClient::waitUntil([this] { return m_process.state() == QProcess::NotRunning; }, timeoutMs);
        return m_process.state() == QProcess::NotRunning && m_process.exitStatus() == QProcess::NormalExit &&
               m_process.exitCode() == 0;
    }
    QString log() const
    {
        QString all;
        const QDir dir(m_dir.path());
        for (const QString &name : dir.entryList({"*_logs.log"})) {
            QFile f(dir.filePath(name));
            if (f.open(QIODevice::ReadOnly))
                all += QString::fromUtf8(f.readAll());
        }
        return all;
    }
    QString output() { return QString::fromUtf8(m_process.readAll()).right(1500); }

private:
    quint16 m_port;
    QTemporaryDir m_dir;
    QProcess m_process;
};

// Registers a user from the given local port; returns sipp's logged outcome ("outcome=200").
QString registration(quint16 sipPort, quint16 localPort, const QString &user, const QString &password,
                     int expires, const QStringList &extra = {})
{
    Sipp sipp(localPort);
    if (!sipp.start(scenario("register.xml"),
                    QStringList{"-s", user, "-au", user, "-ap", password, "-set", "expires",
                                QString::number(expires)} +
                        extra,
                    QStringLiteral("127.0.0.1:%1").arg(sipPort)))
        return "sipp did not start";
    if (!sipp.succeeded())
        return "sipp failed: " + sipp.output();
    return sipp.log().trimmed();
}

// The console's originate of a user into a conference, without the alarm leg.
QByteArray originate(const QString &uuid, int timeout, const QString &secure = "forbidden",
                     const QString &callerName = "room1")
{
    return QString("bgapi originate {originate_timeout=%1,origination_caller_id_name='%4',"
                   "origination_caller_id_number=room1,rtp_secure_media=%2}[origination_uuid=%3]"
                   "user/1005@127.0.0.1 room1 XML conference\n\n")
        .arg(timeout)
        .arg(secure, uuid, callerName)
        .toUtf8();
}

QString jobResult(LabClient &c, const QByteArray &command)
{
    const QByteArray job = c.request(command).header("Job-UUID");
    return c.waitEvent("Job-UUID", job, 15000).field("_body");
}

LabClient::Match memberAction(const QString &action, const QString &uuid)
{
    return [=](const LabFrame &f) { return f.field("Action") == action && f.field("Unique-ID") == uuid; };
}

// The lab's comfort tone (425 Hz, quiet) as the far end measures it.
bool isComfortTone(const RtpProbe::Measure &m)
{
    return m.level > 100 && m.level < 250;
}

} // namespace

class LabSipTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        if (sippPath().isEmpty())
            QSKIP("sipp (package sip-tester) is not installed");
    }

    void g711MatchesTheStandardTables();
    void registrationsFireEventsAndExpire();
    void answeredCallCarriesConferenceAudioBothWays();
    void calleeHoldsThenHangsUp();
    void refusalsGiveTheServersCauses_data();
    void refusalsGiveTheServersCauses();
    void secureMediaModes_data();
    void secureMediaModes();

private:
    // A lab with SIP on a free port, a subscribed client, user 1005 registered from the callee's
    // port, and the probe that will be the callee's media.
    struct Rig
    {
        LabFixture lab{1.0, {}, "127.0.0.1:0"};
        LabClient client;
        quint16 calleePort = freeUdpPort();
        Sipp callee{calleePort};
        RtpProbe probe;

        bool answerWith(const QString &file, const QString &profile = "RTP/AVP",
                        const QString &crypto = "a=sendrecv")
        {
            return callee.start(scenario(file), {"-set", "rtpport", QString::number(probe.port()), "-set",
                                                 "profile", profile, "-set", "crypto", crypto});
        }
    };
    bool setUp(Rig &rig)
    {
        return rig.lab.ok() && rig.lab.server().sip() && rig.client.login(rig.lab.port()) &&
               rig.probe.bind() &&
               registration(rig.lab.server().sip()->port(), rig.calleePort, "1005", "pw1005", 300) ==
                   "outcome=200";
    }
};

void LabSipTest::g711MatchesTheStandardTables()
{
    // The probe decodes with the same tables, so a symmetric slip would go unheard: anchor
    // silence and the extremes of both laws, then every code must survive a round trip.
    QCOMPARE(LabG711::linearToUlaw(0), quint8(0xFF));
    QCOMPARE(LabG711::ulawToLinear(0x80), qint16(32124));
    QCOMPARE(LabG711::linearToAlaw(-1), quint8(0x55));
    QCOMPARE(LabG711::alawToLinear(0xAA), qint16(32256));
    QCOMPARE(LabG711::alawToLinear(0xD5), qint16(8));
    for (int code = 0; code < 256; ++code) {
        QCOMPARE(LabG711::linearToAlaw(LabG711::alawToLinear(quint8(code))), quint8(code));
        if (code != 0x7F) // 0x7F and 0xFF both decode to 0 in mu-law
            QCOMPARE(LabG711::linearToUlaw(LabG711::ulawToLinear(quint8(code))), quint8(code));
    }
}

void LabSipTest::registrationsFireEventsAndExpire()
{
    LabFixture lab(1.0, {}, "127.0.0.1:0");
    QVERIFY(lab.ok() && lab.server().sip());
    LabClient c;
    QVERIFY(c.login(lab.port()));
    const quint16 sip = lab.server().sip()->port();
    const quint16 port = freeUdpPort();
    const QString contact = QStringLiteral("sip:1002@127.0.0.1:%1").arg(port);

    QCOMPARE(registration(sip, port, "1002", "pw1002", 60), "outcome=200");
    const LabFrame reg = c.waitEvent("Event-Subclass", "sofia::register");
    // The fields the simulated path cannot get wrong: they come from the REGISTER itself.
    QCOMPARE(reg.mismatches({{"expires", "60"},
                             {"status", "Registered(UDP)"},
                             {"network-port", QString::number(port)},
                             {"contact", "\"\" <" + contact + ">"},
                             {"user-agent", "tesmar-test-sipp"}}),
             QString());
    QCOMPARE(c.waitEvent("Event-Name", "PRESENCE_IN").field("status"), "Registered");
    QVERIFY(c.api("list_users user 1002").body.contains("|sofia/internal/" + contact.toUtf8() + "|"));

    // Expires 0 removes the binding: presence first, then the unregistration.
    QCOMPARE(registration(sip, port, "1002", "pw1002", 0), "outcome=200");
    QCOMPARE(c.waitEvent("Event-Name", "PRESENCE_IN").field("status"), "Unregistered");
    QCOMPARE(c.nextFrame().field("Event-Subclass"), "sofia::unregister");
    QVERIFY(c.api("list_users user 1002").body.contains("|error/user_not_registered|"));

    // A wrong password and an unknown user are refused alike and register nothing.
    const quint16 other = freeUdpPort();
    QCOMPARE(registration(sip, other, "1003", "pw1002", 60), "outcome=403");
    QCOMPARE(registration(sip, other, "1999", "pw1999", 60), "outcome=403");
    QVERIFY(c.api("list_users user 1003").body.contains("|error/user_not_registered|"));
    QTest::qWait(100);
    for (const LabFrame &f : c.takeEvents())
        QVERIFY2(!f.field("Event-Subclass").startsWith("sofia::"), f.body.constData());

    // Over TCP the registration says so.
    QCOMPARE(registration(sip, other, "1003", "pw1003", 60, {"-t", "t1"}), "outcome=200");
    QCOMPARE(c.waitEvent("Event-Subclass", "sofia::register").field("status"), "Registered(TCP)");

    // A short registration runs out on its own.
    QCOMPARE(registration(sip, port, "1005", "pw1005", 2), "outcome=200");
    c.waitEvent("Event-Subclass", "sofia::register");
    QVERIFY(c.api("list_users user 1005").body.contains("|sofia/internal/sip:1005@"));
    const LabFrame expired = c.waitEvent("Event-Subclass", "sofia::expire", 4000);
    QCOMPARE(expired.field("user"), "1005");
    QVERIFY(expired.field("expires").toLongLong() > 1700000000); // absolute time
    QVERIFY(c.api("list_users user 1005").body.contains("|error/user_not_registered|"));
    QCOMPARE(jobResult(c, originate(LabEvent::newUuid(), 5)), "-ERR USER_NOT_REGISTERED\n");
}

void LabSipTest::answeredCallCarriesConferenceAudioBothWays()
{
    Rig rig;
    QVERIFY(setUp(rig));
    LabClient &c = rig.client;
    RtpProbe &probe = rig.probe;
    Sipp &callee = rig.callee;
    QVERIFY(rig.answerWith("callee.xml"));

    const QString uuid = LabEvent::newUuid();
    // A quote in the caller name must not end the From header's display name early.
    QCOMPARE(jobResult(c, originate(uuid, 10, "forbidden", "Зал \"1\"")), "+OK " + uuid + "\n");
    const LabFrame added = c.waitEvent(memberAction("add-member", uuid));
    QVERIFY2(callee.log().contains(QStringLiteral("\"Зал 1\" <sip:room1@127.0.0.1>;tag=")),
             qPrintable(callee.log()));
    QCOMPARE(added.field("Channel-Presence-ID"), "1005@127.0.0.1");
    QCOMPARE(added.field("Channel-Name"),
             QStringLiteral("sofia/internal/1005@127.0.0.1:%1").arg(rig.calleePort));
    QVERIFY(callee.log().contains("profile=RTP/AVP callerkey=\n"));

    // Nothing plays: the quiet 425 Hz tone, in the law the callee chose.
    RtpProbe::Measure m = probe.measure(500);
    QVERIFY2(m.packets >= 20 && m.packets <= 30 && m.payloadType == LabG711::PayloadPcma &&
                 isComfortTone(m) && qAbs(m.crossings - 17) < 3,
             qPrintable(QStringLiteral("%1 packets, level %2, %3 crossings")
                            .arg(m.packets)
                            .arg(m.level)
                            .arg(m.crossings)));

    // The callee speaks: it is talking, and does not hear itself back.
    probe.talk(8000);
    QCOMPARE(c.waitEvent(memberAction("start-talking", uuid)).field("Talking"), "true");
    m = probe.measure(300);
    QVERIFY2(m.level < 250, qPrintable(QStringLiteral("%1 packets, level %2, %3 crossings")
                                           .arg(m.packets)
                                           .arg(m.level)
                                           .arg(m.crossings)));
    probe.talk(0);
    QCOMPARE(c.waitEvent(memberAction("stop-talking", uuid)).field("Talking"), "false");

    // A recording played into the conference reaches the callee, then the tone returns.
    const QString wav = rig.lab.writeWav("rec.wav", 1500, 1000, 12000);
    QVERIFY(c.api("conference room1 play " + wav.toUtf8()).body.startsWith("+OK (play) Playing file"));
    QTest::qWait(200);
    m = probe.measure(600);
    QVERIFY2(m.level > 6000 && qAbs(m.crossings - 40) < 3,
             qPrintable(QStringLiteral("%1 packets, level %2, %3 crossings")
                            .arg(m.packets)
                            .arg(m.level)
                            .arg(m.crossings)));
    c.waitAction("play-file-done");
    QTest::qWait(100);
    m = probe.measure(300);
    QVERIFY2(isComfortTone(m), qPrintable(QStringLiteral("%1 packets, level %2, %3 crossings")
                                              .arg(m.packets)
                                              .arg(m.level)
                                              .arg(m.crossings)));

    // Kicking the member hangs the call up with a BYE.
    QCOMPARE(c.api("conference room1 kick all").body,
             "+OK kicked " + added.field("Member-ID").toUtf8() + "\n");
    QVERIFY2(callee.succeeded(), qPrintable(callee.output()));
    QTRY_VERIFY_WITH_TIMEOUT(!rig.lab.server().sip()->findCall(uuid), 3000);
}

void LabSipTest::calleeHoldsThenHangsUp()
{
    Rig rig;
    QVERIFY(setUp(rig));
    QVERIFY(rig.answerWith("callee_bye.xml"));
    const QString uuid = LabEvent::newUuid();
    QCOMPARE(jobResult(rig.client, originate(uuid, 10)), "+OK " + uuid + "\n");
    rig.client.waitEvent(memberAction("add-member", uuid));
    // The re-INVITE is accepted and the member stays until the callee's BYE.
    const LabFrame gone = rig.client.waitEvent(memberAction("del-member", uuid), 5000);
    QVERIFY2(rig.callee.log().contains("hold answered"), qPrintable(rig.callee.log()));
    QCOMPARE(gone.field("Hangup-Cause"), "NORMAL_CLEARING");
    QVERIFY2(rig.callee.succeeded(), qPrintable(rig.callee.output()));
    QCOMPARE(rig.client.api("conference room1 count").body, "-ERR Conference room1 not found\n");
}

void LabSipTest::refusalsGiveTheServersCauses_data()
{
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("cause");
    QTest::newRow("busy") << "486 Busy Here"
                          << "USER_BUSY";
    QTest::newRow("decline") << "603 Decline"
                             << "CALL_REJECTED";
    QTest::newRow("unavailable") << "480 Temporarily Unavailable"
                                 << "NO_USER_RESPONSE";
    QTest::newRow("not found") << "404 Not Found"
                               << "UNALLOCATED_NUMBER";
    QTest::newRow("no answer") << QString() << "NO_ANSWER";
}

void LabSipTest::refusalsGiveTheServersCauses()
{
    QFETCH(QString, status);
    QFETCH(QString, cause);
    Rig rig;
    QVERIFY(setUp(rig));
    QTemporaryDir dir;
    QString file = scenario("noanswer.xml");
    if (!status.isEmpty()) {
        QFile f(scenario("refuser.xml"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        file = dir.filePath("refuser.xml");
        QVERIFY(LabFixture::writeFile(file, f.readAll().replace("STATUS", status.toUtf8())));
    }
    QVERIFY(rig.callee.start(file, {}));
    const QString uuid = LabEvent::newUuid();
    // Without an answer, the originate timeout cancels the INVITE.
    QCOMPARE(jobResult(rig.client, originate(uuid, 2)), "-ERR " + cause + "\n");
    QVERIFY2(rig.callee.succeeded(), qPrintable(rig.callee.output()));
    const LabFrame idle = rig.client.waitEvent([&](const LabFrame &f) {
        return f.field("Event-Name") == "PRESENCE_IN" && f.field("Unique-ID") == uuid &&
               f.field("presence-call-info-state") == "idle";
    });
    QCOMPARE(idle.field("from"), "1005@127.0.0.1");
}

void LabSipTest::secureMediaModes_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("answerProfile");
    QTest::addColumn<bool>("answerCrypto");
    QTest::addColumn<QString>("offerProfile");
    QTest::addColumn<bool>("offerCrypto");
    QTest::addColumn<QString>("result"); // "srtp", "rtp" or the failure cause
    QTest::newRow("mandatory, SRTP answer") << "mandatory"
                                            << "RTP/SAVP" << true << "RTP/SAVP" << true << "srtp";
    QTest::newRow("mandatory, plain answer")
        << "mandatory"
        << "RTP/AVP" << false << "RTP/SAVP" << true << "INCOMPATIBLE_DESTINATION";
    QTest::newRow("optional, SRTP answer") << "optional"
                                           << "RTP/AVP" << true << "RTP/AVP" << true << "srtp";
    QTest::newRow("optional, plain answer") << "optional"
                                            << "RTP/AVP" << false << "RTP/AVP" << true << "rtp";
    QTest::newRow("forbidden, answer with keys anyway") << "forbidden"
                                                        << "RTP/AVP" << true << "RTP/AVP" << false << "rtp";
}

void LabSipTest::secureMediaModes()
{
    QFETCH(QString, mode);
    QFETCH(QString, answerProfile);
    QFETCH(bool, answerCrypto);
    QFETCH(QString, offerProfile);
    QFETCH(bool, offerCrypto);
    QFETCH(QString, result);
    Rig rig;
    QVERIFY(setUp(rig));
    RtpProbe &probe = rig.probe;
    Sipp &callee = rig.callee;
    const QByteArray calleeKey = LabSrtp::newKey();
    const QString crypto = answerCrypto ? "a=crypto:1 AES_CM_128_HMAC_SHA1_80 inline:" +
                                              QString::fromLatin1(calleeKey.toBase64())
                                        : QStringLiteral("a=sendrecv");
    QVERIFY(rig.answerWith("callee.xml", answerProfile, crypto));
    const QString uuid = LabEvent::newUuid();
    const QString answered = jobResult(rig.client, originate(uuid, 10, mode));

    const QRegularExpression offer("profile=(\\S+) callerkey=(\\S*)\n");
    const QRegularExpressionMatch offered = offer.match(callee.log());
    QVERIFY2(offered.hasMatch(), qPrintable(callee.log()));
    QCOMPARE(offered.captured(1), offerProfile);
    const QByteArray callerKey = QByteArray::fromBase64(offered.captured(2).toLatin1());
    QCOMPARE(callerKey.size(), offerCrypto ? 30 : 0);

    if (result != "srtp" && result != "rtp") {
        // The callee answered, but not securely: the lab hangs up at once.
        QCOMPARE(answered, "-ERR " + result + "\n");
        QVERIFY2(callee.succeeded(), qPrintable(callee.output()));
        return;
    }
    QCOMPARE(answered, "+OK " + uuid + "\n");
    if (result == "srtp")
        QVERIFY(probe.setSrtp("AES_CM_128_HMAC_SHA1_80", calleeKey, callerKey));
    // Either way the tone must come through intact, and what we send must be understood.
    const RtpProbe::Measure m = probe.measure(400);
    QVERIFY2(
        m.packets >= 15 && probe.undecryptable() == 0 && isComfortTone(m),
        qPrintable(QStringLiteral("%1 packets, %2 undecryptable").arg(m.packets).arg(probe.undecryptable())));
    probe.talk(8000);
    rig.client.waitEvent(memberAction("start-talking", uuid));
    QVERIFY(rig.client.api("uuid_kill " + uuid.toUtf8()).body == "+OK\n");
    QVERIFY2(callee.succeeded(), qPrintable(callee.output()));
}

QTEST_GUILESS_MAIN(LabSipTest)
#include "labsip_test.moc"
