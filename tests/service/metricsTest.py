#!/usr/bin/python3
"""The service's metrics as Prometheus reads them.

    /usr/bin/python3 tests/service/metricsTest.py PATH/TO/tonvert-service SAMPLES_FOLDER

Starts the service binary with its metrics on free loopback ports, makes an account, asks for
its funds with the right password and a wrong one, names no command and no page, has a MIDI
file rendered and queues two more behind a long render; then parses /metrics with the
Prometheus client library and checks what was counted. Exit status 0 only when all holds.
"""

import glob
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.parse
import urllib.request

from prometheus_client.parser import text_string_to_metric_families

USER = "mia@example.org"
PRESET = "MP3,128,44100,C,2"
# One note held for 36 quarters at the slowest tempo: ten minutes of play.
LONG_MIDI = (b"MThd\0\0\0\6\0\0\0\1\0\x60MTrk\0\0\0\x14\0\xff\x51\3\xff\xff\xff"
             b"\0\x90\x3c\x64\x9b\0\x80\x3c\0\0\xff\x2f\0")
OPENER = urllib.request.build_opener(urllib.request.ProxyHandler({}))


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def fetch(url, body=None, headers=None):
    request = urllib.request.Request(url, body, headers or {})
    try:
        with OPENER.open(request, timeout=10) as reply:
            return reply.read().decode("utf-8", "replace")
    except urllib.error.HTTPError as error:
        return error.read().decode("utf-8", "replace")
    except OSError:  # not listening yet
        return ""


def wait_for(what, condition, seconds=60):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            sys.exit("FAILED: waited in vain for " + what)
        time.sleep(0.1)


def main(service, samples):
    data = tempfile.mkdtemp()
    port, metrics_port = free_port(), free_port()
    process = subprocess.Popen([service, "--listen", "127.0.0.1:%d" % port, "--data", data,
                                "--workers", "1", "--metrics-listen",
                                "127.0.0.1:%d" % metrics_port], )
    script = "http://127.0.0.1:%d/cgi-bin/wmn.pl" % port
    ask = lambda **fields: fetch(script + "?" + urllib.parse.urlencode(dict(VER="1.0", **fields)))
    mails = lambda: "".join(open(f).read() for f in glob.glob(data + "/outbox/*.eml"))
    try:
        wait_for("the service", lambda: fetch("http://127.0.0.1:%d/healthz" % port).strip() == "ok", 10)
        assert ask(CMD="signup", UID=USER) == "!VAL signed up"
        password = re.search(r"^    ([A-Za-z0-9]{10})", mails(), re.M).group(1)
        account = dict(UID=USER, PWD=password)
        assert ask(CMD="confirm", **account) == "!VAL confirmed"
        assert ask(CMD="viewfunds", **account).startswith("!VAL ")
        assert ask(CMD="viewfunds", UID=USER, PWD="wrong") == "!ERR 1019"
        assert ask(CMD="dropeverything", **account) == "!ERR 1007"
        fetch("http://127.0.0.1:%d/some/path/of/a/client's/choosing" % port)

        def upload(name, midi):
            parts = dict(VER="1.0", CMD="submitmidi", FNM=name, PRM=PRESET, **account)
            body = b"".join(b'--B\r\nContent-Disposition: form-data; name="%s"\r\n\r\n%s\r\n'
                            % (k.encode(), v.encode()) for k, v in parts.items())
            body += (b'--B\r\nContent-Disposition: form-data; name="BIN"; filename="%s"\r\n\r\n'
                     b"%s\r\n--B--\r\n" % (name.encode(), midi))
            return fetch(script, body, {"Content-Type": "multipart/form-data; boundary=B"})

        scale = open(os.path.join(samples, "Scale.mid"), "rb").read()
        assert upload("Scale.mid", scale).startswith("!VAL ")
        wait_for("the render's mail", lambda: "Rendered: Scale.mid" in mails())
        assert upload("Long.mid", LONG_MIDI).startswith("!VAL ")
        assert upload("Scale2.mid", scale).startswith("!VAL ")
        wait_for("the long render", lambda: "Long.mid\trendering" in ask(CMD="listmidi", **account))

        scraped = fetch("http://127.0.0.1:%d/metrics" % metrics_port)
        series = {(s.name, tuple(sorted(s.labels.items()))): s.value
                   for family in text_string_to_metric_families(scraped) for s in family.samples}
        value = lambda name, **labels: series.get((name, tuple(sorted(labels.items()))))
        requests = lambda command, code: value("tonvert_requests_total", command=command,
                                               code=code, status="200")
        expected = [
            (requests("signup", "ok"), 1), (requests("confirm", "ok"), 1),
            (requests("viewfunds", "ok"), 1), (requests("viewfunds", "1019"), 1),
            (requests("unknown", "1007"), 1), (requests("submitmidi", "ok"), 3),
            (value("tonvert_requests_total", command="other", code="error", status="404"), 1),
            (value("tonvert_request_duration_seconds_count", command="viewfunds"), 2),
            (value("tonvert_renders_total", outcome="done"), 1),
            (value("tonvert_renders_total", outcome="failed"), 0),
            (value("tonvert_render_duration_seconds_count"), 1),
            (value("tonvert_mails_total", outcome="sent"), 2),
            (value("tonvert_queue_jobs", state="waiting"), 1),
            (value("tonvert_queue_jobs", state="rendering"), 1),
        ]
        failed = [(i, got, want) for i, (got, want) in enumerate(expected) if got != want]
        wait = value("tonvert_queue_oldest_wait_seconds")
        if not 0 <= wait < 60 or value("tonvert_render_duration_seconds_sum") <= 0:
            failed.append(("wait or render time", wait, "0..60"))
        print("\n".join("FAIL: %r got %r, want %r" % f for f in failed) or "PASSED")
        return 1 if failed else 0
    finally:
        process.send_signal(signal.SIGTERM)
        process.wait(timeout=30)
        shutil.rmtree(data, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
