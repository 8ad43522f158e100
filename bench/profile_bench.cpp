// Per-call time of the store's read and write on a realistic settings file, measured side by
// side in one run against the floor of opening, reading and closing the same file and, on
// Windows, against the platform's own GetPrivateProfileStringW / WritePrivateProfileStringW.
// Prints the times and their ratios; asserts nothing about them.
//
//   profile_bench [rounds]
#ifdef _WIN32
#include "platform/win32/win32.h"
#else
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "bench/settings_file.h"
#include "settings/profile.h"

#ifdef _WIN32
#include "platform/win32/win32_files.h"
#else
#include "platform/posix/posix_files.h"
#endif

namespace {

using namespace sorvel;

constexpr int kReads = 2000;
constexpr int kWrites = 200;
const Text kSection = u"Setting";
const Text kReadKey = u"PositionTop3";
const Text kWriteKey = u"PositionTop1";
const Text kWriteValues[2] = {u"-30", u"-20"};

struct Case {
  const char* name;
  int calls;
  std::function<void(int)> call;
  std::vector<double> micros = {};  // per call, one entry per round
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

#ifdef _WIN32
using win32::FromWide;
using win32::Wide;

// The same backend without FlushFileBuffers, to show what the durable write costs.
class UnflushedFileSystem : public Win32FileSystem {
 public:
  bool Flush(FileHandle) override { return true; }
};
#endif

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  // With the byte-order mark: the platform's own functions take a file without it for 8-bit text.
  const std::string bytes = Utf16LeBytes(kRealisticSettings, true);

#ifdef _WIN32
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const Text folder = FromWide(temp) + u"sorvel-bench";
  CreateDirectoryW(Wide(folder), nullptr);
  const Text ini = folder + u"\\Sorvel.ini";
  Win32FileSystem durable;
  UnflushedFileSystem unflushed;
  auto restore = [&] {
    HANDLE h = CreateFileW(Wide(ini), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
  };
  const std::string where = "Windows (" + ToUtf8(ini) + ")";
#else
  char pattern[] = "/tmp/sorvel-bench-XXXXXX";
  const std::string root = mkdtemp(pattern);
  const Text ini = u"\\Sorvel.ini";
  PosixFileSystem durable(root, true);
  PosixFileSystem unflushed(root, false);
  const std::string hostIni = durable.HostPath(ini);
  auto restore = [&] {
    const int fd = ::open(hostIni.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0 && ::write(fd, bytes.data(), bytes.size()) < 0) std::perror("write");
    ::close(fd);
  };
  const std::string where = "native (" + hostIni + ")";
#endif
  restore();

  // Every contender must see the same value before it is timed.
  char16_t expected[260] = {};
  ReadPrivateProfileString(durable, kSection.c_str(), kReadKey.c_str(), u"", expected, 260,
                           ini.c_str());
  if (Text(expected) != u"40") {
    std::fprintf(stderr, "the store read \"%s\"\n", ToUtf8(expected).c_str());
    return 1;
  }

  std::vector<Case> cases;
  cases.push_back({"read: store", kReads, [&](int) {
                     char16_t buffer[260];
                     ReadPrivateProfileString(durable, kSection.c_str(), kReadKey.c_str(), u"",
                                              buffer, 260, ini.c_str());
                   }});
#ifdef _WIN32
  wchar_t check[260] = {};
  GetPrivateProfileStringW(Wide(kSection), Wide(kReadKey), L"", check, 260, Wide(ini));
  if (FromWide(check) != u"40") {
    std::fprintf(stderr, "the platform read \"%s\"\n", ToUtf8(FromWide(check)).c_str());
    return 1;
  }
  cases.push_back({"read: platform", kReads, [&](int) {
                     wchar_t buffer[260];
                     GetPrivateProfileStringW(Wide(kSection), Wide(kReadKey), L"", buffer, 260,
                                              Wide(ini));
                   }});
  cases.push_back({"read: floor", kReads, [&](int) {
                     char buffer[4096];
                     DWORD got = 0;
                     HANDLE h = CreateFileW(Wide(ini), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
                     ReadFile(h, buffer, sizeof buffer, &got, nullptr);
                     CloseHandle(h);
                   }});
  // The store also asks for the file information: shows what that call adds on this platform.
  cases.push_back({"read: floor + file info", kReads, [&](int) {
                     char buffer[4096];
                     DWORD got = 0;
                     BY_HANDLE_FILE_INFORMATION info;
                     HANDLE h = CreateFileW(Wide(ini), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
                     GetFileInformationByHandle(h, &info);
                     ReadFile(h, buffer, sizeof buffer, &got, nullptr);
                     CloseHandle(h);
                   }});
#else
  cases.push_back({"read: floor", kReads, [&](int) {
                     char buffer[4096];
                     const int fd = ::open(hostIni.c_str(), O_RDONLY);
                     if (::read(fd, buffer, sizeof buffer) < 0) std::perror("read");
                     ::close(fd);
                   }});
#endif
  cases.push_back({"write: store", kWrites, [&](int i) {
                     WritePrivateProfileString(durable, kSection.c_str(), kWriteKey.c_str(),
                                               kWriteValues[i % 2].c_str(), ini.c_str());
                   }});
  cases.push_back({"write: store unflushed", kWrites, [&](int i) {
                     WritePrivateProfileString(unflushed, kSection.c_str(), kWriteKey.c_str(),
                                               kWriteValues[i % 2].c_str(), ini.c_str());
                   }});
#ifdef _WIN32
  cases.push_back({"write: platform", kWrites, [&](int i) {
                     WritePrivateProfileStringW(Wide(kSection), Wide(kWriteKey),
                                                Wide(kWriteValues[i % 2]), Wide(ini));
                   }});
#endif

  // Rounds interleave the contenders so that drifts of the machine hit them alike.
  for (int round = 0; round < rounds; ++round) {
    for (Case& c : cases) {
      restore();
      const auto start = std::chrono::steady_clock::now();
      for (int i = 0; i < c.calls; ++i) c.call(i);
      const auto end = std::chrono::steady_clock::now();
      c.micros.push_back(std::chrono::duration<double, std::micro>(end - start).count() / c.calls);
    }
  }
  restore();

  std::printf("settings file: %s, %zu bytes; median of %d rounds\n", where.c_str(), bytes.size(),
              rounds);
#if defined(__SANITIZE_ADDRESS__)
  std::printf("(built with AddressSanitizer: the times are distorted)\n");
#endif
  auto time = [&](const char* name) {
    for (const Case& c : cases) {
      if (std::string(c.name) == name) return Median(c.micros);
    }
    return 0.0;
  };
  for (const Case& c : cases) std::printf("  %-24s %9.2f us/call\n", c.name, Median(c.micros));
  const double floor = time("read: floor");
  std::printf("ratios:\n");
  std::printf("  read: store / floor              %7.2f\n", time("read: store") / floor);
  std::printf("  write: store / floor             %7.2f\n", time("write: store") / floor);
  std::printf("  write: store unflushed / floor   %7.2f\n", time("write: store unflushed") / floor);
#ifdef _WIN32
  std::printf("  read: store / platform           %7.2f\n",
              time("read: store") / time("read: platform"));
  std::printf("  read: platform / floor           %7.2f\n", time("read: platform") / floor);
  std::printf("  read: store / (floor + file info) %6.2f\n",
              time("read: store") / time("read: floor + file info"));
  std::printf("  write: store / platform          %7.2f\n",
              time("write: store") / time("write: platform"));
  std::printf("  write: store unflushed / platform %6.2f\n",
              time("write: store unflushed") / time("write: platform"));
  DeleteFileW(Wide(ini));
  RemoveDirectoryW(Wide(folder));
#else
  ::unlink(hostIni.c_str());
  ::rmdir(root.c_str());
#endif
  return 0;
}
