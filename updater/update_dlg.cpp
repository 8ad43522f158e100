#include "updater/update_dlg.h"

#include <algorithm>

#include "settings/profile.h"
#include "updater/program_file.h"
#include "updater/resources.h"

namespace sorvel {

const char16_t kPrimaryDownloadUrl[] = u"http://www.sorvel.example/download/Sorvel.exe";
const char16_t kAlternateDownloadUrl[] = u"http://download.sorvel.example/Sorvel.exe";

namespace {

constexpr char16_t kDescriptionFile[] = u"Download.ini";
constexpr char16_t kTempFile[] = u"im.exe";
constexpr char16_t kSection[] = u"Download";
constexpr char16_t kDownNameKey[] = u"DownName";
constexpr char16_t kMainNameKey[] = u"MainName";
constexpr char16_t kSha256Key[] = u"Sha256";
constexpr char16_t kDefaultMainName[] = u"sorvel.exe";
constexpr char16_t kDefaultElfMainName[] = u"sorvel";
constexpr char16_t kMissingValue[] = u"Default value";
constexpr std::uint32_t kValueCapacity = 260;
// The largest program file the download takes: many times the host's size, and a bound on
// what a wrong or hostile server can make it write.
constexpr std::uint64_t kProgramSizeLimit = 64 * 1024 * 1024;

constexpr char16_t kUpdated[] = u"자동 업데이트를 성공했습니다.";
constexpr char16_t kNotUpdated[] = u"자동 업데이트를 실패하였습니다. 다시 실행하세요.";

Text ReadValue(FileSystem& files, const char16_t* key, const char16_t* defaultValue,
               const Text& path) {
  char16_t buffer[kValueCapacity] = {};
  ReadPrivateProfileString(files, kSection, key, defaultValue, buffer, kValueCapacity,
                           path.c_str());
  return buffer;
}

void WriteDefaults(Platform& platform, const char16_t* url, const Text& path) {
  FileSystem& files = platform.Files();
  const char16_t* mainName =
      platform.OwnProgramFormat() == ProgramFormat::kElf ? kDefaultElfMainName : kDefaultMainName;
  WritePrivateProfileString(files, kSection, kDownNameKey, url, path.c_str());
  WritePrivateProfileString(files, kSection, kMainNameKey, mainName, path.c_str());
}

}  // namespace

const MessageMapEntry<CUpdateDlg> CUpdateDlg::kMessageMap[] = {
    {MapKind::kCommand, kIdFileDownload, kBnClicked, &CUpdateDlg::OnFileDownload},
    {MapKind::kCommand, kIdCreateFile, kBnClicked, &CUpdateDlg::OnCreateFile},
    {MapKind::kTimer, 0, 0, &CUpdateDlg::OnTimer},
};

CUpdateDlg::CUpdateDlg(Platform& platform, HWND owner)
    : CDialog(platform, UpdateDialogTemplate(), owner) {
  // Keeps its template size, centred.
  SetFullScreen(false);
}

bool CUpdateDlg::DispatchMessageMap(Message& message) {
  return WalkMessageMap(this, kMessageMap, message);
}

void CUpdateDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  HWND hwnd = GetSafeHwnd();
  icon_ = platform_.LoadIcon(kIdiUpdateIcon);
  platform_.SetIcon(hwnd, icon_, true);
  platform_.SetIcon(hwnd, icon_, false);
  progressBar_ = GetDlgItem(kIdProgress);

  FileSystem& files = platform_.Files();
  folder_ = ProgramFolder(files, platform_.GetModuleFileName());
  descriptionPath_ = JoinPath(files, folder_, kDescriptionFile);
  if (FileExists(files, descriptionPath_)) {
    downloadUrl_ = ReadValue(files, kDownNameKey, kMissingValue, descriptionPath_);
    mainName_ = ReadValue(files, kMainNameKey, kMissingValue, descriptionPath_);
    targetPath_ = JoinPath(files, folder_, mainName_);
    tempPath_ = JoinPath(files, folder_, kTempFile);
  } else {
    // The next run downloads from the alternate address; this one fails.
    WriteDefaults(platform_, kAlternateDownloadUrl, descriptionPath_);
  }
  platform_.SetTimer(hwnd, kStartTimer, kStartTimerMs);
}

void CUpdateDlg::OnFileDownload(Message&) {
  RunUpdate();
}

void CUpdateDlg::OnCreateFile(Message&) {
  WriteDefaults(platform_, kPrimaryDownloadUrl, descriptionPath_);
}

void CUpdateDlg::OnTimer(Message& message) {
  switch (message.timerId) {
    case kStartTimer:
      platform_.KillTimer(GetSafeHwnd(), kStartTimer);
      RunUpdate();
      break;
    case kReplaceTimer:
      RetryReplace();
      break;
  }
}

void CUpdateDlg::RunUpdate() {
  // The update runs once; the dialog ends with it.
  if (started_) return;
  started_ = true;
  // Made runnable before it is put in place, so that the program there always runs.
  if (!Download() || !Acceptable() || !platform_.Files().MarkExecutable(tempPath_)) {
    Fail();
    return;
  }
  // The old program file is never removed first: the new one takes its place in one step, or
  // the old one stays.
  if (platform_.Files().ReplaceWith(tempPath_, targetPath_)) {
    Succeed();
    return;
  }
  // The old program may still be ending and hold its file.
  platform_.SetTimer(GetSafeHwnd(), kReplaceTimer, kReplaceTimerMs);
}

bool CUpdateDlg::Download() {
  downloadResult_ = platform_.DownloadToFile(
      downloadUrl_, tempPath_, kProgramSizeLimit,
      [this](std::uint64_t received, std::uint64_t total) { ShowProgress(received, total); });
  return downloadResult_ >= 0;
}

bool CUpdateDlg::Acceptable() {
  FileSystem& files = platform_.Files();
  if (!IsProgramForThisMachine(files, tempPath_, platform_.OwnProgramFormat())) return false;
  const Text announced = ReadValue(files, kSha256Key, u"", descriptionPath_);
  if (announced.empty()) return true;
  Sha256Digest expected{}, actual{};
  return ParseSha256(announced, &expected) && FileSha256(files, tempPath_, &actual) &&
         actual == expected;
}

void CUpdateDlg::ShowProgress(std::uint64_t received, std::uint64_t total) {
  // The bar keeps its default range of 0 to 100.
  int position = 0;
  if (total != 0) {
    position = static_cast<int>(std::min(received * 100.0 / static_cast<double>(total), 100.0));
  }
  if (position == position_) return;
  position_ = position;
  platform_.SendMessage(progressBar_, kPbmSetPos, static_cast<std::uintptr_t>(position), 0);
}

void CUpdateDlg::RetryReplace() {
  if (platform_.Files().ReplaceWith(tempPath_, targetPath_)) {
    platform_.KillTimer(GetSafeHwnd(), kReplaceTimer);
    Succeed();
  } else if (++replaceRetries_ >= kReplaceRetries) {
    platform_.KillTimer(GetSafeHwnd(), kReplaceTimer);
    Fail();
  }
}

void CUpdateDlg::Succeed() {
  platform_.MessageBox(GetSafeHwnd(), kUpdated, kUpdaterName, kMbOk);
  platform_.CreateProcess(targetPath_);
  EndDialog(1);
}

void CUpdateDlg::Fail() {
  platform_.MessageBox(GetSafeHwnd(), kNotUpdated, kUpdaterName, kMbOk);
  EndDialog(1);
}

}  // namespace sorvel
