#include "app/startup.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTextCodec>

class StartupTest : public QObject
{
    Q_OBJECT

private slots:
    void langPicksTheLocaleCodec()
    {
        QTextCodec *system = QTextCodec::codecForLocale();
        QCOMPARE(Startup::settleLocaleCodec("ru_RU.KOI8-R")->name(), QByteArray("KOI8-R"));
        // Local 8-bit text now really goes through KOI8-R.
        QCOMPARE(QString::fromLocal8Bit("\xf4\xc5\xd3\xd4"), QString("Тест"));

        // No '.', a codec Qt does not know, or one after the second '.': the codec stays as it was.
        QTextCodec::setCodecForLocale(nullptr);
        for (const char *lang : {"C", "ru_RU.NO-SUCH-CODEC", "ru_RU.UTF-8.KOI8-R"})
            QCOMPARE(Startup::settleLocaleCodec(lang), system);
    }

    void commandLineSetsTheAutologinFlag()
    {
        // Parsed again without the option, the flag clears.
        const QStringList runs[] = {{"tesmar", "-n"}, {"tesmar"}, {"tesmar", "--disable-autologin"}};
        for (const QStringList &args : runs) {
            Startup::parseCommandLine(args);
            QCOMPARE(Startup::autologinDisabled(), args.size() > 1);
        }
    }

    void styleSheetParsesAndPaintsTheAccent()
    {
        // Qt reports a style sheet it cannot parse only when a widget is polished.
        static QStringList warnings;
        const QtMessageHandler previous =
            qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &message) {
                if (type != QtDebugMsg)
                    warnings.append(message);
            });
        qApp->setStyleSheet(Startup::styleSheet());
        QPushButton button;
        button.setObjectName("blueButton");
        button.resize(120, 40);
        const QImage image = button.grab().toImage();
        qInstallMessageHandler(previous);
        qApp->setStyleSheet(QString());
        QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n')));
        QCOMPARE(QColor(image.pixel(image.width() / 2, image.height() / 2)), QColor(0x29, 0x8F, 0xCC));
    }
};

QTEST_MAIN(StartupTest)
#include "startup_test.moc"
