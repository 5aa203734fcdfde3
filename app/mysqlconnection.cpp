#include "app/mysqlconnection.h"

#include <QDebug>
#include <QException>
#include <QMetaObject>
#include <QMutexLocker>
#include <QRegularExpression>

#include <mysql.h>

namespace {

const char *const kDatabase = "dispatcher";
const char *const kStartRecordQuery =
    "SELECT COLUMN_TYPE FROM INFORMATION_SCHEMA.COLUMNS WHERE table_schema=DATABASE() AND "
    "table_name='cdr' AND COLUMN_NAME='startrecord'";
const char *const kRecordingsQuery = "SHOW TABLES like 'recordings'";
// The tables whose rows carry their length, which lets the recordings list bound its window by
// the start.
const char *const kRecordSecondsQuery =
    "SELECT TABLE_NAME FROM INFORMATION_SCHEMA.COLUMNS WHERE table_schema=DATABASE() AND "
    "COLUMN_NAME='record_seconds'";

class LibraryInitError : public QException
{
public:
    void raise() const override { throw *this; }
    LibraryInitError *clone() const override { return new LibraryInitError(*this); }
};

void initLibraryOnce()
{
    static const bool ok = mysql_server_init(0, nullptr, nullptr) == 0;
    if (!ok) {
        qCritical("MySQLConnection::MySQLConnection(): cannot initialize mysql library");
        throw LibraryInitError();
    }
}

QString queryError(const QString &query, const QString &libraryError)
{
    return QStringLiteral("Ошибка выполнения запроса SQL \"") + query + QStringLiteral("\": ") + libraryError;
}

} // namespace

MySQLConnection::MySQLConnection()
{
    initLibraryOnce();
    m_thread.setObjectName(QStringLiteral("MySQLConnection"));
    // The library keeps per-thread state that must be released on the thread that made it.
    connect(
        &m_thread, &QThread::finished, &m_thread, [] { mysql_thread_end(); }, Qt::DirectConnection);
    moveToThread(&m_thread);
    m_thread.start();
    qRegisterMetaType<QList<QStringList>>("QList<QStringList>");
}

MySQLConnection::~MySQLConnection()
{
    m_thread.quit();
    m_thread.wait();
    // The thread is gone, so nothing else can be using the handle now.
    if (m_handle)
        mysql_close(m_handle);
}

MySQLConnection &MySQLConnection::instance()
{
    static MySQLConnection connection;
    return connection;
}

void MySQLConnection::connectToDatabase(const QString &host, const QString &user, const QString &password,
                                        int port)
{
    QMetaObject::invokeMethod(this, "setPort", Qt::QueuedConnection, Q_ARG(int, port));
    QMetaObject::invokeMethod(this, "_connect", Qt::QueuedConnection, Q_ARG(QString, host),
                              Q_ARG(QString, user), Q_ARG(QString, password));
}

void MySQLConnection::execQuery(const QString &query, QObject *receiver, const QString &slot, int context)
{
    watchReceiver(receiver);
    QMetaObject::invokeMethod(this, "exec", Qt::QueuedConnection, Q_ARG(QString, query),
                              Q_ARG(QObject *, receiver), Q_ARG(QString, slot), Q_ARG(int, context));
}

void MySQLConnection::setPort(int port)
{
    m_port = port;
}

void MySQLConnection::_connect(QString host, QString user, QString password)
{
    if (m_connected) {
        mysql_close(m_handle);
        m_connected = false;
        m_handle = nullptr;
    }
    if (!m_handle)
        m_handle = mysql_init(nullptr);

    my_bool reconnect = 1;
    mysql_options(m_handle, MYSQL_OPT_RECONNECT, &reconnect);
    // Rows are decoded as UTF-8, so that is what the server must send.
    mysql_options(m_handle, MYSQL_SET_CHARSET_NAME, "utf8mb4");
    m_hasStartRecordColumn = false;
    m_hasRecordingsTable = false;
    m_cdrHasRecordSeconds = false;
    m_recordingsHaveRecordSeconds = false;

    const QByteArray h = host.toUtf8();
    const QByteArray u = user.toUtf8();
    const QByteArray p = password.toUtf8();
    if (!mysql_real_connect(m_handle, h.constData(), u.constData(), p.constData(), kDatabase,
                            static_cast<unsigned>(qMax(0, m_port)), nullptr, 0)) {
        const QString error = lastError();
        // A failed attempt leaves the handle half set up; start the next one afresh.
        mysql_close(m_handle);
        m_handle = nullptr;
        emit connectionError(QStringLiteral("Ошибка соединения с базой данных: ") + error);
        return;
    }
    qInfo("connected to MySQL database");
    m_connected = true;

    QString error;
    m_hasStartRecordColumn = hasRows(kStartRecordQuery, &error);
    if (!error.isEmpty())
        qWarning().noquote() << "MySQLConnection::_connect(): ошибка запроса INFORMATION_SCHEMA:" << error;
    error.clear();
    m_hasRecordingsTable = hasRows(kRecordingsQuery, &error);
    if (!error.isEmpty())
        qWarning().noquote() << "MySQLConnection::_connect(): ошибка запроса INFORMATION_SCHEMA:" << error;
    error.clear();
    const QStringList withSeconds = firstColumn(kRecordSecondsQuery, &error);
    m_cdrHasRecordSeconds = withSeconds.contains(QStringLiteral("cdr"));
    m_recordingsHaveRecordSeconds = withSeconds.contains(QStringLiteral("recordings"));
    if (!error.isEmpty())
        qWarning().noquote() << "MySQLConnection::_connect(): ошибка запроса INFORMATION_SCHEMA:" << error;
    emit connected();
}

bool MySQLConnection::hasRows(const char *query, QString *error)
{
    if (mysql_query(m_handle, query) != 0) {
        *error = lastError();
        return false;
    }
    MYSQL_RES *result = mysql_store_result(m_handle);
    if (!result)
        return false;
    const bool rows = mysql_num_rows(result) > 0;
    mysql_free_result(result);
    return rows;
}

QStringList MySQLConnection::firstColumn(const char *query, QString *error)
{
    QStringList values;
    if (mysql_query(m_handle, query) != 0) {
        *error = lastError();
        return values;
    }
    MYSQL_RES *result = mysql_store_result(m_handle);
    if (!result)
        return values;
    while (MYSQL_ROW row = mysql_fetch_row(result)) {
        if (row[0])
            values << QString::fromUtf8(row[0]);
    }
    mysql_free_result(result);
    return values;
}

bool MySQLConnection::hasRecordSeconds(const QString &table) const
{
    if (table == QLatin1String("cdr"))
        return m_cdrHasRecordSeconds;
    return table == QLatin1String("recordings") && m_recordingsHaveRecordSeconds;
}

void MySQLConnection::exec(QString query, QObject *receiver, QString slot, int context)
{
    qDebug() << "MySQLConnection::exec():" << queryForLog(query);

    QList<QStringList> rows;
    if (!m_connected || !m_handle) {
        deliver(receiver, slot, rows, queryError(query, QStringLiteral("нет соединения с базой данных")),
                context);
        return;
    }
    const QByteArray text = query.toUtf8();
    if (mysql_real_query(m_handle, text.constData(), static_cast<unsigned long>(text.size())) != 0) {
        deliver(receiver, slot, rows, queryError(query, lastError()), context);
        return;
    }
    if (MYSQL_RES *result = mysql_store_result(m_handle)) {
        const unsigned columns = mysql_num_fields(result);
        while (MYSQL_ROW row = mysql_fetch_row(result)) {
            const unsigned long *lengths = mysql_fetch_lengths(result);
            QStringList values;
            values.reserve(static_cast<int>(columns));
            for (unsigned i = 0; i < columns; ++i) {
                values.append(row[i] ? QString::fromUtf8(row[i], static_cast<int>(lengths[i]))
                                     : QStringLiteral("NULL"));
            }
            rows.append(values);
        }
        mysql_free_result(result);
    } else if (mysql_field_count(m_handle) != 0) {
        // The statement had a result set that could not be fetched.
        deliver(receiver, slot, rows, queryError(query, lastError()), context);
        return;
    }
    deliver(receiver, slot, rows, QString(), context);
}

QString MySQLConnection::lastError() const
{
    return QString::fromUtf8(mysql_error(m_handle));
}

void MySQLConnection::watchReceiver(QObject *receiver)
{
    if (!receiver)
        return;
    QMutexLocker locker(&m_watchLock);
    Watch &watch = m_watches[receiver];
    if (watch.pending++ == 0) {
        // Runs on the receiver's thread while it is being destroyed; the lock makes it
        // wait for a delivery in progress.
        watch.destroyed = connect(
            receiver, &QObject::destroyed, this,
            [this, receiver] {
                QMutexLocker lock(&m_watchLock);
                auto it = m_watches.find(receiver);
                if (it != m_watches.end())
                    it->alive = false;
            },
            Qt::DirectConnection);
    }
}

void MySQLConnection::deliver(QObject *receiver, const QString &slot, const QList<QStringList> &rows,
                              const QString &error, int context)
{
    if (!receiver)
        return;
    QMutexLocker locker(&m_watchLock);
    auto it = m_watches.find(receiver);
    if (it != m_watches.end()) {
        const bool alive = it->alive;
        if (--it->pending == 0) {
            disconnect(it->destroyed);
            m_watches.erase(it);
        }
        if (!alive)
            return;
    }
    // Posting under the lock: the receiver cannot finish dying meanwhile, and its
    // destructor drops the posted call.
    const QByteArray method = slot.toLatin1();
    if (!QMetaObject::invokeMethod(receiver, method.constData(), Qt::QueuedConnection,
                                   Q_ARG(QList<QStringList>, rows), Q_ARG(QString, error),
                                   Q_ARG(int, context)))
        qWarning() << "MySQLConnection::exec(): cannot deliver the result to slot" << slot;
}

QString MySQLConnection::queryForLog(const QString &query)
{
    static const QRegularExpression secretWord(QStringLiteral("pass|pwd|secret"),
                                               QRegularExpression::CaseInsensitiveOption);
    if (!query.contains(secretWord))
        return query;
    // A literal naming the secret ('event-socket-pwd') is kept; every other value may be it.
    static const QRegularExpression literal(QStringLiteral(R"('(?:[^'\\]|\\.|'')*'|"(?:[^"\\]|\\.|"")*")"));
    QString masked;
    int last = 0;
    auto it = literal.globalMatch(query);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        masked += query.midRef(last, match.capturedStart() - last);
        masked += match.captured().contains(secretWord) ? match.captured() : QStringLiteral("'***'");
        last = match.capturedEnd();
    }
    masked += query.midRef(last);
    return masked;
}
