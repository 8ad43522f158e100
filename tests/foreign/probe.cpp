// Small foreign programs for the end-to-end tests, each titled after its own file name
// (probe_a.exe shows "probe_a"), so that tests can start copies under several names and find
// each one's window.
// probe: one visible top-level window of class "SorvelProbe" holding an edit control to type
// into. It stops answering on request: a posted kProbeHang with wParam = milliseconds makes its
// window procedure sleep that long. Named "Sorvel.exe" it claims the host's single-instance
// name, as a host that has come up does.
// crash_at_start (SORVEL_CRASH_AT_START): a probe that dies of a fault as it starts, served as
// a new program with a version that passes every check before that.
// dialog_probe (SORVEL_DIALOG_PROBE): a main window of class "SorvelDialogProbe" whose visible
// interface is an untitled dialog-class window owned by it (dialog_probe.rc), holding an edit
// control and a button.
// clang-format off
#include <windows.h>
// clang-format on

#include <filesystem>
#include <string>

namespace {

constexpr UINT kProbeHang = WM_APP + 1;
constexpr int kEditId = 100;

LRESULT CALLBACK ProbeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kProbeHang:
      Sleep(static_cast<DWORD>(wParam));
      return 0;
#ifndef SORVEL_DIALOG_PROBE
    case WM_CREATE:
      CreateWindowExW(0, L"Edit", L"", WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_AUTOVSCROLL, 0, 0,
                      0, 0, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kEditId)), nullptr,
                      nullptr);
      return 0;
    case WM_SIZE:
      MoveWindow(GetDlgItem(window, kEditId), 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
      return 0;
#endif
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

#ifdef SORVEL_DIALOG_PROBE
constexpr bool kDialog = true;
constexpr wchar_t kClass[] = L"SorvelDialogProbe";
#else
constexpr bool kDialog = false;
constexpr wchar_t kClass[] = L"SorvelProbe";
#endif

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
#ifdef SORVEL_CRASH_AT_START
  // A fault as it starts. The store is volatile: the optimiser drops a plain store through a null
  // pointer.
  volatile int* volatile nowhere = nullptr;
  *nowhere = 1;
#endif
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  const std::wstring name = std::filesystem::path(path).stem().wstring();
  if (!kDialog && name == L"Sorvel") CreateMutexW(nullptr, FALSE, L"Sorvel3");
  WNDCLASSW wc{};
  wc.lpfnWndProc = ProbeProc;
  wc.hInstance = instance;
  wc.lpszClassName = kClass;
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  RegisterClassW(&wc);
  HWND main = CreateWindowExW(0, kClass, name.c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20, 20,
                              200, 150, nullptr, nullptr, instance, nullptr);
  auto dialogProc = [](HWND, UINT message, WPARAM, LPARAM) -> INT_PTR {
    return message == WM_INITDIALOG;
  };
  HWND owned =
      kDialog ? CreateDialogParamW(instance, MAKEINTRESOURCEW(1), main, dialogProc, 0) : nullptr;
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (owned != nullptr && IsDialogMessageW(owned, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
