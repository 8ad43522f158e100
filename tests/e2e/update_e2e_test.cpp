// The host's update check under Wine against a loopback server: the notices as the user meets
// them, and the whole update from the notice through the updater to the new host.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "host/resources.h"
#include "tests/e2e/e2e_support.h"
#include "tests/e2e/http_server.h"
#include "tests/support/same_rect.h"
#include "tests/support/sha256_hex.h"
#include "tests/support/test_signer.h"

namespace {

using e2e::Process;

constexpr DWORD kStartTimeout = 15000;
constexpr DWORD kStepTimeout = 5000;
// The check runs 3 s after start-up; its notice comes soon after.
constexpr DWORD kNoticeTimeout = 15000;
constexpr DWORD kUpdateTimeout = 30000;

// The host's menu commands and the controls of its dialogs.
using sorvel::kIdSplitStart, sorvel::kIdSplitSelect, sorvel::kIdDisplay1, sorvel::kIdToggle1;
using sorvel::kIdVersionOk, sorvel::kIdVersionLine;

constexpr wchar_t kOptionalQuestion[] = L"프로그램이 업데이트되었습니다. 업데이트를 하시겠습니까?";
constexpr wchar_t kMandatoryQuestion[] =
    L"프로그램이 업데이트되었습니다. 업데이트를 하지 않으면 프로그램이 구동되지 않습니다. "
    L"업데이트를 하시겠습니까?";
constexpr wchar_t kAutomaticQuestion[] =
    L"최신 버전이 존재합니다. 업데이트를 하지 않으면 프로그램이 종료됩니다. 업데이트를 "
    L"하시겠습니까?";
constexpr wchar_t kUpdated[] = L"자동 업데이트를 성공했습니다.";

// A manifest as the vendor publishes it: UTF-16LE with a byte-order mark.
std::string ManifestBytes(const std::wstring& lines) {
  std::wstring text = L"\xFEFF[Update]\r\n" + lines;
  return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

// Serves the manifest at `path` and its signature beside it.
void ServeSigned(TestHttpServer& server, const std::string& path, const std::wstring& lines) {
  TestHttpServer::Route manifest, signature;
  manifest.body = ManifestBytes(lines);
  manifest.contentType = "text/plain";
  signature.body = sorvel::test::SignatureFile(manifest.body);
  server.Serve(path, manifest);
  server.Serve(path + ".sig", signature);
}

bool IsTopLevel(HWND window) {
  return GetAncestor(window, GA_PARENT) == GetDesktopWindow();
}

// The host's main dialog among a process's windows: the one with pane 1's display.
HWND MainDialogOf(DWORD pid) {
  for (HWND window : e2e::WindowsOf(pid, L"#32770")) {
    if (GetDlgItem(window, kIdDisplay1) != nullptr) return window;
  }
  return nullptr;
}

// A message box of a process, by its caption, other than `except`; waited for.
HWND MessageBoxOf(DWORD pid, const wchar_t* caption, HWND except,
                  DWORD milliseconds = kNoticeTimeout) {
  return e2e::WaitForWindow(
      [=]() -> HWND {
        for (HWND window : e2e::WindowsOf(pid, L"#32770")) {
          if (window != except && e2e::TextOf(window) == caption &&
              GetDlgItem(window, kIdDisplay1) == nullptr) {
            return window;
          }
        }
        return nullptr;
      },
      milliseconds);
}

void Answer(HWND box, int button) {
  PostMessageW(GetDlgItem(box, button), BM_CLICK, 0, 0);
}

// The host installed in a folder of its own, with the probe it holds in pane 1 (taken by split
// start, which finds it by its remembered title) and a settings file that names the manifest.
class Installation {
 public:
  Installation(const std::wstring& checkUrl, bool withUpdater = false)
      : folder_(e2e::MakeTestFolder()) {
    e2e::CopyBesideMe(L"Sorvel.exe", folder_, L"Sorvel.exe");
    if (withUpdater) e2e::CopyBesideMe(L"SorvelUpdate.exe", folder_, L"SorvelUpdate.exe");
    e2e::WriteUtf16File(folder_ + L"\\Sorvel.ini",
                        L"[Setting]\r\nFileName1=probe_u\r\n[Update]\r\n"
                        L"CheckUrl=" +
                            checkUrl + L"\r\n");
  }

  // Starts the probe and the host, and has the host hold the probe.
  ::testing::AssertionResult Start() {
    if (!e2e::CopyBesideMe(L"probe.exe", folder_, L"probe_u.exe")) {
      return ::testing::AssertionFailure() << "no probe";
    }
    probeProcess_ = std::make_unique<Process>(folder_ + L"\\probe_u.exe");
    probe_ = e2e::WaitForWindow(
        []() -> HWND {
          HWND window = FindWindowW(L"SorvelProbe", L"probe_u");
          return IsWindowVisible(window) ? window : nullptr;
        },
        kStartTimeout);
    if (probe_ == nullptr) return ::testing::AssertionFailure() << "the probe did not start";
    SetWindowPos(probe_, nullptr, 17, 41, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    GetWindowRect(probe_, &former_);

    host_ = std::make_unique<Process>(folder_ + L"\\Sorvel.exe");
    DWORD pid = host_->Id();
    dialog_ = e2e::WaitForWindow([pid] { return MainDialogOf(pid); }, kStartTimeout);
    if (dialog_ == nullptr) return ::testing::AssertionFailure() << "no host dialog";
    PostMessageW(dialog_, WM_COMMAND, kIdSplitStart, 0);
    if (!e2e::WaitFor([&] { return Holds(); }, kStepTimeout)) {
      return ::testing::AssertionFailure() << "pane 1 does not hold the probe";
    }
    return ::testing::AssertionSuccess();
  }

  bool Holds() const {
    HWND display = GetDlgItem(dialog_, kIdDisplay1);
    return GetAncestor(probe_, GA_PARENT) == display &&
           IsWindowVisible(GetDlgItem(dialog_, kIdToggle1));
  }
  // The probe is a top-level window again at its former place.
  bool GivenBack() const {
    RECT now{};
    GetWindowRect(probe_, &now);
    return IsTopLevel(probe_) && SameRect(now, former_);
  }

  HWND WaitForNotice() { return MessageBoxOf(host_->Id(), L"Sorvel", dialog_); }

  const std::wstring& Folder() const { return folder_; }
  Process& Host() { return *host_; }
  HWND Dialog() const { return dialog_; }

 private:
  std::wstring folder_;
  std::unique_ptr<Process> probeProcess_;
  std::unique_ptr<Process> host_;
  HWND probe_ = nullptr;
  RECT former_{};
  HWND dialog_ = nullptr;
};

class UpdateCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Ok());
    ASSERT_TRUE(server_.StartTls(TestHttpServer::Certificate::kTrusted));
  }

  TestHttpServer server_;
};

TEST_F(UpdateCheck, OptionalNoticeAnsweredNoLeavesTheHostRunning) {
  ServeSigned(server_, "/Sorvel.ini", L"Version=1.0.2.0\r\nKind=optional\r\n");
  Installation setup(server_.SecureUrl("/Sorvel.ini"));
  ASSERT_TRUE(setup.Start());
  HWND box = setup.WaitForNotice();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(e2e::StaticTexts(box), kOptionalQuestion);
  Answer(box, IDNO);
  ASSERT_TRUE(e2e::WaitFor([&] { return !IsWindow(box); }, kStepTimeout));
  e2e::PumpFor(1000);
  EXPECT_TRUE(setup.Host().Running());
  EXPECT_TRUE(setup.Holds());
  EXPECT_EQ(server_.Requests("/Sorvel.ini"), 1);
}

TEST_F(UpdateCheck, MandatoryNoticeAnsweredNoEndsTheHostAndGivesThePaneBack) {
  ServeSigned(server_, "/Sorvel.ini", L"Version=1.0.2.0\r\nKind=mandatory\r\n");
  Installation setup(server_.SecureUrl("/Sorvel.ini"));
  ASSERT_TRUE(setup.Start());
  HWND box = setup.WaitForNotice();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(e2e::StaticTexts(box), kMandatoryQuestion);
  Answer(box, IDNO);
  EXPECT_EQ(setup.Host().WaitForExit(kStepTimeout), 0u);
  EXPECT_TRUE(e2e::WaitFor([&] { return setup.GivenBack(); }, kStepTimeout));
}

TEST_F(UpdateCheck, EmptyCheckUrlAsksNothing) {
  ServeSigned(server_, "/Sorvel.ini", L"Version=1.0.2.0\r\nKind=mandatory\r\n");
  Installation setup(L"");
  ASSERT_TRUE(setup.Start());
  // Well past the check's time.
  e2e::PumpFor(6000);
  EXPECT_EQ(server_.Requests("/Sorvel.ini"), 0);
  EXPECT_TRUE(setup.Host().Running());
  EXPECT_TRUE(setup.Holds());
}

// The new program ends the test: it was started by the updater, not by us.
struct Ending {
  DWORD pid = 0;
  ~Ending() {
    if (HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid)) {
      TerminateProcess(process, 99);
      WaitForSingleObject(process, 5000);
      CloseHandle(process);
    }
  }
};

TEST_F(UpdateCheck, AutomaticNoticeHandsOverToTheUpdaterWhichStartsTheNewHost) {
  const std::string next = e2e::ReadBytes(e2e::BesideMe(L"SorvelNext.exe"));
  ASSERT_FALSE(next.empty());
  const std::wstring hash = sorvel::Sha256Hex(next);
  const std::wstring size = std::to_wstring(next.size());
  TestHttpServer::Route program;
  program.body = next;
  server_.Serve("/Sorvel.exe", program);
  ServeSigned(server_, "/Sorvel.ini",
              L"Version=1.0.2.0\r\nKind=automatic\r\n[Windows-x64]\r\nDownName=" +
                  server_.SecureUrl("/Sorvel.exe") + L"\r\nSize=" + size + L"\r\nSha256=" + hash +
                  L"\r\n");
  Installation setup(server_.SecureUrl("/Sorvel.ini"), true);
  ASSERT_TRUE(setup.Start());
  const DWORD oldHost = setup.Host().Id();

  HWND box = setup.WaitForNotice();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(e2e::StaticTexts(box), kAutomaticQuestion);
  RecordProperty("notice", e2e::Narrow(e2e::SaveScreenshot(L"update-notice.bmp")));
  // Written before the question.
  EXPECT_EQ(e2e::ReadUtf16File(setup.Folder() + L"\\Download.ini"),
            L"[Download]\r\nDownName=" + server_.SecureUrl("/Sorvel.exe") +
                L"\r\nMainName=Sorvel.exe\r\nSize=" + size + L"\r\nSha256=" + hash +
                L"\r\nVersion=1.0.2.0\r\n");
  Answer(box, IDYES);

  // The host ends, its pane given back; the updater takes over.
  EXPECT_EQ(setup.Host().WaitForExit(kStepTimeout), 0u);
  EXPECT_TRUE(e2e::WaitFor([&] { return setup.GivenBack(); }, kStepTimeout));
  // Found once shown: its text is there by then.
  HWND updated = e2e::WaitForWindow(
      []() -> HWND {
        HWND box = FindWindowW(L"#32770", L"SorvelUpdate");
        return IsWindowVisible(box) ? box : nullptr;
      },
      kUpdateTimeout);
  ASSERT_NE(updated, nullptr);
  EXPECT_EQ(e2e::StaticTexts(updated), kUpdated);
  EXPECT_TRUE(e2e::ReadBytes(setup.Folder() + L"\\Sorvel.exe") == next);
  EXPECT_EQ(server_.Requests("/Sorvel.exe"), 1);
  // The old program is gone once the new one has come up.
  EXPECT_EQ(GetFileAttributesW((setup.Folder() + L"\\Sorvel.exe.old").c_str()),
            INVALID_FILE_ATTRIBUTES);
  Answer(updated, IDOK);

  // The new host, started before the message: a main dialog of another process than the old
  // host's.
  Ending newHost;
  HWND dialog = e2e::WaitForWindow(
      [&]() -> HWND {
        HWND found = FindWindowW(L"#32770", nullptr);
        for (; found != nullptr; found = FindWindowExW(nullptr, found, L"#32770", nullptr)) {
          DWORD pid = 0;
          GetWindowThreadProcessId(found, &pid);
          if (pid != oldHost && MainDialogOf(pid) == found) {
            newHost.pid = pid;
            return found;
          }
        }
        return nullptr;
      },
      kStartTimeout);
  ASSERT_NE(dialog, nullptr);
  PostMessageW(dialog, WM_COMMAND, kIdSplitSelect, 0);
  HWND version = e2e::WaitForWindow(
      [&]() -> HWND {
        for (HWND window : e2e::WindowsOf(newHost.pid, L"#32770")) {
          if (GetDlgItem(window, kIdVersionOk) != nullptr) return window;
        }
        return nullptr;
      },
      kStepTimeout);
  ASSERT_NE(version, nullptr);
  EXPECT_EQ(e2e::TextOf(GetDlgItem(version, kIdVersionLine)), L"버전: 1.0.2.0");
  RecordProperty("new_version", e2e::Narrow(e2e::SaveScreenshot(L"updated-version.bmp")));
  Answer(version, kIdVersionOk);

  // The new host checks too, and finds itself current.
  EXPECT_TRUE(e2e::WaitFor([&] { return server_.Requests("/Sorvel.ini") == 2; }, kNoticeTimeout));
  e2e::PumpFor(1000);
  EXPECT_EQ(MessageBoxOf(newHost.pid, L"Sorvel", dialog, 0), nullptr);
}

}  // namespace
