#pragma once

#include "records/recordlistquery.h"
#include "records/recordparticipantlistmodel.h"
#include "records/recordrow.h"

#include <QAbstractItemModel>
#include <QDateTime>
#include <QList>
#include <QStringList>

#include <memory>

class MySQLConnection;

// The recordings page's list: recordings that overlap a time window, read from the
// server's database a page at a time, plus the details of the selected one (the
// participants of a conference recording, and the recording's window and file).
// One per login cycle, created before the main window; GUI thread. Queries go to the
// database thread and come back queued in queryResult().
class RecordListModel final : public QAbstractItemModel
{
    Q_OBJECT

public:
    enum Roles {
        RecordStartRole = Qt::UserRole,
        RecordEndRole,
        RecordIsConferenceRole,
        RecordIdRole,
        RecordMoreRole,
    };
    enum Kind {
        AllKinds = 0,
        ConferenceKind = 1,
        DirectKind = 2,
    };
    enum Context {
        ListContext = 0,
        CdrContext = 1,
        RecordingContext = 2,
    };

    // connection null: the process-wide one.
    explicit RecordListModel(MySQLConnection *connection = nullptr, QObject *parent = nullptr);
    ~RecordListModel() override;

    // The newest model alive; null between login cycles.
    static RecordListModel *instance();

    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool insertRows(int row, int count, const QModelIndex &parent = QModelIndex()) override;
    bool removeRows(int row, int count, const QModelIndex &parent = QModelIndex()) override;

    RecordParticipantListModel *participants() { return &m_participants; }
    int pageSize() const { return m_pageSize; }
    // The query of the page from offset on, for the current filter (empty before the first).
    QString pageQuery(int offset) const;
    quint64 selectedId() const { return m_selectedId; }
    // Recordings listed so far (without the row that loads more), whether more exist,
    // and whether a page is on its way.
    int recordCount() const;
    bool hasMore() const;
    bool isLoading() const { return m_listQueriesSent != m_listAnswersSeen; }

    // The filter window from the panel's editors: from at hh:mm:00 (never before 1970),
    // to at hh:mm:59, local time.
    static QDateTime filterFrom(const QDate &date, const QTime &time);
    static QDateTime filterTo(const QDate &date, const QTime &time);

    void fetchNextPage();
    void selectRecord(bool isConference, quint64 id);

signals:
    void recordingTime(QDateTime start, QDateTime end, QString file);
    void recordFilterDone();
    // A text for a modal message box (the recordings page shows it).
    void message(QString text);
    void loadingChanged(bool loading);
    void countChanged(int count, bool more);

public slots:
    void ApplyRecordFilter(int iFilteredConferences, QDateTime from, QDateTime to);
    void configChanged();
    void queryResult(QList<QStringList> result, QString error, int context);

private:
    void addLine(const QStringList &row, int context);
    void addListRow(const QStringList &row);
    void addCdr(const QStringList &row);
    void send(const QString &query, int context);
    void clearRows();
    void showCdrError(const QString &id, const QString &what);

    QList<RecordRow *> m_rows;
    RecordParticipantListModel m_participants;
    quint64 m_selectedId = 0;
    std::unique_ptr<RecordListQuery> m_query;
    int m_offset = 0;
    const int m_pageSize = 20;
    QString m_primaryId;
    QString m_primaryName;
    MySQLConnection *m_connection;
    // List answers come back in the order sent; only the newest one is still wanted.
    quint64 m_listQueriesSent = 0;
    quint64 m_listAnswersSeen = 0;
    // Answers up to this one belong to a filter that was replaced.
    quint64 m_listDiscardUpTo = 0;
};
