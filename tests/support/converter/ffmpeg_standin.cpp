// A stand-in for the outside converter, named ffmpeg.exe: it honours the command
// line the player gives it (-y -i "source" -acodec pcm_s16le "target") and writes
// the target as a 16-bit WAVE file. Its "compressed" input is a 16-bit PCM WAVE file
// under another name, copied through unchanged; anything else is refused with exit
// code 1, as is a command line of another shape.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kRefused = 1;

bool ReadAll(const std::string& path, std::vector<char>& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const DWORD size = GetFileSize(file, nullptr);
  bytes.resize(size);
  DWORD read = 0;
  const bool ok = size == INVALID_FILE_SIZE ? false : ReadFile(file, bytes.data(), size, &read, nullptr) && read == size;
  CloseHandle(file);
  return ok;
}

// A RIFF/WAVE file whose first chunk is a 16-bit PCM `fmt `.
bool IsPcm16Wave(const std::vector<char>& b) {
  if (b.size() < 36 || std::memcmp(b.data(), "RIFF", 4) != 0 || std::memcmp(b.data() + 8, "WAVE", 4) != 0 ||
      std::memcmp(b.data() + 12, "fmt ", 4) != 0) {
    return false;
  }
  const auto u16 = [&](size_t at) { return static_cast<unsigned>(static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8); };
  return u16(20) == 1 && u16(34) == 16;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 7 || std::strcmp(argv[1], "-y") != 0 || std::strcmp(argv[2], "-i") != 0 ||
      std::strcmp(argv[4], "-acodec") != 0 || std::strcmp(argv[5], "pcm_s16le") != 0) {
    return kRefused;
  }
  std::vector<char> bytes;
  if (!ReadAll(argv[3], bytes) || !IsPcm16Wave(bytes)) return kRefused;
  // -y: the target may exist (the player creates it empty beforehand).
  HANDLE out = CreateFileA(argv[6], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (out == INVALID_HANDLE_VALUE) return kRefused;
  DWORD written = 0;
  const bool ok = WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                  written == bytes.size();
  CloseHandle(out);
  return ok ? 0 : kRefused;
}
