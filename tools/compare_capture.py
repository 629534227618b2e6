#!/usr/bin/env python3
"""Compares what the null sink recorded (raw 16-bit stereo at 44100 Hz) with a
16-bit stereo WAVE file: the file's data must appear in the capture byte for byte
from its first frame to its last, allowing only what Wine and its audio server are
known to do.
- Wine replaces the first frames of a newly opened stream with silence (150 to 220
  frames seen): at most the first 256 frames may be silence instead of the file.
- Under Wine the server now and then plays a few milliseconds of digital silence
  where Wine's writer thread fell behind (an underrun), and Wine skips a little of
  the stream to catch up: the comparison steps over such a break (at most 2205
  frames of silence, or none, the file going on where it broke or at most 2205
  frames further, and no more than 215 frames further than the silence is long)
  and over nothing else; at most 16 such breaks, skipping at most 2205 frames of
  the file in all.
Prints one line and exits 0 when it matched. With --seconds FILE it prints the
file's length in whole seconds, rounded up, and the comparison is not made."""
import struct
import sys

PROBE_BYTES = 4096
RESUME_PROBE_BYTES = 128  # 32 frames: breaks come as close as 83 frames apart
BYTES_PER_SECOND = 44100 * 4
UNDERRUN_MAX_FRAMES = 2205  # 50 ms: half of one of the player's buffers
# The server plays silence while Wine's writer is behind, and the file goes on after
# it a little later, never much earlier than it would have without the break: what
# Wine skips is covered by the silence, give or take the most it was seen to skip
# after a break, with silence or without (215 frames, tests/support/underruns.h).
# A longer jump without as much silence is sound the player lost.
SKIP_BEYOND_SILENCE_MAX_FRAMES = 215
# The server broke 54 times in four one-minute recordings of noise, about 14 times a
# minute: 16 breaks let a minute's file through, while a loss that comes with each of
# the player's buffers (ten a second) passes the bound within two seconds.
UNDERRUNS_MAX = 16
# What all the breaks together may skip of the file: as much as one break may, so
# that they never lose one of the player's 100 ms buffers, which the end-to-end
# suite's judge takes for a fault of the player however it is lost.
SKIPPED_MAX_FRAMES = UNDERRUN_MAX_FRAMES
SILENCED_MAX_FRAMES = 256  # Wine's silence at the start of a new stream


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


def first_difference(a, b):
    """The first index where the byte strings differ, or the shorter length."""
    limit = min(len(a), len(b))
    step = 65536
    at = 0
    while at < limit and a[at:at + step] == b[at:at + step]:
        at += step
    while at < limit and a[at] == b[at]:
        at += 1
    return min(at, limit)


def follow(rest, capture, at):
    """How many bytes of `rest` the capture holds from `at` on, stepping over the
    server's underruns; with how many underruns, frames of silence and frames of the
    file skipped, and why the break where it stopped is no underrun (None when the
    file or the capture ended there)."""
    done, underruns, silent, skipped = 0, 0, 0, 0
    while True:
        same = first_difference(rest[done:], capture[at:])
        done += same
        at += same
        if done >= len(rest) or at >= len(capture):
            return done, underruns, silent, skipped, None
        done -= done % 4
        at -= at % 4
        zeros = 0
        while capture[at + 4 * zeros:at + 4 * zeros + 4] == b"\0\0\0\0":
            zeros += 1
        stopped = (done, underruns, silent, skipped)
        if zeros > UNDERRUN_MAX_FRAMES:
            return stopped + ("%d frames of silence, longer than an underrun (at most %d)"
                              % (zeros, UNDERRUN_MAX_FRAMES),)
        resume = at + 4 * zeros
        probe = capture[resume:resume + RESUME_PROBE_BYTES]
        if len(probe) < RESUME_PROBE_BYTES:
            return stopped + ("the capture ends in silence",)
        window = rest[done:done + 4 * UNDERRUN_MAX_FRAMES + len(probe)]
        found = window.find(probe)
        while found >= 0 and found % 4:
            found = window.find(probe, found + 1)
        if found < 0:
            return stopped + ("after %d frames of silence the file does not go on within %d frames"
                              % (zeros, UNDERRUN_MAX_FRAMES),)
        jump = found // 4
        if jump > zeros + SKIP_BEYOND_SILENCE_MAX_FRAMES:
            return stopped + ("%d frames of the file skipped after only %d frames of silence"
                              " (an underrun's silence covers all but at most %d)"
                              % (jump, zeros, SKIP_BEYOND_SILENCE_MAX_FRAMES),)
        if underruns == UNDERRUNS_MAX:
            return stopped + ("a break after %d underruns, the most let be" % UNDERRUNS_MAX,)
        if skipped + jump > SKIPPED_MAX_FRAMES:
            return stopped + ("the breaks would skip %d frames of the file in all (at most %d)"
                              % (skipped + jump, SKIPPED_MAX_FRAMES),)
        underruns += 1
        silent += zeros
        skipped += jump
        done += found
        at = resume


def find_aligned(haystack, needle):
    at = haystack.find(needle)
    while at >= 0 and at % 4:
        at = haystack.find(needle, at + 1)
    return at


def find_start(data, capture):
    """The number of frames Wine silenced at the start and where the file's sound
    begins in the capture: the first frame after the silenced ones, preceded in the
    capture by that much silence. None when the file's first frames are missing."""
    for silenced in range(SILENCED_MAX_FRAMES + 1):
        begin = 4 * silenced
        at = find_aligned(capture, data[begin:begin + RESUME_PROBE_BYTES])
        if at >= begin and capture[at - begin:at] == b"\0" * begin:
            return silenced, at
    return None


def main():
    if sys.argv[1] == "--seconds":
        print((len(wave_data(sys.argv[2])) + BYTES_PER_SECOND - 1) // BYTES_PER_SECOND)
        return 0
    data = wave_data(sys.argv[1])
    capture = open(sys.argv[2], "rb").read()
    if len(data) <= 4 * SILENCED_MAX_FRAMES + PROBE_BYTES:
        sys.exit("the file is too short to compare")
    start = find_start(data, capture)
    if start is None:
        print("MISMATCH: the file's first %d frames are not in the %d captured bytes"
              % (SILENCED_MAX_FRAMES + 32, len(capture)))
        print_missing_blocks(data, capture)
        return 1
    silenced, at = start
    rest = data[4 * silenced:]
    matched, underruns, silent, _, why = follow(rest, capture, at)
    if matched < len(rest):
        print("MISMATCH: %d of %d bytes matched before the first difference, %.3f s into the file"
              % (matched, len(rest), (4 * silenced + matched) / BYTES_PER_SECOND))
        if why:
            print("  there: %s" % why)
        print_missing_blocks(data, capture)
        return 1
    if underruns:
        print("(stepped over %d underruns of the audio server, %.1f ms of silence)"
              % (underruns, 1000.0 * silent / 44100))
    print("MATCH: the whole file (%.2f s) reached the sink exactly, from its first frame"
          " (Wine silenced the first %d frames)" % (len(data) / BYTES_PER_SECOND, silenced))
    return 0


if __name__ == "__main__":
    sys.exit(main())
