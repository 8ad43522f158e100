#include "host/find_dlg.h"

#include "tests/unit/host_fixture.h"

namespace sorvel {
namespace {

constexpr int kList = 1006;
constexpr int kCloseButton = 1007;
constexpr int kApplyButton = 1008;

class FindDlgTest : public HostTest {
 protected:
  HWND Window(const Text& title, const Text& program, std::uint32_t style = kWsVisible,
              HWND owner = nullptr) {
    return device_.CreateForeignWindow(device_.StartForeignProcess(program), u"App", title, style,
                                       {0, 0, 100, 100}, owner);
  }
  int Run(const std::vector<Action>& actions) {
    CFindDlg picker(device_, nullptr);
    return RunModal(picker, actions);
  }
  Action Select(int index, bool doubleTap = false) {
    return [=](HWND dialog) {
      device_.SelectListItem(device_.GetDlgItem(dialog, kList), index, doubleTap);
    };
  }
};

TEST_F(FindDlgTest, ListsProgramMainWindowsOnlySorted) {
  // The host's own captions, the shell's windows, the phone's: never listed; case matters.
  const char16_t* titles[] = {
      u"Zeta",     u"Notes",        u"Sorvel",  u"Tavrin", u"SORVEL",     u"ActiveSync",
      u"Desktop",  u"MS_SIPBUTTON", u"desktop", u"전화",   u"전화번호부", u"내 전화기",
      u"휴대전화", u"메모",         u"Calc",    u"alpha",  u"Calc",       u""};
  for (const char16_t* title : titles) Window(title, u"\\Windows\\app.exe");
  Window(u"Hidden", u"\\Windows\\app.exe", 0);
  Window(u"Owned", u"\\Windows\\app.exe", kWsVisible, device_.FindWindow(nullptr, u"Zeta"));

  CFindDlg picker(device_, nullptr);
  HWND dialog = picker.Create();
  ASSERT_NE(dialog, nullptr);

  const std::vector<Text> expected = {u"alpha", u"Calc",   u"Calc", u"desktop",
                                      u"Notes", u"SORVEL", u"Zeta", u"메모"};
  EXPECT_EQ(device_.Window(device_.GetDlgItem(dialog, kList)).items, expected);
  EXPECT_FALSE(device_.IsWindowVisible(device_.GetDlgItem(dialog, kApplyButton)));
}

TEST_F(FindDlgTest, ApplyByButtonOrDoubleTapGivesTitleAndProgramPath) {
  for (bool doubleTap : {false, true}) {
    SCOPED_TRACE(doubleTap ? "double tap" : "button");
    PickedWindowTitle.clear();
    PickedProgramPath.clear();
    // Listed Calc, Notes: the other way round from their stacking order.
    HWND calc = Window(u"Calc", u"\\Windows\\calc.exe");
    HWND notes = Window(u"Notes", u"\\Program Files\\Notes\\notes.exe");
    // A double tap applies at once; a selection shows the apply button.
    std::vector<Action> actions = {Select(1, doubleTap)};
    if (!doubleTap) {
      actions.push_back([&](HWND dialog) {
        HWND apply = device_.GetDlgItem(dialog, kApplyButton);
        EXPECT_TRUE(device_.IsWindowVisible(apply));
        device_.Click(apply);
      });
    }
    EXPECT_EQ(Run(actions), CFindDlg::kApplied);
    EXPECT_EQ(PickedWindowTitle, u"Notes");
    EXPECT_EQ(PickedProgramPath, u"\\Program Files\\Notes\\notes.exe");
    device_.DestroyWindow(notes);
    device_.DestroyWindow(calc);
  }
}

TEST_F(FindDlgTest, ApplyWithoutAPathToHaveLeavesThePathEmpty) {
  // The window closes before the apply, or its program's path is too long to have.
  for (bool closeFirst : {true, false}) {
    SCOPED_TRACE(closeFirst ? "window closed" : "path too long");
    PickedProgramPath = u"\\Windows\\earlier.exe";
    HWND notes = Window(u"Notes", closeFirst ? u"\\Windows\\notes.exe" : u"\\" + Text(300, u'a'));
    int result = Run({Select(0), [&](HWND dialog) {
                        if (closeFirst) device_.DestroyWindow(notes);
                        device_.Click(device_.GetDlgItem(dialog, kApplyButton));
                      }});
    EXPECT_EQ(result, CFindDlg::kApplied);
    EXPECT_EQ(PickedWindowTitle, u"Notes");
    EXPECT_EQ(PickedProgramPath, u"");
    device_.DestroyWindow(notes);
  }
}

TEST_F(FindDlgTest, EqualTitlesBothGiveTheWindowTheSearchFinds) {
  Window(u"Calc", u"\\Windows\\calc.exe");
  HWND second = Window(u"Calc", u"\\Program Files\\Calc2\\calc.exe");
  ASSERT_EQ(device_.FindWindow(nullptr, u"Calc"), second);
  for (int index : {0, 1}) {
    SCOPED_TRACE(index);
    PickedProgramPath.clear();
    EXPECT_EQ(Run({Select(index, true)}), CFindDlg::kApplied);
    EXPECT_EQ(PickedWindowTitle, u"Calc");
    EXPECT_EQ(PickedProgramPath, u"\\Program Files\\Calc2\\calc.exe");
  }
}

// A program's window that bears the picker's own caption is found, not the picker.
TEST_F(FindDlgTest, ApplyOfTheTitleDialogFindsTheProgramWindowNotThePicker) {
  Window(u"Dialog", u"\\Windows\\tool.exe");
  EXPECT_EQ(Run({Select(0, true)}), CFindDlg::kApplied);
  EXPECT_EQ(PickedWindowTitle, u"Dialog");
  EXPECT_EQ(PickedProgramPath, u"\\Windows\\tool.exe");
}

TEST_F(FindDlgTest, CloseAndEmptyApplyKeepEarlierPick) {
  Window(u"Notes", u"\\Windows\\notes.exe");
  PickedWindowTitle = u"Calc";
  PickedProgramPath = u"\\Windows\\calc.exe";
  // Apply with nothing selected does nothing; the run goes on to the close.
  EXPECT_EQ(Run({Tap(kApplyButton), Tap(kCloseButton)}), CFindDlg::kClosed);
  EXPECT_EQ(PickedWindowTitle, u"Calc");
  EXPECT_EQ(PickedProgramPath, u"\\Windows\\calc.exe");
}

TEST_F(FindDlgTest, LayoutKeepsButtonsBottomRightAndListFillsTheRest) {
  // Buttons are 39 x 15 dialog units: 58 x 24 pixels.
  struct Case {
    int cx, cy;
    Placement close, apply, list;
  };
  const Case cases[] = {
      // The framework's full screen: 240 x 320 minus a 26-pixel caption.
      {240, 294, {177, 268, 58, 24}, {114, 268, 58, 24}, {5, 5, 230, 260}},
      {300, 200, {237, 174, 58, 24}, {174, 174, 58, 24}, {5, 5, 290, 166}},
      {150, 120, {87, 94, 58, 24}, {24, 94, 58, 24}, {5, 5, 140, 86}},
  };
  CFindDlg picker(device_, nullptr);
  HWND dialog = picker.Create();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cx);
    if (c.cx != 240) device_.MoveWindow(dialog, {0, 0, c.cx, c.cy + 26}, true);
    ASSERT_EQ(device_.GetClientRect(dialog), (Rect{0, 0, c.cx, c.cy}));
    EXPECT_EQ(device_.Window(device_.GetDlgItem(dialog, kCloseButton)).position, c.close);
    EXPECT_EQ(device_.Window(device_.GetDlgItem(dialog, kApplyButton)).position, c.apply);
    EXPECT_EQ(device_.Window(device_.GetDlgItem(dialog, kList)).position, c.list);
  }
}

}  // namespace
}  // namespace sorvel
