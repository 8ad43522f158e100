// The download checks against the native backend (libcurl) and the loopback server, and the
// loading of libcurl.
#include "platform/x11/curl_download.h"

#include <FL/Fl.H>
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/x11/curl_library.h"
#include "platform/x11/program_icon.h"
#include "platform/x11/x11_platform.h"
#include "tests/conformance/download_checks.h"
#include "tests/e2e/http_server.h"
#include "tests/support/spawn.h"

namespace sorvel {
namespace {

class X11DownloadEnvironment : public conformance::DownloadEnvironment {
 public:
  X11DownloadEnvironment() { EXPECT_TRUE(server_.Ok() && !folder_.empty()); }
  ~X11DownloadEnvironment() override { std::filesystem::remove_all(folder_); }
  Platform& Device() override { return *platform_; }
  TestHttpServer& Server() override { return server_; }
  Text Folder() override { return FromUtf8(folder_); }
  conformance::Results Expected() override {
    using x11::kCurlFailure;
    return {0,
            x11::kStatusFailure - 404,
            x11::kStatusFailure - 500,
            kCurlFailure - CURLE_PARTIAL_FILE,
            -EFBIG,
            kCurlFailure - CURLE_OPERATION_TIMEDOUT,
            -ECANCELED,
            kCurlFailure - CURLE_UNSUPPORTED_PROTOCOL,
            kCurlFailure - CURLE_UNSUPPORTED_PROTOCOL,
            kCurlFailure - CURLE_PEER_FAILED_VERIFICATION,
            kCurlFailure - CURLE_COULDNT_CONNECT,
            -ENOENT};
  }
  // The curl layer as the platform calls it, with the time in all given.
  std::int32_t DownloadToFileWithin(const Text& url, const Text& path,
                                    const DownloadProgress& progress, unsigned total) override {
    return x11::DownloadFileWhileWaiting(
        ToUtf8(url), ToUtf8(path), ~std::uint64_t{0}, progress,
        [](int milliseconds) { Fl::wait(milliseconds / 1000.0); }, nullptr, total);
  }
  std::int32_t DownloadToMemoryWithin(const Text& url, std::size_t limit, std::string* body,
                                      unsigned total) override {
    return x11::DownloadToMemory(ToUtf8(url), limit, body, nullptr, total);
  }
  bool PreTranslatesTimers() const override { return false; }
  void EndDevice() override { platform_.reset(); }

 private:
  TestHttpServer server_;
  std::unique_ptr<X11Platform> platform_ = std::make_unique<X11Platform>(x11::kProgramIcon);
  std::string folder_ = test::MarkedFolder("sorvel-curl");
};

#define SORVEL_X11_CHECK(name)             \
  TEST(X11Download, name) {                \
    X11DownloadEnvironment environment;    \
    conformance::Check##name(environment); \
  }
SORVEL_DOWNLOAD_CHECKS(SORVEL_X11_CHECK)

// The library loaded at the first transfer: whole, or not at all with the reason.
TEST(CurlLibraryLoad, WholeOrNotAtAll) {
  struct Case {
    const char* file;
    bool loaded;
    std::string why;  // part of the reason given
  } cases[] = {
      {x11::kCurlLibraryFile, true, ""},
      {"libsorvel-absent.so.9", false, "libsorvel-absent.so.9"},
      // A library that opens but is not libcurl.
      {"libz.so.1", false, "curl_global_init is missing in libz.so.1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    x11::CurlLibrary library;
    std::string why;
    EXPECT_EQ(x11::LoadCurlLibrary(c.file, &library, &why), c.loaded);
    EXPECT_NE(why.find(c.why), std::string::npos) << why;
    // Every function taken, or none.
    void* taken[sizeof library / sizeof(void*)];
    std::memcpy(taken, &library, sizeof taken);
    for (void* each : taken) EXPECT_EQ(each != nullptr, c.loaded);
  }
}

}  // namespace
}  // namespace sorvel
