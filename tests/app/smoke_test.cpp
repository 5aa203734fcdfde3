#include <QDate>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

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
        QVERIFY(process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);

        const QString debugName = "debug" + QDate::currentDate().toString("yyyy-MM-dd") + ".log";
        const auto all = QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot;
        QCOMPARE(QDir(m_work.path()).entryList(all), QStringList{"logs"});
        QCOMPARE(QDir(m_work.filePath("logs")).entryList(all), (QStringList{debugName, "main.log"}));
        QCOMPARE(QDir(m_config.path()).entryList(all), QStringList{"TesmarDispatcher.xml"});
        QVERIFY(config.open(QIODevice::ReadOnly));
        QCOMPARE(config.readAll(), stored);
        QFile debug(m_work.filePath("logs/" + debugName));
        QVERIFY(debug.open(QIODevice::ReadOnly));
        const QByteArray expected = "[DEBUG  ] Loading config from " + QFile::encodeName(config.fileName());
        QVERIFY2(debug.readAll().contains(expected), expected.constData());
    }
};

QTEST_GUILESS_MAIN(SmokeTest)
#include "smoke_test.moc"
