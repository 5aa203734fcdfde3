// The lab's answer to "xml_locate directory domain name <domain>", against the real server's
// recording of the same directory.

#include "lab/labxmllocate.h"
#include "tests/lab/labclient.h"
#include "tests/lab/labfixture.h"

#include <QTest>

namespace {
// A user's params and variables come out by name; the recording keeps the file's order. The
// lines, and so layout, attributes and escaping, must be the same.
QList<QByteArray> sortedLines(const QByteArray &text)
{
    QList<QByteArray> lines = text.split('\n');
    std::sort(lines.begin(), lines.end());
    return lines;
}
} // namespace

class LabXmlLocateTest : public QObject
{
    Q_OBJECT
private slots:
    void domainDocumentAsTheServerWritesIt()
    {
        LabFixture lab;
        LabClient c;
        QVERIFY(lab.ok() && c.login(lab.port()));

        const LabFrame domain = c.api("xml_locate directory domain name 127.0.0.1");
        const QByteArray recorded = LabFixture::reference("s007");
        const int bodyStart = recorded.indexOf("\n\n") + 2;
        QCOMPARE(domain.raw.left(domain.raw.indexOf("\n\n") + 2), recorded.left(bodyStart));
        QCOMPARE(sortedLines(domain.body), sortedLines(recorded.mid(bodyStart)));
        QVERIFY(domain.body.startsWith("<domain name=\"127.0.0.1\">\n      <params>\n"));
        QVERIFY(domain.body.endsWith("    </groups>\n\n\n  </domain>\n"));

        // Another domain, or another question, finds nothing.
        QCOMPARE(c.api("xml_locate directory domain name nosuch.example").raw, LabFixture::reference("s008"));
        QCOMPARE(c.api("xml_locate directory domain name").body, "can't find anything\n");

        // Markup, line ends and everything outside ASCII become references.
        QCOMPARE(LabXmlLocate::escape("a&b<c>\"d\"\n\té😀"),
                 "a&amp;b&lt;c&gt;&quot;d&quot;&#xA;&#x9;&#xE9;&#x1F600;");
    }
};

QTEST_GUILESS_MAIN(LabXmlLocateTest)
#include "labxmllocate_test.moc"
