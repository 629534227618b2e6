// Defaults, clamps and the on-screen rule of the stored settings.
#include "settings/settings_rules.h"

uint32_t ClampUnsigned(uint32_t value, uint32_t low, uint32_t high) {
  if (value < low) return low;
  if (value > high) return high;
  return value;
}

int32_t ClampSigned(int32_t value, int32_t low, int32_t high) {
  if (value < low) return low;
  if (value > high) return high;
  return value;
}

ScreenPoint KeepOnScreen(int32_t left, int32_t top, int32_t width, int32_t height, ScreenRect screen) {
  // In 64 bits: a stored position may be any 32-bit number, and left + width with it.
  int64_t x = left;
  int64_t y = top;
  if (x < screen.left) x = screen.left;
  if (y < screen.top) y = screen.top;
  if (x + width > screen.right) x = static_cast<int64_t>(screen.right) - width;
  if (y + height > screen.bottom) y = static_cast<int64_t>(screen.bottom) - height;
  return ScreenPoint{static_cast<int32_t>(x), static_cast<int32_t>(y)};
}

uint32_t ClampBufferMilliseconds(bool isNumber, uint32_t milliseconds) {
  if (!isNumber || milliseconds == 0) return 1;
  return milliseconds > kMaxBufferMilliseconds ? kMaxBufferMilliseconds : milliseconds;
}

uint32_t ClampBufferCount(bool isNumber, uint32_t count) {
  if (!isNumber || count == 0) return 1;
  return count > kMaxBufferCount ? kMaxBufferCount : count;
}
