#!/usr/bin/env bash
# Whether anything holds the daemon's loop up. Runs linkmootd as a server with
# the command dial-up service made slow on purpose (a state command that takes
# 5 s, a hang-up command that takes 20 s, a guard time of 10 s), while a
# loopback voter votes for 45 s and stays away for 45 s, over and over, for
# DURATION seconds (default 300). Meanwhile it keeps 31 silent connections
# open on the control socket (one short of the cap; the daemon closes each
# after 1 s, and it opens it again) and times REQUESTS (default 1000) runs of
# `linkmootctl status`, spread over the run.
#
# Figures: the ticks' lateness (from the daemon's Debug line "Ticks ran at most
# N ms late in the last 60"), and the 50th/99th percentile and maximum of the
# status requests, all of them and those made between "Waiting hangup guard
# time" and "Hangup guard time complete" (the hang-up command included), and
# the same request made straight over the socket (without starting a process).
# Aims: ticks under 50 ms late, status under 50 ms at the 99th percentile.
#
# Usage: bench/loop-latency.sh [PATH-TO-linkmootd [PATH-TO-linkmootctl]]
# Without paths it uses build/normal (building the two programs there).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
DURATION=${DURATION:-300}
REQUESTS=${REQUESTS:-1000}

DAEMON=${1:-}
CTL=${2:-}
if [[ -z "$DAEMON" ]]; then
    cmake --build "$ROOT/build/normal" -j2 --target linkmootd linkmootctl >/dev/null
    DAEMON=$ROOT/build/normal/src/daemon/linkmootd
    CTL=$ROOT/build/normal/src/ctl/linkmootctl
fi

export DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/linkmoot-bench-bus
WORK=$(mktemp -d "${TMPDIR:-/tmp}/linkmoot-latency-XXXXXX")
PID=
cleanup() {
    if [[ -n "$PID" ]] && kill -0 "$PID" 2>/dev/null; then
        kill -TERM "$PID" 2>/dev/null || true
        for _ in $(seq 50); do kill -0 "$PID" 2>/dev/null || break; sleep 0.1; done
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
    $'\t<Connection>Custom</>' $'\t<Dialer>command</>' $'\t<GuardTime>10000</>' \
    $'\t<DialCommand>exec sleep 100000</>' $'\t<StatusCommand>sleep 5; exit 0</>' \
    $'\t<HangUpCommand>sleep 20</>' \
    '</Server>' >"$WORK/config/Fennel Brookworks/Linkmoot/linkmootd.cfg"

XDG_CONFIG_HOME="$WORK/config" XDG_RUNTIME_DIR="$WORK/runtime" \
    "$WORK/bin/linkmootd" /log:debug </dev/null >"$WORK/stderr.txt" 2>&1 &
PID=$!
sleep 2
kill -0 "$PID" 2>/dev/null || { cat "$WORK/stderr.txt"; exit 1; }

echo "linkmootd $PID: slow command service, votes coming and going, $DURATION s ..."
XDG_RUNTIME_DIR="$WORK/runtime" python3 - "$CTL" "$PORT" "$DURATION" "$REQUESTS" \
    "$WORK/runtime/linkmoot.sock" "$WORK/stderr.txt" <<'PYTHON'
import math, os, re, select, socket, subprocess, sys, threading, time

ctl, port, duration, requests, sock_path, log_path = sys.argv[1:7]
port, duration, requests = int(port), float(duration), int(requests)
start = time.monotonic()
stop = threading.Event()

def voter():
    udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    while not stop.is_set():
        cycle = (time.monotonic() - start) % 90
        if cycle < 45:
            udp.sendto(b"vote:benchvoter", ("127.0.0.1", port))
            stop.wait(10 if cycle < 35 else 45 - cycle)
        else:
            udp.sendto(b"unvote:benchvoter", ("127.0.0.1", port))
            stop.wait(90 - cycle)

def silent(count):
    # Keeps `count` connections open that never send a thing.
    def connect():
        s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        s.connect(sock_path)
        return s
    conns = [connect() for _ in range(count)]
    while not stop.is_set():
        ready, _, _ = select.select(conns, [], [], 0.1)
        for s in ready:
            s.recv(4096)  # the daemon's "ERROR timeout", then its close
            conns.remove(s)
            s.close()
            conns.append(connect())
    for s in conns:
        s.close()

def in_guard():
    with open(log_path, errors="replace") as log:
        text = log.read()
    return text.count("Waiting hangup guard time") > text.count("Hangup guard time complete")

threads = [threading.Thread(target=voter), threading.Thread(target=silent, args=(31,))]
for t in threads:
    t.start()
def direct():
    # The same request without starting a process: the daemon's own share.
    began = time.perf_counter()
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    s.settimeout(5)
    s.connect(sock_path)
    s.sendall(b"status\n")
    s.shutdown(socket.SHUT_WR)
    while s.recv(4096):
        pass
    s.close()
    return (time.perf_counter() - began) * 1000

all_ms, guard_ms, direct_ms, failures = [], [], [], 0
interval = duration / requests
for i in range(requests):
    due = start + 1 + i * interval
    time.sleep(max(0, due - time.monotonic()))
    guard = in_guard()
    began = time.perf_counter()
    done = subprocess.run([ctl, "status"], capture_output=True)
    took = (time.perf_counter() - began) * 1000
    if done.returncode != 0:
        failures += 1
    all_ms.append(took)
    if guard:
        guard_ms.append(took)
    direct_ms.append(direct())
stop.set()
for t in threads:
    t.join()

def pct(values, p):
    ordered = sorted(values)
    return ordered[max(0, math.ceil(p / 100 * len(ordered)) - 1)]

def show(name, values):
    if not values:
        print(f"  {name:34s} none")
        return
    print(f"  {name:34s} n={len(values):4d}  p50 {pct(values, 50):6.1f} ms  "
          f"p99 {pct(values, 99):6.1f} ms  max {max(values):6.1f} ms")

with open(log_path, errors="replace") as log:
    text = log.read()
late = [int(m) for m in re.findall(r"Ticks ran at most (-?\d+) ms late", text)]
print(f"\nover {time.monotonic() - start:.0f} s:")
show("linkmootctl status, all", all_ms)
show("linkmootctl status, in a guard time", guard_ms)
show("status over the socket, no process", direct_ms)
print(f"  failed status requests             {failures}")
print(f"  tick lateness, per minute (ms)     {late}  max {max(late) if late else 'n/a'}")
print(f"  dials / hang-ups / guard times     {text.count('There are votes, connecting')} / "
      f"{text.count('Hanging up RAS connection')} / {text.count('Hangup guard time complete')}")
ok = late and max(late) < 50 and pct(all_ms, 99) < 50 and (not guard_ms or pct(guard_ms, 99) < 50)
print("  verdict:", "meets" if ok else "MISSES", "(ticks < 50 ms late, status p99 < 50 ms)")
PYTHON
