// The file-name history kept in the file-name box's list, the open-file dialog and
// dropped files. There is no other copy of the history: the list is the history.
#include "window/history.h"

#include <commdlg.h>

#include <algorithm>
#include <memory>
#include <new>

#include "sources/source_stream.h"
#include "sources/wave_source.h"
#include "win32/narrow_text.h"
#include "win32/scoped_gdi.h"
#include "window/main_window.h"

const char kMsgNameBufferTooSmall[] = "The buffer of the file name is too small";
const char kMsgCannotGetFileNames[] = "Unable to get file names from the common dialog";

namespace {

// The dialog writes every chosen name into one buffer; this many bytes hold a few
// hundred names of ordinary length.
constexpr DWORD kChosenNamesBytes = 65536;
// A full path of this many UTF-16 units leaves no room for "\." and the terminator.
constexpr size_t kLongestInitialPath = 257;

// Entry `index` of the box's list, or false when it is 260 UTF-16 units or longer or
// cannot be fetched.
bool ReadEntry(HWND box, LRESULT index, char (&entry)[kPathCapacity]) {
  const LRESULT length = SendMessageA(box, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length == CB_ERR || length >= kPathCapacity) return false;
  return SendMessageA(box, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(entry)) != CB_ERR &&
         NarrowPathFits(entry);
}

void SendStart(HWND window) {
  EnableControl(window, IDC_START, true);
  SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_START, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(window, IDC_START)));
}

// Directory and name joined by one separator; empty when the result would not fit a
// path buffer.
std::string JoinPath(const std::string& directory, const char* name) {
  std::string path = directory;
  if (!path.empty() && path.back() != '\\') path += '\\';
  path += name;
  return path.size() < static_cast<size_t>(kPathCapacity) && NarrowPathFits(path.c_str()) ? path : std::string();
}

}  // namespace

int RememberFile(HWND box, RememberMode mode) {
  char text[kPathCapacity] = "";
  GetWindowTextA(box, text, kPathCapacity);
  if (!text[0]) return 1;
  LRESULT count = SendMessageA(box, CB_GETCOUNT, 0, 0);
  if (count == CB_ERR) return 0;
  for (LRESULT i = 0; i < count;) {
    char entry[kPathCapacity];
    if (!ReadEntry(box, i, entry) || lstrcmpiA(entry, text) != 0) {
      ++i;
      continue;
    }
    if (mode == RememberMode::kSelect) {
      SendMessageA(box, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
      return 1;
    }
    SendMessageA(box, CB_DELETESTRING, static_cast<WPARAM>(i), 0);
    --count;
  }
  if (count >= kHistoryMaxEntries) SendMessageA(box, CB_DELETESTRING, static_cast<WPARAM>(count - 1), 0);
  SendMessageA(box, CB_INSERTSTRING, 0, reinterpret_cast<LPARAM>(text));
  SendMessageA(box, CB_SETCURSEL, 0, 0);
  return 1;
}

void FitDropWidth(HWND box) {
  ScopedWindowDc dc(box);
  if (!dc.Get()) return;
  ScopedSelect font(dc.Get(), reinterpret_cast<HGDIOBJ>(SendMessageA(box, WM_GETFONT, 0, 0)));
  LONG widest = 0;
  const LRESULT count = SendMessageA(box, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    char entry[kPathCapacity];
    SIZE size{};
    if (ReadEntry(box, i, entry) && GetTextExtentPoint32A(dc.Get(), entry, lstrlenA(entry), &size)) {
      widest = std::max(widest, size.cx);
    }
  }
  const int width = widest + 2 * GetSystemMetrics(SM_CXEDGE) + GetSystemMetrics(SM_CXVSCROLL);
  SendMessageA(box, CB_SETDROPPEDWIDTH, static_cast<WPARAM>(width), 0);
}

std::string InitialDirectoryFor(const char* text) {
  char full[kPathCapacity];
  char* namePart = nullptr;
  const DWORD length = GetFullPathNameA(text, kPathCapacity, full, &namePart);
  if (length == 0 || length >= static_cast<DWORD>(kPathCapacity) || Utf16Units(full) > kLongestInitialPath) {
    return std::string();
  }
  if (namePart) *namePart = '\0';
  const size_t kept = lstrlenA(full);
  // The last character, not the last byte: a double-byte character may end in the
  // byte of a backslash.
  const char* last = kept ? CharPrevA(full, full + kept) : full;
  const bool endsInSeparator = kept && last + 1 == full + kept && (*last == '\\' || *last == '/' || *last == ':');
  std::string directory(full, kept);
  if (!endsInSeparator) directory += '\\';
  return directory + ".";
}

std::vector<std::string> ChosenFilePaths(const char* buffer, size_t capacity) {
  std::vector<std::string> parts;
  size_t at = 0;
  while (at < capacity && buffer[at]) {
    const char* start = buffer + at;
    const size_t length = strnlen(start, capacity - at);
    if (at + length >= capacity) break;  // no terminator inside the buffer
    parts.emplace_back(start, length);
    at += length + 1;
  }
  if (parts.size() <= 1) {
    if (!parts.empty() && (parts[0].size() >= static_cast<size_t>(kPathCapacity) || !NarrowPathFits(parts[0].c_str()))) {
      parts[0].clear();
    }
    return parts;
  }
  std::vector<std::string> paths;
  for (size_t i = 1; i < parts.size(); ++i) paths.push_back(JoinPath(parts[0], parts[i].c_str()));
  return paths;
}

bool TakeChosenFiles(HWND window, const std::vector<std::string>& paths) {
  if (paths.empty()) return false;
  // A name too long for a path buffer is refused as a typed one is, before the box
  // or the history changes.
  for (const std::string& path : paths) {
    if (path.empty()) {
      ShowWarning(window, kMsgUnableToOpenWave);
      return false;
    }
  }
  HWND box = GetDlgItem(window, IDC_FILE_NAME);
  for (size_t i = paths.size() - 1; i > 0; --i) {
    SetWindowTextA(box, paths[i].c_str());
    RememberFile(box, RememberMode::kMoveToTop);
  }
  SetWindowTextA(box, paths[0].c_str());
  EnableControl(window, IDC_START, true);
  return true;
}

bool BrowseFiles(HWND window) {
  std::unique_ptr<char[]> names(new (std::nothrow) char[kChosenNamesBytes]);
  if (!names) return false;
  GetDlgItemTextA(window, IDC_FILE_NAME, names.get(), kChosenNamesBytes);
  const std::string initialDirectory = InitialDirectoryFor(names.get());
  names[0] = '\0';

  OPENFILENAMEA dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = window;
  char filter[1024];
  dialog.lpstrFilter = BrowseFilter(filter, sizeof filter) ? filter : nullptr;
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = names.get();
  dialog.nMaxFile = kChosenNamesBytes;
  dialog.lpstrInitialDir = initialDirectory.empty() ? nullptr : initialDirectory.c_str();
  dialog.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_ALLOWMULTISELECT | OFN_NOCHANGEDIR |
                 OFN_HIDEREADONLY;
  if (!GetOpenFileNameA(&dialog)) {
    const DWORD error = CommDlgExtendedError();
    if (error == FNERR_BUFFERTOOSMALL) {
      ShowWarning(window, kMsgNameBufferTooSmall);
    } else if (error != 0) {
      ShowWarning(window, kMsgCannotGetFileNames);
    }
    return false;
  }
  return TakeChosenFiles(window, ChosenFilePaths(names.get(), kChosenNamesBytes));
}

void HandleDroppedFiles(HWND window, HDROP drop) {
  HWND box = GetDlgItem(window, IDC_FILE_NAME);
  const UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT i = count; i-- > 0;) {
    const UINT length = DragQueryFileA(drop, i, nullptr, 0);
    char name[kPathCapacity];
    if (length == 0 || length >= static_cast<UINT>(kPathCapacity)) continue;
    if (DragQueryFileA(drop, i, name, kPathCapacity) != length || !NarrowPathFits(name)) continue;
    SetWindowTextA(box, name);
    RememberFile(box, RememberMode::kMoveToTop);
    if (i == 0) SendStart(window);
  }
}
