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

}  // namespace
}  // namespace sorvel
