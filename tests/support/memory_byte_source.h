// A byte source over memory that counts what the reader asks of it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "sources/wave_source.h"

class MemoryByteSource : public ByteSource {
 public:
  explicit MemoryByteSource(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}

  uint32_t Read(void* buffer, uint32_t count) override {
    ++reads;
    const uint64_t available = position_ < bytes_.size() ? bytes_.size() - position_ : 0;
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(count, available));
    if (n) std::memcpy(buffer, bytes_.data() + position_, n);
    position_ += n;
    bytesRead += n;
    return n;
  }

  uint64_t Seek(uint32_t position) override {
    ++seeks;
    if (failSeeksFrom && position >= failSeeksFrom) return ~0ull;
    position_ = position;
    return position_;
  }

  uint64_t Position() const { return position_; }

  uint32_t reads = 0;
  uint32_t seeks = 0;
  uint64_t bytesRead = 0;
  // When non-zero, a seek to this position or beyond fails (a device error).
  uint32_t failSeeksFrom = 0;

 private:
  std::vector<uint8_t> bytes_;
  uint64_t position_ = 0;
};
