// The updater's application object: runs the update dialog once, then the program ends.
// Runs on the program's only user-interface thread.
#pragma once

#include "platform/framework.h"

namespace sorvel {

class CUpdateApp : public CWinApp {
 public:
  using CWinApp::CWinApp;

 protected:
  bool InitInstance() override;
};

}  // namespace sorvel
