// Downloads of the win32 backend against a loopback server: what counts as success, what the
// file holds afterwards, the progress reports, and the caller's windows answering meanwhile.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <vector>

#include "platform/win32/win32_download.h"
#include "platform/win32/win32_platform.h"
#include "tests/e2e/e2e_support.h"
#include "tests/e2e/http_server.h"

namespace sorvel {
namespace {

using Body = TestHttpServer::Body;
using Certificate = TestHttpServer::Certificate;

constexpr std::uint64_t kNoLimit = ~std::uint64_t{0};

Text TextOf(const std::wstring& text) {
  return Text(reinterpret_cast<const char16_t*>(text.c_str()));
}

std::string Bytes(std::size_t size) {
  std::string bytes(size, '\0');
  std::uint32_t x = 12345;
  for (char& c : bytes) {
    x = x * 1103515245 + 12345;
    c = static_cast<char>(x >> 16);
  }
  return bytes;
}

struct Report {
  std::uint64_t received;
  std::uint64_t total;
};

class DownloadTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.Ok()); }

  // Downloads into `path`, keeping the progress reports; checks that each report runs on this
  // thread and brings news.
  std::int32_t Download(const std::wstring& url, const std::wstring& path,
                        std::uint64_t limit = kNoLimit,
                        unsigned total = win32::kFileTransferLimitMilliseconds) {
    reports_.clear();
    DWORD thread = GetCurrentThreadId();
    auto progress = [&](std::uint64_t received, std::uint64_t total) {
      EXPECT_EQ(GetCurrentThreadId(), thread);
      if (!reports_.empty()) {
        EXPECT_GT(received, reports_.back().received);
      }
      reports_.push_back({received, total});
      // A slow first report: much of the body arrives before the next one.
      if (reports_.size() == 1) Sleep(100);
    };
    return platform_->DownloadToFile(TextOf(url), TextOf(path), limit, progress, total);
  }

  TestHttpServer server_;  // outlives the platform, whose end waits for its workers
  std::unique_ptr<Win32Platform> platform_ = std::make_unique<Win32Platform>();
  std::wstring folder_ = e2e::MakeTestFolder();
  std::vector<Report> reports_;
};

TEST_F(DownloadTest, ResponseKinds) {
  const std::string body = Bytes(300000);
  const std::string page = "<html><body>Moved elsewhere</body></html>";
  server_.Serve("/length", Reply(200, body));
  server_.Serve("/nolength", Reply(200, body, Body::kWithoutLength));
  server_.Serve("/moved", Reply(302, "", Body::kWithLength, "/length"));
  server_.Serve("/page", Reply(200, page, Body::kWithLength, "", "text/html"));
  server_.Serve("/error", Reply(500, "<html>failure</html>"));
  server_.Serve("/truncated", Reply(200, body, Body::kTruncated));
  struct Case {
    const char* path;
    bool ok;
    std::string content;  // what the file holds afterwards
    std::uint64_t total;  // announced in the reports
    std::uint64_t limit = kNoLimit;
    bool cut = false;  // the file holds what came before the piece that passed the limit
  } cases[] = {
      {"/length", true, body, body.size()},
      {"/nolength", true, body, 0},
      {"/moved", true, body, body.size()},
      {"/page", true, page, page.size()},
      {"/missing", false, "", 0},
      {"/error", false, "", 0},
      // What arrived stays in the file.
      {"/truncated", false, body.substr(0, body.size() / 2), body.size()},
      {"/length", true, body, body.size(), body.size()},
      // An announced length beyond the limit fails before the file is made; a body without one
      // stops where it would pass the limit.
      {"/length", false, "", 0, body.size() - 1},
      {"/nolength", false, "", 0, 100000, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    std::wstring file = folder_ + L"\\im.exe";
    DeleteFileW(file.c_str());
    std::int32_t result = Download(server_.Url(c.path), file, c.limit);
    EXPECT_EQ(result >= 0, c.ok) << result;
    // Into memory, within the same limit: all or nothing.
    std::string received = "unchanged";
    std::int32_t inMemory = platform_->DownloadToMemory(
        TextOf(server_.Url(c.path)), std::min<std::uint64_t>(c.limit, 1 << 20), &received);
    EXPECT_EQ(inMemory >= 0, c.ok) << inMemory;
    EXPECT_TRUE(received == (c.ok ? c.content : "unchanged"));
    if (c.cut) {
      const std::string kept = e2e::ReadBytes(file);
      EXPECT_LE(kept.size(), c.limit);
      EXPECT_TRUE(kept == body.substr(0, kept.size()));
      continue;
    }
    EXPECT_TRUE(e2e::ReadBytes(file) == c.content);
    if (c.content.empty()) {
      EXPECT_TRUE(reports_.empty());
      continue;
    }
    ASSERT_FALSE(reports_.empty());
    EXPECT_EQ(reports_.back().received, c.content.size());
    std::set<std::uint64_t> percents;
    for (const Report& report : reports_) {
      EXPECT_EQ(report.total, c.total);
      if (report.total != 0) percents.insert(report.received * 100 / report.total);
    }
    if (c.ok && c.total >= 100) {
      // However late this thread looks, no percent goes unreported (where a byte is no more).
      for (std::uint64_t percent = 1; percent <= 100; ++percent) {
        EXPECT_EQ(percents.count(percent), 1u) << percent << "%";
      }
    }
  }
  // Directly, redirected, at and over the limit, each into a file and into memory.
  EXPECT_EQ(server_.Requests("/length"), 8);
}

// Whatever lies at the path is replaced by a file of our own; addresses other than web ones
// fail before anything goes out.
TEST_F(DownloadTest, FileIsMadeAnewOnlyFromWebAddresses) {
  server_.Serve("/file", Reply(200, "new program"));
  const std::wstring file = folder_ + L"\\im.exe";
  struct Case {
    std::wstring url;
    const char* leftover;  // the file at the path before; null for none
    bool ok;
  } cases[] = {
      {server_.Url("/file"), nullptr, true},
      {server_.Url("/file"), "old program", true},
      // Where the test server listens: a client speaking another protocol would reach it.
      {L"ftp" + server_.Url("/file").substr(4), "old program", false},
      {L"file:///C:/windows/win.ini", "old program", false},
      {L"127.0.0.1/file", "old program", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.url.begin(), c.url.end()));
    DeleteFileW(file.c_str());
    if (c.leftover != nullptr) {
      HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
      DWORD written = 0;
      WriteFile(h, c.leftover, static_cast<DWORD>(strlen(c.leftover)), &written, nullptr);
      CloseHandle(h);
    }
    const int connections = server_.Connections();
    EXPECT_EQ(Download(c.url, file) >= 0, c.ok);
    EXPECT_TRUE(e2e::ReadBytes(file) == (c.ok ? "new program" : c.leftover));
    EXPECT_EQ(server_.Connections() - connections, c.ok ? 1 : 0);
  }
}

// A body that keeps coming, a byte at a time, fails at the time given for the whole transfer.
TEST_F(DownloadTest, TricklingBodyFailsAtTheTotalTime) {
  TestHttpServer::Route trickle = Reply(200, std::string(200, 't'), Body::kTrickle);
  trickle.trickleMilliseconds = 50;  // ten seconds in all
  server_.Serve("/trickle", trickle);
  ULONGLONG start = GetTickCount64();
  EXPECT_EQ(Download(server_.Url("/trickle"), folder_ + L"\\im.exe", kNoLimit, 1000),
            win32::kTransferTimedOut);
  std::string body;
  EXPECT_EQ(platform_->DownloadToMemory(TextOf(server_.Url("/trickle")), 1000, &body, 1000),
            win32::kTransferTimedOut);
  // Both ended long before the body would have: the bytes came, none stalled 30 s.
  EXPECT_LT(GetTickCount64() - start, 9000u);
  ASSERT_FALSE(reports_.empty());
  EXPECT_LT(reports_.back().received, 200u);
}

// HTTPS: the server's certificate must come from an authority the system trusts, and what
// began over TLS never goes on without it.
TEST_F(DownloadTest, SecureTransfers) {
  if (!TestHttpServer::HasTestCertificates()) {
    GTEST_SKIP() << "built without the test certificates (SORVEL_TEST_CA)";
  }
  ASSERT_TRUE(server_.StartTls(Certificate::kTrusted));
  ASSERT_TRUE(server_.StartTls(Certificate::kUnknownAuthority));
  const std::string data = Bytes(100000);
  server_.Serve("/data", Reply(200, data));
  const std::wstring plain = server_.Url("/data");
  const std::wstring secure = server_.SecureUrl("/data");
  server_.Serve("/down",
                Reply(302, "", Body::kWithLength, std::string(plain.begin(), plain.end())));
  server_.Serve("/up",
                Reply(302, "", Body::kWithLength, std::string(secure.begin(), secure.end())));
  server_.Serve("/along", Reply(301, "", Body::kWithLength, "/data"));
  struct Case {
    std::wstring url;
    bool ok;
  } cases[] = {
      {server_.SecureUrl("/data"), true},
      {server_.SecureUrl("/along"), true},
      {server_.Url("/up"), true},
      {server_.SecureUrl("/data", Certificate::kUnknownAuthority), false},
      {server_.SecureUrl("/down"), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.url.begin(), c.url.end()));
    const int before = server_.Requests("/data");
    const std::wstring file = folder_ + L"\\im.exe";
    DeleteFileW(file.c_str());
    std::int32_t result = Download(c.url, file);
    EXPECT_EQ(result >= 0, c.ok) << result;
    EXPECT_TRUE(e2e::ReadBytes(file) == (c.ok ? data : ""));
    std::string body;
    result = platform_->DownloadToMemory(TextOf(c.url), data.size(), &body);
    EXPECT_EQ(result >= 0, c.ok) << result;
    // A refused server or redirect is never asked for the data.
    EXPECT_EQ(server_.Requests("/data") - before, c.ok ? 2 : 0);
  }
}

// A dialog's sink that counts its timer messages, pre-translated and handled. With `download`,
// the first one runs it and the next ends the dialog's modal run, as a close would.
struct Sink : DialogSink {
  void OnDialogCreated(HWND) override {}
  bool OnMessage(Message& m) override {
    if (m.message != kWmTimer) return false;
    if (++ticks == 1 && download) {
      result = download();
      returned = GetTickCount64();
    } else if (download && !ended) {
      ended = true;
      endedAt = GetTickCount64();
    }
    return false;
  }
  bool PreTranslateMessage(const Message& m) override {
    if (m.message == kWmTimer) ++pretranslated;
    return false;
  }
  bool ModalRunEnded() const override { return ended; }
  std::function<std::int32_t()> download;
  int ticks = 0, pretranslated = 0;
  bool ended = false;
  std::int32_t result = 0;
  ULONGLONG endedAt = 0, returned = 0;
};

// A server that stops sending ends the download after the receive time-out; until then the
// calling thread dispatches its messages to its dialogs, pre-translation included. Closing the
// dialog whose modal run a download dispatches for ends the download at once.
TEST_F(DownloadTest, StalledServerFailsWhileTheDialogAnswersAndItsEndCancels) {
  const std::string body = Bytes(200000);
  server_.Serve("/stalled", Reply(200, body, Body::kStalled));
  for (bool modal : {false, true}) {
    SCOPED_TRACE(modal ? "modal run ended" : "stalled");
    // The stalled transfer keeps its file open until the server ends.
    const std::wstring file = folder_ + (modal ? L"\\modal.exe" : L"\\im.exe");
    Sink sink;
    if (modal) sink.download = [&] { return Download(server_.Url("/stalled"), file); };
    DialogTemplate dialog{1, 100, 40, kWsPopup | kWsCaption, u"Transfer", u"Tahoma", 8, {}};
    HWND window = platform_->CreateDialogWindow(dialog, nullptr, &sink);
    ASSERT_NE(window, nullptr);
    platform_->SetTimer(window, 1, modal ? 200 : 100);
    if (modal) {
      EXPECT_TRUE(platform_->RunModalLoop(window, nullptr, &sink));
      EXPECT_EQ(sink.result, win32::kTransferCancelled);
      EXPECT_LT(sink.returned - sink.endedAt, 2000u);
    } else {
      EXPECT_LT(Download(server_.Url("/stalled"), file), 0);
      EXPECT_GT(sink.ticks, 10);
      EXPECT_EQ(sink.pretranslated, sink.ticks);
      ASSERT_FALSE(reports_.empty());
      EXPECT_EQ(reports_.back().received, body.size() / 2);
      EXPECT_TRUE(e2e::ReadBytes(file) == body.substr(0, body.size() / 2));
    }
    platform_->DestroyWindow(window);
  }
}

TEST_F(DownloadTest, UnwritableDestinationFails) {
  server_.Serve("/file", Reply(200, Bytes(1000)));
  EXPECT_LT(Download(server_.Url("/file"), folder_ + L"\\no such folder\\im.exe"), 0);
  EXPECT_LT(Download(server_.Url("/file"), folder_), 0);  // a folder
}

// A quit message ends the download at once and is posted again for the loops outside.
TEST_F(DownloadTest, QuitMessageCancels) {
  server_.Serve("/stalled", Reply(200, Bytes(200000), Body::kStalled));
  std::int32_t result =
      platform_->DownloadToFile(TextOf(server_.Url("/stalled")), TextOf(folder_ + L"\\im.exe"),
                                kNoLimit, [](std::uint64_t, std::uint64_t) { PostQuitMessage(7); });
  EXPECT_LT(result, 0);
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 7u);
}

// Work runs on a thread of its own; the platform's end cancels its download and waits for it.
TEST_F(DownloadTest, WorkerEndsBeforeThePlatform) {
  server_.Serve("/stalled", Reply(200, Bytes(1000), Body::kStalled));
  std::atomic<DWORD> thread{0};
  std::atomic<std::int32_t> result{1};
  std::atomic<bool> done{false};
  ASSERT_TRUE(platform_->StartWorker([&] {
    thread = GetCurrentThreadId();
    std::string body;
    result = platform_->DownloadToMemory(TextOf(server_.Url("/stalled")), 4096, &body);
    Sleep(200);  // the end waits for the work, not only for its download
    done = true;
  }));
  ASSERT_TRUE(e2e::WaitFor([&] { return server_.Requests("/stalled") == 1; }, 10000));
  platform_.reset();
  EXPECT_TRUE(done);
  EXPECT_LT(result, 0);
  EXPECT_NE(thread, GetCurrentThreadId());
}

}  // namespace
}  // namespace sorvel
