#!/usr/bin/python3
"""A new user's journey through the installed program, by keyboard, in a real X server.

    /usr/bin/python3 tests/xjourney/xjourney.py CLIENT SERVICE SAMPLES SCREENSHOTS

CLIENT is the program of the portable folder (build/Tonvert/tonvert), SERVICE the reference
service's binary, SAMPLES the folder of sample MIDI files, SCREENSHOTS the folder for one
picture of every step (NN-step.png).

The test starts its own Xvfb and openbox, the service on a free loopback port with a fresh data
folder, and a copy of the program in a fresh portable folder whose settings name that service
and whose MIDI folder holds two samples. The desktop's opener (xdg-open, which the toolkit runs
for web pages and files) is a script of the test that notes what it was asked to open. Then it
works the program with xdotool as a user would: signs up, confirms with the mailed password,
adds funds on the service's page (in headless Chromium), views the balance, uploads the two
files with two presets, refreshes until they are rendered, downloads them, checks the audio,
plays one and closes the program with Alt+F4. On the way it checks that renders arrive by
themselves: after the uploads no key is pressed until both audio files are listed, the
desktop's notification service (a small one of the test's own on a session bus of its own)
is told of them, its Download action fetches a file, and with automatic download switched on
a third render lands in the audio folder by itself. A failing opener gives a message in front
that offers to copy the address, and the network setup's Test answers in front of its dialog.
Any message box that the step does not expect fails the test. The last line says PASSED or
FAILED.
"""

import contextlib
import ctypes
import glob
import json
import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time
import traceback
import urllib.parse
import urllib.request
import wave

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "browser"))

USER = "journey@example.org"
SAMPLES = ("Scale.mid", "Chorale.mid")
# The message boxes' captions (the toolkit's prompts): any of them that a step does not wait
# for is a failure.
MESSAGE_CAPTIONS = ("Error", "Warning", "Confirm", "Information")
POLL = 0.15
# The render runs on until the sound has died away, and cuts a note that never ends 10 s after
# the last event with a one-second fade: no file is shorter than the MIDI file's play time
# nor longer than 11 s past it.
LONGEST_TAIL = 11.0


class Failure(Exception):
    pass


def ends_with_the_test():
    """Run in each child before it starts: it is killed when the test dies, even by a
    SIGKILL (ctest's time-out) that leaves no time to stop it."""
    ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG


def wait_until(what, condition, seconds, guard=None):
    """Polls `condition` until it gives something true, and gives that; `guard` runs at every
    poll and fails early (an unexpected message box). Fails on the deadline."""
    deadline = time.monotonic() + seconds
    while True:
        if guard is not None:
            guard()
        result = condition()
        if result:
            return result
        if time.monotonic() > deadline:
            raise Failure("waited %.0f s for %s" % (seconds, what))
        time.sleep(POLL)


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def stop(process, seconds=5):
    if process is None or process.poll() is not None:
        return
    process.terminate()
    try:
        process.wait(seconds)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def midi_play_time(path):
    """Seconds from the start of a standard MIDI file to its last channel event, through the
    file's tempo changes."""
    with open(path, "rb") as midi:
        data = midi.read()
    if data[:4] != b"MThd":
        raise Failure(path + " is no MIDI file")
    size = struct.unpack(">I", data[4:8])[0]
    division = struct.unpack(">H", data[12:14])[0]
    tempos, last = [], 0
    at = 8 + size
    while at + 8 <= len(data):
        kind, size = data[at:at + 4], struct.unpack(">I", data[at + 4:at + 8])[0]
        at += 8
        if kind == b"MTrk":
            last = max(last, read_track(data[at:at + size], tempos))
        at += size
    if division & 0x8000:
        frames = 256 - (division >> 8)
        return last / (frames * (division & 0xFF))
    seconds, tick, tempo = 0.0, 0, 500000
    for change_tick, change in sorted(tempos):
        if change_tick >= last:
            break
        seconds += (change_tick - tick) * tempo / 1e6 / division
        tick, tempo = change_tick, change
    return seconds + (last - tick) * tempo / 1e6 / division


def read_track(track, tempos):
    """Notes the track's tempo changes in `tempos` and gives the tick of its last channel
    event."""
    def number():
        nonlocal at
        value = 0
        while True:
            byte = track[at]
            at += 1
            value = (value << 7) | (byte & 0x7F)
            if byte < 0x80:
                return value

    at, tick, status, last = 0, 0, 0, 0
    while at < len(track):
        tick += number()
        if track[at] >= 0x80:
            status = track[at]
            at += 1
        if status == 0xFF:
            kind = track[at]
            at += 1
            length = number()
            if kind == 0x51:
                tempos.append((tick, int.from_bytes(track[at:at + 3], "big")))
            at += length
        elif status in (0xF0, 0xF7):
            at += number()
        else:
            at += 1 if status & 0xF0 in (0xC0, 0xD0) else 2
            last = tick
    return last


class Desktop:
    """Xvfb on a display it chooses itself, with openbox for title bars and Alt+F4."""

    def __init__(self, work):
        self.processes = []
        self.clipboard_owner = None
        read_end, write_end = os.pipe()
        xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-noreset", "-nolisten", "tcp",
             "-screen", "0", "1280x800x24"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            preexec_fn=ends_with_the_test)
        self.processes.append(xvfb)
        os.close(write_end)
        with os.fdopen(read_end) as number:
            display = number.readline().strip()
        if not display:
            raise Failure("Xvfb gave no display number")
        self.display = ":" + display
        self.env = dict(os.environ, DISPLAY=self.display, HOME=os.path.join(work, "home"),
                        XDG_RUNTIME_DIR=os.path.join(work, "runtime"),
                        XDG_CONFIG_HOME=os.path.join(work, "home", ".config"))
        for name in ("WAYLAND_DISPLAY", "XDG_CURRENT_DESKTOP", "DESKTOP_SESSION",
                     "QT_QPA_PLATFORM", "XAUTHORITY", "BROWSER"):
            self.env.pop(name, None)
        # A session bus of the test's own, with a notification service that notes every notice.
        bus = os.path.join(work, "bus")
        self.env["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + bus
        self.notices_log = os.path.join(work, "notices.txt")
        open(self.notices_log, "w").close()
        self.processes.append(subprocess.Popen(
            ["dbus-daemon", "--session", "--nofork", "--address=unix:path=" + bus],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, preexec_fn=ends_with_the_test))
        wait_until("the session bus", lambda: os.path.exists(bus), 10)
        notices = subprocess.Popen(
            ["/usr/bin/python3", os.path.join(HERE, "notificationServer.py"), self.notices_log],
            env=self.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
            preexec_fn=ends_with_the_test)
        self.processes.append(notices)
        if notices.stdout.readline().strip() != "ready":
            raise Failure("the notification service did not start")
        os.makedirs(self.env["HOME"])
        os.makedirs(self.env["XDG_RUNTIME_DIR"], mode=0o700)
        wait_until("the X server", lambda: self.run("xdpyinfo", check=False) is not None, 15)
        self.processes.append(subprocess.Popen(
            ["openbox"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            preexec_fn=ends_with_the_test))
        wait_until("openbox", lambda: "window id" in (self.run(
            "xprop", "-root", "_NET_SUPPORTING_WM_CHECK", check=False) or ""), 15)

    def run(self, *command, check=True):
        """The command's output in this display, or None when it failed and `check` is off."""
        done = subprocess.run(command, env=self.env, capture_output=True, text=True, timeout=20)
        if done.returncode != 0:
            if check:
                raise Failure("%s failed: %s" % (" ".join(command), done.stderr.strip()))
            return None
        return done.stdout

    def screenshot(self, path):
        self.run("import", "-window", "root", path)

    def key(self, *keys):
        self.run("xdotool", "key", "--delay", "40", *keys)

    def type_text(self, text):
        self.run("xdotool", "type", "--delay", "30", text)

    def active_window(self):
        out = self.run("xdotool", "getactivewindow", check=False)
        return out.strip() if out else ""

    def set_clipboard(self, text):
        """Owns the clipboard with `text` until another program takes it."""
        if self.clipboard_owner is not None:
            stop(self.clipboard_owner)
        self.clipboard_owner = subprocess.Popen(
            ["xclip", "-quiet", "-selection", "clipboard", "-i"], env=self.env,
            stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            preexec_fn=ends_with_the_test)
        self.clipboard_owner.stdin.write(text.encode())
        self.clipboard_owner.stdin.close()
        wait_until("the clipboard", lambda: self.clipboard() == text, 5)

    def clipboard(self):
        return self.run("xclip", "-o", "-selection", "clipboard", check=False)

    def notices(self):
        """The notices the program sent to the desktop, oldest first."""
        with open(self.notices_log) as log:
            return [json.loads(line) for line in log if line.strip()]

    def pick_action(self, notice, key):
        self.run("dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.Notifications",
                 "/org/freedesktop/Notifications", "org.tonvert.Test.InvokeAction",
                 "uint32:%d" % notice["id"], "string:" + key)

    def close(self):
        stop(self.clipboard_owner)
        for process in reversed(self.processes):
            stop(process)


class Journey:
    def __init__(self, client, service, samples, screenshots, work):
        self.client_binary, self.service_binary = client, service
        self.samples, self.screenshots, self.work = samples, screenshots, work
        self.step_number = 0
        self.step_name = "start"
        self.client = self.service = self.desktop = None
        self.main_window = None
        self.password = None

    # -- The world the program runs in --------------------------------------------------------

    def start_service(self):
        self.data = os.path.join(self.work, "service")
        log_path = os.path.join(self.work, "service.log")
        for _ in range(3):
            self.port = free_port()
            with open(log_path, "w") as log:
                self.service = subprocess.Popen(
                    [self.service_binary, "--listen", "127.0.0.1:%d" % self.port,
                     "--data", self.data, "--workers", "2", "--starting-balance", "500"],
                    stdout=log, stderr=subprocess.STDOUT, preexec_fn=ends_with_the_test)

            def up():
                if self.service.poll() is not None:
                    return "gone"
                with contextlib.suppress(OSError), \
                        socket.create_connection(("127.0.0.1", self.port), timeout=1):
                    return "up"
                return None
            if wait_until("the service", up, 15) == "up":
                # Names under .localhost reach loopback; the program wants a domain name.
                self.host = "tonvert.localhost:%d" % self.port
                return
        raise Failure("the service did not start: " + open(log_path).read()[-500:])

    def make_portable_folder(self):
        """A copy of the program in a folder of its own: its settings, lists and folders lie
        beside it, and the build's own portable folder stays untouched."""
        self.folder = os.path.join(self.work, "Tonvert")
        for sub in ("MIDI", "Audio", "Temp"):
            os.makedirs(os.path.join(self.folder, sub))
        self.program = os.path.join(self.folder, "tonvert")
        shutil.copy2(self.client_binary, self.program)
        for name in SAMPLES:
            shutil.copy2(os.path.join(self.samples, name), os.path.join(self.folder, "MIDI"))
        # The settings file's lines end in CR LF.
        settings = ("[Service]\r\nHost=%s\r\nSupportEmail=support@tonvert.localhost\r\n\r\n"
                    "[MainWindow]\r\nLeft=0\r\nTop=0\r\nWidth=900\r\nHeight=640\r\n"
                    "TopPanelHeight=260\r\n\r\n" % self.host)
        with open(os.path.join(self.folder, "tonvert.INI"), "w", newline="") as ini:
            ini.write(settings)

    def make_opener(self, failing=False):
        """xdg-open first in PATH: it notes each address it is given, one a line; a failing
        one then says that no program was found for it, as xdg-open does."""
        self.bin = os.path.join(self.work, "bin")
        os.makedirs(self.bin, exist_ok=True)
        self.opened_log = os.path.join(self.work, "opened.txt")
        if not os.path.exists(self.opened_log):
            open(self.opened_log, "w").close()
        opener = os.path.join(self.bin, "xdg-open")
        with open(opener + ".new", "w") as script:
            script.write('#!/bin/sh\nprintf "%%s\\n" "$*" >> "%s"\n%s' %
                         (self.opened_log, "exit 3\n" if failing else ""))
        os.chmod(opener + ".new", 0o755)
        os.replace(opener + ".new", opener)

    def opened(self):
        with open(self.opened_log) as log:
            return log.read().splitlines()

    def start_client(self):
        env = dict(self.desktop.env, PATH=self.bin + os.pathsep + os.environ["PATH"],
                   LANG="C.UTF-8", LC_ALL="C.UTF-8", QT_QPA_PLATFORM="xcb")
        self.client_log = open(os.path.join(self.work, "client.log"), "w")
        self.client = subprocess.Popen([self.program], cwd=self.folder, env=env,
                                       stdout=self.client_log, stderr=subprocess.STDOUT,
                                       preexec_fn=ends_with_the_test)

    # -- Looking at the program's windows -----------------------------------------------------

    def windows(self):
        """(id, title) of the program's windows on screen, menus included."""
        out = self.desktop.run("xdotool", "search", "--all", "--onlyvisible",
                               "--pid", str(self.client.pid), "--name", "", check=False)
        shown = []
        for window in (out or "").split():
            title = self.desktop.run("xdotool", "getwindowname", window, check=False)
            if title is not None:
                shown.append((window, title.rstrip("\n")))
        return shown

    def shot_path(self, name):
        self.step_number += 1
        return os.path.join(self.screenshots, "%02d-%s.png" % (self.step_number, name))

    def shot(self, name):
        self.desktop.screenshot(self.shot_path(name))

    def message_text(self):
        """The text of the message box in front, as its Ctrl+C copies it."""
        marker = "xjourney-%d" % time.monotonic_ns()
        self.desktop.set_clipboard(marker)
        self.desktop.key("ctrl+c")

        def copied():
            text = self.desktop.clipboard()
            return text if text and text != marker else None
        return wait_until("the message's text on the clipboard", copied, 5)

    def no_stray_message(self, allowed=()):
        """Fails at once when the program has ended, or on a message box other than the
        ones allowed."""
        if self.client.poll() is not None:
            raise Failure("the program ended with %s" % self.client.returncode)
        self.check_messages(allowed)

    def check_messages(self, allowed=()):
        """Fails on a message box other than the ones allowed, naming it and its text."""
        for window, title in self.windows():
            if title in MESSAGE_CAPTIONS and title not in allowed:
                with contextlib.suppress(Failure):
                    self.activate(window)
                    title += ": " + self.message_text().strip()
                raise Failure("unexpected message box %s" % title)

    def wait_window(self, title, seconds=20, allowed=()):
        """The id of the program's window of this title once it is shown and active."""
        def shown():
            for window, name in self.windows():
                if name == title:
                    return window
            return None
        window = wait_until("the window '%s'" % title, shown, seconds,
                            lambda: self.no_stray_message(allowed + (title,)))
        self.activate(window)
        return window

    def wait_gone(self, title, seconds=60, allowed=()):
        wait_until("the window '%s' to close" % title,
                   lambda: all(name != title for _, name in self.windows()), seconds,
                   lambda: self.no_stray_message(allowed + (title,)))

    def activate(self, window):
        """The window in front with the keyboard, as the window manager gives it a new
        dialog; asked for only when it has not done so yet."""
        def active():
            if self.desktop.active_window() == window:
                return True
            self.desktop.run("xdotool", "windowactivate", window, check=False)
            return False
        wait_until("window %s to become active" % window, active, 10)

    def only_main_window(self, leaving=()):
        """After each step: the main window and the dialogs that the step leads into, and
        nothing else."""
        self.no_stray_message()
        shown = self.windows()
        others = [(w, t) for w, t in shown if w != self.main_window and t not in leaving]
        if others:
            raise Failure("windows left open: %s" % ", ".join("'%s'" % t for _, t in others))
        if not any(w == self.main_window for w, _ in shown):
            raise Failure("the main window is not shown")

    def answer_message(self, caption, expected):
        """Waits for the message box and checks its text; the caller answers it."""
        self.wait_window(caption)
        text = self.message_text()
        for wanted in expected:
            if wanted not in text:
                raise Failure("the message says %r, not %r" % (text, wanted))
        return text

    def open_menu(self, *keys):
        """Presses the keys that open a menu and waits for it: a new window of the program's
        name."""
        before = {w for w, _ in self.windows()}
        self.desktop.key(*keys)
        wait_until("the menu",
                   lambda: any(w not in before and t == "Tonvert" for w, t in self.windows()),
                   10, self.no_stray_message)

    def popup_command(self, letter):
        """The focused list's popup menu (the Menu key), and the item of this letter."""
        self.open_menu("Menu")
        self.desktop.key(letter)

    def list_file(self, name):
        path = os.path.join(self.folder, "Temp", name)
        try:
            with open(path, encoding="utf-8", errors="replace") as text:
                return os.stat(path).st_mtime_ns, text.read()
        except FileNotFoundError:
            return None, ""

    # -- The steps ----------------------------------------------------------------------------

    def first_start(self):
        """The splash, then the sign-up dialog of a first start."""
        self.wait_window("About Tonvert (TM)")
        self.main_window = next(w for w, t in self.windows() if t == "Tonvert")
        self.shot("splash")
        self.wait_window("Sign up")
        self.shot("signup-dialog")

    def sign_up(self):
        self.desktop.type_text(USER)
        self.shot("signup-filled")
        # Enter does not submit here: Tab to the button and press it.
        self.desktop.key("Tab", "space")
        self.answer_message("Information", ["account has been created", USER])
        self.shot("signed-up")
        self.desktop.key("Return")

    def confirm(self):
        self.wait_window("Confirm account")
        self.password = wait_until("the mailed password", self.mailed_password, 10)
        self.desktop.type_text(self.password)
        self.desktop.key("Tab", "space")
        self.answer_message("Information", ["Your account is ready for use!"])
        self.shot("account-ready")
        self.desktop.key("Return")
        self.wait_gone("Confirm account")

    def mailed_password(self):
        for mail in sorted(glob.glob(os.path.join(self.data, "outbox", "*.eml"))):
            with open(mail, encoding="utf-8", errors="replace", newline="") as text:
                body = text.read()
            found = re.search(r"\r\n    ([A-Za-z0-9]{10})\r\n", body)
            if found and "To: <%s>" % USER in body:
                return found.group(1)
        return None

    def add_funds(self):
        """Funds > Add opens the service's page in the browser; the payment is made there."""
        import addFunds  # selenium is loaded only for this step

        self.activate(self.main_window)
        count = len(self.opened())
        self.open_menu("alt+f")
        self.shot("funds-menu")
        self.desktop.key("a")
        page = wait_until("the opener to be called", lambda: self.opened()[count:], 10,
                          self.no_stray_message)[0]
        expected = "http://%s/addfunds.html" % self.host
        if page != expected:
            raise Failure("Funds > Add opened %r, not %r" % (page, expected))
        with addFunds.headless_chromium() as browser:
            message, balance = addFunds.add_funds(browser, page, USER, self.password, "2.50")
            browser.save_screenshot(self.shot_path("funds-page-receipt"))
        if balance != "7.50":
            raise Failure("the page answered %r with balance %r" % (message, balance))

    def view_funds(self):
        self.activate(self.main_window)
        self.desktop.key("alt+f", "v")
        self.answer_message("Information", ["Funds in account: 7.50"])
        self.shot("funds-view")
        self.desktop.key("Return")
        self.wait_gone("Information")

    def upload(self, name, format_keys, shot_name):
        """Selects the local MIDI file by typing its name, and uploads it with the last
        preset of the format that `format_keys` pick in the upload dialog's box."""
        self.activate(self.main_window)
        before, _ = self.list_file("MidiList.TXT")
        self.desktop.key("alt+l")
        self.desktop.type_text(name.split(".")[0])
        self.popup_command("u")
        self.wait_window("Upload MIDI")
        # The dialog opens on the preset list: back to the format box, pick, down the list.
        self.desktop.key("shift+Tab", *format_keys, "Tab", "End")
        self.shot(shot_name)
        self.desktop.key("Tab", "space")
        self.wait_gone("Upload MIDI")
        # The program fetches the list of MIDI files online after an upload.
        wait_until("the online MIDI list after the upload",
                   lambda: self.list_file("MidiList.TXT")[0] != before, 30,
                   self.no_stray_message)

    def upload_two_files(self):
        # The format box goes no further than its ends: WAV is the last, MP3 the first.
        self.upload("Scale.mid", ["Down"] * 5, "upload-wav-fm-mono")
        self.upload("Chorale.mid", ["Up"] * 5, "upload-mp3-lowest-cbr-mono")
        self.shot("uploaded")

    def audio_listed(self):
        """The rendered files of the online audio list file: lower-case name to size."""
        _, text = self.list_file("AudioList.TXT")
        return {line.split("\t")[0].lower(): line.split("\t")[1]
                for line in text.splitlines()[2:] if "\t" in line}

    def wait_for_renders(self):
        """Hands off: no key is pressed until both rendered files are listed in the online
        audio pane by themselves, the MIDI files online are gone, and the desktop has been told
        of each audio file."""
        wanted = {"scale.wav", "chorale.mp3"}

        def listed():
            names = self.audio_listed()
            return names if wanted <= set(names) else None
        self.sizes = wait_until("both renders listed by themselves", listed, 120,
                                self.no_stray_message)
        wait_until("the MIDI files online to go by themselves",
                   lambda: re.search(r"^!VAL 0$", self.list_file("MidiList.TXT")[1], re.M), 30,
                   self.no_stray_message)

        def told():
            bodies = " ".join(notice["body"].lower() for notice in self.desktop.notices())
            return all(name in bodies for name in wanted)
        wait_until("a notice of each audio file", told, 10, self.no_stray_message)
        self.shot("rendered-by-themselves")

    def download_from_notice(self):
        """The notice's Download action fetches its file into the audio folder."""
        notice = next(n for n in self.desktop.notices() if "scale.wav" in n["body"].lower())
        if "download" not in notice["actions"]:
            raise Failure("the notice offers no Download: %r" % notice)
        self.desktop.pick_action(notice, "download")
        path = os.path.join(self.folder, "Audio", "Scale.WAV")
        wait_until("Scale.WAV from the notice",
                   lambda: os.path.exists(path) and
                   os.path.getsize(path) == int(self.sizes["scale.wav"]), 60,
                   self.no_stray_message)
        self.wait_gone("Download audio")
        self.shot("downloaded-from-notice")

    def download(self):
        """Both files selected in the online audio pane, and its popup's Download."""
        self.activate(self.main_window)
        self.desktop.key("alt+a", "ctrl+a")
        self.popup_command("o")
        audio = os.path.join(self.folder, "Audio")
        wanted = {"Scale.WAV": self.sizes["scale.wav"], "Chorale.MP3": self.sizes["chorale.mp3"]}

        def done():
            present = {name: os.path.getsize(os.path.join(audio, name))
                       for name in os.listdir(audio) if not name.startswith(".")}
            return present if present == {n: int(s) for n, s in wanted.items()} else None
        wait_until("both downloads", done, 60, self.no_stray_message)
        self.wait_gone("Download audio")
        self.shot("downloaded")

    def check_audio(self):
        folder = os.path.join(self.folder, "Audio")
        scale = midi_play_time(os.path.join(self.samples, "Scale.mid"))
        chorale = midi_play_time(os.path.join(self.samples, "Chorale.mid"))
        with wave.open(os.path.join(folder, "Scale.WAV")) as wav:
            got = (wav.getframerate(), wav.getnchannels(), wav.getsampwidth())
            seconds = wav.getnframes() / wav.getframerate()
        if got != (22050, 1, 2):
            raise Failure("Scale.WAV is %d Hz, %d channels, %d bytes a sample" % got)
        self.check_length("Scale.WAV", seconds, scale)
        probe = subprocess.run(
            ["ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
             "stream=codec_name,sample_rate,channels:format=duration", "-of",
             "default=noprint_wrappers=1", os.path.join(folder, "Chorale.MP3")],
            capture_output=True, text=True, timeout=30)
        fields = dict(line.split("=", 1) for line in probe.stdout.split())
        got = (fields.get("codec_name"), fields.get("sample_rate"), fields.get("channels"))
        if got != ("mp3", "44100", "1"):
            raise Failure("Chorale.MP3 is %s" % (got,))
        self.check_length("Chorale.MP3", float(fields["duration"]), chorale)
        print("audio: Scale.WAV %.2f s (MIDI %.2f s), Chorale.MP3 %.2f s (MIDI %.2f s)"
              % (seconds, scale, float(fields["duration"]), chorale), flush=True)

    @staticmethod
    def check_length(name, seconds, play_time):
        if not play_time - 0.05 <= seconds <= play_time + LONGEST_TAIL:
            raise Failure("%s lasts %.2f s; its MIDI file plays %.2f s" %
                          (name, seconds, play_time))

    def play(self):
        """Play in the local audio pane's popup hands the file to the desktop's opener."""
        self.activate(self.main_window)
        count = len(self.opened())
        self.desktop.key("alt+u")
        self.desktop.type_text("Scale")
        self.popup_command("p")
        url = wait_until("the opener to be called", lambda: self.opened()[count:], 10,
                         self.no_stray_message)[0]
        expected = os.path.join(self.folder, "Audio", "Scale.WAV")
        # The opener takes the file's path, or its file:// address.
        parts = urllib.parse.urlsplit(url)
        opened = urllib.parse.unquote(parts.path) if parts.scheme == "file" else url
        if opened != expected:
            raise Failure("Play opened %r, not %s" % (url, expected))
        self.shot("played")

    def automatic_download(self):
        """Setup's "Download finished audio automatically", and a third upload: its audio file
        lands in the audio folder with no key pressed."""
        self.activate(self.main_window)
        self.open_menu("alt+s")
        self.desktop.key("d")
        with open(os.path.join(self.folder, "tonvert.INI"), newline="") as ini:
            if "DownloadFinishedAudio=1" not in ini.read():
                raise Failure("the settings file does not keep the automatic download")
        audio = os.path.join(self.folder, "Audio")
        before = set(os.listdir(audio))
        self.upload("Chorale.mid", ["Up"] * 5, "upload-automatic")

        def arrived():
            return [name for name in os.listdir(audio)
                    if name not in before and not name.startswith(".")]
        name = wait_until("the third render in the audio folder by itself", arrived, 120,
                          self.no_stray_message)[0]
        self.wait_gone("Download audio")
        self.shot("downloaded-automatically")
        print("automatic download: " + name, flush=True)

    def wait_in_front(self, title, seconds=10):
        """The program's window of this title once shown, and active by itself: the X server
        is asked which window is active, and nothing here activates one."""
        def in_front():
            active = self.desktop.active_window()
            return next((w for w, name in self.windows() if name == title and w == active), None)
        return wait_until("the window '%s' in front" % title, in_front, seconds)

    def failing_opener(self):
        """Help > Web site when no program can open it: a message in front names the address
        and the reason, and Yes copies the address."""
        self.make_opener(failing=True)
        self.activate(self.main_window)
        address = "http://%s/" % self.host
        self.open_menu("alt+h")
        self.desktop.key("w")
        self.wait_in_front("Error")
        text = self.message_text()
        if address not in text or "no program" not in text.lower():
            raise Failure("the failed opener's message says %r" % text)
        self.shot("opener-failed")
        self.desktop.key("y")
        self.wait_gone("Error")
        wait_until("the address on the clipboard",
                   lambda: (self.desktop.clipboard() or "").strip() == address, 5)
        self.make_opener()

    def network_test(self):
        """Setup > Network > Test: its answer shows in front of the dialog."""
        self.activate(self.main_window)
        self.open_menu("alt+s")
        self.desktop.key("n")
        self.wait_window("Network setup")
        self.desktop.key("alt+t")
        self.wait_in_front("Information", 30)
        if "Network settings OK!" not in self.message_text():
            raise Failure("the network test did not pass")
        self.shot("network-test-in-front")
        self.desktop.key("Return")
        self.wait_gone("Information")
        self.desktop.key("Escape")
        self.wait_gone("Network setup")

    def close(self):
        """Alt+F4 on the main window: the program ends well and keeps its layout."""
        self.activate(self.main_window)
        self.desktop.key("alt+F4")
        wait_until("the program to end", lambda: self.client.poll() is not None, 15,
                   self.check_messages)
        if self.client.returncode != 0:
            raise Failure("the program ended with %s" % self.client.returncode)
        with open(os.path.join(self.folder, "tonvert.INI"), newline="") as ini:
            if "[MainWindow]" not in ini.read():
                raise Failure("the settings file lost the window layout")

    # -- The whole ----------------------------------------------------------------------------

    def run(self):
        # Each step with the dialog it leads into.
        steps = [(self.first_start, ["Sign up"]), (self.sign_up, ["Confirm account"]),
                 (self.confirm, []), (self.add_funds, []), (self.view_funds, []),
                 (self.upload_two_files, []), (self.wait_for_renders, []),
                 (self.download_from_notice, []), (self.download, []), (self.check_audio, []),
                 (self.automatic_download, []), (self.play, []), (self.failing_opener, []),
                 (self.network_test, [])]
        self.step_name = "setting up"
        self.start_service()
        self.make_portable_folder()
        self.make_opener()
        self.desktop = Desktop(self.work)
        self.start_client()
        for step, leaving in steps:
            self.step_name = step.__name__
            started = time.monotonic()
            step()
            self.only_main_window(leaving)
            print("step %-18s %5.1f s" % (step.__name__, time.monotonic() - started), flush=True)
        self.step_name = "close"
        self.close()

    def report_failure(self):
        print("FAIL in step %s" % self.step_name, flush=True)
        if self.desktop is not None and self.client is not None:
            with contextlib.suppress(Exception):
                print("windows shown: %s" % (self.windows() or "none"))
            with contextlib.suppress(Exception):
                path = os.path.join(self.screenshots, "failure-%s.png" % self.step_name)
                self.desktop.screenshot(path)
                print("screenshot: " + path)
        for log in ("client.log", "service.log"):
            with contextlib.suppress(OSError), open(os.path.join(self.work, log)) as text:
                tail = text.read()[-2000:]
                if tail.strip():
                    print("--- %s (end) ---\n%s" % (log, tail))

    def shut_down(self):
        if self.client is not None:
            stop(self.client)
            self.client_log.close()
        stop(self.service)
        if self.desktop is not None:
            self.desktop.close()


def main(argv):
    if len(argv) != 5:
        print(__doc__.strip().splitlines()[2].strip(), file=sys.stderr)
        return 2
    client, service, samples, screenshots = argv[1:]
    shutil.rmtree(screenshots, ignore_errors=True)
    os.makedirs(screenshots)
    work = tempfile.mkdtemp(prefix="tonvert-xjourney-")
    journey = Journey(os.path.abspath(client), os.path.abspath(service),
                      os.path.abspath(samples), os.path.abspath(screenshots), work)
    started = time.monotonic()
    passed = False
    try:
        journey.run()
        passed = True
    except Failure as failure:
        print("FAIL: %s" % failure, flush=True)
        journey.report_failure()
    except Exception:  # a fault of the test itself: shown whole
        traceback.print_exc()
        journey.report_failure()
    finally:
        journey.shut_down()
        shutil.rmtree(work, ignore_errors=True)
    print("journey took %.1f s; screenshots in %s" % (time.monotonic() - started, screenshots))
    print("PASSED" if passed else "FAILED")
    return 0 if passed else 1


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))  # ctest's time-out: clean up
    sys.exit(main(sys.argv))
