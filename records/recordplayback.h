#pragma once

#include "esl/esl2.h"

#include <QDateTime>
#include <QModelIndex>
#include <QObject>
#include <QTimer>
#include <QVariant>

#include <functional>

class RecordListModel;

// Plays the selected recording into the conference the dispatcher is in, through the
// server's conference commands, and keeps the playback panel's state: labels, which
// controls are enabled, the play/pause icon and a local estimate of the position for
// the slider. Holds no widgets: the recordings page draws panel() on panelChanged()
// and shows message() texts in modal boxes. Owned by the main window; GUI thread.
class RecordPlayback final : public QObject
{
    Q_OBJECT

public:
    // What the playback panel shows.
    struct Panel
    {
        QString title;
        QString date;
        QString timeRange;
        QString startLabel = QStringLiteral("00:00");
        QString endLabel = QStringLiteral("00:00");
        QString position;
        bool playEnabled = false;
        bool stopEnabled = false;
        bool sliderEnabled = false;
        bool showPause = false; // the play/pause button shows the pause icon
        int slider = 0;         // millionths of the recording's duration
    };
    static constexpr int kSliderRange = 1000000;

    // esl null: the process-wide client, looked up when a command is sent.
    RecordPlayback(RecordListModel *records, ESL2 *esl = nullptr, QObject *parent = nullptr);

    // Where the dispatcher's conferences come from; by default the process-wide
    // conference list model. An empty function means there is no such model.
    void setConferenceSource(std::function<QStringList()> source) { m_conferences = std::move(source); }
    // Monotonic milliseconds; replaceable so tests can drive the position estimate.
    void setClock(std::function<qint64()> clock) { m_clock = std::move(clock); }

    const Panel &panel() const { return m_panel; }
    bool isPlaying() const { return m_playing; }
    bool isPaused() const { return m_paused; }
    QString playConference() const { return m_playConference; }
    QString recordFile() const { return m_recordFile; }
    qint64 recordDuration() const { return m_recordDuration; }
    qint64 playOffsetMs() const { return m_playOffsetMs; }
    bool isSliderTimerActive() const { return m_sliderTimer.isActive(); }

    // The user holds the slider: the timer leaves it alone.
    void setSliderDown(bool down) { m_sliderDown = down; }
    // The main window closes: a playing recording is stopped, no reply wanted.
    void windowClosing();

    static QString formatDuration(qint64 seconds);
    // A recording path the conference "play" command takes as one word; false with a
    // Russian reason otherwise.
    static bool isPlayableFile(const QString &file, QString *why = nullptr);

signals:
    void panelChanged();
    void message(QString text);

public slots:
    void recordSelected(QModelIndex index);
    void recordDeselected();
    void recordingTime(QDateTime start, QDateTime end, QString file);
    void PlayButtonPressed();
    void StopButtonPressed();
    void playFileResult(QString res, QVariant ctx);
    void pausePlayResult(QString res, QVariant ctx);
    void stopResult(QString res, QVariant ctx);
    void stopResult2(QString res, QVariant ctx);
    void fileSeekResult(QString res, QVariant ctx);
    void recordSliderUpdate(qint64 posMS);
    void recordSliderUpdate();
    void valueChangeForSlider(int value);
    void recordSliderReleased();
    void conferenceEvent(ESL2::Event event);

private:
    ESL2 *esl() const;
    void send(const QString &command, const char *slot, const QVariant &ctx = QVariant());
    void restartClock() { m_clockStart = m_clock(); }
    qint64 elapsed() const { return m_clock() - m_clockStart; }
    void changed() { emit panelChanged(); }
    void failed(const char *logText, const QString &shown, const QString &res);

    RecordListModel *m_records;
    ESL2 *m_esl;
    std::function<QStringList()> m_conferences;
    std::function<qint64()> m_clock;
    Panel m_panel;
    QString m_playConference;
    QDateTime m_recordStart;
    QDateTime m_recordEnd;
    qint64 m_recordDuration = 1;
    QString m_recordFile;
    bool m_playing = false;
    bool m_paused = false;
    qint64 m_clockStart = 0;
    qint64 m_playOffsetMs = 0;
    QTimer m_sliderTimer;
    qint64 m_lastShownSecond = -1;
    bool m_sliderDown = false;
};
