#pragma once

#include <QDateTime>
#include <QWidget>

class QComboBox;
class QLabel;
class QListView;
class QProgressBar;
class QPushButton;
class QSlider;
class QToolButton;
class DateEditWithApplyFilter;
class RecordListModel;
class RecordListView;
class RecordPlayback;
class TimeEditWithApplyFilter;

// Page 1 of the main window: the recordings filter panel, the recordings list, the
// participants of the selected recording and the playback panel. It only draws and
// forwards: the list logic is RecordListModel's, the playback logic RecordPlayback's.
// Owned by the main window's page stack; GUI thread.
class RecordsPage final : public QWidget
{
    Q_OBJECT

public:
    RecordsPage(RecordListModel *model, RecordPlayback *playback, QWidget *parent = nullptr);

    RecordListView *recordList() const { return m_list; }
    QSlider *slider() const { return m_slider; }

    // A plain modal box with the text and one OK button, the default.
    static void showMessage(QWidget *parent, const QString &text);

signals:
    void ApplyRecordFilter(int iFilteredConferences, QDateTime from, QDateTime to);

public slots:
    void ApplyFilter();
    void ClearFilter();
    void recordFilterDone();

private:
    QWidget *buildFilterPanel();
    QWidget *buildPlayPanel();
    void showPanel();
    void showCount(int count, bool more);

    RecordListModel *m_model;
    RecordPlayback *m_playback;
    QComboBox *m_kind = nullptr;
    DateEditWithApplyFilter *m_fromDate = nullptr;
    DateEditWithApplyFilter *m_toDate = nullptr;
    TimeEditWithApplyFilter *m_fromTime = nullptr;
    TimeEditWithApplyFilter *m_toTime = nullptr;
    QPushButton *m_search = nullptr;
    QPushButton *m_clear = nullptr;
    QLabel *m_busyLabel = nullptr;
    QProgressBar *m_busy = nullptr;
    QLabel *m_count = nullptr;
    RecordListView *m_list = nullptr;
    QListView *m_participants = nullptr;
    QLabel *m_title = nullptr;
    QLabel *m_date = nullptr;
    QLabel *m_timeRange = nullptr;
    QToolButton *m_play = nullptr;
    QToolButton *m_stop = nullptr;
    QLabel *m_startLabel = nullptr;
    QLabel *m_endLabel = nullptr;
    QSlider *m_slider = nullptr;
    QLabel *m_position = nullptr;
};
