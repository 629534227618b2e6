// The About box's dialog procedure: the version text at start, the page buttons,
// and the button pictures released when it closes.
#include "app/about_box.h"

#include <shellapi.h>

#include "app/file_version.h"
#include "app/version_text.h"
#include "resources/about_ids.h"
#include "settings/settings_rules.h"

const char kAboutFirstPageAddress[] = "https://vexatone.example/";
const char kAboutSecondPageAddress[] = "https://vexatone.example/downloads/";

namespace {

uint64_t OwnVersion() {
  char path[kPathCapacity];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  // A path that filled the buffer was cut short and names some other file.
  if (length == 0 || length >= sizeof path) return 0;
  return ReadFileVersion(path);
}

void SetButtonPicture(HWND dialog, int button, int bitmap) {
  HINSTANCE module = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(dialog, GWLP_HINSTANCE));
  HANDLE picture = LoadImageA(module, MAKEINTRESOURCEA(bitmap), IMAGE_BITMAP, 0, 0, LR_VGACOLOR);
  if (picture) SendDlgItemMessageA(dialog, button, BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture));
}

// A button does not own its picture: the box deletes both when it goes.
void ReleaseButtonPicture(HWND dialog, int button) {
  HGDIOBJ picture = reinterpret_cast<HGDIOBJ>(SendDlgItemMessageA(dialog, button, BM_GETIMAGE, IMAGE_BITMAP, 0));
  if (picture) DeleteObject(picture);
}

BOOL OnInitDialog(HWND dialog) {
  SetDlgItemTextA(dialog, IDC_ABOUT_VERSION, VersionText(OwnVersion()).c_str());
  SetButtonPicture(dialog, IDC_ABOUT_FIRST_PAGE, IDB_ABOUT_FIRST_PAGE);
  SetButtonPicture(dialog, IDC_ABOUT_SECOND_PAGE, IDB_ABOUT_SECOND_PAGE);
  return TRUE;  // the default focus
}

// The box stays open; a page that does not open is not reported.
void OpenPage(HWND dialog, const char* address) {
  ShellExecuteA(dialog, nullptr, address, nullptr, ".", SW_SHOWNORMAL);
}

BOOL OnCommand(HWND dialog, int command) {
  switch (command) {
    case IDOK:
    case IDCANCEL:
      EndDialog(dialog, command);
      return TRUE;
    case IDC_ABOUT_FIRST_PAGE:
      OpenPage(dialog, kAboutFirstPageAddress);
      return TRUE;
    case IDC_ABOUT_SECOND_PAGE:
      OpenPage(dialog, kAboutSecondPageAddress);
      return TRUE;
    default:
      return FALSE;
  }
}

void OnDestroy(HWND dialog) {
  ReleaseButtonPicture(dialog, IDC_ABOUT_FIRST_PAGE);
  ReleaseButtonPicture(dialog, IDC_ABOUT_SECOND_PAGE);
}

}  // namespace

// Wide, so that the template's Japanese texts reach the controls whole on a
// system whose code page has no Japanese.
INT_PTR ShowAboutBox(HINSTANCE module, HWND owner) {
  return DialogBoxParamW(module, MAKEINTRESOURCEW(IDD_ABOUT), owner, AboutDialogProc, 0);
}

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog(dialog);
    case WM_COMMAND:
      return OnCommand(dialog, LOWORD(wParam));
    case WM_DESTROY:
      OnDestroy(dialog);
      return FALSE;
    default:
      return FALSE;
  }
}
