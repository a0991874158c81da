#!/usr/bin/env python3
"""Installs this build as a user would (`cmake --install BUILD --prefix DIR`) into an empty
folder whose path holds characters that a desktop entry's Exec must quote or escape, and checks
what lands there: the portable folder, the icons, the desktop entry (validated, its Exec naming
the installed program), and that the installed program starts, closes on SIGTERM with status 0
and keeps its settings beside itself. A second installation over the first must leave the
user's files alone.

usage: installTest.py CMAKE BUILD_DIR SOURCE_DIR
"""

import os
import signal
import struct
import subprocess
import sys
import tempfile
import time

ICON_SIZES = (16, 32, 48, 64, 128, 256)
failures = []


def check(condition, text):
    if not condition:
        failures.append(text)
    return condition


def desktop_string(value):
    """A desktop entry's string value with its escapes (\\s \\n \\t \\r \\\\) undone."""
    out, i = [], 0
    while i < len(value):
        if value[i] == "\\" and i + 1 < len(value):
            out.append({"s": " ", "n": "\n", "t": "\t", "r": "\r"}.get(value[i + 1], value[i + 1]))
            i += 2
        else:
            out.append(value[i])
            i += 1
    return "".join(out)


def exec_arguments(command):
    """An Exec command line split as the desktop entry rules quote it."""
    args, current, quoted, started, i = [], [], False, False, 0
    while i < len(command):
        c = command[i]
        if quoted and c == "\\" and i + 1 < len(command) and command[i + 1] in '"`$\\':
            current.append(command[i + 1])
            i += 1
        elif c == '"':
            quoted, started = not quoted, True
        elif c == " " and not quoted:
            if current or started:
                args.append("".join(current))
            current, started = [], False
        elif c == "%" and i + 1 < len(command) and command[i + 1] == "%":
            current.append("%")
            i += 1
        else:
            current.append(c)
        i += 1
    check(not quoted, f"Exec has an unclosed quote: {command!r}")
    if current or started:
        args.append("".join(current))
    return args


def read_entry(path):
    entry, group = {}, None
    with open(path, encoding="utf-8") as f:
        for line in f.read().splitlines():
            if line.startswith("["):
                group = line
            elif "=" in line and group == "[Desktop Entry]":
                key, value = line.split("=", 1)
                entry[key] = value
    return entry


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        return None
    return struct.unpack(">II", head[16:24])


def folder_listing(folder):
    return sorted(os.listdir(folder)) if os.path.isdir(folder) else None


def same_bytes(a, b):
    with open(a, "rb") as fa, open(b, "rb") as fb:
        return fa.read() == fb.read()


def check_layout(prefix, build, source):
    folder = os.path.join(prefix, "Tonvert")
    program = os.path.join(folder, "tonvert")
    check(os.path.isfile(program) and os.access(program, os.X_OK), f"no program at {program}")
    manual = os.path.join(folder, "tonvert.CHM")
    built_manual = os.path.join(build, "Tonvert", "tonvert.CHM")
    check(os.path.isfile(manual) and same_bytes(manual, built_manual),
          "the manual beside the program is not the built one")
    midi = os.path.join(folder, "MIDI")
    sample_folder = os.path.join(source, "samples")
    samples = sorted(n for n in os.listdir(sample_folder) if n.lower().endswith((".mid", ".rmi")))
    if check(folder_listing(midi) == samples,
             f"MIDI/ holds {folder_listing(midi)}, not the samples {samples}"):
        for name in samples:
            check(same_bytes(os.path.join(midi, name), os.path.join(sample_folder, name)),
                  f"MIDI/{name} differs from the sample")
    for empty in ("Audio", "Temp"):
        check(folder_listing(os.path.join(folder, empty)) == [],
              f"{empty}/ is missing or not empty")
    check(not os.path.exists(os.path.join(folder, "tonvert.INI")),
          "a settings file before any start")
    link = os.path.join(prefix, "bin", "tonvert")
    check(os.path.islink(link) and os.path.realpath(link) == os.path.realpath(program),
          f"{link} does not lead to the program")

    icons = os.path.join(prefix, "share", "icons", "hicolor")
    for size in ICON_SIZES:
        png = os.path.join(icons, f"{size}x{size}", "apps", "tonvert.png")
        check(os.path.isfile(png) and png_size(png) == (size, size),
              f"no {size}x{size} PNG at {png}")
    svg = os.path.join(icons, "scalable", "apps", "tonvert.svg")
    drawn = os.path.join(source, "data", "icons", "tonvert.svg")
    check(os.path.isfile(svg) and same_bytes(svg, drawn), "no scalable icon")

    # The program runs from the installed folder alone: no run path into the build tree.
    dynamic = subprocess.run(["readelf", "-d", program], capture_output=True, text=True).stdout
    paths = [line for line in dynamic.splitlines() if "RPATH" in line or "RUNPATH" in line]
    check(not any(os.path.realpath(build) in line for line in paths),
          f"the installed program's run path names the build tree: {paths}")
    libraries = subprocess.run(["ldd", program], capture_output=True, text=True).stdout
    check("not found" not in libraries, f"libraries not found:\n{libraries}")
    return folder, program


def check_entry(prefix, program):
    path = os.path.join(prefix, "share", "applications", "tonvert.desktop")
    if not check(os.path.isfile(path), f"no desktop entry at {path}"):
        return None
    validate = subprocess.run(["desktop-file-validate", path], capture_output=True, text=True)
    check(validate.returncode == 0 and not (validate.stdout + validate.stderr).strip(),
          f"desktop-file-validate: {validate.stdout}{validate.stderr}")
    entry = read_entry(path)
    check(entry.get("Name") == "Tonvert" and entry.get("Icon") == "tonvert",
          f"the entry's name or icon: {entry}")
    args = exec_arguments(desktop_string(entry.get("Exec", "")))
    if not check(len(args) >= 1 and os.path.isabs(args[0]), f"Exec names no absolute path: {args}"):
        return None
    if not check(os.path.exists(args[0]) and os.path.samefile(args[0], program)
                 and os.access(args[0], os.X_OK),
                 f"Exec names {args[0]}, not the installed program {program}"):
        return None
    return args


def handles_sigterm(pid):
    """Whether the process has installed its SIGTERM handler (bit 15 of SigCgt)."""
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("SigCgt:"):
                    return (int(line.split()[1], 16) >> (signal.SIGTERM - 1)) & 1 == 1
    except OSError:
        pass
    return False


def check_run(args, folder, home, build):
    """Starts the entry's command from another folder, closes it with SIGTERM once its handler is
    in place, and checks its exit status and where its settings went."""
    build_settings = os.path.join(build, "Tonvert", "tonvert.INI")
    before = os.stat(build_settings).st_mtime_ns if os.path.exists(build_settings) else None
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", HOME=home)
    process = subprocess.Popen(args, cwd=home, env=env, stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT, text=True)
    try:
        deadline = time.monotonic() + 30
        while (process.poll() is None and not handles_sigterm(process.pid)
               and time.monotonic() < deadline):
            time.sleep(0.05)
        if not check(process.poll() is None and handles_sigterm(process.pid),
                     "the installed program did not come up"):
            return
        # Its start-up (the splash, the first-start dialogs) is under way by then: the signal
        # must close it all the same.
        time.sleep(1)
        process.send_signal(signal.SIGTERM)
        output, _ = process.communicate(timeout=30)
    except subprocess.TimeoutExpired:
        process.kill()
        output, _ = process.communicate()
        check(False, "the installed program did not close on SIGTERM")
        return
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()
    check(process.returncode == 0, f"exit status {process.returncode}; output:\n{output}")
    settings = os.path.join(folder, "tonvert.INI")
    if check(os.path.isfile(settings), "no settings file beside the installed program"):
        with open(settings, encoding="latin-1") as f:
            check("[MainWindow]" in f.read(), "the settings file keeps no window layout")
    check(not os.path.exists(os.path.join(home, "tonvert.INI")), "settings in the current folder")
    after = os.stat(build_settings).st_mtime_ns if os.path.exists(build_settings) else None
    check(before == after, "the build's own settings file was written: the wrong program ran")


def install(cmake, build, prefix):
    result = subprocess.run([cmake, "--install", build, "--prefix", prefix],
                            capture_output=True, text=True)
    return check(result.returncode == 0, f"cmake --install failed:\n{result.stdout}{result.stderr}")


def check_reinstall(cmake, build, prefix, folder):
    """A second installation keeps the settings and the user's MIDI folder as they are."""
    settings = os.path.join(folder, "tonvert.INI")
    with open(settings, "ab") as f:
        f.write(b"[Mine]\nKey=kept\n")
    with open(settings, "rb") as f:
        kept = f.read()
    midi = os.path.join(folder, "MIDI")
    for name in os.listdir(midi):
        os.remove(os.path.join(midi, name))
    if not install(cmake, build, prefix):
        return
    with open(settings, "rb") as f:
        check(f.read() == kept, "a second installation changed the settings file")
    check(os.listdir(midi) == [], "a second installation refilled the user's MIDI folder")


def main():
    cmake, build, source = sys.argv[1:4]
    with tempfile.TemporaryDirectory(prefix="tonvert-install-") as tmp:
        # Every character of this name needs Exec's quoting or escaping.
        home = os.path.join(tmp, 'home "dir" $1 100%')
        os.mkdir(home)
        prefix = os.path.join(home, ".local")
        if install(cmake, build, prefix):
            folder, program = check_layout(prefix, build, source)
            args = check_entry(prefix, program)
            if args:
                check_run(args, folder, home, build)
                check_reinstall(cmake, build, prefix, folder)
    for failure in failures:
        print("FAILED:", failure)
    print("installTest:", "FAILED" if failures else "passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
