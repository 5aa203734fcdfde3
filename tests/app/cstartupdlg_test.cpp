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

const char kSchema[] = R"(
CREATE DATABASE dispatcher CHARACTER SET utf8mb4;
CREATE TABLE dispatcher.options (name VARCHAR(64) PRIMARY KEY, value VARCHAR(255));
INSERT INTO dispatcher.options VALUES ('event-socket-pwd', 'ClueCon');
CREATE TABLE dispatcher.cdr (id INT);
CREATE USER '1001'@'%' IDENTIFIED BY 'pw1001';
GRANT SELECT ON dispatcher.* TO '1001'@'%';
CREATE USER '1003'@'%' IDENTIFIED BY 'pw1003';
GRANT SELECT ON dispatcher.cdr TO '1003'@'%';
)";

XMLConfig::UserEntry entry(const QString &uri, bool autoStart = false, const QString &password = QString())
{
    XMLConfig::UserEntry e;
    e.sipUri = uri;
    e.autoStart = autoStart;
    e.password = password;
    return e;
}

// Users as "uri[*password]", '*' marking auto start, for whole-list comparisons.
QStringList describe(const QList<XMLConfig::UserEntry> &users)
{
    QStringList out;
    for (const XMLConfig::UserEntry &u : users)
        out.append(u.autoStart ? u.sipUri + '*' + u.password : u.sipUri);
    return out;
}

int freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
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
        T *w = name ? dlg.findChild<T *>(QString::fromLatin1(name)) : dlg.findChild<T *>();
        if (!w)
            qFatal("no widget %s", name ? name : T::staticMetaObject.className());
        return w;
    }

    static void login(CStartupDlg &dlg, const QString &uri, const QString &password)
    {
        child<QComboBox>(dlg)->setEditText(uri);
        child<QLineEdit>(dlg, nullptr)->setText(password);
        QTest::mouseClick(child<QPushButton>(dlg, "blueButton"), Qt::LeftButton);
    }

    static QString info(CStartupDlg &dlg) { return child<QLabel>(dlg, "infoPanel")->text(); }

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
        QVERIFY2(m_db.exec(QString::fromLatin1(kSchema)), qPrintable(m_db.error()));
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

    void dialogShowsStoredUsersAndTexts()
    {
        config.users = {entry("1002@10.0.0.1", true, "pw1002"), entry("1001@127.0.0.1")};
        config.fileLoaded = false;
        Startup::setAutologinDisabled(true);
        CStartupDlg dlg;
        auto *users = child<QComboBox>(dlg);
        auto *password = child<QLineEdit>(dlg, nullptr);
        QVERIFY(password != users->lineEdit() && password->echoMode() == QLineEdit::Password);
        QVERIFY(child<QCheckBox>(dlg)->isChecked() && dlg.findChild<QWidget *>("blueLabelWidget"));
        const QStringList shown{dlg.windowTitle(),
                                users->itemText(0),
                                users->itemText(1),
                                QString::number(users->count()),
                                users->lineEdit()->placeholderText(),
                                password->text(),
                                password->placeholderText(),
                                child<QCheckBox>(dlg)->text(),
                                child<QPushButton>(dlg, "blueButton")->text(),
                                info(dlg)};
        QCOMPARE(shown, (QStringList{"Tesmar - Авторизация", "1002@10.0.0.1", "1001@127.0.0.1", "2",
                                     "Введите имя пользователя", "pw1002", "Введите ваш пароль",
                                     "Автоматическое подключение", "Вход", "Отсутствует файл конфигурации"}));

        auto *button = child<QPushButton>(dlg, "blueButton");
        QVERIFY(button->isEnabled());
        users->setEditText(QString());
        QVERIFY(!button->isEnabled());
        users->setEditText("1");
        QVERIFY(button->isEnabled());

        // TESMAR_SCREENSHOT_DIR=<dir> keeps a picture of the dialog for the documentation.
        const QString shots = qEnvironmentVariable("TESMAR_SCREENSHOT_DIR");
        if (!shots.isEmpty())
            QVERIFY(dlg.grab().save(QDir(shots).filePath("login-dialog.png")));

        const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
        QVERIFY((dlg.frameGeometry().center() - centre).manhattanLength() <= 2);
    }

    void loginChainEndsAccepted()
    {
        config.users = {entry("1002@10.0.0.1", true, "pw1002")};
        Startup::setAutologinDisabled(true);
        CStartupDlg dlg;
        QElapsedTimer pressed;
        pressed.start();
        login(dlg, "1001@127.0.0.1", "pw1001");
        QCOMPARE(info(dlg), QString("Выполняется подключение к базе данных..."));
        QVERIFY(!child<QPushButton>(dlg, "blueButton")->isEnabled());
        QVERIFY(!child<QProgressBar>(dlg)->isHidden());
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
        // The box stayed ticked from the stored first user: the new first user takes the flag over.
        QCOMPARE(describe(config.users), (QStringList{"1001@127.0.0.1*pw1001", "1002@10.0.0.1"}));
        QVERIFY(mainLog().contains(
            "[INFO   ] Подключение к FreeSwitch серверу через систему ESL прошло успешно"));

        // A late connected() (the server reloading) does not run the list update again.
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
        QTest::newRow("uri") << "1001@"
                             << "pw1001"
                             << ""
                             << "Неверный URI для пользователя";
        QTest::newRow("control character") << "1001@127.0.0.1"
                                           << "pw\n1001"
                                           << ""
                                           << "Имя пользователя, адрес сервера и пароль не должны содержать "
                                              "управляющих символов";
        QTest::newRow("db password") << "1001@127.0.0.1"
                                     << "nope"
                                     << ""
                                     << "Ошибка соединения с базой данных: Access denied for user "
                                        "'1001'@'127.0.0.1' (using password: YES)";
        QTest::newRow("options denied")
            << "1003@127.0.0.1"
            << "pw1003"
            << ""
            << "Ошибка выполнения запроса SQL \"SELECT value FROM options WHERE name = 'event-socket-pwd'\": "
               "SELECT command denied to user '1003'@'127.0.0.1' for table `dispatcher`.`options`";
        QTest::newRow("no row") << "1001@127.0.0.1"
                                << "pw1001"
                                << "DELETE FROM dispatcher.options WHERE name = 'event-socket-pwd'"
                                << "Ошибка запроса к базе данных: получен пустой результат";
        QTest::newRow("empty esl password")
            << "1001@127.0.0.1"
            << "pw1001"
            << "UPDATE dispatcher.options SET value = '' WHERE name = 'event-socket-pwd'"
            << "Пароль event socket в базе данных пуст";
    }

    void failuresShowInTheErrorPanel()
    {
        QFETCH(QString, uri);
        QFETCH(QString, password);
        QFETCH(QString, sql);
        QFETCH(QString, error);
        if (!sql.isEmpty())
            QVERIFY2(m_db.exec(sql), qPrintable(m_db.error()));
        config.currentEslPassword = "stale";
        const int eslConnections = m_server->connectionCount();
        CStartupDlg dlg;
        login(dlg, uri, password);
        auto *errorPanel = child<QLabel>(dlg, "errorPanel");
        QTRY_VERIFY_WITH_TIMEOUT(!errorPanel->isHidden(), 20000);
        QCOMPARE(errorPanel->text(), error);
        QVERIFY(child<QLabel>(dlg, "infoPanel")->isHidden());
        QVERIFY(child<QProgressBar>(dlg)->isHidden());
        QVERIFY(child<QPushButton>(dlg, "blueButton")->isEnabled());
        QVERIFY(mainLog().contains("[ERROR  ] " + error));
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
        QCOMPARE(m_server->connectionCount(), eslConnections);
        if (error.startsWith("Неверный URI"))
            QCOMPARE(config.currentLoginAddress + config.currentEslPassword, QString());
        m_db.exec("REPLACE INTO dispatcher.options VALUES ('event-socket-pwd', 'ClueCon')");
    }

    void ipv6HostKeepsItsBracketsOnlyInTheConfiguration()
    {
        CStartupDlg dlg;
        login(dlg, "1001@[::1]", "pw1001");
        QCOMPARE(config.currentServerHost, QString("[::1]"));
        QCOMPARE(config.currentLoginAddress, QString("1001@[::1]"));
        // The private server listens on IPv4 only: the failure names the address the library was given.
        auto *errorPanel = child<QLabel>(dlg, "errorPanel");
        QTRY_VERIFY_WITH_TIMEOUT(!errorPanel->isHidden(), 20000);
        QVERIFY2(errorPanel->text().contains("'::1'"), qPrintable(errorPanel->text()));
    }

    void automaticLoginOnlyOnAFirstStart()
    {
        const int before = m_server->connectionCount();
        for (int run = 0; run < 2; ++run) {
            config.users = {entry("1001@127.0.0.1", true, "pw1001")};
            Startup::setReloginRequested(run == 0);
            Startup::setAutologinDisabled(run == 1);
            CStartupDlg dlg;
            QTest::qWait(300);
            QVERIFY(child<QPushButton>(dlg, "blueButton")->isEnabled());
            QVERIFY(!ua.isInitialised());
        }
        QCOMPARE(m_server->connectionCount(), before);

        config.users = {entry("1001@127.0.0.1", true, "pw1001"), entry("1002@127.0.0.1")};
        Startup::setReloginRequested(false);
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
        QVERIFY(!child<QProgressBar>(dlg)->isHidden());

        m_server->setRejectConnections(false);
        m_server->setPassword("changed");
        QTRY_VERIFY_WITH_TIMEOUT(info(dlg).contains("не принял пароль event socket"), 5000);
        QVERIFY(!child<QPushButton>(dlg, "blueButton")->isEnabled());
        QCOMPARE(dlg.result(), int(QDialog::Rejected));

        m_server->setPassword("ClueCon");
        QTRY_COMPARE_WITH_TIMEOUT(dlg.result(), int(QDialog::Accepted), 5000);
    }

    void silentServerIsReported()
    {
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        config.eslPort = silent.serverPort();
        CStartupDlg dlg;
        login(dlg, "1001@127.0.0.1", "pw1001");
        QTRY_VERIFY_WITH_TIMEOUT(info(dlg).contains("не отвечает\nСледующая попытка в "), 5000);
    }

    void cancelStopsRetriesAndTheSipAgent()
    {
        config.eslPort = freePort();
        CStartupDlg dlg;
        login(dlg, "1001@127.0.0.1", "pw1001");
        QTRY_VERIFY_WITH_TIMEOUT(info(dlg).contains("отклонил соединение"), 20000);
        QVERIFY(ua.isInitialised());
        dlg.reject();
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
        QVERIFY(!ua.isInitialised());

        // No retry after the cancel.
        QSignalSpy errors(m_esl, &ESL2::connectError);
        QTest::qWait(1000);
        QCOMPARE(errors.count(), 0);
    }

    void rememberedUsersKeepTheMostRecentFirst()
    {
        QList<XMLConfig::UserEntry> users;
        for (int i = 8; i >= 1; --i)
            users.append(entry(QString("10%1@h").arg(i), i == 8, "p"));
        // A ninth user goes first and pushes the oldest out; only the first may start by itself.
        LoginRules::rememberUser(users, "1009@h", true, "p9");
        QCOMPARE(describe(users),
                 (QStringList{"1009@h*p9", "108@h", "107@h", "106@h", "105@h", "104@h", "103@h", "102@h"}));
        // A known user moves up with its entry; the box decides its auto start.
        users[4].password = "kept";
        LoginRules::rememberUser(users, "105@h", false, "typed");
        QCOMPARE(describe(users),
                 (QStringList{"105@h", "1009@h", "108@h", "107@h", "106@h", "104@h", "103@h", "102@h"}));
        QCOMPARE(users[0].password, QString("kept"));
        // The first user again: order stays, the password typed now is kept for the automatic start.
        LoginRules::rememberUser(users, "105@h", true, "typed");
        QCOMPARE(describe(users).mid(0, 2), (QStringList{"105@h*typed", "1009@h"}));
        QList<XMLConfig::UserEntry> empty;
        LoginRules::rememberUser(empty, "1@h", false, "x");
        QCOMPARE(describe(empty), QStringList{"1@h"});
    }
};

QTEST_MAIN(CStartupDlgTest)
#include "cstartupdlg_test.moc"
