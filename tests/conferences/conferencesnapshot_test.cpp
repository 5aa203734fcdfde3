#include "conferences/conferencesnapshot.h"
#include "conferences/snapshotscanner.h"

#include <QtTest>

using Snapshot = ConferenceSnapshot;

namespace {
// The same reply for the document tree: a comment after the declaration is more than the quick
// scanner takes and means nothing to the tree, so the snapshot reads it the slow way.
QString forTheTree(const QString &xml)
{
    return QString(xml).insert(xml.startsWith("<?xml") ? xml.indexOf("?>") + 2 : 0, "<!-- -->");
}

QString describe(Snapshot::Status status, const QVector<Snapshot::Conference> &conferences)
{
    QStringList lines{QString::number(status)};
    auto b = [](bool value) { return QString::number(int(value)); };
    for (const Snapshot::Conference &c : conferences) {
        lines << "[" + b(c.hasName) + c.name + " " + b(c.hasMembers) + "]";
        for (const Snapshot::Member &m : c.members)
            lines << QStringList{b(m.hasType) + m.type, b(m.hasId) + m.id, b(m.hasNumber) + m.number,
                                 b(m.hasFlags) + b(m.ghost) + b(m.canSpeak) + b(m.talking)}
                         .join('|');
    }
    return lines.join('\n');
}

const char *const kHead = "<?xml version=\"1.0\"?>\n<conferences>";
const char *const kMember =
    "<member type=\"caller\"><id>7</id><caller_id_number>1001</caller_id_number></member>";
} // namespace

class ConferenceSnapshotTest : public QObject
{
    Q_OBJECT

private slots:
    void readsAsTheDocumentTreeDoes_data()
    {
        QTest::addColumn<QString>("xml");
        QTest::addColumn<bool>("quick");
        QFile reply(QFINDTESTDATA("xml_list_reply.xml"));
        QVERIFY(reply.open(QIODevice::ReadOnly));
        const QString server = QString::fromUtf8(reply.readAll());
        const QString head = QLatin1String(kHead);
        const QString tail = QStringLiteral("</conferences>\n");
        auto conf = [](const QString &inner) -> QString {
            return "<conference name=\"r\"><members>" + inner + "</members></conference>";
        };

        QTest::newRow("server reply") << server << true;
        QTest::newRow("no conferences") << head + tail << true;
        QTest::newRow("first of repeated elements, nested text, spaces")
            << head +
                   conf("<member><id> 5 </id><id>6</id><caller_id_number>1<b>00</b>2</caller_id_number>"
                        "<flags><talking>TRUE</talking><talking>false</talking><is_ghost/></flags>"
                        "<flags><can_speak>false</can_speak></flags></member>") +
                   "<conference name='r2'><members/><members>" + kMember + "</members></conference>" + tail
            << true;
        QTest::newRow("empty and whitespace texts, missing parts")
            << head +
                   conf("<member type=\"\"><id>   "
                        "</id><caller_id_number/></member><member><flags/></member>") +
                   "<conference><members>" + kMember + "</members></conference><conference name=\"x\"/>" +
                   "<other><conference name=\"inner\"/></other>" + tail
            << true;
        QTest::newRow("cyrillic names")
            << head + "<conference name=\"комната №1\"><members>" + kMember + "</members></conference>" + tail
            << true;
        QTest::newRow("wrong root") << QStringLiteral("<result>-ERR no conferences</result>") << true;
        // Left to the document tree, with the same outcome.
        QTest::newRow("entities")
            << head +
                   "<conference name=\"a&amp;b&#1099;\"><members><member><id>1&lt;2</id>"
                   "<caller_id_number>&#x31;0</caller_id_number></member></members>"
                   "</conference>" +
                   tail
            << false;
        QTest::newRow("comment and cdata")
            << head +
                   "<!-- c --><conference name=\"r\"><members><member><id><![CDATA[4]]></id>"
                   "<caller_id_number>10<!-- x -->01</caller_id_number></member></members></conference>" +
                   tail
            << false;
        // Broken documents.
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("truncated in members") << head + "<conference name=\"r\"><members>" + kMember << false;
        QTest::newRow("mismatched") << head + "<conference name=\"r\"></members>" + tail << false;
        QTest::newRow("duplicate attribute") << head + "<conference name=\"a\" name=\"b\"/>" + tail << false;
        QTest::newRow("raw ampersand") << head + conf("<member><id>1 & 2</id></member>") + tail << false;
        QTest::newRow("cdata end in text") << head + conf("<member><id>1]]>2</id></member>") + tail << false;
        QTest::newRow("text after root") << head + tail + "+OK" << false;
    }

    void readsAsTheDocumentTreeDoes()
    {
        QFETCH(QString, xml);
        QFETCH(bool, quick);
        const QString treeXml = forTheTree(xml);
        SnapshotScanner slow(treeXml);
        slow.finish();
        QVERIFY(slow.failed());
        Snapshot tree, snapshot;
        const Snapshot::Status expectedStatus = tree.read(treeXml);
        const Snapshot::Status status = snapshot.read(xml);
        QCOMPARE(describe(status, snapshot.conferences()), describe(expectedStatus, tree.conferences()));
        if (status == Snapshot::Broken)
            QVERIFY(!snapshot.error().isEmpty() && snapshot.errorLine() > 0);
        // Plain server XML must not pay for the full parser.
        SnapshotScanner scanner(xml);
        scanner.finish();
        QCOMPARE(!scanner.failed(), quick);
    }
};

QTEST_GUILESS_MAIN(ConferenceSnapshotTest)
#include "conferencesnapshot_test.moc"
