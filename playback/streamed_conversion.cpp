// A converted file that plays while its converter still writes it: the overview
// drawn again as the file grows, and the converter's end, which gives the file its
// true length or, on failure, stops playback.
#include "playback/streamed_conversion.h"

#include <cstdio>

#include "engine/session.h"
#include "playback/open_and_start.h"
#include "playback/stop.h"
#include "playback/window_hooks.h"
#include "sources/file_kind.h"
#include "sources/growing_file.h"
#include "sources/preparation.h"
#include "sources/wave_file.h"

namespace {

// While a converter writes, the overview is first drawn when a sixteenth of the
// source's length has been written, then again each time the part written has
// doubled: the file is read about twice over in all, not once per step.
constexpr uint32_t kOverviewFirstPart = 16;

}  // namespace

int FinishStreamedConversion(HWND window, PlayerSession& session, bool succeeded, const PreparationRequest& request) {
  if (!session.growing || !session.sourceFile) return 0;
  if (!succeeded) {
    StopPlayback(window, session);
    SetStatus(window, kStatusConversionFailed);
    return 0;
  }
  // The converter is gone: the file can now be marked to go with its last handle.
  LARGE_INTEGER position{}, none{};
  SetFilePointerEx(session.sourceFile, none, &position, FILE_CURRENT);
  HANDLE reopened = OpenWaveFile(request.target, true);
  uint32_t dataSize = WrittenDataBytes(session.sourceFile, session.format, session.dataOffset);
  if (reopened != INVALID_HANDLE_VALUE) {
    WaveSource wave;
    FileByteSource bytes(reopened);
    if (ReadWaveSource(bytes, wave) == WaveReadResult::Ok && wave.dataOffset == session.dataOffset &&
        wave.dataSize < dataSize) {
      dataSize = wave.dataSize - wave.dataSize % session.format.BlockAlign();  // the header's true size
    }
    SetFilePointerEx(reopened, position, nullptr, FILE_BEGIN);
    CloseHandle(session.sourceFile);
    session.sourceFile = reopened;
  } else {
    DeleteFileA(request.target);  // the handle shares deletion: the file goes when it is closed
  }
  const uint32_t read = session.dataSize - session.remainingBytes;
  session.dataSize = dataSize;
  session.remainingBytes = dataSize > read ? dataSize - read : 0;
  session.totalFrames = TotalFrames(session.format, dataSize);
  session.growing = 0;
  session.awaitingData = 0;
  SetEvent(session.bufferDoneEvent);
  char name[kPartChars], extension[kPartChars];
  SplitFileName(request.source, name, extension, kPartChars);
  ShowFormatLine(window, session, false, 0, extension);
  ShowFileLength(window, session);
  LoadOverviewOutsideTheLock(window, request.target);
  SetStatus(window, kStatusConverted);
  return 1;
}

uint32_t RefreshStreamedOverview(HWND window, PlayerSession& session, const char* path, uint32_t shownBytes) {
  if (!session.growing || !session.sourceFile) return shownBytes;
  const uint32_t written = WrittenDataBytes(session.sourceFile, session.format, session.dataOffset);
  const uint32_t step = shownBytes > session.dataSize / kOverviewFirstPart ? shownBytes : session.dataSize / kOverviewFirstPart;
  if (written < shownBytes || written - shownBytes < step) return shownBytes;
  LoadOverviewOutsideTheLock(window, path);
  return written;
}
