// A test build of the native host, never shipped: it faults on the command kFaultNow, given as
// sorvel-command gives any command, so that the tests can check that the windows it holds come
// back at their places when it dies of a fault.
#include "host/main_dlg.h"
#include "platform/x11/x11_platform.h"

namespace {

constexpr unsigned kFaultNow = 0xDEAD;

class CFaultingMainDlg : public sorvel::CMainDlg {
 public:
  using CMainDlg::CMainDlg;

  bool PreTranslateMessage(const sorvel::Message& message) override {
    if (message.message == sorvel::kWmCommand && message.commandId == kFaultNow) {
      // A fault that nothing handles. The store is volatile: the optimiser drops a plain store
      // through a null pointer.
      volatile int* volatile nowhere = nullptr;
      *nowhere = 1;
    }
    return CMainDlg::PreTranslateMessage(message);
  }
};

}  // namespace

int main() {
  sorvel::X11Platform platform(sorvel::x11::kProgramIcon);
  CFaultingMainDlg dialog(platform, nullptr);
  dialog.DoModal();
  return 0;
}
