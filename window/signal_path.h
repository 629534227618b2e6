// The verdict on the signal path: whether the device receives the file's samples
// unchanged, and when it does not, every step between the file on disk and the
// device that changes them, in the order the samples pass them.
#pragma once

#include <cstddef>
#include <cstdint>

// How the output reaches the device.
enum class OutputRoute {
  kSoundMapper,      // wave-out through the system's wave mapper
  kWaveOutDevice,    // wave-out to one device, through the system's mixer
  kWasapiExclusive,  // the endpoint itself, in exclusive mode
};

// One sample layout on the path. For integers `bits` are the significant (valid)
// bits, whatever the container; for floats 32 or 64.
struct PathFormat {
  uint32_t bits = 0;
  bool isFloat = false;
  uint32_t channels = 0;
};

// What happened on one start, as far as the samples are concerned.
struct SignalPath {
  bool converted = false;  // decoded by the outside converter
  char codec[16] = "";     // what it decoded, when converted
  bool lossy = false;      // the codec throws information away
  bool rexRender = false;  // a REX loop rendered to 16-bit integers
  PathFormat file;         // the WAVE file the player streams
  PathFormat device;       // what the output was opened with
  int32_t volumeX10 = 0;   // the volume slider, tenths of a decibel
  OutputRoute route = OutputRoute::kWaveOutDevice;
};

extern const char kVerdictBitExact[];     // "Bit-exact: the device receives ..."
extern const char kVerdictNotBitExact[];  // "Not bit-exact:"

// True exactly when no step changes a sample: exclusive mode, 0.0 dB, no lossy
// decoding or render, the device format equal to the file's or a lossless widening
// of it (more integer bits, or 8- to 24-bit integers into 32-bit float), and the
// channels one to one.
bool IsBitExact(const SignalPath& path);

// kVerdictBitExact, or kVerdictNotBitExact followed by a blank and the reasons
// separated by ", ": "decoded from mp3 (lossy)", "rendered to 16 bits",
// "volume -3.0 dB", "24 → 16 bits (cut)", "float → 24 bits (rounded)",
// "6 → 2 channels (dropped)", "1 → 2 channels (added)", "through the sound mapper"
// (and then the mixer), "through the system mixer (wave-out)". UTF-8 (the arrow); cut to `size` - 1 bytes.
void FormatVerdict(char* text, size_t size, const SignalPath& path);

// A converted file's codec as far as its source extension tells it: the extension
// without its dot, in lower case, cut to `size` - 1 characters. Lossy for the
// extensions of lossy formats, and for the containers that usually hold one (mp4,
// m4a): a false "lossy" costs the user a look, a false "bit-exact" their trust.
void CodecOfExtension(const char* extension, char* codec, size_t size, bool* lossy);
