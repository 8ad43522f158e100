// The updater's dialog: a second after it shows, it downloads the new main program with a
// progress bar, checks it, puts it in place of the old one, starts it and ends.
#pragma once

#include <cstdint>

#include "platform/framework.h"

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
  // While the old program still holds its file, the replacement is tried again this often, up
  // to ten seconds after the first try.
  static constexpr unsigned kReplaceTimer = 2;
  static constexpr unsigned kReplaceTimerMs = 250;
  static constexpr int kReplaceRetries = 40;

  CUpdateDlg(Platform& platform, HWND owner);

 protected:
  void OnInitDialog() override;
  bool DispatchMessageMap(Message& message) override;

 private:
  static const MessageMapEntry<CUpdateDlg> kMessageMap[];

  void OnFileDownload(Message& message);
  void OnCreateFile(Message& message);
  void OnTimer(Message& message);

  void RunUpdate();
  bool Download();
  // The downloaded file is a program for this machine and has the announced hash, if any.
  bool Acceptable();
  void ShowProgress(std::uint64_t received, std::uint64_t total);
  void RetryReplace();
  void Succeed();
  void Fail();

  std::int32_t downloadResult_ = 0;
  Text descriptionPath_;
  Text folder_;
  Text downloadUrl_;
  Text mainName_;
  Text targetPath_;
  Text tempPath_;
  HICON icon_ = nullptr;
  HWND progressBar_ = nullptr;
  int position_ = -1;  // the bar's last position; -1 before the first
  // The download dispatches the dialog's messages meanwhile: a command or a timer then must not
  // start a second run.
  bool started_ = false;
  int replaceRetries_ = 0;
};

}  // namespace sorvel
