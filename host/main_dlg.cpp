#include "host/main_dlg.h"

#include <cstdint>

#include "host/find_dlg.h"
#include "host/resources.h"
#include "host/top_level.h"
#include "host/version_dlg.h"
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
constexpr char16_t kCannotFindWindow[] = u"Cannot find Window";
constexpr char16_t kNotResponding[] = u"프로그램이 응답하지 않습니다.";
constexpr char16_t kSplitResetQuestion[] =
    u"이전에 실행한 목록을 초기화하기 위해서는 프로그램을 다시 실행해야 합니다. 종료하시겠습니까?";
constexpr char16_t kTitleAfterStart[] = u"Tavrin";
constexpr unsigned kLaunchPause = 100;
constexpr int kNudgeStep = 10;

// The pane whose control `member` has the id `id`; -1 for none.
int PaneOf(unsigned id, int PaneControls::*member) {
  for (int i = 0; i < kPaneCount; ++i) {
    if (static_cast<unsigned>(kPaneControls[i].*member) == id) return i;
  }
  return -1;
}

}  // namespace

const MessageMapEntry<CMainDlg> CMainDlg::kMessageMap[] = {
    {MapKind::kSize, 0, 0, &CMainDlg::OnSize},
    {MapKind::kCommand, kIdButtonA1, kBnClicked, &CMainDlg::OnButtonA},
    {MapKind::kCommand, kIdButtonA2, kBnClicked, &CMainDlg::OnButtonA},
    {MapKind::kCommand, kIdButtonA3, kBnClicked, &CMainDlg::OnButtonA},
    {MapKind::kCommand, kIdUp1, kBnClicked, &CMainDlg::OnButtonUp},
    {MapKind::kCommand, kIdUp2, kBnClicked, &CMainDlg::OnButtonUp},
    {MapKind::kCommand, kIdUp3, kBnClicked, &CMainDlg::OnButtonUp},
    {MapKind::kCommand, kIdDown1, kBnClicked, &CMainDlg::OnButtonDown},
    {MapKind::kCommand, kIdDown2, kBnClicked, &CMainDlg::OnButtonDown},
    {MapKind::kCommand, kIdDown3, kBnClicked, &CMainDlg::OnButtonDown},
    {MapKind::kCommand, kIdToggle1, kBnClicked, &CMainDlg::OnButtonToggle},
    {MapKind::kCommand, kIdToggle2, kBnClicked, &CMainDlg::OnButtonToggle},
    {MapKind::kCommand, kIdToggle3, kBnClicked, &CMainDlg::OnButtonToggle},
    {MapKind::kCommand, kIdButtonA1, kBnSetFocus, &CMainDlg::OnButtonAFocus},
    // A park command sent rather than posted never passes the pre-translation.
    {MapKind::kCommand, kParkCommandId, kParkNotifyCode, &CMainDlg::OnPark},
    {MapKind::kControlColor, 0, 0, &CMainDlg::OnCtlColor},
    {MapKind::kTimer, 0, 0, &CMainDlg::OnTimer},
    {MapKind::kDestroy, 0, 0, &CMainDlg::OnDestroy},
    {MapKind::kEndSession, 0, 0, &CMainDlg::OnEndSession},
    {MapKind::kCommand, kIdExit, kBnClicked, &CMainDlg::OnExit},
    {MapKind::kCommand, kIdSplitStart, kBnClicked, &CMainDlg::OnSplitStart},
    {MapKind::kCommand, kIdSplitReset, kBnClicked, &CMainDlg::OnSplitReset},
    {MapKind::kCommand, kIdSplitSelect, kBnClicked, &CMainDlg::OnSplitSelect},
    {MapKind::kMessage, kWmUpdateNotice, 0, &CMainDlg::OnUpdateNotice},
};

CMainDlg::CMainDlg(Platform& platform, HWND owner)
    : CDialog(platform, MainDialogTemplate(), owner) {}

CMainDlg::~CMainDlg() {
  // Destroyed while this part still hears it, so that the held windows are given back.
  DestroyWindow();
}

bool CMainDlg::DispatchMessageMap(Message& message) {
  return WalkMessageMap(this, kMessageMap, message);
}

void CMainDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  HWND hwnd = GetSafeHwnd();
  clientRect_ = platform_.GetClientRect(hwnd);

  Text settingsPath = platform_.LocateSettingsFile(
      MakeSettingsPath(platform_.GetModuleFileName(), platform_.Files().Separator()));
  if (settingsPath.empty()) {
    platform_.MessageBox(hwnd, kNoProgramName, kAppName, MessageBoxButtons::kOk);
    EndDialog(kIdCancel);
    return;
  }
  SettingsPath = settingsPath;

  // From here on panes can hold windows: a fault gives them back before the process dies.
  platform_.SetCrashHandler(&CMainDlg::ReleaseAllPanesOnCrash, this);
  platform_.SetTimer(hwnd, kTitleTimer, kTitleTimerMs);
  platform_.SetTimer(hwnd, kWatchTimer, kWatchTimerMs);
  LoadPaneSettings();
  platform_.SetTimer(hwnd, kLaunchTimer, kLaunchTimerMs);
  platform_.SetTimer(hwnd, kUpdateCheckTimer, kUpdateCheckTimerMs);

  // A desktop window system sends no size notification after this point; lay out once.
  LayOut();
}

void CMainDlg::LoadPaneSettings() {
  FileSystem& files = platform_.Files();
  ThreePaneMode = ThreePaneModeFromSetting(ReadSetting(files, kPartionMode));
  int paneCount = ThreePaneMode ? 3 : 2;
  for (int i = 0; i < paneCount; ++i) {
    const PaneControls& ids = kPaneControls[i];
    SetItemText(ids.display, kPaneLabelPrefix + ReadSetting(files, ids.titleKey));
    panes_[i].placement = PanePlacement(clientRect_.right, clientRect_.bottom,
                                        OffsetFromSetting(ReadSetting(files, ids.offsetKey)));
  }
}

void CMainDlg::OnSize(Message& message) {
  // A window manager that makes its frame known only once the dialog is shown (Weston answers no
  // _NET_REQUEST_FRAME_EXTENTS) leaves a smaller client area than the one read at
  // OnInitDialog: the panes, and the windows they hold, follow the dialog's size.
  if (!clientRect_.IsEmpty() && message.width > 0 && message.height > 0 &&
      (message.width != clientRect_.right || message.height != clientRect_.bottom)) {
    clientRect_ = {0, 0, message.width, message.height};
    for (PaneState& pane : panes_) {
      pane.placement = PanePlacement(clientRect_.right, clientRect_.bottom, pane.placement.y);
      if (pane.captured && Answers(pane)) {
        platform_.MoveWindow(pane.hostedWindow, pane.placement, true);
      }
    }
  }
  LayOut();
}

void CMainDlg::LayOut() {
  // Size notifications also arrive while the framework sizes the dialog, before the client
  // rectangle is stored; the controls stay at their template places until it is.
  if (layoutFrozen_ || clientRect_.IsEmpty()) return;
  std::vector<ControlMove> moves =
      LayoutPanes(clientRect_.right, clientRect_.bottom, ThreePaneMode, [this](int id) {
        Rect client = ItemClientRect(id);
        return Size{client.right, client.bottom};
      });
  for (const ControlMove& move : moves) {
    MoveItem(move.id, move.placement);
  }
}

void CMainDlg::OnTimer(Message& message) {
  if (message.timerId == kTitleTimer) {
    platform_.SetWindowText(GetSafeHwnd(), kTitleAfterStart);
  } else if (message.timerId == kWatchTimer) {
    WatchHeldPrograms();
  } else if (message.timerId == kUpdateCheckTimer) {
    platform_.KillTimer(GetSafeHwnd(), kUpdateCheckTimer);
    updateCheck_.Start(platform_, GetSafeHwnd(), kWmUpdateNotice);
  } else if (message.timerId == kLaunchTimer) {
    platform_.KillTimer(GetSafeHwnd(), kLaunchTimer);
    if (launched_) return;
    launched_ = true;
    FileSystem& files = platform_.Files();
    int paneCount = ThreePaneMode ? 3 : 2;
    for (int i = 0; i < paneCount; ++i) {
      // A failed start (an empty, stale or over-long path) is ignored.
      platform_.CreateProcess(ReadProgramPath(files, kPaneControls[i].pathKey));
      platform_.Sleep(kLaunchPause);
    }
  }
}

void CMainDlg::WatchHeldPrograms() {
  for (PaneState& pane : panes_) {
    if (!pane.captured || !StillHosted(pane)) continue;
    bool answers = platform_.IsWindowResponding(pane.hostedWindow, kWatchTimeoutMs);
    if (answers != pane.inputShared) {
      platform_.ShareInput(pane.hostedWindow, answers);
      pane.inputShared = answers;
    }
  }
}

void CMainDlg::OnCtlColor(Message& message) {
  int id = message.controlId;
  for (const PaneControls& pane : kPaneControls) {
    const int buttons[4] = {pane.buttonA, pane.buttonUp, pane.buttonDown, pane.buttonToggle};
    for (int i = 0; i < 4; ++i) {
      if (buttons[i] == id) {
        message.colors = ControlColors{kButtonColors[i], kButtonTextColor};
        return;
      }
    }
  }
}

void CMainDlg::OnButtonAFocus(Message&) {
  // Pane 1's window takes the user's input when its button gets the focus.
  if (Answers(panes_[0])) platform_.SetForegroundWindow(panes_[0].hostedWindow);
}

bool CMainDlg::PreTranslateMessage(const Message& message) {
  if (message.message == kWmCommand && message.commandId == kParkCommandId &&
      message.notifyCode == kParkNotifyCode) {
    Park();
    return true;
  }
  return CDialog::PreTranslateMessage(message);
}

void CMainDlg::OnPark(Message&) {
  Park();
}

void CMainDlg::Park() {
  Screen screen = platform_.GetScreen();
  int width = screen.width, height = screen.height;
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
  platform_.MoveTopmost(GetSafeHwnd(), x, height - fromBottom);
}

// --- Capture and release ---

void CMainDlg::OnButtonA(Message& message) {
  TogglePane(PaneOf(message.commandId, &PaneControls::buttonA));
}

void CMainDlg::TogglePane(int index) {
  if (panes_[index].captured) {
    ReleasePane(index);
  } else {
    CapturePane(index);
  }
}

bool CMainDlg::StillHosted(const PaneState& pane) {
  return pane.hostedWindow != nullptr && platform_.IsWindow(pane.hostedWindow) &&
         platform_.GetWindowProcessId(pane.hostedWindow) == pane.hostedProcess;
}

bool CMainDlg::Answers(const PaneState& pane) {
  if (!StillHosted(pane)) return false;
  // The watch found it hung within the last second: asking again would only wait.
  if (pane.captured && !pane.inputShared) return false;
  return platform_.IsWindowResponding(pane.hostedWindow, kAnswerTimeoutMs);
}

void CMainDlg::Remember(const Text& value, int index) {
  FileSystem& files = platform_.Files();
  // Each write rewrites and flushes the file: split start's captures store what they read.
  if (ReadSetting(files, index) != value) WriteSetting(files, value, index);
}

void CMainDlg::CapturePane(int index) {
  PaneState& pane = panes_[index];
  const PaneControls& ids = kPaneControls[index];
  if (!pane.autoCapture) {
    CFindDlg picker(platform_, GetSafeHwnd());
    int result = picker.DoModal();
    // Closed by its button or cancelled, nothing was chosen; a quit message that ended the
    // picker ends the host. Ended with OK, it keeps the earlier choice.
    if (result == CFindDlg::kClosed || result == kIdCancel || result == kModalQuit) return;
  }
  captureRect_ = Rect();
  for (int attempt = 1; attempt <= kCaptureAttempts; ++attempt) {
    if (attempt > 1) platform_.Sleep(kCaptureRetryPauseMs);
    HWND target = FindCaptureTarget(PickedWindowTitle);
    pane.hostedWindow = target;
    Remember(PickedWindowTitle, ids.titleKey);
    if (PickedProgramPath.size() > 1) Remember(PickedProgramPath, ids.pathKey);
    // Later attempts keep the rectangle of the first: the window stood there before capture.
    pane.savedRect = captureRect_;
    if (target == nullptr) break;
    pane.hostedProcess = platform_.GetWindowProcessId(target);
    if (!platform_.IsWindowResponding(target, kAnswerTimeoutMs)) {
      platform_.MessageBox(GetSafeHwnd(), kNotResponding, kAppName, MessageBoxButtons::kOk);
      return;
    }
    if (TakeIntoPane(index, target)) return;
    // The re-parenting did not take hold: give the window back whole before trying again.
    ReleasePane(index);
  }
  platform_.MessageBox(GetSafeHwnd(), kCannotFindWindow, kAppName, MessageBoxButtons::kOk);
}

HWND CMainDlg::FindCaptureTarget(const Text& title) {
  HWND main = platform_.FindWindow(nullptr, title);
  // Without the titled window the walk below would take any ownerless dialog.
  if (main == nullptr) return nullptr;
  HWND target = nullptr;
  bool walking = false;
  for (HWND window : platform_.TopLevelWindows(SIZE_MAX)) {
    walking = walking || (platform_.GetClassName(window) == kPortableDialogClass &&
                          platform_.GetWindowText(window).empty());
    if (walking && platform_.GetOwner(window) == main &&
        platform_.HasWindowTrait(window, WindowTrait::kHasChildren)) {
      target = window;
      break;
    }
  }
  if (target == nullptr) {
    HWND dialog = platform_.FindWindow(kPortableDialogClass, u"Dialog");
    target = dialog != nullptr && platform_.GetOwner(dialog) == main ? dialog : main;
  }
  if (captureRect_.IsEmpty()) captureRect_ = platform_.GetWindowRect(target);
  return target;
}

bool CMainDlg::TakeIntoPane(int index, HWND target) {
  PaneState& pane = panes_[index];
  const PaneControls& ids = kPaneControls[index];
  SetItemText(ids.buttonA, u"C");
  SetItemText(ids.display, u"");
  bool held =
      platform_.HoldWindow(target, GetDlgItem(ids.display), pane.placement, &pane.formerFrame);
  pane.inputShared = true;
  pane.captured = true;
  for (int id : {ids.buttonUp, ids.buttonDown, ids.buttonToggle}) {
    ShowItem(id, true);
  }
  return held;
}

void CMainDlg::ReleasePane(int index) {
  PaneState& pane = panes_[index];
  const Rect& saved = pane.savedRect;
  // A window that its program closed meanwhile is not touched: the pane is only reset.
  bool hosted = StillHosted(pane);
  bool answers = hosted && Answers(pane);
  if (hosted) {
    platform_.GiveBackWindow(pane.hostedWindow, saved, pane.formerFrame, answers);
    pane.inputShared = false;
  }
  ShowPaneEmpty(index);
  platform_.InvalidateWindow(GetSafeHwnd(), true);
  if (answers) platform_.SetForegroundWindow(pane.hostedWindow);
}

void CMainDlg::ShowPaneEmpty(int index) {
  const PaneControls& ids = kPaneControls[index];
  SetItemText(ids.display, kPaneLabelPrefix + ReadSetting(platform_.Files(), ids.titleKey));
  SetItemText(ids.buttonA, u"A");
  panes_[index].captured = false;
  for (int id : {ids.buttonUp, ids.buttonDown, ids.buttonToggle}) {
    ShowItem(id, false);
  }
}

void CMainDlg::ReleaseAllPanes() {
  for (int i = 0; i < kPaneCount; ++i) {
    if (panes_[i].captured) ReleasePane(i);
  }
  platform_.FinishReturningWindows(kFinalReturnWaitMs);
}

void CMainDlg::ReleaseAllPanesOnCrash(void* dialog) {
  static_cast<CMainDlg*>(dialog)->ReleaseAllPanes();
}

void CMainDlg::OnDestroy(Message&) {
  ReleaseAllPanes();
  platform_.SetCrashHandler(nullptr, nullptr);
}

void CMainDlg::OnEndSession(Message& message) {
  if (message.sessionEnds) ReleaseAllPanes();
}

// --- Nudging and the height toggle ---

void CMainDlg::ApplyOffset(int index) {
  PaneState& pane = panes_[index];
  WriteSetting(platform_.Files(), FormatDecimal(pane.placement.y), kPaneControls[index].offsetKey);
  bool answers = Answers(pane);
  if (answers) platform_.MoveWindow(pane.hostedWindow, pane.placement, true);
  platform_.InvalidateWindow(GetSafeHwnd(), true);
  if (answers) platform_.SetForegroundWindow(pane.hostedWindow);
}

void CMainDlg::Nudge(int index, int dy) {
  panes_[index].placement.y = ShiftOffset(panes_[index].placement.y, dy);
  ApplyOffset(index);
}

void CMainDlg::OnButtonUp(Message& message) {
  Nudge(PaneOf(message.commandId, &PaneControls::buttonUp), -kNudgeStep);
}

void CMainDlg::OnButtonDown(Message& message) {
  Nudge(PaneOf(message.commandId, &PaneControls::buttonDown), kNudgeStep);
}

void CMainDlg::OnButtonToggle(Message& message) {
  ToggleHeight(PaneOf(message.commandId, &PaneControls::buttonToggle));
}

void CMainDlg::ToggleHeight(int index) {
  PaneState& pane = panes_[index];
  const PaneControls& ids = kPaneControls[index];
  int width = clientRect_.right, height = clientRect_.bottom;
  if (!pane.expanded) {
    // The pane's buttons go to the bottom edge, its display over the whole dialog; the
    // controls of the panes above it in the stacking order would show through and are hidden.
    auto moveToBottom = [&](int id, int x) {
      Rect size = ItemClientRect(id);
      MoveItem(id, {x, height - size.bottom - 1, size.right, size.bottom});
    };
    int buttonA = ItemClientRect(ids.buttonA).right;
    int small = ItemClientRect(ids.buttonUp).right;
    moveToBottom(ids.buttonA, width - buttonA);
    moveToBottom(ids.buttonUp, 0);
    moveToBottom(ids.buttonDown, small + 1);
    moveToBottom(ids.buttonToggle, 2 * (small + 1));
    MoveItem(ids.display, {0, 0, width, height - 1});
    pane.expanded = true;
    for (int above = 0; above < index; ++above) {
      const PaneControls& other = kPaneControls[above];
      for (int id :
           {other.display, other.buttonUp, other.buttonDown, other.buttonToggle, other.buttonA}) {
        ShowItem(id, false);
      }
    }
    layoutFrozen_ = true;
  } else {
    layoutFrozen_ = false;
    LayOut();
    for (int above = 0; above < index; ++above) {
      const PaneControls& other = kPaneControls[above];
      if (panes_[above].captured) {
        for (int id : {other.buttonUp, other.buttonDown, other.buttonToggle}) {
          ShowItem(id, true);
        }
      }
      ShowItem(other.display, true);
      ShowItem(other.buttonA, true);
    }
    pane.expanded = false;
  }
  ApplyOffset(index);
}

// --- Split commands ---

bool CMainDlg::ScanFinds(const Text& title) {
  for (HWND window : platform_.TopLevelWindows(kScanLimit)) {
    Text windowTitle;
    if (IsProgramMainWindow(platform_, window, &windowTitle) && !IsHostTitle(windowTitle) &&
        windowTitle == title) {
      return true;
    }
  }
  return false;
}

void CMainDlg::OnSplitStart(Message&) {
  PickedWindowTitle.clear();
  PickedProgramPath.clear();
  int paneCount = ThreePaneMode ? 3 : 2;
  for (int i = 0; i < paneCount; ++i) {
    PickedWindowTitle = ReadSetting(platform_.Files(), kPaneControls[i].titleKey);
    if (PickedWindowTitle.size() > 1 && ScanFinds(PickedWindowTitle)) {
      panes_[i].autoCapture = true;
      TogglePane(i);
      panes_[i].autoCapture = false;
    }
  }
  PickedWindowTitle.clear();
}

void CMainDlg::OnSplitSelect(Message&) {
  CVersionDlg versionDialog(platform_, GetSafeHwnd());
  versionDialog.DoModal();
  LoadPaneSettings();
}

void CMainDlg::OnUpdateNotice(Message&) {
  std::optional<UpdateNotice> notice = updateCheck_.Take();
  if (!notice || !HandleUpdateNotice(platform_, GetSafeHwnd(), *notice)) return;
  ReleaseAllPanes();
  // Result 1, as the framework's OK.
  EndDialog(kIdOk);
}

void CMainDlg::OnSplitReset(Message&) {
  if (!platform_.MessageBox(GetSafeHwnd(), kSplitResetQuestion, kAppName,
                            MessageBoxButtons::kYesNo)) {
    return;
  }
  // Every key but the split mode, in index order.
  for (int index = 0; index < kPartionMode; ++index) WriteSetting(platform_.Files(), u"", index);
  platform_.PostMessage(GetSafeHwnd(), kWmQuit);
}

void CMainDlg::OnExit(Message&) {
  // The list is taken first: minimising changes the stacking order.
  for (HWND window : platform_.TopLevelWindows(kScanLimit)) {
    Text title;
    if (IsProgramMainWindow(platform_, window, &title) && !IsHostTitle(title)) {
      platform_.ShowWindow(window, kSwMinimize);
    }
  }
  platform_.PostMessage(GetSafeHwnd(), kWmQuit);
}

}  // namespace sorvel
