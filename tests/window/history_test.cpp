// The file-name history under Wine: a real combo box of the main window's template,
// real WM_DROPFILES drops and the real open-file dialog.
#include "window/history.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/player_dialog.h"
#include "support/temp_dir.h"

namespace {

using Names = std::vector<std::string>;

std::wstring Wide(const std::string& utf8) {
  std::wstring wide(utf8.size() + 1, L'\0');
  wide.resize(MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &wide[0], static_cast<int>(wide.size())) - 1);
  return wide;
}

// A UTF-8 name as this process's code page has it: whole in UTF-8, with '?' for
// what another page lacks.
std::string InThisCodePage(const std::string& utf8) {
  const std::wstring wide = Wide(utf8);
  std::string narrow(4 * wide.size() + 1, '\0');
  narrow.resize(WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, &narrow[0], static_cast<int>(narrow.size()),
                                    nullptr, nullptr) - 1);
  return narrow;
}

// A drop the way the shell makes one: a DROPFILES header and the names, each ending in
// a zero, the list in one more; narrow names as they are, or wide ones (UTF-16 from
// the UTF-8 given), as the shell of every NT system drops them. The window takes
// ownership with the message.
void PostDrop(HWND window, const Names& names, bool wide = false) {
  size_t bytes = sizeof(DROPFILES) + sizeof(wchar_t);
  for (const std::string& n : names) bytes += (wide ? Wide(n).size() * sizeof(wchar_t) : n.size()) + sizeof(wchar_t);
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
  auto* header = static_cast<DROPFILES*>(GlobalLock(memory));
  header->pFiles = sizeof(DROPFILES);
  header->fWide = wide ? TRUE : FALSE;
  char* at = reinterpret_cast<char*>(header + 1);
  for (const std::string& n : names) {
    if (wide) {
      const std::wstring w = Wide(n);
      std::memcpy(at, w.c_str(), (w.size() + 1) * sizeof(wchar_t));
      at += (w.size() + 1) * sizeof(wchar_t);
    } else {
      std::memcpy(at, n.c_str(), n.size() + 1);
      at += n.size() + 1;
    }
  }
  GlobalUnlock(memory);
  PostMessageA(window, WM_DROPFILES, reinterpret_cast<WPARAM>(memory), 0);
}

// Names in four scripts, in UTF-8.
const std::string kCafe = "C:\\m\\Caf\xC3\xA9 M\xC3\xBCller.wav";
const std::string kJapanese = "C:\\m\\\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE\xE6\x9B\xB2.wav";  // 日本語の曲
const std::string kKorean = "C:\\m\\\xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4 \xEB\x85\xB8\xEB\x9E\x98.wav";  // 한국어 노래
const std::string kEmoji = "C:\\m\\Song \xF0\x9F\x8E\xB5.wav";

void Pump() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

Names Numbered(const char* prefix, int count) {
  Names names;
  for (int i = 0; i < count; ++i) names.push_back(prefix + std::to_string(i) + ".wav");
  return names;
}

TEST(RememberFileTest, SelectKeepsTheOrderAndMoveToTopRaisesTheName) {
  const std::string longEntry = "C:\\" + std::string(257, 'x');  // 260 characters
  struct Case {
    const char* what;
    Names before;
    std::string text;
    RememberMode mode;
    Names after;
    int selected;
  };
  const Case cases[] = {
      {"playing a middle entry keeps the order", {"a.wav", "b.wav", "c.wav"}, "b.wav", RememberMode::kSelect,
       {"a.wav", "b.wav", "c.wav"}, 1},
      {"browsing to a listed file raises it", {"a.wav", "b.wav", "c.wav"}, "c.wav", RememberMode::kMoveToTop,
       {"c.wav", "a.wav", "b.wav"}, 0},
      {"select finds an entry of other letter case", {"a.wav", "B.WAV"}, "b.wav", RememberMode::kSelect,
       {"a.wav", "B.WAV"}, 1},
      {"move-to-top replaces an entry of other letter case", {"a.wav", "B.WAV"}, "b.wav",
       RememberMode::kMoveToTop, {"b.wav", "a.wav"}, 0},
      {"every equal entry goes", {"x.wav", "a.wav", "X.wav"}, "x.wav", RememberMode::kMoveToTop,
       {"x.wav", "a.wav"}, 0},
      {"a new name in select mode goes on top", {"a.wav"}, "n.wav", RememberMode::kSelect, {"n.wav", "a.wav"}, 0},
      {"an empty text changes nothing", {"a.wav", "b.wav"}, "", RememberMode::kMoveToTop, {"a.wav", "b.wav"}, -1},
      {"an entry of 260 characters is passed over", {longEntry}, longEntry.substr(0, 259),
       RememberMode::kSelect, {longEntry.substr(0, 259), longEntry}, 0},
  };
  PlayerDialog dialog;
  ASSERT_TRUE(dialog.Window());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    dialog.SetHistory(c.before);
    SetWindowTextA(dialog.Box(), c.text.c_str());
    EXPECT_EQ(RememberFile(dialog.Box(), c.mode), 1);
    EXPECT_EQ(dialog.History(), c.after);
    EXPECT_EQ(SendMessageA(dialog.Box(), CB_GETCURSEL, 0, 0), c.selected);
  }
}

TEST(RememberFileTest, SixtyFourEntriesDropTheOldest) {
  PlayerDialog dialog;
  const Names full = Numbered("old", kHistoryMaxEntries);
  dialog.SetHistory(full);
  SetWindowTextA(dialog.Box(), "new.wav");
  ASSERT_EQ(RememberFile(dialog.Box(), RememberMode::kMoveToTop), 1);
  Names expected{"new.wav"};
  expected.insert(expected.end(), full.begin(), full.end() - 1);
  EXPECT_EQ(dialog.History(), expected);
}

TEST(DroppedFilesTest, ListedInDropOrderAndTheFirstPlays) {
  TempDir dir;
  const std::string tooLong = dir.Path() + "\\" + std::string(300 - dir.Path().size(), 'z') + ".wav";
  // 200 Japanese characters: 600 bytes in UTF-8, but a path the system takes.
  std::string longJapanese = "C:\\";
  for (int i = 0; i < 200; ++i) longJapanese += "\xE6\x9B\xB2";
  longJapanese += ".wav";
  const std::string cafe = InThisCodePage(kCafe), japanese = InThisCodePage(kJapanese);
  const std::string korean = InThisCodePage(kKorean), emoji = InThisCodePage(kEmoji);
  struct Case {
    const char* what;
    Names dropped;
    Names history;
    Names starts;
    bool wide = false;
  };
  const Case cases[] = {
      {"three files", {"C:\\m\\one.wav", "C:\\m\\two.wav", "C:\\m\\three.wav"},
       {"C:\\m\\one.wav", "C:\\m\\two.wav", "C:\\m\\three.wav", "old.wav"}, {"C:\\m\\one.wav"}},
      {"one already listed", {"OLD.wav"}, {"OLD.wav"}, {"OLD.wav"}},
      {"a first name too long to take starts nothing", {tooLong, "C:\\m\\two.wav"},
       {"C:\\m\\two.wav", "old.wav"}, {}},
      // In UTF-8 whole; in another code page as it has them, as before.
      {"wide names in any script", {kJapanese, kKorean, kEmoji, kCafe},
       {japanese, korean, emoji, cafe, "old.wav"}, {japanese}, true},
      {"a wide name of 204 UTF-16 units", {longJapanese}, {InThisCodePage(longJapanese), "old.wav"},
       {InThisCodePage(longJapanese)}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PlayerDialog dialog(DialogProcedure::kPlayer);
    dialog.SetHistory({"old.wav"});
    PostDrop(dialog.Window(), c.dropped, c.wide);
    Pump();
    EXPECT_EQ(dialog.History(), c.history);
    EXPECT_EQ(dialog.Starts(), c.starts);
  }
}

// Answers the open-file dialog from a timer while it runs modally: names typed into
// its file-name field and OK, or Cancel. Any message box is recorded and closed.
struct DialogDriver {
  HWND owner = nullptr;
  std::string typed;  // empty: press Cancel
  std::vector<std::string> messages;
  bool answered = false;
};
DialogDriver* g_driver = nullptr;

BOOL CALLBACK AnswerWindow(HWND window, LPARAM) {
  char className[32] = "";
  GetClassNameA(window, className, sizeof className);
  if (window == g_driver->owner || !IsWindowVisible(window) || std::strcmp(className, "#32770") != 0) return TRUE;
  constexpr int kFileNameCombo = 0x47C;  // cmb13 of the Explorer-style dialog
  constexpr int kFileNameEdit = 0x480;   // edt1
  // A message box's text: Windows numbers its control one way, Wine another.
  const int messageText = GetDlgItem(window, 0xFFFF) ? 0xFFFF : GetDlgItem(window, 100) ? 100 : 0;
  if (messageText && !GetDlgItem(window, kFileNameCombo) && !GetDlgItem(window, kFileNameEdit)) {
    char text[256] = "";
    GetDlgItemTextA(window, messageText, text, sizeof text);
    g_driver->messages.push_back(text);
    PostMessageA(window, WM_COMMAND, IDOK, 0);
  } else if (!g_driver->answered && (GetDlgItem(window, kFileNameCombo) || GetDlgItem(window, kFileNameEdit))) {
    g_driver->answered = true;
    if (g_driver->typed.empty()) {
      PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
    } else {
      SetDlgItemTextA(window, kFileNameCombo, g_driver->typed.c_str());
      SetDlgItemTextA(window, kFileNameEdit, g_driver->typed.c_str());
      PostMessageA(window, WM_COMMAND, IDOK, 0);
    }
  }
  return TRUE;
}

constexpr UINT kPollMs = 200;

void CALLBACK AnswerDialogs(HWND, UINT, UINT_PTR, DWORD) {
  EnumThreadWindows(GetCurrentThreadId(), AnswerWindow, 0);
}

TEST(ChosenFilePathsTest, OneFileOrADirectoryFollowedByNames) {
  const std::string longName(251, 'n');  // joined to C:\music\ it makes 260 characters
  struct Case {
    const char* what;
    std::string buffer;  // as the dialog leaves it, final zeros included
    Names paths;
  };
  const Case cases[] = {
      {"one file", std::string("C:\\m\\a.wav\0\0", 12), {"C:\\m\\a.wav"}},
      {"three files", std::string("C:\\m\0a.wav\0b.wav\0c.wav\0\0", 24), {"C:\\m\\a.wav", "C:\\m\\b.wav", "C:\\m\\c.wav"}},
      {"a drive's root already ends in a separator", std::string("C:\\\0a.wav\0b.wav\0\0", 17),
       {"C:\\a.wav", "C:\\b.wav"}},
      {"a joined path of 260 characters is refused", "C:\\music" + std::string(1, '\0') + longName +
                                                         std::string("\0b.wav\0\0", 8),
       {"", "C:\\music\\b.wav"}},
      {"nothing chosen", std::string("\0\0", 2), {}},
      {"no terminator inside the buffer", "C:\\m\\a.wav", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(ChosenFilePaths(c.buffer.data(), c.buffer.size()), c.paths);
  }
}

TEST(ChosenFilePathsTest, SeveralFilesAreListedInTheDialogsOrderWithTheFirstInTheBox) {
  struct Case {
    const char* what;
    Names chosen;
    bool result;
    Names history;  // after the caller has moved the box's text to the top
    Names messages;
  };
  const Names refused{"Unable to open the WAVE file."};
  const Case cases[] = {
      {"three files", {"C:\\m\\a.wav", "C:\\m\\b.wav", "C:\\m\\c.wav"}, true,
       {"C:\\m\\a.wav", "C:\\m\\b.wav", "C:\\m\\c.wav", "old.wav"}, {}},
      {"one file", {"C:\\m\\a.wav"}, true, {"C:\\m\\a.wav", "old.wav"}, {}},
      {"an unusable later name ends it", {"C:\\m\\a.wav", ""}, false, {"old.wav"}, refused},
      {"one name too long is refused, not emptied into the box", {""}, false, {"old.wav"}, refused},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PlayerDialog dialog;
    dialog.SetHistory({"old.wav"});
    SetWindowTextA(dialog.Box(), "");
    DialogDriver driver;
    driver.owner = dialog.Window();
    driver.answered = true;  // no open-file dialog here, only boxes
    g_driver = &driver;
    const UINT_PTR timer = SetTimer(nullptr, 0, kPollMs, AnswerDialogs);
    EXPECT_EQ(TakeChosenFiles(dialog.Window(), c.chosen), c.result);
    KillTimer(nullptr, timer);
    g_driver = nullptr;
    EXPECT_EQ(driver.messages, c.messages);
    EXPECT_EQ(IsWindowEnabled(GetDlgItem(dialog.Window(), IDC_START)) != FALSE, c.result);
    if (c.result) RememberFile(dialog.Box(), RememberMode::kMoveToTop);
    EXPECT_EQ(dialog.History(), c.history);
  }
}

TEST(InitialDirectoryTest, TheTextsFolderWithADot) {
  char current[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, current);
  std::string here = current;
  if (here.back() != '\\') here += '\\';
  struct Case {
    std::string text;
    std::string directory;
  };
  const Case cases[] = {
      {"C:\\Music\\a b.wav", "C:\\Music\\."},
      {"C:\\Music\\", "C:\\Music\\."},
      {"C:/Music/a.wav", "C:\\Music\\."},
      {"C:\\", "C:\\."},
      {"a.wav", here + "."},
      {"", ""},
      {"C:\\" + std::string(254, 'd'), "C:\\."},  // 257 characters: still a directory
      {"C:\\" + std::string(255, 'd'), ""},        // 258 characters: none
  };
  for (const Case& c : cases) EXPECT_EQ(InitialDirectoryFor(c.text.c_str()), c.directory) << c.text;
}

TEST(BrowseFilesTest, TheRealDialogCancelledOrGivenThreeFiles) {
  TempDir dir;
  const std::string japanese = kJapanese.substr(kJapanese.rfind('\\') + 1);
  const std::string korean = kKorean.substr(kKorean.rfind('\\') + 1);
  const std::string emoji = kEmoji.substr(kEmoji.rfind('\\') + 1);
  for (const std::string& name : {std::string("one.wav"), std::string("two.wav"), std::string("three.wav")}) {
    dir.Write(name, {'R', 'I', 'F', 'F'});
  }
  const bool utf8 = GetACP() == CP_UTF8;
  if (utf8) {
    for (const std::string& name : {japanese, korean, emoji}) dir.Write(name, {'R', 'I', 'F', 'F'});
  }
  struct Case {
    const char* what;
    std::string typed;
    bool result;
    Names history;
    bool needsUtf8 = false;  // names no other code page holds
  };
  const Case cases[] = {
      {"cancel changes nothing and says nothing", "", false, {"old.wav"}},
      {"three files, listed in the dialog's order", "\"one.wav\" \"two.wav\" \"three.wav\"", true,
       {dir.Path() + "\\one.wav", dir.Path() + "\\two.wav", dir.Path() + "\\three.wav", "old.wav"}},
      {"three names in Japanese, Korean and with an emoji", "\"" + japanese + "\" \"" + korean + "\" \"" + emoji + "\"",
       true, {dir.Path() + "\\" + japanese, dir.Path() + "\\" + korean, dir.Path() + "\\" + emoji, "old.wav"}, true},
  };
  for (const Case& c : cases) {
    if (c.needsUtf8 && !utf8) continue;  // shell_tests_utf8 runs it
    SCOPED_TRACE(c.what);
    PlayerDialog dialog;
    dialog.SetHistory({"old.wav"});
    // The dialog opens in the folder of the file the box names.
    const std::string before = dir.Path() + "\\none.wav";
    SetWindowTextA(dialog.Box(), before.c_str());
    DialogDriver driver;
    driver.owner = dialog.Window();
    driver.typed = c.typed;
    g_driver = &driver;
    const UINT_PTR timer = SetTimer(nullptr, 0, kPollMs, AnswerDialogs);
    const bool result = BrowseFiles(dialog.Window());
    KillTimer(nullptr, timer);
    g_driver = nullptr;
    EXPECT_TRUE(driver.answered);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(driver.messages, Names{});
    if (result) {
      EXPECT_EQ(dialog.Text(), c.history[0]);
      RememberFile(dialog.Box(), RememberMode::kMoveToTop);
    } else {
      EXPECT_EQ(dialog.Text(), before);
    }
    EXPECT_EQ(dialog.History(), c.history);
  }
}

TEST(FitDropWidthTest, WidestEntryDecidesAndOverlongEntriesDoNot) {
  PlayerDialog dialog;
  HWND box = dialog.Box();
  const std::string wide = "C:\\" + std::string(120, 'W') + ".wav";
  const std::string overlong = "C:\\" + std::string(300, 'W');
  SIZE wideSize{};
  {
    HDC dc = GetDC(box);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(box, WM_GETFONT, 0, 0)));
    GetTextExtentPoint32A(dc, wide.c_str(), static_cast<int>(wide.size()), &wideSize);
    SelectObject(dc, old);
    ReleaseDC(box, dc);
  }
  const int margins = 2 * GetSystemMetrics(SM_CXEDGE) + GetSystemMetrics(SM_CXVSCROLL);
  dialog.SetHistory({"a.wav", wide, overlong});
  FitDropWidth(box);
  EXPECT_EQ(SendMessageA(box, CB_GETDROPPEDWIDTH, 0, 0), wideSize.cx + margins);
}

}  // namespace
