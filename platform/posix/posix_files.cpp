#include "platform/posix/posix_files.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

namespace sorvel {
namespace {

// Descriptors are stored plus one, so that descriptor 0 is not the invalid handle.
FileHandle ToHandle(int fd) {
  return fd < 0 ? nullptr : reinterpret_cast<FileHandle>(static_cast<std::intptr_t>(fd) + 1);
}
int ToFd(FileHandle file) {
  return static_cast<int>(reinterpret_cast<std::intptr_t>(file) - 1);
}

bool WriteAll(int fd, const char* bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::string UserSettingsPath(const std::string& besideProgram, const char* xdgConfigHome,
                             const char* home) {
  std::string folder;
  if (xdgConfigHome != nullptr && xdgConfigHome[0] == '/') {
    folder = xdgConfigHome;
  } else if (home != nullptr && home[0] == '/') {
    folder = std::string(home) + "/.config";
  } else {
    return std::string();
  }
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder + "/sorvel/" + besideProgram.substr(besideProgram.rfind('/') + 1);
}

bool SettingsBesideProgram(const std::string& folder, bool writable) {
  const std::string name = folder.substr(folder.rfind('/') + 1);
  return writable && name != "bin" && name != "sbin";
}

PosixFileSystem::PosixFileSystem(std::string root, bool durable, Replace replace)
    : root_(std::move(root)), durable_(durable), replace_(replace) {}

std::string PosixFileSystem::HostPath(const Text& devicePath) const {
  std::string path = ToUtf8(devicePath);
  if (root_.empty()) return path;
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return root_ + (path.empty() || path[0] != '/' ? "/" : "") + path;
}

FileHandle PosixFileSystem::OpenForRead(const Text& path) {
  return ToHandle(::open(HostPath(path).c_str(), O_RDONLY | O_CLOEXEC));
}

bool PosixFileSystem::Exists(const Text& path) {
  struct stat info;
  if (::stat(HostPath(path).c_str(), &info) == 0) return true;
  return errno != ENOENT && errno != ENOTDIR;
}

FileHandle PosixFileSystem::CreateForWrite(const Text& path) {
  return ToHandle(::open(HostPath(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
}

bool PosixFileSystem::GetInformation(FileHandle file, FileInformation* info) {
  struct stat data;
  if (::fstat(ToFd(file), &data) != 0) return false;
  info->attributes = 0;
  info->sizeLow = static_cast<std::uint32_t>(data.st_size);
  info->unwritable = false;
  return true;
}

bool PosixFileSystem::Read(FileHandle file, void* buffer, std::uint32_t size, std::uint32_t* read) {
  *read = 0;
  ssize_t n;
  do {
    n = ::read(ToFd(file), buffer, size);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return false;
  *read = static_cast<std::uint32_t>(n);
  return true;
}

bool PosixFileSystem::Write(FileHandle file, const void* data, std::uint32_t size) {
  return WriteAll(ToFd(file), static_cast<const char*>(data), size);
}

bool PosixFileSystem::Flush(FileHandle file) {
  return !durable_ || ::fsync(ToFd(file)) == 0;
}

void PosixFileSystem::Close(FileHandle file) {
  if (file != nullptr) ::close(ToFd(file));
}

bool PosixFileSystem::Remove(const Text& path) {
  return ::unlink(HostPath(path).c_str()) == 0;
}

bool PosixFileSystem::MarkExecutable(const Text& path) {
  // The file itself, never where a link put in its place points.
  const int fd = ::open(HostPath(path).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat status {};
  bool ok = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && ::fchmod(fd, 0755) == 0;
  // The mode is to be on disk before a rename puts the file in place.
  if (ok && durable_) ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

bool PosixFileSystem::ReplaceWith(const Text& from, const Text& to) {
  const std::string source = HostPath(from);
  const std::string target = HostPath(to);
  if (replace_ == Replace::kCopy) return CopyOver(source, target);
  if (::rename(source.c_str(), target.c_str()) != 0) return false;
  if (durable_) {
    const std::size_t slash = target.rfind('/');
    const int folder = ::open(target.substr(0, slash).c_str(), O_RDONLY | O_DIRECTORY);
    if (folder >= 0) {
      ::fsync(folder);
      ::close(folder);
    }
  }
  return true;
}

bool PosixFileSystem::CopyOver(const std::string& from, const std::string& to) {
  const int in = ::open(from.c_str(), O_RDONLY);
  if (in < 0) return false;
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  bool ok = out >= 0;
  char buffer[512];
  ssize_t n = 0;
  while (ok && (n = ::read(in, buffer, sizeof buffer)) > 0) {
    ok = WriteAll(out, buffer, static_cast<std::size_t>(n));
  }
  ok = ok && n == 0;
  ::close(in);
  if (out >= 0) ::close(out);
  ::unlink(from.c_str());
  return ok;
}

void PosixFileSystem::DebugOutput(const Text& text) {
  std::fputs(ToUtf8(text).c_str(), stderr);
}

}  // namespace sorvel
