#include "esl/eslparser.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QtTest>

namespace {

struct Parsed
{
    QList<QPair<QString, QString>> headers;
    int contentLength = 0;
    int contentType = 0;
    QByteArray body;
    QString replyText;

    bool operator==(const Parsed &o) const
    {
        return headers == o.headers && contentLength == o.contentLength && contentType == o.contentType &&
               body == o.body && replyText == o.replyText;
    }
};

// Feeds data in pieces cut at the given offsets and collects every completed message.
QList<Parsed> parse(EslParser &parser, const QByteArray &data, QList<int> cuts = {})
{
    QList<Parsed> out;
    cuts.append(data.size());
    int from = 0;
    for (int cut : cuts) {
        int offset = from;
        while (offset < cut) {
            bool complete = false;
            offset += parser.feed(data.constData() + offset, cut - offset, &complete);
            if (complete) {
                const ESL2::Message &m = parser.message();
                out.append({m.headers, m.contentLength, m.contentType, m.body, m.replyText});
                parser.message().clear();
            }
        }
        from = cut;
    }
    return out;
}

QList<Parsed> parse(const QByteArray &data, const QList<int> &cuts = {})
{
    EslParser parser;
    return parse(parser, data, cuts);
}

QByteArray reference(const QString &name)
{
    QFile file(QString::fromLocal8Bit(qgetenv("TESMAR_SOURCE_DIR")) +
               QStringLiteral("/../shared/reference/freeswitch/") + name);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
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

    void recordedStreamMatchesEventFiles()
    {
        const QByteArray stream = reference(QStringLiteral("stream_subscribed.raw"));
        if (stream.isEmpty())
            QSKIP("reference transcripts not available");
        const QList<Parsed> messages = parse(stream);
        QCOMPARE(messages.size(), 116);
        QCOMPARE(messages.at(0).contentType, int(ESL2::Message::AuthRequest));
        QCOMPARE(messages.at(1).contentType, int(ESL2::Message::Reply));
        QCOMPARE(messages.at(1).replyText, QStringLiteral("+OK accepted"));
        QCOMPARE(messages.at(2).replyText, QStringLiteral("+OK event listener enabled json"));

        // Every event frame recorded separately must come out with exactly its JSON body.
        QDir dir(QString::fromLocal8Bit(qgetenv("TESMAR_SOURCE_DIR")) +
                 QStringLiteral("/../shared/reference/freeswitch/events"));
        const QStringList files = dir.entryList({QStringLiteral("*_ev_*.raw")}, QDir::Files, QDir::Name);
        QCOMPARE(files.size(), 113);
        for (int i = 0; i < files.size(); ++i) {
            const QByteArray frame = reference(QStringLiteral("events/") + files.at(i));
            const Parsed &m = messages.at(i + 3);
            QCOMPARE(m.contentType, int(ESL2::Message::EventJson));
            QVERIFY2(frame.endsWith(m.body), qPrintable(files.at(i)));
            QCOMPARE(m.body.size(), m.contentLength);
            QCOMPARE(m.headers.first(),
                     qMakePair(QStringLiteral("Content-Length"), QString::number(m.body.size())));
        }
        QVERIFY(warnings.isEmpty());
    }

    void splitAtEveryBytePosition()
    {
        const QByteArray stream = reference(QStringLiteral("stream_mixed.raw"));
        if (stream.isEmpty())
            QSKIP("reference transcripts not available");
        const QList<Parsed> whole = parse(stream);
        QCOMPARE(whole.size(), 5);
        QCOMPARE(whole.last().contentType, int(ESL2::Message::EventJson));
        QCOMPARE(whole.at(3).replyText, QStringLiteral("+OK Job-UUID: 2c3c24b0-9cce-4ba1-8ec6-8211c783d053"));

        // Two pieces cut at every position, then three pieces around every position: a
        // cut inside a header line, at a line end or inside the body must not change anything.
        for (int cut = 1; cut < stream.size(); ++cut)
            QVERIFY2(parse(stream, {cut}) == whole, qPrintable(QString::number(cut)));
        for (int cut = 1; cut + 1 < stream.size(); ++cut)
            QVERIFY2(parse(stream, {cut, cut + 1}) == whole, qPrintable(QString::number(cut)));

        // The control stream one byte at a time and in random pieces.
        const QByteArray control = reference(QStringLiteral("stream_control.raw"));
        const QList<Parsed> controlWhole = parse(control);
        QVERIFY(controlWhole.size() > 50);
        QList<int> everyByte;
        for (int i = 1; i < control.size(); ++i)
            everyByte.append(i);
        QVERIFY(parse(control, everyByte) == controlWhole);
        QRandomGenerator rng(7);
        for (int round = 0; round < 20; ++round) {
            QList<int> cuts;
            for (int at = 0; (at += 1 + int(rng.bounded(600))) < control.size();)
                cuts.append(at);
            QVERIFY(parse(control, cuts) == controlWhole);
        }
    }

    void handwrittenFramesAndOddHeaders()
    {
        // Two messages in one segment; letter case of names and values ignored; CR kept in the
        // line but trimmed off values; a header without ':'; the last Content-Length counts.
        const QByteArray data = "content-type: TEXT/EVENT-JSON\r\nCONTENT-LENGTH: 2\r\n\n{}"
                                "Content-Type: command/reply\nReply-Text:   +OK done  \nno colon here\n"
                                "Content-Length: 9\nContent-Length: 3\n\nabcContent-Type: api/response\n\n";
        const QList<Parsed> m = parse(data);
        QCOMPARE(m.size(), 3);
        QCOMPARE(m[0].contentType, int(ESL2::Message::EventJson));
        QCOMPARE(m[0].headers.at(0),
                 qMakePair(QStringLiteral("content-type"), QStringLiteral("TEXT/EVENT-JSON")));
        QCOMPARE(m[0].body, QByteArray("{}"));
        QCOMPARE(m[1].contentType, int(ESL2::Message::Reply));
        QCOMPARE(m[1].replyText, QStringLiteral("+OK done"));
        QCOMPARE(m[1].headers.at(2), qMakePair(QStringLiteral("no colon here"), QString()));
        QCOMPARE(m[1].contentLength, 3);
        QCOMPARE(m[1].body, QByteArray("abc"));
        QCOMPARE(m[2].contentType, int(ESL2::Message::Reply));
        QVERIFY(m[2].body.isEmpty());

        // Content types the client does not act on stay distinguishable.
        const QList<Parsed> kinds =
            parse("Content-Type: text/event-plain\n\nContent-Type: text/event-xml\n\n"
                  "Content-Type: application/x-unknown\n\n\nContent-Type: text/rude-rejection\n\n"
                  "Content-Type: text/disconnect-notice\n\n");
        // The stray blank line in the middle is a message of its own with no headers.
        QCOMPARE(kinds.size(), 6);
        QCOMPARE(kinds[0].contentType, int(ESL2::Message::EventPlain));
        QCOMPARE(kinds[1].contentType, int(ESL2::Message::EventXml));
        QCOMPARE(kinds[2].contentType, int(ESL2::Message::Unknown));
        QVERIFY(kinds[3].headers.isEmpty());
        QCOMPARE(kinds[4].contentType, int(ESL2::Message::RudeRejection));
        QCOMPARE(kinds[5].contentType, int(ESL2::Message::DisconnectNotice));
        QVERIFY(warnings.isEmpty());
    }

    void invalidContentLengthEndsMessageAtBlankLine()
    {
        const QList<Parsed> m = parse("Content-Type: api/response\nContent-Length: 12x\n\n"
                                      "Content-Type: command/reply\nReply-Text: +OK\n\n");
        QCOMPARE(m.size(), 2);
        QCOMPARE(m[0].contentLength, 0);
        QVERIFY(m[0].body.isEmpty());
        QCOMPARE(m[1].replyText, QStringLiteral("+OK"));
        QCOMPARE(warnings,
                 QStringList{QStringLiteral(
                     "ESL2::Message::addHeaderLine(): invalid Content-Length field value: \"12x\"")});

        // A negative length also means no body.
        QCOMPARE(parse("Content-Length: -5\n\nX: y\n\n").size(), 2);
    }

    void zeroBytesEndLinesButNotBodies()
    {
        // A line is read up to its first zero byte; a line starting with one reads as empty
        // and ends the header block. Body bytes are kept as they are.
        static const char raw[] = "Reply-Text: +OK\0junk\nContent-Length: 3\n\0tail\na\0b";
        const QByteArray data(raw, sizeof(raw) - 1);
        const QList<Parsed> m = parse(data);
        QCOMPARE(m.size(), 1);
        QCOMPARE(m[0].replyText, QStringLiteral("+OK"));
        QCOMPARE(m[0].body, QByteArray("a\0b", 3));
    }

    void partialMessageIsDroppedOnReset()
    {
        EslParser parser;
        QVERIFY(parse(parser, "Content-Type: api/response\nContent-Length: 10\n\nabc").isEmpty());
        parser.reset();
        const QList<Parsed> m = parse(parser, "Content-Type: command/reply\nReply-Text: +OK accepted\n\n");
        QCOMPARE(m.size(), 1);
        QCOMPARE(m[0].headers.size(), 2);
        QVERIFY(m[0].body.isEmpty());
    }

    void jsonEventDecoding()
    {
        ESL2::Event event;
        QString name;
        QString subclass;
        QVERIFY(EslParser::decodeJsonEvent(
            R"({"Event-Name":"CUSTOM","Event-Subclass":"conference::maintenance","Member-ID":7,)"
            R"("Talking":true,"Caller-Caller-ID-Name":"Иванов Иван","_body":"+OK\n","Nested":{"a":"b"}})",
            &event, &name, &subclass));
        QCOMPARE(name, QStringLiteral("CUSTOM"));
        QCOMPARE(subclass, QStringLiteral("conference::maintenance"));
        QCOMPARE(event.value(QStringLiteral("Caller-Caller-ID-Name")), QStringLiteral("Иванов Иван"));
        QCOMPARE(event.value(QStringLiteral("_body")), QStringLiteral("+OK\n"));
        // Non-string fields are left out, each with a warning; the rest survives.
        QVERIFY(!event.contains(QStringLiteral("Member-ID")));
        QVERIFY(!event.contains(QStringLiteral("Nested")));
        QCOMPARE(event.size(), 4);
        QCOMPARE(warnings.count(QStringLiteral("ESL2: non-string value in JSON object is not supported")), 3);

        // Decoding into a used map starts afresh.
        warnings.clear();
        QVERIFY(EslParser::decodeJsonEvent(R"({"Event-Name":"PRESENCE_IN"})", &event, &name, &subclass));
        QCOMPARE(event.size(), 1);
        QCOMPARE(name, QStringLiteral("PRESENCE_IN"));
        QVERIFY(subclass.isEmpty());

        for (const QByteArray &bad :
             {QByteArray("[1,2]"), QByteArray("\"text\""), QByteArray("{\"a\":"), QByteArray()}) {
            QVERIFY(!EslParser::decodeJsonEvent(bad, &event, &name, &subclass));
        }
        QCOMPARE(warnings.count(QStringLiteral("ESL2: JSON event received is not a valid JSON object")), 4);
    }

    void messageText()
    {
        ESL2::Message m;
        m.addHeaderLine(QStringLiteral("Content-Type: api/response"));
        m.addHeaderLine(QStringLiteral("Content-Length: 3"));
        m.body = "ok\n";
        QCOMPARE(m.toText(), QStringLiteral("Content-Type: api/response\nContent-Length: 3\n\nok\n"));
        m.clear();
        QVERIFY(m.headers.isEmpty());
        QCOMPARE(m.contentType, int(ESL2::Message::Unknown));
        QCOMPARE(m.contentLength, 0);
        QCOMPARE(m.toText(), QStringLiteral("\n"));
    }
};

QTEST_GUILESS_MAIN(EslParserTest)
#include "eslparser_test.moc"
