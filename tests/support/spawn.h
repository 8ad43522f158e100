// Starts a program found on PATH, its output (standard output and error) appended to a file, and
// ends every process a test started, however it came about; the native tests and benchmarks
// start and end the programs they drive with them.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/types.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern char** environ;

namespace sorvel::test {

// The child's process id, 0 when it could not be started.
inline pid_t Spawn(std::vector<std::string> arguments, const std::string& output = "/dev/null") {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                   0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  std::vector<char*> argv;
  for (std::string& a : arguments) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  int error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return error == 0 ? pid : 0;
}

// A file's bytes; none when it is not there.
inline std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A new empty folder of the test's in the temporary folder, named from `prefix`; and every
// process started from now on carries it in its environment (SORVEL_TEST_FOLDER), whoever
// starts it: the host, its keeper, the programs it starts and their helpers.
inline std::filesystem::path MarkedFolder(const std::string& prefix) {
  std::string folder = (std::filesystem::temp_directory_path() / (prefix + ".XXXXXX")).string();
  if (mkdtemp(folder.data()) == nullptr) return {};
  setenv("SORVEL_TEST_FOLDER", folder.c_str(), 1);
  return folder;
}

// Kills every process that carries `folder`, with its session where it has one of its own (the
// host starts programs so); how many there were.
inline int EndMarked(const std::filesystem::path& folder) {
  const std::string mark = std::string(1, '\0') + "SORVEL_TEST_FOLDER=" + folder.string() + '\0';
  int found = 0;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
    const pid_t pid = static_cast<pid_t>(std::atoi(entry.path().filename().c_str()));
    if (pid <= 1 || pid == getpid() ||
        ('\0' + ReadAll(entry.path() / "environ")).find(mark) == std::string::npos) {
      continue;
    }
    const pid_t session = getsid(pid);
    if (session > 1 && session != getsid(0)) kill(-session, SIGKILL);
    kill(pid, SIGKILL);
    ++found;
  }
  return found;
}

}  // namespace sorvel::test
