#pragma once

#include <QMap>
#include <QString>

// The addresses, ports and accounts of the lab that scripts/lab-up started, read from the
// shell assignments it writes (<source>/.lab/env, or the file named by LAB_ENV_FILE).
// End-to-end tests load it first and fail with the hint to run scripts/lab-up when the lab
// is not up.
class LabEnv
{
public:
    // Reads the file (the default one when path is empty); false with a message when it is
    // missing or lacks a value.
    bool load(QString *error) { return load(QString(), error); }
    bool load(const QString &path, QString *error);

    QString value(const QString &key) const { return m_values.value(key); }
    bool contains(const QString &key) const { return m_values.contains(key); }
    quint16 port(const QString &key) const { return quint16(value(key).toUInt()); }

    // One command on the lab's control port: the data of a "+OK <size>" reply, else the
    // status line.
    QByteArray control(const QString &command) const;

    // One value of a "KEY=value" line as bash's printf %q writes it.
    static QString unquote(const QString &text);

private:
    QMap<QString, QString> m_values;
};
