// The rules the stored settings pass on their way into the controls: defaults,
// clamps, and the window kept on the virtual screen.
#pragma once

#include <cstdint>

// Defaults of the values when the registry holds none.
constexpr uint32_t kDefaultBufferCount = 4;
constexpr uint32_t kDefaultBufferLengthMs = 100;
constexpr uint32_t kDefaultTempoBpm = 120;
constexpr uint32_t kDefaultLinearRms = 1;
constexpr int32_t kDefaultVolumeX10 = 0;

// `value` brought into low … high, compared as unsigned (the tempo against its spin
// control's range).
uint32_t ClampUnsigned(uint32_t value, uint32_t low, uint32_t high);
// `value` brought into low … high, compared as signed (the volume against its slider).
int32_t ClampSigned(int32_t value, int32_t low, int32_t high);

struct ScreenRect {
  int32_t left, top, right, bottom;
};

struct ScreenPoint {
  int32_t x, y;
};

// Where a window of `width` × `height` stored at (left, top) goes so that it lies on
// the virtual screen, without changing its size: left edge first, then top, then
// right, then bottom, the later rules winning, so a window larger than the screen
// ends flush with its right and bottom edges.
ScreenPoint KeepOnScreen(int32_t left, int32_t top, int32_t width, int32_t height, ScreenRect screen);
