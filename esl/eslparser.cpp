#include "esl/eslparser.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtDebug>

#include <cstring>

namespace {

// Lines are cut at their first zero byte, as the server's C strings are.
QString decodeLine(const char *data, int size)
{
    const void *zero = std::memchr(data, '\0', static_cast<size_t>(size));
    if (zero)
        size = static_cast<int>(static_cast<const char *>(zero) - data);
    return QString::fromUtf8(data, size);
}

} // namespace

int EslParser::feed(const char *data, int size, bool *complete)
{
    *complete = false;
    int pos = 0;
    while (pos < size) {
        if (m_readState == 0) {
            const char *start = data + pos;
            const void *nl = std::memchr(start, '\n', static_cast<size_t>(size - pos));
            if (!nl) {
                m_lineBuffer.append(start, size - pos);
                return size;
            }
            const int lineLength = static_cast<int>(static_cast<const char *>(nl) - start);
            pos += lineLength + 1;
            QString line;
            if (m_lineBuffer.isEmpty()) {
                line = decodeLine(start, lineLength);
            } else {
                m_lineBuffer.append(start, lineLength);
                line = decodeLine(m_lineBuffer.constData(), m_lineBuffer.size());
                m_lineBuffer.clear();
            }
            if (!line.isEmpty()) {
                m_message.addHeaderLine(line);
                continue;
            }
            if (m_message.contentLength > 0) {
                m_readState = 1;
                continue;
            }
            *complete = true;
            return pos;
        }

        const int wanted = m_message.contentLength - m_message.body.size();
        const int take = qMin(wanted, size - pos);
        m_message.body.append(data + pos, take);
        pos += take;
        if (m_message.body.size() == m_message.contentLength) {
            m_readState = 0;
            *complete = true;
            return pos;
        }
    }
    return pos;
}

void EslParser::reset()
{
    m_lineBuffer.clear();
    m_readState = 0;
    m_message.clear();
}

bool EslParser::decodeJsonEvent(const QByteArray &body, ESL2::Event *event, QString *name, QString *subclass)
{
    const QJsonDocument doc = QJsonDocument::fromJson(body);
    if (!doc.isObject()) {
        qWarning("ESL2: JSON event received is not a valid JSON object");
        return false;
    }
    const QJsonObject object = doc.object();
    event->clear();
    name->clear();
    subclass->clear();
    // The object iterates in key order, which is the map's order too: hinting each insert at
    // the end keeps building the map linear.
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        const QJsonValue value = it.value();
        if (!value.isString()) {
            qWarning("ESL2: non-string value in JSON object is not supported");
            continue;
        }
        const QString key = it.key();
        const QString text = value.toString();
        event->insert(event->constEnd(), key, text);
        if (key == QLatin1String("Event-Name"))
            *name = text;
        else if (key == QLatin1String("Event-Subclass"))
            *subclass = text;
    }
    return true;
}
