#include "host/find_dlg.h"

#include <cstdint>

#include "host/resources.h"
#include "host/top_level.h"
#include "settings/settings.h"

namespace sorvel {

namespace {

constexpr int kIdList = 1006;
constexpr int kIdClose = 1007;
constexpr int kIdApply = 1008;

// Windows of the system that are no program a user would pick.
bool IsSystemTitle(const Text& title) {
  return title == u"ActiveSync" || title == u"Desktop" || title == u"MS_SIPBUTTON";
}

// The phone's windows stay out of the panes.
bool IsPhoneTitle(const Text& title) {
  return title.find(u"전화") != Text::npos;
}

}  // namespace

const MessageMapEntry<CFindDlg> CFindDlg::kMessageMap[] = {
    {MapKind::kCommand, kIdList, kLbnDblClk, &CFindDlg::OnApply},
    {MapKind::kCommand, kIdClose, kBnClicked, &CFindDlg::OnClose},
    {MapKind::kSize, 0, 0, &CFindDlg::OnSize},
    {MapKind::kCommand, kIdList, kLbnSelChange, &CFindDlg::OnShowApply},
    {MapKind::kCommand, kIdApply, kBnClicked, &CFindDlg::OnApply},
};

CFindDlg::CFindDlg(Platform& platform, HWND owner)
    : CDialog(platform, FindDialogTemplate(), owner) {}

bool CFindDlg::DispatchMessageMap(Message& message) {
  return WalkMessageMap(this, kMessageMap, message);
}

void CFindDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  FillList();
}

void CFindDlg::FillList() {
  HWND list = GetDlgItem(kIdList);
  platform_.ListBoxResetContent(list);
  for (HWND window : ListTopLevelWindows(platform_, SIZE_MAX)) {
    Text title;
    if (!IsProgramMainWindow(platform_, window, &title)) continue;
    if (IsHostTitle(title) || IsSystemTitle(title) || IsPhoneTitle(title)) continue;
    // The list sorts its items itself.
    platform_.ListBoxAddString(list, title);
  }
}

HWND CFindDlg::FindByTitle(const Text& title) {
  HWND window = platform_.FindWindow(nullptr, title);
  if (window != GetSafeHwnd()) return window;
  // A program's window may bear the picker's own caption; the search found the picker first.
  for (HWND other : ListTopLevelWindows(platform_, SIZE_MAX)) {
    if (other != GetSafeHwnd() && platform_.GetWindowText(other) == title) return other;
  }
  return nullptr;
}

void CFindDlg::OnApply(Message&) {
  HWND list = GetDlgItem(kIdList);
  int index = platform_.ListBoxGetCurSel(list);
  if (index < 0) return;
  PickedWindowTitle = platform_.ListBoxGetText(list, index);
  // A window closed since the list was filled leaves no path to remember.
  HWND window = FindByTitle(PickedWindowTitle);
  PickedProgramPath = window != nullptr ? platform_.GetWindowProgramPath(window) : Text();
  EndDialog(kApplied);
}

void CFindDlg::OnClose(Message&) {
  EndDialog(kClosed);
}

void CFindDlg::OnShowApply(Message&) {
  platform_.ShowWindow(GetDlgItem(kIdApply), kSwShowNormal);
}

void CFindDlg::OnSize(Message& message) {
  HWND close = GetDlgItem(kIdClose);
  HWND apply = GetDlgItem(kIdApply);
  HWND list = GetDlgItem(kIdList);
  if (close == nullptr || apply == nullptr || list == nullptr) return;
  int cx = message.width, cy = message.height;
  Rect closeRect = platform_.GetWindowRect(close);
  Rect applyRect = platform_.GetWindowRect(apply);
  int w = closeRect.Width(), h = closeRect.Height();
  platform_.MoveWindow(close, {cx - w - 5, cy - h - 2, w, h}, true);
  w = applyRect.Width();
  h = applyRect.Height();
  platform_.MoveWindow(apply, {cx - 2 * (w + 5), cy - h - 2, w, h}, true);
  platform_.MoveWindow(list, {5, 5, cx - 10, cy - h - 10}, true);
}

}  // namespace sorvel
