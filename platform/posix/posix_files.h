// Real files on a POSIX machine. With a root, device paths map into that folder ("\a\b.ini" is
// <root>/a/b.ini), for the native tools that run the device's code on real files; without one,
// paths are the machine's own, separated by "/". POSIX has no share modes, so none are enforced.
#pragma once

#include <string>

#include "platform/files.h"

namespace sorvel {

// Where a program keeps the settings file meant to lie at `besideProgram` when it may not write
// the program's folder: "sorvel" in the user's configuration folder ($XDG_CONFIG_HOME when that
// is an absolute path, else $HOME/.config), under the file's own name. Empty when neither
// variable names a folder.
std::string UserSettingsPath(const std::string& besideProgram, const char* xdgConfigHome,
                             const char* home);

// Whether a program in `folder` keeps its settings file beside itself: only where the user may
// write (`writable`) and the folder is not an installation's folder of programs ("bin" or "sbin",
// as /usr/bin, /usr/local/bin, ~/.local/bin), which holds nothing but programs and belongs to the
// package manager or the installer even where the user, as root, may write it.
bool SettingsBesideProgram(const std::string& folder, bool writable);

class PosixFileSystem : public FileSystem {
 public:
  enum class Replace {
    kRename,  // rename(2) over the file: atomic
    kCopy,    // copy the bytes over the file in place: not atomic (a control for the checks)
  };

  // `durable`: Flush is fsync(2), and a rename is followed by an fsync of the folder. An empty
  // `root`: the machine's own paths.
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
  // chmod 0755 of the regular file itself (never through a link), then an fsync when durable.
  bool MarkExecutable(const Text& path) override;
  bool ReplaceWith(const Text& from, const Text& to) override;
  // Written to standard error.
  void DebugOutput(const Text& text) override;
  char16_t Separator() const override { return root_.empty() ? u'/' : u'\\'; }

  std::string HostPath(const Text& devicePath) const;

 private:
  bool CopyOver(const std::string& from, const std::string& to);

  std::string root_;
  bool durable_;
  Replace replace_;
};

}  // namespace sorvel
