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
  if (hwnd_ != nullptr) platform_.PostMessage(hwnd_, kWmNull);
}

void CDialog::OnDialogCreated(HWND dialog) {
  hwnd_ = dialog;
  OnInitDialog();
}

void CDialog::OnInitDialog() {
  if (!fullScreen_) return;
  Rect area = platform_.GetScreen().workArea;
  platform_.MoveWindow(hwnd_, {area.left, area.top, area.Width(), area.Height()}, true);
}

bool CDialog::OnMessage(Message& message) {
  if (detached_) return false;
  // The button's handler sees the group as the click left it.
  if (message.message == kWmCommand && message.notifyCode == kBnClicked &&
      !RadioGroupOf(static_cast<int>(message.commandId)).empty()) {
    CheckRadioButton(static_cast<int>(message.commandId));
  }
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

std::vector<int> CDialog::RadioGroupOf(int id) const {
  std::vector<int> group;
  bool found = false;
  for (const ControlTemplate& control : template_.controls) {
    if ((control.style & kWsGroup) != 0) {
      if (found) break;
      group.clear();
    }
    if (control.kind != ControlKind::kRadioButton) continue;
    group.push_back(control.id);
    found = found || control.id == id;
  }
  return found ? group : std::vector<int>();
}

void CDialog::CheckRadioButton(int checked) {
  for (int id : RadioGroupOf(checked)) platform_.CheckButton(GetDlgItem(id), id == checked);
}

}  // namespace sorvel
