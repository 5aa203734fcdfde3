#pragma once

#include "admin/adminprompter.h"

#include <QPointer>
#include <QWidget>

// AdminPrompter on modal QMessageBox windows over the given parent widget.
class MessageBoxPrompter final : public AdminPrompter
{
public:
    explicit MessageBoxPrompter(QWidget *parent = nullptr) : m_parent(parent) {}

    void warning(const QString &text) override;
    bool question(const QString &text, const QString &informativeText, const QString &yesText,
                  const QString &noText) override;

private:
    QPointer<QWidget> m_parent;
};
