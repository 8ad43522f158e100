// An in-memory file system for the fuzz target: no disk, no failures, no sharing rules.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "platform/files.h"

namespace sorvel {

class MemoryFileSystem : public FileSystem {
 public:
  std::map<Text, std::string> files;
  Text debug;

  FileHandle OpenForRead(const Text& path) override {
    auto it = files.find(path);
    return it == files.end() ? nullptr : Open(path, false);
  }
  bool Exists(const Text& path) override { return files.count(path) > 0; }
  FileHandle CreateForWrite(const Text& path) override {
    files[path].clear();
    return Open(path, true);
  }
  bool GetInformation(FileHandle file, FileInformation* info) override {
    info->attributes = 0;
    info->sizeLow = static_cast<std::uint32_t>(files[Get(file).path].size());
    info->unwritable = false;
    return true;
  }
  bool Read(FileHandle file, void* buffer, std::uint32_t size, std::uint32_t* read) override {
    Handle& h = Get(file);
    const std::string& data = files[h.path];
    const std::size_t n =
        h.position < data.size() ? std::min<std::size_t>(size, data.size() - h.position) : 0;
    std::memcpy(buffer, data.data() + h.position, n);
    h.position += n;
    *read = static_cast<std::uint32_t>(n);
    return true;
  }
  bool Write(FileHandle file, const void* data, std::uint32_t size) override {
    files[Get(file).path].append(static_cast<const char*>(data), size);
    return true;
  }
  bool Flush(FileHandle) override { return true; }
  void Close(FileHandle file) override { handles_.erase(reinterpret_cast<std::uintptr_t>(file)); }
  bool Remove(const Text& path) override { return files.erase(path) > 0; }
  bool ReplaceWith(const Text& from, const Text& to) override {
    auto it = files.find(from);
    if (it == files.end()) return false;
    std::string data = std::move(it->second);
    files.erase(it);
    files[to] = std::move(data);
    return true;
  }
  void DebugOutput(const Text& text) override { debug += text; }
  char16_t Separator() const override { return u'\\'; }

  std::size_t OpenCount() const { return handles_.size(); }

 private:
  struct Handle {
    Text path;
    std::size_t position = 0;
    bool write = false;
  };
  FileHandle Open(const Text& path, bool write) {
    const std::uintptr_t id = next_++;
    handles_[id] = Handle{path, 0, write};
    return reinterpret_cast<FileHandle>(id);
  }
  Handle& Get(FileHandle file) { return handles_.at(reinterpret_cast<std::uintptr_t>(file)); }

  std::map<std::uintptr_t, Handle> handles_;
  std::uintptr_t next_ = 1;
};

}  // namespace sorvel
