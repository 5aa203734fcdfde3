#include "app/xmlconfig.h"
#include "tests/users/usertestdata.h"
#include "users/userlistitemdelegate.h"

#include <QPainter>
#include <QtTest>

using namespace UserTestData;

// Paints single rows into images and checks the documented colours and geometry.
class UserListItemDelegateTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void groupRowColoursAndCounters();
    void userAndOwnRows();

private:
    QImage paint(const QModelIndex &index, QStyle::State state, int width = 320);
    // Columns in [from, to) holding a pixel within tolerance of the colour.
    static QList<int> columns(const QImage &image, const QColor &colour, int from, int to,
                              int tolerance = 12);

    UserListModel m_model;
    UserListItemDelegate m_delegate;
};

QImage UserListItemDelegateTest::paint(const QModelIndex &index, QStyle::State state, int width)
{
    QImage image(width, 28, QImage::Format_RGB32);
    image.fill(Qt::white);
    QStyleOptionViewItem option;
    option.rect = image.rect();
    option.state = state;
    option.font = QFont(QStringLiteral("DejaVu Sans"));
    option.font.setPixelSize(14);
    option.backgroundBrush = QBrush(Qt::white);
    QPainter painter(&image);
    m_delegate.paint(&painter, option, index);
    return image;
}

QList<int> UserListItemDelegateTest::columns(const QImage &image, const QColor &colour, int from, int to,
                                             int tolerance)
{
    QList<int> out;
    for (int x = from; x < to; ++x) {
        for (int y = 0; y < image.height() - 1; ++y) {
            const QRgb p = image.pixel(x, y);
            if (qAbs(qRed(p) - colour.red()) <= tolerance && qAbs(qGreen(p) - colour.green()) <= tolerance &&
                qAbs(qBlue(p) - colour.blue()) <= tolerance) {
                out << x;
                break;
            }
        }
    }
    return out;
}

void UserListItemDelegateTest::init()
{
    XMLConfig::instance().currentServerHost = kDomain;
    XMLConfig::instance().currentLoginUser = QStringLiteral("1006");
    XMLConfig::instance().showNumRegistered = true;
    loadReferenceDirectory(&m_model);
}

void UserListItemDelegateTest::groupRowColoursAndCounters()
{
    const QModelIndex a = m_model.index(1, 0); // Группа А: one of two registered
    QImage image = paint(a, QStyle::State_Enabled);
    QCOMPARE(QColor(image.pixel(150, 27)), QColor(232, 232, 232));
    QCOMPARE(QColor(image.pixel(5, 3)), QColor(Qt::white));
    // "1" green, then "/2" grey ending at the 13-pixel right margin; the name 44 px in.
    const QList<int> green = columns(image, QColor(0, 221, 0), 250, 320);
    const QList<int> grey = columns(image, QColor(158, 158, 158), 250, 320);
    QVERIFY(!green.isEmpty() && !grey.isEmpty() && green.last() < grey.first());
    QVERIFY(grey.last() <= 306 && grey.last() >= 303);
    const int firstDark = columns(image, Qt::black, 0, 320, 60).value(0);
    QVERIFY(firstDark >= 44 && firstDark < 50);

    image = paint(a, QStyle::State_Enabled | QStyle::State_Selected);
    QCOMPARE(QColor(image.pixel(150, 2)), QColor(41, 143, 204));
    QVERIFY(!columns(image, QColor(171, 204, 230), 250, 320).isEmpty());
    QVERIFY(!columns(image, Qt::white, 44, 100, 30).isEmpty());

    XMLConfig::instance().showNumRegistered = false;
    image = paint(a, QStyle::State_Enabled);
    QVERIFY(columns(image, QColor(0, 221, 0), 0, 320, 40).isEmpty());
    QVERIFY(!columns(image, QColor(158, 158, 158), 290, 320).isEmpty());
    XMLConfig::instance().showNumRegistered = true;

    // A long name ends before the counters.
    m_model.setData(a, QStringLiteral("Очень длинное название группы диспетчеров"), Qt::DisplayRole);
    image = paint(a, QStyle::State_Enabled, 200);
    QVERIFY(columns(image, Qt::black, 0, 200, 60).last() < columns(image, QColor(0, 221, 0), 0, 200).first());
    // The indicator follows the expanded state.
    QVERIFY(paint(a, QStyle::State_Enabled).copy(26, 0, 24, 28) !=
            paint(a, QStyle::State_Enabled | QStyle::State_Open).copy(26, 0, 24, 28));
}

void UserListItemDelegateTest::userAndOwnRows()
{
    const QModelIndex petrov = m_model.indexesOfUser(uri("1002")).value(0);
    QImage image = paint(petrov, QStyle::State_Enabled);
    // The grey strip of a row inside a group, then the content 13 pixels in.
    QCOMPARE(QColor(image.pixel(0, 5)), QColor(231, 231, 231));
    QCOMPARE(QColor(image.pixel(12, 5)), QColor(231, 231, 231));
    QCOMPARE(QColor(image.pixel(13, 5)), QColor(Qt::white));
    const int firstDark = columns(image, Qt::black, 52, 320, 60).value(0);
    QVERIFY(firstDark >= 57 && firstDark < 63);
    QVERIFY(columns(image, QColor(158, 158, 158), 250, 320).isEmpty());
    // The green dot centred in the icon column.
    const QImage dot = QIcon(QStringLiteral(":/Data/GreenDot.png")).pixmap(16, 16).toImage();
    QVERIFY(!dot.isNull());
    QVERIFY(!columns(image.copy(13 + 13 + 8, 14, 8, 2), dot.pixel(8, 8), 0, 8, 20).isEmpty());

    // The own row is bold: more ink than the same row once it is not his own.
    const QModelIndex own = m_model.index(0, 0);
    auto ink = [](const QImage &img) {
        int n = 0;
        for (int x = 44; x < 250; ++x)
            for (int y = 0; y < 27; ++y)
                n += qGray(img.pixel(x, y)) < 100;
        return n;
    };
    const int bold = ink(paint(own, QStyle::State_Enabled));
    XMLConfig::instance().currentLoginUser = QStringLiteral("1002");
    QVERIFY(bold > ink(paint(own, QStyle::State_Enabled)) * 11 / 10);

    QCOMPARE(QColor(paint(own, QStyle::State_Enabled | QStyle::State_MouseOver).pixel(250, 2)),
             QColor(243, 243, 243));
    image = paint(own, QStyle::State_None);
    QCOMPARE(QColor(image.pixel(250, 2)), QColor(208, 208, 208));
    QCOMPARE(ink(image), 0);
    // Focus: a 2-pixel green frame 1 pixel inside the row.
    image = paint(own, QStyle::State_Enabled | QStyle::State_HasFocus);
    QCOMPARE(QColor(image.pixel(150, 0)), QColor(Qt::white));
    QCOMPARE(QColor(image.pixel(150, 1)), QColor(Qt::green));
    QCOMPARE(QColor(image.pixel(150, 2)), QColor(Qt::green));
    QCOMPARE(QColor(image.pixel(1, 14)), QColor(Qt::green));
    QCOMPARE(QColor(image.pixel(318, 14)), QColor(Qt::green));
    QCOMPARE(QColor(image.pixel(150, 3)), QColor(Qt::white));
}

QTEST_MAIN(UserListItemDelegateTest)
#include "userlistitemdelegate_test.moc"
