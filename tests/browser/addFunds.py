#!/usr/bin/python3
"""Adds funds to a Tonvert account through the service's add-funds page in headless Chromium.

    /usr/bin/python3 tests/browser/addFunds.py URL USER PASSWORD AMOUNT [--expect-balance B]

URL is the service (http://127.0.0.1:PORT/) or its add-funds page. A payment is answered with
a redirect to its receipt page. Exits 0 when the receipt shows the new balance (and it is B,
when given), 1 when the page refused the payment or showed another balance, 2 when the
browser could not do it. Prints what the page said.

As a module: headless_chromium() gives a WebDriver that is closed with everything it started,
and add_funds(driver, url, user, password, amount) fills and submits the form.
"""

import contextlib
import os
import shutil
import sys
import tempfile
import urllib.parse

from selenium import webdriver
from selenium.common.exceptions import NoSuchElementException, WebDriverException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
PAGE_SECONDS = 15

# Nothing but loopback is reachable: Chromium must fetch nothing on its own.
CHROMIUM_FLAGS = [
    "--headless=new",
    "--disable-gpu",
    "--no-first-run",
    "--no-default-browser-check",
    "--disable-background-networking",
    "--disable-component-update",
    "--disable-sync",
    "--disable-dev-shm-usage",
    "--no-proxy-server",
    "--window-size=1024,768",
]


@contextlib.contextmanager
def headless_chromium():
    """A Chromium WebDriver on a fresh profile; quits Chromium and its driver on leaving."""
    for program in (CHROMIUM, CHROMEDRIVER):
        if not os.access(program, os.X_OK):
            raise RuntimeError(program + " is missing: run scripts/install-deps.sh")
    # The driver is reached on loopback; a proxy from the environment must not get between.
    for name in ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy",
                 "ALL_PROXY"):
        os.environ.pop(name, None)
    profile = tempfile.mkdtemp(prefix="tonvert-chromium-")
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in CHROMIUM_FLAGS + ["--user-data-dir=" + profile]:
        options.add_argument(flag)
    if os.geteuid() == 0:
        options.add_argument("--no-sandbox")
    service = Service(executable_path=CHROMEDRIVER, log_path=os.devnull)
    driver = None
    try:
        driver = webdriver.Chrome(service=service, options=options)
        driver.set_page_load_timeout(PAGE_SECONDS)
        yield driver
    finally:
        try:
            if driver is not None:
                driver.quit()
        finally:
            service.stop()  # again, for a driver whose browser never came up
            shutil.rmtree(profile, ignore_errors=True)


def funds_page_url(url):
    """The add-funds page of a service given by its address or by the page itself."""
    parts = urllib.parse.urlsplit(url)
    if parts.path.endswith("/addfunds.html"):
        return url
    return urllib.parse.urljoin(url if url.endswith("/") else url + "/", "addfunds.html")


def wait_for_next_page(driver, act):
    """Does `act`, which leaves the page, and waits until the next page (after any redirect)
    has loaded. A mark of this call on the old page's window tells the two apart (a page
    restored from the back-forward cache may carry an older one); while the browser is between
    pages, asking it may fail, and it is asked again."""
    mark = os.urandom(8).hex()
    driver.execute_script("window.tonvertLeaving = arguments[0]", mark)
    act()
    WebDriverWait(driver, PAGE_SECONDS, ignored_exceptions=[WebDriverException]).until(
        lambda d: d.execute_script(
            "return window.tonvertLeaving !== arguments[0] && document.readyState === 'complete'",
            mark))


def fill_and_submit(driver, user, password, amount):
    """Fills the form of the page the browser shows, submits it, waits for the answer."""
    for field, text in (("uid", user), ("password", password), ("amount", amount)):
        element = driver.find_element(By.ID, field)
        element.clear()
        element.send_keys(text)
    button = driver.find_element(By.CSS_SELECTOR, "form button[type=submit]")
    wait_for_next_page(driver, button.click)


def page_outcome(driver):
    """(message, new balance or None) as the add-funds page shows them."""
    try:
        message = driver.find_element(By.ID, "message").text
    except NoSuchElementException:
        message = ""
    try:
        balance = driver.find_element(By.ID, "balance").text
    except NoSuchElementException:
        balance = None
    return message, balance


def add_funds(driver, url, user, password, amount):
    """Opens the add-funds page, pays, and gives (message, new balance or None)."""
    driver.get(funds_page_url(url))
    fill_and_submit(driver, user, password, amount)
    return page_outcome(driver)


def main(argv):
    args = argv[1:]
    expected = None
    if "--expect-balance" in args:
        at = args.index("--expect-balance")
        if at + 1 >= len(args):
            args = []
        else:
            expected = args[at + 1]
            del args[at:at + 2]
    if len(args) != 4:
        print(__doc__.strip().splitlines()[2].strip(), file=sys.stderr)
        return 2
    url, user, password, amount = args
    try:
        with headless_chromium() as driver:
            message, balance = add_funds(driver, url, user, password, amount)
    except Exception as failure:  # the browser's own failures, in one line for the caller
        print("addFunds: the browser failed: %s: %s" % (type(failure).__name__, failure),
              file=sys.stderr)
        return 2
    print(message or "addFunds: the page showed no message")
    if balance is None:
        return 1
    if expected is not None and balance != expected:
        print("addFunds: balance %s, expected %s" % (balance, expected), file=sys.stderr)
        return 1
    print("balance " + balance)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
