#!/usr/bin/python3
"""Writes the seed corpus of the MIDI reader's fuzz target: small MIDI files, each a few
dozen bytes, that walk the reader's paths (formats 0 and 1, running status, system-exclusive
and meta events, tempo in later tracks, SMPTE division, RIFF RMID, trailing bytes).

Usage: fuzz/make-seeds.py [output folder]   (default: fuzz/seeds/midiReaderFuzz beside this script)
"""

import os
import struct
import sys


def var_len(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.append(0x80 | (value & 0x7F))
        value >>= 7
    return bytes(reversed(out))


def header(fmt, tracks, division):
    return b"MThd" + struct.pack(">IHHH", 6, fmt, tracks, division & 0xFFFF)


def track(body, end=True, trailing=b""):
    if end:
        body += b"\x00\xff\x2f\x00"
    body += trailing
    return b"MTrk" + struct.pack(">I", len(body)) + body


def meta(delta, kind, data):
    return var_len(delta) + bytes([0xFF, kind]) + var_len(len(data)) + data


def tempo(delta, microseconds):
    return meta(delta, 0x51, microseconds.to_bytes(3, "big"))


def name(delta, text):
    return meta(delta, 0x03, text.encode("latin-1"))


def note(delta, channel, key, velocity, length):
    return (var_len(delta) + bytes([0x90 | channel, key, velocity]) +
            var_len(length) + bytes([0x80 | channel, key, 0x40]))


def rmid(smf, chunks_before=()):
    body = b"RMID"
    for tag, data in chunks_before:
        body += tag + struct.pack("<I", len(data)) + data
        if len(data) & 1:
            body += b"\x00"
    body += b"data" + struct.pack("<I", len(smf)) + smf
    return b"RIFF" + struct.pack("<I", len(body)) + body


def seeds():
    melody = b"".join(note(0, 0, key, 90, 96) for key in (60, 62, 64, 65))
    yield "format0-notes.mid", header(0, 1, 96) + track(
        name(0, "Tune") + tempo(0, 500000) + b"\x00\xc0\x05" + melody)

    # Running status: one Note On status, then data bytes only; velocity 0 ends a note.
    running = b"\x00\x90\x3c\x64" + b"\x60\x3c\x00" + b"\x00\x3e\x64" + b"\x60\x3e\x00"
    yield "format0-running-status.mid", header(0, 1, 480) + track(running)

    sysex = (b"\x00\xf0" + var_len(5) + b"\x7e\x7f\x09\x01\xf7" +
             b"\x10\xf7" + var_len(3) + b"\x43\x10\x4c")
    yield "format0-sysex.mid", header(0, 1, 96) + track(sysex + note(0, 1, 50, 80, 48))

    yield "format1-tempo-first.mid", header(1, 2, 192) + track(
        name(0, "Tempo") + tempo(0, 400000) + tempo(384, 600000)) + track(
        name(0, "Piano") + melody)

    # Set Tempo in the second and third tracks: moved into the first.
    yield "format1-tempo-later.mid", header(1, 3, 96) + track(
        name(0, "Conductor")) + track(
        tempo(0, 300000) + note(0, 2, 40, 70, 96) + tempo(96, 700000)) + track(
        tempo(48, 450000) + note(0, 3, 70, 70, 200))

    # SMPTE time: 25 frames per second, 40 ticks per frame.
    yield "smpte-25x40.mid", header(0, 1, 0xE728) + track(tempo(0, 500000) + melody)
    yield "smpte-30x80.mid", header(1, 1, 0xE250) + track(note(0, 9, 36, 100, 80))
    yield "smpte-zero-ticks.mid", header(0, 1, 0xE700) + track(note(0, 0, 60, 100, 10))

    yield "rmid.rmi", rmid(header(0, 1, 120) + track(name(0, "Riff") + melody))
    # An odd-length LIST chunk, padded, before "data".
    yield "rmid-odd-list.rmi", rmid(
        header(1, 2, 96) + track(tempo(0, 500000)) + track(note(0, 4, 64, 64, 32)),
        [(b"LIST", b"INFOINAM\x05\x00\x00\x00Song\x00")])

    yield "trailing-after-end.mid", header(0, 1, 96) + track(
        note(0, 0, 60, 90, 40), trailing=b"\x00\x90\x3c\x40\xde\xad")
    yield "meta-only.mid", header(1, 2, 96) + track(
        name(0, "Only meta") + meta(0, 0x58, b"\x04\x02\x18\x08") +
        meta(0, 0x59, b"\x00\x00") + tempo(0, 500000)) + track(
        meta(0, 0x01, b"text") + meta(10, 0x06, b"mark"))

    # Channel events of every kind, active sensing, a long delta and no End of Track.
    kinds = (b"\x00\xa0\x3c\x20" + b"\x00\xb0\x07\x64" + b"\x00\xc0\x10" + b"\x00\xd0\x30" +
             b"\x00\xe0\x00\x40" + b"\x00\xfe" + var_len(0x0FFFFFFF) + b"\x8f\x3c\x00")
    yield "all-kinds-no-end.mid", header(0, 1, 96) + track(kinds, end=False)

    # A name past 255 characters is cut; only the first name counts.
    yield "long-name.mid", header(0, 1, 96) + track(name(0, "N" * 260) + name(0, "x"))
    yield "tempo-zero.mid", header(1, 2, 96) + track(tempo(10, 0)) + track(
        note(0, 0, 60, 90, 20))
    # Deltas that carry the tick count past 32 bits, with tempo to merge from a later track.
    yield "tick-wrap.mid", header(1, 2, 96) + track(
        meta(0xFFFFFFF0, 0x01, b"a") + meta(0x20, 0x01, b"b")) + track(
        tempo(0x0FFFFFFF, 400000) + note(0, 0, 60, 90, 0xF0000000))
    yield "format1-no-tracks.mid", header(1, 0, 96)
    yield "truncated-track.mid", (header(0, 1, 96) + track(melody))[:-9]


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "seeds", "midiReaderFuzz")
    os.makedirs(out, exist_ok=True)
    for file_name, data in seeds():
        if len(data) >= 300:
            sys.exit(f"{file_name}: {len(data)} bytes, seeds stay under 300")
        with open(os.path.join(out, file_name), "wb") as f:
            f.write(data)
    print(f"seeds written to {out}")


if __name__ == "__main__":
    main()
