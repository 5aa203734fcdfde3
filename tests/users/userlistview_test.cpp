#include "app/xmlconfig.h"
#include "tests/users/usertestdata.h"
#include "users/mycontextmenu.h"
#include "users/userlistview.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QClipboard>
#include <QtTest>

using namespace UserTestData;

class UserListViewTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void filterAndRegistrationSwitch();
    void selectionKeysAndMouse();
    void contextMenusAndExpandAll();
    void typeAheadWalksAndRestartsAfterPause();

private:
    QModelIndex group(const QString &name) const
    {
        return m_model->match(m_model->index(0, 0), 0, name).value(0);
    }
    QModelIndex row(const char *id) const { return m_model->indexesOfUser(uri(id)).value(0); }
    bool hidden(const QModelIndex &i) const { return m_view->isRowHidden(i.row(), i.parent()); }
    QAction *action(QMenu *menu, const QString &text) const;
    void doubleClick(const QModelIndex &index, int x);

    UserListModel *m_model = nullptr;
    QAbstractItemModelTester *m_tester = nullptr;
    UserListView *m_view = nullptr;
};

void UserListViewTest::init()
{
    XMLConfig::instance().currentServerHost = kDomain;
    XMLConfig::instance().currentLoginUser = QStringLiteral("1006");
    m_model = new UserListModel;
    m_tester = new QAbstractItemModelTester(m_model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    loadReferenceDirectory(m_model);
    m_view = new UserListView;
    m_view->setModel(m_model);
    m_view->resize(400, 600);
}

void UserListViewTest::cleanup()
{
    delete m_view;
    delete m_tester;
    delete m_model;
}

QAction *UserListViewTest::action(QMenu *menu, const QString &text) const
{
    for (QAction *a : menu->actions()) {
        if (a->text() == text)
            return a;
    }
    return nullptr;
}

// A real double click: the first click selects, the second comes as a double click.
void UserListViewTest::doubleClick(const QModelIndex &index, int x)
{
    const QPoint pos(x, m_view->visualRect(index).center().y());
    QTest::mouseClick(m_view->viewport(), Qt::LeftButton, {}, pos);
    QTest::mouseDClick(m_view->viewport(), Qt::LeftButton, {}, pos);
}

void UserListViewTest::filterAndRegistrationSwitch()
{
    const QModelIndex a = group(QStringLiteral("Группа А")), b = group(QStringLiteral("Группа Б"));
    const QModelIndex none = group(kNoGroup);
    m_view->setShowUnregistered(false); // without a filter nothing is expanded
    m_view->setShowUnregistered(true);
    QVERIFY(!m_view->isExpanded(a));
    m_view->setFilter(QStringLiteral("иВАН")); // display names, any case
    QVERIFY(!hidden(a) && !hidden(b) && hidden(none) && hidden(m_model->index(0, 0)));
    QVERIFY(hidden(row("1002")) && !hidden(row("1001")));
    QVERIFY(m_view->isExpanded(a) && m_view->isExpanded(b) && !m_view->isExpanded(none));
    m_view->setFilter(QStringLiteral("1005@")); // URIs
    QVERIFY(hidden(a) && hidden(b) && !hidden(none) && hidden(row("1003")) && m_view->isExpanded(none));
    // Clearing shows all and keeps the groups the filter opened.
    m_view->setFilter();
    for (const QModelIndex &i : {a, b, none, row("1002"), row("1003"), m_model->index(0, 0)})
        QVERIFY(!hidden(i));
    QVERIFY(m_view->isExpanded(a));

    // Without unregistered users, registration events show and hide at once.
    m_view->setShowUnregistered(false);
    QVERIFY(hidden(b) && !hidden(a) && hidden(row("1001")) && !hidden(row("1002")));
    m_model->registeredEvent(registerEvent(QStringLiteral("sofia::register"), QStringLiteral("1004")));
    QVERIFY(!hidden(b) && !hidden(row("1004")));
    m_model->registeredEvent(registerEvent(QStringLiteral("sofia::unregister"), QStringLiteral("1002")));
    QVERIFY(hidden(row("1002")) && hidden(a));
    m_view->setFilter(QStringLiteral("Иван"));
    QVERIFY(hidden(a) && hidden(b));
    m_view->setShowUnregistered(true);
    QVERIFY(!hidden(a) && !hidden(b));
    m_model->registeredEvent(registerEvent(QStringLiteral("sofia::expire"), QStringLiteral("1004")));
    m_view->setFilter();
    QVERIFY(!hidden(row("1004")));
}

void UserListViewTest::selectionKeysAndMouse()
{
    m_view->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_view));
    QSignalSpy calls(m_view, qOverload<QSet<QString>>(&UserListView::callToConference));
    const QModelIndex a = group(QStringLiteral("Группа А"));
    auto select = [this](const QModelIndexList &list) {
        m_view->selectionModel()->clearSelection();
        for (const QModelIndex &i : list)
            m_view->selectionModel()->select(i, QItemSelectionModel::Select);
    };

    // A press left of 41 pixels toggles a group; further right it does not.
    QTest::mouseClick(m_view->viewport(), Qt::LeftButton, {}, QPoint(40, m_view->visualRect(a).center().y()));
    QVERIFY(m_view->isExpanded(a));
    QTest::mouseClick(m_view->viewport(), Qt::LeftButton, {},
                      QPoint(120, m_view->visualRect(a).center().y()));
    QVERIFY(m_view->isExpanded(a));

    select({a, row("1002")}); // a group and its member: each URI once
    QTest::keyClick(m_view, Qt::Key_Return);
    select({row("1003"), group(QStringLiteral("Группа Б"))}); // nobody registered
    QTest::keyClick(m_view, Qt::Key_Enter);
    QCOMPARE(calls.count(), 1);
    QCOMPARE(calls.at(0).at(0).value<QSet<QString>>(), QSet<QString>{uri("1002")});

    // Double click: on a group's indicator nothing, on its name the group.
    doubleClick(a, 30);
    QCOMPARE(calls.count(), 1);
    m_view->expand(a);
    doubleClick(a, 200);
    QCOMPARE(calls.count(), 2);
    QVERIFY(m_view->isExpanded(a));
    doubleClick(row("1001"), 200);
    QCOMPARE(calls.count(), 2);
    doubleClick(m_model->index(0, 0), 200);
    QCOMPARE(calls.at(2).at(0).value<QSet<QString>>(), QSet<QString>{uri("1006")});

    // The menu entry calls the whole selection.
    select({m_model->index(0, 0), a});
    action(m_view->groupMenu(), QStringLiteral("Вызвать выбранных в текущую конференцию"))->trigger();
    QCOMPARE(calls.at(3).at(0).value<QSet<QString>>(), (QSet<QString>{uri("1006"), uri("1002")}));
}

void UserListViewTest::contextMenusAndExpandAll()
{
    m_view->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_view));
    const QModelIndex a = group(QStringLiteral("Группа А"));
    m_view->expand(a);
    QClipboard *clipboard = QApplication::clipboard();
    MyContextMenu *menu = m_view->userMenu();
    QSignalSpy info(m_view, &UserListView::userInformation);

    m_view->onCustomContextMenu(m_view->visualRect(row("1002")).center());
    QCOMPARE(menu->title(), uri("1002"));
    QCOMPARE(menu->index(), row("1002"));
    menu->hide();
    QCOMPARE(menu->actions().size(), 7);
    action(menu, QStringLiteral("Копировать отображаемое имя пользователя"))->trigger();
    QCOMPARE(clipboard->text(), QStringLiteral("Петров Пётр"));
    action(menu, QStringLiteral("Копировать username пользователя"))->trigger();
    QCOMPARE(clipboard->text(), QStringLiteral("1002"));
    action(menu, QStringLiteral("Копировать URI пользователя"))->trigger();
    QCOMPARE(clipboard->text(), uri("1002"));
    action(menu, QStringLiteral("Информация о пользователе"))->trigger();
    QCOMPARE(info.value(0).value(0).toString(), uri("1002"));
    menu->setTitle(QStringLiteral("nodomain"));
    action(menu, QStringLiteral("Копировать username пользователя"))->trigger();
    QCOMPARE(clipboard->text(), QStringLiteral("nodomain"));

    m_view->onCustomContextMenu(m_view->visualRect(a).center());
    m_view->groupMenu()->hide();
    action(m_view->groupMenu(), QStringLiteral("Копировать имя группы"))->trigger();
    QCOMPARE(clipboard->text(), QStringLiteral("Группа А"));
    QCOMPARE(menu->title(), QStringLiteral("nodomain"));                       // the user menu is left alone
    m_view->onCustomContextMenu(QPoint(10, m_view->viewport()->height() - 2)); // below the rows
    QCOMPARE(m_view->groupMenu()->title(), QStringLiteral("Группа А"));

    // One open group is enough for the next request to collapse everything.
    const QModelIndexList groups{a, group(QStringLiteral("Группа Б")), group(kNoGroup)};
    m_view->showHideAllUsersGroup();
    for (const QModelIndex &g : groups)
        QVERIFY(!m_view->isExpanded(g));
    m_view->showHideAllUsersGroup();
    for (const QModelIndex &g : groups)
        QVERIFY(m_view->isExpanded(g));
}

void UserListViewTest::typeAheadWalksAndRestartsAfterPause()
{
    m_model->userListReceived(
        QStringLiteral("hdr\n1006|d|127.0.0.1|d|c||Zed|\n5001|d|127.0.0.1|d|c||Andrew|\n"
                       "5002|d|127.0.0.1|d|c||Bella|\n5003|d|127.0.0.1|d|c||Boris|\n"
                       "5004|d|127.0.0.1|d|c||Carl|\n7001|d|127.0.0.1|d|c||Robert|\n"),
        QVariant());
    for (const char *id : {"5001", "5002", "5003", "5004", "7001"})
        m_model->userGroupsReceived(QStringLiteral("Смена"), uri(id));
    qint64 now = 10000;
    m_view->setClock([&now] { return now; });
    m_view->selectionModel()->select(m_model->index(0, 0), QItemSelectionModel::Select);
    auto type = [&](qint64 pause, const QString &text) {
        now += pause;
        m_view->keyboardSearch(text);
        return m_view->currentIndex().data().toString();
    };

    QCOMPARE(type(0, QStringLiteral("b")), QStringLiteral("Bella"));
    QCOMPARE(type(300, QStringLiteral("b")), QStringLiteral("Boris")); // one letter repeated walks on
    QCOMPARE(type(300, QStringLiteral("B")), QStringLiteral("Robert"));
    QCOMPARE(m_view->selectionModel()->selectedIndexes(), QModelIndexList{m_model->index(0, 0)});
    QCOMPARE(type(1001, QStringLiteral("c")), QStringLiteral("Carl")); // a pause starts over
    QCOMPARE(type(1000, QStringLiteral("a")), QStringLiteral("Carl"));
    QCOMPARE(m_view->typeAheadText(), QStringLiteral("ca"));
    QCOMPARE(type(100, QStringLiteral("x")), QStringLiteral("Carl"));     // nothing found: stays
    QCOMPARE(type(5000, QStringLiteral("70")), QStringLiteral("Robert")); // by URI
    type(10, QString());
    QCOMPARE(type(10, QStringLiteral("z")), QStringLiteral("Zed"));
}

QTEST_MAIN(UserListViewTest)
#include "userlistview_test.moc"
