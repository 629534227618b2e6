// Replays a fuzz corpus through the target without libFuzzer: every file of the
// folders (or the files) named on the command line is fed once. Exits non-zero
// when the corpus is missing or empty, so a lost corpus cannot pass silently.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

static bool Replay(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  return true;
}

int main(int argc, char** argv) {
  size_t replayed = 0;
  for (int i = 1; i < argc; ++i) {
    std::error_code ec;
    const fs::path path(argv[i]);
    if (fs::is_directory(path, ec)) {
      for (const fs::directory_entry& e : fs::directory_iterator(path, ec)) {
        if (e.is_regular_file() && Replay(e.path())) ++replayed;
      }
    } else if (Replay(path)) {
      ++replayed;
    }
  }
  std::printf("replayed %zu inputs\n", replayed);
  return replayed ? 0 : 1;
}
