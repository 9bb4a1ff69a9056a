# Sourced by the checks of debian/tests (run as root on a machine of their own:
# needs-root, isolation-machine). Each check prints exactly one line beginning
# with PASS or FAIL and its evidence; what it prints before that line is
# indented and helps to read a failure. A command that fails unexpectedly ends
# the check with a FAIL line naming it. Everything a check sets up (network
# namespaces, veth pairs, providers, profiles, files) it takes down again on
# its way out (lm_on_exit), so the checks can run in any order.
# No pipefail: "journalctl | grep -m1" and the like are meant to stop reading
# early, and the pipeline's status is the last command's.
set -eu

LM_TEST=${0##*/}
LM_CONFIG_DIR="/var/lib/linkmoot/Fennel Brookworks/Linkmoot"
LM_CONFIG="$LM_CONFIG_DIR/linkmootd.cfg"
LM_DROPIN=/etc/systemd/system/linkmootd.service.d/zz-system-test.conf
# Where the check's journal begins. A time, not a cursor: journalctl 252
# finds nothing after a cursor once a priority (-p) is asked for as well.
LM_SINCE=$(date +@%s.%6N)
LM_EXIT_STEPS=()
LM_DONE=0

note() { printf '  %s\n' "$*"; }

pass() {
    LM_DONE=1
    echo "PASS $LM_TEST: $*"
    exit 0
}

fail() {
    LM_DONE=1
    trap - ERR
    note "linkmootd's journal since the check began:"
    lm_journal -o short-monotonic 2>/dev/null | tail -n 40 | sed 's/^/    /' || true
    echo "FAIL $LM_TEST: $*"
    exit 1
}

# Runs on the way out, last registered first; a step that fails is ignored.
lm_on_exit() { LM_EXIT_STEPS+=("$*"); }
lm_exit() {
    local status=$? index
    trap - ERR
    for ((index = ${#LM_EXIT_STEPS[@]} - 1; index >= 0; index--)); do
        eval "${LM_EXIT_STEPS[index]}" >/dev/null 2>&1 || true
    done
    if ((!LM_DONE)); then
        echo "FAIL $LM_TEST: ended with status $status before its verdict"
        exit 1
    fi
    exit "$status"
}
trap lm_exit EXIT
trap 'fail "line $LINENO: \"$BASH_COMMAND\" failed"' ERR

# linkmootd's journal lines since the check began (journalctl options may follow).
lm_journal() {
    journalctl -q --no-pager --since="$LM_SINCE" -u linkmootd.service "$@"
}

# lm_logged TEXT [journalctl options]: linkmootd's journal since the check
# began holds TEXT.
lm_logged() {
    local text=$1 lines
    shift
    lines=$(lm_journal -o cat "$@")
    [[ $lines == *"$text"* ]]
}

# lm_has TEXT COMMAND...: the command's output holds TEXT.
lm_has() {
    local text=$1 output
    shift
    output=$("$@" 2>/dev/null) || true
    [[ $output == *"$text"* ]]
}

# The configuration file's escapes: / < > and the backslash get a backslash.
lm_escape() {
    local value=$1
    value=${value//\\/\\\\}
    value=${value//\//\\/}
    value=${value//</\\<}
    value=${value//>/\\>}
    printf '%s' "$value"
}

# lm_server_config KEY=VALUE...: a configured server on port 9005 with these
# keys of the Server section, written as the service's user would have it.
lm_server_config() {
    local pair
    install -d -o linkmoot -g linkmoot -m 0700 /var/lib/linkmoot \
        "/var/lib/linkmoot/Fennel Brookworks" "$LM_CONFIG_DIR"
    {
        printf '<Configured>1</>\r\n<Mode>server</>\r\n<Port>9005</>\r\n\r\n<Server>\r\n'
        for pair in "$@"; do
            printf '\t<%s>%s</>\r\n' "${pair%%=*}" "$(lm_escape "${pair#*=}")"
        done
        printf '</Server>\r\n'
    } >"$LM_CONFIG"
    chown linkmoot:linkmoot "$LM_CONFIG"
    chmod 0600 "$LM_CONFIG"
}

# lm_start_server KEY=VALUE...: the service stopped, configured as above (it
# saves its configuration when it stops, so the file is written after that),
# logging from Info on, and started; returns when systemd has its READY.
lm_start_server() {
    systemctl stop linkmootd.service
    lm_server_config "$@"
    mkdir -p "${LM_DROPIN%/*}"
    printf '[Service]\nExecStart=\nExecStart=/usr/bin/linkmootd --shared-socket /log:info\n' \
        >"$LM_DROPIN"
    lm_on_exit "rm -f '$LM_DROPIN'; rmdir '${LM_DROPIN%/*}'; systemctl daemon-reload"
    lm_on_exit "systemctl stop linkmootd.service"
    systemctl daemon-reload
    systemctl reset-failed linkmootd.service 2>/dev/null || true
    systemctl start linkmootd.service || fail "systemctl start linkmootd failed: $(lm_status_text)"
}

lm_property() { systemctl show -p "$1" --value linkmootd.service; }
lm_status_text() { lm_property StatusText; }
lm_line() { linkmootctl line 2>/dev/null || echo "(no answer)"; }

# lm_wait_for SECONDS COMMAND...: true as soon as the command succeeds (tried
# twice a second), false when the time is up.
lm_wait_for() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@" >/dev/null 2>&1; do
        ((SECONDS < deadline)) || return 1
        sleep 0.5
    done
}

# lm_watch_status SECONDS FILE: records every status text that systemd shows
# for the service, each new one a line, for SECONDS in the background.
lm_watch_status() {
    local seconds=$1 file=$2
    (
        last=""
        end=$((SECONDS + seconds))
        while ((SECONDS < end)); do
            text=$(lm_status_text)
            [[ $text == "$last" ]] || echo "$text"
            last=$text
            sleep 0.3
        done
    ) >"$file" 2>/dev/null &
    LM_WATCHER=$!
    lm_on_exit "kill $LM_WATCHER"
}

# An interface NetworkManager manages whatever its udev rules say of veth pairs.
lm_nm_manage() {
    lm_wait_for 20 nmcli device show "$1"
    nmcli device set "$1" managed yes
}

# lm_nm_profile NAME nmcli-settings...: a new profile; removed on the way out.
lm_nm_profile() {
    local name=$1
    shift
    nmcli connection add con-name "$name" connection.autoconnect no "$@" >/dev/null
    lm_on_exit "nmcli connection delete id '$name'"
}

lm_nm_state() { nmcli -g GENERAL.STATE connection show "$1" 2>/dev/null || true; }
lm_nm_active() { [[ $(lm_nm_state "$1") == activated ]]; }
lm_nm_inactive() { [[ -z $(lm_nm_state "$1") ]]; }

# lm_pppoe_provider USER PASSWORD: a PPPoE provider, pppoe-server in a network
# namespace of its own at the end of a veth pair (lm-isp0 there, lm-wan0
# here), that gives 203.0.113.2 to whoever logs in as USER with PASSWORD.
lm_pppoe_provider() {
    local user=$1 password=$2
    ip netns add lm-isp
    lm_on_exit "ip netns delete lm-isp"
    ip link add lm-wan0 type veth peer name lm-isp0 netns lm-isp
    lm_on_exit "ip link delete lm-wan0"
    ip -n lm-isp link set lo up
    ip -n lm-isp link set lm-isp0 up
    ip link set lm-wan0 up
    lm_pap_secret "$user" "$password"
    printf 'require-pap\nlcp-echo-interval 10\nlcp-echo-failure 3\nnoipv6\n' \
        >/etc/ppp/lm-pppoe-server-options
    lm_on_exit "rm -f /etc/ppp/lm-pppoe-server-options"
    ip netns exec lm-isp pppoe-server -I lm-isp0 -L 203.0.113.1 -R 203.0.113.2 -N 4 \
        -O /etc/ppp/lm-pppoe-server-options
    lm_on_exit "ip netns pids lm-isp | xargs -r kill"
}

# A line of /etc/ppp/pap-secrets for the provider's side; taken out again.
lm_pap_secret() {
    cp -a /etc/ppp/pap-secrets /etc/ppp/pap-secrets.lm-saved
    lm_on_exit "mv /etc/ppp/pap-secrets.lm-saved /etc/ppp/pap-secrets"
    printf '"%s" * "%s" *\n' "$1" "$2" >>/etc/ppp/pap-secrets
}
