// The version the build gives the native programs, read back from their files as the version
// dialog and the update check read it, before and after strip.
#include "update/program_version.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/posix/posix_files.h"
#include "tests/support/spawn.h"

namespace sorvel {
namespace {

std::string Dotted(std::uint32_t ms, std::uint32_t ls) {
  return std::to_string(ms >> 16) + "." + std::to_string(ms & 0xFFFF) + "." +
         std::to_string(ls >> 16) + "." + std::to_string(ls & 0xFFFF);
}

TEST(ProgramVersionTest, TheProgramsCarryTheirVersionThroughStrip) {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("sorvel-version-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  struct Case {
    std::string path;
    const char* version;
  };
  const Case cases[] = {
      {SORVEL_HOST, SORVEL_PROJECT_VERSION},
      {SORVEL_UPDATE, SORVEL_PROJECT_VERSION},
      // A version of its own, given by this test's build.
      {std::filesystem::read_symlink("/proc/self/exe").string(), "3.65535.0.7"},
  };
  PosixFileSystem files(std::string(), false);
  for (const Case& c : cases) {
    const std::string stripped = (folder / "stripped").string();
    std::filesystem::remove(stripped);
    const pid_t strip = test::Spawn({"strip", "-o", stripped, c.path});
    int status = -1;
    ASSERT_NE(strip, 0);
    ASSERT_EQ(waitpid(strip, &status, 0), strip);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "strip " << c.path;
    ASSERT_LT(std::filesystem::file_size(stripped), std::filesystem::file_size(c.path)) << c.path;
    for (const std::string& path : {c.path, stripped}) {
      std::uint32_t ms = 0, ls = 0;
      EXPECT_TRUE(ReadElfFileVersion(files, FromUtf8(path), &ms, &ls)) << path;
      EXPECT_EQ(Dotted(ms, ls), c.version) << c.path << (path == stripped ? " stripped" : "");
    }
  }
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace sorvel
