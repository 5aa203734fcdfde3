// Cold load against tesmar-lab: from ESL2::connected() to the complete user tree and the
// conference snapshot, 5,000 users in 50 groups and 200 conferences of 20 members, debug log on.
// Each way of loading is timed against the floor of a bare client that sends the same requests
// one at a time to the same lab, in the same run:
//   one request:  "list_users", the xml_locate of the domain, "conference xml_list"
//   per user:     "list_users", two user_data per user, "conference xml_list"
// Prints the medians, the ratios and the resident memory after the first load.
//
//   build/bench/users/coldload_bench [runs [one|per]]

#include "app/logfile.h"
#include "app/startup.h"
#include "app/xmlconfig.h"
#include "conferences/conferencelistmodel.h"
#include "conferences/conferenceparticipantsmodel.h"
#include "esl/esl2.h"
#include "users/directorydomainreply.h"
#include "users/userlistmodel.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

namespace {

const int kUsers = 5000;
const int kGroups = 50;
const int kConferences = 200;
const int kMembers = 20;
const QString kDomain = QStringLiteral("127.0.0.1");

QString userId(int i)
{
    return QString::number(10000 + i);
}

bool writeDirectory(const QString &folder)
{
    if (!QDir().mkpath(folder))
        return false;
    for (int i = 0; i < kUsers; ++i) {
        QFile file(folder + QLatin1Char('/') + userId(i) + QStringLiteral(".xml"));
        if (!file.open(QIODevice::WriteOnly))
            return false;
        const QString role = i % 100 ? QString() : QStringLiteral(" role=\"dispatcher\"");
        file.write(
            QStringLiteral("<include>\n  <user id=\"%1\" groups=\"Группа %2;\"%3>\n"
                           "    <params><param name=\"password\" value=\"pw%1\"/></params>\n"
                           "    <variables>\n      <variable name=\"user_context\" value=\"default\"/>\n"
                           "      <variable name=\"effective_caller_id_name\" value=\"Абонент %4\"/>\n"
                           "    </variables>\n  </user>\n</include>\n")
                .arg(userId(i))
                .arg(i % kGroups, 2, 10, QLatin1Char('0'))
                .arg(role)
                .arg((i * 7919) % kUsers)
                .toUtf8());
    }
    return true;
}

// The smallest event-socket client: blocking reads, one request at a time, no logging.
class BareClient
{
public:
    bool login(quint16 port)
    {
        m_socket.connectToHost(QStringLiteral("127.0.0.1"), port);
        if (!m_socket.waitForConnected(5000) || !readFrame().startsWith("Content-Type: auth/request"))
            return false;
        return request("auth ClueCon\n\n").contains("+OK accepted");
    }
    // The reply's header block followed by its body.
    QByteArray request(const QByteArray &text)
    {
        m_socket.write(text);
        return readFrame();
    }

private:
    QByteArray readFrame()
    {
        int end;
        while ((end = m_buffer.indexOf("\n\n")) < 0) {
            if (!fill())
                return QByteArray();
        }
        const QByteArray head = m_buffer.left(end + 2);
        int length = 0;
        const int at = head.indexOf("Content-Length: ");
        if (at >= 0)
            length = head.mid(at + 16, head.indexOf('\n', at) - at - 16).toInt();
        while (m_buffer.size() < end + 2 + length) {
            if (!fill())
                return QByteArray();
        }
        const QByteArray frame = m_buffer.left(end + 2 + length);
        m_buffer.remove(0, end + 2 + length);
        return frame;
    }
    bool fill()
    {
        if (!m_socket.bytesAvailable() && !m_socket.waitForReadyRead(10000))
            return false;
        m_buffer += m_socket.readAll();
        return true;
    }

    QTcpSocket m_socket;
    QByteArray m_buffer;
};

double floorMs(quint16 port, bool perUser)
{
    BareClient client;
    if (!client.login(port))
        return -1;
    QElapsedTimer clock;
    clock.start();
    client.request("api list_users\n\n");
    if (perUser) {
        for (int i = 0; i < kUsers; ++i) {
            const QByteArray uri = userId(i).toUtf8() + '@' + kDomain.toUtf8();
            client.request("api user_data " + uri + " attr role\n\n");
            client.request("api user_data " + uri + " attr groups\n\n");
        }
    } else {
        client.request("api xml_locate directory domain name " + kDomain.toUtf8() + "\n\n");
    }
    client.request("api conference xml_list\n\n");
    return clock.nsecsElapsed() / 1e6;
}

int userRows(const UserListModel &model)
{
    int rows = 0;
    for (int g = 0; g < model.rowCount(); ++g)
        rows += model.rowCount(model.index(g, 0));
    return rows;
}

int members(const ConferenceListModel &model)
{
    int count = 0;
    for (int row = 0; row < model.rowCount(); ++row) {
        if (const auto participants = model.getParticipantsModel(row))
            count += participants->rowCount();
    }
    return count;
}

// The console's models wired as the login cycle wires them; returns the time from connected()
// to the complete tree and conference snapshot, or -1.
double consoleMs(quint16 port, bool perUser)
{
    ESL2 esl;
    UserListModel users;
    ConferenceListModel conferences;
    QObject::connect(&users, &UserListModel::userListReloaded, &conferences,
                     &ConferenceListModel::eslConnected);
    QElapsedTimer clock;
    QObject::connect(&esl, &ESL2::connected, [&] { clock.start(); });
    if (perUser) {
        // The way a reload within a session loads: the list, then two requests per user.
        QObject::connect(
            &esl, &ESL2::connected, &users,
            [&] {
                esl.sendRequest(QStringLiteral("api list_users\n\n"), &users,
                                QStringLiteral("userListReceived"));
            },
            Qt::QueuedConnection);
    } else {
        QObject::connect(&esl, &ESL2::connected, &users, &UserListModel::eslConnected, Qt::QueuedConnection);
    }
    QObject::connect(&esl, &ESL2::conferenceEvent, &conferences, &ConferenceListModel::conferenceEvent);
    double result = -1;
    // A real event loop, idle between replies as the console's is (processEvents() with a time
    // limit never waits, and a spinning loop takes the processor from the lab).
    QEventLoop loop;
    // The snapshot is the last reply of a load: check once its handler has returned.
    QObject::connect(&conferences, &QAbstractItemModel::rowsInserted, [&] {
        if (conferences.rowCount() < kConferences)
            return;
        QTimer::singleShot(0, [&] {
            if (result >= 0 || !clock.isValid())
                return;
            const double ms = clock.nsecsElapsed() / 1e6;
            if (userRows(users) == kUsers && members(conferences) >= kConferences * kMembers) {
                result = ms;
                loop.quit();
            }
        });
    });
    emit esl.sigConnect(QStringLiteral("127.0.0.1"), port, QStringLiteral("ClueCon"));
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    loop.exec();
    esl.disconnectFromServer();
    return result;
}

// Processor time of this process (all its threads) so far, in ms: the part of a load's time the
// console itself spends, as opposed to waiting for the lab.
double cpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

long residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("VmRSS:\\s+(\\d+)")).match(QString::fromLatin1(status.readAll()));
    return m.hasMatch() ? m.captured(1).toLong() : -1;
}

double median(QVector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? -1 : values.at(values.size() / 2);
}

} // namespace

int main(int argc, char **argv)
{
    // As the console starts.
    Startup::tuneAllocator();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    // "one": only the one-request path (for profiling it).
    const bool onlyOne = argc > 2 && QByteArray(argv[2]) == "one";
    // "per": only the per-user path.
    const bool onlyPer = argc > 2 && QByteArray(argv[2]) == "per";
    QTemporaryDir dir;
    if (!dir.isValid() || !writeDirectory(dir.filePath(QStringLiteral("directory")))) {
        fprintf(stderr, "cannot write the directory\n");
        return 1;
    }
    // The console's logs go where they go in production: under logs/ of the working directory,
    // every line echoed to standard error (here a file, so the figures stay readable).
    QDir::setCurrent(dir.path());
    const int console = dup(2);
    FILE *out = fdopen(console, "w");
    if (!freopen(qPrintable(dir.filePath(QStringLiteral("stderr.txt"))), "w", stderr))
        return 1;
    LogFile::debugLog();

    QApplication app(argc, argv);
    XMLConfig::instance().currentServerHost = kDomain;
    XMLConfig::instance().currentLoginUser = userId(0);

    QProcess lab;
    lab.setProcessChannelMode(QProcess::MergedChannels);
    lab.start(QStringLiteral(TESMAR_LAB_EXE),
              {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"), QStringLiteral("--no-control"),
               QStringLiteral("--directory"), dir.filePath(QStringLiteral("directory")),
               QStringLiteral("--time-scale"), QStringLiteral("0.001"),
               // Any free SIP port: the standard one may be taken on a shared machine.
               QStringLiteral("--sip-listen"), QStringLiteral("127.0.0.1:0")});
    quint16 port = 0;
    QByteArray said;
    while (!port && lab.waitForReadyRead(20000)) {
        said += lab.readAllStandardOutput();
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("event socket on 127\\.0\\.0\\.1:(\\d+)"))
                .match(QString::fromUtf8(said));
        if (m.hasMatch())
            port = quint16(m.captured(1).toUInt());
    }
    if (!port) {
        fprintf(out, "tesmar-lab did not start: %s\n", said.constData());
        return 1;
    }

    // 200 conferences of 20 public-network parties each.
    {
        BareClient setup;
        if (!setup.login(port))
            return 1;
        for (int c = 0; c < kConferences; ++c) {
            for (int m = 0; m < kMembers; ++m)
                setup.request(
                    QStringLiteral("bgapi originate loopback/7%1%2/default &conference(room%1@default)\n\n")
                        .arg(c, 3, 10, QLatin1Char('0'))
                        .arg(m, 2, 10, QLatin1Char('0'))
                        .toUtf8());
        }
        QElapsedTimer wait;
        wait.start();
        int joined = 0;
        while ((joined = setup.request("api conference xml_list\n\n").count("<member ")) <
                   kConferences * kMembers &&
               wait.elapsed() < 60000)
            QThread::msleep(200);
        fprintf(out, "lab: %d users, %d conference members\n", kUsers, joined);
    }

    // Where a load's time goes: each reply handler alone, fed the lab's replies.
    {
        BareClient client;
        client.login(port);
        auto body = [](const QByteArray &frame) {
            return QString::fromUtf8(frame.mid(frame.indexOf("\n\n") + 2));
        };
        const QString list = body(client.request("api list_users\n\n"));
        const QString domain =
            body(client.request("api xml_locate directory domain name " + kDomain.toUtf8() + "\n\n"));
        const QString snapshot = body(client.request("api conference xml_list\n\n"));
        // The least of a few rounds: the machine may be busy with other work.
        double parseMs = 1e9, listMs = 1e9, treeMs = 1e9, snapshotMs = 1e9;
        int rows = 0, joined = 0;
        for (int round = 0; round < 5; ++round) {
            UserListModel users;
            ConferenceListModel conferences;
            QElapsedTimer t;
            t.start();
            DirectoryDomainReply parsed;
            parsed.parse(domain, kDomain);
            parseMs = std::min(parseMs, t.nsecsElapsed() / 1e6);
            t.restart();
            users.userListReceived(list, true);
            listMs = std::min(listMs, t.nsecsElapsed() / 1e6);
            t.restart();
            users.directoryReceived(domain, 1);
            treeMs = std::min(treeMs, t.nsecsElapsed() / 1e6);
            t.restart();
            conferences.conferenceListReceived(snapshot);
            snapshotMs = std::min(snapshotMs, t.nsecsElapsed() / 1e6);
            rows = userRows(users);
            joined = members(conferences);
        }
        fprintf(out,
                "handlers: list %.1f ms, domain and tree %.1f ms (%d rows; parse alone %.1f ms of %d kB), "
                "snapshot %.1f ms (%d members, %d kB)\n",
                listMs, treeMs, rows, parseMs, int(domain.size() / 1024), snapshotMs, joined,
                int(snapshot.size() / 1024));
    }

    long rss = -1;
    QVector<double> floorOne, loadOne, floorPer, loadPer, ratioOne, ratioPer, cpuOne, cpuPer;
    for (int run = 0; run < runs; ++run) {
        floorOne << (onlyPer ? 1 : floorMs(port, false));
        double cpu = cpuMs();
        loadOne << (onlyPer ? 1 : consoleMs(port, false));
        cpuOne << cpuMs() - cpu;
        if (run == 0)
            rss = residentKb();
        floorPer << (onlyOne ? 1 : floorMs(port, true));
        cpu = cpuMs();
        loadPer << (onlyOne ? 1 : consoleMs(port, true));
        cpuPer << cpuMs() - cpu;
        ratioOne << loadOne.last() / floorOne.last();
        ratioPer << loadPer.last() / floorPer.last();
        fprintf(out,
                "run %d: one request %.1f ms (floor %.1f, %.2fx, console CPU %.1f ms); "
                "per user %.1f ms (floor %.1f, %.2fx, console CPU %.1f ms)\n",
                run + 1, loadOne.last(), floorOne.last(), ratioOne.last(), cpuOne.last(), loadPer.last(),
                floorPer.last(), ratioPer.last(), cpuPer.last());
        fflush(out);
    }
    fprintf(out,
            "median of %d runs:\n"
            "  one request  %8.1f ms   floor %8.1f ms   ratio %.2fx\n"
            "  per user     %8.1f ms   floor %8.1f ms   ratio %.2fx\n"
            "resident memory after the first load: %.1f MB\n",
            runs, median(loadOne), median(floorOne), median(ratioOne), median(loadPer), median(floorPer),
            median(ratioPer), rss / 1024.0);
    lab.kill();
    lab.waitForFinished(5000);
    return 0;
}
