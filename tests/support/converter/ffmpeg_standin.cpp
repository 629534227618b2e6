// A stand-in for the outside converter, named ffmpeg.exe: it honours the command
// line the player gives it (-y -i "source" -acodec pcm_s16le "target") and writes
// the target as a 16-bit WAVE file. Its "compressed" input is a 16-bit PCM WAVE file
// under another name, copied through unchanged; anything else is refused with exit
// code 1, as is a command line of another shape. Like the real one it prints the
// source's length and its progress on its error output; VEX_CONVERTER_DELAY_MS
// makes it take that long, in ten steps, before it writes the target.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
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

void PrintError(const char* text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
}

// "HH:MM:SS.cc" of `ms`.
std::string Clock(uint64_t ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u.%02u", static_cast<unsigned>(ms / 3600000),
                static_cast<unsigned>(ms / 60000 % 60), static_cast<unsigned>(ms / 1000 % 60),
                static_cast<unsigned>(ms % 1000 / 10));
  return text;
}

// Prints the length and ten progress lines over the delay the test asked for.
void ShowProgress(const std::vector<char>& wave) {
  const auto u32 = [&](size_t at) {
    uint32_t v = 0;
    std::memcpy(&v, wave.data() + at, 4);
    return v;
  };
  const uint32_t byteRate = u32(28);
  const uint64_t lengthMs = byteRate ? (wave.size() - 44) * 1000ull / byteRate : 0;
  char delayText[16] = "";
  const DWORD delayMs = GetEnvironmentVariableA("VEX_CONVERTER_DELAY_MS", delayText, sizeof delayText)
                            ? std::strtoul(delayText, nullptr, 10) : 0;
  PrintError(("Input #0, wav, from 'source':\n  Duration: " + Clock(lengthMs) +
              ", bitrate: 1411 kb/s\nOutput #0, wav, to 'target':\n").c_str());
  for (int step = 1; step <= 10; ++step) {
    Sleep(delayMs / 10);
    PrintError(("size=       0kB time=" + Clock(lengthMs * step / 10) + " bitrate=1411.2kbits/s\r").c_str());
  }
  PrintError("\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 7 || std::strcmp(argv[1], "-y") != 0 || std::strcmp(argv[2], "-i") != 0 ||
      std::strcmp(argv[4], "-acodec") != 0 || std::strcmp(argv[5], "pcm_s16le") != 0) {
    return kRefused;
  }
  std::vector<char> bytes;
  if (!ReadAll(argv[3], bytes) || !IsPcm16Wave(bytes)) return kRefused;
  ShowProgress(bytes);
  // -y: the target may exist (the player creates it empty beforehand).
  HANDLE out = CreateFileA(argv[6], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (out == INVALID_HANDLE_VALUE) return kRefused;
  DWORD written = 0;
  const bool ok = WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                  written == bytes.size();
  CloseHandle(out);
  return ok ? 0 : kRefused;
}
