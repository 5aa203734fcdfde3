#include "conferences/memberdirectory.h"

#include "app/xmlconfig.h"
#include "users/userlistmodel.h"

namespace {
MemberDirectory::Override &testOverride()
{
    static MemberDirectory::Override directory;
    return directory;
}
} // namespace

QString MemberDirectory::displayName(const QString &uri)
{
    if (testOverride().displayName)
        return testOverride().displayName(uri);
    if (UserListModel *users = UserListModel::instance())
        return users->displayName(uri);
    return uri;
}

bool MemberDirectory::isDispatcherOrTechnician(const QString &uri)
{
    if (testOverride().isPrivileged)
        return testOverride().isPrivileged(uri);
    if (UserListModel *users = UserListModel::instance())
        return users->isDispatcherOrTechnician(uri);
    return false;
}

QString MemberDirectory::dispatcherUri()
{
    const XMLConfig &config = XMLConfig::instance();
    return config.currentLoginUser + QLatin1Char('@') + config.currentServerHost;
}

QString MemberDirectory::sipDomain()
{
    return XMLConfig::instance().currentServerHost;
}

void MemberDirectory::setOverrideForTest(const Override &directory)
{
    testOverride() = directory;
}
