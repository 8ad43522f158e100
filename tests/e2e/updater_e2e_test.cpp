// The real updater under Wine against a loopback server: it replaces the installed program with
// the served one and starts it, or refuses and leaves the installed program as it was.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "tests/e2e/e2e_support.h"
#include "tests/e2e/http_server.h"
#include "tests/support/sha256_hex.h"

namespace {

using Body = TestHttpServer::Body;

constexpr DWORD kTimeout = 20000;
constexpr UINT kPbmGetPos = WM_USER + 8;  // a progress bar's position
constexpr wchar_t kUpdated[] = L"자동 업데이트를 성공했습니다.";
constexpr wchar_t kNotUpdated[] = L"자동 업데이트를 실패하였습니다. 다시 실행하세요.";
// The served program announces itself by a window of this class, titled after its file name.
constexpr wchar_t kProbeClass[] = L"SorvelProbe";

// SorvelUpdate.exe in a folder of its own, beside an installed "Sorvel.exe" (another of our
// test programs, so that the served one differs from it).
struct Installation {
  std::wstring folder = e2e::MakeTestFolder();
  std::string installed;
  std::unique_ptr<e2e::Process> process;
  HWND dialog = nullptr;

  // `description`: the lines of "Download.ini"; none when empty.
  explicit Installation(const std::wstring& description) {
    e2e::CopyBesideMe(L"SorvelUpdate.exe", folder, L"SorvelUpdate.exe");
    e2e::CopyBesideMe(L"dialog_probe.exe", folder, L"Sorvel.exe");
    installed = e2e::ReadBytes(Target());
    if (!description.empty()) e2e::WriteUtf16File(Description(), description);
  }
  std::wstring Target() const { return folder + L"\\Sorvel.exe"; }
  std::wstring Description() const { return folder + L"\\Download.ini"; }

  bool Start() {
    process = std::make_unique<e2e::Process>(folder + L"\\SorvelUpdate.exe");
    dialog = e2e::WaitForDialog(process->Id(), kTimeout);
    return dialog != nullptr && e2e::TextOf(dialog) == L"Auto Downloader";
  }
  // The updater's message box, captioned with its name.
  HWND WaitForMessageBox() {
    DWORD pid = process->Id();
    return e2e::WaitForWindow(
        [pid]() -> HWND {
          for (HWND window : e2e::WindowsOf(pid, L"#32770")) {
            if (e2e::TextOf(window) == L"SorvelUpdate") return window;
          }
          return nullptr;
        },
        kTimeout);
  }
  // The updater's visible dialog windows: its own, and a message box when one shows.
  std::size_t WindowsOfUpdater() const { return e2e::WindowsOf(process->Id(), L"#32770").size(); }
  // Answers the message box; the updater then ends.
  bool Dismiss(HWND box) {
    PostMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    return process->WaitForExit(kTimeout) == 0;
  }
};

std::wstring Describe(const std::wstring& url, const std::wstring& extra = L"") {
  return L"[Download]\r\nDownName=" + url + L"\r\nMainName=Sorvel.exe\r\n" + extra;
}

class UpdaterRun : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Ok());
    served_ = e2e::ReadBytes(e2e::BesideMe(L"probe.exe"));
    ASSERT_FALSE(served_.empty());
  }
  void TearDown() override { e2e::CloseWindowsOfClass(kProbeClass, 5000); }

  TestHttpServer server_;
  std::string served_;
};

TEST_F(UpdaterRun, ReplacesTheProgramThenTellsThenStartsIt) {
  server_.Serve("/Sorvel.exe", Reply(200, served_));
  Installation setup(Describe(server_.Url("/Sorvel.exe"),
                              L"Sha256=" + sorvel::Sha256Hex(served_, true) + L"\r\n"));
  ASSERT_TRUE(setup.Start());
  HWND box = setup.WaitForMessageBox();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(e2e::StaticTexts(box), kUpdated);
  // In place before the message, started only after it.
  EXPECT_TRUE(e2e::ReadBytes(setup.Target()) == served_);
  EXPECT_EQ(e2e::CountWindows(kProbeClass, L"Sorvel"), 0);
  ASSERT_TRUE(setup.Dismiss(box));
  EXPECT_TRUE(
      e2e::WaitFor([] { return e2e::CountWindows(kProbeClass, L"Sorvel") == 1; }, kTimeout));
  EXPECT_EQ(GetFileAttributesW((setup.folder + L"\\im.exe").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(server_.Requests("/Sorvel.exe"), 1);
}

TEST_F(UpdaterRun, RefusalsLeaveTheInstalledProgramAndStartNothing) {
  server_.Serve("/page",
                Reply(200, "<html><body>Sorvel</body></html>", Body::kWithLength, "", "text/html"));
  server_.Serve("/cut", Reply(200, served_, Body::kTruncated));
  server_.Serve("/whole", Reply(200, served_));
  struct Case {
    const char* name;
    std::string path;
    std::wstring extra;
  };
  const Case cases[] = {
      {"not found", "/missing", L""},
      {"web page", "/page", L""},
      {"truncated", "/cut", L""},
      {"other hash", "/whole", L"Sha256=" + std::wstring(64, L'0') + L"\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Installation setup(Describe(server_.Url(c.path), c.extra));
    ASSERT_TRUE(setup.Start());
    HWND box = setup.WaitForMessageBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(e2e::StaticTexts(box), kNotUpdated);
    EXPECT_TRUE(setup.Dismiss(box));
    EXPECT_TRUE(e2e::ReadBytes(setup.Target()) == setup.installed);
    e2e::PumpFor(500);
    EXPECT_EQ(e2e::CountWindows(kProbeClass, L"Sorvel"), 0);
    EXPECT_EQ(server_.Requests(c.path), 1);
  }
}

TEST_F(UpdaterRun, StartedByHandWithoutDescriptionWritesTheDefaultsAndFails) {
  Installation setup(L"");
  ASSERT_TRUE(setup.Start());
  HWND box = setup.WaitForMessageBox();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(e2e::StaticTexts(box), kNotUpdated);
  EXPECT_TRUE(setup.Dismiss(box));
  EXPECT_EQ(e2e::ReadUtf16File(setup.Description()),
            L"[Download]\r\nDownName=http://download.sorvel.example/Sorvel.exe\r\n"
            L"MainName=sorvel.exe\r\n");
  EXPECT_TRUE(e2e::ReadBytes(setup.Target()) == setup.installed);
}

// The bar shows the share received while the transfer waits half-way; the updater ended there
// leaves the installed program as it was.
TEST_F(UpdaterRun, ProgressBarShowsTheShareReceived) {
  server_.Serve("/slow", Reply(200, served_, Body::kStalled));
  Installation setup(Describe(server_.Url("/slow")));
  ASSERT_TRUE(setup.Start());
  HWND bar = GetDlgItem(setup.dialog, 1003);
  ASSERT_NE(bar, nullptr);
  EXPECT_TRUE(IsWindowVisible(bar));
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(setup.dialog, 1002)));
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(setup.dialog, 1004)));
  RECT window{};
  GetWindowRect(setup.dialog, &window);
  EXPECT_LE(std::abs(window.left + window.right - GetSystemMetrics(SM_CXSCREEN)), 1);

  LRESULT position = 0;
  ASSERT_TRUE(e2e::WaitFor(
      [&] {
        position = SendMessageW(bar, kPbmGetPos, 0, 0);
        return position > 0;
      },
      kTimeout));
  e2e::PumpFor(300);
  position = SendMessageW(bar, kPbmGetPos, 0, 0);
  std::wstring shot = e2e::SaveScreenshot(L"updater-progress.bmp");
  RecordProperty("screenshot", e2e::Narrow(shot));
  // At most half the body came (the transport may hold back its last piece).
  std::printf("progress bar at %d%%\n", static_cast<int>(position));
  RecordProperty("position", static_cast<int>(position));
  EXPECT_LE(position, static_cast<LRESULT>(served_.size() / 2 * 100 / served_.size()));
  setup.process.reset();
  EXPECT_TRUE(e2e::ReadBytes(setup.Target()) == setup.installed);
}

// The old program still runs when the updater comes to replace it: the updater waits for it to
// end, then replaces and starts the new one.
TEST_F(UpdaterRun, WaitsForTheRunningOldProgramToLetGoOfItsFile) {
  server_.Serve("/Sorvel.exe", Reply(200, served_));
  Installation setup(Describe(server_.Url("/Sorvel.exe")));
  e2e::Process old(setup.Target());
  HWND oldWindow =
      e2e::WaitForWindow([] { return FindWindowW(L"SorvelDialogProbe", L"Sorvel"); }, kTimeout);
  ASSERT_NE(oldWindow, nullptr);
  ASSERT_TRUE(setup.Start());
  // Past the updater's first tries: the platform keeps a running program's file in place, and
  // the updater keeps answering while it waits.
  e2e::PumpFor(3000);
  EXPECT_TRUE(e2e::ReadBytes(setup.Target()) == setup.installed);
  EXPECT_EQ(setup.WindowsOfUpdater(), 1u);
  DWORD_PTR answer = 0;
  EXPECT_NE(SendMessageTimeoutW(setup.dialog, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &answer), 0);
  PostMessageW(oldWindow, WM_CLOSE, 0, 0);
  DWORD closed = GetTickCount();
  EXPECT_EQ(old.WaitForExit(kTimeout), 0u);
  HWND box = setup.WaitForMessageBox();
  std::printf("replaced %lu ms after the old program was closed\n", GetTickCount() - closed);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(e2e::StaticTexts(box), kUpdated);
  EXPECT_TRUE(e2e::ReadBytes(setup.Target()) == served_);
  ASSERT_TRUE(setup.Dismiss(box));
  EXPECT_TRUE(
      e2e::WaitFor([] { return e2e::CountWindows(kProbeClass, L"Sorvel") == 1; }, kTimeout));
}

}  // namespace
