#include "platform/posix/posix_files.h"

#include <gtest/gtest.h>

namespace sorvel {
namespace {

TEST(UserSettingsPathTest, TheUsersConfigurationFolderUnderTheFilesName) {
  const struct {
    const char* xdg;
    const char* home;
    const char* expected;
  } cases[] = {
      {"/home/u/.cfg", "/home/u", "/home/u/.cfg/sorvel/sorvel.ini"},
      {"/home/u/.cfg/", "/home/u", "/home/u/.cfg/sorvel/sorvel.ini"},
      {nullptr, "/home/u", "/home/u/.config/sorvel/sorvel.ini"},
      {"", "/home/u", "/home/u/.config/sorvel/sorvel.ini"},
      {"relative", "/home/u", "/home/u/.config/sorvel/sorvel.ini"},  // not a folder by XDG's rule
      {nullptr, nullptr, ""},
      {"relative", "also-relative", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(UserSettingsPath("/usr/local/bin/sorvel.ini", c.xdg, c.home), c.expected)
        << (c.xdg ? c.xdg : "(unset)") << " " << (c.home ? c.home : "(unset)");
  }
}

// An installation's folder of programs is not the place for a settings file, even for root.
TEST(UserSettingsPathTest, SettingsLieBesideTheProgramOnlyInAWritableFolderOfTheUsers) {
  const struct {
    const char* folder;
    bool writable;
    bool beside;
  } cases[] = {
      {"/home/u/sorvel", true, true},
      {"/tmp/sorvel-test", true, true},
      {"/", true, true},
      {"/home/u/binaries", true, true},
      {"/opt/sorvel", false, false},
      {"/usr/bin", false, false},
      {"/usr/bin", true, false},
      {"/usr/local/bin", true, false},
      {"/home/u/.local/bin", true, false},
      {"/usr/sbin", true, false},
      {"/bin", true, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SettingsBesideProgram(c.folder, c.writable), c.beside)
        << c.folder << (c.writable ? " writable" : " not writable");
  }
}

}  // namespace
}  // namespace sorvel
