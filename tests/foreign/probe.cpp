// A small foreign program for the end-to-end tests: one visible top-level window of class
// "SorvelProbe" titled after its own file name (probe_a.exe shows "probe_a"), so that tests can
// start copies under several names and find each one's window. The window holds an edit control
// to type into, and stops answering on request: a posted kProbeHang with wParam = milliseconds
// makes its window procedure sleep that long. Named "Sorvel.exe" it claims the host's
// single-instance name, as a host that has come up does.
// clang-format off
#include <windows.h>
// clang-format on

#include <string>

namespace {

constexpr UINT kProbeHang = WM_APP + 1;
constexpr int kEditId = 100;

LRESULT CALLBACK ProbeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kProbeHang:
      Sleep(static_cast<DWORD>(wParam));
      return 0;
    case WM_CREATE:
      CreateWindowExW(0, L"Edit", L"", WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_AUTOVSCROLL, 0, 0,
                      0, 0, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kEditId)), nullptr,
                      nullptr);
      return 0;
    case WM_SIZE:
      MoveWindow(GetDlgItem(window, kEditId), 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

std::wstring OwnName() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring name(path);
  name.erase(0, name.rfind(L'\\') + 1);
  return name.substr(0, name.rfind(L'.'));
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = ProbeProc;
  wc.hInstance = instance;
  wc.lpszClassName = L"SorvelProbe";
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  RegisterClassW(&wc);
  // Installed as the host (an updater's new program), it claims the host's name as the host does.
  if (OwnName() == L"Sorvel") CreateMutexW(nullptr, FALSE, L"Sorvel3");
  CreateWindowExW(0, wc.lpszClassName, OwnName().c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20, 20,
                  200, 150, nullptr, nullptr, instance, nullptr);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
