// The host's main dialog: the window divided into panes that hold other programs' windows.
#pragma once

#include <array>

#include "host/pane_layout.h"
#include "platform/framework.h"

namespace sorvel {

struct PaneState {
  HWND hostedWindow = nullptr;  // the foreign window that is or was last in this pane
  Rect savedRect;               // its screen rectangle before capture
  Placement placement;          // where it sits inside the pane's display control
  bool captured = false;
  bool expanded = false;
  bool autoCapture = false;
};

class CMainDlg : public CDialog {
 public:
  // The park command: command 1 with notification code 0x1000.
  static constexpr std::uintptr_t kParkCommand = 0x10000001;

  CMainDlg(Platform& platform, HWND owner);
  ~CMainDlg() override;

  bool PreTranslateMessage(const Message& message) override;

  const PaneState& Pane(int index) const { return panes_[index]; }
  const Rect& ClientRect() const { return clientRect_; }
  bool LayoutFrozen() const { return layoutFrozen_; }
  const Text& Title() const { return title_; }

 protected:
  void OnInitDialog() override;
  bool DispatchMessageMap(Message& message) override;

 private:
  static const MessageMapEntry<CMainDlg> kMessageMap[];

  void LoadPaneSettings();
  void ReleasePane(int index);
  // Minimises every other program's visible, titled, parentless top-level window.
  void MinimiseOtherWindows();
  void Park();

  void OnSize(Message& message);
  void OnTimer(Message& message);
  void OnCtlColor(Message& message);
  void OnButtonAFocus(Message& message);
  void OnDestroy(Message& message);
  void OnExit(Message& message);

  std::array<PaneState, kPaneCount> panes_;
  Rect clientRect_;
  Rect captureRect_;
  bool layoutFrozen_ = false;
  Text title_;
  HICON icon_;
  // Pane button colours: A, up, down, toggle.
  std::array<HBRUSH, 4> brushes_{};
};

}  // namespace sorvel
