// Long runs and measurements of the player process, started from the suite's
// command line rather than as test cases.
#pragma once

namespace e2e {

// Plays and seeks for `minutes`, sampling the player's handle count and memory.
int RunSoak(int minutes);
// Start-up time, CPU use while playing and peak working set with a 1 GB file.
int RunMeasurements();
// With the real converter and an hour-long MP3 and FLAC: the time from Start to the
// first buffer written, and the CPU the player uses while the converter runs.
int RunConversionMeasurements();

}  // namespace e2e
