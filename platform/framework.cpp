#include "platform/framework.h"

namespace sorvel {

int CWinApp::Run() {
  if (!StartupCheck()) return 0;
  InitInstance();
  return 0;
}

CDialog::CDialog(Platform& platform, const DialogTemplate& dialogTemplate, HWND owner)
    : platform_(platform), template_(dialogTemplate), owner_(owner) {}

CDialog::~CDialog() {
  // The derived part is gone already: the window's last messages go unheard.
  detached_ = true;
  DestroyWindow();
}

void CDialog::DestroyWindow() {
  if (hwnd_ == nullptr) return;
  // The destroy handlers still see the dialog's handle.
  platform_.DestroyWindow(hwnd_);
  hwnd_ = nullptr;
}

HWND CDialog::Create() {
  ended_ = false;
  hwnd_ = platform_.CreateDialogWindow(template_, owner_, this);
  return hwnd_;
}

int CDialog::DoModal() {
  if (Create() == nullptr) return kModalQuit;
  if (!ended_ && !platform_.RunModalLoop(hwnd_, owner_, this) && !ended_) result_ = kModalQuit;
  DestroyWindow();
  return result_;
}

void CDialog::EndDialog(int result) {
  result_ = result;
  ended_ = true;
  // Wakes the modal loop if it waits for a message.
  if (hwnd_ != nullptr) platform_.PostMessage(hwnd_, kWmNull, 0, 0);
}

void CDialog::OnDialogCreated(HWND dialog) {
  hwnd_ = dialog;
  OnInitDialog();
}

void CDialog::OnInitDialog() {
  if (!fullScreen_) return;
  Rect area = platform_.GetWorkArea();
  platform_.MoveWindow(hwnd_, {area.left, area.top, area.Width(), area.Height()}, true);
}

bool CDialog::OnMessage(Message& message) {
  if (detached_) return false;
  if (DispatchMessageMap(message)) return true;
  // The framework's own handling: a click on OK or Cancel ends the modal run. The same ids
  // with another notification code are no click (other programs send such commands).
  if (message.message == kWmCommand && message.notifyCode == kBnClicked &&
      (message.commandId == kIdOk || message.commandId == kIdCancel)) {
    EndDialog(static_cast<int>(message.commandId));
    return true;
  }
  if (message.message == kWmClose) {
    EndDialog(kIdCancel);
    return true;
  }
  return false;
}

bool CDialog::PreTranslateMessage(const Message&) {
  return false;
}

}  // namespace sorvel
