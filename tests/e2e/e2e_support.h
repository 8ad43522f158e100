// Helpers of the end-to-end tests: start the real host, find its windows, wait for state,
// keep screenshots. The tests run under Wine inside a virtual desktop of a known size.
// Runs on the test's main thread, which also dispatches its windows' messages.
#pragma once

// clang-format off
#include <windows.h>
// clang-format on

#include <functional>
#include <string>
#include <vector>

namespace e2e {

// A program started by the tests; terminated at destruction if it still runs.
class Process {
 public:
  Process() = default;
  explicit Process(const std::wstring& path);
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool Started() const { return info_.hProcess != nullptr; }
  DWORD Id() const { return info_.dwProcessId; }
  // Waits for the end; returns the exit code, or STILL_ACTIVE after the time-out.
  DWORD WaitForExit(DWORD milliseconds);
  bool Running();

 private:
  PROCESS_INFORMATION info_{};
};

// Polls `condition` every 20 ms until it holds or `milliseconds` pass.
bool WaitFor(const std::function<bool()>& condition, DWORD milliseconds);

// A file beside the test program.
std::wstring BesideMe(const wchar_t* name);
// A new empty folder under the temporary folder, for one test's programs and files.
std::wstring MakeTestFolder();
// Copies a program that lies beside the test program into `folder` under `name`.
bool CopyBesideMe(const wchar_t* program, const std::wstring& folder, const wchar_t* name);
// Writes `text` as UTF-16LE without byte-order mark, the settings file's encoding.
bool WriteUtf16File(const std::wstring& path, const std::wstring& text);
// The whole of a UTF-16LE file; empty when it cannot be read.
std::wstring ReadUtf16File(const std::wstring& path);
// The bytes of a file; empty when it cannot be read.
std::string ReadBytes(const std::wstring& path);
// Closes every window of this class (WM_CLOSE) and waits until none is left.
bool CloseWindowsOfClass(const wchar_t* className, DWORD milliseconds);
// How many top-level windows of any process have this class and title.
int CountWindows(const wchar_t* className, const wchar_t* title);
// The visible top-level windows of a process with this window class.
std::vector<HWND> WindowsOf(DWORD pid, const wchar_t* className);
// Waits for the process's visible dialog; nullptr after the time-out.
HWND WaitForDialog(DWORD pid, DWORD milliseconds);
// Waits until `find` gives a window; nullptr after the time-out.
HWND WaitForWindow(const std::function<HWND()>& find, DWORD milliseconds);

std::wstring TextOf(HWND window);
// The texts of a dialog's static controls, in stacking order, run together.
std::wstring StaticTexts(HWND dialog);
// A control's rectangle in its parent's client coordinates.
RECT RectInParent(HWND control);
// Writes the screen to `name` (a 24-bit BMP) in the artefact folder; returns its path.
std::wstring SaveScreenshot(const wchar_t* name);

// A visible, titled top-level window of the test program itself.
class Witness {
 public:
  explicit Witness(const wchar_t* title);
  ~Witness();
  HWND Handle() const { return hwnd_; }

 private:
  HWND hwnd_ = nullptr;
};

// Dispatches the test program's own messages for a while.
void PumpFor(DWORD milliseconds);

std::string Narrow(const std::wstring& text);

}  // namespace e2e
