// Cost of keeping 200 conferences of 20 members each in step with the server:
// a full snapshot reload, and one add-member / del-member event.
#include "app/xmlconfig.h"
#include "conferences/conferencelistmodel.h"
#include "conferences/conferenceparticipantsmodel.h"
#include "esl/esl2.h"

#include <QCoreApplication>
#include <QDomDocument>

#include <benchmark/benchmark.h>

namespace {
const int kConferences = 200;
const int kMembers = 20;

void configure()
{
    XMLConfig &c = XMLConfig::instance();
    c.currentLoginUser = QStringLiteral("1000");
    c.currentServerHost = QStringLiteral("example.org");
    c.primaryConferenceId = QStringLiteral("0");
    c.displayDisconnected = 0;
    c.displayFailedCalls = 0;
}

QString bigSnapshot()
{
    QString xml = QStringLiteral("<?xml version=\"1.0\"?>\n<conferences>");
    for (int c = 0; c < kConferences; ++c) {
        xml += QStringLiteral("<conference name=\"room%1\" member-count=\"%2\" running=\"true\"><members>")
                   .arg(c)
                   .arg(kMembers);
        for (int m = 0; m < kMembers; ++m) {
            const int id = c * kMembers + m;
            xml +=
                QStringLiteral("<member type=\"caller\"><id>%1</id><flags><can_hear>true</can_hear>"
                               "<can_speak>true</can_speak><talking>false</talking><is_ghost>false</is_ghost>"
                               "</flags><uuid>uuid-%1</uuid><caller_id_number>%2</caller_id_number>"
                               "</member>")
                    .arg(id)
                    .arg(10000 + id);
        }
        xml += QStringLiteral("</members></conference>");
    }
    return xml + QStringLiteral("</conferences>");
}

ESL2::Event memberEvent(const QString &action, const QString &conf, const QString &id, const QString &uri)
{
    ESL2::Event e;
    e.insert(QStringLiteral("Event-Subclass"), QStringLiteral("conference::maintenance"));
    e.insert(QStringLiteral("Action"), action);
    e.insert(QStringLiteral("Conference-Name"), conf);
    e.insert(QStringLiteral("Member-ID"), id);
    e.insert(QStringLiteral("Member-Type"), QStringLiteral("member"));
    e.insert(QStringLiteral("Channel-Presence-ID"), uri);
    e.insert(QStringLiteral("Channel-Call-UUID"), QStringLiteral("call-") + id);
    e.insert(QStringLiteral("Speak"), QStringLiteral("true"));
    return e;
}
} // namespace

static void BM_SnapshotReload(benchmark::State &state)
{
    configure();
    ConferenceListModel model;
    const QString xml = bigSnapshot();
    model.conferenceListReceived(xml, QVariant());
    for (auto _ : state)
        model.conferenceListReceived(xml, QVariant());
    state.counters["rows"] = model.rowCount();
}
BENCHMARK(BM_SnapshotReload)->Unit(benchmark::kMillisecond);

// The XML parse alone, to tell the parser's share of a reload from the model's.
static void BM_SnapshotParseOnly(benchmark::State &state)
{
    const QString xml = bigSnapshot();
    for (auto _ : state) {
        QDomDocument doc;
        benchmark::DoNotOptimize(doc.setContent(xml));
    }
}
BENCHMARK(BM_SnapshotParseOnly)->Unit(benchmark::kMillisecond);

static void BM_SnapshotFirstLoad(benchmark::State &state)
{
    configure();
    const QString xml = bigSnapshot();
    for (auto _ : state) {
        ConferenceListModel model;
        model.conferenceListReceived(xml, QVariant());
        benchmark::DoNotOptimize(model.rowCount());
    }
}
BENCHMARK(BM_SnapshotFirstLoad)->Unit(benchmark::kMillisecond);

// One member joining and leaving the last conference of a full list. The row left
// behind is Disconnected (no auto-delete), and the next join of the same URI reuses
// it, so the list keeps its size across iterations.
static void BM_AddDelMember(benchmark::State &state)
{
    configure();
    ConferenceListModel model;
    model.conferenceListReceived(bigSnapshot(), QVariant());
    const QString conf = QStringLiteral("room%1").arg(kConferences - 1);
    const auto members = model.getParticipantsModel(conf);
    const ESL2::Event add = memberEvent(QStringLiteral("add-member"), conf, QStringLiteral("99999"),
                                        QStringLiteral("19999@example.org"));
    const ESL2::Event del = memberEvent(QStringLiteral("del-member"), conf, QStringLiteral("99999"),
                                        QStringLiteral("19999@example.org"));
    for (auto _ : state) {
        model.conferenceEvent(add);
        model.conferenceEvent(del);
    }
    state.counters["members"] = members->rowCount();
}
BENCHMARK(BM_AddDelMember)->Unit(benchmark::kMicrosecond);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
