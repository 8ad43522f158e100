#include "host/find_dlg.h"

#include <cstdint>

#include "host/resources.h"
#include "host/top_level.h"
#include "settings/settings.h"

namespace sorvel {

namespace {

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
    {MapKind::kCommand, kIdPickerList, kLbnDblClk, &CFindDlg::OnApply},
    {MapKind::kCommand, kIdPickerClose, kBnClicked, &CFindDlg::OnClose},
    {MapKind::kSize, 0, 0, &CFindDlg::OnSize},
    {MapKind::kCommand, kIdPickerList, kLbnSelChange, &CFindDlg::OnShowApply},
    {MapKind::kCommand, kIdPickerApply, kBnClicked, &CFindDlg::OnApply},
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
  titles_.clear();
  for (HWND window : platform_.TopLevelWindows(SIZE_MAX)) {
    Text title;
    if (!IsProgramMainWindow(platform_, window, &title)) continue;
    if (IsHostTitle(title) || IsSystemTitle(title) || IsPhoneTitle(title)) continue;
    titles_.insert(titles_.begin() + static_cast<std::ptrdiff_t>(SortedListPlace(titles_, title)),
                   title);
  }
  platform_.SetListItems(GetDlgItem(kIdPickerList), titles_);
}

HWND CFindDlg::FindByTitle(const Text& title) {
  HWND window = platform_.FindWindow(nullptr, title);
  if (window != GetSafeHwnd()) return window;
  // A program's window may bear the picker's own caption; the search found the picker first.
  for (HWND other : platform_.TopLevelWindows(SIZE_MAX)) {
    if (other != GetSafeHwnd() && platform_.GetWindowText(other) == title) return other;
  }
  return nullptr;
}

void CFindDlg::OnApply(Message&) {
  int index = platform_.GetListSelection(GetDlgItem(kIdPickerList));
  if (index < 0 || static_cast<std::size_t>(index) >= titles_.size()) return;
  PickedWindowTitle = titles_[static_cast<std::size_t>(index)];
  // A window closed since the list was filled leaves no path to remember.
  HWND window = FindByTitle(PickedWindowTitle);
  PickedProgramPath = window != nullptr ? platform_.GetWindowProgramPath(window) : Text();
  EndDialog(kApplied);
}

void CFindDlg::OnClose(Message&) {
  EndDialog(kClosed);
}

void CFindDlg::OnShowApply(Message&) {
  ShowItem(kIdPickerApply, true);
}

void CFindDlg::OnSize(Message& message) {
  // Size notifications come while the dialog is made, before its controls are.
  for (int id : {kIdPickerClose, kIdPickerApply, kIdPickerList}) {
    if (GetDlgItem(id) == nullptr) return;
  }
  int cx = message.width, cy = message.height;
  Rect closeRect = ItemWindowRect(kIdPickerClose);
  Rect applyRect = ItemWindowRect(kIdPickerApply);
  int w = closeRect.Width(), h = closeRect.Height();
  MoveItem(kIdPickerClose, {cx - w - 5, cy - h - 2, w, h});
  w = applyRect.Width();
  h = applyRect.Height();
  MoveItem(kIdPickerApply, {cx - 2 * (w + 5), cy - h - 2, w, h});
  MoveItem(kIdPickerList, {5, 5, cx - 10, cy - h - 10});
}

}  // namespace sorvel
