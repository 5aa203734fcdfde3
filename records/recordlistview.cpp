#include "records/recordlistview.h"

#include "records/recordlistitemdelegate.h"
#include "records/recordlistmodel.h"

#include <QMouseEvent>
#include <QtDebug>

RecordListView::RecordListView(QWidget *parent) : QListView(parent)
{
    setViewMode(QListView::ListMode);
    setIconSize(QSize(24, 24));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setTabKeyNavigation(false);
    setMouseTracking(true);
    setItemDelegate(new RecordListItemDelegate(this));
}

void RecordListView::mousePressEvent(QMouseEvent *event)
{
    const QModelIndex index = indexAt(event->localPos().toPoint());
    if (index.isValid() && index.data(RecordListModel::RecordMoreRole).toBool()) {
        if (auto *records = qobject_cast<RecordListModel *>(model()))
            records->fetchNextPage();
        else
            qCritical() << "RecordListView::mousePressEvent(): cannot get model";
    }
    QListView::mousePressEvent(event);
}

void RecordListView::selectionChanged(const QItemSelection &selected, const QItemSelection &deselected)
{
    QListView::selectionChanged(selected, deselected);
    const QModelIndexList indexes = selected.indexes();
    if (indexes.isEmpty()) {
        emit itemDeselected();
        return;
    }
    if (indexes.size() > 1)
        qWarning() << "RecordListView::selectionChanged(): selected more than one item";
    emit itemSelected(indexes.first());
}
