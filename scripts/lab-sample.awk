# Writes the SQL of the sample recordings: conference CDRs with 2-12 participants and a
# recording node, and direct user-to-user recordings, spread over the last 30 days with one
# busy day. Input: the world's users as "id TAB role TAB password TAB name" lines.
# Variables: now, busy (Unix start of the busy day), dir (folder of the sample files),
# cache (folder of the WAV variants), variants (their count), links (file of "src TAB dst").
BEGIN { FS = "\t"; srand(20261206); n = 0 }
{ ids[n] = $1; names[n] = $4; n++ }

function xml(s) {
    gsub(/&/, "\\&amp;", s); gsub(/</, "\\&lt;", s); gsub(/>/, "\\&gt;", s); gsub(/"/, "\\&quot;", s)
    return s
}
# Quotes and backslashes never reach the SQL text: quotes are doubled, backslashes dropped.
function sql(s) { gsub(/\\/, "", s); gsub(/'/, "''", s); return "'" s "'" }
function ts(t) { return "FROM_UNIXTIME(" t ")" }
function pick(max) { return int(rand() * max) }

function file_for(kind, i,    f) {
    f = dir "/" kind "-" sprintf("%04d", i) ".wav"
    printf "%s/sample-%d.wav\t%s\n", cache, i % variants, f > links
    return f
}

function member(number, name, join, leave) {
    return "<member type=\"caller\"><join_time type=\"UNIX-epoch\">" join "</join_time>" \
        "<leave_time type=\"UNIX-epoch\">" leave "</leave_time>" \
        "<flags><is_moderator>false</is_moderator><end_conference>false</end_conference>" \
        "<was_kicked>false</was_kicked><is_ghost>false</is_ghost></flags>" \
        "<caller_profile><username>" xml(number) "</username><dialplan>XML</dialplan>" \
        "<caller_id_name>" xml(name) "</caller_id_name><caller_id_number>" xml(number) \
        "</caller_id_number><context>default</context></caller_profile></member>"
}

function conference_row(i, start,    conf, len, rec, end, k, used, x, j, join, leave, body, file) {
    conf = conferences[pick(nconf)]
    len = 20 + pick(900)
    rec = start + pick(5)
    end = start + len
    k = 2 + pick(11)
    split("", used)
    body = ""
    for (j = 0; j < k; j++) {
        join = start + pick(int(len / 5) + 1)
        leave = end - pick(int(len / 3) + 1)
        if (j == k - 1 && pick(4) == 0) {
            x = "8" sprintf("%010d", pick(1000000000))
            body = body member(x, "", join, leave)
            continue
        }
        do x = pick(n); while (x in used)
        used[x] = 1
        body = body member(ids[x], names[x], join, leave)
    }
    file = file_for("conference", i)
    body = body "<member type=\"recording_node\"><record_path>" xml(file) "</record_path>" \
        "<join_time type=\"UNIX-epoch\">" rec "</join_time><leave_time type=\"UNIX-epoch\">" end \
        "</leave_time></member>"
    body = "<cdr><conference><name>" xml(conf) "</name><hostname>lab</hostname><rate>8000</rate>" \
        "<interval>20</interval><start_time type=\"UNIX-epoch\">" start "</start_time>" \
        "<end_time endconference_forced=\"false\" type=\"UNIX-epoch\">" end "</end_time>" \
        "<members>" body "</members><rejected></rejected></conference></cdr>"
    printf "INSERT INTO cdr (starttime, startrecord, endtime, conference, has_record, xml) " \
        "VALUES (%s, %s, %s, %s, 1, %s);\n", ts(start), ts(rec), ts(end), sql(conf), sql(body)
}

function direct_row(i, start,    a, b, end, who_a, who_b) {
    a = pick(n)
    do b = pick(n); while (b == a)
    end = start + 10 + pick(600)
    # Some rows carry the names, as a server that stores caller names would.
    who_a = ids[a]; who_b = ids[b]
    if (pick(3) == 0 && names[a] != "" && names[b] != "") { who_a = names[a]; who_b = names[b] }
    printf "INSERT INTO recordings (starttime, endtime, caller, callee, filename) " \
        "VALUES (%s, %s, %s, %s, %s);\n", ts(start), ts(end), sql(who_a), sql(who_b), sql(file_for("direct", i))
}

END {
    nconf = split("0|100|200|300|Ремонт|Авария на подстанции|Планёрка смены|Обход трассы", conferences, "|")
    for (c = 1; c <= nconf; c++) conferences[c - 1] = conferences[c]
    print "DELETE FROM cdr WHERE xml LIKE " sql("%<record_path>" dir "/%") ";"
    print "DELETE FROM recordings WHERE filename LIKE " sql(dir "/%") ";"
    print "START TRANSACTION;"
    for (i = 0; i < 320; i++) {
        # Every ninth one lands on the busy day, the others anywhere in the last 30 days.
        if (i % 9 == 0) start = busy + 8 * 3600 + pick(10 * 3600)
        else start = now - 3600 - pick(30 * 86400 - 7200)
        conference_row(i, start)
    }
    for (i = 0; i < 90; i++) {
        if (i % 9 == 0) start = busy + 8 * 3600 + pick(10 * 3600)
        else start = now - 3600 - pick(30 * 86400 - 7200)
        direct_row(i, start)
    }
    print "COMMIT;"
}
