#include "host/main_dlg.h"

#include "host/resources.h"
#include "settings/settings.h"

namespace sorvel {

namespace {

constexpr COLORREF kButtonColors[4] = {
    Rgb(0, 255, 0),    // A
    Rgb(255, 0, 0),    // up
    Rgb(0, 0, 255),    // down
    Rgb(200, 128, 0),  // toggle
};
constexpr COLORREF kButtonTextColor = Rgb(255, 255, 255);

constexpr char16_t kPaneLabelPrefix[] = u"마지막 작동 파일명:";
constexpr char16_t kNoProgramName[] =
    u"프로그램의 이름을 얻어오지 못했습니다. 프로그램을 종료합니다.";
constexpr char16_t kTitleAfterStart[] = u"Tavrin";
constexpr unsigned kLaunchPause = 100;

// Titles of the host's own main window, which the top-level scans leave alone.
bool IsHostTitle(const Text& title) {
  return title == u"Tavrin" || title == u"Sorvel";
}
constexpr int kScanLimit = 200;

}  // namespace

const MessageMapEntry<CMainDlg> CMainDlg::kMessageMap[] = {
    {MapKind::kSize, 0, 0, &CMainDlg::OnSize},
    {MapKind::kCommand, 1000, kBnSetFocus, &CMainDlg::OnButtonAFocus},
    {MapKind::kControlColor, 0, 0, &CMainDlg::OnCtlColor},
    {MapKind::kTimer, 0, 0, &CMainDlg::OnTimer},
    {MapKind::kDestroy, 0, 0, &CMainDlg::OnDestroy},
    {MapKind::kCommand, kIdExit, kBnClicked, &CMainDlg::OnExit},
};

CMainDlg::CMainDlg(Platform& platform, HWND owner)
    : CDialog(platform, MainDialogTemplate(), owner), icon_(platform.LoadIcon(kIdiMainIcon)) {
  for (std::size_t i = 0; i < brushes_.size(); ++i) {
    brushes_[i] = platform.CreateSolidBrush(kButtonColors[i]);
  }
}

CMainDlg::~CMainDlg() {
  for (HBRUSH brush : brushes_) platform_.DeleteBrush(brush);
}

bool CMainDlg::DispatchMessageMap(Message& message) {
  return WalkMessageMap(this, kMessageMap, message);
}

void CMainDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  HWND hwnd = GetSafeHwnd();
  platform_.SetIcon(hwnd, icon_, true);
  platform_.SetIcon(hwnd, icon_, false);
  if (!platform_.CreateMenuBar(hwnd, MainMenu())) return;

  clientRect_ = platform_.GetClientRect(hwnd);

  Text settingsPath = MakeSettingsPath(platform_.GetModuleFileName());
  if (settingsPath.empty()) {
    platform_.MessageBox(hwnd, kNoProgramName, kAppName, kMbOk);
    EndDialog(kIdCancel);
    return;
  }
  SettingsPath = settingsPath;

  platform_.SetTimer(hwnd, kTitleTimer, kTitleTimerMs);
  LoadPaneSettings();
  platform_.SetTimer(hwnd, kLaunchTimer, kLaunchTimerMs);

  // A desktop window system sends no size notification after this point; lay out once.
  platform_.SendMessage(hwnd, kWmSize, kSizeRestored,
                        MakeLParam(static_cast<unsigned>(clientRect_.right),
                                   static_cast<unsigned>(clientRect_.bottom)));
}

void CMainDlg::LoadPaneSettings() {
  FileSystem& files = platform_.Files();
  ThreePaneMode = ThreePaneModeFromSetting(ReadSetting(files, kPartionMode));
  int paneCount = ThreePaneMode ? 3 : 2;
  for (int i = 0; i < paneCount; ++i) {
    const PaneControls& ids = kPaneControls[i];
    platform_.SetWindowText(GetDlgItem(ids.display),
                            kPaneLabelPrefix + ReadSetting(files, ids.titleKey));
    panes_[i].placement = PanePlacement(clientRect_.right, clientRect_.bottom,
                                        OffsetFromSetting(ReadSetting(files, ids.offsetKey)));
  }
}

void CMainDlg::OnSize(Message&) {
  // Size notifications also arrive while the framework sizes the dialog, before the client
  // rectangle is stored; the controls stay at their template places until it is.
  if (layoutFrozen_ || clientRect_.IsEmpty()) return;
  std::vector<ControlMove> moves =
      LayoutPanes(clientRect_.right, clientRect_.bottom, ThreePaneMode, [this](int id) {
        Rect client = platform_.GetClientRect(GetDlgItem(id));
        return Size{client.right, client.bottom};
      });
  for (const ControlMove& move : moves) {
    platform_.MoveWindow(GetDlgItem(move.id), move.placement, true);
  }
}

void CMainDlg::OnTimer(Message& message) {
  if (message.TimerId() == kTitleTimer) {
    title_ = kTitleAfterStart;
    platform_.SetWindowText(GetSafeHwnd(), title_);
  } else if (message.TimerId() == kLaunchTimer) {
    platform_.KillTimer(GetSafeHwnd(), kLaunchTimer);
    FileSystem& files = platform_.Files();
    int paneCount = ThreePaneMode ? 3 : 2;
    for (int i = 0; i < paneCount; ++i) {
      // A failed start (an empty or stale path) is ignored.
      platform_.CreateProcess(ReadSetting(files, kPaneControls[i].pathKey));
      platform_.Sleep(kLaunchPause);
    }
  }
}

void CMainDlg::OnCtlColor(Message& message) {
  int id = platform_.GetDlgCtrlID(message.control);
  for (const PaneControls& pane : kPaneControls) {
    const int buttons[4] = {pane.buttonA, pane.buttonUp, pane.buttonDown, pane.buttonToggle};
    for (int i = 0; i < 4; ++i) {
      if (buttons[i] == id) {
        message.brush = brushes_[i];
        message.textColor = kButtonTextColor;
        return;
      }
    }
  }
}

void CMainDlg::OnButtonAFocus(Message&) {
  if (panes_[0].hostedWindow != nullptr) platform_.SetForegroundWindow(panes_[0].hostedWindow);
}

bool CMainDlg::PreTranslateMessage(const Message& message) {
  if (message.message == kWmCommand && message.wParam == kParkCommand) {
    Park();
    return true;
  }
  return CDialog::PreTranslateMessage(message);
}

void CMainDlg::Park() {
  int width = platform_.GetSystemMetrics(kSmCxScreen);
  int height = platform_.GetSystemMetrics(kSmCyScreen);
  int x = 0, fromBottom = 0;
  if (width == 240) {
    x = 220;
    fromBottom = 70;
  } else if (width == 480) {
    x = 430;
    fromBottom = 100;
  } else {
    return;
  }
  platform_.SetWindowPos(GetSafeHwnd(), kHwndTopmost, x, height - fromBottom, 0, 0, kSwpNoSize);
}

void CMainDlg::ReleasePane(int index) {
  PaneState& pane = panes_[index];
  const PaneControls& ids = kPaneControls[index];
  const Rect& saved = pane.savedRect;
  platform_.MoveWindow(pane.hostedWindow, {saved.left, saved.top, saved.Width(), saved.Height()},
                       true);
  platform_.SetWindowText(GetDlgItem(ids.display),
                          kPaneLabelPrefix + ReadSetting(platform_.Files(), ids.titleKey));
  platform_.SetWindowText(GetDlgItem(ids.buttonA), u"A");
  platform_.SetParent(pane.hostedWindow, nullptr);
  pane.captured = false;
  for (int id : {ids.buttonUp, ids.buttonDown, ids.buttonToggle}) {
    platform_.ShowWindow(GetDlgItem(id), kSwHide);
  }
  platform_.InvalidateWindow(GetSafeHwnd(), true);
  platform_.SetForegroundWindow(pane.hostedWindow);
}

void CMainDlg::OnDestroy(Message&) {
  for (int i = 0; i < kPaneCount; ++i) {
    if (panes_[i].captured) ReleasePane(i);
  }
}

void CMainDlg::MinimiseOtherWindows() {
  HWND window = platform_.GetTopWindow();
  for (int passed = 0; window != nullptr && passed <= kScanLimit; ++passed) {
    Text title = platform_.GetWindowText(window);
    if (platform_.IsWindowVisible(window) && !title.empty() &&
        platform_.GetWindow(window, kGwOwner) == nullptr &&
        platform_.GetParent(window) == nullptr && !IsHostTitle(title)) {
      platform_.ShowWindow(window, kSwMinimize);
    }
    window = platform_.GetWindow(window, kGwHwndNext);
  }
}

void CMainDlg::OnExit(Message&) {
  MinimiseOtherWindows();
  platform_.PostMessage(GetSafeHwnd(), kWmQuit, 0, 0);
}

}  // namespace sorvel
