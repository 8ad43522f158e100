// The real backend: each operation is one or a few Win32 calls.
#pragma once

#include <memory>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/win32_files.h"

namespace sorvel::win32 {
class Transfers;
}

namespace sorvel {

class Win32Platform : public Platform {
 public:
  Win32Platform();
  // Cancels the downloads of unfinished workers and waits a few seconds for them to end.
  ~Win32Platform() override;
  Win32Platform(const Win32Platform&) = delete;
  Win32Platform& operator=(const Win32Platform&) = delete;

  FileSystem& Files() override { return files_; }
  HWND FindWindow(const char16_t* className, const Text& title) override;
  HWND GetTopWindow() override;
  HWND GetWindow(HWND window, WindowRelation relation) override;
  HWND GetParent(HWND window) override;
  bool IsWindow(HWND window) override;
  bool IsWindowVisible(HWND window) override;
  Text GetWindowText(HWND window) override;
  void SetWindowText(HWND window, const Text& text) override;
  Text GetClassName(HWND window) override;
  bool HasWindowTrait(HWND window, WindowTrait trait) override;
  std::uint32_t GetWindowStyle(HWND window) override;
  void SetWindowStyle(HWND window, std::uint32_t style) override;
  Text GetWindowProgramPath(HWND window) override;
  std::uint32_t GetWindowProcessId(HWND window) override;
  bool IsWindowResponding(HWND window, unsigned milliseconds) override;
  HWND SetParent(HWND window, HWND parent) override;
  void ReturnWindowWithoutWaiting(HWND window, const Rect& rect, std::uint32_t style) override;
  bool FinishReturningWindows(unsigned milliseconds) override;
  void ShareInput(HWND window, bool shared) override;
  void MoveWindow(HWND window, const Placement& placement, bool repaint) override;
  void MoveTopmost(HWND window, int x, int y) override;
  Rect GetWindowRect(HWND window) override;
  Rect GetClientRect(HWND window) override;
  void ShowWindow(HWND window, ShowCommand command) override;
  bool SetForegroundWindow(HWND window) override;
  HWND GetForegroundWindow() override;
  void InvalidateWindow(HWND window, bool erase) override;
  int GetSystemMetrics(SystemMetric metric) override;
  Rect GetWorkArea() override;
  HWND CreateDialogWindow(const DialogTemplate& dialogTemplate, HWND owner,
                          DialogSink* sink) override;
  bool RunModalLoop(HWND dialog, HWND owner, DialogSink* sink) override;
  void DestroyWindow(HWND window) override;
  HWND GetDlgItem(HWND dialog, int id) override;
  int GetDlgCtrlID(HWND control) override;
  bool CreateMenuBar(HWND dialog, const MenuTemplate& menu) override;
  HICON LoadIcon(int resourceId) override;
  void SetIcon(HWND window, HICON icon, bool big) override;
  int MessageBox(HWND owner, const Text& text, const Text& caption, unsigned type) override;
  void ListBoxResetContent(HWND list) override;
  void ListBoxAddString(HWND list, const Text& text) override;
  int ListBoxGetCurSel(HWND list) override;
  Text ListBoxGetText(HWND list, int index) override;
  void CheckRadioButton(HWND dialog, int first, int last, int checked) override;
  bool IsDlgButtonChecked(HWND dialog, int id) override;
  void PostMessage(HWND window, std::uint32_t message, std::uintptr_t wParam,
                   std::intptr_t lParam) override;
  void SendMessage(HWND window, std::uint32_t message, std::uintptr_t wParam,
                   std::intptr_t lParam) override;
  void SetTimer(HWND window, unsigned id, unsigned milliseconds) override;
  void KillTimer(HWND window, unsigned id) override;
  Text GetModuleFileName() override;
  ProgramFormat OwnProgramFormat() override { return ProgramFormat::kWindows; }
  Text LocateSettingsFile(const Text& besideProgram) override { return besideProgram; }
  bool GetFileVersion(const Text& path, std::uint32_t* mostSignificant,
                      std::uint32_t* leastSignificant) override;
  bool CreateProcess(const Text& path) override;
  void Sleep(unsigned milliseconds) override;
  bool ClaimInstanceName(const Text& name) override;
  bool InstanceNameHeld(const Text& name) override;
  void ShellStartupInit() override;
  bool ShellExecute(HWND owner, const Text& file, const Text& parameters) override;
  std::int32_t DownloadToFile(const Text& url, const Text& path, std::uint64_t limit,
                              const DownloadProgress& progress) override;
  std::int32_t DownloadToMemory(const Text& url, std::size_t limit, std::string* body) override;
  // The same with the time in all given (the tests shorten it).
  std::int32_t DownloadToFile(const Text& url, const Text& path, std::uint64_t limit,
                              const DownloadProgress& progress, unsigned totalMilliseconds);
  std::int32_t DownloadToMemory(const Text& url, std::size_t limit, std::string* body,
                                unsigned totalMilliseconds);
  bool StartWorker(std::function<void()> work) override;
  void SetCrashHandler(void (*handler)(void* context), void* context) override;

 private:
  void KeepThread(void* thread);

  Win32FileSystem files_;
  std::vector<void*> returning_;  // threads of ReturnWindowWithoutWaiting still at work
  std::shared_ptr<win32::Transfers> transfers_;
  std::vector<void*> threads_;      // of the workers, waited for at the end
  std::vector<DialogSink*> modal_;  // the sinks of the modal runs, innermost last
};

}  // namespace sorvel
