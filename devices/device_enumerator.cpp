// The one place where the program creates the MMDevice enumerator.
#include "devices/device_enumerator.h"

#include <atomic>

namespace {

HRESULT CoCreateEnumerator(DWORD clsContext, IMMDeviceEnumerator** out) {
  return CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, clsContext,
                          __uuidof(IMMDeviceEnumerator), reinterpret_cast<void**>(out));
}

std::atomic<DeviceEnumeratorFactory> g_factory{&CoCreateEnumerator};

}  // namespace

HRESULT CreateDeviceEnumerator(DWORD clsContext, IMMDeviceEnumerator** out) {
  *out = nullptr;
  return g_factory.load()(clsContext, out);
}

DeviceEnumeratorFactory SetDeviceEnumeratorFactory(DeviceEnumeratorFactory factory) {
  return g_factory.exchange(factory ? factory : &CoCreateEnumerator);
}
