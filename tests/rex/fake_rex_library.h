// An in-process REX library for the render driver's tests: a table of plain
// functions over one global state that says what each call answers, records every
// call, and renders a sample pattern the tests can predict.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "rex/rex_entries.h"

namespace fakerex {

struct State {
  RexInfo info{};
  RexHandle expectedHandle = 77;
  // Answers of each call; 1 is success.
  int32_t getInfoResult = kRexOk;
  int32_t setTempoResult = kRexOk;
  int32_t startResult = kRexOk;
  int32_t stopResult = kRexOk;
  int32_t batchResult = kRexOk;
  int32_t failBatchNumber = -1;   // this batch (0-based, counting the one after the stop) fails
  int32_t extraBatchResult = kRexOk;

  std::vector<std::string> calls;
  std::vector<int32_t> batchesBeforeStop;  // frame counts asked for while previewing
  int32_t tempoSet = 0;
  bool stopped = false;
  bool secondPointerWasNull = false;
  uint32_t framesRendered = 0;
};

inline State& Get() {
  static State state;
  return state;
}

// The sample the fake renders at `frame` of `channel`: a ramp that visits every
// region of the 16-bit conversion, different for each channel.
inline float Sample(uint32_t frame, int channel) {
  const int32_t step = static_cast<int32_t>((frame * 37u + channel * 11u) % 301u) - 150;
  return static_cast<float>(step) / 128.0f;  // -1.17 .. 1.16
}

inline int32_t REX_CALL GetInfo(RexHandle handle, int32_t size, RexInfo* info) {
  State& s = Get();
  s.calls.push_back("GetInfo");
  if (handle != s.expectedHandle || size != static_cast<int32_t>(sizeof(RexInfo))) return 3;
  if (s.getInfoResult == kRexOk) *info = s.info;
  return s.getInfoResult;
}

inline int32_t REX_CALL SetPreviewTempo(RexHandle, int32_t tempo) {
  Get().calls.push_back("SetPreviewTempo");
  Get().tempoSet = tempo;
  return Get().setTempoResult;
}

inline int32_t REX_CALL StartPreview(RexHandle) {
  Get().calls.push_back("StartPreview");
  return Get().startResult;
}

inline int32_t REX_CALL StopPreview(RexHandle) {
  Get().calls.push_back("StopPreview");
  Get().stopped = true;
  return Get().stopResult;
}

inline int32_t REX_CALL RenderPreviewBatch(RexHandle, int32_t frames, float* channels[2]) {
  State& s = Get();
  const int32_t number = static_cast<int32_t>(s.batchesBeforeStop.size()) + (s.stopped ? 1 : 0);
  s.calls.push_back(s.stopped ? "ExtraBatch" : "Batch");
  if (number == s.failBatchNumber) return s.batchResult;
  if (s.stopped) {
    // The scratch pair: both pointers are there and take 64 frames.
    for (int32_t i = 0; i < frames; ++i) channels[0][i] = channels[1][i] = 9.0f;
    return s.extraBatchResult;
  }
  s.batchesBeforeStop.push_back(frames);
  if (!channels[1]) s.secondPointerWasNull = true;
  for (int32_t i = 0; i < frames; ++i) {
    for (int c = 0; c < 2; ++c) {
      if (channels[c]) channels[c][i] = Sample(s.framesRendered + i, c);
    }
  }
  s.framesRendered += static_cast<uint32_t>(frames);
  return kRexOk;
}

// A fresh state for a loop of `channels` at `rate` Hz, own tempo and length, and
// the table of a fully bound library.
inline RexEntryTable Reset(int32_t channels, int32_t rate, int32_t tempo, int32_t length) {
  State& s = Get();
  s = State{};
  s.info.channels = channels;
  s.info.sampleRate = rate;
  s.info.tempo = tempo;
  s.info.length = length;
  RexEntryTable table;
  table.getInfo = GetInfo;
  table.setPreviewTempo = SetPreviewTempo;
  table.startPreview = StartPreview;
  table.stopPreview = StopPreview;
  table.renderPreviewBatch = RenderPreviewBatch;
  return table;
}

}  // namespace fakerex
