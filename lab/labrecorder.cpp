#include "lab/labrecorder.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QtEndian>

#include <cmath>

namespace {

qint64 nowSec()
{
    return QDateTime::currentSecsSinceEpoch();
}

// Long conferences get a file of this length at most: the lab plays it, nobody listens.
const qint64 kMaxWavSeconds = 600;
const int kRate = 8000;

QString epoch(const char *element, qint64 seconds)
{
    return QStringLiteral("<%1 type=\"UNIX-epoch\">%2</%1>").arg(QLatin1String(element)).arg(seconds);
}

QString text(const char *element, const QString &value)
{
    return QStringLiteral("<%1>%2</%1>").arg(QLatin1String(element), value.toHtmlEscaped());
}

} // namespace

LabRecorder::LabRecorder(const QString &folder, const QString &command, bool recordAll, QObject *parent)
    : QObject(parent), m_folder(folder), m_command(command), m_recordAll(recordAll)
{}

void LabRecorder::conferenceCreated(const QString &conference)
{
    Conference &c = m_conferences[conference];
    c = Conference();
    c.record.conference = conference;
    c.record.start = nowSec();
    if (m_recordAll)
        record(conference, QString());
}

void LabRecorder::memberJoined(const QString &conference, int memberId, const QString &number,
                               const QString &name)
{
    auto it = m_conferences.find(conference);
    if (it == m_conferences.end())
        return;
    it->memberIndex.insert(memberId, it->record.members.size());
    it->record.members.append(Member{number, name, nowSec(), 0});
}

void LabRecorder::memberLeft(const QString &conference, int memberId)
{
    auto it = m_conferences.find(conference);
    if (it == m_conferences.end() || !it->memberIndex.contains(memberId))
        return;
    it->record.members[it->memberIndex.take(memberId)].leave = nowSec();
}

QString LabRecorder::record(const QString &conference, const QString &path)
{
    auto it = m_conferences.find(conference);
    if (it == m_conferences.end())
        return QStringLiteral("-ERR Conference %1 not found\n").arg(conference);
    QString file = path;
    if (file.isEmpty()) {
        file = fileNamePart(conference) + QLatin1Char('-') +
               QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")) +
               QStringLiteral(".wav");
    }
    if (QFileInfo(file).isRelative() && !m_folder.isEmpty())
        file = QDir(m_folder).absoluteFilePath(file);
    // One recording per conference: a second record replaces the first.
    it->record.file = file;
    it->record.recordStart = nowSec();
    it->recording = true;
    it->recorded = true;
    return QStringLiteral("+OK Record file %1\n").arg(file);
}

QString LabRecorder::stop(const QString &conference)
{
    auto it = m_conferences.find(conference);
    if (it == m_conferences.end())
        return QStringLiteral("-ERR Conference %1 not found\n").arg(conference);
    if (!it->recording)
        return QStringLiteral("-ERR no reply\n");
    it->recording = false;
    it->record.recordEnd = nowSec();
    return QStringLiteral("+OK Stopped recording file %1\n").arg(it->record.file);
}

bool LabRecorder::isRecording(const QString &conference) const
{
    const auto it = m_conferences.constFind(conference);
    return it != m_conferences.constEnd() && it->recording;
}

void LabRecorder::conferenceEnded(const QString &conference)
{
    auto it = m_conferences.find(conference);
    if (it == m_conferences.end())
        return;
    Conference c = it.value();
    m_conferences.erase(it);
    if (!c.recorded)
        return;
    Record &r = c.record;
    r.end = nowSec();
    if (c.recording)
        r.recordEnd = r.end;
    for (Member &m : r.members) {
        if (m.leave == 0)
            m.leave = r.end;
    }
    QString error;
    if (!writeWav(r.file, qBound<qint64>(1, r.recordEnd - r.recordStart, kMaxWavSeconds), &error))
        qWarning().noquote() << "tesmar-lab: cannot write the recording" << r.file << ":" << error;
    const QString sql = insertSql(r);
    qInfo().noquote() << "tesmar-lab: conference" << conference << "recorded to" << r.file;
    if (!m_command.isEmpty())
        runCommand(sql);
    emit recorded(r, sql);
}

void LabRecorder::runCommand(const QString &sql)
{
    QStringList args = QProcess::splitCommand(m_command);
    if (args.isEmpty())
        return;
    auto *process = new QProcess(this);
    process->setProcessChannelMode(QProcess::MergedChannels);
    connect(process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
            [process](int code, QProcess::ExitStatus status) {
                if (status != QProcess::NormalExit || code != 0) {
                    qWarning().noquote() << "tesmar-lab: the CDR command failed:"
                                         << QString::fromUtf8(process->readAll()).trimmed();
                }
                process->deleteLater();
            });
    connect(process, &QProcess::errorOccurred, this, [process](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            qWarning().noquote() << "tesmar-lab: cannot run the CDR command:" << process->errorString();
            process->deleteLater();
        }
    });
    const QString program = args.takeFirst();
    process->start(program, args);
    process->write(sql.toUtf8());
    process->closeWriteChannel();
}

QString LabRecorder::cdrXml(const Record &r)
{
    QString members;
    for (const Member &m : r.members) {
        members += QStringLiteral("<member type=\"caller\">") + epoch("join_time", m.join) +
                   epoch("leave_time", m.leave) +
                   QStringLiteral("<flags><is_moderator>false</is_moderator><end_conference>false"
                                  "</end_conference><was_kicked>false</was_kicked><is_ghost>false"
                                  "</is_ghost></flags><caller_profile>") +
                   text("username", m.number) + text("dialplan", QStringLiteral("XML")) +
                   text("caller_id_name", m.name) + text("caller_id_number", m.number) +
                   text("context", QStringLiteral("default")) + QStringLiteral("</caller_profile></member>");
    }
    members += QStringLiteral("<member type=\"recording_node\">") + text("record_path", r.file) +
               epoch("join_time", r.recordStart) + epoch("leave_time", r.recordEnd) +
               QStringLiteral("</member>");
    return QStringLiteral("<cdr><conference>") + text("name", r.conference) +
           text("hostname", QStringLiteral("tesmar-lab")) + text("rate", QStringLiteral("8000")) +
           text("interval", QStringLiteral("20")) + epoch("start_time", r.start) +
           QStringLiteral("<end_time endconference_forced=\"false\" type=\"UNIX-epoch\">%1</end_time>")
               .arg(r.end) +
           QStringLiteral("<members>") + members + QStringLiteral("</members><rejected></rejected>") +
           QStringLiteral("</conference></cdr>");
}

QString LabRecorder::insertSql(const Record &r)
{
    return QStringLiteral("INSERT INTO cdr (starttime, startrecord, endtime, conference, has_record, xml) "
                          "VALUES (FROM_UNIXTIME(%1), FROM_UNIXTIME(%2), FROM_UNIXTIME(%3), %4, 1, %5);\n")
        .arg(r.start)
        .arg(r.recordStart)
        .arg(r.end)
        .arg(sqlString(r.conference), sqlString(cdrXml(r)));
}

QString LabRecorder::sqlString(const QString &text)
{
    QString out;
    out.reserve(text.size() + 2);
    out += QLatin1Char('\'');
    for (const QChar ch : text) {
        switch (ch.unicode()) {
        case '\'':
            out += QLatin1String("\\'");
            break;
        case '\\':
            out += QLatin1String("\\\\");
            break;
        case '\0':
            out += QLatin1String("\\0");
            break;
        case '\n':
            out += QLatin1String("\\n");
            break;
        case '\r':
            out += QLatin1String("\\r");
            break;
        case 0x1a:
            out += QLatin1String("\\Z");
            break;
        default:
            out += ch;
        }
    }
    out += QLatin1Char('\'');
    return out;
}

QString LabRecorder::fileNamePart(const QString &conference)
{
    QString out;
    for (const QChar ch : conference)
        out += ch.isLetterOrNumber() || ch == QLatin1Char('-') ? ch : QLatin1Char('_');
    return out.isEmpty() ? QStringLiteral("conference") : out;
}

bool LabRecorder::writeWav(const QString &path, qint64 seconds, QString *error)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    const quint32 dataBytes = quint32(seconds * kRate * 2);
    QByteArray header(44, '\0');
    auto put32 = [&header](int at, quint32 v) { qToLittleEndian<quint32>(v, header.data() + at); };
    auto put16 = [&header](int at, quint16 v) { qToLittleEndian<quint16>(v, header.data() + at); };
    header.replace(0, 4, "RIFF");
    put32(4, 36 + dataBytes);
    header.replace(8, 8, "WAVEfmt ");
    put32(16, 16);
    put16(20, 1); // PCM
    put16(22, 1); // mono
    put32(24, kRate);
    put32(28, kRate * 2);
    put16(32, 2);
    put16(34, 16);
    header.replace(36, 4, "data");
    put32(40, dataBytes);
    file.write(header);
    // A soft tone that sounds every other second stands in for the voices.
    QByteArray second(kRate * 2, '\0');
    for (int i = 0; i < kRate; ++i)
        qToLittleEndian<qint16>(qint16(1500 * std::sin(2 * M_PI * 440 * i / kRate)), second.data() + 2 * i);
    const QByteArray silence(kRate * 2, '\0');
    for (qint64 s = 0; s < seconds; ++s)
        file.write(s % 2 == 0 ? second : silence);
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}
