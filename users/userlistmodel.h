#pragma once

#include "esl/esl2.h"
#include "users/userrecord.h"

#include <QAbstractItemModel>
#include <QHash>
#include <QIcon>
#include <QSet>
#include <QStringList>
#include <QVariant>

class RowCompare;
class UserTreeNode;

// The server's directory users as a one-column tree: the dispatcher's own row
// first, then one row per group with its users below. Filled from the event
// socket ("list_users", "user_data" replies; registration and presence events)
// and the source of the warnings about watched users that are not registered.
// One process-wide instance (UserListModel::instance()), created by the login
// cycle, living on the GUI thread.
class UserListModel : public QAbstractItemModel
{
    Q_OBJECT

public:
    enum Roles { UserUriRole = Qt::UserRole, RegisteredRole = Qt::UserRole + 1 };

    explicit UserListModel(const QString &rootText = QStringLiteral("root"), QObject *parent = nullptr);
    ~UserListModel() override;

    // The live instance, or null.
    static UserListModel *instance();

    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &index) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool insertRows(int row, int count, const QModelIndex &parent = QModelIndex()) override;
    bool removeRows(int row, int count, const QModelIndex &parent = QModelIndex()) override;
    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;

    // Replaces the watched users; bare names get "@" + login domain.
    void setMandatoryUserList(const QStringList &list);
    // The user's display name, or the URI itself for an unknown user.
    QString displayName(const QString &uri) const;
    // True for a known user whose role is dispatcher or technician.
    bool isDispatcherOrTechnician(const QString &uri) const;
    // For a registered user: the address part of a "type/profile/address" contact,
    // or the whole contact; empty otherwise.
    QString contactAddress(const QString &uri) const;

    bool hasUser(const QString &uri) const { return m_users.contains(uri); }
    // A copy of the user's record; a default record for an unknown URI.
    UserRecord user(const QString &uri) const { return m_users.value(uri); }
    QSet<QString> mandatoryUsers() const { return m_mandatory; }

    // Login values, read from the configuration's current-login fields.
    static QString loginDomain();
    static QString dispatcherUri();

    // Every row whose key is this URI, anywhere in the tree.
    QModelIndexList indexesOfUser(const QString &uri) const;
    // Inserts one row under parent before the first row the rule puts after text
    // (at the end when none); returns its index, invalid on failure.
    QModelIndex insertSorted(const QModelIndex &parent, const QString &text, const RowCompare &rule);

    // The warning text for one user, used both to set and to clear.
    static QString warningText(const QString &displayName, const QString &uri);

public slots:
    void eslConnected();
    // ctx true: ask for the whole directory domain in one request (directoryReceived),
    // otherwise two user_data requests per user of the login domain.
    void userListReceived(QString res, QVariant ctx);
    // Reply to "api xml_locate directory domain name <domain>"; ctx = the load it belongs to.
    // Not the domain's document: falls back to the per-user requests.
    void directoryReceived(QString res, QVariant ctx);
    void userRoleReceived(QString res, QVariant ctx);
    void userGroupsReceived(QString res, QVariant ctx);
    void registeredEvent(ESL2::Event event);
    void presenceEvent(ESL2::Event event);

signals:
    void userListReloaded();
    void setWarning(QString msg);
    void clearWarning(QString msg);
    void dispatcherRegistered();

private:
    UserTreeNode *nodeOf(const QModelIndex &index) const;
    QModelIndex indexOfNode(UserTreeNode *node) const;
    void collectUserRows(UserTreeNode *node, const QString &uri, QModelIndexList &out) const;
    QIcon stateIcon(const UserRecord &user, bool own) const;
    void sendRequest(const QString &text, const char *slot, const QVariant &ctx);
    void requestUserData(const QString &uri);
    // What data() shows for the node in the display role, without a hash lookup.
    static QString displayText(const UserTreeNode *node);
    // The first top-level row showing this text, or null; what a walk over the top-level rows
    // would find, from a table rebuilt after any change that could alter that answer.
    UserTreeNode *topLevelRow(const QString &text);
    void invalidateTopLevelRows() { m_topLevelRowsValid = false; }

    static UserListModel *s_instance;

    UserTreeNode *m_root = nullptr;
    // Top-level rows by display text (first one wins); valid while m_topLevelRowsValid.
    QHash<QString, UserTreeNode *> m_topLevelRows;
    bool m_topLevelRowsValid = false;
    QHash<QString, UserRecord> m_users;
    QSet<QString> m_mandatory;
    // Session of the event socket the list was last asked on.
    quint64 m_loadedSession = 0;
    // Bumped by every list reload, so a late directory reply of an older load is dropped.
    int m_loadNumber = 0;
    // Users of the login domain whose role and groups the directory reply is to bring.
    QStringList m_directoryPending;
    QString m_missingOwnUri;

    QIcon m_red;
    QIcon m_green;
    QIcon m_violet;
    QIcon m_blue;
    QIcon m_redForUser;
    QIcon m_greenForUser;
    QIcon m_violetForUser;
    QIcon m_blueForUser;
};
