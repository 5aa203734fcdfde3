#include "app/xmlconfig.h"
#include "tests/support/fakeeslserver.h"
#include "users/mycontextmenu.h"
#include "users/userlistmodel.h"
#include "users/userlistview.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QPainter>
#include <QtTest>

namespace {
const QString kNoReply = "-ERR no reply\n";
const QString kNoGroup = "Без группы";
// "api list_users" body: 1002 and 1006 registered, 1005 without a name, a user of
// another domain, a malformed line, a blank line and "+OK".
const QString kUsers =
    "userid|context|domain|group|contact|callgroup|effective_caller_id_name|effective_caller_id_number\n"
    "1001|default|127.0.0.1|default|error/user_not_registered||Иван Иванов|\n"
    "1002|default|127.0.0.1|default|sofia/internal/sip:1002@127.0.0.1:5074||Петров Пётр|\n"
    "1003|default|127.0.0.1|default|error/user_not_registered||Сидорова Анна|\n"
    "1004|default|127.0.0.1|default|error/user_not_registered||Operator Four|\n"
    "1005|default|127.0.0.1|default|error/user_not_registered|||\n"
    "1006|default|127.0.0.1|default|sofia/internal/sip:1006@127.0.0.1:5080||Кузнецов Олег|3006\n"
    "2001|default|10.0.0.9|default|sofia/internal/sip:2001@10.0.0.9:5060||Чужой|\n"
    "broken|line|with|too|few\n\n+OK\n";
// The tree made from it with the roles and groups of UserListTest::init(): own row, groups, members.
const QString kTree =
    "Кузнецов Олег; Группа А: Иван Иванов, Петров Пётр; Группа Б: Operator Four, Иван Иванов; "
    "Без группы: 1005@127.0.0.1, Кузнецов Олег, Сидорова Анна";
// The same through the view with every group open.
const QString kOpenTree =
    "Кузнецов Олег; +Группа А: Иван Иванов, Петров Пётр; +Группа Б: Operator Four, Иван Иванов; "
    "+Без группы: 1005@127.0.0.1, Кузнецов Олег, Сидорова Анна";

QString uri(const QString &id)
{
    return id + "@127.0.0.1";
}

// Qt log lines above debug level, as "I text", "W text" or "C text"; QtTest still prints them.
QStringList g_log;
QtMessageHandler g_testHandler = nullptr;

void logLine(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    if (type != QtDebugMsg)
        g_log << QChar("DWCFI"[type]) + (' ' + msg);
    g_testHandler(type, context, msg);
}

QStringList takeLog()
{
    return std::exchange(g_log, {});
}

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
        for (int y = 0; y < image.height() - 1; ++y) {
            const QColor p = image.pixel(x, y);
            if (std::max({qAbs(p.red() - c.red()), qAbs(p.green() - c.green()), qAbs(p.blue() - c.blue())}) <=
                tolerance) {
                out << x;
                break;
            }
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
    void cleanup()
    {
        delete m_view;
        delete m_model;
    }
    void repliesBuildSortedTree();
    void eventsDriveIconsAndRepaints();
    void watchedUsersWarn();
    void dragRemovalAndLookups();
    void eslLoadsDirectoryOnEachConnection();
    void filterAndRegistrationSwitch();
    void selectionKeysAndMouse();
    void contextMenusAndExpandAll();
    void typeAheadWalksAndRestartsAfterPause();
    void rowPainting();

private:
    // The tree as text, as in kTree; through the view hidden rows are left out and open groups get a "+".
    QString tree(bool view = false, const QModelIndex &parent = {}) const
    {
        QStringList rows;
        for (int i = 0; i < m_model->rowCount(parent); ++i) {
            const QModelIndex index = m_model->index(i, 0, parent);
            if (view && hidden(index))
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
    bool hidden(const QModelIndex &i) const { return m_view->isRowHidden(i.row(), i.parent()); }
    // Registration events ("register", "unregister", "expire") and presence events as the server sends them.
    void reg(const QString &subclass, const QString &user, const QString &host = "127.0.0.1")
    {
        const QString from = subclass == "expire" ? "" : "from-";
        m_model->registeredEvent({{"Event-Name", "CUSTOM"},
                                  {"Event-Subclass", "sofia::" + subclass},
                                  {from + "user", user},
                                  {from + "host", host}});
    }
    void presence(const char *id, const char *state)
    {
        ESL2::Event event{{"Event-Name", "PRESENCE_IN"}, {"from", uri(id)}};
        if (state)
            event.insert("presence-call-info-state", state);
        m_model->presenceEvent(event);
    }
    void click(const QModelIndex &index, int x, bool twice = false);
    QImage paint(const QModelIndex &index, QStyle::State state, int width = 320);

    UserListModel *m_model = nullptr;
    UserListView *m_view = nullptr;
};

void UserListTest::init()
{
    XMLConfig &config = XMLConfig::instance();
    config.currentServerHost = "127.0.0.1";
    config.currentLoginUser = "1006";
    config.showNumRegistered = true;
    m_model = new UserListModel;
    new QAbstractItemModelTester(m_model, QAbstractItemModelTester::FailureReportingMode::QtTest, m_model);
    m_model->userListReceived(kUsers, {});
    const QStringList roles = QString("dispatcher|technician|default|||").split('|');
    const QStringList groups = QString("Группа А;Группа Б;|Группа А;||Группа Б;||").split('|');
    for (int i = 0; i < 6; ++i) {
        const QString user = uri(QString::number(1001 + i));
        m_model->userRoleReceived(roles[i].isEmpty() ? kNoReply : roles[i], user);
        m_model->userGroupsReceived(groups[i].isEmpty() ? kNoReply : groups[i], user);
    }
    m_view = new UserListView;
    m_view->setModel(m_model);
    m_view->resize(400, 600);
    m_view->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_view));
    g_log.clear();
}

// A press (or a real double click: a click, then the double click) on the row at x.
void UserListTest::click(const QModelIndex &index, int x, bool twice)
{
    const QPoint pos(x, m_view->visualRect(index).center().y());
    QTest::mouseClick(m_view->viewport(), Qt::LeftButton, {}, pos);
    if (twice)
        QTest::mouseDClick(m_view->viewport(), Qt::LeftButton, {}, pos);
}

QImage UserListTest::paint(const QModelIndex &index, QStyle::State state, int width)
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

void UserListTest::repliesBuildSortedTree()
{
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
    m_model->userGroupsReceived("X", uri("9"));
    // Groups by code units after the own row; "Без группы" appended when made, then
    // sorted against like any other group.
    QCOMPARE(tree(),
             "Кузнецов Олег; Альфа: Operator Four; Группа А: Иван Иванов, Петров Пётр; "
             "Группа Б: Иван Иванов; Без группы: 1005@127.0.0.1, Сидорова Анна; Яблоко: Operator Four");
    QCOMPARE(row("1002").data(Qt::ToolTipRole).toString(), "Петров Пётр\n" + uri("1002"));

    // Roles: case-insensitive whole-text match; anything else is logged and ignored.
    for (const QString &role : {QString("DISPATCHER"), QString("default"), kNoReply})
        m_model->userRoleReceived(role, uri("1003"));
    m_model->userRoleReceived("Technician", uri("1004"));
    m_model->userRoleReceived("", uri("1005"));
    m_model->userRoleReceived("dispatcher", uri("9"));
    QCOMPARE((QList<int>{m_model->user(uri("1003")).type, m_model->user(uri("1004")).type,
                         m_model->user(uri("1005")).type}),
             (QList<int>{UserTypeDispatcher, UserTypeTechnician, UserTypeSubscriber}));
    QCOMPARE(
        takeLog(),
        (QStringList{"C UserListModel::userGroupsReceived(): user \"9@127.0.0.1\" not found in 'users' hash",
                     "W UserListModel::userRoleReceived(): user \"1005@127.0.0.1\" has unknown role \"\"",
                     "C UserListModel::userRoleReceived(): user \"9@127.0.0.1\" not found in 'users' hash"}));

    // Equal names keep arrival order; capitals sort before small letters.
    m_model->userListReceived("hdr\n1|d|127.0.0.1|d|c||bob|\n2|d|127.0.0.1|d|c||Alice|\n"
                              "3|d|127.0.0.1|d|c||alice|\n4|d|127.0.0.1|d|c||Alice|\n",
                              {});
    for (const char *id : {"1", "2", "3", "4"})
        m_model->userGroupsReceived("G", uri(id));
    QCOMPARE((QList<int>{row("2").row(), row("4").row(), row("3").row(), row("1").row()}),
             (QList<int>{0, 1, 2, 3}));
}

void UserListTest::eventsDriveIconsAndRepaints()
{
    QSignalSpy changed(m_model, &QAbstractItemModel::dataChanged);
    QSignalSpy dispatcher(m_model, &UserListModel::dispatcherRegistered);
    const QModelIndexList own = m_model->indexesOfUser(uri("1006"));
    const qint64 red = icon(row("1003")), green = icon(row("1002")), ownGreen = icon(own.value(0));
    QVERIFY(red != green && ownGreen != green);
    QCOMPARE(icon(own.value(1)), ownGreen); // the dispatcher's row in his group too

    // Unregistered: the call state is stored, nothing is repainted.
    presence("1003", "progressing");
    QCOMPARE(changed.count(), 0);
    QCOMPARE(icon(row("1003")), red);
    presence("1002", "progressing");
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(2).value<QVector<int>>(), QVector<int>{Qt::DecorationRole});
    const qint64 violet = icon(row("1002"));
    QVERIFY(violet != green && violet != red);

    // Registering shows the stored state; the row and its group repaint.
    reg("register", "1003");
    QCOMPARE(icon(row("1003")), violet);
    QCOMPARE(changed.count(), 3);
    QCOMPARE(changed.at(1).at(2).value<QVector<int>>(),
             (QVector<int>{Qt::DecorationRole, UserListModel::RegisteredRole}));
    QCOMPARE(changed.at(2).at(0).value<QModelIndex>(), group(kNoGroup));
    QCOMPARE(takeLog(),
             (QStringList{
                 "I У пользователя \"1003@127.0.0.1\" изменилось состояние: \"idle\" --> \"progressing\"",
                 "I У пользователя \"1002@127.0.0.1\" изменилось состояние: \"idle\" --> \"progressing\"",
                 "I У пользователя \"1003@127.0.0.1\" изменилось состояние регистрации: зарегистрирован"}));

    // Repeats and a missing state do nothing at all.
    reg("register", "1003");
    presence("1002", "progressing");
    presence("1002", nullptr);
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

    reg("unregister", "1006");
    QCOMPARE(dispatcher.count(), 0);
    reg("register", "1006");
    QCOMPARE(dispatcher.count(), 1);
    QCOMPARE(icon(own.value(0)), ownGreen);
    QVERIFY(takeLog().contains(
        "I У пользователя \"1006@127.0.0.1\" изменилось состояние регистрации: не зарегистрирован"));

    reg("register", "1001", "h");
    presence("room1", "active");
    QCOMPARE(takeLog(),
             (QStringList{
                 "C UserListModel::registeredEvent(): user \"1001@h\" not found in 'users' hash",
                 "C UserListModel::presenceEvent(): user \"room1@127.0.0.1\" not found in 'users' hash"}));
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
    QCOMPARE(takeLog(),
             QStringList{"C UserListModel::setMandatoryUserList(): unknown user \"9999@127.0.0.1\" given"});

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

void UserListTest::dragRemovalAndLookups()
{
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
    QCOMPARE(m_model->mimeTypes(), QStringList{"application/x-useruri"});

    // Emptying a group row by row removes the group itself.
    QVERIFY(m_model->removeRows(0, 2, shift));
    QCOMPARE(m_model->rowCount(shift), 1);
    QVERIFY(m_model->removeRows(0, 1, shift));
    QCOMPARE(tree(), kTree);

    QCOMPARE(m_model->contactAddress(uri("1002")), "sip:1002@127.0.0.1:5074");
    QCOMPARE(m_model->contactAddress(uri("1001")) + m_model->contactAddress(uri("9")), "");
    QCOMPARE(m_model->displayName(uri("1002")), "Петров Пётр");
    QCOMPARE(m_model->displayName(uri("9")), uri("9"));
    m_model->userListReceived("hdr\n7|d|127.0.0.1|d|sofia/internal/sip:7@h/x||S|\n", {});
    QCOMPARE(m_model->contactAddress(uri("7")), "sofia/internal/sip:7@h/x");
}

// The model behind a real event-socket client and the scripted server: the requests it
// sends on each connection and where their replies go.
void UserListTest::eslLoadsDirectoryOnEachConnection()
{
    FakeEslServer server;
    server.addApiReply("api list_users", kUsers);
    server.addApiReply("api user_data 1001@127.0.0.1 attr role", "dispatcher");
    server.addApiReply("api user_data 1001@127.0.0.1 attr groups", "А;Б;");
    server.addApiReply("api user_data 1004@127.0.0.1 attr groups", "Б;");
    server.addApiReply("api user_data ", kNoReply, FakeEslServer::Prefix);
    ESL2 esl;
    esl.setTimerIntervalsForTest(2000, 300, 50);
    connect(&esl, &ESL2::connected, m_model, &UserListModel::eslConnected, Qt::QueuedConnection);
    emit esl.sigConnect(server.host(), server.port(), server.password());
    const QString loaded = "Кузнецов Олег; А: Иван Иванов; Б: Operator Four, Иван Иванов; "
                           "Без группы: 1005@127.0.0.1, Кузнецов Олег, Петров Пётр, Сидорова Анна";
    QTRY_COMPARE_WITH_TIMEOUT(tree(), loaded, 5000);
    QVERIFY(m_model->isDispatcherOrTechnician(uri("1001")));
    // Two requests for each user of the login domain, none for the foreign one.
    QCOMPARE(server.countRequests("api list_users"), 1);
    QCOMPARE(server.commands().filter("user_data").size(), 12);

    server.closeConnection(); // the client connects again and asks again
    QTRY_COMPARE_WITH_TIMEOUT(server.commands().filter("user_data").size(), 24, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(tree(), loaded, 5000);
}

void UserListTest::filterAndRegistrationSwitch()
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
    m_view->setFilter("Иван");
    QCOMPARE(tree(true), "");
    m_view->setShowUnregistered(true);
    QCOMPARE(tree(true), "+Группа А: Иван Иванов; +Группа Б: Иван Иванов");
    reg("expire", "1004");
    m_view->setFilter();
    QCOMPARE(tree(true), kOpenTree);
}

void UserListTest::selectionKeysAndMouse()
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
}

void UserListTest::contextMenusAndExpandAll()
{
    const QModelIndex a = group("Группа А");
    m_view->expand(a);
    MyContextMenu *menu = m_view->userMenu();
    QSignalSpy info(m_view, &UserListView::userInformation);

    m_view->onCustomContextMenu(m_view->visualRect(row("1002")).center());
    menu->hide();
    QCOMPARE(choose(menu, "Копировать отображаемое имя пользователя"), "Петров Пётр");
    QCOMPARE(choose(menu, "Копировать username пользователя"), "1002");
    QCOMPARE(choose(menu, "Копировать URI пользователя"), uri("1002"));
    choose(menu, "Информация о пользователе");
    QCOMPARE(info.value(0).value(0).toString(), uri("1002"));

    m_view->onCustomContextMenu(m_view->visualRect(a).center());
    m_view->groupMenu()->hide();
    QCOMPARE(choose(m_view->groupMenu(), "Копировать имя группы"), "Группа А");
    QCOMPARE(menu->title(), uri("1002"));                                      // the user menu is left alone
    m_view->onCustomContextMenu(QPoint(10, m_view->viewport()->height() - 2)); // below the rows
    QCOMPARE(m_view->groupMenu()->title(), "Группа А");

    // One open group is enough for the next request to collapse everything.
    m_view->showHideAllUsersGroup();
    QCOMPARE(tree(true), kTree);
    m_view->showHideAllUsersGroup();
    QCOMPARE(tree(true), kOpenTree);
}

void UserListTest::typeAheadWalksAndRestartsAfterPause()
{
    m_model->userListReceived("hdr\n1006|d|127.0.0.1|d|c||Zed|\n5001|d|127.0.0.1|d|c||Andrew|\n"
                              "5002|d|127.0.0.1|d|c||Bella|\n5003|d|127.0.0.1|d|c||Boris|\n"
                              "5004|d|127.0.0.1|d|c||Carl|\n7001|d|127.0.0.1|d|c||Robert|\n",
                              {});
    for (const char *id : {"5001", "5002", "5003", "5004", "7001"})
        m_model->userGroupsReceived("Смена", uri(id));
    qint64 now = 10000;
    m_view->setClock([&now] { return now; });
    m_view->selectionModel()->select(m_model->index(0, 0), QItemSelectionModel::Select);
    auto type = [&](qint64 pause, const QString &text) {
        now += pause;
        m_view->keyboardSearch(text);
        return m_view->currentIndex().data().toString();
    };

    QCOMPARE(type(0, "b"), "Bella");
    QCOMPARE(type(300, "b"), "Boris"); // one letter repeated walks on
    QCOMPARE(type(300, "B"), "Robert");
    QCOMPARE(m_view->selectionModel()->selectedIndexes(), QModelIndexList{m_model->index(0, 0)});
    QCOMPARE(type(1001, "c"), "Carl"); // a pause starts over
    QCOMPARE(type(1000, "a"), "Carl");
    QCOMPARE(m_view->typeAheadText(), "ca");
    QCOMPARE(type(100, "x"), "Carl");     // nothing found: stays
    QCOMPARE(type(5000, "70"), "Robert"); // by URI
    type(10, QString());
    QCOMPARE(type(10, "z"), "Zed");
}

// Rows painted alone into images, checked by colour and geometry: a group row, then user rows.
void UserListTest::rowPainting()
{
    const QModelIndex a = group("Группа А"); // one of two registered
    QImage image = paint(a, QStyle::State_Enabled);
    QCOMPARE(QColor(image.pixel(150, 27)), QColor(232, 232, 232));
    QCOMPARE(QColor(image.pixel(5, 3)), QColor(Qt::white));
    // "1" green, then "/2" grey ending at the 13-pixel right margin; the name 44 px in.
    const QList<int> green = columns(image, QColor(0, 221, 0), 250, 320);
    const QList<int> grey = columns(image, QColor(158, 158, 158), 250, 320);
    QVERIFY(!green.isEmpty() && !grey.isEmpty() && green.last() < grey.first());
    QVERIFY(grey.last() <= 306 && grey.last() >= 303);
    int firstDark = columns(image, Qt::black, 0, 320, 60).value(0);
    QVERIFY(firstDark >= 44 && firstDark < 50);

    image = paint(a, QStyle::State_Enabled | QStyle::State_Selected);
    QCOMPARE(QColor(image.pixel(150, 2)), QColor(41, 143, 204));
    QVERIFY(!columns(image, QColor(171, 204, 230), 250, 320).isEmpty());
    QVERIFY(!columns(image, Qt::white, 44, 100, 30).isEmpty());
    // The indicator follows the expanded state.
    QVERIFY(paint(a, QStyle::State_Enabled).copy(26, 0, 24, 28) !=
            paint(a, QStyle::State_Enabled | QStyle::State_Open).copy(26, 0, 24, 28));

    // A long name ends before the counters.
    m_model->setData(a, "Очень длинное название группы диспетчеров", Qt::DisplayRole);
    image = paint(a, QStyle::State_Enabled, 200);
    QVERIFY(columns(image, Qt::black, 0, 200, 60).last() < columns(image, QColor(0, 221, 0), 0, 200).first());

    XMLConfig::instance().showNumRegistered = false;
    image = paint(a, QStyle::State_Enabled);
    QVERIFY(columns(image, QColor(0, 221, 0), 0, 320, 40).isEmpty());
    QVERIFY(!columns(image, QColor(158, 158, 158), 290, 320).isEmpty());

    // A user row: the grey strip of a row inside a group, then the content 13 pixels in.
    image = paint(row("1002"), QStyle::State_Enabled);
    QCOMPARE(QColor(image.pixel(0, 5)), QColor(231, 231, 231));
    QCOMPARE(QColor(image.pixel(12, 5)), QColor(231, 231, 231));
    QCOMPARE(QColor(image.pixel(13, 5)), QColor(Qt::white));
    firstDark = columns(image, Qt::black, 52, 320, 60).value(0);
    QVERIFY(firstDark >= 57 && firstDark < 63);
    QVERIFY(columns(image, QColor(158, 158, 158), 250, 320).isEmpty());
    // The green dot centred in the icon column.
    const QImage dot = QIcon(":/Data/GreenDot.png").pixmap(16, 16).toImage();
    QVERIFY(!dot.isNull() &&
            !columns(image.copy(13 + 13 + 8, 14, 8, 2), dot.pixel(8, 8), 0, 8, 20).isEmpty());

    // The own row is bold: more ink than the same row once it is not his own.
    const QModelIndex own = m_model->index(0, 0);
    auto ink = [](const QImage &img) {
        int n = 0;
        for (int x = 44; x < 250; ++x)
            for (int y = 0; y < 27; ++y)
                n += qGray(img.pixel(x, y)) < 100;
        return n;
    };
    const int bold = ink(paint(own, QStyle::State_Enabled));
    XMLConfig::instance().currentLoginUser = "1002";
    QVERIFY(bold > ink(paint(own, QStyle::State_Enabled)) * 11 / 10);

    QCOMPARE(QColor(paint(own, QStyle::State_Enabled | QStyle::State_MouseOver).pixel(250, 2)),
             QColor(243, 243, 243));
    image = paint(own, QStyle::State_None);
    QCOMPARE(QColor(image.pixel(250, 2)), QColor(208, 208, 208));
    QCOMPARE(ink(image), 0);
    // Focus: a 2-pixel green frame 1 pixel inside the row.
    image = paint(own, QStyle::State_Enabled | QStyle::State_HasFocus);
    for (const QPoint &p : {QPoint(150, 1), QPoint(150, 2), QPoint(1, 14), QPoint(318, 14)})
        QCOMPARE(QColor(image.pixel(p)), QColor(Qt::green));
    QVERIFY(QColor(image.pixel(150, 0)) == Qt::white && QColor(image.pixel(150, 3)) == Qt::white);
}

QTEST_MAIN(UserListTest)
#include "userlist_test.moc"
