#include "ui/errorpanel.h"

#include <QAudioDecoder>
#include <QAudioDeviceInfo>
#include <QAudioOutput>
#include <QDebug>
#include <QMouseEvent>
#include <QPainter>

namespace {
const int kMinimumDisplayMs = 5000;
const int kTextLeft = 8;
const int kTextRightInset = 16;
const int kIconLeftInset = 40;
const int kIconRightInset = 17;
const int kClickRightInset = 16;
const int kIconHeight = 23;
const int kTextToIconGap = 8;
} // namespace

ErrorPanel::ErrorPanel(QWidget *parent)
    : QLabel(parent)
    , m_alarmFile(QStringLiteral(":/Data/alarm.wav"))
    , m_muteIcon(QStringLiteral(":/Data/mute24.png"))
    , m_decoder(new QAudioDecoder(this))
{
    setObjectName(QStringLiteral("errorPanel"));
    setFrameShape(QFrame::Panel);
    setFrameShadow(QFrame::Raised);
    setAutoFillBackground(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse);
    setMouseTracking(true);
    hide();

    m_displayTimer.setSingleShot(true);
    m_displayTimer.setInterval(kMinimumDisplayMs);
    connect(&m_displayTimer, &QTimer::timeout, this, &ErrorPanel::timeout);

    if (!m_alarmFile.open(QIODevice::ReadOnly))
        qWarning() << "ErrorPanel::ErrorPanel(): cannot open" << m_alarmFile.fileName();
    m_decodedAudio.setBuffer(&m_decodedBytes);
    m_decodedAudio.open(QIODevice::ReadOnly);

    connect(m_decoder, &QAudioDecoder::bufferReady, this, &ErrorPanel::audioDataReady);
    connect(m_decoder, &QAudioDecoder::finished, this, &ErrorPanel::audioDecodingFinished);
}

ErrorPanel::~ErrorPanel()
{
    // The output reads from m_decodedAudio; it must stop before the buffer goes.
    if (m_output) {
        m_output->disconnect(this);
        m_output->stop();
        delete m_output;
    }
    m_decoder->disconnect(this);
    m_decoder->stop();
}

void ErrorPanel::showFirst()
{
    setText(m_messages.first());
    setToolTip(m_messages.first());
    show();
    m_minimumShown = false;
    m_removalPending = false;
    m_displayTimer.start();
}

void ErrorPanel::dropFirst()
{
    m_messages.removeFirst();
    if (!m_messages.isEmpty()) {
        showFirst();
        return;
    }
    m_displayTimer.stop();
    hide();
    if (m_output)
        m_output->stop();
    m_muted = false;
}

void ErrorPanel::playFromStart()
{
    if (!m_output)
        return;
    m_output->stop();
    m_decodedAudio.seek(0);
    m_output->start(&m_decodedAudio);
}

void ErrorPanel::stopOutput()
{
    if (m_output)
        m_output->stop();
}

void ErrorPanel::addError(QString msg)
{
    if (m_messages.contains(msg)) {
        if (m_messages.first() == msg)
            m_removalPending = false;
        return;
    }
    m_messages.append(msg);
    if (m_messages.size() > 1)
        return;
    showFirst();
    if (m_output && m_decoded) {
        playFromStart();
        m_muted = false;
    }
}

void ErrorPanel::removeError(QString msg)
{
    if (!m_messages.isEmpty() && m_messages.first() == msg) {
        if (!m_minimumShown) {
            m_removalPending = true;
            return;
        }
        dropFirst();
        return;
    }
    const int at = m_messages.indexOf(msg);
    if (at > 0)
        m_messages.removeAt(at);
}

void ErrorPanel::timeout()
{
    m_minimumShown = true;
    if (m_removalPending)
        dropFirst();
}

void ErrorPanel::handleStateChanged(QAudio::State newState)
{
    // Idle means the whole alarm has been played: start it over for a seamless loop.
    if (newState == QAudio::IdleState && m_output) {
        m_decodedAudio.seek(0);
        m_output->start(&m_decodedAudio);
    }
}

void ErrorPanel::setVolume(int v)
{
    if (v == m_volume)
        return;
    m_volume = v;
    if (m_output)
        m_output->setVolume(qreal(v) / 100);
}

QAudioFormat ErrorPanel::chooseFormat(const QAudioDeviceInfo &device)
{
    QAudioFormat format = device.preferredFormat();
    if (device.isFormatSupported(format))
        return format;
    for (int rate : device.supportedSampleRates()) {
        format.setSampleRate(rate);
        for (int channels : device.supportedChannelCounts()) {
            format.setChannelCount(channels);
            for (int size : device.supportedSampleSizes()) {
                format.setSampleSize(size);
                for (QAudioFormat::Endian order : device.supportedByteOrders()) {
                    format.setByteOrder(order);
                    for (QAudioFormat::SampleType type : device.supportedSampleTypes()) {
                        format.setSampleType(type);
                        if (device.isFormatSupported(format))
                            return format;
                    }
                }
            }
        }
    }
    return format;
}

void ErrorPanel::setAudioDevice(QString devName)
{
    if (m_output) {
        m_output->disconnect(this);
        m_output->stop();
        delete m_output;
        m_output = nullptr;
    }

    QAudioDeviceInfo device;
    bool found = false;
    const QList<QAudioDeviceInfo> devices = QAudioDeviceInfo::availableDevices(QAudio::AudioOutput);
    for (const QAudioDeviceInfo &info : devices) {
        if (!devName.isEmpty() && info.deviceName() == devName) {
            device = info;
            found = true;
            break;
        }
    }
    if (!found) {
        qCritical() << "ErrorPanel::setAudioDevice(): device" << devName << "not found";
        return;
    }

    m_decoded = false;
    const QAudioFormat format = chooseFormat(device);
    if (!device.isFormatSupported(format)) {
        qWarning() << "ErrorPanel::setAudioDevice(): supported format for card" << devName << "not found";
        return;
    }
    qDebug() << "ErrorPanel::setAudioDevice(): selected format:" << format;

    m_output = new QAudioOutput(device, format, this);
    connect(m_output, &QAudioOutput::stateChanged, this, &ErrorPanel::handleStateChanged);
    m_output->setVolume(qreal(m_volume) / 100);

    m_decoder->stop();
    m_alarmFile.seek(0);
    m_decoder->setSourceDevice(&m_alarmFile);
    m_decoder->setAudioFormat(format);
    m_decodedAudio.seek(0);
    m_decodedBytes.clear();
    m_decoder->start();
}

void ErrorPanel::audioDataReady()
{
    const QAudioBuffer buffer = m_decoder->read();
    if (!buffer.isValid()) {
        qCritical() << "ErrorPanel::audioDataReady(): buffer is invalid";
        return;
    }
    m_decodedBytes.append(buffer.constData<char>(), buffer.byteCount());
}

void ErrorPanel::audioDecodingFinished()
{
    m_decoded = true;
    if (m_testing || (!m_messages.isEmpty() && !m_muted))
        playFromStart();
}

void ErrorPanel::startAlarmTest()
{
    m_testing = true;
    if (m_decoded)
        playFromStart();
}

void ErrorPanel::stopAlarmTest()
{
    if (!m_testing)
        return;
    m_testing = false;
    if (m_messages.isEmpty() || m_muted)
        stopOutput();
}

QRect ErrorPanel::muteIconArea() const
{
    return QRect(width() - kIconLeftInset, 0, kIconLeftInset - kIconRightInset, height());
}

QRect ErrorPanel::muteClickArea() const
{
    return QRect(width() - kIconLeftInset, (height() - kIconHeight) / 2, kIconLeftInset - kClickRightInset,
                 kIconHeight);
}

void ErrorPanel::paintEvent(QPaintEvent *event)
{
    // The frame and background come from QFrame; the text is drawn here so that
    // it elides and leaves room for the mute icon.
    QFrame::paintEvent(event);
    QPainter painter(this);
    QRect textArea(kTextLeft, 0, width() - kTextLeft - kTextRightInset, height());
    if (!m_muted && underMouse()) {
        const QRect box = muteIconArea();
        textArea.setRight(box.left() - kTextToIconGap);
        m_muteIcon.paint(&painter, box, Qt::AlignCenter);
    }
    const QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, textArea.width());
    painter.setPen(palette().color(foregroundRole()));
    painter.drawText(textArea, int(alignment()), shown);
}

void ErrorPanel::mousePressEvent(QMouseEvent *event)
{
    QLabel::mousePressEvent(event);
    if (muteClickArea().contains(event->pos())) {
        m_muted = true;
        stopOutput();
        update();
    }
}

void ErrorPanel::enterEvent(QEvent *event)
{
    QLabel::enterEvent(event);
    update();
}

void ErrorPanel::leaveEvent(QEvent *event)
{
    QLabel::leaveEvent(event);
    update();
}
