#include "host/update_check.h"

#include <array>
#include <utility>

#include "host/resources.h"
#include "host/version_dlg.h"
#include "settings/profile.h"
#include "settings/settings.h"

namespace sorvel {

const char16_t kDefaultCheckUrl[] = u"http://www.sorvel.example/update/Sorvel.ini";

namespace {

constexpr char16_t kOptionalQuestion[] = u"프로그램이 업데이트되었습니다. 업데이트를 하시겠습니까?";
constexpr char16_t kMandatoryQuestion[] =
    u"프로그램이 업데이트되었습니다. 업데이트를 하지 않으면 프로그램이 구동되지 않습니다. "
    u"업데이트를 하시겠습니까?";
constexpr char16_t kAutomaticQuestion[] =
    u"최신 버전이 존재합니다. 업데이트를 하지 않으면 프로그램이 종료됩니다. 업데이트를 "
    u"하시겠습니까?";

constexpr char16_t kDownloadSection[] = u"Download";
constexpr char16_t kDescriptionFile[] = u"Download.ini";
constexpr char16_t kUpdaterFile[] = u"SorvelUpdate.exe";
constexpr char16_t kMainName[] = u"Sorvel.exe";
// The native programs' files where programs are ELF files.
constexpr char16_t kElfUpdaterFile[] = u"sorvel-update";
constexpr char16_t kElfMainName[] = u"sorvel";

constexpr char16_t kUpdateSection[] = u"Update";
constexpr char16_t kDebugPrefix[] = u"Update check: ";

// Values are read as the updater reads its own: at most 259 units.
constexpr std::uint32_t kValueCapacity = 260;
constexpr std::size_t kSha256Digits = 64;

// A manifest value: empty when the key is missing or its value is.
Text ManifestValue(const Text& text, const char16_t* key) {
  std::array<char16_t, kValueCapacity> buffer{};
  std::uint32_t length =
      FindProfileStringInText(text, kUpdateSection, key, buffer.data(), kValueCapacity);
  return Text(buffer.data(), length);
}

bool IsHexDigits(const Text& text) {
  for (char16_t c : text) {
    bool hex = (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
    if (!hex) return false;
  }
  return true;
}

Text FormatVersion(FileVersion version) {
  Text text;
  for (int shift = 48; shift >= 0; shift -= 16) {
    if (!text.empty()) text += u'.';
    text += FormatDecimal(static_cast<std::int32_t>((version >> shift) & 0xFFFF));
  }
  return text;
}

bool ElfPrograms(Platform& platform) {
  return platform.OwnProgramFormat() == ProgramFormat::kElf;
}

void WriteDescriptionFile(Platform& platform, const Text& path, const UpdateNotice& notice) {
  FileSystem& files = platform.Files();
  const char16_t* file = path.c_str();
  WritePrivateProfileString(files, kDownloadSection, u"DownName", notice.downloadUrl.c_str(), file);
  WritePrivateProfileString(files, kDownloadSection, u"MainName",
                            ElfPrograms(platform) ? kElfMainName : kMainName, file);
  if (!notice.sha256.empty()) {
    WritePrivateProfileString(files, kDownloadSection, u"Sha256", notice.sha256.c_str(), file);
    return;
  }
  // The store keeps keys it is not told about: a hash left by an earlier notice would make the
  // updater refuse this one's program. An empty value counts as none.
  char16_t stale[2] = {};
  if (FindProfileString(files, kDownloadSection, u"Sha256", stale, 2, file) > 0) {
    WritePrivateProfileString(files, kDownloadSection, u"Sha256", u"", file);
  }
}

// Starts the updater beside the host; a failure is told to the user.
void StartUpdater(Platform& platform, HWND dialog, const Text& folder) {
  Text updater =
      JoinPath(platform.Files(), folder, ElfPrograms(platform) ? kElfUpdaterFile : kUpdaterFile);
  Text message;
  if (!FileExists(platform.Files(), updater)) {
    message = u" 자동 업데이트 기능이 없는 버전입니다. " + WebSiteAddress() +
              u" 에서 최신버전을 받아 설치하세요.";
  } else if (!platform.ShellExecute(dialog, updater, Text())) {
    message = StartFailureText();
  }
  if (!message.empty()) platform.MessageBox(dialog, message, kAppName, kMbOk);
}

}  // namespace

std::optional<FileVersion> ParseFileVersion(const Text& text) {
  FileVersion version = 0;
  std::size_t at = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (at == text.size() || text[at] != u'.') return std::nullopt;
      ++at;
    }
    std::uint32_t value = 0;
    std::size_t digits = 0;
    for (; at < text.size() && text[at] >= u'0' && text[at] <= u'9'; ++at, ++digits) {
      value = value * 10 + static_cast<std::uint32_t>(text[at] - u'0');
      if (value > 0xFFFF) return std::nullopt;
    }
    if (digits == 0) return std::nullopt;
    version = (version << 16) | value;
  }
  if (at != text.size()) return std::nullopt;
  return version;
}

std::optional<UpdateNotice> NoticeFromManifest(const std::string& bytes, FileVersion own,
                                               Text* why) {
  auto fail = [why](Text reason) {
    *why = std::move(reason);
    return std::nullopt;
  };
  if (bytes.size() > kManifestLimit) return fail(u"the manifest is larger than 64 KiB");
  if (bytes.size() % 2 != 0) return fail(u"the manifest is not UTF-16 (odd byte count)");
  Text text(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < text.size(); ++i) {
    text[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                    (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  }

  Text versionText = ManifestValue(text, u"Version");
  std::optional<FileVersion> version = ParseFileVersion(versionText);
  if (!version) return fail(u"the manifest's Version \"" + versionText + u"\" is malformed");
  UpdateNotice notice;
  Text kind = ManifestValue(text, u"Kind");
  if (kind == u"optional") {
    notice.kind = NoticeKind::kOptional;
  } else if (kind == u"mandatory") {
    notice.kind = NoticeKind::kMandatory;
  } else if (kind == u"automatic") {
    notice.kind = NoticeKind::kAutomatic;
    notice.downloadUrl = ManifestValue(text, u"DownName");
    if (notice.downloadUrl.empty()) return fail(u"the automatic notice has no DownName");
    notice.sha256 = ManifestValue(text, u"Sha256");
    if (!notice.sha256.empty() &&
        (notice.sha256.size() != kSha256Digits || !IsHexDigits(notice.sha256))) {
      return fail(u"the manifest's Sha256 is not 64 hex digits");
    }
  } else {
    return fail(u"the manifest's Kind \"" + kind + u"\" is unknown");
  }
  if (*version <= own) {
    return fail(u"version " + FormatVersion(*version) + u" is not newer than " +
                FormatVersion(own));
  }
  return notice;
}

bool HandleUpdateNotice(Platform& platform, HWND dialog, const UpdateNotice& notice) {
  auto ask = [&](const char16_t* question) {
    return platform.MessageBox(dialog, question, kAppName, kMbYesNo) == kIdYes;
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
  WriteDescriptionFile(platform, JoinPath(files, folder, kDescriptionFile), notice);
  WritePrivateProfileString(files, kDownloadSection, u"DownName", notice.downloadUrl.c_str(),
                            SettingsPath.c_str());
  if (ask(kAutomaticQuestion)) StartUpdater(platform, dialog, folder);
  return true;
}

Text UpdateCheckUrl(FileSystem& files, const Text& settingsPath) {
  // The store leaves the buffer alone for a missing key and empties it for an empty value.
  std::array<char16_t, kValueCapacity> buffer{};
  Text fallback = kDefaultCheckUrl;
  std::copy(fallback.begin(), fallback.end(), buffer.begin());
  FindProfileString(files, kUpdateSection, u"CheckUrl", buffer.data(), kValueCapacity,
                    settingsPath.c_str());
  return Text(buffer.data());
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
  std::uint32_t ms = 0, ls = 0;
  if (!platform.GetFileVersion(platform.GetModuleFileName(), &ms, &ls)) {
    files.DebugOutput(Text(kDebugPrefix) + u"the program file has no version\r\n");
    return;
  }
  FileVersion own = (FileVersion{ms} << 32) | ls;
  std::shared_ptr<Slot> slot = slot_;
  bool started = platform.StartWorker([&platform, dialog, message, url, own, slot] {
    FileSystem& files = platform.Files();
    std::string body;
    std::int32_t result = platform.DownloadToMemory(url, kManifestLimit, &body);
    if (result < 0) {
      files.DebugOutput(kDebugPrefix + url + u" could not be read (" + FormatDecimal(result) +
                        u")\r\n");
      return;
    }
    Text why;
    std::optional<UpdateNotice> notice = NoticeFromManifest(body, own, &why);
    if (!notice) {
      files.DebugOutput(kDebugPrefix + why + u"\r\n");
      return;
    }
    {
      std::lock_guard<std::mutex> lock(slot->mutex);
      slot->notice = std::move(notice);
    }
    platform.PostMessage(dialog, message, 0, 0);
  });
  if (!started) files.DebugOutput(Text(kDebugPrefix) + u"no worker thread\r\n");
}

std::optional<UpdateNotice> UpdateCheck::Take() {
  if (slot_ == nullptr) return std::nullopt;
  std::lock_guard<std::mutex> lock(slot_->mutex);
  return std::exchange(slot_->notice, std::nullopt);
}

}  // namespace sorvel
