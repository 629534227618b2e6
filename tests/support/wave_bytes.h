// Builds RIFF/WAVE files byte by byte for tests, well-formed or deliberately not.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace wavebytes {

using Bytes = std::vector<uint8_t>;

inline void PutU16(Bytes& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}

inline void PutU32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

inline void Append(Bytes& to, const Bytes& from) { to.insert(to.end(), from.begin(), from.end()); }

// A chunk: identifier, declared size, body, and the pad byte after an odd body.
// `declared` overrides the size field for malformed cases.
inline Bytes Chunk(const char id[4], const Bytes& body, int64_t declared = -1) {
  Bytes b(id, id + 4);
  PutU32(b, declared < 0 ? static_cast<uint32_t>(body.size()) : static_cast<uint32_t>(declared));
  Append(b, body);
  if (body.size() % 2) b.push_back(0);
  return b;
}

// The 16-byte PCM/float `fmt ` body, or an 18-byte one with an extension size.
inline Bytes FmtBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits,
                     uint16_t blockAlign = 0, uint32_t avgBytes = 0) {
  if (!blockAlign) blockAlign = static_cast<uint16_t>(channels * ((bits + 7) / 8));
  if (!avgBytes) avgBytes = rate * blockAlign;
  Bytes b;
  PutU16(b, tag);
  PutU16(b, channels);
  PutU32(b, rate);
  PutU32(b, avgBytes);
  PutU16(b, blockAlign);
  PutU16(b, bits);
  return b;
}

// A WAVEFORMATEXTENSIBLE body (40 bytes) with the PCM or float sub-format.
inline Bytes ExtensibleBody(uint16_t channels, uint32_t rate, uint16_t bits, uint16_t validBits,
                            uint32_t mask, bool isFloat) {
  Bytes b = FmtBody(0xFFFE, channels, rate, bits);
  PutU16(b, 22);
  PutU16(b, validBits);
  PutU32(b, mask);
  PutU32(b, isFloat ? 3 : 1);
  const uint8_t rest[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
  b.insert(b.end(), rest, rest + 12);
  return b;
}

// "RIFF", size, "WAVE" and then the given chunks.
inline Bytes Riff(const std::vector<Bytes>& chunks, const char form[4] = "WAVE",
                  const char magic[4] = "RIFF") {
  Bytes body(form, form + 4);
  for (const Bytes& c : chunks) Append(body, c);
  Bytes b(magic, magic + 4);
  PutU32(b, static_cast<uint32_t>(body.size()));
  Append(b, body);
  return b;
}

inline Bytes Filled(size_t n, uint8_t value = 0) { return Bytes(n, value); }

// A complete PCM file whose data bytes count 0, 1, 2, ... so positions are visible.
inline Bytes PcmFile(uint16_t channels, uint32_t rate, uint16_t bits, uint32_t dataBytes) {
  Bytes data(dataBytes);
  for (uint32_t i = 0; i < dataBytes; ++i) data[i] = static_cast<uint8_t>(i * 7 + 3);
  return Riff({Chunk("fmt ", FmtBody(1, channels, rate, bits)), Chunk("data", data)});
}

}  // namespace wavebytes
