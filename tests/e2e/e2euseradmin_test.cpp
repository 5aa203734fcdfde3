// User administration against the lab, through the console's own stack: the dialogs filled
// offscreen, UserAdmin, SSHCommands with SSHSFTPLink on a worker thread as "freeswitch", the
// event-socket client and the user tree wired as the login cycle wires them. The lab's
// key-value store is watched over a second event-socket connection.

#include "admin/adminprompter.h"
#include "admin/cuseraddeditdialog.h"
#include "admin/cuserinfodialog.h"
#include "admin/sshcommands.h"
#include "admin/sshsftplink.h"
#include "admin/useradmin.h"
#include "app/xmlconfig.h"
#include "esl/esl2.h"
#include "tests/lab/labclient.h"
#include "tests/support/labenv.h"
#include "users/userlistmodel.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

namespace {

// Accepts the lab's host key and the delete question; anything else is recorded and refused,
// so an unexpected question shows up in the comparisons below.
class LabPrompter final : public AdminPrompter
{
public:
    void warning(const QString &text) override { warnings << text; }
    bool question(const QString &text, const QString &, const QString &, const QString &) override
    {
        questions << text;
        return text.contains(QStringLiteral("отсутствует в списке известных хостов")) ||
               text.startsWith(QStringLiteral("Вы уверенны что хотите удалить пользователя"));
    }

    QStringList warnings;
    QStringList questions;
};

const QString kLogin = QStringLiteral("4817");
const QString kContact = QStringLiteral("sip:4817@127.0.0.1:5199");

const QString kName = QStringLiteral("Сквозной Проверочный");

} // namespace

class E2eUserAdminTest : public QObject
{
    Q_OBJECT

private:
    LabEnv m_env;
    QTemporaryDir m_home; // known hosts of this test only
    XMLConfig &m_config = XMLConfig::instance();
    ESL2 *m_esl = nullptr;
    UserListModel *m_users = nullptr;
    SSHSFTPLink m_link;
    QThread m_sshThread;
    SSHCommands *m_ssh = nullptr;
    LabPrompter m_prompter;
    UserAdmin *m_admin = nullptr;
    LabClient m_db;
    QString m_uri;
    bool m_created = false;

    template <typename T>
    static T *field(QWidget *dialog, const char *name)
    {
        T *w = dialog->findChild<T *>(QLatin1String(name));
        if (!w)
            qFatal("no widget %s", name);
        return w;
    }

    static QPushButton *button(QWidget *dialog, const QString &text)
    {
        for (QPushButton *b : dialog->findChildren<QPushButton *>()) {
            if (b->text() == text)
                return b;
        }
        qFatal("no button %s", qPrintable(text));
    }

    // The groups under which the tree shows the user, in tree order.
    QStringList treeGroups() const
    {
        QStringList out;
        for (const QModelIndex &row : m_users->indexesOfUser(m_uri)) {
            if (row.parent().isValid())
                out << row.parent().data().toString();
        }
        return out;
    }

    QString alarmEntry() { return QString::fromUtf8(m_db.api("db select/alarms/" + kLogin.toUtf8()).body); }

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(m_env.load(&error), qPrintable(error));
        if (m_env.value("LAB_SSH_PORT").isEmpty())
            QSKIP(qPrintable("the lab has no SSH account: " + m_env.value("LAB_SSH_NOTE")));
        QVERIFY(m_home.isValid());

        // What the login cycle puts into the configuration for this server.
        m_config.currentServerHost = m_env.value("LAB_DOMAIN");
        m_config.currentLoginUser = m_env.value("LAB_DISPATCHER_USER");
        m_config.currentLoginAddress = m_config.currentLoginUser + '@' + m_config.currentServerHost;
        m_config.currentEslPassword = m_env.value("LAB_ESL_PASSWORD");
        m_config.userFileTemplate = m_env.value("LAB_USER_FILE_TEMPLATE");
        m_config.sshPort = m_env.port("LAB_SSH_PORT");
        m_uri = kLogin + '@' + m_config.currentServerHost;

        m_esl = new ESL2(this);
        m_users = new UserListModel(QStringLiteral("root"), this);
        connect(m_esl, &ESL2::connected, m_users, &UserListModel::eslConnected);
        connect(m_esl, &ESL2::registeredEvent, m_users, &UserListModel::registeredEvent);
        connect(m_esl, &ESL2::presence, m_users, &UserListModel::presenceEvent);

        m_link.setKnownHostsFile(m_home.filePath("known_hosts").toUtf8());
        m_ssh = new SSHCommands(&m_link, QStringLiteral("127.0.0.1"), m_env.value("LAB_SSH_PASSWORD"),
                                m_config.sshPort);
        m_ssh->moveToThread(&m_sshThread);
        connect(&m_sshThread, &QThread::finished, m_ssh, &QObject::deleteLater);
        m_sshThread.start();

        m_admin = new UserAdmin(m_esl, m_users, m_config, &m_link, &m_prompter, nullptr, this);
        connect(m_admin, &UserAdmin::LoadFile, m_ssh, &SSHCommands::LoadFile);
        connect(m_admin, &UserAdmin::SaveFile, m_ssh, &SSHCommands::SaveFile);
        connect(m_admin, &UserAdmin::EraseFile, m_ssh, &SSHCommands::EraseFile);
        connect(m_admin, &UserAdmin::ReregisterSSHKey, m_ssh, &SSHCommands::ReregisterSSHKey);
        connect(m_ssh, &SSHCommands::FileLoaded, m_admin, &UserAdmin::FileLoaded);
        connect(m_ssh, &SSHCommands::FileSaved, m_admin, &UserAdmin::FileSaved);
        connect(m_ssh, &SSHCommands::FileDeleted, m_admin, &UserAdmin::FileDeleted);
        connect(m_ssh, &SSHCommands::FileLoadSaveError, m_admin, &UserAdmin::FileLoadSaveError);
        connect(m_ssh, &SSHCommands::SSHKeyChanged, m_admin, &UserAdmin::SSHKeyChanged);

        emit m_esl->sigConnect(QStringLiteral("127.0.0.1"), m_env.port("LAB_ESL_PORT"),
                               m_config.currentEslPassword);
        // The own dispatcher and another world user with his groups: the tree is loaded.
        const QString own = UserListModel::dispatcherUri();
        QTRY_VERIFY_WITH_TIMEOUT(m_users->hasUser(own) && !m_users->indexesOfUser(own).isEmpty() &&
                                     m_users->user(own).type == UserTypeDispatcher,
                                 30000);
        QVERIFY2(!m_users->hasUser(m_uri), "left over from an earlier run: run scripts/lab-down and lab-up");
        QVERIFY(m_db.login(m_env.port("LAB_ESL_PORT"), m_env.value("LAB_ESL_PASSWORD").toUtf8(), false));
        m_db.api("db delete/alarms/" + kLogin.toUtf8()); // the login is this test's own
        QCOMPARE(alarmEntry(), QStringLiteral("-ERR no reply\n"));
    }

    // The first save goes to a folder the server does not have: the form stays with all
    // that was typed, nothing reaches the key-value store; the retry creates the user, and
    // the tree shows him with role and groups after the reload the save asked for.
    void createdUserAppearsWithRoleGroupsAndAlarm()
    {
        m_admin->EditUsersButtonPressed();
        CUserAddEditDialog *edit = m_admin->editDialog();
        QVERIFY(edit && edit->isVisible());
        field<QLineEdit>(edit, "displayNameEdit")->setText(kName);
        field<QLineEdit>(edit, "loginEdit")->setText(QStringLiteral(" ") + kLogin);
        field<QComboBox>(edit, "userTypeCombo")->setCurrentText(QStringLiteral("Диспетчер"));
        field<QLineEdit>(edit, "passwordEdit")->setText(QStringLiteral("pw-") + kLogin);
        field<QComboBox>(edit, "groupsCombo")->setEditText(QStringLiteral("Сквозная А; Сквозная Б;"));
        field<QLineEdit>(edit, "alarmIpEdit")->setText(QStringLiteral("10.20.30.40"));
        field<QComboBox>(edit, "alarmSlotCombo")->setCurrentText(QStringLiteral("3"));
        button(edit, QStringLiteral("Добавить оператора"))->click();
        field<QLineEdit>(edit, "operatorName")->setText(QStringLiteral("Дежурный"));
        field<QLineEdit>(edit, "operatorPhone")->setText(QStringLiteral("5551234"));

        const QString goodTemplate = m_config.userFileTemplate;
        m_config.userFileTemplate = m_env.value("LAB_DIRECTORY") + QStringLiteral("/missing/%1.xml");
        auto *save = field<QPushButton>(edit, "saveButton");
        save->click();
        QTRY_COMPARE_WITH_TIMEOUT(m_prompter.warnings.size(), 1, 30000);
        m_config.userFileTemplate = goodTemplate;
        QVERIFY2(m_prompter.warnings.first().startsWith(QStringLiteral("Ошибка на сервере SSH ,")),
                 qPrintable(m_prompter.warnings.first()));
        QCOMPARE(m_prompter.questions.size(), 1); // the lab's host key, asked once
        QVERIFY(m_prompter.questions.first().startsWith(QStringLiteral("Сервер 127.0.0.1 отсутствует")));
        QCOMPARE(m_admin->editDialog(), edit);
        QVERIFY(save->isEnabled());
        QCOMPARE(field<QLineEdit>(edit, "displayNameEdit")->text(), kName);
        QCOMPARE(field<QLineEdit>(edit, "loginEdit")->text(), kLogin);
        QCOMPARE(alarmEntry(), QStringLiteral("-ERR no reply\n"));

        save->click();
        QTRY_VERIFY_WITH_TIMEOUT(!m_admin->editDialog(), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(treeGroups(), (QStringList{"Сквозная А", "Сквозная Б"}), 30000);
        QCOMPARE(m_users->user(m_uri).type, int(UserTypeDispatcher));
        QCOMPARE(m_users->displayName(m_uri), kName);
        QCOMPARE(alarmEntry(), QStringLiteral("10.20.30.40 .1.3.6.1.4.1.47781.9999.4.3.7.0"));
        QCOMPARE(m_prompter.warnings.size(), 1);
        QCOMPARE(m_prompter.questions.size(), 1);
        m_created = true;

        // The accepted key was kept: the next session of the console does not ask again.
        SSHSFTPLink nextSession;
        nextSession.setKnownHostsFile(m_home.filePath("known_hosts").toUtf8());
        QVERIFY2(nextSession.connectTo("127.0.0.1", "freeswitch", m_env.value("LAB_SSH_PASSWORD").toUtf8(),
                                       false, m_config.sshPort),
                 nextSession.lastError.constData());
        QCOMPARE(nextSession.knownState, int(SSHSFTPLink::ServerKnown));
        nextSession.disconnect();
    }

    // Information read back over SFTP, then the edit: technician, one group less, an alarm
    // device on slot 0 of another address.
    void editedRoleAndGroupsReachTheTree()
    {
        if (!m_created)
            QSKIP("the user was not created");
        // Registered from now on; the tree learns the contact with the reload of the edit.
        QVERIFY(m_env.control("register " + kLogin + " " + kContact).startsWith("+OK"));
        QTRY_VERIFY_WITH_TIMEOUT(m_users->user(m_uri).registered, 30000);
        m_admin->userInformation(m_uri); // as the tree's context menu opens it
        QTRY_VERIFY_WITH_TIMEOUT(m_admin->infoDialog(), 30000);
        CUserInfoDialog *info = m_admin->infoDialog();
        QCOMPARE(field<QLineEdit>(info, "displayName")->text(), kName);
        QCOMPARE(field<QLineEdit>(info, "userType")->text(), QStringLiteral("Диспетчер"));
        QCOMPARE(field<QPlainTextEdit>(info, "groups")->toPlainText(),
                 QStringLiteral("Сквозная А\nСквозная Б"));
        button(info, QStringLiteral("Редактировать"))->click();
        QTRY_VERIFY(m_admin->editDialog());
        CUserAddEditDialog *edit = m_admin->editDialog();
        QVERIFY(field<QLineEdit>(edit, "loginEdit")->isReadOnly());
        QCOMPARE(field<QLineEdit>(edit, "operatorPhone")->text(), QStringLiteral("5551234"));
        QCOMPARE(field<QComboBox>(edit, "groupsCombo")->currentText(),
                 QStringLiteral("Сквозная А;Сквозная Б;"));
        QCOMPARE(field<QLineEdit>(edit, "alarmIpEdit")->text(), QString()); // not read back
        field<QComboBox>(edit, "userTypeCombo")->setCurrentText(QStringLiteral("Техник"));
        field<QComboBox>(edit, "groupsCombo")->setEditText(QStringLiteral("Сквозная Б;"));
        field<QLineEdit>(edit, "alarmIpEdit")->setText(QStringLiteral("10.20.30.41"));
        field<QComboBox>(edit, "alarmSlotCombo")->setCurrentText(QStringLiteral("0"));
        field<QPushButton>(edit, "saveButton")->click();

        QTRY_VERIFY_WITH_TIMEOUT(!m_admin->editDialog(), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(m_users->user(m_uri).type, int(UserTypeTechnician), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(treeGroups(), QStringList{"Сквозная Б"}, 30000);
        QCOMPARE(alarmEntry(), QStringLiteral("10.20.30.41 .1.3.6.1.4.1.47781.1.1.0"));
        QCOMPARE(m_prompter.warnings.size(), 1); // only the refusal of the first save
    }

    void deletedUserLeavesTreeAndAlarm()
    {
        if (!m_created)
            QSKIP("the user was not created");
        m_admin->userInformation(m_uri); // as the tree's context menu opens it
        QTRY_VERIFY_WITH_TIMEOUT(m_admin->infoDialog(), 30000);
        CUserInfoDialog *info = m_admin->infoDialog();
        QCOMPARE(field<QLineEdit>(info, "userType")->text(), QStringLiteral("Техник"));
        QCOMPARE(field<QLineEdit>(info, "contact")->text(), kContact);
        button(info, QStringLiteral("Удалить"))->click();
        QCOMPARE(m_prompter.questions.last(),
                 QStringLiteral("Вы уверенны что хотите удалить пользователя ") + kName);
        QTRY_VERIFY_WITH_TIMEOUT(!m_users->hasUser(m_uri), 30000);
        QCOMPARE(treeGroups(), QStringList());
        QCOMPARE(alarmEntry(), QStringLiteral("-ERR no reply\n"));
        // The group went with its last user; the world's users are still there.
        QVERIFY(m_users
                    ->match(m_users->index(0, 0), Qt::DisplayRole, QStringLiteral("Сквозная Б"), 1,
                            Qt::MatchExactly)
                    .isEmpty());
        QVERIFY(m_users->hasUser(UserListModel::dispatcherUri()));
        QCOMPARE(m_prompter.warnings.size(), 1);
    }

    void cleanupTestCase()
    {
        m_sshThread.quit();
        m_sshThread.wait();
        // After a failed step the user must not stay in the lab for the other tests.
        if (m_link.isConnected())
            m_link.deleteFile(m_env.value("LAB_USER_FILE_TEMPLATE").arg(kLogin).toUtf8());
        m_db.api("db delete/alarms/" + kLogin.toUtf8());
        m_db.api("reloadxml");
        m_env.control("unregister " + kLogin);
        m_link.disconnect();
        delete m_admin;
        delete m_users;
        delete m_esl;
    }
};

QTEST_MAIN(E2eUserAdminTest)
#include "e2euseradmin_test.moc"
