#include "app/mysqlconnection.h"
#include "app/xmlconfig.h"
#include "records/recordlistmodel.h"
#include "records/recordlistview.h"
#include "tests/support/testmariadb.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QtTest>

namespace {

const qint64 T = 1700000000; // 2023-11-14, any fixed moment will do

QDateTime at(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds);
}

QString cdrXml(const QString &members)
{
    return "<cdr><conference><name>3000</name><members>" + members + "</members></conference></cdr>";
}

QString member(const QString &type, const QString &inner)
{
    return "<member type=\"" + type + "\">" + inner + "</member>";
}

QString times(qint64 join, qint64 leave, const QString &joinType = "UNIX-epoch")
{
    return QString("<join_time type=\"%1\">%2</join_time><leave_time type=\"UNIX-epoch\">%3</leave_time>")
        .arg(joinType)
        .arg(join)
        .arg(leave);
}

} // namespace

class RecordListModelTest : public QObject
{
    Q_OBJECT

    TestMariaDb m_db;
    std::unique_ptr<MySQLConnection> m_connection;
    std::unique_ptr<RecordListModel> m_model;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
    std::unique_ptr<QAbstractItemModelTester> m_participantsTester;

    bool sql(const QString &text)
    {
        if (!m_db.exec("USE dispatcher; " + text)) {
            qWarning() << m_db.error();
            return false;
        }
        return true;
    }

    bool connectDb()
    {
        QSignalSpy ok(m_connection.get(), &MySQLConnection::connected);
        m_connection->connectToDatabase(m_db.host(), "operator", "Op3rat0r", m_db.port());
        return ok.wait(20000);
    }

    // Runs the filter and waits until the model says the list query finished.
    bool filter(int kind, qint64 from, qint64 to)
    {
        QSignalSpy done(m_model.get(), &RecordListModel::recordFilterDone);
        m_model->ApplyRecordFilter(kind, at(from), at(to));
        return done.count() == 1 || done.wait(20000);
    }

    QList<quint64> ids() const
    {
        QList<quint64> out;
        for (int r = 0; r < m_model->rowCount(); ++r)
            out << m_model->index(r, 0).data(RecordListModel::RecordIdRole).toULongLong();
        return out;
    }

    QList<QVariantList> select(bool conference, quint64 id, int expected)
    {
        QSignalSpy times(m_model.get(), &RecordListModel::recordingTime);
        QSignalSpy messages(m_model.get(), &RecordListModel::message);
        m_model->selectRecord(conference, id);
        if (!QTest::qWaitFor([&] { return times.count() + messages.count() >= expected; }, 20000))
            qWarning() << "answers missing";
        QTest::qWait(50); // nothing more may come
        QList<QVariantList> out;
        for (const QVariantList &t : qAsConst(times))
            out << t;
        for (const QVariantList &m : qAsConst(messages))
            out << QVariantList{m.first()};
        return out;
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_db.start(), qPrintable(m_db.error()));
        QVERIFY2(m_db.exec("CREATE DATABASE dispatcher CHARACTER SET utf8mb4;"
                           "CREATE USER 'operator'@'%' IDENTIFIED BY 'Op3rat0r';"
                           "GRANT ALL ON dispatcher.* TO 'operator'@'%';"),
                 qPrintable(m_db.error()));
        QVERIFY(sql(
            "CREATE TABLE cdr (id BIGINT UNSIGNED PRIMARY KEY, starttime TIMESTAMP NULL, "
            "startrecord TIMESTAMP NULL, endtime TIMESTAMP NULL, conference VARCHAR(255), "
            "has_record TINYINT(1), xml MEDIUMTEXT);"
            "CREATE TABLE recordings (id BIGINT UNSIGNED PRIMARY KEY, starttime TIMESTAMP NULL, "
            "endtime TIMESTAMP NULL, caller VARCHAR(255), callee VARCHAR(255), filename VARCHAR(1024));"));
        // 21 recorded conferences a minute apart, ordered by startrecord; conference 1 started its call
        // last of all but its recording first, so ordering by the wrong column moves it to the end.
        QStringList rows;
        for (int i = 1; i <= 21; ++i) {
            const qint64 start = i == 1 ? T + 10000 : T + i * 60;
            rows << QString("(%1, FROM_UNIXTIME(%2), FROM_UNIXTIME(%3), FROM_UNIXTIME(%4), '%5', 1, NULL)")
                        .arg(i)
                        .arg(start)
                        .arg(T + i * 60 + 5)
                        .arg(T + i * 60 + 30)
                        .arg(i == 2 ? QString("3000") : QString("room-%1").arg(i));
        }
        // Not recorded, and ended before any window starts.
        rows << QString("(22, FROM_UNIXTIME(%1), FROM_UNIXTIME(%1), FROM_UNIXTIME(%2), 'room-x', 0, NULL)")
                    .arg(T + 70)
                    .arg(T + 90);
        rows << QString("(23, FROM_UNIXTIME(%1), FROM_UNIXTIME(%1), FROM_UNIXTIME(%2), 'room-y', 1, NULL)")
                    .arg(T - 500)
                    .arg(T - 400);
        const QString direct =
            QString("(1, FROM_UNIXTIME(%1), FROM_UNIXTIME(%2), '1001', '1002', '/rec/one.wav'),"
                    "(2, FROM_UNIXTIME(%3), FROM_UNIXTIME(%4), '1003', '1001', '/rec/two.wav');")
                .arg(T + 30)
                .arg(T + 50)
                .arg(T + 95)
                .arg(T + 95);
        QVERIFY(
            sql("INSERT INTO cdr VALUES " + rows.join(",") + "; INSERT INTO recordings VALUES " + direct));

        XMLConfig::instance().primaryConferenceId = "3000";
        XMLConfig::instance().primaryConferenceDisplayName = "Главная";
        m_connection = std::make_unique<MySQLConnection>();
        QVERIFY(connectDb());
        QVERIFY(m_connection->hasStartRecordColumn() && m_connection->hasRecordingsTable());
        m_model = std::make_unique<RecordListModel>(m_connection.get());
        m_tester = std::make_unique<QAbstractItemModelTester>(m_model.get());
        m_participantsTester = std::make_unique<QAbstractItemModelTester>(m_model->participants());
    }

    void pagesOfTwentyWithARowThatLoadsMore()
    {
        // Exactly 20 recordings overlap: 20 rows, none loads more.
        QVERIFY(filter(RecordListModel::ConferenceKind, T, T + 20 * 60 + 5));
        QCOMPARE(m_model->rowCount(), 20);
        QCOMPARE(ids().first(), 1u); // ordered by startrecord, not starttime
        QVERIFY(!m_model->hasMore());

        // 21: twenty rows and the 21st stands for "more" and cannot be selected.
        QVERIFY(filter(RecordListModel::ConferenceKind, T, T + 30 * 60));
        QCOMPARE(m_model->rowCount(), 21);
        QCOMPARE(m_model->recordCount(), 20);
        const QModelIndex more = m_model->index(20, 0);
        QVERIFY(more.data(RecordListModel::RecordMoreRole).toBool());
        QVERIFY(!ids().contains(22) && !ids().contains(23));
        QCOMPARE(m_model->index(1, 0).data().toString(), QString("Главная"));
        QCOMPARE(m_model->index(2, 0).data(RecordListModel::RecordStartRole).toDateTime(), at(T + 185));
        QCOMPARE(m_model->index(2, 0).data(RecordListModel::RecordEndRole).toDateTime(), at(T + 210));

        // Clicking "more" in the view fetches the 21st again as the first row of the next page and
        // selects nothing.
        RecordListView view;
        view.setModel(m_model.get());
        view.resize(400, 2000);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QSignalSpy selected(&view, &RecordListView::itemSelected);
        QSignalSpy done(m_model.get(), &RecordListModel::recordFilterDone);
        QTest::mouseClick(view.viewport(), Qt::LeftButton, Qt::NoModifier, view.visualRect(more).center());
        QVERIFY(done.wait(20000));
        QVERIFY(m_model->rowCount() == 21 && ids().last() == 21u && !m_model->hasMore());
        QCOMPARE(selected.count(), 0);

        // A real row selects; the view reports its index.
        QTest::mouseClick(view.viewport(), Qt::LeftButton, Qt::NoModifier,
                          view.visualRect(m_model->index(3, 0)).center());
        QCOMPARE(selected.value(0).value(0).toModelIndex().row(), 3);

        // A new display name is announced for every row.
        QSignalSpy changed(m_model.get(), &QAbstractItemModel::dataChanged);
        XMLConfig::instance().primaryConferenceDisplayName = "Диспетчерская";
        m_model->configChanged();
        QCOMPARE(changed.count(), 1);
        QCOMPARE(m_model->index(1, 0).data().toString(), QString("Диспетчерская"));
    }

    void unionAndDirectKindsMixBothTables()
    {
        QVERIFY(filter(RecordListModel::AllKinds, T, T + 100));
        // Direct 1 (T+30), conference 1 (recorded from T+65), direct 2 (T+95).
        QCOMPARE(ids(), (QList<quint64>{1, 1, 2}));
        QVERIFY(!m_model->index(0, 0).data(RecordListModel::RecordIsConferenceRole).toBool());
        QCOMPARE(m_model->index(0, 0).data().toString(), QString("1001 - 1002"));
        QVERIFY(m_model->index(1, 0).data(RecordListModel::RecordIsConferenceRole).toBool());

        QVERIFY(filter(RecordListModel::DirectKind, T, T + 100));
        QCOMPARE(ids(), (QList<quint64>{1, 2}));
        QCOMPARE(m_model->index(1, 0).data().toString(), QString("1003 - 1001"));

        // The answer to a filter replaced before it came back adds nothing.
        QSignalSpy done(m_model.get(), &RecordListModel::recordFilterDone);
        m_model->ApplyRecordFilter(RecordListModel::ConferenceKind, at(T), at(T + 30 * 60));
        m_model->ApplyRecordFilter(RecordListModel::DirectKind, at(T), at(T + 100));
        QVERIFY(done.wait(20000));
        QTest::qWait(100);
        QCOMPARE(done.count(), 1);
        QCOMPARE(ids(), (QList<quint64>{1, 2}));
        QVERIFY(!m_model->isLoading());
    }

    void allKindsPagesMatchThePlainUnionThroughTies()
    {
        // Far after the other fixtures: 140 conferences in groups of 7 with the same start, and
        // from the fifth group on 60 direct calls in groups of 5, every other group starting with
        // a conference group. The first pages come from the conferences alone, so a tie group
        // straddles the end of what that branch hands over. Within a group the start index orders
        // by end and name, against the id order; unrecorded conferences sit inside the groups.
        const qint64 B = T + 500000;
        QStringList conferences, calls;
        for (int i = 0; i < 140; ++i) {
            const qint64 start = B + (i / 7) * 10;
            conferences << QString("(%1, FROM_UNIXTIME(%2), FROM_UNIXTIME(%2), FROM_UNIXTIME(%3), 'r%4', %5, "
                                   "NULL)")
                               .arg(1000 + i)
                               .arg(start)
                               .arg(start + 300 - (i % 7) * 20)
                               .arg(99 - i)
                               .arg(i % 9 == 4 ? 0 : 1);
        }
        for (int i = 0; i < 60; ++i) {
            const qint64 start = B + 45 + (i / 5) * 5;
            calls << QString("(%1, FROM_UNIXTIME(%2), FROM_UNIXTIME(%3), '%4', '%5', '/rec/%1.wav')")
                         .arg(1000 + i)
                         .arg(start)
                         .arg(start + 200 - (i % 5) * 30)
                         .arg(2000 - i)
                         .arg(i % 3);
        }
        QVERIFY(
            sql("ALTER TABLE cdr ADD KEY by_startrecord (has_record, startrecord, id, endtime, conference);"
                "ALTER TABLE recordings ADD KEY by_starttime (starttime, id, endtime, caller, callee);"
                "INSERT INTO cdr VALUES " +
                conferences.join(",") + "; INSERT INTO recordings VALUES " + calls.join(",")));
        // The window cuts through the first group of calls by their ends.
        const qint64 from = B + 130, to = B + 10 * 60;

        // The whole window as the plain union gives it, in full order.
        const QString plain =
            QString("(SELECT 1 AS type, id, UNIX_TIMESTAMP(startrecord) AS start, "
                    "UNIX_TIMESTAMP(endtime), conference AS text FROM cdr WHERE "
                    "UNIX_TIMESTAMP(endtime) >= %1 AND UNIX_TIMESTAMP(startrecord) <= %2 "
                    "AND has_record=1) UNION (SELECT 0 AS type, id, UNIX_TIMESTAMP(starttime) "
                    "AS start, UNIX_TIMESTAMP(endtime), CONCAT(caller, ' - ', callee) AS "
                    "text FROM recordings WHERE UNIX_TIMESTAMP(endtime) >= %1 AND "
                    "UNIX_TIMESTAMP(starttime) <= %2)")
                .arg(from)
                .arg(to);
        QString out;
        QVERIFY(m_db.exec(
            "USE dispatcher; SELECT type, id, start FROM (" + plain + ") u ORDER BY start, type, id", &out));
        const QStringList expected = out.trimmed().split('\n');
        QVERIFY2(expected.size() > 170, qPrintable(QString::number(expected.size())));

        // Read with the window's end bound alone, then bounded by the longest recording as the lab's
        // tables allow.
        for (const bool bounded : {false, true}) {
            if (bounded) {
                QVERIFY(sql(
                    "ALTER TABLE cdr ADD COLUMN record_seconds INT AS (TIMESTAMPDIFF(SECOND, startrecord, "
                    "endtime)) VIRTUAL, ADD KEY (has_record, record_seconds);"
                    "ALTER TABLE recordings ADD COLUMN record_seconds INT AS (TIMESTAMPDIFF(SECOND, "
                    "starttime, endtime)) VIRTUAL, ADD KEY (record_seconds);"));
                QVERIFY(connectDb());
                QVERIFY(m_connection->hasRecordSeconds("cdr") &&
                        m_connection->hasRecordSeconds("recordings"));
            }
            // Page through the list as the operator does: twenty at a time through the row that loads more.
            QVERIFY(filter(RecordListModel::AllKinds, from, to));
            while (m_model->hasMore()) {
                QSignalSpy done(m_model.get(), &RecordListModel::recordFilterDone);
                m_model->fetchNextPage();
                QVERIFY(done.wait(20000));
            }
            QStringList shown;
            for (int r = 0; r < m_model->rowCount(); ++r) {
                const QModelIndex i = m_model->index(r, 0);
                shown << QString("%1\t%2\t%3")
                             .arg(i.data(RecordListModel::RecordIsConferenceRole).toBool() ? 1 : 0)
                             .arg(i.data(RecordListModel::RecordIdRole).toULongLong())
                             .arg(i.data(RecordListModel::RecordStartRole).toDateTime().toSecsSinceEpoch());
            }
            QCOMPARE(shown, expected);

            // Each page of the server's answer, next to the plain union's: the same starts in the same
            // order (the plain form alone leaves tied rows in any order), and exactly the full list's slice.
            for (int offset = 0; offset < expected.size(); offset += 20) {
                QString fast, slow;
                QVERIFY(m_db.exec("USE dispatcher; SELECT type, id, start FROM (" +
                                      m_model->pageQuery(offset) + ") u ORDER BY start, type, id",
                                  &fast));
                QVERIFY(
                    m_db.exec("USE dispatcher; SELECT start FROM (" + plain +
                                  QString(" ORDER BY start LIMIT 21 OFFSET %1) u ORDER BY start").arg(offset),
                              &slow));
                const QStringList page = fast.trimmed().split('\n');
                QCOMPARE(page, expected.mid(offset, 21));
                QStringList starts;
                for (const QString &row : page)
                    starts << row.section('\t', 2);
                QCOMPARE(starts, slow.trimmed().split('\n'));
            }
            QVERIFY2(m_model->pageQuery(0).contains("record_seconds") == bounded,
                     qPrintable(m_model->pageQuery(0)));
        }
        QVERIFY(sql("DELETE FROM cdr WHERE id >= 1000; DELETE FROM recordings WHERE id >= 1000;"
                    "ALTER TABLE cdr DROP COLUMN record_seconds; ALTER TABLE recordings DROP COLUMN "
                    "record_seconds;"));
        QVERIFY(connectDb());
    }

    void detailsOfTheSelectedRecording()
    {
        QVERIFY(sql(QString("UPDATE cdr SET xml='%1' WHERE id=5")
                        .arg(cdrXml(member("recording_node", times(T + 305, T + 330) +
                                                                 "<record_path>/rec/a.wav</record_path>") +
                                    member("caller", times(T + 300, T + 330) +
                                                         "<caller_profile><caller_id_number>1001</caller_id_"
                                                         "number></caller_profile>") +
                                    "<member><caller_profile/></member>" +
                                    member("caller", times(T + 310, T + 320, "local") +
                                                         "<caller_profile><caller_id_number>1002</caller_id_"
                                                         "number></caller_profile>") +
                                    member("caller", times(T, T)) + member("moderator", "") +
                                    member("recording_node", times(T + 315, T + 330) +
                                                                 "<record_path>/rec/b.wav</record_path>")))));
        // Both recording nodes; members without a type or a caller profile are skipped.
        QCOMPARE(select(true, 5, 2), (QList<QVariantList>{{at(T + 305), at(T + 330), "/rec/a.wav"},
                                                          {at(T + 315), at(T + 330), "/rec/b.wav"}}));
        RecordParticipantListModel *p = m_model->participants();
        QCOMPARE(p->rowCount(), 2);
        QCOMPARE(p->index(0, 0).data().toString(), QString("1001"));
        QCOMPARE(p->index(0, 0).data(RecordParticipantListModel::JoinTimeRole).toDateTime(), at(T + 300));
        QCOMPARE(p->index(1, 0).data().toString(), QString("1002"));
        QVERIFY(!p->index(1, 0).data(RecordParticipantListModel::JoinTimeRole).toDateTime().isValid());
        QCOMPARE(p->index(1, 0).data(RecordParticipantListModel::LeaveTimeRole).toDateTime(), at(T + 320));

        // A direct recording: its window and file; the participants of the last one are gone.
        QCOMPARE(select(false, 2, 1), (QList<QVariantList>{{at(T + 95), at(T + 95), "/rec/two.wav"}}));
        QCOMPARE(p->rowCount(), 0);

        // Selecting one row and then another before the first answer: only the second counts, whichever
        // table each comes from.
        QSignalSpy times(m_model.get(), &RecordListModel::recordingTime);
        m_model->selectRecord(true, 5);
        m_model->selectRecord(false, 1);
        QVERIFY(times.wait(20000));
        m_model->selectRecord(false, 2);
        m_model->selectRecord(true, 5);
        QTRY_COMPARE(times.count(), 3);
        QTest::qWait(100);
        QCOMPARE(times.count(), 3);
        QCOMPARE(times.at(0).at(2).toString(), QString("/rec/one.wav"));
        QCOMPARE(times.at(2).at(2).toString(), QString("/rec/b.wav"));
        QCOMPARE(p->rowCount(), 2);
    }

    void malformedCdrsSayWhatIsMissing_data()
    {
        QTest::addColumn<QString>("xml");
        QTest::addColumn<QString>("shown");
        QTest::newRow("not xml")
            << "<cdr><conference>"
            << "Ошибка парсинга CDR для записи 6: XML error 'unexpected end of file' at line "
               "1 column 18";
        QTest::newRow("no cdr") << "<call/>"
                                << "Ошибка парсинга CDR для записи 6: отсутствует элемент 'cdr'";
        QTest::newRow("no conference")
            << "<cdr><conf/></cdr>"
            << "Ошибка парсинга CDR для записи 6: отсутствует элемент 'conference' в "
               "элементе 'cdr'";
        QTest::newRow("no members") << "<cdr><conference><member type=\"caller\"/></conference></cdr>"
                                    << "Ошибка парсинга CDR для записи 6: отсутствует элемент 'members' в "
                                       "элементе 'conference'";
    }

    void malformedCdrsSayWhatIsMissing()
    {
        QFETCH(QString, xml);
        QFETCH(QString, shown);
        QVERIFY(sql("UPDATE cdr SET xml=" + TestMariaDb::quoted(xml) + " WHERE id=6"));
        QCOMPARE(select(true, 6, 1), (QList<QVariantList>{{shown}}));
        QCOMPARE(m_model->participants()->rowCount(), 0);
    }

    void failuresReleaseThePanel()
    {
        // An unknown kind: logged, and the panel is released without a query.
        QSignalSpy done(m_model.get(), &RecordListModel::recordFilterDone);
        QSignalSpy messages(m_model.get(), &RecordListModel::message);
        m_model->ApplyRecordFilter(3, at(T), at(T + 100));
        QCOMPARE(done.count(), 1);

        // A query error tells the operator what failed without the SQL.
        QVERIFY(sql("RENAME TABLE cdr TO cdr_gone"));
        QVERIFY(filter(RecordListModel::ConferenceKind, T, T + 100));
        QVERIFY(sql("RENAME TABLE cdr_gone TO cdr"));
        QCOMPARE(messages.count(), 1);
        const QString shown = messages.first().first().toString();
        QVERIFY2(shown.startsWith("Не удалось загрузить список записей") && !shown.contains("SELECT"),
                 qPrintable(shown));
        QCOMPARE(m_model->rowCount(), 0);
        QVERIFY(!m_model->isLoading());

        // Without the recordings table, direct recordings are an empty list at once and "all" lists
        // conference recordings only, ordered by starttime without the startrecord column.
        QVERIFY(sql("DROP TABLE recordings; ALTER TABLE cdr DROP COLUMN startrecord"));
        QVERIFY(connectDb());
        m_model->ApplyRecordFilter(RecordListModel::ConferenceKind, at(T), at(T + 200));
        QVERIFY(filter(RecordListModel::DirectKind, T, T + 100));
        QTest::qWait(200); // the conference page it replaced must not fill the list
        QCOMPARE(m_model->rowCount(), 0);
        QVERIFY(!m_model->isLoading());
        QVERIFY(filter(RecordListModel::AllKinds, T, T + 200));
        QCOMPARE(ids(), (QList<quint64>{2, 3}));
        QCOMPARE(messages.count(), 1);
    }
};

QTEST_MAIN(RecordListModelTest)
#include "recordlistmodel_test.moc"
