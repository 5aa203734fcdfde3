#pragma once

#include "lab/labconfig.h"
#include "lab/labcontrol.h"
#include "lab/labserver.h"
#include "tests/lab/labframe.h"

#include <QByteArray>
#include <QTemporaryDir>
#include <memory>

// A lab server on a free port with its own copy of the recorded directory (users 1001-1006,
// domain 127.0.0.1), an empty recordings folder, a fast time scale, and helpers to run
// control commands and read the recorded reference replies.
class LabFixture
{
public:
    // sipListen: "addr:port" for the SIP side (port 0: any free port); empty runs without SIP.
    explicit LabFixture(double timeScale = 0.01, const QStringList &allow = {},
                        const QString &sipListen = {});

    bool ok() const { return m_ok; }
    LabServer &server() { return *m_server; }
    LabControl &control() { return *m_control; }
    quint16 port() const { return m_server->port(); }
    QString directoryPath() const { return m_dir.filePath(QStringLiteral("directory")); }
    QString recordingsPath() const { return m_dir.filePath(QStringLiteral("recordings")); }

    // Runs a control command that answers at once; returns the status line, data appended.
    QString run(const QString &line);

    // Bytes the real server sent for a recorded exchange (tests/lab/data/replies/<number>_*.recv).
    static QByteArray reference(const QString &number);
    // The JSON field names of a recorded event (tests/lab/data/events/<number>_*.raw).
    static QStringList referenceFields(const QString &number);
    // What is wrong with an event: fields of the recorded one it lacks, then expected values it
    // does not have (see LabFrame::mismatches); empty when nothing is.
    static QString problems(const LabFrame &event, const QString &number, const LabFields &expected = {});
    static bool writeFile(const QString &path, const QByteArray &data);
    // Writes a PCM WAV of the given length (8 kHz, 16-bit mono) into the recordings folder:
    // silence, or a sine of that frequency and amplitude.
    QString writeWav(const QString &name, int milliseconds, int hz = 0, int amplitude = 0);

private:
    QTemporaryDir m_dir;
    std::unique_ptr<LabServer> m_server;
    std::unique_ptr<LabControl> m_control;
    bool m_ok = false;
};
