#include "users/userlistview.h"

#include "users/mycontextmenu.h"
#include "users/userlistitemdelegate.h"
#include "users/userlistmodel.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMouseEvent>

namespace {
// Presses left of this x coordinate land on a group's indicator.
constexpr int kToggleZone = 41;
// A double click on a group row calls it only right of its indicator.
constexpr int kGroupNameOffset = 37;
constexpr qint64 kTypeAheadPauseMs = 1000;
} // namespace

UserListView::UserListView(QWidget *parent)
    : QTreeView(parent), m_userMenu(new MyContextMenu(this)), m_groupMenu(new QMenu(this))
{
    // The main window may take the call request through a queued connection.
    qRegisterMetaType<QSet<QString>>("QSet<QString>");
    m_clockBase.start();
    m_clock = [this] { return m_clockBase.elapsed(); };

    setHeaderHidden(true);
    setIconSize(QSize(24, 24));
    setExpandsOnDoubleClick(false);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setTabKeyNavigation(false);
    setItemDelegate(new UserListItemDelegate(this));
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragOnly);
    setContextMenuPolicy(Qt::CustomContextMenu);
    // The delegate draws the group indicator itself, inside the row.
    setRootIsDecorated(false);
    setIndentation(0);
    setMouseTracking(true);

    connect(this, &QWidget::customContextMenuRequested, this, &UserListView::onCustomContextMenu);

    const QString callText = QStringLiteral("Вызвать выбранных в текущую конференцию");
    QAction *call = m_userMenu->addAction(callText, this, qOverload<>(&UserListView::callToConference));
    call->setShortcut(QKeySequence(Qt::Key_Enter));
    m_userMenu->addSeparator();
    m_userMenu->addAction(QStringLiteral("Копировать отображаемое имя пользователя"), this,
                          &UserListView::copyDisplayName);
    m_userMenu->addAction(QStringLiteral("Копировать username пользователя"), this,
                          &UserListView::copyUserName);
    m_userMenu->addAction(QStringLiteral("Копировать URI пользователя"), this, &UserListView::copyURI);
    m_userMenu->addSeparator();
    m_userMenu->addAction(QStringLiteral("Информация о пользователе"), this, &UserListView::userInfoSelected);

    call = m_groupMenu->addAction(callText, this, qOverload<>(&UserListView::callToConference));
    call->setShortcut(QKeySequence(Qt::Key_Enter));
    m_groupMenu->addSeparator();
    m_groupMenu->addAction(QStringLiteral("Копировать имя группы"), this, &UserListView::copyURI);
}

void UserListView::setClock(std::function<qint64()> nowMs)
{
    m_clock = std::move(nowMs);
}

void UserListView::setFilter(QString filter)
{
    if (filter == m_filter)
        return;
    m_filter = filter;
    applyFilter();
}

void UserListView::setFilter()
{
    setFilter(QString());
}

void UserListView::setShowUnregistered(bool show)
{
    if (show == m_showUnregistered)
        return;
    m_showUnregistered = show;
    applyFilter();
}

void UserListView::applyFilter()
{
    if (model())
        applyFilter(rootIndex());
}

bool UserListView::applyFilter(const QModelIndex &parent)
{
    QAbstractItemModel *m = model();
    const int rows = m->rowCount(parent);
    bool any = false;
    for (int row = 0; row < rows; ++row) {
        const QModelIndex index = m->index(row, 0, parent);
        const bool visible = m->hasChildren(index) ? applyFilter(index) : passesUserTest(index);
        // Touch the view only on a change: a keystroke on a large tree stays cheap.
        if (isRowHidden(row, parent) == visible)
            setRowHidden(row, parent, !visible);
        if (visible && !m_filter.isEmpty() && m->hasChildren(index) && !isExpanded(index))
            expand(index);
        any = any || visible;
    }
    return any;
}

bool UserListView::passesUserTest(const QModelIndex &index) const
{
    if (!m_showUnregistered && !index.data(UserListModel::RegisteredRole).toBool())
        return false;
    if (m_filter.isEmpty())
        return true;
    if (index.data(UserListModel::UserUriRole).toString().contains(m_filter, Qt::CaseInsensitive))
        return true;
    return index.data(Qt::DisplayRole).toString().contains(m_filter, Qt::CaseInsensitive);
}

void UserListView::dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight,
                               const QVector<int> &roles)
{
    QTreeView::dataChanged(topLeft, bottomRight, roles);
    if (!filtering() || !topLeft.isValid())
        return;
    // Rows of a reload get their key (all roles change) after they are inserted; a
    // registration event changes RegisteredRole.
    if (roles.isEmpty() || roles.contains(UserListModel::RegisteredRole) || roles.contains(Qt::DisplayRole))
        filterRows(topLeft.parent(), topLeft.row(), bottomRight.row());
}

void UserListView::rowsInserted(const QModelIndex &parent, int start, int end)
{
    QTreeView::rowsInserted(parent, start, end);
    if (filtering())
        filterRows(parent, start, end);
}

void UserListView::filterRows(const QModelIndex &parent, int first, int last)
{
    QAbstractItemModel *m = model();
    for (int row = first; row <= last; ++row) {
        const QModelIndex index = m->index(row, 0, parent);
        const bool visible = m->hasChildren(index) ? applyFilter(index) : passesUserTest(index);
        if (isRowHidden(row, parent) == visible)
            setRowHidden(row, parent, !visible);
    }
    if (!parent.isValid() || parent == rootIndex())
        return;
    // A group is shown while any of its rows is.
    bool any = false;
    for (int row = 0, rows = m->rowCount(parent); row < rows && !any; ++row)
        any = !isRowHidden(row, parent);
    const int groupRow = parent.row();
    if (isRowHidden(groupRow, parent.parent()) == any)
        setRowHidden(groupRow, parent.parent(), !any);
    if (any && !m_filter.isEmpty() && !isExpanded(parent))
        expand(parent);
}

QSet<QString> UserListView::selectedUris() const
{
    QSet<QString> uris;
    if (!selectionModel())
        return uris;
    const QAbstractItemModel *m = model();
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    for (const QModelIndex &index : selected) {
        const int rows = m->rowCount(index);
        if (rows == 0) {
            if (index.data(UserListModel::RegisteredRole).toBool())
                uris.insert(index.data(UserListModel::UserUriRole).toString());
            continue;
        }
        for (int i = 0; i < rows; ++i) {
            const QModelIndex child = m->index(i, 0, index);
            if (child.data(UserListModel::RegisteredRole).toBool())
                uris.insert(child.data(UserListModel::UserUriRole).toString());
        }
    }
    return uris;
}

void UserListView::callToConference()
{
    const QSet<QString> uris = selectedUris();
    if (!uris.isEmpty())
        emit callToConference(uris);
}

void UserListView::keyPressEvent(QKeyEvent *event)
{
    QTreeView::keyPressEvent(event);
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        callToConference();
}

void UserListView::mousePressEvent(QMouseEvent *event)
{
    const QModelIndex index = indexAt(event->pos());
    if (index.isValid() && event->pos().x() < kToggleZone)
        setExpanded(index, !isExpanded(index));
    QTreeView::mousePressEvent(event);
}

void UserListView::mouseDoubleClickEvent(QMouseEvent *event)
{
    const QModelIndex index = indexAt(event->pos());
    const QRect rect = visualRect(index);
    if (index.isValid() && rect.isValid()) {
        if (!model()->hasChildren(index))
            callToConference();
        else if (rect.adjusted(kGroupNameOffset, 0, 0, 0).contains(event->pos()))
            callToConference();
    }
    QTreeView::mouseDoubleClickEvent(event);
}

void UserListView::onCustomContextMenu(const QPoint &pos)
{
    const QModelIndex index = indexAt(pos);
    if (!index.isValid())
        return;
    const QString uri = index.data(UserListModel::UserUriRole).toString();
    if (uri.isEmpty()) {
        m_groupMenu->setTitle(index.data(Qt::DisplayRole).toString());
        m_groupMenu->popup(QCursor::pos());
        return;
    }
    m_userMenu->setTitle(uri);
    m_userMenu->setIndex(index);
    m_userMenu->popup(QCursor::pos());
}

QMenu *UserListView::senderMenu() const
{
    auto *action = qobject_cast<QAction *>(sender());
    if (action)
        return qobject_cast<QMenu *>(action->parentWidget());
    return nullptr;
}

void UserListView::copyDisplayName()
{
    auto *menu = qobject_cast<MyContextMenu *>(senderMenu());
    if (!menu)
        menu = m_userMenu;
    QApplication::clipboard()->setText(menu->index().data(Qt::DisplayRole).toString());
}

void UserListView::copyUserName()
{
    QMenu *menu = senderMenu();
    if (!menu)
        menu = m_userMenu;
    const QString title = menu->title();
    const int at = title.indexOf(QLatin1Char('@'));
    QApplication::clipboard()->setText(at < 0 ? title : title.left(at));
}

void UserListView::copyURI()
{
    QMenu *menu = senderMenu();
    if (!menu)
        menu = m_userMenu;
    QApplication::clipboard()->setText(menu->title());
}

void UserListView::userInfoSelected()
{
    QMenu *menu = senderMenu();
    if (!menu)
        menu = m_userMenu;
    emit userInformation(menu->title());
}

void UserListView::showHideAllUsersGroup()
{
    QAbstractItemModel *m = model();
    if (!m || m->rowCount(rootIndex()) == 0)
        return;
    const QModelIndexList top =
        m->match(m->index(0, 0, rootIndex()), Qt::DisplayRole, QStringLiteral("*"), -1, Qt::MatchWildcard);
    bool anyExpanded = false;
    for (const QModelIndex &index : top)
        anyExpanded = anyExpanded || isExpanded(index);
    for (const QModelIndex &index : top)
        setExpanded(index, !anyExpanded);
}

QModelIndex UserListView::findText(const QModelIndex &start, const QString &text, int role) const
{
    const QModelIndexList hits =
        model()->match(start, role, text, 1, Qt::MatchContains | Qt::MatchRecursive | Qt::MatchWrap);
    return hits.isEmpty() ? QModelIndex() : hits.first();
}

void UserListView::keyboardSearch(const QString &search)
{
    QAbstractItemModel *m = model();
    if (!m)
        return;
    QModelIndex start = currentIndex();
    if (!start.isValid())
        start = m->index(0, 0, rootIndex());

    const qint64 now = m_clock();
    if (!m_typeAheadStarted) {
        m_typeAheadStarted = true;
        m_typeAheadText = search;
    } else if (search.isEmpty() || now - m_typeAheadLast > kTypeAheadPauseMs) {
        m_typeAheadText = search;
    } else {
        m_typeAheadText += search;
    }
    m_typeAheadLast = now;

    QString text = m_typeAheadText;
    bool repeated = false;
    if (text.size() >= 2) {
        // The search ignores case, so "bB" repeats a letter just as "bb" does.
        repeated = text.count(text.at(0), Qt::CaseInsensitive) == text.size();
        if (repeated)
            text = text.left(1);
    }
    if (text.isEmpty())
        return;

    // Repeating one letter walks on to the next row containing it.
    if (repeated && start.isValid()) {
        const QModelIndex next = start.sibling(start.row() + 1, 0);
        start = next.isValid() ? next : start.sibling(0, 0);
    }

    QModelIndex found;
    while (start.isValid()) {
        found = findText(start, text, Qt::DisplayRole);
        if (!found.isValid())
            found = findText(start, text, UserListModel::UserUriRole);
        if (found.isValid())
            break;
        start = start.parent();
    }
    if (found.isValid() && selectionModel())
        selectionModel()->setCurrentIndex(found, QItemSelectionModel::NoUpdate);
}
