// The host's update check: where update notices come from (the vendor's signed manifest,
// fetched on a worker thread once per start) and what the host does with one on its
// user-interface thread.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "update/manifest.h"

namespace sorvel {

struct UpdateNotice {
  NoticeKind kind = NoticeKind::kOptional;
  // Automatic notices: the new main program as the signed manifest binds it.
  SignedProgram program;
};

// The notice that a manifest and its signature give a host of version `own` in the build
// `section`: nullopt unless one of `keys` signed it and it offers a newer version; `why` then
// says which.
std::optional<UpdateNotice> NoticeFromManifest(const std::string& bytes,
                                               const std::string& signature, FileVersion own,
                                               const std::vector<P256PublicKey>& keys,
                                               const Text& section, Text* why);

// Acts on a notice on the user-interface thread: asks the user, opens the web site or writes
// the update description file and starts the updater. True when the host is to close.
bool HandleUpdateNotice(Platform& platform, HWND dialog, const UpdateNotice& notice);

// One check per start. The worker fetches the manifest and its signature, leaves a notice here
// and posts `message` to the dialog, which then takes it. The notice is shared with the work,
// so that neither outliving the other loses or leaks it.
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
