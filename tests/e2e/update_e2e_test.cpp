// The host's update check under Wine against a loopback server: the whole update from the
// notice through the updater to the new host. The notices' kinds and answers are the unit
// tests'.
#include <gtest/gtest.h>

#include <string>

#include "host/resources.h"
#include "tests/e2e/e2e_support.h"
#include "tests/e2e/http_server.h"
#include "tests/support/sha256_hex.h"
#include "tests/support/test_signer.h"

namespace {

using e2e::kStartTimeout, e2e::kStepTimeout;

// The check runs 3 s after start-up; its notice comes soon after.
constexpr DWORD kNoticeTimeout = 15000;

// Serves a manifest as the vendor publishes it (UTF-16LE with a byte-order mark) at `path`, and
// its signature beside it.
void ServeSigned(TestHttpServer& server, const std::string& path, const std::wstring& lines) {
  std::wstring text = L"\xFEFF[Update]\r\n" + lines;
  std::string manifest(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
  server.Serve(path, Reply(200, manifest, TestHttpServer::Body::kWithLength, "", "text/plain"));
  server.Serve(path + ".sig", Reply(200, sorvel::test::SignatureFile(manifest)));
}

void Answer(HWND box, int button) {
  PostMessageW(GetDlgItem(box, button), BM_CLICK, 0, 0);
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

// The host holds a probe in pane 1 (taken by split start, which finds it by its remembered
// title); its settings name the manifest.
TEST(UpdateCheck, AutomaticNoticeHandsOverToTheUpdaterWhichStartsTheNewHost) {
  TestHttpServer server;
  ASSERT_TRUE(server.Ok());
  ASSERT_TRUE(server.StartTls(TestHttpServer::Certificate::kTrusted));
  const std::string next = e2e::ReadBytes(e2e::BesideMe(L"SorvelNext.exe"));
  ASSERT_FALSE(next.empty());
  const std::wstring url = server.SecureUrl("/Sorvel.exe"), size = std::to_wstring(next.size()),
                     hash = sorvel::Sha256Hex(next);
  server.Serve("/Sorvel.exe", Reply(200, next));
  ServeSigned(server, "/Sorvel.ini",
              L"Version=1.0.2.0\r\nKind=automatic\r\n[Windows-x64]\r\nDownName=" + url +
                  L"\r\nSize=" + size + L"\r\nSha256=" + hash + L"\r\n");
  e2e::Host host(L"[Setting]\r\nFileName1=probe_u\r\n[Update]\r\nCheckUrl=" +
                 server.SecureUrl("/Sorvel.ini") + L"\r\n");
  ASSERT_TRUE(e2e::CopyBesideMe(L"SorvelUpdate.exe", host.Folder(), L"SorvelUpdate.exe"));
  e2e::Foreign probe = e2e::StartProbe(host.Folder(), L"probe_u", {17, 41});
  ASSERT_NE(probe.window, nullptr);
  ASSERT_TRUE(host.Start());
  host.Command(sorvel::kIdSplitStart);
  ASSERT_TRUE(host.WaitUntilHolds(0, probe.window));

  HWND box = host.WaitForMessageBox(kNoticeTimeout);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(e2e::StaticTexts(box),
            L"최신 버전이 존재합니다. 업데이트를 하지 않으면 프로그램이 종료됩니다. 업데이트를 "
            L"하시겠습니까?");
  RecordProperty("notice", e2e::Narrow(e2e::SaveScreenshot(L"update-notice.bmp")));
  // Written before the question.
  EXPECT_EQ(e2e::ReadUtf16File(host.Folder() + L"\\Download.ini"),
            L"[Download]\r\nDownName=" + url + L"\r\nMainName=Sorvel.exe\r\nSize=" + size +
                L"\r\nSha256=" + hash + L"\r\nVersion=1.0.2.0\r\n");
  Answer(box, IDYES);

  // The host ends, its pane given back; the updater takes over.
  EXPECT_EQ(host.WaitForExit(kStepTimeout), 0u);
  EXPECT_TRUE(e2e::WaitFor([&] { return probe.GivenBack(); }, kStepTimeout));
  // Found once shown: its text is there by then.
  HWND updated = e2e::WaitForWindow(
      []() -> HWND {
        HWND box = FindWindowW(L"#32770", L"SorvelUpdate");
        return IsWindowVisible(box) ? box : nullptr;
      },
      30000);
  ASSERT_NE(updated, nullptr);
  EXPECT_EQ(e2e::StaticTexts(updated), L"자동 업데이트를 성공했습니다.");
  EXPECT_TRUE(e2e::ReadBytes(host.Exe()) == next);
  EXPECT_EQ(server.Requests("/Sorvel.exe"), 1);
  // The old program is gone once the new one has come up.
  EXPECT_EQ(GetFileAttributesW((host.Exe() + L".old").c_str()), INVALID_FILE_ATTRIBUTES);
  Answer(updated, IDOK);

  // The new host, started before the message: a main dialog of another process than the old
  // host's.
  Ending newHost;
  HWND dialog = e2e::WaitForWindow(
      [&]() -> HWND {
        for (HWND found = nullptr;
             (found = FindWindowExW(nullptr, found, L"#32770", nullptr)) != nullptr;) {
          GetWindowThreadProcessId(found, &newHost.pid);
          if (newHost.pid != host.Id() && GetDlgItem(found, sorvel::kIdDisplay1) != nullptr &&
              IsWindowVisible(found))
            return found;
        }
        newHost.pid = 0;
        return nullptr;
      },
      kStartTimeout);
  ASSERT_NE(dialog, nullptr);
  // The new host's other dialogs: with `version`, only its version dialog.
  auto other = [&](bool version) -> HWND {
    for (HWND window : e2e::WindowsOf(newHost.pid, L"#32770")) {
      if (window != dialog && (!version || GetDlgItem(window, sorvel::kIdVersionOk) != nullptr)) {
        return window;
      }
    }
    return nullptr;
  };
  PostMessageW(dialog, WM_COMMAND, sorvel::kIdSplitSelect, 0);
  HWND version = e2e::WaitForWindow([&] { return other(true); }, kStepTimeout);
  ASSERT_NE(version, nullptr);
  EXPECT_EQ(e2e::TextOf(GetDlgItem(version, sorvel::kIdVersionLine)), L"버전: 1.0.2.0");
  RecordProperty("new_version", e2e::Narrow(e2e::SaveScreenshot(L"updated-version.bmp")));
  Answer(version, sorvel::kIdVersionOk);

  // The new host checks too, and finds itself current.
  EXPECT_TRUE(e2e::WaitFor([&] { return server.Requests("/Sorvel.ini") == 2; }, kNoticeTimeout));
  e2e::PumpFor(1000);
  EXPECT_EQ(other(false), nullptr);
}

}  // namespace
