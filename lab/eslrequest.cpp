#include "lab/eslrequest.h"

QString EslRequest::header(const QString &name) const
{
    for (const auto &h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    }
    return QString();
}
