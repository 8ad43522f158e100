#include "tests/conformance/window_system_checks.h"

#include <gtest/gtest.h>

#include "platform/framework.h"
#include "tests/support/same_rect.h"

namespace sorvel::conformance {
namespace {

constexpr int kButton = 1;
constexpr int kPane = 2;
constexpr int kHiddenButton = 3;
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

// A dialog that keeps its template size and counts its timer messages.
class ProbeDialog : public CDialog {
 public:
  explicit ProbeDialog(Platform& platform, HWND owner = nullptr)
      : CDialog(platform, ProbeTemplate(), owner) {
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
  EXPECT_NE(device.GetWindowStyle(hidden) & kWsChild, 0u);
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
  ProbeDialog dialog(device);
  HWND pane = device.GetDlgItem(dialog.Create(), kPane);
  const Text title = u"Conformance Reparent";
  HWND foreign = environment.StartForeignWindow(title);
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
  ProbeDialog dialog(device);
  HWND pane = device.GetDlgItem(dialog.Create(), kPane);
  HWND foreign = environment.StartForeignWindow(u"Conformance Style");
  ASSERT_NE(foreign, nullptr);
  EXPECT_NE(device.GetWindowStyle(foreign) & kWsCaption, 0u);

  device.SetParent(foreign, pane);
  device.SetWindowStyle(foreign, kWsVisible);
  environment.Pump(100);
  EXPECT_EQ(device.GetWindowStyle(foreign), kWsVisible);
  EXPECT_TRUE(device.IsWindowVisible(foreign));
  device.SetParent(foreign, nullptr);
}

void CheckDestroyingAParentDestroysForeignChildren(Environment& environment) {
  Platform& device = environment.Device();
  ProbeDialog dialog(device);
  HWND pane = device.GetDlgItem(dialog.Create(), kPane);
  HWND foreign = environment.StartForeignWindow(u"Conformance Destroy");
  ASSERT_NE(foreign, nullptr);
  device.SetParent(foreign, pane);
  environment.Pump(100);

  dialog.DestroyWindow();
  environment.Pump(300);
  EXPECT_FALSE(device.IsWindow(pane));
  EXPECT_FALSE(device.IsWindow(foreign)) << "a window left in a pane dies with the dialog";
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

  device.SetWindowPos(hwnd, kHwndTopmost, 10, 20, 0, 0, kSwpNoSize);
  environment.Pump(100);
  Rect after = device.GetWindowRect(hwnd);
  EXPECT_TRUE(SameRect(after, {10, 20, 10 + before.Width(), 20 + before.Height()}));
  EXPECT_NE(device.GetWindowExStyle(hwnd) & kWsExTopmost, 0u);
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
  EXPECT_NE(device.GetWindowStyle(foreign) & kWsMinimize, 0u);
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

}  // namespace sorvel::conformance
