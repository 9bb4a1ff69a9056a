#!/usr/bin/env bash
# The idle footprint of linkmootd: starts it as a configured server (simulated
# dial-up service, no votes) and measures over DURATION seconds (default 60) of
# idling its resident memory (VmRSS), its CPU time and its wake-ups (voluntary
# context switches), then shows which mapped files hold the resident memory.
#
# Targets: at most 3.0 MB resident, one wake-up per second, under 5 ms of CPU
# per minute. A minimal C++ daemon with a one-second poll
# (bench/reference/MinimalDaemon.cpp) idles beside it over the same minute, so
# the figures show what this machine charges for the least such a program does.
#
# Usage: bench/daemon-footprint.sh [PATH-TO-linkmootd]
# Without a path it builds linkmootd (RelWithDebInfo, no GUI) in build/footprint.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
DURATION=${DURATION:-60}

DAEMON=${1:-}
if [[ -z "$DAEMON" ]]; then
    BUILD=$ROOT/build/footprint
    cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLINKMOOT_BUILD_GUI=OFF \
        -DLINKMOOT_BUILD_TESTS=OFF -DLINKMOOT_BUILD_BENCH=OFF >/dev/null
    cmake --build "$BUILD" -j"$(nproc)" --target linkmootd >/dev/null
    DAEMON=$BUILD/src/daemon/linkmootd
fi

export DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/linkmoot-bench-bus
WORK=$(mktemp -d "${TMPDIR:-/tmp}/linkmoot-footprint-XXXXXX")
PID=
REF_PID=
cleanup() {
    [[ -n "$REF_PID" ]] && kill -KILL "$REF_PID" 2>/dev/null || true
    if [[ -n "$PID" ]] && kill -0 "$PID" 2>/dev/null; then
        kill -TERM "$PID" 2>/dev/null || true
        sleep 0.5
        kill -KILL "$PID" 2>/dev/null || true
    fi
    [[ -n "$PID" ]] && wait "$PID" 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir -p "$WORK/bin" "$WORK/runtime" "$WORK/config/Fennel Brookworks/Linkmoot"
chmod 700 "$WORK/runtime"
cp "$DAEMON" "$WORK/bin/linkmootd"
PORT=$((20000 + RANDOM % 40000))
printf '%s\r\n' '<Configured>1</>' '<Mode>server</>' "<Port>$PORT</>" '' '<Server>' \
    $'\t<Connection>Simulated modem</>' $'\t<Dialer>simulated</>' $'\t<GuardTime>3000</>' \
    '</Server>' >"$WORK/config/Fennel Brookworks/Linkmoot/linkmootd.cfg"

XDG_CONFIG_HOME="$WORK/config" XDG_RUNTIME_DIR="$WORK/runtime" \
    "$WORK/bin/linkmootd" </dev/null >"$WORK/stderr.txt" 2>&1 &
PID=$!
${CXX:-g++} -O2 -std=c++20 bench/reference/MinimalDaemon.cpp -o "$WORK/MinimalDaemon"
"$WORK/MinimalDaemon" $((PORT + 1)) </dev/null &
REF_PID=$!
sleep 3 # start-up settles
kill -0 "$PID" 2>/dev/null || { cat "$WORK/stderr.txt"; exit 1; }

# CPU nanoseconds (schedstat, else clock ticks from stat) and voluntary
# switches, summed over the threads.
cpu_ns() {
    local total=0 task value ticks
    for task in /proc/"$1"/task/*; do
        if [[ -r $task/schedstat ]]; then
            read -r value _ <"$task/schedstat"
            total=$((total + value))
        else
            ticks=$(awk '{print $14 + $15}' "$task/stat")
            total=$((total + ticks * 1000000000 / $(getconf CLK_TCK)))
        fi
    done
    echo "$total"
}
switches() {
    cat /proc/"$1"/task/*/status | awk '/^voluntary_ctxt_switches/ {s += $2} END {print s}'
}
field_kb() { awk -v key="$1:" '$1 == key {print $2}' /proc/"$PID"/status; }

cpu0=$(cpu_ns "$PID")
sw0=$(switches "$PID")
ref_cpu0=$(cpu_ns "$REF_PID")
t0=$(date +%s%N)
echo "linkmootd $PID: idle server, measuring for $DURATION s ..."
# perf's task clock, where perf may count, leaves out the scheduler's own share.
if command -v perf >/dev/null && perf stat -e task-clock -p "$PID" true >/dev/null 2>&1; then
    perf stat -x, -e task-clock -p "$PID" -o "$WORK/perf.txt" sleep "$DURATION" || sleep "$DURATION"
else
    sleep "$DURATION"
fi
cpu1=$(cpu_ns "$PID")
sw1=$(switches "$PID")
ref_cpu1=$(cpu_ns "$REF_PID")
t1=$(date +%s%N)
ref_rss_kb=$(awk '$1 == "VmRSS:" {print $2}' /proc/"$REF_PID"/status)
ref_cpu_us=$(((ref_cpu1 - ref_cpu0) / 1000))
task_clock_ms=$(awk -F, '$3 == "task-clock" {print $1}' "$WORK/perf.txt" 2>/dev/null || true)

rss_kb=$(field_kb VmRSS)
hwm_kb=$(field_kb VmHWM)
threads=$(field_kb Threads)
elapsed_ms=$(((t1 - t0) / 1000000))
cpu_us=$(((cpu1 - cpu0) / 1000))
wakeups=$((sw1 - sw0))

verdict() { if (($1)); then echo "meets"; else echo "MISSES"; fi; }
awk -v rss="$rss_kb" -v hwm="$hwm_kb" -v cpu="$cpu_us" -v ms="$elapsed_ms" -v w="$wakeups" \
    -v th="$threads" -v rrss="$ref_rss_kb" -v rcpu="$ref_cpu_us" -v tc="${task_clock_ms:-}" 'BEGIN {
    printf "\nover %.1f s of idling:             linkmootd     minimal daemon\n", ms / 1000
    printf "  resident memory (VmRSS)   %7.2f MB     %7.2f MB   target <= 3.0 MB (peak %.2f MB)\n",
        rss / 1024, rrss / 1024, hwm / 1024
    printf "  CPU time (schedstat)      %7.2f ms/min %7.2f ms/min target < 5 ms per minute\n",
        cpu / 1000 * 60000 / ms, rcpu / 1000 * 60000 / ms
    if (tc != "")
        printf "  CPU time (perf task-clock)%7.2f ms/min\n", tc * 60000 / ms
    printf "  wake-ups (voluntary cs)   %7.2f per second (%d), target 1 per second\n", w * 1000 / ms, w
    printf "  threads                   %d\n", th
}'
echo "  memory:    $(verdict "rss_kb <= 3072")"
echo "  CPU:       $(verdict "cpu_us * 60000 / elapsed_ms < 5000")"
echo "  wake-ups:  $(verdict "wakeups * 1000 <= elapsed_ms * 11 / 10")"

echo
echo "resident memory by mapping (kB; the program, its libraries, heap and stack):"
awk '
    /^[0-9a-f]+-[0-9a-f]+ / { name = ($6 == "") ? "[anonymous]" : $6; next }
    /^Rss:/ { rss[name] += $2 }
    END { for (n in rss) if (rss[n] > 0) printf "  %6d  %s\n", rss[n], n }
' /proc/"$PID"/smaps | sort -rn | head -n 15
echo
echo "linked libraries:"
ldd "$WORK/bin/linkmootd" | sed 's/^/  /'
