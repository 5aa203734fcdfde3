#include "users/userlistmodel.h"

#include "app/xmlconfig.h"
#include "users/directorydomainreply.h"
#include "users/groupcompare.h"
#include "users/usercompare.h"
#include "users/usertreenode.h"

#include <QDataStream>
#include <QDebug>
#include <QMimeData>

#include <utility>

namespace {
const QString kNoReply = QStringLiteral("-ERR no reply\n");
const QString kNoGroup = QStringLiteral("Без группы");
const QString kMimeType = QStringLiteral("application/x-useruri");
const QString kNotRegistered = QStringLiteral("error/user_not_registered");

// A registration's contact in the form "list_users" gives it: "sofia/<profile>/<URI>", the URI
// taken from the event's contact header value ("name" <URI>).
QString listedContact(const ESL2::Event &event)
{
    QString contact = event.value(QStringLiteral("contact")).trimmed();
    const int open = contact.indexOf(QLatin1Char('<'));
    if (open >= 0) {
        const int close = contact.indexOf(QLatin1Char('>'), open + 1);
        contact = contact.mid(open + 1, close < 0 ? -1 : close - open - 1);
    }
    if (contact.isEmpty())
        return QString();
    QString profile = event.value(QStringLiteral("profile-name"));
    if (profile.isEmpty())
        profile = QStringLiteral("internal");
    return QStringLiteral("sofia/") + profile + QLatin1Char('/') + contact;
}
} // namespace

UserListModel *UserListModel::s_instance = nullptr;

UserListModel::UserListModel(const QString &rootText, QObject *parent)
    : QAbstractItemModel(parent)
    , m_root(new UserTreeNode(rootText))
    , m_red(QStringLiteral(":/Data/RedDot.png"))
    , m_green(QStringLiteral(":/Data/GreenDot.png"))
    , m_violet(QStringLiteral(":/Data/VioletDot.png"))
    , m_blue(QStringLiteral(":/Data/BlueDot.png"))
    , m_redForUser(QStringLiteral(":/Data/RedDotForUser.png"))
    , m_greenForUser(QStringLiteral(":/Data/GreenDotForUser.png"))
    , m_violetForUser(QStringLiteral(":/Data/VioletDotForUser.png"))
    , m_blueForUser(QStringLiteral(":/Data/BlueDotForUser.png"))
{
    s_instance = this;
}

UserListModel::~UserListModel()
{
    if (s_instance == this)
        s_instance = nullptr;
    delete m_root;
}

UserListModel *UserListModel::instance()
{
    return s_instance;
}

QString UserListModel::loginDomain()
{
    return XMLConfig::instance().currentServerHost;
}

QString UserListModel::dispatcherUri()
{
    const XMLConfig &config = XMLConfig::instance();
    return config.currentLoginUser + QLatin1Char('@') + config.currentServerHost;
}

QString UserListModel::warningText(const QString &displayName, const QString &uri)
{
    return QStringLiteral("Пользователь \"%1\" <%2> не зарегистрирован в сети").arg(displayName, uri);
}

UserTreeNode *UserListModel::nodeOf(const QModelIndex &index) const
{
    return index.isValid() ? static_cast<UserTreeNode *>(index.internalPointer()) : m_root;
}

QModelIndex UserListModel::indexOfNode(UserTreeNode *node) const
{
    if (!node || node == m_root)
        return QModelIndex();
    return createIndex(node->row(), 0, node);
}

QModelIndex UserListModel::index(int row, int column, const QModelIndex &parent) const
{
    if (column != 0 || row < 0 || (parent.isValid() && parent.column() != 0))
        return QModelIndex();
    UserTreeNode *node = nodeOf(parent);
    if (row >= node->children.size())
        return QModelIndex();
    return createIndex(row, 0, node->children.at(row));
}

QModelIndex UserListModel::parent(const QModelIndex &index) const
{
    if (!index.isValid())
        return QModelIndex();
    return indexOfNode(nodeOf(index)->parent);
}

int UserListModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid() && parent.column() != 0)
        return 0;
    return nodeOf(parent)->children.size();
}

int UserListModel::columnCount(const QModelIndex &) const
{
    return 1;
}

QVariant UserListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return QVariant();
    const UserTreeNode *node = nodeOf(index);
    if (!node->children.isEmpty())
        return role == Qt::DisplayRole ? QVariant(node->key) : QVariant();

    if (role != Qt::DisplayRole && role != Qt::DecorationRole && role != Qt::ToolTipRole &&
        role != UserUriRole && role != RegisteredRole)
        return QVariant();

    const auto it = m_users.constFind(node->key);
    if (it == m_users.constEnd()) {
        // A row just inserted has no key until it is set; that is not an error. A missing own
        // entry was reported once when the list was loaded.
        if (!node->key.isEmpty() && node->key != m_missingOwnUri)
            qCritical() << "UserListModel::data(): user" << node->key << "not found in 'users' hash";
        return QVariant();
    }
    switch (role) {
    case Qt::DisplayRole:
        return it->displayName;
    case Qt::DecorationRole:
        return stateIcon(*it, node->key == dispatcherUri());
    case Qt::ToolTipRole:
        return QString(it->displayName + QLatin1Char('\n') + node->key);
    case UserUriRole:
        return node->key;
    case RegisteredRole:
        return it->registered;
    default:
        return QVariant();
    }
}

QIcon UserListModel::stateIcon(const UserRecord &user, bool own) const
{
    if (!user.registered)
        return own ? m_redForUser : m_red;
    if (user.callState == QLatin1String("progressing"))
        return own ? m_violetForUser : m_violet;
    if (user.callState == QLatin1String("idle"))
        return own ? m_greenForUser : m_green;
    return own ? m_blueForUser : m_blue;
}

bool UserListModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::DisplayRole || !index.isValid())
        return false;
    UserTreeNode *node = nodeOf(index);
    if (node->parent == m_root)
        invalidateTopLevelRows();
    node->key = value.toString();
    const auto user = m_users.constFind(node->key);
    node->userName = user == m_users.constEnd() ? QString() : user->displayName;
    emit dataChanged(index, index);
    return true;
}

QVariant UserListModel::headerData(int, Qt::Orientation, int) const
{
    return QVariant();
}

Qt::ItemFlags UserListModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemIsEnabled;
}

bool UserListModel::insertRows(int row, int count, const QModelIndex &parent)
{
    UserTreeNode *node = nodeOf(parent);
    if (row < 0 || row > node->children.size() || count < 0)
        return false;
    if (count == 0)
        return true;
    // A top-level row shows its group name instead of a user's once it has rows below it.
    if (node == m_root || (node->parent == m_root && node->children.isEmpty()))
        invalidateTopLevelRows();
    beginInsertRows(parent, row, row + count - 1);
    node->insertChildren(row, count);
    endInsertRows();
    return true;
}

bool UserListModel::removeRows(int row, int count, const QModelIndex &parent)
{
    if (count == 0)
        return true;
    UserTreeNode *node = nodeOf(parent);
    if (row < 0 || count < 0 || row + count > node->children.size())
        return false;
    // Emptying a group removes the group row itself: no empty group is shown.
    if (parent.isValid() && row == 0 && count == node->children.size())
        return removeRows(parent.row(), 1, parent.parent());
    if (node == m_root)
        invalidateTopLevelRows();
    beginRemoveRows(parent, row, row + count - 1);
    node->removeChildren(row, count);
    endRemoveRows();
    return true;
}

QStringList UserListModel::mimeTypes() const
{
    return {kMimeType};
}

QMimeData *UserListModel::mimeData(const QModelIndexList &indexes) const
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    for (const QModelIndex &index : indexes) {
        if (!index.isValid())
            continue;
        const int children = rowCount(index);
        if (children == 0) {
            if (index.data(RegisteredRole).toBool())
                stream << index.data(UserUriRole).toString();
            continue;
        }
        for (int i = 0; i < children; ++i) {
            const QModelIndex child = this->index(i, 0, index);
            if (child.data(RegisteredRole).toBool())
                stream << child.data(UserUriRole).toString();
        }
    }
    auto *mime = new QMimeData;
    mime->setData(kMimeType, bytes);
    return mime;
}

QString UserListModel::displayText(const UserTreeNode *node)
{
    return node->children.isEmpty() ? node->userName : node->key;
}

UserTreeNode *UserListModel::topLevelRow(const QString &text)
{
    if (!m_topLevelRowsValid) {
        m_topLevelRows.clear();
        for (UserTreeNode *child : qAsConst(m_root->children)) {
            const QString shown = displayText(child);
            if (!m_topLevelRows.contains(shown))
                m_topLevelRows.insert(shown, child);
        }
        m_topLevelRowsValid = true;
    }
    return m_topLevelRows.value(text);
}

QModelIndex UserListModel::insertSorted(const QModelIndex &parent, const QString &text,
                                        const RowCompare &rule)
{
    // The rule sees what data() would give for the display role, read from the nodes: a
    // directory load does thousands of these walks.
    const QList<UserTreeNode *> &children = nodeOf(parent)->children;
    const bool byDisplay = rule.role() == Qt::DisplayRole;
    const auto before = [&](int row) {
        const UserTreeNode *node = children.at(row);
        return byDisplay ? rule.goesBefore(text, displayText(node), !node->children.isEmpty())
                         : rule.goesBefore(text, index(row, 0, parent));
    };
    int row = 0;
    if (byDisplay && rule.allowsBisection()) {
        // The first row the new text goes before: a big group is searched in log steps.
        int end = children.size();
        while (row < end) {
            const int middle = row + (end - row) / 2;
            if (before(middle))
                end = middle;
            else
                row = middle + 1;
        }
    } else {
        const int rows = children.size();
        while (row < rows && !before(row))
            ++row;
    }
    if (!insertRows(row, 1, parent))
        return QModelIndex();
    return index(row, 0, parent);
}

void UserListModel::collectUserRows(UserTreeNode *node, const QString &uri, QModelIndexList &out) const
{
    for (UserTreeNode *child : qAsConst(node->children)) {
        if (child->children.isEmpty()) {
            if (child->key == uri)
                out.append(indexOfNode(child));
        } else {
            collectUserRows(child, uri, out);
        }
    }
}

QModelIndexList UserListModel::indexesOfUser(const QString &uri) const
{
    QModelIndexList out;
    collectUserRows(m_root, uri, out);
    return out;
}

void UserListModel::sendRequest(const QString &text, const char *slot, const QVariant &ctx)
{
    ESL2 *esl = ESL2::instance();
    if (!esl) {
        qDebug() << "UserListModel: no event-socket client for request" << text.trimmed();
        return;
    }
    esl->sendRequest(text, this, QString::fromLatin1(slot), ctx);
}

void UserListModel::eslConnected()
{
    // A new session on the socket is a load: the whole directory comes in one request.
    // Reloads that server events trigger within a session ask user by user.
    ESL2 *esl = ESL2::instance();
    const quint64 session = esl ? esl->sessionNumber() : 0;
    const bool wholeDirectory = session != m_loadedSession;
    m_loadedSession = session;
    sendRequest(QStringLiteral("api list_users\n\n"), "userListReceived",
                wholeDirectory ? QVariant(true) : QVariant());
}

void UserListModel::requestUserData(const QString &uri)
{
    sendRequest(QStringLiteral("api user_data ") + uri + QStringLiteral(" attr role\n\n"), "userRoleReceived",
                uri);
    sendRequest(QStringLiteral("api user_data ") + uri + QStringLiteral(" attr groups\n\n"),
                "userGroupsReceived", uri);
}

void UserListModel::userListReceived(QString res, QVariant ctx)
{
    removeRows(0, rowCount(QModelIndex()));
    ++m_loadNumber;
    m_directoryPending.clear();
    QString directoryRequest;
    if (ctx.toBool()) {
        QString error;
        directoryRequest = DirectoryDomainReply::request(loginDomain(), &error);
        if (directoryRequest.isEmpty())
            qWarning().noquote() << error;
    }

    QHash<QString, UserRecord> old;
    old.swap(m_users);

    const QString domain = loginDomain();
    // Read through references into the reply: only the fields kept become strings, and the ones
    // that repeat from user to user share the text of the previous user.
    const QVector<QStringRef> lines = res.splitRef(QLatin1Char('\n'));
    const auto sharedText = [](const QStringRef &field, const QString &previous) {
        return !previous.isNull() && field == previous ? previous : field.toString();
    };
    QString context;
    QString userDomain;
    QString group;
    for (int i = 1; i < lines.size(); ++i) {
        const QVector<QStringRef> f = lines.at(i).split(QLatin1Char('|'));
        if (f.size() != 8)
            continue;
        UserRecord user;
        user.userId = f.at(0).toString();
        user.context = context = sharedText(f.at(1), context);
        user.domain = userDomain = sharedText(f.at(2), userDomain);
        user.group = group = sharedText(f.at(3), group);
        user.contact = f.at(4).toString();
        user.callGroup = f.at(5).toString();
        user.callerIdNumber = f.at(7).toString();
        const QString uri = user.uri();
        user.displayName = f.at(6).isEmpty() ? uri : f.at(6).toString();
        user.registered = !user.contact.startsWith(QLatin1String("error/"));
        user.callState = QStringLiteral("idle");
        user.type = UserTypeSubscriber;
        m_users.insert(uri, user);
        old.remove(uri);

        if (user.domain != domain)
            continue;
        if (directoryRequest.isEmpty())
            requestUserData(uri);
        else
            m_directoryPending.append(uri);
        if (m_mandatory.contains(uri)) {
            const QString text = warningText(user.displayName, uri);
            if (user.registered)
                emit clearWarning(text);
            else
                emit setWarning(text);
        }
    }

    if (!m_directoryPending.isEmpty())
        sendRequest(directoryRequest, "directoryReceived", m_loadNumber);

    // The own row shows the dispatcher even when the directory does not list him; say so once.
    const QString own = dispatcherUri();
    m_missingOwnUri.clear();
    if (!m_users.contains(own)) {
        qCritical() << "UserListModel::data(): user" << own << "not found in 'users' hash";
        m_missingOwnUri = own;
    }
    if (insertRows(0, 1, QModelIndex()))
        setData(index(0, 0), own, Qt::DisplayRole);

    emit userListReloaded();

    // A watched user who vanished from the server no longer has a warning to show.
    for (auto it = old.constBegin(); it != old.constEnd(); ++it) {
        if (m_mandatory.contains(it.key()) && !it->registered)
            emit clearWarning(warningText(it->displayName, it.key()));
    }
}

void UserListModel::directoryReceived(QString res, QVariant ctx)
{
    // A reply meant for a list that has been replaced since.
    if (ctx.toInt() != m_loadNumber)
        return;
    const QStringList pending = std::exchange(m_directoryPending, {});
    DirectoryDomainReply directory;
    // The reply holds every user's password: its size is all that may be logged.
    if (!directory.parse(res, loginDomain())) {
        qInfo() << "UserListModel: the directory domain reply of" << res.size()
                << "characters is not the domain's document; asking user by user";
        for (const QString &uri : pending)
            requestUserData(uri);
        return;
    }
    for (const QString &uri : pending) {
        const QString id = m_users.value(uri).userId;
        if (!directory.contains(id)) {
            requestUserData(uri);
            continue;
        }
        const DirectoryDomainReply::Answers answers = directory.answers(id);
        userRoleReceived(answers.role, uri);
        userGroupsReceived(answers.groups, uri);
    }
}

void UserListModel::userRoleReceived(QString res, QVariant ctx)
{
    if (res == kNoReply)
        return;
    const QString uri = ctx.toString();
    auto it = m_users.find(uri);
    if (it == m_users.end()) {
        qCritical() << "UserListModel::userRoleReceived(): user" << uri << "not found in 'users' hash";
        return;
    }
    if (res.compare(QLatin1String("default"), Qt::CaseInsensitive) == 0)
        return;
    if (res.compare(QLatin1String("dispatcher"), Qt::CaseInsensitive) == 0)
        it->type = UserTypeDispatcher;
    else if (res.compare(QLatin1String("technician"), Qt::CaseInsensitive) == 0)
        it->type = UserTypeTechnician;
    else
        qWarning() << "UserListModel::userRoleReceived(): user" << uri << "has unknown role" << res;
}

void UserListModel::userGroupsReceived(QString res, QVariant ctx)
{
    QStringList groups;
    if (res != kNoReply) {
        const QStringList parts = res.split(QLatin1Char(';'), Qt::SkipEmptyParts);
        // A blank element would make a group without a name: skip it like an empty one.
        for (const QString &part : parts) {
            if (!part.trimmed().isEmpty())
                groups << part;
        }
    }
    if (groups.isEmpty())
        groups << kNoGroup;

    const QString uri = ctx.toString();
    const auto it = m_users.constFind(uri);
    if (it == m_users.constEnd()) {
        qCritical() << "UserListModel::userGroupsReceived(): user" << uri << "not found in 'users' hash";
        return;
    }
    const QString displayName = it->displayName;

    for (const QString &raw : qAsConst(groups)) {
        const QString name = raw.trimmed();
        QModelIndex group = indexOfNode(topLevelRow(name));
        if (!group.isValid()) {
            group = insertSorted(QModelIndex(), name, GroupCompare());
            if (!group.isValid()) {
                qCritical() << "UserListModel::userGroupsReceived(): cannot insert group to user list";
                continue;
            }
            setData(group, name, Qt::DisplayRole);
        }
        const QModelIndex row = insertSorted(group, displayName, UserCompare());
        if (row.isValid())
            setData(row, uri, Qt::DisplayRole);
    }
}

void UserListModel::presenceEvent(ESL2::Event event)
{
    const QString uri = event.value(QStringLiteral("from"));
    const QString state = event.value(QStringLiteral("presence-call-info-state"));
    if (state.isEmpty())
        return;
    auto it = m_users.find(uri);
    if (it == m_users.end()) {
        qCritical() << "UserListModel::presenceEvent(): user" << uri << "not found in 'users' hash";
        return;
    }
    if (it->callState == state)
        return;
    qInfo() << "У пользователя" << uri << "изменилось состояние:" << it->callState << "-->" << state;
    it->callState = state;
    if (!it->registered)
        return;
    const QModelIndexList rows = indexesOfUser(uri);
    for (const QModelIndex &row : rows)
        emit dataChanged(row, row, {Qt::DecorationRole});
}

void UserListModel::registeredEvent(ESL2::Event event)
{
    const QString subclass = event.value(QStringLiteral("Event-Subclass"));
    QString uri;
    if (subclass == QLatin1String("sofia::expire"))
        uri = event.value(QStringLiteral("user")) + QLatin1Char('@') + event.value(QStringLiteral("host"));
    else
        uri = event.value(QStringLiteral("from-user")) + QLatin1Char('@') +
              event.value(QStringLiteral("from-host"));
    const bool registered = subclass == QLatin1String("sofia::register");

    auto it = m_users.find(uri);
    if (it == m_users.end()) {
        qCritical() << "UserListModel::registeredEvent(): user" << uri << "not found in 'users' hash";
        return;
    }
    // The contact follows every event, a renewal from a new address included, so the user's
    // details are right without waiting for the next list load.
    if (!registered)
        it->contact = kNotRegistered;
    else if (const QString listed = listedContact(event); !listed.isEmpty())
        it->contact = listed;
    else if (it->contact.startsWith(QLatin1String("error/")))
        it->contact.clear();
    if (it->registered == registered)
        return;
    qInfo() << "У пользователя" << uri
            << "изменилось состояние регистрации:" << (registered ? "зарегистрирован" : "не зарегистрирован");
    it->registered = registered;
    const QString text = warningText(it->displayName, uri);

    if (registered && uri == dispatcherUri())
        emit dispatcherRegistered();
    if (m_mandatory.contains(uri)) {
        if (registered)
            emit clearWarning(text);
        else
            emit setWarning(text);
    }
    // The group's counters of registered users change with the row.
    const QModelIndexList rows = indexesOfUser(uri);
    for (const QModelIndex &row : rows) {
        emit dataChanged(row, row, {Qt::DecorationRole, RegisteredRole});
        const QModelIndex parent = row.parent();
        if (parent.isValid())
            emit dataChanged(parent, parent, {Qt::DisplayRole});
    }
}

void UserListModel::setMandatoryUserList(const QStringList &list)
{
    QSet<QString> old;
    old.swap(m_mandatory);
    const QString domain = loginDomain();

    for (QString uri : list) {
        if (!uri.contains(QLatin1Char('@')))
            uri += QLatin1Char('@') + domain;
        m_mandatory.insert(uri);
        if (old.remove(uri))
            continue;
        const auto it = m_users.constFind(uri);
        if (it == m_users.constEnd()) {
            qCritical() << "UserListModel::setMandatoryUserList(): unknown user" << uri << "given";
            continue;
        }
        if (!it->registered)
            emit setWarning(warningText(it->displayName, uri));
    }

    for (const QString &uri : qAsConst(old)) {
        const auto it = m_users.constFind(uri);
        if (it == m_users.constEnd()) {
            qCritical() << "UserListModel::setMandatoryUserList(): unknown user" << uri << "given";
            continue;
        }
        if (!it->registered)
            emit clearWarning(warningText(it->displayName, uri));
    }
}

QString UserListModel::displayName(const QString &uri) const
{
    const auto it = m_users.constFind(uri);
    return it == m_users.constEnd() ? uri : it->displayName;
}

bool UserListModel::isDispatcherOrTechnician(const QString &uri) const
{
    const auto it = m_users.constFind(uri);
    return it != m_users.constEnd() && it->type != UserTypeSubscriber;
}

QString UserListModel::contactAddress(const QString &uri) const
{
    const auto it = m_users.constFind(uri);
    if (it == m_users.constEnd() || !it->registered)
        return QString();
    const QStringList parts = it->contact.split(QLatin1Char('/'));
    return parts.size() == 3 ? parts.at(2) : it->contact;
}
