#include "records/recordplayback.h"

#include "conferences/commandsafety.h"
#include "conferences/conferencelistmodel.h"
#include "records/recordlistmodel.h"

#include <QElapsedTimer>
#include <QLocale>
#include <QtDebug>

#include <algorithm>

namespace {

qint64 monotonicMs()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

QString stopCommand(const QString &conference)
{
    return QStringLiteral("api conference %1 stop\n\n").arg(conference);
}

QString endLabel(const QDateTime &when)
{
    return when.isValid() ? when.toLocalTime().toString(QStringLiteral("mm:ss")) : QStringLiteral("??:??");
}

} // namespace

RecordPlayback::RecordPlayback(RecordListModel *records, ESL2 *esl, QObject *parent)
    : QObject(parent)
    , m_records(records)
    , m_esl(esl)
    , m_conferences([]() -> QStringList {
        const ConferenceListModel *model = ConferenceListModel::instance();
        return model ? model->dispatcherConferences() : QStringList();
    })
    , m_clock(monotonicMs)
{
    m_sliderTimer.setInterval(200);
    connect(&m_sliderTimer, &QTimer::timeout, this, qOverload<>(&RecordPlayback::recordSliderUpdate));
}

QString RecordPlayback::formatDuration(qint64 seconds)
{
    const QChar zero(QLatin1Char('0'));
    if (seconds < 60)
        return QStringLiteral("%1:%2").arg(0).arg(seconds, 2, 10, zero);
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600)
        .arg((seconds / 60) % 60, 2, 10, zero)
        .arg(seconds % 60, 2, 10, zero);
}

bool RecordPlayback::isPlayableFile(const QString &file, QString *why)
{
    QString reason;
    if (file.trimmed().isEmpty())
        reason = QStringLiteral("у записи нет файла");
    else if (std::any_of(file.begin(), file.end(),
                         [](QChar c) { return c.isSpace() || c.category() == QChar::Other_Control; }))
        reason = QStringLiteral("путь к файлу записи содержит пробел или управляющий символ: «%1»")
                     .arg(file.simplified());
    if (why)
        *why = reason;
    return reason.isEmpty();
}

ESL2 *RecordPlayback::esl() const
{
    return m_esl ? m_esl : ESL2::instance();
}

void RecordPlayback::send(const QString &command, const char *slot, const QVariant &ctx)
{
    ESL2 *client = esl();
    if (!client) {
        qWarning() << "RecordPlayback: no event-socket client for" << command.trimmed();
        return;
    }
    client->sendRequest(command, this, QString::fromLatin1(slot), ctx);
}

void RecordPlayback::failed(const char *logText, const QString &shown, const QString &res)
{
    qWarning() << logText << res;
    emit message(shown + res);
}

void RecordPlayback::recordSelected(QModelIndex index)
{
    StopButtonPressed();
    if (!index.isValid()) {
        m_panel.title.clear();
        m_panel.date.clear();
        m_panel.timeRange.clear();
        changed();
        return;
    }
    const QDateTime start = index.data(RecordListModel::RecordStartRole).toDateTime().toLocalTime();
    const QDateTime end = index.data(RecordListModel::RecordEndRole).toDateTime().toLocalTime();
    const bool isConference = index.data(RecordListModel::RecordIsConferenceRole).toBool();
    const quint64 id = index.data(RecordListModel::RecordIdRole).toULongLong();
    m_panel.title = index.data(Qt::DisplayRole).toString();
    m_panel.date = QLocale().toString(start.date(), QStringLiteral("d MMMM yyyy"));
    m_panel.timeRange = start.toString(QStringLiteral("hh:mm")) + QStringLiteral(" - ") +
                        end.toString(QStringLiteral("hh:mm"));
    m_lastShownSecond = -1;
    changed();
    if (m_records)
        m_records->selectRecord(isConference, id);
}

void RecordPlayback::recordDeselected()
{
    StopButtonPressed();
    m_panel.playEnabled = false;
    m_panel.sliderEnabled = false;
    m_panel.startLabel = m_panel.endLabel = QStringLiteral("00:00");
    m_panel.position.clear();
    m_panel.title.clear();
    m_panel.date.clear();
    m_panel.timeRange.clear();
    m_lastShownSecond = -1;
    if (m_records)
        m_records->participants()->clear();
    changed();
}

void RecordPlayback::recordingTime(QDateTime start, QDateTime end, QString file)
{
    m_panel.startLabel = endLabel(start);
    m_panel.endLabel = endLabel(end);
    m_recordStart = start;
    m_recordEnd = end;
    m_recordFile = file;
    const qint64 seconds = (start.isValid() && end.isValid()) ? start.secsTo(end) : 0;
    m_recordDuration = std::max<qint64>(seconds, 1);
    if (start.isValid() && end.isValid()) {
        recordSliderUpdate(0);
        valueChangeForSlider(0);
        m_panel.playEnabled = true;
    } else {
        m_panel.playEnabled = false;
        m_panel.sliderEnabled = false;
    }
    changed();
}

void RecordPlayback::PlayButtonPressed()
{
    if (!m_conferences)
        return;
    QStringList joined = m_conferences();
    std::sort(joined.begin(), joined.end());
    m_playConference = joined.value(0);
    if (m_playConference.isEmpty()) {
        emit message(QStringLiteral("Вы должны войти в конференцию для возможности воспроизводить записи"));
        return;
    }
    QString why;
    if (!CommandSafety::isConferenceName(m_playConference, &why) || !isPlayableFile(m_recordFile, &why)) {
        emit message(QStringLiteral("Запись нельзя воспроизвести: ") + why);
        return;
    }
    if (!m_playing) {
        const QString play =
            QStringLiteral("api conference %1 play %2\n\n").arg(m_playConference, m_recordFile);
        send(stopCommand(m_playConference), "stopResult2", play);
    } else {
        // Until the server answers, a second press would toggle twice.
        m_panel.playEnabled = false;
        changed();
        send(QStringLiteral("api conference %1 pause_play\n\n").arg(m_playConference), "pausePlayResult");
    }
}

void RecordPlayback::StopButtonPressed()
{
    m_panel.stopEnabled = false;
    changed();
    if (m_playing)
        send(stopCommand(m_playConference), "stopResult");
}

void RecordPlayback::stopResult2(QString res, QVariant ctx)
{
    if (res.contains(QLatin1String("Stopped ")))
        send(ctx.toString(), "playFileResult");
    else
        failed("conference stop command returned error:",
               QStringLiteral("При попытке отмены воспроизведения возникла ошибка: "), res);
}

void RecordPlayback::playFileResult(QString res, QVariant)
{
    if (!res.contains(QLatin1String("(play) Playing file"))) {
        failed("conference play command returned error:",
               QStringLiteral("При попытке воспроизведения файла ") + m_recordFile +
                   QStringLiteral(" возникла ошибка: "),
               res);
        return;
    }
    restartClock();
    m_playing = true;
    m_paused = false;
    m_panel.showPause = true;
    m_playOffsetMs = 0;
    m_panel.stopEnabled = true;
    m_panel.sliderEnabled = true;
    m_sliderTimer.start();
    changed();
}

void RecordPlayback::pausePlayResult(QString res, QVariant)
{
    m_panel.playEnabled = true;
    if (res.contains(QLatin1String("+OK Pause"))) {
        m_paused = true;
        m_playOffsetMs += elapsed();
        m_panel.showPause = false;
        m_sliderTimer.stop();
        recordSliderUpdate(-1);
    } else if (res.contains(QLatin1String("+OK Resume"))) {
        m_paused = false;
        m_panel.showPause = true;
        restartClock();
        m_sliderTimer.start();
    } else {
        failed("conference pause_play command returned error:",
               QStringLiteral("При попытке остановки воспроизведения возникла ошибка: "), res);
    }
    changed();
}

void RecordPlayback::stopResult(QString res, QVariant)
{
    if (!res.contains(QLatin1String("Stopped "))) {
        failed("conference stop command returned error:",
               QStringLiteral("При попытке отмены воспроизведения возникла ошибка: "), res);
        return;
    }
    m_paused = false;
    m_playing = false;
    m_panel.showPause = false;
    m_sliderTimer.stop();
    recordSliderUpdate(0);
    m_panel.sliderEnabled = false;
    changed();
}

void RecordPlayback::fileSeekResult(QString res, QVariant ctx)
{
    qDebug() << "--> MainAppFrameWindow3::fileSeekResult():" << ctx << res;
    if (!res.contains(QLatin1String("+OK seek to position "))) {
        failed("conference file_seek command returned error:",
               QStringLiteral("При попытке изменить позицию воспроизведения возникла ошибка: "), res);
        return;
    }
    m_playOffsetMs = ctx.toLongLong();
    restartClock();
    recordSliderUpdate(-1);
}

void RecordPlayback::recordSliderUpdate()
{
    recordSliderUpdate(-1);
}

void RecordPlayback::recordSliderUpdate(qint64 posMS)
{
    if (m_sliderDown)
        return;
    if (posMS == -1)
        posMS = m_playOffsetMs + (m_paused ? 0 : elapsed());
    const qint64 value = std::min<qint64>(posMS * 1000 / m_recordDuration, kSliderRange);
    m_panel.slider = int(std::max<qint64>(value, 0));
    // The slider's own valueChanged comes only when the value moves; the label must follow anyway.
    valueChangeForSlider(m_panel.slider);
    changed();
}

void RecordPlayback::valueChangeForSlider(int value)
{
    m_panel.slider = value;
    const qint64 second = qint64(value) * m_recordDuration / kSliderRange;
    if (second == m_lastShownSecond)
        return;
    m_panel.position =
        m_recordStart.toLocalTime().addSecs(second).toString(QStringLiteral("dd.MM.yyyy hh:mm:ss")) +
        QStringLiteral(" (") + formatDuration(second) + QStringLiteral("/") +
        formatDuration(m_recordDuration) + QStringLiteral(")");
    m_lastShownSecond = second;
    changed();
}

void RecordPlayback::recordSliderReleased()
{
    m_sliderDown = false;
    if (!m_playing) {
        m_panel.slider = 0;
        valueChangeForSlider(0);
        changed();
        return;
    }
    const qint64 target = qint64(m_panel.slider) * m_recordDuration / 1000;
    send(QStringLiteral("api conference %1 file_seek %2\n\n").arg(m_playConference).arg(target),
         "fileSeekResult", target);
}

void RecordPlayback::conferenceEvent(ESL2::Event event)
{
    if (event.value(QStringLiteral("Event-Subclass")) != QLatin1String("conference::maintenance") ||
        event.value(QStringLiteral("Conference-Name")) != m_playConference ||
        event.value(QStringLiteral("File")) != m_recordFile || m_playConference.isEmpty())
        return;
    const QString action = event.value(QStringLiteral("Action"));
    if (action == QLatin1String("play-file")) {
        m_panel.showPause = true;
        m_panel.sliderEnabled = true;
        m_playing = true;
    } else if (action == QLatin1String("play-file-done")) {
        m_sliderTimer.stop();
        m_panel.stopEnabled = false;
        m_panel.sliderEnabled = false;
        m_panel.showPause = false;
        recordSliderUpdate(0);
        m_paused = false;
        m_playing = false;
    } else {
        return;
    }
    changed();
}

void RecordPlayback::windowClosing()
{
    if (!m_playing)
        return;
    if (ESL2 *client = esl())
        client->sendRequest(stopCommand(m_playConference));
    m_playing = false;
}
