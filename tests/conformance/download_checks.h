// Checks of Platform::DownloadToFile and DownloadToMemory against the loopback test server,
// written once and run against both backends that download: under Wine against the win32
// backend (WinINet), on Xvfb against the X11 backend (libcurl).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "tests/e2e/http_server.h"

namespace sorvel::conformance {

constexpr std::int32_t kAnyFailure = INT32_MIN;
// A backend's result for each way a transfer ends, or kAnyFailure for any negative one. notWeb:
// not an http or https address, also where a redirect points.
struct Results {
  std::int32_t done, notFound, serverError, shortBody, tooBig, timedOut, cancelled, notWeb,
      httpsToHttp, untrusted, noConnection, noFolder, failed = kAnyFailure;
};
using Outcome = std::int32_t Results::*;

class DownloadEnvironment {
 public:
  virtual ~DownloadEnvironment() = default;
  virtual Platform& Device() = 0;
  virtual TestHttpServer& Server() = 0;  // outlives the device, whose end waits for its workers
  virtual Text Folder() = 0;             // empty, the test's own
  virtual Results Expected() = 0;
  // The transfers with the time in all given, the file's dispatching as DownloadToFile does.
  virtual std::int32_t DownloadToFileWithin(const Text& url, const Text& path,
                                            const DownloadProgress& progress, unsigned total) = 0;
  virtual std::int32_t DownloadToMemoryWithin(const Text& url, std::size_t limit, std::string* body,
                                              unsigned total) = 0;
  // Whether the timer messages of a modal run are pre-translated (Win32).
  virtual bool PreTranslatesTimers() const = 0;
  virtual void EndDevice() = 0;  // destroys the platform
};

#define SORVEL_DOWNLOAD_CHECKS(X)               \
  X(TransfersEndAsTheServerAddressAndPathAllow) \
  X(StallAndTimeInAllEndTheTransfer)            \
  X(ModalRunEndQuitMessageAndThePlatformsEndCancel)

#define SORVEL_DECLARE_CHECK(name) void Check##name(DownloadEnvironment& environment);
SORVEL_DOWNLOAD_CHECKS(SORVEL_DECLARE_CHECK)
#undef SORVEL_DECLARE_CHECK

}  // namespace sorvel::conformance
