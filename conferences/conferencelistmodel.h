#pragma once

#include "conferences/conferenceentry.h"
#include "conferences/pendingcall.h"
#include "esl/esl2.h"

#include <QAbstractItemModel>
#include <QList>
#include <QMap>
#include <QPointer>
#include <QStringList>

#include <ctime>
#include <functional>
#include <memory>

class ConferenceParticipantsModel;
class QDomElement;

// The conferences the console shows and the live membership of each: mirrors the
// server's conference module from the "conference xml_list" snapshot and the
// conference/BACKGROUND_JOB events, keeps the permanent primary conference, makes
// planned conferences for drops, and turns membership changes into the signals the
// dispatcher logic acts on. One process-wide instance (instance()), created by the
// login cycle; GUI thread only.
class ConferenceListModel : public QAbstractItemModel
{
    Q_OBJECT

public:
    enum Roles {
        ParticipantCountRole = Qt::UserRole,
        ConferenceIdRole = Qt::UserRole + 1,
        ActiveRole = Qt::UserRole + 2,
        NonPrivilegedRole = Qt::UserRole + 3,
        RenamableRole = Qt::UserRole + 4,
    };

    explicit ConferenceListModel(QObject *parent = nullptr);
    ~ConferenceListModel() override;

    static ConferenceListModel *instance();

    std::shared_ptr<ConferenceParticipantsModel> getParticipantsModel(const QString &name) const;
    std::shared_ptr<ConferenceParticipantsModel> getParticipantsModel(int row) const;
    bool hasNonPrivilegedParticipants(const QString &name) const;
    bool isUserInConference(const QString &name, const QString &uri) const;
    QString getMemberId(const QString &name, const QString &uri) const;
    int addNewConference();
    bool hasConference(const QString &name) const { return rowOf(name) >= 0; }
    // Every conference name, sorted.
    QStringList conferenceNames() const;
    // The conferences in which the dispatcher has a connected (non-PSTN) member, sorted by name.
    QStringList dispatcherConferences() const;
    bool isDispatcherConnected() const { return !dispatcherConferences().isEmpty(); }

    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool insertRows(int row, int count, const QModelIndex &parent = QModelIndex()) override;
    bool removeRows(int row, int count, const QModelIndex &parent = QModelIndex()) override;
    QStringList mimeTypes() const override;
    Qt::DropActions supportedDropActions() const override;
    bool canDropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
                         const QModelIndex &parent) const override;
    bool dropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
                      const QModelIndex &parent) override;

    // For tests: the clock of the pending-call purge and the age beyond which an
    // entry is purged (one hour).
    void setClockForTest(std::function<time_t()> clock) { m_clock = std::move(clock); }
    void setPendingCallMaxAgeForTest(int seconds) { m_pendingMaxAge = seconds; }

signals:
    // The operator typed a conference name the server cannot take; text says why, in Russian.
    void nameRefused(QString text);
    void callToConference(QString confName, QString uri);
    void transferRequest(QString toConference, QString fromConference, QString memberId);
    void dispatcherEnteredConference(QString conference);
    void dispatcherLeftConference(QString conference);
    void dispatcherCallError(QString conference, QString error);
    void userEnteredConference(QString conference, QString uri);
    void userLeftConference(QString conference, QString uri);
    // A conference list snapshot has been applied (the last step of a reload).
    void conferenceListReloaded();

public slots:
    void eslConnected();
    void conferenceListReceived(QString res, QVariant ctx = QVariant());
    void conferenceEvent(ESL2::Event event);
    void backgroundJob(ESL2::Event event);
    void configChanged();

private:
    // Follows the event-socket client that exists now; false when there is none yet.
    bool attachEsl();
    int rowOf(const QString &name) const;
    bool isPrimary(int row) const;
    bool rename(int row, const QString &name, bool checked);
    // Removes the PSTN gateway prefix; true when the URI was a PSTN number.
    bool stripPstnPrefix(QString &uri) const;
    void applySnapshotMembers(const QString &name, const QDomElement &members);
    void memberAdded(const ESL2::Event &event, const QString &name);
    void memberDeleted(const ESL2::Event &event, const QString &name);
    void rememberJobFailure(const ESL2::Event &event);
    void setMemberRole(const ESL2::Event &event, const QString &name, int role, bool value);
    // After a member of uri left name: emits dispatcherLeftConference when no other
    // live row of the dispatcher remains.
    void checkDispatcherLeft(const QString &name, const QString &uri, bool ignorePstnRows);
    void startAutoDelete(int seconds, const std::shared_ptr<ConferenceParticipantsModel> &model,
                         const QModelIndex &member);

    QPointer<ESL2> m_esl;
    QList<ConferenceEntry> m_conferences;
    QStringList m_joinedConferences;
    QMap<QString, PendingCall> m_pendingCalls;
    QString m_primaryId;
    QString m_primaryDisplayName;
    std::function<time_t()> m_clock;
    int m_pendingMaxAge = 3600;
};
