// The real updater under Wine against a loopback server, through the cases it shares with the
// native updater's test: it replaces the installed program with the served one and starts it, or
// refuses and leaves the installed program as it was. And the whole update from the host's notice
// through the updater to the new host (the notices' kinds and answers are the unit tests').
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "host/resources.h"
#include "tests/e2e/e2e_support.h"
#include "tests/e2e/updater_scenario.h"
#include "updater/resources.h"

namespace {

namespace scenario = sorvel::scenario;
using e2e::kStartTimeout, e2e::kStepTimeout;
using scenario::Description, scenario::ManifestFor;

constexpr DWORD kTimeout = scenario::kTimeoutMs;
constexpr UINT kPbmGetPos = WM_USER + 8;  // a progress bar's position
constexpr wchar_t kUpdated[] = L"자동 업데이트를 성공했습니다.";
constexpr wchar_t kNotUpdated[] = L"자동 업데이트를 실패하였습니다. 다시 실행하세요.";
// How many windows of the served program show: a probe's, titled after its file name.
std::size_t ServedShown() {
  return e2e::WindowsOf(0, L"SorvelProbe", L"Sorvel").size();
}

// The check runs 3 s after start-up; its notice comes soon after.
constexpr DWORD kNoticeTimeout = 15000;

// SorvelUpdate.exe beside an installed "Sorvel.exe" (by default another of our test programs,
// so that the served one differs from it).
struct Installation : e2e::Host {
  std::string installed = e2e::ReadBytes(Exe());
  std::unique_ptr<e2e::Process> process;  // the updater's
  HWND dialog = nullptr;

  // `description`: the lines of "Download.ini"; none when empty. `checkUrl`: the host's
  // settings name it.
  explicit Installation(const std::wstring& description, const std::wstring& checkUrl = L"",
                        const wchar_t* installedProgram = L"dialog_probe.exe")
      : Host(checkUrl.empty() ? L"" : L"[Update]\r\nCheckUrl=" + checkUrl + L"\r\n", L"Sorvel.exe",
             installedProgram) {
    e2e::CopyBesideMe(L"SorvelUpdate.exe", Folder(), L"SorvelUpdate.exe");
    if (!description.empty()) e2e::WriteUtf16File(Description(), description);
  }
  std::wstring Description() const { return Folder() + L"\\Download.ini"; }

  bool StartUpdater() {
    process = std::make_unique<e2e::Process>(Folder() + L"\\SorvelUpdate.exe");
    return (dialog = e2e::WaitForShown(process->Id(), L"#32770", L"Auto Downloader", kTimeout));
  }
};

class UpdaterRun : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Ok());
    ASSERT_TRUE(server_.StartTls(TestHttpServer::Certificate::kTrusted));
    served_ = e2e::ReadBytes(e2e::BesideMe(L"probe.exe"));
    ASSERT_FALSE(served_.empty());
    server_.Serve(scenario::kServed, Reply(200, served_));
  }
  void TearDown() override { e2e::CloseProbes(); }

  TestHttpServer server_;
  std::string served_;
};

// The new program takes the installed one's place and comes up before the updater says so.
// Whatever the signature does not vouch for leaves the installed program byte for byte, starts
// nothing, and shows the failure message; a new program that dies as it starts is replaced by
// the old one, which runs again.
TEST_F(UpdaterRun, ReplacesTheProgramOrRefusesAndLeavesItAsItWas) {
  const std::string crashing = e2e::ReadBytes(e2e::BesideMe(L"crash_at_start.exe"));
  ASSERT_FALSE(crashing.empty());
  for (const scenario::Case& c : scenario::ServeCases(server_, served_, crashing)) {
    SCOPED_TRACE(c.name);
    const bool updated = c.outcome == scenario::Outcome::kReplaced;
    Installation setup(c.description, c.checkUrl,
                       c.hostInstalled ? L"Sorvel.exe" : L"dialog_probe.exe");
    ASSERT_TRUE(!c.oldHostRuns || setup.Start());
    ASSERT_TRUE(setup.StartUpdater());
    if (c.oldHostRuns) {
      // Past the download and the replacement: the new program waits, the updater answers.
      e2e::PumpFor(4000);
      EXPECT_TRUE(e2e::ReadBytes(setup.Exe()) == served_);
      EXPECT_EQ(ServedShown(), 0u);
      EXPECT_EQ(e2e::WindowsOf(setup.process->Id(), L"#32770").size(), 1u) << "no message yet";
      EXPECT_TRUE(e2e::Answers(setup.dialog, 2000));
      PostMessageW(setup.Dialog(), WM_CLOSE, 0, 0);
      EXPECT_EQ(setup.WaitForExit(kTimeout), 0u);
    }
    // The updater's message box, captioned with its name; found once shown, its text there then.
    HWND box = e2e::WaitForShown(0, L"#32770", L"SorvelUpdate", kTimeout);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(e2e::StaticTexts(box), updated ? kUpdated : kNotUpdated);
    EXPECT_TRUE(e2e::ReadBytes(setup.Exe()) == (updated ? served_ : setup.installed));
    EXPECT_EQ(GetFileAttributesW((setup.Exe() + L".old").c_str()), INVALID_FILE_ATTRIBUTES);
    // The mutex that tells it came up precedes its window.
    EXPECT_TRUE(e2e::WaitFor([&] { return ServedShown() == (updated ? 1u : 0u); }, 2000));
    if (c.outcome == scenario::Outcome::kRolledBack) {
      EXPECT_TRUE(e2e::WaitFor(
          [] { return FindWindowW(L"SorvelDialogProbe", L"Sorvel") != nullptr; }, kTimeout))
          << "the old program runs again";
    }
    e2e::Click(box, IDOK);  // the updater then ends
    EXPECT_EQ(setup.process->WaitForExit(kTimeout), 0u);
    e2e::PumpFor(500);
    EXPECT_EQ(ServedShown(), updated ? 1u : 0u);
    if (updated) {
      // The download became the program; a failed one leaves its temporary file as it was.
      EXPECT_EQ(GetFileAttributesW((setup.Folder() + L"\\im.exe").c_str()),
                INVALID_FILE_ATTRIBUTES);
    }
    if (c.description.empty() && updated) {
      // Written from the defaults, as the host would have it.
      EXPECT_EQ(e2e::ReadUtf16File(setup.Description()),
                L"[Download]\r\nDownName=https://download.sorvel.example/Sorvel.exe\r\n"
                L"MainName=Sorvel.exe\r\n");
    }
    TearDown();
  }
  EXPECT_EQ(server_.Requests(scenario::kServed), scenario::kServedRequests);
}

// The bar shows the share received while the transfer waits half-way; the updater ended there
// leaves the installed program as it was.
TEST_F(UpdaterRun, ProgressBarShowsTheShareReceived) {
  server_.Serve("/slow", Reply(200, served_, TestHttpServer::Body::kStalled));
  Installation setup(Description(server_.SecureUrl("/slow"), served_));
  ASSERT_TRUE(setup.StartUpdater());
  HWND bar = GetDlgItem(setup.dialog, sorvel::kIdProgress);
  ASSERT_TRUE(IsWindowVisible(bar));
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(setup.dialog, sorvel::kIdFileDownload)));
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(setup.dialog, sorvel::kIdCreateFile)));
  RECT window{};
  GetWindowRect(setup.dialog, &window);
  EXPECT_LE(std::abs(window.left + window.right - GetSystemMetrics(SM_CXSCREEN)), 1);

  ASSERT_TRUE(e2e::WaitFor([&] { return SendMessageW(bar, kPbmGetPos, 0, 0) > 0; }, kTimeout));
  e2e::PumpFor(300);
  const LRESULT position = SendMessageW(bar, kPbmGetPos, 0, 0);
  e2e::Screenshot("screenshot", L"updater-progress.bmp");
  // At most half the body came (the transport may hold back its last piece).
  RecordProperty("position", static_cast<int>(position));
  EXPECT_LE(position, static_cast<LRESULT>(served_.size() / 2 * 100 / served_.size()));
  setup.process.reset();
  EXPECT_TRUE(e2e::ReadBytes(setup.Exe()) == setup.installed);
}

// The host holds a probe in pane 1 (taken by split start, which finds it by its remembered
// title); its settings name the manifest.
using UpdateCheck = UpdaterRun;
TEST_F(UpdateCheck, AutomaticNoticeHandsOverToTheUpdaterWhichStartsTheNewHost) {
  const std::string next = e2e::ReadBytes(e2e::BesideMe(L"SorvelNext.exe"));
  ASSERT_FALSE(next.empty());
  const std::wstring url = server_.SecureUrl("/next.exe");
  server_.Serve("/next.exe", Reply(200, next));
  scenario::ServeSigned(server_, "/Sorvel.ini", ManifestFor(url, next, L"1.0.2.0"));
  e2e::Host host(L"[Setting]\r\nFileName1=probe_u\r\n[Update]\r\nCheckUrl=" +
                 server_.SecureUrl("/Sorvel.ini") + L"\r\n");
  ASSERT_FALSE(e2e::CopyBesideMe(L"SorvelUpdate.exe", host.Folder(), L"SorvelUpdate.exe").empty());
  e2e::Foreign probe = e2e::StartProbe(host.Folder(), L"probe_u", {17, 41});
  ASSERT_NE(probe.window, nullptr);
  ASSERT_TRUE(host.Start());
  host.Command(sorvel::kIdSplitStart);
  ASSERT_TRUE(host.WaitUntilHolds(0, probe.window));

  HWND box = host.WaitForOwnDialog(L"Sorvel", kNoticeTimeout);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(e2e::StaticTexts(box),
            L"최신 버전이 존재합니다. 업데이트를 하지 않으면 프로그램이 종료됩니다. 업데이트를 "
            L"하시겠습니까?");
  e2e::Screenshot("notice", L"update-notice.bmp");
  // Written before the question.
  EXPECT_EQ(e2e::ReadUtf16File(host.Folder() + L"\\Download.ini"),
            Description(url, next, L"1.0.2.0"));
  e2e::Click(box, IDYES);

  // The host ends, its pane given back; the updater takes over.
  EXPECT_EQ(host.WaitForExit(kStepTimeout), 0u);
  EXPECT_TRUE(probe.GivenBack());
  HWND updated = e2e::WaitForShown(0, L"#32770", L"SorvelUpdate", 30000);
  ASSERT_NE(updated, nullptr);
  EXPECT_EQ(e2e::StaticTexts(updated), kUpdated);
  EXPECT_TRUE(e2e::ReadBytes(host.Exe()) == next);
  EXPECT_EQ(server_.Requests("/next.exe"), 1);
  e2e::Click(updated, IDOK);

  // The new host, started before the message: a main dialog of another process than the old
  // host's.
  DWORD pid = 0;
  HWND dialog = e2e::WaitForShown(0, L"#32770", nullptr, kStartTimeout, [&](HWND w) {
    GetWindowThreadProcessId(w, &pid);
    return pid != host.Id() && GetDlgItem(w, sorvel::kIdDisplay1) != nullptr;
  });
  ASSERT_NE(dialog, nullptr);
  // The new host checks too, and finds itself current.
  EXPECT_TRUE(e2e::WaitFor([&] { return server_.Requests("/Sorvel.ini") == 2; }, kNoticeTimeout));
  e2e::PumpFor(1000);
  EXPECT_EQ(e2e::WindowsOf(pid, L"#32770"), std::vector<HWND>{dialog});
  // A click of Cancel ends it, as it ends the host that started it.
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  EXPECT_TRUE(e2e::Closes(dialog));
}

}  // namespace
