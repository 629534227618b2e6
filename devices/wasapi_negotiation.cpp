// The text of an exclusive-mode format search.
#include "devices/wasapi_negotiation.h"

#include <cstdarg>
#include <cstdio>

namespace {

struct ResultRow {
  uint32_t result;
  const char* name;
};

// The answers Initialize gives in practice, by value: this file includes no system
// header.
constexpr ResultRow kResultNames[] = {
    {0x00000000u, "S_OK"},
    {0x00000001u, "S_FALSE"},
    {0x80004005u, "E_FAIL"},
    {0x80070057u, "E_INVALIDARG"},
    {0x8007000Eu, "E_OUTOFMEMORY"},
    {0x80004003u, "E_POINTER"},
    {0x88890002u, "AUDCLNT_E_ALREADY_INITIALIZED"},
    {0x88890004u, "AUDCLNT_E_DEVICE_INVALIDATED"},
    {0x88890005u, "AUDCLNT_E_NOT_STOPPED"},
    {0x88890008u, "AUDCLNT_E_UNSUPPORTED_FORMAT"},
    {0x8889000Au, "AUDCLNT_E_DEVICE_IN_USE"},
    {0x8889000Bu, "AUDCLNT_E_BUFFER_OPERATION_PENDING"},
    {0x8889000Eu, "AUDCLNT_E_EXCLUSIVE_MODE_NOT_ALLOWED"},
    {0x88890010u, "AUDCLNT_E_ENDPOINT_CREATE_FAILED"},
    {0x88890016u, "AUDCLNT_E_BUFFER_SIZE_ERROR"},
    {0x88890017u, "AUDCLNT_E_CPUUSAGE_EXCEEDED"},
    {0x88890019u, "AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED"},
    {0x88890020u, "AUDCLNT_E_INVALID_DEVICE_PERIOD"},
};

// Appends like snprintf at `used`; the text stays terminated when it is cut.
void Append(char* text, size_t size, size_t& used, const char* format, ...) __attribute__((format(printf, 4, 5)));
void Append(char* text, size_t size, size_t& used, const char* format, ...) {
  if (used + 1 >= size) return;
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(text + used, size - used, format, args);
  va_end(args);
  if (n < 0) return;
  used = used + static_cast<size_t>(n) < size ? used + static_cast<size_t>(n) : size - 1;
}

}  // namespace

const char* AudioResultName(int32_t result) {
  for (const ResultRow& row : kResultNames) {
    if (row.result == static_cast<uint32_t>(result)) return row.name;
  }
  return nullptr;
}

void FormatNegotiation(char* text, size_t size, const NegotiationLog& log) {
  if (size == 0) return;
  text[0] = '\0';
  size_t used = 0;
  if (log.count == 0) {
    Append(text, size, used, "No format negotiated: wave-out takes the file's own format.");
    return;
  }
  Append(text, size, used, "Exclusive-mode formats offered at %u Hz:", log.sampleRate);
  bool chosen = false;
  for (uint32_t i = 0; i < log.count; ++i) {
    const FormatAttempt& a = log.attempts[i];
    Append(text, size, used, "\r\n%u in %u bits, %u ch: ", a.validBits, a.containerBits, a.channels);
    const char* name = AudioResultName(a.result);
    if (name) {
      Append(text, size, used, "%s", name);
    } else {
      Append(text, size, used, "0x%08X", static_cast<unsigned>(a.result));
    }
    // Only exactly S_OK opens an exclusive stream; S_FALSE does not.
    if (a.result == 0) {
      Append(text, size, used, " (chosen)");
      chosen = true;
    }
  }
  if (!chosen) Append(text, size, used, "\r\nNo format was accepted.");
}
