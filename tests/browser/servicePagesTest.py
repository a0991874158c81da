#!/usr/bin/python3
"""The service's own pages in a real browser.

    /usr/bin/python3 tests/browser/servicePagesTest.py PATH/TO/tonvert-service

Starts the service binary on a free loopback port with a fresh data folder, makes an account
through the protocol, and drives headless Chromium over the home page, the add-funds form and
the upgrade page. The last line says PASSED or FAILED; the exit status is 0 only on PASSED.
"""

import glob
import html.parser
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import traceback
import urllib.error
import urllib.parse
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import addFunds  # noqa: E402  (beside this file)

from selenium.webdriver.common.by import By  # noqa: E402

HELPER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "addFunds.py")
PRICES = "7,11,3,13"  # cents, unlike the defaults, so the home page must read them
USER = "pia@example.org"

# Requests go straight to loopback, whatever proxy the environment names.
OPENER = urllib.request.build_opener(urllib.request.ProxyHandler({}))


class Failures:
    def __init__(self):
        self.failed = []
        self.checks = 0

    def check(self, condition, what):
        self.checks += 1
        if not condition:
            self.failed.append(what)
            print("FAIL: " + what, flush=True)
        return condition


class PageChecker(html.parser.HTMLParser):
    """Finds what makes a page malformed: end tags that close nothing or the wrong element,
    elements never closed, a missing doctype, language, charset, viewport, title or
    stylesheet, and repeated ids."""

    VOID = {"area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta",
            "source", "track", "wbr"}

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.problems = []
        self.open = []
        self.ids = set()
        self.doctype = False
        self.seen = set()
        self.title = ""

    def handle_decl(self, decl):
        self.doctype = self.doctype or decl.lower() == "doctype html"

    def handle_starttag(self, tag, attrs):
        attributes = dict(attrs)
        if "id" in attributes:
            if attributes["id"] in self.ids:
                self.problems.append("id %s twice" % attributes["id"])
            self.ids.add(attributes["id"])
        if tag == "html" and attributes.get("lang"):
            self.seen.add("lang")
        if tag == "meta" and attributes.get("charset", "").lower() == "utf-8":
            self.seen.add("charset")
        if tag == "meta" and attributes.get("name") == "viewport":
            self.seen.add("viewport")
        if tag == "link" and attributes.get("rel") == "stylesheet":
            self.seen.add("stylesheet")
        if tag not in self.VOID:
            self.open.append(tag)

    def handle_startendtag(self, tag, attrs):
        self.handle_starttag(tag, attrs)
        if tag not in self.VOID:
            self.open.pop()

    def handle_endtag(self, tag):
        if tag in self.VOID:
            self.problems.append("end tag of the void element " + tag)
        elif not self.open or self.open[-1] != tag:
            self.problems.append("</%s> closes %s" % (tag, self.open[-1] if self.open
                                                       else "nothing"))
        else:
            self.open.pop()

    def handle_data(self, data):
        if self.open and self.open[-1] == "title":
            self.title += data

    def verdict(self):
        problems = list(self.problems)
        if self.open:
            problems.append("never closed: " + " ".join(self.open))
        if not self.doctype:
            problems.append("no <!DOCTYPE html>")
        for needed in ("lang", "charset", "viewport", "stylesheet"):
            if needed not in self.seen:
                problems.append("no " + needed)
        if not self.title.strip():
            problems.append("no title")
        return problems


def page_problems(text):
    checker = PageChecker()
    checker.feed(text)
    checker.close()
    return checker.verdict()


def fetch(url, form=None):
    """(status, content type, body) of a GET, or of a form POST when `form` is given."""
    data = urllib.parse.urlencode(form).encode() if form is not None else None
    try:
        with OPENER.open(url, data=data, timeout=10) as reply:
            return reply.status, reply.headers.get("Content-Type", ""), reply.read().decode()
    except urllib.error.HTTPError as refused:
        return refused.code, refused.headers.get("Content-Type", ""), refused.read().decode()


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def start_service(binary, data):
    """The service on a free port; a port taken between the probe and the start is tried
    again on another."""
    for _ in range(3):
        port = free_port()
        service = subprocess.Popen(
            [binary, "--listen", "127.0.0.1:%d" % port, "--data", data, "--workers", "1",
             "--prices", PRICES],
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        deadline = time.monotonic() + 15
        while time.monotonic() < deadline and service.poll() is None:
            try:
                with socket.create_connection(("127.0.0.1", port), timeout=1):
                    return service, "http://127.0.0.1:%d" % port
            except OSError:
                time.sleep(0.05)
        stop(service)
    raise RuntimeError("the service did not start: " + (service.stderr.read() or "")[-500:])


def stop(process):
    if process is not None and process.poll() is None:
        process.terminate()
        try:
            process.wait(5)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def protocol(base, command, password=None, user=USER):
    query = {"LNG": "us", "VER": "1.0", "UID": user, "CMD": command}
    if password is not None:
        query["PWD"] = password
    return fetch(base + "/cgi-bin/wmn.pl?" + urllib.parse.urlencode(query))[2]


def mailed_password(data):
    mails = sorted(glob.glob(os.path.join(data, "outbox", "*.eml")))
    if not mails:
        return ""
    with open(mails[-1], encoding="utf-8", errors="replace", newline="") as mail:
        found = re.search(r"\r\n    ([A-Za-z0-9]{10})\r\n", mail.read())
    return found.group(1) if found else ""


def run(binary, work, t):
    data = os.path.join(work, "data")
    service = None
    try:
        service, base = start_service(binary, data)
        t.check(protocol(base, "signup") == "!VAL signed up", "signup")
        password = mailed_password(data)
        if not t.check(len(password) == 10, "a password in the outbox"):
            return
        t.check(protocol(base, "confirm", password) == "!VAL confirmed", "confirm")
        t.check(protocol(base, "viewfunds", password) == "!VAL 5.00", "starting balance 5.00")

        # The pages as served: well-formed, and the stylesheet they share.
        for path in ("/", "/addfunds.html", "/upgrade.html"):
            status, kind, text = fetch(base + path)
            t.check(status == 200 and kind.startswith("text/html"), path + " served as HTML")
            problems = page_problems(text)
            t.check(not problems, "%s well-formed: %s" % (path, "; ".join(problems)))
        refused = fetch(base + "/addfunds.html",
                        {"uid": USER, "password": "x", "amount": "<i>1</i>"})
        t.check(refused[0] == 400, "a bad amount is refused with 400, not %d" % refused[0])
        problems = page_problems(refused[2])
        t.check(not problems, "refusal page well-formed: " + "; ".join(problems))
        t.check("<i>" not in refused[2], "the amount is escaped on the page")
        status, kind, css = fetch(base + "/style.css")
        t.check(status == 200 and kind.startswith("text/css") and "body" in css,
                "the stylesheet is served as CSS")

        with addFunds.headless_chromium() as driver:
            browse(driver, base, password, t)

        # The helper as another test runs it: its own browser, its exit status.
        wrong = subprocess.run([sys.executable, HELPER, base, USER, "Wrong12345", "2.50"],
                               capture_output=True, text=True, timeout=60)
        t.check(wrong.returncode == 1 and "password is wrong" in wrong.stdout,
                "the helper fails on a wrong password: %d %s" % (wrong.returncode, wrong.stdout))
        paid = subprocess.run([sys.executable, HELPER, base + "/addfunds.html", USER, password,
                               "2.50", "--expect-balance", "9.25"],
                              capture_output=True, text=True, timeout=60)
        t.check(paid.returncode == 0 and "balance 9.25" in paid.stdout,
                "the helper adds 2.50: %d %s %s" % (paid.returncode, paid.stdout, paid.stderr))
        t.check(protocol(base, "viewfunds", password) == "!VAL 9.25",
                "viewfunds after paying 2.50: " + protocol(base, "viewfunds", password))
    finally:
        stop(service)


def browse(driver, base, password, t):
    # Home: what the service does, its prices from the configuration, links onwards.
    driver.get(base + "/")
    t.check(driver.title == "Tonvert", "home page title: " + driver.title)
    text = driver.find_element(By.TAG_NAME, "main").text
    t.check("MP3, OGG Vorbis, WMA or WAV" in text, "the home page names the formats")
    shown = {cell: driver.find_element(By.ID, cell).text
             for cell in ("upload-base", "upload-per-mb", "download-base", "download-per-mb")}
    t.check(shown == {"upload-base": "0.07", "upload-per-mb": "0.11", "download-base": "0.03",
                      "download-per-mb": "0.13"}, "the configured prices: %s" % shown)
    # The browser loaded the stylesheet: the page is as narrow as it says.
    t.check(driver.execute_script("return getComputedStyle(document.body).maxWidth") == "672px",
            "the stylesheet applies in the browser")
    t.check(driver.find_elements(By.CSS_SELECTOR, "main a[href='/upgrade.html']"),
            "the home page links to the upgrade page")
    addFunds.wait_for_next_page(
        driver, driver.find_element(By.CSS_SELECTOR, "main a[href='/addfunds.html']").click)
    t.check(driver.current_url.endswith("/addfunds.html"), "the link leads to " +
            driver.current_url)
    t.check(driver.title.startswith("Add funds"), "the link leads to the add-funds page")

    # A wrong password: the message, the user ID kept, the password not, nothing booked.
    addFunds.fill_and_submit(driver, USER, "Wrong12345", "2.50")
    message, balance = addFunds.page_outcome(driver)
    t.check("password is wrong" in message and balance is None, "wrong password: " + message)
    t.check(driver.find_element(By.ID, "uid").get_attribute("value") == USER, "user ID kept")
    t.check(driver.find_element(By.ID, "password").get_attribute("value") == "",
            "password not echoed")
    t.check("Wrong12345" not in driver.page_source, "the wrong password is nowhere on the page")
    t.check(protocol(base, "viewfunds", password) == "!VAL 5.00", "no funds for a wrong password")

    for amount, expected in (("abc", "at most two decimals"), ("-1", "above 0.00"),
                             ("1.234", "at most two decimals"), ("1000.01", "At most 1000.00")):
        message, balance = addFunds.add_funds(driver, base, USER, password, amount)
        t.check(expected in message and balance is None, "amount %s: %s" % (amount, message))
        t.check(driver.find_element(By.ID, "amount").get_attribute("value") == amount,
                "the refused amount %s stays in the form" % amount)
    t.check(protocol(base, "viewfunds", password) == "!VAL 5.00", "no funds for bad amounts")

    # A payment leads on to its receipt; reloading the receipt, or going Back to the form
    # and sending it again, books nothing more.
    message, balance = addFunds.add_funds(driver, base, USER, password, "1.25")
    receipt = driver.current_url
    t.check(balance == "6.25" and "1.25 added" in message, "paid 1.25: %s" % message)
    t.check(re.search(r"/addfunds\.html\?receipt=[0-9a-f]{32}$", receipt),
            "the payment redirects to its receipt: " + receipt)
    problems = page_problems(fetch(receipt)[2])
    t.check(not problems, "receipt page well-formed: " + "; ".join(problems))
    for _ in range(2):
        addFunds.wait_for_next_page(driver, driver.refresh)
        t.check(driver.current_url == receipt and addFunds.page_outcome(driver)[1] == "6.25",
                "the reloaded receipt shows 6.25: %s" % (addFunds.page_outcome(driver),))
    t.check(protocol(base, "viewfunds", password) == "!VAL 6.25",
            "a reloaded receipt books nothing: " + protocol(base, "viewfunds", password))
    addFunds.wait_for_next_page(driver, driver.back)
    addFunds.wait_for_next_page(
        driver, driver.find_element(By.CSS_SELECTOR, "form button[type=submit]").click)
    message, balance = addFunds.page_outcome(driver)
    t.check("already sent" in message and balance is None, "the form sent again: " + message)
    t.check(driver.find_element(By.ID, "amount").get_attribute("value") == "",
            "the amount is not offered again")
    t.check(protocol(base, "viewfunds", password) == "!VAL 6.25",
            "a form sent again books nothing: " + protocol(base, "viewfunds", password))

    # One form sent twice at once, as a double click may: one payment.
    driver.get(addFunds.funds_page_url(base))
    for field, text in (("uid", USER), ("password", password), ("amount", "0.50")):
        driver.find_element(By.ID, field).send_keys(text)
    statuses = driver.execute_script(
        "const form = document.querySelector('form');"
        "const send = () => fetch(form.action, {method: 'POST',"
        "    body: new URLSearchParams(new FormData(form))}).then(reply => reply.status);"
        "return Promise.all([send(), send()]);")
    t.check(sorted(statuses) == [200, 409], "a receipt and a refusal: %s" % statuses)
    t.check(protocol(base, "viewfunds", password) == "!VAL 6.75",
            "a form sent twice at once books once: " + protocol(base, "viewfunds", password))

    # The upgrade page, reached as the client reaches it: through a too-old reply.
    old = fetch(base + "/cgi-bin/wmn.pl?LNG=us&VER=0.9&UID=x&CMD=viewfunds")[2].split("\t")
    t.check(old[0] == "!ERR 1100" and old[-1].endswith("/upgrade.html"), "1100 names the page")
    driver.get(old[-1])
    text = driver.find_element(By.TAG_NAME, "main").text
    t.check("too old" in text and "no download" in text, "the upgrade page says what to do")


def main(argv):
    if len(argv) != 2 or not os.access(argv[1], os.X_OK):
        print("usage: servicePagesTest.py PATH/TO/tonvert-service", file=sys.stderr)
        print("servicePagesTest: FAILED (no service binary)")
        return 1
    # A ctest timeout sends SIGTERM: leave through the cleanups.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("servicePagesTest: FAILED (terminated)"))
    started = time.monotonic()
    t = Failures()
    work = tempfile.mkdtemp(prefix="tonvert-pages-")
    try:
        run(os.path.abspath(argv[1]), work, t)
    except Exception:
        traceback.print_exc()
        t.failed.append("an error stopped the test")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    seconds = time.monotonic() - started
    if t.failed or t.checks == 0:
        print("servicePagesTest: FAILED (%d failures, %d checks made, %.1f s)" %
              (len(t.failed), t.checks, seconds))
        return 1
    print("servicePagesTest: PASSED (%d checks, %.1f s)" % (t.checks, seconds))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
