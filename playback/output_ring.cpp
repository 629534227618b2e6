// The output and its ring of buffers: opening the device selected in the box for
// the session's format, handing the feeder the prepared, free buffers, giving them
// all back after a seek, and closing it all again. The caller holds the session lock.
#include "playback/output_ring.h"

#include <cstdio>
#include <cstring>

#include "devices/output_devices.h"
#include "dsp/sample_format.h"
#include "engine/output_handle.h"
#include "engine/session.h"
#include "playback/playback_rules.h"
#include "playback/window_hooks.h"
#include "resources/resource_ids.h"
#include "settings/settings_rules.h"

namespace {

constexpr uint32_t kHeaderBytes = sizeof(WAVEHDR);

// Allocates, prepares and frees for the feeder one buffer of the ring. 0 after a
// failure has been reported (the caller stops playback first where required).
enum class BufferResult { Ok, NoMemory, PrepareFailed };

BufferResult AddBuffer(HWND window, PlayerSession& session, uint32_t i, uint32_t* error) {
  session.headerBlocks[i] = GlobalAlloc(GMEM_MOVEABLE | GMEM_SHARE, kHeaderBytes);
  if (!session.headerBlocks[i]) return BufferResult::NoMemory;
  session.headers[i] = static_cast<WAVEHDR*>(GlobalLock(session.headerBlocks[i]));
  if (!session.headers[i]) return BufferResult::NoMemory;
  std::memset(session.headers[i], 0, kHeaderBytes);
  session.bufferBlocks[i] = GlobalAlloc(GMEM_MOVEABLE | GMEM_SHARE, session.bufferBytes);
  if (!session.bufferBlocks[i]) return BufferResult::NoMemory;
  void* data = GlobalLock(session.bufferBlocks[i]);
  if (!data) return BufferResult::NoMemory;
  session.headers[i]->lpData = static_cast<LPSTR>(data);
  session.headers[i]->dwBufferLength = session.bufferBytes;
  SetStatus(window, "Calling waveOutPrepareHeader()");
  *error = session.output ? OutputPrepare(session.output, session.headers[i]) : MMSYSERR_INVALHANDLE;
  if (*error != MMSYSERR_NOERROR) return BufferResult::PrepareFailed;
  SetStatus(window, "waveOutPrepareHeader() is OK");
  session.headers[i]->dwFlags |= WHDR_DONE;
  ++session.pendingCount;
  SetEvent(session.bufferDoneEvent);
  return BufferResult::Ok;
}

// Unprepares and frees every slot of the ring that holds a block.
void ReleaseBuffers(PlayerSession& session) {
  for (uint32_t i = 0; i < kMaxOutputBuffers; ++i) {
    if (!session.headerBlocks[i]) continue;
    WAVEHDR* header = session.headers[i];
    if (header && (header->dwFlags & WHDR_PREPARED) && session.output) {
      OutputUnprepare(session.output, header);
    }
    if (session.bufferBlocks[i]) {
      if (header && header->lpData) {
        GlobalUnlock(session.bufferBlocks[i]);
        header->lpData = nullptr;
      }
      GlobalFree(session.bufferBlocks[i]);
      session.bufferBlocks[i] = nullptr;
    }
    if (header) GlobalUnlock(session.headerBlocks[i]);
    GlobalFree(session.headerBlocks[i]);
    session.headerBlocks[i] = nullptr;
    session.headers[i] = nullptr;
  }
}

}  // namespace

void PurgeMessages(HWND window, UINT first, UINT last) {
  MSG message;
  while (PeekMessageA(&message, window, first, last, PM_REMOVE)) {
  }
}

// Gives every buffer of the ring back to the feeder, from the first.
void HandAllBuffersOver(PlayerSession& session) {
  session.bytesQueued = 0;
  session.ringIndex = 0;
  session.pendingCount = 0;
  for (uint32_t i = 0; i < session.bufferCount; ++i) {
    session.bufferFileSerial[i] = 0;
    if (!session.headers[i]) continue;
    session.headers[i]->dwFlags |= WHDR_DONE;
    ++session.pendingCount;
    SetEvent(session.bufferDoneEvent);
  }
}

// The device index of the selected entry, found again by its display name: the
// list may have changed since the box was filled.
uint32_t SelectedDeviceIndex(HWND window) {
  HWND box = GetDlgItem(window, IDC_DEVICE);
  const LRESULT selection = SendMessageA(box, CB_GETCURSEL, 0, 0);
  const uint32_t stored = static_cast<uint32_t>(SendMessageA(box, CB_GETITEMDATA, selection, 0));
  if (stored == kWaveMapperIndex || selection == CB_ERR) return stored;
  wchar_t text[kDisplayNameChars] = L"";
  const LRESULT length = SendMessageW(box, CB_GETLBTEXTLEN, selection, 0);
  if (length <= 0 || length >= static_cast<LRESULT>(kDisplayNameChars)) return stored;
  SendMessageW(box, CB_GETLBTEXT, selection, reinterpret_cast<LPARAM>(text));
  const uint32_t total = WasapiDeviceCount() + waveOutGetNumDevs();
  for (uint32_t i = 0; i < total; ++i) {
    OutputDeviceCaps caps;
    if (GetOutputDeviceCaps(i, &caps) == MMSYSERR_NOERROR && lstrcmpW(caps.displayName, text) == 0) {
      return i;
    }
  }
  return stored;
}

OutputOpening OpenOutputRing(HWND window, PlayerSession& session, uint32_t device, uint32_t* error,
                             char* caption, size_t captionBytes) {
  ResetEvent(session.bufferDoneEvent);
  OutputDeviceCaps caps;
  if (GetOutputDeviceCaps(device, &caps) != MMSYSERR_NOERROR) caps.displayName[0] = L'\0';
  char deviceName[2 * kDisplayNameChars];
  NarrowDeviceName(caps.displayName, deviceName, sizeof deviceName);
  char openText[sizeof deviceName + 32];
  std::snprintf(openText, sizeof openText, "Calling waveOutOpen('%s')", deviceName);
  SetStatus(window, openText);
  const uint16_t tag = PlainTwinTag(session.format);
  DWORD flags = CALLBACK_EVENT;
  if (tag != kFormatTagPcm && tag != kFormatTagFloat) flags |= WAVE_MAPPED;
  OutputHandle* output = nullptr;
  *error = OutputOpen(&output, device, session.format, reinterpret_cast<DWORD_PTR>(session.bufferDoneEvent), flags);
  if (*error != MMSYSERR_NOERROR) {
    char failed[sizeof deviceName + 32];
    std::snprintf(failed, sizeof failed, "waveOutOpen('%s')", deviceName);
    SetStatus(window, failed);
    if (caption && captionBytes) lstrcpynA(caption, failed, static_cast<int>(captionBytes));
    return OutputOpening::OpenFailed;
  }
  session.output = output;
  if (session.paused) OutputPause(output);  // a pause made while the device was away
  SetStatus(window, openText);

  BOOL isNumber = FALSE;
  const UINT lengthField = GetDlgItemInt(window, IDC_BUFFER_LENGTH, &isNumber, FALSE);
  const uint32_t ms = ClampBufferMilliseconds(isNumber != FALSE, lengthField);
  session.bufferBytes = BufferBytes(session.format.AvgBytesPerSec(), session.format.BlockAlign(), ms);
  const UINT countField = GetDlgItemInt(window, IDC_BUFFER_COUNT, &isNumber, FALSE);
  session.bufferCount = ClampBufferCount(isNumber != FALSE, countField);
  session.ringIndex = 0;
  session.pendingCount = 0;
  session.bytesQueued = 0;
  for (uint32_t& serial : session.bufferFileSerial) serial = 0;
  // A size that does not fit in 32 bits is no more to be had than a failed allocation.
  BufferResult result = session.bufferBytes ? BufferResult::Ok : BufferResult::NoMemory;
  for (uint32_t i = 0; i < session.bufferCount && result == BufferResult::Ok; ++i) {
    result = AddBuffer(window, session, i, error);
  }
  if (result == BufferResult::Ok) return OutputOpening::Ok;
  CloseOutput(window, session);
  return result == BufferResult::NoMemory ? OutputOpening::NoMemory : OutputOpening::PrepareFailed;
}

void CloseOutput(HWND window, PlayerSession& session) {
  if (session.output) {
    OutputReset(session.output);
    PurgeMessages(window, MM_WOM_DONE, MM_WOM_DONE);
  }
  ReleaseBuffers(session);
  if (session.output) {
    if (OutputClose(session.output) == MMSYSERR_NOERROR) {
      SetStatus(window, "waveOutClose() is OK");
    } else {
      SetStatus(window, "ERROR !!! waveOutClose()");
    }
    session.output = nullptr;
  }
}
