#include "app/xmlconfig.h"
#include "tests/users/usertestdata.h"
#include "users/userlistmodel.h"

#include <QAbstractItemModelTester>
#include <QDataStream>
#include <QFile>
#include <QMimeData>
#include <QSignalSpy>
#include <QtTest>

using namespace UserTestData;

class UserListModelTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void reloadBuildsDirectoryFromServerReplies();
    void roleRepliesSetTypeOnlyForKnownRoles();
    void groupRepliesPlaceUsersInSortedGroups();
    void usersSortByCodeUnitsKeepingArrivalOrderOfEqualNames();
    void presenceAndRegistrationDriveIconsAndRepaints();
    void watchedUsersRaiseAndClearWarnings();
    void reloadReportsWatchedUsersAndVanishedOnes();
    void dragCarriesOnlyRegisteredUsers();
    void removingLastRowsOfGroupRemovesGroup();
    void contactAddressAndDisplayNameLookups();

private:
    void loadDirectory();
    QStringList topTexts() const;
    QStringList childTexts(const QString &group) const;
    QModelIndex groupIndex(const QString &group) const;
    QModelIndex rowOf(const QString &uri, int hit = 0) const;
    qint64 iconKey(const QString &uri, int hit = 0) const;

    UserListModel *m_model = nullptr;
    QAbstractItemModelTester *m_tester = nullptr;
};

void UserListModelTest::init()
{
    XMLConfig::instance().currentServerHost = kDomain;
    XMLConfig::instance().currentLoginUser = QStringLiteral("1006");
    m_model = new UserListModel(QStringLiteral("root"));
    m_tester = new QAbstractItemModelTester(m_model, QAbstractItemModelTester::FailureReportingMode::QtTest);
}

void UserListModelTest::cleanup()
{
    delete m_tester;
    delete m_model;
    m_tester = nullptr;
    m_model = nullptr;
}

// The directory the reference server runs with: roles and groups as it answers them.
void UserListModelTest::loadDirectory()
{
    loadReferenceDirectory(m_model);
}

QStringList UserListModelTest::topTexts() const
{
    QStringList out;
    for (int i = 0; i < m_model->rowCount(); ++i)
        out << m_model->index(i, 0).data().toString();
    return out;
}

QModelIndex UserListModelTest::groupIndex(const QString &group) const
{
    for (int i = 0; i < m_model->rowCount(); ++i) {
        const QModelIndex index = m_model->index(i, 0);
        if (m_model->rowCount(index) > 0 && index.data().toString() == group)
            return index;
    }
    return QModelIndex();
}

QStringList UserListModelTest::childTexts(const QString &group) const
{
    QStringList out;
    const QModelIndex parent = groupIndex(group);
    for (int i = 0; i < m_model->rowCount(parent); ++i)
        out << m_model->index(i, 0, parent).data().toString();
    return out;
}

QModelIndex UserListModelTest::rowOf(const QString &uri, int hit) const
{
    const QModelIndexList rows = m_model->indexesOfUser(uri);
    return hit < rows.size() ? rows.at(hit) : QModelIndex();
}

qint64 UserListModelTest::iconKey(const QString &uri, int hit) const
{
    return qvariant_cast<QIcon>(rowOf(uri, hit).data(Qt::DecorationRole)).cacheKey();
}

void UserListModelTest::reloadBuildsDirectoryFromServerReplies()
{
    QSignalSpy reloaded(m_model, &UserListModel::userListReloaded);
    m_model->userListReceived(listUsersReply(), QVariant());

    QCOMPARE(reloaded.count(), 1);
    // Before any group reply only the own row is shown.
    QCOMPARE(m_model->rowCount(), 1);
    const QModelIndex own = m_model->index(0, 0);
    QCOMPARE(own.data(UserListModel::UserUriRole).toString(), QStringLiteral("1006@127.0.0.1"));
    QCOMPARE(own.data().toString(), QStringLiteral("Кузнецов Олег"));
    QCOMPARE(own.data(UserListModel::RegisteredRole).toBool(), true);

    const UserRecord u1005 = m_model->user(QStringLiteral("1005@127.0.0.1"));
    QCOMPARE(u1005.displayName, QStringLiteral("1005@127.0.0.1"));
    QCOMPARE(u1005.registered, false);
    QCOMPARE(u1005.callState, QStringLiteral("idle"));
    QCOMPARE(u1005.type, int(UserTypeSubscriber));
    const UserRecord u1006 = m_model->user(QStringLiteral("1006@127.0.0.1"));
    QCOMPARE(u1006.callerIdNumber, QStringLiteral("3006"));
    QCOMPARE(u1006.contact, QStringLiteral("sofia/internal/sip:1006@127.0.0.1:5080"));
    QCOMPARE(u1006.context, QStringLiteral("default"));
    QCOMPARE(u1006.group, QStringLiteral("default"));

    // Other domains are kept for lookups; malformed lines are dropped.
    QVERIFY(m_model->hasUser(QStringLiteral("2001@10.0.0.9")));
    QCOMPARE(m_model->displayName(QStringLiteral("2001@10.0.0.9")), QStringLiteral("Чужой"));
    QVERIFY(!m_model->hasUser(QStringLiteral("broken@with")));
    QVERIFY(!m_model->hasUser(QStringLiteral("+OK@")));

    loadDirectory();
    QCOMPARE(reloaded.count(), 2);
    QCOMPARE(topTexts(), (QStringList{QStringLiteral("Кузнецов Олег"), QStringLiteral("Группа А"),
                                      QStringLiteral("Группа Б"), kNoGroup}));
    QCOMPARE(childTexts(QStringLiteral("Группа А")),
             (QStringList{QStringLiteral("Иван Иванов"), QStringLiteral("Петров Пётр")}));
    QCOMPARE(childTexts(QStringLiteral("Группа Б")),
             (QStringList{QStringLiteral("Operator Four"), QStringLiteral("Иван Иванов")}));
    QCOMPARE(childTexts(kNoGroup),
             (QStringList{QStringLiteral("1005@127.0.0.1"), QStringLiteral("Кузнецов Олег"),
                          QStringLiteral("Сидорова Анна")}));
    QVERIFY(m_model->indexesOfUser(QStringLiteral("2001@10.0.0.9")).isEmpty());
    QCOMPARE(m_model->indexesOfUser(QStringLiteral("1001@127.0.0.1")).size(), 2);

    const QModelIndex petrov = rowOf(QStringLiteral("1002@127.0.0.1"));
    QCOMPARE(petrov.data(Qt::ToolTipRole).toString(), QStringLiteral("Петров Пётр\n1002@127.0.0.1"));
    const QModelIndex group = groupIndex(QStringLiteral("Группа А"));
    QVERIFY(!group.data(UserListModel::UserUriRole).isValid());
    QVERIFY(!group.data(Qt::DecorationRole).isValid());
    QVERIFY(!group.data(Qt::ToolTipRole).isValid());
    QVERIFY(m_model->isDispatcherOrTechnician(QStringLiteral("1001@127.0.0.1")));

    // A reconnection rebuilds everything: a user gone from the list is gone, the
    // tree starts over and roles are unknown again until their replies come.
    QString shorter = listUsersReply();
    shorter.remove(QRegularExpression(QStringLiteral("1004\\|[^\n]*\n")));
    m_model->userListReceived(shorter, QVariant());
    QCOMPARE(reloaded.count(), 3);
    QCOMPARE(m_model->rowCount(), 1);
    QVERIFY(!m_model->hasUser(QStringLiteral("1004@127.0.0.1")));
    QVERIFY(!m_model->isDispatcherOrTechnician(QStringLiteral("1001@127.0.0.1")));

    // A reply without any user line still shows the own row.
    m_model->userListReceived(QString(), QVariant());
    QCOMPARE(reloaded.count(), 4);
    QCOMPARE(m_model->rowCount(), 1);
    QVERIFY(!m_model->hasUser(QStringLiteral("1001@127.0.0.1")));
}

void UserListModelTest::roleRepliesSetTypeOnlyForKnownRoles()
{
    m_model->userListReceived(listUsersReply(), QVariant());
    LogCapture log;

    m_model->userRoleReceived(QStringLiteral("DISPATCHER"), QStringLiteral("1003@127.0.0.1"));
    QCOMPARE(m_model->user(QStringLiteral("1003@127.0.0.1")).type, int(UserTypeDispatcher));
    m_model->userRoleReceived(QStringLiteral("Technician"), QStringLiteral("1004@127.0.0.1"));
    QCOMPARE(m_model->user(QStringLiteral("1004@127.0.0.1")).type, int(UserTypeTechnician));
    QVERIFY(m_model->isDispatcherOrTechnician(QStringLiteral("1004@127.0.0.1")));

    // "default" and the no-reply answer leave an earlier type alone.
    m_model->userRoleReceived(QStringLiteral("default"), QStringLiteral("1003@127.0.0.1"));
    m_model->userRoleReceived(kNoReply, QStringLiteral("1003@127.0.0.1"));
    QCOMPARE(m_model->user(QStringLiteral("1003@127.0.0.1")).type, int(UserTypeDispatcher));
    QVERIFY(log.lines().isEmpty());

    // The value is compared whole: an empty role or one with a newline is unknown.
    m_model->userRoleReceived(QString(), QStringLiteral("1005@127.0.0.1"));
    m_model->userRoleReceived(QStringLiteral("dispatcher\n"), QStringLiteral("1005@127.0.0.1"));
    QCOMPARE(m_model->user(QStringLiteral("1005@127.0.0.1")).type, int(UserTypeSubscriber));
    QVERIFY(!m_model->isDispatcherOrTechnician(QStringLiteral("1005@127.0.0.1")));
    QVERIFY(log.contains(
        QtWarningMsg,
        QStringLiteral("UserListModel::userRoleReceived(): user \"1005@127.0.0.1\" has unknown role \"\"")));
    QCOMPARE(log.lines().size(), 2);

    log.clear();
    m_model->userRoleReceived(QStringLiteral("dispatcher"), QStringLiteral("9999@127.0.0.1"));
    QVERIFY(log.contains(QtCriticalMsg,
                         QStringLiteral("UserListModel::userRoleReceived(): user \"9999@127.0.0.1\" "
                                        "not found in 'users' hash")));
    QVERIFY(!m_model->isDispatcherOrTechnician(QStringLiteral("9999@127.0.0.1")));
}

void UserListModelTest::groupRepliesPlaceUsersInSortedGroups()
{
    m_model->userListReceived(listUsersReply(), QVariant());

    // Blanks around names and empty or blank elements do not make extra groups.
    m_model->userGroupsReceived(QStringLiteral(" Группа Б ;;Группа А; ;"), QStringLiteral("1001@127.0.0.1"));
    QCOMPARE(topTexts(), (QStringList{QStringLiteral("Кузнецов Олег"), QStringLiteral("Группа А"),
                                      QStringLiteral("Группа Б")}));

    // A reply of separators only, and the no-reply answer, mean "no group".
    m_model->userGroupsReceived(QStringLiteral(";"), QStringLiteral("1003@127.0.0.1"));
    m_model->userGroupsReceived(kNoReply, QStringLiteral("1005@127.0.0.1"));
    QCOMPARE(topTexts().last(), kNoGroup);
    QCOMPARE(childTexts(kNoGroup),
             (QStringList{QStringLiteral("1005@127.0.0.1"), QStringLiteral("Сидорова Анна")}));

    // A padded name finds the existing group instead of making a second one.
    m_model->userGroupsReceived(QStringLiteral("Группа А \n"), QStringLiteral("1002@127.0.0.1"));
    QCOMPARE(m_model->rowCount(), 4);
    QCOMPARE(childTexts(QStringLiteral("Группа А")),
             (QStringList{QStringLiteral("Иван Иванов"), QStringLiteral("Петров Пётр")}));

    // New groups sort among the groups; the no-group row is only appended when it
    // is created, later groups sort against it like any other.
    m_model->userGroupsReceived(QStringLiteral("Альфа"), QStringLiteral("1004@127.0.0.1"));
    m_model->userGroupsReceived(QStringLiteral("Яблоко;Ба"), QStringLiteral("1006@127.0.0.1"));
    QCOMPARE(topTexts(), (QStringList{QStringLiteral("Кузнецов Олег"), QStringLiteral("Альфа"),
                                      QStringLiteral("Ба"), QStringLiteral("Группа А"),
                                      QStringLiteral("Группа Б"), kNoGroup, QStringLiteral("Яблоко")}));

    // A group reply for a user who is not listed changes nothing.
    LogCapture log;
    m_model->userGroupsReceived(QStringLiteral("Новая"), QStringLiteral("9999@127.0.0.1"));
    QCOMPARE(m_model->rowCount(), 7);
    QVERIFY(log.contains(QtCriticalMsg, QStringLiteral("UserListModel::userGroupsReceived(): user "
                                                       "\"9999@127.0.0.1\" not found in 'users' hash")));
}

void UserListModelTest::usersSortByCodeUnitsKeepingArrivalOrderOfEqualNames()
{
    const QString reply = QStringLiteral(
        "userid|context|domain|group|contact|callgroup|effective_caller_id_name|effective_caller_id_number\n"
        "1|default|127.0.0.1|default|error/user_not_registered||bob|\n"
        "2|default|127.0.0.1|default|error/user_not_registered||Alice|\n"
        "3|default|127.0.0.1|default|error/user_not_registered||alice|\n"
        "4|default|127.0.0.1|default|error/user_not_registered||Bob|\n"
        "5|default|127.0.0.1|default|error/user_not_registered||Alice|\n"
        "6|default|127.0.0.1|default|error/user_not_registered||Ёлка|\n"
        "7|default|127.0.0.1|default|error/user_not_registered||Елена|\n"
        "\n+OK\n");
    m_model->userListReceived(reply, QVariant());
    for (int id = 1; id <= 7; ++id)
        m_model->userGroupsReceived(QStringLiteral("G"), QStringLiteral("%1@127.0.0.1").arg(id));

    const QModelIndex group = groupIndex(QStringLiteral("G"));
    QStringList uris;
    for (int i = 0; i < m_model->rowCount(group); ++i)
        uris << m_model->index(i, 0, group)
                    .data(UserListModel::UserUriRole)
                    .toString()
                    .section(QLatin1Char('@'), 0, 0);
    // Plain code units: capitals first, "Ё" (U+0401) before "Е" (U+0415); the two
    // "Alice" rows keep the order in which they arrived.
    QCOMPARE(uris,
             (QStringList{QStringLiteral("2"), QStringLiteral("5"), QStringLiteral("4"), QStringLiteral("3"),
                          QStringLiteral("1"), QStringLiteral("6"), QStringLiteral("7")}));
}

void UserListModelTest::presenceAndRegistrationDriveIconsAndRepaints()
{
    loadDirectory();
    QSignalSpy changed(m_model, &QAbstractItemModel::dataChanged);
    QSignalSpy dispatcher(m_model, &UserListModel::dispatcherRegistered);
    LogCapture log;

    const QString u1002 = QStringLiteral("1002@127.0.0.1");
    const QString u1003 = QStringLiteral("1003@127.0.0.1");
    const QString own = QStringLiteral("1006@127.0.0.1");
    const qint64 red = iconKey(QStringLiteral("1005@127.0.0.1"));
    const qint64 green = iconKey(u1002);
    QVERIFY(red != green);
    QCOMPARE(iconKey(u1003), red);

    // Every row of the dispatcher himself, top or in a group, uses the own variant.
    const QModelIndexList ownRows = m_model->indexesOfUser(own);
    QCOMPARE(ownRows.size(), 2);
    QVERIFY(!ownRows.at(0).parent().isValid());
    const qint64 ownGreen = qvariant_cast<QIcon>(ownRows.at(0).data(Qt::DecorationRole)).cacheKey();
    QCOMPARE(qvariant_cast<QIcon>(ownRows.at(1).data(Qt::DecorationRole)).cacheKey(), ownGreen);
    QVERIFY(ownGreen != green);

    // Unregistered: the state is stored but nothing is repainted.
    m_model->presenceEvent(presenceEvent(u1003, QStringLiteral("progressing")));
    QCOMPARE(m_model->user(u1003).callState, QStringLiteral("progressing"));
    QCOMPARE(changed.count(), 0);
    QCOMPARE(iconKey(u1003), red);
    QCOMPARE(log.lines(),
             QStringList{LogCapture::prefix(QtInfoMsg) +
                         QStringLiteral("У пользователя \"1003@127.0.0.1\" изменилось состояние: "
                                        "\"idle\" --> \"progressing\"")});

    m_model->presenceEvent(presenceEvent(u1002, QStringLiteral("progressing")));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).value<QModelIndex>(), rowOf(u1002));
    QCOMPARE(changed.at(0).at(2).value<QVector<int>>(), QVector<int>{Qt::DecorationRole});
    const qint64 violet = iconKey(u1002);
    QVERIFY(violet != green && violet != red);

    // The violet icon appears once the user registers; his group is repainted too.
    changed.clear();
    log.clear();
    m_model->registeredEvent(registerEvent(QStringLiteral("sofia::register"), QStringLiteral("1003")));
    QCOMPARE(iconKey(u1003), violet);
    QCOMPARE(changed.count(), 2);
    QCOMPARE(changed.at(0).at(0).value<QModelIndex>(), rowOf(u1003));
    QCOMPARE(changed.at(0).at(2).value<QVector<int>>(),
             (QVector<int>{Qt::DecorationRole, UserListModel::RegisteredRole}));
    QCOMPARE(changed.at(1).at(0).value<QModelIndex>(), groupIndex(kNoGroup));
    QCOMPARE(changed.at(1).at(2).value<QVector<int>>(), QVector<int>{Qt::DisplayRole});
    QVERIFY(log.contains(QtInfoMsg, QStringLiteral("У пользователя \"1003@127.0.0.1\" изменилось состояние "
                                                   "регистрации: зарегистрирован")));

    // Repeated states change nothing and log nothing.
    changed.clear();
    log.clear();
    m_model->registeredEvent(registerEvent(QStringLiteral("sofia::register"), QStringLiteral("1003")));
    m_model->presenceEvent(presenceEvent(u1002, QStringLiteral("progressing")));
    m_model->presenceEvent(presenceEvent(u1002, QString()));
    QCOMPARE(changed.count(), 0);
    QVERIFY(log.lines().isEmpty());

    m_model->presenceEvent(presenceEvent(u1002, QStringLiteral("active")));
    const qint64 blue = iconKey(u1002);
    QVERIFY(blue != green && blue != red && blue != violet);

    // Expiry names the user in other headers; it keeps the call state.
    m_model->registeredEvent(registerEvent(QStringLiteral("sofia::expire"), QStringLiteral("1002")));
    QCOMPARE(m_model->user(u1002).registered, false);
    QCOMPARE(m_model->user(u1002).callState, QStringLiteral("active"));
    QCOMPARE(iconKey(u1002), red);
    QVERIFY(log.contains(QtInfoMsg, QStringLiteral("У пользователя \"1002@127.0.0.1\" изменилось состояние "
                                                   "регистрации: не зарегистрирован")));

    // A user in two groups: both rows and both groups are repainted.
    changed.clear();
    m_model->registeredEvent(registerEvent(QStringLiteral("sofia::unregister"), QStringLiteral("1001")));
    QCOMPARE(changed.count(), 0);
    m_model->registeredEvent(registerEvent(QStringLiteral("sofia::register"), QStringLiteral("1001")));
    QCOMPARE(changed.count(), 4);

    // Only the dispatcher's own registration is announced.
    QCOMPARE(dispatcher.count(), 0);
    m_model->registeredEvent(registerEvent(QStringLiteral("sofia::unregister"), QStringLiteral("1006")));
    QCOMPARE(dispatcher.count(), 0);
    QCOMPARE(qvariant_cast<QIcon>(ownRows.at(0).data(Qt::DecorationRole)).cacheKey() == red, false);
    m_model->registeredEvent(registerEvent(QStringLiteral("sofia::register"), QStringLiteral("1006")));
    QCOMPARE(dispatcher.count(), 1);
    QCOMPARE(qvariant_cast<QIcon>(ownRows.at(0).data(Qt::DecorationRole)).cacheKey(), ownGreen);

    log.clear();
    m_model->registeredEvent(
        registerEvent(QStringLiteral("sofia::register"), QStringLiteral("1001"), QStringLiteral("10.9.9.9")));
    m_model->presenceEvent(presenceEvent(QStringLiteral("room1@127.0.0.1"), QStringLiteral("active")));
    QVERIFY(
        log.contains(QtCriticalMsg, QStringLiteral("UserListModel::registeredEvent(): user \"1001@10.9.9.9\" "
                                                   "not found in 'users' hash")));
    QVERIFY(
        log.contains(QtCriticalMsg, QStringLiteral("UserListModel::presenceEvent(): user \"room1@127.0.0.1\" "
                                                   "not found in 'users' hash")));

    // With the resources built in, the icons are the documented files.
    if (QFile::exists(QStringLiteral(":/Data/VioletDot.png"))) {
        const QSize size(24, 24);
        QCOMPARE(qvariant_cast<QIcon>(rowOf(u1003).data(Qt::DecorationRole)).pixmap(size).toImage(),
                 QIcon(QStringLiteral(":/Data/VioletDot.png")).pixmap(size).toImage());
        QCOMPARE(qvariant_cast<QIcon>(ownRows.at(0).data(Qt::DecorationRole)).pixmap(size).toImage(),
                 QIcon(QStringLiteral(":/Data/GreenDotForUser.png")).pixmap(size).toImage());
    }
}

void UserListModelTest::watchedUsersRaiseAndClearWarnings()
{
    loadDirectory();
    QSignalSpy set(m_model, &UserListModel::setWarning);
    QSignalSpy clear(m_model, &UserListModel::clearWarning);
    LogCapture log;

    const QString w1003 =
        QStringLiteral("Пользователь \"Сидорова Анна\" <1003@127.0.0.1> не зарегистрирован в сети");
    const QString w1002 =
        QStringLiteral("Пользователь \"Петров Пётр\" <1002@127.0.0.1> не зарегистрирован в сети");

    m_model->setMandatoryUserList(
        {QStringLiteral("1003"), QStringLiteral("1002@127.0.0.1"), QStringLiteral("9999")});
    QCOMPARE(set.count(), 1);
    QCOMPARE(set.at(0).at(0).toString(), w1003);
    QCOMPARE(clear.count(), 0);
    QCOMPARE(m_model->mandatoryUsers(),
             (QSet<QString>{QStringLiteral("1003@127.0.0.1"), QStringLiteral("1002@127.0.0.1"),
                            QStringLiteral("9999@127.0.0.1")}));
    QVERIFY(log.contains(QtCriticalMsg, QStringLiteral("UserListModel::setMandatoryUserList(): unknown user "
                                                       "\"9999@127.0.0.1\" given")));

    // The same list again: nothing new is watched, nothing is warned or logged.
    log.clear();
    m_model->setMandatoryUserList(
        {QStringLiteral("1003"), QStringLiteral("1002@127.0.0.1"), QStringLiteral("9999")});
    QCOMPARE(set.count(), 1);
    QCOMPARE(clear.count(), 0);
    QVERIFY(log.lines().isEmpty());

    // Registration changes of a watched user set and clear the same text.
    m_model->registeredEvent(registerEvent(QStringLiteral("sofia::expire"), QStringLiteral("1002")));
    QCOMPARE(set.count(), 2);
    QCOMPARE(set.at(1).at(0).toString(), w1002);
    m_model->registeredEvent(registerEvent(QStringLiteral("sofia::register"), QStringLiteral("1002")));
    QCOMPARE(clear.count(), 1);
    QCOMPARE(clear.at(0).at(0).toString(), w1002);
    // Users not watched never warn.
    m_model->registeredEvent(registerEvent(QStringLiteral("sofia::register"), QStringLiteral("1004")));
    m_model->registeredEvent(registerEvent(QStringLiteral("sofia::unregister"), QStringLiteral("1004")));
    QCOMPARE(set.count(), 2);
    QCOMPARE(clear.count(), 1);

    // A replaced list: the dropped unregistered user's warning goes away.
    m_model->setMandatoryUserList({QStringLiteral("1002")});
    QCOMPARE(clear.count(), 2);
    QCOMPARE(clear.at(1).at(0).toString(), w1003);
    QCOMPARE(set.count(), 2);

    // An empty list clears nothing for a registered user.
    m_model->setMandatoryUserList({});
    QCOMPARE(clear.count(), 2);
    QVERIFY(m_model->mandatoryUsers().isEmpty());
}

void UserListModelTest::reloadReportsWatchedUsersAndVanishedOnes()
{
    loadDirectory();
    m_model->setMandatoryUserList({QStringLiteral("1002"), QStringLiteral("1003"), QStringLiteral("1004"),
                                   QStringLiteral("2001@10.0.0.9")});

    QStringList events;
    connect(m_model, &UserListModel::setWarning, this,
            [&](const QString &m) { events << QStringLiteral("set ") + m; });
    connect(m_model, &UserListModel::clearWarning, this,
            [&](const QString &m) { events << QStringLiteral("clear ") + m; });
    connect(m_model, &UserListModel::userListReloaded, this, [&] { events << QStringLiteral("reloaded"); });

    // 1004 leaves the server, 1003 is now registered; 2001 is of another domain.
    QString reply = listUsersReply();
    reply.remove(QRegularExpression(QStringLiteral("1004\\|[^\n]*\n")));
    reply.replace(QStringLiteral("1003|default|127.0.0.1|default|error/user_not_registered"),
                  QStringLiteral("1003|default|127.0.0.1|default|sofia/internal/sip:1003@127.0.0.1:5090"));
    m_model->userListReceived(reply, QVariant());

    const QString tail = QStringLiteral(" не зарегистрирован в сети");
    QCOMPARE(events, (QStringList{
                         QStringLiteral("clear Пользователь \"Петров Пётр\" <1002@127.0.0.1>") + tail,
                         QStringLiteral("clear Пользователь \"Сидорова Анна\" <1003@127.0.0.1>") + tail,
                         QStringLiteral("reloaded"),
                         QStringLiteral("clear Пользователь \"Operator Four\" <1004@127.0.0.1>") + tail,
                     }));
}

void UserListModelTest::dragCarriesOnlyRegisteredUsers()
{
    loadDirectory();
    QCOMPARE(m_model->mimeTypes(), QStringList{QStringLiteral("application/x-useruri")});
    m_model->userGroupsReceived(QStringLiteral("Смена"), QStringLiteral("1001@127.0.0.1"));
    m_model->userGroupsReceived(QStringLiteral("Смена"), QStringLiteral("1002@127.0.0.1"));
    m_model->userGroupsReceived(QStringLiteral("Смена"), QStringLiteral("1006@127.0.0.1"));

    auto uris = [](QMimeData *mime) {
        QStringList out;
        QByteArray bytes = mime->data(QStringLiteral("application/x-useruri"));
        QDataStream stream(&bytes, QIODevice::ReadOnly);
        while (!stream.atEnd()) {
            QString uri;
            stream >> uri;
            out << uri;
        }
        delete mime;
        return out;
    };

    const QModelIndex shift = groupIndex(QStringLiteral("Смена"));
    QCOMPARE(m_model->rowCount(shift), 3);
    QVERIFY(m_model->flags(shift) & Qt::ItemIsDragEnabled);
    QCOMPARE(uris(m_model->mimeData({shift})),
             (QStringList{QStringLiteral("1006@127.0.0.1"), QStringLiteral("1002@127.0.0.1")}));

    // A single unregistered user carries nothing; users and own row mix freely.
    QVERIFY(uris(m_model->mimeData({rowOf(QStringLiteral("1001@127.0.0.1"))})).isEmpty());
    QCOMPARE(uris(m_model->mimeData({rowOf(QStringLiteral("1005@127.0.0.1")), m_model->index(0, 0),
                                     rowOf(QStringLiteral("1002@127.0.0.1"))})),
             (QStringList{QStringLiteral("1006@127.0.0.1"), QStringLiteral("1002@127.0.0.1")}));
}

void UserListModelTest::removingLastRowsOfGroupRemovesGroup()
{
    loadDirectory();
    QModelIndex groupA = groupIndex(QStringLiteral("Группа А"));
    QVERIFY(m_model->removeRows(0, 0, groupA));
    QCOMPARE(m_model->rowCount(groupA), 2);

    QVERIFY(m_model->removeRows(0, 1, groupA));
    QCOMPARE(childTexts(QStringLiteral("Группа А")), QStringList{QStringLiteral("Петров Пётр")});
    QCOMPARE(m_model->indexesOfUser(QStringLiteral("1001@127.0.0.1")).size(), 1);

    QVERIFY(m_model->removeRows(0, 1, groupA));
    QVERIFY(!groupIndex(QStringLiteral("Группа А")).isValid());
    QCOMPARE(topTexts(),
             (QStringList{QStringLiteral("Кузнецов Олег"), QStringLiteral("Группа Б"), kNoGroup}));

    // Removing a whole group at the top level takes its user rows with it.
    QVERIFY(m_model->removeRows(1, 1));
    QVERIFY(m_model->indexesOfUser(QStringLiteral("1004@127.0.0.1")).isEmpty());
    QVERIFY(!m_model->removeRows(2, 5));

    // A row whose key is no listed user shows nothing and says so.
    LogCapture log;
    QVERIFY(m_model->insertRows(m_model->rowCount(), 1));
    QVERIFY(m_model->setData(m_model->index(m_model->rowCount() - 1, 0), QStringLiteral("ghost@127.0.0.1"),
                             Qt::DisplayRole));
    QVERIFY(!m_model->setData(m_model->index(0, 0), QStringLiteral("x"), Qt::EditRole));
    QVERIFY(!m_model->index(m_model->rowCount() - 1, 0).data().isValid());
    QVERIFY(log.contains(
        QtCriticalMsg,
        QStringLiteral("UserListModel::data(): user \"ghost@127.0.0.1\" not found in 'users' hash")));
}

void UserListModelTest::contactAddressAndDisplayNameLookups()
{
    QString reply = listUsersReply();
    reply.replace(
        QStringLiteral("\n\n+OK"),
        QStringLiteral("\n1007|default|127.0.0.1|default|sofia/internal/sip:1007@10.0.0.5:5060/x||Семь|"
                       "\n1008|default|127.0.0.1|default|sip:1008@10.0.0.6||Восемь|\n\n+OK"));
    m_model->userListReceived(reply, QVariant());

    QCOMPARE(m_model->contactAddress(QStringLiteral("1002@127.0.0.1")),
             QStringLiteral("sip:1002@127.0.0.1:5074"));
    QCOMPARE(m_model->contactAddress(QStringLiteral("1001@127.0.0.1")), QString());
    QCOMPARE(m_model->contactAddress(QStringLiteral("9999@127.0.0.1")), QString());
    QCOMPARE(m_model->contactAddress(QStringLiteral("1007@127.0.0.1")),
             QStringLiteral("sofia/internal/sip:1007@10.0.0.5:5060/x"));
    QCOMPARE(m_model->contactAddress(QStringLiteral("1008@127.0.0.1")), QStringLiteral("sip:1008@10.0.0.6"));
    m_model->registeredEvent(registerEvent(QStringLiteral("sofia::expire"), QStringLiteral("1002")));
    QCOMPARE(m_model->contactAddress(QStringLiteral("1002@127.0.0.1")), QString());

    QCOMPARE(m_model->displayName(QStringLiteral("1004@127.0.0.1")), QStringLiteral("Operator Four"));
    QCOMPARE(m_model->displayName(QStringLiteral("9999@127.0.0.1")), QStringLiteral("9999@127.0.0.1"));
    QCOMPARE(UserListModel::instance(), m_model);
}

QTEST_MAIN(UserListModelTest)
#include "userlistmodel_test.moc"
