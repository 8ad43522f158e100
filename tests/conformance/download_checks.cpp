#include "tests/conformance/download_checks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <set>
#include <system_error>
#include <thread>
#include <vector>

namespace sorvel::conformance {
namespace {

namespace fs = std::filesystem;
using Body = TestHttpServer::Body;
using Certificate = TestHttpServer::Certificate;
constexpr std::uint64_t kNoLimit = ~std::uint64_t{0};

// ASCII text as another kind of string.
template <typename To = Text, typename From>
To As(const From& text) {
  return To(text.begin(), text.end());
}

std::uint64_t Now() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::string Bytes(std::size_t size) {
  std::mt19937 random(7);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

// Read and written past the platform, sharing the file with a transfer that still holds it.
std::string Contents(const Text& path) {
  std::ifstream in(fs::path(path), std::ios::binary);
  if (!in) return "(none)";
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
void Write(const Text& path, const std::string& text) {
  std::ofstream(fs::path(path), std::ios::binary) << text;
}

void ExpectResult(DownloadEnvironment& environment, std::int32_t result, Outcome outcome) {
  const std::int32_t expected = environment.Expected().*outcome;
  if (expected == kAnyFailure) {
    EXPECT_LT(result, 0);
  } else {
    EXPECT_EQ(result, expected);
  }
}

struct Report {
  std::uint64_t received, total;
};

// Keeps the reports; checks that each runs on the calling thread and brings news. The first is
// slow: much of the body arrives before the next one.
DownloadProgress Reporter(std::vector<Report>* reports) {
  return
      [reports, thread = std::this_thread::get_id()](std::uint64_t received, std::uint64_t total) {
        EXPECT_EQ(std::this_thread::get_id(), thread);
        EXPECT_GT(received, reports->empty() ? 0 : reports->back().received);
        reports->push_back({received, total});
        if (reports->size() == 1) std::this_thread::sleep_for(std::chrono::milliseconds(100));
      };
}

Text In(DownloadEnvironment& environment, const char16_t* name) {
  return environment.Folder() + environment.Device().Files().Separator() + name;
}

// A modal run of a dialog of its own that takes a timer message every 100 ms, counting them
// pre-translated and handled: the first runs `download`; the next, or the first without one,
// ends the run as a close would.
struct TimedRun : DialogSink {
  bool Run(Platform& device) {
    DialogTemplate dialog{1, 100, 40, kWsPopup | kWsCaption, u"Transfer", u"Tahoma", 8, {}};
    HWND window = device.CreateDialogWindow(dialog, nullptr, this);
    EXPECT_NE(window, nullptr);
    device.SetTimer(window, 1, 100);
    const bool run = device.RunModalLoop(window, nullptr, this);
    device.DestroyWindow(window);
    return run;
  }
  void OnDialogCreated(HWND) override {}
  bool OnMessage(Message& m) override {
    if (m.message != kWmTimer) return false;
    if (++ticks == 1 && download) {
      result = download();
      returned = Now();
    } else if (!ended) {
      ended = true;
      endedAt = Now();
    }
    return false;
  }
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

}  // namespace

// Into a file and into memory, by the server's answer, the address, the limit and what lies at
// the path.
void CheckTransfersEndAsTheServerAddressAndPathAllow(DownloadEnvironment& environment) {
  Platform& device = environment.Device();
  TestHttpServer& server = environment.Server();
  const std::string big = Bytes(1000003), data = Bytes(100000), earlier = "the earlier file";
  const std::string page = "<html><body>Maintenance</body></html>";
  for (auto [path, route] :
       {std::pair<const char*, TestHttpServer::Route>{"/length", Reply(200, big)},
        {"/no-length", Reply(200, big, Body::kWithoutLength)},
        {"/moved", Reply(302, "<html>moved</html>", Body::kWithLength, "/length")},
        {"/fault", Reply(500, "<html>fault</html>")},
        {"/page", Reply(200, page, Body::kWithLength, "", "text/html")},
        {"/empty", Reply(200, "")},
        {"/short", Reply(200, big, Body::kTruncated)},
        // Left unread by the refusals: small enough for the sockets' buffers.
        {"/part", Reply(200, big.substr(0, 300000))},
        {"/part-no-length", Reply(200, big.substr(0, 300000), Body::kWithoutLength)},
        {"/file", Reply(200, "new program")},
        {"/to-ftp", Reply(302, "", Body::kWithLength, "ftp://127.0.0.1:1/x")},
        {"/data", Reply(200, data)},
        {"/down", Reply(302, "", Body::kWithLength, As<std::string>(server.Url("/data")))},
        {"/along", Reply(301, "", Body::kWithLength, "/data")}}) {
    server.Serve(path, route);
  }
  const auto url = [&](const char* path) { return As<std::string>(server.Url(path)); };
  const Text file = In(environment, u"im.exe"), victim = In(environment, u"victim");
  const Text nowhere = In(environment, u"nowhere");
  enum Leftover { kNothing, kEarlier, kLink, kDanglingLink };
  struct Case {
    std::string url;
    Outcome outcome;
    std::string after;    // the file afterwards
    std::uint64_t total;  // in every progress report
    int asked = 0;        // requests that reach "/data"
    std::uint64_t limit = kNoLimit;
    Leftover leftover = kEarlier;  // at the path before
    Text path = Text();            // when not `file`
  };
  std::vector<Case> cases = {
      {url("/length"), &Results::done, big, big.size()},
      {url("/no-length"), &Results::done, big, 0},
      {url("/moved"), &Results::done, big, big.size()},
      {url("/missing"), &Results::notFound, earlier, 0},
      {url("/fault"), &Results::serverError, earlier, 0},
      {url("/page"), &Results::done, page, page.size()},
      {url("/empty"), &Results::done, "", 0},
      // What arrived stays in the file.
      {url("/short"), &Results::shortBody, big.substr(0, big.size() / 2), big.size()},
      {url("/length"), &Results::done, big, big.size(), 0, big.size()},
      // An announced length beyond the limit fails before the file is touched; a body without
      // one stops as it passes the limit, nothing beyond it written.
      {url("/part"), &Results::tooBig, earlier, 0, 0, 300000 - 1},
      {url("/part-no-length"), &Results::tooBig, "", 0, 0, 100000},
      // Whatever lies at the path is replaced by a file of our own, never written through.
      {url("/file"), &Results::done, "new program", 11, 0, kNoLimit, kNothing},
      {url("/file"), &Results::done, "new program", 11, 0, kNoLimit, kLink},
      {url("/file"), &Results::done, "new program", 11, 0, kNoLimit, kDanglingLink},
      // Only web addresses, also where a redirect points. The first where the test server
      // listens: a client speaking FTP would reach it.
      {"ftp" + url("/file").substr(4), &Results::notWeb, earlier, 0},
      {"file:///etc/hostname", &Results::notWeb, earlier, 0},
      {url("/file").substr(7), &Results::notWeb, earlier, 0},
      {"", &Results::notWeb, earlier, 0},
      {"httpx://127.0.0.1/", &Results::notWeb, earlier, 0},
      {url("/to-ftp"), &Results::notWeb, earlier, 0},
      {"http://127.0.0.1:1/", &Results::noConnection, earlier, 0},
      // A path where no file can be made.
      {url("/file"), &Results::noFolder, "", 0, 0, kNoLimit, kNothing,
       In(environment, u"no such folder") + device.Files().Separator() + u"im.exe"},
      {url("/file"), &Results::failed, "", 0, 0, kNoLimit, kNothing, environment.Folder()},
  };
  // HTTPS: the server's certificate must come from an authority the system trusts, and what
  // began over TLS never goes on without it.
  if (TestHttpServer::HasTestCertificates()) {
    ASSERT_TRUE(server.StartTls(Certificate::kTrusted));
    ASSERT_TRUE(server.StartTls(Certificate::kUnknownAuthority));
    const std::string secure = As<std::string>(server.SecureUrl("/data"));
    server.Serve("/up", Reply(302, "", Body::kWithLength, secure));
    cases.insert(
        cases.end(),
        {{secure, &Results::done, data, data.size(), 2},
         {As<std::string>(server.SecureUrl("/along")), &Results::done, data, data.size(), 2},
         {url("/up"), &Results::done, data, data.size(), 2},
         {As<std::string>(server.SecureUrl("/data", Certificate::kUnknownAuthority)),
          &Results::untrusted, earlier, 0},
         {As<std::string>(server.SecureUrl("/down")), &Results::httpsToHttp, earlier, 0}});
  }
  for (const Case& c : cases) {
    const Text path = c.path.empty() ? file : c.path;
    SCOPED_TRACE(c.url + " into " + ToUtf8(path) + " leftover " + std::to_string(c.leftover));
    fs::remove(fs::path(file));
    Write(victim, "someone else's");
    if (c.leftover == kEarlier) Write(file, earlier);
    std::error_code error;
    if (c.leftover >= kLink) {
      fs::create_symlink(fs::path(c.leftover == kLink ? victim : nowhere), fs::path(file), error);
    }
    if (error) {
      std::printf("no symbolic link here: %s\n", error.message().c_str());
      continue;
    }
    const int connections = server.Connections(), asked = server.Requests("/data");
    std::vector<Report> reports;
    ExpectResult(environment, device.DownloadToFile(As(c.url), path, c.limit, Reporter(&reports)),
                 c.outcome);
    if (path != file) continue;
    // Into memory the same, the body whole or untouched.
    std::string body = "untouched";
    ExpectResult(
        environment,
        device.DownloadToMemory(As(c.url), std::min<std::uint64_t>(c.limit, 2 * big.size()), &body),
        c.outcome);
    EXPECT_TRUE(body == (c.outcome == &Results::done ? c.after : "untouched"));
    // Nothing goes out for an address other than a web one; a refused server or redirect is
    // never asked for the data.
    if (c.url.rfind("http://", 0) != 0 && c.url.rfind("https://", 0) != 0) {
      EXPECT_EQ(server.Connections(), connections);
    }
    EXPECT_EQ(server.Requests("/data") - asked, c.asked);
    EXPECT_EQ(Contents(victim), "someone else's");
    EXPECT_EQ(Contents(nowhere), "(none)");
    if (c.after.empty() && c.outcome == &Results::tooBig) {
      // What came before the piece that passed the limit.
      const std::string kept = Contents(file);
      EXPECT_LE(kept.size(), c.limit);
      EXPECT_TRUE(kept == big.substr(0, kept.size()));
      continue;
    }
    EXPECT_TRUE(Contents(file) == c.after);
    // The last report tells the whole file; however late this thread looks, every percent of
    // a known total is reported.
    std::set<std::uint64_t> totals, percents;
    for (const Report& report : reports) {
      totals.insert(report.total);
      if (report.total != 0) percents.insert(report.received * 100 / report.total);
    }
    EXPECT_EQ(totals, reports.empty() ? std::set<std::uint64_t>{} : std::set{c.total});
    EXPECT_EQ(reports.empty() ? 0 : reports.back().received,
              c.after == earlier ? 0 : c.after.size());
    if (c.outcome == &Results::done && c.total >= 100) {
      EXPECT_EQ(percents.size() - percents.count(0), 100u);
    }
  }
}

// A body that keeps coming a byte at a time fails at the time given for the whole transfer; one
// that stops coming, after 30 s without data, sooner than its time in all.
void CheckStallAndTimeInAllEndTheTransfer(DownloadEnvironment& environment) {
  TestHttpServer& server = environment.Server();
  server.Serve("/trickle", Reply(200, std::string(200, 't'), Body::kTrickle));  // 10 s in all
  server.Serve("/stalled", Reply(200, Bytes(200000), Body::kStalled));
  const Text url = As(server.Url("/trickle"));
  std::vector<Report> reports;
  std::uint64_t start = Now();
  ExpectResult(
      environment,
      environment.DownloadToFileWithin(url, In(environment, u"trickled"), Reporter(&reports), 1000),
      &Results::timedOut);
  std::string body;
  ExpectResult(environment, environment.DownloadToMemoryWithin(url, 1000, &body, 1000),
               &Results::timedOut);
  // Both ended long before the body would have: the bytes came, none stalled 30 s.
  EXPECT_LT(Now() - start, 9000u);
  ASSERT_FALSE(reports.empty());
  EXPECT_LT(reports.back().received, 200u);
  start = Now();
  ExpectResult(environment,
               environment.Device().DownloadToMemory(As(server.Url("/stalled")), 200000, &body),
               &Results::timedOut);
  EXPECT_GE(Now() - start, 29500u);
  EXPECT_LT(Now() - start, 33000u);
}

// Closing the dialog whose modal run a download dispatches for ends the download at once (the
// run's messages dispatched meanwhile); so does a quit message, which is posted again for the
// loops outside. Work runs on a thread of its own; the platform's end cancels its download,
// waits for it and lets no transfer start.
void CheckModalRunEndQuitMessageAndThePlatformsEndCancel(DownloadEnvironment& environment) {
  Platform& device = environment.Device();
  TestHttpServer& server = environment.Server();
  server.Serve("/stalled", Reply(200, Bytes(200000), Body::kStalled));
  const Text url = As(server.Url("/stalled"));
  TimedRun modal;
  // The stalled transfers keep their files open until the server ends.
  modal.download = [&] {
    return device.DownloadToFile(url, In(environment, u"modal"), kNoLimit,
                                 [](std::uint64_t, std::uint64_t) {});
  };
  EXPECT_TRUE(modal.Run(device));
  ExpectResult(environment, modal.result, &Results::cancelled);
  EXPECT_LT(modal.returned - modal.endedAt, 2000u);
  if (environment.PreTranslatesTimers()) {
    EXPECT_EQ(modal.pretranslated, modal.ticks);
  }
  ExpectResult(environment,
               device.DownloadToFile(
                   url, In(environment, u"quit"), kNoLimit,
                   [&](std::uint64_t, std::uint64_t) { device.PostMessage(nullptr, kWmQuit); }),
               &Results::cancelled);
  EXPECT_FALSE(TimedRun().Run(device));

  std::atomic<bool> elsewhere{false}, done{false};
  std::atomic<std::int32_t> first{1}, second{1};
  ASSERT_TRUE(device.StartWorker([&, main = std::this_thread::get_id()] {
    elsewhere = std::this_thread::get_id() != main;
    std::string body;
    first = device.DownloadToMemory(url, 1 << 20, &body);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the end waits for the work
    second = device.DownloadToMemory(url, 1 << 20, &body);
    done = true;
  }));
  for (const std::uint64_t end = Now() + 10000; server.Requests("/stalled") < 3 && Now() < end;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_EQ(server.Requests("/stalled"), 3);
  environment.EndDevice();
  EXPECT_TRUE(done);
  EXPECT_TRUE(elsewhere);
  ExpectResult(environment, first, &Results::cancelled);
  ExpectResult(environment, second, &Results::cancelled);
  EXPECT_EQ(server.Requests("/stalled"), 3);
}

}  // namespace sorvel::conformance
