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
constexpr int kMaxRedirects = 20;

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

// Whether `url` begins with `scheme` (lower case, with its "://"), in any case.
bool HasScheme(const Text& url, const char16_t* scheme) {
  for (std::size_t i = 0; scheme[i] != 0; ++i) {
    if (i >= url.size()) return false;
    char16_t c = url[i] >= u'A' && url[i] <= u'Z' ? url[i] - u'A' + u'a' : url[i];
    if (c != scheme[i]) return false;
  }
  return true;
}

bool IsWebAddress(const Text& url) {
  return HasScheme(url, u"http://") || HasScheme(url, u"https://");
}

bool IsRedirect(DWORD status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Where a redirect's Location leads from `base`: an absolute address as it is, a reference
// without a scheme or only a path on the same server, a relative one beside the base's path.
Text Resolve(const Text& base, const Text& location) {
  const std::size_t colon = location.find(u"://");
  if (colon != Text::npos && colon > 0 && location.find_first_of(u"/?#") > colon) {
    return location;
  }
  const std::size_t authority = base.find(u"://") + 3;
  std::size_t path = base.find_first_of(u"/?#", authority);
  if (path == Text::npos) path = base.size();
  if (location.rfind(u"//", 0) == 0) return base.substr(0, authority - 2) + location;
  if (location.rfind(u"/", 0) == 0) return base.substr(0, path) + location;
  const std::size_t end = std::min(base.find_first_of(u"?#", path), base.size());
  const std::size_t slash = base.rfind(u'/', end == 0 ? 0 : end - 1);
  if (slash == Text::npos || slash < path) return base.substr(0, path) + u"/" + location;
  return base.substr(0, slash + 1) + location;
}

// A header of the answer; empty when it has none.
std::wstring QueryText(HINTERNET request, DWORD query) {
  DWORD size = 0;
  HttpQueryInfoW(request, query, nullptr, &size, nullptr);
  if (size == 0) return std::wstring();
  std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
  size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  if (!HttpQueryInfoW(request, query, &text[0], &size, nullptr)) return std::wstring();
  text.resize(size / sizeof(wchar_t));
  return text;
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

Transfer::Transfer(Text url, Text path, std::uint64_t limit)
    : url_(std::move(url)), path_(std::move(path)), toFile_(true), limit_(limit) {}

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
  if (!IsWebAddress(url_)) return ErrorResult(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
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
  std::int32_t failure = 0;
  HINTERNET request = Open(session, &failure);
  if (request == nullptr) return failure;

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
  if (total > limit_) return ErrorResult(ERROR_FILE_TOO_LARGE);

  if (toFile_) {
    // Whatever lies at the path goes, a link itself rather than its target; the new file is
    // made only where nothing is, so that nobody else's file or link is written through.
    if (!DeleteFileW(Wide(path_))) {
      DWORD error = GetLastError();
      if (error != ERROR_FILE_NOT_FOUND) return ErrorResult(error);
    }
    HANDLE file = CreateFileW(Wide(path_), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return ErrorResult(GetLastError());
    file_ = file;
  } else {
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
    DWORD error = 0;
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

void* Transfer::Open(void* session, std::int32_t* result) {
  // Always from the server, never into the cache, no cookies and no dialogs; redirects are
  // followed here, where each new address is checked.
  constexpr DWORD kFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                           INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_COOKIES |
                           INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_AUTO_REDIRECT;
  const bool secure = HasScheme(url_, u"https://");
  Text url = url_;
  for (int redirects = 0;; ++redirects) {
    HINTERNET request = nullptr;
    DWORD error = 0;
    bool open = Guarded([&] {
      request = InternetOpenUrlW(session, Wide(url), nullptr, 0, kFlags, 0);
      error = GetLastError();
    });
    if (!open) {
      if (request != nullptr) InternetCloseHandle(request);
      *result = kTransferCancelled;
      return nullptr;
    }
    if (request == nullptr) {
      *result = ErrorResult(error);
      return nullptr;
    }
    if (!Adopt(request)) {
      *result = kTransferCancelled;
      return nullptr;
    }
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                        nullptr) ||
        !IsRedirect(status)) {
      return request;
    }
    // A redirect without a place fails by its status.
    const std::wstring location = QueryText(request, HTTP_QUERY_LOCATION);
    if (location.empty()) return request;
    DWORD refused = 0;
    if (redirects == kMaxRedirects) {
      refused = ERROR_HTTP_REDIRECT_FAILED;
    } else if (!IsWebAddress(url = Resolve(url, FromWide(location.c_str())))) {
      refused = ERROR_INTERNET_UNRECOGNIZED_SCHEME;
    } else if (secure && !HasScheme(url, u"https://")) {
      refused = ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR;
    }
    if (refused != 0) {
      *result = ErrorResult(refused);
      return nullptr;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      request_ = nullptr;
    }
    InternetCloseHandle(request);
  }
}

bool Transfer::Adopt(void* request) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (cancelled_) {
    InternetCloseHandle(request);
    return false;
  }
  request_ = request;
  return true;
}

std::int32_t Transfer::Store(const char* data, std::size_t size) {
  if (size > limit_ - stored_) return ErrorResult(ERROR_FILE_TOO_LARGE);
  stored_ += size;
  if (!toFile_) {
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
