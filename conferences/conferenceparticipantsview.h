#pragma once

#include <QListView>
#include <QPersistentModelIndex>

class ConferenceParticipantsItemDelegate;

// The member list of the conference selected in the conference list. Clicks on a
// row's icon zones mute/unmute, re-call, hang up, kick or drop the member; it tells
// the main window whether anyone can be re-called and whether the list has rows.
// Owned by the main window; GUI thread.
class ConferenceParticipantsView : public QListView
{
    Q_OBJECT

public:
    explicit ConferenceParticipantsView(QWidget *parent = nullptr);

    void setModel(QAbstractItemModel *model) override;
    ConferenceParticipantsItemDelegate *participantsDelegate() const { return m_delegate; }

signals:
    // A re-call of an ended row; pstn tells a public-network number from a directory user.
    void callToConference(QString confName, QString uri, bool pstn);
    void canRecallToConference(bool can);
    void haveParticipants(bool have);

public slots:
    void killResponse(QString res, QVariant ctx);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void rowsInserted(const QModelIndex &parent, int start, int end) override;
    void rowsAboutToBeRemoved(const QModelIndex &parent, int start, int end) override;
    void dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight,
                     const QVector<int> &roles = QVector<int>()) override;

private:
    QString conferenceName() const;
    void setRecallable(const QModelIndex &index, bool recallable);
    void emitRecallIfChanged(bool wasEmpty);
    void setHaveParticipants(bool have);
    void updateAnimation(const QModelIndex &index);

    ConferenceParticipantsItemDelegate *m_delegate;
    QList<QPersistentModelIndex> m_recallable;
    bool m_haveParticipants = false;
};
