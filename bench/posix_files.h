// Real files on a POSIX host for the native tools: device paths map into a host folder
// ("\a\b.ini" is <root>/a/b.ini). POSIX has no share modes, so none are enforced.
#pragma once

#include <string>

#include "platform/files.h"

namespace sorvel {

class PosixFileSystem : public FileSystem {
 public:
  enum class Replace {
    kRename,  // rename(2) over the file: atomic
    kCopy,    // copy the bytes over the file in place: not atomic (a control for the checks)
  };

  // `durable`: Flush is fsync(2), and a rename is followed by an fsync of the folder.
  PosixFileSystem(std::string root, bool durable, Replace replace = Replace::kRename);

  FileHandle OpenForRead(const Text& path) override;
  bool Exists(const Text& path) override;
  FileHandle CreateForWrite(const Text& path) override;
  bool GetInformation(FileHandle file, FileInformation* info) override;
  bool Read(FileHandle file, void* buffer, std::uint32_t size, std::uint32_t* read) override;
  bool Write(FileHandle file, const void* data, std::uint32_t size) override;
  bool Flush(FileHandle file) override;
  void Close(FileHandle file) override;
  bool Remove(const Text& path) override;
  bool ReplaceWith(const Text& from, const Text& to) override;
  // Written to standard error.
  void DebugOutput(const Text& text) override;

  std::string HostPath(const Text& devicePath) const;

 private:
  bool CopyOver(const std::string& from, const std::string& to);

  std::string root_;
  bool durable_;
  Replace replace_;
};

}  // namespace sorvel
