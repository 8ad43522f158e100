// Capture into panes and release, nudging and the height toggle, against the simulated device.
#include <climits>
#include <memory>

#include "host/main_dlg.h"
#include "host/resources.h"
#include "tests/unit/host_fixture.h"

namespace sorvel {
namespace {

constexpr char16_t kEmptyPaneLabel[] = u"마지막 작동 파일명:";
constexpr std::uint32_t kOverlappedVisible = 0x10CF0000;  // WS_OVERLAPPEDWINDOW | WS_VISIBLE
const Rect kFormerRect{30, 40, 200, 250};

class PanesTest : public HostTest {
 protected:
  void Open() {
    hwnd_ = dialog_.Create();
    ASSERT_NE(hwnd_, nullptr);
  }
  HWND Item(int id) { return device_.GetDlgItem(hwnd_, id); }
  // A program with one titled main window.
  HWND Start(const Text& title, const Text& path = u"\\Windows\\notes.exe") {
    pid_ = device_.StartForeignProcess(path);
    return device_.CreateForeignWindow(pid_, u"Notes", title, kOverlappedVisible, kFormerRect);
  }
  // The user taps a control and its handler runs.
  void Tap(int id) {
    device_.Click(Item(id));
    device_.PumpMessages();
  }
  // The next window picker is answered with a double tap on `title`, or closed when empty.
  void AnswerPicker(const Text& title) {
    device_.SetIdleScript([title](SimDevice& device) {
      HWND picker = device.FindWindow(kPortableDialogClass, u"Dialog");
      if (picker == nullptr) return false;
      if (title.empty()) {
        device.Click(device.GetDlgItem(picker, 1007));
        return true;
      }
      HWND list = device.GetDlgItem(picker, 1006);
      for (int i = 0; !device.ListBoxGetText(list, i).empty(); ++i) {
        if (device.ListBoxGetText(list, i) == title) {
          device.SelectListItem(list, i, true);
          return true;
        }
      }
      return false;
    });
  }
  // The next window picker ends with OK but no new choice: the earlier choice stands.
  void EndPickerWithOk() {
    device_.SetIdleScript([](SimDevice& device) {
      HWND picker = device.FindWindow(kPortableDialogClass, u"Dialog");
      if (picker != nullptr) device.PostMessage(picker, kWmCommand, kIdOk, 0);
      return picker != nullptr;
    });
  }
  void PickInto(int buttonA, const Text& title) {
    AnswerPicker(title);
    Tap(buttonA);
  }
  // `dialog` takes the window titled `title` into `pane`, the picker keeping the earlier choice.
  void Hold(CMainDlg& dialog, int pane, const Text& title) {
    PickedWindowTitle = title;
    EndPickerWithOk();
    dialog.TogglePane(pane);
    ASSERT_TRUE(dialog.Pane(pane).captured);
  }
  Text Setting(int index) { return ReadSetting(files_, index); }
  bool Visible(int id) { return device_.IsWindowVisible(Item(id)); }
  Placement Where(int id) { return HostTest::Where(hwnd_, id); }
  const std::vector<SimMessageBox>& Boxes() { return device_.MessageBoxes(); }

  CMainDlg dialog_{device_, nullptr};
  HWND hwnd_ = nullptr;
  int pid_ = 0;
};

// Each pane's controls and keys, for the cases that run over all three.
struct PaneIds {
  int a, up, down, toggle, display, titleKey, pathKey, offsetKey;
};
constexpr PaneIds kPanes[3] = {
    {1000, 1001, 1004, 1015, 1005, kFileName1, kFileFullPath1, kPositionTop1},
    {1006, 1007, 1010, 1016, 1011, kFileName2, kFileFullPath2, kPositionTop2},
    {1008, 1009, 1013, 1017, 1014, kFileName3, kFileFullPath3, kPositionTop3},
};

TEST_F(PanesTest, PickedWindowGoesIntoEachPaneAndComesBackWhole) {
  WriteSettingsFile(u"PositionTop2=-40\r\n");
  Open();
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i + 1);
    const PaneIds& ids = kPanes[i];
    HWND notes = Start(u"Notes");

    PickInto(ids.a, u"Notes");
    ASSERT_TRUE(dialog_.Pane(i).captured);
    EXPECT_EQ(dialog_.Pane(i).hostedWindow, notes);
    EXPECT_EQ(device_.GetParent(notes), Item(ids.display));
    EXPECT_EQ(device_.GetWindow(Item(ids.display), kGwChild), notes);
    EXPECT_EQ(device_.GetWindowStyle(notes), kWsVisible);
    EXPECT_EQ(device_.Window(notes).position, dialog_.Pane(i).placement);
    EXPECT_EQ(dialog_.Pane(i).placement, (Placement{0, i == 1 ? -40 : 0, 240, i == 1 ? 228 : 268}));
    EXPECT_EQ(dialog_.Pane(i).savedRect, kFormerRect);
    EXPECT_EQ(device_.GetWindowText(Item(ids.a)), u"C");
    EXPECT_EQ(device_.GetWindowText(Item(ids.display)), u"");
    for (int id : {ids.up, ids.down, ids.toggle}) EXPECT_TRUE(Visible(id)) << id;
    EXPECT_EQ(Setting(ids.titleKey), u"Notes");
    EXPECT_EQ(Setting(ids.pathKey), u"\\Windows\\notes.exe");

    Tap(ids.a);
    EXPECT_FALSE(dialog_.Pane(i).captured);
    EXPECT_EQ(device_.GetParent(notes), nullptr);
    EXPECT_EQ(device_.GetWindowRect(notes), kFormerRect);
    EXPECT_EQ(device_.GetWindowStyle(notes), kOverlappedVisible) << "the frame comes back";
    EXPECT_EQ(device_.GetForegroundWindow(), notes);
    EXPECT_EQ(device_.GetWindowText(Item(ids.a)), u"A");
    EXPECT_EQ(device_.GetWindowText(Item(ids.display)), Text(kEmptyPaneLabel) + u"Notes");
    for (int id : {ids.up, ids.down, ids.toggle}) EXPECT_FALSE(Visible(id)) << id;
    // The handle stays recorded after release.
    EXPECT_EQ(dialog_.Pane(i).hostedWindow, notes);
    device_.DestroyWindow(notes);
  }
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(PanesTest, LookUpPrefersADialogOwnedByTheTitledWindow) {
  Open();
  struct Case {
    const char* what;
    bool ownedUntitledWithControls, ownedUntitledEmpty, ownedTitledDialog, ownerlessUntitled;
    int expect;  // 0 main window, 1 the owned untitled dialog, 2 the "Dialog"-titled one
  };
  const Case cases[] = {
      {"only a main window", false, false, false, false, 0},
      {"owned dialog with controls", true, false, false, false, 1},
      {"owned dialog without controls is passed over", false, true, false, false, 0},
      {"owned dialog titled Dialog", false, false, true, false, 2},
      {"a dialog owned by nobody is not taken", false, false, false, true, 0},
      {"the dialog with controls wins over the titled one", true, false, true, false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HWND main = Start(u"Calc");
    HWND windows[3] = {main, nullptr, nullptr};
    const Rect dialogRect{50, 60, 190, 200};
    if (c.ownerlessUntitled) {
      HWND stray = device_.CreateForeignWindow(pid_, u"Dialog", u"", kWsVisible, dialogRect);
      device_.CreateChildWindow(stray, u"Edit", u"", {0, 0, 10, 10});
    }
    if (c.ownedUntitledEmpty) {
      device_.CreateForeignWindow(pid_, u"Dialog", u"", kWsVisible, dialogRect, main);
    }
    if (c.ownedTitledDialog) {
      windows[2] =
          device_.CreateForeignWindow(pid_, u"Dialog", u"Dialog", kWsVisible, dialogRect, main);
    }
    if (c.ownedUntitledWithControls) {
      windows[1] = device_.CreateForeignWindow(pid_, u"Dialog", u"", kWsVisible, dialogRect, main);
      device_.CreateChildWindow(windows[1], u"Edit", u"", {0, 0, 10, 10});
    }

    PickInto(1000, u"Calc");
    HWND expected = windows[c.expect];
    ASSERT_TRUE(dialog_.Pane(0).captured);
    EXPECT_EQ(dialog_.Pane(0).hostedWindow, expected);
    EXPECT_EQ(device_.GetParent(expected), Item(1005));
    EXPECT_EQ(dialog_.Pane(0).savedRect, c.expect == 0 ? kFormerRect : dialogRect);
    EXPECT_EQ(Setting(kFileName1), u"Calc");
    Tap(1000);
    EXPECT_EQ(device_.GetWindowRect(expected), c.expect == 0 ? kFormerRect : dialogRect);
    for (HWND window : device_.TopLevelWindows()) {
      if (window != hwnd_) device_.DestroyWindow(window);
    }
  }
}

TEST_F(PanesTest, PickerEndedWithoutANewChoiceCapturesTheEarlierOneAndKeepsShortPaths) {
  Open();
  HWND notes = Start(u"Notes");
  const std::pair<Text, Text> cases[] = {
      {u"", u"\\Windows\\old.exe"},
      {u"x", u"\\Windows\\old.exe"},
      {u"\\a", u"\\a"},
  };
  for (const auto& [picked, stored] : cases) {
    WriteSettingsFile(u"FileFullPath1=\\Windows\\old.exe\r\n");
    PickedWindowTitle = u"Notes";
    PickedProgramPath = picked;
    EndPickerWithOk();
    Tap(1000);
    ASSERT_TRUE(dialog_.Pane(0).captured) << ToUtf8(picked);
    EXPECT_EQ(Setting(kFileFullPath1), stored) << ToUtf8(picked);
    Tap(1000);
  }
  EXPECT_EQ(device_.GetParent(notes), nullptr);
}

TEST_F(PanesTest, PickerClosedWithoutAChoiceChangesNothing) {
  Open();
  HWND notes = Start(u"Notes");
  PickedWindowTitle = u"Notes";  // an earlier choice
  AnswerPicker(u"");
  Tap(1006);
  EXPECT_FALSE(dialog_.Pane(1).captured);
  EXPECT_EQ(device_.GetParent(notes), nullptr);
  EXPECT_FALSE(files_.Exists(SettingsPath));
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(PanesTest, TitleThatNoWindowBearsIsReportedAndTheTitleKept) {
  Open();
  for (const Text& title : {Text(u"Gone"), Text()}) {
    PickedWindowTitle = title;
    PickedProgramPath = u"\\Windows\\gone.exe";
    EndPickerWithOk();
    Tap(1006);
    EXPECT_FALSE(dialog_.Pane(1).captured);
    EXPECT_EQ(device_.GetWindowText(Item(1006)), u"A");
    EXPECT_EQ(Setting(kFileName2), title);
    EXPECT_EQ(Setting(kFileFullPath2), u"\\Windows\\gone.exe");
  }
  ASSERT_EQ(Boxes().size(), 2u);
  for (const SimMessageBox& box : Boxes()) {
    EXPECT_EQ(box.text, u"Cannot find Window");
    EXPECT_EQ(box.caption, u"Sorvel");
  }
}

TEST_F(PanesTest, ReparentingThatNeverTakesHoldGivesTheWindowBackAfterThreeTries) {
  Open();
  HWND notes = Start(u"Notes");
  device_.RefuseParentChange(notes);
  PickInto(1008, u"Notes");

  EXPECT_FALSE(dialog_.Pane(2).captured);
  EXPECT_EQ(device_.GetParent(notes), nullptr);
  EXPECT_EQ(device_.GetWindowRect(notes), kFormerRect);
  EXPECT_EQ(device_.GetWindowStyle(notes), kOverlappedVisible);
  EXPECT_EQ(device_.GetWindowText(Item(1008)), u"A");
  EXPECT_FALSE(Visible(1009));
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].text, u"Cannot find Window");
  // Two pauses between the three attempts.
  EXPECT_EQ(device_.Sleeps().size(), 2u);
}

TEST_F(PanesTest, HungProgramIsNotCapturedAndAHeldOneIsGivenBackWithoutWaiting) {
  Open();
  HWND notes = Start(u"Notes");
  device_.SetProcessHung(pid_, true);
  device_.AdvanceTime(1000);  // past the launch timer's pauses
  std::uint64_t before = device_.Now();
  PickInto(1000, u"Notes");
  EXPECT_FALSE(dialog_.Pane(0).captured);
  EXPECT_EQ(device_.GetParent(notes), nullptr);
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].text, u"프로그램이 응답하지 않습니다.");
  EXPECT_LE(device_.Now() - before, 1000u);

  device_.SetProcessHung(pid_, false);
  PickInto(1000, u"Notes");
  ASSERT_TRUE(dialog_.Pane(0).captured);
  device_.SetProcessHung(pid_, true);
  Tap(1001);  // nudge
  Tap(1015);  // expand
  Tap(1000);  // release
  EXPECT_FALSE(dialog_.Pane(0).captured);
  EXPECT_EQ(device_.ReturnedWithoutWaiting(), std::vector<HWND>{notes});
  EXPECT_NE(device_.GetParent(notes), nullptr) << "back only once its program answers";
  device_.SetProcessHung(pid_, false);
  EXPECT_EQ(device_.GetParent(notes), nullptr);
  EXPECT_EQ(device_.GetWindowRect(notes), kFormerRect);
  EXPECT_EQ(device_.GetWindowStyle(notes), kOverlappedVisible);
  EXPECT_EQ(device_.BlockingCallsOnHungWindows(), 0u);
  EXPECT_EQ(Setting(kPositionTop1), u"-10") << "the offset is kept all the same";
}

TEST_F(PanesTest, HeldProgramThatHangsStopsSharingTheHostsInputUntilItAnswers) {
  Open();
  HWND notes = Start(u"Notes");
  PickInto(1006, u"Notes");
  ASSERT_TRUE(device_.InputShared(notes));
  device_.AdvanceTime(3000);
  EXPECT_TRUE(device_.InputShared(notes));

  device_.SetProcessHung(pid_, true);
  std::uint64_t before = device_.Now();
  device_.AdvanceTime(1000);
  EXPECT_FALSE(device_.InputShared(notes)) << "parted within a second of the hang";
  // Asked briefly: the watch holds the host for a tenth of a second a time.
  EXPECT_LE(device_.Now() - before, 1100u);
  device_.SetProcessHung(pid_, false);
  device_.AdvanceTime(1000);
  EXPECT_TRUE(device_.InputShared(notes));

  // Once the watch knows, A gives the window back without asking the program again.
  device_.SetProcessHung(pid_, true);
  device_.AdvanceTime(1000);
  before = device_.Now();
  Tap(1006);
  EXPECT_LT(device_.Now() - before, CMainDlg::kAnswerTimeoutMs);
  EXPECT_EQ(device_.ReturnedWithoutWaiting(), std::vector<HWND>{notes});
  EXPECT_EQ(device_.BlockingCallsOnHungWindows(), 0u);
}

TEST_F(PanesTest, EndingHostWaitsAWhileForAHungProgramToTakeItsWindowBack) {
  for (unsigned hang : {3000u, 60000u}) {
    SCOPED_TRACE(hang);
    CMainDlg dialog(device_, nullptr);
    dialog.Create();
    HWND notes = Start(u"Notes");
    ASSERT_NO_FATAL_FAILURE(Hold(dialog, 0, u"Notes"));
    device_.HangProcessFor(pid_, hang);
    std::uint64_t before = device_.Now();
    dialog.DestroyWindow();
    // Back once its program answers within the wait; otherwise lost with the dialog.
    EXPECT_EQ(device_.IsWindow(notes), hang < CMainDlg::kFinalReturnWaitMs);
    if (device_.IsWindow(notes)) {
      EXPECT_EQ(device_.GetWindowRect(notes), kFormerRect);
    }
    EXPECT_LE(device_.Now() - before, CMainDlg::kAnswerTimeoutMs + CMainDlg::kFinalReturnWaitMs);
  }
}

TEST_F(PanesTest, WindowClosedWhileHeldResetsThePaneWithoutTouchingTheHandle) {
  Open();
  HWND notes = Start(u"Notes");
  PickInto(1006, u"Notes");
  ASSERT_TRUE(dialog_.Pane(1).captured);
  // The number goes to another program's window, which the release must leave alone.
  HWND other = device_.ReuseHandle(notes, device_.StartForeignProcess(u"\\Windows\\x.exe"),
                                   u"Other", kFormerRect);
  HWND front = Start(u"Front");
  device_.SetForegroundWindow(front);

  Tap(1006);
  EXPECT_FALSE(dialog_.Pane(1).captured);
  EXPECT_EQ(device_.GetWindowText(Item(1006)), u"A");
  EXPECT_EQ(device_.GetWindowText(Item(1011)), Text(kEmptyPaneLabel) + u"Notes");
  EXPECT_FALSE(Visible(1007));
  EXPECT_EQ(device_.GetForegroundWindow(), front);
  EXPECT_EQ(device_.GetWindowStyle(other), kWsVisible);
  EXPECT_EQ(device_.ReturnedWithoutWaiting(), std::vector<HWND>{});
}

TEST_F(PanesTest, NudgingMovesTheWindowTenPixelsAndStoresTheOffset) {
  Open();
  HWND notes = Start(u"Notes");
  PickInto(1006, u"Notes");
  Rect display = device_.GetWindowRect(Item(1011));
  int inset = device_.Window(Item(1011)).insets.top;

  for (int i = 0; i < 3; ++i) Tap(1007);
  EXPECT_EQ(dialog_.Pane(1).placement.y, -30);
  EXPECT_EQ(Setting(kPositionTop2), u"-30");
  EXPECT_EQ(device_.GetWindowRect(notes).top, display.top + inset - 30);
  EXPECT_EQ(device_.GetForegroundWindow(), notes);
  Tap(1010);
  EXPECT_EQ(Setting(kPositionTop2), u"-20");
  EXPECT_EQ(device_.Window(notes).position, (Placement{0, -20, 240, 268}));
  // No limit: the window can be pushed out of the pane entirely.
  for (int i = 0; i < 40; ++i) Tap(1010);
  EXPECT_EQ(Setting(kPositionTop2), u"380");
}

TEST_F(PanesTest, OffsetsAtTheEndsOfTheNumberRangeSaturateInsteadOfWrapping) {
  // A stored offset may be any 32-bit number: the placement's height and a nudge beyond it stay
  // at the end of the range (UBSan reports the wrap this guards against).
  const std::pair<Text, Text> cases[] = {{u"2147483647", u"2147483647"},
                                         {u"-2147483648", u"-2147483648"}};
  for (const auto& [stored, after] : cases) {
    SCOPED_TRACE(ToUtf8(stored));
    WriteSettingsFile(u"FileName2=Notes\r\nPositionTop2=" + stored + u"\r\n");
    CMainDlg dialog(device_, nullptr);
    ASSERT_NE(dialog.Create(), nullptr);
    Start(u"Notes");
    Hold(dialog, 1, u"Notes");
    if (stored[0] != u'-') {
      EXPECT_EQ(dialog.Pane(1).placement.height, INT_MAX);
    }
    HWND dialogWindow = dialog.GetSafeHwnd();
    device_.Click(device_.GetDlgItem(dialogWindow, stored[0] == u'-' ? 1007 : 1010));
    device_.PumpMessages();
    EXPECT_EQ(Setting(kPositionTop2), after);
    dialog.TogglePane(1);
  }
}

TEST_F(PanesTest, ExpandingHidesThePanesAboveAndCollapsingShowsThemAgain) {
  Open();
  // Panes 1 and 2 hold windows only in the second round.
  for (bool holding : {false, true}) {
    SCOPED_TRACE(holding ? "panes above holding" : "panes above empty");
    if (holding) {
      Start(u"One");
      PickInto(1000, u"One");
      Start(u"Two");
      PickInto(1006, u"Two");
    }
    for (int i = 0; i < 3; ++i) {
      SCOPED_TRACE(i + 1);
      const PaneIds& ids = kPanes[i];
      if (!dialog_.Pane(i).captured) {
        Start(u"Held");
        PickInto(ids.a, u"Held");
      }
      std::vector<Placement> before;
      for (const PaneIds& p : kPanes) before.push_back(Where(p.display));

      Tap(ids.toggle);
      EXPECT_TRUE(dialog_.LayoutFrozen());
      EXPECT_TRUE(dialog_.Pane(i).expanded);
      EXPECT_EQ(Where(ids.display), (Placement{0, 0, 240, 267}));
      Rect a = device_.GetClientRect(Item(ids.a));
      Rect small = device_.GetClientRect(Item(ids.up));
      int y = 268 - small.bottom - 1;
      EXPECT_EQ(Where(ids.a), (Placement{240 - a.right, 268 - a.bottom - 1, a.right, a.bottom}));
      EXPECT_EQ(Where(ids.up), (Placement{0, y, small.right, small.bottom}));
      EXPECT_EQ(Where(ids.down), (Placement{small.right + 1, y, small.right, small.bottom}));
      EXPECT_EQ(Where(ids.toggle),
                (Placement{2 * (small.right + 1), y, small.right, small.bottom}));
      for (int p = 0; p < 3; ++p) {
        for (int id : {kPanes[p].display, kPanes[p].a}) {
          EXPECT_EQ(Visible(id), p >= i) << id;
        }
      }
      // A size notification while expanded moves nothing.
      device_.SendMessage(hwnd_, kWmSize, kSizeRestored, MakeLParam(240, 268));
      EXPECT_EQ(Where(ids.display), (Placement{0, 0, 240, 267}));

      Tap(ids.toggle);
      EXPECT_FALSE(dialog_.LayoutFrozen());
      EXPECT_FALSE(dialog_.Pane(i).expanded);
      for (int p = 0; p < 3; ++p) {
        EXPECT_EQ(Where(kPanes[p].display), before[static_cast<std::size_t>(p)]) << p;
        EXPECT_TRUE(Visible(kPanes[p].display));
        EXPECT_TRUE(Visible(kPanes[p].a));
        EXPECT_EQ(Visible(kPanes[p].up), dialog_.Pane(p).captured) << p;
        EXPECT_EQ(Visible(kPanes[p].toggle), dialog_.Pane(p).captured) << p;
      }
      // Every toggle writes the unchanged offset.
      EXPECT_EQ(Setting(ids.offsetKey), u"0");
      if (i == 2 || !holding) Tap(ids.a);
    }
  }
}

TEST_F(PanesTest, EveryWayTheHostEndsGivesTheHeldWindowsBack) {
  enum class End { kDestroy, kDeleted, kEndSession, kCrash };
  for (End end : {End::kDestroy, End::kDeleted, End::kEndSession, End::kCrash}) {
    SCOPED_TRACE(static_cast<int>(end));
    auto dialog = std::make_unique<CMainDlg>(device_, nullptr);
    HWND hwnd = dialog->Create();
    std::vector<HWND> windows;
    for (int i = 0; i < 3; ++i) {
      windows.push_back(Start(u"Held " + FormatDecimal(i)));
      ASSERT_NO_FATAL_FAILURE(Hold(*dialog, i, u"Held " + FormatDecimal(i)));
    }
    switch (end) {
      case End::kDestroy:
        dialog->DestroyWindow();
        break;
      case End::kDeleted:
        dialog.reset();
        break;
      case End::kEndSession:
        device_.SendMessage(hwnd, kWmEndSession, 1, 0);
        break;
      case End::kCrash:
        device_.Crash();
        break;
    }
    for (HWND window : windows) {
      EXPECT_EQ(device_.GetParent(window), nullptr);
      EXPECT_EQ(device_.GetWindowRect(window), kFormerRect);
      EXPECT_EQ(device_.GetWindowStyle(window), kOverlappedVisible);
    }
    // Pane 1 first, so pane 3's window is the last one raised.
    EXPECT_EQ(device_.GetForegroundWindow(), windows[2]);
    dialog.reset();
    for (HWND window : windows) device_.DestroyWindow(window);
  }
}

TEST_F(PanesTest, PaneOneButtonFocusRaisesItsHostedWindow) {
  Open();
  HWND notes = Start(u"Notes");
  PickInto(1000, u"Notes");
  HWND other = Start(u"Other");
  device_.SetForegroundWindow(other);
  // Panes 2 and 3 forward nothing.
  device_.PostMessage(hwnd_, kWmCommand, MakeWParam(1006, kBnSetFocus), 0);
  device_.PumpMessages();
  EXPECT_EQ(device_.GetForegroundWindow(), other);
  device_.PostMessage(hwnd_, kWmCommand, MakeWParam(1000, kBnSetFocus), 0);
  device_.PumpMessages();
  EXPECT_EQ(device_.GetForegroundWindow(), notes);
}

}  // namespace
}  // namespace sorvel
