// The rounding-mode guard of the volume gain.
#include "dsp/fp_rounding.h"

#include "dsp/cpu_path.h"

namespace {

constexpr uint16_t kX87RoundingBits = 0x0C00;   // RC, bits 10-11; 00 is nearest-even
constexpr uint32_t kMxcsrRoundingBits = 0x6000; // RC, bits 13-14; 00 is nearest-even
constexpr uint16_t kX87PrecisionBits = 0x0300;  // PC, bits 8-9
constexpr uint16_t kX87PrecisionDouble = 0x0200;

}  // namespace

FpControl ReadFpControl() {
  FpControl control;
  __asm__ volatile("fnstcw %0" : "=m"(control.x87));
  if (ProcessorHasSse2()) __asm__ volatile("stmxcsr %0" : "=m"(control.mxcsr));
  return control;
}

void WriteFpControl(const FpControl& control) {
  __asm__ volatile("fldcw %0" : : "m"(control.x87));
  if (ProcessorHasSse2()) __asm__ volatile("ldmxcsr %0" : : "m"(control.mxcsr));
}

ScopedRoundToNearest::ScopedRoundToNearest(X87Precision precision)
    : saved_(ReadFpControl()),
      x87Restored_(precision == X87Precision::Double ? kX87RoundingBits | kX87PrecisionBits
                                                     : kX87RoundingBits) {
  FpControl nearest = saved_;
  nearest.x87 = static_cast<uint16_t>(nearest.x87 & ~kX87RoundingBits);
  if (precision == X87Precision::Double) {
    nearest.x87 = static_cast<uint16_t>((nearest.x87 & ~kX87PrecisionBits) | kX87PrecisionDouble);
  }
  nearest.mxcsr &= ~kMxcsrRoundingBits;
  WriteFpControl(nearest);
}

ScopedRoundToNearest::~ScopedRoundToNearest() {
  // Only the rounding bits go back: status flags the kernel raised in MXCSR stay
  // raised, as they would after any other arithmetic.
  FpControl now = ReadFpControl();
  now.x87 = static_cast<uint16_t>((now.x87 & ~x87Restored_) | (saved_.x87 & x87Restored_));
  now.mxcsr = (now.mxcsr & ~kMxcsrRoundingBits) | (saved_.mxcsr & kMxcsrRoundingBits);
  WriteFpControl(now);
}
