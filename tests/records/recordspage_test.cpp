#include "app/mysqlconnection.h"
#include "records/dateeditwithapplyfilter.h"
#include "records/recordlistmodel.h"
#include "records/recordplayback.h"
#include "records/recordspage.h"

#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

// The page over a database connection that was never made: the model's flags say there is no
// recordings table, and every query fails.
class RecordsPageTest : public QObject
{
    Q_OBJECT

    template <typename T>
    static T *child(QWidget &page, const QString &name)
    {
        for (T *w : page.findChildren<T *>())
            if (w->objectName() == name || w->property("text").toString() == name)
                return w;
        return nullptr;
    }

private slots:
    void filterPanelHoldsUntilTheListAnswers()
    {
        MySQLConnection connection;
        RecordListModel model(&connection);
        RecordPlayback playback(&model);
        RecordsPage page(&model, &playback);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));

        auto *search = child<QPushButton>(page, "blueButton");
        auto *clear = child<QPushButton>(page, "grayButton");
        auto *wait = child<QLabel>(page, "Применяется фильтр, подождите");
        auto *kind = page.findChild<QComboBox *>();
        QVERIFY(search && clear && wait && kind);
        QVERIFY(!wait->isVisible());

        // Direct recordings without their table: released at once, and the filter is what the editors say.
        QSignalSpy applied(&page, &RecordsPage::ApplyRecordFilter);
        kind->setCurrentIndex(2);
        auto *fromDate = page.findChildren<DateEditWithApplyFilter *>().value(0);
        fromDate->setDate(QDate(1969, 12, 31));
        fromDate->setFocus();
        QTest::keyClick(fromDate, Qt::Key_Enter);
        QCOMPARE(applied.count(), 1);
        QCOMPARE(applied.first().at(0).toInt(), 2);
        QCOMPARE(applied.first().at(1).toDateTime().date(), QDate(1970, 1, 1));
        QCOMPARE(applied.first().at(1).toDateTime().time().second(), 0);
        QCOMPARE(applied.first().at(2).toDateTime().time().second(), 59);
        QVERIFY(search->isEnabled() && clear->isEnabled() && !wait->isVisible());
        QCOMPARE(child<QLabel>(page, "recordCountLabel")->text(), QString("Найдено записей: 0"));

        // A failing list query: the panel waits, the operator reads what failed, the panel is released.
        QString boxText;
        QTimer closer;
        connect(&closer, &QTimer::timeout, [&] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                boxText = box->text();
                box->accept();
            }
        });
        closer.start(20);
        kind->setCurrentIndex(1);
        QTest::mouseClick(search, Qt::LeftButton);
        QVERIFY(!search->isEnabled() && !clear->isEnabled() && wait->isVisible());
        QVERIFY(page.findChild<QProgressBar *>()->isVisible());
        QTRY_VERIFY(search->isEnabled());
        QVERIFY(boxText.startsWith("Не удалось загрузить список записей"));
        QVERIFY(!wait->isVisible() && !page.findChild<QProgressBar *>()->isVisible());

        // Clearing resets the kind and does not run the filter.
        QTest::mouseClick(clear, Qt::LeftButton);
        QCOMPARE(kind->currentIndex(), 0);
        QCOMPARE(fromDate->date(), QDate::currentDate());
        QCOMPARE(applied.count(), 2);
    }
};

QTEST_MAIN(RecordsPageTest)
#include "recordspage_test.moc"
