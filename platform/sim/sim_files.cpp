#include "platform/sim/sim_files.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace sorvel {

namespace fs = std::filesystem;

struct SimFileSystem::OpenFile {
  std::string hostPath;
  std::FILE* stream = nullptr;
  bool write = false;
};

namespace {

std::string FoldAscii(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

FileHandle ToHandle(std::uintptr_t id) {
  return reinterpret_cast<FileHandle>(id);
}

}  // namespace

SimFileSystem::SimFileSystem(std::string hostRoot) : root_(std::move(hostRoot)) {
  fs::create_directories(fs::path(root_) / "windows");
}

SimFileSystem::~SimFileSystem() {
  for (auto& entry : open_) {
    std::fclose(entry.second->stream);
    delete entry.second;
  }
}

// Each component of the device path names the existing entry of that name without regard to
// ASCII case; a component that names nothing yet is taken as written.
std::string SimFileSystem::HostPath(const Text& devicePath) const {
  fs::path current(root_);
  bool existing = true;
  std::string utf8 = ToUtf8(devicePath);
  std::size_t begin = 0;
  while (begin <= utf8.size()) {
    std::size_t end = utf8.find('\\', begin);
    if (end == std::string::npos) end = utf8.size();
    std::string component = utf8.substr(begin, end - begin);
    begin = end + 1;
    if (component.empty() || component == ".") continue;
    fs::path next = current / component;
    std::error_code error;
    if (existing && !fs::exists(next, error) && fs::is_directory(current, error)) {
      const std::string folded = FoldAscii(component);
      for (const auto& entry : fs::directory_iterator(current, error)) {
        if (FoldAscii(entry.path().filename().string()) == folded) {
          next = entry.path();
          break;
        }
      }
    }
    existing = existing && fs::exists(next, error);
    current = next;
  }
  return current.string();
}

void SimFileSystem::CreateFolder(const Text& devicePath) {
  fs::create_directories(HostPath(devicePath));
}

bool SimFileSystem::FileExists(const Text& devicePath) const {
  std::error_code error;
  return fs::is_regular_file(HostPath(devicePath), error);
}

std::string SimFileSystem::Bytes(const Text& devicePath) const {
  std::ifstream in(HostPath(devicePath), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void SimFileSystem::SetBytes(const Text& devicePath, const std::string& bytes) {
  std::ofstream out(HostPath(devicePath), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void SimFileSystem::SetAttributes(const Text& devicePath, std::uint32_t attributes) {
  attributes_[HostPath(devicePath)] = attributes;
}

void SimFileSystem::Fail(Operation operation, const Text& devicePath) {
  failures_.insert({operation, HostPath(devicePath)});
}

void SimFileSystem::ClearFailures() {
  failures_.clear();
}

Text SimFileSystem::DebugText() const {
  Text all;
  for (const Text& text : debug_) all += text;
  return all;
}

SimFileSystem::OpenFile* SimFileSystem::Find(FileHandle file) {
  auto it = open_.find(reinterpret_cast<std::uintptr_t>(file));
  return it == open_.end() ? nullptr : it->second;
}

bool SimFileSystem::Failing(Operation operation, const std::string& hostPath) const {
  return failures_.count({operation, hostPath}) > 0;
}

std::uint32_t SimFileSystem::AttributesOf(const std::string& hostPath) const {
  auto it = attributes_.find(hostPath);
  return it == attributes_.end() ? kAttributeArchive : it->second;
}

bool SimFileSystem::Protected(const std::string& hostPath) const {
  return (AttributesOf(hostPath) & (kAttributeInRom | kAttributeRomModule | kAttributeReadOnly)) !=
         0;
}

bool SimFileSystem::IsOpen(const std::string& hostPath) const {
  for (const auto& entry : open_) {
    if (entry.second->hostPath == hostPath) return true;
  }
  return false;
}

FileHandle SimFileSystem::Open(const std::string& hostPath, bool write) {
  std::FILE* stream = std::fopen(hostPath.c_str(), write ? "wb" : "rb");
  if (stream == nullptr) return nullptr;
  const std::uintptr_t id = nextHandle_++;
  open_[id] = new OpenFile{hostPath, stream, write};
  return ToHandle(id);
}

FileHandle SimFileSystem::OpenForRead(const Text& path) {
  const std::string hostPath = HostPath(path);
  std::error_code error;
  if (Failing(Operation::kOpenForRead, hostPath) || !fs::is_regular_file(hostPath, error)) {
    return nullptr;
  }
  for (const auto& entry : open_) {
    if (entry.second->hostPath == hostPath && entry.second->write) return nullptr;
  }
  return Open(hostPath, false);
}

bool SimFileSystem::Exists(const Text& path) {
  std::error_code error;
  return fs::exists(HostPath(path), error);
}

FileHandle SimFileSystem::CreateForWrite(const Text& path) {
  const std::string hostPath = HostPath(path);
  std::error_code error;
  if (Failing(Operation::kCreateForWrite, hostPath) || IsOpen(hostPath) ||
      fs::is_directory(hostPath, error)) {
    return nullptr;
  }
  if (fs::exists(hostPath, error) && Protected(hostPath)) return nullptr;
  FileHandle handle = Open(hostPath, true);
  if (handle != nullptr) attributes_.erase(hostPath);
  return handle;
}

bool SimFileSystem::GetInformation(FileHandle file, FileInformation* info) {
  OpenFile* open = Find(file);
  if (open == nullptr || Failing(Operation::kGetInformation, open->hostPath)) return false;
  std::fflush(open->stream);
  std::error_code error;
  const std::uintmax_t size = fs::file_size(open->hostPath, error);
  if (error) return false;
  info->attributes = AttributesOf(open->hostPath);
  info->sizeLow = static_cast<std::uint32_t>(size);
  info->unwritable = (info->attributes & (kAttributeInRom | kAttributeRomModule)) != 0;
  return true;
}

bool SimFileSystem::Read(FileHandle file, void* buffer, std::uint32_t size, std::uint32_t* read) {
  *read = 0;
  OpenFile* open = Find(file);
  if (open == nullptr || open->write || Failing(Operation::kRead, open->hostPath)) return false;
  const std::size_t got = std::fread(buffer, 1, size, open->stream);
  if (got < size && std::ferror(open->stream)) return false;
  *read = static_cast<std::uint32_t>(got);
  return true;
}

bool SimFileSystem::Write(FileHandle file, const void* data, std::uint32_t size) {
  OpenFile* open = Find(file);
  if (open == nullptr || !open->write || Failing(Operation::kWrite, open->hostPath)) return false;
  return std::fwrite(data, 1, size, open->stream) == size;
}

bool SimFileSystem::Flush(FileHandle file) {
  OpenFile* open = Find(file);
  if (open == nullptr || Failing(Operation::kFlush, open->hostPath)) return false;
  return std::fflush(open->stream) == 0;
}

void SimFileSystem::Close(FileHandle file) {
  auto it = open_.find(reinterpret_cast<std::uintptr_t>(file));
  if (it == open_.end()) return;
  std::fclose(it->second->stream);
  delete it->second;
  open_.erase(it);
}

bool SimFileSystem::Remove(const Text& path) {
  const std::string hostPath = HostPath(path);
  std::error_code error;
  if (Failing(Operation::kRemove, hostPath) || IsOpen(hostPath) || Protected(hostPath) ||
      !fs::is_regular_file(hostPath, error)) {
    return false;
  }
  attributes_.erase(hostPath);
  return fs::remove(hostPath, error);
}

bool SimFileSystem::ReplaceWith(const Text& from, const Text& to) {
  const std::string source = HostPath(from);
  const std::string target = HostPath(to);
  std::error_code error;
  if (Failing(Operation::kReplaceWith, source) || Failing(Operation::kReplaceWith, target) ||
      IsOpen(source) || IsOpen(target) || !fs::is_regular_file(source, error) ||
      fs::is_directory(target, error) || (fs::exists(target, error) && Protected(target))) {
    return false;
  }
  fs::rename(source, target, error);
  if (error) return false;
  attributes_.erase(target);
  auto moved = attributes_.find(source);
  if (moved != attributes_.end()) {
    attributes_[target] = moved->second;
    attributes_.erase(moved);
  }
  return true;
}

void SimFileSystem::DebugOutput(const Text& text) {
  debug_.push_back(text);
}

}  // namespace sorvel
