#include "esl/eslparser.h"

#include <QFile>
#include <QtTest>

namespace {

using Msg = ESL2::Message;

// Feeds data in pieces of at most the given size and collects every completed message.
QList<Msg> parse(const QByteArray &data, int piece = INT_MAX, EslParser *parser = nullptr)
{
    EslParser own;
    parser = parser ? parser : &own;
    QList<Msg> out;
    for (int offset = 0; offset < data.size();) {
        bool complete = false;
        offset += parser->feed(data.constData() + offset, qMin(piece, data.size() - offset), &complete);
        if (complete) {
            out.append(parser->message());
            parser->message().clear();
        }
    }
    return out;
}

// Headers and body of every message, for comparing two parses of the same stream.
QString text(const QList<Msg> &messages)
{
    QString out;
    for (const Msg &m : messages)
        out += m.toText() + QLatin1Char('|');
    return out;
}

QList<int> types(const QList<Msg> &messages)
{
    QList<int> out;
    for (const Msg &m : messages)
        out.append(m.contentType);
    return out;
}

// Streams recorded from a real server, kept beside this test.
QByteArray recorded(const QString &name)
{
    QFile file(QStringLiteral(ESL_TEST_DATA "/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList warnings;

void collectWarnings(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type == QtWarningMsg)
        warnings.append(text);
}

} // namespace

// The framer and the JSON event decoder, driven with recorded server streams.
class EslParserTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        warnings.clear();
        qInstallMessageHandler(collectWarnings);
    }
    void cleanup() { qInstallMessageHandler(nullptr); }

    void recordedStreamsInAnyPieces()
    {
        const QByteArray mixed = recorded(QStringLiteral("stream_mixed.raw"));
        const QByteArray control = recorded(QStringLiteral("stream_control.raw"));
        const QByteArray subscribed = recorded(QStringLiteral("stream_subscribed.raw"));
        QVERIFY2(!mixed.isEmpty() && !control.isEmpty() && !subscribed.isEmpty(),
                 "recorded streams missing from " ESL_TEST_DATA);
        const QList<Msg> whole = parse(mixed);
        QCOMPARE(types(whole),
                 (QList<int>{Msg::AuthRequest, Msg::Reply, Msg::Reply, Msg::Reply, Msg::EventJson}));
        QCOMPARE(whole.at(3).replyText, QStringLiteral("+OK Job-UUID: 2c3c24b0-9cce-4ba1-8ec6-8211c783d053"));

        QCOMPARE(types(parse(subscribed)).count(Msg::EventJson), 113);

        // A cut inside a header line, at a line end or inside the body must not change anything.
        for (const QByteArray &stream : {mixed, control, subscribed}) {
            for (int piece : {1, 2, 5, 64})
                QCOMPARE(text(parse(stream, piece)), text(parse(stream)));
        }
        QVERIFY(warnings.isEmpty());
    }

    void handwrittenFrames()
    {
        // Three messages in one segment, alike when fed byte by byte; letter case of names and values
        // ignored; CR kept in the line but trimmed off values; a header without ':'; the last Content-Length
        // counts.
        const QByteArray data =
            QByteArrayLiteral("content-type: TEXT/EVENT-JSON\r\nCONTENT-LENGTH: 2\r\n\n{}"
                              "Content-Type: command/reply\nReply-Text:   +OK done  \nno colon\n"
                              "Content-Length: 9\nContent-Length: 3\n\nabcContent-Type: api/response\n\n");
        const QList<Msg> m = parse(data);
        QCOMPARE(text(parse(data, 1)), text(m));
        QCOMPARE(types(m), (QList<int>{Msg::EventJson, Msg::Reply, Msg::Reply}));
        QCOMPARE(text(m), QStringLiteral(
                              "content-type: TEXT/EVENT-JSON\nCONTENT-LENGTH: 2\n\n{}|"
                              "Content-Type: command/reply\nReply-Text: +OK done\nno colon: \n"
                              "Content-Length: 9\nContent-Length: 3\n\nabc|Content-Type: api/response\n\n|"));

        // An invalid or negative length means no body: the message ends at the blank line.
        QCOMPARE(
            text(parse("Content-Length: 12x\n\nReply-Text: +OK\n\nContent-Length: -5\n\nX: y\n\n")),
            QStringLiteral("Content-Length: 12x\n\n|Reply-Text: +OK\n\n|Content-Length: -5\n\n|X: y\n\n|"));
        QCOMPARE(warnings,
                 QStringList{QStringLiteral(
                     "ESL2::Message::addHeaderLine(): invalid Content-Length field value: \"12x\"")});

        // A line is read up to its first zero byte; a line starting with one reads as empty
        // and ends the header block. Body bytes are kept as they are.
        static const char raw[] = "Reply-Text: +OK\0junk\nContent-Length: 3\n\0tail\na\0b";
        const QList<Msg> z = parse(QByteArray(raw, sizeof(raw) - 1));
        QCOMPARE(text(z), QStringLiteral("Reply-Text: +OK\nContent-Length: 3\n\na|"));
        QCOMPARE(z[0].body, QByteArray("a\0b", 3));

        // A partial message is dropped when a new connection starts.
        EslParser parser;
        QVERIFY(parse("Content-Length: 10\n\nabc", INT_MAX, &parser).isEmpty());
        parser.reset();
        QCOMPARE(text(parse("Reply-Text: +OK\n\n", INT_MAX, &parser)),
                 QStringLiteral("Reply-Text: +OK\n\n|"));
    }

    void jsonEventDecoding()
    {
        ESL2::Event event{{QStringLiteral("stale"), QString()}};
        QString name, subclass;
        QVERIFY(EslParser::decodeJsonEvent(
            R"({"Event-Name":"CUSTOM","Event-Subclass":"conference::maintenance","Member-ID":7,)"
            R"("Talking":true,"Caller-Caller-ID-Name":"Иванов Иван","_body":"+OK\n","Nested":{"a":"b"}})",
            &event, &name, &subclass));
        QCOMPARE(name + QLatin1Char(' ') + subclass, QStringLiteral("CUSTOM conference::maintenance"));
        QCOMPARE(event.value(QStringLiteral("Caller-Caller-ID-Name")), QStringLiteral("Иванов Иван"));
        QCOMPARE(event.value(QStringLiteral("_body")), QStringLiteral("+OK\n"));
        // Non-string fields are left out, each with a warning; the old content is gone.
        QCOMPARE(event.size(), 4);
        QCOMPARE(warnings.count(QStringLiteral("ESL2: non-string value in JSON object is not supported")), 3);

        warnings.clear();
        QVERIFY(EslParser::decodeJsonEvent(R"({"Event-Name":"PRESENCE_IN"})", &event, &name, &subclass));
        QVERIFY(subclass.isEmpty());
        for (const char *bad : {"[1,2]", "\"text\"", "{\"a\":", ""})
            QVERIFY(!EslParser::decodeJsonEvent(bad, &event, &name, &subclass));
        QCOMPARE(warnings.count(QStringLiteral("ESL2: JSON event received is not a valid JSON object")), 4);
    }
};

QTEST_GUILESS_MAIN(EslParserTest)
#include "eslparser_test.moc"