// Crash-safety check of the store's write: a child process rewrites the settings file over and
// over and is killed (SIGKILL) at a random moment; the file must then hold exactly the old or the
// new content. Prints the figures; exits 1 when a torn file was found.
//
//   crash_safety [iterations] [--copy]
//
// --copy replaces the file by copying the bytes over it instead of renaming: a control that
// shows the check does find torn files. It exits 1 when it finds none, since a check that
// cannot see a torn file proves nothing by passing.
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <string>

#include "bench/settings_file.h"
#include "platform/posix/posix_files.h"
#include "settings/profile.h"

namespace {

using namespace sorvel;

struct Shared {
  volatile sig_atomic_t started;  // the child is running
  volatile sig_atomic_t writing;  // the child is inside a write
  volatile long writes;           // writes completed by the children
};

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

int main(int argc, char** argv) {
  long iterations = 3000;
  bool copy = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--copy") == 0) {
      copy = true;
    } else {
      iterations = std::strtol(argv[i], nullptr, 10);
    }
  }
  char pattern[] = "/tmp/sorvel-crash-XXXXXX";
  const std::string root = mkdtemp(pattern);
  PosixFileSystem files(root, false,
                        copy ? PosixFileSystem::Replace::kCopy : PosixFileSystem::Replace::kRename);
  const Text ini = u"\\Sorvel.ini";
  const std::string hostIni = files.HostPath(ini);
  const Text key = u"FileFullPath1";
  // Two values of different lengths, so that a mix of the two is visible in the bytes.
  const Text values[2] = {Text(120, u'a'), Text(40, u'b')};

  std::string contents[2];
  for (int v = 0; v < 2; ++v) {
    std::ofstream(hostIni, std::ios::binary) << Utf16LeBytes(kRealisticSettings);
    WritePrivateProfileString(files, u"Setting", key.c_str(), values[v].c_str(), ini.c_str());
    contents[v] = ReadBytes(hostIni);
  }

  // How long one write takes, to spread the kills over a few writes.
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 200; ++i) {
    WritePrivateProfileString(files, u"Setting", key.c_str(), values[i % 2].c_str(), ini.c_str());
  }
  const double writeMicros =
      std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count() /
      200;

  auto* shared = static_cast<Shared*>(
      mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  shared->writes = 0;
  std::mt19937 random(12345);
  std::uniform_int_distribution<int> delay(0, static_cast<int>(writeMicros * 3));
  long outcomes[2] = {0, 0};
  long torn = 0, killedInWrite = 0, leftoverTemp = 0;
  for (long i = 0; i < iterations; ++i) {
    shared->started = 0;
    shared->writing = 0;
    const pid_t child = fork();
    if (child == 0) {
      shared->started = 1;
      for (long n = 0;; ++n) {
        shared->writing = 1;
        WritePrivateProfileString(files, u"Setting", key.c_str(), values[n % 2].c_str(),
                                  ini.c_str());
        shared->writing = 0;
        shared->writes = shared->writes + 1;
      }
    }
    while (!shared->started) sched_yield();
    usleep(static_cast<useconds_t>(delay(random)));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    killedInWrite += shared->writing;
    if (access((hostIni + ".tmp").c_str(), F_OK) == 0) ++leftoverTemp;

    const std::string now = ReadBytes(hostIni);
    if (now == contents[0]) {
      ++outcomes[0];
    } else if (now == contents[1]) {
      ++outcomes[1];
    } else {
      if (torn == 0) std::printf("first torn file: %zu bytes at iteration %ld\n", now.size(), i);
      ++torn;
      std::ofstream(hostIni, std::ios::binary) << contents[0];
    }
  }

  std::printf("replacement: %s\n", copy ? "copy over the file (control)" : "rename over the file");
  std::printf("one write: %.1f us; kill delay: 0 to %d us\n", writeMicros, delay.max());
  std::printf("iterations (kills): %ld\n", iterations);
  std::printf("writes completed before the kills: %ld\n", static_cast<long>(shared->writes));
  std::printf("kills inside a write: %ld\n", killedInWrite);
  std::printf("temporary file left behind: %ld\n", leftoverTemp);
  std::printf("file held the first value: %ld, the second: %ld, torn: %ld\n", outcomes[0],
              outcomes[1], torn);

  std::remove((hostIni + ".tmp").c_str());
  std::remove(hostIni.c_str());
  rmdir(root.c_str());
  if (copy) {
    if (torn == 0) std::printf("control failed: copying over the file tore none\n");
    return torn > 0 ? 0 : 1;
  }
  return torn == 0 ? 0 : 1;
}
