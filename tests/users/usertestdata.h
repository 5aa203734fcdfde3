#pragma once

// Shared data for the user tests: replies and events shaped as the telephony
// server sends them, and a capture of Qt log lines.

#include "esl/esl2.h"
#include "users/userlistmodel.h"

#include <QStringList>

namespace UserTestData {

const QString kDomain = QStringLiteral("127.0.0.1");
const QString kNoReply = QStringLiteral("-ERR no reply\n");
const QString kNoGroup = QStringLiteral("Без группы");

// "api list_users" body: header, users (1002 and 1006 registered, 1005 without a
// name), a user of another domain, a malformed line, blank line and "+OK".
inline QString listUsersReply()
{
    return QStringLiteral(
        "userid|context|domain|group|contact|callgroup|effective_caller_id_name|effective_caller_id_number\n"
        "1001|default|127.0.0.1|default|error/user_not_registered||Иван Иванов|\n"
        "1002|default|127.0.0.1|default|sofia/internal/sip:1002@127.0.0.1:5074||Петров Пётр|\n"
        "1003|default|127.0.0.1|default|error/user_not_registered||Сидорова Анна|\n"
        "1004|default|127.0.0.1|default|error/user_not_registered||Operator Four|\n"
        "1005|default|127.0.0.1|default|error/user_not_registered|||\n"
        "1006|default|127.0.0.1|default|sofia/internal/sip:1006@127.0.0.1:5080||Кузнецов Олег|3006\n"
        "2001|default|10.0.0.9|default|sofia/internal/sip:2001@10.0.0.9:5060||Чужой|\n"
        "broken|line|with|too|few\n\n+OK\n");
}

inline QString uri(const char *id)
{
    return QLatin1String(id) + QLatin1Char('@') + kDomain;
}

// List, roles and groups: 1001 dispatcher in two groups, 1002 technician in
// "Группа А", 1004 in "Группа Б", the rest without role or groups.
inline void loadReferenceDirectory(UserListModel *model)
{
    model->userListReceived(listUsersReply(), QVariant());
    const QStringList groups{QStringLiteral("Группа А;Группа Б;"),
                             QStringLiteral("Группа А;"),
                             kNoReply,
                             QStringLiteral("Группа Б;"),
                             kNoReply,
                             kNoReply};
    const QStringList roles{QStringLiteral("dispatcher"),
                            QStringLiteral("technician"),
                            QStringLiteral("default"),
                            kNoReply,
                            kNoReply,
                            kNoReply};
    for (int i = 0; i < groups.size(); ++i) {
        const QString user = QStringLiteral("%1@").arg(1001 + i) + kDomain;
        model->userRoleReceived(roles.at(i), user);
        model->userGroupsReceived(groups.at(i), user);
    }
}

inline ESL2::Event registerEvent(const QString &subclass, const QString &user, const QString &host = kDomain)
{
    const bool expire = subclass == QLatin1String("sofia::expire");
    return {{QStringLiteral("Event-Name"), QStringLiteral("CUSTOM")},
            {QStringLiteral("Event-Subclass"), subclass},
            {expire ? QStringLiteral("user") : QStringLiteral("from-user"), user},
            {expire ? QStringLiteral("host") : QStringLiteral("from-host"), host}};
}

inline ESL2::Event presenceEvent(const QString &from, const QString &state)
{
    ESL2::Event e{{QStringLiteral("Event-Name"), QStringLiteral("PRESENCE_IN")},
                  {QStringLiteral("from"), from}};
    if (!state.isNull())
        e.insert(QStringLiteral("presence-call-info-state"), state);
    return e;
}

// Collects Qt log lines ("I text", "W text", "C text"; debug lines are dropped)
// while alive; the previous handler comes back after.
class LogCapture
{
public:
    LogCapture() : m_previous(qInstallMessageHandler(&LogCapture::handler)) { s_lines.clear(); }
    ~LogCapture() { qInstallMessageHandler(m_previous); }
    QStringList lines() const { return s_lines; }
    void clear() { s_lines.clear(); }

private:
    static void handler(QtMsgType type, const QMessageLogContext &, const QString &msg)
    {
        if (type != QtDebugMsg)
            s_lines << QLatin1Char(type == QtInfoMsg      ? 'I'
                                   : type == QtWarningMsg ? 'W'
                                                          : 'C') +
                           QLatin1Char(' ') + msg;
    }

    inline static QStringList s_lines;
    QtMessageHandler m_previous;
};

} // namespace UserTestData
