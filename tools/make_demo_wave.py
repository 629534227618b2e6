#!/usr/bin/env python3
"""Writes the demo WAVE file that ./run.sh plays when it is given no file: four
seconds of 16-bit stereo at 44100 Hz, a slowly changing chord with a little noise,
so that no stretch of it repeats and a capture can be matched against it exactly."""
import math
import random
import struct
import sys

RATE = 44100
SECONDS = 4
CHANNELS = 2
AMPLITUDE = 6000  # per partial; three partials and the noise stay far from clipping
NOISE = 200


def samples():
    rng = random.Random(20261207)
    frames = RATE * SECONDS
    for n in range(frames):
        t = n / RATE
        glide = 1.0 + 0.05 * t  # the pitch rises slowly: no period repeats exactly
        left = sum(math.sin(2 * math.pi * f * glide * t) for f in (220.0, 277.18, 329.63))
        right = sum(math.sin(2 * math.pi * f * glide * t) for f in (164.81, 246.94, 392.0))
        yield int(left * AMPLITUDE) + rng.randint(-NOISE, NOISE)
        yield int(right * AMPLITUDE) + rng.randint(-NOISE, NOISE)


def main():
    data = struct.pack("<%dh" % (RATE * SECONDS * CHANNELS), *samples())
    block = CHANNELS * 2
    fmt = struct.pack("<HHIIHH", 1, CHANNELS, RATE, RATE * block, block, 16)
    with open(sys.argv[1], "wb") as out:
        out.write(b"RIFF" + struct.pack("<I", 4 + 8 + len(fmt) + 8 + len(data)) + b"WAVE")
        out.write(b"fmt " + struct.pack("<I", len(fmt)) + fmt)
        out.write(b"data" + struct.pack("<I", len(data)) + data)


if __name__ == "__main__":
    main()
