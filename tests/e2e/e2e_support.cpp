#include "tests/e2e/e2e_support.h"

#include <cstdio>

namespace e2e {

Process::Process(const std::wstring& path) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  if (!CreateProcessW(path.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &info_)) {
    info_ = {};
  }
}

Process::~Process() {
  if (!Started()) return;
  if (Running()) {
    TerminateProcess(info_.hProcess, 99);
    WaitForSingleObject(info_.hProcess, 5000);
  }
  CloseHandle(info_.hThread);
  CloseHandle(info_.hProcess);
}

DWORD Process::WaitForExit(DWORD milliseconds) {
  if (!Started()) return STILL_ACTIVE;
  DWORD end = GetTickCount() + milliseconds;
  // Keep our own windows answering while we wait: the host talks to them when it exits.
  while (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
    if (GetTickCount() > end) return STILL_ACTIVE;
    PumpFor(20);
  }
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(info_.hProcess, &code);
  return code;
}

bool Process::Running() {
  return Started() && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
}

bool WaitFor(const std::function<bool()>& condition, DWORD milliseconds) {
  DWORD end = GetTickCount() + milliseconds;
  for (;;) {
    if (condition()) return true;
    if (GetTickCount() > end) return false;
    PumpFor(20);
  }
}

std::wstring BesideMe(const wchar_t* name) {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path);
  folder.resize(folder.rfind(L'\\') + 1);
  return folder + name;
}

std::wstring MakeTestFolder() {
  static int counter = 0;
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  // Wine gives process ids out again: a folder of an earlier test program may bear the name.
  for (;;) {
    std::wstring folder = std::wstring(temp) + L"sorvel-e2e-" +
                          std::to_wstring(GetCurrentProcessId()) + L"-" +
                          std::to_wstring(++counter);
    if (CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() != ERROR_ALREADY_EXISTS) {
      return folder;
    }
  }
}

bool CopyBesideMe(const wchar_t* program, const std::wstring& folder, const wchar_t* name) {
  return CopyFileW(BesideMe(program).c_str(), (folder + L"\\" + name).c_str(), FALSE) != FALSE;
}

bool WriteUtf16File(const std::wstring& path, const std::wstring& text) {
  FILE* out = _wfopen(path.c_str(), L"wb");
  if (out == nullptr) return false;
  bool ok = fwrite(text.data(), sizeof(wchar_t), text.size(), out) == text.size();
  return fclose(out) == 0 && ok;
}

std::wstring ReadUtf16File(const std::wstring& path) {
  std::wstring text;
  FILE* in = _wfopen(path.c_str(), L"rb");
  if (in == nullptr) return text;
  wchar_t buffer[512];
  for (std::size_t n; (n = fread(buffer, sizeof(wchar_t), 512, in)) > 0;) text.append(buffer, n);
  fclose(in);
  return text;
}

std::string ReadBytes(const std::wstring& path) {
  std::string bytes;
  FILE* in = _wfopen(path.c_str(), L"rb");
  if (in == nullptr) return bytes;
  char buffer[65536];
  for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, in)) > 0;) bytes.append(buffer, n);
  fclose(in);
  return bytes;
}

std::wstring StaticTexts(HWND dialog) {
  std::wstring texts;
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    wchar_t name[32] = {};
    GetClassNameW(child, name, 32);
    if (lstrcmpiW(name, L"Static") == 0) texts += TextOf(child);
  }
  return texts;
}

bool CloseWindowsOfClass(const wchar_t* className, DWORD milliseconds) {
  return WaitFor(
      [&] {
        HWND window = FindWindowW(className, nullptr);
        if (window == nullptr) return true;
        PostMessageW(window, WM_CLOSE, 0, 0);
        return false;
      },
      milliseconds);
}

int CountWindows(const wchar_t* className, const wchar_t* title) {
  int count = 0;
  for (HWND window = nullptr;
       (window = FindWindowExW(nullptr, window, className, title)) != nullptr;) {
    ++count;
  }
  return count;
}

std::vector<HWND> WindowsOf(DWORD pid, const wchar_t* className) {
  struct Search {
    DWORD pid;
    const wchar_t* className;
    std::vector<HWND> found;
  } search{pid, className, {}};
  EnumWindows(
      [](HWND window, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        wchar_t name[64] = {};
        GetClassNameW(window, name, 64);
        if (owner == s->pid && IsWindowVisible(window) && lstrcmpW(name, s->className) == 0) {
          s->found.push_back(window);
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND WaitForDialog(DWORD pid, DWORD milliseconds) {
  HWND dialog = nullptr;
  WaitFor(
      [&] {
        std::vector<HWND> windows = WindowsOf(pid, L"#32770");
        dialog = windows.empty() ? nullptr : windows.front();
        return dialog != nullptr;
      },
      milliseconds);
  return dialog;
}

HWND WaitForWindow(const std::function<HWND()>& find, DWORD milliseconds) {
  HWND window = nullptr;
  WaitFor(
      [&] {
        window = find();
        return window != nullptr;
      },
      milliseconds);
  return window;
}

std::wstring TextOf(HWND window) {
  wchar_t text[512] = {};
  GetWindowTextW(window, text, 512);
  return text;
}

RECT RectInParent(HWND control) {
  RECT rect{};
  GetWindowRect(control, &rect);
  MapWindowPoints(HWND_DESKTOP, GetAncestor(control, GA_PARENT), reinterpret_cast<POINT*>(&rect),
                  2);
  return rect;
}

std::wstring SaveScreenshot(const wchar_t* name) {
  int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
  SelectObject(memory, old);

  DWORD stride = ((static_cast<DWORD>(width) * 3 + 3) / 4) * 4;
  DWORD imageSize = stride * static_cast<DWORD>(height);
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info.bmiHeader;
  file.bfSize = file.bfOffBits + imageSize;

  wchar_t folder[MAX_PATH] = {};
  DWORD length = GetEnvironmentVariableW(L"SORVEL_ARTEFACTS", folder, MAX_PATH);
  std::wstring path =
      (length > 0 && length < MAX_PATH) ? std::wstring(folder) + L"\\" + name : BesideMe(name);
  if (FILE* out = _wfopen(path.c_str(), L"wb")) {
    fwrite(&file, sizeof file, 1, out);
    fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out);
    fwrite(bits, imageSize, 1, out);
    fclose(out);
  }
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return path;
}

Witness::Witness(const wchar_t* title) {
  static const wchar_t kClass[] = L"SorvelE2EWitness";
  static bool registered = false;
  if (!registered) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kClass;
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    RegisterClassW(&wc);
    registered = true;
  }
  hwnd_ = CreateWindowExW(0, kClass, title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 40, 150, 120,
                          nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  PumpFor(50);
}

Witness::~Witness() {
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
}

void PumpFor(DWORD milliseconds) {
  DWORD end = GetTickCount() + milliseconds;
  do {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    Sleep(5);
  } while (GetTickCount() < end);
}

std::string Narrow(const std::wstring& text) {
  int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size > 0 ? size - 1 : 0), '\0');
  if (size > 1) {
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), size, nullptr, nullptr);
  }
  return out;
}

}  // namespace e2e
