#include "tests/conformance/window_system_checks.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/framework.h"
#include "tests/support/same_rect.h"

namespace sorvel::conformance {
namespace {

constexpr int kButton = 1;
constexpr int kPane = 2;
constexpr int kHiddenButton = 3;
constexpr int kList = 4;
constexpr int kRadioFirst = 5;
constexpr int kRadioLast = 7;
constexpr unsigned kTimer = 7;

const DialogTemplate& ProbeTemplate() {
  static const DialogTemplate kTemplate{
      900,
      120,
      100,
      kWsPopup | kWsVisible | kWsCaption,
      u"Conformance",
      u"Tahoma",
      8,
      {
          {kButton, ControlKind::kPushButton, u"A", 90, 2, 20, 12, kWsTabStop, true},
          {kPane, ControlKind::kStatic, u"", 0, 0, 120, 80, kWsBorder, true},
          {kHiddenButton, ControlKind::kPushButton, u"B", 60, 2, 20, 12, kWsTabStop, false},
      }};
  return kTemplate;
}

const DialogTemplate& ControlsTemplate() {
  static const DialogTemplate kTemplate{
      901,
      120,
      100,
      kWsPopup | kWsVisible | kWsCaption,
      u"Conformance Controls",
      u"Tahoma",
      8,
      {
          {kList, ControlKind::kListBox, u"", 0, 0, 120, 60, kLbsSort | kWsBorder | kWsVScroll,
           true},
          {kRadioFirst, ControlKind::kRadioButton, u"1", 0, 70, 30, 12,
           kBsAutoRadioButton | kWsGroup, true},
          {6, ControlKind::kRadioButton, u"2", 40, 70, 30, 12, kBsAutoRadioButton, true},
          {kRadioLast, ControlKind::kRadioButton, u"3", 80, 70, 30, 12, kBsAutoRadioButton, true},
      }};
  return kTemplate;
}

// A dialog that keeps its template size and counts its timer messages.
class ProbeDialog : public CDialog {
 public:
  explicit ProbeDialog(Platform& platform, HWND owner = nullptr,
                       const DialogTemplate& dialogTemplate = ProbeTemplate())
      : CDialog(platform, dialogTemplate, owner) {
    SetFullScreen(false);
  }
  int timerTicks = 0;

 protected:
  bool DispatchMessageMap(Message& message) override;

 private:
  void OnTimer(Message&) { ++timerTicks; }
  static const MessageMapEntry<ProbeDialog> kMessageMap[];
};

const MessageMapEntry<ProbeDialog> ProbeDialog::kMessageMap[] = {
    {MapKind::kTimer, 0, 0, &ProbeDialog::OnTimer},
};

bool ProbeDialog::DispatchMessageMap(Message& message) {
  return WalkMessageMap(this, kMessageMap, message);
}

// The screen position of a window's client area (symmetric frames only).
std::pair<int, int> ClientOrigin(Platform& device, HWND window) {
  Rect outer = device.GetWindowRect(window);
  Rect client = device.GetClientRect(window);
  int frame = (outer.Width() - client.right) / 2;
  return {outer.left + frame, outer.top + frame};
}

bool ComesBefore(Platform& device, HWND first, HWND second) {
  for (HWND window = device.GetTopWindow(); window != nullptr;
       window = device.GetWindow(window, kGwHwndNext)) {
    if (window == first) return true;
    if (window == second) return false;
  }
  return false;
}

// The program of `window` answers again (after at most `milliseconds`).
bool WaitUntilAnswering(Environment& environment, HWND window, unsigned milliseconds) {
  Platform& device = environment.Device();
  for (std::uint64_t end = environment.Now() + milliseconds; environment.Now() < end;) {
    if (device.IsWindowResponding(window, 200)) return true;
    environment.Pump(100);
  }
  return device.IsWindowResponding(window, 200);
}

// Where the hung-program checks give a window back to.
const Rect kHome{30, 40, 190, 170};

// A probe dialog and a foreign window titled `title`; with `take`, the window is in the pane as
// a capture leaves it: visible-only, at 0, 0, 100 x 60. `style` is its style before.
struct HeldWindow {
  HeldWindow(Environment& environment, const Text& title, bool take = true)
      : dialog(environment.Device()),
        pane(environment.Device().GetDlgItem(dialog.Create(), kPane)),
        foreign(environment.StartForeignWindow(title)) {
    Platform& device = environment.Device();
    if (foreign == nullptr) return;
    style = device.GetWindowStyle(foreign);
    if (!take) return;
    device.SetParent(foreign, pane);
    device.SetWindowStyle(foreign, kWsVisible);
    device.MoveWindow(foreign, {0, 0, 100, 60}, true);
    environment.Pump(100);
  }
  ProbeDialog dialog;
  HWND pane;
  HWND foreign;
  std::uint32_t style = 0;
};

}  // namespace

void CheckDialogControlsFollowTheTemplate(Environment& environment) {
  Platform& device = environment.Device();
  ProbeDialog dialog(device);
  HWND hwnd = dialog.Create();
  ASSERT_NE(hwnd, nullptr);

  HWND button = device.GetDlgItem(hwnd, kButton);
  HWND pane = device.GetDlgItem(hwnd, kPane);
  HWND hidden = device.GetDlgItem(hwnd, kHiddenButton);
  // The first template control lies on top.
  EXPECT_EQ(device.GetWindow(hwnd, kGwChild), button);
  EXPECT_EQ(device.GetWindow(button, kGwHwndNext), pane);
  EXPECT_EQ(device.GetWindow(pane, kGwHwndNext), hidden);
  EXPECT_EQ(device.GetWindow(hidden, kGwHwndNext), nullptr);
  EXPECT_EQ(device.GetDlgCtrlID(pane), kPane);
  EXPECT_EQ(device.GetParent(button), hwnd);
  EXPECT_EQ(device.GetParent(hwnd), nullptr);
  EXPECT_EQ(device.GetWindow(hwnd, kGwOwner), nullptr);
  EXPECT_EQ(device.GetWindowText(button), u"A");
  EXPECT_EQ(device.GetWindowText(hwnd), u"Conformance");
  EXPECT_EQ(device.GetClassName(pane), u"Static");
  EXPECT_EQ(device.GetClassName(hwnd), kPortableDialogClass);
  EXPECT_EQ(device.FindWindow(kPortableDialogClass, u"Conformance"), hwnd);
  EXPECT_TRUE(device.IsWindowVisible(button));
  EXPECT_FALSE(device.IsWindowVisible(hidden));
  EXPECT_TRUE(device.HasWindowTrait(hidden, WindowTrait::kChild));
  EXPECT_FALSE(device.HasWindowTrait(hwnd, WindowTrait::kChild));
  EXPECT_EQ(device.GetClientRect(pane).left, 0);
}

void CheckOwnedDialogHasAnOwnerButNoParent(Environment& environment) {
  Platform& device = environment.Device();
  ProbeDialog owner(device);
  ASSERT_NE(owner.Create(), nullptr);
  ProbeDialog owned(device, owner.GetSafeHwnd());
  ASSERT_NE(owned.Create(), nullptr);

  EXPECT_EQ(device.GetWindow(owned.GetSafeHwnd(), kGwOwner), owner.GetSafeHwnd());
  EXPECT_EQ(device.GetParent(owned.GetSafeHwnd()), nullptr);
}

void CheckReparentingKeepsThePositionNumbers(Environment& environment) {
  Platform& device = environment.Device();
  const Text title = u"Conformance Reparent";
  HeldWindow held(environment, title, false);
  HWND pane = held.pane, foreign = held.foreign;
  ASSERT_NE(foreign, nullptr);
  EXPECT_EQ(device.GetWindowProgramPath(foreign), environment.ForeignProgramPath());
  Rect before = device.GetWindowRect(foreign);

  device.SetParent(foreign, pane);
  environment.Pump(100);
  EXPECT_EQ(device.GetParent(foreign), pane);
  EXPECT_EQ(device.GetWindow(pane, kGwChild), foreign);
  EXPECT_EQ(device.FindWindow(nullptr, title), nullptr) << "a child is no top-level window";
  auto [x, y] = ClientOrigin(device, pane);
  EXPECT_TRUE(SameRect(device.GetWindowRect(foreign),
                       {x + before.left, y + before.top, x + before.right, y + before.bottom}));

  device.MoveWindow(foreign, {3, -40, 150, 200}, true);
  EXPECT_TRUE(SameRect(device.GetWindowRect(foreign), {x + 3, y - 40, x + 153, y + 160}));

  device.SetParent(foreign, nullptr);
  environment.Pump(100);
  EXPECT_EQ(device.GetParent(foreign), nullptr);
  EXPECT_EQ(device.GetWindow(pane, kGwChild), nullptr);
  // Moved while a child, it now stands at the same numbers in screen coordinates.
  EXPECT_TRUE(SameRect(device.GetWindowRect(foreign), {3, -40, 153, 160}));
  EXPECT_EQ(device.FindWindow(nullptr, title), foreign);
}

void CheckStyleIsReplacedWhole(Environment& environment) {
  Platform& device = environment.Device();
  HeldWindow held(environment, u"Conformance Style");
  ASSERT_NE(held.foreign, nullptr);
  EXPECT_NE(held.style, kWsVisible) << "it had a frame before";
  EXPECT_EQ(device.GetWindowStyle(held.foreign), kWsVisible);
  EXPECT_TRUE(device.IsWindowVisible(held.foreign));
  device.SetParent(held.foreign, nullptr);
}

void CheckDestroyedHolderKeepsNoWindowInside(Environment& environment) {
  Platform& device = environment.Device();
  const Text title = u"Conformance Destroy";
  HeldWindow held(environment, title);
  ASSERT_NE(held.foreign, nullptr);

  held.dialog.DestroyWindow();
  environment.Pump(300);
  EXPECT_FALSE(device.IsWindow(held.pane));
  if (environment.ReparentsWithoutTheProgram()) {
    EXPECT_EQ(device.FindWindow(nullptr, title), held.foreign) << "given back to the desktop";
  } else {
    EXPECT_FALSE(device.IsWindow(held.foreign)) << "a window left in a pane dies with the dialog";
  }
}

void CheckTopmostWindowLeadsTheStackingOrder(Environment& environment) {
  Platform& device = environment.Device();
  ProbeDialog dialog(device);
  HWND hwnd = dialog.Create();
  HWND foreign = environment.StartForeignWindow(u"Conformance Topmost");
  ASSERT_NE(foreign, nullptr);
  device.SetForegroundWindow(foreign);
  environment.Pump(100);
  Rect before = device.GetWindowRect(hwnd);

  device.MoveTopmost(hwnd, 10, 20);
  environment.Pump(100);
  Rect after = device.GetWindowRect(hwnd);
  EXPECT_TRUE(SameRect(after, {10, 20, 10 + before.Width(), 20 + before.Height()}));
  EXPECT_TRUE(ComesBefore(device, hwnd, foreign));

  device.SetForegroundWindow(foreign);
  environment.Pump(100);
  EXPECT_TRUE(ComesBefore(device, hwnd, foreign)) << "a top-most window stays above";
}

void CheckFindWindowMatchesTheWholeTitleExactly(Environment& environment) {
  Platform& device = environment.Device();
  HWND foreign = environment.StartForeignWindow(u"Conformance Exact");
  ASSERT_NE(foreign, nullptr);

  EXPECT_EQ(device.FindWindow(nullptr, u"Conformance Exact"), foreign);
  EXPECT_EQ(device.FindWindow(u"SorvelProbe", u"Conformance Exact"), foreign);
  EXPECT_EQ(device.FindWindow(u"Other", u"Conformance Exact"), nullptr);
  EXPECT_EQ(device.FindWindow(nullptr, u"conformance exact"), nullptr);
  EXPECT_EQ(device.FindWindow(nullptr, u"Conformance"), nullptr);
  EXPECT_EQ(device.FindWindow(nullptr, u""), nullptr);
}

void CheckShowHideAndMinimise(Environment& environment) {
  Platform& device = environment.Device();
  HWND foreign = environment.StartForeignWindow(u"Conformance Show");
  ASSERT_NE(foreign, nullptr);

  device.ShowWindow(foreign, kSwHide);
  environment.Pump(100);
  EXPECT_FALSE(device.IsWindowVisible(foreign));
  device.ShowWindow(foreign, kSwShow);
  environment.Pump(100);
  EXPECT_TRUE(device.IsWindowVisible(foreign));
  device.ShowWindow(foreign, kSwMinimize);
  environment.Pump(100);
  EXPECT_TRUE(device.IsWindowVisible(foreign));
  EXPECT_TRUE(device.HasWindowTrait(foreign, WindowTrait::kMinimized));

  // A hung program's window is shown without waiting for the program.
  environment.Hang(foreign, 3000);
  std::uint64_t start = environment.Now();
  device.ShowWindow(foreign, kSwShowNormal);
  EXPECT_LE(environment.Now() - start, 300u);
  ASSERT_TRUE(WaitUntilAnswering(environment, foreign, 10000));
  environment.Pump(200);
  EXPECT_FALSE(device.HasWindowTrait(foreign, WindowTrait::kMinimized));
}

void CheckTimersArriveUntilKilled(Environment& environment) {
  Platform& device = environment.Device();
  ProbeDialog dialog(device);
  HWND hwnd = dialog.Create();
  device.SetTimer(hwnd, kTimer, 50);
  environment.Pump(400);
  EXPECT_GE(dialog.timerTicks, 2);
  device.KillTimer(hwnd, kTimer);
  environment.Pump(50);
  int ticks = dialog.timerTicks;
  environment.Pump(300);
  EXPECT_EQ(dialog.timerTicks, ticks);
}

void CheckOwnedUntitledDialogOfAnotherProgram(Environment& environment) {
  Platform& device = environment.Device();
  const Text title = u"Conformance Owned";
  HWND main = environment.StartForeignDialogProgram(title);
  ASSERT_NE(main, nullptr);
  HWND dialog = nullptr;
  for (HWND window = device.GetTopWindow(); window != nullptr && dialog == nullptr;
       window = device.GetWindow(window, kGwHwndNext)) {
    if (device.GetWindow(window, kGwOwner) == main) dialog = window;
  }
  ASSERT_NE(dialog, nullptr) << "the owned dialog is a top-level window";

  EXPECT_EQ(device.GetClassName(dialog), kPortableDialogClass);
  EXPECT_EQ(device.GetWindowText(dialog), u"");
  EXPECT_TRUE(device.IsWindowVisible(dialog));
  EXPECT_EQ(device.GetParent(dialog), nullptr);
  EXPECT_EQ(device.GetWindow(main, kGwOwner), nullptr);
  EXPECT_EQ(device.GetWindow(main, kGwChild), nullptr);
  HWND edit = device.GetWindow(dialog, kGwChild);
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(device.GetClassName(edit), u"Edit");
  HWND button = device.GetWindow(edit, kGwHwndNext);
  ASSERT_NE(button, nullptr);
  EXPECT_EQ(device.GetClassName(button), u"Button");
  EXPECT_EQ(device.GetWindow(button, kGwHwndNext), nullptr);
  EXPECT_EQ(device.GetParent(edit), dialog);
  EXPECT_EQ(device.GetWindow(edit, kGwOwner), nullptr);

  EXPECT_EQ(device.FindWindow(nullptr, title), main);
  EXPECT_EQ(device.FindWindow(kPortableDialogClass, title), nullptr) << "the main window is none";
  EXPECT_EQ(device.FindWindow(kPortableDialogClass, u""), nullptr);
  device.SetWindowText(dialog, u"Dialog");
  EXPECT_EQ(device.GetWindowText(dialog), u"Dialog");
  EXPECT_EQ(device.FindWindow(kPortableDialogClass, u"Dialog"), dialog);
  EXPECT_EQ(device.FindWindow(u"SorvelProbe", u"Dialog"), nullptr);
}

void CheckProcessProgramPathAndVersion(Environment& environment) {
  Platform& device = environment.Device();
  ProbeDialog own(device);
  ASSERT_NE(own.Create(), nullptr);
  HWND probe = environment.StartForeignWindow(u"Conformance Process");
  ASSERT_NE(probe, nullptr);
  const Text probePath = environment.ForeignProgramPath();
  HWND main = environment.StartForeignDialogProgram(u"Conformance Process Dialog");
  ASSERT_NE(main, nullptr);
  const Text dialogProgramPath = environment.ForeignProgramPath();

  std::uint32_t probePid = device.GetWindowProcessId(probe);
  std::uint32_t mainPid = device.GetWindowProcessId(main);
  std::uint32_t ownPid = device.GetWindowProcessId(own.GetSafeHwnd());
  EXPECT_NE(probePid, 0u);
  EXPECT_NE(probePid, mainPid);
  EXPECT_NE(probePid, ownPid);
  EXPECT_EQ(device.GetWindowProcessId(device.GetWindow(probe, kGwChild)), probePid);
  EXPECT_EQ(device.GetWindowProcessId(nullptr), 0u);
  EXPECT_EQ(device.GetWindowProgramPath(probe), probePath);
  EXPECT_EQ(device.GetWindowProgramPath(main), dialogProgramPath);
  EXPECT_EQ(device.GetWindowProgramPath(nullptr), u"");
  HWND edit = device.GetWindow(probe, kGwChild);
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(device.GetClassName(edit), u"Edit");

  std::uint32_t ms = 1, ls = 1;
  ASSERT_TRUE(device.GetFileVersion(probePath, &ms, &ls));
  EXPECT_EQ(ms, 0xFFFF0000u);
  EXPECT_EQ(ls, 0x00010001u);
  EXPECT_FALSE(device.GetFileVersion(dialogProgramPath, &ms, &ls)) << "no version resource";
  EXPECT_FALSE(device.GetFileVersion(probePath + u".missing", &ms, &ls));

  HWND ownWindow = own.GetSafeHwnd();
  own.DestroyWindow();
  EXPECT_EQ(device.GetWindowProcessId(ownWindow), 0u) << "a destroyed window has no process";
}

void CheckLongProgramPathIsGivenBackWholeOrNotAtAll(Environment& environment) {
  Platform& device = environment.Device();
  // The platform's path limit is 259 units.
  HWND longest = environment.StartForeignWindowAtPathLength(u"Conformance Longest", 259);
  ASSERT_NE(longest, nullptr);
  ASSERT_EQ(environment.ForeignProgramPath().size(), 259u);
  EXPECT_EQ(device.GetWindowProgramPath(longest), environment.ForeignProgramPath());

  HWND overlong = environment.StartForeignWindowAtPathLength(u"Conformance Overlong", 300);
  if (overlong == nullptr) GTEST_SKIP() << "no program starts from a path over the limit here";
  EXPECT_EQ(device.GetWindowProgramPath(overlong), u"") << "never a cut path";
  EXPECT_NE(device.GetWindowProcessId(overlong), 0u);
}

void CheckSortedListBox(Environment& environment) {
  Platform& device = environment.Device();
  ProbeDialog dialog(device, nullptr, ControlsTemplate());
  HWND list = device.GetDlgItem(dialog.Create(), kList);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(device.ListBoxGetCurSel(list), -1);

  // Letters compare without regard to case, and an item equal to one already listed goes
  // before the one that the halving search meets; punctuation sorts before digits, digits
  // before letters, Hangul after them.
  for (const char16_t* item : {u"beta", u"Alpha", u"alpha", u"Gamma", u"beta", u"ALPHA", u"9",
                               u"10", u"a b", u"A1", u"_x", u"노트"}) {
    device.ListBoxAddString(list, item);
  }
  const std::vector<Text> expected = {u"_x",    u"10",    u"9",    u"a b",  u"A1",    u"ALPHA",
                                      u"alpha", u"Alpha", u"beta", u"beta", u"Gamma", u"노트"};
  std::vector<Text> listed;
  for (int i = 0; i < static_cast<int>(expected.size()) + 1; ++i) {
    listed.push_back(device.ListBoxGetText(list, i));
  }
  EXPECT_EQ(listed.back(), u"") << "past the last item";
  listed.pop_back();
  EXPECT_EQ(listed, expected);
  EXPECT_EQ(device.ListBoxGetText(list, -1), u"");
  EXPECT_EQ(device.ListBoxGetCurSel(list), -1) << "adding selects nothing";

  device.ListBoxResetContent(list);
  EXPECT_EQ(device.ListBoxGetText(list, 0), u"");
  EXPECT_EQ(device.ListBoxGetCurSel(list), -1);
  device.ListBoxAddString(list, u"only");
  EXPECT_EQ(device.ListBoxGetText(list, 0), u"only");
}

void CheckRadioButtons(Environment& environment) {
  Platform& device = environment.Device();
  ProbeDialog dialog(device, nullptr, ControlsTemplate());
  HWND hwnd = dialog.Create();
  ASSERT_NE(hwnd, nullptr);
  auto checked = [&] {
    std::vector<int> ids;
    for (int id = kRadioFirst; id <= kRadioLast; ++id) {
      if (device.IsDlgButtonChecked(hwnd, id)) ids.push_back(id);
    }
    return ids;
  };
  EXPECT_EQ(checked(), std::vector<int>{});
  device.CheckRadioButton(hwnd, kRadioFirst, kRadioLast, 6);
  EXPECT_EQ(checked(), std::vector<int>{6});
  device.CheckRadioButton(hwnd, kRadioFirst, kRadioLast, kRadioLast);
  EXPECT_EQ(checked(), std::vector<int>{kRadioLast});
  // Only the given range is cleared.
  device.CheckRadioButton(hwnd, kRadioFirst, 6, kRadioFirst);
  EXPECT_EQ(checked(), (std::vector<int>{kRadioFirst, kRadioLast}));
  EXPECT_FALSE(device.IsDlgButtonChecked(hwnd, kList));
  EXPECT_FALSE(device.IsDlgButtonChecked(hwnd, 99));
}

void CheckShellExecuteStartsAProgramByPath(Environment& environment) {
  Platform& device = environment.Device();
  const Text title = u"Conformance Shell";
  Text path = environment.InstallForeignProgram(title);
  EXPECT_EQ(device.FindWindow(nullptr, title), nullptr);

  EXPECT_TRUE(device.ShellExecute(nullptr, path, u""));
  for (int i = 0; i < 100 && device.FindWindow(nullptr, title) == nullptr; ++i) {
    environment.Pump(100);
  }
  HWND window = device.FindWindow(nullptr, title);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(device.GetWindowProgramPath(window), path);

  EXPECT_FALSE(device.ShellExecute(nullptr, path + u".missing", u""));
}

void CheckHungProgramDoesNotAnswer(Environment& environment) {
  Platform& device = environment.Device();
  HWND probe = environment.StartForeignWindow(u"Conformance Answer");
  ASSERT_NE(probe, nullptr);
  std::uint64_t start = environment.Now();
  EXPECT_TRUE(device.IsWindowResponding(probe, 1000));
  EXPECT_LE(environment.Now() - start, 500u);

  environment.Hang(probe, 3000);
  start = environment.Now();
  EXPECT_FALSE(device.IsWindowResponding(probe, 1000));
  EXPECT_LE(environment.Now() - start, 1500u);
  // Hung programs still have their windows read without waiting.
  EXPECT_EQ(device.GetWindowText(probe), u"Conformance Answer");
  EXPECT_TRUE(device.IsWindowVisible(probe));
  EXPECT_NE(device.GetWindowProcessId(probe), 0u);
  EXPECT_LE(environment.Now() - start, 1500u);

  EXPECT_TRUE(WaitUntilAnswering(environment, probe, 10000));
  EXPECT_FALSE(device.IsWindowResponding(nullptr, 100));
}

void CheckHungWindowIsGivenBackWithoutWaiting(Environment& environment) {
  Platform& device = environment.Device();
  const Text title = u"Conformance Give Back";
  HeldWindow held(environment, title);
  HWND pane = held.pane, probe = held.foreign;
  ASSERT_NE(probe, nullptr);
  ASSERT_EQ(device.GetParent(probe), pane);

  environment.Hang(probe, 3000);
  std::uint64_t start = environment.Now();
  device.ReturnWindowWithoutWaiting(probe, kHome, held.style);
  EXPECT_LE(environment.Now() - start, 300u) << "the caller does not wait";
  if (!environment.ReparentsWithoutTheProgram()) {
    EXPECT_EQ(device.GetParent(probe), pane) << "nothing changes before the program answers";
    EXPECT_EQ(device.GetWindowStyle(probe), kWsVisible);
    ASSERT_TRUE(WaitUntilAnswering(environment, probe, 10000));
  }
  environment.Pump(300);
  EXPECT_EQ(device.GetParent(probe), nullptr);
  EXPECT_EQ(device.GetWindow(pane, kGwChild), nullptr);
  EXPECT_EQ(device.GetWindowStyle(probe), held.style);
  EXPECT_TRUE(SameRect(device.GetWindowRect(probe), kHome));
  EXPECT_EQ(device.FindWindow(nullptr, title), probe);
}

void CheckWindowGivenBackLateOutlivesNoHolder(Environment& environment) {
  Platform& device = environment.Device();
  HeldWindow held(environment, u"Conformance Late");
  HWND probe = held.foreign;
  ASSERT_NE(probe, nullptr);

  // A holder that goes before the program has answered takes the window with it where the
  // program must take part in the return: the host must outlive the return of a hung program's
  // window. Where it need not, the window is back already.
  environment.Hang(probe, 2000);
  device.ReturnWindowWithoutWaiting(probe, kHome, held.style);
  held.dialog.DestroyWindow();
  const bool back = environment.ReparentsWithoutTheProgram();
  for (int i = 0; i < 50 && device.IsWindow(probe) != back; ++i) environment.Pump(100);
  EXPECT_EQ(device.IsWindow(probe), back);
  if (back) {
    EXPECT_TRUE(SameRect(device.GetWindowRect(probe), kHome));
  }
}

void CheckHolderThatWaitsForTheReturnKeepsTheWindow(Environment& environment) {
  Platform& device = environment.Device();
  HeldWindow held(environment, u"Conformance Waited");
  HWND probe = held.foreign;
  ASSERT_NE(probe, nullptr);

  environment.Hang(probe, 2000);
  device.ReturnWindowWithoutWaiting(probe, kHome, held.style);
  std::uint64_t start = environment.Now();
  EXPECT_EQ(device.FinishReturningWindows(300), environment.ReparentsWithoutTheProgram())
      << "done only where the program need not answer first";
  EXPECT_TRUE(device.FinishReturningWindows(8000));
  EXPECT_LE(environment.Now() - start, 4000u);
  EXPECT_EQ(device.GetParent(probe), nullptr);
  held.dialog.DestroyWindow();
  environment.Pump(300);
  ASSERT_TRUE(device.IsWindow(probe));
  EXPECT_TRUE(SameRect(device.GetWindowRect(probe), kHome));
  EXPECT_EQ(device.GetWindowStyle(probe), held.style);
  EXPECT_TRUE(device.FinishReturningWindows(0)) << "nothing left to wait for";
}

}  // namespace sorvel::conformance
