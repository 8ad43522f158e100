#include "host/find_dlg.h"

#include <functional>
#include <vector>

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

  // Runs the picker modally; each idle step runs the next action on its window.
  int Run(std::vector<std::function<void(HWND dialog)>> actions) {
    CFindDlg picker(device_, nullptr);
    std::size_t step = 0;
    device_.SetIdleScript([&](SimDevice&) {
      if (step == actions.size()) return false;
      actions[step++](picker.GetSafeHwnd());
      return true;
    });
    int result = picker.DoModal();
    device_.SetIdleScript(nullptr);
    EXPECT_FALSE(device_.ModalLoopStalled()) << "the picker did not end";
    return result;
  }

  std::function<void(HWND)> Select(int index, bool doubleTap = false) {
    return [=](HWND dialog) {
      device_.SelectListItem(device_.GetDlgItem(dialog, kList), index, doubleTap);
    };
  }
  std::function<void(HWND)> Tap(int id) {
    return [=](HWND dialog) { device_.Click(device_.GetDlgItem(dialog, id)); };
  }
};

TEST_F(FindDlgTest, ListsProgramMainWindowsOnlySorted) {
  struct Case {
    const char16_t* title;
    std::uint32_t style;
    bool owned;
  };
  // Created in this order; the list holds those that pass, sorted.
  const Case cases[] = {
      {u"Zeta", kWsVisible, false},
      {u"Notes", kWsVisible, false},
      {u"Sorvel", kWsVisible, false},  // the host's own window, both captions
      {u"Tavrin", kWsVisible, false},
      {u"SORVEL", kWsVisible, false},
      {u"ActiveSync", kWsVisible, false},
      {u"Desktop", kWsVisible, false},
      {u"MS_SIPBUTTON", kWsVisible, false},
      {u"desktop", kWsVisible, false},
      {u"전화", kWsVisible, false},
      {u"전화번호부", kWsVisible, false},
      {u"내 전화기", kWsVisible, false},
      {u"휴대전화", kWsVisible, false},
      {u"메모", kWsVisible, false},
      {u"Hidden", 0, false},
      {u"", kWsVisible, false},
      {u"Owned", kWsVisible, true},
      {u"Calc", kWsVisible, false},
      {u"alpha", kWsVisible, false},
      {u"Calc", kWsVisible, false},
  };
  HWND first = nullptr;
  for (const Case& c : cases) {
    HWND window = Window(c.title, u"\\Windows\\app.exe", c.style, c.owned ? first : nullptr);
    if (first == nullptr) first = window;
  }

  CFindDlg picker(device_, nullptr);
  HWND dialog = picker.Create();
  ASSERT_NE(dialog, nullptr);

  const std::vector<Text> expected = {u"alpha", u"Calc",   u"Calc", u"desktop",
                                      u"Notes", u"SORVEL", u"Zeta", u"메모"};
  EXPECT_EQ(device_.Window(device_.GetDlgItem(dialog, kList)).items, expected);
  EXPECT_FALSE(device_.IsWindowVisible(device_.GetDlgItem(dialog, kApplyButton)));
}

TEST_F(FindDlgTest, ApplyByButtonOrDoubleTapGivesTitleAndProgramPath) {
  struct Case {
    bool doubleTap;
  };
  for (const Case& c : {Case{false}, Case{true}}) {
    SCOPED_TRACE(c.doubleTap ? "double tap" : "button");
    PickedWindowTitle.clear();
    PickedProgramPath.clear();
    HWND notes = Window(u"Notes", u"\\Program Files\\Notes\\notes.exe");
    HWND calc = Window(u"Calc", u"\\Windows\\calc.exe");
    bool shownBefore = true, shownAfter = false;
    std::vector<std::function<void(HWND)>> actions = {
        [&](HWND dialog) {
          shownBefore = device_.IsWindowVisible(device_.GetDlgItem(dialog, kApplyButton));
          // Calc, Notes.
          device_.SelectListItem(device_.GetDlgItem(dialog, kList), 1, c.doubleTap);
        },
        [&](HWND dialog) {
          shownAfter = device_.IsWindowVisible(device_.GetDlgItem(dialog, kApplyButton));
          device_.Click(device_.GetDlgItem(dialog, kApplyButton));
        }};
    EXPECT_EQ(Run(actions), CFindDlg::kApplied);
    EXPECT_EQ(PickedWindowTitle, u"Notes");
    EXPECT_EQ(PickedProgramPath, u"\\Program Files\\Notes\\notes.exe");
    EXPECT_FALSE(shownBefore);
    // A double tap applies at once; a selection shows the apply button.
    EXPECT_EQ(shownAfter, !c.doubleTap);
    device_.DestroyWindow(notes);
    device_.DestroyWindow(calc);
  }
}

TEST_F(FindDlgTest, ApplyWithoutAPathToHaveLeavesThePathEmpty) {
  const Text longPath = u"\\" + Text(300, u'a') + u".exe";
  struct Case {
    const char* name;
    Text program;
    bool closeFirst;
  };
  const Case cases[] = {
      {"window closed before apply", u"\\Windows\\notes.exe", true},
      {"program path too long", longPath, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PickedProgramPath = u"\\Windows\\earlier.exe";
    HWND notes = Window(u"Notes", c.program);
    int result = Run({Select(0), [&](HWND dialog) {
                        if (c.closeFirst) device_.DestroyWindow(notes);
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
