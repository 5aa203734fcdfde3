#pragma once

#include "lab/labchannel.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

class LabEvent;
class LabPlayer;
class LabRecorder;
class LabServer;

// The conference module of the lab: conferences created by their first member and destroyed
// after the last one leaves, members numbered per server, the "conference" api commands
// (xml_list, list, count, mute, unmute, kick, transfer, play, pause_play, file_seek, stop)
// with the real reply texts, and the conference::maintenance events. Owned by LabServer.
class LabConferences final : public QObject
{
    Q_OBJECT
public:
    explicit LabConferences(LabServer *server);
    ~LabConferences() override;

    // Adds an answered channel as a member; returns its Member-ID.
    int join(const QString &conference, const LabChannel &channel);
    // The channel hung up; its member leaves. False when no member carries that call UUID.
    bool hangup(const QString &uuid, const QString &cause);
    bool hasChannel(const QString &uuid) const;
    // Start or stop simulated speech of the members whose presence id or number is who.
    int setTalking(const QString &who, bool talking);
    // Talking state of the member carrying that call, from the energy of its real audio; a muted
    // member does not start talking. False when no member carries the call.
    bool setChannelTalking(const QString &uuid, bool talking);
    // For the media mixer: the conference a call is a member of (empty if none), whether that
    // member may be heard, and the file playing into a conference (null when none).
    QString conferenceOf(const QString &uuid) const;
    bool canSpeak(const QString &uuid) const;
    const LabPlayer *player(const QString &conference) const;

    QString api(const QString &args);
    QString xmlList(const QString &only = QString()) const;
    QStringList names() const { return m_conferences.keys(); }
    int memberCount(const QString &conference) const;

signals:
    // A member's call is over (kick or hang-up); the calls layer reports the presence change.
    void channelEnded(const LabChannel &channel, const QString &cause);

private:
    struct Member
    {
        int id = 0;
        LabChannel channel;
        bool canSpeak = true;
        bool talking = false;
        bool everTalked = false;
        qint64 joinedMs = 0;
    };
    struct Conference
    {
        QString name;
        QString uuid;
        QList<Member> members; // in joining order
        int floorId = 0;
        qint64 createdMs = 0;
        LabPlayer *player = nullptr;
    };

    Conference &ensure(const QString &name);
    void addMember(Conference &c, const Member &m);
    Member removeMember(Conference &c, int index, const QString &cause, bool kicked);
    void destroyIfEmpty(const QString &name);
    Member *findMember(Conference &c, int id);

    LabEvent conferenceEvent(const Conference &c, const QString &function, int line) const;
    LabEvent memberEvent(const Conference &c, const Member &m, const QString &action, const QString &function,
                         int line, const QString &cause = QString()) const;
    void appendMemberFields(LabEvent &e, const Member &m) const;

    QString memberCommand(Conference &c, const QString &verb, const QStringList &words);
    QString transfer(Conference &c, const QStringList &words);
    QString play(Conference &c, const QStringList &words);
    QString stopPlay(Conference &c);
    void playFinished(const QString &conference, LabPlayer *player);
    QString listText(const Conference &c) const;
    QString resolveFile(const QString &path) const;
    QString recordCommand(const QString &name, const QString &verb, const QStringList &words);

    LabServer *m_server;
    QMap<QString, Conference> m_conferences;
    int m_nextMemberId = 1;
    LabRecorder *m_recorder;
};
