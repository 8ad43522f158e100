// The version dialog: the program's version, the vendor's lines, the link to the vendor's web
// site and the choice between three panes and two.
// Runs on the user-interface thread, modally inside the main dialog's menu handler.
#pragma once

#include <cstdint>

#include "platform/framework.h"

namespace sorvel {

// The version text of a program file; empty when it has no version resource.
Text FileVersionText(Platform& platform, const Text& path);

// The address that the download line opens.
Text WebSiteAddress();
// Where to fetch the program when a start failed: " ", the address, " 에서 다시 받아 설치하세요.".
Text StartFailureText();

// Opens the vendor's web site in the device's own browser where there is one, elsewhere in the
// default one; a failed start tells the user where to fetch the program instead.
void OpenWebSite(Platform& platform, HWND owner);

class CVersionDlg : public CDialog {
 public:
  CVersionDlg(Platform& platform, HWND owner);

 protected:
  void OnInitDialog() override;
  bool DispatchMessageMap(Message& message) override;

 private:
  static const MessageMapEntry<CVersionDlg> kMessageMap[];

  void ChooseSplit(int panes);

  void OnClose(Message& message);
  void OnOpenWebSite(Message& message);
  void OnThreeWaySplit(Message& message);
  void OnTwoWaySplit(Message& message);
};

}  // namespace sorvel
