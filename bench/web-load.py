#!/usr/bin/python3
"""The web page's figures on loopback, against a real linkmootd (simulated modem):

1. first load: GET / on a fresh connection, then the page's first /api/state
   (time and bytes; median and worst of 20);
2. tick lateness: how late the daemon's one-second ticks run, first idle, then
   while a bounded load test sends RATE requests a second to /api/state for
   DURATION seconds over a few keep-alive connections.

Targets: first load under 50 ms and 30 KB; ticks under 50 ms late.
Usage: bench/web-load.py PATH-TO-linkmootd     (RATE=200 DURATION=60 IDLE=20)
"""
import http.client
import os
import re
import statistics
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "web"))
from web_page_test import Daemon  # noqa: E402  (the same daemon set-up as the browser tests)

RATE = int(os.environ.get("RATE", "200"))
DURATION = int(os.environ.get("DURATION", "60"))
IDLE = int(os.environ.get("IDLE", "20"))
CONNECTIONS = 6  # under the page's 8 per address
TICK_LINE = re.compile(r"\(T\+(\d+\.\d{3})\)\] Debug \([^)]*\) Checking server socket for votes")


def fetch(connection, path):
    started = time.perf_counter()
    connection.request("GET", path, headers={"Host": "127.0.0.1"})
    answer = connection.getresponse()
    body = answer.read()
    head = sum(len(k) + len(v) + 4 for k, v in answer.getheaders()) + 17
    return answer.status, time.perf_counter() - started, len(body), head


def first_loads(port, count=20):
    page_ms, total_ms = [], []
    for _ in range(count):
        started = time.perf_counter()
        connection = http.client.HTTPConnection("127.0.0.1", port, timeout=5)
        status, _, page_bytes, page_head = fetch(connection, "/")
        assert status == 200, status
        page_ms.append((time.perf_counter() - started) * 1000)
        status, _, state_bytes, state_head = fetch(connection, "/api/state")
        assert status == 200, status
        total_ms.append((time.perf_counter() - started) * 1000)
        connection.close()
    return page_ms, total_ms, page_bytes, page_head, state_bytes + state_head


def load(port, stop_at, results, offset):
    # Each connection sends at RATE / CONNECTIONS a second on a fixed schedule;
    # a late request is sent at once, never in a catch-up burst.
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=5)
    period = CONNECTIONS / RATE
    due = time.monotonic() + offset * period / CONNECTIONS
    while due < stop_at:
        wait = due - time.monotonic()
        if wait > 0:
            time.sleep(wait)
        try:
            status, seconds, _, _ = fetch(connection, "/api/state")
            results.append((status, seconds))
        except (OSError, http.client.HTTPException):
            results.append((0, 0.0))
            connection.close()
            connection = http.client.HTTPConnection("127.0.0.1", port, timeout=5)
        due = max(due + period, time.monotonic())
    connection.close()


def tick_times(log, start, end):
    return [float(m.group(1)) for m in TICK_LINE.finditer(log) if start <= float(m.group(1)) < end]


def lateness_ms(ticks):
    # Due times are one second apart; the earliest tick of the stretch counts as on time.
    offsets = [t - i for i, t in enumerate(ticks)]
    base = min(offsets)
    return sorted((o - base) * 1000 for o in offsets)


def describe(values):
    return "median %.1f, p99 %.1f, worst %.1f" % (
        statistics.median(values), values[min(len(values) - 1, int(len(values) * 0.99))], values[-1])


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    daemon = Daemon(os.path.abspath(sys.argv[1]))
    try:
        port = daemon.web_port
        page_ms, total_ms, page_bytes, page_head, state_bytes = first_loads(port)
        page_ms.sort()
        total_ms.sort()
        print("first load, page alone: %s ms; %d bytes of page + %d of headers" %
              (describe(page_ms), page_bytes, page_head))
        print("first load, page and its first state: %s ms; %d bytes in all" %
              (describe(total_ms), page_bytes + page_head + state_bytes))

        def log_clock():
            stamps = re.findall(r"\(T\+(\d+\.\d{3})\)", daemon.log())
            return float(stamps[-1])

        idle_from = log_clock()
        time.sleep(IDLE)
        load_from = log_clock()
        results = []
        stop_at = time.monotonic() + DURATION
        workers = [threading.Thread(target=load, args=(port, stop_at, results, i))
                   for i in range(CONNECTIONS)]
        for worker in workers:
            worker.start()
        for worker in workers:
            worker.join()
        load_to = log_clock()
        log = daemon.log()
        idle = lateness_ms(tick_times(log, idle_from, load_from))
        loaded = lateness_ms(tick_times(log, load_from + 1, load_to))
        answered = [seconds * 1000 for status, seconds in results if status == 200]
        answered.sort()
        print("load: %d requests in %d s (%.1f/s), %d answered 200, %d failed; latency %s ms" %
              (len(results), DURATION, len(results) / DURATION, len(answered),
               len(results) - len(answered), describe(answered)))
        print("tick lateness idle (%d ticks): %s ms" % (len(idle), describe(idle)))
        print("tick lateness under load (%d ticks): %s ms" % (len(loaded), describe(loaded)))
        print("machine load average: %s" % open("/proc/loadavg").read().split()[0])
    finally:
        daemon.stop()


if __name__ == "__main__":
    main()
