#include "app/logfile.h"

#include <QAtomicPointer>
#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QMutexLocker>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStringList>
#include <QTextCodec>
#include <QTextStream>

#include <atomic>
#include <cstdio>

namespace {

const char *const kMainLogPath = "logs/main.log";

// The debug log while it is alive; messages issued during static destruction,
// after it is gone, fall back to standard error.
QAtomicPointer<LogFile> s_debugSink;
// Set once the debug log has been destroyed, so a late message does not rebuild it.
QAtomicInt s_debugGone;

// A Qt message issued while a thread is inside write() (for instance a warning
// from the file itself) would take the same lock again; one issued while a log is
// being built would start building the debug log inside it.
thread_local bool t_insideWrite = false;

class BusyGuard
{
public:
    BusyGuard() : m_outer(t_insideWrite) { t_insideWrite = true; }
    ~BusyGuard() { t_insideWrite = m_outer; }

private:
    bool m_outer;
};

const char *levelTag(int level)
{
    switch (level) {
    case DEBUG:
        return "[DEBUG  ] ";
    case TRACE:
        return "[TRACE  ] ";
    case INFO:
        return "[INFO   ] ";
    case WARNING:
        return "[WARNING] ";
    case ERROR:
        return "[ERROR  ] ";
    default:
        return "";
    }
}

// A handler that was installed before ours and is not Qt's default (a test
// framework's, for instance) still sees every message.
std::atomic<QtMessageHandler> s_previousHandler{nullptr};

void messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    int level = DEBUG;
    switch (type) {
    case QtDebugMsg:
        level = DEBUG;
        break;
    case QtInfoMsg:
        level = INFO;
        break;
    case QtWarningMsg:
        level = WARNING;
        break;
    case QtCriticalMsg:
    case QtFatalMsg:
        level = ERROR;
        break;
    }
    LogFile *sink = s_debugSink.loadAcquire();
    // A message from another object's static initialiser may come first.
    if (!sink && !s_debugGone.loadAcquire() && !t_insideWrite)
        sink = &LogFile::debugLog();
    const QtMessageHandler previous = s_previousHandler.load();
    if (sink && !t_insideWrite)
        sink->write(level, message);
    else if (!previous)
        fprintf(stderr, "%s%s\n", levelTag(level), message.toLocal8Bit().constData());
    if (previous)
        previous(type, context, message);
    if (type == QtFatalMsg)
        abort();
}

void installMessageHandler()
{
    const QtMessageHandler previous = qInstallMessageHandler(messageHandler);
    if (previous == messageHandler)
        return;
    // Qt reports its default handler as the previous one when none was installed;
    // learn which function that is so it is not called twice for stderr.
    qInstallMessageHandler(nullptr);
    const QtMessageHandler qtDefault = qInstallMessageHandler(messageHandler);
    s_previousHandler.store(previous == qtDefault ? nullptr : previous);
}

// "yyyy'.'MM'.'dd hh:mm:ss.zzz " without going through QDateTime's pattern formatting. Turning
// the clock into local time makes the C library look at the time zone file on every call, so
// the text up to the seconds is kept per second (the caller holds the log's lock).
QByteArray timestamp(qint64 *cachedSecond, QByteArray *cachedText)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 second = now / 1000;
    if (second != *cachedSecond) {
        const QDateTime local = QDateTime::fromMSecsSinceEpoch(second * 1000);
        const QDate d = local.date();
        const QTime t = local.time();
        char text[32];
        const int n = snprintf(text, sizeof text, "%04d.%02d.%02d %02d:%02d:%02d.", d.year(), d.month(),
                               d.day(), t.hour(), t.minute(), t.second());
        *cachedText = QByteArray(text, n);
        *cachedSecond = second;
    }
    const int ms = int(now % 1000);
    const char tail[5] = {char('0' + ms / 100), char('0' + ms / 10 % 10), char('0' + ms % 10), ' ', 0};
    return *cachedText + tail;
}

// Standard error takes the local 8-bit encoding; on a UTF-8 system that is the file's bytes.
bool localIsUtf8()
{
    static const bool utf8 = QTextCodec::codecForLocale()->mibEnum() == 106;
    return utf8;
}

// Below this the debug log holds a line back; a warning must never wait.
constexpr int kFlushLevel = WARNING;
// Held-back characters are written by the writing thread itself once they grow past this,
// which bounds the memory a stalled disk can take.
constexpr qint64 kMaxPending = 32 * 1024 * 1024;

QString dashedDate(const QDate &date)
{
    return date.toString(QStringLiteral("yyyy MM dd")).replace(QLatin1Char(' '), QLatin1Char('-'));
}

// Moves an earlier day's main log aside; false when it could not be moved.
bool rotateMainLog(const QString &path)
{
    const QDate modified = QFileInfo(path).lastModified().date();
    if (modified == QDate::currentDate())
        return true;
    const QString archive =
        QFileInfo(path).path() + QStringLiteral("/main.log.") + dashedDate(modified) + QStringLiteral(".log");
    if (QFile::exists(archive))
        QFile::remove(archive);
    return QFile::rename(path, archive);
}

} // namespace

LogFile::LogFile(const std::string &path, int threshold)
    : m_path(path.empty() ? std::string(kMainLogPath) : path), m_threshold(threshold)
{
    const BusyGuard busy;
    installMessageHandler();

    const QString qpath = QString::fromStdString(m_path);
    QString fileName;
    if (m_path != kMainLogPath) {
        // One debug file per calendar day of program start.
        const QString date = dashedDate(QDate::currentDate());
        const int dot = qpath.lastIndexOf(QLatin1Char('.'));
        fileName = dot < 0 ? QString(qpath + date) : QString(qpath.left(dot) + date + qpath.mid(dot));
    } else {
        fileName = qpath;
        if (!QFile::exists(fileName)) {
            if (!QDir(QStringLiteral("./logs")).exists())
                QDir().mkdir(QStringLiteral("logs"));
        } else if (!rotateMainLog(fileName)) {
            return;
        }
    }

    // Absolute, so the viewer reads the same file even if the working directory changes later.
    auto *file = new QFile(QDir::current().absoluteFilePath(fileName));
    if (!file->open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Text)) {
        delete file;
        return;
    }
    m_file = file;
    m_buffered = m_path != kMainLogPath;
    if (m_buffered)
        m_flusher = std::thread([this] { runFlusher(); });
}

LogFile::~LogFile()
{
    if (s_debugSink.testAndSetOrdered(this, nullptr))
        s_debugGone.storeRelease(1);
    if (m_flusher.joinable()) {
        {
            QMutexLocker locker(&m_lock);
            m_stopping = true;
            m_wake.wakeAll();
        }
        m_flusher.join();
    }
    QMutexLocker locker(&m_lock);
    flushLocked();
    if (m_file) {
        m_file->close();
        delete m_file;
        m_file = nullptr;
    }
}

LogFile &LogFile::mainLog()
{
    static LogFile log(kMainLogPath, INFO);
    return log;
}

LogFile &LogFile::debugLog()
{
    // The main log creates "logs", which the debug log needs and does not create.
    mainLog();
    static LogFile log("logs/debug.log", DEBUG);
    s_debugSink.testAndSetOrdered(nullptr, &log);
    return log;
}

void LogFile::runFlusher()
{
    const BusyGuard busy;
    QMutexLocker locker(&m_lock);
    while (!m_stopping) {
        if (!m_dirty) {
            m_wake.wait(&m_lock);
            continue;
        }
        // Let the lines of the next moment join this write.
        m_wake.wait(&m_lock, kFlushIntervalMs);
        QVector<PendingLine> lines;
        lines.swap(m_pending);
        m_pendingChars = 0;
        m_dirty = false;
        std::unique_lock<std::mutex> io(m_ioLock);
        locker.unlock();
        writeOut(lines);
        io.unlock();
        locker.relock();
    }
}

void LogFile::flush()
{
    QMutexLocker locker(&m_lock);
    flushLocked();
}

void LogFile::flushLocked()
{
    const std::lock_guard<std::mutex> io(m_ioLock);
    writeOut(m_pending);
    m_pending.clear();
    m_pendingChars = 0;
    m_dirty = false;
}

void LogFile::writeOut(const QVector<PendingLine> &lines)
{
    QByteArray file;
    QByteArray err;
    for (const PendingLine &line : lines) {
        file += line.prefix;
        file += line.text.toUtf8();
        file += '\n';
        if (!localIsUtf8()) {
            err += line.prefix;
            err += line.text.toLocal8Bit();
            err += '\n';
        }
    }
    const QByteArray &toStderr = localIsUtf8() ? file : err;
    if (!toStderr.isEmpty())
        fwrite(toStderr.constData(), 1, static_cast<size_t>(toStderr.size()), stderr);
    if (m_file) {
        if (!file.isEmpty())
            m_file->write(file);
        m_file->flush();
    }
}

void LogFile::write(int level, const QString &text)
{
    if (level < m_threshold)
        return;
    QMutexLocker locker(&m_lock);
    if (!m_file)
        return;
    const BusyGuard busy;
    const QByteArray prefix = timestamp(&m_stampSecond, &m_stampText) + levelTag(level);
    if (m_buffered && level < kFlushLevel) {
        // The text is shared, not copied: a megabyte reply logged in one line is encoded and
        // written by the flusher thread while this one goes on with the reply.
        m_pending.append({prefix, text});
        m_pendingChars += text.size();
        if (m_pendingChars > kMaxPending)
            flushLocked();
        if (!m_dirty) {
            m_dirty = true;
            m_wake.wakeAll();
        }
    } else {
        // Lines before a crash are the ones most wanted: this one and all before it go out now.
        m_pending.append({prefix, text});
        flushLocked();
    }
    if (m_viewer) {
        const QString line = QString::fromUtf8(prefix) + text + QLatin1Char('\n');
        QScrollBar *bar = m_viewer->verticalScrollBar();
        const int position = bar->value();
        m_viewer->setPlainText(line + m_viewer->toPlainText());
        // Keep the lines the operator is reading in place now that one more is on top.
        if (position != 0)
            bar->setValue(position + m_viewer->font().pixelSize());
    }
}

bool LogFile::loadIntoViewer()
{
    QMutexLocker locker(&m_lock);
    if (!m_file || !m_viewer)
        return false;
    flushLocked();

    QFile in(m_file->fileName());
    if (!in.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    QTextStream stream(&in);
    stream.setCodec("UTF-8");
    QStringList lines;
    while (!stream.atEnd())
        lines.append(stream.readLine() + QLatin1Char('\n'));
    in.close();

    QString text;
    for (int i = lines.size() - 1; i >= 0; --i)
        text += lines.at(i);
    m_viewer->setPlainText(text);
    return true;
}

void LogFile::setViewer(QPlainTextEdit *viewer)
{
    QMutexLocker locker(&m_lock);
    m_viewer = viewer;
}

QPlainTextEdit *LogFile::viewer() const
{
    return m_viewer;
}

bool LogFile::isOpen() const
{
    return m_file != nullptr;
}

QString LogFile::filePath() const
{
    return m_file ? m_file->fileName() : QString();
}
