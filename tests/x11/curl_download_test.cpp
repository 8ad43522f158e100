// The libcurl transfers against the loopback test server, and the loading of libcurl.
#include "platform/x11/curl_download.h"

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/x11/curl_library.h"
#include "tests/e2e/http_server.h"

namespace sorvel::x11 {
namespace {

using Body = TestHttpServer::Body;

std::string Bytes(std::size_t size) {
  std::mt19937 random(7);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "(none)";
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Write(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// What the calling thread saw of one download.
struct Seen {
  std::vector<std::pair<std::uint64_t, std::uint64_t>> progress;
  int waits = 0;
};

constexpr std::uint64_t kNoLimit = ~std::uint64_t{0};

std::int32_t Download(const std::string& url, const std::string& path, Seen* seen,
                      const std::function<bool()>& cancelled = nullptr,
                      std::uint64_t limit = kNoLimit,
                      long totalMilliseconds = kFileTransferLimitSeconds * 1000) {
  return DownloadFileWhileWaiting(
      url, path, limit,
      [seen](std::uint64_t received, std::uint64_t total) {
        seen->progress.emplace_back(received, total);
      },
      [seen](int milliseconds) {
        ++seen->waits;
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
      },
      cancelled, totalMilliseconds);
}

std::string Narrow(const std::wstring& wide) {
  return std::string(wide.begin(), wide.end());
}

class CurlDownload : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Ok());
    char folder[] = "/tmp/sorvel-curl-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    folder_ = folder;
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }
  std::string Path(const std::string& name) const { return folder_ + "/" + name; }
  std::string Url(const std::string& path) const { return Narrow(server_.Url(path)); }
  std::string SecureUrl(const std::string& path, TestHttpServer::Certificate certificate =
                                                     TestHttpServer::Certificate::kTrusted) const {
    return Narrow(server_.SecureUrl(path, certificate));
  }

  TestHttpServer server_;
  std::string folder_;
};

TEST_F(CurlDownload, FileAndMemoryByTheServersAnswer) {
  const std::string big = Bytes(1000003);
  const std::string page = "<html><body>Maintenance</body></html>";
  const std::string earlier = "the earlier file";
  struct Case {
    const char* path;
    TestHttpServer::Route route;
    std::int32_t result;
    std::string after;    // the file's contents afterwards
    std::uint64_t total;  // the total of every progress report
    std::uint64_t limit = kNoLimit;
  } cases[] = {
      {"/length", Reply(200, big, Body::kWithLength), 0, big, big.size()},
      {"/no-length", Reply(200, big, Body::kWithoutLength), 0, big, 0},
      {"/moved", Reply(302, "<html>moved</html>", Body::kWithLength, "/length"), 0, big,
       big.size()},
      {"/missing", Reply(404, "<html>not here</html>"), kStatusFailure - 404, earlier, 0},
      {"/fault", Reply(500, "<html>fault</html>"), kStatusFailure - 500, earlier, 0},
      {"/page", Reply(200, page, Body::kWithLength, "", "text/html"), 0, page, page.size()},
      {"/empty", Reply(200, ""), 0, "", 0},
      {"/short", Reply(200, big, Body::kTruncated), kCurlFailure - CURLE_PARTIAL_FILE,
       big.substr(0, big.size() / 2), big.size()},
      {"/at-limit", Reply(200, big), 0, big, big.size(), big.size()},
      // An announced length beyond the limit fails before the file is touched; a body without
      // one stops as it passes the limit, nothing beyond it written.
      {"/announced-beyond", Reply(200, big), -EFBIG, earlier, 0, big.size() - 1},
      {"/beyond", Reply(200, big, Body::kWithoutLength), -EFBIG, "", 0, 100000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    server_.Serve(c.path, c.route);
    std::string path = Path("file");
    Write(path, earlier);
    Seen seen;
    EXPECT_EQ(Download(Url(c.path), path, &seen, nullptr, c.limit), c.result);
    // Into memory the same, the body whole or untouched.
    std::string body = "untouched";
    EXPECT_EQ(DownloadToMemory(Url(c.path), std::min<std::uint64_t>(c.limit, 2 * big.size()), &body,
                               nullptr),
              c.result);
    EXPECT_TRUE(body == (c.result == 0 ? c.after : "untouched"));
    if (c.result == -EFBIG && c.after.empty()) {
      // What came before the piece that passed the limit.
      const std::string kept = Contents(path);
      EXPECT_LE(kept.size(), c.limit);
      EXPECT_TRUE(kept == big.substr(0, kept.size()));
      continue;
    }
    EXPECT_EQ(Contents(path), c.after);
    EXPECT_GT(seen.waits, 0);

    // Never without new bytes; the last report tells the whole file; every percent of a
    // known total reported.
    std::set<std::uint64_t> percents;
    std::uint64_t last = 0;
    for (auto [received, total] : seen.progress) {
      EXPECT_GT(received, last);
      EXPECT_EQ(total, c.total);
      last = received;
      if (total != 0) percents.insert(received * 100 / total);
    }
    EXPECT_EQ(last, c.after == earlier ? 0 : c.after.size());
    if (c.result == 0 && c.total >= 100) {
      EXPECT_EQ(percents.size(), 100u);
      EXPECT_EQ(*percents.begin(), 1u);
    }
  }
}

// A stalled body fails after the 30 s the rule gives while the caller keeps waiting, or at once
// when cancelled: a cancel's own result shows it took effect.
TEST_F(CurlDownload, AStalledBodyFailsInThirtySecondsOrWhenCancelled) {
  server_.Serve("/stalled", Reply(200, Bytes(1000), Body::kStalled));
  Seen seen, cancelled;
  EXPECT_EQ(Download(Url("/stalled"), Path("file"), &seen),
            kCurlFailure - CURLE_OPERATION_TIMEDOUT);
  EXPECT_GT(seen.waits, 100);
  ASSERT_FALSE(seen.progress.empty());
  EXPECT_EQ(seen.progress.back(), std::make_pair(std::uint64_t{500}, std::uint64_t{1000}));
  EXPECT_EQ(Download(Url("/stalled"), Path("file"), &cancelled,
                     [&cancelled] { return !cancelled.progress.empty(); }),
            -ECANCELED);

  Cancellation cancellation;
  std::thread canceller([&] {
    while (server_.Requests("/stalled") < 3)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    cancellation.Cancel();
  });
  std::string body;
  EXPECT_EQ(DownloadToMemory(Url("/stalled"), 10000, &body, &cancellation), -ECANCELED);
  canceller.join();
  // Once cancelled, no transfer starts any more.
  EXPECT_EQ(DownloadToMemory(Url("/stalled"), 10000, &body, &cancellation), -ECANCELED);
  EXPECT_EQ(server_.Requests("/stalled"), 3);
}

// Whatever lies at the path is replaced by a file of our own, never written through; a path in
// no folder fails.
TEST_F(CurlDownload, FileIsMadeAnewWhateverLayAtItsPath) {
  server_.Serve("/file", Reply(200, "new program"));
  const std::string victim = Path("victim");
  const struct {
    const char* name;
    std::function<void(const std::string& path)> leave;
  } cases[] = {
      {"nothing", [](const std::string&) {}},
      {"a file", [](const std::string& path) { Write(path, "old program"); }},
      {"a link to another file",
       [&victim](const std::string& path) { ASSERT_EQ(symlink(victim.c_str(), path.c_str()), 0); }},
      {"a dangling link",
       [this](const std::string& path) {
         ASSERT_EQ(symlink(Path("nowhere").c_str(), path.c_str()), 0);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Write(victim, "someone else's");
    const std::string path = Path("im");
    std::remove(path.c_str());
    c.leave(path);
    Seen seen;
    EXPECT_EQ(Download(Url("/file"), path, &seen), 0);
    struct stat status {};
    ASSERT_EQ(lstat(path.c_str(), &status), 0);
    EXPECT_TRUE(S_ISREG(status.st_mode));
    EXPECT_EQ(Contents(path), "new program");
    EXPECT_EQ(Contents(victim), "someone else's");
    EXPECT_EQ(Contents(Path("nowhere")), "(none)");
  }
  Seen seen;
  EXPECT_EQ(Download(Url("/file"), folder_ + "/no/such/file", &seen), -ENOENT);
}

// Only web addresses, checked before anything goes out.
TEST_F(CurlDownload, OnlyHttpAndHttpsAddresses) {
  // The first where the test server listens: a client speaking FTP would reach it.
  const std::string urls[] = {"ftp" + Url("/x").substr(4), "file:///etc/hostname",
                              Url("/x").substr(7), "", "httpx://127.0.0.1/"};
  for (const std::string& url : urls) {
    SCOPED_TRACE(url);
    Seen seen;
    EXPECT_EQ(Download(url, Path("file"), &seen), kCurlFailure - CURLE_UNSUPPORTED_PROTOCOL);
    EXPECT_EQ(Contents(Path("file")), "(none)");
    std::string body = "untouched";
    EXPECT_EQ(DownloadToMemory(url, 1000, &body, nullptr),
              kCurlFailure - CURLE_UNSUPPORTED_PROTOCOL);
  }
  EXPECT_EQ(server_.Connections(), 0);
}

// A body that keeps coming, a byte at a time, fails at the time given for the whole transfer.
TEST_F(CurlDownload, TricklingBodyFailsAtTheTotalTime) {
  TestHttpServer::Route trickle = Reply(200, std::string(200, 't'), Body::kTrickle);
  trickle.trickleMilliseconds = 50;  // ten seconds in all
  server_.Serve("/trickle", trickle);
  Seen seen;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Download(Url("/trickle"), Path("file"), &seen, nullptr, kNoLimit, 1000),
            kCurlFailure - CURLE_OPERATION_TIMEDOUT);
  std::string body;
  EXPECT_EQ(DownloadToMemory(Url("/trickle"), 1000, &body, nullptr, 1000),
            kCurlFailure - CURLE_OPERATION_TIMEDOUT);
  // Both ended long before the body would have: the bytes came, none stalled 30 s.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(9));
  ASSERT_FALSE(seen.progress.empty());
  EXPECT_LT(seen.progress.back().first, 200u);
}

// HTTPS: the server's certificate must come from a trusted authority, and what began over TLS
// never goes on without it.
TEST_F(CurlDownload, SecureTransfers) {
  if (!TestHttpServer::HasTestCertificates()) {
    GTEST_SKIP() << "built without the test certificates (SORVEL_TEST_CA)";
  }
  using Certificate = TestHttpServer::Certificate;
  ASSERT_TRUE(server_.StartTls(Certificate::kTrusted));
  ASSERT_TRUE(server_.StartTls(Certificate::kUnknownAuthority));
  const std::string data = Bytes(100000);
  server_.Serve("/data", Reply(200, data));
  server_.Serve("/down", Reply(302, "", Body::kWithLength, Url("/data")));
  server_.Serve("/up", Reply(302, "", Body::kWithLength, SecureUrl("/data")));
  server_.Serve("/along", Reply(301, "", Body::kWithLength, "/data"));
  server_.Serve("/to-ftp", Reply(302, "", Body::kWithLength, "ftp://127.0.0.1:1/x"));
  struct Case {
    std::string url;
    std::int32_t result;
  } cases[] = {
      {SecureUrl("/data"), 0},
      {SecureUrl("/along"), 0},
      {Url("/up"), 0},
      {SecureUrl("/data", Certificate::kUnknownAuthority),
       kCurlFailure - CURLE_PEER_FAILED_VERIFICATION},
      {SecureUrl("/down"), kCurlFailure - CURLE_UNSUPPORTED_PROTOCOL},
      // Only HTTP, also where a redirect points.
      {Url("/to-ftp"), kCurlFailure - CURLE_UNSUPPORTED_PROTOCOL},
      {"http://127.0.0.1:1/", kCurlFailure - CURLE_COULDNT_CONNECT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    const int before = server_.Requests("/data");
    Seen seen;
    const std::string path = Path("file");
    std::remove(path.c_str());
    EXPECT_EQ(Download(c.url, path, &seen), c.result);
    EXPECT_TRUE(Contents(path) == (c.result == 0 ? data : "(none)"));
    std::string body;
    EXPECT_EQ(DownloadToMemory(c.url, data.size(), &body, nullptr), c.result);
    // A refused server or redirect is never asked for the data.
    EXPECT_EQ(server_.Requests("/data") - before, c.result == 0 ? 2 : 0);
  }
}

// The library loaded at the first transfer: whole, or not at all with the reason.
TEST(CurlLibraryLoad, WholeOrNotAtAll) {
  struct Case {
    const char* file;
    bool loaded;
    std::string why;  // part of the reason given
  } cases[] = {
      {kCurlLibraryFile, true, ""},
      {"libsorvel-absent.so.9", false, "libsorvel-absent.so.9"},
      // A library that opens but is not libcurl.
      {"libz.so.1", false, "curl_global_init is missing in libz.so.1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    CurlLibrary library;
    std::string why;
    EXPECT_EQ(LoadCurlLibrary(c.file, &library, &why), c.loaded);
    EXPECT_NE(why.find(c.why), std::string::npos) << why;
    const bool taken[] = {library.globalInit != nullptr,     library.easyInit != nullptr,
                          library.easySetopt != nullptr,     library.easyGetinfo != nullptr,
                          library.easyCleanup != nullptr,    library.slistAppend != nullptr,
                          library.slistFreeAll != nullptr,   library.multiInit != nullptr,
                          library.multiAddHandle != nullptr, library.multiRemoveHandle != nullptr,
                          library.multiPerform != nullptr,   library.multiPoll != nullptr,
                          library.multiWakeup != nullptr,    library.multiInfoRead != nullptr,
                          library.multiCleanup != nullptr};
    for (bool each : taken) EXPECT_EQ(each, c.loaded);
  }
}

}  // namespace
}  // namespace sorvel::x11
