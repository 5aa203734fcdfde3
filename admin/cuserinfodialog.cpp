#include "admin/cuserinfodialog.h"

#include "admin/qlabelwithcontextmenu.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

CUserInfoDialog::CUserInfoDialog(const UserProfile &profile, const QString &contact, QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Информация о пользователе ") + profile.displayName);
    setStyleSheet(QStringLiteral(
        "QDialog { background: white; } QLabel#header { color: #298FCC; font-weight: bold; }"));
    auto *layout = new QVBoxLayout(this);
    auto *header = new QLabel(QStringLiteral("Профиль пользователя"), this);
    header->setObjectName(QStringLiteral("header"));
    layout->addWidget(header);

    auto *form = new QFormLayout;
    auto field = [this, form](const QString &label, const QString &text, const char *name) {
        auto *f = new QLabelWithContextMenu(text, this);
        f->setObjectName(QLatin1String(name));
        form->addRow(label, f);
    };
    field(QStringLiteral("Имя пользователя"), profile.displayName, "displayName");
    field(QStringLiteral("Логин пользователя"), profile.login, "login");
    field(QStringLiteral("Тип пользователя"), userTypeName(profile.userType), "userType");
    auto *groups = new QPlainTextEdit(profile.groups.join(QLatin1Char('\n')), this);
    groups->setObjectName(QStringLiteral("groups"));
    groups->setReadOnly(true);
    groups->setMaximumHeight(80);
    form->addRow(QStringLiteral("Группы пользователя"), groups);
    field(QStringLiteral("Адрес устройства громкого боя"), QStringLiteral("Нет громкого боя"), "alarm");
    field(QStringLiteral("Contact:"), contact, "contact");
    layout->addLayout(form);

    for (int i = 0; i < profile.operators.size(); ++i) {
        auto *title = new QLabel(QStringLiteral("Оператор %1").arg(i + 1), this);
        title->setObjectName(QStringLiteral("header"));
        layout->addWidget(title);
        auto *opForm = new QFormLayout;
        opForm->addRow(QStringLiteral("Полное Имя"),
                       new QLabelWithContextMenu(profile.operators.at(i).first, this));
        opForm->addRow(QStringLiteral("Номер телефона"),
                       new QLabelWithContextMenu(profile.operators.at(i).second, this));
        layout->addLayout(opForm);
    }

    auto *buttons = new QHBoxLayout;
    auto button = [this, buttons](const QString &text, void (CUserInfoDialog::*slot)()) {
        auto *b = new QPushButton(text, this);
        connect(b, &QPushButton::clicked, this, slot);
        buttons->addWidget(b);
    };
    button(QStringLiteral("Редактировать"), &CUserInfoDialog::EditProfileButtonPressed);
    button(QStringLiteral("Удалить"), &CUserInfoDialog::DeleteProfileButtonPressed);
    button(QStringLiteral("Отмена"), &CUserInfoDialog::CloseButtonPressed);
    layout->addLayout(buttons);
}

QString CUserInfoDialog::userTypeName(int userType)
{
    switch (userType) {
    case UserProfile::Dispatcher:
        return QStringLiteral("Диспетчер");
    case UserProfile::Technician:
        return QStringLiteral("Техник");
    default:
        return QStringLiteral("Абонент");
    }
}

void CUserInfoDialog::CloseButtonPressed()
{
    done(Closed);
}

void CUserInfoDialog::EditProfileButtonPressed()
{
    done(Edit);
}

void CUserInfoDialog::DeleteProfileButtonPressed()
{
    done(Delete);
}
