// The small application framework both programs stand on: an application class and a dialog
// class with a modal run, initialisation and destruction hooks, message pre-translation and
// one static message map per dialog. The dialog semantics that every platform shares live
// here: a click on OK or Cancel ends the modal run, a radio button's click checks it and
// clears the rest of its group.
//
// Runs on the program's user-interface thread.
#pragma once

#include <cstddef>
#include <vector>

#include "platform/platform.h"

namespace sorvel {

class CDialog;

class CWinApp {
 public:
  explicit CWinApp(Platform& platform) : platform_(platform) {}
  virtual ~CWinApp() = default;

  // Runs the program: the start-up check, then the instance initialisation. No message loop
  // follows: the programs end when their main dialog ends.
  int Run();

  Platform& GetPlatform() { return platform_; }

 protected:
  // Before the instance initialisation; false ends the program at once.
  virtual bool StartupCheck() { return true; }
  virtual bool InitInstance() = 0;

 private:
  Platform& platform_;
};

// The kinds of message a message map binds.
// kMessage binds a program's own message: `id` is its number.
enum class MapKind { kCommand, kTimer, kSize, kControlColor, kDestroy, kEndSession, kMessage };

template <class D>
struct MessageMapEntry {
  MapKind kind;
  unsigned id;    // command: the control or menu id; message: its number
  unsigned code;  // command: the notification code
  void (D::*handler)(Message&);
};

class CDialog : public DialogSink {
 public:
  // The run ended by a quit message, or the dialog could not be made.
  static constexpr int kModalQuit = -1;

  CDialog(Platform& platform, const DialogTemplate& dialogTemplate, HWND owner);
  ~CDialog() override;
  CDialog(const CDialog&) = delete;
  CDialog& operator=(const CDialog&) = delete;

  // Creates the dialog, runs it modally and destroys it; returns the modal result.
  int DoModal();
  // Creates the dialog window without running it (the modal run uses it).
  HWND Create();
  void EndDialog(int result);
  void DestroyWindow();

  HWND GetSafeHwnd() const { return hwnd_; }
  HWND GetDlgItem(int id) { return platform_.GetDlgItem(hwnd_, id); }
  // The dialog's controls by id, so that handlers need not spell the platform call and the
  // lookup each time.
  void SetItemText(int id, const Text& text) { platform_.SetWindowText(GetDlgItem(id), text); }
  void ShowItem(int id, bool shown) {
    platform_.ShowWindow(GetDlgItem(id), shown ? kSwShow : kSwHide);
  }
  // Re-enters: the control's dialog gets the size notification.
  void MoveItem(int id, const Placement& placement) {
    platform_.MoveWindow(GetDlgItem(id), placement, true);
  }
  Rect ItemClientRect(int id) { return platform_.GetClientRect(GetDlgItem(id)); }
  Rect ItemWindowRect(int id) { return platform_.GetWindowRect(GetDlgItem(id)); }
  // Checks the radio button `checked` and clears the others of its group.
  void CheckRadioButton(int checked);
  Platform& GetPlatform() { return platform_; }

  // DialogSink
  void OnDialogCreated(HWND dialog) final;
  bool OnMessage(Message& message) final;
  bool PreTranslateMessage(const Message& message) override;
  bool ModalRunEnded() const final { return ended_; }

 protected:
  // The framework's initialisation: on the pocket device a dialog fills the screen; on a
  // desktop it fills the work area. Dialogs that keep their template size switch it off.
  virtual void OnInitDialog();
  // Walks the dialog's message map; true when an entry handled the message.
  virtual bool DispatchMessageMap(Message& message) = 0;

  void SetFullScreen(bool fullScreen) { fullScreen_ = fullScreen; }

  template <class D, std::size_t N>
  static bool WalkMessageMap(D* dialog, const MessageMapEntry<D> (&map)[N], Message& message);

  Platform& platform_;

 private:
  // The radio buttons of the group that holds the control `id`, in template order; none when
  // it is no radio button. A group starts at a control with kWsGroup.
  std::vector<int> RadioGroupOf(int id) const;

  const DialogTemplate& template_;
  HWND owner_;
  HWND hwnd_ = nullptr;
  bool fullScreen_ = true;
  bool ended_ = false;
  bool detached_ = false;
  int result_ = 0;
};

template <class D, std::size_t N>
bool CDialog::WalkMessageMap(D* dialog, const MessageMapEntry<D> (&map)[N], Message& message) {
  for (const MessageMapEntry<D>& entry : map) {
    bool match = false;
    switch (entry.kind) {
      case MapKind::kCommand:
        match = message.message == kWmCommand && message.commandId == entry.id &&
                message.notifyCode == entry.code;
        break;
      case MapKind::kTimer:
        match = message.message == kWmTimer;
        break;
      case MapKind::kSize:
        match = message.message == kWmSize;
        break;
      case MapKind::kControlColor:
        match = message.message == kWmCtlColorBtn || message.message == kWmCtlColorStatic;
        break;
      case MapKind::kDestroy:
        match = message.message == kWmDestroy;
        break;
      case MapKind::kEndSession:
        match = message.message == kWmEndSession;
        break;
      case MapKind::kMessage:
        match = message.message == entry.id;
        break;
    }
    if (match) {
      (dialog->*entry.handler)(message);
      return true;
    }
  }
  return false;
}

}  // namespace sorvel
