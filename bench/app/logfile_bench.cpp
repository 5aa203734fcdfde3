// Cost of one debug line through the Qt message handler into the debug log, standard error
// echoed to a file (as when the console's output is captured).

#include "app/logfile.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtDebug>
#include <benchmark/benchmark.h>

#include <cstdio>

namespace {
void BM_DebugLine(benchmark::State &state)
{
    const QString text =
        QStringLiteral("ESL2: sending request: \"api user_data 10042@127.0.0.1 attr groups\\n\\n\"");
    for (auto _ : state)
        qDebug().noquote() << text;
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DebugLine);
} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    FILE *err = freopen(qPrintable(dir.filePath(QStringLiteral("stderr.txt"))), "w", stderr);
    LogFile::debugLog();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();

    return err ? 0 : 1;
}
