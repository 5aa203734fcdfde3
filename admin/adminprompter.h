#pragma once

#include <QString>

// The modal questions and messages of user administration, behind an interface so the
// controller and the dialogs' checks run in tests with scripted answers. The console
// uses MessageBoxPrompter. GUI thread only.
class AdminPrompter
{
public:
    virtual ~AdminPrompter() = default;

    // A warning with one OK button.
    virtual void warning(const QString &text) = 0;
    // A warning with two buttons; true for the first (yesText). The second is the
    // default and also answers Escape. Empty labels keep the standard Yes/No texts.
    virtual bool question(const QString &text, const QString &informativeText, const QString &yesText,
                          const QString &noText) = 0;
};
