#include "app/mysqlconnection.h"
#include "records/recordlistitemdelegate.h"
#include "records/recordlistmodel.h"

#include <QPainter>
#include <QtTest>

namespace {

const QRgb kSelected = qRgb(0x29, 0x8F, 0xCC);
const QRgb kLine = qRgb(0xE8, 0xE8, 0xE8);

QImage paintRow(const QModelIndex &index, QStyle::State state, int width = 420)
{
    RecordListItemDelegate delegate;
    QImage image(width, 40, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    QStyleOptionViewItem option;
    option.rect = image.rect();
    option.state = state;
    option.font.setPixelSize(14);
    delegate.paint(&painter, option, index);
    return image;
}

// Bounding box of the pixels that match.
template <typename Match>
QRect where(const QImage &image, Match match, const QRect &zone = QRect())
{
    const QRect area = zone.isNull() ? image.rect() : zone;
    QRect box;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (match(QColor(image.pixel(x, y))))
                box |= QRect(x, y, 1, 1);
    return box;
}

bool bluish(const QColor &c)
{
    return c.blue() > 150 && c.red() < 120 && c.green() < 120;
}

bool whitish(const QColor &c)
{
    return c.red() > 200 && c.green() > 200 && c.blue() > 200;
}

bool dark(const QColor &c)
{
    return c.red() < 80 && c.green() < 80 && c.blue() < 80;
}

} // namespace

class RecordListItemDelegateTest : public QObject
{
    Q_OBJECT

    MySQLConnection m_connection; // never connected: rows are set by hand
    std::unique_ptr<RecordListModel> m_model;

    QModelIndex row(int r, const QString &text, bool conference, bool more = false)
    {
        if (m_model->rowCount() <= r)
            m_model->insertRows(m_model->rowCount(), r + 1 - m_model->rowCount());
        const QModelIndex i = m_model->index(r, 0);
        m_model->setData(i, text, Qt::DisplayRole);
        m_model->setData(i, QDateTime(QDate(2024, 3, 5), QTime(10, 15)), RecordListModel::RecordStartRole);
        m_model->setData(i, QDateTime(QDate(2024, 3, 5), QTime(11, 40)), RecordListModel::RecordEndRole);
        m_model->setData(i, conference, RecordListModel::RecordIsConferenceRole);
        m_model->setData(i, more, RecordListModel::RecordMoreRole);
        return i;
    }

private slots:
    void init() { m_model = std::make_unique<RecordListModel>(&m_connection); }

    void rowThatLoadsMoreIsACentredBlueText()
    {
        const QModelIndex more = row(0, "room-21", true, true);
        const QImage normal = paintRow(more, QStyle::State_Enabled);
        QCOMPARE(normal.pixel(3, 3), qRgb(255, 255, 255));
        QCOMPARE(normal.pixel(200, 39), kLine);
        const QRect text = where(normal, bluish);
        QVERIFY2(!text.isEmpty(), "no blue text");
        QVERIFY2(qAbs(text.center().x() - 210) <= 3 && qAbs(text.center().y() - 19) <= 4,
                 qPrintable(QString("text at %1,%2").arg(text.center().x()).arg(text.center().y())));
        // Only the words: no icon, no times, no row text.
        QVERIFY(where(normal, dark).isEmpty());
        QVERIFY(text.width() < 80);

        const QImage selected = paintRow(more, QStyle::State_Enabled | QStyle::State_Selected);
        QCOMPARE(selected.pixel(3, 3), kSelected);
        const QRect white = where(selected, whitish);
        QVERIFY(!white.isEmpty() && qAbs(white.center().x() - 210) <= 3);
    }

    void selectedRowShowsWhiteIconTextAndPaleTimes()
    {
        const QModelIndex conference = row(0, "Главная", true);
        const QImage image = paintRow(conference, QStyle::State_Enabled | QStyle::State_Selected);
        QCOMPARE(image.pixel(36, 3), kSelected);
        QCOMPARE(image.pixel(200, 39), kLine);
        // The white icon sits in its box, the white text from 40 px on, and nothing is black.
        const QRect icon = where(image, whitish, QRect(0, 0, 36, 39));
        QVERIFY(!icon.isEmpty() && icon.left() >= 8 && icon.right() <= 31);
        QVERIFY(!where(image, whitish, QRect(40, 0, 100, 39)).isEmpty());
        QVERIFY(where(image, dark).isEmpty());
        // The times are drawn at the right end in the pale colour, up to 8 px from the edge.
        const QRect times = where(
            image, [](const QColor &c) { return c != QColor(kSelected) && !whitish(c); },
            QRect(200, 0, 220, 39));
        QVERIFY(!times.isEmpty() && times.right() <= 420 - 8 && times.right() >= 420 - 14);
    }

    void longTextIsElidedBeforeTheTimes()
    {
        const QModelIndex direct = row(0, QString("1001 - 1002 ").repeated(20), false);
        const QImage image = paintRow(direct, QStyle::State_Enabled);
        QCOMPARE(image.pixel(36, 3), qRgb(255, 255, 255));
        const QRect text = where(image, dark);
        const QRect times = where(
            image, [](const QColor &c) { return c == QColor(0x9E, 0x9E, 0x9E); }, QRect(200, 0, 220, 39));
        QVERIFY(!text.isEmpty() && !times.isEmpty());
        QVERIFY2(
            text.right() < times.left(),
            qPrintable(QString("text ends at %1, times start at %2").arg(text.right()).arg(times.left())));
    }
};

QTEST_MAIN(RecordListItemDelegateTest)
#include "recordlistitemdelegate_test.moc"
