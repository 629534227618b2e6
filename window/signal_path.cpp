// The verdict on the signal path, worked out from what a start really did.
#include "window/signal_path.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

const char kVerdictBitExact[] = "Bit-exact: the device receives the file's samples unchanged";
const char kVerdictNotBitExact[] = "Not bit-exact:";

namespace {

// Extensions of the converter's input whose codec discards information, or usually
// does (a container or a family with a lossless member: mp4, m4a, wma).
const char* const kLossyExtensions[] = {"mp1", "mp2", "mp3", "mpa", "mpc", "mpga", "mpeg", "mpg", "mp4",
                                        "m4a", "m4b", "aac", "ac3", "ogg", "opus", "wma"};

// Significant bits a 32-bit float carries (its 24-bit significand): integers up to
// 24 bits fit it exactly, wider ones are rounded.
constexpr uint32_t kFloatSignificandBits = 24;

// The reasons, joined by ", " behind the verdict's first words.
class ReasonList {
 public:
  ReasonList(char* text, size_t size) : text_(text), size_(size) {}
  void Add(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    Append(count_++ == 0 ? " " : ", ");
    char reason[64];
    va_list args;
    va_start(args, format);
    std::vsnprintf(reason, sizeof reason, format, args);
    va_end(args);
    Append(reason);
  }
  uint32_t Count() const { return count_; }

 private:
  void Append(const char* part) {
    const size_t used = std::strlen(text_);
    if (used + 1 < size_) std::snprintf(text_ + used, size_ - used, "%s", part);
  }
  char* text_;
  size_t size_;
  uint32_t count_ = 0;
};

// What the sample conversion between file and device does to the bits, or nothing.
void AddBitsReason(ReasonList& reasons, const PathFormat& file, const PathFormat& device) {
  if (file.isFloat && device.isFloat) {
    if (device.bits < file.bits) reasons.Add("float %u → %u bits (rounded)", file.bits, device.bits);
  } else if (file.isFloat) {
    reasons.Add("float → %u bits (rounded)", device.bits);
  } else if (device.isFloat) {
    if (file.bits > kFloatSignificandBits) reasons.Add("%u bits → float (rounded)", file.bits);
  } else if (device.bits < file.bits) {
    reasons.Add("%u → %u bits (cut)", file.bits, device.bits);
  }
}

void AddReasons(ReasonList& reasons, const SignalPath& path) {
  if (path.converted && path.lossy) reasons.Add("decoded from %s (lossy)", path.codec);
  if (path.rexRender) reasons.Add("rendered to 16 bits");
  if (path.volumeX10 != 0) {
    const int32_t v = path.volumeX10;
    const uint32_t magnitude = static_cast<uint32_t>(v < 0 ? -v : v);
    reasons.Add("volume %s%u.%u dB", v < 0 ? "-" : "+", magnitude / 10, magnitude % 10);
  }
  AddBitsReason(reasons, path.file, path.device);
  if (path.device.channels < path.file.channels) {
    reasons.Add("%u → %u channels (dropped)", path.file.channels, path.device.channels);
  } else if (path.device.channels > path.file.channels) {
    reasons.Add("%u → %u channels (added)", path.file.channels, path.device.channels);
  }
  // The mapper hands what it made to a wave-out device, so through the mixer too.
  if (path.route == OutputRoute::kSoundMapper) reasons.Add("through the sound mapper");
  if (path.route != OutputRoute::kWasapiExclusive) reasons.Add("through the system mixer (wave-out)");
}

}  // namespace

bool IsBitExact(const SignalPath& path) {
  char scratch[8] = "";
  ReasonList reasons(scratch, sizeof scratch);
  AddReasons(reasons, path);
  return reasons.Count() == 0;
}

void FormatVerdict(char* text, size_t size, const SignalPath& path) {
  if (size == 0) return;
  if (IsBitExact(path)) {
    std::snprintf(text, size, "%s", kVerdictBitExact);
    return;
  }
  std::snprintf(text, size, "%s", kVerdictNotBitExact);
  ReasonList reasons(text, size);
  AddReasons(reasons, path);
}

void CodecOfExtension(const char* extension, char* codec, size_t size, bool* lossy) {
  if (size == 0) return;
  if (*extension == '.') ++extension;
  size_t i = 0;
  for (; extension[i] && i + 1 < size; ++i) {
    const char c = extension[i];
    codec[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  }
  codec[i] = '\0';
  *lossy = false;
  for (const char* known : kLossyExtensions) {
    if (std::strcmp(codec, known) == 0) *lossy = true;
  }
}
