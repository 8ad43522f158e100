// The host's application object: one instance per device, then the main dialog.
// Runs on the program's only user-interface thread, from main to the main dialog's end.
#pragma once

#include "platform/framework.h"

namespace sorvel {

class CMainApp : public CWinApp {
 public:
  using CWinApp::CWinApp;

  // Tries of the search for a running instance's window, and the pause between them.
  static constexpr int kFindTries = 40;
  static constexpr unsigned kFindPauseMs = 250;

 protected:
  // A running instance of the same program file is brought to the front instead.
  bool StartupCheck() override;
  bool InitInstance() override;

 private:
  HWND FindRunningInstance(const Text& exePath);
};

}  // namespace sorvel
