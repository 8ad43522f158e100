// The download checks against the win32 backend (WinINet) and the loopback server.
#include <gtest/gtest.h>

#include <memory>

#include "platform/win32/win32_download.h"
#include "platform/win32/win32_platform.h"
#include "tests/conformance/download_checks.h"
#include "tests/e2e/e2e_support.h"
#include "tests/e2e/http_server.h"
// clang-format off
#include <wininet.h>
// clang-format on

namespace sorvel {
namespace {

constexpr std::uint32_t kWin32 = 0x80070000u;  // HRESULT_FROM_WIN32
constexpr std::int32_t Code(std::uint32_t hresult) {
  return static_cast<std::int32_t>(hresult);
}

class Win32DownloadEnvironment : public conformance::DownloadEnvironment {
 public:
  Win32DownloadEnvironment() { EXPECT_TRUE(server_.Ok()); }
  ~Win32DownloadEnvironment() override {
    MSG quit;  // the checks' own, left for the loops outside
    PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
  }
  Platform& Device() override { return *platform_; }
  TestHttpServer& Server() override { return server_; }
  Text Folder() override { return Text(folder_.begin(), folder_.end()); }
  conformance::Results Expected() override {
    // Not found, another status and a short body: the URL download service's own codes.
    return {0,
            Code(0x800C0005u),
            Code(0x800C0008u),
            Code(0x800C0007u),
            Code(kWin32 | ERROR_FILE_TOO_LARGE),
            win32::kTransferTimedOut,
            win32::kTransferCancelled,
            Code(kWin32 | ERROR_INTERNET_UNRECOGNIZED_SCHEME),
            Code(kWin32 | ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR),
            conformance::kAnyFailure,
            Code(kWin32 | ERROR_INTERNET_CANNOT_CONNECT),
            Code(kWin32 | ERROR_PATH_NOT_FOUND)};
  }
  std::int32_t DownloadToFileWithin(const Text& url, const Text& path,
                                    const DownloadProgress& progress, unsigned total) override {
    return platform_->DownloadToFile(url, path, ~std::uint64_t{0}, progress, total);
  }
  std::int32_t DownloadToMemoryWithin(const Text& url, std::size_t limit, std::string* body,
                                      unsigned total) override {
    return platform_->DownloadToMemory(url, limit, body, total);
  }
  bool PreTranslatesTimers() const override { return true; }
  void EndDevice() override { platform_.reset(); }

 private:
  TestHttpServer server_;
  std::unique_ptr<Win32Platform> platform_ = std::make_unique<Win32Platform>();
  std::wstring folder_ = e2e::MakeTestFolder();
};

#define SORVEL_WIN32_CHECK(name)           \
  TEST(Win32Download, name) {              \
    Win32DownloadEnvironment environment;  \
    conformance::Check##name(environment); \
  }
SORVEL_DOWNLOAD_CHECKS(SORVEL_WIN32_CHECK)

}  // namespace
}  // namespace sorvel
