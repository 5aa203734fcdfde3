#pragma once

#include <QDateTime>
#include <QString>

// Decides what the phone book page shows for the configured file: the file's
// text when it is new or changed since the last look, a message when it is
// missing or unreadable, and nothing new when it is unchanged. Widget-free;
// owned by the main window, GUI thread.
class PhoneBookFile
{
public:
    enum class Result { Loaded, Unchanged, Missing, OpenError };

    // Looks at the file; for every result but Unchanged, text receives what the
    // view must show.
    Result refresh(const QString &path, QString *text);

    static QString missingText(const QString &path);
    static QString openErrorText(const QString &path);

private:
    QString m_path;
    bool m_exists = false;
    QDateTime m_lastModified;
};
