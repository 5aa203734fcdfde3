#pragma once

#include <QHash>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>

struct st_mysql;

// The console's only database client (the server's "dispatcher" database). One
// process-wide instance (instance()), built during static initialisation; it moves
// itself into a worker thread of its own and lives until the process ends. Callers
// on any thread go through connectToDatabase() and execQuery(), which queue the
// work on that thread; queries run one at a time in the order they were queued.
// Answers come back by queued calls: the connected()/connectionError() signals,
// and receiver->slot(QList<QStringList> rows, QString error, int context) per query.
class MySQLConnection final : public QObject
{
    Q_OBJECT

public:
    MySQLConnection();
    ~MySQLConnection() override;

    static MySQLConnection &instance();

    // Queue a connection with these credentials on the server's "dispatcher"
    // database; port 0 means the client library's default.
    void connectToDatabase(const QString &host, const QString &user, const QString &password, int port = 0);
    // Queue a query; the answer goes to receiver->slot(rows, error, context). A
    // receiver destroyed before its answer is ready simply gets nothing.
    void execQuery(const QString &query, QObject *receiver, const QString &slot, int context);

    // Written on every connect; meaningful once connected() has been delivered.
    bool hasStartRecordColumn() const { return m_hasStartRecordColumn; }
    bool hasRecordingsTable() const { return m_hasRecordingsTable; }
    // Whether the table ("cdr" or "recordings") has the indexed length column "record_seconds".
    bool hasRecordSeconds(const QString &table) const;

    // The query as the debug log shows it: the values of queries that carry a
    // password are masked.
    static QString queryForLog(const QString &query);

signals:
    void connected();
    void connectionError(QString error);

public slots:
    void _connect(QString host, QString user, QString password);
    void exec(QString query, QObject *receiver, QString slot, int context);
    void setPort(int port);

private:
    // Receivers with answers on the way, watched so that none is called after it is gone.
    struct Watch
    {
        int pending = 0;
        bool alive = true;
        QMetaObject::Connection destroyed;
    };

    void watchReceiver(QObject *receiver);
    void deliver(QObject *receiver, const QString &slot, const QList<QStringList> &rows, const QString &error,
                 int context);
    bool hasRows(const char *query, QString *error);
    QStringList firstColumn(const char *query, QString *error);
    QString lastError() const;

    st_mysql *m_handle = nullptr;
    bool m_connected = false;
    std::atomic<bool> m_hasStartRecordColumn{false};
    std::atomic<bool> m_hasRecordingsTable{false};
    std::atomic<bool> m_cdrHasRecordSeconds{false};
    std::atomic<bool> m_recordingsHaveRecordSeconds{false};
    int m_port = 0;
    QThread m_thread;
    QMutex m_watchLock;
    QHash<QObject *, Watch> m_watches;
};
