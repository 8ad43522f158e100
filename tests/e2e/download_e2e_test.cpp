// Downloads of the win32 backend against a loopback server: what counts as success, what the
// file holds afterwards, the progress reports, and the caller's windows answering meanwhile.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "platform/win32/win32_platform.h"
#include "tests/e2e/e2e_support.h"
#include "tests/e2e/http_server.h"

namespace sorvel {
namespace {

using Body = TestHttpServer::Body;

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

// The whole file; empty when it cannot be read.
std::string Contents(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  std::string bytes;
  char buffer[65536];
  DWORD got = 0;
  while (::ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
    bytes.append(buffer, got);
  CloseHandle(file);
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
  std::int32_t Download(const std::string& urlPath, const std::wstring& path) {
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
    return platform_->DownloadToFile(TextOf(server_.Url(urlPath)), TextOf(path), progress);
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
  TestHttpServer::Route html = Reply(200, page);
  html.contentType = "text/html";
  server_.Serve("/page", html);
  server_.Serve("/error", Reply(500, "<html>failure</html>"));
  server_.Serve("/truncated", Reply(200, body, Body::kTruncated));
  struct Case {
    const char* path;
    bool ok;
    std::string content;  // what the file holds afterwards
    std::uint64_t total;  // announced in the reports
  } cases[] = {
      {"/length", true, body, body.size()},
      {"/nolength", true, body, 0},
      {"/moved", true, body, body.size()},
      {"/page", true, page, page.size()},
      {"/missing", false, "", 0},
      {"/error", false, "", 0},
      // What arrived stays in the file.
      {"/truncated", false, body.substr(0, body.size() / 2), body.size()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    std::wstring file = folder_ + L"\\im.exe";
    DeleteFileW(file.c_str());
    std::int32_t result = Download(c.path, file);
    EXPECT_EQ(result >= 0, c.ok) << result;
    EXPECT_TRUE(Contents(file) == c.content);
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
  EXPECT_EQ(server_.Requests("/length"), 2);  // once directly, once redirected
}

TEST_F(DownloadTest, UnwritableDestinationFails) {
  server_.Serve("/file", Reply(200, Bytes(1000)));
  EXPECT_LT(Download("/file", folder_ + L"\\no such folder\\im.exe"), 0);
  EXPECT_LT(Download("/file", folder_), 0);  // a folder
}

// A server that stops sending ends the download after the receive time-out; until then the
// calling thread dispatches its messages to its dialogs, pre-translation included.
TEST_F(DownloadTest, StalledServerFailsWhileTheDialogAnswers) {
  struct Sink : DialogSink {
    void OnDialogCreated(HWND) override {}
    bool OnMessage(Message& m) override {
      if (m.message == kWmTimer) ++ticks;
      return false;
    }
    bool PreTranslateMessage(const Message& m) override {
      if (m.message == kWmTimer) ++pretranslated;
      return false;
    }
    bool ModalRunEnded() const override { return false; }
    int ticks = 0;
    int pretranslated = 0;
  } sink;
  DialogTemplate dialog{1, 100, 40, kWsPopup | kWsCaption, u"Transfer", u"Tahoma", 8, {}};
  HWND window = platform_->CreateDialogWindow(dialog, nullptr, &sink);
  ASSERT_NE(window, nullptr);
  platform_->SetTimer(window, 1, 100);
  const std::string body = Bytes(200000);
  server_.Serve("/stalled", Reply(200, body, Body::kStalled));

  std::wstring file = folder_ + L"\\im.exe";
  std::int32_t result = Download("/stalled", file);
  EXPECT_LT(result, 0);
  EXPECT_GT(sink.ticks, 10);
  EXPECT_EQ(sink.pretranslated, sink.ticks);
  ASSERT_FALSE(reports_.empty());
  EXPECT_EQ(reports_.back().received, body.size() / 2);
  EXPECT_TRUE(Contents(file) == body.substr(0, body.size() / 2));
  platform_->DestroyWindow(window);
}

// A quit message ends the download at once and is posted again for the loops outside.
TEST_F(DownloadTest, QuitMessageCancels) {
  server_.Serve("/stalled", Reply(200, Bytes(200000), Body::kStalled));
  std::int32_t result =
      platform_->DownloadToFile(TextOf(server_.Url("/stalled")), TextOf(folder_ + L"\\im.exe"),
                                [](std::uint64_t, std::uint64_t) { PostQuitMessage(7); });
  EXPECT_LT(result, 0);
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 7u);
}

TEST_F(DownloadTest, ToMemory) {
  const std::string body = Bytes(1000);
  server_.Serve("/length", Reply(200, body));
  server_.Serve("/nolength", Reply(200, body, Body::kWithoutLength));
  server_.Serve("/truncated", Reply(200, body, Body::kTruncated));
  struct Case {
    const char* path;
    std::size_t limit;
    bool ok;
  } cases[] = {
      {"/length", 1000, true},   {"/length", 999, false},     {"/nolength", 1000, true},
      {"/nolength", 999, false}, {"/truncated", 1000, false}, {"/missing", 1000, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " limit " + std::to_string(c.limit));
    std::string received = "unchanged";
    std::int32_t result =
        platform_->DownloadToMemory(TextOf(server_.Url(c.path)), c.limit, &received);
    EXPECT_EQ(result >= 0, c.ok) << result;
    EXPECT_TRUE(received == (c.ok ? body : "unchanged"));
  }
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
