#include "tests/sip/siprig.h"

#include <QHostAddress>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTest>
#include <QUdpSocket>
#include <QVector>

namespace SipRig {

int freeSipPort()
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        QUdpSocket udp;
        QTcpServer tcp, tls;
        if (udp.bind(QHostAddress(QHostAddress::AnyIPv4), 0) && udp.localPort() < 65534 &&
            tcp.listen(QHostAddress::AnyIPv4, udp.localPort()) &&
            tls.listen(QHostAddress::AnyIPv4, udp.localPort() + 1))
            return udp.localPort();
    }
    return -1;
}

QString sippPath()
{
    return QStandardPaths::findExecutable(QStringLiteral("sipp"));
}

bool startSipp(QProcess &sipp, const char *scenarioName, QStringList extra)
{
    extra << "-sf" << QStringLiteral(SIP_SCENARIO_DIR "/") + QLatin1String(scenarioName);
    // Own media and control ports: sipp's defaults (6000, 8888) are shared
    // by every sipp on the machine.
    extra += QStringLiteral("-i 127.0.0.1 -m 1 -nostdin -timeout 60s -cp %1").arg(freeSipPort()).split(' ');
    if (!extra.contains(QLatin1String("-mp")))
        extra << "-mp" << QString::number(freeSipPort());
    sipp.setProcessChannelMode(QProcess::MergedChannels);
    sipp.start(sippPath(), extra);
    return sipp.waitForStarted();
}

bool callAgent(QProcess &sipp, int agentPort, int rtpPort, QStringList extra)
{
    extra += QStringLiteral("127.0.0.1:%1 -p %2 -s dispatcher -set rtpport %3")
                 .arg(agentPort)
                 .arg(freeSipPort())
                 .arg(rtpPort)
                 .split(' ');
    return startSipp(sipp, "uac_call.xml", extra);
}

bool sippEnded(QProcess &sipp)
{
    return sipp.state() == QProcess::NotRunning || sipp.waitForFinished(15000);
}

bool pactl(const QStringList &arguments, QByteArray *output)
{
    QProcess process;
    process.start(QStringLiteral("pactl"), arguments);
    if (!process.waitForFinished(10000))
        return false;
    if (output)
        *output = process.readAllStandardOutput();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QString pulseAudioMissing()
{
    if (QStandardPaths::findExecutable(QStringLiteral("pactl")).isEmpty())
        return QStringLiteral("pactl is not installed");
    if (pactl({"info"}))
        return QString();
    QProcess::execute(QStringLiteral("pulseaudio"), {"-D", "--exit-idle-time=-1"});
    for (int i = 0; i < 20; ++i, QTest::qWait(250))
        if (pactl({"info"}))
            return QString();
    return QStringLiteral("no PulseAudio server could be reached or started");
}

bool PulseModules::load(const QString &moduleAndArguments)
{
    QByteArray id;
    if (!pactl(QStringList{"load-module"} + moduleAndArguments.split(QLatin1Char(' ')), &id))
        return false;
    m_ids << id.trimmed();
    return true;
}

void PulseModules::unloadAll()
{
    // Newest first: a module playing into a sink goes before the sink.
    while (!m_ids.isEmpty())
        pactl({"unload-module", QString::fromLatin1(m_ids.takeLast())});
}

QByteArray named(const QList<QByteArray> &names, const QByteArray &end)
{
    for (const QByteArray &name : names)
        if (name.endsWith(end))
            return name;
    return QByteArray();
}

bool Recorder::start(const QString &source)
{
    m_parec.start(QStringLiteral("parec"), {"-d", source, "--raw", "--format=s16le", "--rate=8000",
                                            "--channels=1", "--latency-msec=20"});
    return m_parec.waitForStarted();
}

void Recorder::stop()
{
    if (m_parec.state() == QProcess::NotRunning)
        return;
    m_parec.kill();
    m_parec.waitForFinished(5000);
}

QVector<qint16> Recorder::take()
{
    const QByteArray data = m_parec.readAllStandardOutput();
    QVector<qint16> samples(data.size() / 2);
    memcpy(samples.data(), data.constData(), size_t(samples.size()) * 2);
    return samples;
}

} // namespace SipRig
