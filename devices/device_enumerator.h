// The one place where the program creates the MMDevice enumerator. Tests replace the
// factory with a simulated endpoint; the program itself never does.
#pragma once

#include <windows.h>
#include <mmdeviceapi.h>

// Creates an enumerator object in the given server context (CLSCTX_*), or fails.
using DeviceEnumeratorFactory = HRESULT (*)(DWORD clsContext, IMMDeviceEnumerator** out);

// Through the current factory; by default CoCreateInstance of MMDeviceEnumerator.
HRESULT CreateDeviceEnumerator(DWORD clsContext, IMMDeviceEnumerator** out);

// Replaces the factory (null restores CoCreateInstance) and returns the previous one.
DeviceEnumeratorFactory SetDeviceEnumeratorFactory(DeviceEnumeratorFactory factory);
