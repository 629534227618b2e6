// Throughput of the conversion kernels and the volume gain, each beside memcpy of
// the same traffic (input plus output bytes) measured in the same run, on a buffer
// that stays in cache (64 KiB) and one that does not (64 MiB).
//
// Counters: samples/s = destination samples per second; vs_memcpy = kernel speed
// divided by memcpy speed over the same bytes (1.0 means as fast as memcpy). Each
// iteration times one kernel run and then one memcpy, so both see the same load on
// a shared machine.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "dsp/convert.h"
#include "dsp/gain.h"
#include "dsp/wave_format.h"

namespace {

constexpr size_t kInCache = 64 << 10;
constexpr size_t kInMemory = 64 << 20;

using Clock = std::chrono::steady_clock;

SampleFormat Layout(SampleKind kind, uint32_t channels) {
  SampleFormat f;
  f.sampleRate = 48000;
  f.channels = channels;
  f.isFloat = kind == SampleKind::Float32;
  f.containerBits = static_cast<uint16_t>(SampleKindBytes(kind) * 8);
  f.validBits = f.containerBits;
  f.blockAlign = channels * SampleKindBytes(kind);
  return f;
}

const char* Name(SampleKind kind) {
  switch (kind) {
    case SampleKind::UInt8: return "UInt8";
    case SampleKind::Int16: return "Int16";
    case SampleKind::Int24: return "Int24";
    case SampleKind::Int32: return "Int32";
    case SampleKind::Float32: return "Float32";
    default: return "?";
  }
}

// Plausible audio: floats within ±1.0, integers of any value. A plain xorshift
// keeps filling 64 MiB cheap under an emulator too.
void FillSource(std::vector<uint8_t>& buffer, SampleKind kind) {
  uint32_t state = 2463534242u;
  for (size_t i = 0; i + 4 <= buffer.size(); i += 4) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    if (kind == SampleKind::Float32) {
      const float f = static_cast<float>(static_cast<int32_t>(state)) / 2147483648.0f;
      std::memcpy(&buffer[i], &f, 4);
    } else {
      std::memcpy(&buffer[i], &state, 4);
    }
  }
}

// memcpy of the same traffic as a kernel run: half the bytes read, half written.
class MemcpyReference {
 public:
  explicit MemcpyReference(size_t trafficBytes) : from_(trafficBytes / 2, 1), to_(trafficBytes / 2, 2) {
    Run();  // fault the pages in first
    seconds_ = 0;
  }
  void Run() {
    const auto start = Clock::now();
    std::memcpy(to_.data(), from_.data(), from_.size());
    benchmark::DoNotOptimize(to_.data());
    benchmark::ClobberMemory();
    seconds_ += std::chrono::duration<double>(Clock::now() - start).count();
  }
  double Seconds() const { return seconds_; }

 private:
  std::vector<uint8_t> from_, to_;
  double seconds_ = 0;
};

void Report(benchmark::State& state, double kernelSeconds, const MemcpyReference& reference,
            size_t trafficBytes, double samples) {
  state.counters["samples/s"] = benchmark::Counter(samples * state.iterations() / kernelSeconds);
  state.counters["vs_memcpy"] = reference.Seconds() / kernelSeconds;
  state.SetBytesProcessed(static_cast<int64_t>(trafficBytes) * state.iterations());
}

// The larger of the two buffers holds `size` bytes.
void Convert(benchmark::State& state, SampleKind from, uint32_t sourceChannels, SampleKind to,
             uint32_t destinationChannels, size_t size) {
  const SampleFormat sf = Layout(from, sourceChannels), df = Layout(to, destinationChannels);
  const uint32_t frames = static_cast<uint32_t>(size / std::max(sf.blockAlign, df.blockAlign));
  std::vector<uint8_t> source(size_t{frames} * sf.blockAlign), destination(size_t{frames} * df.blockAlign);
  FillSource(source, from);
  ConvertSamples(destination.data(), frames, sf, source.data(), df);
  const size_t traffic = source.size() + destination.size();
  MemcpyReference reference(traffic);
  double seconds = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    ConvertSamples(destination.data(), frames, sf, source.data(), df);
    benchmark::ClobberMemory();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    seconds += elapsed;
    state.SetIterationTime(elapsed);
    reference.Run();
  }
  Report(state, seconds, reference, traffic, double(frames) * destinationChannels);
}

struct GainRowCase {
  const char* name;
  uint16_t tag;
  uint16_t bits;
};

void Gain(benchmark::State& state, GainRowCase row, size_t size) {
  WaveFormat format;
  format.Allocate(kWaveFormatMinSize);
  const uint16_t blockAlign = static_cast<uint16_t>(2 * row.bits / 8);
  format.SetU16(0, row.tag);
  format.SetU16(2, 2);
  format.SetU32(4, 48000);
  format.SetU32(8, 48000u * blockAlign);
  format.SetU16(12, blockAlign);
  format.SetU16(14, row.bits);
  const uint32_t length = static_cast<uint32_t>(size / blockAlign * blockAlign);
  std::vector<uint8_t> buffer(length);
  FillSource(buffer, row.tag == kFormatTagFloat && row.bits == 32 ? SampleKind::Float32 : SampleKind::UInt8);
  if (row.tag == kFormatTagFloat && row.bits == 64) {
    for (size_t i = 0; i + 8 <= buffer.size(); i += 8) {
      const double d = (static_cast<double>(i % 2001) - 1000.0) / 1000.0;
      std::memcpy(&buffer[i], &d, 8);
    }
  }
  // Halving and doubling in turn keeps floats normal and integers moving.
  const double gains[2] = {0.5, 2.0};
  MemcpyReference reference(2 * size_t{length});
  double seconds = 0;
  int64_t n = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    ApplyGain(gains[n++ & 1], format, buffer.data(), length);
    benchmark::ClobberMemory();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    seconds += elapsed;
    state.SetIterationTime(elapsed);
    reference.Run();
  }
  Report(state, seconds, reference, 2 * size_t{length}, double(length) / (row.bits / 8));
}

std::string SizeName(size_t size) { return size == kInCache ? "64KiB" : "64MiB"; }

void RegisterAll() {
  const SampleKind kinds[] = {SampleKind::UInt8, SampleKind::Int16, SampleKind::Int24, SampleKind::Int32,
                              SampleKind::Float32};
  struct Mapping {
    uint32_t from, to;
  };
  const Mapping mappings[] = {{1, 2}, {2, 1}, {2, 6}, {6, 2}};
  for (size_t size : {kInCache, kInMemory}) {
    for (SampleKind from : kinds) {
      for (SampleKind to : kinds) {
        const std::string name = std::string("Convert/") + Name(from) + "->" + Name(to) + "/2ch->2ch/" + SizeName(size);
        benchmark::RegisterBenchmark(name.c_str(), Convert, from, 2u, to, 2u, size)->UseManualTime();
      }
    }
    for (SampleKind from : {SampleKind::Int16, SampleKind::Float32}) {
      for (SampleKind to : {SampleKind::Int16, SampleKind::Int24, SampleKind::Int32}) {
        for (Mapping m : mappings) {
          const std::string name = std::string("Convert/") + Name(from) + "->" + Name(to) + "/" +
                                   std::to_string(m.from) + "ch->" + std::to_string(m.to) + "ch/" + SizeName(size);
          benchmark::RegisterBenchmark(name.c_str(), Convert, from, m.from, to, m.to, size)->UseManualTime();
        }
      }
    }
    const GainRowCase rows[] = {{"UInt8", kFormatTagPcm, 8},     {"Int16", kFormatTagPcm, 16},
                                {"Int24", kFormatTagPcm, 24},    {"Int32", kFormatTagPcm, 32},
                                {"Float32", kFormatTagFloat, 32}, {"Float64", kFormatTagFloat, 64}};
    for (const GainRowCase& row : rows) {
      const std::string name = std::string("ApplyGain/") + row.name + "/" + SizeName(size);
      benchmark::RegisterBenchmark(name.c_str(), Gain, row, size)->UseManualTime();
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  RegisterAll();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
