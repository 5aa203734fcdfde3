#include "admin/adminprompter.h"
#include "admin/cuseraddeditdialog.h"
#include "admin/cuserinfodialog.h"
#include "admin/sshsftplink.h"
#include "admin/useradmin.h"
#include "admin/userfile.h"
#include "app/xmlconfig.h"
#include "esl/esl2.h"
#include "tests/support/fakeeslserver.h"
#include "users/userlistmodel.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

namespace {

// Answers questions from a script and records everything shown.
class ScriptedPrompter final : public AdminPrompter
{
public:
    void warning(const QString &text) override { shown << text; }
    bool question(const QString &text, const QString &informativeText, const QString &,
                  const QString &) override
    {
        shown << text + QLatin1Char('|') + informativeText;
        return !answers.isEmpty() && answers.takeFirst();
    }

    QStringList shown;
    QList<bool> answers;
};

const QString kHost = QStringLiteral("10.0.0.5");

} // namespace

// The user administration road driven the way the window drives it: the test plays
// the SSH worker (answering LoadFile/SaveFile/EraseFile) and the event-socket server.
class UserAdminTest : public QObject
{
    Q_OBJECT

private:
    XMLConfig &m_config = XMLConfig::instance();
    FakeEslServer *m_server = nullptr;
    ESL2 *m_esl = nullptr;
    UserListModel *m_users = nullptr;
    SSHSFTPLink m_link;
    ScriptedPrompter m_prompter;
    UserAdmin *m_admin = nullptr;
    QStringList m_toWorker; // what the window would send to SSHCommands, in order

    static UserProfile user1001()
    {
        UserProfile p;
        p.login = QStringLiteral("1001");
        p.displayName = QStringLiteral("Иван Иванов");
        p.groups = QStringList{QStringLiteral("Группа А")};
        p.password = QStringLiteral("secret");
        p.operators = {{QStringLiteral("Оператор"), QStringLiteral("+7 900")}};
        return p;
    }

    template <typename T>
    T *field(QWidget *dialog, const char *name)
    {
        return dialog->findChild<T *>(QLatin1String(name));
    }

    void openInformation(const QString &uri, const UserProfile &p)
    {
        m_admin->userInformation(uri);
        m_admin->FileLoaded(UserFile::write(p));
    }

    // The server's replies: the given failures first, success for every other db command.
    void answerWith(const QMap<QString, QString> &failures)
    {
        m_server->clearReplies();
        for (auto it = failures.begin(); it != failures.end(); ++it)
            m_server->addApiReply(it.key(), it.value());
        m_server->addApiReply("api db ", "+OK", FakeEslServer::Prefix);
        m_server->addApiReply("api reloadxml", "+OK [Success]\n");
    }

    QStringList dbCommands() const
    {
        QStringList out;
        for (const QString &c : m_server->commands()) {
            if (c.startsWith(QLatin1String("api db")) || c == QLatin1String("api reloadxml"))
                out << c;
        }
        return out;
    }

private slots:
    void init()
    {
        m_config.currentServerHost = kHost;
        m_config.userFileTemplate = QStringLiteral("/srv/dir/%1.xml");
        m_server = new FakeEslServer(this);
        answerWith({});
        m_esl = new ESL2(this);
        m_esl->setTimerIntervalsForTest(2000, 3000, 50);
        emit m_esl->sigConnect(m_server->host(), m_server->port(), m_server->password());
        QTRY_VERIFY(m_server->isSubscribed());
        m_users = new UserListModel(QStringLiteral("root"), this);
        m_users->userListReceived(
            QStringLiteral("userid|context|domain|group|contact|callgroup|name|number\n"
                           "1001|default|10.0.0.5|default|sofia/internal/"
                           "sip:1001@10.0.0.9:5070||Иван Иванов|\n"
                           "1002|default|10.0.0.5|default|error/user_not_registered||Пётр|\n"),
            {});
        m_server->clearRequests();
        m_prompter = ScriptedPrompter();
        m_link.knownState = SSHSFTPLink::ServerKnown;
        m_link.fingerprint.clear();
        m_admin = new UserAdmin(m_esl, m_users, m_config, &m_link, &m_prompter, nullptr, this);
        m_toWorker.clear();
        connect(m_admin, &UserAdmin::LoadFile, this, [this](QString f) { m_toWorker << "load " + f; });
        connect(m_admin, &UserAdmin::SaveFile, this, [this](QString f, QString c) {
            UserProfile p;
            m_toWorker << "save " + f + " " + UserFile::read(c, f.section('/', -1).section('.', 0, 0), f, p) +
                              p.displayName;
        });
        connect(m_admin, &UserAdmin::EraseFile, this, [this](QString f) { m_toWorker << "erase " + f; });
        connect(m_admin, &UserAdmin::ReregisterSSHKey, this, [this] { m_toWorker << "rekey"; });
    }

    void cleanup()
    {
        delete m_admin;
        delete m_users;
        delete m_esl;
        delete m_server;
    }

    // Information, edit, save: the file goes out only after the checks, the dialog waits
    // for the server, and the alarm entry and the reload follow the saved file.
    void editExistingUser()
    {
        openInformation(QStringLiteral("1001@") + kHost, user1001());
        QCOMPARE(m_toWorker, QStringList{"load /srv/dir/1001.xml"});
        CUserInfoDialog *info = m_admin->infoDialog();
        QVERIFY(info);
        QCOMPARE(field<QLineEdit>(info, "contact")->text(), QStringLiteral("sip:1001@10.0.0.9:5070"));
        m_admin->EditUsersButtonPressed(); // refused while a dialog is open
        QVERIFY(!m_admin->editDialog());

        info->EditProfileButtonPressed();
        CUserAddEditDialog *edit = m_admin->editDialog();
        QVERIFY(edit);
        QTRY_VERIFY(!m_admin->infoDialog());
        field<QLineEdit>(edit, "displayNameEdit")->setText(QStringLiteral("Иван \"<&>\""));
        field<QLineEdit>(edit, "alarmIpEdit")->setText(QStringLiteral("10.1.1.7"));
        field<QComboBox>(edit, "alarmSlotCombo")->setCurrentText(QStringLiteral("5"));
        field<QPushButton>(edit, "saveButton")->click();

        // Same user saved again: no replace question; the dialog waits for the worker.
        QCOMPARE(m_prompter.shown, QStringList());
        QCOMPARE(m_toWorker.last(), QStringLiteral("save /srv/dir/1001.xml Иван \"<&>\""));
        QVERIFY(m_admin->editDialog() && !field<QPushButton>(edit, "saveButton")->isEnabled());
        QCOMPARE(dbCommands(), QStringList());

        answerWith({{"api reloadxml", "-ERR reload failed\n"}});
        m_admin->FileSaved();
        QTRY_COMPARE(dbCommands(),
                     (QStringList{"api db insert/alarms/1001/10.1.1.7 .1.3.6.1.4.1.47781.9999.4.5.7.0",
                                  "api reloadxml"}));
        QTRY_VERIFY(!m_admin->editDialog());
        QTRY_COMPARE(m_prompter.shown, QStringList{"Ошибка выполнения reloadxml: -ERR reload failed\n"});
    }

    // A new user: hostile login refused before anything leaves, the replace question
    // for a login the tree already has, and a server refusal that keeps the form.
    void newUserAndServerRefusal()
    {
        m_admin->EditUsersButtonPressed();
        CUserAddEditDialog *edit = m_admin->editDialog();
        QVERIFY(edit);
        QVERIFY(!field<QLineEdit>(edit, "loginEdit")->isReadOnly());
        field<QLineEdit>(edit, "displayNameEdit")->setText(QStringLiteral("Новый"));
        auto *login = field<QLineEdit>(edit, "loginEdit");
        auto *save = field<QPushButton>(edit, "saveButton");
        login->setText(QStringLiteral("../../ssh/authorized_keys"));
        save->click();
        QCOMPARE(m_prompter.shown.size(), 1);
        QVERIFY(m_prompter.shown.at(0).startsWith(QStringLiteral("Недопустимый логин пользователя")));
        QCOMPARE(m_toWorker, QStringList());

        login->setText(QStringLiteral(" 1001 "));
        m_prompter.answers = {false, true};
        save->click();
        QCOMPARE(m_prompter.shown.last(),
                 QStringLiteral("Пользователь с заданным именем уже существует. Заменить?|"));
        field<QLineEdit>(edit, "alarmIpEdit")->setText(QStringLiteral("fe80::9"));
        save->click();
        QCOMPARE(m_toWorker, QStringList{"save /srv/dir/1001.xml Новый"});

        m_admin->FileLoadSaveError(QStringLiteral("Ошибка на сервере SSH ,Permission denied"));
        QVERIFY(m_admin->editDialog() == edit && save->isEnabled());
        QCOMPARE(m_prompter.shown.last(), QStringLiteral("Ошибка на сервере SSH ,Permission denied"));

        m_prompter.answers = {true};
        save->click();
        m_admin->FileSaved();
        QTRY_COMPARE(dbCommands(), (QStringList{"api db insert/alarms/1001/fe80::9 .1.3.6.1.4.1.47781.1.1.0",
                                                "api reloadxml"}));
        QCOMPARE(m_toWorker.size(), 2);
    }

    // Delete: a cancelled question changes nothing; confirmed, the file goes, then the
    // alarm entry and the reload; a refused alarm delete is reported with the user.
    void deleteUser()
    {
        UserProfile petr = user1001();
        petr.login = QStringLiteral("1002");
        openInformation(QStringLiteral("1002@") + kHost, petr);
        m_prompter.answers = {false};
        m_admin->infoDialog()->DeleteProfileButtonPressed();
        QCOMPARE(m_toWorker, QStringList{"load /srv/dir/1002.xml"});

        m_admin->userInformation(QStringLiteral("1002@") + kHost);
        m_admin->FileLoaded(UserFile::write(m_admin->profile()));
        m_prompter.answers = {true};
        m_admin->infoDialog()->DeleteProfileButtonPressed();
        QCOMPARE(m_toWorker.last(), QStringLiteral("erase /srv/dir/1002.xml"));
        QCOMPARE(dbCommands(), QStringList());
        answerWith({{"api db delete/alarms/1002", "-ERR no such entry\n"}});
        m_admin->FileDeleted();
        QTRY_COMPARE(dbCommands(), (QStringList{"api db delete/alarms/1002", "api reloadxml"}));
        QTRY_COMPARE(
            m_prompter.shown.last(),
            QStringLiteral(
                "Ошибка удаления настройки громкого боя для пользователя 1002: -ERR no such entry\n"));
    }

    // The host-key question repeats exactly the interrupted request after the key is
    // accepted; refusals and unusable input stop before anything is sent.
    void hostKeyQuestionAndRefusals()
    {
        m_link.knownState = SSHSFTPLink::ServerUnknown;
        m_link.fingerprint = "ab:cd:ef";
        m_prompter.answers = {true, true, true, false};
        m_admin->SSHKeyChanged(QStringLiteral("/srv/dir/1001.xml"), QString(), false);
        m_admin->SSHKeyChanged(QStringLiteral("/srv/dir/1001.xml"), UserFile::write(user1001()), false);
        m_link.knownState = SSHSFTPLink::KeyChanged;
        m_admin->SSHKeyChanged(QStringLiteral("/srv/dir/1002.xml"), QString(), true);
        m_admin->SSHKeyChanged(QStringLiteral("/srv/dir/1003.xml"), QString(), false);
        QCOMPARE(m_toWorker,
                 (QStringList{"rekey", "load /srv/dir/1001.xml", "rekey",
                              "save /srv/dir/1001.xml Иван Иванов", "rekey", "erase /srv/dir/1002.xml"}));
        QCOMPARE(m_prompter.shown.first(),
                 QStringLiteral("Сервер 10.0.0.5 отсутствует в списке известных хостов|Отпечаток:AB:CD:EF"));
        QCOMPARE(m_prompter.shown.last(), QStringLiteral("Ключ сервера изменился|Отпечаток:AB:CD:EF"));

        m_prompter.shown.clear();
        m_toWorker.clear();
        m_link.knownState = SSHSFTPLink::ServerUnknown;
        m_link.fingerprint.clear();
        m_admin->SSHKeyChanged(QStringLiteral("/srv/dir/1001.xml"), QString(), false);
        m_admin->userInformation(QStringLiteral("../x@") + kHost);
        m_admin->userInformation(QStringLiteral("1001@") + kHost);
        m_admin->FileLoaded(QStringLiteral("<include><user id=\"1002\"/></include>"));
        m_config.userFileTemplate.clear();
        m_admin->userInformation(QStringLiteral("1001@") + kHost);
        QCOMPARE(m_prompter.shown.size(), 4);
        QCOMPARE(m_prompter.shown.at(0), QStringLiteral("Отсуствует соединение с сервером 10.0.0.5"));
        QVERIFY(m_prompter.shown.at(1).startsWith(QStringLiteral("Недопустимый логин пользователя «../x»")));
        QCOMPARE(m_prompter.shown.at(2), QStringLiteral("Неожиданный идентификатор пользователя в файле "
                                                        "/srv/dir/1001.xml: ожидалось 1001, найдено 1002"));
        QCOMPARE(m_prompter.shown.at(3),
                 QStringLiteral("Ошибка: не установлен шаблон имени файла пользователя"));
        QCOMPARE(m_toWorker, QStringList{"load /srv/dir/1001.xml"});
        QVERIFY(!m_admin->infoDialog());
    }
};

QTEST_MAIN(UserAdminTest)
#include "useradmin_test.moc"
