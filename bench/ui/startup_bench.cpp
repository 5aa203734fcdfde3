// Start-up: from process start to the login dialog mapped on the X display. Needs a
// display (run it under xvfb-run) and xwininfo. Starts the real program with -n in a
// scratch folder and configuration several times and prints each time and the median.
// The window is polled, so each figure is late by at most one poll (a few ms).
//
//   xvfb-run -a build/bench/ui/startup_bench [runs]

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <algorithm>

namespace {
const QString kTitle = QStringLiteral("Tesmar - Авторизация");

bool dialogMapped()
{
    QProcess probe;
    probe.start(QStringLiteral("xwininfo"), {QStringLiteral("-name"), kTitle});
    probe.waitForFinished(2000);
    return probe.exitCode() == 0 && probe.readAllStandardOutput().contains("Map State: IsViewable");
}

// Milliseconds until the dialog is on screen, or -1 after ten seconds.
qint64 oneStart(const QString &exe)
{
    QTemporaryDir work;
    QProcess console;
    // Unread pipes could fill up and stall the program; its logs are in its folder anyway.
    console.setStandardOutputFile(QProcess::nullDevice());
    console.setStandardErrorFile(QProcess::nullDevice());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), work.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    console.setProcessEnvironment(env);
    console.setWorkingDirectory(work.path());
    QElapsedTimer clock;
    clock.start();
    console.start(exe, {QStringLiteral("-n")});
    console.waitForStarted();
    qint64 took = -1;
    while (clock.elapsed() < 10000) {
        if (dialogMapped()) {
            took = clock.elapsed();
            break;
        }
    }
    if (took < 0)
        QTextStream(stderr) << "startup_bench: no dialog within 10 s; program state " << console.state()
                            << "\n";
    console.terminate();
    console.waitForFinished(5000);
    return took;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        out << "startup_bench: no DISPLAY; run it under xvfb-run -a\n";
        return 2;
    }
    const int runs = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 7;
    QList<qint64> times;
    oneStart(QStringLiteral(TESMAR_EXE)); // warm the file cache; not counted
    for (int i = 0; i < runs; ++i) {
        const qint64 ms = oneStart(QStringLiteral(TESMAR_EXE));
        out << "run " << i + 1 << ": " << ms << " ms\n";
        out.flush();
        if (ms < 0)
            return 1;
        times << ms;
    }
    std::sort(times.begin(), times.end());
    const qint64 median = times.at(times.size() / 2);
    out << "start to login dialog on screen: median " << median << " ms, budget 300 ms -> "
        << (median < 300 ? "within" : "OVER") << "\n";
    return median < 300 ? 0 : 1;
}
