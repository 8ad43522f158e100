// The host's main dialog: the window divided into panes that hold other programs' windows.
//
// Runs on the program's only user-interface thread. Capture, release, nudging and the height
// toggle act on windows of other processes: each first asks the window's program whether it
// answers (at most kAnswerTimeoutMs), so a hung program blocks the host for no longer than
// that. The picker and the version dialog run modally inside a handler; their loops dispatch
// the main dialog's messages meanwhile. The update check alone works on a thread of its own; its
// notice comes back to this thread as an own message.
#pragma once

#include <array>

#include "host/pane_layout.h"
#include "host/update_check.h"
#include "platform/framework.h"

namespace sorvel {

struct PaneState {
  HWND hostedWindow = nullptr;  // the foreign window that is or was last in this pane
  Rect savedRect;               // its screen rectangle before capture
  Placement placement;          // where it sits inside the pane's display control
  bool captured = false;
  bool expanded = false;
  bool autoCapture = false;
  // Its process and frame before capture: a handle that names another process's window
  // now is stale; the frame is given back at release.
  std::uint32_t hostedProcess = 0;
  FormerFrame formerFrame;
  // The held window shares the host's input state; not while its program is hung.
  bool inputShared = false;
};

class CMainDlg : public CDialog {
 public:
  // The park command: command 1 with notification code 0x1000.
  static constexpr unsigned kParkCommandId = kIdOk;
  static constexpr unsigned kParkNotifyCode = 0x1000;
  // How long a foreign program may take to answer before it counts as hung.
  static constexpr unsigned kAnswerTimeoutMs = 1000;
  // The watch over the held programs asks more briefly: it runs every second unasked.
  static constexpr unsigned kWatchTimeoutMs = 100;
  // Captures whose re-parenting did not take hold are tried again this often in all.
  static constexpr int kCaptureAttempts = 3;
  static constexpr unsigned kCaptureRetryPauseMs = 50;
  // How long the ending host waits for hung programs to take back the windows it gave back
  // without waiting: a window still in a pane dies with the dialog.
  static constexpr unsigned kFinalReturnWaitMs = 5000;

  CMainDlg(Platform& platform, HWND owner);
  ~CMainDlg() override;

  bool PreTranslateMessage(const Message& message) override;

  // Captures into the pane when it is empty, releases when it holds a window.
  void TogglePane(int index);

 protected:
  void OnInitDialog() override;
  bool DispatchMessageMap(Message& message) override;

 private:
  static const MessageMapEntry<CMainDlg> kMessageMap[];

  void LoadPaneSettings();
  void CapturePane(int index);
  // Writes the setting unless it holds `value` already.
  void Remember(const Text& value, int index);
  // The window to capture for a title: a dialog that the titled window owns, else that window;
  // none when no top-level window bears the title. Fills the capture rectangle if empty.
  HWND FindCaptureTarget(const Text& title);
  // Makes the looked-up window a plain child of the pane's display control; false when the
  // re-parenting did not take hold.
  bool TakeIntoPane(int index, HWND target);
  void ReleasePane(int index);
  // Gives every captured window back, pane 1 first, before the dialog or the process ends.
  void ReleaseAllPanes();
  static void ReleaseAllPanesOnCrash(void* dialog);
  // The pane's label, button text, flag and small buttons as for an empty pane.
  void ShowPaneEmpty(int index);
  // The handle still names the window that was captured, not a later window of that number.
  bool StillHosted(const PaneState& pane);
  bool Answers(const PaneState& pane);
  void ApplyOffset(int index);
  void Nudge(int index, int dy);
  void ToggleHeight(int index);
  bool ScanFinds(const Text& title);
  void Park();

  void OnSize(Message& message);
  // Places the panes' controls for the stored client rectangle, unless the layout is frozen.
  void LayOut();
  void OnTimer(Message& message);
  // A hung program that shares the host's input would hold every tap on the host until it
  // answers: its input is parted while it hangs and joined again when it answers.
  void WatchHeldPrograms();
  void OnCtlColor(Message& message);
  void OnButtonAFocus(Message& message);
  void OnPark(Message& message);
  void OnButtonA(Message& message);
  void OnButtonUp(Message& message);
  void OnButtonDown(Message& message);
  void OnButtonToggle(Message& message);
  void OnDestroy(Message& message);
  // The session ends: the process may be ended without a destroy message.
  void OnEndSession(Message& message);
  void OnExit(Message& message);
  void OnSplitStart(Message& message);
  void OnSplitReset(Message& message);
  void OnSplitSelect(Message& message);
  // A notice that closes the host gives the panes back first, then ends the dialog.
  void OnUpdateNotice(Message& message);

  std::array<PaneState, kPaneCount> panes_;
  Rect clientRect_;
  Rect captureRect_;
  bool layoutFrozen_ = false;
  // The launch timer runs once per start, whatever timer messages arrive later.
  bool launched_ = false;
  UpdateCheck updateCheck_;
};

}  // namespace sorvel
