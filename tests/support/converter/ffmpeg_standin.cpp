// A stand-in for the outside converter, named ffmpeg.exe: it honours the command
// lines the player gives it. "-i source" alone describes the source (a 16-bit PCM
// stream) on its error output and ends with code 1, as the real one does.
// "-y -i source -acodec pcm_s16le target" writes the target as a 16-bit WAVE file.
// Its "compressed" input is a 16-bit PCM WAVE file under another name, copied
// through unchanged; anything else is refused with exit code 1, as is a command
// line of another shape. Like the real one it prints the source's length and its
// progress on its error output, writes the header first with placeholder sizes
// (holding the file without delete sharing), the data in ten steps, and the true
// sizes at the end. VEX_CONVERTER_DELAY_MS makes it take that long;
// VEX_CONVERTER_FAIL_AT_STEP=n makes it end with code 1 after step n of ten;
// VEX_CONVERTER_LINGER_MS keeps it running that long after its output is whole.
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

DWORD EnvironmentNumber(const char* name) {
  char text[16] = "";
  return GetEnvironmentVariableA(name, text, sizeof text) ? std::strtoul(text, nullptr, 10) : 0;
}

uint32_t U32At(const std::vector<char>& bytes, size_t at) {
  uint32_t v = 0;
  std::memcpy(&v, bytes.data() + at, 4);
  return v;
}

uint64_t LengthMs(const std::vector<char>& wave) {
  const uint32_t byteRate = U32At(wave, 28);
  return byteRate ? (wave.size() - 44) * 1000ull / byteRate : 0;
}

int Describe(const std::vector<char>& wave) {
  char text[512];
  std::snprintf(text, sizeof text,
                "Input #0, wav, from 'source':\n  Duration: %s, bitrate: 1411 kb/s\n"
                "    Stream #0:0: Audio: pcm_s16le ([1][0][0][0] / 0x0001), %u Hz, 2 channels, s16, 1411 kb/s\n"
                "At least one output file must be specified\n",
                Clock(LengthMs(wave)).c_str(), static_cast<unsigned>(U32At(wave, 24)));
  PrintError(text);
  return kRefused;
}

bool WriteAt(HANDLE out, uint32_t at, const void* bytes, uint32_t count) {
  DWORD written = 0;
  return SetFilePointer(out, static_cast<LONG>(at), nullptr, FILE_BEGIN) == at &&
         WriteFile(out, bytes, count, &written, nullptr) && written == count;
}

// Writes the header with placeholder sizes, the data in ten steps over the delay
// the test asked for with a progress line after each, then the true sizes.
int Convert(const std::vector<char>& wave, const char* target) {
  const uint64_t lengthMs = LengthMs(wave);
  const DWORD delayMs = EnvironmentNumber("VEX_CONVERTER_DELAY_MS");
  const DWORD failAt = EnvironmentNumber("VEX_CONVERTER_FAIL_AT_STEP");
  PrintError(("Input #0, wav, from 'source':\n  Duration: " + Clock(lengthMs) +
              ", bitrate: 1411 kb/s\nOutput #0, wav, to 'target':\n").c_str());
  // -y: the target may exist (the player creates it empty beforehand).
  HANDLE out = CreateFileA(target, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (out == INVALID_HANDLE_VALUE) return kRefused;
  std::vector<char> header(wave.begin(), wave.begin() + 44);
  const uint32_t unknown = 0xFFFFFFFF;
  std::memcpy(header.data() + 4, &unknown, 4);
  std::memcpy(header.data() + 40, &unknown, 4);
  bool ok = WriteAt(out, 0, header.data(), 44);
  const uint32_t data = static_cast<uint32_t>(wave.size() - 44);
  for (uint32_t step = 1; ok && step <= 10; ++step) {
    Sleep(delayMs / 10);
    const uint32_t from = data * (step - 1) / 10, to = data * step / 10;
    ok = WriteAt(out, 44 + from, wave.data() + 44 + from, to - from);
    PrintError(("size=       0kB time=" + Clock(lengthMs * step / 10) + " bitrate=1411.2kbits/s\r").c_str());
    if (step == failAt) ok = false;
  }
  PrintError("\n");
  ok = ok && WriteAt(out, 4, wave.data() + 4, 4) && WriteAt(out, 40, wave.data() + 40, 4);
  CloseHandle(out);
  Sleep(EnvironmentNumber("VEX_CONVERTER_LINGER_MS"));  // the output is whole; the process still runs
  return ok ? 0 : kRefused;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<char> bytes;
  if (argc == 3 && std::strcmp(argv[1], "-i") == 0) {
    return ReadAll(argv[2], bytes) && IsPcm16Wave(bytes) ? Describe(bytes) : kRefused;
  }
  if (argc != 7 || std::strcmp(argv[1], "-y") != 0 || std::strcmp(argv[2], "-i") != 0 ||
      std::strcmp(argv[4], "-acodec") != 0 || std::strcmp(argv[5], "pcm_s16le") != 0) {
    return kRefused;
  }
  if (!ReadAll(argv[3], bytes) || !IsPcm16Wave(bytes)) return kRefused;
  return Convert(bytes, argv[6]);
}
