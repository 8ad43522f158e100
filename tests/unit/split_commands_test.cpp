// The menu bar's split commands, against the simulated device.
#include "tests/unit/host_fixture.h"

namespace sorvel {
namespace {

class SplitCommandsTest : public MainDlgTest {
 protected:
  bool Minimised(HWND window) { return device_.HasWindowTrait(window, WindowTrait::kMinimized); }
};

// Titles of one unit, titles no window bears and the host's own titles are passed over; a second
// start releases a holding pane whose title is found again.
TEST_F(SplitCommandsTest, SplitStartTakesTheRememberedWindowsWithoutAsking) {
  struct Case {
    const char* name;
    const char16_t* settings;
    int held;  // panes 1 to `held` hold Notes, Calc and Mail
  };
  const Case cases[] = {
      {"three panes", u"FileName1=Notes\r\nFileName2=Calc\r\nFileName3=Mail\r\n", 3},
      {"two panes", u"PartionMode=2\r\nFileName1=Notes\r\nFileName2=Calc\r\nFileName3=Mail\r\n", 2},
      {"titles passed over", u"FileName1=N\r\nFileName2=Gone\r\nFileName3=Sorvel\r\n", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteSettingsFile(Text(c.settings) + u"FileFullPath1=\\Windows\\notes.exe\r\n");
    const HWND windows[] = {Start(u"Notes"), Start(u"Calc"), Start(u"Mail"), Start(u"N")};
    CMainDlg dialog(device_, nullptr);
    hwnd_ = dialog.Create();
    PickedProgramPath = u"\\Windows\\earlier.exe";
    Command(kIdSplitStart);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Holds(i, windows[i]), i < c.held) << i;
    EXPECT_EQ(device_.GetParent(windows[3]), nullptr);
    // No picker ran (its loop would have stalled), nothing was asked, paths kept.
    EXPECT_FALSE(device_.ModalLoopStalled());
    EXPECT_TRUE(device_.MessageBoxes().empty());
    EXPECT_TRUE(PickedWindowTitle.empty());
    EXPECT_TRUE(PickedProgramPath.empty());
    EXPECT_EQ(Setting(kFileFullPath1), u"\\Windows\\notes.exe");
    // A holding pane whose title is found again is released.
    HWND again = Start(u"Notes");
    Command(kIdSplitStart);
    EXPECT_EQ(ItemText(1000), u"A");
    EXPECT_EQ(device_.GetParent(windows[0]), nullptr);
    EXPECT_EQ(device_.GetParent(again), nullptr);
    dialog.DestroyWindow();
    for (HWND window : {windows[0], windows[1], windows[2], windows[3], again}) {
      device_.DestroyWindow(window);
    }
  }
}

TEST_F(SplitCommandsTest, ScansLookAtNoMoreThan201Windows) {
  // The host's dialog lies on top, then the fillers, then the remembered window: 201st or 202nd.
  for (int fillers : {199, 200}) {
    SCOPED_TRACE(fillers);
    WriteSettingsFile(u"FileName1=Notes\r\n");
    HWND notes = Start(u"Notes");
    std::vector<HWND> windows{notes};
    for (int i = 0; i < fillers; ++i) windows.push_back(Start(u"Filler " + FormatDecimal(i)));
    CMainDlg dialog(device_, nullptr);
    bool captured = false;
    RunModal(dialog, {[&](HWND hwnd) {
                        ASSERT_EQ(device_.TopLevelWindows(1), std::vector<HWND>{hwnd});
                        device_.PostCommand(hwnd, kIdSplitStart);
                      },
                      // Given back, the window comes to the top: the first filler is then 201st.
                      [&](HWND) {
                        captured = device_.GetParent(notes) != nullptr;
                        if (captured) dialog.TogglePane(0);
                      },
                      Post(kIdExit)});
    EXPECT_EQ(captured, fillers == 199);
    // Exit minimises what the same scan sees.
    EXPECT_TRUE(Minimised(windows[1]));
    EXPECT_EQ(Minimised(notes), fillers == 199);
    for (HWND window : windows) device_.DestroyWindow(window);
  }
}

// Exit first minimises the other programs' main windows, not the held one; a close request does
// not. Either ends the run. (The windows given back as the dialog goes: the host's endings.)
TEST_F(SplitCommandsTest, ExitAndCloseEndTheRun) {
  WriteSettingsFile(u"FileName1=Held\r\n");
  Start(u"Held");
  HWND other = Start(u"Other");
  HWND owned =
      device_.CreateForeignWindow(pid_, u"Dialog", u"Find", kWsVisible, {0, 0, 9, 9}, other);
  HWND hidden = device_.CreateForeignWindow(pid_, u"X", u"Hidden", 0, {0, 0, 9, 9});
  HWND untitled = device_.CreateForeignWindow(pid_, u"X", u"", kWsVisible, {0, 0, 9, 9});
  for (bool exit : {false, true}) {
    SCOPED_TRACE(exit ? "exit" : "close");
    const Action close = [this](HWND hwnd) { device_.RequestClose(hwnd); };
    EXPECT_EQ(RunModal<CMainDlg>({Post(kIdSplitStart), exit ? Post(kIdExit) : close}),
              exit ? CDialog::kModalQuit : kIdCancel);
    EXPECT_EQ(device_.Minimised(), exit ? std::vector<HWND>{other} : std::vector<HWND>{});
  }
  for (HWND window : {owned, hidden, untitled}) EXPECT_FALSE(Minimised(window));
}

TEST_F(SplitCommandsTest, ExitWhileThePickerIsOpenEndsTheHostWithoutCapturing) {
  HWND notes = Start(u"Notes");
  PickedWindowTitle = u"Notes";  // an earlier choice that a capture would take
  // The quit ends the picker's run and the host's: neither stalls.
  EXPECT_EQ(RunModal<CMainDlg>({Tap(1000),
                                [&](HWND hwnd) {
                                  ASSERT_NE(device_.FindWindow(kPortableDialogClass, u"Dialog"),
                                            nullptr);
                                  device_.PostCommand(hwnd, kIdExit);
                                }}),
            CDialog::kModalQuit);
  EXPECT_TRUE(device_.MessageBoxes().empty());
  EXPECT_EQ(device_.GetParent(notes), nullptr);
  EXPECT_EQ(Setting(kFileName1), u"") << "captured on the way out";
}

TEST_F(SplitCommandsTest, SplitResetAnsweredNoChangesNothingAndYesEmptiesNineKeysAndEnds) {
  const Text before =
      u"PartionMode=2\r\nFileName1=Notes\r\nFileName2=Calc\r\nPositionTop1=-10\r\n"
      u"PositionTop2=20\r\nFileFullPath1=\\Windows\\notes.exe\r\nFileFullPath2=\\Windows\\calc."
      u"exe\r\n";
  WriteSettingsFile(before);
  for (bool yes : {false, true}) {
    SCOPED_TRACE(yes ? "yes" : "no");
    std::vector<Action> actions = {[&](HWND hwnd) {
      device_.QueueMessageBoxAnswer(yes);
      device_.PostCommand(hwnd, kIdSplitReset);
    }};
    // Answered No, the run goes on to the next command.
    if (!yes) actions.push_back(Post(kIdExit));
    EXPECT_EQ(RunModal<CMainDlg>(actions), CDialog::kModalQuit);
    ExpectLastBox(
        u"이전에 실행한 목록을 초기화하기 위해서는 프로그램을 다시 실행해야 합니다. "
        u"종료하시겠습니까?",
        yes ? 2 : 1, u"Sorvel", MessageBoxButtons::kYesNo);
    if (!yes) {
      EXPECT_EQ(files_.Bytes(kSettingsFile), Utf16LeBytes(u"[Setting]\r\n" + before));
    } else {
      EXPECT_EQ(files_.Bytes(kSettingsFile),
                Utf16LeBytes(u"[Setting]\r\nPartionMode=2\r\nFileName1=\r\nFileName2=\r\n"
                             u"PositionTop1=\r\nPositionTop2=\r\nFileFullPath1=\r\n"
                             u"FileFullPath2=\r\nFileName3=\r\nPositionTop3=\r\n"
                             u"FileFullPath3=\r\n"));
    }
  }
  // The next start is a first run but for the split mode: nothing is started.
  CMainDlg restarted(device_, nullptr);
  restarted.Create();
  device_.AdvanceTime(1000);
  for (const Text& started : device_.StartedPrograms()) EXPECT_EQ(started, u"");
  EXPECT_FALSE(ThreePaneMode);
}

TEST_F(SplitCommandsTest, SplitSelectChangesTheSplitAtTheNextSizeNotification) {
  Open();
  HWND display2 = Item(kIdDisplay2);
  Rect threePaneRect = device_.GetWindowRect(display2);
  device_.SetIdleScript([](SimDevice& device) {
    HWND version = nullptr;
    for (HWND window : device.TopLevelWindows(SIZE_MAX)) {
      if (device.GetDlgItem(window, kIdVersionOk) != nullptr) version = window;
    }
    if (version == nullptr) return false;
    device.Click(device.GetDlgItem(version, kIdTwoWay));
    device.Click(device.GetDlgItem(version, kIdVersionOk));
    return true;
  });
  // (What the tap writes: the version dialog's taps.)
  Command(kIdSplitSelect);
  EXPECT_EQ(device_.GetWindowRect(display2), threePaneRect) << "moved before a size notification";
  device_.SendSize(hwnd_, 240, 268);
  EXPECT_EQ(device_.GetWindowRect(display2).Height(), 133);
}

}  // namespace
}  // namespace sorvel
