#include "conferencetestutil.h"

#include "conferences/conferencelistitemdelegate.h"
#include "conferences/conferencelistview.h"
#include "conferences/conferenceparticipantsitemdelegate.h"
#include "conferences/conferenceparticipantsview.h"

#include <QtTest>
#include <QtWidgets>

#include <memory>

using namespace conftest;
using Delegate = ConferenceParticipantsItemDelegate;

namespace {
// Appends a member row in the given state.
QModelIndex addRow(PM &members, int state, const QString &uri, const QString &id, bool canSpeak = true)
{
    members.insertRows(members.rowCount(), 1);
    const QModelIndex idx = members.index(members.rowCount() - 1, 0);
    const std::pair<int, QVariant> values[] = {
        {PM::UriRole, uri},           {PM::MemberIdRole, id},
        {Qt::DisplayRole, uri},       {PM::CallUuidRole, QString("call-" + id)},
        {PM::CanSpeakRole, canSpeak}, {PM::StateRole, state}};
    for (const auto &value : values)
        members.setData(idx, value.second, value.first);
    return idx;
}

bool showWith(QAbstractItemView &view, QAbstractItemModel *model)
{
    view.setModel(model);
    view.resize(420, 300);
    view.show();
    return QTest::qWaitForWindowExposed(&view);
}

// Delivers a whole drag-and-drop gesture at pos, as Qt would during a drag.
bool dropAt(QWidget *viewport, const QPoint &pos, QMimeData *mime)
{
    QDragEnterEvent enter(pos, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QDragMoveEvent move(pos, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QDropEvent drop(pos, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    for (QEvent *event : std::initializer_list<QEvent *>{&enter, &move, &drop})
        QApplication::sendEvent(viewport, event);
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
    delegate.paint(&painter, option, index);
    painter.end();
    return image;
}

// Whether the painted row has the colour at the point and, given a zone, whether that zone is plain in it.
bool probe(const QStyledItemDelegate &delegate, const QModelIndex &index, QStyle::State state, QPoint at,
           QRgb colour, const QRect &zone = {}, bool plain = false)
{
    const QImage image = paintRow(delegate, index, state);
    QImage plainZone(zone.size(), image.format());
    plainZone.fill(colour);
    if (image.pixel(at) != colour)
        qWarning() << "painted" << QColor(image.pixel(at)) << "at" << at;
    return image.pixel(at) == colour && (zone.isNull() || (image.copy(zone) == plainZone) == plain);
}
} // namespace

class ConferenceViewsTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<ESL2> m_esl;
    std::unique_ptr<LM> m_model;
    std::shared_ptr<PM> m_members; // of room1, which every test starts with

private slots:
    void init()
    {
        resetConfigAndDirectory();
        m_esl = std::make_unique<ESL2>();
        m_model = std::make_unique<LM>();
        m_model->conferenceEvent(confEvent("conference-create", "room1"));
        m_members = m_model->getParticipantsModel("room1");
    }

    void cleanup()
    {
        m_members.reset();
        m_model.reset();
        m_esl.reset();
    }

    void participantZonesSendTheRightCommands()
    {
        addRow(*m_members, PM::Connected, "1003@pbx", "5", true);
        addRow(*m_members, PM::Connected, "1004@pbx", "6", false);
        addRow(*m_members, PM::Calling, "1005@pbx", "v5");
        const QModelIndex pstn = addRow(*m_members, PM::Failed, "84951234567", "v6");
        m_members->setData(pstn, true, PM::PstnRole);
        addRow(*m_members, PM::Planned, "1007@pbx", "v7");
        ConferenceParticipantsView view;
        QVERIFY(showWith(view, m_members.get()));
        QSignalSpy requests(m_esl.get(), &ESL2::sigSendRequest);
        QSignalSpy recalls(&view, &ConferenceParticipantsView::callToConference);
        auto click = [&](int row, bool left, int dx = 0) {
            const QRect rect = view.visualRect(m_members->index(row, 0));
            const QPoint at = dx ? rect.center() + QPoint(dx, 0)
                                 : (left ? Delegate::leftZone(rect) : Delegate::rightZone(rect)).center();
            QTest::mouseClick(view.viewport(), Qt::LeftButton, Qt::NoModifier, at);
        };

        click(0, true);
        click(1, true);
        click(0, false);
        // Between the zones the click only selects; the ringing row's left zone sends nothing.
        click(0, true, -100);
        click(2, true);
        QCOMPARE(emitted(requests, 0),
                 (QStringList{"api conference room1 mute 5\n\n", "api conference room1 unmute 6\n\n",
                              "api conference room1 kick 5\n\n"}));

        // Hanging up a ringing call asks the server and waits for its answer.
        click(2, false);
        QCOMPARE(requests.value(3).mid(0, 3),
                 (QVariantList{"api uuid_kill call-v5\n\n", QVariant::fromValue<QObject *>(&view),
                               "killResponse"}));
        const QVariantHash ctx = requests.value(3).value(3).toHash();
        view.killResponse("+OK", ctx);
        QCOMPARE(m_members->rowCount(), 5);
        // Rows move before the answer (a member left): the gone call's row goes, not the one now in its
        // place.
        addRow(*m_members, PM::Connected, "1008@pbx", "8");
        m_members->removeRow(0);
        view.killResponse("-ERR No such channel!", ctx);
        QCOMPARE(m_members->rowCount(), 4);
        QVERIFY(!memberByUri(*m_members, "1005@pbx").isValid());

        // The failed PSTN row is re-called as a number; the planned row is dropped without the server.
        click(1, true);
        QCOMPARE(emitted(recalls), QStringList{"room1/84951234567/true"});
        click(2, false);
        QCOMPARE(m_members->rowCount(), 3);
        QCOMPARE(requests.count(), 4);

        // A drag carries the conference and the Member-IDs.
        const char *format = "application/x-conference-member";
        std::unique_ptr<QMimeData> mime(
            m_members->mimeData({m_members->index(0, 0), m_members->index(2, 0)}));
        QCOMPARE(mime->data(format),
                 std::unique_ptr<QMimeData>(drag(format, {"room1", "6", "8"}))->data(format));
    }

    void participantBookkeepingAndAnimation()
    {
        addRow(*m_members, PM::Connected, "1003@pbx", "5");
        const QModelIndex failed = addRow(*m_members, PM::Failed, "1004@pbx", "v");

        ConferenceParticipantsView view;
        QSignalSpy canRecall(&view, &ConferenceParticipantsView::canRecallToConference);
        QSignalSpy have(&view, &ConferenceParticipantsView::haveParticipants);
        view.setModel(m_members.get());
        QCOMPARE(emitted(canRecall), QStringList{"true"});

        // A second ended row changes nothing for the buttons; the emptiness does.
        m_members->setData(m_members->index(0, 0), PM::Disconnected, PM::StateRole);
        m_members->removeRow(failed.row());
        QCOMPARE(canRecall.count(), 1);
        m_members->setData(m_members->index(0, 0), PM::Connected, PM::StateRole);
        QCOMPARE(emitted(canRecall), (QStringList{"true", "false"}));

        // A ringing row is born Planned (ended) and then rings, so the Start button blinks on and off.
        const QModelIndex ringing = addRow(*m_members, PM::Calling, "1005@pbx", "v");
        QVERIFY(view.indexWidget(ringing)); // the animation, until the call is answered
        m_members->setData(ringing, PM::Connected, PM::StateRole);
        QTRY_VERIFY(!view.indexWidget(ringing));
        QCOMPARE(emitted(canRecall), (QStringList{"true", "false", "true", "false"}));

        // Emptying the list reports no participants.
        m_members->removeRows(0, m_members->rowCount());
        QCOMPARE(emitted(have), (QStringList{"true", "false"}));
    }

    void listSelectionAndDrops()
    {
        ConferenceListView view;
        QSignalSpy selected(&view, &ConferenceListView::itemSelected);
        QVERIFY(showWith(view, m_model.get()));
        m_model->conferenceListReceived(snapshot({conference("room1"), conference("room2")}));
        QCOMPARE(selected.count(), 1);
        view.setCurrentIndex(m_model->index(2, 0));
        QCOMPARE(selected.last().at(0).toModelIndex().row(), 2);

        // The selected conference vanishes from the server: the primary is selected again; so it
        // is when the selection is cleared by hand.
        m_model->conferenceListReceived(snapshot({conference("0"), conference("room1")}));
        QCOMPARE(selected.last().at(0).toModelIndex().row(), 0);
        view.selectionModel()->clearSelection();
        QTRY_VERIFY(view.selectionModel()->isRowSelected(0, QModelIndex()));

        // A drop right at the top edge of the room1 row goes to room1; below the last row, to a new
        // conference.
        QSignalSpy calls(m_model.get(), &LM::callToConference);
        std::unique_ptr<QMimeData> users(drag("application/x-useruri", {"1004@pbx"}));
        QVERIFY(dropAt(view.viewport(), view.visualRect(m_model->index(1, 0)).topLeft() + QPoint(20, 1),
                       users.get()));
        QVERIFY(dropAt(view.viewport(), QPoint(20, 250), users.get()));
        QCOMPARE(emitted(calls), QStringList{"room1/1004@pbx"});
        QCOMPARE(conferenceIds(*m_model).last(), "конференция-1"_q);
    }

    void paintersColourRowsByState()
    {
        const QModelIndex failed = addRow(*m_members, PM::Failed, "1003@pbx", "v");
        const QModelIndex muted = addRow(*m_members, PM::Connected, "1004@pbx", "5", false);
        m_members->setData(muted, true, PM::TalkingRole);
        const QModelIndex primary = m_model->index(0, 0); // inactive
        const QModelIndex active = m_model->index(1, 0);
        const QRect left = Delegate::leftZone(QRect(0, 0, 300, 40));
        const QRect right = Delegate::rightZone(QRect(0, 0, 300, 40));
        Delegate delegate;
        ConferenceListItemDelegate listDelegate;
        const QStyle::State on = QStyle::State_Enabled, hover = on | QStyle::State_MouseOver;

        // Failed: red; recall and disconnect icons only while hovered. A disabled view greys every row.
        QVERIFY(probe(delegate, failed, on, {3, 5}, qRgb(231, 0, 0), left.united(right), true));
        QVERIFY(probe(delegate, failed, hover, {200, 5}, qRgb(255, 0, 0), left, false));
        QVERIFY(probe(delegate, failed, QStyle::State_None, {3, 5}, qRgb(208, 208, 208)));
        // Inactive and active conferences differ; the count sits at the right edge.
        QVERIFY(probe(listDelegate, primary, on, {5, 5}, qRgb(232, 232, 232)));
        QVERIFY(probe(listDelegate, active, on, {5, 5}, qRgb(255, 255, 255), QRect(260, 0, 40, 39), false));

        // Muted or not, the microphone differs.
        const QImage mutedMic = paintRow(delegate, muted, on).copy(left);
        m_members->setData(muted, true, PM::CanSpeakRole);
        QVERIFY(paintRow(delegate, muted, on).copy(left) != mutedMic);
    }
};

QTEST_MAIN(ConferenceViewsTest)
#include "conferenceviews_test.moc"
