// A simulated device with its own file system folder, and the host's process-wide state reset,
// for the tests of the host program.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/framework.h"
#include "platform/sim/sim_device.h"
#include "platform/sim/sim_files.h"
#include "settings/settings.h"
#include "tests/support/utf16le.h"

namespace sorvel {

inline std::string MakeTempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "sorvel-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  return pattern;
}

// A simulated file system in a folder of its own.
class FilesTest : public ::testing::Test {
 protected:
  FilesTest() : root_(MakeTempFolder()), files_(root_) {}
  ~FilesTest() override { std::filesystem::remove_all(root_); }

  std::string root_;
  SimFileSystem files_;
};

class HostTest : public FilesTest {
 protected:
  HostTest() : device_(files_) {
    SettingsPath.clear();
    ThreePaneMode = true;
    PickedWindowTitle.clear();
    PickedProgramPath.clear();
    files_.CreateFolder(u"\\Program Files\\Sorvel");
  }

  // Writes the settings file beside the program, UTF-16LE, one "key=value" line each.
  void WriteSettingsFile(const std::u16string& body) {
    files_.SetBytes(u"\\Program Files\\Sorvel\\Sorvel.ini", Utf16LeBytes(u"[Setting]\r\n" + body));
  }

  using Action = std::function<void(HWND dialog)>;
  // Runs `dialog` modally; each idle step runs the next action on its window. The last action
  // is to end the run.
  int RunModal(CDialog& dialog, const std::vector<Action>& actions) {
    std::size_t step = 0;
    device_.SetIdleScript([&](SimDevice&) {
      if (step == actions.size()) return false;
      actions[step++](dialog.GetSafeHwnd());
      return true;
    });
    int result = dialog.DoModal();
    device_.SetIdleScript(nullptr);
    EXPECT_EQ(step, actions.size()) << "the run ended before its last action";
    EXPECT_FALSE(device_.ModalLoopStalled()) << "the last action did not end the run";
    return result;
  }
  Action Tap(int id) {
    return [this, id](HWND dialog) { device_.Click(device_.GetDlgItem(dialog, id)); };
  }
  Action Post(unsigned command) {
    return [this, command](HWND dialog) { device_.PostCommand(dialog, command); };
  }

  // Where a control stands in its dialog's client area.
  Placement Where(HWND dialog, int id) {
    Rect screen = device_.GetWindowRect(device_.GetDlgItem(dialog, id));
    Rect outer = device_.GetWindowRect(dialog);
    const SimWindow& d = device_.Window(dialog);
    return {screen.left - outer.left - d.insets.left, screen.top - outer.top - d.insets.top,
            screen.Width(), screen.Height()};
  }

  SimDevice device_;
};

}  // namespace sorvel
