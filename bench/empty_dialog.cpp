// The baseline of the host's start in panes_bench: a program that shows one empty dialog of
// the given size in pixels, titled "empty_dialog", and runs until it is closed.
//
//   empty_dialog [WIDTH HEIGHT]
// clang-format off
#include <windows.h>
// clang-format on

#include <algorithm>
#include <cstdlib>

namespace {

int width = 640;
int height = 480;

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      SetWindowPos(dialog, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER);
      return TRUE;
    case WM_CLOSE:
      EndDialog(dialog, 0);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  if (__argc == 3) {
    width = std::max(1, _wtoi(__wargv[1]));
    height = std::max(1, _wtoi(__wargv[2]));
  }
  // A dialog template with no menu, the dialog class, a title and no controls.
  struct alignas(4) {
    DLGTEMPLATE header;
    WORD menu;
    WORD windowClass;
    wchar_t title[13];
  } dialog = {
      {WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_VISIBLE, 0, 0, 0, 0, 100, 100},
      0,
      0,
      L"empty_dialog"};
  return static_cast<int>(
      DialogBoxIndirectParamW(instance, &dialog.header, nullptr, DialogProc, 0));
}
