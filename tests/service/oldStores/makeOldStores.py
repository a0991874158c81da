#!/usr/bin/python3
"""Makes the stores of an older service, for the test that upgrades them: once, with the
service of the commit that tests/service/oldStores/README.md names, never again (they stand for the data
an operator has).

    /usr/bin/python3 makeOldStores.py SERVICE WORKER SAMPLES OUT

SERVICE and WORKER are that commit's tonvert-service and tonvert-render-worker. In OUT it
leaves `sqlite/` (the data folder of a SQLite service: the database and the files' bodies,
without the outbox), `postgresql.sql` (a plain pg_dump of a PostgreSQL store) and, for each,
`<store>.expected.txt`: each user's password (a line `user TAB password`) and what the service
answered the user afterwards (lines `user TAB command TAB reply`, the reply's CR, LF, TAB and
backslash written \\r, \\n, \\t and \\\\), which the upgraded store must answer alike.

Each store holds: a confirmed user who added funds on the payment page, uploaded two files
(one rendered and downloaded, so its download was charged; one rendered and not fetched)
and has more waiting to be rendered; a second confirmed user with one rendered file; and a
user who signed up and never confirmed. The SQLite service renders whatever waits, so its
waiting files queue behind a long one that it is rendering when it is stopped: a stop puts
that one back to wait, which the expected MIDI list then shows.
"""

import glob
import sqlite3
import struct
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import urllib.parse
import urllib.request

MIDI = ("Scale.mid", "Chorale.mid")


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def wait_port(port, process):
    for _ in range(200):
        if process.poll() is not None:
            raise SystemExit("the service ended: %s" % process.returncode)
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return
        except OSError:
            time.sleep(0.05)
    raise SystemExit("the service did not start")


class Client:
    def __init__(self, port, outbox):
        self.base = "http://127.0.0.1:%d" % port
        self.outbox = outbox

    def command(self, user, password, command, **fields):
        query = {"LNG": "us", "VER": "1.0", "UID": user, "PWD": password, "CMD": command}
        query.update(fields)
        url = self.base + "/cgi-bin/wmn.pl?" + urllib.parse.urlencode(query)
        with urllib.request.urlopen(url, timeout=30) as reply:
            return reply.read().decode("latin-1")

    def mailed_password(self, user):
        for path in sorted(glob.glob(os.path.join(self.outbox, "*.eml")), reverse=True):
            text = open(path, encoding="utf-8", errors="replace").read()
            if user in text:
                found = re.search(r"\n    ([A-Za-z0-9]{10})\r?\n", text)
                if found:
                    return found.group(1)
        raise SystemExit("no mailed password for " + user)

    def sign_up(self, user, confirm=True):
        reply = self.command(user, "", "signup")
        if not reply.startswith("!VAL"):
            raise SystemExit("sign-up of %s: %s" % (user, reply))
        password = self.mailed_password(user)
        if confirm and not self.command(user, password, "confirm").startswith("!VAL"):
            raise SystemExit("confirm of " + user)
        return password

    def add_funds(self, user, password, amount):
        with urllib.request.urlopen(self.base + "/addfunds.html", timeout=30) as page:
            token = re.search(r'name="token" value="([^"]+)"', page.read().decode()).group(1)
        form = urllib.parse.urlencode({"token": token, "uid": user, "password": password,
                                       "amount": amount}).encode()
        with urllib.request.urlopen(self.base + "/addfunds.html", form, timeout=30) as reply:
            if b"receipt" not in reply.geturl().encode() and b"Balance" not in reply.read():
                raise SystemExit("adding funds for " + user)

    def upload(self, user, password, path, preset):
        name = os.path.basename(path)
        fields = ["UID=" + user, "PWD=" + password, "LNG=us", "VER=1.0", "CMD=submitmidi",
                  "PRM=" + preset, "FNM=" + name]
        command = ["curl", "-s", "-H", "Expect:"]
        for field in fields:
            command += ["-F", field]
        command += ["-F", "BIN=@%s;filename=%s" % (path, name), self.base + "/cgi-bin/wmn.pl"]
        reply = subprocess.run(command, capture_output=True, text=True, check=True).stdout
        if not reply.startswith("!VAL"):
            raise SystemExit("upload of %s: %s" % (name, reply))

    def wait_rendered(self, user, password, count):
        for _ in range(600):
            listing = self.command(user, password, "listaudio")
            if len([l for l in listing.splitlines() if "\t" in l and not l.startswith("!")]) >= count:
                return listing
            time.sleep(0.1)
        raise SystemExit("renders of %s did not come" % user)

    def audio_names(self, user, password):
        listing = self.command(user, password, "listaudio")
        return [l.split("\t")[0] for l in listing.splitlines() if "\t" in l and not l.startswith("!")]

    def download(self, user, password, name):
        url = self.base + "/cgi-bin/wmn.pl?" + urllib.parse.urlencode(
            {"LNG": "us", "VER": "1.0", "UID": user, "PWD": password, "CMD": "getaudio",
             "FNM": name})
        with urllib.request.urlopen(url, timeout=60) as reply:
            body = reply.read()
        if body.startswith(b"!ERR"):
            raise SystemExit("download of %s: %s" % (name, body[:80]))


def long_piece(path, seconds):
    """A MIDI file of one note every quarter second, for a render that takes a while."""
    track = b"\x00\xC0\x00"
    for i in range(int(seconds * 4)):
        key = 60 + (i * 7) % 24
        track += bytes([0, 0x90, key, 0x50, 0x78, 0x80, key, 0])  # 120 of 480 ticks at 120 bpm
    track += b"\x00\xFF\x2F\x00"
    with open(path, "wb") as midi:
        midi.write(b"MThd" + struct.pack(">IHHH", 6, 0, 1, 480) + b"MTrk" +
                   struct.pack(">I", len(track)) + track)


def fill(client, samples, start_render, stop_render, before_waiting=lambda c, u, p: None):
    """The users and their files; renders run between start_render and stop_render, and
    before_waiting may give the renderer something long to do before the last upload."""
    users = {}
    start_render()
    ann = "ann@example.org"
    users[ann] = client.sign_up(ann)
    client.add_funds(ann, users[ann], "12.50")
    client.upload(ann, users[ann], os.path.join(samples, "Scale.mid"), "WAV,352,22050,C,1")
    client.upload(ann, users[ann], os.path.join(samples, "Chorale.mid"), "MP3,128,44100,C,2")
    client.wait_rendered(ann, users[ann], 2)
    client.download(ann, users[ann], client.audio_names(ann, users[ann])[0])
    bob = "bob@example.org"
    users[bob] = client.sign_up(bob)
    client.upload(bob, users[bob], os.path.join(samples, "Chorale.mid"), "OGG,112,44100,V,2")
    client.wait_rendered(bob, users[bob], 1)
    stop_render()
    before_waiting(client, ann, users[ann])
    client.upload(ann, users[ann], os.path.join(samples, "Scale.mid"), "MP3,64,44100,C,1")
    users["carl@example.org"] = client.sign_up("carl@example.org", confirm=False)
    expected = {}
    for user, password in users.items():
        expected[user] = {"password": password}
        if user == "carl@example.org":
            continue
        for command in ("viewfunds", "listmidi", "listaudio"):
            expected[user][command] = client.command(user, password, command)
    return expected


def make_sqlite(service, samples, out, work):
    data = os.path.join(work, "sqlite")
    port = free_port()
    processes = []

    def start(workers):
        process = subprocess.Popen([service, "--listen", "127.0.0.1:%d" % port, "--data", data,
                                    "--workers", str(workers), "--starting-balance", "500"],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_port(port, process)
        processes.append(process)

    def stop():
        processes[-1].terminate()
        processes[-1].wait(30)

    def render_long(client, user, password):
        piece = os.path.join(work, "Long.mid")
        long_piece(piece, 600)
        client.upload(user, password, piece, "WAV,352,22050,C,1")
        for _ in range(200):
            if "\trendering\t" in client.command(user, password, "listmidi"):
                return
            time.sleep(0.05)
        raise SystemExit("the long piece was not taken")

    start(1)
    client = Client(port, os.path.join(data, "outbox"))
    expected = fill(client, samples, lambda: None, lambda: None, render_long)
    stop()
    states = [state for (state,) in sqlite3.connect(os.path.join(data, "tonvert.sqlite"))
              .execute("SELECT state FROM midi_records")]
    if states != ["waiting", "waiting"]:
        raise SystemExit("the stopped service left its MIDI records %s" % states)
    ann = expected["ann@example.org"]
    ann["listmidi"] = ann["listmidi"].replace("\trendering\t", "\twaiting\t")
    shutil.copytree(data, os.path.join(out, "sqlite"), ignore=shutil.ignore_patterns("outbox", "*-wal", "*-shm"))
    return expected


def make_postgresql(service, worker, samples, out, work):
    bin_dir = sorted(glob.glob("/usr/lib/postgresql/*/bin"))[-1]
    root = os.path.join(work, "pg")
    os.makedirs(root)
    shutil.chown(root, "nobody", "nogroup")
    owner = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--"]
    subprocess.run(owner + [bin_dir + "/initdb", "-D", root + "/data", "-U", "tonvert", "-A",
                            "trust", "-E", "UTF8", "--locale=C", "--no-sync"],
                   check=True, stdout=subprocess.DEVNULL)
    pg_port = free_port()
    subprocess.run(owner + [bin_dir + "/pg_ctl", "-D", root + "/data", "-l", root + "/log", "-w",
                            "-o", "-c listen_addresses=127.0.0.1 -p %d -k %s" % (pg_port, root),
                            "start"], check=True, stdout=subprocess.DEVNULL)
    try:
        subprocess.run([bin_dir + "/createdb", "-h", "127.0.0.1", "-p", str(pg_port), "-U",
                        "tonvert", "tonvert"], check=True)
        url = "postgresql://tonvert@127.0.0.1:%d/tonvert" % pg_port
        port = free_port()
        front_data = os.path.join(work, "front")
        front = subprocess.Popen([service, "--store", url, "--no-render", "--listen",
                                  "127.0.0.1:%d" % port, "--data", front_data,
                                  "--starting-balance", "500"],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_port(port, front)
        workers = []

        def start_worker():
            workers.append(subprocess.Popen(
                [worker, "--store", url, "--data", os.path.join(work, "worker"), "--workers",
                 "1"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))

        def stop_worker():
            workers[-1].terminate()
            workers[-1].wait(30)

        client = Client(port, os.path.join(front_data, "outbox"))
        expected = fill(client, samples, start_worker, stop_worker)
        front.terminate()
        front.wait(30)
        with open(os.path.join(out, "postgresql.sql"), "w") as dump:
            subprocess.run([bin_dir + "/pg_dump", "-h", "127.0.0.1", "-p", str(pg_port), "-U",
                            "tonvert", "--no-owner", "--no-privileges", "tonvert"],
                           stdout=dump, check=True)
        return expected
    finally:
        subprocess.run(owner + [bin_dir + "/pg_ctl", "-D", root + "/data", "-m", "immediate",
                                "-w", "stop"], stdout=subprocess.DEVNULL)


def escaped(text):
    return (text.replace("\\", "\\\\").replace("\r", "\\r").replace("\n", "\\n")
            .replace("\t", "\\t"))


def main(service, worker, samples, out):
    os.makedirs(out, exist_ok=True)
    work = tempfile.mkdtemp(prefix="tonvert-oldstores-")
    os.chmod(work, 0o755)
    try:
        for name, expected in (("sqlite", make_sqlite(service, samples, out, work)),
                               ("postgresql", make_postgresql(service, worker, samples, out,
                                                              work))):
            with open(os.path.join(out, name + ".expected.txt"), "w", newline="") as file:
                for user, answers in sorted(expected.items()):
                    file.write("%s\t%s\n" % (user, answers.pop("password")))
                    for command, reply in sorted(answers.items()):
                        file.write("%s\t%s\t%s\n" % (user, command, escaped(reply)))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    if len(sys.argv) != 5:
        raise SystemExit(__doc__.strip().splitlines()[3].strip())
    main(*sys.argv[1:])
