#include "app/startup.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTextCodec>

namespace {

QStringList s_warnings;

void collectWarnings(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg)
        s_warnings.append(message);
}

} // namespace

class StartupTest : public QObject
{
    Q_OBJECT

private slots:
    void langPicksTheLocaleCodec()
    {
        QTextCodec *system = QTextCodec::codecForLocale();
        QTextCodec *koi = Startup::settleLocaleCodec("ru_RU.KOI8-R");
        QCOMPARE(koi->name(), QByteArray("KOI8-R"));
        QCOMPARE(Startup::localeCodec(), koi);
        // Local 8-bit text now really goes through KOI8-R.
        QCOMPARE(QString::fromLocal8Bit("\xf4\xc5\xd3\xd4"), QString("Тест"));

        // No '.', a codec Qt does not know, or one after the second '.': the codec stays as it was.
        QTextCodec::setCodecForLocale(nullptr);
        for (const char *lang : {"C", "", "ru_RU.NO-SUCH-CODEC", "ru_RU.UTF-8.KOI8-R"})
            QCOMPARE(Startup::settleLocaleCodec(lang), system);
        QCOMPARE(Startup::localeCodec(), system);
    }

    void commandLineSetsTheAutologinFlag()
    {
        // Parsed again without the option, the flag clears.
        const std::pair<QStringList, bool> cases[] = {{{"tesmar", "-n"}, true},
                                                      {{"tesmar"}, false},
                                                      {{"tesmar", "--disable-autologin"}, true},
                                                      {{"tesmar"}, false}};
        for (const auto &c : cases) {
            Startup::parseCommandLine(c.first);
            QCOMPARE(Startup::autologinDisabled(), c.second);
        }
    }

    void styleSheetParsesAndPaintsTheAccent()
    {
        const QString sheet = Startup::styleSheet();
        QVERIFY(sheet.startsWith("QMessageBox { messagebox-text-interaction-flags: 5;}"));

        // Qt reports a style sheet it cannot parse only when a widget is polished.
        const QtMessageHandler previous = qInstallMessageHandler(collectWarnings);
        qApp->setStyleSheet(sheet);
        QPushButton button;
        button.setObjectName("blueButton");
        button.resize(120, 40);
        const QImage image = button.grab().toImage();
        qInstallMessageHandler(previous);
        qApp->setStyleSheet(QString());
        QVERIFY2(s_warnings.isEmpty(), qPrintable(s_warnings.join('\n')));
        QCOMPARE(QColor(image.pixel(image.width() / 2, image.height() / 2)), QColor(0x29, 0x8F, 0xCC));
    }
};

QTEST_MAIN(StartupTest)
#include "startup_test.moc"
