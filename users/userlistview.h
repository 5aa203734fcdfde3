#pragma once

#include <QElapsedTimer>
#include <QSet>
#include <QTreeView>
#include <functional>

class MyContextMenu;
class QMenu;

// The tree of directory users: filter by text and registration, type-ahead
// search, selection of users to call, context menus with copy actions, and drag
// of registered users onto a conference. Created and owned by the main window;
// GUI thread.
class UserListView : public QTreeView
{
    Q_OBJECT

public:
    explicit UserListView(QWidget *parent = nullptr);

    QString filter() const { return m_filter; }
    bool showUnregistered() const { return m_showUnregistered; }
    QString typeAheadText() const { return m_typeAheadText; }
    MyContextMenu *userMenu() const { return m_userMenu; }
    QMenu *groupMenu() const { return m_groupMenu; }

    // Registered URIs of the selection: users directly, groups through their members.
    QSet<QString> selectedUris() const;

    // Milliseconds from an arbitrary origin; tests replace it to drive the
    // type-ahead pause rule without waiting.
    void setClock(std::function<qint64()> nowMs);

    void keyboardSearch(const QString &search) override;

public slots:
    void setFilter(QString filter);
    void setFilter();
    void setShowUnregistered(bool show);
    void showHideAllUsersGroup();
    void onCustomContextMenu(const QPoint &pos);
    void copyDisplayName();
    void copyUserName();
    void copyURI();
    void callToConference();
    void userInfoSelected();

signals:
    void callToConference(QSet<QString> uris);
    void userInformation(QString uri);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight,
                     const QVector<int> &roles = QVector<int>()) override;
    void rowsInserted(const QModelIndex &parent, int start, int end) override;

private:
    void applyFilter();
    bool applyFilter(const QModelIndex &parent);
    bool passesUserTest(const QModelIndex &index) const;
    bool filtering() const { return !m_showUnregistered || !m_filter.isEmpty(); }
    // Applies the filter to the rows first..last under parent and updates the parent group row.
    void filterRows(const QModelIndex &parent, int first, int last);
    QMenu *senderMenu() const;
    QModelIndex findText(const QModelIndex &start, const QString &text, int role) const;

    bool m_showUnregistered = true;
    QString m_filter;
    QString m_typeAheadText;
    bool m_typeAheadStarted = false;
    qint64 m_typeAheadLast = 0;
    QElapsedTimer m_clockBase;
    std::function<qint64()> m_clock;
    MyContextMenu *m_userMenu = nullptr;
    QMenu *m_groupMenu = nullptr;
};
