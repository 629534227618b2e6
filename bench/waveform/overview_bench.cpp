// Speed of the waveform overview: the column reduction over a mapped one-hour
// stereo file at 44.1 kHz (16-bit, 24-bit, 32-bit float), beside a plain read of
// the same mapped bytes in the same run; on Windows also the whole overview build
// of the display control, from the load message to the builder's end.
//
// The files are written once into the temporary folder (about 2.8 GB) and kept
// for the next run; VEX_BENCH_DIR names another folder.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "waveform/overview_columns.h"

#ifdef _WIN32
#include <windows.h>

#include "dsp/wave_format.h"
#include "waveform/waveform_display.h"
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

constexpr uint32_t kRate = 44100;
constexpr uint16_t kChannels = 2;
constexpr uint32_t kFrames = kRate * 3600;  // one hour
constexpr uint32_t kDataOffset = 44;
constexpr uint32_t kColumns = 2000;         // overview points, as wide as a large strip

struct FileKind {
  const char* name;
  uint16_t tag;
  uint16_t bits;
  OverviewSampleLayout layout;
};
const FileKind kKinds[] = {
    {"pcm16", 1, 16, OverviewSampleLayout::Int16},
    {"pcm24", 1, 24, OverviewSampleLayout::Int24},
    {"float32", 3, 32, OverviewSampleLayout::Float32},
};

std::string BenchDir() {
  if (const char* dir = std::getenv("VEX_BENCH_DIR")) return dir;
#ifdef _WIN32
  char base[MAX_PATH];
  GetTempPathA(MAX_PATH, base);
  return base;
#else
  return "/tmp/";
#endif
}

void Put(std::vector<uint8_t>& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// A tone with noise, so no column is flat and branches cannot learn the data.
void WriteFile(const std::string& path, const FileKind& kind) {
  const uint32_t sampleBytes = kind.bits / 8;
  const uint32_t blockAlign = kChannels * sampleBytes;
  const uint32_t dataBytes = kFrames * blockAlign;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  std::vector<uint8_t> b;
  b.insert(b.end(), {'R', 'I', 'F', 'F'});
  Put(b, dataBytes + 36, 4);
  b.insert(b.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  Put(b, 16, 4);
  Put(b, kind.tag, 2);
  Put(b, kChannels, 2);
  Put(b, kRate, 4);
  Put(b, uint64_t{kRate} * blockAlign, 4);
  Put(b, blockAlign, 2);
  Put(b, kind.bits, 2);
  b.insert(b.end(), {'d', 'a', 't', 'a'});
  Put(b, dataBytes, 4);
  std::fwrite(b.data(), 1, b.size(), f);

  uint32_t noise = 12345;
  const uint32_t chunkFrames = 1 << 16;
  for (uint32_t done = 0; done < kFrames; done += chunkFrames) {
    b.clear();
    for (uint32_t i = done; i < done + chunkFrames && i < kFrames; ++i) {
      for (int c = 0; c < kChannels; ++c) {
        noise = noise * 1664525u + 1013904223u;
        const double v = 0.5 * std::sin(i * 0.0627 + c) * std::sin(i * 1e-5) +
                         0.1 * (static_cast<int32_t>(noise) / 2147483648.0);
        if (kind.tag == 3) {
          const float fv = static_cast<float>(v);
          uint32_t u;
          std::memcpy(&u, &fv, 4);
          Put(b, u, 4);
        } else {
          const int64_t s = std::llround(v * std::ldexp(1.0, kind.bits - 1));
          Put(b, static_cast<uint64_t>(s), static_cast<int>(sampleBytes));
        }
      }
    }
    std::fwrite(b.data(), 1, b.size(), f);
  }
  std::fclose(f);
}

uint64_t FileSize(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return 0;
  std::fseek(f, 0, SEEK_END);
#ifdef _WIN32
  const uint64_t size = static_cast<uint64_t>(_ftelli64(f));
#else
  const uint64_t size = static_cast<uint64_t>(ftello(f));
#endif
  std::fclose(f);
  return size;
}

std::string EnsureFile(const FileKind& kind) {
  const std::string path = BenchDir() + "vex_overview_" + kind.name + ".wav";
  const uint64_t want = kDataOffset + uint64_t{kFrames} * kChannels * (kind.bits / 8);
  if (FileSize(path) != want) WriteFile(path, kind);
  return path;
}

// A read-only mapping of a whole file.
class MappedFile {
 public:
  explicit MappedFile(const std::string& path) {
#ifdef _WIN32
    file_ = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file_ == INVALID_HANDLE_VALUE) return;
    LARGE_INTEGER size{};
    GetFileSizeEx(file_, &size);
    mapping_ = CreateFileMappingA(file_, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (mapping_) base_ = static_cast<const uint8_t*>(MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 0));
    if (base_) size_ = static_cast<uint64_t>(size.QuadPart);
#else
    fd_ = open(path.c_str(), O_RDONLY);
    struct stat st {};
    if (fd_ < 0 || fstat(fd_, &st) != 0) return;
    void* p = mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_SHARED, fd_, 0);
    if (p != MAP_FAILED) {
      base_ = static_cast<const uint8_t*>(p);
      size_ = static_cast<uint64_t>(st.st_size);
    }
#endif
  }
  ~MappedFile() {
#ifdef _WIN32
    if (base_) UnmapViewOfFile(base_);
    if (mapping_) CloseHandle(mapping_);
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
#else
    if (base_) munmap(const_cast<uint8_t*>(base_), static_cast<size_t>(size_));
    if (fd_ >= 0) close(fd_);
#endif
  }
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  const uint8_t* Base() const { return base_; }
  uint64_t Size() const { return size_; }

 private:
#ifdef _WIN32
  HANDLE file_ = INVALID_HANDLE_VALUE;
  HANDLE mapping_ = nullptr;
#else
  int fd_ = -1;
#endif
  const uint8_t* base_ = nullptr;
  uint64_t size_ = 0;
};

// One mapping per file for the whole run, shared by the read and the reduction,
// so both see the same pages already mapped in.
const MappedFile& MappingOf(const FileKind& kind) {
  // Keyed by layout: one file per layout.
  static std::unique_ptr<MappedFile> files[8];
  std::unique_ptr<MappedFile>& file = files[static_cast<size_t>(kind.layout)];
  if (!file) {
    file = std::make_unique<MappedFile>(EnsureFile(kind));
    // Fault every page in once, so neither figure pays for the first touch.
    uint8_t sum = 0;
    for (uint64_t i = 0; file->Base() && i < file->Size(); i += 4096) sum ^= file->Base()[i];
    benchmark::DoNotOptimize(sum);
  }
  return *file;
}

// The limit: every 8-byte word of the mapped audio data read and summed once.
void PlainRead(benchmark::State& state, const FileKind& kind) {
  const MappedFile& file = MappingOf(kind);
  if (!file.Base()) return state.SkipWithError("cannot map the file");
  const uint64_t bytes = file.Size() - kDataOffset;
  const uint8_t* data = file.Base() + kDataOffset;
  for (auto _ : state) {
    uint64_t sum = 0;
    for (uint64_t i = 0; i + 8 <= bytes; i += 8) {
      uint64_t word;
      std::memcpy(&word, data + i, 8);
      sum += word;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
  state.counters["samples/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * kFrames * kChannels,
                                                   benchmark::Counter::kIsRate);
}

// Bytes per view when the file is read the way the builder reads it.
constexpr uint64_t kViewBytes = 32u << 20;

// A read-only view of part of a file, unmapped when done.
class FileView {
 public:
#ifdef _WIN32
  FileView(HANDLE mapping, uint64_t offset, uint64_t bytes) {
    base_ = static_cast<const uint8_t*>(MapViewOfFile(mapping, FILE_MAP_READ, static_cast<DWORD>(offset >> 32),
                                                      static_cast<DWORD>(offset), static_cast<SIZE_T>(bytes)));
  }
  ~FileView() {
    if (base_) UnmapViewOfFile(base_);
  }
#else
  FileView(int fd, uint64_t offset, uint64_t bytes) : bytes_(bytes) {
    void* p = mmap(nullptr, static_cast<size_t>(bytes), PROT_READ, MAP_SHARED, fd, static_cast<off_t>(offset));
    base_ = p == MAP_FAILED ? nullptr : static_cast<const uint8_t*>(p);
  }
  ~FileView() {
    if (base_) munmap(const_cast<uint8_t*>(base_), static_cast<size_t>(bytes_));
  }
#endif
  FileView(const FileView&) = delete;
  FileView& operator=(const FileView&) = delete;
  const uint8_t* Base() const { return base_; }

 private:
  const uint8_t* base_ = nullptr;
#ifndef _WIN32
  uint64_t bytes_;
#endif
};

// The limit for a whole build: the file mapped anew, view by view as the builder
// maps it, and every word read once; page faults included.
void FreshMapRead(benchmark::State& state, const FileKind& kind) {
  const std::string path = EnsureFile(kind);
  const uint64_t size = FileSize(path);
  bool ok = true;
  for (auto _ : state) {
#ifdef _WIN32
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE source = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
#else
    const int source = open(path.c_str(), O_RDONLY);
#endif
    uint64_t sum = 0;
    for (uint64_t offset = 0; offset < size && ok; offset += kViewBytes) {
      const uint64_t bytes = size - offset < kViewBytes ? size - offset : kViewBytes;
      FileView view(source, offset, bytes);
      ok = view.Base() != nullptr;
      for (uint64_t i = 0; ok && i + 8 <= bytes; i += 8) {
        uint64_t word;
        std::memcpy(&word, view.Base() + i, 8);
        sum += word;
      }
    }
    benchmark::DoNotOptimize(sum);
#ifdef _WIN32
    CloseHandle(source);
    CloseHandle(file);
#else
    close(source);
#endif
  }
  if (!ok) state.SkipWithError("cannot map a view");
  state.counters["samples/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * kFrames * kChannels,
                                                   benchmark::Counter::kIsRate);
}

// Every column of the overview: its frames reduced and its line ends computed.
void ColumnReduction(benchmark::State& state, const FileKind& kind) {
  const MappedFile& file = MappingOf(kind);
  if (!file.Base()) return state.SkipWithError("cannot map the file");
  const uint16_t blockAlign = kChannels * (kind.bits / 8);
  OverviewSource source;
  source.data = file.Base() + kDataOffset;
  source.frameCount = kFrames;
  source.readableFrames = ReadableFrames(kFrames, file.Size() - kDataOffset, blockAlign);
  source.layout = ClassifyOverviewSamples(kind.tag, kind.bits, kChannels, blockAlign);
  source.channels = kChannels;
  source.blockAlign = blockAlign;
  for (auto _ : state) {
    int rows = 0;
    for (uint32_t x = 0; x < kColumns; ++x) {
      const ColumnLevels levels = ReduceOverviewColumn(source, OverviewColumnFrames(x, kColumns, kFrames));
      rows += OverviewColumnLines(levels, 100, false).rmsTop;
    }
    benchmark::DoNotOptimize(rows);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * uint64_t{kFrames} * blockAlign));
  state.counters["samples/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * kFrames * kChannels,
                                                   benchmark::Counter::kIsRate);
}

#ifdef _WIN32
// The whole build as the player sees it: the load message maps the file and
// starts the builder; the time runs until the builder thread has ended.
void OverviewBuild(benchmark::State& state, const FileKind& kind) {
  const std::string path = EnsureFile(kind);
  HWND control = CreateWindowExA(0, "STATIC", "", WS_POPUP | SS_OWNERDRAW, 0, 0, kColumns, 100, nullptr,
                                 nullptr, GetModuleHandleA(nullptr), nullptr);
  WaveformDisplay* display = CreateWaveformDisplay(control);
  const uint16_t blockAlign = kChannels * (kind.bits / 8);
  WaveFormat format;
  format.Allocate(kWaveFormatMinSize);
  format.SetU16(0, kind.tag);
  format.SetU16(2, kChannels);
  format.SetU32(4, kRate);
  format.SetU32(8, kRate * blockAlign);
  format.SetU16(12, blockAlign);
  format.SetU16(14, kind.bits);
  const WaveformLoadRequest request{path.c_str(), &format, kDataOffset, kFrames * blockAlign};
  bool built = true;
  LPARAM options = 0;
  for (auto _ : state) {
    // Other options than the last build's, so the image is never reused.
    options ^= kWaveformLinearRms;
    const LRESULT loaded =
        SendMessageA(control, WDM_LOADFILE, reinterpret_cast<WPARAM>(&request), options);
    if (loaded != 1 || !display->builderThread) {
      built = false;
      break;
    }
    WaitForSingleObject(display->builderThread, INFINITE);
    built = built && display->buildState == kWaveformComplete;
  }
  DestroyWaveformDisplay(display);
  DestroyWindow(control);
  if (!built) state.SkipWithError("the overview was not built");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * uint64_t{kFrames} * blockAlign));
  state.counters["samples/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * kFrames * kChannels,
                                                   benchmark::Counter::kIsRate);
}
#endif

void RegisterAll() {
  for (const FileKind& kind : kKinds) {
    const std::string name = kind.name;
    benchmark::RegisterBenchmark(("PlainRead/" + name).c_str(), PlainRead, kind)->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RegisterBenchmark(("ColumnReduction/" + name).c_str(), ColumnReduction, kind)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark(("FreshMapRead/" + name).c_str(), FreshMapRead, kind)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
#ifdef _WIN32
    benchmark::RegisterBenchmark(("OverviewBuild/" + name).c_str(), OverviewBuild, kind)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
#endif
  }
}

}  // namespace

int main(int argc, char** argv) {
  RegisterAll();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
