// The About box: the version read from a file's version resource, shown by the
// dialog of a program that has one and of a program that has none.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "app/about_box.h"
#include "app/file_version.h"
#include "resources/about_ids.h"
#include "support/temp_dir.h"
#include "version_numbers.h"

namespace {

std::string TestsFolder() {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path, n);
  return folder.substr(0, folder.find_last_of("\\/") + 1);
}

// Runs a probe program and returns what it wrote, with its exit code.
std::string RunProbe(const std::string& program, const std::string& output, DWORD* exitCode) {
  std::string commandLine = "\"" + program + "\" \"" + output + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    ADD_FAILURE() << "cannot start " << program << ": " << GetLastError();
    return "";
  }
  constexpr DWORD kProbeWaitMs = 60000;  // a hang is a failure, not a wait for ever
  EXPECT_EQ(WaitForSingleObject(process.hProcess, kProbeWaitMs), WAIT_OBJECT_0);
  GetExitCodeProcess(process.hProcess, exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  std::ifstream in(output);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(ReadFileVersionTest, PacksTheFixedVersionOrGivesZero) {
  TempDir dir;
  const std::string plain = dir.Write("plain.txt", std::vector<uint8_t>{'n', 'o', ' ', 'v', 'e', 'r'});
  struct Case {
    std::string path;
    uint64_t version;
  };
  const Case cases[] = {
      {TestsFolder() + "about_probe_versioned.exe", 0x0003000100040000ull | 15},
      {TestsFolder() + "about_probe_unversioned.exe", 0},
      {plain, 0},
      {dir.Path() + "\\missing.exe", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(ReadFileVersion(c.path.c_str()), c.version) << c.path;
}

TEST(AboutBoxTest, ShowsTheProgramsOwnVersionAndPictures) {
  TempDir dir;
  struct Case {
    const char* program;
    const char* expected;
  };
  // The caption in UTF-8: the product's name and the Japanese for "about", whole
  // although this system's code page has no Japanese.
  const std::string caption = "ZEMBRIX Player\xE3\x81\xAB\xE3\x81\xA4\xE3\x81\x84\xE3\x81\xA6\n";
  const Case cases[] = {
      {"about_probe_versioned.exe", "3.1.4.15\n116x51\n116x51\n"},
      {"about_probe_unversioned.exe", "0.0.0.0\n116x51\n116x51\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.program);
    DWORD exitCode = 99;
    const std::string shown = RunProbe(TestsFolder() + c.program, dir.Path() + "\\shown.txt", &exitCode);
    EXPECT_EQ(exitCode, 0u) << "the box ended with OK";
    EXPECT_EQ(shown, caption + c.expected);
  }
}

TEST(AboutBoxTest, ThisProgramShowsTheVersionItWasBuiltWith) {
  HWND dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ABOUT), nullptr,
                                   AboutDialogProc, 0);
  ASSERT_TRUE(dialog);
  char text[64] = "";
  GetDlgItemTextA(dialog, IDC_ABOUT_VERSION, text, sizeof text);
  EXPECT_STREQ(text, VEX_VERSION_TEXT);
  EXPECT_NE(std::string(text), "0.0.0.0");
  // The box deletes the two pictures when it goes.
  HGDIOBJ picture = reinterpret_cast<HGDIOBJ>(
      SendDlgItemMessageA(dialog, IDC_ABOUT_FIRST_PAGE, BM_GETIMAGE, IMAGE_BITMAP, 0));
  ASSERT_EQ(GetObjectType(picture), static_cast<DWORD>(OBJ_BITMAP));
  DestroyWindow(dialog);
  EXPECT_EQ(GetObjectType(picture), 0u);
}

// Makes the probe program the handler of https addresses for the life of the
// object, and puts the prefix's own handler back afterwards.
class RecordingBrowser {
 public:
  explicit RecordingBrowser(const std::string& record) {
    RegCreateKeyExA(HKEY_CLASSES_ROOT, kCommandKey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key_, nullptr);
    DWORD size = sizeof saved_;
    hadValue_ = RegQueryValueExA(key_, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(saved_), &size) ==
                ERROR_SUCCESS;
    const std::string command =
        "\"" + TestsFolder() + "about_probe_unversioned.exe\" --record \"" + record + "\" \"%1\"";
    RegSetValueExA(key_, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                   static_cast<DWORD>(command.size() + 1));
  }
  ~RecordingBrowser() {
    if (hadValue_) {
      RegSetValueExA(key_, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(saved_),
                     static_cast<DWORD>(std::strlen(saved_) + 1));
    } else {
      RegDeleteValueA(key_, nullptr);
    }
    RegCloseKey(key_);
  }
  RecordingBrowser(const RecordingBrowser&) = delete;
  RecordingBrowser& operator=(const RecordingBrowser&) = delete;

 private:
  static constexpr const char* kCommandKey = "https\\shell\\open\\command";
  HKEY key_ = nullptr;
  char saved_[1024] = "";
  bool hadValue_ = false;
};

std::string WaitForFile(const std::string& path) {
  constexpr int kPolls = 600;  // up to a minute: a process start under Wine can be slow
  for (int i = 0; i < kPolls; ++i) {
    std::ifstream in(path);
    std::string text;
    if (in && std::getline(in, text) && !text.empty()) return text;
    Sleep(100);
  }
  return "";
}

TEST(AboutBoxTest, PageButtonsOpenTheirAddressesAndTheBoxStaysOpen) {
  TempDir dir;
  const std::string record = dir.Path() + "\\page.txt";
  RecordingBrowser browser(record);
  HWND dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ABOUT), nullptr,
                                   AboutDialogProc, 0);
  ASSERT_TRUE(dialog);
  ShowWindow(dialog, SW_SHOW);  // ending the box would hide it again
  struct Case {
    int button;
    const char* address;
  };
  const Case cases[] = {{IDC_ABOUT_FIRST_PAGE, kAboutFirstPageAddress},
                        {IDC_ABOUT_SECOND_PAGE, kAboutSecondPageAddress}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.button);
    DeleteFileA(record.c_str());
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(c.button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, c.button)));
    EXPECT_EQ(WaitForFile(record), c.address);
    EXPECT_TRUE(IsWindowVisible(dialog)) << "the box stays open";
  }
  EXPECT_STRNE(kAboutFirstPageAddress, kAboutSecondPageAddress);
  DestroyWindow(dialog);
}

}  // namespace
