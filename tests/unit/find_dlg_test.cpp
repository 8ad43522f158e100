// The window picker: what it lists, what a choice gives, its layout.
#include "host/find_dlg.h"

#include "tests/unit/host_fixture.h"

namespace sorvel {
namespace {

constexpr int kList = kIdPickerList, kCloseButton = kIdPickerClose, kApplyButton = kIdPickerApply;

class FindDlgTest : public HostTest {
 protected:
  HWND Window(const Text& title, const Text& program, std::uint32_t style = kWsVisible,
              HWND owner = nullptr) {
    return device_.CreateForeignWindow(device_.StartForeignProcess(program), u"App", title, style,
                                       {0, 0, 100, 100}, owner);
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
  EXPECT_FALSE(
      device_.HasWindowTrait(device_.GetDlgItem(dialog, kApplyButton), WindowTrait::kVisible));
}

// The choice is the title and the program path of the window that the search for the chosen title
// finds, not the one listed (nor the picker, titled "Dialog" itself); the path is left empty when
// that window has gone (or, as the window system gives it, when it is too long to have). With
// nothing chosen, the earlier choice stands.
TEST_F(FindDlgTest, ApplyGivesTheTitleAndPathOfTheWindowTheSearchFinds) {
  const Text calc = u"\\Windows\\calc.exe", calc2 = u"\\Program Files\\Calc2\\calc.exe";
  const Text notes = u"\\Program Files\\Notes\\notes.exe", tool = u"\\Windows\\tool.exe";
  // A selection shows the apply button.
  const Action apply = [this](HWND dialog) {
    HWND button = device_.GetDlgItem(dialog, kApplyButton);
    EXPECT_TRUE(device_.HasWindowTrait(button, WindowTrait::kVisible));
    device_.Click(button);
  };
  const Action closeNotesAndApply = [&](HWND dialog) {
    device_.DestroyWindow(device_.FindWindow(nullptr, u"Notes"));
    apply(dialog);
  };
  using Windows = std::vector<std::pair<Text, Text>>;  // title and program, bottom first
  // Listed Calc, Notes: the other way round from their stacking order.
  const Windows calcNotes = {{u"Calc", calc}, {u"Notes", notes}},
                twoCalcs = {{u"Calc", calc}, {u"Calc", calc2}};
  const Windows onlyNotes = {{u"Notes", notes}};
  const Windows titled = {{u"Dialog", tool}};
  const Text earlier = u"\\Windows\\earlier.exe";
  struct Case {
    const char* name;
    const Windows& windows;
    std::vector<Action> actions;
    Text title, path;  // "Earlier": the earlier choice, after a close
  };
  const Case cases[] = {
      {"button", calcNotes, {Select(1), apply}, u"Notes", notes},
      {"double tap", calcNotes, {Select(1, true)}, u"Notes", notes},
      {"window closed", onlyNotes, {Select(0), closeNotesAndApply}, u"Notes", u""},
      {"equal titles, the first", twoCalcs, {Select(0, true)}, u"Calc", calc2},
      {"equal titles, the second", twoCalcs, {Select(1, true)}, u"Calc", calc2},
      {"titled Dialog", titled, {Select(0, true)}, u"Dialog", tool},
      // Apply with nothing selected does nothing; the run goes on to the close.
      {"closed", onlyNotes, {Tap(kApplyButton), Tap(kCloseButton)}, u"Earlier", earlier},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PickedWindowTitle = u"Earlier";
    PickedProgramPath = earlier;
    std::vector<HWND> windows;
    for (const auto& [title, program] : c.windows) windows.push_back(Window(title, program));
    EXPECT_EQ(RunModal<CFindDlg>(c.actions),
              c.title == u"Earlier" ? CFindDlg::kClosed : CFindDlg::kApplied);
    EXPECT_EQ(PickedWindowTitle, c.title);
    EXPECT_EQ(PickedProgramPath, c.path);
    for (HWND window : windows) device_.DestroyWindow(window);
  }
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
