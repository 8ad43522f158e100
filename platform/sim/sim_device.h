// The simulated device: an in-memory, deterministic window system with a virtual clock, for the
// unit tests. It behaves like the real window system wherever the logic relies on it:
// positions count in the parent's client coordinates and survive a change of parent, the
// first template control lies on top, a re-parented window goes on top of its new siblings,
// a destroyed window's children go with it, timers fire as messages when the queue is empty,
// a caption is part of a top-level window's frame. A held window given back while its program
// does not answer goes back when that program answers again; until then it stays in its holder
// and dies with it.
//
// Everything runs on the test's one thread: the work given to StartWorker too, when RunWorkers,
// the clock or an idle modal loop runs it.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace sorvel {

// The simulation's style bits beyond the template's (Win32's values).
constexpr std::uint32_t kWsChild = 0x40000000;
constexpr std::uint32_t kWsMinimize = 0x20000000;
constexpr std::uint32_t kWsExTopmost = 0x00000008;
constexpr std::uint32_t kWsExToolWindow = 0x00000080;

struct SimWindow {
  int pid = 0;
  Text className;
  Text text;
  std::uint32_t style = 0;
  std::uint32_t exStyle = 0;
  HWND owner = nullptr;
  HWND parent = nullptr;
  Placement position;  // in the parent's client coordinates; the screen's for a top-level one
  Rect insets;         // non-client widths: left, top, right, bottom
  std::vector<HWND> children;  // topmost first
  int controlId = 0;
  DialogSink* sink = nullptr;
  bool enabled = true;
  int icon = 0;  // a dialog's icon: the template's resource id
  int invalidations = 0;
  std::vector<Text> items;             // a list box's items, in the order shown
  int selection = -1;                  // a list box's selected item
  bool checked = false;                // a button's state
  std::vector<int> progressPositions;  // a progress bar's positions, in the order set

  bool Topmost() const { return (exStyle & kWsExTopmost) != 0; }
};

// What the simulated network answers for one address.
struct SimDownload {
  std::string body;          // the bytes received, in full or up to the failure
  std::uint64_t total = 0;   // the announced length; 0 for none
  std::int32_t result = 0;   // negative: the transfer fails after the body
  std::size_t chunk = 4096;  // bytes per progress report
};

struct SimMessageBox {
  HWND owner;
  Text text;
  Text caption;
  MessageBoxButtons buttons;
};

class SimDevice : public Platform {
 public:
  struct Config {
    int screenWidth = 240;
    int screenHeight = 320;
    int captionHeight = 26;  // a dialog's title bar
    int menuBarHeight = 26;  // the menu bar of a dialog
    int borderWidth = 1;     // a bordered control's frame
    int dialogUnitX = 6;     // pixels per 4 horizontal dialog units
    int dialogUnitY = 13;    // pixels per 8 vertical dialog units
    Text modulePath = u"\\Program Files\\Sorvel\\Sorvel.exe";
    ProgramFormat programFormat = ProgramFormat::kWindows;
  };
  // Creates the windows of a started program; `pid` is its new process.
  using ProgramFactory = std::function<void(SimDevice& device, int pid)>;
  // Called when a modal loop finds no message and no due timer; returns false when the
  // script has nothing more to do (the loop then ends, as if stalled).
  using IdleScript = std::function<bool(SimDevice& device)>;

  explicit SimDevice(FileSystem& files) : SimDevice(files, Config{}) {}
  SimDevice(FileSystem& files, Config config);

  // --- Test controls ---
  // The real parent; none for a top-level window.
  HWND GetParent(HWND window);
  Config& GetConfig() { return config_; }
  // Registers a program file that CreateProcess can start.
  void InstallProgram(const Text& path, ProgramFactory factory);
  // A top-level window of another process; `rect` in screen coordinates.
  HWND CreateForeignWindow(int pid, const Text& className, const Text& title, std::uint32_t style,
                           const Rect& rect, HWND owner = nullptr, std::uint32_t exStyle = 0);
  // The window's program closes it and the window system gives its number to a new top-level
  // window of the process `pid`, as a real one may once the number is free.
  HWND ReuseHandle(HWND window, int pid, const Text& title, const Rect& rect);
  HWND CreateChildWindow(HWND parent, const Text& className, const Text& text,
                         const Placement& position, int controlId = 0);
  // A process other than the program under test; returns its pid.
  int StartForeignProcess(const Text& exePath);
  // An instance name held by another process.
  void HoldInstanceName(const Text& name) { instanceNames_.insert(name); }
  // The processes that held names have ended.
  void ReleaseInstanceNames() { instanceNames_.clear(); }
  void SetIdleScript(IdleScript script) { idle_ = std::move(script); }
  // The user's answer to the next message box: true for OK or Yes. Unscripted boxes are
  // answered OK, or No.
  void QueueMessageBoxAnswer(bool answer) { answers_.push_back(answer); }
  void FailMenuBar(bool fail) { failMenuBar_ = fail; }
  void SetShellExecuteResult(bool ok) { shellExecuteOk_ = ok; }
  // The user taps a control, which reports the tap to its dialog; a button does not change its
  // own state. Posted, as input is.
  void Click(HWND control);
  // The user selects a list box item (a double tap also reports the double tap).
  void SelectListItem(HWND list, int index, bool doubleTap = false);
  // A command as the window system or another program gives it: posted to the window's queue
  // (pre-translated first) or sent (straight to the window's dialog).
  void PostCommand(HWND window, unsigned id, unsigned code = kBnClicked);
  void SendCommand(HWND window, unsigned id, unsigned code = kBnClicked);
  // The window system tells the window its client size, as it does when the size changes.
  void SendSize(HWND window, int width, int height);
  // The session ends (or the ending was called off); sent, as the window system does.
  void SendEndSession(HWND window, bool sessionEnds);
  // The user asks the window to close (its frame's close button).
  void RequestClose(HWND window);
  // Another program posts the window a timer's message.
  void PostTimer(HWND window, unsigned id);
  // The process stops answering messages (or answers again). Calls that wait for a window of a
  // hung process are counted (BlockingCallsOnHungWindows) and then take effect; windows given
  // back without waiting come back when it answers again.
  void SetProcessHung(int pid, bool hung);
  // The process stops answering for `milliseconds` of the clock.
  void HangProcessFor(int pid, unsigned milliseconds);
  std::size_t BlockingCallsOnHungWindows() const { return blockingCallsOnHung_; }
  // The window's program refuses a change of parent: the window stays where it is.
  void RefuseParentChange(HWND window) { refuseParent_.insert(window); }
  // The file at `path` carries `version` (most significant half above least significant).
  void SetFileVersion(const Text& path, std::uint64_t version) { versions_[path] = version; }
  // A program file of exactly these bytes carries this version wherever it lies, as a version
  // resource travels with its file.
  void SetProgramVersion(const std::string& bytes, std::uint64_t version) {
    programVersions_[bytes] = version;
  }
  // The process meets a fault: the crash handler runs.
  void Crash();
  // The windows given back without waiting for their programs, in order.
  const std::vector<HWND>& ReturnedWithoutWaiting() const { return returnedWithoutWaiting_; }
  // The windows minimised, in order.
  const std::vector<HWND>& Minimised() const { return minimised_; }
  // The network answers `url` so; addresses not served fail to connect.
  void ServeUrl(const Text& url, SimDownload download) { served_[url] = std::move(download); }
  // `work` runs once, after the first chunk of the next download into a file, while the
  // transfer goes on.
  void DuringNextDownload(std::function<void()> work) { duringDownload_ = std::move(work); }
  // The addresses asked for, in order.
  const std::vector<Text>& RequestedUrls() const { return requested_; }
  // Work started on worker threads and not run yet; RunWorkers runs it, as do the modal loop
  // when it is idle and the clock.
  std::size_t PendingWorkers() const { return workers_.size(); }
  void RunWorkers();
  // Moves the virtual clock on, delivering every timer that falls due on the way.
  void AdvanceTime(unsigned milliseconds);
  // Dispatches every queued message (pre-translation first) and every due timer.
  void PumpMessages();
  std::uint64_t Now() const { return now_; }

  const SimWindow& Window(HWND window) const;
  HWND ForegroundWindow() const { return foreground_; }
  // Whether the window shares this program's input: what HoldWindow, GiveBackWindow and
  // ShareInput last made of it; false when they never spoke of it.
  bool InputShared(HWND window) const {
    auto it = inputShared_.find(window);
    return it != inputShared_.end() && it->second;
  }
  const std::vector<Text>& StartedPrograms() const { return started_; }
  const std::vector<SimMessageBox>& MessageBoxes() const { return messageBoxes_; }
  const std::vector<std::pair<HWND, Text>>& ShellExecutes() const { return shellExecutes_; }
  // The colours the control would be painted in now, as its dialog answers the control-colour
  // request of painting; none for the default ones.
  std::optional<ControlColors> PaintColors(HWND control);
  bool HasTimer(HWND window, unsigned id) const { return timers_.count({window, id}) != 0; }
  bool ModalLoopStalled() const { return stalled_; }
  // Records of the sleeps made, in order, with the clock time at which each began.
  const std::vector<std::pair<std::uint64_t, unsigned>>& Sleeps() const { return sleeps_; }
  // When each CreateProcess was called (clock time), parallel to StartedPrograms().
  const std::vector<std::uint64_t>& StartTimes() const { return startTimes_; }

  // --- Platform ---
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
  void ShareInput(HWND window, bool shared) override { inputShared_[window] = shared; }
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
  Text GetModuleFileName() override { return config_.modulePath; }
  ProgramFormat OwnProgramFormat() override { return config_.programFormat; }
  std::optional<std::uint64_t> GetFileVersion(const Text& path) override;
  Text LocateSettingsFile(const Text& besideProgram) override { return besideProgram; }
  bool CreateProcess(const Text& path) override;
  bool ShellExecute(HWND owner, const Text& file, const Text& parameters) override;
  void Sleep(unsigned milliseconds) override;
  bool ClaimInstanceName(const Text& name) override;
  bool InstanceNameHeld(const Text& name) override;
  void SetCrashHandler(void (*handler)(void* context), void* context) override {
    crashHandler_ = handler;
    crashContext_ = context;
  }
  std::int32_t DownloadToFile(const Text& url, const Text& path, std::uint64_t limit,
                              const DownloadProgress& progress) override;
  std::int32_t DownloadToMemory(const Text& url, std::size_t limit, std::string* body) override;
  bool StartWorker(std::function<void()> work) override;

 private:
  // Input that the simulated user gives a control, delivered through the queue. Numbers of the
  // registered-message range: a program's own messages (kWmApp on) must reach its dialog.
  static constexpr std::uint32_t kSimClick = 0xC001;
  static constexpr std::uint32_t kSimSelect = 0xC002;

  static constexpr int kOwnPid = 1;

  struct Timer {
    unsigned interval;
    std::uint64_t due;
  };
  // A message in the queue; a list selection keeps its item and whether it was a double tap.
  struct Queued {
    Message message;
    int item = -1;
    bool doubleTap = false;
  };
  struct PendingReturn {
    HWND window;
    int pid;
    Rect rect;
    std::uint32_t style;
  };

  SimWindow* Get(HWND window);
  HWND NewWindow(SimWindow window);
  std::vector<HWND>& SiblingsOf(HWND window);
  void BringToTop(HWND window);
  int PixelsX(int dialogUnits) const { return dialogUnits * config_.dialogUnitX / 4; }
  int PixelsY(int dialogUnits) const { return dialogUnits * config_.dialogUnitY / 8; }
  void Reposition(HWND window, const Placement& placement);
  void NotifyClientSize(HWND window, const Rect& before);
  // The style and the frame it draws.
  void SetFrameStyle(SimWindow& window, std::uint32_t style);
  // What the window's program does when it takes the change (counted while it hangs).
  void SetStyle(HWND window, std::uint32_t style);
  void SetParent(HWND window, HWND parent);
  // A message sent: handled by the window's dialog before the call returns.
  void Deliver(Message message);
  void Dispatch(const Queued& queued);
  bool DeliverDueTimer();
  void DestroyTree(HWND window);
  // A call that waits for the window's program; counted when that program is hung.
  void Waits(HWND window);
  // Processes whose hang is over answer again: their pending returns take effect.
  void WakeProcesses();
  bool Hung(int pid) {
    WakeProcesses();
    return hungUntil_.count(pid) != 0;
  }
  void DeliverInput(HWND control, const Queued& input);
  // The window system puts a top-level window back at once, its program's help or not.
  void GiveBack(HWND window, const Rect& rect, std::uint32_t style);

  FileSystem& files_;
  Config config_;
  std::map<HWND, SimWindow> windows_;
  std::vector<HWND> topLevel_;  // topmost first
  std::uintptr_t nextHandle_ = 0x100;
  HWND foreground_ = nullptr;
  std::deque<Queued> queue_;
  std::map<std::pair<HWND, unsigned>, Timer> timers_;
  std::uint64_t now_ = 0;
  std::vector<DialogSink*> modalSinks_;
  bool quitPending_ = false;
  bool stalled_ = false;
  IdleScript idle_;
  std::map<Text, ProgramFactory> programs_;
  std::map<Text, SimDownload> served_;
  std::function<void()> duringDownload_;
  std::vector<Text> requested_;
  std::deque<std::function<void()>> workers_;
  std::map<int, Text> processes_;
  int nextPid_ = 100;
  std::vector<Text> started_;
  std::vector<std::uint64_t> startTimes_;
  std::vector<std::pair<std::uint64_t, unsigned>> sleeps_;
  std::set<Text> instanceNames_;
  std::vector<SimMessageBox> messageBoxes_;
  std::deque<bool> answers_;
  std::vector<std::pair<HWND, Text>> shellExecutes_;
  bool shellExecuteOk_ = true;
  bool failMenuBar_ = false;
  std::map<int, std::uint64_t> hungUntil_;  // pid: the clock time it answers again
  std::size_t blockingCallsOnHung_ = 0;
  std::set<HWND> refuseParent_;
  std::map<Text, std::uint64_t> versions_;
  std::map<std::string, std::uint64_t> programVersions_;
  void (*crashHandler_)(void*) = nullptr;
  void* crashContext_ = nullptr;
  std::vector<HWND> returnedWithoutWaiting_;
  std::vector<PendingReturn> pendingReturns_;  // of hung programs, in order
  std::vector<HWND> minimised_;
  std::map<HWND, bool> inputShared_;
};

}  // namespace sorvel
