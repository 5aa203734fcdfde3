// Events per second through the client's receive path (framing, JSON decoding, signal
// dispatch), next to the least any client must do per event: parse the JSON and build the
// event map. Fed with recorded server streams.
#include "esl/esl2.h"
#include "esl/eslparser.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>

#include <benchmark/benchmark.h>

struct ESL2TestAccess
{
    static bool feed(ESL2 &esl, const char *data, int size) { return esl.consume(data, size); }
};

namespace {

struct Stream
{
    QByteArray events;        // only the event frames, back to back, as the socket delivers them
    QList<QByteArray> bodies; // their JSON bodies
};

Stream load(const char *name)
{
    QByteArray dir = qgetenv("TESMAR_REFERENCE_DIR");
    if (dir.isEmpty())
        dir = TESMAR_REFERENCE_DIR;
    QFile file(QString::fromLocal8Bit(dir + '/' + name));
    Stream stream;
    if (!file.open(QIODevice::ReadOnly))
        return stream;
    const QByteArray raw = file.readAll();
    EslParser parser;
    int offset = 0;
    while (offset < raw.size()) {
        bool complete = false;
        offset += parser.feed(raw.constData() + offset, raw.size() - offset, &complete);
        if (!complete)
            continue;
        ESL2::Message &m = parser.message();
        if (m.contentType == ESL2::Message::EventJson) {
            stream.bodies.append(m.body);
            stream.events += "Content-Length: " + QByteArray::number(m.body.size()) +
                             "\nContent-Type: text/event-json\n\n" + m.body;
        }
        m.clear();
    }
    return stream;
}

const Stream &stream(int which)
{
    static const Stream subscribed = load("stream_subscribed.raw");
    static const Stream all = load("stream_all_events.raw");
    return which == 0 ? subscribed : all;
}

void nullHandler(QtMsgType, const QMessageLogContext &, const QString &)
{}

void setDebugLog(bool on)
{
    QLoggingCategory::setFilterRules(on ? QStringLiteral("*.debug=true") : QStringLiteral("*.debug=false"));
}

void BM_FromJson(benchmark::State &state)
{
    const Stream &s = stream(int(state.range(0)));
    for (auto _ : state) {
        for (const QByteArray &body : s.bodies)
            benchmark::DoNotOptimize(QJsonDocument::fromJson(body));
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * s.bodies.size());
}

void BM_MinimalDecode(benchmark::State &state)
{
    const Stream &s = stream(int(state.range(0)));
    for (auto _ : state) {
        for (const QByteArray &body : s.bodies) {
            const QJsonObject object = QJsonDocument::fromJson(body).object();
            ESL2::Event event;
            for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
                if (it.value().isString())
                    event.insert(it.key(), it.value().toString());
            }
            benchmark::DoNotOptimize(event);
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * s.bodies.size());
}

// Bytes arrive in socket-sized blocks; receivers are connected as the models connect.
void runFullPath(benchmark::State &state, bool debugLog)
{
    const Stream &s = stream(int(state.range(0)));
    qInstallMessageHandler(nullHandler);
    setDebugLog(debugLog);
    ESL2 esl;
    int64_t received = 0;
    auto count = [&received](const ESL2::Event &e) { received += e.size() > 0; };
    QObject::connect(&esl, &ESL2::event, count);
    QObject::connect(&esl, &ESL2::presence, count);
    QObject::connect(&esl, &ESL2::backgroundJob, count);
    QObject::connect(&esl, &ESL2::registeredEvent, count);
    QObject::connect(&esl, &ESL2::conferenceEvent, count);
    constexpr int kBlock = 65536;
    for (auto _ : state) {
        for (int offset = 0; offset < s.events.size(); offset += kBlock)
            ESL2TestAccess::feed(esl, s.events.constData() + offset, qMin(kBlock, s.events.size() - offset));
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * s.bodies.size());
    state.counters["signals"] = benchmark::Counter(double(received), benchmark::Counter::kIsRate);
    setDebugLog(true);
    qInstallMessageHandler(nullptr);
}

void BM_FullPath(benchmark::State &state)
{
    runFullPath(state, false);
}

void BM_FullPathWithDebugLog(benchmark::State &state)
{
    runFullPath(state, true);
}

// Framing alone, without acting on the messages.
void BM_Framing(benchmark::State &state)
{
    const Stream &s = stream(int(state.range(0)));
    EslParser parser;
    for (auto _ : state) {
        int offset = 0;
        while (offset < s.events.size()) {
            bool complete = false;
            offset += parser.feed(s.events.constData() + offset, s.events.size() - offset, &complete);
            if (complete)
                parser.message().clear();
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * s.bodies.size());
    state.SetBytesProcessed(int64_t(state.iterations()) * s.events.size());
}

// Argument 0: the subscribed stream; 1: the stream of all events.
BENCHMARK(BM_FromJson)->Arg(0)->Arg(1);
BENCHMARK(BM_MinimalDecode)->Arg(0)->Arg(1);
BENCHMARK(BM_FullPath)->Arg(0)->Arg(1);
BENCHMARK(BM_FullPathWithDebugLog)->Arg(0)->Arg(1);
BENCHMARK(BM_Framing)->Arg(0)->Arg(1);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (stream(0).bodies.isEmpty() || stream(1).bodies.isEmpty()) {
        fprintf(stderr, "reference streams not found; set TESMAR_REFERENCE_DIR\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
