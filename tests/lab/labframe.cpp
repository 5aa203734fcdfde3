#include "tests/lab/labframe.h"

#include <QStringList>

QByteArray LabFrame::header(const QByteArray &name) const
{
    for (const auto &h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    }
    return QByteArray();
}

QString LabFrame::mismatches(const LabFields &expected) const
{
    QStringList out;
    for (const auto &e : expected) {
        if (field(e.first) != e.second)
            out << e.first + QLatin1Char('=') + field(e.first);
    }
    return out.join(QLatin1Char(','));
}
