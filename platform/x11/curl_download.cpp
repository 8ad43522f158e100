#include "platform/x11/curl_download.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <exception>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "platform/x11/curl_library.h"

namespace sorvel::x11 {

namespace {

// libcurl's largest receive buffer: fewer calls per byte moved.
constexpr long kBufferSize = CURL_MAX_READ_SIZE;
constexpr long kMaxRedirects = 20;
// How long one round of the waiting thread lets its toolkit wait for events.
constexpr int kWaitMilliseconds = 10;
// Upper bound of one wait for the network; a cancel wakes it earlier.
constexpr int kPollMilliseconds = 1000;

CURLcode GlobalInit(const CurlLibrary& curl) {
  static std::once_flag once;
  static CURLcode result = CURLE_OK;
  std::call_once(once, [&curl] { result = curl.globalInit(CURL_GLOBAL_DEFAULT); });
  return result;
}

std::int32_t CurlResult(CURLcode code) {
  return kCurlFailure - static_cast<std::int32_t>(code);
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
  for (std::size_t i = 0; prefix[i] != 0; ++i) {
    if (i >= text.size() || std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) {
      return false;
    }
  }
  return true;
}

}  // namespace

// One transfer from start to end on the thread that runs it; any thread may cancel it, and
// the one that waits for it takes its news.
class Transfer {
 public:
  // Into the file `path`, or into memory when `path` is null; up to `limit` bytes, for no longer
  // than `totalMilliseconds`.
  Transfer(const std::string& url, const std::string* path, std::uint64_t limit,
           long totalMilliseconds)
      : url_(url),
        path_(path != nullptr ? *path : std::string()),
        toFile_(path != nullptr),
        limit_(limit),
        totalMilliseconds_(totalMilliseconds) {}
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;
  ~Transfer() {
    if (file_ >= 0) close(file_);
  }

  std::int32_t Run();
  void Cancel();
  // The byte counts to report since the last call, in order: the first count at each percent
  // of a known total reached meanwhile, then the latest count; empty when nothing arrived.
  std::vector<std::uint64_t> TakeNews();
  std::uint64_t Total() const { return total_.load(); }
  std::string& Body() { return body_; }

 private:
  static std::size_t OnData(char* data, std::size_t size, std::size_t count, void* self);
  std::size_t Receive(const char* data, std::size_t size);
  // The answer is 200 and its body begins: the file is created, or room made in memory.
  std::int32_t Begin();
  std::int32_t Store(const char* data, std::size_t size);
  std::int32_t Perform(CURL* easy);
  // The header and body bytes received so far, over all the answers followed.
  std::int64_t BytesReceived(CURL* easy);
  std::int32_t Finish(CURL* easy, CURLcode code);

  const std::string url_;
  const std::string path_;
  const bool toFile_;
  const std::uint64_t limit_;
  const long totalMilliseconds_;
  const CurlLibrary* curl_ = nullptr;  // set before any transfer handle exists
  CURL* easy_ = nullptr;
  bool begun_ = false;
  int file_ = -1;
  std::int32_t failure_ = 0;  // why the data callback stopped the transfer
  std::uint64_t stored_ = 0;
  std::string body_;
  std::atomic<std::uint64_t> total_{0};
  std::atomic<bool> cancelled_{false};

  std::mutex mutex_;  // guards multi_ against Cancel, and the counts
  CURLM* multi_ = nullptr;
  std::uint64_t received_ = 0;
  std::vector<std::uint64_t> marks_;
  std::uint64_t taken_ = 0;
};

void Transfer::Cancel() {
  std::lock_guard<std::mutex> lock(mutex_);
  cancelled_ = true;
  if (multi_ != nullptr) curl_->multiWakeup(multi_);
}

std::vector<std::uint64_t> Transfer::TakeNews() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::uint64_t> news;
  news.swap(marks_);
  if (received_ != (news.empty() ? taken_ : news.back())) news.push_back(received_);
  if (!news.empty()) taken_ = news.back();
  return news;
}

std::int32_t Transfer::Run() {
  const bool secure = StartsWithNoCase(url_, "https://");
  if (!secure && !StartsWithNoCase(url_, "http://")) return CurlResult(CURLE_UNSUPPORTED_PROTOCOL);
  std::string why;  // told by the caller's platform, which has the debug output
  curl_ = Curl(&why);
  if (curl_ == nullptr) return kNoLibrary;
  const CurlLibrary& curl = *curl_;
  if (GlobalInit(curl) != CURLE_OK) return CurlResult(GlobalInit(curl));
  CURL* easy = curl.easyInit();
  if (easy == nullptr) return CurlResult(CURLE_OUT_OF_MEMORY);
  // Always from the server: ask caches on the way not to answer either.
  curl_slist* headers = curl.slistAppend(nullptr, "Cache-Control: no-cache");
  curl_slist* more = headers != nullptr ? curl.slistAppend(headers, "Pragma: no-cache") : nullptr;
  std::int32_t result = CurlResult(CURLE_OUT_OF_MEMORY);
  if (more != nullptr) {
    headers = more;
    easy_ = easy;
    curl.easySetopt(easy, CURLOPT_URL, url_.c_str());
    // Only HTTP, also where a redirect points; what began over TLS stays on it.
    curl.easySetopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl.easySetopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https");
    curl.easySetopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl.easySetopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl.easySetopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
#ifdef SORVEL_TEST_CA_FILE
    // Test builds only: the loopback servers' authority.
    curl.easySetopt(easy, CURLOPT_CAINFO, SORVEL_TEST_CA_FILE);
#endif
    curl.easySetopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl.easySetopt(easy, CURLOPT_FAILONERROR, 0L);
    curl.easySetopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl.easySetopt(easy, CURLOPT_CONNECTTIMEOUT, kTransferTimeoutSeconds);
    curl.easySetopt(easy, CURLOPT_TIMEOUT_MS, totalMilliseconds_);
    curl.easySetopt(easy, CURLOPT_BUFFERSIZE, kBufferSize);
    curl.easySetopt(easy, CURLOPT_USERAGENT, "Sorvel");
    curl.easySetopt(easy, CURLOPT_HTTPHEADER, headers);
    curl.easySetopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::OnData);
    curl.easySetopt(easy, CURLOPT_WRITEDATA, this);
    result = Perform(easy);
  }
  easy_ = nullptr;
  curl.easyCleanup(easy);
  curl.slistFreeAll(headers);
  return result;
}

std::int32_t Transfer::Perform(CURL* easy) {
  const CurlLibrary& curl = *curl_;
  CURLM* multi = curl.multiInit();
  if (multi == nullptr) return CurlResult(CURLE_OUT_OF_MEMORY);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    multi_ = multi;
  }
  // The multi interface only so that a cancel can wake the wait for the network.
  CURLcode code = CURLE_OUT_OF_MEMORY;  // unless the transfer comes to its end
  if (curl.multiAddHandle(multi, easy) == CURLM_OK) {
    // 30 s without data, waiting for the answer or in the body alike, timed here: libcurl's
    // low-speed check averages over several seconds and ends the transfer 6-7 s late.
    auto lastData = std::chrono::steady_clock::now();
    std::int64_t seen = 0;
    for (;;) {
      int running = 0;
      if (cancelled_ || curl.multiPerform(multi, &running) != CURLM_OK) break;
      if (running == 0) {
        int queued = 0;
        while (CURLMsg* message = curl.multiInfoRead(multi, &queued)) {
          if (message->msg == CURLMSG_DONE) code = message->data.result;
        }
        break;
      }
      const auto now = std::chrono::steady_clock::now();
      if (std::int64_t bytes = BytesReceived(easy); bytes != seen) {
        seen = bytes;
        lastData = now;
      } else if (now - lastData >= std::chrono::seconds(kTransferTimeoutSeconds)) {
        code = CURLE_OPERATION_TIMEDOUT;
        break;
      }
      if (curl.multiPoll(multi, nullptr, 0, kPollMilliseconds, nullptr) != CURLM_OK) break;
    }
    curl.multiRemoveHandle(multi, easy);
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    multi_ = nullptr;
  }
  curl.multiCleanup(multi);
  return Finish(easy, code);
}

std::int64_t Transfer::BytesReceived(CURL* easy) {
  curl_off_t body = 0;
  long headers = 0;
  curl_->easyGetinfo(easy, CURLINFO_SIZE_DOWNLOAD_T, &body);
  curl_->easyGetinfo(easy, CURLINFO_HEADER_SIZE, &headers);
  return static_cast<std::int64_t>(body) + headers;
}

std::int32_t Transfer::Finish(CURL* easy, CURLcode code) {
  if (cancelled_) return -ECANCELED;
  if (failure_ != 0) return failure_;
  if (code != CURLE_OK) return CurlResult(code);
  long status = 0;
  curl_->easyGetinfo(easy, CURLINFO_RESPONSE_CODE, &status);
  if (status != 200) return kStatusFailure - static_cast<std::int32_t>(status);
  // An empty body gives no data: its file is made now.
  if (!begun_) {
    std::int32_t begun = Begin();
    if (begun < 0) return begun;
  }
  if (!toFile_) return 0;
  // On disk before anyone renames it over a program.
  int file = std::exchange(file_, -1);
  bool synced = fsync(file) == 0;
  int error = errno;
  if (close(file) != 0 && synced) {
    synced = false;
    error = errno;
  }
  return synced ? 0 : -error;
}

std::size_t Transfer::OnData(char* data, std::size_t size, std::size_t count, void* self) {
  return static_cast<Transfer*>(self)->Receive(data, size * count);
}

std::size_t Transfer::Receive(const char* data, std::size_t size) {
  if (cancelled_) return 0;
  long status = 0;
  curl_->easyGetinfo(easy_, CURLINFO_RESPONSE_CODE, &status);
  // The body of a redirect being followed is dropped; any other answer ends the transfer.
  if (status >= 300 && status < 400) return size;
  if (status != 200) {
    failure_ = kStatusFailure - static_cast<std::int32_t>(status);
    return 0;
  }
  if (!begun_) failure_ = Begin();
  if (failure_ == 0) failure_ = Store(data, size);
  if (failure_ != 0) return 0;

  std::lock_guard<std::mutex> lock(mutex_);
  std::uint64_t total = total_;
  std::uint64_t before = received_;
  received_ += size;
  if (total != 0) {
    std::uint64_t reached = std::min<std::uint64_t>(received_ * 100 / total, 100);
    // The first count at each percent reached; under 100 bytes some percents share one.
    std::uint64_t last = before;
    for (std::uint64_t percent = before * 100 / total + 1; percent <= reached; ++percent) {
      std::uint64_t mark = (percent * total + 99) / 100;
      if (mark > last) marks_.push_back(last = mark);
    }
  }
  return size;
}

std::int32_t Transfer::Begin() {
  begun_ = true;
  curl_off_t length = -1;
  curl_->easyGetinfo(easy_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
  std::uint64_t total = length > 0 ? static_cast<std::uint64_t>(length) : 0;
  total_ = total;
  if (total > limit_) return -EFBIG;
  if (!toFile_) {
    body_.reserve(static_cast<std::size_t>(total));
    return 0;
  }
  // Whatever lies at the path goes, a link itself rather than its target; the new file is made
  // only where nothing is, so that nobody else's file or link is written through.
  if (unlink(path_.c_str()) != 0 && errno != ENOENT) return -errno;
  file_ = open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  return file_ >= 0 ? 0 : -errno;
}

std::int32_t Transfer::Store(const char* data, std::size_t size) {
  if (size > limit_ - stored_) return -EFBIG;
  stored_ += size;
  if (!toFile_) {
    body_.append(data, size);
    return 0;
  }
  while (size > 0) {
    ssize_t written = write(file_, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return -errno;
    }
    if (written == 0) return -EIO;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return 0;
}

std::int32_t DownloadFileWhileWaiting(
    const std::string& url, const std::string& path, std::uint64_t limit,
    const std::function<void(std::uint64_t received, std::uint64_t total)>& progress,
    const std::function<void(int milliseconds)>& wait, const std::function<bool()>& cancelled,
    long totalMilliseconds) {
  Transfer transfer(url, &path, limit, totalMilliseconds);
  std::atomic<bool> done{false};
  std::int32_t result = 0;
  std::thread worker;
  try {
    worker = std::thread([&] {
      result = transfer.Run();
      done = true;
    });
  } catch (const std::system_error& error) {
    return -error.code().value();
  }
  auto report = [&] {
    std::vector<std::uint64_t> counts = transfer.TakeNews();
    if (progress) {
      for (std::uint64_t received : counts) progress(received, transfer.Total());
    }
  };
  try {
    while (!done) {
      wait(kWaitMilliseconds);
      report();
      if (cancelled && cancelled()) {
        transfer.Cancel();
        worker.join();
        return -ECANCELED;
      }
    }
  } catch (...) {
    transfer.Cancel();
    worker.join();
    throw;
  }
  worker.join();
  report();
  return result;
}

void Cancellation::Cancel() {
  std::lock_guard<std::mutex> lock(mutex_);
  cancelled_ = true;
  for (Transfer* transfer : running_) transfer->Cancel();
}

bool Cancellation::Enter(Transfer* transfer) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (cancelled_) return false;
  running_.insert(transfer);
  return true;
}

void Cancellation::Leave(Transfer* transfer) {
  std::lock_guard<std::mutex> lock(mutex_);
  running_.erase(transfer);
}

std::int32_t DownloadToMemory(const std::string& url, std::size_t limit, std::string* body,
                              Cancellation* cancellation, long totalMilliseconds) {
  Transfer transfer(url, nullptr, limit, totalMilliseconds);
  if (cancellation != nullptr && !cancellation->Enter(&transfer)) return -ECANCELED;
  std::int32_t result = transfer.Run();
  if (cancellation != nullptr) cancellation->Leave(&transfer);
  if (result == 0) *body = std::move(transfer.Body());
  return result;
}

}  // namespace sorvel::x11
