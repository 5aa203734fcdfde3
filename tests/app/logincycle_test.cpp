#include "app/eventfilter.h"
#include "app/logfile.h"
#include "app/logincycle.h"
#include "app/startup.h"
#include "app/xmlconfig.h"

#include <QDialog>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <tuple>

namespace {
// Scripted parts: each login dialog and each window run a step the test gives, and
// every call is recorded in order.
class ScriptedParts : public LoginCycle::Parts
{
public:
    QStringList calls;
    QList<std::function<void(QDialog *)>> dialogSteps;
    QList<std::function<void(QWidget *)>> windowSteps;
    QList<bool> reloginSeenByDialog;
    QPointer<QWidget> window;
    QPointer<QPlainTextEdit> logViewer;

    void createProcessObjects() override { calls << "process objects"; }
    QDialog *createLoginDialog() override
    {
        calls << "dialog";
        reloginSeenByDialog << Startup::reloginRequested();
        auto *dialog = new QDialog;
        const auto step = dialogSteps.takeFirst();
        QTimer::singleShot(0, dialog, [dialog, step] { step(dialog); });
        return dialog;
    }
    QWidget *createSession() override
    {
        calls << "session";
        window = new QWidget;
        logViewer = new QPlainTextEdit(window);
        LogFile::mainLog().setViewer(logViewer);
        const auto step = windowSteps.takeFirst();
        QWidget *w = window;
        QTimer::singleShot(50, w, [w, step] { step(w); });
        return window;
    }
    void destroySession() override
    {
        calls << "destroy session";
        delete window;
    }
    void closeLinks() override { calls << "close links"; }
    void destroyProcessObjects() override { calls << "destroy process objects"; }
    void shutdownLibraries(bool loggedIn) override
    {
        calls << (loggedIn ? "shutdown after login" : "shutdown without login");
    }
};

QStringList mainLogSince(qint64 offset)
{
    QFile file(LogFile::mainLog().filePath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    file.seek(offset);
    QStringList lines;
    for (const QString &line : QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts))
        lines << line.mid(line.indexOf(']') + 2); // without time stamp and level
    return lines;
}

qint64 mainLogSize()
{
    return QFileInfo(LogFile::mainLog().filePath()).size();
}

const QString kStarted = "Программа запущенна, Tesmar";
const QString kLoaded = "Конфигурация загружена";
const QString kConnecting = "Начат процесс подключения к FreeSwitch серверу";
} // namespace

// The login cycle end to end with scripted dialogs and windows: what runs in which
// order, what the main log says, where windows appear and what is saved.
class LoginCycleTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private slots:
    void init()
    {
        XMLConfig &c = XMLConfig::instance();
        c = XMLConfig(m_dir.filePath("TesmarDispatcher.xml"));
        QFile::remove(c.filePath);
        Startup::setReloginRequested(false);
    }

    void cancelledLoginEndsAtOnce()
    {
        ScriptedParts parts;
        XMLConfig::instance().currentLoginAddress = "1001@pbx"; // a stale login is cleared
        parts.dialogSteps << [](QDialog *d) {
            QCOMPARE(XMLConfig::instance().currentLoginAddress, QString());
            d->move(70, 80);
            d->reject();
        };
        const qint64 logStart = mainLogSize();
        LoginCycle cycle(parts, XMLConfig::instance());
        QCOMPARE(cycle.run(), 0);
        QCOMPARE(parts.calls, (QStringList{"process objects", "dialog", "shutdown without login"}));
        QCOMPARE(mainLogSince(logStart),
                 (QStringList{kStarted, kLoaded, kConnecting,
                              "Выход из программы, подключения к Freeswitch серверу не было"}));
        QCOMPARE(QPoint(XMLConfig::instance().loginDialogX, XMLConfig::instance().loginDialogY),
                 QPoint(70, 80));
        QVERIFY(!QFile::exists(XMLConfig::instance().filePath)); // nothing saved on this path
    }

    void altQLogsInAgainAndClosingEnds()
    {
        ScriptedParts parts;
        XMLConfig &c = XMLConfig::instance();
        QVERIFY(c.mainWindowState == -1); // first run
        bool armedOnFirstRun = false;
        bool reloginAfterAltQ = false;

        parts.dialogSteps << [](QDialog *d) { d->accept(); };
        parts.windowSteps << [&](QWidget *w) {
            QVERIFY(w->isMaximized());
            armedOnFirstRun = LoginCycle::mainWindowShown();
            QTest::keyClick(w, Qt::Key_Q, Qt::AltModifier | Qt::ShiftModifier); // not the relogin key
            QVERIFY(w->isVisible());
            QTest::keyClick(w, Qt::Key_Q, Qt::AltModifier);
            reloginAfterAltQ = Startup::reloginRequested();
        };
        // A later run: the stored normal-state geometry is restored.
        parts.dialogSteps << [&c](QDialog *d) {
            c.mainWindowState = 0;
            std::tie(c.mainWindowX, c.mainWindowY, c.mainWindowWidth, c.mainWindowHeight) =
                std::make_tuple(30, 40, 500, 300);
            d->accept();
        };
        QRect placed;
        bool reloginInSecondWindow = true;
        parts.windowSteps << [&](QWidget *w) {
            placed = QRect(w->pos(), w->size());
            reloginInSecondWindow = Startup::reloginRequested();
            w->resize(510, 310);
            w->close();
        };

        const qint64 logStart = mainLogSize();
        LoginCycle cycle(parts, c);
        cycle.setSettleDelayMs(0);
        QCOMPARE(cycle.run(), 0);

        QVERIFY2(armedOnFirstRun && reloginAfterAltQ, "Alt+Q must work from the very first login");
        QVERIFY(!reloginInSecondWindow);
        // The dialog after Alt+Q knows it is a relogin (no automatic log-in).
        QCOMPARE(parts.reloginSeenByDialog, (QList<bool>{false, true}));
        QCOMPARE(parts.calls,
                 (QStringList{"process objects", "dialog", "session", "destroy session", "close links",
                              "dialog", "session", "destroy session", "close links",
                              "destroy process objects", "shutdown after login"}));
        QCOMPARE(placed, QRect(30, 40, 500, 300));
        QVERIFY(!LoginCycle::mainWindowShown());
        QVERIFY(!LogFile::mainLog().viewer() && !parts.logViewer); // detached before its window went

        const QStringList pass = {kStarted, kLoaded, kConnecting};
        QCOMPARE(mainLogSince(logStart),
                 pass + pass + QStringList{"Выход из программы, было подключение к Freeswitch серверу"});

        // Saved at close: the last window's geometry and state.
        XMLConfig saved(c.filePath);
        QVERIFY(saved.load());
        QCOMPARE(QRect(saved.mainWindowX, saved.mainWindowY, saved.mainWindowWidth, saved.mainWindowHeight),
                 QRect(30, 40, 510, 310));
        QCOMPARE(saved.mainWindowState, 0);
    }

    void reloginKeyActsOnlyWhileAWindowIsShown()
    {
        EventFilter filter;
        QWidget window;
        filter.setMainWindow(&window);
        window.show();
        QKeyEvent altQ(QEvent::KeyPress, Qt::Key_Q, Qt::AltModifier);
        QVERIFY(!LoginCycle::mainWindowShown());
        QVERIFY(!filter.eventFilter(&window, &altQ));
        QVERIFY(!Startup::reloginRequested() && window.isVisible());
    }
};

QTEST_MAIN(LoginCycleTest)
#include "logincycle_test.moc"
