#include "tests/lab/labfixture.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtMath>

static QString dataDir()
{
    return qEnvironmentVariable("TESMAR_SOURCE_DIR") + "/tests/lab/data/";
}

LabFixture::LabFixture(double timeScale, const QStringList &allow, const QString &sipListen)
{
    QDir root(m_dir.path());
    root.mkdir("directory");
    root.mkdir("recordings");
    const QDir source(dataDir() + "directory");
    for (const QString &name : source.entryList({"*.xml"}, QDir::Files))
        QFile::copy(source.filePath(name), QDir(directoryPath()).filePath(name));

    LabConfig config;
    config.listenPort = 0;
    config.directory = directoryPath();
    config.recordings = recordingsPath();
    config.timeScale = timeScale;
    config.allow = allow;
    config.sipListen = sipListen;
    m_server = std::make_unique<LabServer>(config);
    m_control = std::make_unique<LabControl>(m_server.get());
    m_ok = m_dir.isValid() && source.exists() && m_server->start();
}

QString LabFixture::run(const QString &line)
{
    QString result = "(no immediate reply)";
    m_control->execute(line, [&](const QString &status, const QByteArray &data) {
        result = status + (data.isEmpty() ? QString() : '\n' + QString::fromUtf8(data));
    });
    return result;
}

// The recorded file named "<number>_..." in one of the data folders; empty if there is none.
static QByteArray recorded(const QString &folder, const QString &number)
{
    const QDir dir(dataDir() + folder);
    const QStringList names = dir.entryList({number + "_*"}, QDir::Files);
    QFile f(names.size() == 1 ? dir.filePath(names.first()) : QString());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray LabFixture::reference(const QString &number)
{
    const QByteArray data = recorded("replies", number);
    return data.isEmpty() ? "missing reference " + number.toUtf8() : data;
}

QStringList LabFixture::referenceFields(const QString &number)
{
    const QByteArray raw = recorded("events", number);
    if (raw.isEmpty())
        return {"missing reference " + number};
    return QJsonDocument::fromJson(raw.mid(raw.indexOf("\n\n") + 2)).object().keys();
}

QString LabFixture::problems(const LabFrame &event, const QString &number, const LabFields &expected)
{
    QStringList missing;
    for (const QString &k : referenceFields(number)) {
        if (!event.json().contains(k))
            missing << k;
    }
    const QString wrong = event.mismatches(expected);
    return (missing.isEmpty() ? QString() : "missing " + missing.join(',') + "; ") + wrong;
}

bool LabFixture::writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

QString LabFixture::writeWav(const QString &name, int milliseconds, int hz, int amplitude)
{
    const quint32 rate = 8000, dataSize = rate * 2 * quint32(milliseconds) / 1000;
    QByteArray wav;
    QDataStream out(&wav, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData("RIFF", 4);
    out << 36 + dataSize;
    out.writeRawData("WAVEfmt ", 8);
    // PCM, mono, byte rate, block size, bits per sample.
    out << quint32(16) << quint16(1) << quint16(1) << rate << rate * 2 << quint16(2) << quint16(16);
    out.writeRawData("data", 4);
    out << dataSize;
    const QString path = QDir(recordingsPath()).filePath(name);
    for (quint32 i = 0; i < dataSize / 2; ++i)
        out << qint16(qRound(amplitude * qSin(2 * M_PI * hz * i / rate)));
    writeFile(path, wav);
    return path;
}
