// The host's update check: where update notices come from (the vendor's manifest, fetched on a
// worker thread once per start) and what the host does with one on its user-interface thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/platform.h"

namespace sorvel {

enum class NoticeKind { kOptional, kMandatory, kAutomatic };

struct UpdateNotice {
  NoticeKind kind = NoticeKind::kOptional;
  Text downloadUrl;  // automatic notices: the new main program file
  Text sha256;       // automatic notices: its SHA-256 in hex; empty when the manifest gives none
};

// A file version's four 16-bit parts, most significant first, in one number: comparing two of
// them compares the parts one by one.
using FileVersion = std::uint64_t;

// The largest manifest read.
constexpr std::size_t kManifestLimit = 64 * 1024;
// Where the vendor publishes its manifest; the settings file's "Update" "CheckUrl" replaces it.
extern const char16_t kDefaultCheckUrl[];

// "a.b.c.d", four decimal parts of 0 to 65535; nullopt for anything else.
std::optional<FileVersion> ParseFileVersion(const Text& text);

// The notice that manifest bytes give a host of version `own`: nullopt when the manifest is
// malformed or offers no newer version; `why` then says which.
std::optional<UpdateNotice> NoticeFromManifest(const std::string& bytes, FileVersion own,
                                               Text* why);

// Acts on a notice on the user-interface thread: asks the user, opens the web site or writes
// the update description file and starts the updater. True when the host is to close.
bool HandleUpdateNotice(Platform& platform, HWND dialog, const UpdateNotice& notice);

// The manifest address that the settings file names: the vendor's when it names none, empty
// when its entry is empty (no check).
Text UpdateCheckUrl(FileSystem& files, const Text& settingsPath);

// One check per start. The worker fetches and reads the manifest, leaves a notice here and posts
// `message` to the dialog, which then takes it. The notice is shared with the work, so that
// neither outliving the other loses or leaks it.
class UpdateCheck {
 public:
  // Starts the check unless one was started already or the settings turn it off; never blocks.
  void Start(Platform& platform, HWND dialog, std::uint32_t message);
  // The notice the check left, once.
  std::optional<UpdateNotice> Take();

 private:
  struct Slot {
    std::mutex mutex;
    std::optional<UpdateNotice> notice;
  };
  std::shared_ptr<Slot> slot_;
};

}  // namespace sorvel
