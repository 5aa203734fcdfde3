#pragma once

#include "lab/labbehaviour.h"
#include "lab/labchannel.h"
#include "lab/labserver.h"

#include <QHash>
#include <QMap>
#include <QObject>
#include <QString>
#include <memory>

// The lab's call handling and dialplan: "originate" with its legs (directory users, the
// loud-alarm loopback leg, public-network parties), simulated answer behaviours, ringing
// channels that uuid_kill can end, presence of user legs, and the originate result that
// becomes the BACKGROUND_JOB body. Owned by LabServer.
class LabCalls final : public QObject
{
    Q_OBJECT
public:
    explicit LabCalls(LabServer *server);
    ~LabCalls() override;

    void originate(const QString &args, const LabServer::Reply &done);
    QString kill(const QString &uuid);
    QString showChannels() const;

    void setUserBehaviour(const QString &id, const LabBehaviour &b) { m_userBehaviours[id] = b; }
    LabBehaviour userBehaviour(const QString &id) const { return m_userBehaviours.value(id, m_defaultUser); }
    // Public-network parties: the longest matching number prefix wins; "" sets the default.
    void setPstnBehaviour(const QString &prefix, const LabBehaviour &b) { m_pstnBehaviours[prefix] = b; }
    LabBehaviour pstnBehaviour(const QString &number) const;
    int ringingCount() const { return m_ringing.size(); }

private:
    struct Job;
    struct Leg;

    void startLeg(const std::shared_ptr<Job> &job, int index);
    void ring(const std::shared_ptr<Job> &job, int index, const LabBehaviour &b);
    void answer(const std::shared_ptr<Job> &job, int index);
    void failLeg(const std::shared_ptr<Job> &job, int index, const QString &cause);
    void legOver(const std::shared_ptr<Job> &job, int index);
    void timeout(const std::shared_ptr<Job> &job);
    void finish(const std::shared_ptr<Job> &job, const QString &result);
    void publishPresence(const LabChannel &channel, const QString &state, const QString &answerState);
    void channelEnded(const LabChannel &channel, const QString &cause);

    LabServer *m_server;
    LabBehaviour m_defaultUser;
    QHash<QString, LabBehaviour> m_userBehaviours;
    QMap<QString, LabBehaviour> m_pstnBehaviours;
    QHash<QString, std::shared_ptr<Job>> m_ringing; // channel UUID -> its originate
    QHash<QString, LabChannel> m_parked;            // answered channels not in a conference
};
