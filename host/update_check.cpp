#include "host/update_check.h"

#include <array>
#include <tuple>
#include <utility>

#include "host/resources.h"
#include "host/version_dlg.h"
#include "settings/profile.h"
#include "settings/settings.h"
#include "update/description.h"
#include "update/trusted_keys.h"

namespace sorvel {

namespace {

constexpr char16_t kOptionalQuestion[] = u"프로그램이 업데이트되었습니다. 업데이트를 하시겠습니까?";
constexpr char16_t kMandatoryQuestion[] =
    u"프로그램이 업데이트되었습니다. 업데이트를 하지 않으면 프로그램이 구동되지 않습니다. "
    u"업데이트를 하시겠습니까?";
constexpr char16_t kAutomaticQuestion[] =
    u"최신 버전이 존재합니다. 업데이트를 하지 않으면 프로그램이 종료됩니다. 업데이트를 "
    u"하시겠습니까?";

constexpr char16_t kDownloadSection[] = u"Download";

constexpr char16_t kDebugPrefix[] = u"Update check: ";

// Starts the updater beside the host; a failure is told to the user.
void StartUpdater(Platform& platform, HWND dialog, const Text& folder) {
  Text updater =
      JoinPath(platform.Files(), folder, ProgramNamesFor(platform.OwnProgramFormat()).updater);
  Text message;
  if (!FileExists(platform.Files(), updater)) {
    message = u" 자동 업데이트 기능이 없는 버전입니다. " + WebSiteAddress() +
              u" 에서 최신버전을 받아 설치하세요.";
  } else if (!platform.ShellExecute(dialog, updater, Text())) {
    message = StartFailureText();
  }
  if (!message.empty()) platform.MessageBox(dialog, message, kAppName, MessageBoxButtons::kOk);
}

}  // namespace

std::optional<UpdateNotice> NoticeFromManifest(const std::string& bytes,
                                               const std::string& signature, FileVersion own,
                                               const std::vector<P256PublicKey>& keys,
                                               const Text& section, Text* why) {
  std::optional<Manifest> manifest = ReadSignedManifest(bytes, signature, keys, section, why);
  if (!manifest) return std::nullopt;
  // An older or equal version is never offered: a replayed manifest installs nothing.
  if (manifest->version <= own) {
    *why = u"version " + FormatFileVersion(manifest->version) + u" is not newer than " +
           FormatFileVersion(own);
    return std::nullopt;
  }
  UpdateNotice notice;
  notice.kind = manifest->kind;
  if (manifest->program) notice.program = *manifest->program;
  return notice;
}

bool HandleUpdateNotice(Platform& platform, HWND dialog, const UpdateNotice& notice) {
  auto ask = [&](const char16_t* question) {
    return platform.MessageBox(dialog, question, kAppName, MessageBoxButtons::kYesNo);
  };
  switch (notice.kind) {
    case NoticeKind::kOptional:
      if (ask(kOptionalQuestion)) OpenWebSite(platform, dialog);
      return false;
    case NoticeKind::kMandatory:
      if (ask(kMandatoryQuestion)) OpenWebSite(platform, dialog);
      return true;
    case NoticeKind::kAutomatic:
      break;
  }
  FileSystem& files = platform.Files();
  Text folder = ProgramFolder(files, platform.GetModuleFileName());
  const bool described =
      WriteUpdateDescription(files, JoinPath(files, folder, kDescriptionFile),
                             ProgramNamesFor(platform.OwnProgramFormat()).main, notice.program);
  WritePrivateProfileString(files, kDownloadSection, u"DownName",
                            notice.program.downloadUrl.c_str(), SettingsPath.c_str());
  if (ask(kAutomaticQuestion)) {
    // An updater started on what an earlier notice left would fetch that one's program.
    if (described) {
      StartUpdater(platform, dialog, folder);
    } else {
      platform.MessageBox(dialog, StartFailureText(), kAppName, MessageBoxButtons::kOk);
    }
  }
  return true;
}

void UpdateCheck::Start(Platform& platform, HWND dialog, std::uint32_t message) {
  if (slot_ != nullptr) return;
  slot_ = std::make_shared<Slot>();
  FileSystem& files = platform.Files();
  Text url = UpdateCheckUrl(files, SettingsPath);
  if (url.empty()) {
    files.DebugOutput(Text(kDebugPrefix) + u"off\r\n");
    return;
  }
  // Read here: the work may touch nothing but the download, the message and the debug output.
  std::optional<FileVersion> ownVersion =
      ProgramFileVersion(platform, platform.GetModuleFileName());
  if (!ownVersion) {
    files.DebugOutput(Text(kDebugPrefix) + u"the program file has no version\r\n");
    return;
  }
  const FileVersion own = *ownVersion;
  const Text section = BuildSection(platform.OwnProgramFormat());
  std::shared_ptr<Slot> slot = slot_;
  bool started = platform.StartWorker([&platform, dialog, message, url, own, section, slot] {
    FileSystem& files = platform.Files();
    std::string body, signature;
    for (auto [address, limit, bytes] :
         {std::make_tuple(url, kManifestLimit, &body),
          std::make_tuple(SignatureUrl(url), kSignatureSize, &signature)}) {
      std::int32_t result = platform.DownloadToMemory(address, limit, bytes);
      if (result < 0) {
        files.DebugOutput(kDebugPrefix + address + u" could not be read (" + FormatDecimal(result) +
                          u")\r\n");
        return;
      }
    }
    Text why;
    std::optional<UpdateNotice> notice =
        NoticeFromManifest(body, signature, own, TrustedUpdateKeys(), section, &why);
    if (!notice) {
      files.DebugOutput(kDebugPrefix + why + u"\r\n");
      return;
    }
    {
      std::lock_guard<std::mutex> lock(slot->mutex);
      slot->notice = std::move(notice);
    }
    platform.PostMessage(dialog, message);
  });
  if (!started) files.DebugOutput(Text(kDebugPrefix) + u"no worker thread\r\n");
}

std::optional<UpdateNotice> UpdateCheck::Take() {
  if (slot_ == nullptr) return std::nullopt;
  std::lock_guard<std::mutex> lock(slot_->mutex);
  return std::exchange(slot_->notice, std::nullopt);
}

}  // namespace sorvel
