#!/usr/bin/python3
"""The web page in a real browser against a real linkmootd (simulated modem,
loopback): a phone connects for 15 minutes and disconnects; a form posted from
another origin does not vote; a data plan shows its figures, its banners and,
only with the password, the allowance over the cap.

Usage: web_page_test.py PATH-TO-linkmootd
Exits 77 (skipped) only when chromium cannot start.
"""
import http.server
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.request

from selenium import webdriver
from selenium.common.exceptions import WebDriverException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

DAEMON = None
GUARD_MS = 3000


def free_port(kind):
    with socket.socket(socket.AF_INET, kind) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def start_browser():
    options = webdriver.ChromeOptions()
    for argument in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage",
                     "--window-size=412,915"):
        options.add_argument(argument)
    options.binary_location = "/usr/bin/chromium"
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


class Daemon:
    """linkmootd as a configured server with the page on, in its own folders;
    `server` adds keys to its Server section, `plan` gives it a Plan section."""

    def __init__(self, program, prepare=None, server=None, plan=None):
        self.root = tempfile.mkdtemp(prefix="linkmoot-web-")
        self.web_port = free_port(socket.SOCK_STREAM)
        folder = os.path.join(self.root, "config", "Fennel Brookworks", "Linkmoot")
        os.makedirs(folder)
        os.makedirs(os.path.join(self.root, "bin"))
        runtime = os.path.join(self.root, "runtime")
        os.makedirs(runtime, mode=0o700)
        # A copy of its own: the log is written beside the program.
        self.program = os.path.join(self.root, "bin", "linkmootd")
        shutil.copy(program, self.program)
        self.vote_port = free_port(socket.SOCK_DGRAM)
        lines = ["<Configured>1</>", "<Mode>server</>", "<Port>%d</>" % self.vote_port, "",
                 "<Server>",
                 "\t<Connection>Simulated modem</>", "\t<Dialer>simulated</>",
                 "\t<GuardTime>%d</>" % GUARD_MS, "\t<WebPort>%d</>" % self.web_port]
        lines += ["\t<%s>%s</>" % key for key in (server or {}).items()] + ["</Server>"]
        if plan:
            lines += ["<Plan>"] + ["\t<%s>%s</>" % key for key in plan.items()] + ["</Plan>"]
        self.password = (server or {}).get("WebPassword")
        with open(os.path.join(folder, "linkmootd.cfg"), "wb") as config:
            config.write(("\r\n".join(lines) + "\r\n").encode())
        # The usage database lies beside the configuration here.
        if prepare:
            prepare(folder)
        environment = dict(os.environ, XDG_CONFIG_HOME=os.path.join(self.root, "config"),
                           XDG_RUNTIME_DIR=runtime,
                           DBUS_SYSTEM_BUS_ADDRESS="unix:path=/nonexistent/linkmoot-test-bus")
        self.errors = open(os.path.join(self.root, "stderr.txt"), "w+")
        self.process = subprocess.Popen([self.program, "/log:debug"], env=environment,
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=self.errors)
        self.base = "http://127.0.0.1:%d" % self.web_port
        deadline = time.monotonic() + 20
        while True:
            try:
                self.state()
                return
            except OSError:
                if time.monotonic() > deadline or self.process.poll() is not None:
                    self.stop()
                    raise RuntimeError("linkmootd did not serve the page:\n" + self.log())
                time.sleep(0.1)

    def state(self):
        request = urllib.request.Request(self.base + "/api/state")
        if self.password:
            request.add_header("Authorization", "Bearer " + self.password)
        with urllib.request.urlopen(request, timeout=5) as answer:
            return json.load(answer)

    def usage(self):
        with urllib.request.urlopen(self.base + "/api/usage", timeout=5) as answer:
            return json.load(answer)

    def post(self, path, body):
        request = urllib.request.Request(self.base + path, data=json.dumps(body).encode(),
                                         headers={"Content-Type": "application/json"})
        with urllib.request.urlopen(request, timeout=5) as answer:
            return json.load(answer)

    def log(self):
        self.errors.flush()
        self.errors.seek(0)
        return self.errors.read()

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.errors.close()
        shutil.rmtree(self.root, ignore_errors=True)


class WebPageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.browser = BROWSER
        cls.daemon = Daemon(DAEMON)

    @classmethod
    def tearDownClass(cls):
        cls.daemon.stop()

    def line_text(self):
        return self.browser.find_element(By.ID, "line").text

    def wait_for(self, condition, seconds, what, daemon=None):
        try:
            return WebDriverWait(self.browser, seconds, poll_frequency=0.1).until(
                lambda _: condition())
        except Exception:
            self.fail("%s; the page shows %r\n%s" % (what, self.line_text(),
                                                      (daemon or self.daemon).log()))

    def test_a_phone_connects_for_15_minutes_and_disconnects(self):
        self.browser.get(self.daemon.base + "/")
        self.wait_for(lambda: self.line_text() == "Line down", 10, "the line is not shown down")
        self.browser.find_element(By.ID, "name").send_keys("anna-phone")
        self.browser.find_element(By.CSS_SELECTOR, '#durations button[data-minutes="15"]').click()
        self.browser.find_element(By.ID, "connect").click()

        self.wait_for(lambda: self.line_text() == "Dialling…", 10, "no dial was shown")
        self.wait_for(lambda: self.line_text().startswith("Line up for"), 15, "the line never came up")
        mine = self.browser.find_element(By.CSS_SELECTOR, "#votes li.mine")
        self.assertEqual(mine.find_element(By.CLASS_NAME, "name").text, "web:anna-phone")
        self.assertRegex(mine.find_element(By.CLASS_NAME, "left").text, r"^1[45] min left$")
        self.assertIn("web:anna-phone", [vote["name"] for vote in self.daemon.state()["votes"]])

        self.browser.find_element(By.ID, "disconnect").click()
        self.wait_for(lambda: self.browser.find_element(By.ID, "message").text == "Vote withdrawn.",
                      5, "the page did not confirm the withdrawal")
        withdrawn = time.monotonic()
        self.wait_for(lambda: self.line_text() == "Line down", 10 + GUARD_MS / 1000,
                      "the line did not go down")
        self.assertEqual(self.browser.find_elements(By.CSS_SELECTOR, "#votes li"), [])
        # The line stays down: no vote is left to dial for.
        time.sleep(max(0.0, withdrawn + GUARD_MS / 1000 + 1 - time.monotonic()))
        self.assertEqual(self.daemon.state()["line"], "down")
        log = self.daemon.log()
        self.assertIn("Received a vote from host 'web:anna-phone'", log)
        self.assertIn("Received an unvote from host 'web:anna-phone'", log)
        self.assertEqual(log.count("connecting to RAS"), 1, log)

    def test_a_form_posted_from_another_origin_does_not_vote(self):
        target = self.daemon.base + "/api/vote"
        # The classic cross-site trick: a text/plain form whose body reads as JSON.
        page = ("<!DOCTYPE html><form id='f' method='POST' enctype='text/plain' action='%s'>"
                "<input name='{\"name\":\"mallory\",\"minutes\":15,\"x\":\"' value='\"}'></form>"
                "<script>document.getElementById('f').submit()</script>" % target).encode()

        class Attacker(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                self.send_response(200)
                self.send_header("Content-Type", "text/html")
                self.send_header("Content-Length", str(len(page)))
                self.end_headers()
                self.wfile.write(page)

            def log_message(self, *arguments):
                pass

        # Threads: the browser's idle pre-connections must not hold up the others.
        attacker = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Attacker)
        attacker.daemon_threads = True
        thread = threading.Thread(target=attacker.serve_forever, daemon=True)
        thread.start()
        try:
            self.browser.get("http://localhost:%d/" % attacker.server_address[1])
            self.wait_for(lambda: self.browser.current_url.startswith(target), 10,
                          "the form was not posted")
            answer = self.browser.find_element(By.TAG_NAME, "body").text
        finally:
            attacker.shutdown()
            attacker.server_close()
        self.assertIn("error", answer)
        self.assertNotIn("mallory", json.dumps(self.daemon.state()["votes"]))
        self.assertNotIn("web:mallory", self.daemon.log())

    def test_the_chart_shows_the_days_bytes_at_360_pixels_without_names(self):
        # A session of a few seconds of the simulated line (20 kB a second).
        self.daemon.post("/api/vote", {"name": "chart-phone", "minutes": 15})
        self.wait_for(lambda: self.daemon.state()["line"] == "up", 15, "the line never came up")
        time.sleep(3)
        self.daemon.post("/api/unvote", {"name": "chart-phone"})
        self.wait_for(lambda: self.daemon.usage()["month"]["sessions"] >= 1, 10,
                      "the session was not counted")
        usage = self.daemon.usage()
        self.assertNotIn("voters", usage["month"])  # no password: no names, no shares
        self.assertGreater(usage["days"][-1]["bytesIn"], 0)

        self.browser.set_window_size(360, 800)
        try:
            self.browser.get(self.daemon.base + "/")
            bars = lambda: self.browser.find_elements(By.CSS_SELECTOR, "#chart rect")
            self.wait_for(lambda: len(bars()) == 30, 10, "the chart has no 30 bars")
            today = bars()[-1]
            self.assertGreater(float(today.get_attribute("height")), 0)
            self.assertIn("in,", today.find_element(By.TAG_NAME, "title").get_attribute(
                "textContent"))
            self.assertIn("session(s)", self.browser.find_element(By.ID, "usage-figures").text)
            self.assertEqual(self.browser.find_elements(By.CSS_SELECTOR, "#usage-voters li"), [])
            # Readable on a small phone: nothing wider than the screen.
            self.assertLessEqual(
                self.browser.execute_script("return document.documentElement.scrollWidth"), 360)
            self.assertGreater(self.browser.find_element(By.ID, "chart").size["width"], 250)
        finally:
            self.browser.set_window_size(412, 915)

    def test_a_data_plan_shows_its_figures_banners_and_the_allowance_only_with_the_password(self):
        # 1 MB a cycle and AtCap=refuse: the line that is up stays up, the cap holds
        # new dials. Without a password nobody may allow more, so the page never
        # offers it; with the password given it does while the cap holds. The
        # slower line leaves the 10 % banner on the page for some seconds first.
        plan = {"DataCapMB": 1, "WarnPercents": "10,100", "AtCap": "refuse"}
        for password, rate in ((None, 500000), ("plan-secret", 200000)):
            with self.subTest(password=password):
                server = {"SimulatedBytesPerSecond": rate}
                if password:
                    server["WebPassword"] = password
                daemon = Daemon(DAEMON, server=server, plan=plan)
                try:
                    self.check_the_plan(daemon)
                finally:
                    self.browser.delete_all_cookies()
                    daemon.stop()

    def check_the_plan(self, daemon):
        element = lambda name: self.browser.find_element(By.ID, name)
        banner = lambda: element("plan-banner").text * element("plan-banner").is_displayed()
        wait = lambda condition, seconds, what: self.wait_for(condition, seconds, what, daemon)
        # The plan is read at the first poll, a second after the start.
        wait(lambda: daemon.state()["plan"]["active"], 10, "the plan was not read")
        self.browser.get(daemon.base + "/")
        if daemon.password:
            wait(lambda: element("login").is_displayed(), 10, "no password was asked")
            element("password").send_keys(daemon.password)
            element("login-form").submit()
        wait(lambda: element("plan-figures").is_displayed(), 10, "the plan's figures are missing")
        self.assertRegex(element("plan-figures").text,
                         r"^Data plan: 0 bytes of 1\.0 MB used, \d+(\.\d)? [kM]B a day left, "
                         r"heading for 0 bytes\. Resets .+\.$")
        self.assertEqual(banner(), "")
        self.assertFalse(element("plan-allow").is_displayed())

        element("name").send_keys("plan-phone")
        element("connect").click()
        if daemon.password:
            wait(lambda: banner() == "Data plan: 10 % of the cap used.", 20,
                 "no banner for the 10 % threshold")
        wait(lambda: banner().startswith("Data cap reached: the server dials no new connection"),
             30, "no banner for the cap")
        # Refuse: the line that is up stays up, and its bytes still count.
        self.assertRegex(element("plan-figures").text, r"^Data plan: \d+\.\d MB of 1\.0 MB used, ")
        self.assertEqual(daemon.state()["line"], "up")
        if not daemon.password:
            self.assertFalse(element("plan-allow").is_displayed())
            self.assertFalse(daemon.state()["plan"]["canAllow"])
            return
        wait(lambda: element("plan-allow").is_displayed(), 10, "the allowance is not offered")
        element("plan-allow").click()
        wait(lambda: element("message").text == "The line may run over the data cap for an hour.",
             10, "the allowance was not confirmed")
        wait(lambda: "Allowed over the cap until" in banner(), 10, "the banner lacks the allowance")
        self.assertFalse(element("plan-allow").is_displayed())
        self.assertFalse(daemon.state()["plan"]["capped"])
        self.assertIn("(asked by web:plan-phone from 127.0.0.1)", daemon.log())


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    DAEMON = os.path.abspath(sys.argv.pop(1))
    try:
        BROWSER = start_browser()
    except WebDriverException as failure:
        print("SKIPPED: chromium cannot start here: %s" % failure.msg, file=sys.stderr)
        sys.exit(77)
    try:
        result = unittest.main(exit=False, verbosity=2).result
    finally:
        BROWSER.quit()
    sys.exit(0 if result.wasSuccessful() else 1)
