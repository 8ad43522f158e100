#include "tests/conformance/window_system_checks.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "tests/support/same_rect.h"

namespace sorvel::conformance {
namespace {

constexpr int kButton = 1, kHiddenButton = 3, kList = 4, kRadioFirst = 5, kRadioLast = 7;
constexpr unsigned kTimer = 7;

DialogTemplate Template(const char16_t* caption, std::vector<ControlTemplate> controls) {
  return {0, 120, 100, kWsPopup | kWsVisible | kWsCaption, caption, u"Tahoma", 8, controls};
}
const DialogTemplate kControlsTemplate =
    Template(u"Conformance Controls",
             {{kList, ControlKind::kListBox, u"", 0, 0, 120, 60, kWsBorder | kWsVScroll, true},
              {kRadioFirst, ControlKind::kRadioButton, u"1", 0, 70, 30, 12, kWsGroup, true},
              {6, ControlKind::kRadioButton, u"2", 40, 70, 30, 12, 0, true},
              {kRadioLast, ControlKind::kRadioButton, u"3", 80, 70, 30, 12, 0, true}});

bool ComesBefore(Platform& device, HWND first, HWND second) {
  for (HWND window : device.TopLevelWindows(SIZE_MAX)) {
    if (window == first) return true;
    if (window == second) return false;
  }
  return false;
}

// What the window's frame adds to its client area, width and height.
std::pair<int, int> FrameSize(Platform& device, HWND window) {
  Rect outer = device.GetWindowRect(window);
  Rect client = device.GetClientRect(window);
  return {outer.Width() - client.Width(), outer.Height() - client.Height()};
}

// The screen position of a window's client area (symmetric frames only).
std::pair<int, int> ClientOrigin(Platform& device, HWND window) {
  const int border = FrameSize(device, window).first / 2;
  return {device.GetWindowRect(window).left + border, device.GetWindowRect(window).top + border};
}

// The window stands at kHome with the frame it had before it was held, on the desktop.
void ExpectBackHome(Environment& environment, const HeldWindow& held, const Text& title) {
  Platform& device = environment.Device();
  EXPECT_TRUE(environment.Children(held.pane).empty());
  EXPECT_TRUE(SameRect(device.GetWindowRect(held.foreign), kHome));
  EXPECT_EQ(FrameSize(device, held.foreign), held.frame) << "its frame is back";
  EXPECT_EQ(device.FindWindow(nullptr, title), held.foreign);
}

}  // namespace

const DialogTemplate kProbeTemplate =
    Template(u"Conformance",
             {{kButton, ControlKind::kPushButton, u"A", 90, 2, 20, 12, kWsTabStop, true},
              {kPane, ControlKind::kStatic, u"", 0, 0, 120, 80, kWsBorder, true},
              {kHiddenButton, ControlKind::kPushButton, u"B", 60, 2, 20, 12, kWsTabStop, false}});

HeldWindow::HeldWindow(Environment& environment, const Text& title, ShowCommand before)
    : dialog(environment.Device()),
      pane(environment.Device().GetDlgItem(dialog.Create(), kPane)),
      foreign(environment.StartForeignWindow(title)) {
  if (foreign == nullptr) return;
  if (before != kSwShow) {
    environment.Device().ShowWindow(foreign, before);
    environment.Pump(200);
  }
  frame = FrameSize(environment.Device(), foreign);
  held = environment.Device().HoldWindow(foreign, pane, kInPane, &former);
  environment.Pump(100);
}

bool Environment::Eventually(const std::function<bool()>& done, unsigned milliseconds) {
  for (std::uint64_t end = Now() + milliseconds; !done(); Pump(50)) {
    if (Now() >= end) return false;
  }
  return true;
}

// Our own dialog: its controls as the template says, an owned dialog's owner, its timers, its
// top-most place.
void CheckOwnDialogFollowsItsTemplateOwnerTimersAndTopmostPlace(Environment& environment) {
  Platform& device = environment.Device();
  ProbeDialog dialog(device);
  HWND hwnd = dialog.Create();
  ASSERT_NE(hwnd, nullptr);
  HWND button = device.GetDlgItem(hwnd, kButton);
  HWND pane = device.GetDlgItem(hwnd, kPane);
  HWND hidden = device.GetDlgItem(hwnd, kHiddenButton);
  // The first template control lies on top.
  EXPECT_EQ(environment.Children(hwnd), (std::vector<HWND>{button, pane, hidden}));
  EXPECT_TRUE(device.HasWindowTrait(hwnd, WindowTrait::kHasChildren));
  EXPECT_FALSE(device.HasWindowTrait(button, WindowTrait::kHasChildren));
  EXPECT_TRUE(device.HasWindowTrait(button, WindowTrait::kChild));
  EXPECT_FALSE(device.HasWindowTrait(hwnd, WindowTrait::kChild));
  EXPECT_EQ(device.GetOwner(hwnd), nullptr);
  EXPECT_EQ(device.GetWindowText(button), u"A");
  EXPECT_EQ(device.GetWindowText(hwnd), u"Conformance");
  EXPECT_EQ(device.GetClassName(pane), u"Static");
  EXPECT_EQ(device.GetClassName(hwnd), kPortableDialogClass);
  EXPECT_EQ(device.FindWindow(kPortableDialogClass, u"Conformance"), hwnd);
  EXPECT_TRUE(device.HasWindowTrait(button, WindowTrait::kVisible));
  EXPECT_FALSE(device.HasWindowTrait(hidden, WindowTrait::kVisible));
  EXPECT_TRUE(device.HasWindowTrait(hidden, WindowTrait::kChild));
  EXPECT_FALSE(device.HasWindowTrait(hwnd, WindowTrait::kChild));
  EXPECT_EQ(device.GetClientRect(pane).left, 0);
  ProbeDialog owned(device, hwnd);
  HWND ownedHwnd = owned.Create();
  ASSERT_NE(ownedHwnd, nullptr);
  EXPECT_EQ(device.GetOwner(ownedHwnd), hwnd);
  EXPECT_FALSE(device.HasWindowTrait(ownedHwnd, WindowTrait::kChild));
  // Timers arrive until killed.
  device.SetTimer(hwnd, kTimer, 50);
  environment.Pump(400);
  EXPECT_GE(dialog.timerTicks, 2);
  device.KillTimer(hwnd, kTimer);
  environment.Pump(50);
  int ticks = dialog.timerTicks;
  environment.Pump(300);
  EXPECT_EQ(dialog.timerTicks, ticks);
  owned.DestroyWindow();
  EXPECT_EQ(device.GetWindowProcessId(ownedHwnd), 0u) << "a destroyed window has no process";
  // A top-most window leads the stacking order.
  HWND foreign = environment.StartForeignWindow(u"Conformance Topmost");
  ASSERT_NE(foreign, nullptr);
  EXPECT_NE(device.GetWindowProcessId(foreign), device.GetWindowProcessId(hwnd));
  device.SetForegroundWindow(foreign);
  environment.Pump(100);
  EXPECT_EQ(environment.Foreground(), foreign);
  Rect before = device.GetWindowRect(hwnd);
  device.MoveTopmost(hwnd, 10, 20);
  environment.Pump(100);
  Rect after = device.GetWindowRect(hwnd);
  EXPECT_TRUE(SameRect(after, {10, 20, 10 + before.Width(), 20 + before.Height()}));
  EXPECT_TRUE(ComesBefore(device, hwnd, foreign));
  EXPECT_EQ(device.TopLevelWindows(1).size(), 1u);
  device.SetForegroundWindow(foreign);
  environment.Pump(100);
  EXPECT_TRUE(ComesBefore(device, hwnd, foreign)) << "a top-most window stays above";
}

// A held window is a plain, shown child of the pane, whatever it was before; given back, it has
// its frame at its place, and is minimised or hidden again if it was. Held again, it does not
// outlive a holder that is destroyed unless the window system gives it back.
void CheckHeldWindowLosesItsFrameAndGetsItBackAsItWas(Environment& environment) {
  Platform& device = environment.Device();
  for (ShowCommand before : {kSwShow, kSwMinimize, kSwHide}) {
    SCOPED_TRACE(before == kSwShow ? "shown" : before == kSwHide ? "hidden" : "minimised");
    const Text title = u"Conformance Hold " + Text(1, u'0' + before);
    HeldWindow held(environment, title, before);
    HWND pane = held.pane, foreign = held.foreign;
    ASSERT_TRUE(held.held);
    EXPECT_EQ(environment.Children(pane), std::vector<HWND>{foreign});
    EXPECT_EQ(device.FindWindow(nullptr, title), nullptr) << "a child is no top-level window";
    EXPECT_TRUE(device.HasWindowTrait(foreign, WindowTrait::kVisible));
    EXPECT_FALSE(device.HasWindowTrait(foreign, WindowTrait::kMinimized));
    EXPECT_EQ(FrameSize(device, foreign), std::make_pair(0, 0)) << "a plain window";
    auto [x, y] = ClientOrigin(device, pane);
    EXPECT_TRUE(SameRect(device.GetWindowRect(foreign), {x, y, x + 100, y + 60}));
    device.MoveWindow(foreign, {3, -40, 150, 200}, true);
    EXPECT_TRUE(SameRect(device.GetWindowRect(foreign), {x + 3, y - 40, x + 153, y + 160}));
    device.GiveBackWindow(foreign, kHome, held.former, true);
    environment.Pump(300);
    EXPECT_TRUE(environment.Children(pane).empty());
    EXPECT_EQ(device.HasWindowTrait(foreign, WindowTrait::kVisible), before != kSwHide);
    EXPECT_EQ(device.HasWindowTrait(foreign, WindowTrait::kMinimized), before == kSwMinimize);
    if (before != kSwShow) continue;
    ExpectBackHome(environment, held, title);
    ASSERT_TRUE(device.HoldWindow(foreign, pane, kInPane, &held.former));
    environment.Pump(100);
    held.dialog.DestroyWindow();
    environment.Pump(300);
    EXPECT_FALSE(device.IsWindow(pane));
    if (environment.ReparentsWithoutTheProgram()) {
      EXPECT_EQ(device.FindWindow(nullptr, title), foreign) << "given back to the desktop";
    } else {
      EXPECT_FALSE(device.IsWindow(foreign)) << "a window left in a pane dies with the dialog";
    }
  }
}

// A window's process, its program's path and version; ShellExecute starts a program by path;
// another program's owned, untitled dialog.
void CheckForeignProgramsPathVersionStartAndOwnedDialog(Environment& environment) {
  Platform& device = environment.Device();
  HWND probe = environment.StartForeignWindow(u"Conformance Process");
  ASSERT_NE(probe, nullptr);
  const Text probePath = environment.ForeignProgramPath();
  const Text title = u"Conformance Process Dialog";
  HWND main = environment.StartForeignDialogProgram(title);
  ASSERT_NE(main, nullptr);
  const Text dialogProgramPath = environment.ForeignProgramPath();
  std::uint32_t probePid = device.GetWindowProcessId(probe);
  EXPECT_NE(probePid, 0u);
  EXPECT_NE(probePid, device.GetWindowProcessId(main));
  std::vector<HWND> children = environment.Children(probe);
  ASSERT_EQ(children.size(), 1u);
  EXPECT_EQ(device.GetClassName(children[0]), u"Edit");
  EXPECT_EQ(device.GetWindowProcessId(children[0]), probePid);
  EXPECT_EQ(device.GetWindowProcessId(nullptr), 0u);
  EXPECT_EQ(device.GetWindowProgramPath(probe), probePath);
  EXPECT_EQ(device.GetWindowProgramPath(main), dialogProgramPath);
  EXPECT_EQ(device.GetWindowProgramPath(nullptr), u"");
  EXPECT_EQ(device.GetFileVersion(probePath), std::optional<std::uint64_t>(0xFFFF000000010001u));
  EXPECT_EQ(device.GetFileVersion(dialogProgramPath), std::nullopt) << "no version";
  EXPECT_EQ(device.GetFileVersion(probePath + u".missing"), std::nullopt);
  // ShellExecute starts a program by path.
  const Text shell = u"Conformance Shell";
  Text path = environment.InstallForeignProgram(shell);
  EXPECT_EQ(device.FindWindow(nullptr, shell), nullptr);
  EXPECT_TRUE(device.ShellExecute(nullptr, path, u""));
  HWND started = nullptr;
  ASSERT_TRUE(
      environment.Eventually([&] { return (started = device.FindWindow(nullptr, shell)); }, 10000));
  EXPECT_EQ(device.GetWindowProgramPath(started), path);
  EXPECT_FALSE(device.ShellExecute(nullptr, path + u".missing", u""));
  // The dialog program's interface is an owned, untitled dialog.
  HWND dialog = nullptr;
  ASSERT_TRUE(environment.Eventually(
      [&] {
        for (HWND window : device.TopLevelWindows(SIZE_MAX)) {
          if (device.GetOwner(window) == main &&
              device.HasWindowTrait(window, WindowTrait::kVisible))
            dialog = window;
        }
        return dialog != nullptr;
      },
      10000))
      << "the owned dialog is a top-level window";
  EXPECT_EQ(device.GetClassName(dialog), kPortableDialogClass);
  EXPECT_EQ(device.GetWindowText(dialog), u"");
  EXPECT_FALSE(device.HasWindowTrait(dialog, WindowTrait::kChild));
  EXPECT_EQ(device.GetOwner(main), nullptr);
  EXPECT_FALSE(device.HasWindowTrait(main, WindowTrait::kHasChildren));
  EXPECT_TRUE(device.HasWindowTrait(dialog, WindowTrait::kHasChildren));
  std::vector<HWND> controls = environment.Children(dialog);
  ASSERT_EQ(controls.size(), 2u);
  EXPECT_EQ(device.GetClassName(controls[0]), u"Edit");
  EXPECT_EQ(device.GetClassName(controls[1]), u"Button");
  EXPECT_TRUE(device.HasWindowTrait(controls[0], WindowTrait::kChild));
  EXPECT_EQ(device.GetOwner(controls[0]), nullptr);
  EXPECT_EQ(device.FindWindow(nullptr, title), main);
  EXPECT_EQ(device.FindWindow(kPortableDialogClass, title), nullptr) << "the main window is none";
  EXPECT_EQ(device.FindWindow(kPortableDialogClass, u""), nullptr);
  device.SetWindowText(dialog, u"Dialog");
  EXPECT_EQ(device.GetWindowText(dialog), u"Dialog");
  EXPECT_EQ(device.FindWindow(kPortableDialogClass, u"Dialog"), dialog);
  EXPECT_EQ(device.FindWindow(u"SorvelProbe", u"Dialog"), nullptr);
}

// A path up to the platform's limit of 259 units is given whole; a longer one not at all.
void CheckLongProgramPathIsGivenBackWholeOrNotAtAll(Environment& environment) {
  Platform& device = environment.Device();
  HWND longest = environment.StartForeignWindowAtPathLength(u"Conformance Longest", 259);
  ASSERT_NE(longest, nullptr);
  ASSERT_EQ(environment.ForeignProgramPath().size(), 259u);
  EXPECT_EQ(device.GetWindowProgramPath(longest), environment.ForeignProgramPath());
  HWND overlong = environment.StartForeignWindowAtPathLength(u"Conformance Overlong", 300);
  if (overlong == nullptr) GTEST_SKIP() << "no program starts from a path over the limit here";
  EXPECT_EQ(device.GetWindowProgramPath(overlong), u"") << "never a cut path";
  EXPECT_NE(device.GetWindowProcessId(overlong), 0u);
}

// A list shows its items in the order given; buttons are checked one by one.
void CheckListAndButtonsShowWhatTheyAreGiven(Environment& environment) {
  Platform& device = environment.Device();
  ProbeDialog dialog(device, nullptr, kControlsTemplate);
  HWND hwnd = dialog.Create(), list = device.GetDlgItem(hwnd, kList);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(environment.ListItems(list), std::vector<Text>{});
  EXPECT_EQ(device.GetListSelection(list), -1);
  for (const std::vector<Text>& items : std::vector<std::vector<Text>>{
           {u"beta", u"Alpha", u"alpha", u"beta", u"노트", u"10", u"9"}, {u"only"}, {}}) {
    device.SetListItems(list, items);
    EXPECT_EQ(environment.ListItems(list), items) << "no sorting, no duplicates dropped";
    EXPECT_EQ(device.GetListSelection(list), -1) << "filling selects nothing";
  }
  auto checked = [&] {
    std::vector<int> ids;
    for (int id = kRadioFirst; id <= kRadioLast; ++id) {
      if (environment.IsChecked(device.GetDlgItem(hwnd, id))) ids.push_back(id);
    }
    return ids;
  };
  EXPECT_EQ(checked(), std::vector<int>{});
  // The window system keeps no group: each button changes alone.
  device.CheckButton(device.GetDlgItem(hwnd, 6), true);
  EXPECT_EQ(checked(), std::vector<int>{6});
  device.CheckButton(device.GetDlgItem(hwnd, kRadioLast), true);
  EXPECT_EQ(checked(), (std::vector<int>{6, kRadioLast}));
  device.CheckButton(device.GetDlgItem(hwnd, 6), false);
  EXPECT_EQ(checked(), std::vector<int>{kRadioLast});
  // The framework does.
  dialog.CheckRadioButton(kRadioFirst);
  EXPECT_EQ(checked(), std::vector<int>{kRadioFirst});
}

// Another program's window: found by its whole title exactly; hidden, shown and minimised; read
// without waiting while its program hangs.
void CheckForeignWindowIsFoundShownAndReadWhileItsProgramHangs(Environment& environment) {
  Platform& device = environment.Device();
  HWND probe = environment.StartForeignWindow(u"Conformance Answer");
  ASSERT_NE(probe, nullptr);
  EXPECT_EQ(device.FindWindow(nullptr, u"Conformance Answer"), probe);
  EXPECT_EQ(device.FindWindow(u"SorvelProbe", u"Conformance Answer"), probe);
  EXPECT_EQ(device.FindWindow(u"Other", u"Conformance Answer"), nullptr);
  EXPECT_EQ(device.FindWindow(nullptr, u"conformance answer"), nullptr);
  EXPECT_EQ(device.FindWindow(nullptr, u"Conformance"), nullptr);
  EXPECT_EQ(device.FindWindow(nullptr, u""), nullptr);
  device.ShowWindow(probe, kSwHide);
  environment.Pump(100);
  EXPECT_FALSE(device.HasWindowTrait(probe, WindowTrait::kVisible));
  device.ShowWindow(probe, kSwShow);
  environment.Pump(100);
  EXPECT_TRUE(device.HasWindowTrait(probe, WindowTrait::kVisible));
  std::uint64_t start = environment.Now();
  EXPECT_TRUE(device.IsWindowResponding(probe, 1000));
  EXPECT_LE(environment.Now() - start, 500u);
  environment.Hang(probe, 3000);
  start = environment.Now();
  EXPECT_FALSE(device.IsWindowResponding(probe, 1000));
  EXPECT_LE(environment.Now() - start, 1500u);
  // Hung programs still have their windows read, and minimised, without waiting.
  EXPECT_EQ(device.GetWindowText(probe), u"Conformance Answer");
  EXPECT_TRUE(device.HasWindowTrait(probe, WindowTrait::kVisible));
  EXPECT_NE(device.GetWindowProcessId(probe), 0u);
  EXPECT_LE(environment.Now() - start, 1500u);
  start = environment.Now();
  device.ShowWindow(probe, kSwMinimize);
  EXPECT_LE(environment.Now() - start, 300u);
  ASSERT_TRUE(environment.Eventually([&] { return device.IsWindowResponding(probe, 200); }, 10000));
  environment.Pump(200);
  EXPECT_TRUE(device.HasWindowTrait(probe, WindowTrait::kVisible));
  EXPECT_TRUE(device.HasWindowTrait(probe, WindowTrait::kMinimized));
  EXPECT_FALSE(device.IsWindowResponding(nullptr, 100));
}

// A window given back while its program hangs: the caller does not wait; the window goes back
// once the program answers, whether the caller pumps meanwhile or waits for the return. A holder
// that goes first takes the window with it where the program must take part in the return (the
// host must outlive the return of a hung program's window); where it need not, it is back already.
void CheckHungProgramsWindowIsGivenBackWithoutWaitingAndOutlivesNoHolder(Environment& environment) {
  Platform& device = environment.Device();
  const bool back = environment.ReparentsWithoutTheProgram();
  enum Then { kPump, kWaitForTheReturn, kDestroyTheHolder };
  for (Then then : {kPump, kWaitForTheReturn, kDestroyTheHolder}) {
    SCOPED_TRACE(then == kPump               ? "pumped"
                 : then == kWaitForTheReturn ? "waited for"
                                             : "holder gone");
    const Text title = u"Conformance Give Back " + Text(1, static_cast<char16_t>(u'0' + then));
    HeldWindow held(environment, title);
    HWND probe = held.foreign;
    ASSERT_NE(probe, nullptr);
    ASSERT_EQ(environment.Children(held.pane), std::vector<HWND>{probe});
    environment.Hang(probe, 2000);
    const std::uint64_t start = environment.Now();
    device.GiveBackWindow(probe, kHome, held.former, false);
    EXPECT_LE(environment.Now() - start, 300u) << "the caller does not wait";
    if (!back) {
      EXPECT_EQ(environment.Children(held.pane), std::vector<HWND>{probe})
          << "nothing changes before the program answers";
      EXPECT_EQ(FrameSize(device, probe), std::make_pair(0, 0));
    }
    if (then == kDestroyTheHolder) {
      held.dialog.DestroyWindow();
      EXPECT_TRUE(environment.Eventually([&] { return device.IsWindow(probe) == back; }, 5000))
          << (back ? "given back" : "dies with its holder");
      if (back) {
        EXPECT_TRUE(SameRect(device.GetWindowRect(probe), kHome));
      }
      continue;
    }
    if (then == kPump) {
      ASSERT_TRUE(
          environment.Eventually([&] { return device.IsWindowResponding(probe, 200); }, 10000));
      environment.Pump(300);
    } else {
      EXPECT_EQ(device.FinishReturningWindows(300), back)
          << "done only where the program need not answer first";
      EXPECT_TRUE(device.FinishReturningWindows(8000));
      EXPECT_LE(environment.Now() - start, 4000u);
    }
    ExpectBackHome(environment, held, title);
    held.dialog.DestroyWindow();
    environment.Pump(300);
    ASSERT_TRUE(device.IsWindow(probe)) << "a window given back outlives its holder";
    EXPECT_TRUE(SameRect(device.GetWindowRect(probe), kHome));
    EXPECT_TRUE(device.FinishReturningWindows(0)) << "nothing left to wait for";
  }
}

}  // namespace sorvel::conformance
