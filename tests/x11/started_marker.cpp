// A small program for the updater's end-to-end test: once started, it leaves a file named
// "started" beside its own program file, holding that file's path, and ends.
#include <unistd.h>

#include <cstdio>
#include <string>

int main() {
  char self[4096];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) return 1;
  const std::string path(self, static_cast<std::size_t>(length));
  const std::string marker = path.substr(0, path.rfind('/')) + "/started";
  const std::string temporary = marker + ".part";
  std::FILE* file = std::fopen(temporary.c_str(), "w");
  if (file == nullptr) return 1;
  const bool written = std::fputs(path.c_str(), file) >= 0;
  // Whole or not at all, for the test that waits for it.
  if (std::fclose(file) != 0 || !written) return 1;
  return std::rename(temporary.c_str(), marker.c_str()) == 0 ? 0 : 1;
}
