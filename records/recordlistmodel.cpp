#include "records/recordlistmodel.h"

#include "app/mysqlconnection.h"
#include "app/xmlconfig.h"

#include <QDomDocument>
#include <QtDebug>

namespace {

RecordListModel *s_instance = nullptr;

// Unix seconds as the database returns them; NULL or garbage gives an invalid time.
QDateTime fromSeconds(const QString &text)
{
    bool ok = false;
    const qint64 seconds = text.toLongLong(&ok);
    return ok ? QDateTime::fromMSecsSinceEpoch(seconds * 1000) : QDateTime();
}

// A CDR time element counts only when it says it holds Unix seconds.
QDateTime epochTime(const QDomElement &element)
{
    if (element.isNull() || element.attribute(QStringLiteral("type")) != QLatin1String("UNIX-epoch"))
        return QDateTime();
    return fromSeconds(element.text().trimmed());
}

} // namespace

RecordListModel::RecordListModel(MySQLConnection *connection, QObject *parent)
    : QAbstractItemModel(parent), m_connection(connection ? connection : &MySQLConnection::instance())
{
    const XMLConfig &config = XMLConfig::instance();
    m_primaryId = config.primaryConferenceId;
    m_primaryName =
        config.primaryConferenceDisplayName.isEmpty() ? m_primaryId : config.primaryConferenceDisplayName;
    s_instance = this;
}

RecordListModel::~RecordListModel()
{
    if (s_instance == this)
        s_instance = nullptr;
    qDeleteAll(m_rows);
}

RecordListModel *RecordListModel::instance()
{
    return s_instance;
}

QModelIndex RecordListModel::index(int row, int column, const QModelIndex &parent) const
{
    if (parent.isValid() || column != 0 || row < 0 || row >= m_rows.size())
        return QModelIndex();
    return createIndex(row, column, m_rows.at(row));
}

QModelIndex RecordListModel::parent(const QModelIndex &) const
{
    return QModelIndex();
}

int RecordListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows.size();
}

int RecordListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 1;
}

QVariant RecordListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return QVariant();
    const RecordRow &r = *m_rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return (r.isConference && r.text == m_primaryId) ? m_primaryName : r.text;
    case RecordStartRole:
        return r.start;
    case RecordEndRole:
        return r.end;
    case RecordIsConferenceRole:
        return r.isConference;
    case RecordIdRole:
        return r.id;
    case RecordMoreRole:
        return r.isMore;
    default:
        return QVariant();
    }
}

bool RecordListModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return false;
    RecordRow &r = *m_rows[index.row()];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        r.text = value.toString();
        break;
    case RecordStartRole:
        r.start = value.toDateTime();
        break;
    case RecordEndRole:
        r.end = value.toDateTime();
        break;
    case RecordIsConferenceRole:
        r.isConference = value.toBool();
        break;
    case RecordIdRole:
        r.id = value.toULongLong();
        break;
    case RecordMoreRole:
        r.isMore = value.toBool();
        break;
    default:
        return false;
    }
    emit dataChanged(index, index, {role});
    return true;
}

Qt::ItemFlags RecordListModel::flags(const QModelIndex &index) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return Qt::NoItemFlags;
    if (m_rows.at(index.row())->isMore)
        return Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
}

bool RecordListModel::insertRows(int row, int count, const QModelIndex &parent)
{
    if (parent.isValid() || row < 0 || row > m_rows.size() || count < 1)
        return false;
    beginInsertRows(parent, row, row + count - 1);
    for (int i = 0; i < count; ++i)
        m_rows.insert(row, new RecordRow);
    endInsertRows();
    return true;
}

bool RecordListModel::removeRows(int row, int count, const QModelIndex &parent)
{
    if (parent.isValid() || row < 0 || count < 1 || row + count > m_rows.size())
        return false;
    beginRemoveRows(parent, row, row + count - 1);
    for (int i = 0; i < count; ++i)
        delete m_rows.takeAt(row);
    endRemoveRows();
    return true;
}

int RecordListModel::recordCount() const
{
    return hasMore() ? m_rows.size() - 1 : m_rows.size();
}

bool RecordListModel::hasMore() const
{
    return !m_rows.isEmpty() && m_rows.last()->isMore;
}

QDateTime RecordListModel::filterFrom(const QDate &date, const QTime &time)
{
    const QTime minute = QTime::fromString(time.toString(QStringLiteral("hh:mm:")) + QStringLiteral("00"),
                                           QStringLiteral("hh:mm:ss"));
    QDateTime from(date, minute, Qt::LocalTime);
    if (from.date().year() < 1970)
        from = QDateTime(QDate(1970, 1, 1), minute, Qt::LocalTime);
    return from;
}

QDateTime RecordListModel::filterTo(const QDate &date, const QTime &time)
{
    return QDateTime(date, QTime(time.hour(), time.minute(), 59), Qt::LocalTime);
}

void RecordListModel::ApplyRecordFilter(int iFilteredConferences, QDateTime from, QDateTime to)
{
    if (iFilteredConferences < 0 || iFilteredConferences > DirectKind) {
        qCritical() << "RecordListModel::ApplyRecordFilter(): unexpected iFilteredConferences:"
                    << iFilteredConferences;
        emit recordFilterDone();
        return;
    }
    // Whatever an earlier filter still has on its way no longer belongs to this list.
    m_listDiscardUpTo = m_listQueriesSent;
    clearRows();

    const QString start =
        m_connection->hasStartRecordColumn() ? QStringLiteral("startrecord") : QStringLiteral("starttime");
    const bool hasRecordings = m_connection->hasRecordingsTable();
    if (iFilteredConferences == DirectKind && !hasRecordings) {
        emit loadingChanged(isLoading());
        emit countChanged(0, false);
        emit recordFilterDone();
        return;
    }
    m_query.reset(new RecordListQuery(from.toSecsSinceEpoch(), to.toSecsSinceEpoch(), m_pageSize));
    if (iFilteredConferences != DirectKind)
        m_query->addConferences(start, m_connection->hasRecordSeconds(QStringLiteral("cdr")));
    if (iFilteredConferences != ConferenceKind && hasRecordings)
        m_query->addDirect(m_connection->hasRecordSeconds(QStringLiteral("recordings")));
    fetchNextPage();
}

QString RecordListModel::pageQuery(int offset) const
{
    return m_query ? m_query->page(offset) : QString();
}

void RecordListModel::fetchNextPage()
{
    if (!m_query)
        return;
    m_offset = m_rows.size();
    if (hasMore()) {
        // The row that loads more stood for the first record of the next page.
        m_offset = m_rows.size() - 1;
        removeRows(m_offset, 1);
    }
    ++m_listQueriesSent;
    send(m_query->page(m_offset), ListContext);
    emit loadingChanged(true);
}

void RecordListModel::selectRecord(bool isConference, quint64 id)
{
    m_participants.clear();
    m_selectedId = id;
    if (isConference)
        send(QStringLiteral("SELECT id,xml FROM cdr WHERE id=%1").arg(id), CdrContext);
    else
        send(QStringLiteral("SELECT id,UNIX_TIMESTAMP(starttime),UNIX_TIMESTAMP(endtime),filename FROM "
                            "recordings WHERE id=%1")
                 .arg(id),
             RecordingContext);
}

void RecordListModel::configChanged()
{
    const XMLConfig &config = XMLConfig::instance();
    const QString id = config.primaryConferenceId;
    const QString name =
        config.primaryConferenceDisplayName.isEmpty() ? id : config.primaryConferenceDisplayName;
    if (id == m_primaryId && name == m_primaryName)
        return;
    if (m_primaryName.isEmpty() && name.isEmpty())
        return;
    m_primaryId = id;
    m_primaryName = name;
    if (!m_rows.isEmpty())
        emit dataChanged(index(0, 0), index(m_rows.size() - 1, 0));
}

void RecordListModel::queryResult(QList<QStringList> result, QString error, int context)
{
    if (context == ListContext) {
        ++m_listAnswersSeen;
        const bool current = m_listAnswersSeen == m_listQueriesSent && m_listAnswersSeen > m_listDiscardUpTo;
        if (!current) {
            qDebug() << "RecordListModel::queryResult(): answer of a replaced filter dropped";
            return;
        }
        emit loadingChanged(false);
    }
    if (error.isEmpty()) {
        for (const QStringList &row : qAsConst(result))
            addLine(row, context);
    } else {
        // The operator gets what failed; the query and the server's words go to the log.
        qWarning() << "RecordListModel::queryResult():" << error;
        if (context == ListContext)
            emit message(QStringLiteral("Не удалось загрузить список записей: база данных ответила ошибкой. "
                                        "Подробности в журнале."));
        else
            emit message(QStringLiteral("Не удалось загрузить сведения о выбранной записи: база данных "
                                        "ответила ошибкой. Подробности в журнале."));
    }
    if (context == ListContext) {
        emit countChanged(recordCount(), hasMore());
        emit recordFilterDone();
    }
}

void RecordListModel::addLine(const QStringList &row, int context)
{
    switch (context) {
    case ListContext:
        addListRow(row);
        break;
    case CdrContext:
        addCdr(row);
        break;
    case RecordingContext:
        if (row.size() < 4) {
            qCritical() << "RecordListModel::addLine(2): sql result row less than 4 columns:" << row.size();
            return;
        }
        if (row.at(0).toULongLong() != m_selectedId)
            return;
        emit recordingTime(fromSeconds(row.at(1)), fromSeconds(row.at(2)), row.at(3));
        break;
    default:
        qWarning() << "RecordListModel::addLine(): unexpected context" << context;
        break;
    }
}

void RecordListModel::addListRow(const QStringList &row)
{
    if (row.size() < 5) {
        qCritical() << "RecordListModel::addLine(0): sql result row less than 5 columns:" << row.size();
        return;
    }
    const int k = m_rows.size() - m_offset;
    if (k > m_pageSize)
        return;
    const int at = m_rows.size();
    if (!insertRows(at, 1)) {
        qCritical() << "RecordListModel::addLine(): cannot insert line to record list";
        return;
    }
    const QModelIndex i = index(at, 0);
    setData(i, row.at(4), Qt::DisplayRole);
    setData(i, fromSeconds(row.at(2)), RecordStartRole);
    setData(i, fromSeconds(row.at(3)), RecordEndRole);
    setData(i, row.at(0).toUInt() != 0, RecordIsConferenceRole);
    setData(i, row.at(1).toULongLong(), RecordIdRole);
    if (k == m_pageSize)
        setData(i, true, RecordMoreRole);
}

void RecordListModel::showCdrError(const QString &id, const QString &what)
{
    emit message(QStringLiteral("Ошибка парсинга CDR для записи %1: ").arg(id) + what);
}

void RecordListModel::addCdr(const QStringList &row)
{
    if (row.size() < 2) {
        qCritical() << "RecordListModel::addLine(1): sql result row less than 2 columns:" << row.size();
        return;
    }
    if (row.at(0).toULongLong() != m_selectedId)
        return;
    const QString id = row.at(0);
    QDomDocument doc;
    QString parseError;
    int line = 0;
    int column = 0;
    if (!doc.setContent(row.at(1), false, &parseError, &line, &column)) {
        qWarning() << "cannot parse conference list:" << parseError << "at line" << line << "column"
                   << column;
        showCdrError(
            id, QStringLiteral("XML error '%1' at line %2 column %3").arg(parseError).arg(line).arg(column));
        return;
    }
    const QDomElement cdr = doc.documentElement();
    if (cdr.tagName() != QLatin1String("cdr")) {
        qWarning() << "no 'cdr' element in XML cdr data";
        showCdrError(id, QStringLiteral("отсутствует элемент 'cdr'"));
        return;
    }
    const QDomElement conference = cdr.firstChildElement(QStringLiteral("conference"));
    if (conference.isNull()) {
        qWarning() << "no 'conference' element in 'cdr' element";
        showCdrError(id, QStringLiteral("отсутствует элемент 'conference' в элементе 'cdr'"));
        return;
    }
    const QDomElement members = conference.firstChildElement(QStringLiteral("members"));
    if (members.isNull()) {
        qWarning() << "no 'members' element in 'conference' element at line" << conference.lineNumber();
        showCdrError(id, QStringLiteral("отсутствует элемент 'members' в элементе 'conference'"));
        return;
    }
    for (QDomElement member = members.firstChildElement(QStringLiteral("member")); !member.isNull();
         member = member.nextSiblingElement(QStringLiteral("member"))) {
        if (!member.hasAttribute(QStringLiteral("type"))) {
            qWarning() << "'member' element doesn't have 'type' attribute at line" << member.lineNumber();
            continue;
        }
        const QString type = member.attribute(QStringLiteral("type"));
        const QDateTime join = epochTime(member.firstChildElement(QStringLiteral("join_time")));
        const QDateTime leave = epochTime(member.firstChildElement(QStringLiteral("leave_time")));
        if (type == QLatin1String("recording_node")) {
            emit recordingTime(join, leave, member.firstChildElement(QStringLiteral("record_path")).text());
        } else if (type == QLatin1String("caller")) {
            const QDomElement profile = member.firstChildElement(QStringLiteral("caller_profile"));
            if (profile.isNull()) {
                qWarning() << "no 'caller_profile' element in 'member' element at line"
                           << member.lineNumber();
                continue;
            }
            const QDomElement number = profile.firstChildElement(QStringLiteral("caller_id_number"));
            if (number.isNull()) {
                qWarning() << "no 'caller_id_number' element in 'caller_profile' element at line"
                           << profile.lineNumber();
                continue;
            }
            const int at = m_participants.rowCount();
            if (!m_participants.insertRows(at, 1)) {
                qCritical() << "RecordListModel::addLine(): cannot insert partciipant to participantList";
                continue;
            }
            const QModelIndex i = m_participants.index(at, 0);
            m_participants.setData(i, number.text(), Qt::DisplayRole);
            if (join.isValid())
                m_participants.setData(i, join, RecordParticipantListModel::JoinTimeRole);
            if (leave.isValid())
                m_participants.setData(i, leave, RecordParticipantListModel::LeaveTimeRole);
        }
    }
}

void RecordListModel::send(const QString &query, int context)
{
    m_connection->execQuery(query, this, QStringLiteral("queryResult"), context);
}

void RecordListModel::clearRows()
{
    if (!m_rows.isEmpty())
        removeRows(0, m_rows.size());
}
