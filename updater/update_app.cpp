#include "updater/update_app.h"

#include "updater/update_dlg.h"

namespace sorvel {

bool CUpdateApp::InitInstance() {
  CUpdateDlg dialog(GetPlatform(), nullptr);
  SetMainWnd(&dialog);
  dialog.DoModal();
  SetMainWnd(nullptr);
  return false;
}

}  // namespace sorvel
