// The REX library loader with the real Wine system: the search order and places,
// the version rule on real version resources, binding, "Open" and "Close", the load
// count, and the process state it must leave as it found it.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "rex/rex_library.h"
#include "rex/rex_standin_files.h"
#include "win32/scoped_handle.h"

namespace {

using namespace rexfiles;

class RexLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override { TakeLog(); }
  void TearDown() override {
    UnloadCompletely();
    EXPECT_FALSE(AnyStandInLoaded());
    TakeLog();
  }
};

TEST_F(RexLibraryTest, VersionRuleOnEachVariantInTheVendorFolder) {
  struct Case {
    const char* variant;
    int result;
  } cases[] = {
      {"v1_2_0", kRexLoadOk},          {"v1_1_1", kRexLoadOk},
      {"v1_1_0", kRexLoadTooOld},      {"v0_9", kRexLoadTooOld},
      {"v2_0", kRexLoadTooNew},        {"unversioned", kRexLoadTooOld},
      {"missing_entry", kRexLoadFailed}, {"open_refuses", kRexLoadFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.variant);
    VendorFolder vendor;
    ASSERT_TRUE(vendor.Place(c.variant));
    EXPECT_EQ(LoadRexLibrary(), c.result);
    const std::string log = TakeLog();
    if (c.result == kRexLoadOk) {
      ASSERT_NE(LoadedRexEntries(), nullptr);
      EXPECT_EQ(log, "Open(" + std::string(c.variant) + ");");
      UnloadRexLibrary();
      EXPECT_EQ(TakeLog(), "Close;");
    } else {
      EXPECT_EQ(LoadedRexEntries(), nullptr);
      // Refused versions and a missing entry never reach "Open"; a refusing "Open"
      // is not followed by "Close".
      EXPECT_EQ(log, c.result == kRexLoadFailed && std::string(c.variant) == "open_refuses"
                         ? "Open(open_refuses);"
                         : "");
      UnloadRexLibrary();
      EXPECT_EQ(TakeLog(), "") << "no Close after a failed load";
    }
    EXPECT_FALSE(GetModuleHandleA(kPlainName)) << "the library is freed";
  }
}

TEST_F(RexLibraryTest, BindsAllFourteenEntriesOfTheLoadedLibrary) {
  VendorFolder vendor;
  ASSERT_TRUE(vendor.Place("v1_2_0"));
  ASSERT_EQ(LoadRexLibrary(), kRexLoadOk);
  const RexEntryTable* t = LoadedRexEntries();
  ASSERT_NE(t, nullptr);
  HMODULE module = GetModuleHandleA(kPlainName);
  ASSERT_NE(module, nullptr);
  const void* bound[] = {
      reinterpret_cast<void*>(t->open), reinterpret_cast<void*>(t->close),
      reinterpret_cast<void*>(t->create), reinterpret_cast<void*>(t->destroy),
      reinterpret_cast<void*>(t->getInfo), reinterpret_cast<void*>(t->getInfoFromBuffer),
      reinterpret_cast<void*>(t->getCreatorInfo), reinterpret_cast<void*>(t->getSliceInfo),
      reinterpret_cast<void*>(t->setOutputSampleRate), reinterpret_cast<void*>(t->renderSlice),
      reinterpret_cast<void*>(t->startPreview), reinterpret_cast<void*>(t->stopPreview),
      reinterpret_cast<void*>(t->renderPreviewBatch), reinterpret_cast<void*>(t->setPreviewTempo)};
  const char* names[] = {"Open", "Close", "REXCreate", "REXDelete", "REXGetInfo",
                         "REXGetInfoFromBuffer", "REXGetCreatorInfo", "REXGetSliceInfo",
                         "REXSetOutputSampleRate", "REXRenderSlice", "REXStartPreview",
                         "REXStopPreview", "REXRenderPreviewBatch", "REXSetPreviewTempo"};
  for (int i = 0; i < 14; ++i) {
    EXPECT_EQ(bound[i], reinterpret_cast<void*>(GetProcAddress(module, names[i]))) << names[i];
  }
}

TEST_F(RexLibraryTest, NothingAnywhereGivesNotFound) {
  EXPECT_EQ(LoadRexLibrary(), kRexLoadNotFound);
  EXPECT_EQ(LoadedRexEntries(), nullptr);
}

TEST_F(RexLibraryTest, SearchOrderOfNamesAndPlaces) {
  struct Case {
    const char* name;
    const char* inVendor;   // null: nothing there
    const char* onPath;
    const char* loaded;
  } cases[] = {
      {"vendor copy before the search path", "v1_2_0", "v1_1_1", "v1_2_0"},
      {"search path when the vendor folder has none", nullptr, "v1_1_1", "v1_1_1"},
      {"Debugging on the path before the plain name in the vendor folder", "v1_2_0", "debugging",
       "debugging"},
      {"Testing on the path before the plain name in the vendor folder", "v1_2_0", "testing",
       "testing"},
      {"Debugging before Testing", "testing", "debugging", "debugging"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    VendorFolder vendor;
    PathFolder path;
    if (c.inVendor) {
      ASSERT_TRUE(vendor.Place(c.inVendor));
    }
    if (c.onPath) {
      ASSERT_TRUE(path.Place(c.onPath));
    }
    ASSERT_EQ(LoadRexLibrary(), kRexLoadOk);
    EXPECT_EQ(TakeLog(), "Open(" + std::string(c.loaded) + ");");
    UnloadRexLibrary();
    TakeLog();
  }
}

// A library dropped beside a document the user opens (the current directory) must
// not be loaded: that is how DLL planting works.
TEST_F(RexLibraryTest, ACopyInTheCurrentDirectoryIsNotLoaded) {
  TempDir planted;
  ASSERT_TRUE(CopyFileA(BuiltVariant("v1_2_0").c_str(), (planted.Path() + "\\" + kPlainName).c_str(),
                        FALSE));
  char previous[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryA(planted.Path().c_str()));

  // The system's own search would take it from there: the test can see the hole.
  HMODULE plain = LoadLibraryA(kPlainName);
  EXPECT_NE(plain, nullptr);
  if (plain) FreeLibrary(plain);
  TakeLog();

  EXPECT_EQ(LoadRexLibrary(), kRexLoadNotFound);
  EXPECT_EQ(TakeLog(), "");
  UnloadCompletely();
  {
    // Nor through a relative folder on PATH.
    char path[32767] = "";
    GetEnvironmentVariableA("PATH", path, sizeof path);
    const std::string old = path;
    SetEnvironmentVariableA("PATH", (".;rex;" + old).c_str());
    EXPECT_EQ(LoadRexLibrary(), kRexLoadNotFound);
    SetEnvironmentVariableA("PATH", old.c_str());
    EXPECT_EQ(TakeLog(), "");
    UnloadCompletely();
  }
  SetCurrentDirectoryA(previous);
  DeleteFileA((planted.Path() + "\\" + kPlainName).c_str());
}

TEST_F(RexLibraryTest, SecondLoadCountsAndNeedsTwoUnloadsBeforeClose) {
  VendorFolder vendor;
  ASSERT_TRUE(vendor.Place("v1_2_0"));
  ASSERT_EQ(LoadRexLibrary(), kRexLoadOk);
  const RexEntryTable* first = LoadedRexEntries();
  EXPECT_EQ(LoadRexLibrary(), kRexLoadAlreadyLoaded);
  EXPECT_EQ(TakeLog(), "Open(v1_2_0);") << "opened once";
  EXPECT_EQ(LoadedRexEntries(), first);
  UnloadRexLibrary();
  EXPECT_EQ(TakeLog(), "");
  EXPECT_NE(LoadedRexEntries(), nullptr);
  EXPECT_TRUE(GetModuleHandleA(kPlainName));
  UnloadRexLibrary();
  EXPECT_EQ(TakeLog(), "Close;");
  EXPECT_EQ(LoadedRexEntries(), nullptr);
  EXPECT_FALSE(GetModuleHandleA(kPlainName));
  UnloadRexLibrary();  // nothing loaded: harmless
  EXPECT_EQ(TakeLog(), "");
  // And it loads again afresh.
  EXPECT_EQ(LoadRexLibrary(), kRexLoadOk);
  EXPECT_EQ(TakeLog(), "Open(v1_2_0);");
}

TEST_F(RexLibraryTest, ErrorModeAndLibrarySearchAreRestoredOnEveryOutcome) {
  char folder[MAX_PATH];
  GetSystemDirectoryA(folder, MAX_PATH);
  for (const char* dllDirectory : {static_cast<const char*>(nullptr), static_cast<const char*>(folder)}) {
    for (const char* variant : {static_cast<const char*>(nullptr), "v1_2_0", "v2_0"}) {
      SCOPED_TRACE(std::string(variant ? variant : "none") + (dllDirectory ? " with" : " without") +
                   " a DLL directory");
      VendorFolder vendor;
      if (variant) {
        ASSERT_TRUE(vendor.Place(variant));
      }
      ASSERT_TRUE(SetDllDirectoryA(dllDirectory));
      const UINT mode = SEM_NOGPFAULTERRORBOX;
      SetErrorMode(mode);
      LoadRexLibrary();
      EXPECT_EQ(SetErrorMode(0), mode);
      char now[MAX_PATH] = "";
      const DWORD length = GetDllDirectoryA(MAX_PATH, now);
      EXPECT_EQ(std::string(now, length), dllDirectory ? dllDirectory : "");
      UnloadRexLibrary();
      TakeLog();
    }
  }
  SetDllDirectoryA(nullptr);
}

// The system version can only be changed for a whole process: a helper program
// runs the loader while Wine reports the version set for that program.
class OldSystemTest : public RexLibraryTest {
 protected:
  static constexpr char kKey[] = "Software\\Wine\\AppDefaults\\rex_system_check.exe";

  static int RunCheckAs(const char* version) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
      return -1;
    }
    RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                   static_cast<DWORD>(strlen(version) + 1));
    RegCloseKey(key);
    std::string command = "\"" + ExeFolder() + "\\rex_system_check.exe\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    DWORD code = static_cast<DWORD>(-2);
    if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &process)) {
      ScopedHandle thread(process.hThread);
      ScopedHandle child(process.hProcess);
      WaitForSingleObject(child.Get(), INFINITE);
      GetExitCodeProcess(child.Get(), &code);
    }
    RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
    return static_cast<int>(code);
  }
};
constexpr char OldSystemTest::kKey[];

TEST_F(OldSystemTest, Windows2000IsRefusedBeforeAnyLibraryIsLookedFor) {
  VendorFolder vendor;
  ASSERT_TRUE(vendor.Place("v1_2_0"));
  EXPECT_EQ(RunCheckAs("win2k"), kRexLoadOldSystem);
  EXPECT_EQ(RunCheckAs("winxp"), kRexLoadOk) << "5.1 is the oldest system accepted";
  HKEY key;
  EXPECT_NE(RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key), ERROR_SUCCESS)
      << "the setting is removed again";
}

}  // namespace
