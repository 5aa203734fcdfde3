#pragma once

#include <QList>
#include <QMap>
#include <QObject>
#include <QString>

// Conference recording as a server with recording on does it: while a conference records,
// its members' joins and leaves are noted; when it ends, a WAV file of the recorded span is
// written and its call detail record goes to the database as one INSERT, piped into the
// configured client command (for the lab host: the mariadb client with the lab's account).
// Owned by LabConferences; lives on the lab's only thread.
class LabRecorder final : public QObject
{
    Q_OBJECT
public:
    struct Member
    {
        QString number;
        QString name;
        qint64 join = 0; // Unix seconds
        qint64 leave = 0;
    };
    struct Record
    {
        QString conference;
        qint64 start = 0; // conference start, Unix seconds
        qint64 recordStart = 0;
        qint64 recordEnd = 0;
        qint64 end = 0;
        QString file;
        QList<Member> members;
    };

    // folder: where recordings without an absolute path go; command: program and arguments
    // that read SQL on standard input (empty: no database, files only).
    LabRecorder(const QString &folder, const QString &command, bool recordAll, QObject *parent);

    void conferenceCreated(const QString &conference);
    void memberJoined(const QString &conference, int memberId, const QString &number, const QString &name);
    void memberLeft(const QString &conference, int memberId);
    void conferenceEnded(const QString &conference);

    // The "record" and "norecord" api verbs; the reply texts of the real server.
    QString record(const QString &conference, const QString &path);
    QString stop(const QString &conference);
    bool isRecording(const QString &conference) const;

    static QString cdrXml(const Record &r);
    static QString insertSql(const Record &r);
    // A text as a MariaDB string literal.
    static QString sqlString(const QString &text);
    // A conference name made safe as part of a file name.
    static QString fileNamePart(const QString &conference);
    static bool writeWav(const QString &path, qint64 seconds, QString *error);

signals:
    // The record of a conference that ended while it had been recorded.
    void recorded(const LabRecorder::Record &record, const QString &sql);

private:
    struct Conference
    {
        Record record;
        bool recording = false;
        bool recorded = false;
        QMap<int, int> memberIndex; // Member-ID -> index in record.members
    };
    void runCommand(const QString &sql);

    QString m_folder;
    QString m_command;
    bool m_recordAll;
    QMap<QString, Conference> m_conferences;
};
