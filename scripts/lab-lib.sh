# Helpers shared by lab-up and lab-down (sourced, not run).

die() {
    echo "$(basename "$0"): $*" >&2
    exit 1
}
say() { echo "$(basename "$0"): $*"; }

# Paths inside one state folder.
lab_paths() {
    env_file="$1/env"
    logs="$1/logs"
    run="$1/run"
    directory="$1/directory"
    recordings="$1/recordings"
    cache="$1/cache"
}

# True when the pid file names a live process that belongs to this state folder, so a
# recycled pid of somebody else's process is never taken for ours.
running() {
    local pid
    [ -s "$1" ] || return 1
    pid=$(head -n1 "$1")
    [[ "$pid" =~ ^[0-9]+$ ]] || return 1
    [ -r "/proc/$pid/cmdline" ] || return 1
    tr '\0' ' ' <"/proc/$pid/cmdline" | grep -qF -- "$state"
}

# True when something listens on that TCP port (any address, IPv4 or IPv6).
listening() {
    local hex
    hex=$(printf ':%04X' "$1")
    awk -v p="$hex" '$4 == "0A" && substr($2, length($2) - 4) == p { found = 1 } END { exit !found }' \
        /proc/net/tcp /proc/net/tcp6 2>/dev/null
}

# pick_port VAR STANDARD: the standard port when it is free (and --free-ports was not
# given), otherwise a free one from the dynamic range. Ports handed out in this run are
# remembered, since nothing listens on them until their server starts.
claimed=" "
pick_port() {
    local port=$2
    if [ "${standard:-1}" -eq 0 ] || listening "$port" || [[ "$claimed" == *" $port "* ]]; then
        while :; do
            port=$((20000 + (RANDOM * 32768 + RANDOM) % 40000))
            listening "$port" || [[ "$claimed" == *" $port "* ]] || break
        done
    fi
    claimed+="$port "
    printf -v "$1" '%s' "$port"
}

# wait_for NAME SECONDS COMMAND...: retry the command every 50 ms.
wait_for() {
    local name=$1 deadline=$(($(date +%s) + $2))
    shift 2
    until "$@" >/dev/null 2>&1; do
        [ "$(date +%s)" -lt "$deadline" ] || return 1
        sleep 0.05
    done
}

# A text as an SQL string literal: quotes doubled, backslashes escaped.
sql_string() {
    local s=${1//\\/\\\\}
    printf "'%s'" "${s//\'/\'\'}"
}

# A value as a shell assignment line for the env file.
assign() { printf '%s=%q\n' "$1" "$2"; }

# The users of a directory folder, one "id TAB role TAB password TAB name" line each.
directory_users() {
    awk '
    function attr(line, key,   v) {
        if (!match(line, "[ \t]" key "=\"[^\"]*\"")) return ""
        v = substr(line, RSTART + length(key) + 3, RLENGTH - length(key) - 4)
        gsub(/&quot;/, "\"", v); gsub(/&apos;/, "'\''", v); gsub(/&lt;/, "<", v); gsub(/&gt;/, ">", v)
        gsub(/&amp;/, "\\&", v)
        return v
    }
    function flush() { if (id != "") print id "\t" role "\t" pw "\t" name; id = role = pw = name = "" }
    FNR == 1 { flush() }
    /<user[ \t]/ { id = attr($0, "id"); role = attr($0, "role") }
    /<param[ \t].*name="password"/ { pw = attr($0, "value") }
    /<variable[ \t].*name="effective_caller_id_name"/ { name = attr($0, "value") }
    END { flush() }' "$1"/*.xml
}

# SQL for one MySQL account per dispatcher and technician: the SIP user name with the SIP
# password, allowed to read the database. Names that are not plain user ids are refused.
account_sql() {
    local id role password name host
    while IFS=$'\t' read -r id role password name; do
        [ "$role" = dispatcher ] || [ "$role" = technician ] || continue
        if ! [[ "$id" =~ ^[A-Za-z0-9_.-]{1,80}$ ]]; then
            echo "$(basename "$0"): no database account for user \"$id\": not a plain user id" >&2
            continue
        fi
        for host in localhost 127.0.0.1; do
            echo "CREATE OR REPLACE USER '$id'@'$host' IDENTIFIED BY $(sql_string "$password");"
            echo "GRANT SELECT ON dispatcher.* TO '$id'@'$host';"
        done
    done <<<"$1"
}

# The sample recordings: WAV variants made once with sox and kept in the cache, a hard
# link per recording, and the SQL rows (printed).
make_sample() {
    local variants=6 i
    for ((i = 0; i < variants; i++)); do
        [ -s "$cache/sample-$i.wav" ] && continue
        sox -n -r 8000 -c 1 -b 16 "$cache/sample-$i.wav.tmp.wav" \
            synth $((3 + 2 * i)) sine $((300 + 60 * i))-$((500 + 40 * i)) tremolo 3 70 vol 0.3 ||
            die "sox cannot make the sample sound"
        mv "$cache/sample-$i.wav.tmp.wav" "$cache/sample-$i.wav"
    done
    rm -rf "$recordings/sample"
    mkdir -p "$recordings/sample"
    awk -f "$root/scripts/lab-sample.awk" -v now="$(date +%s)" -v busy="$(date -d 'yesterday 00:00' +%s)" \
        -v dir="$recordings/sample" -v cache="$cache" -v variants=$variants -v links="$state/sample.links" <<<"$1"
    perl -ne 'chomp; my ($s, $d) = split /\t/; link($s, $d) or die "link $d: $!\n"' "$state/sample.links"
}

# A text made safe for XML element text and attribute values.
xml_text() {
    # Quoted replacements: bash 5.2 reads a bare & there as the matched text.
    local s=${1//'&'/'&amp;'}
    s=${s//'<'/'&lt;'}
    s=${s//'>'/'&gt;'}
    printf '%s' "${s//'"'/'&quot;'}"
}

# The console's configuration preset for the sample dispatcher.
write_preset() {
    local db_port=$6 uri password template
    [ "$db_port" = 3306 ] && db_port=0
    uri=$(xml_text "$2")
    password=$(xml_text "$3")
    template=$(xml_text "$7")
    cat >"$1" <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<root>
    <Connection>
        <ESLPort>$4</ESLPort>
        <SSHPort>$5</SSHPort>
        <DBPort>$db_port</DBPort>
    </Connection>
    <Conference>
        <PrimaryConferenceId>0</PrimaryConferenceId>
    </Conference>
    <Users>
        <User sip-uri="$uri" AutoStart="true" Password="$password"/>
        <UserFileTemplate>$template</UserFileTemplate>
    </Users>
</root>
EOF
}
