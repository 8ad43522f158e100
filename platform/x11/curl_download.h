// HTTP transfers of the native Linux backend over libcurl, which the first transfer loads
// (curl_library.h), free of any toolkit. A transfer takes only http:// and https:// addresses,
// checks an https server's certificate against the system's trust, follows redirects (from
// https only to https), keeps no cached copy, and fails on a connection error, a final status
// other than 200, a body shorter than its announced length or beyond the limit, 30 s without
// data, its time in all (10 minutes into a file, 60 s into memory), a failed write or flush, or
// a cancel.
//
// Results: 0 on success, otherwise negative:
//   -errno                   a local failure: creating, writing or flushing the file;
//                            -ECANCELED when cancelled, -EFBIG for a body beyond the limit,
//                            -EEXIST when a file appeared at the path while it was made,
//                            -ELIBACC (kNoLibrary) when libcurl could not be loaded
//   kStatusFailure - status  the final answer's status was not 200 (-1404 for 404)
//   kCurlFailure - code      libcurl's error (-2001 not an http or https address or redirect,
//                            -2007 no connection, -2018 body shorter than announced, -2028 30 s
//                            without data or the time in all spent, -2060 certificate refused)
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>

namespace sorvel::x11 {

// A transfer fails after this long without data.
constexpr long kTransferTimeoutSeconds = 30;
// ... and after this long in all: a program file, and a small read into memory. A test build
// shortens the first so that its tests can reach it.
#ifdef SORVEL_TEST_TRANSFER_SECONDS
constexpr long kFileTransferLimitSeconds = SORVEL_TEST_TRANSFER_SECONDS;
#else
constexpr long kFileTransferLimitSeconds = 10 * 60;
#endif
constexpr long kMemoryTransferLimitSeconds = 60;
constexpr std::int32_t kStatusFailure = -1000;
constexpr std::int32_t kCurlFailure = -2000;
constexpr std::int32_t kNoLibrary = -ELIBACC;

class Transfer;

// Downloads `url` into the file `path` (UTF-8), made anew once the server has answered 200, so
// that a failed request leaves an earlier file as it was: a file or link at the path is removed
// and the new one created where nothing is, never through a link. The body may hold at most
// `limit` bytes; `totalMilliseconds` bounds the whole transfer. The transfer runs on a thread of
// its own; meanwhile the calling thread runs `wait(milliseconds)` over and over (the toolkit's
// event dispatch, returning within about that time), then `progress(received, total)` when new
// bytes arrived (at least once per percent of a known total; total 0 when unknown), then
// `cancelled()`: once true, the transfer stops and this returns -ECANCELED. On success the
// data is on disk.
std::int32_t DownloadFileWhileWaiting(
    const std::string& url, const std::string& path, std::uint64_t limit,
    const std::function<void(std::uint64_t received, std::uint64_t total)>& progress,
    const std::function<void(int milliseconds)>& wait, const std::function<bool()>& cancelled,
    long totalMilliseconds = kFileTransferLimitSeconds * 1000);

// Stops the in-memory transfers started under it: from any thread, Cancel makes the running
// ones end soon and the later ones fail at once, all with -ECANCELED.
class Cancellation {
 public:
  void Cancel();

 private:
  friend std::int32_t DownloadToMemory(const std::string&, std::size_t, std::string*, Cancellation*,
                                       long);
  bool Enter(Transfer* transfer);
  void Leave(Transfer* transfer);

  std::mutex mutex_;
  bool cancelled_ = false;
  std::set<Transfer*> running_;
};

// Reads `url` into `body` under the same rules, failing with -EFBIG beyond `limit` bytes.
// Blocks the calling thread and runs nothing of its caller's; `cancellation` may be null.
std::int32_t DownloadToMemory(const std::string& url, std::size_t limit, std::string* body,
                              Cancellation* cancellation,
                              long totalMilliseconds = kMemoryTransferLimitSeconds * 1000);

}  // namespace sorvel::x11
