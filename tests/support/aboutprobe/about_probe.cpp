// Opens the About box the way the player does, and once it is up writes its caption
// (UTF-8), its version text and the sizes of the two button pictures to the file
// named on the command line, then presses OK. Exits 0 when the box ended with OK.
// Started as "about_probe --record FILE ADDRESS" it only writes ADDRESS into FILE:
// a test registers that command line as the browser, to see which page a button opens.
#include <windows.h>

#include <cstdio>

#include "app/about_box.h"
#include "resources/about_ids.h"

namespace {

const char* g_outputPath = nullptr;
constexpr UINT kPollMs = 20;

BOOL CALLBACK FindDialog(HWND window, LPARAM found) {
  char name[16] = "";
  GetClassNameA(window, name, sizeof name);
  if (lstrcmpA(name, "#32770") != 0) return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

void PictureSize(HWND dialog, int button, BITMAP* size) {
  HGDIOBJ picture = reinterpret_cast<HGDIOBJ>(SendDlgItemMessageA(dialog, button, BM_GETIMAGE, IMAGE_BITMAP, 0));
  if (!picture || !GetObjectA(picture, sizeof *size, size)) *size = BITMAP{};
}

void CALLBACK Poll(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND dialog = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), FindDialog, reinterpret_cast<LPARAM>(&dialog));
  if (!dialog) return;
  KillTimer(nullptr, timer);
  wchar_t wideCaption[64] = L"";
  GetWindowTextW(dialog, wideCaption, 64);
  char caption[256] = "";
  WideCharToMultiByte(CP_UTF8, 0, wideCaption, -1, caption, sizeof caption, nullptr, nullptr);
  char version[64] = "";
  GetDlgItemTextA(dialog, IDC_ABOUT_VERSION, version, sizeof version);
  BITMAP first, second;
  PictureSize(dialog, IDC_ABOUT_FIRST_PAGE, &first);
  PictureSize(dialog, IDC_ABOUT_SECOND_PAGE, &second);
  if (FILE* out = std::fopen(g_outputPath, "w")) {
    std::fprintf(out, "%s\n%s\n%ldx%ld\n%ldx%ld\n", caption, version, first.bmWidth, first.bmHeight,
                 second.bmWidth, second.bmHeight);
    std::fclose(out);
  }
  PostMessageA(dialog, WM_COMMAND, IDOK, 0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && lstrcmpA(argv[1], "--record") == 0) {
    FILE* out = std::fopen(argv[2], "w");
    if (!out) return 3;
    std::fputs(argv[3], out);
    std::fclose(out);
    return 0;
  }
  if (argc < 2) return 2;
  g_outputPath = argv[1];
  SetTimer(nullptr, 0, kPollMs, Poll);
  return ShowAboutBox(GetModuleHandleA(nullptr), nullptr) == IDOK ? 0 : 1;
}
