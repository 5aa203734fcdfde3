// Loading the directory through a real event-socket client: the whole domain in one request,
// the per-user requests it falls back to, and what reaches the log files meanwhile.

#include "app/logfile.h"
#include "app/xmlconfig.h"
#include "tests/support/fakeeslserver.h"
#include "users/directorydomainreply.h"
#include "users/userlistmodel.h"
#include "usertestdata.h"

#include <QAbstractItemModelTester>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace usertest;

namespace {
const QString kDomainCommand = "api xml_locate directory domain name 127.0.0.1";

QString readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QStringList g_critical;
QtMessageHandler g_next = nullptr;

void collect(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtCriticalMsg)
        g_critical << text;
    g_next(type, context, text);
}
} // namespace

class DirectoryLoadTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // The process's log files, as in production, in a scratch working directory.
        QVERIFY(m_dir.isValid() && QDir::setCurrent(m_dir.path()));
        LogFile::debugLog();
        g_next = qInstallMessageHandler(collect);
        XMLConfig::instance().currentServerHost = "127.0.0.1";
    }
    void init()
    {
        XMLConfig::instance().currentLoginUser = "1006";
        m_model = new UserListModel("root", this);
        new QAbstractItemModelTester(m_model, QAbstractItemModelTester::FailureReportingMode::QtTest,
                                     m_model);
    }
    void cleanup() { delete m_model; }
    void wholeDomainInOneRequestFallsBackPerUser();
    void domainReplyReadsAsThePerUserAnswers();
    void missingOwnEntryIsLoggedOncePerLoad();

private:
    QString tree(const QModelIndex &parent = {}) const
    {
        QStringList rows;
        for (int i = 0; i < m_model->rowCount(parent); ++i) {
            const QModelIndex index = m_model->index(i, 0, parent);
            rows << index.data().toString();
            if (m_model->hasChildren(index))
                rows.last() += ": " + tree(index);
        }
        return rows.join(parent.isValid() ? ", " : "; ");
    }
    QList<int> types() const
    {
        QList<int> out;
        for (const char *id : {"1001", "1002", "1003", "1004"})
            out << m_model->user(uri(id)).type;
        return out;
    }

    QTemporaryDir m_dir;
    UserListModel *m_model = nullptr;
};

void DirectoryLoadTest::wholeDomainInOneRequestFallsBackPerUser()
{
    QFile recorded(QStringLiteral(USERS_TEST_DATA "/xml_locate_domain.xml"));
    QVERIFY(recorded.open(QIODevice::ReadOnly));
    const QString domain = QString::fromUtf8(recorded.readAll());

    FakeEslServer server;
    auto answer = [&](const QString &domainReply) {
        server.clearReplies();
        server.addApiReply("api list_users", kUsers);
        server.addApiReply(kDomainCommand, domainReply);
        // What the real server answers user by user for the same directory.
        server.addApiReply("api user_data 1001@127.0.0.1 attr role", "dispatcher");
        server.addApiReply("api user_data 1001@127.0.0.1 attr groups", "Группа А;Группа Б;");
        server.addApiReply("api user_data 1002@127.0.0.1 attr role", "technician");
        server.addApiReply("api user_data 1002@127.0.0.1 attr groups", "Группа А;");
        server.addApiReply("api user_data 1003@127.0.0.1 attr role", "default");
        server.addApiReply("api user_data 1004@127.0.0.1 attr groups", "Группа Б;");
        server.addApiReply("api user_data ", kNoReply, FakeEslServer::Prefix);
    };
    answer(domain);
    ESL2 esl;
    esl.setTimerIntervalsForTest(2000, 300, 50);
    connect(&esl, &ESL2::connected, m_model, &UserListModel::eslConnected, Qt::QueuedConnection);
    const QList<int> roles{UserTypeDispatcher, UserTypeTechnician, UserTypeSubscriber, UserTypeSubscriber};

    // A new session: the list, then the whole domain; no request per user.
    emit esl.sigConnect(server.host(), server.port(), server.password());
    QTRY_COMPARE_WITH_TIMEOUT(tree(), kTree, 5000);
    QCOMPARE(types(), roles);
    QCOMPARE(server.commands().filter(QRegularExpression("^api (list_users|xml_locate|user_data)")),
             (QStringList{"api list_users", kDomainCommand}));

    // A reload the server asks for within the session goes user by user, to the same result.
    server.sendEvent({{"Event-Name", "RELOADXML"}});
    QTRY_COMPARE_WITH_TIMEOUT(server.commands().filter("user_data").size(), 12, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(tree(), kTree, 5000);
    QCOMPARE(types(), roles);
    QCOMPARE(server.countRequests(kDomainCommand), 1);

    // Servers that cannot answer with the domain: each new session falls back to the per-user
    // requests and ends the same.
    const QStringList unusable{"can't find anything\n", "-ERR xml_locate Command not found!\n",
                               domain.left(domain.size() / 2),
                               QString(domain).replace("127.0.0.1", "10.0.0.1")};
    for (int i = 0; i < unusable.size(); ++i) {
        answer(unusable[i]);
        server.closeConnection();
        QTRY_COMPARE_WITH_TIMEOUT(server.countRequests(kDomainCommand), 2 + i, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(server.commands().filter("user_data").size(), 24 + 12 * i, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(tree(), kTree, 5000);
        QCOMPARE(types(), roles);
    }

    // Every user's password came by in the domain reply; only its size reached the logs.
    LogFile::debugLog().flush();
    const QString debug = readAll(LogFile::debugLog().filePath());
    const QString main = readAll(LogFile::mainLog().filePath());
    QVERIFY(debug.contains("reply of 3501 bytes to \"api xml_locate directory domain name 127.0.0.1\""));
    QVERIFY(debug.contains("api list_users") && debug.contains("RELOADXML"));
    for (const QString &log : {debug, main})
        QVERIFY(!log.contains("pw100"));
}

void DirectoryLoadTest::domainReplyReadsAsThePerUserAnswers()
{
    // Missing and empty attributes both read as the server's "no reply"; a pointer entry in a
    // second group neither adds nor changes a user.
    const QString document = R"(<domain name="d"><groups><group name="a"><users>
        <user id="1" role="" groups="x;"/><user id="2" role=" dispatcher "/>
        </users></group><group name="b"><users><user id="1" type="pointer" role="technician"/>
        <user id="3" groups="&#x410;&amp;B;"><params><param name="password" value="s"/></params></user>
        </users></group></groups></domain>)";
    DirectoryDomainReply reply;
    QVERIFY(reply.parse(document, "d"));
    QCOMPARE(reply.userCount(), 3);
    const QStringList answers{reply.answers("1").role, reply.answers("1").groups, reply.answers("2").role,
                              reply.answers("2").groups, reply.answers("3").groups};
    QCOMPARE(answers, (QStringList{kNoReply, "x;", " dispatcher ", kNoReply, "А&B;"}));
    // Decimal and hexadecimal references of either case, and the odd forms a number reader takes.
    QVERIFY(reply.parse(QString(document).replace("&#x410;", "&#1041;&#x42f;&#x42F;&#x 41;&#0065;"), "d"));
    QCOMPARE(reply.answers("3").groups, QString::fromUtf8("БЯЯAA&B;"));
    for (const char *bad : {"&#X41;", "&#;", "&#x;", "&#0;", "&#x110000;", "&#12a;"})
        QVERIFY(!reply.parse(QString(document).replace("&#x410;", bad), "d"));
    QVERIFY(!reply.parse(document, "e") && reply.userCount() == 0);
    // A tag or a reference that is not well-formed spoils the whole reply.
    for (const QString &bad :
         QStringList{R"(<user id="9" role="a&bogus;b"/>)", R"(<user id="9" role="dispatcher/>)"})
        QVERIFY(!reply.parse(QString(document).replace("<user id=\"2\"", bad + "<user id=\"2\""), "d"));

    // The domain goes into a server command as one argument, or not at all.
    QString error;
    QCOMPARE(DirectoryDomainReply::request("ats.example", &error),
             "api xml_locate directory domain name ats.example\n\n");
    for (const QString &bad : {QString(), QString("a b"), QString("a\n\nb"), QString("a\tb")}) {
        QVERIFY(DirectoryDomainReply::request(bad, &error).isEmpty());
        QVERIFY(error.startsWith("Домен"));
    }
}

void DirectoryLoadTest::missingOwnEntryIsLoggedOncePerLoad()
{
    XMLConfig::instance().currentLoginUser = "9999";
    g_critical.clear();
    for (int load = 0; load < 2; ++load) {
        m_model->userListReceived(kUsers, {});
        for (const char *id : {"1001", "1002", "1003", "1004", "1005", "1006"})
            m_model->userGroupsReceived(QStringLiteral("Группа %1;Группа Б").arg(id), uri(id));
        for (int i = 0; i < m_model->rowCount(); ++i)
            m_model->index(i, 0).data(Qt::DecorationRole);
    }
    const QString line = "UserListModel::data(): user \"9999@127.0.0.1\" not found in 'users' hash";
    QCOMPARE(g_critical, (QStringList{line, line}));
    QCOMPARE(m_model->rowCount(), 8); // own row, six groups and "Группа Б"
}

QTEST_MAIN(DirectoryLoadTest)
#include "directoryload_test.moc"
