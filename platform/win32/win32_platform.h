// The real backend: each operation is one or a few Win32 calls.
//
// Runs on the program's user-interface thread, except where platform.h says otherwise.
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
  std::vector<HWND> TopLevelWindows(std::size_t limit) override;
  HWND FindWindow(const char16_t* className, const Text& title) override;
  HWND GetOwner(HWND window) override;
  bool IsWindow(HWND window) override;
  bool HasWindowTrait(HWND window, WindowTrait trait) override;
  Text GetWindowText(HWND window) override;
  void SetWindowText(HWND window, const Text& text) override;
  Text GetClassName(HWND window) override;
  Text GetWindowProgramPath(HWND window) override;
  std::uint32_t GetWindowProcessId(HWND window) override;
  bool IsWindowResponding(HWND window, unsigned milliseconds) override;
  Rect GetWindowRect(HWND window) override;
  Rect GetClientRect(HWND window) override;
  bool HoldWindow(HWND window, HWND holder, const Placement& placement,
                  FormerFrame* former) override;
  void GiveBackWindow(HWND window, const Rect& rect, const FormerFrame& former,
                      bool programAnswers) override;
  void ShareInput(HWND window, bool shared) override;
  bool FinishReturningWindows(unsigned milliseconds) override;
  void MoveWindow(HWND window, const Placement& placement, bool repaint) override;
  void MoveTopmost(HWND window, int x, int y) override;
  void ShowWindow(HWND window, ShowCommand command) override;
  bool SetForegroundWindow(HWND window) override;
  void InvalidateWindow(HWND window, bool erase) override;
  Screen GetScreen() override;
  HWND CreateDialogWindow(const DialogTemplate& dialogTemplate, HWND owner,
                          DialogSink* sink) override;
  bool RunModalLoop(HWND dialog, HWND owner, DialogSink* sink) override;
  void DestroyWindow(HWND window) override;
  HWND GetDlgItem(HWND dialog, int id) override;
  void CheckButton(HWND button, bool checked) override;
  void SetListItems(HWND list, const std::vector<Text>& items) override;
  int GetListSelection(HWND list) override;
  void SetProgress(HWND bar, int percent) override;
  bool MessageBox(HWND owner, const Text& text, const Text& caption,
                  MessageBoxButtons buttons) override;
  void PostMessage(HWND window, std::uint32_t message) override;
  void SetTimer(HWND window, unsigned id, unsigned milliseconds) override;
  void KillTimer(HWND window, unsigned id) override;
  Text GetModuleFileName() override;
  ProgramFormat OwnProgramFormat() override { return ProgramFormat::kWindows; }
  std::optional<std::uint64_t> GetFileVersion(const Text& path) override;
  Text LocateSettingsFile(const Text& besideProgram) override { return besideProgram; }
  bool CreateProcess(const Text& path) override;
  bool ShellExecute(HWND owner, const Text& file, const Text& parameters) override;
  void Sleep(unsigned milliseconds) override;
  bool ClaimInstanceName(const Text& name) override;
  bool InstanceNameHeld(const Text& name) override;
  void SetCrashHandler(void (*handler)(void* context), void* context) override;
  std::int32_t DownloadToFile(const Text& url, const Text& path, std::uint64_t limit,
                              const DownloadProgress& progress) override;
  std::int32_t DownloadToMemory(const Text& url, std::size_t limit, std::string* body) override;
  // The same with the time in all given (the tests shorten it).
  std::int32_t DownloadToFile(const Text& url, const Text& path, std::uint64_t limit,
                              const DownloadProgress& progress, unsigned totalMilliseconds);
  std::int32_t DownloadToMemory(const Text& url, std::size_t limit, std::string* body,
                                unsigned totalMilliseconds);
  bool StartWorker(std::function<void()> work) override;

 private:
  void KeepThread(void* thread);
  // Gives a window back from a thread of its own, for a program that does not answer.
  void ReturnWindowWithoutWaiting(HWND window, const Rect& rect, std::uint32_t style);

  Win32FileSystem files_;
  std::vector<void*> returning_;  // threads of ReturnWindowWithoutWaiting still at work
  std::shared_ptr<win32::Transfers> transfers_;
  std::vector<void*> threads_;      // of the workers, waited for at the end
  std::vector<DialogSink*> modal_;  // the sinks of the modal runs, innermost last
};

}  // namespace sorvel
