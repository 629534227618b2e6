// What the outside converter is given and asked for: the extensions it decodes,
// its description of a source's audio stream, and the sample type the decoded
// WAVE file keeps, chosen by the codec so that lossless sources keep every bit.
#pragma once

#include <cstddef>
#include <cstdint>

// Extensions (with their dot, lower case) of the files the converter decodes,
// besides those of the ".m" rule. The open-file dialog's filter and the user's
// guide list the same.
extern const char* const kConvertedExtensions[];
extern const size_t kConvertedExtensionCount;

// Whether `extension` (with its dot) is in the table, compared case-insensitively.
bool IsConvertedExtension(const char* extension);

// The open-file dialog's filter, double-NUL ended: all playable files, WAVE files,
// REX loops, converted files, all files. False when `capacity` is too small.
bool BrowseFilter(char* text, size_t capacity);

// The converter's description of the first audio stream of a source, as it prints
// it when asked with "-i" alone:
//   Duration: 00:03:25.10, start: 0.000000, bitrate: 1411 kb/s
//     Stream #0:0: Audio: flac, 96000 Hz, stereo, s32 (24 bit)
struct SourceStream {
  bool found = false;         // an "Audio:" line was read
  char codec[32] = "";        // "flac", "alac", "mp3", "pcm_s24be", ...
  char sampleType[16] = "";   // "s16", "s32p", "fltp", ... as printed
  uint32_t sampleRate = 0;    // Hz, 0 when not printed
  uint32_t bits = 0;          // the "(24 bit)" figure, else the sample type's width
  bool isFloat = false;       // "flt", "fltp", "dbl", "dblp"
  uint32_t durationMs = 0;    // 0 when unknown ("N/A")
};

// Reads the first "Audio:" line and the first "Duration:" of the text.
SourceStream ParseSourceStream(const char* text);

// Whether the codec keeps every bit of the source: flac, alac, wavpack, ape, tta,
// wmalossless and PCM in any container ("pcm_…").
bool IsLosslessCodec(const char* codec);

// A FLAC file's own description, from its first 26 bytes ("fLaC" and the
// STREAMINFO block): rate, channels' bits and length. False for anything else (a
// tag before the stream, say), where the converter is asked instead.
bool ReadFlacStreamInfo(const uint8_t* bytes, size_t count, SourceStream* out);

// Whether a file of this extension can only hold lossy audio (.mp3, .mp2, .opus,
// .aac, .ac3), so that its output is 16-bit whatever the source's description
// says and the converter need not be asked for it. Not .wma: WMA Lossless too.
bool OnlyLossyExtension(const char* extension);

// The converter's output codec: a lossless source keeps its width (8 → pcm_u8,
// up to 16 → pcm_s16le, up to 24 → pcm_s24le, more → pcm_s32le, float →
// pcm_f32le); a lossy or unknown one, or none found, gets pcm_s16le.
const char* ConverterOutputCodec(const SourceStream& stream);

// The outside converter, found by name beside the program or on the system's path.
constexpr char kConverterProgram[] = "ffmpeg.exe";
// The converter's command line for `source` and `target`, the output codec given
// ("pcm_s16le", "pcm_s24le", ...); false when it does not fit in `capacity`.
bool ConverterCommandLine(char* text, size_t capacity, const char* source, const char* codec, const char* target);
// The name of attempt `attempt` (0 … 255) at a temporary file for a conversion:
// "WAV%04X.wav" with (tick AND 0xFF00) + attempt.
void ConversionTempName(char* text, size_t capacity, uint32_t tick, uint32_t attempt);
