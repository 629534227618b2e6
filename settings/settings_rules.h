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
// How long playback waits for a device that went away; 0 stops at once.
constexpr uint32_t kDefaultDeviceWaitSeconds = 60;
constexpr uint32_t kMaxDeviceWaitSeconds = 86400;

// `value` brought into low … high, compared as unsigned (the tempo against its spin
// control's range).
uint32_t ClampUnsigned(uint32_t value, uint32_t low, uint32_t high);
// `value` brought into low … high, compared as signed (the volume against its slider).
int32_t ClampSigned(int32_t value, int32_t low, int32_t high);

// The ranges the player and the settings share: the settings clamp what they load
// into the controls with them, the player what it takes from the controls.
constexpr uint32_t kMaxBufferMilliseconds = 65535;
constexpr uint32_t kMaxBufferCount = 99;

// The buffer length field's value: 0 or no number gives 1 ms, above 65535 gives 65535.
uint32_t ClampBufferMilliseconds(bool isNumber, uint32_t milliseconds);
// The buffer count field's value: 0 or no number gives 1, above 99 gives 99.
uint32_t ClampBufferCount(bool isNumber, uint32_t count);

// The file-name box's history holds at most this many entries, and so many are saved.
constexpr int kHistoryMaxEntries = 64;
// A path has at most 259 UTF-16 units (the system's MAX_PATH with the terminator);
// longer ones are refused, not cut (NarrowPathFits counts them). Narrow paths live in
// buffers that hold that many in UTF-8: up to 3 bytes a unit (a surrogate pair, two
// units, takes 4), and at most 2 in a double-byte code page.
constexpr int kPathUnits = 260;
constexpr int kPathCapacity = 3 * kPathUnits;

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
