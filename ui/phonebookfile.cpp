#include "ui/phonebookfile.h"

#include <QFile>
#include <QFileInfo>
#include <QTextStream>

QString PhoneBookFile::missingText(const QString &path)
{
    return QStringLiteral("Файл ") + path + QStringLiteral(" отсутствует");
}

QString PhoneBookFile::openErrorText(const QString &path)
{
    return QStringLiteral("Ошибка открытия файл телефонной книги - ") + path;
}

PhoneBookFile::Result PhoneBookFile::refresh(const QString &path, QString *text)
{
    const QFileInfo info(path);
    const bool exists = info.exists();
    const QDateTime modified = exists ? info.lastModified() : QDateTime();
    const bool unchanged = exists && m_exists && path == m_path && modified == m_lastModified;
    // Remember what was seen whatever the outcome, so a file that failed to open
    // is not retried until it changes.
    m_path = path;
    m_exists = exists;
    m_lastModified = modified;

    if (!exists) {
        *text = missingText(path);
        return Result::Missing;
    }
    if (unchanged)
        return Result::Unchanged;

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *text = openErrorText(path);
        return Result::OpenError;
    }
    // QTextStream decodes with the locale's codec by default.
    QTextStream in(&file);
    QString content;
    QString line;
    while (in.readLineInto(&line)) {
        content += line;
        content += QLatin1Char('\n');
    }
    *text = content;
    return Result::Loaded;
}
