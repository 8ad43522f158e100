#include "platform/files.h"

namespace sorvel {

bool FileExists(FileSystem& files, const Text& path) {
  FileHandle file = files.OpenForRead(path);
  if (file == nullptr) return false;
  files.Close(file);
  return true;
}

Text ProgramFolder(const FileSystem& files, const Text& programPath) {
  const std::size_t last = programPath.rfind(files.Separator());
  return last == Text::npos ? Text() : programPath.substr(0, last);
}

Text JoinPath(const FileSystem& files, const Text& folder, const Text& name) {
  return folder + files.Separator() + name;
}

}  // namespace sorvel
