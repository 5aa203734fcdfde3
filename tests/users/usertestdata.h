#pragma once

// Shared data for the user tests: server replies and events in the shapes the
// telephony server produces them, and a capture of Qt log lines.

#include "esl/esl2.h"
#include "users/userlistmodel.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace UserTestData {

const QString kDomain = QStringLiteral("127.0.0.1");
const QString kNoReply = QStringLiteral("-ERR no reply\n");
const QString kNoGroup = QStringLiteral("Без группы");

// Body of "api list_users" as the server sends it: header line, one line per user
// (1002 registered, 1005 without a display name), trailing blank line and "+OK".
// 2001 is of another domain; the malformed line must be skipped.
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
        "broken|line|with|too|few\n"
        "\n"
        "+OK\n");
}

// Loads the reference directory: list, then roles and groups as the server answers
// them (1001 dispatcher in two groups, 1002 technician, the rest without groups).
inline void loadReferenceDirectory(UserListModel *model)
{
    model->userListReceived(listUsersReply(), QVariant());
    const struct
    {
        const char *id;
        QString role;
        QString groups;
    } replies[] = {
        {"1001", QStringLiteral("dispatcher"), QStringLiteral("Группа А;Группа Б;")},
        {"1002", QStringLiteral("technician"), QStringLiteral("Группа А;")},
        {"1003", QStringLiteral("default"), kNoReply},
        {"1004", kNoReply, QStringLiteral("Группа Б;")},
        {"1005", kNoReply, kNoReply},
        {"1006", kNoReply, kNoReply},
    };
    for (const auto &r : replies) {
        const QString uri = QLatin1String(r.id) + QLatin1Char('@') + kDomain;
        model->userRoleReceived(r.role, uri);
        model->userGroupsReceived(r.groups, uri);
    }
}

inline ESL2::Event registerEvent(const QString &subclass, const QString &user, const QString &host = kDomain)
{
    ESL2::Event e;
    e.insert(QStringLiteral("Event-Name"), QStringLiteral("CUSTOM"));
    e.insert(QStringLiteral("Event-Subclass"), subclass);
    if (subclass == QLatin1String("sofia::expire")) {
        e.insert(QStringLiteral("user"), user);
        e.insert(QStringLiteral("host"), host);
    } else {
        e.insert(QStringLiteral("from-user"), user);
        e.insert(QStringLiteral("from-host"), host);
    }
    return e;
}

inline ESL2::Event presenceEvent(const QString &from, const QString &state)
{
    ESL2::Event e;
    e.insert(QStringLiteral("Event-Name"), QStringLiteral("PRESENCE_IN"));
    e.insert(QStringLiteral("from"), from);
    if (!state.isNull())
        e.insert(QStringLiteral("presence-call-info-state"), state);
    return e;
}

// Collects every Qt log line while alive; the previous handler is restored after.
class LogCapture
{
public:
    LogCapture()
    {
        s_lines.clear();
        m_previous = qInstallMessageHandler(&LogCapture::handler);
    }
    ~LogCapture() { qInstallMessageHandler(m_previous); }

    QStringList lines() const { return s_lines; }
    bool contains(QtMsgType type, const QString &line) const { return s_lines.contains(prefix(type) + line); }
    void clear() { s_lines.clear(); }

    static QString prefix(QtMsgType type)
    {
        switch (type) {
        case QtDebugMsg:
            return QStringLiteral("D ");
        case QtInfoMsg:
            return QStringLiteral("I ");
        case QtWarningMsg:
            return QStringLiteral("W ");
        default:
            return QStringLiteral("C ");
        }
    }

private:
    static void handler(QtMsgType type, const QMessageLogContext &, const QString &msg)
    {
        s_lines.append(prefix(type) + msg);
    }

    inline static QStringList s_lines;
    QtMessageHandler m_previous = nullptr;
};

} // namespace UserTestData
