#pragma once

#include <QListView>

class QMenu;

// The conference list: keeps exactly one conference selected whenever there is
// one, reports selection changes to the main window, takes drops of users and
// members (handled by the model) and copies a conference's name from its context
// menu. Owned by the main window; GUI thread.
class ConferenceListView : public QListView
{
    Q_OBJECT

public:
    explicit ConferenceListView(QWidget *parent = nullptr);

    void setModel(QAbstractItemModel *model) override;
    bool selectedConference(QString &name) const;
    QMenu *contextMenu() const { return m_menu; }

signals:
    void itemSelected(QModelIndex index);
    void itemDeselected(QModelIndex index);

public slots:
    void copyName();

protected:
    void selectionChanged(const QItemSelection &selected, const QItemSelection &deselected) override;
    void rowsInserted(const QModelIndex &parent, int start, int end) override;
    void rowsAboutToBeRemoved(const QModelIndex &parent, int start, int end) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private slots:
    void selectFirstIfNone();
    void afterRowsRemoved();

private:
    QMenu *m_menu;
    bool m_settingModel = false;
    bool m_selectFirstAfterRemoval = false;
};
