#include "admin/messageboxprompter.h"

#include <QMessageBox>
#include <QPushButton>

void MessageBoxPrompter::warning(const QString &text)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Tesmar"), text, QMessageBox::Ok, m_parent);
    box.exec();
}

bool MessageBoxPrompter::question(const QString &text, const QString &informativeText, const QString &yesText,
                                  const QString &noText)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Tesmar"), text, QMessageBox::NoButton, m_parent);
    box.setInformativeText(informativeText);
    QPushButton *yes = box.addButton(QMessageBox::Yes);
    QPushButton *no = box.addButton(QMessageBox::No);
    if (!yesText.isEmpty())
        yes->setText(yesText);
    if (!noText.isEmpty())
        no->setText(noText);
    box.setDefaultButton(no);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes;
}
