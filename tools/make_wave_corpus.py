#!/usr/bin/env python3
"""Writes the seed corpus of the WAVE reader's fuzz target: well-formed files of
each kind of format tag and one file of each malformed class the reader refuses."""
import os
import struct
import sys

out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), '..', 'fuzz', 'corpus', 'wave_source')
os.makedirs(out, exist_ok=True)


def chunk(cid, body, declared=None):
    size = len(body) if declared is None else declared
    return cid + struct.pack('<I', size) + body + (b'\0' if len(body) % 2 else b'')


def fmt(tag, ch, rate, bits, align=None, avg=None, ext=None):
    align = align if align is not None else ch * ((bits + 7) // 8)
    avg = avg if avg is not None else rate * align
    body = struct.pack('<HHIIHH', tag, ch, rate, avg, align, bits)
    if ext is not None:
        body += struct.pack('<H', len(ext)) + ext
    return body


def riff(chunks, form=b'WAVE', magic=b'RIFF'):
    body = form + b''.join(chunks)
    return magic + struct.pack('<I', len(body)) + body


def data(n):
    return chunk(b'data', bytes((i * 37) & 0xFF for i in range(n)))


guid_pcm = struct.pack('<IHH', 1, 0, 0x10) + bytes([0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71])
guid_float = struct.pack('<IHH', 3, 0, 0x10) + bytes([0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71])

seeds = {
    'pcm8_mono': riff([chunk(b'fmt ', fmt(1, 1, 8000, 8)), data(64)]),
    'pcm16_stereo': riff([chunk(b'fmt ', fmt(1, 2, 44100, 16)), data(64)]),
    'pcm24_stereo': riff([chunk(b'fmt ', fmt(1, 2, 48000, 24)), data(60)]),
    'pcm32_6ch': riff([chunk(b'fmt ', fmt(1, 6, 96000, 32)), data(96)]),
    'float32': riff([chunk(b'fmt ', fmt(3, 2, 44100, 32, ext=b'')), data(64)]),
    'float64': riff([chunk(b'fmt ', fmt(3, 1, 22050, 64)), data(64)]),
    'extensible_pcm24': riff([chunk(b'fmt ', fmt(0xFFFE, 2, 48000, 32, ext=struct.pack('<HI', 24, 3) + guid_pcm)), data(64)]),
    'extensible_float': riff([chunk(b'fmt ', fmt(0xFFFE, 2, 48000, 32, ext=struct.pack('<HI', 32, 3) + guid_float)), data(64)]),
    'ima_adpcm': riff([chunk(b'fmt ', fmt(0x11, 2, 44100, 4, 1024, 44359, ext=struct.pack('<H', 1017))), chunk(b'fact', struct.pack('<I', 1018)), data(1024)]),
    'mp3_tag': riff([chunk(b'fmt ', fmt(0x55, 2, 44100, 0, 1, 16000, ext=bytes(12))), data(32)]),
    'data_before_fmt': riff([data(16), chunk(b'LIST', b'INFOabcd'), chunk(b'fmt ', fmt(1, 2, 44100, 16))]),
    'odd_chunk': riff([chunk(b'odd ', b'12345'), chunk(b'fmt ', fmt(1, 1, 8000, 8)), data(3)]),
    'fmt14': riff([chunk(b'fmt ', fmt(1, 2, 44100, 16)[:14]), data(8)]),
    'short_header': b'RIFF\0\0\0\0WAV',
    'rifx': riff([chunk(b'fmt ', fmt(1, 2, 44100, 16)), data(8)], magic=b'RIFX'),
    'avi': riff([chunk(b'fmt ', fmt(1, 2, 44100, 16)), data(8)], form=b'AVI '),
    'cut_chunk_header': riff([chunk(b'fmt ', fmt(1, 2, 44100, 16))]) + b'dat',
    'fmt13': riff([chunk(b'fmt ', bytes(13)), data(8)]),
    'fmt_cut': riff([]) + chunk(b'fmt ', fmt(1, 2, 44100, 16), declared=40),
    'fmt_twice': riff([chunk(b'fmt ', fmt(1, 2, 44100, 16)), chunk(b'fmt ', fmt(1, 2, 44100, 16)), data(8)]),
    'data_twice': riff([data(8), data(8), chunk(b'fmt ', fmt(1, 2, 44100, 16))]),
    'data_zero_then_good': riff([chunk(b'data', b''), data(8), chunk(b'fmt ', fmt(1, 2, 44100, 16))]),
    'data_too_long': riff([chunk(b'fmt ', fmt(1, 2, 44100, 16))]) + chunk(b'data', bytes(16), declared=100000),
    'data_ffffffff': riff([chunk(b'fmt ', fmt(1, 2, 44100, 16))]) + chunk(b'data', bytes(16), declared=0xFFFFFFFF),
    'wrap_4gib': riff([chunk(b'LIST', bytes(4), declared=0xFFFFFFF0), chunk(b'fmt ', fmt(1, 2, 44100, 16)), data(8)]),
    'junk_ffffffff': riff([chunk(b'junk', b'', declared=0xFFFFFFFF), chunk(b'fmt ', fmt(1, 2, 44100, 16)), data(8)]),
    'huge_fmt': riff([]) + chunk(b'fmt ', fmt(1, 2, 44100, 16), declared=0x7FFFFFFF),
    'zero_channels': riff([chunk(b'fmt ', fmt(1, 0, 44100, 16, 4)), data(8)]),
    'zero_align': riff([chunk(b'fmt ', fmt(1, 2, 44100, 16, 0, 176400)), data(8)]),
    'zero_rate': riff([chunk(b'fmt ', fmt(1, 2, 0, 16, 4, 1)), data(8)]),
    'extensible_short_ext': riff([chunk(b'fmt ', fmt(0xFFFE, 2, 48000, 16, ext=b'\x10\0')), data(8)]),
    'many_tiny_chunks': riff([chunk(b'pad ', b'') for _ in range(500)] + [chunk(b'fmt ', fmt(1, 1, 8000, 8)), data(2)]),
}
for name, content in seeds.items():
    with open(os.path.join(out, name + '.wav'), 'wb') as f:
        f.write(content)
print(f'{len(seeds)} seeds in {out}')
