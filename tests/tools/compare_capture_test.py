#!/usr/bin/env python3
"""The headless demo's comparison of a capture with its file: it must accept the
exact sound and the audio server's underruns, and refuse everything else."""
import os
import random
import struct
import subprocess
import sys
import tempfile

TOOL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "compare_capture.py")
FRAMES = 44100 * 3
CUT = 4 * 60000  # where the cases break the sound, in bytes
HALF_SECOND = 4 * 22050
TENTH = 4 * 4410


def silence(frames):
    return b"\0" * 4 * frames


def main():
    rng = random.Random(3)
    data = bytes(rng.getrandbits(8) | 1 for _ in range(FRAMES * 4))
    header = (b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVEfmt " +
              struct.pack("<IHHIIHH", 16, 1, 2, 44100, 176400, 4, 16) + b"data" + struct.pack("<I", len(data)))
    wrong = bytearray(data)
    wrong[CUT + 1] ^= 0x40

    def with_breaks(breaks):
        """The whole file broken at each (frame, frames of silence, frames skipped)."""
        pieces, at = [silence(1000)], 0
        for frame, zeros, skip in breaks:
            pieces += [data[4 * at:4 * frame], silence(zeros)]
            at = frame + skip
        return b"".join(pieces + [data[4 * at:], silence(1000)])

    cases = [
        ("exact", silence(1000) + data + silence(1000), 0),
        ("an underrun: silence, a little skipped", silence(1000) + data[:CUT] + silence(1100) +
         data[CUT + 4 * 189:] + silence(1000), 0),
        ("two underruns", silence(500) + data[:CUT] + silence(300) + data[CUT:CUT * 2] + silence(900) +
         data[CUT * 2 + 4 * 400:] + silence(500), 0),
        ("one frame of silence, nothing skipped", silence(1000) + data[:CUT] + silence(1) + data[CUT:] +
         silence(1000), 0),
        ("two underruns 83 frames apart", silence(1000) + data[:CUT] + silence(880) +
         data[CUT + 4 * 137:CUT + 4 * 220] + silence(662) + data[CUT + 4 * 220:] + silence(1000), 0),
        ("a little skipped without silence", silence(1000) + data[:CUT] + data[CUT + 4 * 3:] + silence(1000), 0),
        ("an underrun half a second in", silence(1000) + data[:HALF_SECOND + 400] + silence(220) +
         data[HALF_SECOND + 400 + 4 * 100:] + silence(1000), 0),
        ("Wine's silence over the first 220 frames", silence(1220) + data[4 * 220:] + silence(1000), 0),
        ("an underrun just after Wine's silence", silence(1200) + data[4 * 200:4 * 260] + silence(90) +
         data[4 * 300:] + silence(1000), 0),
        ("silence over the first 300 frames", silence(1300) + data[4 * 300:] + silence(1000), 1),
        ("0.3 s lost after the first tenth of a second", silence(1000) + data[:TENTH] +
         data[TENTH + 3 * TENTH:] + silence(1000), 1),
        ("the recording begins after the file's start", data[4 * 100:] + silence(1000), 1),
        ("a step back", silence(1000) + data[:CUT] + silence(300) + data[CUT - 4 * 1000:] + silence(1000), 1),
        ("a buffer lost", silence(1000) + data[:CUT] + data[CUT + 4 * 4410:] + silence(1000), 1),
        ("a buffer of silence", silence(1000) + data[:CUT] + silence(4410) + data[CUT:] + silence(1000), 1),
        ("silence, then a buffer skipped", silence(1000) + data[:CUT] + silence(300) + data[CUT + 4 * 4410:] +
         silence(1000), 1),
        ("2205 frames lost of every 4410, without silence",
         with_breaks([(frame, 0, 2205) for frame in range(2205, FRAMES - 4410, 4410)]), 1),
        ("1000 frames skipped without silence", with_breaks([(60000, 0, 1000)]), 1),
        ("215 frames more skipped than the silence", with_breaks([(60000, 300, 515)]), 0),
        ("216 frames more skipped than the silence", with_breaks([(60000, 300, 516)]), 1),
        ("16 underruns", with_breaks([(6000 * k, 100, 10) for k in range(1, 17)]), 0),
        ("17 underruns", with_breaks([(6000 * k, 100, 10) for k in range(1, 18)]), 1),
        ("underruns skipping 2205 frames in all", with_breaks([(f, 800, 735) for f in (20000, 40000, 60000)]), 0),
        ("underruns skipping 2206 frames in all",
         with_breaks([(20000, 800, 735), (40000, 800, 735), (60000, 800, 736)]), 1),
        ("a wrong byte", silence(1000) + bytes(wrong) + silence(1000), 1),
        ("the end cut off", silence(1000) + data[:CUT * 2], 1),
        ("nothing played", silence(FRAMES), 1),
    ]
    failures = 0
    with tempfile.TemporaryDirectory() as folder:
        wave = os.path.join(folder, "file.wav")
        capture = os.path.join(folder, "capture.raw")
        with open(wave, "wb") as f:
            f.write(header + data)
        for name, recorded, expected in cases:
            with open(capture, "wb") as f:
                f.write(recorded)
            got = subprocess.run([sys.executable, TOOL, wave, capture], capture_output=True, text=True)
            if got.returncode != expected:
                failures += 1
                print("FAILED: %s: exit %d, expected %d\n%s" % (name, got.returncode, expected, got.stdout))
            else:
                print("ok: %s" % name)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
