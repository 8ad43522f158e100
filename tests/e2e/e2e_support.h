// Helpers of the end-to-end tests: start the real host, find its windows, wait for state,
// keep screenshots. The tests run under Wine inside a virtual desktop of a known size.
// Runs on the test's main thread, which also dispatches its windows' messages.
#pragma once

// clang-format off
#include <windows.h>
// clang-format on

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace e2e {

constexpr DWORD kStartTimeout = 15000;
constexpr DWORD kStepTimeout = 5000;
// Posted to a probe's window, this message makes the probe stop answering for wParam ms.
constexpr UINT kProbeHang = WM_APP + 1;

// A program started by the tests; terminated at destruction if it still runs.
class Process {
 public:
  explicit Process(const std::wstring& path);
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool Started() const { return info_.hProcess != nullptr; }
  DWORD Id() const { return info_.dwProcessId; }
  // Waits for the end; returns the exit code, or STILL_ACTIVE after the time-out.
  DWORD WaitForExit(DWORD milliseconds);
  bool Running() const {
    return Started() && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
  }

 private:
  PROCESS_INFORMATION info_{};
};

// Polls `condition` every 20 ms, dispatching our messages, until it holds or `milliseconds` pass.
bool WaitFor(const std::function<bool()>& condition, DWORD milliseconds);
// Dispatches the test program's own messages for a while.
void PumpFor(DWORD milliseconds);
// The visible top-level windows of a process (of any when 0) with this class and title (any
// title when null).
std::vector<HWND> WindowsOf(DWORD pid, const wchar_t* className, const wchar_t* title = nullptr);
// Waits for the first of those windows that `match` accepts (any when none); null after the
// time-out.
HWND WaitForShown(DWORD pid, const wchar_t* className, const wchar_t* title, DWORD milliseconds,
                  const std::function<bool(HWND)>& match = {});
// Closes every probe's window (WM_CLOSE) and waits until none is left.
bool CloseProbes();

// A file beside the test program.
std::wstring BesideMe(const wchar_t* name);
// A new empty folder under the temporary folder, for one test's programs and files.
std::wstring MakeTestFolder();
// Copies a program that lies beside the test program into `folder` under `name`, past the path
// limit if need be; the copy's path, empty when it cannot be made.
std::wstring CopyBesideMe(const wchar_t* program, const std::wstring& folder,
                          const std::wstring& name);
// Writes `text` as UTF-16LE without byte-order mark, the settings file's encoding.
bool WriteUtf16File(const std::wstring& path, const std::wstring& text);
// The bytes of a file, or its UTF-16LE text; empty when it cannot be read.
std::string ReadBytes(const std::wstring& path);
std::wstring ReadUtf16File(const std::wstring& path);

std::wstring TextOf(HWND window);
// Clicks a dialog's button as a tap would; waits until a window is gone.
void Click(HWND dialog, int button);
bool Closes(HWND window);
// The texts of a dialog's static controls, in stacking order, run together.
std::wstring StaticTexts(HWND dialog);
bool IsTopLevel(HWND window);
// Whether a window's thread answers (`message`, sent with `wParam`) within `milliseconds`.
bool Answers(HWND window, UINT milliseconds, UINT message = WM_NULL, WPARAM wParam = 0);
// Writes the screen to `name` (a 24-bit BMP) in the artefact folder, recording its path as the
// test's `property`.
void Screenshot(const char* property, const std::wstring& name);

// A foreign program started for one test, with the window the host is to hold and where that
// window stood before.
struct Foreign {
  std::wstring title;
  std::unique_ptr<Process> process;
  HWND window = nullptr;  // the window that goes into the pane
  RECT former{};
  LONG formerStyle = 0;

  // Notes where the window stands now, as the host will find it.
  void Remember();
  // A top-level window again, where and as it stood before the capture, frame included (waited
  // for up to `milliseconds`).
  ::testing::AssertionResult GivenBack(DWORD milliseconds = kStepTimeout) const;
};

// Starts `path` and waits for its window of this class and title that `match` accepts (as
// WaitForShown); notes its title and where it stands.
Foreign StartForeign(const std::wstring& path, const wchar_t* className,
                     const wchar_t* title = nullptr, const std::function<bool(HWND)>& match = {});
// A copy of probe.exe named `name`.exe in `folder`, its window moved to `at` so that every probe
// of a test has a former place of its own.
Foreign StartProbe(const std::wstring& folder, const std::wstring& name, POINT at);

// The real host (or a test build of it, or the program `source` beside the test in its place),
// installed in a folder of its own with its settings file.
class Host {
 public:
  explicit Host(const std::wstring& settings = L"", const std::wstring& program = L"Sorvel.exe",
                const wchar_t* source = nullptr);

  // Starts the host (again) from its folder, past its launch timer; false when its main dialog
  // does not appear.
  bool Start();
  DWORD WaitForExit(DWORD milliseconds = kStartTimeout) {
    return process_->WaitForExit(milliseconds);
  }
  DWORD Id() const { return process_->Id(); }

  const std::wstring& Folder() const { return folder_; }
  std::wstring Exe() const { return folder_ + L"\\" + program_; }

  HWND Dialog() const { return dialog_; }
  HWND Item(int id) const { return GetDlgItem(dialog_, id); }
  void Command(WPARAM id) { PostMessageW(dialog_, WM_COMMAND, id, 0); }
  void Tap(int id) { Click(dialog_, id); }

  // The first of the host's other visible dialogs with this title (a message box's is the
  // host's name), waited for.
  HWND WaitForOwnDialog(const wchar_t* title, DWORD milliseconds = kStepTimeout);
  // Waits until the capture is complete: its last step shows the small buttons.
  bool WaitUntilHolds(int pane, HWND window);

 private:
  std::wstring folder_;
  std::wstring program_;
  std::unique_ptr<Process> process_;
  HWND dialog_ = nullptr;
};

}  // namespace e2e
