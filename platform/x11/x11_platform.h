// The native Linux backend: our dialogs with FLTK, other programs' windows with Xlib on FLTK's
// display connection, downloads over libcurl. Each operation is one or a few toolkit or X calls.
//
// Handles: a foreign window's handle is its X window id (29 bits at most); a window of ours is
// kOwnTag plus a serial number that is never given out again, so a destroyed window's handle
// names nothing.
//
// Runs on the user-interface thread, except where platform.h says otherwise (PostMessage,
// DownloadToMemory, a worker's calls).
#pragma once

#include <X11/Xlib.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/posix_files.h"
#include "platform/x11/curl_download.h"
#include "platform/x11/held_windows.h"
#include "platform/x11/keeper.h"
#include "platform/x11/program_icon.h"
#include "platform/x11/x11_windows.h"

class Fl_RGB_Image;
class Fl_Widget;
class Fl_Window;

namespace sorvel {

class X11Platform : public Platform {
 public:
  // Opens FLTK's display (DISPLAY). Paths are the machine's own. `icon` is the program's, which
  // its dialogs bear. The first window held starts the keeper, which puts the held windows back
  // at their former places however the process ends.
  explicit X11Platform(const x11::ProgramIcon& icon);
  // Destroys the windows still open, cancels the downloads of unfinished workers and joins them.
  ~X11Platform() override;
  X11Platform(const X11Platform&) = delete;
  X11Platform& operator=(const X11Platform&) = delete;

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
  // The X server re-parents without the program's help: the window goes back at once, its
  // program answering or not.
  void GiveBackWindow(HWND window, const Rect& rect, const FormerFrame& former,
                      bool programAnswers) override;
  // Parted, a held window gives up the keyboard to its dialog's controls and a click in its
  // pane no longer gives it the keyboard; shared again, a click does.
  void ShareInput(HWND window, bool shared) override;
  // GiveBackWindow leaves nothing to finish.
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
  ProgramFormat OwnProgramFormat() override { return ProgramFormat::kElf; }
  // An ELF program has no version resource: its build gives it a note instead.
  std::optional<std::uint64_t> GetFileVersion(const Text& path) override;
  Text LocateSettingsFile(const Text& besideProgram) override;
  bool CreateProcess(const Text& path) override;
  bool ShellExecute(HWND owner, const Text& file, const Text& parameters) override;
  void Sleep(unsigned milliseconds) override;
  bool ClaimInstanceName(const Text& name) override;
  bool InstanceNameHeld(const Text& name) override;
  // Runs no handler: nothing but async-signal-safe calls may run in a fault's signal handler,
  // and the keeper gives the held windows back once the process has ended.
  void SetCrashHandler(void (*handler)(void* context), void* context) override;

  std::int32_t DownloadToFile(const Text& url, const Text& path, std::uint64_t limit,
                              const DownloadProgress& progress) override;
  std::int32_t DownloadToMemory(const Text& url, std::size_t limit, std::string* body) override;
  bool StartWorker(std::function<void()> work) override;

  // SIGTERM, SIGINT and SIGHUP end the program as closing its dialogs would: from the event
  // loop, each dialog of ours gets a close message, owned ones first. The handler only writes
  // to a pipe; a second signal meanwhile ends the process at once (the X server then gives held
  // windows back by the save-set).
  void CloseOnTerminationSignals();

  struct Node;
  struct Timer;
  struct Units;

 private:
  // The real parent (our control, or another program's X window); none for a top-level window.
  HWND GetParent(HWND window);
  Node* Find(HWND window);
  Node* DialogOf(Node* node);
  ::Window XidOf(HWND window);  // our window's X window once shown, a foreign one's id
  HWND HandleOfXid(::Window xid);
  // What the fresh listing knows of a top-level window; null when it is not fresh or lacks it.
  const x11::TopLevel* Listed(::Window xid) const;
  void List();
  bool IsForeign(HWND window) const;
  Node* NewNode();
  void Deliver(Node* dialog, Message& message);
  // Queues a message for the dialog of `window`, from any thread.
  void Queue(const Message& message);
  void DeliverPosted();
  void DestroyNode(Node* node);
  // Passes a transfer's result on, first telling the debug output why libcurl could not be
  // loaded when that was the failure. Any thread.
  std::int32_t TellMissingLibrary(std::int32_t result);
  // The X window of the dialog that `node` is or belongs to; None while it is not shown.
  ::Window DialogXid(Node* node);
  // Puts the dialog's control windows in the template's stacking order (the first on top): a
  // window the toolkit creates or maps again goes on top of its siblings.
  void RestackControls(Node* dialog);
  void KeepTopmostAbove();
  // Shows a dialog and waits (bounded) until it is listed among the top-level windows; may
  // destroy it through its own handlers.
  void ShowDialog(Node* dialog);
  // The parts of CreateDialogWindow: the dialog's window, one control's widget, the icon.
  Fl_Window* NewDialogWindow(const DialogTemplate& dialogTemplate, Node* dialog,
                             const Units& units);
  Fl_Widget* NewControl(const ControlTemplate& control, Node* node, const Units& units);
  void GiveIcon(Fl_Window* window, int icon);
  void AddMenuBar(Node* dialog, const MenuTemplate& menu, const Units& units);
  static void OnAwake(void* self);
  static void OnTermination(int fd, void* self);
  static int OnXEvent(void* event, void* self);
  static void OnTimer(void* timer);
  static void OnControl(Fl_Widget* widget, void* handle);

  PosixFileSystem files_;
  const x11::ProgramIcon& icon_;
  // The icon's images, decoded by the first dialog that bears it.
  std::vector<std::unique_ptr<Fl_RGB_Image>> iconImages_;
  Display* display_;
  Atom messageAtom_;  // of commands sent by another program
  x11::Keeper keeper_;
  std::unique_ptr<x11::X11Windows> windows_;
  std::unique_ptr<x11::HeldWindows> held_;
  std::map<std::uintptr_t, std::unique_ptr<Node>> nodes_;
  // The top-level windows as TopLevelWindows listed them, topmost first, with what the listing
  // learnt of each: the answers of the questions asked of its windows, until an event comes in
  // or an operation here changes the windows.
  std::vector<x11::TopLevel> listing_;
  std::unordered_map<::Window, std::size_t> listed_;
  bool stackingFresh_ = false;
  std::uintptr_t serial_ = 0;
  std::map<std::pair<std::uintptr_t, unsigned>, std::unique_ptr<Timer>> timers_;
  std::set<::Window> minimized_;    // iconified without a window manager, so unmapped by us
  std::vector<DialogSink*> modal_;  // the sinks of the modal runs, innermost last

  std::mutex mutex_;  // guards posted_
  std::deque<Message> posted_;
  std::atomic<bool> quitPosted_{false};

  x11::Cancellation cancellation_;
  std::vector<std::thread> workers_;
};

}  // namespace sorvel
