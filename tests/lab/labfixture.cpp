#include "tests/lab/labfixture.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtEndian>

namespace {

QString dataDir()
{
    return qEnvironmentVariable("TESMAR_SOURCE_DIR") + QStringLiteral("/tests/lab/data");
}

void appendLe(QByteArray &out, quint32 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.append(char((value >> (8 * i)) & 0xff));
}

} // namespace

LabFixture::LabFixture(double timeScale, const QStringList &allow)
{
    QDir root(m_dir.path());
    root.mkdir(QStringLiteral("directory"));
    root.mkdir(QStringLiteral("recordings"));
    const QDir source(dataDir() + QStringLiteral("/directory"));
    for (const QString &name : source.entryList({QStringLiteral("*.xml")}, QDir::Files))
        QFile::copy(source.filePath(name), QDir(directoryPath()).filePath(name));

    LabConfig config;
    config.listenPort = 0;
    config.directory = directoryPath();
    config.recordings = recordingsPath();
    config.timeScale = timeScale;
    config.allow = allow;
    m_server = std::make_unique<LabServer>(config);
    m_control = std::make_unique<LabControl>(m_server.get());
    m_ok = m_dir.isValid() && source.exists() && m_server->start();
}

QString LabFixture::run(const QString &line)
{
    QString result;
    bool answered = false;
    m_control->execute(line, [&](const QString &status, const QByteArray &data) {
        result = status + (data.isEmpty() ? QString() : QLatin1Char('\n') + QString::fromUtf8(data));
        answered = true;
    });
    return answered ? result : QStringLiteral("(no immediate reply)");
}

QByteArray LabFixture::reference(const QString &stem)
{
    QFile f(dataDir() + QStringLiteral("/replies/") + stem + QStringLiteral(".recv"));
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("missing reference ") + stem.toUtf8();
    return f.readAll();
}

QStringList LabFixture::referenceFields(const QString &stem)
{
    QFile f(dataDir() + QStringLiteral("/events/") + stem + QStringLiteral(".raw"));
    if (!f.open(QIODevice::ReadOnly))
        return {QStringLiteral("missing reference ") + stem};
    const QByteArray raw = f.readAll();
    return QJsonDocument::fromJson(raw.mid(raw.indexOf("\n\n") + 2)).object().keys();
}

QString LabFixture::writeWav(const QString &name, int milliseconds)
{
    const quint32 rate = 8000;
    const quint32 dataSize = rate * 2 * quint32(milliseconds) / 1000;
    QByteArray wav = "RIFF";
    appendLe(wav, 36 + dataSize, 4);
    wav += "WAVEfmt ";
    appendLe(wav, 16, 4);
    appendLe(wav, 1, 2); // PCM
    appendLe(wav, 1, 2); // mono
    appendLe(wav, rate, 4);
    appendLe(wav, rate * 2, 4); // byte rate
    appendLe(wav, 2, 2);
    appendLe(wav, 16, 2);
    wav += "data";
    appendLe(wav, dataSize, 4);
    wav.append(QByteArray(int(dataSize), '\0'));
    const QString path = QDir(recordingsPath()).filePath(name);
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(wav);
    return path;
}
