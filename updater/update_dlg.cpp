#include "updater/update_dlg.h"

#include <algorithm>
#include <string>
#include <utility>

#include "settings/settings.h"
#include "update/program_file.h"
#include "update/trusted_keys.h"
#include "updater/resources.h"

namespace sorvel {

const char16_t kPrimaryDownloadUrl[] = u"https://www.sorvel.example/download/Sorvel.exe";
const char16_t kAlternateDownloadUrl[] = u"https://download.sorvel.example/Sorvel.exe";

namespace {

constexpr char16_t kUpdated[] = u"자동 업데이트를 성공했습니다.";
constexpr char16_t kNotUpdated[] = u"자동 업데이트를 실패하였습니다. 다시 실행하세요.";
constexpr char16_t kDebugPrefix[] = u"Updater: ";
// Beside the old program's name while the new one proves itself.
constexpr char16_t kKeptSuffix[] = u".old";

}  // namespace

const MessageMapEntry<CUpdateDlg> CUpdateDlg::kMessageMap[] = {
    {MapKind::kCommand, kIdFileDownload, kBnClicked, &CUpdateDlg::OnFileDownload},
    {MapKind::kCommand, kIdCreateFile, kBnClicked, &CUpdateDlg::OnCreateFile},
    {MapKind::kTimer, 0, 0, &CUpdateDlg::OnTimer},
    {MapKind::kMessage, kWmManifest, 0, &CUpdateDlg::OnManifest},
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

  FileSystem& files = platform_.Files();
  folder_ = ProgramFolder(files, platform_.GetModuleFileName());
  descriptionPath_ = JoinPath(files, folder_, kDescriptionFile);
  if (!FileExists(files, descriptionPath_)) {
    // Nothing describes the program: this run reads the signed manifest itself.
    WriteDefaultDescription(files, descriptionPath_, kAlternateDownloadUrl,
                            ProgramNamesFor(platform_.OwnProgramFormat()).main);
  }
  description_ = ReadUpdateDescription(files, descriptionPath_);
  targetPath_ = JoinPath(files, folder_, description_.mainName);
  tempPath_ = JoinPath(files, folder_, kDownloadFile);
  keptPath_ = targetPath_ + kKeptSuffix;
  platform_.SetTimer(hwnd, kStartTimer, kStartTimerMs);
}

void CUpdateDlg::OnFileDownload(Message&) {
  RunUpdate();
}

void CUpdateDlg::OnCreateFile(Message&) {
  WriteDefaultDescription(platform_.Files(), descriptionPath_, kPrimaryDownloadUrl,
                          ProgramNamesFor(platform_.OwnProgramFormat()).main);
}

void CUpdateDlg::OnTimer(Message& message) {
  switch (message.timerId) {
    case kStartTimer:
      platform_.KillTimer(GetSafeHwnd(), kStartTimer);
      RunUpdate();
      break;
    case kStepTimer:
      OnStep();
      break;
  }
}

void CUpdateDlg::RunUpdate() {
  // The update runs once; the dialog ends with it.
  if (started_) return;
  started_ = true;
  if (description_.program) {
    DownloadAndInstall(*description_.program);
  } else {
    FetchManifest();
  }
}

void CUpdateDlg::FetchManifest() {
  manifest_ = std::make_shared<ManifestSlot>();
  std::shared_ptr<ManifestSlot> slot = manifest_;
  const Text section = BuildSection(platform_.OwnProgramFormat());
  // Where the host's settings send its own check.
  FileSystem& files = platform_.Files();
  Text url = UpdateCheckUrl(
      files, platform_.LocateSettingsFile(MakeSettingsPath(targetPath_, files.Separator())));
  if (!IsWebAddress(url)) url = kDefaultCheckUrl;
  Platform& platform = platform_;
  HWND dialog = GetSafeHwnd();
  bool started = platform_.StartWorker([&platform, dialog, section, url, slot] {
    FileSystem& files = platform.Files();
    std::string body, signature;
    Text why;
    if (platform.DownloadToMemory(url, kManifestLimit, &body) < 0 ||
        platform.DownloadToMemory(SignatureUrl(url), kSignatureSize, &signature) < 0) {
      why = u"the manifest could not be read";
    } else if (std::optional<Manifest> manifest =
                   ReadSignedManifest(body, signature, TrustedUpdateKeys(), section, &why)) {
      if (manifest->program) {
        std::lock_guard<std::mutex> lock(slot->mutex);
        slot->program = manifest->program;
      } else {
        why = u"the manifest names no program for " + section;
      }
    }
    if (!why.empty()) files.DebugOutput(kDebugPrefix + why + u"\r\n");
    platform.PostMessage(dialog, kWmManifest);
  });
  if (!started) Fail();
}

void CUpdateDlg::OnManifest(Message&) {
  std::optional<SignedProgram> program;
  if (manifest_ != nullptr) {
    std::lock_guard<std::mutex> lock(manifest_->mutex);
    program = std::exchange(manifest_->program, std::nullopt);
  }
  if (program) {
    DownloadAndInstall(*program);
  } else {
    Fail();
  }
}

void CUpdateDlg::DownloadAndInstall(const SignedProgram& program) {
  // Never an older or the same version over the installed program.
  std::optional<FileVersion> installed = ProgramFileVersion(platform_, targetPath_);
  if (installed && *installed >= program.version) {
    platform_.Files().DebugOutput(kDebugPrefix + FormatFileVersion(program.version) +
                                  u" is not newer than the installed " +
                                  FormatFileVersion(*installed) + u"\r\n");
    Fail();
    return;
  }
  // Made runnable before it is put in place, so that the program there always runs.
  if (!Download(program) || !IsSignedProgram(platform_, tempPath_, program) ||
      !platform_.Files().MarkExecutable(tempPath_)) {
    Fail();
    return;
  }
  step_ = Step::kReplace;
  tries_ = 0;
  platform_.SetTimer(GetSafeHwnd(), kStepTimer, kStepTimerMs);
  OnStep();
}

bool CUpdateDlg::Download(const SignedProgram& program) {
  downloadResult_ = platform_.DownloadToFile(
      program.downloadUrl, tempPath_, program.size,
      [this](std::uint64_t received, std::uint64_t total) { ShowProgress(received, total); });
  return downloadResult_ >= 0;
}

void CUpdateDlg::ShowProgress(std::uint64_t received, std::uint64_t total) {
  // The bar keeps its default range of 0 to 100.
  int position = 0;
  if (total != 0) {
    position = static_cast<int>(std::min(received * 100.0 / static_cast<double>(total), 100.0));
  }
  if (position == position_) return;
  position_ = position;
  platform_.SetProgress(GetDlgItem(kIdProgress), position);
}

void CUpdateDlg::OnStep() {
  const bool lastTry = ++tries_ >= kStepTries;
  switch (step_) {
    case Step::kReplace:
      // The old program may still be ending and hold its file.
      if (Install()) {
        step_ = Step::kAwaitOldProgram;
        tries_ = 0;
        OnStep();
      } else if (lastTry) {
        platform_.KillTimer(GetSafeHwnd(), kStepTimer);
        Fail();
      }
      return;
    case Step::kAwaitOldProgram:
      // A new program started while the old one runs would give way to it.
      if (platform_.InstanceNameHeld(kHostInstanceName) && !lastTry) return;
      if (!platform_.CreateProcess(targetPath_)) {
        RollBack();
        return;
      }
      step_ = Step::kAwaitNewProgram;
      tries_ = 0;
      return;
    case Step::kAwaitNewProgram:
      // Its claim of the host's name is the sign that it came up.
      if (platform_.InstanceNameHeld(kHostInstanceName)) {
        Succeed();
      } else if (lastTry) {
        RollBack();
      }
      return;
  }
}

bool CUpdateDlg::Install() {
  FileSystem& files = platform_.Files();
  hadOld_ = FileExists(files, targetPath_);
  if (hadOld_ && !files.ReplaceWith(targetPath_, keptPath_)) return false;
  if (files.ReplaceWith(tempPath_, targetPath_)) return true;
  if (hadOld_) files.ReplaceWith(keptPath_, targetPath_);
  return false;
}

void CUpdateDlg::RollBack() {
  FileSystem& files = platform_.Files();
  files.DebugOutput(Text(kDebugPrefix) +
                    u"the new program did not come up; the old one is back\r\n");
  if (hadOld_) {
    if (files.ReplaceWith(keptPath_, targetPath_)) platform_.CreateProcess(targetPath_);
  } else {
    files.Remove(targetPath_);
  }
  Fail();
}

void CUpdateDlg::Succeed() {
  platform_.KillTimer(GetSafeHwnd(), kStepTimer);
  if (hadOld_) platform_.Files().Remove(keptPath_);
  platform_.MessageBox(GetSafeHwnd(), kUpdated, kUpdaterName, MessageBoxButtons::kOk);
  EndDialog(1);
}

void CUpdateDlg::Fail() {
  platform_.KillTimer(GetSafeHwnd(), kStepTimer);
  platform_.MessageBox(GetSafeHwnd(), kNotUpdated, kUpdaterName, MessageBoxButtons::kOk);
  EndDialog(1);
}

}  // namespace sorvel
