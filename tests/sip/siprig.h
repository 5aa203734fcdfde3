#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QVector>

// What the SIP agent's tests share: free ports, sipp runs on loopback and
// PulseAudio devices of their own, so that parallel runs never meet.
namespace SipRig {

// A port free for UDP and TCP, with the next one free for TCP too (TLS).
int freeSipPort();

QString sippPath();
// One sipp run of a scenario in tests/sip/scenarios on loopback, once.
bool startSipp(QProcess &sipp, const char *scenarioName, QStringList extra);
// sipp calls the agent's UDP port once, sending its audio to rtpPort.
bool callAgent(QProcess &sipp, int agentPort, int rtpPort, QStringList extra = {});
// The test's own event processing may already have reaped the process.
bool sippEnded(QProcess &sipp);

bool pactl(const QStringList &arguments, QByteArray *output = nullptr);
// Empty when a PulseAudio server answers (started here if need be), else why not.
QString pulseAudioMissing();

// PulseAudio modules loaded for one test, unloaded when this goes.
class PulseModules
{
public:
    PulseModules() = default;
    PulseModules(const PulseModules &) = delete;
    PulseModules &operator=(const PulseModules &) = delete;
    ~PulseModules() { unloadAll(); }
    // "module-null-sink sink_name=x ..." split at blanks.
    bool load(const QString &moduleAndArguments);
    void unloadAll();

private:
    QList<QByteArray> m_ids;
};

// The first name ending in end, or empty.
QByteArray named(const QList<QByteArray> &names, const QByteArray &end);

// Records a PulseAudio source (mono, 16 bits, 8 kHz) from start() on. Runs
// all along rather than per measurement: a recorder that comes and goes
// changes the device's latency under the playing stream.
class Recorder
{
public:
    Recorder() = default;
    Recorder(const Recorder &) = delete;
    Recorder &operator=(const Recorder &) = delete;
    ~Recorder() { stop(); }
    bool start(const QString &source);
    void stop();
    // What came since the last call.
    QVector<qint16> take();

private:
    QProcess m_parec;
};

} // namespace SipRig
