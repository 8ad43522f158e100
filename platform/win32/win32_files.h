// The device's files through the Win32 file functions; the debug output is OutputDebugStringW.
// Threads as files.h says: the user-interface thread, and the debug output from any thread.
#pragma once

#include "platform/files.h"

namespace sorvel {

class Win32FileSystem : public FileSystem {
 public:
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
  void DebugOutput(const Text& text) override;
  char16_t Separator() const override { return u'\\'; }
};

}  // namespace sorvel
