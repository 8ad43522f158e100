// The native updater end to end on a display of its own: sorvel-update, copied into a folder
// beside an installed "sorvel" and a "Download.ini" (or the host's settings naming a signed
// manifest), against a loopback HTTPS server, through the cases it shares with the updater's test
// under Wine. It puts the served program in place of the installed one, starts it and tells so
// once it has come up; or refuses, tells so and leaves the installed program as it was, byte for
// byte. What the updater decides with a download in hand the unit tests check case by case; here
// what needs the real transfer, TLS, signature keys, dialogs and processes.
#include <sys/stat.h>

// clang-format off
#include "tests/support/host_x11.h"
#include "tests/e2e/updater_scenario.h"  // after GoogleTest, which it uses
// clang-format on

namespace sorvel {
namespace {

namespace fs = std::filesystem;
using namespace test;  // NOLINT: the fixture's helpers
using scenario::kTimeoutMs;

// The installed "sorvel": a program, not the served one, that leaves "started" beside itself.
constexpr char kInstalled[] = "#!/bin/sh\n: >\"${0%/*}/started\"\n";

std::string Utf16Le(const std::wstring& text) {
  return Utf16LeBytes(Text(text.begin(), text.end()));
}
// The permission bits; -1 when the file is not there.
int ModeOf(const fs::path& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? static_cast<int>(info.st_mode & 07777) : -1;
}

// sorvel-update in a temporary folder of its own, beside the installed "sorvel" (`installed`),
// with "Download.ini" holding `description` and the host's settings naming `checkUrl` where they
// are given; `At` names a file there.
class Installation {
 public:
  Installation(const std::wstring& description, const std::wstring& checkUrl,
               const std::string& installed)
      : folder_(MarkedFolder("sorvel-update-e2e")) {
    fs::copy_file(SORVEL_UPDATE, At("sorvel-update"));
    std::ofstream(At("sorvel"), std::ios::binary) << installed;
    fs::permissions(At("sorvel"), static_cast<fs::perms>(0755));
    if (!description.empty())
      std::ofstream(At("Download.ini"), std::ios::binary) << Utf16Le(description);
    if (!checkUrl.empty()) {
      std::ofstream(At("sorvel.ini"), std::ios::binary)
          << Utf16Le(L"[Update]\r\nCheckUrl=" + checkUrl + L"\r\n");
    }
  }
  // The updater and the programs it started (the new host, or the old one again) ended.
  ~Installation() {
    EndMarked(folder_);
    WaitForExit();
    fs::remove_all(folder_);
  }
  Installation(const Installation&) = delete;
  Installation& operator=(const Installation&) = delete;

  fs::path At(const char* name) const { return folder_ / name; }
  // Starts the updater, or the installed host.
  bool Start(const char* program = "sorvel-update") {
    return (pid_ = Spawn({At(program).string()})) != 0;
  }
  // The updater's exit status once it has ended; -1 when it did not end in time or failed.
  int WaitForExit() {
    int status = 0;
    if (pid_ <= 0 ||
        !WaitUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, kTimeoutMs)) {
      return -1;
    }
    pid_ = 0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  fs::path folder_;
  pid_t pid_ = 0;
};

class UpdaterX11Test : public X11Fixture {
 protected:
  void SetUp() override {
    X11Fixture::SetUp();
    ASSERT_TRUE(server_.Ok());
    ASSERT_TRUE(server_.StartTls(TestHttpServer::Certificate::kTrusted));
    served_ = ReadAll(SORVEL_NEXT);
    ASSERT_GT(served_.size(), 64u);
    server_.Serve(scenario::kServed, Reply(200, served_));
  }

  // Answers a dialog as the user would: Return presses its default button; a box (`close`) is
  // closed as by its title bar's close button, which counts as answered. Sent until the window
  // goes: the toolkit heeds it only once the window has become its modal one.
  void Answer(Window window, bool close) {
    XEvent message{};
    message.xclient.window = window;
    message.xclient.type = ClientMessage;
    message.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
    message.xclient.format = 32;
    message.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
    EXPECT_TRUE(WaitUntil([&] {
      if (close) XSendEvent(display_, window, False, NoEventMask, &message);
      XSync(display_, False);
      if (!close) RunToEnd({"xdotool", "key", "--window", std::to_string(window), "Return"});
      return !IsShown(window);
    })) << "not answered";
  }
  // Whether any client owns the host's single-instance name: the new host has come up.
  bool HostCameUp() { return windows_->NameHeld("Sorvel3"); }

  TestHttpServer server_;
  std::string served_;  // the new host, 1.0.2.0
};

// The new host is in place, runnable and has come up before the updater says so. What the
// transfer's rules or the signature do not vouch for leaves the installed program byte for byte,
// starts nothing, and shows the failure message; a new program that dies as it starts is
// replaced by the old one, which runs again.
TEST_F(UpdaterX11Test, ReplacesTheProgramOrRefusesAndLeavesItAsItWas) {
  const std::string crashing = ReadAll(SORVEL_CRASHING);
  ASSERT_FALSE(crashing.empty());
  for (const scenario::Case& c : scenario::ServeCases(server_, served_, crashing)) {
    SCOPED_TRACE(c.name);
    const bool updated = c.outcome == scenario::Outcome::kReplaced;
    const std::string installed = c.hostInstalled ? ReadAll(SORVEL_HOST) : kInstalled;
    Installation setup(c.description, c.checkUrl, installed);
    const pid_t old = c.oldHostRuns ? Spawn({setup.At("sorvel").string()}) : 0;
    ASSERT_TRUE(old == 0 || WaitUntil([&] { return HostCameUp(); }, kTimeoutMs));
    ASSERT_TRUE(setup.Start());
    if (old != 0) {
      // Past the download and the replacement: the new program waits, so no message yet.
      std::this_thread::sleep_for(std::chrono::seconds(4));
      EXPECT_TRUE(ReadAll(setup.At("sorvel")) == served_);
      EXPECT_EQ(ShownWindow("SorvelUpdate"), None);
      kill(old, SIGTERM);
      EXPECT_EQ(waitpid(old, nullptr, 0), old);
    }
    const Window box = ShownWindow("SorvelUpdate", kTimeoutMs);
    ASSERT_NE(box, None);
    EXPECT_EQ(IconSummary(display_, ShownWindow("Auto Downloader")), "32x32 16x16 middle ffffffff")
        << "the updater's icon: a white arrow down the middle";
    EXPECT_TRUE(ReadAll(setup.At("sorvel")) == (updated ? served_ : installed));
    EXPECT_EQ(ModeOf(setup.At("sorvel")), 0755);
    EXPECT_EQ(ModeOf(setup.At("sorvel.old")), -1);
    // What came is not made a program unless it took the installed one's place.
    EXPECT_EQ(ModeOf(setup.At("im.exe")) == -1 ? 0 : ModeOf(setup.At("im.exe")) & 0111, 0);
    EXPECT_EQ(HostCameUp(), updated);
    const bool rolledBack = c.outcome == scenario::Outcome::kRolledBack;
    EXPECT_EQ(
        WaitUntil([&] { return ModeOf(setup.At("started")) != -1; }, rolledBack ? kTimeoutMs : 0),
        rolledBack)
        << "only the old program rolled back runs again";
    if (c.description.empty() && updated) {
      // Written from the defaults, as the host would have it.
      EXPECT_EQ(ReadAll(setup.At("Download.ini")),
                Utf16Le(L"[Download]\r\nDownName=https://download.sorvel.example/Sorvel.exe\r\n"
                        L"MainName=sorvel\r\n"));
    }
    Answer(box, true);
    EXPECT_EQ(setup.WaitForExit(), 0);
  }
  EXPECT_EQ(server_.Requests(scenario::kServed), scenario::kServedRequests);
}

// The whole road: the installed host reads the signed manifest, asks, and on Yes hands over to
// the updater, which brings up the new host in its place.
TEST_F(UpdaterX11Test, TheHostsNoticeLeadsToTheNewHost) {
  scenario::ServeSigned(server_, "/Sorvel.ini",
                        scenario::ManifestFor(server_.SecureUrl(scenario::kServed), served_));
  Installation setup(L"", server_.SecureUrl("/Sorvel.ini"), ReadAll(SORVEL_HOST));
  ASSERT_TRUE(setup.Start("sorvel"));
  // The question: the host's window titled "Sorvel" that its dialog owns. Return answers it with
  // its default button, Yes.
  const Window question = ShownWindow(
      [](const x11::TopLevel& t) { return t.title == u"Sorvel" && t.owner != None; }, kTimeoutMs);
  ASSERT_NE(question, None) << "no notice";
  Answer(question, false);
  EXPECT_NE(setup.WaitForExit(), -1) << "the old host ends";
  const Window box = ShownWindow("SorvelUpdate", kTimeoutMs);
  ASSERT_NE(box, None);
  EXPECT_TRUE(ReadAll(setup.At("sorvel")) == served_);
  EXPECT_TRUE(HostCameUp());
  Answer(box, true);
}

}  // namespace
}  // namespace sorvel
