// The suite's entry point: the test cases by default; `--soak=MINUTES` plays and
// seeks for that long and reports the player's handle and memory figures;
// `--measure` reports start-up time, CPU use while playing and the peak working
// set while playing a 1 GB file; `--measure-conversion` the time to sound and the
// player's CPU while the real converter decodes an hour-long MP3 and FLAC. None of
// these options runs under ctest.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "tests/e2e/measure.h"

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--soak=", 7) == 0) return e2e::RunSoak(std::atoi(argv[i] + 7));
    if (std::strcmp(argv[i], "--measure") == 0) return e2e::RunMeasurements();
    if (std::strcmp(argv[i], "--measure-conversion") == 0) return e2e::RunConversionMeasurements();
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
