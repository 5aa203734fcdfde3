#pragma once

#include <QModelIndex>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QVariant>

#include <memory>

class ConferenceListModel;
class ConferenceParticipantsModel;
class ESL2;
class UserListModel;
class XMLConfig;

// The dispatcher's conference control: places calls into conferences (directory users,
// public-network numbers, the dispatcher itself), moves and drops members, ends and
// restarts conferences, and applies the SwitchToConference rules that keep the dispatcher
// in the primary conference. It keeps no widgets: the main window forwards its slots here,
// shows the participants model and title this class announces and turns message() into a
// modal box. Owned by the main window; GUI thread only.
class ConferenceControl final : public QObject
{
    Q_OBJECT

public:
    ConferenceControl(ESL2 *esl, ConferenceListModel *conferences, UserListModel *users, XMLConfig &config,
                      QObject *parent = nullptr);
    ~ConferenceControl() override;

    // The conference selected in the list (its participants are the shown ones), or empty.
    QString selectedConference() const;
    ConferenceParticipantsModel *shownParticipants() const { return m_shown.get(); }
    bool transferInProgress() const { return m_transferInProgress; }
    bool primaryCallGuardActive() const { return m_primaryCallGuard.isActive(); }
    QString dispatcherUri() const;

    // The user and public-network originate commands with every placeholder but the channel
    // UUID filled; false with a Russian reason when a value cannot go into a command.
    bool userOriginate(const QString &confName, const QString &uri, QString *command, QString *why) const;
    bool pstnOriginate(const QString &confName, const QString &number, QString *command, QString *why) const;

    // For tests: shorten the 10 s guard after a call into the primary and the 1 s retry.
    void setTimersForTest(int guardMs, int retryMs);

signals:
    // Something the operator must acknowledge (one OK button).
    void message(QString title, QString text);
    // The participants model to show (null: none) and the title over it.
    void participantsChanged(ConferenceParticipantsModel *model);
    void titleChanged(QString title);

public slots:
    void callToConference(QString confName, QString uri);
    void callToConference(QString confName, QString uri, bool pstn);
    // Directory users picked in the user list, into the selected conference.
    void callToConference(QSet<QString> users);
    // The number accepted in the public-network dial dialog, into the selected conference.
    void callPstnNumber(QString number);
    void transferRequest(QString toConference, QString fromConference, QString memberId);
    void userEnteredConference(QString confName, QString uri);
    void userLeftConference(QString confName, QString uri);
    void dispatcherLeftConference();
    void dispatcherCallError(QString confName, QString error);
    void doCallToConference(QString res, QVariant ctx);
    void saveCallJobId(QString res, QVariant ctx);
    void transferResult(QString res, QVariant ctx);
    void kickResult(QString res, QVariant ctx);
    void killResult(QString res, QVariant ctx);
    void conferenceSelected(QModelIndex index);
    void conferenceDeselected(QModelIndex index);
    void conferenceRenamed(Qt::Orientation orientation, int first, int last);
    // Calls everyone of the shown conference who is planned or has dropped out.
    void startConference();
    // Drops the planned rows and hangs up or kicks everyone else of the shown conference.
    void endConference();

private:
    int switchMode() const;
    QString rtpSecureMedia() const;
    // The row of the conference whose role holds key, or invalid.
    QModelIndex memberRow(const QString &conference, int role, const QString &key) const;
    QModelIndex callRow(const QString &conference, const QString &uri) const;
    // Marks a member row as awaiting the server, or ends the wait with the failure's text.
    void setPending(const QModelIndex &row, const QString &text);
    void setFailed(const QModelIndex &row, const QString &error);
    void sendKick(const QString &conference, const QString &memberId);
    void sendKill(const QString &conference, const QString &callUuid);
    void sendPlaceholder(QString placeholder, const QString &callUuid, const QString &jobUuid);
    // False, with the row marked failed, when a step of the call chain got no reply (or a bad context).
    bool callReplyArrived(const QString &res, const QStringList &ctx);
    void refuse(const QString &text);

    QPointer<ESL2> m_esl;
    QPointer<ConferenceListModel> m_conferences;
    QPointer<UserListModel> m_users;
    XMLConfig &m_config;
    std::shared_ptr<ConferenceParticipantsModel> m_shown;
    QMetaObject::Connection m_renameConnection;
    bool m_transferInProgress = false;
    QTimer m_primaryCallGuard;
    QTimer m_retryTimer;
};
