#include <QDate>
#include <QDirIterator>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// Runs the built program the way an operator would and checks what it leaves behind.
class SmokeTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_work, m_config;

    QStringList filesUnder(const QString &root) const
    {
        QStringList files;
        QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            files.append(QDir(root).relativeFilePath(it.next()));
        files.sort();
        return files;
    }

    int run(const QStringList &arguments, QByteArray *output = nullptr)
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("XDG_CONFIG_HOME", m_config.path());
        env.insert("HOME", m_work.path());
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(m_work.path());
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(TESMAR_EXE, arguments);
        // A program still running at the deadline is killed when `process` goes.
        const bool finished = process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit;
        if (output)
            *output = process.readAll();
        return finished ? process.exitCode() : -1;
    }

private slots:
    void startWritesOnlyTheTwoLogsAndLeavesTheConfigurationAlone()
    {
        QByteArray output;
        QCOMPARE(run({"--help"}, &output), 0);
        QVERIFY2(output.contains("-n, --disable-autologin"), output.constData());
        QVERIFY(run({"--no-such-option"}) != 0);

        QCOMPARE(run({"-n"}), 0);
        const QString debugName = "logs/debug" + QDate::currentDate().toString("yyyy-MM-dd") + ".log";
        QCOMPARE(filesUnder(m_work.path()), (QStringList{debugName, "logs/main.log"}));
        QVERIFY(filesUnder(m_config.path()).isEmpty());
        QFile debug(m_work.filePath(debugName));
        QVERIFY(debug.open(QIODevice::ReadOnly));
        const QByteArray expected =
            "[DEBUG  ] Loading config from " + QFile::encodeName(m_config.path()) + "/TesmarDispatcher.xml";
        QVERIFY2(debug.readAll().contains(expected), expected.constData());

        // An existing configuration is read, not rewritten, by start-up alone.
        const QByteArray stored =
            "<?xml version=\"1.0\"?><root><Users><User sip-uri=\"1@h\" AutoStart=\"true\" "
            "Password=\"pw\"/></Users></root>\n";
        QFile file(m_config.filePath("TesmarDispatcher.xml"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(stored) == stored.size());
        file.close();
        QCOMPARE(run({"--disable-autologin"}), 0);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), stored);
        QCOMPARE(filesUnder(m_work.path()).size(), 2);
    }
};

QTEST_GUILESS_MAIN(SmokeTest)
#include "smoke_test.moc"
