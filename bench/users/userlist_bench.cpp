// Directory of 5,000 users in 50 groups: rebuilding the tree from the replies
// (no network) and one filter keystroke on the full tree in the view.

#include "app/xmlconfig.h"
#include "users/userlistmodel.h"
#include "users/userlistview.h"

#include <QApplication>
#include <benchmark/benchmark.h>

namespace {
const int kUsers = 5000;
const int kGroups = 50;
const QString kDomain = QStringLiteral("10.0.0.1");

QString uriOf(int i)
{
    return QStringLiteral("%1@").arg(10000 + i) + kDomain;
}

QString listReply()
{
    QString reply = QStringLiteral("userid|context|domain|group|contact|callgroup|effective_caller_id_name|"
                                   "effective_caller_id_number\n");
    for (int i = 0; i < kUsers; ++i) {
        const QString contact =
            i % 3 ? QStringLiteral("error/user_not_registered")
                  : QStringLiteral("sofia/internal/sip:%1@10.0.1.%2:5060").arg(10000 + i).arg(i % 250);
        reply += QStringLiteral("%1|default|%2|default|%3||Абонент %4 %5|\n")
                     .arg(10000 + i)
                     .arg(kDomain, contact)
                     .arg((i * 7919) % kUsers)
                     .arg(i);
    }
    reply += QStringLiteral("\n+OK\n");
    return reply;
}

void rebuild(UserListModel &model, const QString &reply)
{
    model.userListReceived(reply, QVariant());
    for (int i = 0; i < kUsers; ++i) {
        const QString uri = uriOf(i);
        model.userRoleReceived(i % 100 ? QStringLiteral("-ERR no reply\n") : QStringLiteral("dispatcher"),
                               uri);
        model.userGroupsReceived(QStringLiteral("Группа %1;").arg(i % kGroups, 2, 10, QLatin1Char('0')), uri);
    }
}

void quiet(QtMsgType, const QMessageLogContext &, const QString &)
{}

void BM_RebuildTree(benchmark::State &state)
{
    UserListModel model;
    const QString reply = listReply();
    for (auto _ : state) {
        rebuild(model, reply);
        benchmark::DoNotOptimize(model.rowCount());
    }
    state.counters["rows"] = model.rowCount();
}
BENCHMARK(BM_RebuildTree)->Unit(benchmark::kMillisecond);

// One keystroke: the filter changes and the view lays out and paints again.
void BM_FilterKeystroke(benchmark::State &state)
{
    UserListModel model;
    rebuild(model, listReply());
    UserListView view;
    view.setModel(&model);
    view.resize(400, 800);
    view.show();
    QApplication::processEvents();
    const QStringList typed{QStringLiteral("абонент 1"), QStringLiteral("абонент 12"),
                            QStringLiteral("абонент 1"), QString()};
    int i = 0;
    for (auto _ : state) {
        view.setFilter(typed.at(i++ % typed.size()));
        view.viewport()->repaint();
        QApplication::processEvents();
    }
}
BENCHMARK(BM_FilterKeystroke)->Unit(benchmark::kMillisecond);
} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(quiet);
    QApplication app(argc, argv);
    XMLConfig::instance().currentServerHost = kDomain;
    XMLConfig::instance().currentLoginUser = QStringLiteral("10000");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
