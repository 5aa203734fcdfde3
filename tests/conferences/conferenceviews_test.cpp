#include "conferencetestutil.h"

#include "conferences/conferencelistitemdelegate.h"
#include "conferences/conferencelistview.h"
#include "conferences/conferenceparticipantsitemdelegate.h"
#include "conferences/conferenceparticipantsview.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <memory>

using namespace conftest;

class ConferenceViewsTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void participantZonesSendTheRightCommands();
    void participantBookkeepingAndAnimation();
    void listKeepsOneSelection();
    void listContextMenuCopiesTheShownName();
    void dropsLandOnTheRowUnderTheCursor();
    void paintersColourRowsByState();

private:
    // Appends a member row in the given state to the conference's model.
    QModelIndex addRow(PM &members, int state, const QString &uri, const QString &id, bool canSpeak = true);
    QPoint centreOfZone(QAbstractItemView &view, int row, bool left) const;

    std::unique_ptr<ESL2> m_esl;
    std::unique_ptr<LM> m_model;
};

void ConferenceViewsTest::init()
{
    resetConfigAndDirectory();
    m_esl = std::make_unique<ESL2>();
    m_model = std::make_unique<LM>();
}

void ConferenceViewsTest::cleanup()
{
    m_model.reset();
    m_esl.reset();
    MemberDirectory::setOverrideForTest({});
}

QModelIndex ConferenceViewsTest::addRow(PM &members, int state, const QString &uri, const QString &id,
                                        bool canSpeak)
{
    const int row = members.rowCount();
    members.insertRows(row, 1);
    const QModelIndex idx = members.index(row, 0);
    members.setData(idx, uri, PM::UriRole);
    members.setData(idx, id, PM::MemberIdRole);
    members.setData(idx, uri, Qt::DisplayRole);
    members.setData(idx, QString("call-"_q + id), PM::CallUuidRole);
    members.setData(idx, canSpeak, PM::CanSpeakRole);
    members.setData(idx, state, PM::StateRole);
    return idx;
}

QPoint ConferenceViewsTest::centreOfZone(QAbstractItemView &view, int row, bool left) const
{
    const QRect rect = view.visualRect(view.model()->index(row, 0));
    return left ? ConferenceParticipantsItemDelegate::leftZone(rect).center()
                : ConferenceParticipantsItemDelegate::rightZone(rect).center();
}

void ConferenceViewsTest::participantZonesSendTheRightCommands()
{
    m_model->conferenceEvent(confEvent("conference-create"_q, "room1"_q));
    auto members = m_model->getParticipantsModel("room1"_q);
    QAbstractItemModelTester tester(members.get(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    addRow(*members, PM::Connected, "1003@example.org"_q, "5"_q, true);
    addRow(*members, PM::Connected, "1004@example.org"_q, "6"_q, false);
    addRow(*members, PM::Calling, "1005@example.org"_q, "virtual"_q);
    addRow(*members, PM::Failed, "1006@example.org"_q, "virtual"_q);
    addRow(*members, PM::Planned, "1007@example.org"_q, "virtual"_q);

    ConferenceParticipantsView view;
    view.setModel(members.get());
    view.resize(420, 400);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QSignalSpy requests(m_esl.get(), &ESL2::sigSendRequest);
    QSignalSpy recalls(&view, &ConferenceParticipantsView::callToConference);
    QWidget *vp = view.viewport();

    QTest::mouseClick(vp, Qt::LeftButton, Qt::NoModifier, centreOfZone(view, 0, true));
    QTest::mouseClick(vp, Qt::LeftButton, Qt::NoModifier, centreOfZone(view, 1, true));
    QTest::mouseClick(vp, Qt::LeftButton, Qt::NoModifier, centreOfZone(view, 0, false));
    QCOMPARE(requests.count(), 3);
    QCOMPARE(requests.at(0).at(0).toString(), "api conference room1 mute 5\n\n"_q);
    QCOMPARE(requests.at(1).at(0).toString(), "api conference room1 unmute 6\n\n"_q);
    QCOMPARE(requests.at(2).at(0).toString(), "api conference room1 kick 5\n\n"_q);

    // Between the zones the click only selects; the ringing row's left zone sends nothing.
    QTest::mouseClick(vp, Qt::LeftButton, Qt::NoModifier,
                      view.visualRect(members->index(0, 0)).center() - QPoint(100, 0));
    QVERIFY(view.selectionModel()->isSelected(members->index(0, 0)));
    QTest::mouseClick(vp, Qt::LeftButton, Qt::NoModifier, centreOfZone(view, 2, true));
    QCOMPARE(requests.count(), 3);

    // Hanging up a ringing call asks the server and waits for its answer.
    QTest::mouseClick(vp, Qt::LeftButton, Qt::NoModifier, centreOfZone(view, 2, false));
    QCOMPARE(requests.count(), 4);
    QCOMPARE(requests.at(3).at(0).toString(), "api uuid_kill call-virtual\n\n"_q);
    QCOMPARE(requests.at(3).at(1).value<QObject *>(), &view);
    QCOMPARE(requests.at(3).at(2).toString(), "killResponse"_q);
    const QVariantHash ctx = requests.at(3).at(3).toHash();
    QCOMPARE(ctx.value("conference"_q).toString(), "room1"_q);
    QCOMPARE(ctx.value("row"_q).toInt(), 2);
    view.killResponse("+OK"_q, ctx);
    QCOMPARE(members->rowCount(), 5);
    QVariantHash otherConference = ctx;
    otherConference.insert("conference"_q, "room2"_q);
    view.killResponse("-ERR No such channel!"_q, otherConference);
    QCOMPARE(members->rowCount(), 5);
    view.killResponse("-ERR No such channel!"_q, ctx);
    QCOMPARE(members->rowCount(), 4);

    // The failed row is re-called; the planned row is dropped without the server.
    QTest::mouseClick(vp, Qt::LeftButton, Qt::NoModifier, centreOfZone(view, 2, true));
    QCOMPARE(recalls.count(), 1);
    QCOMPARE(recalls.first(), (QList<QVariant>{"room1"_q, "1006@example.org"_q}));
    QTest::mouseClick(vp, Qt::LeftButton, Qt::NoModifier, centreOfZone(view, 3, false));
    QCOMPARE(members->rowCount(), 3);
    QCOMPARE(requests.count(), 4);

    // A drag carries the conference and the Member-IDs.
    std::unique_ptr<QMimeData> mime(members->mimeData({members->index(0, 0), members->index(1, 0)}));
    QDataStream stream(mime->data("application/x-conference-member"_q));
    QString conf, first, second;
    stream >> conf >> first >> second;
    QCOMPARE((QStringList{conf, first, second}), (QStringList{"room1"_q, "5"_q, "6"_q}));
}

void ConferenceViewsTest::participantBookkeepingAndAnimation()
{
    m_model->conferenceEvent(confEvent("conference-create"_q, "room1"_q));
    auto members = m_model->getParticipantsModel("room1"_q);
    addRow(*members, PM::Connected, "1003@example.org"_q, "5"_q);
    const QModelIndex failed = addRow(*members, PM::Failed, "1004@example.org"_q, "v"_q);
    auto empty = m_model->getParticipantsModel(0);

    ConferenceParticipantsView view;
    QSignalSpy canRecall(&view, &ConferenceParticipantsView::canRecallToConference);
    QSignalSpy have(&view, &ConferenceParticipantsView::haveParticipants);
    view.setModel(members.get());
    QCOMPARE(canRecall.count(), 1);
    QCOMPARE(canRecall.last().at(0).toBool(), true);
    QCOMPARE(have.count(), 1);
    QCOMPARE(view.focusPolicy(), Qt::WheelFocus);

    // A second ended row changes nothing for the buttons; the emptiness does.
    const QModelIndex connected = members->index(0, 0);
    members->setData(connected, PM::Disconnected, PM::StateRole);
    QCOMPARE(canRecall.count(), 1);
    members->removeRow(failed.row());
    QCOMPARE(canRecall.count(), 1);
    members->setData(members->index(0, 0), PM::Connected, PM::StateRole);
    QCOMPARE(canRecall.count(), 2);
    QCOMPARE(canRecall.last().at(0).toBool(), false);

    // A ringing row gets the animation label, which goes once it is answered. The
    // row is born Planned (ended) and then rings, so the Start button blinks on and off.
    const QModelIndex ringing = addRow(*members, PM::Calling, "1005@example.org"_q, "v"_q);
    auto *label = qobject_cast<QLabel *>(view.indexWidget(ringing));
    QVERIFY(label);
    QVERIFY(label->movie() == view.participantsDelegate()->callMovie());
    QCOMPARE(label->styleSheet(), "QLabel { padding-right: 50px; }"_q);
    members->setData(ringing, PM::Alerting, PM::StateRole);
    QVERIFY(view.indexWidget(ringing));
    members->setData(ringing, PM::Connected, PM::StateRole);
    QTRY_VERIFY(!view.indexWidget(ringing));
    QCOMPARE(canRecall.count(), 4);
    QCOMPARE(canRecall.last().at(0).toBool(), false);

    // Emptying the list takes focus away and reports no participants.
    members->removeRows(0, members->rowCount());
    QCOMPARE(have.count(), 2);
    QCOMPARE(have.last().at(0).toBool(), false);
    QCOMPARE(view.focusPolicy(), Qt::NoFocus);

    // Switching to another conference's (empty) list stays quiet.
    view.setModel(empty.get());
    QCOMPARE(have.count(), 2);
    QCOMPARE(canRecall.count(), 4);
}

void ConferenceViewsTest::listKeepsOneSelection()
{
    ConferenceListView view;
    QSignalSpy selected(&view, &ConferenceListView::itemSelected);
    QSignalSpy deselected(&view, &ConferenceListView::itemDeselected);
    QString name;
    view.setModel(m_model.get());
    QVERIFY(view.selectedConference(name));
    QCOMPARE(name, "0"_q);
    QCOMPARE(selected.count(), 1);

    m_model->conferenceListReceived(snapshot({conference("room1"_q, {}), conference("room2"_q, {})}),
                                    QVariant());
    QCOMPARE(m_model->rowCount(), 3);
    QCOMPARE(selected.count(), 1);

    view.setCurrentIndex(m_model->index(2, 0));
    QCOMPARE(deselected.count(), 1);
    QCOMPARE(deselected.last().at(0).toModelIndex().row(), 0);
    QCOMPARE(selected.last().at(0).toModelIndex().row(), 2);
    QVERIFY(view.selectedConference(name));
    QCOMPARE(name, "room2"_q);

    // The selected conference vanishes from the server: the primary is selected again.
    m_model->conferenceListReceived(snapshot({conference("room1"_q, {})}), QVariant());
    QVERIFY(view.selectionModel()->isRowSelected(0, QModelIndex()));
    QCOMPARE(selected.last().at(0).toModelIndex().row(), 0);

    // Clearing the selection by hand does not leave the list without one.
    view.selectionModel()->clearSelection();
    QTRY_VERIFY(view.selectionModel()->hasSelection());
    QCOMPARE(view.selectionModel()->selectedIndexes().first().row(), 0);
}

void ConferenceViewsTest::listContextMenuCopiesTheShownName()
{
    m_model->conferenceEvent(confEvent("conference-create"_q, "0"_q));
    ConferenceListView view;
    view.setModel(m_model.get());
    view.resize(300, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QCOMPARE(view.contextMenu()->actions().first()->text(), "Копировать имя конференции"_q);

    // Empty space: no menu (exec would block here otherwise).
    QApplication::clipboard()->setText("unchanged"_q);
    const QPoint empty(10, 250);
    QContextMenuEvent onEmpty(QContextMenuEvent::Mouse, empty, view.viewport()->mapToGlobal(empty));
    QApplication::sendEvent(view.viewport(), &onEmpty);
    QVERIFY(view.contextMenu()->title().isEmpty());

    bool menuShown = false;
    QTimer::singleShot(50, &view, [&] {
        menuShown = view.contextMenu()->isVisible();
        view.contextMenu()->actions().first()->trigger();
        view.contextMenu()->close();
    });
    const QPoint onRow = view.visualRect(m_model->index(0, 0)).center();
    QContextMenuEvent onPrimary(QContextMenuEvent::Mouse, onRow, view.viewport()->mapToGlobal(onRow));
    QApplication::sendEvent(view.viewport(), &onPrimary);
    QVERIFY(menuShown);
    QCOMPARE(view.contextMenu()->title(), "Главная"_q);
    QCOMPARE(QApplication::clipboard()->text(), "Главная"_q);
}

namespace {
// Delivers a whole drag-and-drop gesture at pos, as Qt would during a drag.
bool dropAt(QWidget *viewport, const QPoint &pos, QMimeData *mime)
{
    QDragEnterEvent enter(pos, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    QDragMoveEvent move(pos, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &move);
    QDropEvent drop(pos, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &drop);
    return drop.isAccepted();
}
} // namespace

void ConferenceViewsTest::dropsLandOnTheRowUnderTheCursor()
{
    m_model->conferenceEvent(confEvent("conference-create"_q, "room1"_q));
    ConferenceListView view;
    view.setModel(m_model.get());
    view.resize(300, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QSignalSpy calls(m_model.get(), &LM::callToConference);
    std::unique_ptr<QMimeData> users(drag("application/x-useruri", {"1004@example.org"_q}));

    // Right at the top edge of the room1 row: still room1.
    const QRect room1 = view.visualRect(m_model->index(1, 0));
    QVERIFY(dropAt(view.viewport(), room1.topLeft() + QPoint(20, 1), users.get()));
    QCOMPARE(calls.count(), 1);
    QCOMPARE(calls.first(), (QList<QVariant>{"room1"_q, "1004@example.org"_q}));

    // Below the last row: a new planned conference holding the user.
    QVERIFY(dropAt(view.viewport(), QPoint(20, 250), users.get()));
    QCOMPARE(calls.count(), 1);
    QCOMPARE(conferenceIds(*m_model).last(), "конференция-1"_q);
    QCOMPARE(m_model->getParticipantsModel("конференция-1"_q)->rowCount(), 1);
}

namespace {
QImage paintRow(const QStyledItemDelegate &delegate, const QModelIndex &index, QStyle::State state,
                QSize size = QSize(300, 40))
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    QStyleOptionViewItem option;
    option.rect = QRect(QPoint(0, 0), size);
    option.state = state;
    option.font = QApplication::font();
    delegate.paint(&painter, option, index);
    painter.end();
    return image;
}

bool zoneIsPlain(const QImage &image, const QRect &zone, QRgb background)
{
    for (int y = zone.top(); y <= zone.bottom(); ++y) {
        for (int x = zone.left(); x <= zone.right(); ++x) {
            if (image.pixel(x, y) != background)
                return false;
        }
    }
    return true;
}
} // namespace

void ConferenceViewsTest::paintersColourRowsByState()
{
    m_model->conferenceEvent(confEvent("conference-create"_q, "room1"_q));
    auto members = m_model->getParticipantsModel("room1"_q);
    const QModelIndex failed = addRow(*members, PM::Failed, "1003@example.org"_q, "v"_q);
    members->setData(failed, "Пользователь занят"_q, Qt::ToolTipRole);
    const QModelIndex muted = addRow(*members, PM::Connected, "1004@example.org"_q, "5"_q, false);
    members->setData(muted, true, PM::TalkingRole);
    const QModelIndex planned = addRow(*members, PM::Planned, "1005@example.org"_q, "v"_q);

    ConferenceParticipantsItemDelegate delegate;
    const QStyle::State enabled = QStyle::State_Enabled;
    const QRect row(0, 0, 300, 40);
    const QRect left = ConferenceParticipantsItemDelegate::leftZone(row);
    const QRect right = ConferenceParticipantsItemDelegate::rightZone(row);
    QCOMPARE(left, QRect(QPoint(225, 8), QPoint(249, 31)));
    QCOMPARE(right, QRect(QPoint(262, 8), QPoint(285, 31)));

    QImage image = paintRow(delegate, failed, enabled);
    QCOMPARE(QColor(image.pixel(3, 5)), QColor(231, 0, 0));
    QCOMPARE(QColor(image.pixel(150, 39)), QColor(232, 232, 232));
    // Not hovered: no recall and no disconnect icon.
    QVERIFY(zoneIsPlain(image, left, qRgb(231, 0, 0)));
    QVERIFY(zoneIsPlain(image, right, qRgb(231, 0, 0)));
    image = paintRow(delegate, failed, enabled | QStyle::State_MouseOver);
    QCOMPARE(QColor(image.pixel(200, 5)), QColor(255, 0, 0));
    QVERIFY(!zoneIsPlain(image, left, qRgb(255, 0, 0)));
    QVERIFY(!zoneIsPlain(image, right, qRgb(255, 0, 0)));

    // Connected and muted: the disabled microphone even while talking.
    image = paintRow(delegate, muted, enabled);
    QCOMPARE(QColor(image.pixel(3, 5)), QColor(0, 84, 240));
    QCOMPARE(QColor(image.pixel(200, 3)), QColor(225, 232, 246));
    QVERIFY(!zoneIsPlain(image, left, qRgb(225, 232, 246)));
    QImage mutedMic = image.copy(left);
    members->setData(muted, true, PM::CanSpeakRole);
    image = paintRow(delegate, muted, enabled);
    QVERIFY(image.copy(left) != mutedMic);

    image = paintRow(delegate, planned, enabled | QStyle::State_MouseOver);
    QCOMPARE(QColor(image.pixel(3, 5)), QColor(77, 234, 8));
    QCOMPARE(QColor(image.pixel(200, 3)), QColor(243, 243, 243));

    // A disabled view greys every row.
    image = paintRow(delegate, failed, QStyle::State_None);
    QCOMPARE(QColor(image.pixel(3, 5)), QColor(208, 208, 208));
    QCOMPARE(QColor(image.pixel(200, 3)), QColor(192, 192, 192));

    // Conference rows: inactive primary, active room1.
    const QModelIndex primary = m_model->index(0, 0);
    const QModelIndex active = m_model->index(1, 0);
    ConferenceListItemDelegate listDelegate;
    image = paintRow(listDelegate, primary, enabled);
    QCOMPARE(QColor(image.pixel(5, 5)), QColor(232, 232, 232));
    image = paintRow(listDelegate, primary, enabled | QStyle::State_MouseOver);
    QCOMPARE(QColor(image.pixel(5, 5)), QColor(226, 226, 226));
    image = paintRow(listDelegate, active, enabled);
    QCOMPARE(QColor(image.pixel(5, 5)), QColor(255, 255, 255));
    // The icon sits in its box and the count at the right edge.
    QVERIFY(!zoneIsPlain(image, QRect(QPoint(13, 0), QPoint(36, 38)), qRgb(255, 255, 255)));
    QVERIFY(!zoneIsPlain(image, QRect(QPoint(260, 0), QPoint(299, 38)), qRgb(255, 255, 255)));
    QVERIFY(zoneIsPlain(image, QRect(QPoint(0, 0), QPoint(12, 38)), qRgb(255, 255, 255)));
    image = paintRow(listDelegate, active, enabled | QStyle::State_Selected | QStyle::State_MouseOver);
    QCOMPARE(QColor(image.pixel(5, 5)), QColor(41, 143, 204));
    image = paintRow(listDelegate, active, QStyle::State_Selected);
    QCOMPARE(QColor(image.pixel(5, 5)), QColor(208, 208, 208));
}

QTEST_MAIN(ConferenceViewsTest)
#include "conferenceviews_test.moc"
