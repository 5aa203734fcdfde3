#include "app/xmlconfig.h"
#include "tests/users/usertestdata.h"
#include "users/mycontextmenu.h"
#include "users/userlistmodel.h"
#include "users/userlistview.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QClipboard>
#include <QSignalSpy>
#include <QtTest>

using namespace UserTestData;

class UserListViewTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void filterShowsMatchingUsersAndExpandsTheirGroups();
    void hidingUnregisteredFollowsRegistrationEvents();
    void selectionBecomesRegisteredUris();
    void mouseTogglesGroupsAndDoubleClickCalls();
    void contextMenusCopyAndAskForInformation();
    void expandOrCollapseAllGroups();
    void typeAheadWalksAndRestartsAfterPause();

private:
    QModelIndex group(const QString &name) const;
    QModelIndex row(const QString &uri, int hit = 0) const { return m_model->indexesOfUser(uri).value(hit); }
    bool hidden(const QModelIndex &index) const { return m_view->isRowHidden(index.row(), index.parent()); }
    void select(const QModelIndexList &indexes);
    void doubleClick(const QPoint &pos);
    QAction *action(QMenu *menu, const QString &text) const;

    UserListModel *m_model = nullptr;
    QAbstractItemModelTester *m_tester = nullptr;
    UserListView *m_view = nullptr;
};

void UserListViewTest::init()
{
    XMLConfig::instance().currentServerHost = kDomain;
    XMLConfig::instance().currentLoginUser = QStringLiteral("1006");
    m_model = new UserListModel(QStringLiteral("root"));
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

QModelIndex UserListViewTest::group(const QString &name) const
{
    for (int i = 0; i < m_model->rowCount(); ++i) {
        const QModelIndex index = m_model->index(i, 0);
        if (m_model->hasChildren(index) && index.data().toString() == name)
            return index;
    }
    return QModelIndex();
}

void UserListViewTest::select(const QModelIndexList &indexes)
{
    m_view->selectionModel()->clearSelection();
    for (const QModelIndex &index : indexes)
        m_view->selectionModel()->select(index, QItemSelectionModel::Select);
}

// A real double click: the first click selects, the second arrives as a double click.
void UserListViewTest::doubleClick(const QPoint &pos)
{
    QTest::mouseClick(m_view->viewport(), Qt::LeftButton, {}, pos);
    QTest::mouseDClick(m_view->viewport(), Qt::LeftButton, {}, pos);
}

QAction *UserListViewTest::action(QMenu *menu, const QString &text) const
{
    const QList<QAction *> actions = menu->actions();
    for (QAction *a : actions) {
        if (a->text() == text)
            return a;
    }
    return nullptr;
}

void UserListViewTest::filterShowsMatchingUsersAndExpandsTheirGroups()
{
    const QModelIndex groupA = group(QStringLiteral("Группа А"));
    const QModelIndex groupB = group(QStringLiteral("Группа Б"));
    const QModelIndex noGroup = group(kNoGroup);
    QVERIFY(!m_view->isExpanded(groupA));

    // Display names match regardless of case.
    m_view->setFilter(QStringLiteral("иВАН"));
    QVERIFY(!hidden(groupA));
    QVERIFY(!hidden(groupB));
    QVERIFY(hidden(noGroup));
    QVERIFY(hidden(m_model->index(0, 0)));
    QVERIFY(hidden(row(QStringLiteral("1002@127.0.0.1"))));
    QVERIFY(!hidden(row(QStringLiteral("1001@127.0.0.1"), 0)));
    QVERIFY(m_view->isExpanded(groupA));
    QVERIFY(m_view->isExpanded(groupB));
    QVERIFY(!m_view->isExpanded(noGroup));

    // URIs match too; a user's rows in every group follow.
    m_view->setFilter(QStringLiteral("1005@"));
    QVERIFY(hidden(groupA));
    QVERIFY(hidden(groupB));
    QVERIFY(!hidden(noGroup));
    QVERIFY(m_view->isExpanded(noGroup));
    QVERIFY(!hidden(row(QStringLiteral("1005@127.0.0.1"))));
    QVERIFY(hidden(row(QStringLiteral("1003@127.0.0.1"))));

    m_view->setFilter(QStringLiteral("нет такого"));
    for (int i = 0; i < m_model->rowCount(); ++i)
        QVERIFY(m_view->isRowHidden(i, QModelIndex()));

    // Clearing shows everything again and leaves the groups as the filter opened them.
    m_view->setFilter();
    QCOMPARE(m_view->filter(), QString());
    for (int i = 0; i < m_model->rowCount(); ++i)
        QVERIFY(!m_view->isRowHidden(i, QModelIndex()));
    QVERIFY(!hidden(row(QStringLiteral("1002@127.0.0.1"))));
    QVERIFY(!hidden(row(QStringLiteral("1003@127.0.0.1"))));
    QVERIFY(m_view->isExpanded(groupA));
    QVERIFY(m_view->isExpanded(noGroup));
}

void UserListViewTest::hidingUnregisteredFollowsRegistrationEvents()
{
    const QModelIndex groupA = group(QStringLiteral("Группа А"));
    const QModelIndex groupB = group(QStringLiteral("Группа Б"));
    m_view->setShowUnregistered(false);
    QVERIFY(!m_view->showUnregistered());
    // Группа Б has only unregistered users.
    QVERIFY(hidden(groupB));
    QVERIFY(!hidden(groupA));
    QVERIFY(hidden(row(QStringLiteral("1001@127.0.0.1"))));
    QVERIFY(!hidden(row(QStringLiteral("1002@127.0.0.1"))));
    QVERIFY(!hidden(m_model->index(0, 0)));

    // A registration shows the user and his group at once.
    m_model->registeredEvent(registerEvent(QStringLiteral("sofia::register"), QStringLiteral("1004")));
    QVERIFY(!hidden(groupB));
    QVERIFY(!hidden(row(QStringLiteral("1004@127.0.0.1"))));
    // The last registered user of a group leaving hides the group.
    m_model->registeredEvent(registerEvent(QStringLiteral("sofia::unregister"), QStringLiteral("1002")));
    QVERIFY(hidden(row(QStringLiteral("1002@127.0.0.1"))));
    QVERIFY(hidden(groupA));

    // With unregistered users shown, registration changes hide nothing.
    m_view->setShowUnregistered(true);
    QVERIFY(!hidden(groupA));
    m_model->registeredEvent(registerEvent(QStringLiteral("sofia::expire"), QStringLiteral("1004")));
    QVERIFY(!hidden(row(QStringLiteral("1004@127.0.0.1"))));

    // Both rules together: a filter match that is not registered stays hidden.
    m_view->setShowUnregistered(false);
    m_view->setFilter(QStringLiteral("Operator"));
    QVERIFY(hidden(groupB));
    m_model->registeredEvent(registerEvent(QStringLiteral("sofia::register"), QStringLiteral("1004")));
    QVERIFY(!hidden(groupB));
    QVERIFY(hidden(groupA));
}

void UserListViewTest::selectionBecomesRegisteredUris()
{
    QSignalSpy calls(m_view, qOverload<QSet<QString>>(&UserListView::callToConference));
    m_view->setFocus();

    // A group and one of its members: each registered URI once.
    const QModelIndex groupA = group(QStringLiteral("Группа А"));
    m_view->expand(groupA);
    select({groupA, row(QStringLiteral("1002@127.0.0.1"))});
    QTest::keyClick(m_view, Qt::Key_Return);
    QCOMPARE(calls.count(), 1);
    QCOMPARE(calls.at(0).at(0).value<QSet<QString>>(), QSet<QString>{QStringLiteral("1002@127.0.0.1")});

    // Only unregistered users: nothing to call.
    select({row(QStringLiteral("1003@127.0.0.1")), row(QStringLiteral("1005@127.0.0.1")),
            group(QStringLiteral("Группа Б"))});
    QTest::keyClick(m_view, Qt::Key_Enter);
    QCOMPARE(calls.count(), 1);

    // Several groups and the own row; the menu entry acts on the whole selection.
    m_model->registeredEvent(registerEvent(QStringLiteral("sofia::register"), QStringLiteral("1004")));
    select({m_model->index(0, 0), group(QStringLiteral("Группа Б")), group(kNoGroup)});
    action(m_view->userMenu(), QStringLiteral("Вызвать выбранных в текущую конференцию"))->trigger();
    QCOMPARE(calls.count(), 2);
    QCOMPARE(calls.at(1).at(0).value<QSet<QString>>(),
             (QSet<QString>{QStringLiteral("1006@127.0.0.1"), QStringLiteral("1004@127.0.0.1")}));
    action(m_view->groupMenu(), QStringLiteral("Вызвать выбранных в текущую конференцию"))->trigger();
    QCOMPARE(calls.count(), 3);
    QCOMPARE(m_view->selectedUris(), calls.at(1).at(0).value<QSet<QString>>());

    // Other keys do not call.
    QTest::keyClick(m_view, Qt::Key_Space);
    QCOMPARE(calls.count(), 3);
}

void UserListViewTest::mouseTogglesGroupsAndDoubleClickCalls()
{
    m_view->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_view));
    QSignalSpy calls(m_view, qOverload<QSet<QString>>(&UserListView::callToConference));
    const QModelIndex groupA = group(QStringLiteral("Группа А"));
    const QRect groupRect = m_view->visualRect(groupA);
    QVERIFY(groupRect.isValid());

    // A press on the indicator area toggles; one on the name does not.
    QTest::mouseClick(m_view->viewport(), Qt::LeftButton, {}, QPoint(20, groupRect.center().y()));
    QVERIFY(m_view->isExpanded(groupA));
    QTest::mouseClick(m_view->viewport(), Qt::LeftButton, {}, QPoint(120, groupRect.center().y()));
    QVERIFY(m_view->isExpanded(groupA));
    QTest::mouseClick(m_view->viewport(), Qt::LeftButton, {}, QPoint(40, groupRect.center().y()));
    QVERIFY(!m_view->isExpanded(groupA));
    m_view->expand(groupA);

    // Double click on a group's name calls its registered members; on its
    // indicator it does not; a double click never expands by itself.
    doubleClick(QPoint(30, groupRect.center().y()));
    QCOMPARE(calls.count(), 0);
    const bool expandedBefore = m_view->isExpanded(groupA);
    doubleClick(QPoint(200, groupRect.center().y()));
    QCOMPARE(calls.count(), 1);
    QCOMPARE(calls.at(0).at(0).value<QSet<QString>>(), QSet<QString>{QStringLiteral("1002@127.0.0.1")});
    QCOMPARE(m_view->isExpanded(groupA), expandedBefore);

    // Anywhere on a user row calls that user.
    m_view->expand(groupA);
    const QRect userRect = m_view->visualRect(row(QStringLiteral("1001@127.0.0.1")));
    QVERIFY(userRect.isValid());
    doubleClick(QPoint(200, userRect.center().y()));
    QCOMPARE(calls.count(), 1);
    m_model->registeredEvent(registerEvent(QStringLiteral("sofia::register"), QStringLiteral("1001")));
    doubleClick(QPoint(200, userRect.center().y()));
    QCOMPARE(calls.count(), 2);
    QCOMPARE(calls.at(1).at(0).value<QSet<QString>>(), QSet<QString>{QStringLiteral("1001@127.0.0.1")});
}

void UserListViewTest::contextMenusCopyAndAskForInformation()
{
    m_view->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_view));
    const QModelIndex groupA = group(QStringLiteral("Группа А"));
    m_view->expand(groupA);
    QClipboard *clipboard = QApplication::clipboard();

    // Entries in order, separators included.
    QStringList texts;
    for (QAction *a : m_view->userMenu()->actions())
        texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
    QCOMPARE(texts,
             (QStringList{QStringLiteral("Вызвать выбранных в текущую конференцию"), QStringLiteral("-"),
                          QStringLiteral("Копировать отображаемое имя пользователя"),
                          QStringLiteral("Копировать username пользователя"),
                          QStringLiteral("Копировать URI пользователя"), QStringLiteral("-"),
                          QStringLiteral("Информация о пользователе")}));
    texts.clear();
    for (QAction *a : m_view->groupMenu()->actions())
        texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
    QCOMPARE(texts, (QStringList{QStringLiteral("Вызвать выбранных в текущую конференцию"),
                                 QStringLiteral("-"), QStringLiteral("Копировать имя группы")}));

    const QModelIndex petrov = row(QStringLiteral("1002@127.0.0.1"));
    m_view->onCustomContextMenu(m_view->visualRect(petrov).center());
    QCOMPARE(m_view->userMenu()->title(), QStringLiteral("1002@127.0.0.1"));
    QCOMPARE(m_view->userMenu()->index(), petrov);
    m_view->userMenu()->hide();

    action(m_view->userMenu(), QStringLiteral("Копировать отображаемое имя пользователя"))->trigger();
    QCOMPARE(clipboard->text(), QStringLiteral("Петров Пётр"));
    action(m_view->userMenu(), QStringLiteral("Копировать username пользователя"))->trigger();
    QCOMPARE(clipboard->text(), QStringLiteral("1002"));
    action(m_view->userMenu(), QStringLiteral("Копировать URI пользователя"))->trigger();
    QCOMPARE(clipboard->text(), QStringLiteral("1002@127.0.0.1"));
    QSignalSpy info(m_view, &UserListView::userInformation);
    action(m_view->userMenu(), QStringLiteral("Информация о пользователе"))->trigger();
    QCOMPARE(info.count(), 1);
    QCOMPARE(info.at(0).at(0).toString(), QStringLiteral("1002@127.0.0.1"));

    // A title without "@" is copied whole as the user name.
    m_view->userMenu()->setTitle(QStringLiteral("1002"));
    action(m_view->userMenu(), QStringLiteral("Копировать username пользователя"))->trigger();
    QCOMPARE(clipboard->text(), QStringLiteral("1002"));

    // A group row opens the group menu, whose copy entry gives the group name.
    m_view->onCustomContextMenu(m_view->visualRect(groupA).center());
    QCOMPARE(m_view->groupMenu()->title(), QStringLiteral("Группа А"));
    m_view->groupMenu()->hide();
    action(m_view->groupMenu(), QStringLiteral("Копировать имя группы"))->trigger();
    QCOMPARE(clipboard->text(), QStringLiteral("Группа А"));
    // The user menu still remembers its user.
    QCOMPARE(m_view->userMenu()->index(), petrov);

    // Below the last row there is no menu at all.
    m_view->userMenu()->setTitle(QStringLiteral("untouched"));
    m_view->groupMenu()->setTitle(QStringLiteral("untouched"));
    m_view->onCustomContextMenu(QPoint(10, m_view->viewport()->height() - 2));
    QCOMPARE(m_view->userMenu()->title(), QStringLiteral("untouched"));
    QCOMPARE(m_view->groupMenu()->title(), QStringLiteral("untouched"));
    QVERIFY(!m_view->userMenu()->isVisible());
}

void UserListViewTest::expandOrCollapseAllGroups()
{
    const QModelIndexList groups{group(QStringLiteral("Группа А")), group(QStringLiteral("Группа Б")),
                                 group(kNoGroup)};
    m_view->showHideAllUsersGroup();
    for (const QModelIndex &g : groups)
        QVERIFY(m_view->isExpanded(g));
    m_view->showHideAllUsersGroup();
    for (const QModelIndex &g : groups)
        QVERIFY(!m_view->isExpanded(g));
    // One open group is enough to make the next request collapse everything.
    m_view->expand(groups.at(1));
    m_view->showHideAllUsersGroup();
    for (const QModelIndex &g : groups)
        QVERIFY(!m_view->isExpanded(g));
}

void UserListViewTest::typeAheadWalksAndRestartsAfterPause()
{
    const QString reply = QStringLiteral(
        "userid|context|domain|group|contact|callgroup|effective_caller_id_name|effective_caller_id_number\n"
        "1006|default|127.0.0.1|default|error/user_not_registered||Zed|\n"
        "5001|default|127.0.0.1|default|error/user_not_registered||Andrew|\n"
        "5002|default|127.0.0.1|default|error/user_not_registered||Bella|\n"
        "5003|default|127.0.0.1|default|error/user_not_registered||Boris|\n"
        "5004|default|127.0.0.1|default|error/user_not_registered||Carl|\n"
        "7001|default|127.0.0.1|default|error/user_not_registered||Robert|\n"
        "\n+OK\n");
    m_model->userListReceived(reply, QVariant());
    for (const char *id : {"5001", "5002", "5003", "5004", "7001"})
        m_model->userGroupsReceived(QStringLiteral("Смена"),
                                    QString(QLatin1String(id) + QStringLiteral("@127.0.0.1")));
    m_view->expandAll();
    qint64 now = 10000;
    m_view->setClock([&now] { return now; });
    auto current = [this] { return m_view->currentIndex().data().toString(); };

    const QModelIndex zed = m_model->index(0, 0);
    m_view->selectionModel()->select(zed, QItemSelectionModel::Select);

    m_view->keyboardSearch(QStringLiteral("b"));
    QCOMPARE(current(), QStringLiteral("Bella"));
    now += 300;
    m_view->keyboardSearch(QStringLiteral("b"));
    QCOMPARE(m_view->typeAheadText(), QStringLiteral("bb"));
    QCOMPARE(current(), QStringLiteral("Boris"));
    now += 300;
    m_view->keyboardSearch(QStringLiteral("B"));
    QCOMPARE(current(), QStringLiteral("Robert"));
    // The selection is never touched by the search.
    QCOMPARE(m_view->selectionModel()->selectedIndexes(), QModelIndexList{zed});

    // A pause of more than a second starts a new text; exactly a second does not.
    now += 1001;
    m_view->keyboardSearch(QStringLiteral("c"));
    QCOMPARE(m_view->typeAheadText(), QStringLiteral("c"));
    QCOMPARE(current(), QStringLiteral("Carl"));
    now += 1000;
    m_view->keyboardSearch(QStringLiteral("a"));
    QCOMPARE(m_view->typeAheadText(), QStringLiteral("ca"));
    QCOMPARE(current(), QStringLiteral("Carl"));
    now += 100;
    m_view->keyboardSearch(QStringLiteral("x"));
    QCOMPARE(m_view->typeAheadText(), QStringLiteral("cax"));
    QCOMPARE(current(), QStringLiteral("Carl"));

    // No display name contains it: the URI does.
    now += 5000;
    m_view->keyboardSearch(QStringLiteral("70"));
    QCOMPARE(current(), QStringLiteral("Robert"));
    // An empty text resets it.
    now += 10;
    m_view->keyboardSearch(QString());
    QCOMPARE(m_view->typeAheadText(), QString());
    now += 10;
    m_view->keyboardSearch(QStringLiteral("z"));
    QCOMPARE(m_view->typeAheadText(), QStringLiteral("z"));
    QCOMPARE(current(), QStringLiteral("Zed"));
}

QTEST_MAIN(UserListViewTest)
#include "userlistview_test.moc"
