// The window picker: lists the main windows of the other running programs and yields the
// chosen window's title and its program's path in PickedWindowTitle and PickedProgramPath.
// Runs on the user-interface thread, modally inside the main dialog's handler that opens it.
#pragma once

#include <vector>

#include "platform/framework.h"

namespace sorvel {

class CFindDlg : public CDialog {
 public:
  // Ends with kApplied after a choice, kClosed after "닫기".
  static constexpr int kApplied = 1;
  static constexpr int kClosed = 2;

  CFindDlg(Platform& platform, HWND owner);

 protected:
  void OnInitDialog() override;
  bool DispatchMessageMap(Message& message) override;

 private:
  static const MessageMapEntry<CFindDlg> kMessageMap[];

  void FillList();
  // The top-level window that bears `title`, never the picker itself.
  HWND FindByTitle(const Text& title);

  void OnApply(Message& message);
  void OnClose(Message& message);
  void OnSize(Message& message);
  void OnShowApply(Message& message);

  // The list's items, in the platform's list order.
  std::vector<Text> titles_;
};

}  // namespace sorvel
