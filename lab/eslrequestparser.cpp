#include "lab/eslrequestparser.h"

#include <QList>

void EslRequestParser::feed(const QByteArray &data)
{
    m_buffer.append(data);
}

bool EslRequestParser::next(EslRequest &request)
{
    // Blank lines between requests carry nothing (clients often send a third "\n").
    int skip = 0;
    while (skip < m_buffer.size() && (m_buffer[skip] == '\n' || m_buffer[skip] == '\r'))
        ++skip;
    if (skip > 0)
        m_buffer.remove(0, skip);
    if (m_buffer.isEmpty())
        return false;

    int end = -1;
    int endLength = 0;
    for (int i = 0; i + 1 < m_buffer.size(); ++i) {
        if (m_buffer[i] != '\n')
            continue;
        if (m_buffer[i + 1] == '\n') {
            end = i;
            endLength = 2;
            break;
        }
        if (m_buffer[i + 1] == '\r' && i + 2 < m_buffer.size() && m_buffer[i + 2] == '\n') {
            end = i;
            endLength = 3;
            break;
        }
    }
    if (end < 0) {
        if (m_buffer.size() > MaxSize)
            m_broken = true;
        return false;
    }

    const QList<QByteArray> lines = m_buffer.left(end).split('\n');
    EslRequest r;
    int contentLength = 0;
    for (int i = 0; i < lines.size(); ++i) {
        QByteArray line = lines[i];
        if (line.endsWith('\r'))
            line.chop(1);
        const QString text = QString::fromUtf8(line);
        if (i == 0) {
            r.command = text.trimmed();
            continue;
        }
        const int colon = text.indexOf(QLatin1Char(':'));
        if (colon < 0)
            continue;
        const QString name = text.left(colon).trimmed();
        const QString value = text.mid(colon + 1).trimmed();
        r.headers.append(qMakePair(name, value));
        if (name.compare(QLatin1String("Content-Length"), Qt::CaseInsensitive) == 0)
            contentLength = value.toInt();
    }
    if (contentLength < 0 || contentLength > MaxSize) {
        m_broken = true;
        return false;
    }
    const int bodyStart = end + endLength;
    if (m_buffer.size() < bodyStart + contentLength)
        return false;
    r.body = m_buffer.mid(bodyStart, contentLength);
    m_buffer.remove(0, bodyStart + contentLength);
    request = r;
    return true;
}
