// The updater's dialog: a second after it shows, it downloads the new main program with a
// progress bar, checks it against the signed description, puts it in place of the old one and
// starts it; when the new program does not come up, the old one is put back and started again.
// Runs on the updater's one user-interface thread; the download re-enters the dialog (its
// messages are dispatched meanwhile), the manifest is read by a worker thread.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/framework.h"
#include "update/description.h"

namespace sorvel {

// The default download addresses: the create-file command writes the primary one, a first run
// without a description file the alternate one.
extern const char16_t kPrimaryDownloadUrl[];
extern const char16_t kAlternateDownloadUrl[];

class CUpdateDlg : public CDialog {
 public:
  // The update starts once, this long after the dialog shows.
  static constexpr unsigned kStartTimer = 1;
  static constexpr unsigned kStartTimerMs = 1000;
  // The installation's steps (putting the file in place while the old program still holds it,
  // waiting for the old program to end, then for the new one to come up) are retried or watched
  // this often, each for ten seconds at most.
  static constexpr unsigned kStepTimer = 2;
  static constexpr unsigned kStepTimerMs = 250;
  static constexpr int kStepTries = 40;
  // The worker's manifest has arrived.
  static constexpr std::uint32_t kWmManifest = kWmApp + 1;

  CUpdateDlg(Platform& platform, HWND owner);

 protected:
  void OnInitDialog() override;
  bool DispatchMessageMap(Message& message) override;

 private:
  static const MessageMapEntry<CUpdateDlg> kMessageMap[];
  enum class Step { kReplace, kAwaitOldProgram, kAwaitNewProgram };
  struct ManifestSlot {
    std::mutex mutex;
    std::optional<SignedProgram> program;
  };

  void OnFileDownload(Message& message);
  void OnCreateFile(Message& message);
  void OnTimer(Message& message);
  void OnManifest(Message& message);

  void RunUpdate();
  // Reads the signed manifest that the host's settings name, on a worker; OnManifest goes on.
  void FetchManifest();
  void DownloadAndInstall(const SignedProgram& program);
  bool Download(const SignedProgram& program);
  void ShowProgress(std::uint64_t received, std::uint64_t total);
  void OnStep();
  // The old program file goes aside, the new one in its place; false leaves the old in place.
  bool Install();
  void RollBack();
  void Succeed();
  void Fail();

  std::int32_t downloadResult_ = 0;
  Text descriptionPath_;
  Text folder_;
  UpdateDescription description_;
  Text targetPath_;
  Text tempPath_;
  Text keptPath_;      // the old program while the new one proves itself
  int position_ = -1;  // the bar's last position; -1 before the first
  // The download dispatches the dialog's messages meanwhile: a command or a timer then must not
  // start a second run.
  bool started_ = false;
  Step step_ = Step::kReplace;
  int tries_ = 0;
  bool hadOld_ = false;
  std::shared_ptr<ManifestSlot> manifest_;
};

}  // namespace sorvel
