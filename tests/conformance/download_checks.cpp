#include "tests/conformance/download_checks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
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

Text Ascii(const std::wstring& text) {
  return Text(text.begin(), text.end());
}
std::string Narrow(const std::wstring& text) {
  return std::string(text.begin(), text.end());
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
  const std::int32_t expected =
      outcome == Outcome::kFailed ? kAnyFailure : environment.Result(outcome);
  if (expected == kAnyFailure) {
    EXPECT_LT(result, 0) << "outcome " << static_cast<int>(outcome);
  } else {
    EXPECT_EQ(result, expected) << "outcome " << static_cast<int>(outcome);
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

}  // namespace

bool TimerSink::OnMessage(Message& m) {
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

HWND CreateTimerDialog(Platform& device, TimerSink* sink, unsigned milliseconds) {
  DialogTemplate dialog{1, 100, 40, kWsPopup | kWsCaption, u"Transfer", u"Tahoma", 8, {}};
  HWND window = device.CreateDialogWindow(dialog, nullptr, sink);
  EXPECT_NE(window, nullptr);
  device.SetTimer(window, 1, milliseconds);
  return window;
}

void CheckFileAndMemoryByTheServersAnswer(DownloadEnvironment& environment) {
  Platform& device = environment.Device();
  TestHttpServer& server = environment.Server();
  const std::string big = Bytes(1000003);
  const std::string page = "<html><body>Maintenance</body></html>";
  const std::string earlier = "the earlier file";
  struct Case {
    const char* path;
    TestHttpServer::Route route;
    Outcome outcome;
    std::string after;    // the file's contents afterwards
    std::uint64_t total;  // the total of every progress report
    std::uint64_t limit = kNoLimit;
  } cases[] = {
      {"/length", Reply(200, big), Outcome::kDone, big, big.size()},
      {"/no-length", Reply(200, big, Body::kWithoutLength), Outcome::kDone, big, 0},
      {"/moved", Reply(302, "<html>moved</html>", Body::kWithLength, "/length"), Outcome::kDone,
       big, big.size()},
      {"/missing", Reply(404, "<html>not here</html>"), Outcome::kNotFound, earlier, 0},
      {"/fault", Reply(500, "<html>fault</html>"), Outcome::kServerError, earlier, 0},
      {"/page", Reply(200, page, Body::kWithLength, "", "text/html"), Outcome::kDone, page,
       page.size()},
      {"/empty", Reply(200, ""), Outcome::kDone, "", 0},
      // What arrived stays in the file.
      {"/short", Reply(200, big, Body::kTruncated), Outcome::kShort, big.substr(0, big.size() / 2),
       big.size()},
      {"/at-limit", Reply(200, big), Outcome::kDone, big, big.size(), big.size()},
      // An announced length beyond the limit fails before the file is touched; a body without
      // one stops as it passes the limit, nothing beyond it written.
      {"/announced-beyond", Reply(200, big), Outcome::kTooBig, earlier, 0, big.size() - 1},
      {"/beyond", Reply(200, big, Body::kWithoutLength), Outcome::kTooBig, "", 0, 100000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    server.Serve(c.path, c.route);
    const Text url = Ascii(server.Url(c.path)), path = In(environment, u"im.exe");
    Write(path, earlier);
    std::vector<Report> reports;
    ExpectResult(environment, device.DownloadToFile(url, path, c.limit, Reporter(&reports)),
                 c.outcome);
    // Into memory the same, the body whole or untouched.
    std::string body = "untouched";
    ExpectResult(
        environment,
        device.DownloadToMemory(url, std::min<std::uint64_t>(c.limit, 2 * big.size()), &body),
        c.outcome);
    EXPECT_TRUE(body == (c.outcome == Outcome::kDone ? c.after : "untouched"));
    EXPECT_EQ(server.Requests(c.path), 2);
    if (c.outcome == Outcome::kTooBig && c.after.empty()) {
      // What came before the piece that passed the limit.
      const std::string kept = Contents(path);
      EXPECT_LE(kept.size(), c.limit);
      EXPECT_TRUE(kept == big.substr(0, kept.size()));
      continue;
    }
    EXPECT_TRUE(Contents(path) == c.after);
    // The last report tells the whole file; however late this thread looks, every percent of
    // a known total is reported.
    std::set<std::uint64_t> percents;
    for (const Report& report : reports) {
      EXPECT_EQ(report.total, c.total);
      if (report.total != 0) percents.insert(report.received * 100 / report.total);
    }
    EXPECT_EQ(reports.empty() ? 0 : reports.back().received,
              c.after == earlier ? 0 : c.after.size());
    for (std::uint64_t percent = 1; c.outcome == Outcome::kDone && c.total >= 100 && percent <= 100;
         ++percent) {
      EXPECT_EQ(percents.count(percent), 1u) << percent << "%";
    }
  }
}

// Whatever lies at the path is replaced by a file of our own, never written through; addresses
// other than web ones fail before anything goes out; a path where no file can be made fails.
void CheckFileIsMadeAnewOnlyFromWebAddresses(DownloadEnvironment& environment) {
  Platform& device = environment.Device();
  TestHttpServer& server = environment.Server();
  server.Serve("/file", Reply(200, "new program"));
  const Text file = In(environment, u"im.exe"), victim = In(environment, u"victim");
  const Text nowhere = In(environment, u"nowhere");
  const std::wstring url = server.Url("/file");
  enum Leftover { kNothing, kFile, kLink, kDanglingLink };
  struct Case {
    std::wstring url;
    Leftover leftover;
    Outcome outcome;
    Text path;
  } cases[] = {
      {url, kNothing, Outcome::kDone, file},
      {url, kFile, Outcome::kDone, file},
      {url, kLink, Outcome::kDone, file},
      {url, kDanglingLink, Outcome::kDone, file},
      // The first where the test server listens: a client speaking FTP would reach it.
      {L"ftp" + url.substr(4), kFile, Outcome::kNotWeb, file},
      {L"file:///etc/hostname", kFile, Outcome::kNotWeb, file},
      {url.substr(7), kFile, Outcome::kNotWeb, file},
      {L"", kFile, Outcome::kNotWeb, file},
      {L"httpx://127.0.0.1/", kFile, Outcome::kNotWeb, file},
      {url, kNothing, Outcome::kNoFolder,
       In(environment, u"no such folder") + device.Files().Separator() + u"im.exe"},
      {url, kNothing, Outcome::kFailed, environment.Folder()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.url) + " leftover " + std::to_string(c.leftover));
    Write(victim, "someone else's");
    fs::remove(fs::path(file));
    std::error_code error;
    if (c.leftover == kFile) Write(file, "old program");
    if (c.leftover >= kLink) {
      fs::create_symlink(fs::path(c.leftover == kLink ? victim : nowhere), fs::path(file), error);
    }
    if (error) {
      std::printf("no symbolic link here: %s\n", error.message().c_str());
      continue;
    }
    const int connections = server.Connections();
    std::vector<Report> reports;
    ExpectResult(environment,
                 device.DownloadToFile(Ascii(c.url), c.path, kNoLimit, Reporter(&reports)),
                 c.outcome);
    if (c.outcome == Outcome::kNotWeb) {
      std::string body = "untouched";
      ExpectResult(environment, device.DownloadToMemory(Ascii(c.url), 1000, &body), c.outcome);
      EXPECT_EQ(body, "untouched");
    }
    EXPECT_EQ(server.Connections() - connections, c.outcome == Outcome::kNotWeb ? 0 : 1);
    if (c.path != file) continue;
    EXPECT_EQ(Contents(file), c.outcome == Outcome::kDone ? "new program"
                              : c.leftover == kFile       ? "old program"
                                                          : "(none)");
    EXPECT_EQ(Contents(victim), "someone else's");
    EXPECT_EQ(Contents(nowhere), "(none)");
  }
}

// HTTPS: the server's certificate must come from an authority the system trusts, and what began
// over TLS never goes on without it; only web addresses, also where a redirect points.
void CheckSecureTransfers(DownloadEnvironment& environment) {
  if (!TestHttpServer::HasTestCertificates()) {
    GTEST_SKIP() << "built without the test certificates (SORVEL_TEST_CA)";
  }
  Platform& device = environment.Device();
  TestHttpServer& server = environment.Server();
  ASSERT_TRUE(server.StartTls(Certificate::kTrusted));
  ASSERT_TRUE(server.StartTls(Certificate::kUnknownAuthority));
  const std::string data = Bytes(100000);
  server.Serve("/data", Reply(200, data));
  server.Serve("/down", Reply(302, "", Body::kWithLength, Narrow(server.Url("/data"))));
  server.Serve("/up", Reply(302, "", Body::kWithLength, Narrow(server.SecureUrl("/data"))));
  server.Serve("/along", Reply(301, "", Body::kWithLength, "/data"));
  server.Serve("/to-ftp", Reply(302, "", Body::kWithLength, "ftp://127.0.0.1:1/x"));
  struct Case {
    std::wstring url;
    Outcome outcome;
  } cases[] = {
      {server.SecureUrl("/data"), Outcome::kDone},
      {server.SecureUrl("/along"), Outcome::kDone},
      {server.Url("/up"), Outcome::kDone},
      {server.SecureUrl("/data", Certificate::kUnknownAuthority), Outcome::kUntrusted},
      {server.SecureUrl("/down"), Outcome::kHttpsToHttp},
      {server.Url("/to-ftp"), Outcome::kNotWeb},
      {L"http://127.0.0.1:1/", Outcome::kNoConnection},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.url));
    const int before = server.Requests("/data");
    const Text file = In(environment, u"im.exe");
    fs::remove(fs::path(file));
    std::vector<Report> reports;
    ExpectResult(environment,
                 device.DownloadToFile(Ascii(c.url), file, kNoLimit, Reporter(&reports)),
                 c.outcome);
    EXPECT_TRUE(Contents(file) == (c.outcome == Outcome::kDone ? data : "(none)"));
    std::string body;
    ExpectResult(environment, device.DownloadToMemory(Ascii(c.url), data.size(), &body), c.outcome);
    // A refused server or redirect is never asked for the data.
    EXPECT_EQ(server.Requests("/data") - before, c.outcome == Outcome::kDone ? 2 : 0);
  }
}

// A body that keeps coming, a byte at a time, fails at the time given for the whole transfer.
void CheckTricklingBodyFailsAtTheTotalTime(DownloadEnvironment& environment) {
  TestHttpServer::Route trickle = Reply(200, std::string(200, 't'), Body::kTrickle);
  trickle.trickleMilliseconds = 50;  // ten seconds in all
  environment.Server().Serve("/trickle", trickle);
  const Text url = Ascii(environment.Server().Url("/trickle"));
  std::vector<Report> reports;
  const std::uint64_t start = Now();
  ExpectResult(
      environment,
      environment.DownloadToFileWithin(url, In(environment, u"im.exe"), Reporter(&reports), 1000),
      Outcome::kTimedOut);
  std::string body;
  ExpectResult(environment, environment.DownloadToMemoryWithin(url, 1000, &body, 1000),
               Outcome::kTimedOut);
  // Both ended long before the body would have: the bytes came, none stalled 30 s.
  EXPECT_LT(Now() - start, 9000u);
  ASSERT_FALSE(reports.empty());
  EXPECT_LT(reports.back().received, 200u);
}

// A server that stops sending ends the download after 30 s without data (the time in all given
// is longer); until then the calling thread dispatches its messages to its dialogs.
void CheckStalledBodyFailsAfterThirtySecondsWhileTheDialogAnswers(
    DownloadEnvironment& environment) {
  const std::string body = Bytes(200000);
  environment.Server().Serve("/stalled", Reply(200, body, Body::kStalled));
  TimerSink sink;
  HWND window = CreateTimerDialog(environment.Device(), &sink, 100);
  const Text file = In(environment, u"im.exe");
  std::vector<Report> reports;
  const std::uint64_t start = Now();
  ExpectResult(environment,
               environment.DownloadToFileWithin(Ascii(environment.Server().Url("/stalled")), file,
                                                Reporter(&reports), 60000),
               Outcome::kTimedOut);
  EXPECT_GE(Now() - start, 29500u);
  EXPECT_LT(Now() - start, 45000u);
  EXPECT_GT(sink.ticks, 10);
  if (environment.PreTranslatesTimers()) {
    EXPECT_EQ(sink.pretranslated, sink.ticks);
  }
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.back().received, body.size() / 2);
  EXPECT_EQ(reports.back().total, body.size());
  EXPECT_TRUE(Contents(file) == body.substr(0, body.size() / 2));
  environment.Device().DestroyWindow(window);
}

// Closing the dialog whose modal run a download dispatches for ends the download at once; so
// does a quit message, which is posted again for the loops outside.
void CheckModalRunsEndAndQuitMessageCancel(DownloadEnvironment& environment) {
  Platform& device = environment.Device();
  environment.Server().Serve("/stalled", Reply(200, Bytes(200000), Body::kStalled));
  const Text url = Ascii(environment.Server().Url("/stalled"));
  const auto none = [](std::uint64_t, std::uint64_t) {};
  TimerSink sink;
  // The stalled transfers keep their files open until the server ends.
  sink.download = [&] {
    return device.DownloadToFile(url, In(environment, u"modal"), kNoLimit, none);
  };
  HWND window = CreateTimerDialog(device, &sink, 200);
  EXPECT_TRUE(device.RunModalLoop(window, nullptr, &sink));
  ExpectResult(environment, sink.result, Outcome::kCancelled);
  EXPECT_LT(sink.returned - sink.endedAt, 2000u);
  device.DestroyWindow(window);

  ExpectResult(environment,
               device.DownloadToFile(url, In(environment, u"im.exe"), kNoLimit,
                                     [&](std::uint64_t, std::uint64_t) { environment.PostQuit(); }),
               Outcome::kCancelled);
  EXPECT_TRUE(environment.TakeQuit());
}

// Work runs on a thread of its own; the platform's end cancels its download, waits for it, and
// lets no transfer start any more.
void CheckWorkerEndsBeforeThePlatform(DownloadEnvironment& environment) {
  Platform& device = environment.Device();
  TestHttpServer& server = environment.Server();
  server.Serve("/stalled", Reply(200, Bytes(1000), Body::kStalled));
  const Text url = Ascii(server.Url("/stalled"));
  std::atomic<bool> elsewhere{false}, done{false};
  std::atomic<std::int32_t> first{1}, second{1};
  ASSERT_TRUE(device.StartWorker([&, main = std::this_thread::get_id()] {
    elsewhere = std::this_thread::get_id() != main;
    std::string body;
    first = device.DownloadToMemory(url, 4096, &body);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the end waits for the work
    second = device.DownloadToMemory(url, 4096, &body);
    done = true;
  }));
  for (const std::uint64_t end = Now() + 10000; server.Requests("/stalled") < 1 && Now() < end;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_EQ(server.Requests("/stalled"), 1);
  environment.EndDevice();
  EXPECT_TRUE(done);
  EXPECT_TRUE(elsewhere);
  ExpectResult(environment, first, Outcome::kCancelled);
  ExpectResult(environment, second, Outcome::kCancelled);
  EXPECT_EQ(server.Requests("/stalled"), 1);
}

}  // namespace sorvel::conformance
