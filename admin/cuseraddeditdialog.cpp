#include "admin/cuseraddeditdialog.h"

#include "admin/adminprompter.h"
#include "admin/editorwithtextbackground.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QStandardItemModel>
#include <QVBoxLayout>

CUserAddEditDialog::CUserAddEditDialog(bool isNewUser, const UserProfile &profile, AdminPrompter *prompter,
                                       std::function<bool(const QString &)> loginExists, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint)
    , m_isNewUser(isNewUser)
    , m_profile(profile)
    , m_prompter(prompter)
    , m_loginExists(std::move(loginExists))
{}

void CUserAddEditDialog::buildForm()
{
    const QString name = m_profile.displayName;
    setWindowTitle(m_isNewUser      ? QStringLiteral("Создание нового пользователя")
                   : name.isEmpty() ? QStringLiteral("Редактирование пользователя")
                                    : QStringLiteral("Редактирование пользователя ") + name);
    setStyleSheet(
        QStringLiteral("QDialog { background: white; } QLabel#header { color: #298FCC; font-weight: bold; }"
                       " QFrame#separator { color: grey; }"));
    auto *layout = new QVBoxLayout(this);
    auto *header = new QLabel(QStringLiteral("Профиль пользователя"), this);
    header->setObjectName(QStringLiteral("header"));
    layout->addWidget(header);

    auto *form = new QFormLayout;
    auto editor = [this](const QString &text, const QString &hint, const char *object) {
        auto *e = new EditorWithTextBackground(hint, this);
        e->setObjectName(QLatin1String(object));
        e->setText(text);
        return e;
    };
    m_displayName = editor(name,
                           m_isNewUser ? QStringLiteral("Введите новое имя пользователя")
                                       : QStringLiteral("Введите отображаемое имя пользователя"),
                           "displayNameEdit");
    form->addRow(QStringLiteral("Имя пользователя"), m_displayName);
    m_login = editor(m_profile.login,
                     m_isNewUser ? QStringLiteral("Введите логин для авторизации")
                                 : QStringLiteral("Введите логин для SIP-подключения"),
                     "loginEdit");
    m_login->setReadOnly(!m_profile.login.isEmpty());
    form->addRow(QStringLiteral("Логин пользователя"), m_login);
    m_userType = new QComboBox(this);
    m_userType->setObjectName(QStringLiteral("userTypeCombo"));
    m_userType->addItems({QStringLiteral("Абонент"), QStringLiteral("Диспетчер"), QStringLiteral("Техник")});
    m_userType->setCurrentIndex(m_profile.userType);
    form->addRow(QStringLiteral("Тип пользователя"), m_userType);
    m_password = editor(m_profile.password, QStringLiteral("Введите пароль"), "passwordEdit");
    form->addRow(QStringLiteral("Пароль"), m_password);

    m_groups = new QComboBox(this);
    m_groups->setObjectName(QStringLiteral("groupsCombo"));
    m_groups->setEditable(true);
    m_groupItems = new QStandardItemModel(this);
    m_groups->setModel(m_groupItems);
    connect(m_groupItems, &QStandardItemModel::itemChanged, this, &CUserAddEditDialog::ItemChanged);
    QString groups;
    for (const QString &g : m_profile.groups)
        groups += g + QLatin1Char(';');
    m_groups->setEditText(groups);
    form->addRow(QStringLiteral("Группа"), m_groups);

    auto *alarm = new QHBoxLayout;
    m_alarmIp = editor(QString(), QStringLiteral("IP-адрес 3U/KRN"), "alarmIpEdit");
    m_alarmSlot = new QComboBox(this);
    m_alarmSlot->setObjectName(QStringLiteral("alarmSlotCombo"));
    m_alarmSlot->setToolTip(QStringLiteral("Слот LT-07"));
    for (int i = 0; i <= 21; ++i)
        m_alarmSlot->addItem(QString::number(i));
    alarm->addWidget(m_alarmIp);
    alarm->addWidget(m_alarmSlot);
    form->addRow(QStringLiteral("Адрес устройства громкого боя"), alarm);
    layout->addLayout(form);

    m_operatorArea = new QSplitter(Qt::Horizontal, this);
    layout->addWidget(m_operatorArea);
    for (const auto &op : m_profile.operators)
        addOperatorRow(op.first, op.second);
    auto *addOperator = new QPushButton(QStringLiteral("Добавить оператора"), this);
    addOperator->setObjectName(QStringLiteral("addOperatorButton"));
    connect(addOperator, &QPushButton::clicked, this, &CUserAddEditDialog::AddNewUserButtonPressed);
    layout->addWidget(addOperator);

    auto *buttons = new QHBoxLayout;
    m_save = new QPushButton(QStringLiteral("Сохранить"), this);
    m_save->setObjectName(QStringLiteral("saveButton"));
    auto *cancel = new QPushButton(QStringLiteral("Отмена"), this);
    connect(m_save, &QPushButton::clicked, this, &CUserAddEditDialog::SaveButtonPressed);
    connect(cancel, &QPushButton::clicked, this, &CUserAddEditDialog::CloseButtonPressed);
    buttons->addWidget(m_save);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
}

void CUserAddEditDialog::addOperatorRow(const QString &name, const QString &phone)
{
    OperatorRow row;
    row.box = new QWidget(m_operatorArea);
    auto *form = new QFormLayout(row.box);
    row.remove = new QPushButton(QStringLiteral("✕"), row.box);
    row.remove->setToolTip(QStringLiteral("Удалить оператора из списка"));
    connect(row.remove, &QPushButton::clicked, this, &CUserAddEditDialog::EraseOperatorButtonPressed);
    form->addRow(new QLabel(row.box), row.remove);
    row.name = new EditorWithTextBackground(QStringLiteral("Введите имя пользователя"), row.box);
    row.name->setObjectName(QStringLiteral("operatorName"));
    row.name->setText(name);
    row.phone = new EditorWithTextBackground(QStringLiteral("Введите номер телефона"), row.box);
    row.phone->setObjectName(QStringLiteral("operatorPhone"));
    row.phone->setText(phone);
    form->addRow(QStringLiteral("Полное Имя"), row.name);
    form->addRow(QStringLiteral("Номер телефона"), row.phone);
    m_operatorArea->addWidget(row.box);
    m_operators.append(row);
    renumberOperators();
}

void CUserAddEditDialog::renumberOperators()
{
    for (int i = 0; i < m_operators.size(); ++i) {
        auto *form = static_cast<QFormLayout *>(m_operators.at(i).box->layout());
        static_cast<QLabel *>(form->itemAt(0, QFormLayout::LabelRole)->widget())
            ->setText(QStringLiteral("Оператор %1").arg(i + 1));
    }
}

void CUserAddEditDialog::AddNewUserButtonPressed()
{
    for (const auto &row : qAsConst(m_operators)) {
        if (row.name->text().isEmpty() && row.phone->text().isEmpty()) {
            row.name->setFocus();
            return;
        }
    }
    addOperatorRow(QString(), QString());
    m_operators.last().name->setFocus();
}

void CUserAddEditDialog::EraseOperatorButtonPressed()
{
    for (int i = 0; i < m_operators.size(); ++i) {
        if (m_operators.at(i).remove == sender()) {
            m_operators.takeAt(i).box->deleteLater();
            renumberOperators();
            return;
        }
    }
}

void CUserAddEditDialog::ItemChanged(QStandardItem *item)
{
    Q_UNUSED(item)
    QString text;
    for (int i = 0; i < m_groupItems->rowCount(); ++i) {
        if (m_groupItems->item(i)->checkState() == Qt::Checked)
            text += m_groupItems->item(i)->text() + QLatin1Char(';');
    }
    m_groups->setEditText(text);
}

void CUserAddEditDialog::CloseButtonPressed()
{
    reject();
}

UserFormCheck::Input CUserAddEditDialog::formInput() const
{
    UserFormCheck::Input in;
    in.isNewUser = m_isNewUser;
    in.originalLogin = m_profile.login;
    in.login = m_login->text();
    in.displayName = m_displayName->text();
    in.userTypeIndex = m_userType->currentIndex();
    in.password = m_password->text();
    in.groupsText = m_groups->currentText();
    for (const auto &row : m_operators)
        in.operatorRows.append({row.name->text(), row.phone->text()});
    in.alarmIp = m_alarmIp->text();
    in.alarmSlot = m_alarmSlot->currentText();
    return in;
}

void CUserAddEditDialog::SaveButtonPressed()
{
    UserFormCheck::Input in = formInput();
    const QString loginError = UserFormCheck::checkLogin(in.login);
    if (!loginError.isEmpty()) {
        warn(loginError);
        return;
    }
    m_login->setText(in.login);
    if (UserFormCheck::needsReplaceQuestion(in, m_loginExists && m_loginExists(in.login)) &&
        !ask(QStringLiteral("Пользователь с заданным именем уже существует. Заменить?")))
        return;
    UserProfile checked;
    const QString error = UserFormCheck::checkRest(in, checked);
    if (!error.isEmpty()) {
        warn(error);
        return;
    }
    m_profile = checked;
    emit saveRequested();
}

void CUserAddEditDialog::setSaving(bool saving)
{
    if (m_save)
        m_save->setEnabled(!saving);
}

// A stay-on-top dialog would hide its own message box.
void CUserAddEditDialog::withoutStayOnTop(const std::function<void()> &show)
{
    const bool onTop = windowFlags().testFlag(Qt::WindowStaysOnTopHint) && isVisible();
    if (onTop) {
        setWindowFlag(Qt::WindowStaysOnTopHint, false);
        QDialog::show();
    }
    show();
    if (onTop) {
        setWindowFlag(Qt::WindowStaysOnTopHint, true);
        QDialog::show();
    }
}

void CUserAddEditDialog::warn(const QString &text)
{
    withoutStayOnTop([&] { m_prompter->warning(text); });
}

bool CUserAddEditDialog::ask(const QString &text)
{
    bool yes = false;
    withoutStayOnTop(
        [&] { yes = m_prompter->question(text, QString(), QStringLiteral("Да"), QStringLiteral("Нет")); });
    return yes;
}
