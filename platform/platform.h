// The device's window system, processes and shell, as both programs use them. One interface,
// two backends: win32 (the real one) and sim (the simulated device of the unit tests).
// Operations keep Win32's names where those are their meaning; each backend call is one or a
// few platform calls.
//
// Unless its comment says otherwise, an operation neither re-enters (runs a handler of a
// dialog of this thread before it returns) nor blocks (waits for another program).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/dialog_template.h"
#include "platform/files.h"
#include "platform/message.h"
#include "platform/types.h"

namespace sorvel {

// What a dialog window reports to the object behind it.
class DialogSink {
 public:
  virtual ~DialogSink() = default;
  // The dialog and its controls exist; the dialog is not shown yet.
  virtual void OnDialogCreated(HWND dialog) = 0;
  // Every message of the dialog window; returns false when nothing handled it.
  virtual bool OnMessage(Message& message) = 0;
  // Every message taken from the queue during the modal run, before it is dispatched;
  // returns true when it is consumed.
  virtual bool PreTranslateMessage(const Message& message) = 0;
  virtual bool ModalRunEnded() const = 0;
};

// Bytes received so far and the announced total (0 when the server gives no length).
using DownloadProgress = std::function<void(std::uint64_t received, std::uint64_t total)>;

// The kind of program file a platform runs: a Windows program (a PE image, its file named
// "*.exe") or a native ELF program (its file named without an extension).
enum class ProgramFormat { kWindows, kElf };

// The window class of the platform's dialogs, as GetClassName and FindWindow name it.
constexpr char16_t kPortableDialogClass[] = u"Dialog";

class Platform {
 public:
  virtual ~Platform() = default;

  virtual FileSystem& Files() = 0;

  // --- Top-level windows and their relations ---
  // Exact, case-sensitive match of the whole title; className may be null (any class).
  // An empty title finds no window.
  virtual HWND FindWindow(const char16_t* className, const Text& title) = 0;
  // The topmost top-level window.
  virtual HWND GetTopWindow() = 0;
  // kGwHwndNext (next sibling in stacking order), kGwOwner, kGwChild (topmost child).
  virtual HWND GetWindow(HWND window, WindowRelation relation) = 0;
  // The real parent; none for a top-level window.
  virtual HWND GetParent(HWND window) = 0;
  virtual bool IsWindow(HWND window) = 0;
  virtual bool IsWindowVisible(HWND window) = 0;
  virtual Text GetWindowText(HWND window) = 0;
  // Blocks on another program's window until that program has taken the text.
  virtual void SetWindowText(HWND window, const Text& text) = 0;
  virtual Text GetClassName(HWND window) = 0;
  // False for no window.
  virtual bool HasWindowTrait(HWND window, WindowTrait trait) = 0;
  // The window's style: its frame and state as the window system keeps them, a word that only
  // SetWindowStyle and ReturnWindowWithoutWaiting read.
  virtual std::uint32_t GetWindowStyle(HWND window) = 0;
  // Replaces the whole style: kWsVisible, or a word that GetWindowStyle gave. Blocks until the
  // window's program has taken the change.
  virtual void SetWindowStyle(HWND window, std::uint32_t style) = 0;
  // Full path of the program file of the process that owns the window; empty when it cannot
  // be had whole (the platform's path limit is 259 units).
  virtual Text GetWindowProgramPath(HWND window) = 0;
  // The process that owns the window; 0 for no window.
  virtual std::uint32_t GetWindowProcessId(HWND window) = 0;
  // Asks the window's program whether it still answers: a null message that gives up after
  // `milliseconds`, or at once when the platform knows the program is hung. Blocks at most that
  // long; never re-enters the caller.
  virtual bool IsWindowResponding(HWND window, unsigned milliseconds) = 0;

  // --- Geometry and state ---
  // Blocks until the window's program has taken the change (another process's window); the
  // messages other programs send to this thread meanwhile are handled.
  virtual HWND SetParent(HWND window, HWND parent) = 0;
  // Gives a window of a program that does not answer back to the desktop at `rect` (screen
  // coordinates) with `style`, without waiting for it: the change takes effect when its
  // program answers again, or at once where the window system re-parents without the program's
  // help (X11).
  virtual void ReturnWindowWithoutWaiting(HWND window, const Rect& rect, std::uint32_t style) = 0;
  // Whether another program's window shares this program's input state (activation, focus,
  // keyboard), as the window system makes it once the window is a child of one of ours: the
  // user can type into it, but while its program hangs every focus change here waits for it.
  virtual void ShareInput(HWND window, bool shared) = 0;
  // Waits at most `milliseconds` for the windows given back without waiting to be taken back by
  // their programs, handling the messages those programs send meanwhile (which may re-enter);
  // true when all are.
  // A window still held when its holder is destroyed is destroyed with it, except where the
  // window system re-parents without the program's help (X11): there it is given back.
  virtual bool FinishReturningWindows(unsigned milliseconds) = 0;
  // Re-enters the window's dialog with a size notification when its client size changes; blocks
  // until another program's window has taken the change.
  virtual void MoveWindow(HWND window, const Placement& placement, bool repaint) = 0;
  // Makes the window top-most for good (above every window that is not) and moves it to x, y
  // (screen coordinates) without sizing it: no size notification, but the window's dialog hears
  // of the move and of its activation before the call returns.
  virtual void MoveTopmost(HWND window, int x, int y) = 0;
  virtual Rect GetWindowRect(HWND window) = 0;  // screen coordinates
  virtual Rect GetClientRect(HWND window) = 0;  // left and top are 0
  // Another process's window takes the change when its program does: the call never waits for
  // that program, hung or not.
  virtual void ShowWindow(HWND window, ShowCommand command) = 0;
  // Re-enters the dialogs of this thread that gain or lose the activation.
  virtual bool SetForegroundWindow(HWND window) = 0;
  virtual HWND GetForegroundWindow() = 0;
  virtual void InvalidateWindow(HWND window, bool erase) = 0;
  virtual int GetSystemMetrics(SystemMetric metric) = 0;
  // The screen minus the shell's bars: where a full-screen dialog goes.
  virtual Rect GetWorkArea() = 0;

  // --- Dialogs, controls, menus, icons ---
  // Re-enters: the sink hears of the creation and of the dialog's first messages before the
  // call returns.
  virtual HWND CreateDialogWindow(const DialogTemplate& dialogTemplate, HWND owner,
                                  DialogSink* sink) = 0;
  // Runs the dialog's message loop until the sink's run has ended or a quit message arrives,
  // with the owner disabled meanwhile. Returns false when it ended by a quit message, which
  // then also ends the modal runs outside this one. Re-enters every window of this thread.
  virtual bool RunModalLoop(HWND dialog, HWND owner, DialogSink* sink) = 0;
  // Re-enters: the window's dialog hears of its destruction before its controls go.
  virtual void DestroyWindow(HWND window) = 0;
  virtual HWND GetDlgItem(HWND dialog, int id) = 0;
  virtual int GetDlgCtrlID(HWND control) = 0;
  // The menu bar of a dialog, built from the menu data. Re-enters the dialog with a size
  // notification: the bar takes its height from the client area.
  virtual bool CreateMenuBar(HWND dialog, const MenuTemplate& menu) = 0;
  virtual HICON LoadIcon(int resourceId) = 0;
  virtual void SetIcon(HWND window, HICON icon, bool big) = 0;
  // A modal run of its own: re-enters every window of this thread until it is answered.
  virtual int MessageBox(HWND owner, const Text& text, const Text& caption, unsigned type) = 0;
  // List boxes: LB_RESETCONTENT, LB_ADDSTRING (a sorted list places the item itself),
  // LB_GETCURSEL (-1 when nothing is selected), LB_GETTEXT.
  virtual void ListBoxResetContent(HWND list) = 0;
  virtual void ListBoxAddString(HWND list, const Text& text) = 0;
  virtual int ListBoxGetCurSel(HWND list) = 0;
  virtual Text ListBoxGetText(HWND list, int index) = 0;
  // Radio buttons of a group: checks `checked` and clears the others from `first` to `last`.
  virtual void CheckRadioButton(HWND dialog, int first, int last, int checked) = 0;
  virtual bool IsDlgButtonChecked(HWND dialog, int id) = 0;

  // --- Messages and timers ---
  // A message number with its two words as Win32 gives them; the receiving backend fills the
  // Message's fields of the kinds it knows from them. The logic sends its own messages and the
  // quit message without words, and a progress bar its position as the first word.
  // PostMessage may be called from any thread.
  virtual void PostMessage(HWND window, std::uint32_t message, std::uintptr_t wParam,
                           std::intptr_t lParam) = 0;
  // Handled before the call returns: re-enters the window's dialog.
  virtual void SendMessage(HWND window, std::uint32_t message, std::uintptr_t wParam,
                           std::intptr_t lParam) = 0;
  virtual void SetTimer(HWND window, unsigned id, unsigned milliseconds) = 0;
  virtual void KillTimer(HWND window, unsigned id) = 0;

  // --- Processes, modules, shell ---
  virtual Text GetModuleFileName() = 0;  // the own program file, at most 259 units
  // The format of the own program files and of those the platform starts: a program that
  // replaces one of ours must have it. It also decides how the programs' files are named.
  virtual ProgramFormat OwnProgramFormat() = 0;
  // Where the settings file meant to lie at `besideProgram` is kept: there, or where the
  // program's folder is not the user's to write (an installed program), in a folder of the
  // user's own, which it creates. Empty stays empty. Blocks on the file system only.
  virtual Text LocateSettingsFile(const Text& besideProgram) = 0;
  // The file version of a program file's version resource (VS_FIXEDFILEINFO's dwFileVersionMS
  // and dwFileVersionLS); false when the file has none or it cannot be read.
  virtual bool GetFileVersion(const Text& path, std::uint32_t* mostSignificant,
                              std::uint32_t* leastSignificant) = 0;
  // Starts a program by full path with no command line; neither waits nor keeps the process.
  virtual bool CreateProcess(const Text& path) = 0;
  // Blocks this thread; dispatches nothing.
  virtual void Sleep(unsigned milliseconds) = 0;
  // Claims a name that one process at a time may hold: true when this process holds it now,
  // false only when another process holds it. The claim lasts as long as the process.
  virtual bool ClaimInstanceName(const Text& name) = 0;
  // Whether some process holds the name now (without claiming it).
  virtual bool InstanceNameHeld(const Text& name) = 0;
  // The shell's start-up initialisation, once before any window exists.
  virtual void ShellStartupInit() = 0;
  // Opens `file` (a program, a document or an address) with `parameters`; does not wait.
  virtual bool ShellExecute(HWND owner, const Text& file, const Text& parameters) = 0;
  // --- Downloads and worker threads ---
  // Downloads `url` into the file `path` and returns when the transfer has ended: 0 or more on
  // success, negative on failure. Only http:// and https:// addresses; anything else fails at
  // once. An https server must prove itself by a certificate the system trusts, and a redirect
  // from https to http is never followed; other redirects are. Keeps no cached copy. Once the
  // server answers with the body, the file is made anew: a leftover at `path` is removed (a
  // link itself, never what it points to) and the file created only where nothing is.
  // Fails on a connection error, a final status other than 200, a body shorter than its
  // announced length or longer than `limit` bytes (an announced length beyond it fails before
  // the body), 30 s without data, 10 minutes in all, a failed write, a quit message (which is
  // posted again) or the end of the modal run it dispatches for (its dialog was closed). On
  // success the file's data is on disk. `progress` runs on the calling thread, at least once
  // per percent of a known total.
  // Re-enters: the calling thread's messages are dispatched meanwhile, so its windows keep
  // painting and answering; a handler may run inside this call.
  virtual std::int32_t DownloadToFile(const Text& url, const Text& path, std::uint64_t limit,
                                      const DownloadProgress& progress) = 0;
  // Reads `url` into `body` under the same rules, failing when it holds more than `limit`
  // bytes and after 60 s in all. Blocks the calling thread and dispatches nothing: meant for a
  // worker thread.
  virtual std::int32_t DownloadToMemory(const Text& url, std::size_t limit, std::string* body) = 0;
  // Runs `work` on a thread of its own and returns at once; false when no thread could be
  // started. The work may call only DownloadToMemory, PostMessage and Files().DebugOutput.
  // Before the platform is destroyed it cancels the downloads of unfinished work and waits
  // for it to end.
  virtual bool StartWorker(std::function<void()> work) = 0;

  // `handler(context)` runs once when the process meets a fault that nothing handles, before
  // the process dies, where the backend may still run code safely at that point; a backend that
  // gives the held windows back by other means after any end of the process (a keeper that
  // outlives it) runs none. Null removes it.
  virtual void SetCrashHandler(void (*handler)(void* context), void* context) = 0;
};

}  // namespace sorvel
