#pragma once

#include <QListView>

// The recordings list of the recordings page: single selection, its own painter, and a
// click on the row that loads more asks the model for the next page. Owned by the
// recordings page; GUI thread.
class RecordListView final : public QListView
{
    Q_OBJECT

public:
    explicit RecordListView(QWidget *parent = nullptr);

signals:
    void itemSelected(QModelIndex index);
    void itemDeselected();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void selectionChanged(const QItemSelection &selected, const QItemSelection &deselected) override;
};
