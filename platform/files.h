// File operations of the device, as the settings store and the programs need them.
// Paths are UTF-16 and separated by the file system's own separator: device paths such as
// u"\\windows\\Download.ini" on Windows and in the simulation, "/"-separated on POSIX.
// Runs on the user-interface thread, except where an operation says otherwise; every
// operation blocks on the file system only.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace sorvel {

struct FileTag;
using FileHandle = FileTag*;  // nullptr is the invalid handle

struct FileInformation {
  std::uint32_t attributes = 0;  // the platform's raw attribute bits
  std::uint32_t sizeLow = 0;     // low 32 bits of the size in bytes
  // The file cannot be written where it lies: held in ROM on the pocket device (attributes
  // 0x40 or 0x2000 there), read-only on desktop Windows (where those bits mean other things).
  bool unwritable = false;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Opens an existing file for reading; other readers may share it, writers may not.
  virtual FileHandle OpenForRead(const Text& path) = 0;
  // False only when the file is known not to exist (so that a failed open can be told apart
  // from a missing file).
  virtual bool Exists(const Text& path) = 0;
  // Creates the file anew (empty, replacing a leftover), for writing, not shared.
  virtual FileHandle CreateForWrite(const Text& path) = 0;
  virtual bool GetInformation(FileHandle file, FileInformation* info) = 0;
  // Reads up to `size` bytes; `*read` receives the count actually read.
  virtual bool Read(FileHandle file, void* buffer, std::uint32_t size, std::uint32_t* read) = 0;
  virtual bool Write(FileHandle file, const void* data, std::uint32_t size) = 0;
  // Makes the written data durable before the file is put in place of another.
  virtual bool Flush(FileHandle file) = 0;
  virtual void Close(FileHandle file) = 0;

  virtual bool Remove(const Text& path) = 0;
  // Lets the file run as a program (mode 0755 where files carry permissions to run), durably;
  // where they carry none, there is nothing to do.
  virtual bool MarkExecutable(const Text& /*path*/) { return true; }
  // Renames `from` to `to`, atomically replacing an existing `to`.
  virtual bool ReplaceWith(const Text& from, const Text& to) = 0;
  // The platform's debug output channel.
  // Any thread may call it.
  virtual void DebugOutput(const Text& text) = 0;
  // The character between the folders of a path.
  virtual char16_t Separator() const = 0;
};

// The programs' file-existence test: the file opens for reading (and is closed at once).
bool FileExists(FileSystem& files, const Text& path);

// The folder of a program file: its path up to, not including, the last separator; empty when
// it has none. Files beside the program are that folder, the separator and their name.
Text ProgramFolder(const FileSystem& files, const Text& programPath);

// `folder`, the separator and `name`.
Text JoinPath(const FileSystem& files, const Text& folder, const Text& name);

}  // namespace sorvel
