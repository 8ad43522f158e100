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

using conformance::Outcome;

class Win32DownloadEnvironment : public conformance::DownloadEnvironment {
 public:
  Win32DownloadEnvironment() { EXPECT_TRUE(server_.Ok()); }
  Platform& Device() override { return *platform_; }
  TestHttpServer& Server() override { return server_; }
  Text Folder() override { return Text(folder_.begin(), folder_.end()); }
  std::int32_t Result(Outcome outcome) override {
    auto error = [](DWORD code) { return static_cast<std::int32_t>(HRESULT_FROM_WIN32(code)); };
    switch (outcome) {
      case Outcome::kDone:
        return 0;
      case Outcome::kNotFound:  // the URL download service's own codes
        return static_cast<std::int32_t>(0x800C0005u);
      case Outcome::kServerError:
        return static_cast<std::int32_t>(0x800C0008u);
      case Outcome::kShort:
        return static_cast<std::int32_t>(0x800C0007u);
      case Outcome::kTooBig:
        return error(ERROR_FILE_TOO_LARGE);
      case Outcome::kTimedOut:
        return win32::kTransferTimedOut;
      case Outcome::kCancelled:
        return win32::kTransferCancelled;
      case Outcome::kNotWeb:
        return error(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
      case Outcome::kHttpsToHttp:
        return error(ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR);
      case Outcome::kNoConnection:
        return error(ERROR_INTERNET_CANNOT_CONNECT);
      case Outcome::kNoFolder:
        return error(ERROR_PATH_NOT_FOUND);
      default:
        return conformance::kAnyFailure;
    }
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
  void PostQuit() override { PostQuitMessage(7); }
  bool TakeQuit() override {
    MSG msg;
    return PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) && msg.wParam == 7;
  }
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
