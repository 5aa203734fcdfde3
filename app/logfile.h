#pragma once

#include <QByteArray>
#include <QMutex>
#include <QString>
#include <QVector>
#include <QWaitCondition>

#include <mutex>
#include <string>
#include <thread>

class QFile;
class QPlainTextEdit;

// Levels of a log line; each writes a tag of exactly 10 characters.
enum LogLevel { DEBUG = 0, TRACE = 1, INFO = 2, WARNING = 3, ERROR = 4 };

// One log file: the operator-level main log ("logs/main.log", rotated once per
// start when it is from an earlier day) or the daily debug log that receives every
// Qt message. Paths are relative to the working directory. The process-wide
// instances are built on first use (the program forces both before main()) and
// live until exit; the first Qt message builds them too. write() may be called
// from any thread; the viewer belongs to the GUI thread.
//
// The main log reaches its file with every line. The debug log, which takes tens of
// thousands of lines per directory load and whole megabyte replies, keeps its lines (file
// and standard error) in memory for at most kFlushIntervalMs: a helper thread writes them
// out, so the writing thread only formats; every warning or worse goes out at once with
// everything before it, and so does the rest at exit.
class LogFile
{
public:
    LogFile(const std::string &path, int threshold);
    ~LogFile();

    LogFile(const LogFile &) = delete;
    LogFile &operator=(const LogFile &) = delete;

    // The process-wide main log (threshold INFO) and debug log (threshold DEBUG).
    static LogFile &mainLog();
    static LogFile &debugLog();

    static constexpr int kFlushIntervalMs = 200;

    void write(int level, const QString &text);
    // Writes out the lines held back so far.
    void flush();
    bool loadIntoViewer();

    // The main window attaches its viewer and detaches it before it is destroyed.
    void setViewer(QPlainTextEdit *viewer);
    QPlainTextEdit *viewer() const;

    bool isOpen() const;
    QString filePath() const;

private:
    void flushLocked();
    void runFlusher();
    struct PendingLine
    {
        QByteArray prefix;
        QString text;
    };
    // Encodes and writes lines taken from the pending list; the caller holds m_ioLock.
    void writeOut(const QVector<PendingLine> &lines);

    QFile *m_file = nullptr;
    QPlainTextEdit *m_viewer = nullptr;
    std::string m_path;
    int m_threshold = DEBUG;
    QMutex m_lock;
    // Debug log only: lines waiting for the flusher thread, which encodes them for the file
    // and standard error.
    bool m_buffered = false;
    bool m_dirty = false;
    bool m_stopping = false;
    QVector<PendingLine> m_pending;
    qint64 m_pendingChars = 0;
    // Taken under m_lock and held while bytes go out, so the flusher's writes and a warning's
    // keep the order the lines came in without holding up the writers' formatting.
    std::mutex m_ioLock;
    qint64 m_stampSecond = -1;
    QByteArray m_stampText;
    QWaitCondition m_wake;
    std::thread m_flusher;
};
