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
#include <QTimer>
#include <QtTest>

#include <memory>

using namespace conftest;
using Delegate = ConferenceParticipantsItemDelegate;

namespace {
// Appends a member row in the given state.
QModelIndex addRow(PM &members, int state, const QString &uri, const QString &id, bool canSpeak = true)
{
    const int row = members.rowCount();
    members.insertRows(row, 1);
    const QModelIndex idx = members.index(row, 0);
    const QVariant values[] = {uri, id, uri, QString("call-" + id), canSpeak, state};
    const int roles[] = {PM::UriRole,      PM::MemberIdRole, Qt::DisplayRole,
                         PM::CallUuidRole, PM::CanSpeakRole, PM::StateRole};
    for (int i = 0; i < 6; ++i)
        members.setData(idx, values[i], roles[i]);
    return idx;
}

bool showWith(QAbstractItemView &view, QAbstractItemModel *model, const QSize &size)
{
    view.setModel(model);
    view.resize(size);
    view.show();
    return QTest::qWaitForWindowExposed(&view);
}

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

QImage paintRow(const QStyledItemDelegate &delegate, const QModelIndex &index, QStyle::State state)
{
    QImage image(300, 40, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    QStyleOptionViewItem option;
    option.rect = image.rect();
    option.state = state;
    option.font = QApplication::font();
    delegate.paint(&painter, option, index);
    painter.end();
    return image;
}

bool zoneIsPlain(const QImage &image, const QRect &zone, QRgb background)
{
    QImage plain(zone.size(), image.format());
    plain.fill(background);
    return image.copy(zone) == plain;
}
} // namespace

class ConferenceViewsTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<ESL2> m_esl;
    std::unique_ptr<LM> m_model;

    std::shared_ptr<PM> createRoom1()
    {
        m_model->conferenceEvent(confEvent("conference-create", "room1"));
        return m_model->getParticipantsModel("room1");
    }

private slots:
    void init()
    {
        resetConfigAndDirectory();
        m_esl = std::make_unique<ESL2>();
        m_model = std::make_unique<LM>();
    }

    void cleanup()
    {
        m_model.reset();
        m_esl.reset();
        MemberDirectory::setOverrideForTest({});
    }

    void participantZonesSendTheRightCommands()
    {
        auto members = createRoom1();
        QAbstractItemModelTester tester(members.get(),
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        addRow(*members, PM::Connected, "1003@pbx", "5", true);
        addRow(*members, PM::Connected, "1004@pbx", "6", false);
        addRow(*members, PM::Calling, "1005@pbx", "virtual");
        addRow(*members, PM::Failed, "1006@pbx", "virtual");
        addRow(*members, PM::Planned, "1007@pbx", "virtual");
        ConferenceParticipantsView view;
        QVERIFY(showWith(view, members.get(), QSize(420, 400)));
        QSignalSpy requests(m_esl.get(), &ESL2::sigSendRequest);
        QSignalSpy recalls(&view, &ConferenceParticipantsView::callToConference);
        auto click = [&](int row, bool left, int dx = 0) {
            const QRect rect = view.visualRect(members->index(row, 0));
            const QPoint at = dx ? rect.center() + QPoint(dx, 0)
                                 : (left ? Delegate::leftZone(rect) : Delegate::rightZone(rect)).center();
            QTest::mouseClick(view.viewport(), Qt::LeftButton, Qt::NoModifier, at);
        };

        click(0, true);
        click(1, true);
        click(0, false);
        // Between the zones the click only selects; the ringing row's left zone sends nothing.
        click(0, true, -100);
        QVERIFY(view.selectionModel()->isSelected(members->index(0, 0)));
        click(2, true);
        QCOMPARE(emitted(requests, 0),
                 (QStringList{"api conference room1 mute 5\n\n", "api conference room1 unmute 6\n\n",
                              "api conference room1 kick 5\n\n"}));

        // Hanging up a ringing call asks the server and waits for its answer.
        click(2, false);
        QCOMPARE(requests.value(3).mid(0, 3),
                 (QVariantList{"api uuid_kill call-virtual\n\n", QVariant::fromValue<QObject *>(&view),
                               "killResponse"}));
        const QVariantHash ctx = requests.value(3).value(3).toHash();
        view.killResponse("+OK", ctx);
        QVariantHash otherConference = ctx;
        otherConference.insert("conference", "room2");
        view.killResponse("-ERR No such channel!", otherConference);
        QCOMPARE(members->rowCount(), 5);
        view.killResponse("-ERR No such channel!", ctx);
        QCOMPARE(members->rowCount(), 4);

        // The failed row is re-called; the planned row is dropped without the server.
        click(2, true);
        QCOMPARE(emitted(recalls), QStringList{"room1/1006@pbx"});
        click(3, false);
        QCOMPARE(members->rowCount(), 3);
        QCOMPARE(requests.count(), 4);

        // A drag carries the conference and the Member-IDs.
        std::unique_ptr<QMimeData> mime(members->mimeData({members->index(0, 0), members->index(1, 0)}));
        QDataStream stream(mime->data("application/x-conference-member"));
        QString conf, first, second;
        stream >> conf >> first >> second;
        QCOMPARE((QStringList{conf, first, second}), (QStringList{"room1", "5", "6"}));
    }

    void participantBookkeepingAndAnimation()
    {
        auto members = createRoom1();
        addRow(*members, PM::Connected, "1003@pbx", "5");
        const QModelIndex failed = addRow(*members, PM::Failed, "1004@pbx", "v");

        ConferenceParticipantsView view;
        QSignalSpy canRecall(&view, &ConferenceParticipantsView::canRecallToConference);
        QSignalSpy have(&view, &ConferenceParticipantsView::haveParticipants);
        view.setModel(members.get());
        QCOMPARE(emitted(canRecall), QStringList{"true"});
        QCOMPARE(have.count(), 1);
        QCOMPARE(view.focusPolicy(), Qt::WheelFocus);

        // A second ended row changes nothing for the buttons; the emptiness does.
        members->setData(members->index(0, 0), PM::Disconnected, PM::StateRole);
        members->removeRow(failed.row());
        QCOMPARE(canRecall.count(), 1);
        members->setData(members->index(0, 0), PM::Connected, PM::StateRole);
        QCOMPARE(emitted(canRecall), (QStringList{"true", "false"}));

        // A ringing row gets the animation label, which goes once it is answered. The
        // row is born Planned (ended) and then rings, so the Start button blinks on and off.
        const QModelIndex ringing = addRow(*members, PM::Calling, "1005@pbx", "v");
        auto *label = qobject_cast<QLabel *>(view.indexWidget(ringing));
        QVERIFY(label && label->movie() == view.participantsDelegate()->callMovie());
        members->setData(ringing, PM::Alerting, PM::StateRole);
        QVERIFY(view.indexWidget(ringing));
        members->setData(ringing, PM::Connected, PM::StateRole);
        QTRY_VERIFY(!view.indexWidget(ringing));
        QCOMPARE(emitted(canRecall), (QStringList{"true", "false", "true", "false"}));

        // Emptying the list takes focus away and reports no participants.
        members->removeRows(0, members->rowCount());
        QCOMPARE(emitted(have), (QStringList{"true", "false"}));
        QCOMPARE(view.focusPolicy(), Qt::NoFocus);

        // Switching to another conference's (empty) list stays quiet.
        view.setModel(m_model->getParticipantsModel(0).get());
        QCOMPARE(have.count(), 2);
        QCOMPARE(canRecall.count(), 4);
    }

    void listKeepsOneSelection()
    {
        ConferenceListView view;
        QSignalSpy selected(&view, &ConferenceListView::itemSelected);
        QSignalSpy deselected(&view, &ConferenceListView::itemDeselected);
        QString name;
        view.setModel(m_model.get());
        QVERIFY(view.selectedConference(name));
        QCOMPARE(name, "0"_q);
        QCOMPARE(selected.count(), 1);

        m_model->conferenceListReceived(snapshot({conference("room1"), conference("room2")}));
        QCOMPARE(selected.count(), 1);

        view.setCurrentIndex(m_model->index(2, 0));
        QCOMPARE(deselected.count(), 1);
        QCOMPARE(deselected.last().at(0).toModelIndex().row(), 0);
        QCOMPARE(selected.last().at(0).toModelIndex().row(), 2);
        QVERIFY(view.selectedConference(name));
        QCOMPARE(name, "room2"_q);

        // The selected conference vanishes from the server: the primary is selected again.
        m_model->conferenceListReceived(snapshot({conference("room1")}));
        QVERIFY(view.selectionModel()->isRowSelected(0, QModelIndex()));
        QCOMPARE(selected.last().at(0).toModelIndex().row(), 0);

        // Clearing the selection by hand does not leave the list without one.
        view.selectionModel()->clearSelection();
        QTRY_VERIFY(view.selectionModel()->hasSelection());
        QCOMPARE(view.selectionModel()->selectedIndexes().first().row(), 0);
    }

    void listContextMenuCopiesTheShownName()
    {
        m_model->conferenceEvent(confEvent("conference-create", "0"));
        ConferenceListView view;
        QVERIFY(showWith(view, m_model.get(), QSize(300, 300)));
        QMenu *menu = view.contextMenu();
        QCOMPARE(menu->actions().first()->text(), "Копировать имя конференции"_q);
        auto contextMenuAt = [&](const QPoint &at) {
            QContextMenuEvent event(QContextMenuEvent::Mouse, at, view.viewport()->mapToGlobal(at));
            QApplication::sendEvent(view.viewport(), &event);
        };

        // Empty space: no menu (exec would block here otherwise).
        QApplication::clipboard()->setText("unchanged");
        contextMenuAt(QPoint(10, 250));
        QVERIFY(menu->title().isEmpty());

        bool menuShown = false;
        QTimer::singleShot(50, &view, [&] {
            menuShown = menu->isVisible();
            menu->actions().first()->trigger();
            menu->close();
        });
        contextMenuAt(view.visualRect(m_model->index(0, 0)).center());
        QVERIFY(menuShown);
        QCOMPARE(menu->title(), "Главная"_q);
        QCOMPARE(QApplication::clipboard()->text(), "Главная"_q);
    }

    void dropsLandOnTheRowUnderTheCursor()
    {
        createRoom1();
        ConferenceListView view;
        QVERIFY(showWith(view, m_model.get(), QSize(300, 300)));
        QSignalSpy calls(m_model.get(), &LM::callToConference);
        std::unique_ptr<QMimeData> users(drag("application/x-useruri", {"1004@pbx"}));

        // Right at the top edge of the room1 row: still room1.
        const QRect room1 = view.visualRect(m_model->index(1, 0));
        QVERIFY(dropAt(view.viewport(), room1.topLeft() + QPoint(20, 1), users.get()));
        // Below the last row: a new planned conference holding the user.
        QVERIFY(dropAt(view.viewport(), QPoint(20, 250), users.get()));
        QCOMPARE(emitted(calls), QStringList{"room1/1004@pbx"});
        QCOMPARE(conferenceIds(*m_model).last(), "конференция-1"_q);
        QCOMPARE(m_model->getParticipantsModel("конференция-1")->rowCount(), 1);
    }

    void paintersColourRowsByState()
    {
        auto members = createRoom1();
        const QModelIndex failed = addRow(*members, PM::Failed, "1003@pbx", "v");
        members->setData(failed, "Пользователь занят", Qt::ToolTipRole);
        const QModelIndex muted = addRow(*members, PM::Connected, "1004@pbx", "5", false);
        members->setData(muted, true, PM::TalkingRole);
        const QModelIndex planned = addRow(*members, PM::Planned, "1005@pbx", "v");
        const QModelIndex primary = m_model->index(0, 0); // inactive
        const QModelIndex active = m_model->index(1, 0);

        const QRect left = Delegate::leftZone(QRect(0, 0, 300, 40));
        const QRect right = Delegate::rightZone(QRect(0, 0, 300, 40));
        QCOMPARE(left, QRect(QPoint(225, 8), QPoint(249, 31)));
        QCOMPARE(right, QRect(QPoint(262, 8), QPoint(285, 31)));

        Delegate delegate;
        ConferenceListItemDelegate listDelegate;
        // Whether the painted row has the colour at the point and, given a zone, whether that zone is
        // plain in that colour.
        auto probe = [](const QStyledItemDelegate &d, const QModelIndex &index, QStyle::State state,
                        QPoint at, QRgb colour, const QRect &zone = {}, bool plain = false) {
            const QImage image = paintRow(d, index, state);
            if (image.pixel(at) != colour)
                qWarning() << "painted" << QColor(image.pixel(at)) << "at" << at;
            return image.pixel(at) == colour && (zone.isNull() || zoneIsPlain(image, zone, colour) == plain);
        };
        const QStyle::State on = QStyle::State_Enabled, hover = on | QStyle::State_MouseOver;
        // Failed: red; not hovered, no recall and no disconnect icon.
        QVERIFY(probe(delegate, failed, on, {3, 5}, qRgb(231, 0, 0), left, true));
        QVERIFY(probe(delegate, failed, on, {3, 5}, qRgb(231, 0, 0), right, true));
        QVERIFY(probe(delegate, failed, on, {150, 39}, qRgb(232, 232, 232)));
        QVERIFY(probe(delegate, failed, hover, {200, 5}, qRgb(255, 0, 0), left, false));
        QVERIFY(probe(delegate, failed, hover, {200, 5}, qRgb(255, 0, 0), right, false));
        // Connected and muted: the microphone is drawn (the disabled one even while talking).
        QVERIFY(probe(delegate, muted, on, {3, 5}, qRgb(0, 84, 240)));
        QVERIFY(probe(delegate, muted, on, {200, 3}, qRgb(225, 232, 246), left, false));
        QVERIFY(probe(delegate, planned, hover, {3, 5}, qRgb(77, 234, 8)));
        QVERIFY(probe(delegate, planned, hover, {200, 3}, qRgb(243, 243, 243)));
        // A disabled view greys every row.
        QVERIFY(probe(delegate, failed, QStyle::State_None, {3, 5}, qRgb(208, 208, 208)));
        QVERIFY(probe(delegate, failed, QStyle::State_None, {200, 3}, qRgb(192, 192, 192)));
        // Conference rows; the icon sits in its box and the count at the right edge.
        QVERIFY(probe(listDelegate, primary, on, {5, 5}, qRgb(232, 232, 232)));
        QVERIFY(probe(listDelegate, primary, hover, {5, 5}, qRgb(226, 226, 226)));
        QVERIFY(probe(listDelegate, active, on, {5, 5}, qRgb(255, 255, 255), QRect(13, 0, 24, 39), false));
        QVERIFY(probe(listDelegate, active, on, {5, 5}, qRgb(255, 255, 255), QRect(260, 0, 40, 39), false));
        QVERIFY(probe(listDelegate, active, on, {5, 5}, qRgb(255, 255, 255), QRect(0, 0, 13, 39), true));
        QVERIFY(probe(listDelegate, active, hover | QStyle::State_Selected, {5, 5}, qRgb(41, 143, 204)));
        QVERIFY(probe(listDelegate, active, QStyle::State_Selected, {5, 5}, qRgb(208, 208, 208)));

        // Muted or not, the microphone differs.
        const QImage mutedMic = paintRow(delegate, muted, on).copy(left);
        members->setData(muted, true, PM::CanSpeakRole);
        QVERIFY(paintRow(delegate, muted, on).copy(left) != mutedMic);
    }
};

QTEST_MAIN(ConferenceViewsTest)
#include "conferenceviews_test.moc"
