#include "tests/e2e/e2e_support.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "host/pane_layout.h"
#include "host/resources.h"
#include "tests/support/same_rect.h"

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
  DWORD code = STILL_ACTIVE;
  // WaitFor keeps our own windows answering: the host talks to them when it exits.
  if (Started() && WaitFor([&] { return !Running(); }, milliseconds)) {
    GetExitCodeProcess(info_.hProcess, &code);
  }
  return code;
}

bool WaitFor(const std::function<bool()>& condition, DWORD milliseconds) {
  DWORD end = GetTickCount() + milliseconds;
  for (;;) {
    if (condition()) return true;
    if (GetTickCount() > end) return false;
    PumpFor(20);
  }
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

std::vector<HWND> WindowsOf(DWORD pid, const wchar_t* className, const wchar_t* title) {
  std::vector<HWND> found;
  for (HWND window = nullptr; (window = FindWindowExW(nullptr, window, className, title));) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if ((pid == 0 || owner == pid) && IsWindowVisible(window)) found.push_back(window);
  }
  return found;
}

HWND WaitForShown(DWORD pid, const wchar_t* className, const wchar_t* title, DWORD milliseconds,
                  const std::function<bool(HWND)>& match) {
  HWND shown = nullptr;
  WaitFor(
      [&] {
        for (HWND window : WindowsOf(pid, className, title)) {
          if (!match || match(window)) return (shown = window) != nullptr;
        }
        return false;
      },
      milliseconds);
  return shown;
}

bool CloseProbes() {
  return WaitFor(
      [] {
        HWND window = FindWindowW(L"SorvelProbe", nullptr);
        if (window == nullptr) window = FindWindowW(L"SorvelDialogProbe", nullptr);
        if (window != nullptr) PostMessageW(window, WM_CLOSE, 0, 0);
        return window == nullptr;
      },
      10000);
}

std::wstring BesideMe(const wchar_t* name) {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::filesystem::path(path).replace_filename(name).wstring();
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

std::wstring CopyBesideMe(const wchar_t* program, const std::wstring& folder,
                          const std::wstring& name) {
  const std::wstring path = folder + L"\\" + name;
  // The prefix lets a path pass the limit.
  return CopyFileW(BesideMe(program).c_str(), (L"\\\\?\\" + path).c_str(), FALSE) ? path : L"";
}

bool WriteUtf16File(const std::wstring& path, const std::wstring& text) {
  std::ofstream out(std::filesystem::path(path), std::ios::binary);
  return !out.write(reinterpret_cast<const char*>(text.data()), text.size() * 2).flush().fail();
}

std::string ReadBytes(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::wstring ReadUtf16File(const std::wstring& path) {
  std::string bytes = ReadBytes(path);
  return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
}

std::wstring TextOf(HWND window) {
  wchar_t text[512] = {};
  GetWindowTextW(window, text, 512);
  return text;
}

void Click(HWND dialog, int button) {
  PostMessageW(GetDlgItem(dialog, button), BM_CLICK, 0, 0);
}

bool Closes(HWND window) {
  return WaitFor([&] { return !IsWindow(window); }, kStepTimeout);
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

bool IsTopLevel(HWND window) {
  return GetAncestor(window, GA_PARENT) == GetDesktopWindow();
}

bool Answers(HWND window, UINT milliseconds, UINT message, WPARAM wParam) {
  DWORD_PTR ignored = 0;
  return SendMessageTimeoutW(window, message, wParam, 0, SMTO_ABORTIFHUNG, milliseconds,
                             &ignored) != 0;
}

void Screenshot(const char* property, const std::wstring& name) {
  int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
  BITMAPINFOHEADER info{sizeof info, width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  HDC screen = GetDC(nullptr), memory = CreateCompatibleDC(screen);
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS,
                                    &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
  SelectObject(memory, old);
  DWORD size = static_cast<DWORD>((width * 3 + 3) / 4 * 4 * height);
  const DWORD offset = sizeof(BITMAPFILEHEADER) + sizeof info;
  BITMAPFILEHEADER file{0x4D42, offset + size, 0, 0, offset};
  const wchar_t* folder = _wgetenv(L"SORVEL_ARTEFACTS");
  std::wstring path = folder != nullptr && *folder != 0 ? std::wstring(folder) + L"\\" + name
                                                        : BesideMe(name.c_str());
  std::ofstream(std::filesystem::path(path), std::ios::binary)
      .write(reinterpret_cast<const char*>(&file), sizeof file)
      .write(reinterpret_cast<const char*>(&info), sizeof info)
      .write(static_cast<const char*>(bits), size);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  ::testing::Test::RecordProperty(property, std::filesystem::path(path).u8string());
}

void Foreign::Remember() {
  GetWindowRect(window, &former);
  formerStyle = GetWindowLongW(window, GWL_STYLE);
}

::testing::AssertionResult Foreign::GivenBack(DWORD milliseconds) const {
  RECT now{};
  auto back = [&] {
    GetWindowRect(window, &now);
    return IsTopLevel(window) && SameRect(now, former) &&
           GetWindowLongW(window, GWL_STYLE) == formerStyle;
  };
  if (WaitFor(back, milliseconds)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << title << (IsTopLevel(window) ? " is top-level" : " is held") << "; "
         << SameRect(now, former).message() << "; style " << GetWindowLongW(window, GWL_STYLE)
         << " instead of " << formerStyle;
}

Foreign StartForeign(const std::wstring& path, const wchar_t* className, const wchar_t* title,
                     const std::function<bool(HWND)>& match) {
  Foreign foreign;
  foreign.process = std::make_unique<Process>(path);
  foreign.window = WaitForShown(foreign.process->Id(), className, title, kStartTimeout, match);
  foreign.title = TextOf(foreign.window);
  foreign.Remember();
  return foreign;
}

Foreign StartProbe(const std::wstring& folder, const std::wstring& name, POINT at) {
  const std::wstring path = CopyBesideMe(L"probe.exe", folder, name + L".exe");
  if (path.empty()) return Foreign{};
  // Found once shown: the style then holds WS_VISIBLE.
  Foreign probe = StartForeign(path, L"SorvelProbe", name.c_str());
  SetWindowPos(probe.window, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  probe.Remember();
  return probe;
}

Host::Host(const std::wstring& settings, const std::wstring& program, const wchar_t* source)
    : folder_(MakeTestFolder()), program_(program) {
  CopyBesideMe(source != nullptr ? source : program.c_str(), folder_, program);
  const std::wstring ini = folder_ + L"\\" + program.substr(0, program.rfind(L'.')) + L".ini";
  if (!settings.empty()) WriteUtf16File(ini, settings);
}

bool Host::Start() {
  process_ = std::make_unique<Process>(Exe());
  dialog_ = WaitForShown(Id(), L"#32770", nullptr, kStartTimeout,
                         [](HWND w) { return GetDlgItem(w, sorvel::kIdDisplay1) != nullptr; });
  // Past the launch timer (500 ms, then 100 ms per pane): a program picked before it fires
  // would be started a second time.
  if (dialog_ != nullptr) PumpFor(900);
  return dialog_ != nullptr;
}

HWND Host::WaitForOwnDialog(const wchar_t* title, DWORD milliseconds) {
  return WaitForShown(Id(), L"#32770", title, milliseconds, [&](HWND w) { return w != dialog_; });
}

bool Host::WaitUntilHolds(int pane, HWND window) {
  const sorvel::PaneControls& ids = sorvel::kPaneControls[pane];
  auto holds = [&] {
    return GetAncestor(window, GA_PARENT) == Item(ids.display) &&
           IsWindowVisible(Item(ids.buttonToggle));
  };
  return WaitFor(holds, kStepTimeout);
}

}  // namespace e2e
