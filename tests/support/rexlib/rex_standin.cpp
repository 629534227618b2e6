// A stand-in for the outside REX library, for tests: it exports the fourteen entries
// by name with the C calling convention, decodes a small loop format of the tests'
// own and renders its preview deterministically. What a variant is built as (its
// file name, version resource, a missing entry, an "Open" that refuses) comes from
// the build. Every call it gets is appended to the process's environment variable
// VEX_REX_STANDIN_LOG, which outlives the library when it is freed. A process
// that sets VEX_REX_STANDIN_DELAY_MS gets a preview that takes that long to start,
// as a slow machine's library would take to render.
//
// Loop file, little-endian:
//   0 "VXLP"  4 channels  8 rate  12 tempo (thousandths of a bpm)  16 length
//   20 flags (1: refuse the batch after the stop)  24 stored frames N
//   28 N × channels floats, planar.
// The preview repeats the stored frames: frame i of channel c is sample[c][i mod N].
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "rex/rex_entries.h"

namespace {

constexpr int32_t kBadArgument = 2;
constexpr int32_t kBadFile = 3;
constexpr int32_t kNoSlot = 4;
constexpr int32_t kRefused = 9;
constexpr int32_t kFlagRefuseBatchAfterStop = 1;
constexpr size_t kHeaderBytes = 28;
constexpr int kSlots = 4;
constexpr int32_t kMaxStoredFrames = 1 << 20;

struct Loop {
  bool used;
  int32_t channels, rate, tempo, length, flags, stored;
  float* samples;  // planar, stored × channels
  bool previewing, stopped;
  uint32_t position;
};

Loop g_loops[kSlots];

void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Log(const char* format, ...) {
  // Benchmarks switch the log off: rewriting the variable costs more than a batch.
  if (GetEnvironmentVariableA("VEX_REX_STANDIN_QUIET", nullptr, 0)) return;
  char entry[128];
  va_list args;
  va_start(args, format);
  vsnprintf(entry, sizeof entry, format, args);
  va_end(args);
  // An environment variable holds at most 32767 characters.
  static char log[32767];
  log[0] = 0;
  GetEnvironmentVariableA("VEX_REX_STANDIN_LOG", log, sizeof log);
  if (strlen(log) + strlen(entry) + 2 < sizeof log) {
    strcat(log, entry);
    strcat(log, ";");
  }
  SetEnvironmentVariableA("VEX_REX_STANDIN_LOG", log);
}

int32_t I32(const char* p) {
  int32_t v;
  memcpy(&v, p, 4);
  return v;
}

Loop* Find(RexHandle handle) {
  if (handle < 1 || handle > kSlots || !g_loops[handle - 1].used) return nullptr;
  return &g_loops[handle - 1];
}

}  // namespace

#define STANDIN_EXPORT extern "C" __declspec(dllexport)

STANDIN_EXPORT char REX_CALL Open(void) {
  Log("Open(%s)", VEX_STANDIN_TAG);
#ifdef VEX_STANDIN_OPEN_REFUSES
  return 0;
#else
  return 1;
#endif
}

STANDIN_EXPORT void REX_CALL Close(void) { Log("Close"); }

STANDIN_EXPORT int32_t REX_CALL REXCreate(RexHandle* handle, const char* bytes, int32_t size,
                                          RexCreateCallback callback, void* userData) {
  if (!handle || !bytes || size < 0) return kBadArgument;
  const int32_t answer = callback ? callback(100, userData) : -1;
  Log("Create(%d,%d,%s)", size, answer, userData ? static_cast<const char*>(userData) : "");
  if (static_cast<size_t>(size) < kHeaderBytes || memcmp(bytes, "VXLP", 4) != 0) return kBadFile;
  Loop loop{};
  loop.channels = I32(bytes + 4);
  loop.rate = I32(bytes + 8);
  loop.tempo = I32(bytes + 12);
  loop.length = I32(bytes + 16);
  loop.flags = I32(bytes + 20);
  loop.stored = I32(bytes + 24);
  if (loop.channels < 1 || loop.channels > 2 || loop.stored < 0 || loop.stored > kMaxStoredFrames ||
      static_cast<size_t>(size) != kHeaderBytes + 4u * loop.stored * loop.channels) {
    return kBadFile;
  }
  int slot = 0;
  while (slot < kSlots && g_loops[slot].used) ++slot;
  if (slot == kSlots) return kNoSlot;
  const size_t sampleBytes = 4u * loop.stored * loop.channels;
  loop.samples = static_cast<float*>(HeapAlloc(GetProcessHeap(), 0, sampleBytes ? sampleBytes : 1));
  if (!loop.samples) return kNoSlot;
  memcpy(loop.samples, bytes + kHeaderBytes, sampleBytes);
  loop.used = true;
  g_loops[slot] = loop;
  *handle = slot + 1;
  return kRexOk;
}

STANDIN_EXPORT void REX_CALL REXDelete(RexHandle* handle) {
  Log("Delete");
  Loop* loop = handle ? Find(*handle) : nullptr;
  if (!loop) return;
  HeapFree(GetProcessHeap(), 0, loop->samples);
  *loop = Loop{};
  *handle = 0;
}

STANDIN_EXPORT int32_t REX_CALL REXGetInfo(RexHandle handle, int32_t size, RexInfo* info) {
  Log("GetInfo");
  Loop* loop = Find(handle);
  if (!loop || !info || size != static_cast<int32_t>(sizeof(RexInfo))) return kBadArgument;
  *info = RexInfo{};
  info->channels = loop->channels;
  info->sampleRate = loop->rate;
  info->tempo = loop->tempo;
  info->length = loop->length;
  return kRexOk;
}

STANDIN_EXPORT int32_t REX_CALL REXGetInfoFromBuffer(int32_t, const char*, int32_t, RexInfo*) {
  Log("GetInfoFromBuffer");
  return kRefused;
}

STANDIN_EXPORT int32_t REX_CALL REXGetCreatorInfo(RexHandle handle, int32_t size, void* creator) {
  Log("GetCreatorInfo(%d)", size);
  if (!Find(handle) || !creator || size != kRexCreatorInfoSize) return kBadArgument;
  memset(creator, 0, size);
  return kRefused;  // no creator recorded: the caller must not care
}

STANDIN_EXPORT int32_t REX_CALL REXGetSliceInfo(RexHandle, int32_t, int32_t, void*) {
  Log("GetSliceInfo");
  return kRefused;
}

STANDIN_EXPORT int32_t REX_CALL REXSetOutputSampleRate(RexHandle handle, int32_t rate) {
  Log("SetRate(%d)", rate);
  return Find(handle) && rate > 0 ? kRexOk : kBadArgument;
}

#ifndef VEX_STANDIN_OMIT_RENDER_SLICE
STANDIN_EXPORT int32_t REX_CALL REXRenderSlice(RexHandle, int32_t, int32_t, float*[2]) {
  Log("RenderSlice");
  return kRefused;
}
#endif

STANDIN_EXPORT int32_t REX_CALL REXStartPreview(RexHandle handle) {
  Log("Start");
  char delay[16] = "";
  if (GetEnvironmentVariableA("VEX_REX_STANDIN_DELAY_MS", delay, sizeof delay)) Sleep(strtoul(delay, nullptr, 10));
  Loop* loop = Find(handle);
  if (!loop) return kBadArgument;
  loop->previewing = true;
  loop->stopped = false;
  loop->position = 0;
  return kRexOk;
}

STANDIN_EXPORT int32_t REX_CALL REXStopPreview(RexHandle handle) {
  Log("Stop");
  Loop* loop = Find(handle);
  if (!loop || !loop->previewing) return kBadArgument;
  loop->previewing = false;
  loop->stopped = true;
  return kRexOk;
}

STANDIN_EXPORT int32_t REX_CALL REXRenderPreviewBatch(RexHandle handle, int32_t frames,
                                                      float* channels[2]) {
  Loop* loop = Find(handle);
  if (!loop || !channels || !channels[0] || frames < 1 || frames > 64) return kBadArgument;
  if (!loop->previewing) {
    Log("AfterStop(%d)", frames);
    if (!loop->stopped || (loop->flags & kFlagRefuseBatchAfterStop)) return kRefused;
    for (int c = 0; c < 2; ++c) {
      if (channels[c]) memset(channels[c], 0, 4u * frames);
    }
    return kRexOk;
  }
  Log("Batch(%d)", frames);
  for (int32_t i = 0; i < frames; ++i, ++loop->position) {
    for (int c = 0; c < 2; ++c) {
      if (!channels[c]) continue;
      const int32_t source = c < loop->channels ? c : 0;
      channels[c][i] = loop->stored ? loop->samples[source * loop->stored +
                                                    loop->position % loop->stored]
                                    : 0.0f;
    }
  }
  return kRexOk;
}

STANDIN_EXPORT int32_t REX_CALL REXSetPreviewTempo(RexHandle handle, int32_t tempo) {
  Log("Tempo(%d)", tempo);
  Loop* loop = Find(handle);
  if (!loop || tempo <= 0) return kBadArgument;
  return kRexOk;
}
