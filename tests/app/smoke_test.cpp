#include <QDate>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

// Runs the built program the way an operator would and checks what it leaves behind.
class SmokeTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_work, m_config;

private slots:
    void startWritesOnlyTheTwoLogsAndLeavesTheConfigurationAlone()
    {
        // An existing configuration is read, not rewritten, by start-up alone.
        const QByteArray stored =
            R"(<root><Users><User sip-uri="1@h" AutoStart="true" Password="pw"/></Users></root>)";
        QFile config(m_config.filePath("TesmarDispatcher.xml"));
        QVERIFY(config.open(QIODevice::WriteOnly) && config.write(stored) == stored.size());
        config.close();

        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("XDG_CONFIG_HOME", m_config.path());
        env.insert("HOME", m_work.path());
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(m_work.path());
        process.start(TESMAR_EXE, {"-n"});
        QVERIFY(process.waitForStarted());
        // Start-up is over once the login dialog is up; the operator would now log in.
        const auto contains = [this](const QString &name, const QByteArray &text) {
            QFile log(m_work.filePath("logs/" + name));
            return log.open(QIODevice::ReadOnly) && log.readAll().contains(text);
        };
        const QString debugName = "debug" + QDate::currentDate().toString("yyyy-MM-dd") + ".log";
        const QByteArray loading = "[DEBUG  ] Loading config from " + QFile::encodeName(config.fileName());
        QTRY_VERIFY_WITH_TIMEOUT(contains("main.log", "Начат процесс подключения к FreeSwitch серверу"),
                                 20000);
        // The debug log reaches its file in batches.
        QTRY_VERIFY2_WITH_TIMEOUT(contains(debugName, loading), loading.constData(), 5000);
        // Start-up is over once the login dialog is up; the program now waits for the operator.
        QVERIFY(process.state() == QProcess::Running);
        process.terminate();
        QVERIFY(process.waitForFinished(10000));

        const auto all = QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot;
        QCOMPARE(QDir(m_work.path()).entryList(all), QStringList{"logs"});
        QCOMPARE(QDir(m_work.filePath("logs")).entryList(all), (QStringList{debugName, "main.log"}));
        QCOMPARE(QDir(m_config.path()).entryList(all), QStringList{"TesmarDispatcher.xml"});
        QVERIFY(config.open(QIODevice::ReadOnly));
        QCOMPARE(config.readAll(), stored);
    }
};

QTEST_GUILESS_MAIN(SmokeTest)
#include "smoke_test.moc"
