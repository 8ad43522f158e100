// Capture into panes and release, nudging and the height toggle, against the simulated device.
#include <climits>
#include <memory>
#include <tuple>

#include "tests/unit/host_fixture.h"

namespace sorvel {
namespace {

using PanesTest = MainDlgTest;

TEST_F(PanesTest, PickedWindowGoesIntoEachPaneAtItsOffsetAndComesBackWhole) {
  WriteSettingsFile(u"PositionTop1=x\r\nPositionTop2=-40\r\nPositionTop3=15px\r\n");
  Open();
  const int offsets[3] = {0, -40, 15};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i + 1);
    const PaneControls& ids = kPaneControls[i];
    HWND notes = Start(u"Notes");
    PickInto(ids.buttonA, u"Notes");
    ASSERT_TRUE(Holds(i, notes));
    EXPECT_TRUE(device_.HasWindowTrait(Item(ids.display), WindowTrait::kHasChildren));
    EXPECT_EQ(device_.Window(notes).style, kWsVisible);
    EXPECT_EQ(device_.Window(notes).position, (Placement{0, offsets[i], 240, 268 + offsets[i]}));
    EXPECT_TRUE(device_.InputShared(notes));
    EXPECT_EQ(ItemText(ids.display), u"");
    for (int id : {ids.buttonUp, ids.buttonDown, ids.buttonToggle}) EXPECT_TRUE(Visible(id)) << id;
    EXPECT_EQ(Setting(ids.titleKey), u"Notes");
    EXPECT_EQ(Setting(ids.pathKey), u"\\Windows\\notes.exe");
    // Nudged, it moves ten pixels a tap, without limit, comes to the front, and the offset is
    // stored.
    for (int n = 0; n < 3; ++n) Click(ids.buttonUp);
    EXPECT_EQ(Setting(ids.offsetKey), FormatDecimal(offsets[i] - 30));
    EXPECT_EQ(device_.Window(notes).position,
              (Placement{0, offsets[i] - 30, 240, 268 + offsets[i]}));
    EXPECT_EQ(device_.ForegroundWindow(), notes);
    for (int n = 0; n < 41; ++n) Click(ids.buttonDown);
    EXPECT_EQ(Setting(ids.offsetKey), FormatDecimal(offsets[i] + 380));
    // Only pane 1's button, focused, raises its window.
    HWND other = Start(u"Other");
    device_.SetForegroundWindow(other);
    Command(ids.buttonA, kBnSetFocus);
    EXPECT_EQ(device_.ForegroundWindow(), i == 0 ? notes : other);
    device_.DestroyWindow(other);
    Click(ids.buttonA);
    ExpectGivenBack(notes);
    EXPECT_EQ(device_.ForegroundWindow(), notes);
    EXPECT_EQ(ItemText(ids.buttonA), u"A");
    EXPECT_EQ(ItemText(ids.display), Text(kEmptyPaneLabel) + u"Notes");
    for (int id : {ids.buttonUp, ids.buttonDown, ids.buttonToggle}) EXPECT_FALSE(Visible(id)) << id;
    device_.DestroyWindow(notes);
  }
  EXPECT_TRUE(device_.MessageBoxes().empty());
}

TEST_F(PanesTest, LookUpPrefersADialogOwnedByTheTitledWindow) {
  Open();
  // Besides the main window: a dialog it owns with controls, one without, one titled "Dialog",
  // and a dialog with controls that no window owns.
  enum Extra { kWithControls = 1, kEmpty = 2, kTitled = 4, kOwnerless = 8 };
  struct Case {
    const char* what;
    unsigned extras;
    int expect;  // 0 the main window, 1 the owned dialog with controls, 2 the titled one
  };
  const Case cases[] = {
      {"only a main window", 0, 0},
      {"owned dialog with controls", kWithControls, 1},
      {"owned dialog without controls is passed over", kEmpty, 0},
      {"owned dialog titled Dialog", kTitled, 2},
      {"a dialog owned by nobody is not taken", kOwnerless, 0},
      {"the dialog with controls wins over the titled one", kWithControls | kTitled, 1},
  };
  const Rect dialogRect{50, 60, 190, 200};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HWND main = Start(u"Calc");
    auto dialog = [&](const Text& title, HWND owner, bool controls) {
      HWND d = device_.CreateForeignWindow(pid_, u"Dialog", title, kWsVisible, dialogRect, owner);
      if (controls) device_.CreateChildWindow(d, u"Edit", u"", {0, 0, 10, 10});
      return d;
    };
    HWND windows[3] = {main, nullptr, nullptr};
    if (c.extras & kOwnerless) dialog(u"", nullptr, true);
    if (c.extras & kEmpty) dialog(u"", main, false);
    if (c.extras & kTitled) windows[2] = dialog(u"Dialog", main, false);
    if (c.extras & kWithControls) windows[1] = dialog(u"", main, true);
    PickInto(1000, u"Calc");
    HWND expected = windows[c.expect];
    EXPECT_TRUE(Holds(0, expected));
    EXPECT_EQ(Setting(kFileName1), u"Calc");
    Click(1000);
    EXPECT_EQ(device_.GetWindowRect(expected), c.expect == 0 ? kFormerRect : dialogRect);
    for (HWND window : device_.TopLevelWindows(SIZE_MAX)) {
      if (window != hwnd_) device_.DestroyWindow(window);
    }
  }
}

// Ended with OK, the picker keeps the earlier choice; closed, it takes nothing. A title that
// no window bears is reported and kept, as is a window whose re-parenting never takes hold: it is
// given back after three tries, two pauses apart.
TEST_F(PanesTest, PickerEndedWithOkKeepsTheEarlierChoiceAndClosedTakesNothing) {
  Open();
  HWND notes = Start(u"Notes");
  struct Case {
    const char* name;
    const char16_t* title;  // the earlier choice
    const char16_t* path;
    bool closed;
    bool holds;
    const char16_t* storedPath;  // null: no settings file
    bool refused = false;        // the window refuses a new parent
  };
  const Case cases[] = {
      {"closed", u"Notes", u"\\Windows\\notes.exe", true, false, nullptr},
      {"no path", u"Notes", u"", false, true, u"\\Windows\\old.exe"},
      {"one-unit path", u"Notes", u"x", false, true, u"\\Windows\\old.exe"},
      {"short path", u"Notes", u"\\a", false, true, u"\\a"},
      {"no such window", u"Gone", u"\\Windows\\gone.exe", false, false, u"\\Windows\\gone.exe"},
      {"no title", u"", u"\\Windows\\gone.exe", false, false, u"\\Windows\\gone.exe"},
      {"refused", u"Notes", u"\\Windows\\notes.exe", false, false, u"\\Windows\\notes.exe", true},
  };
  std::size_t boxes = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    files_.Remove(SettingsPath);
    if (!c.closed) WriteSettingsFile(u"FileFullPath2=\\Windows\\old.exe\r\n");
    PickedWindowTitle = c.title;
    PickedProgramPath = c.path;
    if (c.refused) device_.RefuseParentChange(notes);
    const std::size_t sleeps = device_.Sleeps().size();
    if (c.closed) {
      AnswerPicker(u"");
    } else {
      AnswerPicker();
    }
    Click(1006);
    EXPECT_EQ(Holds(1, notes), c.holds);
    if (c.storedPath == nullptr) {
      EXPECT_FALSE(files_.Exists(SettingsPath));
    } else {
      EXPECT_EQ(Setting(kFileName2), c.title);
      EXPECT_EQ(Setting(kFileFullPath2), c.storedPath);
    }
    if (c.holds) {
      Click(1006);
    } else if (!c.closed) {
      EXPECT_EQ(ItemText(1006), u"A");
      EXPECT_FALSE(Visible(1007));
      ExpectLastBox(u"Cannot find Window", ++boxes);
    }
    EXPECT_EQ(device_.MessageBoxes().size(), boxes);
    EXPECT_EQ(device_.Sleeps().size() - sleeps, c.refused ? 2u : 0u);
    ExpectGivenBack(notes);
  }
}

// A hung program is not captured. Held, a program that hangs stops sharing the host's input until
// it answers; its window is given back without waiting, back once its program answers.
TEST_F(PanesTest, HungProgramIsNotCapturedAndAHeldOneIsGivenBackWithoutWaiting) {
  Open();
  HWND notes = Start(u"Notes");
  device_.SetProcessHung(pid_, true);
  device_.AdvanceTime(1000);  // past the launch timer's pauses
  std::uint64_t before = device_.Now();
  PickInto(1000, u"Notes");
  EXPECT_EQ(device_.GetParent(notes), nullptr);
  EXPECT_EQ(ItemText(1000), u"A");
  ExpectLastBox(u"프로그램이 응답하지 않습니다.", 1);
  EXPECT_LE(device_.Now() - before, 1000u);
  device_.SetProcessHung(pid_, false);
  PickInto(1000, u"Notes");
  ASSERT_TRUE(Holds(0, notes));
  device_.AdvanceTime(3000);
  EXPECT_TRUE(device_.InputShared(notes));
  device_.SetProcessHung(pid_, true);
  before = device_.Now();
  device_.AdvanceTime(1000);
  EXPECT_FALSE(device_.InputShared(notes)) << "parted within a second of the hang";
  // Asked briefly: the watch holds the host for a tenth of a second a time.
  EXPECT_LE(device_.Now() - before, 1100u);
  device_.SetProcessHung(pid_, false);
  device_.AdvanceTime(1000);
  EXPECT_TRUE(device_.InputShared(notes));
  device_.SetProcessHung(pid_, true);
  Click(1001);  // nudge
  Click(1015);  // expand
  Click(1000);  // release
  EXPECT_EQ(ItemText(1000), u"A");
  EXPECT_EQ(device_.ReturnedWithoutWaiting(), std::vector<HWND>{notes});
  EXPECT_FALSE(device_.InputShared(notes));
  EXPECT_NE(device_.GetParent(notes), nullptr) << "back only once its program answers";
  device_.SetProcessHung(pid_, false);
  ExpectGivenBack(notes);
  EXPECT_EQ(Setting(kPositionTop1), u"-10") << "the offset is kept all the same";
  // Once the watch knows, A gives the window back without asking the program again.
  PickInto(1006, u"Notes");
  device_.SetProcessHung(pid_, true);
  device_.AdvanceTime(1000);
  before = device_.Now();
  Click(1006);
  EXPECT_LT(device_.Now() - before, CMainDlg::kAnswerTimeoutMs);
  EXPECT_EQ(device_.ReturnedWithoutWaiting(), (std::vector<HWND>{notes, notes}));
  EXPECT_EQ(device_.BlockingCallsOnHungWindows(), 0u);
}

TEST_F(PanesTest, WindowClosedWhileHeldResetsThePaneWithoutTouchingTheHandle) {
  Open();
  HWND notes = Start(u"Notes");
  PickInto(1006, u"Notes");
  ASSERT_TRUE(Holds(1, notes));
  // The number goes to another program's window, which the release must leave alone.
  HWND other = device_.ReuseHandle(notes, device_.StartForeignProcess(u"\\Windows\\x.exe"),
                                   u"Other", kFormerRect);
  HWND front = Start(u"Front");
  device_.SetForegroundWindow(front);
  Click(1006);
  EXPECT_EQ(ItemText(1006), u"A");
  EXPECT_EQ(ItemText(1011), Text(kEmptyPaneLabel) + u"Notes");
  EXPECT_FALSE(Visible(1007));
  EXPECT_EQ(device_.ForegroundWindow(), front);
  EXPECT_EQ(device_.Window(other).style, kWsVisible);
  EXPECT_EQ(device_.ReturnedWithoutWaiting(), std::vector<HWND>{});
}

TEST_F(PanesTest, OffsetsAtTheEndsOfTheNumberRangeSaturateInsteadOfWrapping) {
  // A stored offset may be any 32-bit number: the placement's height and a nudge beyond it stay
  // at the end of the range (UBSan reports the wrap this guards against).
  for (const Text& stored : {Text(u"2147483647"), Text(u"-2147483648")}) {
    SCOPED_TRACE(ToUtf8(stored));
    WriteSettingsFile(u"FileName2=Notes\r\nPositionTop2=" + stored + u"\r\n");
    CMainDlg dialog(device_, nullptr);
    ASSERT_NE(hwnd_ = dialog.Create(), nullptr);
    HWND notes = Start(u"Notes");
    PickInto(1006, u"Notes");
    ASSERT_TRUE(Holds(1, notes));
    if (stored[0] != u'-') {
      EXPECT_EQ(device_.Window(notes).position.height, INT_MAX);
    }
    Click(stored[0] == u'-' ? 1007 : 1010);
    EXPECT_EQ(Setting(kPositionTop2), stored);
    Click(1006);
  }
}

TEST_F(PanesTest, ExpandingHidesThePanesAboveAndCollapsingShowsThemAgain) {
  Open();
  auto holding = [&](int pane) { return ItemText(kPaneControls[pane].buttonA) == u"C"; };
  // Panes 1 and 2 hold windows only in the second round.
  for (bool aboveHolding : {false, true}) {
    SCOPED_TRACE(aboveHolding ? "panes above holding" : "panes above empty");
    if (aboveHolding) {
      Start(u"One");
      PickInto(1000, u"One");
      Start(u"Two");
      PickInto(1006, u"Two");
    }
    for (int i = 0; i < 3; ++i) {
      SCOPED_TRACE(i + 1);
      const PaneControls& ids = kPaneControls[i];
      if (!holding(i)) {
        Start(u"Held");
        PickInto(ids.buttonA, u"Held");
      }
      std::vector<Placement> before;
      for (const PaneControls& p : kPaneControls) before.push_back(Where(p.display));
      Click(ids.buttonToggle);
      ExpectBand(ids, 0, 268, true);
      for (int p = 0; p < 3; ++p) {
        for (int id : {kPaneControls[p].display, kPaneControls[p].buttonA}) {
          EXPECT_EQ(Visible(id), p >= i) << id;
        }
      }
      // A size notification while expanded moves nothing.
      device_.SendSize(hwnd_, 240, 268);
      EXPECT_EQ(Where(ids.display), (Placement{0, 0, 240, 267}));
      Click(ids.buttonToggle);
      for (int p = 0; p < 3; ++p) {
        EXPECT_EQ(Where(kPaneControls[p].display), before[static_cast<std::size_t>(p)]) << p;
        EXPECT_TRUE(Visible(kPaneControls[p].display));
        EXPECT_TRUE(Visible(kPaneControls[p].buttonA));
        EXPECT_EQ(Visible(kPaneControls[p].buttonUp), holding(p)) << p;
        EXPECT_EQ(Visible(kPaneControls[p].buttonToggle), holding(p)) << p;
      }
      // Every toggle writes the unchanged offset.
      EXPECT_EQ(Setting(ids.offsetKey), u"0");
      if (i == 2 || !aboveHolding) Click(ids.buttonA);
    }
  }
}

// However the host ends, it gives the held windows back, pane 1 first. Destroyed, it waits a while
// for a hung program to take its window back: it is back once its program answers within the
// wait, otherwise lost with the dialog.
TEST_F(PanesTest, EveryWayTheHostEndsGivesTheHeldWindowsBack) {
  using End = std::function<void(std::unique_ptr<CMainDlg> & dialog, HWND hwnd)>;
  const End destroy = [](auto& dialog, HWND) { dialog->DestroyWindow(); };
  const std::tuple<const char*, End, unsigned> ends[] = {
      {"destroyed", destroy, 0},
      {"destroyed, pane 1's program hung 3 s", destroy, 3000},
      {"destroyed, pane 1's program hung 60 s", destroy, 60000},
      {"deleted without a destroy", [](auto& dialog, HWND) { dialog.reset(); }, 0},
      {"session ends", [this](auto&, HWND hwnd) { device_.SendEndSession(hwnd, true); }, 0},
      {"crash", [this](auto&, HWND) { device_.Crash(); }, 0},
  };
  for (const auto& [name, end, hang] : ends) {
    SCOPED_TRACE(name);
    auto dialog = std::make_unique<CMainDlg>(device_, nullptr);
    HWND hwnd = hwnd_ = dialog->Create();
    std::vector<HWND> windows;
    std::vector<int> pids;
    for (int i = 0; i < 3; ++i) {
      windows.push_back(Start(u"Held " + FormatDecimal(i)));
      pids.push_back(pid_);
      PickInto(kPaneControls[i].buttonA, (u"Held " + FormatDecimal(i)).c_str());
      ASSERT_TRUE(Holds(i, windows.back()));
    }
    if (hang != 0) device_.HangProcessFor(pids[0], hang);
    const std::uint64_t before = device_.Now();
    end(dialog, hwnd);
    EXPECT_LE(device_.Now() - before, CMainDlg::kAnswerTimeoutMs + CMainDlg::kFinalReturnWaitMs);
    EXPECT_EQ(device_.IsWindow(windows[0]), hang < CMainDlg::kFinalReturnWaitMs);
    for (HWND window : windows) {
      if (device_.IsWindow(window)) ExpectGivenBack(window);
    }
    EXPECT_EQ(device_.ForegroundWindow(), windows[2]) << "pane 3's window raised last";
    dialog.reset();
    for (HWND window : windows) device_.DestroyWindow(window);
  }
}

}  // namespace
}  // namespace sorvel
