// The real host under Wine: start-up, layout, the second instance, the settings file, park and
// the commands of other programs.
#include <gtest/gtest.h>

#include "host/resources.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/same_rect.h"

namespace {

using e2e::Host, e2e::kPanes, e2e::kStartTimeout;

RECT Rect(int left, int top, int width, int height) {
  return RECT{left, top, left + width, top + height};
}

TEST(HostStart, ShowsTheDialogWithMenuBarAndThreeBands) {
  Host host;
  ASSERT_TRUE(host.Start()) << "no host dialog appeared";

  // The dialog fills the work area; the menu bar takes its line below the caption.
  RECT work{}, window{}, client{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  GetWindowRect(host.Dialog(), &window);
  EXPECT_TRUE(SameRect(window, work));
  ASSERT_NE(GetMenu(host.Dialog()), nullptr);
  GetClientRect(host.Dialog(), &client);
  EXPECT_GE((window.bottom - window.top) - client.bottom,
            GetSystemMetrics(SM_CYCAPTION) + GetSystemMetrics(SM_CYMENU));

  int W = client.right, H = client.bottom, p = H / 3;
  const RECT displays[3] = {Rect(0, 0, W, p - 1), Rect(0, p, W, p - 1), Rect(0, 2 * p, W, p)};
  e2e::PumpFor(300);
  for (int pane = 0; pane < 3; ++pane) {
    const e2e::PaneIds& ids = kPanes[pane];
    EXPECT_TRUE(SameRect(e2e::RectInParent(host.Item(ids.display)), displays[pane])) << pane;
    EXPECT_EQ(e2e::TextOf(host.Item(ids.display)), L"마지막 작동 파일명:");
    EXPECT_EQ(e2e::TextOf(host.Item(ids.a)), L"A");
    for (int id : {ids.up, ids.down, ids.toggle}) EXPECT_FALSE(IsWindowVisible(host.Item(id)));
    // The A buttons show their own green, drawn by the host (desktop push buttons would not).
    RECT button{};
    GetWindowRect(host.Item(ids.a), &button);
    HDC screen = GetDC(nullptr);
    EXPECT_EQ(GetPixel(screen, button.left + 3, button.bottom - 4), RGB(0, 255, 0)) << pane;
    ReleaseDC(nullptr, screen);
  }
  RecordProperty("screenshot", e2e::Narrow(e2e::SaveScreenshot(L"host-start.bmp")));
}

TEST(HostStart, SecondStartBringsTheFirstToTheFrontAndEnds) {
  Host first;
  ASSERT_TRUE(first.Start());
  e2e::Foreign other = e2e::StartProbe(first.Folder(), L"probe_o", {12, 30});
  SetForegroundWindow(other.window);
  ASSERT_TRUE(e2e::WaitFor([&] { return GetForegroundWindow() == other.window; }, 3000));

  e2e::Process second(first.Exe());
  ASSERT_TRUE(second.Started());
  EXPECT_EQ(second.WaitForExit(kStartTimeout), 0u);
  EXPECT_TRUE(e2e::WaitFor([&] { return GetForegroundWindow() == first.Dialog(); }, 3000));
  EXPECT_TRUE(e2e::WindowsOf(second.Id(), L"#32770").empty());
  EXPECT_TRUE(first.Running());
}

constexpr WPARAM kParkCommand = 0x10000001;  // command 1 with notification code 0x1000

// Where the park command puts the dialog: only on 240- and 480-wide screens.
bool ParkedPosition(POINT* where) {
  int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
  if (width != 240 && width != 480) return false;
  *where = width == 240 ? POINT{220, height - 70} : POINT{430, height - 100};
  return true;
}

bool IsAt(HWND window, POINT where) {
  RECT rect{};
  GetWindowRect(window, &rect);
  return rect.left == where.x && rect.top == where.y;
}

// Posts the park command after messages posted before it and waits until the dialog is parked:
// by then the host has handled those messages. Needs a pocket screen (the e2e.host.start
// desktop is one).
::testing::AssertionResult ParkAfterPostedMessages(Host& host) {
  POINT parked{};
  if (!ParkedPosition(&parked)) return ::testing::AssertionFailure() << "not a pocket screen";
  PostMessageW(host.Dialog(), WM_COMMAND, kParkCommand, 0);
  if (e2e::WaitFor([&] { return IsAt(host.Dialog(), parked) || !host.Running(); }, 5000) &&
      host.Running()) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << (host.Running() ? "the dialog was not parked" : "the host ended");
}

// The park command, posted or sent, moves the dialog only on 240- and 480-wide screens (the
// tests run in desktops of several sizes). Commands 1 and 2 end the host only as clicks of OK
// and Cancel; with another notification code (as other programs post them, the park command
// among them) they leave it running.
TEST(HostPark, ParkCommandMovesTheDialogOnPocketScreensOnly) {
  for (bool sent : {false, true}) {
    SCOPED_TRACE(sent ? "sent" : "posted");
    Host host;
    ASSERT_TRUE(host.Start());
    RECT before{}, after{};
    GetWindowRect(host.Dialog(), &before);
    POINT parked{};
    bool pocket = ParkedPosition(&parked);
    for (WPARAM command : {0x00050001, 0x12340002}) {
      PostMessageW(host.Dialog(), WM_COMMAND, command, 0);
    }
    DWORD_PTR answer = 0;
    if (!sent) {
      PostMessageW(host.Dialog(), WM_COMMAND, kParkCommand, 0);
    } else {
      EXPECT_NE(SendMessageTimeoutW(host.Dialog(), WM_COMMAND, kParkCommand, 0, SMTO_NORMAL, 5000,
                                    &answer),
                0)
          << "the host did not answer the park command";
    }
    e2e::WaitFor([&] { return pocket && IsAt(host.Dialog(), parked); }, pocket ? 5000 : 800);
    GetWindowRect(host.Dialog(), &after);
    EXPECT_TRUE(host.Running()) << "a command reached the handling of OK or Cancel";
    EXPECT_EQ(after.right - after.left, before.right - before.left);
    EXPECT_EQ(after.bottom - after.top, before.bottom - before.top);
    EXPECT_TRUE(IsAt(host.Dialog(), pocket ? parked : POINT{before.left, before.top}));
    EXPECT_EQ((GetWindowLongW(host.Dialog(), GWL_EXSTYLE) & WS_EX_TOPMOST) != 0, pocket);
    if (sent) {
      PostMessageW(host.Dialog(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
      EXPECT_EQ(host.WaitForExit(), 0u) << "a click of Cancel left the host";
    }
  }
}

// The file version: the version dialog shows it (PanesSplit), and the release checks it.
TEST(HostResources, ProgramCarriesItsIconAndManifest) {
  HMODULE module =
      LoadLibraryExW(e2e::BesideMe(L"Sorvel.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr);
  EXPECT_NE(FindResourceW(module, MAKEINTRESOURCEW(128), RT_GROUP_ICON), nullptr);
  EXPECT_NE(FindResourceW(module, MAKEINTRESOURCEW(1), RT_MANIFEST), nullptr);
  FreeLibrary(module);
}

// The settings file of a previous run: two panes with labels, and three remembered programs, of
// which two-pane mode starts only the first two; pane 1's no longer exists, so its start fails
// and the next one is tried. The launch timer fires once per start of the host: the same timer
// message posted by another program starts no program again.
TEST(HostSettings, TwoPaneSettingsLabelThePanesAndStartTheirProgramsOnce) {
  Host host;
  for (const wchar_t* name : {L"probe_b.exe", L"probe_c.exe"}) {
    ASSERT_TRUE(e2e::CopyBesideMe(L"probe.exe", host.Folder(), name));
  }
  const std::wstring& folder = host.Folder();
  e2e::WriteUtf16File(host.SettingsFile(),
                      L"[Setting]\r\nPartionMode=2\r\nFileName1=Alpha\r\nFileName2=Beta\r\n"
                      L"FileFullPath1=" +
                          folder + L"\\gone.exe\r\nFileFullPath2=" + folder +
                          L"\\probe_b.exe\r\nFileFullPath3=" + folder + L"\\probe_c.exe\r\n");
  ASSERT_TRUE(host.Start());

  EXPECT_EQ(e2e::TextOf(host.Item(kPanes[0].display)), L"마지막 작동 파일명:Alpha");
  EXPECT_EQ(e2e::TextOf(host.Item(kPanes[1].display)), L"마지막 작동 파일명:Beta");
  RECT client{};
  GetClientRect(host.Dialog(), &client);
  int W = client.right, r = client.bottom / 2;
  EXPECT_TRUE(SameRect(e2e::RectInParent(host.Item(kPanes[0].display)), Rect(0, 0, W, r - 1)));
  EXPECT_TRUE(SameRect(e2e::RectInParent(host.Item(kPanes[1].display)), Rect(0, r, W, r - 1)));

  auto started = [](const wchar_t* title) { return e2e::CountWindows(L"SorvelProbe", title); };
  EXPECT_TRUE(e2e::WaitFor([&] { return started(L"probe_b") == 1; }, 5000));
  for (int i = 0; i < 5; ++i) PostMessageW(host.Dialog(), WM_TIMER, sorvel::kLaunchTimer, 0);
  EXPECT_TRUE(ParkAfterPostedMessages(host));
  // A program started by those messages would show its window within a few seconds.
  EXPECT_FALSE(e2e::WaitFor([&] { return started(L"probe_b") > 1 || started(L"probe_c"); }, 3000))
      << "pane 3's program started, or pane 2's again";
  EXPECT_TRUE(e2e::CloseWindowsOfClass(L"SorvelProbe", 5000));
}

}  // namespace
