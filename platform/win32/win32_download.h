// HTTP transfers of the win32 backend over WinINet. A transfer runs on one thread from start to
// end; any other thread may read its counts and cancel it. It takes only http:// and https://
// addresses, leaves the library's check of an https server's certificate against the system's
// trust as it is, follows redirects itself (from https only to https), and fails on a body
// beyond its limit. Its waiting side bounds the time without data and the time in all (10
// minutes into a file, 60 s into memory).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/types.h"

namespace sorvel::win32 {

// A transfer fails after this long without data, whether it waits for the connection, the
// answer or the body.
constexpr unsigned kTransferTimeoutMilliseconds = 30000;
// ... and after this long in all: a program file, and a small read into memory. A test build
// shortens the first so that its tests can reach it.
#ifdef SORVEL_TEST_TRANSFER_SECONDS
constexpr unsigned kFileTransferLimitMilliseconds = SORVEL_TEST_TRANSFER_SECONDS * 1000;
#else
constexpr unsigned kFileTransferLimitMilliseconds = 10 * 60 * 1000;
#endif
constexpr unsigned kMemoryTransferLimitMilliseconds = 60 * 1000;
// Results of a transfer that timed out (the library's time-out error) and of a cancelled one.
constexpr std::int32_t kTransferTimedOut = static_cast<std::int32_t>(0x80072EE2u);
constexpr std::int32_t kTransferCancelled = static_cast<std::int32_t>(0x80004004u);

class Transfer;

// The transfers of one platform. Shared with the threads that run them, which may outlive
// the platform when a cancelled read does not return at once.
class Transfers {
 public:
  // False once CancelAll has run: no transfer starts any more.
  bool Enter(Transfer* transfer);
  void Leave(Transfer* transfer);
  void CancelAll();

 private:
  std::mutex mutex_;
  bool closed_ = false;
  std::set<Transfer*> running_;
};

class Transfer {
 public:
  // Into the file `path`, made anew once the server has answered with the body: whatever lies
  // at the path is removed (a link itself) and the file created only where nothing is, never
  // through a link. Fails beyond `limit` bytes.
  Transfer(Text url, Text path, std::uint64_t limit);
  // Into memory, failing beyond `limit` bytes.
  Transfer(Text url, std::size_t limit);
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  // Does the whole transfer on the calling thread: 0 on success, negative on failure.
  std::int32_t Run(const std::shared_ptr<Transfers>& transfers);
  // Makes Run fail soon: closes the connection under a blocked read, and sets the event.
  void Cancel();
  bool Cancelled();

  // Set after each piece received (an event handle; null for none).
  void SignalPiecesTo(void* event) { pieceEvent_ = event; }
  // The byte counts to report since the last call, in order: the count at which each percent
  // of a known total was reached, then the latest count; empty when nothing arrived meanwhile.
  std::vector<std::uint64_t> TakeNews();
  std::uint64_t Total() const { return total_.load(); }
  std::string& Body() { return body_; }

 private:
  std::int32_t Receive();
  // Opens `url_` and follows its redirects; the final answer's request, or null after a failure
  // whose result is in `*result`.
  void* Open(void* session, std::int32_t* result);
  // Makes `request` the connection a cancel closes, or closes it when a cancel came first.
  bool Adopt(void* request);
  std::int32_t Store(const char* data, std::size_t size);
  // Runs one blocking call on the connection; false when the transfer was cancelled before or
  // during it.
  template <typename Call>
  bool Guarded(Call call);

  const Text url_;
  const Text path_;
  const bool toFile_;
  const std::uint64_t limit_;
  std::uint64_t stored_ = 0;
  void* pieceEvent_ = nullptr;
  std::atomic<std::uint64_t> total_{0};
  std::string body_;
  void* file_ = nullptr;  // open from the answer to the end of Run

  std::mutex mutex_;  // guards the connection handles against Cancel, and the counts
  bool cancelled_ = false;
  bool inCall_ = false;
  std::uint64_t received_ = 0;
  std::vector<std::uint64_t> marks_;  // the counts that reached a percent, not taken yet
  std::uint64_t taken_ = 0;
  void* session_ = nullptr;
  void* request_ = nullptr;
};

}  // namespace sorvel::win32
