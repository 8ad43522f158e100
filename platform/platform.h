// The window system, processes and shell, as both programs use them, stated by what each
// operation achieves for them. Three backends implement it directly: win32 (Windows and Wine),
// x11 (FLTK for our dialogs, Xlib for other programs' windows) and sim (the simulated device
// of the unit tests). Win32's words stay where they are the meaning on every platform.
//
// Everything runs on the program's user-interface thread, except where a comment says
// otherwise. Unless its comment says so, an operation neither re-enters (runs a handler of a
// dialog of this thread before it returns) nor blocks (waits for another program).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

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

// What a window had before it was held, for GiveBackWindow to restore: its frame and state in
// the backend's own terms. The logic keeps it and hands it back, nothing more.
struct FormerFrame {
  std::uint32_t bits = 0;
};

class Platform {
 public:
  virtual ~Platform() = default;

  virtual FileSystem& Files() = 0;

  // --- Other programs' windows, as the logic finds and reads them ---
  // The top-level windows, topmost first, at most `limit` of them.
  virtual std::vector<HWND> TopLevelWindows(std::size_t limit) = 0;
  // Exact, case-sensitive match of the whole title; className may be null (any class).
  // An empty title finds no window.
  virtual HWND FindWindow(const char16_t* className, const Text& title) = 0;
  // The window that owns a top-level window (its dialogs stay in front of it); none for none.
  virtual HWND GetOwner(HWND window) = 0;
  virtual bool IsWindow(HWND window) = 0;
  // False for no window.
  virtual bool HasWindowTrait(HWND window, WindowTrait trait) = 0;
  virtual Text GetWindowText(HWND window) = 0;
  // Blocks on another program's window until that program has taken the text.
  virtual void SetWindowText(HWND window, const Text& text) = 0;
  virtual Text GetClassName(HWND window) = 0;
  // Full path of the program file of the process that owns the window; empty when it cannot
  // be had whole (the platform's path limit is 259 units).
  virtual Text GetWindowProgramPath(HWND window) = 0;
  // The process that owns the window; 0 for no window.
  virtual std::uint32_t GetWindowProcessId(HWND window) = 0;
  // Whether the window's program still answers: it is asked with a null message that gives up
  // after `milliseconds`, or its state is read where the platform knows it. Blocks at most
  // that long; never re-enters the caller.
  virtual bool IsWindowResponding(HWND window, unsigned milliseconds) = 0;
  virtual Rect GetWindowRect(HWND window) = 0;  // screen coordinates
  virtual Rect GetClientRect(HWND window) = 0;  // left and top are 0

  // --- Holding another program's window ---
  // Takes a top-level window of another program into `holder`, a control of one of our
  // dialogs: its frame off, a plain visible window at `placement` in the holder, sharing this
  // program's input. `former` receives what GiveBackWindow needs to restore it. True when the
  // window is the holder's child afterwards; false leaves it as taking left it, for the caller
  // to give back. Blocks until the window's program has taken the changes.
  virtual bool HoldWindow(HWND window, HWND holder, const Placement& placement,
                          FormerFrame* former) = 0;
  // Gives a held window back to the desktop at `rect` (screen coordinates) with its former
  // frame, its input parted from this program's. When its program answers, blocks until it has
  // taken the changes (the messages other programs send this thread meanwhile are handled).
  // When it does not, returns at once: the window goes back when its program answers again,
  // or at once where the window system re-parents without the program's help (X11).
  virtual void GiveBackWindow(HWND window, const Rect& rect, const FormerFrame& former,
                              bool programAnswers) = 0;
  // Whether a held window shares this program's input (activation, focus, keyboard): the user
  // can type into it. While its program hangs it should not: a focus change here would wait
  // for that program (Win32), or the user's keys would go to a program that takes none.
  virtual void ShareInput(HWND window, bool shared) = 0;
  // Waits at most `milliseconds` for the windows given back while their programs did not
  // answer to be taken back by them, handling the messages those programs send meanwhile
  // (which may re-enter); true when all are. A window still held when its holder is destroyed
  // dies with it, except where the window system re-parents without the program's help (X11):
  // there it is given back.
  virtual bool FinishReturningWindows(unsigned milliseconds) = 0;

  // --- Places and visibility ---
  // Re-enters the window's dialog with a size notification when its client size changes;
  // blocks until another program's window has taken the change.
  virtual void MoveWindow(HWND window, const Placement& placement, bool repaint) = 0;
  // Makes the window top-most for good (above every window that is not) and moves it to x, y
  // (screen coordinates) without sizing it: no size notification, but the window's dialog
  // hears of the move and of its activation before the call returns.
  virtual void MoveTopmost(HWND window, int x, int y) = 0;
  // Another process's window takes the change when its program does: the call never waits for
  // that program, hung or not.
  virtual void ShowWindow(HWND window, ShowCommand command) = 0;
  // Re-enters the dialogs of this thread that gain or lose the activation.
  virtual bool SetForegroundWindow(HWND window) = 0;
  // The window and what it holds are painted again.
  virtual void InvalidateWindow(HWND window, bool erase) = 0;
  // The screen's size, and the part of it that the shell's bars leave (where a full-screen
  // dialog goes).
  virtual Screen GetScreen() = 0;

  // --- Our dialogs and their controls ---
  // Re-enters: the sink hears of the creation and of the dialog's first messages before the
  // call returns. By then the dialog bears the program's icon and its menu bar; no dialog is
  // made when its menu bar cannot be.
  virtual HWND CreateDialogWindow(const DialogTemplate& dialogTemplate, HWND owner,
                                  DialogSink* sink) = 0;
  // Runs the dialog's message loop until the sink's run has ended or a quit message arrives,
  // with the owner disabled meanwhile. Returns false when it ended by a quit message, which
  // then also ends the modal runs outside this one. Re-enters every window of this thread.
  virtual bool RunModalLoop(HWND dialog, HWND owner, DialogSink* sink) = 0;
  // Re-enters: the window's dialog hears of its destruction before its controls go.
  virtual void DestroyWindow(HWND window) = 0;
  virtual HWND GetDlgItem(HWND dialog, int id) = 0;
  // A button's checked state (radio buttons: the dialog framework keeps one of a group checked).
  virtual void CheckButton(HWND button, bool checked) = 0;
  // A list's items, shown in the order given; nothing is selected afterwards.
  virtual void SetListItems(HWND list, const std::vector<Text>& items) = 0;
  // The index of the selected item; -1 when nothing is selected.
  virtual int GetListSelection(HWND list) = 0;
  // A progress bar's position, 0 to 100.
  virtual void SetProgress(HWND bar, int percent) = 0;
  // Tells the user `text` and waits for the answer, with an OK button or with Yes and No;
  // true for OK or Yes. A modal run of its own: re-enters every window of this thread until it
  // is answered.
  virtual bool MessageBox(HWND owner, const Text& text, const Text& caption,
                          MessageBoxButtons buttons) = 0;

  // --- Messages and timers ---
  // Puts a message without words in the window's queue: one of the program's own (kWmApp and
  // up), the quit message, or the null message that only wakes a waiting loop. May be called
  // from any thread.
  virtual void PostMessage(HWND window, std::uint32_t message) = 0;
  virtual void SetTimer(HWND window, unsigned id, unsigned milliseconds) = 0;
  virtual void KillTimer(HWND window, unsigned id) = 0;

  // --- The program, other programs, the shell ---
  virtual Text GetModuleFileName() = 0;  // the own program file, at most 259 units
  // The format of the own program files and of those the platform starts: a program that
  // replaces one of ours must have it. It also decides how the programs' files are named.
  virtual ProgramFormat OwnProgramFormat() = 0;
  // The version a program file of this platform's format carries (VS_FIXEDFILEINFO's
  // dwFileVersionMS above dwFileVersionLS, from a Windows program's version resource or a
  // native program's version note); none when the file has none or cannot be read.
  virtual std::optional<std::uint64_t> GetFileVersion(const Text& path) = 0;
  // Where the settings file meant to lie at `besideProgram` is kept: there, or where the
  // program's folder is not the user's to write (an installed program), in a folder of the
  // user's own, which it creates. Empty stays empty. Blocks on the file system only.
  virtual Text LocateSettingsFile(const Text& besideProgram) = 0;
  // Starts a program by full path with no command line; neither waits nor keeps the process.
  virtual bool CreateProcess(const Text& path) = 0;
  // Opens `file` (a program, a document or an address) with `parameters`; does not wait.
  virtual bool ShellExecute(HWND owner, const Text& file, const Text& parameters) = 0;
  // Blocks this thread; dispatches nothing.
  virtual void Sleep(unsigned milliseconds) = 0;
  // Claims a name that one process at a time may hold: true when this process holds it now,
  // false only when another process holds it. The claim lasts as long as the process.
  virtual bool ClaimInstanceName(const Text& name) = 0;
  // Whether some process holds the name now (without claiming it).
  virtual bool InstanceNameHeld(const Text& name) = 0;
  // What gives the held windows back when the process meets a fault that nothing handles:
  // `handler(context)` runs once before the process dies where the platform may still act
  // (Win32's last-chance exception filter); where it may not (a signal handler, X11), the
  // platform gives them back itself from outside the process. Null removes it.
  virtual void SetCrashHandler(void (*handler)(void* context), void* context) = 0;

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
  // worker thread, where it runs.
  virtual std::int32_t DownloadToMemory(const Text& url, std::size_t limit, std::string* body) = 0;
  // Runs `work` on a thread of its own and returns at once; false when no thread could be
  // started. The work may call only DownloadToMemory, PostMessage and Files().DebugOutput.
  // Before the platform is destroyed it cancels the downloads of unfinished work and waits
  // for it to end.
  virtual bool StartWorker(std::function<void()> work) = 0;
};

}  // namespace sorvel
