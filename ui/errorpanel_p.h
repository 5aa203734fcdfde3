#pragma once

#include <QByteArray>
#include <QIODevice>

// The decoded alarm as an endless stream: reading past the end starts over at
// the beginning, so the output plays the sound back to back without ever
// running dry. Restarting an output from its idle report instead hangs Qt's
// PulseAudio backend.
class LoopingAudio final : public QIODevice
{
public:
    explicit LoopingAudio(const QByteArray *bytes, QObject *parent = nullptr)
        : QIODevice(parent), m_bytes(bytes)
    {}

    bool isSequential() const override { return true; }
    void rewind() { m_pos = 0; }
    qint64 bytesAvailable() const override { return m_bytes->isEmpty() ? 0 : m_bytes->size(); }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 size = m_bytes->size();
        if (size == 0)
            return 0;
        qint64 done = 0;
        while (done < maxSize) {
            if (m_pos >= size)
                m_pos = 0;
            const qint64 chunk = qMin(maxSize - done, size - m_pos);
            memcpy(data + done, m_bytes->constData() + m_pos, size_t(chunk));
            done += chunk;
            m_pos += chunk;
        }
        return done;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    const QByteArray *m_bytes;
    qint64 m_pos = 0;
};
