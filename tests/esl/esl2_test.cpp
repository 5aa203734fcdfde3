#include "esl/esl2.h"
#include "tests/support/fakeeslserver.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>

namespace {

QStringList logLines;

void collectLog(QtMsgType, const QMessageLogContext &, const QString &text)
{
    logLines.append(text);
}

int countLog(const QString &text)
{
    return logLines.count(text);
}

// Collects replies the way the models receive them: a named slot called later.
class ReplyCollector : public QObject
{
    Q_OBJECT

public:
    QList<QPair<QString, QVariant>> replies;

public slots:
    void onReply(QString reply, QVariant context) { replies.append(qMakePair(reply, context)); }
};

const QString kSubscription =
    QStringLiteral("event json PRESENCE_IN RELOADXML BACKGROUND_JOB MODULE_LOAD CUSTOM sofia::register "
                   "sofia::expire sofia::unregister conference::maintenance alert::notify\n\n");

// Short periods keep the suite quick; the checks compare counts, never wall-clock bounds.
constexpr int kRequestMs = 300;
constexpr int kReconnectMs = 400;
constexpr int kDelayedMs = 150;
constexpr int kWait = 5000;

} // namespace

// The client against a scripted server on the loopback interface.
class Esl2Test : public QObject
{
    Q_OBJECT

private:
    void login(ESL2 &esl, FakeEslServer &server)
    {
        esl.setTimerIntervalsForTest(kRequestMs, kReconnectMs, kDelayedMs);
        emit esl.sigConnect(server.host(), server.port(), server.password());
        QTRY_VERIFY_WITH_TIMEOUT(esl.isAuthenticated(), kWait);
        QTRY_VERIFY_WITH_TIMEOUT(server.isSubscribed(), kWait);
    }

private slots:
    void init()
    {
        logLines.clear();
        qInstallMessageHandler(collectLog);
    }
    void cleanup() { qInstallMessageHandler(nullptr); }

    void authenticatesSubscribesAndHidesPassword()
    {
        FakeEslServer server;
        server.setPassword(QStringLiteral("s3cr3t-Пароль"));
        ESL2 esl;
        QVERIFY(QMetaType::type("ESL2::Event") != QMetaType::UnknownType);
        // Queued receivers and QML-style consumers may read an event as a generic map.
        const QVariant wrapped =
            QVariant::fromValue(ESL2::Event{{QStringLiteral("Action"), QStringLiteral("add-member")}});
        QVERIFY(wrapped.canConvert<QVariantMap>());
        QCOMPARE(wrapped.value<QVariantMap>().value(QStringLiteral("Action")).toString(),
                 QStringLiteral("add-member"));
        QCOMPARE(ESL2::instance(), &esl);
        QSignalSpy connectedSpy(&esl, &ESL2::connected);

        emit esl.sigConnect(server.host(), server.port(), server.password());
        // sigConnect is queued: nothing happens inside the emitting call.
        QCOMPARE(server.connectionCount(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(esl.isAuthenticated(), kWait);
        QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), 2, kWait);
        QCOMPARE(server.requests().at(0), QStringLiteral("auth s3cr3t-Пароль\n\n"));
        QCOMPARE(server.requests().at(1), kSubscription);
        QCOMPARE(connectedSpy.count(), 1);

        QVERIFY(logLines.contains(QStringLiteral("ESL2: sending request: \"auth **********\\n\\n\"")));
        for (const QString &line : qAsConst(logLines))
            QVERIFY2(!line.contains(QStringLiteral("s3cr3t")), qPrintable(line));

        // A second ESL2 becomes the instance; the first is back only while the second lives.
        {
            ESL2 other;
            QCOMPARE(ESL2::instance(), &other);
        }
        QCOMPARE(ESL2::instance(), nullptr);
    }

    void dispatchesEventsBySignal()
    {
        FakeEslServer server;
        ESL2 esl;
        login(esl, server);
        QSignalSpy connectedSpy(&esl, &ESL2::connected);
        QSignalSpy eventSpy(&esl, &ESL2::event);
        QSignalSpy presenceSpy(&esl, &ESL2::presence);
        QSignalSpy jobSpy(&esl, &ESL2::backgroundJob);
        QSignalSpy registeredSpy(&esl, &ESL2::registeredEvent);
        QSignalSpy conferenceSpy(&esl, &ESL2::conferenceEvent);
        auto name = [](const char *n) {
            return std::make_pair(QStringLiteral("Event-Name"), QString::fromLatin1(n));
        };
        auto sub = [](const char *s) {
            return std::make_pair(QStringLiteral("Event-Subclass"), QString::fromLatin1(s));
        };

        server.sendEvent({name("PRESENCE_IN"), {QStringLiteral("from"), QStringLiteral("1001@127.0.0.1")}});
        server.sendBackgroundJob(QStringLiteral("job-1"), QStringLiteral("-ERR USER_NOT_REGISTERED\n"));
        server.sendEvent({name("CUSTOM"), sub("sofia::register")});
        server.sendEvent({name("CUSTOM"), sub("sofia::unregister")});
        server.sendEvent({name("CUSTOM"), sub("sofia::expire")});
        server.sendEvent({name("CUSTOM"), sub("conference::maintenance")});
        server.sendEvent({name("CUSTOM"), sub("alert::notify")});
        server.sendEvent({name("CUSTOM"), sub("sofia::gateway_state")});
        server.sendEvent({name("CHANNEL_CREATE")});
        server.sendEvent({name("MODULE_LOAD"), {QStringLiteral("key"), QStringLiteral("mod_conference")}});
        server.sendEvent({name("presence_in")});
        QTRY_COMPARE_WITH_TIMEOUT(eventSpy.count(), 11, kWait);

        QCOMPARE(presenceSpy.count(), 1);
        QCOMPARE(presenceSpy.at(0).at(0).value<ESL2::Event>().value(QStringLiteral("from")),
                 QStringLiteral("1001@127.0.0.1"));
        QCOMPARE(jobSpy.count(), 1);
        const ESL2::Event job = jobSpy.at(0).at(0).value<ESL2::Event>();
        QCOMPARE(job.value(QStringLiteral("Job-UUID")), QStringLiteral("job-1"));
        QCOMPARE(job.value(QStringLiteral("_body")), QStringLiteral("-ERR USER_NOT_REGISTERED\n"));
        QCOMPARE(registeredSpy.count(), 3);
        QCOMPARE(conferenceSpy.count(), 2);
        QCOMPARE(conferenceSpy.at(1).at(0).value<ESL2::Event>().value(QStringLiteral("Event-Subclass")),
                 QStringLiteral("alert::notify"));
        // Neither the other CUSTOM subclass, nor another module, nor a case variant of a name
        // raise anything but event().
        QCOMPARE(connectedSpy.count(), 0);
        QCOMPARE(countLog(QStringLiteral("ESL2: unknown event name: \"CHANNEL_CREATE\"")), 1);
        QCOMPARE(countLog(QStringLiteral("ESL2: unknown event name: \"presence_in\"")), 1);

        // RELOADXML reloads listeners at once; the SIP module loading does so after a delay.
        server.sendEvent({name("RELOADXML")});
        QTRY_COMPARE_WITH_TIMEOUT(connectedSpy.count(), 1, kWait);
        server.sendEvent({name("MODULE_LOAD"), {QStringLiteral("key"), QStringLiteral("mod_sofia")}});
        QTRY_COMPARE_WITH_TIMEOUT(eventSpy.count(), 13, kWait);
        QCOMPARE(connectedSpy.count(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(connectedSpy.count(), 2, kWait);

        // Formats and values the client does not handle are dropped with a warning; a numeric
        // field is left out while the event still goes out.
        server.sendRaw("Content-Type: text/event-plain\nContent-Length: 3\n\nx\n\n"
                       "Content-Type: text/event-xml\n\nContent-Type: text/disconnect-notice\n\n");
        server.sendEventBody("[\"PRESENCE_IN\"]");
        server.sendEventJson({{QStringLiteral("Event-Name"), QStringLiteral("PRESENCE_IN")},
                              {QStringLiteral("Member-ID"), 7}});
        QTRY_COMPARE_WITH_TIMEOUT(presenceSpy.count(), 2, kWait);
        QVERIFY(!presenceSpy.at(1).at(0).value<ESL2::Event>().contains(QStringLiteral("Member-ID")));
        QCOMPARE(countLog(QStringLiteral("ESL2: Plain event format not supported")), 1);
        QCOMPARE(countLog(QStringLiteral("ESL2: XML event format not supported")), 1);
        QCOMPARE(countLog(QStringLiteral("ESL2::processMessage(): unknown message type")), 1);
        QCOMPARE(countLog(QStringLiteral("ESL2: JSON event received is not a valid JSON object")), 1);
        QCOMPARE(countLog(QStringLiteral("ESL2: non-string value in JSON object is not supported")), 1);
        QCOMPARE(eventSpy.count(), 14);
        QVERIFY(esl.isAuthenticated());
    }

    void queuedRequestsGoOutOneByOne()
    {
        FakeEslServer server;
        server.addApiReply(QStringLiteral("api first"), QStringLiteral("one\n"));
        server.addApiReply(QStringLiteral("api second"), QStringLiteral("two"));
        server.addCommandReply(QStringLiteral("bgapi originate"), QStringLiteral("+OK Job-UUID: 42"),
                               FakeEslServer::Prefix);
        ESL2 esl;
        login(esl, server);
        server.setHoldReplies(true);
        ReplyCollector collector;

        esl.sendRequest(QStringLiteral("api first\n\n"), &collector, QStringLiteral("onReply"), 1);
        esl.sendRequest(QStringLiteral("api second\n\n"), &collector, QStringLiteral("onReply"),
                        QStringLiteral("ctx-2"));
        esl.sendRequest(QStringLiteral("bgapi originate user/1001 &park()\n\n"), &collector,
                        QStringLiteral("onReply"), QVariantList{3, 4});
        // Only the first is on the wire while it waits for its reply.
        QTRY_COMPARE_WITH_TIMEOUT(server.heldCount(), 1, kWait);
        QTest::qWait(50);
        QCOMPARE(server.heldCount(), 1);
        QVERIFY(collector.replies.isEmpty());

        server.setHoldReplies(false);
        QVERIFY(server.releaseHeldReply());
        QTRY_COMPARE_WITH_TIMEOUT(collector.replies.size(), 3, kWait);
        QCOMPARE(collector.replies.at(0), qMakePair(QStringLiteral("one\n"), QVariant(1)));
        QCOMPARE(collector.replies.at(1),
                 qMakePair(QStringLiteral("two"), QVariant(QStringLiteral("ctx-2"))));
        // A command reply without a body hands over its Reply-Text.
        QCOMPARE(collector.replies.at(2),
                 qMakePair(QStringLiteral("+OK Job-UUID: 42"), QVariant(QVariantList{3, 4})));
        const QStringList sent = server.commands();
        QCOMPARE(sent.mid(1, 3), (QStringList{QStringLiteral("api first"), QStringLiteral("api second"),
                                              QStringLiteral("bgapi originate user/1001 &park()")}));

        // Fire-and-forget requests: an error reply is only logged.
        esl.sendRequest(QStringLiteral("api no_such_api\n\n"));
        QTRY_VERIFY_WITH_TIMEOUT(countLog(QStringLiteral("ESL2: \"api no_such_api\\n\\n\" returned error: "
                                                         "\"-ERR no_such_api Command not found!\\n\"")) == 1,
                                 kWait);
        // A reply that nobody asked for is dropped with a warning.
        QTRY_VERIFY_WITH_TIMEOUT(server.heldCount() == 0, kWait);
        QTest::qWait(20);
        server.setHoldReplies(true);
        server.sendRaw(FakeEslServer::commandReplyFrame(QStringLiteral("+OK stray")));
        QTRY_COMPARE_WITH_TIMEOUT(
            countLog(QStringLiteral("ESL2::processMessage(): unexpected command reply received")), 1, kWait);
        QCOMPARE(collector.replies.size(), 3);
    }

    void emptyReplyWhenNotAuthenticatedAndOnConnectionLoss()
    {
        ReplyCollector collector;
        ESL2 esl;
        esl.setTimerIntervalsForTest(kRequestMs, kReconnectMs, kDelayedMs);
        esl.sendRequest(QStringLiteral("api list_users\n\n"), &collector, QStringLiteral("onReply"),
                        QStringLiteral("early"));
        QTRY_COMPARE_WITH_TIMEOUT(collector.replies.size(), 1, kWait);
        QCOMPARE(collector.replies.at(0), qMakePair(QString(), QVariant(QStringLiteral("early"))));

        FakeEslServer server;
        login(esl, server);
        QSignalSpy disconnectedSpy(&esl, &ESL2::disconnected);
        QSignalSpy errorSpy(&esl, &ESL2::connectError);
        QSignalSpy connectedSpy(&esl, &ESL2::connected);
        server.setHoldReplies(true);
        for (int i = 0; i < 3; ++i)
            esl.sendRequest(QStringLiteral("api status\n\n"), &collector, QStringLiteral("onReply"), i);
        QTRY_COMPARE_WITH_TIMEOUT(server.heldCount(), 1, kWait);

        // The server goes away: the one on the wire and the two queued get the empty reply,
        // each exactly once, and the client comes back by itself.
        server.closeConnection();
        QTRY_COMPARE_WITH_TIMEOUT(collector.replies.size(), 4, kWait);
        QCOMPARE(errorSpy.count(), 1);
        QCOMPARE(errorSpy.at(0).at(0).toString(), QStringLiteral("connection closed by remote host"));
        QCOMPARE(disconnectedSpy.count(), 1);
        QCOMPARE(disconnectedSpy.at(0).at(0).toString(), QStringLiteral("reconnect requested"));
        QVERIFY(!esl.isAuthenticated());
        QSet<int> contexts;
        for (int i = 1; i < 4; ++i) {
            QVERIFY(collector.replies.at(i).first.isEmpty());
            contexts.insert(collector.replies.at(i).second.toInt());
        }
        QCOMPARE(contexts, (QSet<int>{0, 1, 2}));

        server.setHoldReplies(false);
        QTRY_VERIFY_WITH_TIMEOUT(esl.isAuthenticated(), kWait);
        QCOMPARE(server.connectionCount(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(server.isSubscribed(), kWait);
        QCOMPARE(connectedSpy.count(), 1);
        QTest::qWait(kRequestMs);
        QCOMPARE(collector.replies.size(), 4);
        QCOMPARE(countLog(QStringLiteral("ESL2::socketError(): \"connection closed by remote host\"")), 1);
    }

    void keepAliveDeadAndAlive()
    {
        FakeEslServer server;
        ESL2 esl;
        login(esl, server);
        // Idle: one "api version" per request period, each sent only after the previous reply.
        QTRY_VERIFY_WITH_TIMEOUT(server.countRequests(QStringLiteral("api version")) >= 2, kWait);

        QSignalSpy deadSpy(&esl, &ESL2::connectionIsDead);
        ReplyCollector collector;
        server.setHoldReplies(true);
        esl.sendRequest(QStringLiteral("api status\n\n"), &collector, QStringLiteral("onReply"), 9);
        QTRY_COMPARE_WITH_TIMEOUT(deadSpy.count(), 1, kWait);
        QCOMPARE(deadSpy.at(0).at(0).toBool(), true);
        QVERIFY(esl.isDead());
        QCOMPARE(countLog(QStringLiteral("ESL connection is dead")), 1);
        // Still waiting: no second alarm and no keep-alive while the request hangs.
        const int before = server.requests().size();
        QTest::qWait(3 * kRequestMs);
        QCOMPARE(deadSpy.count(), 1);
        QCOMPARE(server.requests().size(), before);

        server.setHoldReplies(false);
        while (server.releaseHeldReply()) {
        }
        QTRY_COMPARE_WITH_TIMEOUT(deadSpy.count(), 2, kWait);
        QCOMPARE(deadSpy.at(1).at(0).toBool(), false);
        QVERIFY(!esl.isDead());
        QCOMPARE(countLog(QStringLiteral("ESL connection is alive")), 1);
        QTRY_COMPARE_WITH_TIMEOUT(collector.replies.size(), 1, kWait);
        QCOMPARE(collector.replies.at(0).second, QVariant(9));
        QVERIFY(!collector.replies.at(0).first.isEmpty());
        // Keep-alive resumes after the late reply.
        const int versions = server.countRequests(QStringLiteral("api version"));
        QTRY_VERIFY_WITH_TIMEOUT(server.countRequests(QStringLiteral("api version")) > versions, kWait);
    }

    void refusedPasswordAndRudeRejectionRetry()
    {
        FakeEslServer server;
        ESL2 esl;
        esl.setTimerIntervalsForTest(kRequestMs, kReconnectMs, kDelayedMs);
        QSignalSpy disconnectedSpy(&esl, &ESL2::disconnected);
        QSignalSpy connectedSpy(&esl, &ESL2::connected);
        emit esl.sigConnect(server.host(), server.port(), QStringLiteral("wrong"));
        QTRY_COMPARE_WITH_TIMEOUT(disconnectedSpy.count(), 1, kWait);
        QCOMPARE(disconnectedSpy.at(0).at(0).toString(), QStringLiteral("Ошибка аутентификации"));
        // Torn down and tried again after the reconnect period, with the same password.
        QTRY_VERIFY_WITH_TIMEOUT(server.connectionCount() >= 2, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(disconnectedSpy.count() >= 2, kWait);
        QCOMPARE(connectedSpy.count(), 0);
        QVERIFY(!esl.isAuthenticated());
        // The disconnect notice after the refusal is never processed as a message of its own.
        QCOMPARE(countLog(QStringLiteral("ESL2::processMessage(): unknown message type")), 0);

        // The address is refused: the body tells why; the client retries and gets in once the
        // server lets it.
        disconnectedSpy.clear();
        server.setRejectConnections(true);
        emit esl.sigConnect(server.host(), server.port(), server.password());
        QTRY_VERIFY_WITH_TIMEOUT(disconnectedSpy.contains(QVariantList{QStringLiteral(
                                     "Отказ в доступе к FreeSwitch: Access Denied, go away.\n")}),
                                 kWait);
        const int rejected = server.connectionCount();
        QTRY_VERIFY_WITH_TIMEOUT(server.connectionCount() > rejected, kWait);
        server.setRejectConnections(false);
        QTRY_VERIFY_WITH_TIMEOUT(esl.isAuthenticated(), kWait);
        QCOMPARE(connectedSpy.count(), 1);
    }

    void reconnectOnlyWhenSomethingChanged()
    {
        FakeEslServer server;
        ESL2 esl;
        login(esl, server);
        QSignalSpy disconnectedSpy(&esl, &ESL2::disconnected);
        emit esl.sigConnect(server.host(), server.port(), server.password());
        QTest::qWait(kReconnectMs + 100);
        QCOMPARE(server.connectionCount(), 1);
        QCOMPARE(disconnectedSpy.count(), 0);

        ReplyCollector collector;
        server.setHoldReplies(true);
        esl.sendRequest(QStringLiteral("api status\n\n"), &collector, QStringLiteral("onReply"), 1);
        esl.sendRequest(QStringLiteral("api status\n\n"), &collector, QStringLiteral("onReply"), 2);
        QTRY_COMPARE_WITH_TIMEOUT(server.heldCount(), 1, kWait);
        server.setHoldReplies(false);
        server.setPassword(QStringLiteral("other"));
        emit esl.sigConnect(server.host(), server.port(), QStringLiteral("other"));
        QTRY_COMPARE_WITH_TIMEOUT(collector.replies.size(), 2, kWait);
        QVERIFY(collector.replies.at(0).first.isEmpty() && collector.replies.at(1).first.isEmpty());
        QCOMPARE(disconnectedSpy.count(), 1);
        QCOMPARE(disconnectedSpy.at(0).at(0).toString(), QStringLiteral("reconnect requested"));
        QTRY_VERIFY_WITH_TIMEOUT(esl.isAuthenticated(), kWait);
        QCOMPARE(server.connectionCount(), 2);
        QCOMPARE(server.requests().count(QStringLiteral("auth other\n\n")), 1);
    }

    void disconnectStaysDown()
    {
        FakeEslServer server;
        ESL2 esl;
        login(esl, server);
        ReplyCollector collector;
        server.setHoldReplies(true);
        esl.sendRequest(QStringLiteral("api status\n\n"), &collector, QStringLiteral("onReply"), 5);
        QTRY_COMPARE_WITH_TIMEOUT(server.heldCount(), 1, kWait);
        QSignalSpy disconnectedSpy(&esl, &ESL2::disconnected);
        QSignalSpy connectedSpy(&esl, &ESL2::connected);
        // A pending delayed reload must not fire after logging out either.
        server.sendEvent({{QStringLiteral("Event-Name"), QStringLiteral("MODULE_LOAD")},
                          {QStringLiteral("key"), QStringLiteral("mod_sofia")}});
        QSignalSpy eventSpy(&esl, &ESL2::event);
        QTRY_COMPARE_WITH_TIMEOUT(eventSpy.count(), 1, kWait);

        esl.disconnectFromServer();
        QCOMPARE(disconnectedSpy.count(), 1);
        QCOMPARE(disconnectedSpy.at(0).at(0).toString(), QStringLiteral("disconnect requested"));
        QVERIFY(!esl.isAuthenticated());
        QTRY_COMPARE_WITH_TIMEOUT(collector.replies.size(), 1, kWait);
        QCOMPARE(collector.replies.at(0), qMakePair(QString(), QVariant(5)));

        QTest::qWait(kReconnectMs * 2 + kDelayedMs);
        QCOMPARE(server.connectionCount(), 1);
        QCOMPARE(connectedSpy.count(), 0);
        QCOMPARE(collector.replies.size(), 1);
        esl.disconnectFromServer();
        QCOMPARE(disconnectedSpy.count(), 1);

        // The next sigConnect starts over, even with unchanged credentials.
        server.setHoldReplies(false);
        emit esl.sigConnect(server.host(), server.port(), server.password());
        QTRY_VERIFY_WITH_TIMEOUT(esl.isAuthenticated(), kWait);
        QCOMPARE(server.connectionCount(), 2);
    }

    void unreachableServerIsRetried()
    {
        quint16 port = 0;
        {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
            port = probe.serverPort();
        }
        ESL2 esl;
        esl.setTimerIntervalsForTest(kRequestMs, kReconnectMs, kDelayedMs);
        QSignalSpy errorSpy(&esl, &ESL2::connectError);
        QSignalSpy disconnectedSpy(&esl, &ESL2::disconnected);
        emit esl.sigConnect(QStringLiteral("127.0.0.1"), port, QStringLiteral("ClueCon"));
        QTRY_VERIFY_WITH_TIMEOUT(errorSpy.count() >= 2, kWait);
        QCOMPARE(errorSpy.at(0).at(0).toString(), QStringLiteral("connection refused"));
        // Never authenticated, so nobody is told about a lost connection.
        QCOMPARE(disconnectedSpy.count(), 0);

        ReplyCollector collector;
        esl.sendRequest(QStringLiteral("api list_users\n\n"), &collector, QStringLiteral("onReply"), 1);
        QTRY_COMPARE_WITH_TIMEOUT(collector.replies.size(), 1, kWait);
        QVERIFY(collector.replies.at(0).first.isEmpty());
    }

    void requestsCannotSmuggleASecondCommand()
    {
        FakeEslServer server;
        server.addApiReply(QStringLiteral("api conference room1 play "),
                           QStringLiteral("+OK (play) Playing file\n"), FakeEslServer::Prefix);
        ESL2 esl;
        login(esl, server);
        ReplyCollector collector;
        const QString slot = QStringLiteral("onReply");
        QSignalSpy conferenceSpy(&esl, &ESL2::conferenceEvent);

        // A file name with an empty line in it would end the command early.
        esl.sendRequest(QStringLiteral("api conference room1 play a\n\napi uuid_kill x\n\n"), &collector,
                        slot, 1);
        esl.sendRequest(QStringLiteral("api conference room1 play a\r\n\r\nexit\n\n"), &collector, slot, 2);
        esl.sendRequest(QStringLiteral("\n\napi uuid_kill x\n\n"), &collector, slot, 3);
        // A body longer than declared leaves a command behind; a shorter one swallows the next request.
        esl.sendRequest(QStringLiteral("sendevent CUSTOM\nContent-Length: 2\n\nhi\nexit\n\n"), &collector,
                        slot, 4);
        esl.sendRequest(QStringLiteral("sendevent CUSTOM\nContent-Length: 20\n\nhi"), &collector, slot, 5);
        // Legitimate: a plain command, a sendevent with headers, a sendevent with a body that
        // itself holds empty lines (as the reference client sends it, with a trailing line end).
        esl.sendRequest(QStringLiteral("api conference room1 play /tmp/Запись 1.wav\n\n"), &collector, slot,
                        6);
        esl.sendRequest(QStringLiteral("sendevent CUSTOM\nEvent-Subclass: alert::notify\n\n"), &collector,
                        slot, 7);
        const QString body = QStringLiteral("line\n\nexit\n\n");
        esl.sendRequest(QStringLiteral("sendevent CUSTOM\nEvent-Subclass: alert::notify\nContent-Length: ") +
                            QString::number(body.toUtf8().size()) + QStringLiteral("\n\n") + body +
                            QStringLiteral("\n"),
                        &collector, slot, 8);
        QTRY_COMPARE_WITH_TIMEOUT(collector.replies.size(), 8, kWait);
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(collector.replies.at(i).second, QVariant(i + 1));
            QVERIFY(collector.replies.at(i).first.isEmpty());
        }
        QCOMPARE(collector.replies.at(5).first, QStringLiteral("+OK (play) Playing file\n"));
        QVERIFY(collector.replies.at(6).first.startsWith(QStringLiteral("+OK ")));
        QVERIFY(collector.replies.at(7).first.startsWith(QStringLiteral("+OK ")));
        QCOMPARE(
            countLog(QStringLiteral(
                "ESL2: refusing a request with an embedded empty line: \"api conference room1 play a\"")),
            1);
        QCOMPARE(countLog(QStringLiteral("ESL2: refusing a request with an embedded empty line: \"\"")), 1);

        const QStringList sent = server.commands();
        for (const QString &command : sent) {
            QVERIFY2(!command.contains(QLatin1String("uuid_kill")) &&
                         !command.contains(QLatin1String("exit\n")) && command != QLatin1String("exit"),
                     qPrintable(command));
        }
        // The body with its empty lines went out whole and came back as one event.
        QTRY_VERIFY_WITH_TIMEOUT(std::any_of(conferenceSpy.cbegin(), conferenceSpy.cend(),
                                             [&](const QList<QVariant> &args) {
                                                 return args.at(0).value<ESL2::Event>().value(
                                                            QStringLiteral("_body")) == body;
                                             }),
                                 kWait);
        QVERIFY(esl.isAuthenticated());
    }

    void destructionAnswersWaitingReceivers()
    {
        FakeEslServer server;
        ReplyCollector collector;
        {
            ESL2 esl;
            login(esl, server);
            server.setHoldReplies(true);
            esl.sendRequest(QStringLiteral("api status\n\n"), &collector, QStringLiteral("onReply"), 1);
            esl.sendRequest(QStringLiteral("api status\n\n"), &collector, QStringLiteral("onReply"), 2);
            QTRY_COMPARE_WITH_TIMEOUT(server.heldCount(), 1, kWait);
            QTest::qWait(20);
        }
        QTRY_COMPARE_WITH_TIMEOUT(collector.replies.size(), 2, kWait);
        QTest::qWait(50);
        QCOMPARE(collector.replies.size(), 2);

        // A receiver that is gone by the time its reply comes gets nothing, and nothing breaks.
        ESL2 esl;
        server.setHoldReplies(false);
        login(esl, server);
        auto *gone = new ReplyCollector;
        server.setHoldReplies(true);
        esl.sendRequest(QStringLiteral("api status\n\n"), gone, QStringLiteral("onReply"), 1);
        QTRY_COMPARE_WITH_TIMEOUT(server.heldCount(), 1, kWait);
        delete gone;
        QVERIFY(server.releaseHeldReply());
        server.setHoldReplies(false);
        const int versions = server.countRequests(QStringLiteral("api version"));
        QTRY_VERIFY_WITH_TIMEOUT(server.countRequests(QStringLiteral("api version")) > versions, kWait);
    }
};

QTEST_GUILESS_MAIN(Esl2Test)
#include "esl2_test.moc"
