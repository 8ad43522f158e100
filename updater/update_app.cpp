#include "updater/update_app.h"

#include "update/description.h"
#include "updater/update_dlg.h"

namespace sorvel {

bool CUpdateApp::InitInstance() {
  // One updater at a time: a second would download into the same file and replace the same
  // program.
  if (!GetPlatform().ClaimInstanceName(kUpdaterInstanceName)) return false;
  CUpdateDlg dialog(GetPlatform(), nullptr);
  dialog.DoModal();
  return false;
}

}  // namespace sorvel
