#!/usr/bin/env bash
# The idle footprint of linkmootd: starts it as a configured server (simulated
# dial-up service, no votes) and measures over DURATION seconds (default 60) of
# idling its resident memory (VmRSS), its CPU time and its wake-ups (voluntary
# context switches), then shows which mapped files hold the resident memory.
#
# Targets, beside a minimal C++ daemon with a one-second poll
# (bench/reference/MinimalDaemon.cpp) idling over the same time, so the figures
# show what this machine charges for the least such a program does: resident
# memory at most 1.0 MB above the minimal daemon's, CPU (perf's task clock) at
# most 1.3 times its, one wake-up per second.
#
# RUNS=N repeats the measurement and prints the median of each figure.
# SERVER_KEYS adds lines to the Server section, e.g. a web page:
#   SERVER_KEYS=$'\t<WebPort>8080</>' bench/daemon-footprint.sh
# (the announcement on the LAN is off unless SERVER_KEYS says <Announce>1</>).
#
# Usage: bench/daemon-footprint.sh [PATH-TO-linkmootd]
# Without a path it builds linkmootd (RelWithDebInfo, no GUI) in build/footprint.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
DURATION=${DURATION:-60}
RUNS=${RUNS:-1}
SERVER_KEYS=${SERVER_KEYS:-}

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
    $'\t<Announce>0</>' ${SERVER_KEYS:+"$SERVER_KEYS"} \
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

# Proportional and private resident sizes (kB) of a process.
rollup_kb() { awk -v key="$2:" '$1 == key {print $2}' /proc/"$1"/smaps_rollup; }
# perf's task clock (ms) of one process over DURATION, where perf may count.
task_clock() {
    if command -v perf >/dev/null && perf stat -e task-clock -p "$1" true >/dev/null 2>&1; then
        perf stat -x, -e task-clock -p "$1" -o "$2" sleep "$DURATION" >/dev/null 2>&1 || true
        awk -F, '$3 == "task-clock" {print $1}' "$2"
    else
        sleep "$DURATION"
    fi
}

measure() { # one run: prints rss pss private cpu_us task_clock_ms wakeups elapsed_ms, ours then the reference's
    local cpu0 sw0 rcpu0 rsw0 t0 tc rtc
    cpu0=$(cpu_ns "$PID") sw0=$(switches "$PID") rcpu0=$(cpu_ns "$REF_PID") rsw0=$(switches "$REF_PID")
    t0=$(date +%s%N)
    task_clock "$REF_PID" "$WORK/ref-perf.txt" >"$WORK/ref-tc.txt" &
    tc=$(task_clock "$PID" "$WORK/perf.txt")
    wait
    rtc=$(cat "$WORK/ref-tc.txt")
    local ms=$((($(date +%s%N) - t0) / 1000000))
    echo "$(field_kb VmRSS) $(rollup_kb "$PID" Pss) $(rollup_kb "$PID" Private_Clean) $(rollup_kb "$PID" Private_Dirty)" \
        "$((($(cpu_ns "$PID") - cpu0) / 1000)) ${tc:-0} $(($(switches "$PID") - sw0)) $ms" \
        "$(awk '$1 == "VmRSS:" {print $2}' /proc/"$REF_PID"/status) $(rollup_kb "$REF_PID" Pss)" \
        "$(rollup_kb "$REF_PID" Private_Clean) $(rollup_kb "$REF_PID" Private_Dirty)" \
        "$((($(cpu_ns "$REF_PID") - rcpu0) / 1000)) ${rtc:-0} $(($(switches "$REF_PID") - rsw0))"
}

echo "linkmootd $PID: idle server${SERVER_KEYS:+ with$(tr -d '\t' <<<"$SERVER_KEYS")}, $RUNS run(s) of $DURATION s ..."
for ((run = 1; run <= RUNS; run++)); do
    measure | tee -a "$WORK/runs.txt" | awk -v r="$run" '{printf "  run %d: RSS %.2f MB (minimal %.2f), task clock %.2f ms/min (minimal %.2f)\n", r, $1/1024, $9/1024, $6*60000/$8, $14*60000/$8}'
done
threads=$(field_kb Threads)

# The median of each column over the runs.
awk -v th="$threads" '
    { for (i = 1; i <= NF; i++) v[i, NR] = $i; n = NR }
    function median(c,   i, j, t, a) {
        for (i = 1; i <= n; i++) a[i] = v[c, i]
        for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
        return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
    }
    END {
        ms = median(8)
        rss = median(1); pss = median(2); priv = median(3) + median(4)
        rrss = median(9); rpss = median(10); rpriv = median(11) + median(12)
        tc = median(6) * 60000 / ms; rtc = median(14) * 60000 / ms
        printf "\nmedian of %d run(s) of %.0f s:         linkmootd      minimal daemon\n", n, ms / 1000
        printf "  resident (VmRSS)          %7.2f MB     %7.2f MB   (%+.2f MB; target at most +1.0)\n", rss/1024, rrss/1024, (rss-rrss)/1024
        printf "  proportional (Pss)        %7.2f MB     %7.2f MB\n", pss/1024, rpss/1024
        printf "  private                   %7.2f MB     %7.2f MB\n", priv/1024, rpriv/1024
        printf "  CPU, perf task clock      %7.2f ms/min %7.2f ms/min (%.2f times; target at most 1.3)\n", tc, rtc, (rtc > 0 ? tc / rtc : 0)
        printf "  CPU, schedstat            %7.2f ms/min %7.2f ms/min\n", median(5)/1000*60000/ms, median(13)/1000*60000/ms
        printf "  wake-ups                  %7.2f /s     %7.2f /s\n", median(7)*1000/ms, median(15)*1000/ms
        printf "  threads                   %d\n", th
        printf "  memory: %s, CPU: %s\n", (rss - rrss <= 1024) ? "meets" : "MISSES", (rtc > 0 && tc <= 1.3 * rtc) ? "meets" : "MISSES"
    }' "$WORK/runs.txt"
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
