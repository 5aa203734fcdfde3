#include <QtTest>

#include <csignal>
#include <unistd.h>

// Stands for a test function that hangs the way a broken client does: it keeps the event loop
// busy waiting for something that never happens. Registered to fail: it passes only when the
// test helper's per-function timeout aborts it long before CTest's own timeout would.
class WatchdogTest : public QObject
{
    Q_OBJECT

private slots:
    void hangsUntilAborted()
    {
        // The watchdog ends the process with abort(); leave with a plain failure status instead, so
        // CTest judges by the watchdog's message rather than by a signal.
        std::signal(SIGABRT, [](int) { _exit(1); });
        QTimer tick;
        tick.start(10);
        QTRY_VERIFY_WITH_TIMEOUT(false, 3600 * 1000);
    }
};

QTEST_GUILESS_MAIN(WatchdogTest)
#include "watchdog_test.moc"
