#include "conferences/conferencecontrol.h"

#include "app/xmlconfig.h"
#include "conferences/commandsafety.h"
#include "conferences/conferencelistmodel.h"
#include "conferences/conferenceparticipantsmodel.h"
#include "esl/esl2.h"
#include "users/userlistmodel.h"

#include <QDebug>
#include <QStringList>
#include <QVariantHash>

#include <algorithm>

using PM = ConferenceParticipantsModel;

namespace {
const char *const kPlaceholder =
    "sendevent\nEvent-Name: CUSTOM\nEvent-Subclass: conference::maintenance\nConference-Name: %1\n"
    "Action: add-member\nChannel-Presence-ID: %2\nMember-ID: virtual\nMember-Type: member\n"
    "Channel-Call-UUID: %3\nMember-Job-UUID: %4\n\n";
const char *const kUserOriginate =
    "bgapi originate {originate_timeout=%1,origination_caller_id_name='%2',rtp_secure_media=%3,"
    "origination_caller_id_number=%2,origination_callee_id_name='%9'}[api_hangup_hook='originate "
    "loopback/%4/answered 0',origination_uuid=%10]user/%5,[leg_delay_start=%6]loopback/%4/alarm %2 XML "
    "conference\n\n";
const char *const kPstnOriginate =
    "bgapi originate {originate_timeout=%1,origination_caller_id_name='%2',rtp_secure_media=%3,"
    "origination_caller_id_number=%2,origination_callee_id_name='ТСОП',origination_callee_id_number=%4:%5}"
    "[origination_uuid=%9]loopback/%5/%4/XML %2 XML conference\n\n";
const char *const kTransfer = "api conference %1 transfer %2 %3\n\n";
const char *const kKick = "api conference %1 kick %2\n\n";
const char *const kCallErrorPrefix = "Ошибка вызова: ";
const char *const kNoAnswer = "нет ответа сервера";
const char *const kTitle = "Ошибка";

QString modeText(int mode)
{
    static const char *const names[] = {"manual", "auto", "permanent", "forced"};
    return mode >= 0 && mode < 4 ? QString::fromLatin1(names[mode]) : QString::number(mode);
}

// The reply as the operator should read it.
QString replyText(const QString &res)
{
    const QString text = res.trimmed();
    return text.isEmpty() ? QString::fromUtf8(kNoAnswer) : text;
}

QVariantHash context(std::initializer_list<std::pair<const char *, QString>> values)
{
    QVariantHash hash;
    for (const auto &value : values)
        hash.insert(QString::fromLatin1(value.first), value.second);
    return hash;
}
} // namespace

ConferenceControl::ConferenceControl(ESL2 *esl, ConferenceListModel *conferences, UserListModel *users,
                                     XMLConfig &config, QObject *parent)
    : QObject(parent), m_esl(esl), m_conferences(conferences), m_users(users), m_config(config)
{
    m_primaryCallGuard.setSingleShot(true);
    m_primaryCallGuard.setInterval(10000);
    m_retryTimer.setSingleShot(true);
    m_retryTimer.setInterval(1000);
    connect(&m_retryTimer, &QTimer::timeout, this, &ConferenceControl::dispatcherLeftConference);
    if (conferences) {
        // A name the server cannot take, typed into the conference list, is explained to the operator.
        connect(conferences, &ConferenceListModel::nameRefused, this,
                [this](const QString &why) { refuse(why); });
    }
}

ConferenceControl::~ConferenceControl() = default;

void ConferenceControl::setTimersForTest(int guardMs, int retryMs)
{
    m_primaryCallGuard.setInterval(guardMs);
    m_retryTimer.setInterval(retryMs);
}

QString ConferenceControl::dispatcherUri() const
{
    return m_config.currentLoginUser + QLatin1Char('@') + m_config.currentServerHost;
}

QString ConferenceControl::selectedConference() const
{
    return m_shown ? m_shown->conferenceName() : QString();
}

int ConferenceControl::switchMode() const
{
    return m_config.switchToConference;
}

QString ConferenceControl::rtpSecureMedia() const
{
    switch (m_config.srtpMode) {
    case XMLConfig::SrtpOptional:
        return QStringLiteral("optional");
    case XMLConfig::SrtpMandatory:
        return QStringLiteral("mandatory");
    default:
        return QStringLiteral("forbidden");
    }
}

bool ConferenceControl::userOriginate(const QString &confName, const QString &uri, QString *command,
                                      QString *why) const
{
    QString display;
    if (!CommandSafety::isConferenceName(confName, why) || !CommandSafety::isBareArgument(uri, why) ||
        !CommandSafety::quotedValue(m_users ? m_users->displayName(uri) : uri, &display, why))
        return false;
    // Single-argument fills, lowest placeholder first; none of the values holds a "%".
    *command = QString::fromUtf8(kUserOriginate)
                   .arg(m_config.callTimeout)
                   .arg(confName)
                   .arg(rtpSecureMedia())
                   .arg(uri)
                   .arg(uri)
                   .arg(m_config.alarmDelay)
                   .arg(display);
    return true;
}

bool ConferenceControl::pstnOriginate(const QString &confName, const QString &number, QString *command,
                                      QString *why) const
{
    if (!CommandSafety::isConferenceName(confName, why) || !CommandSafety::isBareArgument(number, why) ||
        !CommandSafety::isBareArgument(m_config.telephoneGateway, why))
        return false;
    *command = QString::fromUtf8(kPstnOriginate)
                   .arg(m_config.callTimeout)
                   .arg(confName)
                   .arg(rtpSecureMedia())
                   .arg(m_config.telephoneGateway)
                   .arg(number);
    return true;
}

void ConferenceControl::refuse(const QString &text)
{
    qWarning().noquote() << text;
    emit message(QString::fromUtf8(kTitle), text);
}

QModelIndex ConferenceControl::memberRow(const QString &conference, int role, const QString &key) const
{
    if (!m_conferences || !m_conferences->hasConference(conference))
        return QModelIndex();
    const std::shared_ptr<PM> members = m_conferences->getParticipantsModel(conference);
    return members ? members->findRow(role, key) : QModelIndex();
}

QModelIndex ConferenceControl::callRow(const QString &conference, const QString &uri) const
{
    // The row a placeholder for this member reuses: the first of its URI that is not connected.
    if (!m_conferences || !m_conferences->hasConference(conference))
        return QModelIndex();
    const std::shared_ptr<PM> members = m_conferences->getParticipantsModel(conference);
    for (int i = 0; members && i < members->rowCount(); ++i) {
        const QModelIndex m = members->index(i, 0);
        if (m.data(PM::UriRole).toString() == uri && m.data(PM::StateRole).toInt() != PM::Connected)
            return m;
    }
    return QModelIndex();
}

void ConferenceControl::setPending(const QModelIndex &row, const QString &text)
{
    if (row.isValid())
        const_cast<QAbstractItemModel *>(row.model())->setData(row, text, PM::PendingRole);
}

void ConferenceControl::setFailed(const QModelIndex &row, const QString &error)
{
    if (!row.isValid())
        return;
    auto *model = const_cast<QAbstractItemModel *>(row.model());
    model->setData(row, QString(), PM::PendingRole);
    model->setData(row, error, Qt::ToolTipRole);
}

void ConferenceControl::callToConference(QString confName, QString uri)
{
    callToConference(confName, uri, false);
}

void ConferenceControl::callToConference(QString confName, QString uri, bool pstn)
{
    if (!m_conferences || !m_esl)
        return;
    if (m_conferences->isUserInConference(confName, uri)) {
        qInfo() << "callToConference(): user" << uri << "is already in confefence" << confName;
        return;
    }
    if (!m_conferences->hasConference(confName)) {
        qWarning() << "MainAppFrameWindow3::callToConference(): attempt to call to nonexistent conference"
                   << confName;
        return;
    }
    QString originate;
    QString why;
    if (!(pstn ? pstnOriginate(confName, uri, &originate, &why)
               : userOriginate(confName, uri, &originate, &why))) {
        refuse(QStringLiteral("Вызов %1 в конференцию %2 не выполнен. %3").arg(uri, confName, why));
        return;
    }
    const QString presence = pstn ? m_config.telephoneGateway + QLatin1Char(':') + uri : uri;
    const QStringList ctx{QString::fromUtf8(kPlaceholder).arg(confName).arg(presence), originate, confName,
                          uri};

    setPending(callRow(confName, uri), QStringLiteral("Вызов..."));
    m_esl->sendRequest(QStringLiteral("api create_uuid\n\n"), this, QStringLiteral("doCallToConference"),
                       ctx);
}

void ConferenceControl::sendPlaceholder(QString placeholder, const QString &callUuid, const QString &jobUuid)
{
    if (m_esl)
        m_esl->sendRequest(
            placeholder.arg(CommandSafety::headerValue(callUuid)).arg(CommandSafety::headerValue(jobUuid)));
}

bool ConferenceControl::callReplyArrived(const QString &res, const QStringList &ctx)
{
    if (ctx.size() < 4) {
        qCritical() << "MainAppFrameWindow3::doCallToConference(): context size < 4:" << ctx.size();
        return false;
    }
    if (!res.trimmed().isEmpty())
        return true;
    // Not connected: nothing reaches the server, not even a placeholder.
    qWarning().noquote() << QStringLiteral("Вызов %1 в конференцию %2 не выполнен: %3")
                                .arg(ctx.at(3), ctx.at(2), QString::fromUtf8(kNoAnswer));
    setFailed(callRow(ctx.at(2), ctx.at(3)), QString::fromUtf8(kCallErrorPrefix) + kNoAnswer);
    return false;
}

void ConferenceControl::doCallToConference(QString res, QVariant ctxVariant)
{
    QStringList ctx = ctxVariant.toStringList();
    if (!callReplyArrived(res, ctx))
        return;
    const QString uuid = res.trimmed();
    if (res.contains(QLatin1String("-ERR")) || !CommandSafety::isBareArgument(uuid)) {
        qWarning() << "api create_uuid returned error:" << res;
        const QString error = QString::fromUtf8(kCallErrorPrefix) +
                              (res.contains(QLatin1String("-ERR")) ? res : QStringLiteral("-ERR ") + res);
        // The placeholder shows at once as a failed call carrying the text. An earlier row of this
        // member may ignore it (same text as its call UUID), so the row learns it here too.
        setFailed(callRow(ctx.at(2), ctx.at(3)), CommandSafety::headerValue(error));
        sendPlaceholder(ctx.at(0), error, QString());
        return;
    }
    ctx[0] = ctx.at(0).arg(uuid);
    m_esl->sendRequest(ctx.at(1).arg(uuid), this, QStringLiteral("saveCallJobId"), ctx);
}

void ConferenceControl::saveCallJobId(QString res, QVariant ctxVariant)
{
    const QStringList ctx = ctxVariant.toStringList();
    if (!callReplyArrived(res, ctx))
        return;
    if (res.contains(QLatin1String("-ERR"))) {
        qWarning() << "bgapi originate error:" << res;
        setFailed(callRow(ctx.at(2), ctx.at(3)),
                  CommandSafety::headerValue(QString::fromUtf8(kCallErrorPrefix) + res));
        // The channel UUID is in already; the job field carries the failure.
        if (m_esl)
            m_esl->sendRequest(
                ctx.at(0).arg(CommandSafety::headerValue(QString::fromUtf8(kCallErrorPrefix) + res)));
        return;
    }
    if (ctx.at(2) == m_config.primaryConferenceId)
        m_primaryCallGuard.start();
    QString jobUuid = res;
    const QString okPrefix = QStringLiteral("+OK Job-UUID: ");
    if (jobUuid.startsWith(okPrefix))
        jobUuid.remove(0, okPrefix.size());
    // The placeholder takes the second open field; the first is already the channel UUID.
    if (m_esl)
        m_esl->sendRequest(ctx.at(0).arg(CommandSafety::headerValue(jobUuid)));
}

void ConferenceControl::callToConference(QSet<QString> users)
{
    const QString conference = selectedConference();
    if (conference.isEmpty()) {
        qCritical() << "MainAppFrameWindow3::callToConference(): no selected conference";
        emit message(QString::fromUtf8(kTitle), QStringLiteral("Ошибка: не выбрана конференция"));
        return;
    }
    qInfo() << "calling" << users.size() << "user(s) to conference" << conference;
    QStringList sorted(users.begin(), users.end());
    sorted.sort();
    for (const QString &uri : qAsConst(sorted))
        callToConference(conference, uri, false);
}

void ConferenceControl::callPstnNumber(QString number)
{
    const QString conference = selectedConference();
    if (conference.isEmpty()) {
        qCritical() << "MainAppFrameWindow3::callToConference(): no selected conference";
        emit message(QString::fromUtf8(kTitle), QStringLiteral("Ошибка: не выбрана конференция"));
        return;
    }
    qInfo() << "calling pstn number" << number << "to conference" << conference;
    callToConference(conference, number, true);
}

void ConferenceControl::transferRequest(QString toConference, QString fromConference, QString memberId)
{
    qDebug() << "MainAppFrameWindow3::transferRequest(): transferring" << memberId << "from conference"
             << fromConference << "to" << toConference;
    QString why;
    if (!CommandSafety::isConferenceName(fromConference, &why) ||
        !CommandSafety::isConferenceName(toConference, &why) ||
        !CommandSafety::isBareArgument(memberId, &why)) {
        refuse(QStringLiteral("Перевод участника не выполнен. %1").arg(why));
        return;
    }
    setPending(memberRow(fromConference, PM::MemberIdRole, memberId),
               QStringLiteral("Перевод в конференцию %1...").arg(toConference));
    if (m_esl)
        m_esl->sendRequest(QString::fromLatin1(kTransfer).arg(fromConference, toConference, memberId), this,
                           QStringLiteral("transferResult"),
                           context({{"from", fromConference}, {"to", toConference}, {"memberId", memberId}}));
}

void ConferenceControl::transferResult(QString res, QVariant ctx)
{
    // The real server puts a "+" before the text.
    if (res.midRef(res.startsWith(QLatin1Char('+')) ? 1 : 0).startsWith(QLatin1String("OK Member ")))
        return;
    qCritical() << "MainAppFrameWindow3::transferResult(): conference trancfer error:" << res;
    const QVariantHash hash = ctx.toHash();
    const QString from = hash.value(QStringLiteral("from")).toString();
    const QString to = hash.value(QStringLiteral("to")).toString();
    const QString memberId = hash.value(QStringLiteral("memberId")).toString();
    qWarning().noquote() << QStringLiteral("Перевод участника %1 из конференции %2 в %3 не выполнен: %4")
                                .arg(memberId, from, to, replyText(res));
    setFailed(memberRow(from, PM::MemberIdRole, memberId),
              QStringLiteral("Ошибка перевода: ") + replyText(res));
    emit message(QString::fromUtf8(kTitle),
                 QStringLiteral("Ошибка перевода в основную конференцию: %1").arg(res));
    m_transferInProgress = false;
}

void ConferenceControl::sendKick(const QString &conference, const QString &memberId)
{
    QString why;
    if (!CommandSafety::isConferenceName(conference, &why) ||
        !CommandSafety::isBareArgument(memberId, &why)) {
        qWarning().noquote() << QStringLiteral("Отключение участника не выполнено.") << why;
        return;
    }
    setPending(memberRow(conference, PM::MemberIdRole, memberId), QStringLiteral("Отключение..."));
    if (m_esl)
        m_esl->sendRequest(QString::fromLatin1(kKick).arg(conference, memberId), this,
                           QStringLiteral("kickResult"),
                           context({{"conference", conference}, {"memberId", memberId}}));
}

void ConferenceControl::kickResult(QString res, QVariant ctx)
{
    if (res.startsWith(QLatin1String("+OK")))
        return; // the server's del-member confirms it
    const QVariantHash hash = ctx.toHash();
    const QString conference = hash.value(QStringLiteral("conference")).toString();
    const QString memberId = hash.value(QStringLiteral("memberId")).toString();
    qWarning().noquote() << QStringLiteral("Отключение участника %1 конференции %2 не выполнено: %3")
                                .arg(memberId, conference, replyText(res));
    setFailed(memberRow(conference, PM::MemberIdRole, memberId),
              QStringLiteral("Ошибка отключения: ") + replyText(res));
}

void ConferenceControl::sendKill(const QString &conference, const QString &callUuid)
{
    if (!CommandSafety::isBareArgument(callUuid)) {
        qWarning() << "ConferenceControl: no channel to hang up in" << conference << callUuid;
        return;
    }
    setPending(memberRow(conference, PM::CallUuidRole, callUuid), QStringLiteral("Завершение вызова..."));
    if (m_esl)
        m_esl->sendRequest(QStringLiteral("api uuid_kill ") + callUuid + QStringLiteral("\n\n"), this,
                           QStringLiteral("killResult"),
                           context({{"conference", conference}, {"callUuid", callUuid}}));
}

void ConferenceControl::killResult(QString res, QVariant ctx)
{
    if (res.startsWith(QLatin1String("+OK")))
        return; // the originate's result confirms it
    const QVariantHash hash = ctx.toHash();
    const QString conference = hash.value(QStringLiteral("conference")).toString();
    const QString callUuid = hash.value(QStringLiteral("callUuid")).toString();
    if (res.contains(QLatin1String("-ERR"))) {
        // The channel was already gone: the row has nothing left to wait for.
        qInfo().noquote() << QStringLiteral("Вызов %1 в конференции %2 уже завершён: %3")
                                 .arg(callUuid, conference, replyText(res));
        const QModelIndex row = memberRow(conference, PM::CallUuidRole, callUuid);
        if (row.isValid())
            const_cast<QAbstractItemModel *>(row.model())->removeRow(row.row());
        return;
    }
    qWarning().noquote() << QStringLiteral("Завершение вызова %1 в конференции %2 не выполнено: %3")
                                .arg(callUuid, conference, replyText(res));
    setFailed(memberRow(conference, PM::CallUuidRole, callUuid),
              QStringLiteral("Ошибка завершения вызова: ") + replyText(res));
}

void ConferenceControl::userEnteredConference(QString confName, QString uri)
{
    const QString primary = m_config.primaryConferenceId;
    if (confName != primary || !m_conferences)
        return;
    const QString me = dispatcherUri();
    if (uri == me) {
        m_transferInProgress = false;
        m_primaryCallGuard.stop();
    }
    const int mode = switchMode();
    if (mode == XMLConfig::SwitchAuto) {
        if (m_primaryCallGuard.isActive() || m_conferences->isDispatcherConnected())
            return;
        if (!(m_users && m_users->isDispatcherOrTechnician(uri))) {
            qDebug() << "MainAppFrameWindow3::userEnteredConference(): calling myself to conference"
                     << confName;
            callToConference(confName, me, false);
        }
    } else if (mode == XMLConfig::SwitchForced) {
        const QStringList mine = m_conferences->dispatcherConferences();
        if (mine.contains(primary))
            return;
        if (mine.isEmpty()) {
            qCritical()
                << "MainAppFrameWindow3::userEnteredConference(): диспетчер не в конференции в режиме "
                   "подключения 'Принудительное'";
            return;
        }
        const QString from = mine.first();
        const QString myId = m_conferences->getMemberId(from, me);
        if (myId.isEmpty()) {
            qCritical()
                << "MainAppFrameWindow3::userEnteredConference(): cannot get my member-ID for conference"
                << from;
            return;
        }
        qDebug() << "MainAppFrameWindow3::userEnteredConference(): transferring myself from conference"
                 << from << "to" << confName;
        m_transferInProgress = true;
        setPending(memberRow(from, PM::MemberIdRole, myId),
                   QStringLiteral("Перевод в конференцию %1...").arg(confName));
        if (m_esl)
            m_esl->sendRequest(QString::fromLatin1(kTransfer).arg(from, confName, myId), this,
                               QStringLiteral("transferResult"),
                               context({{"from", from}, {"to", confName}, {"memberId", myId}}));
    }
}

void ConferenceControl::userLeftConference(QString confName, QString uri)
{
    const QString primary = m_config.primaryConferenceId;
    const int mode = switchMode();
    qDebug() << "MainAppFrameWindow3::userLeftConference(" << confName << "," << uri
             << "): режим подключения:" << modeText(mode) << " основная конференция:" << primary;
    const QString me = dispatcherUri();
    if (mode != XMLConfig::SwitchAuto || confName != primary || !m_conferences ||
        !m_conferences->isUserInConference(primary, me))
        return;
    qDebug() << "MainAppFrameWindow3::userLeftConference(): dispatcher is in primary conference";
    if (m_conferences->hasNonPrivilegedParticipants(primary))
        return;
    qDebug() << "MainAppFrameWindow3::userLeftConference(): only dispatchers left in primary conference";
    const QModelIndexList rows = m_conferences->match(
        m_conferences->index(0, 0), ConferenceListModel::ConferenceIdRole, primary, 1, Qt::MatchExactly);
    if (rows.isEmpty()) {
        qCritical() << "MainAppFrameWindow3::userLeftConference(): cannot find primary conference";
        return;
    }
    // A dispatcher who joined an empty primary stays.
    if (!rows.first().data(ConferenceListModel::NonPrivilegedRole).toBool())
        return;
    qDebug() << "MainAppFrameWindow3::userLeftConference(): non-provoleged participant(s) was there, leaving";
    const std::shared_ptr<PM> members = m_conferences->getParticipantsModel(rows.first().row());
    if (!members) {
        qCritical() << "MainAppFrameWindow3::userLeftConference(): cannot get primary conference model";
        return;
    }
    QStringList ids;
    for (int i = 0; i < members->rowCount(); ++i) {
        const QModelIndex m = members->index(i, 0);
        if (m.data(PM::UriRole).toString() == me && m.data(PM::StateRole).toInt() == PM::Connected)
            ids << m.data(PM::MemberIdRole).toString();
    }
    for (const QString &id : qAsConst(ids))
        sendKick(primary, id);
}

void ConferenceControl::dispatcherLeftConference()
{
    qDebug() << "dispatcherLeftConference()";
    const int mode = switchMode();
    if ((mode != XMLConfig::SwitchPermanent && mode != XMLConfig::SwitchForced) || m_transferInProgress ||
        !m_conferences || m_conferences->isDispatcherConnected())
        return;
    const QString me = dispatcherUri();
    const QModelIndexList rows =
        m_users ? m_users->match(m_users->index(0, 0), UserListModel::UserUriRole, me, 1, Qt::MatchExactly)
                : QModelIndexList();
    if (rows.isEmpty()) {
        qCritical() << "cannot find" << me << "in user list";
        return;
    }
    const QString primary = m_config.primaryConferenceId;
    if (rows.first().data(UserListModel::RegisteredRole).toBool()) {
        qDebug() << "MainAppFrameWindow3::dispatcherLeftConference(): calling myself to conference"
                 << primary;
        callToConference(primary, me, false);
    } else {
        qDebug() << "MainAppFrameWindow3::dispatcherLeftConference(): user" << me << "not yet registered";
    }
}

void ConferenceControl::dispatcherCallError(QString confName, QString error)
{
    const int mode = switchMode();
    if ((mode != XMLConfig::SwitchPermanent && mode != XMLConfig::SwitchForced) ||
        confName != m_config.primaryConferenceId)
        return;
    qWarning() << "error connecting to primary conference:" << error << " Will retry in 1 sec.";
    m_retryTimer.start();
}

void ConferenceControl::conferenceSelected(QModelIndex index)
{
    if (!m_conferences)
        return;
    disconnect(m_renameConnection);
    m_shown = m_conferences->getParticipantsModel(index.row());
    if (m_shown)
        m_renameConnection =
            connect(m_shown.get(), &PM::headerDataChanged, this, &ConferenceControl::conferenceRenamed);
    emit participantsChanged(m_shown.get());
    emit titleChanged(index.data(Qt::DisplayRole).toString());
}

void ConferenceControl::conferenceDeselected(QModelIndex index)
{
    // Only the shown conference: the new selection may have been announced first.
    if (!m_shown || !m_conferences || m_conferences->getParticipantsModel(index.row()) != m_shown)
        return;
    disconnect(m_renameConnection);
    m_shown.reset();
    emit participantsChanged(nullptr);
}

void ConferenceControl::conferenceRenamed(Qt::Orientation orientation, int first, int)
{
    const auto *model = qobject_cast<const QAbstractItemModel *>(sender());
    if (orientation != Qt::Horizontal || first != 0 || !model)
        return;
    emit titleChanged(model->headerData(0, Qt::Horizontal).toString());
}

void ConferenceControl::startConference()
{
    if (!m_shown) {
        qCritical() << "MainAppFrameWindow3::callToConference(): no selected conference";
        emit message(QString::fromUtf8(kTitle), QStringLiteral("Ошибка: не выбрана конференция"));
        return;
    }
    // Keeps each row's kind: a public-network number must not be re-called as a directory user.
    const std::shared_ptr<PM> members = m_shown;
    QList<QPair<QString, bool>> calls;
    for (int i = 0; i < members->rowCount(); ++i) {
        const QModelIndex m = members->index(i, 0);
        const QPair<QString, bool> call(m.data(PM::UriRole).toString(), m.data(PM::PstnRole).toBool());
        if (m.data(PM::EndedRole).toBool() && !calls.contains(call))
            calls.append(call);
    }
    const QString conference = members->conferenceName();
    qInfo() << "calling" << calls.size() << "user(s) to conference" << conference;
    for (const auto &call : qAsConst(calls))
        callToConference(conference, call.first, call.second);
}

void ConferenceControl::endConference()
{
    const std::shared_ptr<PM> members = m_shown;
    if (!members)
        return;
    const QString conference = members->conferenceName();
    for (int i = 0; i < members->rowCount();) {
        const QModelIndex m = members->index(i, 0);
        const int state = m.data(PM::StateRole).toInt();
        if (state == PM::Planned) {
            members->removeRow(i);
            continue;
        }
        if (state == PM::Calling || state == PM::Alerting)
            sendKill(conference, m.data(PM::CallUuidRole).toString());
        else if (state == PM::Connected)
            sendKick(conference, m.data(PM::MemberIdRole).toString());
        ++i;
    }
}
