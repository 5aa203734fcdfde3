#include "conferences/conferencelistview.h"

#include "conferences/conferencelistitemdelegate.h"
#include "conferences/conferencelistmodel.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDebug>
#include <QMenu>

ConferenceListView::ConferenceListView(QWidget *parent) : QListView(parent), m_menu(new QMenu(this))
{
    setViewMode(QListView::ListMode);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setTabKeyNavigation(false);
    setAcceptDrops(true);
    setDropIndicatorShown(true);
    setDragDropMode(QAbstractItemView::DropOnly);
    setMouseTracking(true);
    viewport()->setAttribute(Qt::WA_Hover);
    setItemDelegate(new ConferenceListItemDelegate(this));
    QAction *copy = m_menu->addAction(QStringLiteral("Копировать имя конференции"));
    connect(copy, &QAction::triggered, this, &ConferenceListView::copyName);
}

void ConferenceListView::setModel(QAbstractItemModel *newModel)
{
    QListView::setModel(newModel);
    // The primary conference is there from the start: select it right away.
    selectFirstIfNone();
}

bool ConferenceListView::selectedConference(QString &name) const
{
    if (!selectionModel())
        return false;
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    if (selected.isEmpty())
        return false;
    name = selected.first().data(ConferenceListModel::ConferenceIdRole).toString();
    return true;
}

void ConferenceListView::selectionChanged(const QItemSelection &selected, const QItemSelection &deselected)
{
    const QModelIndexList gone = deselected.indexes();
    if (!gone.isEmpty()) {
        if (gone.size() > 1)
            qWarning() << "ConferenceListView::selectionChanged(): deselected more than one item";
        emit itemDeselected(gone.first());
    }
    QListView::selectionChanged(selected, deselected);
    const QModelIndexList now = selected.indexes();
    if (!now.isEmpty()) {
        if (now.size() > 1)
            qWarning() << "ConferenceListView::selectionChanged(): selected more than one item";
        emit itemSelected(now.first());
    } else if (model() && model()->rowCount() > 0) {
        qDebug() << "--> ConferenceListView::selectionChanged(): nothing selected, selecting first";
        setCurrentIndex(model()->index(0, 0));
        // When the selected row is being removed, row 0 may be going too; look again
        // once the removal is complete.
        QMetaObject::invokeMethod(this, "selectFirstIfNone", Qt::QueuedConnection);
    }
}

void ConferenceListView::selectFirstIfNone()
{
    if (!model() || !selectionModel() || model()->rowCount() == 0 || selectionModel()->hasSelection())
        return;
    qDebug() << "--> ConferenceListView::selectionChanged(): nothing selected, selecting first";
    setCurrentIndex(model()->index(0, 0));
}

void ConferenceListView::rowsInserted(const QModelIndex &parent, int start, int end)
{
    QListView::rowsInserted(parent, start, end);
    selectFirstIfNone();
}

void ConferenceListView::contextMenuEvent(QContextMenuEvent *event)
{
    const QModelIndex idx = indexAt(event->pos());
    if (!idx.isValid())
        return;
    m_menu->setTitle(idx.data(Qt::DisplayRole).toString());
    m_menu->exec(event->globalPos());
}

void ConferenceListView::copyName()
{
    QApplication::clipboard()->setText(m_menu->title());
}
