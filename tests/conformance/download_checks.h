// Checks of Platform::DownloadToFile and DownloadToMemory against the loopback test server,
// written once and run against both backends that download: under Wine against the win32
// backend (WinINet), on Xvfb against the X11 backend (libcurl).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/platform.h"
#include "tests/e2e/http_server.h"

namespace sorvel::conformance {

// How a transfer ends; each backend names its own result for each.
enum class Outcome {
  kDone,
  kNotFound,
  kServerError,
  kShort,
  kTooBig,
  kTimedOut,
  kCancelled,
  kNotWeb,  // not an http or https address, or a redirect to one
  kHttpsToHttp,
  kUntrusted,
  kNoConnection,
  kNoFolder,
  kFailed,  // any negative result
};
// Where a backend has no result of its own for an outcome: any negative one.
constexpr std::int32_t kAnyFailure = INT32_MIN;

class DownloadEnvironment {
 public:
  virtual ~DownloadEnvironment() = default;
  virtual Platform& Device() = 0;
  virtual TestHttpServer& Server() = 0;  // outlives the device, whose end waits for its workers
  virtual Text Folder() = 0;             // empty, the test's own
  virtual std::int32_t Result(Outcome outcome) = 0;
  // The two transfers with the time in all given (the tests shorten or lengthen it), the file
  // dispatching the calling thread's messages as DownloadToFile does.
  virtual std::int32_t DownloadToFileWithin(const Text& url, const Text& path,
                                            const DownloadProgress& progress, unsigned total) = 0;
  virtual std::int32_t DownloadToMemoryWithin(const Text& url, std::size_t limit, std::string* body,
                                              unsigned total) = 0;
  // Whether a dialog's timer messages are pre-translated outside a modal run (Win32).
  virtual bool PreTranslatesTimers() const = 0;
  // Posts a quit message; then whether one is posted (again), taken.
  virtual void PostQuit() = 0;
  virtual bool TakeQuit() = 0;
  virtual void EndDevice() = 0;  // destroys the platform
};

// A dialog's sink that counts its timer messages, pre-translated and handled. With `download`,
// the first one runs it and the next ends the dialog's modal run, as a close would.
struct TimerSink : DialogSink {
  void OnDialogCreated(HWND) override {}
  bool OnMessage(Message& m) override;
  bool PreTranslateMessage(const Message& m) override {
    pretranslated += m.message == kWmTimer;
    return false;
  }
  bool ModalRunEnded() const override { return ended; }
  std::function<std::int32_t()> download;
  int ticks = 0, pretranslated = 0;
  bool ended = false;
  std::int32_t result = 0;
  std::uint64_t endedAt = 0, returned = 0;
};
HWND CreateTimerDialog(Platform& device, TimerSink* sink, unsigned milliseconds);

#define SORVEL_DOWNLOAD_CHECKS(X)                            \
  X(FileAndMemoryByTheServersAnswer)                         \
  X(FileIsMadeAnewOnlyFromWebAddresses)                      \
  X(SecureTransfers)                                         \
  X(TricklingBodyFailsAtTheTotalTime)                        \
  X(StalledBodyFailsAfterThirtySecondsWhileTheDialogAnswers) \
  X(ModalRunsEndAndQuitMessageCancel)                        \
  X(WorkerEndsBeforeThePlatform)

#define SORVEL_DECLARE_CHECK(name) void Check##name(DownloadEnvironment& environment);
SORVEL_DOWNLOAD_CHECKS(SORVEL_DECLARE_CHECK)
#undef SORVEL_DECLARE_CHECK

}  // namespace sorvel::conformance
