// A simulated device with its own file system folder, and the host's process-wide state reset,
// for the tests of the host program.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

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

class HostTest : public ::testing::Test {
 protected:
  HostTest() : root_(MakeTempFolder()), files_(root_), device_(files_) {
    SettingsPath.clear();
    ThreePaneMode = true;
    PickedWindowTitle.clear();
    PickedProgramPath.clear();
    files_.CreateFolder(u"\\Program Files\\Sorvel");
  }
  ~HostTest() override { std::filesystem::remove_all(root_); }

  // Writes the settings file beside the program, UTF-16LE, one "key=value" line each.
  void WriteSettingsFile(const std::u16string& body) {
    files_.SetBytes(u"\\Program Files\\Sorvel\\Sorvel.ini", Utf16LeBytes(u"[Setting]\r\n" + body));
  }

  std::string root_;
  SimFileSystem files_;
  SimDevice device_;
};

}  // namespace sorvel
