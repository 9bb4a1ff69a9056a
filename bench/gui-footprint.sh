#!/usr/bin/env bash
# The footprint of the tray application under Xvfb with trayer as the tray
# host: the time from start to its icon being embedded and viewable in the
# tray (RUNS starts, default 5), and its resident memory (VmRSS) after 10 s of
# idling as a configured server (simulated dial-up service, no votes).
#
# Targets: at most 32 MB resident, the icon within 60 ms of start. The same
# figures of a minimal Qt 6 tray program (bench/reference/MinimalTray.cpp),
# measured in the same run, show what Qt itself costs on this machine.
#
# Usage: bench/gui-footprint.sh [PATH-TO-linkmoot [PATH-TO-MinimalTray]]
# Without paths it builds both (RelWithDebInfo) in build/footprint-gui.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
RUNS=${RUNS:-5}
source scripts/lib/xvfb-tray.sh

APP=${1:-}
REFERENCE=${2:-}
if [[ -z "$APP" || -z "$REFERENCE" ]]; then
    BUILD=$ROOT/build/footprint-gui
    cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLINKMOOT_BUILD_GUI=ON \
        -DLINKMOOT_BUILD_TESTS=OFF -DLINKMOOT_BUILD_BENCH=ON >/dev/null
    cmake --build "$BUILD" -j"$(nproc)" --target linkmoot MinimalTray >/dev/null
    APP=$BUILD/src/gui/linkmoot
    REFERENCE=$BUILD/bench/MinimalTray
fi

export DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/linkmoot-bench-bus
export DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/linkmoot-bench-bus
WORK=$(mktemp -d "${TMPDIR:-/tmp}/linkmoot-gui-footprint-XXXXXX")
cleanup() {
    xvfb_tray_stop
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir -p "$WORK/bin" "$WORK/runtime"
chmod 700 "$WORK/runtime"
cp "$APP" "$WORK/bin/linkmoot"
export XDG_RUNTIME_DIR=$WORK/runtime XDG_CONFIG_HOME=$WORK/config
write_server_config "$WORK/config" linkmoot $((20000 + RANDOM % 40000))

# No window manager: only the tray host between the program and its icon.
XVFB_TRAY_WM=0 xvfb_tray_start 800x600

# Prints the median start-to-icon time of RUNS starts and the resident
# memory after 10 s of the last one, as "MS KB".
measure() {
    local name=$1 program=$2 run hold output times=() rss_kb=0
    for ((run = 1; run <= RUNS; run++)); do
        hold=0
        ((run == RUNS)) && hold=10
        output=$(/usr/bin/python3 bench/tray-icon-probe.py --hold "$hold" "$name" "$program")
        times+=("$(sed -n 's/^icon_ms=//p' <<<"$output")")
        [[ $output == *rss_kb=* ]] && rss_kb=$(sed -n 's/^rss_kb=//p' <<<"$output")
    done
    echo "$name: icon after ${times[*]} ms" >&2
    echo "$(printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}') $rss_kb"
}

read -r ref_ms ref_kb < <(measure MinimalTray "$REFERENCE")
read -r app_ms app_kb < <(measure linkmoot "$WORK/bin/linkmoot")
echo
awk -v rss="$app_kb" -v ms="$app_ms" -v rrss="$ref_kb" -v rms="$ref_ms" 'BEGIN {
    printf "                              linkmoot   minimal Qt tray program\n"
    printf "resident memory after 10 s   %6.1f MB   %6.1f MB   target <= 32 MB: %s\n",
        rss / 1024, rrss / 1024, (rss <= 32 * 1024) ? "meets" : "MISSES"
    printf "start to tray icon (median)  %6.1f ms   %6.1f ms   target <= 60 ms: %s\n",
        ms, rms, (ms <= 60) ? "meets" : "MISSES"
}'
