#include "app/xmlconfig.h"
#include "users/mycontextmenu.h"
#include "users/userlistmodel.h"
#include "users/userlistview.h"
#include "usertestdata.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QPainter>
#include <QtTest>

using namespace usertest;

namespace {
// The same through the view with every group open.
const QString kOpenTree = QString(kTree).replace("; ", "; +");

// Qt log lines above debug level, as "I text", "W text" or "C text"; QtTest still prints them.
QStringList g_log;
QtMessageHandler g_testHandler = nullptr;

void logLine(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    if (type != QtDebugMsg)
        g_log << QChar("DWCFI"[type]) + (' ' + msg);
    g_testHandler(type, context, msg);
}

const auto takeLog = [] { return std::exchange(g_log, {}); };

// Chooses the menu entry and returns the clipboard's text after.
QString choose(QMenu *menu, const QString &text)
{
    for (QAction *action : menu->actions()) {
        if (action->text() == text)
            action->trigger();
    }
    return QApplication::clipboard()->text();
}

// Columns in [from, to) holding a pixel within tolerance of the colour.
QList<int> columns(const QImage &image, const QColor &c, int from, int to, int tolerance = 12)
{
    QList<int> out;
    for (int x = from; x < to; ++x) {
        for (int y = 0; y < image.height() - 1 && !out.endsWith(x); ++y) {
            const QRgb p = image.pixel(x, y);
            if (std::max({qAbs(qRed(p) - c.red()), qAbs(qGreen(p) - c.green()), qAbs(qBlue(p) - c.blue())}) <=
                tolerance)
                out << x;
        }
    }
    return out;
}

} // namespace

// Every case starts from kUsers with these roles and groups: 1001 dispatcher in "Группа А"
// and "Группа Б", 1002 technician in "Группа А", 1004 in "Группа Б", the rest without role
// or groups; a view on screen shows the model.
class UserListTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { g_testHandler = qInstallMessageHandler(logLine); }
    void init();
    void cleanup() { delete m_view; }
    void repliesFromServerBuildTree();
    void eventsDriveIconsAndRepaints();
    void watchedUsersWarn();
    void filterSwitchAndTypeAhead();
    void selectionMenusAndExpandAll();
    void rowPainting();

private:
    // The list and the replies for kUsers, as a load from the server brings them.
    void load();
    // The tree as text, as in kTree; through the view hidden rows are left out and open groups get a "+".
    QString tree(bool view = false, const QModelIndex &parent = {}) const
    {
        QStringList rows;
        for (int i = 0; i < m_model->rowCount(parent); ++i) {
            const QModelIndex index = m_model->index(i, 0, parent);
            if (view && m_view->isRowHidden(i, parent))
                continue;
            rows << index.data().toString();
            if (m_model->hasChildren(index))
                rows.last() =
                    (view && m_view->isExpanded(index) ? "+" : "") + rows.last() + ": " + tree(view, index);
        }
        return rows.join(parent.isValid() ? ", " : "; ");
    }
    QModelIndex group(const QString &name) const
    {
        return m_model->match(m_model->index(0, 0), Qt::DisplayRole, name, 1, Qt::MatchExactly).value(0);
    }
    QModelIndex row(const char *id) const { return m_model->indexesOfUser(uri(id)).value(0); }
    qint64 icon(const QModelIndex &i) const { return i.data(Qt::DecorationRole).value<QIcon>().cacheKey(); }
    // Registration events ("register", "unregister", "expire") and presence events as the server sends them.
    void reg(const QString &subclass, const QString &user, const QString &host = "127.0.0.1",
             const QString &contact = {})
    {
        const QString from = subclass == "expire" ? "" : "from-";
        ESL2::Event event{
            {"Event-Subclass", "sofia::" + subclass}, {from + "user", user}, {from + "host", host}};
        if (!contact.isEmpty())
            event.insert("contact", contact);
        event.insert("profile-name", "internal");
        m_model->registeredEvent(event);
    }
    void presence(const char *id, const char *state)
    {
        m_model->presenceEvent({{"from", uri(id)}, {"presence-call-info-state", state}});
    }
    // A press (or a real double click: a click, then the double click) on the row at x.
    void click(const QModelIndex &index, int x, bool twice = false)
    {
        const QPoint pos(x, m_view->visualRect(index).center().y());
        QTest::mouseClick(m_view->viewport(), Qt::LeftButton, {}, pos);
        if (twice)
            QTest::mouseDClick(m_view->viewport(), Qt::LeftButton, {}, pos);
    }
    QImage paint(const QModelIndex &index, QStyle::State state, int width = 320)
    {
        QImage image(width, 28, QImage::Format_RGB32);
        image.fill(Qt::white);
        QStyleOptionViewItem option;
        option.rect = image.rect();
        option.state = state;
        option.font = QFont("DejaVu Sans");
        option.font.setPixelSize(14);
        QPainter painter(&image);
        m_view->itemDelegate()->paint(&painter, option, index);
        return image;
    }

    UserListView *m_view = nullptr;
    UserListModel *m_model = nullptr; // a child of the view
};

void UserListTest::load()
{
    m_model->userListReceived(kUsers, {});
    const QStringList roles = QString("dispatcher|technician|default|||").split('|'),
                      groups = QString("Группа А;Группа Б;|Группа А;||Группа Б;||").split('|');
    for (int i = 0; i < 6; ++i) {
        const QString user = uri(QString::number(1001 + i));
        m_model->userRoleReceived(roles[i].isEmpty() ? kNoReply : roles[i], user);
        m_model->userGroupsReceived(groups[i].isEmpty() ? kNoReply : groups[i], user);
    }
}

void UserListTest::init()
{
    XMLConfig &config = XMLConfig::instance();
    config.currentServerHost = "127.0.0.1";
    config.currentLoginUser = "1006";
    config.showNumRegistered = true;
    m_view = new UserListView;
    m_model = new UserListModel("root", m_view);
    new QAbstractItemModelTester(m_model, QAbstractItemModelTester::FailureReportingMode::QtTest, m_model);
    load();
    m_view->setModel(m_model);
    m_view->resize(400, 600);
    m_view->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_view));
    g_log.clear();
}

void UserListTest::repliesFromServerBuildTree()
{
    // Dragging gives the registered users: a group's members, single rows only when registered.
    for (const char *id : {"1001", "1002", "1006"})
        m_model->userGroupsReceived("Смена", uri(id));
    auto dragged = [this](const QModelIndexList &indexes) {
        QScopedPointer<QMimeData> mime(m_model->mimeData(indexes));
        QDataStream stream(mime->data("application/x-useruri"));
        QStringList out;
        for (QString uri; !stream.atEnd(); out << uri)
            stream >> uri;
        return out;
    };
    const QModelIndex shift = group("Смена");
    QCOMPARE(dragged({shift}), (QStringList{uri("1006"), uri("1002")}));
    QCOMPARE(dragged({m_model->index(0, 0, shift), m_model->index(0, 0)}), QStringList{uri("1006")});
    QCOMPARE(m_model->displayName(uri("9")), uri("9"));

    // A reload starts states and roles over and keeps only the own row until group replies
    // come; foreign users stay, malformed lines go.
    presence("1002", "active");
    reg("expire", "1002");
    takeLog();
    m_model->userListReceived(kUsers, {});
    QCOMPARE(tree(), "Кузнецов Олег");
    QVERIFY(m_model->user(uri("1002")).registered && m_model->user(uri("1002")).callState == "idle");
    QVERIFY(m_model->hasUser("2001@10.0.0.9") && !m_model->hasUser("broken@with"));
    QVERIFY(!m_model->isDispatcherOrTechnician(uri("1001")));

    m_model->userGroupsReceived(" Группа Б ;;Группа А; ;", uri("1001"));
    m_model->userGroupsReceived(";", uri("1003"));
    m_model->userGroupsReceived(kNoReply, uri("1005"));
    m_model->userGroupsReceived("Группа А \n", uri("1002"));
    m_model->userGroupsReceived("Альфа;Яблоко", uri("1004"));
    // Groups by code units after the own row; "Без группы" appended when made, then
    // sorted against like any other group.
    QCOMPARE(tree(),
             "Кузнецов Олег; Альфа: Operator Four; Группа А: Иван Иванов, Петров Пётр; "
             "Группа Б: Иван Иванов; Без группы: 1005@127.0.0.1, Сидорова Анна; Яблоко: Operator Four");

    // Roles ignore case; "default" and no reply change nothing.
    // Events for unknown users (other domains, rooms) are logged.
    for (const QString &role : {QString("DISPATCHER"), QString("default"), kNoReply})
        m_model->userRoleReceived(role, uri("1003"));
    m_model->userRoleReceived("Technician", uri("1004"));
    reg("register", "1001", "h");
    presence("room1", "active");
    QCOMPARE((QList<int>{m_model->user(uri("1003")).type, m_model->user(uri("1004")).type}),
             (QList<int>{UserTypeDispatcher, UserTypeTechnician}));
    QCOMPARE(takeLog(),
             (QStringList{
                 "C UserListModel::registeredEvent(): user \"1001@h\" not found in 'users' hash",
                 "C UserListModel::presenceEvent(): user \"room1@127.0.0.1\" not found in 'users' hash"}));
}

void UserListTest::eventsDriveIconsAndRepaints()
{
    QSignalSpy changed(m_model, &QAbstractItemModel::dataChanged);
    QSignalSpy dispatcher(m_model, &UserListModel::dispatcherRegistered);
    const QModelIndexList own = m_model->indexesOfUser(uri("1006"));
    const qint64 red = icon(row("1003")), green = icon(row("1002")), ownGreen = icon(own.value(0));
    // The own icon differs from others', also on the dispatcher's row in his group.
    QVERIFY(red != green && ownGreen != green && icon(own.value(1)) == ownGreen);

    // Unregistered: the call state is stored, nothing is repainted.
    presence("1003", "progressing");
    presence("1002", "progressing");
    QCOMPARE(changed.count(), 1); // 1002 only
    const qint64 violet = icon(row("1002"));
    QVERIFY(violet != green && violet != red && icon(row("1003")) == red);

    // Registering shows the stored state; the row and its group repaint.
    reg("register", "1003");
    QCOMPARE(icon(row("1003")), violet);
    QCOMPARE(changed.count(), 3);
    QCOMPARE(changed.at(2).at(0).value<QModelIndex>(), group("Без группы"));
    QCOMPARE(takeLog(),
             (QStringList{
                 "I У пользователя \"1003@127.0.0.1\" изменилось состояние: \"idle\" --> \"progressing\"",
                 "I У пользователя \"1002@127.0.0.1\" изменилось состояние: \"idle\" --> \"progressing\"",
                 "I У пользователя \"1003@127.0.0.1\" изменилось состояние регистрации: зарегистрирован"}));

    // Repeats and a missing state do nothing at all.
    reg("register", "1003");
    presence("1002", "progressing");
    presence("1002", "");
    QCOMPARE(changed.count(), 3);
    QVERIFY(takeLog().isEmpty());

    presence("1002", "active");
    QVERIFY(icon(row("1002")) != green && icon(row("1002")) != violet && icon(row("1002")) != red);
    reg("expire", "1002");
    QCOMPARE(icon(row("1002")), red);

    // A user in two groups: two rows and two groups repaint.
    changed.clear();
    reg("register", "1001");
    QCOMPARE(changed.count(), 4);

    // A registration after the load brings its contact, in the list's form; a renewal from
    // another address replaces it, and it goes when the registration does.
    reg("register", "1004", "127.0.0.1", "\"\" <sip:1004@127.0.0.1:5090>");
    QCOMPARE(m_model->user(uri("1004")).contact, "sofia/internal/sip:1004@127.0.0.1:5090");
    QCOMPARE(m_model->contactAddress(uri("1004")), "sip:1004@127.0.0.1:5090");
    reg("register", "1004", "127.0.0.1", "\"Operator Four\" <sip:1004@192.0.2.7:5062;transport=tcp>");
    QCOMPARE(m_model->contactAddress(uri("1004")), "sip:1004@192.0.2.7:5062;transport=tcp");
    reg("expire", "1004");
    QCOMPARE(m_model->user(uri("1004")).contact, "error/user_not_registered");
    QCOMPARE(m_model->contactAddress(uri("1004")), "");
    reg("unregister", "1002");
    QCOMPARE(m_model->user(uri("1002")).contact, "error/user_not_registered");

    // Only the own registration is announced.
    reg("unregister", "1006");
    reg("register", "1006");
    QCOMPARE(dispatcher.count(), 1);
    QVERIFY(takeLog().contains(
        "I У пользователя \"1006@127.0.0.1\" изменилось состояние регистрации: не зарегистрирован"));
}

void UserListTest::watchedUsersWarn()
{
    QStringList seen;
    connect(m_model, &UserListModel::setWarning, this, [&](const QString &m) { seen << "set " + m; });
    connect(m_model, &UserListModel::clearWarning, this, [&](const QString &m) { seen << "clr " + m; });
    connect(m_model, &UserListModel::userListReloaded, this, [&] { seen << "reloaded"; });
    auto warning = [](const char *op, const QString &name, const char *id) {
        return QString("%1 Пользователь \"%2\" <%3> не зарегистрирован в сети").arg(op, name, uri(id));
    };

    m_model->setMandatoryUserList({"1003", uri("1002"), "9999"});
    m_model->setMandatoryUserList({"1003", uri("1002"), "9999"});
    QCOMPARE(seen, QStringList{warning("set", "Сидорова Анна", "1003")});

    seen.clear();
    reg("expire", "1002");
    reg("register", "1002");
    reg("register", "1004");
    m_model->setMandatoryUserList({"1002", "1004"});
    QCOMPARE(seen, (QStringList{warning("set", "Петров Пётр", "1002"), warning("clr", "Петров Пётр", "1002"),
                                warning("clr", "Сидорова Анна", "1003")}));

    // A reload reports the watched users again; 1004 has left the server.
    seen.clear();
    reg("unregister", "1004");
    m_model->setMandatoryUserList({"1002", "1004", "1005"});
    m_model->userListReceived(QString(kUsers).remove(QRegularExpression("1004\\|[^\n]*\n")), {});
    const QString set1005 = warning("set", uri("1005"), "1005");
    QCOMPARE(seen, (QStringList{warning("set", "Operator Four", "1004"), set1005,
                                warning("clr", "Петров Пётр", "1002"), set1005, "reloaded",
                                warning("clr", "Operator Four", "1004")}));
}

void UserListTest::filterSwitchAndTypeAhead()
{
    m_view->setShowUnregistered(false); // without a filter nothing is expanded
    m_view->setShowUnregistered(true);
    QCOMPARE(tree(true), kTree);
    m_view->setFilter("иВАН"); // display names, any case
    QCOMPARE(tree(true), "+Группа А: Иван Иванов; +Группа Б: Иван Иванов");
    m_view->setFilter("1005@"); // URIs
    QCOMPARE(tree(true), "+Без группы: 1005@127.0.0.1");
    // Clearing shows all and keeps the groups the filter opened.
    m_view->setFilter();
    QCOMPARE(tree(true), kOpenTree);

    // Without unregistered users, registration events show and hide at once.
    m_view->setShowUnregistered(false);
    QCOMPARE(tree(true), "Кузнецов Олег; +Группа А: Петров Пётр; +Без группы: Кузнецов Олег");
    reg("register", "1004");
    reg("unregister", "1002");
    QCOMPARE(tree(true), "Кузнецов Олег; +Группа Б: Operator Four; +Без группы: Кузнецов Олег");
    // A reload (every reconnect) keeps both the switch and the text applied to its new rows.
    load();
    QCOMPARE(tree(true), "Кузнецов Олег; Группа А: Петров Пётр; Без группы: Кузнецов Олег");
    m_view->setShowUnregistered(true);
    m_view->setFilter("Иван");
    load();
    QCOMPARE(tree(true), "+Группа А: Иван Иванов; +Группа Б: Иван Иванов");
    m_view->setFilter();
    m_view->setShowUnregistered(false);
    reg("register", "1004");
    reg("unregister", "1002");
    m_view->setFilter("Иван");
    QCOMPARE(tree(true), "");
    m_view->setShowUnregistered(true);
    QCOMPARE(tree(true), "+Группа А: Иван Иванов; +Группа Б: Иван Иванов");

    // Type-ahead by display name or URI; it moves the current row, not the selection.
    m_view->setFilter();
    m_model->userListReceived("hdr\n1006|d|127.0.0.1|d|c||Zed|\n5002|d|127.0.0.1|d|c||Bella|\n"
                              "5004|d|127.0.0.1|d|c||Carl|\n7001|d|127.0.0.1|d|c||Robert|\n",
                              {});
    for (const char *id : {"5002", "5004", "7001"})
        m_model->userGroupsReceived("Смена", uri(id));
    qint64 now = 10000;
    m_view->setClock([&now] { return now; });
    m_view->selectionModel()->select(m_model->index(0, 0), QItemSelectionModel::ClearAndSelect);
    auto type = [&](qint64 pause, const QString &text) {
        now += pause;
        m_view->keyboardSearch(text);
        return m_view->currentIndex().data().toString();
    };
    QCOMPARE(type(0, "b"), "Bella");
    QCOMPARE(type(300, "B"), "Robert"); // one letter repeated walks on
    QCOMPARE(m_view->selectionModel()->selectedIndexes(), QModelIndexList{m_model->index(0, 0)});
    QCOMPARE(type(1001, "c"), "Carl");    // a pause starts over
    QCOMPARE(type(1000, "o"), "Carl");    // "co": one second is no pause yet; nothing found stays
    QCOMPARE(type(5000, "70"), "Robert"); // by URI
    QCOMPARE(type(5000, "z"), "Zed");     // up in the tree
}

void UserListTest::selectionMenusAndExpandAll()
{
    QList<QSet<QString>> calls;
    connect(m_view, qOverload<QSet<QString>>(&UserListView::callToConference), this,
            [&](const QSet<QString> &uris) { calls << uris; });
    const QModelIndex a = group("Группа А"), own = m_model->index(0, 0);
    auto select = [this](const QModelIndexList &list) {
        m_view->clearSelection();
        for (const QModelIndex &i : list)
            m_view->selectionModel()->select(i, QItemSelectionModel::Select);
    };

    // A press left of 41 pixels toggles a group; further right it does not.
    click(a, 40);
    QVERIFY(m_view->isExpanded(a));
    click(a, 120);
    QVERIFY(m_view->isExpanded(a));

    select({a, row("1002")}); // a group and its member: each URI once
    QTest::keyClick(m_view, Qt::Key_Return);
    select({row("1003"), group("Группа Б")}); // nobody registered
    QTest::keyClick(m_view, Qt::Key_Enter);
    // Double click: on a group's indicator nothing, on its name the group, on a user the user.
    click(a, 30, true);
    m_view->expand(a);
    click(a, 200, true);
    QVERIFY(m_view->isExpanded(a));
    click(row("1001"), 200, true);
    click(own, 200, true);
    // The menu entry calls the whole selection.
    select({own, a});
    choose(m_view->groupMenu(), "Вызвать выбранных в текущую конференцию");
    QCOMPARE(calls,
             (QList<QSet<QString>>{{uri("1002")}, {uri("1002")}, {uri("1006")}, {uri("1002"), uri("1006")}}));

    // Context menus of a user and of a group.
    MyContextMenu *menu = m_view->userMenu();
    QSignalSpy info(m_view, &UserListView::userInformation);
    m_view->onCustomContextMenu(m_view->visualRect(row("1002")).center());
    menu->hide();
    QCOMPARE(choose(menu, "Копировать отображаемое имя пользователя"), "Петров Пётр");
    choose(menu, "Информация о пользователе");
    QCOMPARE(info.value(0).value(0).toString(), uri("1002"));

    // One open group is enough for the next request to collapse everything.
    m_view->showHideAllUsersGroup();
    QCOMPARE(tree(true), kTree);
    m_view->showHideAllUsersGroup();
    QCOMPARE(tree(true), kOpenTree);
}

// Rows painted alone into images, checked by colour and geometry: a group row, then user rows.
void UserListTest::rowPainting()
{
    // "Группа А" has one of its two members registered.
    const QModelIndex a = group("Группа А"), own = m_model->index(0, 0);
    const QStyle::State on = QStyle::State_Enabled;
    const QColor black = Qt::black, green(0, 221, 0), grey(158, 158, 158);
    // "1" green, then "/2" grey ending at the 13-pixel right margin.
    const QImage image = paint(a, on);
    const QList<int> ones = columns(image, green, 250, 320), all = columns(image, grey, 250, 320);
    QVERIFY(!ones.isEmpty() && !all.isEmpty() && ones.last() < all.first());
    QVERIFY(all.last() <= 306 && all.last() >= 303);
    // The indicator follows the expanded state.
    QVERIFY(paint(a, on).copy(26, 0, 24, 28) != paint(a, on | QStyle::State_Open).copy(26, 0, 24, 28));

    // The own row is bold: its name ends further right than once it is not his own.
    const int boldEnd = columns(paint(own, on), black, 44, 250, 60).last();
    XMLConfig::instance().currentLoginUser = "1002";
    QVERIFY(boldEnd > columns(paint(own, on), black, 44, 250, 60).last() + 5);
}

QTEST_MAIN(UserListTest)
#include "userlist_test.moc"
