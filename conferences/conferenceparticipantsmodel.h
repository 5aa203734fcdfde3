#pragma once

#include "conferences/conferencemember.h"
#include "esl/esl2.h"

#include <QAbstractItemModel>
#include <QList>
#include <QString>
#include <QVector>

#include <memory>

// The members of one conference: connected, being called, planned, failed or
// recently gone. ConferenceListModel owns one per conference (shared with views,
// pending auto-deletes and callers) and fills it from server events; this model
// itself only marks failed originates. GUI thread only.
class ConferenceParticipantsModel : public QAbstractItemModel,
                                    public std::enable_shared_from_this<ConferenceParticipantsModel>
{
    Q_OBJECT

public:
    enum MemberState {
        Planned = 0,
        Calling = 1,
        Alerting = 2,
        Connected = 3,
        Failed = 5,
        Disconnected = 6,
    };

    enum Roles {
        UriRole = Qt::UserRole,
        MemberIdRole = Qt::UserRole + 1,
        MemberTypeRole = Qt::UserRole + 2,
        StateRole = Qt::UserRole + 3,
        CanSpeakRole = Qt::UserRole + 4,
        TalkingRole = Qt::UserRole + 5,
        CallUuidRole = Qt::UserRole + 6,
        JobUuidRole = Qt::UserRole + 7,
        EndedRole = Qt::UserRole + 8,
        PstnRole = Qt::UserRole + 9,
        PrivilegedRole = Qt::UserRole + 10,
        PendingRole = Qt::UserRole + 11,
    };

    explicit ConferenceParticipantsModel(QObject *parent = nullptr);

    static bool isEndedState(int state) { return state < Calling || state > Connected; }
    // The operator's text for a failed originate, from the job's reply body.
    static QString callErrorText(const QString &body);

    QString conferenceName() const { return m_conferenceName; }
    QModelIndex participantIndex(const QString &memberId) const;

    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool setHeaderData(int section, Qt::Orientation orientation, const QVariant &value,
                       int role = Qt::EditRole) override;
    bool insertRows(int row, int count, const QModelIndex &parent = QModelIndex()) override;
    bool removeRows(int row, int count, const QModelIndex &parent = QModelIndex()) override;
    // Appends complete rows in one insertion, with one count update for the conference.
    void appendMembers(const QVector<ConferenceMember> &members);
    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;
    Qt::DropActions supportedDragActions() const override;

    // The first row whose role holds value, or an invalid index; value must not be empty.
    QModelIndex findRow(int role, const QString &value) const;

public slots:
    // Fed with every BACKGROUND_JOB (by ConferenceListModel): marks the row of a failed originate.
    void conferenceEvent(ESL2::Event event);

private:
    void propagateCount();

    QString m_conferenceName;
    QList<ConferenceMember> m_members;
};
