// The entry points of the outside REX library, as the player calls them, and the
// table they are bound into. Platform-free so the render driver can be tested
// natively against a table of its own.
#pragma once

#include <cstdint>

// The vendor's 32-bit library exports its entries with the C calling convention.
#if defined(_WIN32)
#define REX_CALL __cdecl
#else
#define REX_CALL
#endif

// The opaque value the library fills in at creation and every later call takes.
using RexHandle = int32_t;

// The 36-byte record "REXGetInfo" fills: nine signed 32-bit fields, of which the
// player reads four.
struct RexInfo {
  int32_t channels;    // 1 or 2
  int32_t sampleRate;  // Hz
  int32_t unused3;
  int32_t tempo;       // the loop's own tempo, thousandths of a beat per minute
  int32_t unused5;
  int32_t length;      // loop length in the library's units (see RexFrameCount)
  int32_t unused7;
  int32_t unused8;
  int32_t unused9;
};
static_assert(sizeof(RexInfo) == 36, "the library fills exactly 36 bytes");

constexpr int32_t kRexCreatorInfoSize = 1280;
// Every library call reports success with 1.
constexpr int32_t kRexOk = 1;

extern "C" {
// Answers how far parsing has come; the player always answers 2 (go on).
typedef int32_t(REX_CALL* RexCreateCallback)(int32_t percentFinished, void* userData);

typedef char(REX_CALL* RexOpenFn)(void);
typedef void(REX_CALL* RexCloseFn)(void);
typedef int32_t(REX_CALL* RexCreateFn)(RexHandle* handle, const char* bytes, int32_t size,
                                       RexCreateCallback callback, void* userData);
typedef void(REX_CALL* RexDeleteFn)(RexHandle* handle);
typedef int32_t(REX_CALL* RexGetInfoFn)(RexHandle handle, int32_t infoSize, RexInfo* info);
typedef int32_t(REX_CALL* RexGetInfoFromBufferFn)(int32_t size, const char* bytes,
                                                  int32_t infoSize, RexInfo* info);
typedef int32_t(REX_CALL* RexGetCreatorInfoFn)(RexHandle handle, int32_t size, void* creator);
typedef int32_t(REX_CALL* RexGetSliceInfoFn)(RexHandle handle, int32_t slice, int32_t size,
                                             void* sliceInfo);
typedef int32_t(REX_CALL* RexSetOutputSampleRateFn)(RexHandle handle, int32_t rate);
typedef int32_t(REX_CALL* RexRenderSliceFn)(RexHandle handle, int32_t slice, int32_t frames,
                                            float* channels[2]);
typedef int32_t(REX_CALL* RexStartPreviewFn)(RexHandle handle);
typedef int32_t(REX_CALL* RexStopPreviewFn)(RexHandle handle);
typedef int32_t(REX_CALL* RexRenderPreviewBatchFn)(RexHandle handle, int32_t frames,
                                                   float* channels[2]);
typedef int32_t(REX_CALL* RexSetPreviewTempoFn)(RexHandle handle, int32_t tempo);
}

// The fourteen entries in the order they are bound; a load needs all of them,
// also the three the player never calls.
struct RexEntryTable {
  RexOpenFn open = nullptr;
  RexCloseFn close = nullptr;
  RexCreateFn create = nullptr;
  RexDeleteFn destroy = nullptr;
  RexGetInfoFn getInfo = nullptr;
  RexGetInfoFromBufferFn getInfoFromBuffer = nullptr;
  RexGetCreatorInfoFn getCreatorInfo = nullptr;
  RexGetSliceInfoFn getSliceInfo = nullptr;
  RexSetOutputSampleRateFn setOutputSampleRate = nullptr;
  RexRenderSliceFn renderSlice = nullptr;
  RexStartPreviewFn startPreview = nullptr;
  RexStopPreviewFn stopPreview = nullptr;
  RexRenderPreviewBatchFn renderPreviewBatch = nullptr;
  RexSetPreviewTempoFn setPreviewTempo = nullptr;
};
