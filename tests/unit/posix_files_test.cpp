#include "platform/posix/posix_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "tests/unit/host_fixture.h"

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
      {"relative", "also-relative", ""}};
  for (const auto& c : cases) {
    EXPECT_EQ(UserSettingsPath("/usr/local/bin/sorvel.ini", c.xdg, c.home), c.expected)
        << (c.xdg ? c.xdg : "(unset)") << " " << (c.home ? c.home : "(unset)");
  }
}

// An installation's folder of programs is not the place for a settings file, even for root.
TEST(UserSettingsPathTest, SettingsLieBesideTheProgramOnlyInAWritableFolderOfTheUsers) {
  for (const char* folder : {"/home/u/sorvel", "/tmp/sorvel-test", "/", "/home/u/binaries"}) {
    EXPECT_TRUE(SettingsBesideProgram(folder, true)) << folder;
    EXPECT_FALSE(SettingsBesideProgram(folder, false)) << folder << " not writable";
  }
  for (const char* folder :
       {"/usr/bin", "/usr/local/bin", "/home/u/.local/bin", "/usr/sbin", "/bin"}) {
    EXPECT_FALSE(SettingsBesideProgram(folder, true)) << folder;
  }
  EXPECT_FALSE(SettingsBesideProgram("/opt/sorvel", false));
}

// Only a regular file at the name itself becomes runnable; a link there changes nothing.
TEST(PosixFilesTest, MarkExecutableTakesTheFileItselfOnly) {
  const std::string folder = MakeTempFolder();
  const std::string victim = folder + "/victim";
  std::fclose(std::fopen(victim.c_str(), "w"));
  ASSERT_EQ(chmod(victim.c_str(), 0600), 0);
  const std::string plain = folder + "/plain";
  std::fclose(std::fopen(plain.c_str(), "w"));
  ASSERT_EQ(symlink(victim.c_str(), (folder + "/link").c_str()), 0);
  ASSERT_EQ(mkdir((folder + "/dir").c_str(), 0700), 0);
  const struct {
    const char* name;
    bool durable;
    bool ok;
  } cases[] = {{"plain", false, true},
               {"plain", true, true},
               {"link", true, false},
               {"dir", false, false},
               {"missing", false, false}};
  for (const auto& c : cases) {
    PosixFileSystem files("", c.durable);
    const std::string path = folder + "/" + c.name;
    EXPECT_EQ(files.MarkExecutable(FromUtf8(path)), c.ok) << c.name;
    struct stat status {};
    if (c.ok) {
      ASSERT_EQ(lstat(path.c_str(), &status), 0);
      EXPECT_EQ(status.st_mode & 0777, 0755u);
    }
  }
  struct stat status {};
  ASSERT_EQ(stat(victim.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace sorvel
