#include "tests/lab/labframe.h"

#include <QJsonDocument>

QByteArray LabFrame::header(const QByteArray &name) const
{
    for (const auto &h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    }
    return QByteArray();
}

QJsonObject LabFrame::json() const
{
    return QJsonDocument::fromJson(body).object();
}

int LabFrame::fieldPosition(const QString &name) const
{
    return body.indexOf("\"" + name.toUtf8() + "\":");
}
