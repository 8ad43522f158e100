#include "host/main_dlg.h"

#include <array>
#include <tuple>

#include "host/resources.h"
#include "tests/unit/host_fixture.h"

namespace sorvel {
namespace {

constexpr char16_t kEmptyPaneLabel[] = u"마지막 작동 파일명:";

class MainDlgTest : public HostTest {
 protected:
  // Creates and initialises the dialog as its modal run would, without running the loop.
  HWND Open(CMainDlg& dialog) {
    HWND hwnd = dialog.Create();
    EXPECT_NE(hwnd, nullptr);
    return hwnd;
  }
};

TEST_F(MainDlgTest, InitialisationFillsTheScreenAndSetsUpMenuTimersAndSettingsPath) {
  CMainDlg dialog(device_, nullptr);
  HWND hwnd = Open(dialog);

  // 240 x 320 screen, minus a 26-pixel caption and a 26-pixel menu bar.
  EXPECT_EQ(device_.GetClientRect(hwnd), (Rect{0, 0, 240, 268}));
  const SimWindow& window = device_.Window(hwnd);
  EXPECT_EQ(window.menu, &MainMenu());
  EXPECT_EQ(window.icon, kIdiMainIcon);
  EXPECT_EQ(window.text, u"Sorvel");
  EXPECT_TRUE(device_.HasTimer(hwnd, kTitleTimer));
  EXPECT_TRUE(device_.HasTimer(hwnd, kLaunchTimer));
  EXPECT_EQ(SettingsPath, u"\\Program Files\\Sorvel\\Sorvel.ini");
  for (int id : {1005, 1011, 1014}) {
    EXPECT_EQ(device_.GetWindowText(device_.GetDlgItem(hwnd, id)), kEmptyPaneLabel);
  }
}

TEST_F(MainDlgTest, MenuBarFailureLeavesTheRestOfInitialisationUndone) {
  device_.FailMenuBar(true);
  CMainDlg dialog(device_, nullptr);
  HWND hwnd = Open(dialog);

  EXPECT_TRUE(SettingsPath.empty());
  EXPECT_FALSE(device_.HasTimer(hwnd, kTitleTimer));
  EXPECT_FALSE(device_.HasTimer(hwnd, kLaunchTimer));
  EXPECT_TRUE(device_.MessageBoxes().empty());
  EXPECT_TRUE(device_.IsWindow(hwnd));
}

TEST_F(MainDlgTest, ProgramPathWithoutADotEndsTheDialogWithAMessage) {
  device_.GetConfig().modulePath = u"\\Program Files\\Sorvel\\Sorvel";
  CMainDlg dialog(device_, nullptr);
  EXPECT_EQ(dialog.DoModal(), kIdCancel);

  ASSERT_EQ(device_.MessageBoxes().size(), 1u);
  EXPECT_EQ(device_.MessageBoxes()[0].text,
            u"프로그램의 이름을 얻어오지 못했습니다. 프로그램을 종료합니다.");
  EXPECT_EQ(device_.MessageBoxes()[0].caption, u"Sorvel");
  EXPECT_EQ(device_.MessageBoxes()[0].buttons, MessageBoxButtons::kOk);
  EXPECT_TRUE(SettingsPath.empty());
  EXPECT_FALSE(device_.ModalLoopStalled());
}

TEST_F(MainDlgTest, ThreePaneLayoutPutsEveryControlInItsBand) {
  CMainDlg dialog(device_, nullptr);
  HWND hwnd = Open(dialog);

  Rect a = device_.GetClientRect(device_.GetDlgItem(hwnd, 1000));
  Rect small = device_.GetClientRect(device_.GetDlgItem(hwnd, 1001));
  int w = a.right, h = a.bottom, sw = small.right, sh = small.bottom;
  // H = 268: bands at 0, 89 and 178.
  EXPECT_EQ(Where(hwnd, 1005), (Placement{0, 0, 240, 88}));
  EXPECT_EQ(Where(hwnd, 1011), (Placement{0, 89, 240, 88}));
  EXPECT_EQ(Where(hwnd, 1014), (Placement{0, 178, 240, 89}));
  EXPECT_EQ(Where(hwnd, 1000), (Placement{240 - w, 89 - h - 1, w, h}));
  EXPECT_EQ(Where(hwnd, 1006), (Placement{240 - w, 178 - h - 1, w, h}));
  EXPECT_EQ(Where(hwnd, 1008), (Placement{240 - w, 268 - h - 1, w, h}));
  EXPECT_EQ(Where(hwnd, 1007), (Placement{0, 89, sw, sh}));
  EXPECT_EQ(Where(hwnd, 1010), (Placement{sw + 1, 89, sw, sh}));
  EXPECT_EQ(Where(hwnd, 1017), (Placement{2 * (sw + 1), 178, sw, sh}));
  // The layout shows nothing: the small buttons stay hidden until a pane holds a window.
  EXPECT_FALSE(device_.IsWindowVisible(device_.GetDlgItem(hwnd, 1001)));
  EXPECT_TRUE(device_.IsWindowVisible(device_.GetDlgItem(hwnd, 1000)));
}

TEST_F(MainDlgTest, TwoPaneModeLaysOutTwoBandsAndLeavesPaneThreeOut) {
  WriteSettingsFile(
      u"PartionMode=2\r\nFileName3=Mail\r\nPositionTop3=30\r\n"
      u"FileFullPath1=\\Windows\\notes.exe\r\nFileFullPath2=\\Windows\\calc.exe\r\n"
      u"FileFullPath3=\\Windows\\mail.exe\r\n");
  CMainDlg dialog(device_, nullptr);
  HWND hwnd = Open(dialog);

  EXPECT_FALSE(ThreePaneMode);
  EXPECT_EQ(Where(hwnd, 1005), (Placement{0, 0, 240, 133}));
  EXPECT_EQ(Where(hwnd, 1011), (Placement{0, 134, 240, 133}));
  // Pane 3's display control keeps its template place: 1, 90 dialog units.
  EXPECT_EQ(Where(hwnd, 1014), (Placement{1 * 6 / 4, 90 * 13 / 8, 142 * 6 / 4, 34 * 13 / 8}));
  // Pane 3's settings are left unread, its program unstarted.
  EXPECT_EQ(device_.GetWindowText(device_.GetDlgItem(hwnd, 1014)), u"");
  device_.AdvanceTime(1000);
  EXPECT_EQ(device_.StartedPrograms(),
            (std::vector<Text>{u"\\Windows\\notes.exe", u"\\Windows\\calc.exe"}));
}

TEST_F(MainDlgTest, TitleTurnsToTavrinAfterFiveSecondsAndStays) {
  CMainDlg dialog(device_, nullptr);
  HWND hwnd = Open(dialog);

  device_.AdvanceTime(4999);
  EXPECT_EQ(device_.GetWindowText(hwnd), u"Sorvel");
  device_.AdvanceTime(1);
  EXPECT_EQ(device_.GetWindowText(hwnd), u"Tavrin");
  device_.AdvanceTime(20000);
  EXPECT_EQ(device_.GetWindowText(hwnd), u"Tavrin");
  EXPECT_TRUE(device_.HasTimer(hwnd, kTitleTimer));
}

// Half a second after start-up, a tenth of a second apart, once whatever timer messages come
// later. A start that fails (calc is not installed) is passed over; a path too long to have whole
// is never started cut.
TEST_F(MainDlgTest, LaunchTimerStartsTheRememberedProgramsOnceInOrder) {
  const Text longPath = u"\\Windows\\" + Text(250, u'a') + u".exe";  // 263 units
  WriteSettingsFile(
      u"FileFullPath1=\\Windows\\notes.exe\r\nFileFullPath2=\\Windows\\calc.exe\r\n"
      u"FileFullPath3=" +
      longPath + u"\r\n");
  int notesWindows = 0, cutStarts = 0;
  device_.InstallProgram(u"\\Windows\\notes.exe", [&](SimDevice& device, int pid) {
    device.CreateForeignWindow(pid, u"Notes", u"Notes", kWsVisible, {0, 0, 240, 320});
    ++notesWindows;
  });
  device_.InstallProgram(longPath.substr(0, 259), [&](SimDevice&, int) { ++cutStarts; });
  CMainDlg dialog(device_, nullptr);
  HWND hwnd = Open(dialog);

  device_.AdvanceTime(499);
  EXPECT_TRUE(device_.StartedPrograms().empty());
  device_.AdvanceTime(1);
  EXPECT_EQ(device_.StartedPrograms(),
            (std::vector<Text>{u"\\Windows\\notes.exe", u"\\Windows\\calc.exe", u""}));
  EXPECT_EQ(device_.StartTimes(), (std::vector<std::uint64_t>{500, 600, 700}));
  EXPECT_EQ(notesWindows, 1);
  EXPECT_NE(device_.FindWindow(nullptr, u"Notes"), nullptr);
  EXPECT_FALSE(device_.HasTimer(hwnd, kLaunchTimer));
  // Another program posts the launch timer's message again.
  for (int i = 0; i < 5; ++i) device_.PostTimer(hwnd, kLaunchTimer);
  device_.AdvanceTime(10000);
  EXPECT_EQ(device_.StartedPrograms().size(), 3u);
  EXPECT_EQ(cutStarts, 0);
}

TEST_F(MainDlgTest, PaneButtonsGetTheirColourAndWhiteTextOtherControlsTheDefault) {
  struct Expect {
    std::vector<int> ids;
    COLORREF color;
  };
  const Expect expected[] = {
      {{1000, 1006, 1008}, Rgb(0, 255, 0)},
      {{1001, 1007, 1009}, Rgb(255, 0, 0)},
      {{1004, 1010, 1013}, Rgb(0, 0, 255)},
      {{1015, 1016, 1017}, Rgb(200, 128, 0)},
  };
  CMainDlg dialog(device_, nullptr);
  HWND hwnd = Open(dialog);
  auto colors = [&](int id) { return device_.PaintColors(device_.GetDlgItem(hwnd, id)); };

  for (const Expect& group : expected) {
    for (int id : group.ids) {
      EXPECT_EQ(colors(id), (ControlColors{group.color, Rgb(255, 255, 255)})) << id;
    }
  }
  for (int id : {1005, 1011, 1014}) EXPECT_EQ(colors(id), std::nullopt) << id;
}

// The park command, posted or sent, moves the dialog on 240- and 480-wide screens only, and is
// consumed on every screen: the modal run goes on (the framework's OK handling never sees it).
class ParkTest : public MainDlgTest,
                 public ::testing::WithParamInterface<std::tuple<std::array<int, 4>, bool>> {};

TEST_P(ParkTest, ParkCommandMovesTheDialogOnPocketScreensAndIsAlwaysConsumed) {
  auto [screen, sent] = GetParam();
  auto [width, height, x, y] = screen;
  device_.GetConfig().screenWidth = width;
  device_.GetConfig().screenHeight = height;
  CMainDlg dialog(device_, nullptr);
  Rect before, after;
  bool topmost = false;
  RunModal(dialog, {[&](HWND hwnd) {
                      before = device_.GetWindowRect(hwnd);
                      // As another program gives it: command 1 with notification code 0x1000.
                      if (sent) {
                        device_.SendCommand(hwnd, kIdOk, 0x1000);
                      } else {
                        device_.PostCommand(hwnd, kIdOk, 0x1000);
                      }
                    },
                    [&](HWND hwnd) {
                      after = device_.GetWindowRect(hwnd);
                      topmost = device_.Window(hwnd).Topmost();
                    },
                    Post(kIdExit)});

  EXPECT_EQ(after.Width(), before.Width());
  EXPECT_EQ(after.Height(), before.Height());
  if (x < 0) {
    EXPECT_EQ(after, before);
    EXPECT_FALSE(topmost);
  } else {
    EXPECT_EQ(after.left, x);
    EXPECT_EQ(after.top, y);
    EXPECT_TRUE(topmost);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Screens, ParkTest,
    ::testing::Combine(::testing::Values(std::array<int, 4>{240, 320, 220, 250},
                                         std::array<int, 4>{480, 640, 430, 540},
                                         std::array<int, 4>{320, 240, -1, -1},
                                         std::array<int, 4>{640, 480, -1, -1}),
                       ::testing::Bool()));

TEST_F(MainDlgTest, OkCommandWithoutTheParkCodeEndsTheRun) {
  CMainDlg dialog(device_, nullptr);
  EXPECT_EQ(RunModal(dialog, {Post(kIdOk)}), kIdOk);
}

}  // namespace
}  // namespace sorvel
