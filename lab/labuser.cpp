#include "lab/labuser.h"

QString LabUser::attribute(const QString &name) const
{
    for (const auto &a : attributes) {
        if (a.first == name)
            return a.second;
    }
    return QString();
}
