// Sequential play through the file-name box's list, and its change without a gap:
// which entry comes next, the next WAVE file queued for the feeder to read on into,
// the change taken once it has been heard, and the way back to the file left.
#include "playback/sequential.h"

#include <cstdio>

#include "dsp/sample_format.h"
#include "engine/session.h"
#include "playback/playback_state.h"
#include "playback/window_hooks.h"
#include "resources/resource_ids.h"
#include "sources/file_kind.h"
#include "sources/wave_file.h"
#include "win32/scoped_lock.h"

LRESULT NextSequentialEntry(HWND window) {
  HWND box = GetDlgItem(window, IDC_FILE_NAME);
  const LRESULT count = SendMessageA(box, CB_GETCOUNT, 0, 0);
  if (count == CB_ERR || count < 2) return -1;
  const LRESULT selection = SendMessageA(box, CB_GETCURSEL, 0, 0);
  LRESULT next = selection + 1;
  if (selection == CB_ERR || next == count) {
    if (IsDlgButtonChecked(window, IDC_LOOP) != BST_CHECKED) return -1;
    next = 0;
  }
  return next;
}

void QueueFollowingWave(HWND window, PlayerSession& session) {
  PlaybackState* w = PlaybackOf(window);
  // A file the user asked for is being prepared: it is what comes next.
  if (!w || (w->preparation && !w->streaming) || w->followingTried || !session.output || !session.sourceFile ||
      session.growing || session.following.file || session.leftFile ||
      IsDlgButtonChecked(window, IDC_SEQUENTIAL) != BST_CHECKED) {
    return;
  }
  // Looked at once the feeder has less than two rings and a second left to read.
  const uint64_t soon = uint64_t{session.bufferBytes} * session.bufferCount * 2 + session.format.AvgBytesPerSec();
  if (session.remainingBytes > soon) return;
  w->followingTried = true;
  HWND box = GetDlgItem(window, IDC_FILE_NAME);
  const LRESULT next = NextSequentialEntry(window);
  if (next < 0) return;
  FollowingWave f{};
  HistoryEntry entry{};
  const LRESULT length = SendMessageA(box, CB_GETLBTEXTLEN, next, 0);
  if (length == CB_ERR || length >= kPathCapacity || SendMessageA(box, CB_GETLBTEXT, next, reinterpret_cast<LPARAM>(entry.path)) == CB_ERR) {
    return;
  }
  char name[kPartChars], extension[kPartChars];
  SplitFileName(entry.path, name, extension, kPartChars);
  if (FileKindOfExtension(extension) != FileKind::Wave) return;  // the converter or the renderer: stop and start
  HANDLE file = OpenWaveFile(entry.path, false);
  if (file == INVALID_HANDLE_VALUE) return;  // the end of play tries it and says why
  WaveSource wave;
  FileByteSource bytes(file);
  if (ReadWaveSource(bytes, wave) != WaveReadResult::Ok || !SameStreamFormat(session.format, wave.format)) {
    CloseHandle(file);
    return;
  }
  f.file = file;  // the reader left it at the data offset
  f.dataOffset = wave.dataOffset;
  f.dataSize = wave.dataSize;
  f.totalFrames = wave.totalFrames;
  entry.index = static_cast<int32_t>(next);
  w->followingEntry = entry;
  session.following = f;
}

void EnterFollowingFile(HWND window, PlayerSession& session) {
  if (!session.leftFile) return;
  // The buffer that holds the change is still out: the file left stays open until
  // it comes back (UpdatePosition closes it then).
  if (session.joinFile) CloseHandle(session.joinFile);
  session.joinFile = session.leftFile;
  session.leftFile = nullptr;
  PlaybackState* w = PlaybackOf(window);
  if (!w) return;
  w->followingTried = false;
  w->enteredEntry = w->followingEntry;
  std::snprintf(session.lastPath, sizeof session.lastPath, "%s", w->enteredEntry.path);
  ShowEnteredFile(window, session, w->enteredEntry.index, w->enteredEntry.path);
}

void GoBackToLeftFile(PlayerSession& session) {
  if (!session.leftFile) return;
  FollowingWave back{};
  back.file = session.sourceFile;
  back.dataOffset = session.dataOffset;
  back.dataSize = session.dataSize;
  back.totalFrames = session.totalFrames;
  LARGE_INTEGER to;
  to.QuadPart = back.dataOffset;
  SetFilePointerEx(back.file, to, nullptr, FILE_BEGIN);
  session.following = back;
  session.sourceFile = session.leftFile;
  session.dataOffset = session.leftDataOffset;
  session.dataSize = session.leftDataSize;
  session.totalFrames = session.leftTotalFrames;
  session.leftFile = nullptr;
}

void DropFollowingWave(PlayerSession& session) {
  if (session.following.file) CloseHandle(session.following.file);
  session.following = FollowingWave{};
}

void ApplyPlayMode(HWND window, PlayerSession& session) {
  session.loopFlag = IsLoopMode(window) ? 1 : 0;  // a single byte, written without the lock
  // The next entry is looked at again, by the rule now in force.
  ScopedLock lock(session.lock);
  DropFollowingWave(session);
  if (PlaybackState* w = PlaybackOf(window)) w->followingTried = false;
}
