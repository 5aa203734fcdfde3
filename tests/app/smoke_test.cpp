#include <QDate>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// Runs the built program the way an operator would and checks what it leaves behind.
class SmokeTest : public QObject
{
    Q_OBJECT

private:
    static QStringList filesUnder(const QString &root)
    {
        QStringList files;
        QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            files.append(QDir(root).relativeFilePath(it.next()));
        files.sort();
        return files;
    }

    static int run(const QString &workDir, const QString &configDir, const QStringList &arguments,
                   QByteArray *output = nullptr)
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), configDir);
        env.insert(QStringLiteral("HOME"), workDir);
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(workDir);
        process.start(QStringLiteral(TESMAR_EXE), arguments);
        if (!process.waitForFinished(60000)) {
            process.kill();
            process.waitForFinished();
            return -1;
        }
        if (output)
            *output = process.readAllStandardOutput() + process.readAllStandardError();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

private slots:
    void helpListsTheOptions()
    {
        QTemporaryDir work;
        QByteArray output;
        QCOMPARE(run(work.path(), work.filePath(QStringLiteral("cfg")), {QStringLiteral("--help")}, &output),
                 0);
        QVERIFY2(output.contains("-n, --disable-autologin"), output.constData());
        QVERIFY(output.contains("Disable autologin"));
        QVERIFY(output.contains("--version"));
        QVERIFY(run(work.path(), work.filePath(QStringLiteral("cfg")),
                    {QStringLiteral("--no-such-option")}) != 0);
    }

    void startWritesOnlyTheTwoLogs()
    {
        QTemporaryDir work;
        QTemporaryDir config;
        QCOMPARE(run(work.path(), config.path(), {QStringLiteral("-n")}), 0);

        const QString debugName = QStringLiteral("logs/debug") +
                                  QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")) + ".log";
        QCOMPARE(filesUnder(work.path()), (QStringList{debugName, QStringLiteral("logs/main.log")}));
        QVERIFY(filesUnder(config.path()).isEmpty());
        QFile debug(work.filePath(debugName));
        QVERIFY(debug.open(QIODevice::ReadOnly));
        const QByteArray expected =
            "[DEBUG  ] Loading config from " + QFile::encodeName(config.path()) + "/TesmarDispatcher.xml";
        QVERIFY2(debug.readAll().contains(expected), expected.constData());

        // An existing configuration is read, not rewritten, by start-up alone.
        const QByteArray stored =
            "<?xml version=\"1.0\"?><root><Users><User sip-uri=\"1@h\" AutoStart=\"true\" "
            "Password=\"pw\"/></Users></root>\n";
        {
            QFile file(config.filePath(QStringLiteral("TesmarDispatcher.xml")));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(stored);
        }
        QCOMPARE(run(work.path(), config.path(), {QStringLiteral("--disable-autologin")}), 0);
        QFile file(config.filePath(QStringLiteral("TesmarDispatcher.xml")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), stored);
        QCOMPARE(filesUnder(work.path()).size(), 2);
    }
};

QTEST_GUILESS_MAIN(SmokeTest)
#include "smoke_test.moc"
