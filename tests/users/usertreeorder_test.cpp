// The user tree's order against a plain reference: every group reply handled by walking the
// top-level rows for the group and the group's rows for the place, as the ordering rules read.
// Many users arriving in random order, with realistic names, duplicates, several groups each,
// blank parts and the no-group entry, must give the very same tree.

#include "app/xmlconfig.h"
#include "users/groupcompare.h"
#include "users/usercompare.h"
#include "users/userlistmodel.h"

#include <QAbstractItemModelTester>
#include <QRandomGenerator>
#include <QtTest>

#include <numeric>
#include <random>

namespace {
const QString kNoReply = "-ERR no reply\n";
const QString kNoGroup = "Без группы";

using Rows = QList<QPair<QString, QString>>; // display name and URI of each user row

// The tree as the walking insertion builds it, from the same display names and group replies.
struct ReferenceTree
{
    QString own;
    QList<QPair<QString, Rows>> groups;

    void add(const QString &name, const QString &uri, const QString &reply)
    {
        QStringList names;
        for (const QString &part : reply == kNoReply ? QStringList() : reply.split(';'))
            if (!part.trimmed().isEmpty())
                names << part.trimmed();
        for (const QString &groupName : names.isEmpty() ? QStringList{kNoGroup} : names) {
            auto g = groups.begin();
            while (g != groups.end() && g->first != groupName)
                ++g;
            if (g == groups.end()) {
                g = groups.begin();
                while (g != groups.end() && !GroupCompare().goesBefore(groupName, g->first, true))
                    ++g;
                g = groups.insert(g, {groupName, {}});
            }
            auto row = g->second.begin();
            while (row != g->second.end() && !UserCompare().goesBefore(name, row->first, false))
                ++row;
            g->second.insert(row, {name, uri});
        }
    }

    QString text() const
    {
        QStringList rows{own};
        for (const auto &g : groups) {
            QStringList users;
            for (const auto &user : g.second)
                users << user.first + " <" + user.second + ">";
            rows << g.first + ": " + users.join(", ");
        }
        return rows.join("; ");
    }
};

QString treeText(const UserListModel &model)
{
    QStringList rows;
    for (int i = 0; i < model.rowCount(); ++i) {
        const QModelIndex top = model.index(i, 0);
        QString row = top.data().toString();
        if (model.rowCount(top) > 0) {
            QStringList users;
            for (int j = 0; j < model.rowCount(top); ++j) {
                const QModelIndex user = model.index(j, 0, top);
                users << user.data().toString() + " <" + user.data(UserListModel::UserUriRole).toString() +
                             ">";
            }
            row += ": " + users.join(", ");
        }
        rows << row;
    }
    return rows.join("; ");
}

struct Directory
{
    QString listReply;
    QStringList uris;
    QStringList names;
    QStringList groupReplies;
};

// Users with names as a directory holds them: Cyrillic and Latin, "ё", case variants, several
// people of one name, an empty name (the URI shows), one to three groups, blanks and none.
Directory makeDirectory(int users, quint32 seed)
{
    static const QStringList surnames = {"Иванов",  "Петров", "Сидорова",  "Ёлкин",    "Елкин",   "Кузнецов",
                                         "иванов",  "Smith",  "smith",     "O'Brien",  "Щукина",  "Абрамов",
                                         "Яковлев", "Ли",     "Ли-Петров", "1-й пост", "Пост 10", "Пост 2"};
    static const QStringList firstNames = {"Иван", "Пётр", "Анна", "Олег", "John", "", "Мария"};
    static const QStringList groups = {"Группа А", "Группа Б", "Смена 1", "Смена 10",   "Смена 2",   "Альфа",
                                       "Яблоко",   "Zeta",     "alpha",   "Диспетчеры", "Без группы"};
    QRandomGenerator random(seed);
    Directory d;
    d.listReply =
        "userid|context|domain|group|contact|callgroup|effective_caller_id_name|effective_caller_id_number\n";
    for (int i = 0; i < users; ++i) {
        const QString id = QString::number(2000 + i);
        QString name = surnames.at(random.bounded(surnames.size()));
        const QString first = firstNames.at(random.bounded(firstNames.size()));
        if (!first.isEmpty())
            name += ' ' + first;
        if (random.bounded(40) == 0)
            name.clear();
        d.listReply += id + "|default|127.0.0.1|default|error/user_not_registered||" + name + "|\n";
        d.uris << id + "@127.0.0.1";
        d.names << (name.isEmpty() ? d.uris.last() : name);
        QString reply;
        switch (random.bounded(10)) {
        case 0:
            reply = kNoReply;
            break;
        case 1:
            reply = " ; ;";
            break;
        default:
            for (int g = 0, n = 1 + random.bounded(3); g < n; ++g)
                reply += (random.bounded(4) == 0 ? " " : "") + groups.at(random.bounded(groups.size())) + ';';
        }
        d.groupReplies << reply;
    }
    d.listReply += "\n+OK\n";
    return d;
}
} // namespace

class UserTreeOrderTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        XMLConfig::instance().currentServerHost = "127.0.0.1";
        XMLConfig::instance().currentLoginUser = "2000";
    }

    void shuffledRepliesGiveTheWalkingOrder_data()
    {
        QTest::addColumn<quint32>("seed");
        for (quint32 seed : {1u, 7u, 2026u})
            QTest::newRow(qPrintable(QString::number(seed))) << seed;
    }
    void shuffledRepliesGiveTheWalkingOrder()
    {
        QFETCH(quint32, seed);
        const Directory d = makeDirectory(1500, seed);
        UserListModel model;

        // Two loads in a row: the second starts from an emptied tree whose group rows are gone.
        ReferenceTree reference{d.names.at(0), {}};
        for (int load = 0; load < 2; ++load) {
            // One directory request (left unanswered) instead of one per user.
            model.userListReceived(d.listReply, true);
            QVector<int> order(d.uris.size());
            std::iota(order.begin(), order.end(), 0);
            std::shuffle(order.begin(), order.end(), std::mt19937(seed + load));
            reference = ReferenceTree{d.names.at(0), {}};
            for (int i : order) {
                model.userGroupsReceived(d.groupReplies.at(i), d.uris.at(i));
                reference.add(d.names.at(i), d.uris.at(i), d.groupReplies.at(i));
            }
            QCOMPARE(treeText(model), reference.text());
        }

        // The checks on every change are slow on a big tree; they watch the last steps only.
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        // Group rows taken away by hand come back where the walk puts them when a user joins
        // again, and the other rows stay as they are.
        for (int row : {1, model.rowCount() - 1, model.rowCount() / 2}) {
            const QString name = model.index(row, 0).data().toString();
            QVERIFY(model.removeRows(row, 1));
            reference.groups.removeAt(row - 1); // the own row is not among them
            model.userGroupsReceived(name + ";Смена 1", d.uris.at(row));
            reference.add(d.names.at(row), d.uris.at(row), name + ";Смена 1");
            QCOMPARE(treeText(model), reference.text());
        }
    }
};

QTEST_GUILESS_MAIN(UserTreeOrderTest)
#include "usertreeorder_test.moc"
