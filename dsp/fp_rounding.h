// Saves the floating-point rounding mode, sets round-to-nearest-even, and puts the
// saved mode back, changing only the rounding-control bits of the x87 control word
// and, where the processor has SSE2, of MXCSR. Exception masks and flush-to-zero
// stay as the caller had them. For x87 kernels it also sets the x87 precision to
// double (53 bits) and puts it back: MinGW starts threads at 64 bits, where a
// double product would be rounded twice, first to 64 bits and then when stored.
#pragma once

#include <cstdint>

struct FpControl {
  uint16_t x87 = 0;    // the x87 control word
  uint32_t mxcsr = 0;  // 0 where the processor has no SSE2
};

FpControl ReadFpControl();
void WriteFpControl(const FpControl& control);

class ScopedRoundToNearest {
 public:
  enum class X87Precision { AsCallerHadIt, Double };
  explicit ScopedRoundToNearest(X87Precision precision = X87Precision::AsCallerHadIt);
  ~ScopedRoundToNearest();
  ScopedRoundToNearest(const ScopedRoundToNearest&) = delete;
  ScopedRoundToNearest& operator=(const ScopedRoundToNearest&) = delete;

 private:
  FpControl saved_;
  uint16_t x87Restored_;  // the x87 control bits this guard changed and puts back
};
