// The simulated device's file system: device paths (u"\\windows\\Download.ini") map into a
// folder of the host machine. Names are matched without regard to ASCII case, as on the device.
// Open files keep the device's share rules: a file open for writing is not shared at all, a file
// open for reading is shared with readers only, and an open file can be neither removed nor
// replaced. Tests can read and set the exact bytes of a file, give it attributes, make single
// operations fail, and read what went to the debug output.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/files.h"

namespace sorvel {

class SimFileSystem : public FileSystem {
 public:
  // Attribute bits of the device: held in ROM, and part of a ROM module.
  static constexpr std::uint32_t kAttributeInRom = 0x40;
  static constexpr std::uint32_t kAttributeRomModule = 0x2000;
  static constexpr std::uint32_t kAttributeReadOnly = 0x01;
  static constexpr std::uint32_t kAttributeArchive = 0x20;

  enum class Operation {
    kOpenForRead,
    kCreateForWrite,
    kGetInformation,
    kRead,
    kWrite,
    kFlush,
    kRemove,
    kReplaceWith,  // fails when either path is marked
  };

  // `hostRoot` is created when missing, with the device folder \windows in it.
  explicit SimFileSystem(std::string hostRoot);
  ~SimFileSystem() override;

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

  // --- Test instruments ---
  const std::string& HostRoot() const { return root_; }
  // Where a device path lies on the host.
  std::string HostPath(const Text& devicePath) const;
  void CreateFolder(const Text& devicePath);
  bool FileExists(const Text& devicePath) const;
  // The exact bytes of a file; empty when it does not exist.
  std::string Bytes(const Text& devicePath) const;
  // Creates or replaces a file with these bytes (normal attributes unless set otherwise).
  void SetBytes(const Text& devicePath, const std::string& bytes);
  // Raw attribute bits; a file with kAttributeInRom, kAttributeRomModule or kAttributeReadOnly
  // cannot be created anew, replaced or removed, and 0x40 / 0x2000 make it unwritable.
  void SetAttributes(const Text& devicePath, std::uint32_t attributes);
  // Makes `operation` fail for that path (handle operations: for files opened by that path).
  void Fail(Operation operation, const Text& devicePath);
  void ClearFailures();
  // Every text given to the debug output, in order, and all of them joined.
  const std::vector<Text>& DebugOutputs() const { return debug_; }
  Text DebugText() const;
  void ClearDebugOutput() { debug_.clear(); }
  // Handles not closed yet.
  std::size_t OpenFileCount() const { return open_.size(); }

 private:
  struct OpenFile;

  OpenFile* Find(FileHandle file);
  bool Failing(Operation operation, const std::string& hostPath) const;
  std::uint32_t AttributesOf(const std::string& hostPath) const;
  bool Protected(const std::string& hostPath) const;
  bool IsOpen(const std::string& hostPath) const;
  FileHandle Open(const std::string& hostPath, bool write);

  std::string root_;
  std::map<std::uintptr_t, OpenFile*> open_;
  std::uintptr_t nextHandle_ = 1;
  std::map<std::string, std::uint32_t> attributes_;
  std::set<std::pair<Operation, std::string>> failures_;
  std::vector<Text> debug_;
};

}  // namespace sorvel
