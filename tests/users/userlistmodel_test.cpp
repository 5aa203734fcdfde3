#include "app/xmlconfig.h"
#include "tests/users/usertestdata.h"

#include <QAbstractItemModelTester>
#include <QMimeData>
#include <QtTest>

using namespace UserTestData;

class UserListModelTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void repliesBuildSortedTree();
    void eventsDriveIconsAndRepaints();
    void watchedUsersWarn();
    void dragRemovalAndLookups();

private:
    QStringList texts(const QModelIndex &parent = QModelIndex()) const;
    QModelIndex group(const QString &name) const;
    qint64 icon(const QModelIndex &index) const
    {
        return index.data(Qt::DecorationRole).value<QIcon>().cacheKey();
    }

    UserListModel *m_model = nullptr;
    QAbstractItemModelTester *m_tester = nullptr;
};

void UserListModelTest::init()
{
    XMLConfig::instance().currentServerHost = kDomain;
    XMLConfig::instance().currentLoginUser = QStringLiteral("1006");
    m_model = new UserListModel;
    m_tester = new QAbstractItemModelTester(m_model, QAbstractItemModelTester::FailureReportingMode::QtTest);
}

void UserListModelTest::cleanup()
{
    delete m_tester;
    delete m_model;
}

QStringList UserListModelTest::texts(const QModelIndex &parent) const
{
    QStringList out;
    for (int i = 0; i < m_model->rowCount(parent); ++i)
        out << m_model->index(i, 0, parent).data().toString();
    return out;
}

QModelIndex UserListModelTest::group(const QString &name) const
{
    const QModelIndexList hits =
        m_model->match(m_model->index(0, 0), Qt::DisplayRole, name, -1, Qt::MatchExactly);
    for (const QModelIndex &hit : hits) {
        if (m_model->hasChildren(hit))
            return hit;
    }
    return QModelIndex();
}

void UserListModelTest::repliesBuildSortedTree()
{
    QSignalSpy reloaded(m_model, &UserListModel::userListReloaded);
    m_model->userListReceived(listUsersReply(), QVariant());
    QCOMPARE(reloaded.count(), 1);
    // Only the own row until group replies arrive; foreign users kept, malformed dropped.
    QCOMPARE(texts(), QStringList{QStringLiteral("Кузнецов Олег")});
    QCOMPARE(m_model->index(0, 0).data(UserListModel::UserUriRole).toString(), uri("1006"));
    QCOMPARE(m_model->displayName(uri("1005")), uri("1005"));
    QCOMPARE(m_model->user(uri("1006")).callerIdNumber, QStringLiteral("3006"));
    QVERIFY(!m_model->user(uri("1005")).registered);
    QVERIFY(m_model->hasUser(QStringLiteral("2001@10.0.0.9")));
    QVERIFY(!m_model->hasUser(QStringLiteral("broken@with")));

    LogCapture log;
    m_model->userGroupsReceived(QStringLiteral(" Группа Б ;;Группа А; ;"), uri("1001"));
    m_model->userGroupsReceived(QStringLiteral(";"), uri("1003"));
    m_model->userGroupsReceived(kNoReply, uri("1005"));
    m_model->userGroupsReceived(QStringLiteral("Группа А \n"), uri("1002"));
    m_model->userGroupsReceived(QStringLiteral("Альфа;Яблоко"), uri("1004"));
    m_model->userGroupsReceived(QStringLiteral("X"), QStringLiteral("9@127.0.0.1"));
    // Groups by code units after the own row; "Без группы" appended when made, then
    // sorted against like any other group.
    QCOMPARE(texts(), (QStringList{QStringLiteral("Кузнецов Олег"), QStringLiteral("Альфа"),
                                   QStringLiteral("Группа А"), QStringLiteral("Группа Б"), kNoGroup,
                                   QStringLiteral("Яблоко")}));
    QCOMPARE(texts(group(kNoGroup)), (QStringList{uri("1005"), QStringLiteral("Сидорова Анна")}));
    QCOMPARE(texts(group(QStringLiteral("Группа А"))),
             (QStringList{QStringLiteral("Иван Иванов"), QStringLiteral("Петров Пётр")}));
    const QModelIndex petrov = m_model->indexesOfUser(uri("1002")).value(0);
    QCOMPARE(petrov.data(Qt::ToolTipRole).toString(), QStringLiteral("Петров Пётр\n") + uri("1002"));
    QVERIFY(!group(kNoGroup).data(UserListModel::UserUriRole).isValid());

    // Roles: case-insensitive whole-text match; anything else is logged and ignored.
    m_model->userRoleReceived(QStringLiteral("DISPATCHER"), uri("1003"));
    m_model->userRoleReceived(QStringLiteral("default"), uri("1003"));
    m_model->userRoleReceived(kNoReply, uri("1003"));
    m_model->userRoleReceived(QStringLiteral("Technician"), uri("1004"));
    m_model->userRoleReceived(QString(), uri("1005"));
    m_model->userRoleReceived(QStringLiteral("dispatcher"), QStringLiteral("9@127.0.0.1"));
    QCOMPARE(m_model->user(uri("1003")).type, int(UserTypeDispatcher));
    QCOMPARE(m_model->user(uri("1004")).type, int(UserTypeTechnician));
    QVERIFY(!m_model->isDispatcherOrTechnician(uri("1005")));
    QCOMPARE(
        log.lines(),
        (QStringList{
            QStringLiteral(
                "C UserListModel::userGroupsReceived(): user \"9@127.0.0.1\" not found in 'users' hash"),
            QStringLiteral(
                "W UserListModel::userRoleReceived(): user \"1005@127.0.0.1\" has unknown role \"\""),
            QStringLiteral(
                "C UserListModel::userRoleReceived(): user \"9@127.0.0.1\" not found in 'users' hash")}));

    // Equal names keep arrival order; capitals sort before small letters.
    const QString names = QStringLiteral("hdr\n1|d|127.0.0.1|d|c||bob|\n2|d|127.0.0.1|d|c||Alice|\n"
                                         "3|d|127.0.0.1|d|c||alice|\n4|d|127.0.0.1|d|c||Alice|\n");
    m_model->userListReceived(names, QVariant());
    QCOMPARE(reloaded.count(), 2);
    QVERIFY(!m_model->isDispatcherOrTechnician(uri("1003")));
    for (const char *id : {"1", "2", "3", "4"})
        m_model->userGroupsReceived(QStringLiteral("G"), uri(id));
    QStringList order;
    for (int i = 0; i < 4; ++i)
        order << m_model->index(i, 0, group(QStringLiteral("G"))).data(UserListModel::UserUriRole).toString();
    QCOMPARE(order, (QStringList{uri("2"), uri("4"), uri("3"), uri("1")}));
}

void UserListModelTest::eventsDriveIconsAndRepaints()
{
    loadReferenceDirectory(m_model);
    QSignalSpy changed(m_model, &QAbstractItemModel::dataChanged);
    QSignalSpy dispatcher(m_model, &UserListModel::dispatcherRegistered);
    LogCapture log;
    const QModelIndex r1002 = m_model->indexesOfUser(uri("1002")).value(0);
    const QModelIndex r1003 = m_model->indexesOfUser(uri("1003")).value(0);
    const QModelIndexList own = m_model->indexesOfUser(uri("1006"));
    const qint64 red = icon(r1003), green = icon(r1002), ownGreen = icon(own.value(0));
    QVERIFY(red != green && ownGreen != green);
    QCOMPARE(icon(own.value(1)), ownGreen); // the dispatcher's row in his group too

    // Unregistered: the call state is stored, nothing is repainted.
    m_model->presenceEvent(presenceEvent(uri("1003"), QStringLiteral("progressing")));
    QCOMPARE(changed.count(), 0);
    QCOMPARE(icon(r1003), red);
    m_model->presenceEvent(presenceEvent(uri("1002"), QStringLiteral("progressing")));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(2).value<QVector<int>>(), QVector<int>{Qt::DecorationRole});
    const qint64 violet = icon(r1002);
    QVERIFY(violet != green && violet != red);

    // Registering shows the stored state; the row and its group repaint.
    m_model->registeredEvent(registerEvent(QStringLiteral("sofia::register"), QStringLiteral("1003")));
    QCOMPARE(icon(r1003), violet);
    QCOMPARE(changed.count(), 3);
    QCOMPARE(changed.at(1).at(2).value<QVector<int>>(),
             (QVector<int>{Qt::DecorationRole, UserListModel::RegisteredRole}));
    QCOMPARE(changed.at(2).at(0).value<QModelIndex>(), group(kNoGroup));
    QCOMPARE(
        log.lines(),
        (QStringList{
            QStringLiteral(
                "I У пользователя \"1003@127.0.0.1\" изменилось состояние: \"idle\" --> \"progressing\""),
            QStringLiteral(
                "I У пользователя \"1002@127.0.0.1\" изменилось состояние: \"idle\" --> \"progressing\""),
            QStringLiteral(
                "I У пользователя \"1003@127.0.0.1\" изменилось состояние регистрации: зарегистрирован")}));

    // Repeats and empty states do nothing at all.
    log.clear();
    m_model->registeredEvent(registerEvent(QStringLiteral("sofia::register"), QStringLiteral("1003")));
    m_model->presenceEvent(presenceEvent(uri("1002"), QStringLiteral("progressing")));
    m_model->presenceEvent(presenceEvent(uri("1002"), QString()));
    QCOMPARE(changed.count(), 3);
    QVERIFY(log.lines().isEmpty());

    m_model->presenceEvent(presenceEvent(uri("1002"), QStringLiteral("active")));
    QVERIFY(icon(r1002) != green && icon(r1002) != violet && icon(r1002) != red);
    m_model->registeredEvent(registerEvent(QStringLiteral("sofia::expire"), QStringLiteral("1002")));
    QCOMPARE(icon(r1002), red);
    QCOMPARE(m_model->user(uri("1002")).callState, QStringLiteral("active"));

    // A user in two groups: two rows and two groups repaint.
    changed.clear();
    m_model->registeredEvent(registerEvent(QStringLiteral("sofia::register"), QStringLiteral("1001")));
    QCOMPARE(changed.count(), 4);

    m_model->registeredEvent(registerEvent(QStringLiteral("sofia::unregister"), QStringLiteral("1006")));
    QCOMPARE(dispatcher.count(), 0);
    m_model->registeredEvent(registerEvent(QStringLiteral("sofia::register"), QStringLiteral("1006")));
    QCOMPARE(dispatcher.count(), 1);
    QCOMPARE(icon(own.value(0)), ownGreen);

    log.clear();
    m_model->registeredEvent(
        registerEvent(QStringLiteral("sofia::register"), QStringLiteral("1001"), QStringLiteral("h")));
    m_model->presenceEvent(presenceEvent(QStringLiteral("room1@127.0.0.1"), QStringLiteral("active")));
    QCOMPARE(
        log.lines(),
        (QStringList{
            QStringLiteral("C UserListModel::registeredEvent(): user \"1001@h\" not found in 'users' hash"),
            QStringLiteral(
                "C UserListModel::presenceEvent(): user \"room1@127.0.0.1\" not found in 'users' hash")}));
}

void UserListModelTest::watchedUsersWarn()
{
    loadReferenceDirectory(m_model);
    QStringList seen;
    connect(m_model, &UserListModel::setWarning, this,
            [&](const QString &m) { seen << QStringLiteral("set ") + m; });
    connect(m_model, &UserListModel::clearWarning, this,
            [&](const QString &m) { seen << QStringLiteral("clr ") + m; });
    connect(m_model, &UserListModel::userListReloaded, this, [&] { seen << QStringLiteral("reloaded"); });
    auto text = [](const QString &name, const char *id) {
        return QStringLiteral("Пользователь \"%1\" <%2> не зарегистрирован в сети").arg(name, uri(id));
    };
    LogCapture log;

    m_model->setMandatoryUserList({QStringLiteral("1003"), uri("1002"), QStringLiteral("9999")});
    m_model->setMandatoryUserList({QStringLiteral("1003"), uri("1002"), QStringLiteral("9999")});
    QCOMPARE(seen, QStringList{QStringLiteral("set ") + text(QStringLiteral("Сидорова Анна"), "1003")});
    QCOMPARE(log.lines(),
             QStringList{QStringLiteral(
                 "C UserListModel::setMandatoryUserList(): unknown user \"9999@127.0.0.1\" given")});

    seen.clear();
    m_model->registeredEvent(registerEvent(QStringLiteral("sofia::expire"), QStringLiteral("1002")));
    m_model->registeredEvent(registerEvent(QStringLiteral("sofia::register"), QStringLiteral("1002")));
    m_model->registeredEvent(registerEvent(QStringLiteral("sofia::register"), QStringLiteral("1004")));
    m_model->setMandatoryUserList({QStringLiteral("1002"), QStringLiteral("1004")});
    QCOMPARE(seen, (QStringList{QStringLiteral("set ") + text(QStringLiteral("Петров Пётр"), "1002"),
                                QStringLiteral("clr ") + text(QStringLiteral("Петров Пётр"), "1002"),
                                QStringLiteral("clr ") + text(QStringLiteral("Сидорова Анна"), "1003")}));

    // A reload reports the watched users again; 1004 has left the server.
    seen.clear();
    m_model->registeredEvent(registerEvent(QStringLiteral("sofia::unregister"), QStringLiteral("1004")));
    m_model->setMandatoryUserList({QStringLiteral("1002"), QStringLiteral("1004"), QStringLiteral("1005")});
    QString reply = listUsersReply();
    reply.remove(QRegularExpression(QStringLiteral("1004\\|[^\n]*\n")));
    m_model->userListReceived(reply, QVariant());
    const QString set1005 = QStringLiteral("set ") + text(uri("1005"), "1005");
    QCOMPARE(seen, (QStringList{QStringLiteral("set ") + text(QStringLiteral("Operator Four"), "1004"),
                                set1005, QStringLiteral("clr ") + text(QStringLiteral("Петров Пётр"), "1002"),
                                set1005, QStringLiteral("reloaded"),
                                QStringLiteral("clr ") + text(QStringLiteral("Operator Four"), "1004")}));
}

void UserListModelTest::dragRemovalAndLookups()
{
    loadReferenceDirectory(m_model);
    for (const char *id : {"1001", "1002", "1006"})
        m_model->userGroupsReceived(QStringLiteral("Смена"), uri(id));
    auto dragged = [this](const QModelIndexList &indexes) {
        QScopedPointer<QMimeData> mime(m_model->mimeData(indexes));
        QByteArray bytes = mime->data(QStringLiteral("application/x-useruri"));
        QDataStream stream(&bytes, QIODevice::ReadOnly);
        QStringList out;
        while (!stream.atEnd()) {
            QString text;
            stream >> text;
            out << text;
        }
        return out;
    };
    const QModelIndex shift = group(QStringLiteral("Смена"));
    QCOMPARE(dragged({shift}), (QStringList{uri("1006"), uri("1002")}));
    QCOMPARE(dragged({m_model->index(0, 0, shift), m_model->index(0, 0)}), QStringList{uri("1006")});
    QCOMPARE(m_model->mimeTypes(), QStringList{QStringLiteral("application/x-useruri")});

    // Emptying a group row by row removes the group itself.
    const int top = m_model->rowCount();
    QVERIFY(m_model->removeRows(0, 2, shift));
    QCOMPARE(m_model->rowCount(), top);
    QVERIFY(m_model->removeRows(0, 1, shift));
    QCOMPARE(m_model->rowCount(), top - 1);
    QVERIFY(!group(QStringLiteral("Смена")).isValid());
    QCOMPARE(m_model->indexesOfUser(uri("1001")).size(), 2);

    QCOMPARE(m_model->contactAddress(uri("1002")), QStringLiteral("sip:1002@127.0.0.1:5074"));
    QCOMPARE(m_model->contactAddress(uri("1001")), QString());
    QCOMPARE(m_model->contactAddress(uri("9")), QString());
    QCOMPARE(m_model->displayName(uri("9")), uri("9"));
    m_model->userListReceived(QStringLiteral("hdr\n7|d|127.0.0.1|d|sofia/internal/sip:7@h/x||S|\n"),
                              QVariant());
    QCOMPARE(m_model->contactAddress(uri("7")), QStringLiteral("sofia/internal/sip:7@h/x"));
}

QTEST_MAIN(UserListModelTest)
#include "userlistmodel_test.moc"
