// What every end-to-end case shares: a folder for its files, the player's registry
// key cleared before and after (so one case's settings never steer another), the
// null sink's recorder, and a record of the temporary folder to find leftovers.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tests/e2e/player_process.h"
#include "tests/e2e/signals.h"
#include "tests/support/sink_recorder.h"
#include "tests/support/temp_dir.h"

namespace e2e {

constexpr char kSettingsKey[] = "SOFTWARE\\ZEMBRIXPlayer";
// parec may miss up to two seconds of its own start: the player starts after this.
constexpr DWORD kRecorderLeadMs = 2200;
constexpr DWORD kPlayWaitMs = 15000;

inline void ClearSettings() { RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey); }

// The names in the system's temporary folder, our own test folders excluded.
inline std::set<std::string> TempFolderNames() {
  char folder[MAX_PATH] = "";
  GetTempPathA(MAX_PATH, folder);
  std::set<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((std::string(folder) + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string name = found.cFileName;
    if (name != "." && name != ".." && name.rfind("vextest", 0) != 0) names.insert(name);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return names;
}

inline std::vector<std::string> NewNames(const std::set<std::string>& before, const std::set<std::string>& after) {
  std::vector<std::string> added;
  for (const std::string& n : after) {
    if (!before.count(n)) added.push_back(n);
  }
  return added;
}

// "mm'ss.t" (or "h:mm'ss.t") in seconds; -1 when the text is not a time.
inline double TimeTextSeconds(const std::string& text) {
  unsigned h = 0, m = 0, s = 0, t = 0;
  if (std::sscanf(text.c_str(), "%u:%u'%u.%u", &h, &m, &s, &t) == 4) return h * 3600.0 + m * 60 + s + t / 10.0;
  if (std::sscanf(text.c_str(), "%u'%u.%u", &m, &s, &t) == 3) return m * 60.0 + s + t / 10.0;
  return -1;
}

inline std::string SystemErrorText(UINT code) {
  char text[256] = "";
  waveOutGetErrorTextA(code, text, sizeof text);
  return text;
}

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearSettings();
    tempBefore_ = TempFolderNames();
  }
  void TearDown() override { ClearSettings(); }

  // Starts a recorder of `seconds` and waits out its uncertain start.
  std::unique_ptr<SinkRecorder> Record(int seconds) {
    auto recorder = std::make_unique<SinkRecorder>(dir_, seconds);
    Sleep(kRecorderLeadMs);
    return recorder;
  }
  std::vector<std::string> TempLeftovers() const { return NewNames(tempBefore_, TempFolderNames()); }

  TempDir dir_;
  std::set<std::string> tempBefore_;
};

}  // namespace e2e
