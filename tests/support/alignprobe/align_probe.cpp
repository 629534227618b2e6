// A function that keeps a 16-byte SSE value in a stack slot, called from a thread
// procedure (which 32-bit Windows enters with a stack aligned to 4 bytes only).
// Built twice: trusting the stack it is handed, and as the program is built. The
// stack alignment check must find the first and pass the second.
#include <windows.h>
#include <emmintrin.h>

#include <cstdint>

namespace {

// A 16-byte local used as the memory operand of paddd, which demands alignment.
__attribute__((target("sse2"), noinline)) uint32_t SumWithSpill(const uint8_t* bytes, volatile int rounds) {
  alignas(16) uint32_t lanes[4] = {0, 0, 0, 0};
  for (int i = 0; i < rounds; ++i) {
    __m128i sum = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
    asm volatile("paddd %1, %0" : "+x"(sum) : "m"(lanes));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), sum);
  }
  volatile uint32_t* seen = lanes;
  return seen[0] + seen[1] + seen[2] + seen[3];
}

DWORD WINAPI ThreadMain(void* parameter) {
  return SumWithSpill(static_cast<const uint8_t*>(parameter), 3);
}

}  // namespace

int main() {
  static const uint8_t bytes[16] = {1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0};
  HANDLE thread = CreateThread(nullptr, 0, ThreadMain, const_cast<uint8_t*>(bytes), 0, nullptr);
  if (!thread) return 2;
  WaitForSingleObject(thread, INFINITE);
  DWORD code = 0;
  GetExitCodeThread(thread, &code);
  CloseHandle(thread);
  return code == 30 ? 0 : 1;
}
