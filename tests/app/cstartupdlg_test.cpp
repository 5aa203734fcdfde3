#include "app/cstartupdlg.h"
#include "app/loginrules.h"
#include "app/startup.h"
#include "app/xmlconfig.h"
#include "esl/esl2.h"
#include "sip/cpjsipsua.h"
#include "tests/support/fakeeslserver.h"
#include "tests/support/testmariadb.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTcpServer>
#include <QtTest>

namespace {

// Users as "uri" or "uri*password" (auto start), for set-up and whole-list comparisons.
QList<XMLConfig::UserEntry> entries(const QStringList &list)
{
    QList<XMLConfig::UserEntry> out;
    for (const QString &text : list)
        out.append({text.section('*', 0, 0), text.contains('*'), text.section('*', 1)});
    return out;
}

QStringList describe(const QList<XMLConfig::UserEntry> &users)
{
    QStringList out;
    for (const XMLConfig::UserEntry &u : users)
        out.append(u.autoStart ? u.sipUri + '*' + u.password : u.sipUri);
    return out;
}

} // namespace

class CStartupDlgTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    TestMariaDb m_db;
    ESL2 *m_esl = nullptr;
    FakeEslServer *m_server = nullptr;
    XMLConfig m_defaults;
    XMLConfig &config = XMLConfig::instance();
    CPJSIPSUA &ua = CPJSIPSUA::instance();

    template <typename T>
    static T *child(CStartupDlg &dlg, const char *name = nullptr)
    {
        T *w = name ? dlg.findChild<T *>(name) : dlg.findChild<T *>();
        if (!w)
            qFatal("no widget %s", name ? name : T::staticMetaObject.className());
        return w;
    }
    static QString info(CStartupDlg &dlg) { return child<QLabel>(dlg, "infoPanel")->text(); }

    static void login(CStartupDlg &dlg, const QString &uri, const QString &password)
    {
        child<QComboBox>(dlg)->setEditText(uri);
        child<QLineEdit>(dlg, nullptr)->setText(password);
        QTest::mouseClick(child<QPushButton>(dlg, "blueButton"), Qt::LeftButton);
    }

    QString mainLog() const
    {
        QFile file(m_dir.filePath("logs/main.log"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(QDir::setCurrent(m_dir.path()));
        QVERIFY2(m_db.start(), qPrintable(m_db.error()));
        QVERIFY2(
            m_db.exec("CREATE DATABASE dispatcher;"
                      "CREATE TABLE dispatcher.options (name VARCHAR(64) PRIMARY KEY, value VARCHAR(255));"
                      "INSERT INTO dispatcher.options VALUES ('event-socket-pwd', 'ClueCon');"
                      "CREATE TABLE dispatcher.cdr (id INT);"
                      "CREATE USER '1001'@'%' IDENTIFIED BY 'pw1001';"
                      "GRANT SELECT ON dispatcher.* TO '1001'@'%';"
                      "CREATE USER '1003'@'%' IDENTIFIED BY 'pw1003';"
                      "GRANT SELECT ON dispatcher.cdr TO '1003'@'%';"),
            qPrintable(m_db.error()));
        ua.setDataDirectory(m_dir.filePath("sip"));
        m_esl = new ESL2;
        m_esl->setTimerIntervalsForTest(300, 400, 50);
        m_server = new FakeEslServer;
        m_defaults.dbPort = m_db.port();
        m_defaults.eslPort = m_server->port();
        m_defaults.fileLoaded = true;
    }

    void init()
    {
        config = m_defaults;
        Startup::setReloginRequested(false);
        Startup::setAutologinDisabled(false);
        m_server->setPassword("ClueCon");
        m_server->setRejectConnections(false);
    }

    void cleanup()
    {
        m_esl->disconnectFromServer();
        ua.Deinit();
    }

    void cleanupTestCase()
    {
        delete m_esl;
        delete m_server;
    }

    void loginChainEndsAccepted()
    {
        config.users = entries({"1002@10.0.0.1*pw1002", "1001@127.0.0.1"});
        config.fileLoaded = false;
        Startup::setAutologinDisabled(true);
        CStartupDlg dlg;
        auto *users = child<QComboBox>(dlg);
        auto *password = child<QLineEdit>(dlg, nullptr);
        auto *button = child<QPushButton>(dlg, "blueButton");
        QVERIFY(password != users->lineEdit() && password->echoMode() == QLineEdit::Password);
        QVERIFY(child<QCheckBox>(dlg)->isChecked() && dlg.findChild<QWidget *>("blueLabelWidget"));
        const QStringList shown{dlg.windowTitle(),  users->itemText(0),
                                users->itemText(1), QString::number(users->count()),
                                password->text(),   users->lineEdit()->placeholderText(),
                                button->text(),     info(dlg)};
        QCOMPARE(shown, (QStringList{"Tesmar - Авторизация", "1002@10.0.0.1", "1001@127.0.0.1", "2", "pw1002",
                                     "Введите имя пользователя", "Вход", "Отсутствует файл конфигурации"}));
        users->setEditText(QString());
        QVERIFY(!button->isEnabled());
        const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
        QVERIFY((dlg.frameGeometry().center() - centre).manhattanLength() <= 2);

        // The second stored user logs in with the box still ticked from the first.
        QElapsedTimer pressed;
        pressed.start();
        login(dlg, "1001@127.0.0.1", "pw1001");
        QCOMPARE(info(dlg), QString("Выполняется подключение к базе данных..."));
        QVERIFY(!button->isEnabled() && child<QProgressBar>(dlg)->isVisibleTo(&dlg));
        QVERIFY(ua.isInitialised());
        QTRY_COMPARE_WITH_TIMEOUT(dlg.result(), int(QDialog::Accepted), 20000);
        qInfo("login from the button to acceptance: %lld ms", pressed.elapsed());

        QCOMPARE(info(dlg), QString("Выполняется подключение к FreeSwitch серверу через ESL"));
        QVERIFY(m_server->isAuthenticated());
        const QStringList current{config.currentLoginAddress, config.currentLoginUser,
                                  config.currentServerHost,   config.currentSipPassword,
                                  config.currentEslPassword,  CStartupDlg::loginAddress(),
                                  CStartupDlg::serverHost()};
        QCOMPARE(current, (QStringList{"1001@127.0.0.1", "1001", "127.0.0.1", "pw1001", "ClueCon",
                                       "1001@127.0.0.1", "127.0.0.1"}));
        // The new first user takes the auto-start flag over.
        QCOMPARE(describe(config.users), (QStringList{"1001@127.0.0.1*pw1001", "1002@10.0.0.1"}));
        QVERIFY(mainLog().contains(
            "[INFO   ] Подключение к FreeSwitch серверу через систему ESL прошло успешно"));

        // A later connected() (the server reloading) does not update the list again.
        emit m_esl->connected();
        QTest::qWait(50);
        QCOMPARE(config.users.size(), 2);
    }

    void failuresShowInTheErrorPanel_data()
    {
        QTest::addColumn<QString>("uri");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("error");
        const auto row = [](const char *name, const QString &uri, const QString &password, const QString &sql,
                            const QString &error) { QTest::newRow(name) << uri << password << sql << error; };
        const QString ok = "1001@127.0.0.1", db = "Ошибка соединения с базой данных: ";
        row("uri", "1001@", "pw1001", "", "Неверный URI для пользователя");
        row("control character", ok, "pw\n1001", "",
            "Имя пользователя, адрес сервера и пароль не должны содержать управляющих символов");
        row("db password", ok, "nope", "",
            db + "Access denied for user '1001'@'127.0.0.1' (using password: YES)");
        row("options denied", "1003@127.0.0.1", "pw1003", "",
            "Ошибка выполнения запроса SQL \"SELECT value FROM options WHERE name = 'event-socket-pwd'\": "
            "SELECT command denied to user '1003'@'127.0.0.1' for table `dispatcher`.`options`");
        // The private server listens on IPv4 only: the failure names the address the library was given.
        row("ipv6", "1001@[::1]", "pw1001", "", db + "Can't connect to server on '::1'");
        row("no row", ok, "pw1001", "DELETE FROM dispatcher.options",
            "Ошибка запроса к базе данных: получен пустой результат");
        row("empty esl password", ok, "pw1001", "UPDATE dispatcher.options SET value = ''",
            "Пароль event socket в базе данных пуст");
    }

    void failuresShowInTheErrorPanel()
    {
        QFETCH(QString, uri);
        QFETCH(QString, password);
        QFETCH(QString, sql);
        QFETCH(QString, error);
        QVERIFY2(sql.isEmpty() || m_db.exec(sql), qPrintable(m_db.error()));
        config.currentEslPassword = "stale";
        const int eslConnections = m_server->connectionCount();
        CStartupDlg dlg;
        login(dlg, uri, password);
        auto *errorPanel = child<QLabel>(dlg, "errorPanel");
        QTRY_VERIFY_WITH_TIMEOUT(!errorPanel->isHidden(), 20000);
        // Texts from the client library end in its error number and system text.
        QVERIFY2(errorPanel->text().startsWith(error), qPrintable(errorPanel->text()));
        QVERIFY(child<QLabel>(dlg, "infoPanel")->isHidden() && child<QProgressBar>(dlg)->isHidden());
        QVERIFY(child<QPushButton>(dlg, "blueButton")->isEnabled() && dlg.result() == QDialog::Rejected);
        QVERIFY(mainLog().contains("[ERROR  ] " + error));
        QCOMPARE(m_server->connectionCount(), eslConnections);
        if (error.startsWith("Неверный URI"))
            QCOMPARE(config.currentLoginAddress + config.currentEslPassword, QString());
        if (uri.contains('['))
            QCOMPARE(config.currentServerHost + ' ' + config.currentLoginAddress,
                     QString("[::1] 1001@[::1]"));
        QVERIFY(m_db.exec("REPLACE INTO dispatcher.options VALUES ('event-socket-pwd', 'ClueCon')"));
    }

    void automaticLoginOnlyOnAFirstStart()
    {
        config.users = entries({"1001@127.0.0.1*pw1001", "1002@127.0.0.1"});
        const int connections = m_server->connectionCount();
        for (int run = 0; run < 2; ++run) {
            Startup::setReloginRequested(run == 0);
            Startup::setAutologinDisabled(run == 1);
            CStartupDlg dlg;
            QTest::qWait(300);
            QVERIFY(child<QPushButton>(dlg, "blueButton")->isEnabled() && !ua.isInitialised());
        }
        QCOMPARE(m_server->connectionCount(), connections);

        Startup::setAutologinDisabled(false);
        CStartupDlg dlg;
        QCOMPARE(info(dlg), QString("Выполняется подключение к базе данных..."));
        QTRY_COMPARE_WITH_TIMEOUT(dlg.result(), int(QDialog::Accepted), 20000);
        QCOMPARE(describe(config.users), (QStringList{"1001@127.0.0.1*pw1001", "1002@127.0.0.1"}));
    }

    void eventSocketRetriesAreExplainedUntilAccepted()
    {
        m_server->setRejectConnections(true);
        CStartupDlg dlg;
        login(dlg, "1001@127.0.0.1", "pw1001");
        const QString where = "127.0.0.1:" + QString::number(m_server->port());
        QTRY_VERIFY_WITH_TIMEOUT(info(dlg).contains("отказал в доступе"), 20000);
        QVERIFY(
            info(dlg).startsWith("Выполняется подключение к FreeSwitch серверу через ESL\nСервер " + where));
        QVERIFY(info(dlg).contains(QRegularExpression("\nСледующая попытка в \\d\\d:\\d\\d:\\d\\d$")));

        m_server->setRejectConnections(false);
        m_server->setPassword("changed");
        QTRY_VERIFY_WITH_TIMEOUT(info(dlg).contains("не принял пароль event socket"), 5000);
        QVERIFY(!child<QPushButton>(dlg, "blueButton")->isEnabled() &&
                child<QProgressBar>(dlg)->isVisibleTo(&dlg));
        QCOMPARE(dlg.result(), int(QDialog::Rejected));

        m_server->setPassword("ClueCon");
        QTRY_COMPARE_WITH_TIMEOUT(dlg.result(), int(QDialog::Accepted), 5000);
    }

    void silentServerIsReportedAndCancelStopsTheRetries()
    {
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        config.eslPort = silent.serverPort();
        CStartupDlg dlg;
        login(dlg, "1001@127.0.0.1", "pw1001");
        QTRY_VERIFY_WITH_TIMEOUT(info(dlg).contains("не отвечает\nСледующая попытка в "), 5000);
        QVERIFY(ua.isInitialised());
        dlg.reject();
        QVERIFY(!ua.isInitialised());

        // Every retry is a new connection; none come after the cancel.
        QTest::qWait(100);
        while (silent.hasPendingConnections())
            delete silent.nextPendingConnection();
        QTest::qWait(1000);
        QVERIFY(!silent.hasPendingConnections());
    }

    void rememberedUsersKeepTheMostRecentFirst()
    {
        auto users = entries({"108@h*p", "107@h", "106@h", "105@h", "104@h", "103@h", "102@h", "101@h"});
        // A ninth user goes first and pushes the oldest out; only the first may start by itself.
        LoginRules::rememberUser(users, "109@h", true, "p9");
        QCOMPARE(describe(users),
                 (QStringList{"109@h*p9", "108@h", "107@h", "106@h", "105@h", "104@h", "103@h", "102@h"}));
        // A known user moves up with its stored entry; the box decides its auto start.
        users[4].password = "kept";
        LoginRules::rememberUser(users, "105@h", false, "typed");
        QCOMPARE(describe(users).mid(0, 3), (QStringList{"105@h", "109@h", "108@h"}));
        QCOMPARE(users[0].password, QString("kept"));
        QCOMPARE(users.size(), 8);
        // The first user again: the order stays and the password typed now is kept for automatic start.
        LoginRules::rememberUser(users, "105@h", true, "typed");
        QCOMPARE(describe(users).mid(0, 2), (QStringList{"105@h*typed", "109@h"}));
    }
};

QTEST_MAIN(CStartupDlgTest)
#include "cstartupdlg_test.moc"
