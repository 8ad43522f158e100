#include "host/version_dlg.h"

#include "host/resources.h"
#include "settings/settings.h"
#include "update/version.h"

namespace sorvel {

namespace {

constexpr char16_t kDeviceBrowser[] = u"\\Windows\\iexplore.exe";

}  // namespace

void OpenWebSite(Platform& platform, HWND owner) {
  Text address = WebSiteAddress();
  bool started = FileExists(platform.Files(), kDeviceBrowser)
                     ? platform.ShellExecute(owner, kDeviceBrowser, address)
                     : platform.ShellExecute(owner, address, Text());
  if (!started) platform.MessageBox(owner, StartFailureText(), kAppName, MessageBoxButtons::kOk);
}

Text FileVersionText(Platform& platform, const Text& path) {
  std::optional<FileVersion> version = ProgramFileVersion(platform, path);
  return version ? FormatFileVersion(*version) : Text();
}

Text WebSiteAddress() {
  return Text(u"http://") + kWebSiteHost;
}

Text StartFailureText() {
  return u" " + WebSiteAddress() + u" 에서 다시 받아 설치하세요.";
}

const MessageMapEntry<CVersionDlg> CVersionDlg::kMessageMap[] = {
    {MapKind::kCommand, kIdVersionOk, kBnClicked, &CVersionDlg::OnClose},
    {MapKind::kCommand, kIdDownloadLine, kStnClicked, &CVersionDlg::OnOpenWebSite},
    {MapKind::kCommand, kIdThreeWay, kBnClicked, &CVersionDlg::OnThreeWaySplit},
    {MapKind::kCommand, kIdTwoWay, kBnClicked, &CVersionDlg::OnTwoWaySplit},
};

CVersionDlg::CVersionDlg(Platform& platform, HWND owner)
    : CDialog(platform, VersionDialogTemplate(), owner) {
  // Keeps its template size, centred.
  SetFullScreen(false);
}

bool CVersionDlg::DispatchMessageMap(Message& message) {
  return WalkMessageMap(this, kMessageMap, message);
}

void CVersionDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  SetItemText(kIdVersionOk, u"확인");
  Text version = FileVersionText(platform_, platform_.GetModuleFileName());
  SetItemText(kIdVersionLine, u"버전: " + version);

  // The host's own reading of the stored mode, so that the flag and the buttons agree with it.
  ThreePaneMode = ThreePaneModeFromSetting(ReadSetting(platform_.Files(), kPartionMode));
  CheckRadioButton(ThreePaneMode ? kIdThreeWay : kIdTwoWay);
}

void CVersionDlg::ChooseSplit(int panes) {
  WriteSetting(platform_.Files(), FormatDecimal(panes), kPartionMode);
  ThreePaneMode = panes == 3;
}

void CVersionDlg::OnThreeWaySplit(Message&) {
  ChooseSplit(3);
}

void CVersionDlg::OnTwoWaySplit(Message&) {
  ChooseSplit(2);
}

void CVersionDlg::OnClose(Message&) {
  EndDialog(kIdOk);
}

void CVersionDlg::OnOpenWebSite(Message&) {
  OpenWebSite(platform_, GetSafeHwnd());
}

}  // namespace sorvel
