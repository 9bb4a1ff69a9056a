#!/usr/bin/env bash
# The usage count's figures: its cost per poll (UsageBench), a database of
# 10,000 sessions with 5 voters each (its size, `linkmootctl usage` and
# `linkmootctl sessions --csv` against a linkmootd that holds it), and the idle
# daemon with no line up beside an older linkmootd (OLD_LINKMOOTD, built from
# an earlier commit in a folder of its own) in the same run: CPU time,
# wake-ups (voluntary context switches) and resident memory over IDLE_SECONDS.
# Usage: bench/usage-bench.sh [BUILD] ; OLD_LINKMOOTD=path/to/linkmootd for the comparison.
set -euo pipefail
BUILD=${1:-build/normal}
IDLE_SECONDS=${IDLE_SECONDS:-60}
WORK=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$WORK"' EXIT
CTL="$BUILD/src/ctl/linkmootctl"

echo "== cost per poll with a line up (median of 5 repetitions)"
"$BUILD/bench/UsageBench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true |
    grep median

# A daemon in folders of its own: NAME PROGRAM.
start() {
    local name=$1 program=$2 root=$WORK/$1
    mkdir -p "$root/bin" "$root/runtime" "$root/config/Fennel Brookworks/Linkmoot" "$root/state/linkmoot"
    chmod 700 "$root/runtime"
    cp "$program" "$root/bin/linkmootd"
    printf '%s\r\n' '<Configured>1</>' '<Mode>server</>' "<Port>$((29100 + RANDOM % 500))</>" \
        '<Server>' $'\t<Dialer>simulated</>' $'\t<Connection>Simulated modem</>' '</Server>' \
        >"$root/config/Fennel Brookworks/Linkmoot/linkmootd.cfg"
    XDG_CONFIG_HOME=$root/config XDG_RUNTIME_DIR=$root/runtime XDG_STATE_HOME=$root/state \
        DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/linkmoot-bench-bus \
        "$root/bin/linkmootd" </dev/null >/dev/null 2>&1 &
    echo $! >"$root/pid"
    for _ in $(seq 100); do
        XDG_RUNTIME_DIR=$root/runtime "$CTL" status --timeout=1 >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    echo "usage-bench: $name did not start" >&2
    return 1
}
ctl() { local name=$1; shift; XDG_RUNTIME_DIR=$WORK/$name/runtime "$CTL" "$@"; }
median_ms() { # COUNT COMMAND...: the median wall time of COUNT runs, in ms
    local count=$1; shift
    for _ in $(seq "$count"); do
        local start end
        start=$(date +%s%N)
        "$@" >/dev/null
        end=$(date +%s%N)
        echo $(((end - start) / 1000))
    done | sort -n | awk '{ a[NR] = $1 } END { printf "%.1f ms\n", a[int((NR + 1) / 2)] / 1000 }'
}

echo "== 10,000 sessions with 5 voters each"
mkdir -p "$WORK/big/state/linkmoot"
"$BUILD/bench/UsageBench" --make-database "$WORK/big/state/linkmoot/linkmootd.db" 10000 5
echo "database: $(du -b "$WORK/big/state/linkmoot/linkmootd.db" | cut -f1) bytes" \
    "($(ls "$WORK/big/state/linkmoot/"))"
start big "$BUILD/src/daemon/linkmootd"
for _ in $(seq 100); do ctl big usage --json | grep -q '"historyLoaded":true' && break; sleep 0.1; done
echo "linkmootctl usage: $(median_ms 21 ctl big usage)"
echo "linkmootctl sessions --csv: $(median_ms 5 ctl big sessions --csv)" \
    "($(ctl big sessions --csv | wc -l) lines)"
ctl big exit >/dev/null

# CPU (ns on a CPU, from schedstat), voluntary switches and VmRSS of a process.
sample() {
    local pid=$1
    awk '{ print $1 }' "/proc/$pid/schedstat"
    awk '/^voluntary_ctxt_switches/ { print $2 } /^VmRSS/ { print $2 }' "/proc/$pid/status"
}
idle() {
    local name=$1 program=$2 pid a b
    start "$name" "$program"
    pid=$(cat "$WORK/$name/pid")
    sleep 2
    mapfile -t a < <(sample "$pid")
    sleep "$IDLE_SECONDS"
    mapfile -t b < <(sample "$pid")
    echo "$name: CPU $(((b[0] - a[0]) / 1000000)) ms in ${IDLE_SECONDS} s," \
        "$((b[2] - a[2])) wake-ups, RSS ${b[1]} kB"
    ctl "$name" exit >/dev/null
}
echo "== idle with no line up, ${IDLE_SECONDS} s each"
idle new "$BUILD/src/daemon/linkmootd"
if [[ -n ${OLD_LINKMOOTD:-} ]]; then idle old "$OLD_LINKMOOTD"; fi
