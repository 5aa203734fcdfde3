#include "app/xmlconfig.h"
#include "tests/users/usertestdata.h"
#include "users/userlistitemdelegate.h"
#include "users/userlistmodel.h"

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QtTest>

using namespace UserTestData;

// Paints single rows into images and checks the documented colours and geometry.
class UserListItemDelegateTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void groupRowShowsCountersRightOfClippedName();
    void userRowInGroupHasStripIconAndTextColumn();
    void ownRowIsBoldAndStateBackgroundsFollowTheOption();

private:
    QImage paintRow(const QModelIndex &index, QStyle::State state, int width = 320) const;
    QModelIndex group(const QString &name) const;

    UserListModel *m_model = nullptr;
    UserListItemDelegate *m_delegate = nullptr;
};

namespace {
const int kRowHeight = 28;
const QColor kWhite(255, 255, 255);

bool near(QRgb pixel, const QColor &colour, int tolerance = 12)
{
    return qAbs(qRed(pixel) - colour.red()) <= tolerance &&
           qAbs(qGreen(pixel) - colour.green()) <= tolerance &&
           qAbs(qBlue(pixel) - colour.blue()) <= tolerance;
}

// Columns of the image (within [from, to)) holding a pixel close to the colour.
QList<int> columnsWith(const QImage &image, const QColor &colour, int from, int to, int tolerance = 12)
{
    QList<int> out;
    for (int x = from; x < to; ++x) {
        for (int y = 0; y < image.height() - 1; ++y) {
            if (near(image.pixel(x, y), colour, tolerance)) {
                out << x;
                break;
            }
        }
    }
    return out;
}

int darkPixels(const QImage &image, int from, int to)
{
    int count = 0;
    for (int x = from; x < to; ++x) {
        for (int y = 0; y < image.height() - 1; ++y) {
            if (qGray(image.pixel(x, y)) < 100)
                ++count;
        }
    }
    return count;
}
} // namespace

void UserListItemDelegateTest::init()
{
    XMLConfig::instance().currentServerHost = kDomain;
    XMLConfig::instance().currentLoginUser = QStringLiteral("1006");
    XMLConfig::instance().showNumRegistered = true;
    m_model = new UserListModel(QStringLiteral("root"));
    loadReferenceDirectory(m_model);
    m_delegate = new UserListItemDelegate;
}

void UserListItemDelegateTest::cleanup()
{
    delete m_delegate;
    delete m_model;
}

QModelIndex UserListItemDelegateTest::group(const QString &name) const
{
    for (int i = 0; i < m_model->rowCount(); ++i) {
        if (m_model->index(i, 0).data().toString() == name)
            return m_model->index(i, 0);
    }
    return QModelIndex();
}

QImage UserListItemDelegateTest::paintRow(const QModelIndex &index, QStyle::State state, int width) const
{
    QImage image(width, kRowHeight, QImage::Format_RGB32);
    image.fill(kWhite);
    QStyleOptionViewItem option;
    option.rect = QRect(0, 0, width, kRowHeight);
    option.state = state;
    option.font = QFont(QStringLiteral("DejaVu Sans"));
    option.font.setPixelSize(14);
    option.backgroundBrush = QBrush(kWhite);
    QPainter painter(&image);
    m_delegate->paint(&painter, option, index);
    return image;
}

void UserListItemDelegateTest::groupRowShowsCountersRightOfClippedName()
{
    // Группа А: 1001 unregistered, 1002 registered.
    const QModelIndex groupA = group(QStringLiteral("Группа А"));
    QImage image = paintRow(groupA, QStyle::State_Enabled);
    const int right = image.width() - 13;

    QCOMPARE(QColor(image.pixel(150, kRowHeight - 1)), QColor(232, 232, 232));
    QCOMPARE(QColor(image.pixel(5, 3)), kWhite);
    QCOMPARE(QColor(image.pixel(150, 3)), kWhite);
    // "1" in green, then "/2" in grey, ending at the right margin.
    const QList<int> green = columnsWith(image, QColor(0, 221, 0), right - 40, image.width());
    const QList<int> grey = columnsWith(image, QColor(158, 158, 158), right - 40, image.width());
    QVERIFY(!green.isEmpty());
    QVERIFY(!grey.isEmpty());
    QVERIFY(green.last() < grey.first());
    QVERIFY(grey.last() <= right);
    QVERIFY(grey.last() >= right - 3);
    // The group name in black from 44 pixels in.
    const int firstDark = columnsWith(image, QColor(0, 0, 0), 0, image.width(), 60).value(0, -1);
    QVERIFY(firstDark >= 44 && firstDark < 50);

    // Selected: the blue background, the light total and a white name.
    image = paintRow(groupA, QStyle::State_Enabled | QStyle::State_Selected);
    QCOMPARE(QColor(image.pixel(150, 2)), QColor(41, 143, 204));
    QVERIFY(!columnsWith(image, QColor(171, 204, 230), right - 40, image.width()).isEmpty());
    QVERIFY(!columnsWith(image, QColor(0, 221, 0), right - 40, image.width()).isEmpty());
    QVERIFY(!columnsWith(image, kWhite, 44, 100, 30).isEmpty());

    // Without the registered count only the total, in grey, is drawn.
    XMLConfig::instance().showNumRegistered = false;
    image = paintRow(groupA, QStyle::State_Enabled);
    QVERIFY(columnsWith(image, QColor(0, 221, 0), 0, image.width(), 40).isEmpty());
    QVERIFY(!columnsWith(image, QColor(158, 158, 158), right - 20, image.width()).isEmpty());

    // A narrow row: the long name is cut before the counters, never under them.
    XMLConfig::instance().showNumRegistered = true;
    m_model->setData(groupA, QStringLiteral("Очень длинное название группы диспетчеров"), Qt::DisplayRole);
    image = paintRow(groupA, QStyle::State_Enabled, 200);
    const QList<int> counters = columnsWith(image, QColor(0, 221, 0), 0, image.width());
    QVERIFY(!counters.isEmpty());
    const QList<int> dark = columnsWith(image, QColor(0, 0, 0), 0, image.width(), 60);
    QVERIFY(!dark.isEmpty());
    QVERIFY(dark.last() < counters.first());

    // The indicator follows the expanded state.
    if (QFile::exists(QStringLiteral(":/Data/branch-open.png"))) {
        const QImage closed = paintRow(groupA, QStyle::State_Enabled).copy(26, 0, 24, kRowHeight);
        const QImage open =
            paintRow(groupA, QStyle::State_Enabled | QStyle::State_Open).copy(26, 0, 24, kRowHeight);
        QVERIFY(closed != open);
        QVERIFY(closed != QImage(24, kRowHeight, QImage::Format_RGB32));
    }
}

void UserListItemDelegateTest::userRowInGroupHasStripIconAndTextColumn()
{
    const QModelIndex petrov = m_model->indexesOfUser(QStringLiteral("1002@127.0.0.1")).value(0);
    QVERIFY(petrov.parent().isValid());
    const QImage image = paintRow(petrov, QStyle::State_Enabled);

    QCOMPARE(QColor(image.pixel(0, 5)), QColor(231, 231, 231));
    QCOMPARE(QColor(image.pixel(12, 5)), QColor(231, 231, 231));
    QCOMPARE(QColor(image.pixel(13, 5)), kWhite);
    QCOMPARE(QColor(image.pixel(200, kRowHeight - 1)), QColor(232, 232, 232));
    // Text begins 44 pixels into the content, which starts after the strip.
    const int firstDark = columnsWith(image, QColor(0, 0, 0), 52, image.width(), 60).value(0, -1);
    QVERIFY(firstDark >= 13 + 44 && firstDark < 13 + 50);
    // No counters on a user row.
    QVERIFY(columnsWith(image, QColor(158, 158, 158), 250, image.width()).isEmpty());

    // The state icon sits centred in the 24-pixel column 13 pixels into the content.
    if (QFile::exists(QStringLiteral(":/Data/GreenDot.png"))) {
        const QImage dot = QIcon(QStringLiteral(":/Data/GreenDot.png")).pixmap(16, 16).toImage();
        const QRgb centre = dot.pixel(8, 8);
        QVERIFY(near(image.pixel(13 + 13 + 12, kRowHeight / 2), QColor(centre), 20));
        QCOMPARE(QColor(image.pixel(13 + 5, kRowHeight / 2)), kWhite);
    }
}

void UserListItemDelegateTest::ownRowIsBoldAndStateBackgroundsFollowTheOption()
{
    const QModelIndex own = m_model->index(0, 0);
    const QImage bold = paintRow(own, QStyle::State_Enabled);
    // The same row when someone else is logged in is not his own any more.
    XMLConfig::instance().currentLoginUser = QStringLiteral("1002");
    const QImage plain = paintRow(own, QStyle::State_Enabled);
    XMLConfig::instance().currentLoginUser = QStringLiteral("1006");
    QVERIFY(darkPixels(bold, 44, 250) > darkPixels(plain, 44, 250) * 11 / 10);
    // Top-level rows have no strip.
    QCOMPARE(QColor(bold.pixel(5, 5)), kWhite);

    QImage image = paintRow(own, QStyle::State_Enabled | QStyle::State_MouseOver);
    QCOMPARE(QColor(image.pixel(250, 2)), QColor(243, 243, 243));

    image = paintRow(own, QStyle::State_None);
    QCOMPARE(QColor(image.pixel(250, 2)), QColor(208, 208, 208));
    QCOMPARE(darkPixels(image, 44, 250), 0);
    QVERIFY(!columnsWith(image, kWhite, 44, 250, 30).isEmpty());

    // Focus: a 2-pixel green frame, 1 pixel inside the row.
    image = paintRow(own, QStyle::State_Enabled | QStyle::State_HasFocus);
    QCOMPARE(QColor(image.pixel(150, 0)), kWhite);
    QCOMPARE(QColor(image.pixel(150, 1)), QColor(Qt::green));
    QCOMPARE(QColor(image.pixel(150, 2)), QColor(Qt::green));
    QCOMPARE(QColor(image.pixel(150, 3)), kWhite);
    QCOMPARE(QColor(image.pixel(1, 14)), QColor(Qt::green));
    QCOMPARE(QColor(image.pixel(image.width() - 2, 14)), QColor(Qt::green));
    QCOMPARE(QColor(image.pixel(150, kRowHeight - 2)), QColor(Qt::green));
}

QTEST_MAIN(UserListItemDelegateTest)
#include "userlistitemdelegate_test.moc"
