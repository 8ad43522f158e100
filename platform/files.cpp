#include "platform/files.h"

namespace sorvel {

bool FileExists(FileSystem& files, const Text& path) {
  FileHandle file = files.OpenForRead(path);
  if (file == nullptr) return false;
  files.Close(file);
  return true;
}

Text ProgramFolder(const Text& programPath) {
  const std::size_t last = programPath.rfind(u'\\');
  return last == Text::npos ? Text() : programPath.substr(0, last);
}

}  // namespace sorvel
