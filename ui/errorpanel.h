#pragma once

#include <QAudio>
#include <QAudioFormat>
#include <QBuffer>
#include <QFile>
#include <QIcon>
#include <QLabel>
#include <QStringList>
#include <QTimer>

class QAudioDecoder;
class QAudioDeviceInfo;
class QAudioOutput;

// One-line warning strip at the top of the main window. Shows the oldest
// pending warning for at least five seconds, and while any warning is pending
// loops the alarm sound on the chosen system sound device until the dispatcher
// clicks the mute icon. Also plays the alarm on demand as the settings page's
// sound test. Owned by the main window; GUI thread.
class ErrorPanel final : public QLabel
{
    Q_OBJECT

public:
    explicit ErrorPanel(QWidget *parent = nullptr);
    ~ErrorPanel() override;

    QStringList messages() const { return m_messages; }
    bool minimumShown() const { return m_minimumShown; }
    bool removalPending() const { return m_removalPending; }
    bool isMuted() const { return m_muted; }
    bool isDecoded() const { return m_decoded; }
    bool isTesting() const { return m_testing; }
    int volume() const { return m_volume; }
    QAudioOutput *audioOutput() const { return m_output; }
    QByteArray decodedAudio() const { return m_decodedAudio.data(); }

    // The box a click must hit to silence the alarm, in widget coordinates.
    QRect muteClickArea() const;

    void startAlarmTest();
    void stopAlarmTest();

    // Tests shorten the 5000 ms minimum display time.
    void setMinimumDisplayTimeForTest(int ms) { m_displayTimer.setInterval(ms); }

    // Picks the device's preferred format, or the first supported combination.
    static QAudioFormat chooseFormat(const QAudioDeviceInfo &device);

public slots:
    void addError(QString msg);
    void removeError(QString msg);
    void setAudioDevice(QString devName);
    void setVolume(int v);
    void timeout();
    void handleStateChanged(QAudio::State newState);
    void audioDataReady();
    void audioDecodingFinished();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void enterEvent(QEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    void showFirst();
    void dropFirst();
    void playFromStart();
    void stopOutput();
    QRect muteIconArea() const;

    QStringList m_messages;
    QTimer m_displayTimer;
    bool m_minimumShown = false;
    bool m_removalPending = false;
    QAudioOutput *m_output = nullptr;
    QFile m_alarmFile;
    int m_volume = 0;
    bool m_muted = false;
    QIcon m_muteIcon;
    QAudioDecoder *m_decoder = nullptr;
    QByteArray m_decodedBytes;
    QBuffer m_decodedAudio;
    bool m_decoded = false;
    bool m_testing = false;
};
