#!/usr/bin/env python3
"""Finding servers on the LAN, against real avahi-daemons and the real programs.

Every host is a network, mount and UTS namespace of the test's own, with its
own /run (a tmpfs), so its own D-Bus system bus and its own avahi-daemon; the
hosts meet on a bridge inside one more namespace, so no announcement and no
broadcast leaves the test. Addresses are documentation ones (192.0.2.0/24).

Checks: the service and its TXT records appear, change with a reload and
vanish at stop; two servers are both listed by `linkmootctl servers`; `auto`
picks the one and refuses the two; nothing is announced with Announce 0 or
on an interface outside the allowed networks; the broadcast fallback without
any Avahi daemon, with and without a secret; the page's code decodes (zbarimg)
to the page's address, as linkmootctl prints it and as the web page draws it.

Needs root (namespaces). Exits 77 (skipped) when it cannot run, unless
LINKMOOT_REQUIRE_NAMESPACES is set (the test command sets it): a skip there
is a failure. Every process it starts is ended when it ends; it stops by itself.

Usage: discovery_test.py LINKMOOTD LINKMOOTCTL
"""
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback
import urllib.request

LINKMOOTD, LINKMOOTCTL = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
SUBNET = "192.0.2"
PORT = 9005
WEB_PORT = 8080
SECRET = "correct horse battery staple"
TOTAL_SECONDS = 420


def skip(reason):
    if os.environ.get("LINKMOOT_REQUIRE_NAMESPACES"):
        print("FAIL: cannot run, and the test command does not skip it: " + reason)
        sys.exit(1)
    print("SKIP: " + reason)
    sys.exit(77)


def wait_until(condition, seconds, step=0.2):
    end = time.monotonic() + seconds
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > end:
            return value
        time.sleep(step)


class Lab:
    """The namespaces, the bridge and every process started inside them."""

    def __init__(self):
        self.folder = tempfile.mkdtemp(prefix="linkmoot-discovery-")
        self.processes = []
        self.switch = self.namespace(["--net"], "ip link set lo up && ip link add br0 type bridge "
                                     "forward_delay 0 && ip link set br0 up")
        self.hosts = {}

    def namespace(self, kinds, setup):
        process = subprocess.Popen(
            ["unshare"] + kinds + ["--propagation", "private", "sh", "-c",
                                   setup + " && echo ready && exec sleep 900"],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.processes.append(process)
        line = process.stdout.readline().strip()
        if line != "ready":
            raise RuntimeError("a namespace did not start: " + process.stderr.read())
        return process.pid

    def add_host(self, name, number):
        pid = self.namespace(
            ["--net", "--mount", "--uts"],
            "mount -t tmpfs tmpfs /run && mkdir -p /run/dbus /run/avahi-daemon && "
            "hostname %s && ip link set lo up" % name)
        link = "v" + name
        self.run(self.switch, ["ip", "link", "add", link, "type", "veth", "peer", "name", "eth0",
                               "netns", str(pid)])
        self.run(self.switch, ["ip", "link", "set", link, "master", "br0", "up"])
        self.run(pid, ["ip", "addr", "add", "%s.%d/24" % (SUBNET, number), "dev", "eth0"])
        self.run(pid, ["ip", "link", "set", "eth0", "up"])
        host = Host(self, name, pid, "%s.%d" % (SUBNET, number))
        self.hosts[name] = host
        return host

    @staticmethod
    def enter(pid, command):
        return ["nsenter", "-t", str(pid), "-n", "-m", "-u", "--"] + command

    def run(self, pid, command, timeout=30, env=None, check=True):
        result = subprocess.run(self.enter(pid, command), capture_output=True, text=True,
                                timeout=timeout, env=env)
        if check and result.returncode != 0:
            raise RuntimeError("%s failed (%d): %s%s" % (" ".join(command), result.returncode,
                                                        result.stdout, result.stderr))
        return result

    def start(self, pid, command, log, env=None):
        out = open(log, "ab")
        process = subprocess.Popen(self.enter(pid, command), stdout=out, stderr=out, env=env,
                                   stdin=subprocess.DEVNULL)
        self.processes.append(process)
        return process

    def close(self):
        for process in reversed(self.processes):
            if process.poll() is None:
                process.send_signal(signal.SIGTERM)
        for process in reversed(self.processes):
            try:
                process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        shutil.rmtree(self.folder, ignore_errors=True)


class Host:
    def __init__(self, lab, name, pid, address):
        self.lab, self.name, self.pid, self.address = lab, name, pid, address
        self.root = os.path.join(lab.folder, name)
        for sub in ("bin", "config/Fennel Brookworks/Linkmoot", "runtime"):
            os.makedirs(os.path.join(self.root, sub), exist_ok=True)
        os.chmod(os.path.join(self.root, "runtime"), 0o700)
        shutil.copy(LINKMOOTD, os.path.join(self.root, "bin", "linkmootd"))
        self.bus = None
        self.avahi = None
        self.daemon = None

    def env(self):
        env = dict(os.environ)
        env.update({"XDG_CONFIG_HOME": os.path.join(self.root, "config"),
                    "XDG_RUNTIME_DIR": os.path.join(self.root, "runtime"),
                    "DBUS_SYSTEM_BUS_ADDRESS": "unix:path=/run/dbus/system_bus_socket"})
        return env

    def start_bus(self):
        if self.bus is None:
            self.bus = self.lab.start(self.pid, ["dbus-daemon", "--system", "--nofork",
                                                 "--nopidfile", "--nosyslog"],
                                      os.path.join(self.root, "bus.log"))
            if not wait_until(lambda: self.lab.run(self.pid, ["test", "-S",
                                                              "/run/dbus/system_bus_socket"],
                                                   check=False).returncode == 0, 10):
                raise RuntimeError(self.name + ": the system bus did not start")

    def start_avahi(self):
        self.start_bus()
        config = os.path.join(self.root, "avahi.conf")
        with open(config, "w") as out:
            out.write("[server]\nuse-ipv4=yes\nuse-ipv6=no\nallow-interfaces=eth0\n"
                      "enable-dbus=yes\n[wide-area]\nenable-wide-area=no\n"
                      "[publish]\npublish-hinfo=no\npublish-workstation=no\n")
        self.avahi = self.lab.start(self.pid, ["avahi-daemon", "-f", config, "--no-chroot",
                                               "--no-drop-root", "--no-rlimits"],
                                    os.path.join(self.root, "avahi.log"), env=self.env())
        if not wait_until(lambda: "Server startup complete" in self.read("avahi.log"), 15):
            raise RuntimeError(self.name + ": avahi-daemon did not start: " +
                               self.read("avahi.log"))

    def stop_avahi(self):
        if self.avahi is not None:
            self.avahi.terminate()
            self.avahi.wait(timeout=10)
            self.avahi = None

    def read(self, name):
        try:
            with open(os.path.join(self.root, name), errors="replace") as text:
                return text.read()
        except FileNotFoundError:
            return ""

    def configure(self, lines):
        path = os.path.join(self.root, "config/Fennel Brookworks/Linkmoot/linkmootd.cfg")
        with open(path, "w", newline="") as out:
            out.write("".join(line + "\r\n" for line in lines))

    def server_config(self, allowed="%s.0/24" % SUBNET, announce=None, secret=None, web=True):
        lines = ["<Configured>1</>", "<Mode>server</>", "<Port>%d</>" % PORT]
        if secret:
            lines.append("<Secret>%s</>" % secret)
        lines += ["<Server>", "\t<Dialer>simulated</>", "\t<Connection>Simulated modem</>",
                  "\t<AllowedNetworks>%s</>" % allowed]
        if web:
            lines.append("\t<WebPort>%d</>" % WEB_PORT)
        if announce is not None:
            lines.append("\t<Announce>%d</>" % announce)
        lines.append("</Server>")
        self.configure(lines)

    def client_config(self, server="auto", secret=None, vote=True):
        lines = ["<Configured>1</>", "<Mode>client</>", "<Port>%d</>" % PORT]
        if secret:
            lines.append("<Secret>%s</>" % secret)
        lines += ["<Client>", "\t<Server>%s</>" % server, "\t<AutoVote>%d</>" % int(vote),
                  "</Client>"]
        self.configure(lines)

    def start_daemon(self):
        program = os.path.join(self.root, "bin", "linkmootd")
        self.daemon = self.lab.start(self.pid, [program, "/log:debug"],
                                     os.path.join(self.root, "stderr.txt"), env=self.env())
        if not wait_until(lambda: self.ctl(["status", "--timeout=2"]).returncode == 0, 15):
            raise RuntimeError(self.name + ": linkmootd did not answer: " +
                               self.read("stderr.txt"))

    def stop_daemon(self):
        if self.daemon is not None:
            self.daemon.terminate()
            self.daemon.wait(timeout=15)
            self.daemon = None

    def ctl(self, arguments, timeout=30):
        return self.lab.run(self.pid, [LINKMOOTCTL] + arguments, timeout=timeout,
                            env=self.env(), check=False)

    def servers(self):
        result = self.ctl(["servers", "--json"])
        if result.returncode not in (0, 3):
            raise RuntimeError("linkmootctl servers failed: " + result.stderr)
        return json.loads(result.stdout)

    def log(self):
        return self.read("bin/linkmootd.log")


CHECKS = []


def check(function):
    CHECKS.append(function)
    return function


def expect(condition, message):
    if not condition:
        raise AssertionError(message)


def by_name(servers):
    return {server["name"]: server for server in servers}


def listed(host, wanted):
    """Waits until `linkmootctl servers` on host lists (by name) what `wanted` says."""
    found = {}

    def matches():
        nonlocal found
        found = by_name(host.servers())
        return wanted(found)

    wait_until(matches, 20, step=0.5)
    return found


@check
def announcement_follows_the_server(lab):
    gw1, ws1 = lab.add_host("gw1", 1), lab.add_host("ws1", 3)
    ws1.start_avahi()
    gw1.server_config()
    # The server starts before its Avahi daemon: it waits for one, then announces.
    gw1.start_bus()
    gw1.start_daemon()
    gw1.start_avahi()
    found = listed(ws1, lambda servers: "gw1" in servers and servers["gw1"]["web"])
    expect("gw1" in found, "the server is not listed: %s" % found)
    server = found["gw1"]
    expect(server["instance"] == "Linkmoot on gw1", "instance: %s" % server)
    expect(server["address"] == gw1.address and server["port"] == PORT, "address: %s" % server)
    expect(server["dnsSd"] and server["broadcast"], "found by: %s" % server)
    expect(server["secret"] is False and server["web"] == WEB_PORT, "TXT: %s" % server)
    # The TXT records themselves, as another DNS-SD client reads them.
    browsed = wait_until(lambda: (lambda out: out if '"txtvers=1"' in out else "")(
        lab.run(ws1.pid, ["avahi-browse", "-rpt", "_linkmoot._udp"], check=False,
                env=ws1.env()).stdout), 10)
    for field in ("txtvers=1", "v=2", "secret=0", "web=%d" % WEB_PORT):
        expect('"%s"' % field in browsed, "TXT lacks %s: %s" % (field, browsed))
    page = "Linkmoot\\032on\\032gw1"
    http = wait_until(lambda: (lambda out: out if page in out and '"path=/"' in out else "")(
        lab.run(ws1.pid, ["avahi-browse", "-rpt", "_http._tcp"], check=False,
                env=ws1.env()).stdout), 10)
    expect(http, "the page is not announced as _http._tcp with path=/")

    # The daemon restarts: announced again.
    gw1.stop_avahi()
    found = listed(ws1, lambda servers: not servers.get("gw1", {}).get("dnsSd"))
    expect(not found.get("gw1", {}).get("dnsSd"), "announced without a daemon: %s" % found)
    gw1.start_avahi()
    found = listed(ws1, lambda servers: servers.get("gw1", {}).get("dnsSd"))
    expect(found.get("gw1", {}).get("dnsSd"), "not announced after a restart: %s" % found)

    # A reload that sets a secret and takes the page away changes the record.
    gw1.server_config(secret=SECRET, web=False)
    expect(gw1.ctl(["reload"]).returncode == 0, "the reload failed")
    found = listed(ws1, lambda servers: "gw1" in servers and servers["gw1"]["secret"] and
                   servers["gw1"]["web"] is None)
    expect(found.get("gw1", {}).get("secret") is True, "after the reload: %s" % found)
    expect(not found["gw1"]["broadcast"], "an unsigned query was answered: %s" % found)

    gw1.stop_daemon()
    found = listed(ws1, lambda servers: "gw1" not in servers)
    expect("gw1" not in found, "still listed after the stop: %s" % found)


@check
def two_servers_are_listed_and_auto_refuses_them(lab):
    gw1, gw2, ws1 = lab.add_host("gw1", 1), lab.add_host("gw2", 2), lab.add_host("ws1", 3)
    for host in (gw1, gw2, ws1):
        host.start_avahi()
    gw1.server_config()
    gw1.start_daemon()
    # One server: `auto` takes it and votes to it.
    ws1.client_config()
    ws1.start_daemon()
    voted = wait_until(lambda: "Vote from ws1" in gw1.ctl(["status"]).stdout, 25)
    expect(voted, "auto did not vote to the one server: %s\n%s" % (
        gw1.ctl(["status"]).stdout, ws1.ctl(["status"]).stdout))
    expect("Chose the server gw1" in ws1.log(), "no Info line of the choice")
    ws1.stop_daemon()
    cfg = ws1.read("config/Fennel Brookworks/Linkmoot/linkmootd.cfg")
    expect("<AutoChoice>gw1</>" in cfg, "the choice was not stored: %s" % cfg)

    gw2.server_config()
    gw2.start_daemon()
    found = listed(ws1, lambda servers: "gw1" in servers and "gw2" in servers)
    expect(set(found) >= {"gw1", "gw2"}, "not both listed: %s" % found)

    # A client that has not chosen yet refuses to pick one of two.
    ws1.client_config()
    ws1.start_daemon()
    row = "Several servers found: gw1, gw2; choose one in the options"
    said = wait_until(lambda: row in ws1.ctl(["status"]).stdout, 25)
    expect(said, "no refusal: %s" % ws1.ctl(["status"]).stdout)
    expect(row in ws1.log(), "the refusal is not logged")
    time.sleep(2)
    for server in (gw1, gw2):
        expect("Vote from ws1" not in server.ctl(["status"]).stdout, "a vote went out anyway")


@check
def nothing_is_announced_when_off_or_outside_the_allowed_networks(lab):
    gw1, gw2, ws1 = lab.add_host("gw1", 1), lab.add_host("gw2", 2), lab.add_host("ws1", 3)
    for host in (gw1, gw2, ws1):
        host.start_avahi()
    gw1.server_config(announce=0)
    gw2.server_config(allowed="198.51.100.0/24")
    gw1.start_daemon()
    gw2.start_daemon()
    time.sleep(5)  # well past the probing and announcing of mDNS
    found = by_name(ws1.servers())
    expect(found == {}, "found: %s" % found)
    expect("Not announced: no interface carries an address of the allowed networks" in gw2.log(),
           "gw2 does not say why it is not announced")


@check
def broadcast_finds_servers_without_avahi(lab):
    gw1, gw2, ws1 = lab.add_host("gw1", 1), lab.add_host("gw2", 2), lab.add_host("ws1", 3)
    gw1.server_config()
    gw2.server_config(secret=SECRET)
    gw1.start_daemon()
    gw2.start_daemon()
    expect("Avahi" in gw1.log() or "DNS-SD" in gw1.log(), "no Info line without a daemon")
    # Unsigned: only the server without a secret answers.
    found = by_name(ws1.servers())
    expect(set(found) == {"gw1"}, "found: %s" % found)
    expect(found["gw1"]["broadcast"] and not found["gw1"]["dnsSd"], "found by: %s" % found)
    # With the secret the client can choose only the server whose signed
    # answer verifies: gw2, though gw1 answers too.
    ws1.client_config(secret=SECRET)
    ws1.start_daemon()
    voted = wait_until(lambda: "Vote from ws1" in gw2.ctl(["status"]).stdout, 30)
    expect(voted, "auto with the secret did not vote to gw2: %s" % ws1.ctl(["status"]).stdout)
    expect("Vote from ws1" not in gw1.ctl(["status"]).stdout, "gw1 got the vote")
    ws1.stop_daemon()
    # Without the secret the one answering server is chosen.
    gw2.stop_daemon()
    ws1.client_config()
    ws1.start_daemon()
    voted = wait_until(lambda: "Vote from ws1" in gw1.ctl(["status"]).stdout, 30)
    expect(voted, "auto did not vote to gw1: %s" % ws1.ctl(["status"]).stdout)


def decode(lab, pid, pixels):
    """Decodes rows of booleans (True: dark) with zbarimg; the text or ''."""
    width = min(len(row) for row in pixels)
    scale = 4
    path = os.path.join(lab.folder, "code.pgm")
    with open(path, "wb") as out:
        out.write(b"P5 %d %d 255\n" % (width * scale, len(pixels) * scale))
        for row in pixels:
            line = b"".join((b"\x00" if dark else b"\xff") * scale for dark in row[:width])
            out.write(line * scale)
    result = subprocess.run(["zbarimg", "-q", "--raw", path], capture_output=True, text=True)
    return result.stdout.strip()


def blocks_to_pixels(text):
    """linkmootctl's blocks (light modules drawn) back into modules."""
    rows = []
    for line in text.split("\n"):
        upper, lower = [], []
        for char in line:
            upper.append(char not in ("\u2588", "\u2580"))
            lower.append(char not in ("\u2588", "\u2584"))
        rows += [upper, lower]
    return rows


@check
def the_page_code_decodes_to_the_page_address(lab):
    gw1, ws1 = lab.add_host("gw1", 1), lab.add_host("ws1", 3)
    gw1.server_config()
    gw1.start_daemon()
    address = "http://%s:%d/" % (gw1.address, WEB_PORT)
    result = gw1.ctl(["page-code"])
    expect(result.returncode == 0, "page-code failed: %s" % result.stderr)
    expect(result.stdout.rstrip("\n").endswith(address), "the address under the code: %s" %
           result.stdout)
    blocks = [line for line in result.stdout.split("\n") if line and not line.startswith("http")]
    expect(decode(lab, gw1.pid, blocks_to_pixels("\n".join(blocks))) == address,
           "the printed code does not decode to %s" % address)
    # The page's own code: of the address the phone connected to.
    fetched = lab.run(ws1.pid, ["python3", "-c",
                                "import urllib.request,sys;print(urllib.request.urlopen("
                                "urllib.request.Request(sys.argv[1],headers={'Host':'gw1'}))"
                                ".read().decode())", address + "api/code"])
    code = json.loads(fetched.stdout)
    expect(code["address"] == address, "the page's code is of %s" % code["address"])
    quiet = [[False] * (code["size"] + 8)] * 4
    pixels = quiet + [[False] * 4 + [c == "1" for c in row] + [False] * 4
                      for row in code["rows"]] + quiet
    expect(decode(lab, gw1.pid, pixels) == address, "the page's code does not decode")


def main():
    if os.geteuid() != 0:
        skip("needs root for its network namespaces")
    for tool in ("unshare", "nsenter", "ip", "dbus-daemon", "avahi-daemon", "avahi-browse",
                 "zbarimg"):
        if shutil.which(tool) is None:
            skip(tool + " is not installed (scripts/setup installs it)")
    if subprocess.run(["unshare", "--net", "--mount", "--uts", "true"]).returncode != 0:
        skip("namespaces are not available here")
    signal.signal(signal.SIGALRM, lambda *_: (_ for _ in ()).throw(TimeoutError("time is up")))
    signal.alarm(TOTAL_SECONDS)
    only = os.environ.get("DISCOVERY_CHECK")
    failed = passed = 0
    for function in CHECKS:
        if only and only != function.__name__:
            continue
        lab = Lab()
        try:
            function(lab)
            passed += 1
            print("ok     " + function.__name__, flush=True)
        except Exception:
            failed += 1
            print("FAILED " + function.__name__, flush=True)
            traceback.print_exc()
            for host in lab.hosts.values():
                print("---- %s log (last lines)" % host.name)
                print("\n".join(host.log().splitlines()[-25:]))
                print(host.read("avahi.log")[-1500:])
        finally:
            lab.close()
    print("%d passed, %d failed" % (passed, failed))
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
