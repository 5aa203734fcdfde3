#pragma once

#include <QString>

// The directory both user suites load: 1002 and 1006 registered, 1005 without a name, a user of
// another domain, a malformed line, a blank line and "+OK".
namespace usertest {

inline const QString kNoReply = QStringLiteral("-ERR no reply\n");
inline const QString kUsers = QStringLiteral(
    "userid|context|domain|group|contact|callgroup|effective_caller_id_name|effective_caller_id_number\n"
    "1001|default|127.0.0.1|default|error/user_not_registered||Иван Иванов|\n"
    "1002|default|127.0.0.1|default|sofia/internal/sip:1002@127.0.0.1:5074||Петров Пётр|\n"
    "1003|default|127.0.0.1|default|error/user_not_registered||Сидорова Анна|\n"
    "1004|default|127.0.0.1|default|error/user_not_registered||Operator Four|\n"
    "1005|default|127.0.0.1|default|error/user_not_registered|||\n"
    "1006|default|127.0.0.1|default|sofia/internal/sip:1006@127.0.0.1:5080||Кузнецов Олег|3006\n"
    "2001|default|10.0.0.9|default|sofia/internal/sip:2001@10.0.0.9:5060||Чужой|\n"
    "broken|line|with|too|few\n\n+OK\n");
// The tree with 1006 logged in, 1001 dispatcher in "Группа А" and "Группа Б", 1002 technician in
// "Группа А", 1004 in "Группа Б", the rest without role or groups: own row, groups, members.
inline const QString kTree =
    QStringLiteral("Кузнецов Олег; Группа А: Иван Иванов, Петров Пётр; Группа Б: Operator Four, Иван Иванов; "
                   "Без группы: 1005@127.0.0.1, Кузнецов Олег, Сидорова Анна");

inline QString uri(const QString &id)
{
    return id + QStringLiteral("@127.0.0.1");
}

} // namespace usertest
