#!/usr/bin/env python3
"""Writes the sample MIDI files of samples/: short pieces made here, note by note.

    scripts/make-samples.py [FOLDER]
"""
import os
import struct
import sys


def var_len(value: int) -> bytes:
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.insert(0, (value & 0x7F) | 0x80)
        value >>= 7
    return bytes(out)


def track(events) -> bytes:
    """events: (absolute tick, message bytes); an end-of-track meta event is added."""
    body = bytearray()
    now = 0
    for tick, message in sorted(events, key=lambda e: e[0]):
        body += var_len(tick - now) + message
        now = tick
    body += var_len(0) + b"\xFF\x2F\x00"
    return b"MTrk" + struct.pack(">I", len(body)) + bytes(body)


def midi_file(fmt: int, division: int, tracks) -> bytes:
    header = b"MThd" + struct.pack(">IHHH", 6, fmt, len(tracks), division)
    return header + b"".join(tracks)


def tempo(tick: int, bpm: float):
    micros = round(60_000_000 / bpm)
    return (tick, b"\xFF\x51\x03" + micros.to_bytes(3, "big"))


def name(text: str):
    data = text.encode("ascii")
    return (0, b"\xFF\x03" + var_len(len(data)) + data)


def notes(channel: int, program: int, melody, velocity=90):
    """melody: (start tick, length in ticks, key)."""
    events = [(0, bytes([0xC0 | channel, program]))]
    for start, length, key in melody:
        events.append((start, bytes([0x90 | channel, key, velocity])))
        events.append((start + length, bytes([0x80 | channel, key, 64])))
    return events


def scale() -> bytes:
    keys = [60, 62, 64, 65, 67, 69, 71, 72, 71, 69, 67, 65, 64, 62, 60]
    melody = [(i * 240, 220, k) for i, k in enumerate(keys)]
    events = [name("Scale"), tempo(0, 120)] + notes(0, 0, melody)
    return midi_file(0, 480, [track(events)])


def chorale() -> bytes:
    """Format 1: a tempo track that slows down, then three voices."""
    beat = 96
    conductor = track([name("Chorale"), tempo(0, 90), tempo(8 * beat, 72), tempo(14 * beat, 50)])
    soprano = [67, 69, 71, 72, 74, 72, 71, 72]
    alto = [64, 65, 67, 67, 67, 67, 65, 64]
    bass = [48, 53, 55, 52, 47, 48, 43, 48]
    voices = [
        track(notes(0, 52, [(i * 2 * beat, 2 * beat - 8, k) for i, k in enumerate(soprano)])),
        track(notes(1, 52, [(i * 2 * beat, 2 * beat - 8, k) for i, k in enumerate(alto)], 70)),
        track(notes(2, 32, [(i * 2 * beat, 2 * beat - 8, k) for i, k in enumerate(bass)], 80)),
    ]
    return midi_file(1, beat, [conductor] + voices)


def groove_rmid() -> bytes:
    """Drums on channel 10 and a bass line, wrapped in a RIFF "RMID" file."""
    ppq = 120
    drums = []
    for bar in range(4):
        for step in range(8):
            tick = (bar * 8 + step) * ppq // 2
            drums.append((tick, 42))  # closed hi-hat
            if step in (0, 4):
                drums.append((tick, 36))  # bass drum
            if step in (2, 6):
                drums.append((tick, 38))  # snare
    drum_events = []
    for tick, key in drums:
        drum_events.append((tick, bytes([0x99, key, 100])))
        drum_events.append((tick + ppq // 4, bytes([0x89, key, 0])))
    bass_keys = [36, 36, 43, 41] * 4
    bass = notes(1, 33, [(i * ppq * 2, ppq * 2 - 10, k) for i, k in enumerate(bass_keys)])
    smf = midi_file(0, ppq, [track([name("Groove"), tempo(0, 100)] + drum_events + bass)])
    data = b"data" + struct.pack("<I", len(smf)) + smf
    if len(smf) % 2:
        data += b"\x00"
    return b"RIFF" + struct.pack("<I", 4 + len(data)) + b"RMID" + data


def main() -> None:
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "samples")
    os.makedirs(folder, exist_ok=True)
    for file_name, content in [("Scale.mid", scale()), ("Chorale.mid", chorale()),
                               ("Groove.rmi", groove_rmid())]:
        with open(os.path.join(folder, file_name), "wb") as out:
            out.write(content)


if __name__ == "__main__":
    main()
