// The file-name box's history (its drop-down list, newest first, at most 64 entries)
// and the two other ways names come into the box: the open-file dialog and files
// dropped on the main window.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "settings/settings_rules.h"

// The history's capacity (kHistoryMaxEntries) and the path buffers' (kPathCapacity)
// come from settings/settings_rules.h: the settings save and load the same entries.
static_assert(kPathUnits == MAX_PATH, "paths are limited as the system limits them");

enum class RememberMode {
  kSelect,     // an equal entry is selected and the list keeps its order
  kMoveToTop,  // every equal entry goes and the text is put on top
};

// Puts the box's edit text into its list by `mode` (names compare without regard to
// letter case; entries of 260 or more UTF-16 units are passed over). 1, or 0 when the
// list cannot be read.
int RememberFile(HWND box, RememberMode mode);

// Sets the combo box's drop-down width to its widest entry in the box's font, plus
// the 3-D edges and a vertical scroll bar.
void FitDropWidth(HWND box);

// Lets the user choose files in the open-file dialog. True when the file-name box now
// holds a chosen file; several chosen files are put into the history before it.
bool BrowseFiles(HWND window);

// Takes the dropped names, last to first, into the file-name box and its history and
// starts the first one. The caller finishes the drop.
void HandleDroppedFiles(HWND window, HDROP drop);

// What the multiple-selection open-file dialog left in its buffer: one full path, or a
// directory followed by names, each ending in a zero, the list ending in one more.
// Returns the chosen files' full paths in the dialog's order; a path that would reach
// 260 UTF-16 units comes back empty.
std::vector<std::string> ChosenFilePaths(const char* buffer, size_t capacity);

// Applies the dialog's result to the window: every file but the first is put into the
// history from the last to the first, then the first becomes the box's text. True
// when the box then holds text. A name too long to use (an empty path) is refused
// with a warning box, and nothing changes.
bool TakeChosenFiles(HWND window, const std::vector<std::string>& paths);

// The initial directory for the dialog from the box's text: the text's full path
// without its file name, with a separator and "." appended; empty when there is none.
std::string InitialDirectoryFor(const char* text);

extern const char kMsgNameBufferTooSmall[];  // "The buffer of the file name is too small"
extern const char kMsgCannotGetFileNames[];  // "Unable to get file names from the common dialog"
