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
        QVERIFY(koi);
        QCOMPARE(koi->name(), QByteArray("KOI8-R"));
        QCOMPARE(QTextCodec::codecForLocale(), koi);
        QCOMPARE(Startup::localeCodec(), koi);
        // Local 8-bit text now really goes through KOI8-R.
        QCOMPARE(QString::fromLocal8Bit("\xf4\xc5\xd3\xd4"), QStringLiteral("Тест"));

        // No '.', or a codec Qt does not know: the codec for locale stays as it was.
        QTextCodec::setCodecForLocale(nullptr);
        QCOMPARE(Startup::settleLocaleCodec("C"), system);
        QCOMPARE(Startup::settleLocaleCodec("ru_RU.NO-SUCH-CODEC"), system);
        QCOMPARE(Startup::settleLocaleCodec(QByteArray()), system);
        QCOMPARE(Startup::localeCodec(), system);

        // Only the text after the first '.' names the codec.
        QTextCodec *utf8 = Startup::settleLocaleCodec("ru_RU.UTF-8");
        QCOMPARE(utf8->name(), QByteArray("UTF-8"));
        QCOMPARE(Startup::settleLocaleCodec("de_DE.ISO-8859-15.extra"), utf8);
        QTextCodec::setCodecForLocale(nullptr);
    }

    void commandLineSetsTheAutologinFlag()
    {
        Startup::parseCommandLine({QStringLiteral("tesmar")});
        QVERIFY(!Startup::autologinDisabled());
        Startup::parseCommandLine({QStringLiteral("tesmar"), QStringLiteral("-n")});
        QVERIFY(Startup::autologinDisabled());
        Startup::parseCommandLine({QStringLiteral("tesmar")});
        QVERIFY(!Startup::autologinDisabled());
        Startup::parseCommandLine({QStringLiteral("tesmar"), QStringLiteral("--disable-autologin")});
        QVERIFY(Startup::autologinDisabled());
        Startup::setAutologinDisabled(false);
    }

    void styleSheetParsesAndPaintsTheAccent()
    {
        const QString sheet = Startup::styleSheet();
        QVERIFY(sheet.startsWith(QStringLiteral("QMessageBox { messagebox-text-interaction-flags: 5;}")));
        QVERIFY2(sheet.size() > 6000 && sheet.size() < 10000, qPrintable(QString::number(sheet.size())));
        for (const char *name :
             {"blueLabelWidget", "blueButton", "conferencePreferences", "appearancePreferences", "header",
              "editPanel", "dialPad", "dialedNumbersList", "errorPanel"}) {
            QVERIFY2(sheet.contains(QLatin1Char('#') + QLatin1String(name) + QLatin1Char(' ')) ||
                         sheet.contains(QLatin1Char('#') + QLatin1String(name) + QLatin1Char(',')),
                     name);
        }

        // Qt reports a style sheet it cannot parse only when a widget is polished.
        s_warnings.clear();
        const QtMessageHandler previous = qInstallMessageHandler(collectWarnings);
        qApp->setStyleSheet(sheet);
        QPushButton button;
        button.setObjectName(QStringLiteral("blueButton"));
        button.resize(120, 40);
        const QImage image = button.grab().toImage();
        qInstallMessageHandler(previous);
        qApp->setStyleSheet(QString());
        QVERIFY2(s_warnings.isEmpty(), qPrintable(s_warnings.join(QLatin1Char('\n'))));
        QCOMPARE(QColor(image.pixel(image.width() / 2, image.height() / 2)), QColor(0x29, 0x8F, 0xCC));
    }
};

QTEST_MAIN(StartupTest)
#include "startup_test.moc"
