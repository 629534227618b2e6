#!/usr/bin/env python3
"""Compares what the null sink recorded (raw 16-bit stereo at 44100 Hz) with a
16-bit stereo WAVE file: the file's data from 0.5 s on must appear in the capture
byte for byte. The start is left out: the audio server silences the first frames of
a new stream, and a 32-bit program under an emulator may miss the server's first
deadlines while it warms up.
Prints one line and exits 0 when it matched. With --seconds FILE it prints the
file's length in whole seconds, rounded up, and the comparison is not made."""
import struct
import sys

SKIP_BYTES = 22050 * 4  # 0.5 s of 16-bit stereo at 44100 Hz
PROBE_BYTES = 4096
BYTES_PER_SECOND = 44100 * 4


def wave_data(path):
    raw = open(path, "rb").read()
    if raw[:4] != b"RIFF" or raw[8:12] != b"WAVE":
        sys.exit("%s: not a RIFF/WAVE file" % path)
    at = 12
    while at + 8 <= len(raw):
        kind, size = raw[at:at + 4], struct.unpack("<I", raw[at + 4:at + 8])[0]
        if kind == b"fmt ":
            tag, channels, rate, _, _, bits = struct.unpack("<HHIIHH", raw[at + 8:at + 24])
            if (tag, channels, rate, bits) != (1, 2, 44100, 16):
                sys.exit("%s: only 16-bit stereo PCM at 44100 Hz can be compared" % path)
        if kind == b"data":
            return raw[at + 8:at + 8 + size]
        at += 8 + size + (size & 1)
    sys.exit("%s: no data chunk" % path)


def print_missing_blocks(data, capture):
    """Which tenths of a second of the file are nowhere in the capture: a gap at one
    place is a stall of the stream, everything missing is no sound at all."""
    block = BYTES_PER_SECOND // 10
    missing = [i for i in range(len(data) // block)
               if capture.find(data[i * block:i * block + PROBE_BYTES]) < 0]
    if missing:
        print("  tenths of a second of the file not in the capture: %s"
              % ", ".join("%.1f s" % (i / 10) for i in missing))


def main():
    if sys.argv[1] == "--seconds":
        print((len(wave_data(sys.argv[2])) + BYTES_PER_SECOND - 1) // BYTES_PER_SECOND)
        return 0
    data = wave_data(sys.argv[1])
    capture = open(sys.argv[2], "rb").read()
    if len(data) <= SKIP_BYTES + PROBE_BYTES:
        sys.exit("the file is too short to compare")
    probe = data[SKIP_BYTES:SKIP_BYTES + PROBE_BYTES]
    at = capture.find(probe)
    while at >= 0 and at % 4:
        at = capture.find(probe, at + 1)
    if at < 0:
        print("MISMATCH: the file's audio is not in the %d captured bytes" % len(capture))
        print_missing_blocks(data, capture)
        return 1
    rest = data[SKIP_BYTES:]
    got = capture[at:at + len(rest)]
    if got != rest:
        limit = min(len(got), len(rest))
        first = next((i for i in range(limit) if got[i] != rest[i]), limit)
        print("MISMATCH: %d of %d bytes matched before the first difference" % (first, len(rest)))
        print_missing_blocks(data, capture)
        return 1
    print("MATCH: %d bytes (%.2f s) of the file reached the sink exactly"
          % (len(rest), len(rest) / BYTES_PER_SECOND))
    return 0


if __name__ == "__main__":
    sys.exit(main())
