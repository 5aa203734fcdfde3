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
    // A drop near a row's edge still means that conference, not a new one "between" rows.
    setDragDropOverwriteMode(true);
    setMouseTracking(true);
    viewport()->setAttribute(Qt::WA_Hover);
    setItemDelegate(new ConferenceListItemDelegate(this));
    QAction *copy = m_menu->addAction(QStringLiteral("Копировать имя конференции"));
    connect(copy, &QAction::triggered, this, &ConferenceListView::copyName);
}

void ConferenceListView::setModel(QAbstractItemModel *newModel)
{
    // Qt drops the selection made while it installs the new selection model, so
    // the first row is selected once that is done.
    if (model())
        disconnect(model(), &QAbstractItemModel::rowsRemoved, this, &ConferenceListView::afterRowsRemoved);
    m_settingModel = true;
    QListView::setModel(newModel);
    m_settingModel = false;
    // The selection model drops a removed row's selection without telling the view.
    if (newModel)
        connect(newModel, &QAbstractItemModel::rowsRemoved, this, &ConferenceListView::afterRowsRemoved);
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
    } else if (!m_settingModel && model() && model()->rowCount() > 0) {
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

void ConferenceListView::rowsAboutToBeRemoved(const QModelIndex &parent, int start, int end)
{
    // Qt moves the selection to a neighbour of a removed selected row; the list goes
    // back to the first conference instead.
    if (selectionModel() && !parent.isValid()) {
        for (const QModelIndex &idx : selectionModel()->selectedIndexes()) {
            if (idx.row() >= start && idx.row() <= end)
                m_selectFirstAfterRemoval = true;
        }
    }
    QListView::rowsAboutToBeRemoved(parent, start, end);
}

void ConferenceListView::afterRowsRemoved()
{
    if (m_selectFirstAfterRemoval && model() && model()->rowCount() > 0) {
        m_selectFirstAfterRemoval = false;
        setCurrentIndex(model()->index(0, 0));
        return;
    }
    m_selectFirstAfterRemoval = false;
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
