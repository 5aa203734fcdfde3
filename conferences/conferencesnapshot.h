#pragma once

#include <QString>
#include <QVector>

// The "conference xml_list" reply read into plain values, in document order, keeping
// only what the conference list uses. The reply of a busy server runs to megabytes and
// a document tree of it costs more than all the rest of the console's cold load, so
// the plain XML the server writes is scanned in one pass (SnapshotScanner); anything
// else is read as a document tree, with the same result.
class ConferenceSnapshot
{
public:
    struct Member
    {
        bool hasType = false;
        bool hasId = false;
        bool hasNumber = false;
        bool hasFlags = false;
        QString type;
        QString id;
        QString number;
        // From the flags; each keeps its default when absent.
        bool ghost = false;
        bool canSpeak = true;
        bool talking = false;
    };

    struct Conference
    {
        bool hasName = false;
        bool hasMembers = false;
        QString name;
        QVector<Member> members;
    };

    enum Status {
        Ok,
        // Not well-formed XML: error(), errorLine() and errorColumn() say where.
        Broken,
        // Well-formed, but the root is not "conferences".
        WrongRoot,
    };

    Status read(const QString &xml);

    const QVector<Conference> &conferences() const { return m_conferences; }
    QString error() const { return m_error; }
    int errorLine() const { return m_errorLine; }
    int errorColumn() const { return m_errorColumn; }

private:
    QVector<Conference> m_conferences;
    QString m_error;
    int m_errorLine = 0;
    int m_errorColumn = 0;
};
