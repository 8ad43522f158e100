// A test build of the host, never shipped: it faults on the registered message
// "SorvelCrashNow", so that the tests can check that the windows it holds come back when it
// dies of a fault.
#include "host/main_dlg.h"
#include "platform/win32/win32.h"
#include "platform/win32/win32_platform.h"

namespace {

class CCrashingMainDlg : public sorvel::CMainDlg {
 public:
  using CMainDlg::CMainDlg;

  bool PreTranslateMessage(const sorvel::Message& message) override {
    if (message.message == crashMessage_) {
      // An access violation that nothing handles. The store is volatile: the optimiser drops a
      // plain store through a null pointer.
      volatile int* volatile nowhere = nullptr;
      *nowhere = 1;
    }
    return CMainDlg::PreTranslateMessage(message);
  }

 private:
  const UINT crashMessage_ = RegisterWindowMessageW(L"SorvelCrashNow");
};

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  sorvel::Win32Platform platform;
  CCrashingMainDlg dialog(platform, nullptr);
  dialog.DoModal();
  return 0;
}
