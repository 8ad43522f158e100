#include "platform/win32/win32_download.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "platform/win32/win32.h"
// clang-format off
#include <wininet.h>
// clang-format on

namespace sorvel::win32 {

namespace {

// Large reads keep the per-call cost of the library small against the bytes moved.
constexpr DWORD kPieceLimit = 1024 * 1024;

// The URL download service's own codes, for the failures that are not system errors.
constexpr std::int32_t kResourceNotFound = static_cast<std::int32_t>(0x800C0005u);
constexpr std::int32_t kDownloadFailure = static_cast<std::int32_t>(0x800C0008u);
constexpr std::int32_t kDataNotAvailable = static_cast<std::int32_t>(0x800C0007u);

std::int32_t ErrorResult(DWORD error) {
  return error == ERROR_SUCCESS ? static_cast<std::int32_t>(E_FAIL)
                                : static_cast<std::int32_t>(HRESULT_FROM_WIN32(error));
}

// A Content-Length header's value; 0 (unknown) unless it is plain decimal digits.
std::uint64_t ParseLength(const wchar_t* text) {
  std::uint64_t value = 0;
  int digits = 0;
  for (const wchar_t* c = text; *c != 0; ++c) {
    if (*c < L'0' || *c > L'9' || ++digits > 18) return 0;
    value = value * 10 + static_cast<std::uint64_t>(*c - L'0');
  }
  return value;
}

}  // namespace

bool Transfers::Enter(Transfer* transfer) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_) return false;
  running_.insert(transfer);
  return true;
}

void Transfers::Leave(Transfer* transfer) {
  std::lock_guard<std::mutex> lock(mutex_);
  running_.erase(transfer);
}

void Transfers::CancelAll() {
  std::lock_guard<std::mutex> lock(mutex_);
  closed_ = true;
  for (Transfer* transfer : running_) transfer->Cancel();
}

Transfer::Transfer(Text url, Text path)
    : url_(std::move(url)), path_(std::move(path)), toFile_(true), limit_(0) {}

Transfer::Transfer(Text url, std::size_t limit)
    : url_(std::move(url)), toFile_(false), limit_(limit) {}

std::int32_t Transfer::Run(const std::shared_ptr<Transfers>& transfers) {
  if (!transfers->Enter(this)) return kTransferCancelled;
  std::int32_t result = Receive();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (request_ != nullptr) InternetCloseHandle(request_);
    if (session_ != nullptr) InternetCloseHandle(session_);
    request_ = session_ = nullptr;
  }
  if (file_ != nullptr) {
    CloseHandle(file_);
    file_ = nullptr;
  }
  transfers->Leave(this);
  return result;
}

void Transfer::Cancel() {
  std::lock_guard<std::mutex> lock(mutex_);
  cancelled_ = true;
  if (pieceEvent_ != nullptr) SetEvent(pieceEvent_);
  // Closing the handles ends a call blocked on them. Between calls they stay open: the thread
  // still holds their values, which the library could hand out again once closed.
  if (!inCall_) return;
  if (request_ != nullptr) InternetCloseHandle(request_);
  if (session_ != nullptr) InternetCloseHandle(session_);
  request_ = session_ = nullptr;
}

bool Transfer::Cancelled() {
  std::lock_guard<std::mutex> lock(mutex_);
  return cancelled_;
}

std::vector<std::uint64_t> Transfer::TakeNews() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::uint64_t> news;
  news.swap(marks_);
  if (received_ != (news.empty() ? taken_ : news.back())) news.push_back(received_);
  if (!news.empty()) taken_ = news.back();
  return news;
}

template <typename Call>
bool Transfer::Guarded(Call call) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (cancelled_) return false;
    inCall_ = true;
  }
  call();
  std::lock_guard<std::mutex> lock(mutex_);
  inCall_ = false;
  return !cancelled_;
}

std::int32_t Transfer::Receive() {
  HINTERNET session = InternetOpenW(L"Sorvel", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (session == nullptr) return ErrorResult(GetLastError());
  // Where the library honours these, a blocked call ends by itself; the waiting side keeps its
  // own time, as some do not.
  for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                       INTERNET_OPTION_RECEIVE_TIMEOUT}) {
    DWORD timeout = kTransferTimeoutMilliseconds;
    InternetSetOptionW(session, option, &timeout, sizeof timeout);
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    session_ = session;
  }

  // Always from the server, never into the cache, no cookies and no dialogs.
  constexpr DWORD kFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                           INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_COOKIES |
                           INTERNET_FLAG_NO_UI;
  HINTERNET request = nullptr;
  DWORD error = 0;
  bool open = Guarded([&] {
    request = InternetOpenUrlW(session, Wide(url_), nullptr, 0, kFlags, 0);
    error = GetLastError();
  });
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open) {
      if (request != nullptr) InternetCloseHandle(request);
      return kTransferCancelled;
    }
    request_ = request;
  }
  if (request == nullptr) return ErrorResult(error);

  DWORD status = 0;
  DWORD size = sizeof status;
  if (!HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                      nullptr)) {
    return ErrorResult(GetLastError());
  }
  if (status != HTTP_STATUS_OK) {
    return status == HTTP_STATUS_NOT_FOUND || status == HTTP_STATUS_GONE ? kResourceNotFound
                                                                         : kDownloadFailure;
  }
  wchar_t length[32] = {};
  size = sizeof length;
  std::uint64_t total = 0;
  if (HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, length, &size, nullptr)) {
    total = ParseLength(length);
  }
  total_ = total;

  if (toFile_) {
    HANDLE file = CreateFileW(Wide(path_), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return ErrorResult(GetLastError());
    file_ = file;
  } else {
    if (total > limit_) return ErrorResult(ERROR_FILE_TOO_LARGE);
    body_.reserve(static_cast<std::size_t>(total));
  }

  // Pieces of at most a hundredth of a known length, so progress moves by the percent.
  const DWORD piece =
      total == 0 ? kPieceLimit
                 : static_cast<DWORD>(std::clamp<std::uint64_t>(total / 100, 1, kPieceLimit));
  std::vector<char> buffer(piece);
  for (;;) {
    DWORD got = 0;
    BOOL read = FALSE;
    if (!Guarded([&] {
          read = InternetReadFile(request, buffer.data(), piece, &got);
          error = GetLastError();
        })) {
      return kTransferCancelled;
    }
    if (!read) return ErrorResult(error);
    if (got == 0) break;
    std::int32_t stored = Store(buffer.data(), got);
    if (stored < 0) return stored;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      std::uint64_t before = received_;
      received_ += got;
      if (total != 0 && received_ * 100 / total > before * 100 / total) {
        marks_.push_back(received_);
      }
    }
    if (pieceEvent_ != nullptr) SetEvent(pieceEvent_);
  }
  // The connection closed early: the library ends the body there without an error.
  std::lock_guard<std::mutex> lock(mutex_);
  if (total != 0 && received_ != total) return kDataNotAvailable;
  // On disk before anyone renames it over a program.
  if (toFile_ && !FlushFileBuffers(file_)) return ErrorResult(GetLastError());
  return 0;
}

std::int32_t Transfer::Store(const char* data, std::size_t size) {
  if (!toFile_) {
    if (size > limit_ - body_.size()) return ErrorResult(ERROR_FILE_TOO_LARGE);
    body_.append(data, size);
    return 0;
  }
  DWORD written = 0;
  if (!WriteFile(file_, data, static_cast<DWORD>(size), &written, nullptr)) {
    return ErrorResult(GetLastError());
  }
  return written == size ? 0 : ErrorResult(ERROR_WRITE_FAULT);
}

}  // namespace sorvel::win32
