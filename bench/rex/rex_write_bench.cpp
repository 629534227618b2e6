// Writing a rendered stereo loop (two seconds at 44.1 kHz, planar floats) as a
// 16-bit WAVE file, beside a plain write of the same number of bytes to the same
// kind of stream as the limit.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

#include "rex/rex_render.h"

namespace {

constexpr uint32_t kFrames = 88200;

std::vector<float> Plane(int channel) {
  std::vector<float> p(kFrames);
  for (uint32_t i = 0; i < kFrames; ++i) p[i] = static_cast<float>((i * 37 + channel) % 401) / 200.0f - 1.0f;
  return p;
}

void BM_WriteWave16Stereo(benchmark::State& state) {
  std::vector<float> left = Plane(0), right = Plane(1);
  float* const pair[2] = {left.data(), right.data()};
  for (auto _ : state) {
    FILE* out = std::tmpfile();
    WriteWave16(out, 44100, kFrames, 2, pair);
    std::fclose(out);
  }
  state.SetBytesProcessed(state.iterations() * (44 + kFrames * 4));
}
BENCHMARK(BM_WriteWave16Stereo);

void BM_LimitPlainWriteSameBytes(benchmark::State& state) {
  std::vector<char> bytes(44 + kFrames * 4, 1);
  for (auto _ : state) {
    FILE* out = std::tmpfile();
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);
  }
  state.SetBytesProcessed(state.iterations() * bytes.size());
}
BENCHMARK(BM_LimitPlainWriteSameBytes);

}  // namespace

BENCHMARK_MAIN();
