#include "platform/win32/win32_platform.h"

#include <algorithm>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "platform/win32/win32.h"
#include "platform/win32/win32_download.h"

namespace sorvel {

using win32::FromWide;
using win32::P;
using win32::W;
using win32::Wide;

namespace {

constexpr DWORD kDsSetFont = 0x40;
// The window class of dialogs: "#32770" here, "Dialog" in the portable vocabulary.
constexpr wchar_t kDialogClass[] = L"#32770";
constexpr int kMaxPath = 260;

// The in-memory dialog template: DLGTEMPLATE and DLGITEMTEMPLATE records with their
// variable-length trailers, each item aligned to a 32-bit boundary.
class TemplateWriter {
 public:
  void Align() {
    while (bytes_.size() % 4 != 0) bytes_.push_back(0);
  }
  void Word(WORD value) { Append(&value, sizeof value); }
  void Dword(DWORD value) { Append(&value, sizeof value); }
  void Short(short value) { Append(&value, sizeof value); }
  void String(const char16_t* text) {
    for (const char16_t* c = text; *c != 0; ++c) Word(static_cast<WORD>(*c));
    Word(0);
  }
  const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(bytes_.data()); }

 private:
  void Append(const void* data, std::size_t size) {
    const BYTE* p = static_cast<const BYTE*>(data);
    bytes_.insert(bytes_.end(), p, p + size);
  }
  std::vector<BYTE> bytes_;
};

// Push buttons are drawn by the dialog so that the colour it answers is the colour shown:
// desktop push buttons ignore the brush of a control-colour request.
DWORD ControlStyle(const ControlTemplate& control) {
  // Controls overlap (buttons lie on the display controls): each paints only where the
  // stacking order lets it be seen.
  DWORD style = WS_CHILD | WS_CLIPSIBLINGS | control.style | (control.visible ? WS_VISIBLE : 0);
  if (control.kind == ControlKind::kPushButton) style |= BS_OWNERDRAW;
  // Not automatic: the dialog framework keeps the group, checking on each click.
  if (control.kind == ControlKind::kRadioButton) style |= BS_RADIOBUTTON;
  return style;
}

void WriteControlClass(TemplateWriter& writer, ControlKind kind) {
  switch (kind) {
    case ControlKind::kPushButton:
    case ControlKind::kRadioButton:
      writer.Word(0xFFFF);
      writer.Word(0x0080);
      return;
    case ControlKind::kStatic:
      writer.Word(0xFFFF);
      writer.Word(0x0082);
      return;
    case ControlKind::kListBox:
      writer.Word(0xFFFF);
      writer.Word(0x0083);
      return;
    case ControlKind::kProgressBar:
      writer.String(u"msctls_progress32");
      return;
  }
}

// The message with the fields of its kind taken from Win32's words.
Message ToMessage(::HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  Message m;
  m.window = P(hwnd);
  m.message = message;
  switch (message) {
    case WM_COMMAND:
      m.commandId = LOWORD(wParam);
      m.notifyCode = HIWORD(wParam);
      break;
    case WM_TIMER:
      m.timerId = static_cast<unsigned>(wParam);
      break;
    case WM_SIZE:
      m.width = LOWORD(lParam);
      m.height = HIWORD(lParam);
      break;
    case WM_ENDSESSION:
      m.sessionEnds = wParam != FALSE;
      break;
    default:
      break;
  }
  return m;
}

// What a dialog window of ours keeps: the object behind it, and one brush per colour that its
// controls are painted in, from the first request until the window is gone.
struct DialogState {
  DialogSink* sink;
  std::map<COLORREF, ::HBRUSH> brushes;

  ~DialogState() {
    for (const auto& [color, brush] : brushes) DeleteObject(brush);
  }
  ::HBRUSH Brush(COLORREF color) {
    ::HBRUSH& brush = brushes[color];
    if (brush == nullptr) brush = CreateSolidBrush(color);
    return brush;
  }
};

bool AppendMenuItems(HMENU menu, const std::vector<MenuItem>& items) {
  for (const MenuItem& item : items) {
    if (item.popup.empty()) {
      if (!AppendMenuW(menu, MF_STRING, item.command, Wide(item.text))) return false;
      continue;
    }
    HMENU popup = CreatePopupMenu();
    if (popup == nullptr || !AppendMenuItems(popup, item.popup) ||
        !AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), Wide(item.text))) {
      if (popup != nullptr) DestroyMenu(popup);
      return false;
    }
  }
  return true;
}

// The creation parameter: the state goes to the window once its initialisation begins.
struct DialogStart {
  DialogState* state;
  int icon;    // a resource id of the program; 0 for none
  HMENU menu;  // the menu bar until the window takes it; null for none
  bool adopted;
};

// A menu bar built from the menu data; null when it cannot be built.
HMENU NewMenuBar(const MenuTemplate& menu) {
  HMENU bar = CreateMenu();
  if (bar != nullptr && !AppendMenuItems(bar, menu.items)) {
    DestroyMenu(bar);
    return nullptr;
  }
  return bar;
}

DialogState* StateOf(::HWND dialog) {
  return reinterpret_cast<DialogState*>(GetWindowLongPtrW(dialog, DWLP_USER));
}

void DrawPushButton(const DRAWITEMSTRUCT& item, ::HBRUSH brush, COLORREF textColor) {
  RECT rect = item.rcItem;
  bool pressed = (item.itemState & ODS_SELECTED) != 0;
  FillRect(item.hDC, &rect, brush != nullptr ? brush : GetSysColorBrush(COLOR_BTNFACE));
  DrawEdge(item.hDC, &rect, pressed ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);
  wchar_t text[64] = {};
  GetWindowTextW(item.hwndItem, text, 64);
  SetBkMode(item.hDC, TRANSPARENT);
  SetTextColor(item.hDC, brush != nullptr ? textColor : GetSysColor(COLOR_BTNTEXT));
  if (pressed) OffsetRect(&rect, 1, 1);
  DrawTextW(item.hDC, text, -1, &rect, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  if (item.itemState & ODS_FOCUS) {
    RECT focus = item.rcItem;
    InflateRect(&focus, -3, -3);
    DrawFocusRect(item.hDC, &focus);
  }
}

INT_PTR CALLBACK DialogProc(::HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* start = reinterpret_cast<DialogStart*>(lParam);
    // The bar comes before the state: the size it takes is no news to a sink that has not yet
    // heard of the dialog. A dialog without its bar never takes the state.
    if (start->menu != nullptr) {
      if (!SetMenu(hwnd, start->menu)) return TRUE;
      start->menu = nullptr;
    }
    start->adopted = true;
    SetWindowLongPtrW(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(start->state));
    if (start->icon != 0) {
      // Each size its own image of the program's icon, not the large one shrunk for the
      // caption. Shared icons: the system frees them, not the window.
      auto icon = [&](int widthMetric, int heightMetric) {
        return reinterpret_cast<LPARAM>(
            LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(start->icon), IMAGE_ICON,
                       GetSystemMetrics(widthMetric), GetSystemMetrics(heightMetric), LR_SHARED));
      };
      SendMessageW(hwnd, WM_SETICON, ICON_BIG, icon(SM_CXICON, SM_CYICON));
      SendMessageW(hwnd, WM_SETICON, ICON_SMALL, icon(SM_CXSMICON, SM_CYSMICON));
    }
    start->state->sink->OnDialogCreated(P(hwnd));
    return TRUE;
  }
  DialogState* state = StateOf(hwnd);
  if (state == nullptr) return FALSE;  // messages before the dialog's initialisation
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, DWLP_USER, 0);
    delete state;
    return FALSE;
  }
  DialogSink* sink = state->sink;
  Message m = ToMessage(hwnd, message, wParam, lParam);
  switch (message) {
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC:
      m.controlId = GetDlgCtrlID(reinterpret_cast<::HWND>(lParam));
      sink->OnMessage(m);
      if (!m.colors) return FALSE;
      SetTextColor(reinterpret_cast<HDC>(wParam), m.colors->text);
      SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
      return reinterpret_cast<INT_PTR>(state->Brush(m.colors->background));
    case WM_DRAWITEM: {
      const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (item.CtlType != ODT_BUTTON) return FALSE;
      m.message = kWmCtlColorBtn;
      m.controlId = static_cast<int>(item.CtlID);
      sink->OnMessage(m);
      if (m.colors) {
        DrawPushButton(item, state->Brush(m.colors->background), m.colors->text);
      } else {
        DrawPushButton(item, nullptr, 0);
      }
      return TRUE;
    }
    default:
      return sink->OnMessage(m) ? TRUE : FALSE;
  }
}

}  // namespace

Win32Platform::Win32Platform() : transfers_(std::make_shared<win32::Transfers>()) {
  INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
}

Win32Platform::~Win32Platform() {
  transfers_->CancelAll();
  // Their downloads return at once; the bound is for work that is slow on its own.
  DWORD end = GetTickCount() + 5000;
  for (std::size_t first = 0; first < threads_.size(); first += MAXIMUM_WAIT_OBJECTS) {
    DWORD count =
        static_cast<DWORD>(std::min<std::size_t>(threads_.size() - first, MAXIMUM_WAIT_OBJECTS));
    LONG left = static_cast<LONG>(end - GetTickCount());
    WaitForMultipleObjects(count, threads_.data() + first, TRUE,
                           left > 0 ? static_cast<DWORD>(left) : 0);
  }
  for (void* thread : threads_) CloseHandle(thread);
}

HWND Win32Platform::FindWindow(const char16_t* className, const Text& title) {
  if (title.empty()) return nullptr;
  // FindWindowW compares titles without regard to case; keep only an exact match.
  const wchar_t* wideClass = className == nullptr                      ? nullptr
                             : Text(className) == kPortableDialogClass ? kDialogClass
                                                                       : Wide(className);
  ::HWND window = nullptr;
  while ((window = FindWindowExW(nullptr, window, wideClass, Wide(title))) != nullptr) {
    if (GetWindowText(P(window)) == title) return P(window);
  }
  return nullptr;
}

std::vector<HWND> Win32Platform::TopLevelWindows(std::size_t limit) {
  std::vector<HWND> windows;
  for (::HWND window = ::GetTopWindow(nullptr); window != nullptr && windows.size() < limit;
       window = ::GetWindow(window, GW_HWNDNEXT)) {
    windows.push_back(P(window));
  }
  return windows;
}

HWND Win32Platform::GetOwner(HWND window) {
  return P(::GetWindow(W(window), GW_OWNER));
}

bool Win32Platform::IsWindow(HWND window) {
  return ::IsWindow(W(window)) != FALSE;
}

Text Win32Platform::GetWindowText(HWND window) {
  int length = GetWindowTextLengthW(W(window));
  if (length <= 0) return Text();
  std::vector<wchar_t> buffer(static_cast<std::size_t>(length) + 1);
  int copied = GetWindowTextW(W(window), buffer.data(), length + 1);
  return Text(reinterpret_cast<const char16_t*>(buffer.data()), static_cast<std::size_t>(copied));
}

void Win32Platform::SetWindowText(HWND window, const Text& text) {
  SetWindowTextW(W(window), Wide(text));
}

Text Win32Platform::GetClassName(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(W(window), name, 256);
  return lstrcmpW(name, kDialogClass) == 0 ? Text(kPortableDialogClass) : FromWide(name);
}

bool Win32Platform::HasWindowTrait(HWND window, WindowTrait trait) {
  switch (trait) {
    case WindowTrait::kVisible:
      return ::IsWindowVisible(W(window)) != FALSE;
    case WindowTrait::kChild:
      return (GetWindowLongPtrW(W(window), GWL_STYLE) & WS_CHILD) != 0;
    case WindowTrait::kToolWindow:
      return (GetWindowLongPtrW(W(window), GWL_EXSTYLE) & WS_EX_TOOLWINDOW) != 0;
    case WindowTrait::kMinimized:
      return IsIconic(W(window)) != FALSE;
    case WindowTrait::kHasChildren:
      return ::GetWindow(W(window), GW_CHILD) != nullptr;
  }
  return false;
}

Text Win32Platform::GetWindowProgramPath(HWND window) {
  DWORD pid = 0;
  GetWindowThreadProcessId(W(window), &pid);
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process == nullptr) return Text();
  wchar_t path[kMaxPath] = {};
  DWORD size = kMaxPath;
  BOOL ok = QueryFullProcessImageNameW(process, 0, path, &size);
  CloseHandle(process);
  return ok ? FromWide(path) : Text();
}

std::uint32_t Win32Platform::GetWindowProcessId(HWND window) {
  DWORD pid = 0;
  if (GetWindowThreadProcessId(W(window), &pid) == 0) return 0;
  return pid;
}

bool Win32Platform::IsWindowResponding(HWND window, unsigned milliseconds) {
  // SMTO_BLOCK: no message sent to this thread meanwhile is dispatched, so nothing re-enters.
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(W(window), WM_NULL, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, milliseconds,
                             &result) != 0;
}

Rect Win32Platform::GetWindowRect(HWND window) {
  RECT r{};
  ::GetWindowRect(W(window), &r);
  return {r.left, r.top, r.right, r.bottom};
}

Rect Win32Platform::GetClientRect(HWND window) {
  RECT r{};
  ::GetClientRect(W(window), &r);
  return {r.left, r.top, r.right, r.bottom};
}

// SetParent, SetWindowLongPtr and MoveWindow on another process's window each wait until its
// program has taken the change; meanwhile the messages it sends this thread are handled.
bool Win32Platform::HoldWindow(HWND window, HWND holder, const Placement& placement,
                               FormerFrame* former) {
  former->bits = static_cast<std::uint32_t>(GetWindowLongPtrW(W(window), GWL_STYLE));
  // A minimised window keeps its state through a change of style: restored, it shows in the pane.
  if (IsIconic(W(window))) ::ShowWindow(W(window), SW_SHOWNOACTIVATE);
  ::SetParent(W(window), W(holder));
  SetWindowLongPtrW(W(window), GWL_STYLE, WS_VISIBLE);
  MoveWindow(window, placement, true);
  ShareInput(window, true);
  return ::GetWindow(W(holder), GW_CHILD) == W(window);
}

void Win32Platform::GiveBackWindow(HWND window, const Rect& rect, const FormerFrame& former,
                                   bool programAnswers) {
  // Parted first: while its program hangs, a focus change here would wait for it.
  ShareInput(window, false);
  if (!programAnswers) {
    ReturnWindowWithoutWaiting(window, rect, former.bits);
    return;
  }
  // The style goes first: a window without a frame may not be sized beyond the screen. Moved
  // while still a child, it lands at the same numbers on the screen once detached.
  SetWindowLongPtrW(W(window), GWL_STYLE, static_cast<LONG_PTR>(former.bits));
  MoveWindow(window, {rect.left, rect.top, rect.Width(), rect.Height()}, true);
  ::SetParent(W(window), nullptr);
}

namespace {

struct WindowReturn {
  ::HWND window;
  RECT rect;
  DWORD style;
};

// Restyling, re-parenting and moving another process's window wait until its program takes
// the change; for a hung program that is until it answers again. The style goes first, while
// the window is still a child, so that it is taken as given.
DWORD WINAPI ReturnWindow(void* parameter) {
  std::unique_ptr<WindowReturn> job(static_cast<WindowReturn*>(parameter));
  SetWindowLongPtrW(job->window, GWL_STYLE, static_cast<LONG_PTR>(job->style));
  ::SetParent(job->window, nullptr);
  const RECT& r = job->rect;
  ::SetWindowPos(job->window, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  return 0;
}

}  // namespace

void Win32Platform::ReturnWindowWithoutWaiting(HWND window, const Rect& rect, std::uint32_t style) {
  // The waiting calls go to a thread of their own that ends when they are done. The program's
  // handling of the re-parenting sends messages back to this thread, which keeps dispatching.
  auto job = std::make_unique<WindowReturn>(
      WindowReturn{W(window), {rect.left, rect.top, rect.right, rect.bottom}, style});
  HANDLE thread = CreateThread(nullptr, 0, ReturnWindow, job.get(), 0, nullptr);
  if (thread == nullptr) {
    ReturnWindow(job.release());  // no thread to be had: give it back all the same, waiting
    return;
  }
  job.release();
  returning_.push_back(thread);
}

void Win32Platform::ShareInput(HWND window, bool shared) {
  DWORD thread = GetWindowThreadProcessId(W(window), nullptr);
  if (thread != 0 && thread != GetCurrentThreadId()) {
    AttachThreadInput(GetCurrentThreadId(), thread, shared ? TRUE : FALSE);
  }
}

bool Win32Platform::FinishReturningWindows(unsigned milliseconds) {
  DWORD end = GetTickCount() + milliseconds;
  while (!returning_.empty()) {
    // Threads that are done are let go; the others are waited for, with sent messages handled.
    for (auto it = returning_.begin(); it != returning_.end();) {
      if (WaitForSingleObject(*it, 0) == WAIT_TIMEOUT) {
        ++it;
        continue;
      }
      CloseHandle(*it);
      it = returning_.erase(it);
    }
    if (returning_.empty()) break;
    DWORD now = GetTickCount();
    if (static_cast<LONG>(end - now) <= 0) return false;
    DWORD count =
        static_cast<DWORD>(std::min<std::size_t>(returning_.size(), MAXIMUM_WAIT_OBJECTS - 1));
    MsgWaitForMultipleObjects(count, returning_.data(), FALSE, end - now, QS_SENDMESSAGE);
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
  return true;
}

void Win32Platform::MoveWindow(HWND window, const Placement& placement, bool repaint) {
  ::MoveWindow(W(window), placement.x, placement.y, placement.width, placement.height,
               repaint ? TRUE : FALSE);
}

void Win32Platform::MoveTopmost(HWND window, int x, int y) {
  // HWND_TOPMOST, spelled out: the macro's cast would name the portable handle type here.
  const ::HWND topmost = reinterpret_cast<::HWND>(static_cast<INT_PTR>(-1));
  ::SetWindowPos(W(window), topmost, x, y, 0, 0, SWP_NOSIZE);
}

void Win32Platform::ShowWindow(HWND window, ShowCommand command) {
  // ShowWindow waits for the owning thread to take the change; a hung program would hold the
  // caller for as long as it hangs.
  if (GetWindowThreadProcessId(W(window), nullptr) != GetCurrentThreadId()) {
    ShowWindowAsync(W(window), command);
  } else {
    ::ShowWindow(W(window), command);
  }
}

bool Win32Platform::SetForegroundWindow(HWND window) {
  return ::SetForegroundWindow(W(window)) != FALSE;
}

void Win32Platform::InvalidateWindow(HWND window, bool erase) {
  InvalidateRect(W(window), nullptr, erase ? TRUE : FALSE);
}

Screen Win32Platform::GetScreen() {
  RECT r{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &r, 0);
  return {::GetSystemMetrics(SM_CXSCREEN),
          ::GetSystemMetrics(SM_CYSCREEN),
          {r.left, r.top, r.right, r.bottom}};
}

HWND Win32Platform::CreateDialogWindow(const DialogTemplate& dialogTemplate, HWND owner,
                                       DialogSink* sink) {
  TemplateWriter writer;
  writer.Dword(dialogTemplate.style | kDsSetFont);
  writer.Dword(0);
  writer.Word(static_cast<WORD>(dialogTemplate.controls.size()));
  writer.Short(0);
  writer.Short(0);
  writer.Short(static_cast<short>(dialogTemplate.cx));
  writer.Short(static_cast<short>(dialogTemplate.cy));
  writer.Word(0);  // no menu resource: the bar is set at initialisation
  writer.Word(0);  // the standard dialog class
  writer.String(dialogTemplate.title);
  writer.Word(static_cast<WORD>(dialogTemplate.fontPoints));
  writer.String(dialogTemplate.fontName);
  for (const ControlTemplate& control : dialogTemplate.controls) {
    writer.Align();
    writer.Dword(ControlStyle(control));
    writer.Dword(0);
    writer.Short(static_cast<short>(control.x));
    writer.Short(static_cast<short>(control.y));
    writer.Short(static_cast<short>(control.cx));
    writer.Short(static_cast<short>(control.cy));
    writer.Word(static_cast<WORD>(control.id));
    WriteControlClass(writer, control.kind);
    writer.String(control.text);
    writer.Word(0);  // no creation data
  }
  HMENU bar = nullptr;
  if (dialogTemplate.menu != nullptr && (bar = NewMenuBar(*dialogTemplate.menu)) == nullptr) {
    return nullptr;
  }
  DialogStart start{new DialogState{sink, {}}, dialogTemplate.icon, bar, false};
  ::HWND dialog = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), writer.Get(), W(owner),
                                             DialogProc, reinterpret_cast<LPARAM>(&start));
  if (start.menu != nullptr) DestroyMenu(start.menu);
  // A window that never began its initialisation, or could not take its bar, never took the
  // state.
  if (!start.adopted) {
    delete start.state;
    if (dialog != nullptr) ::DestroyWindow(dialog);
    return nullptr;
  }
  return P(dialog);
}

bool Win32Platform::RunModalLoop(HWND dialog, HWND owner, DialogSink* sink) {
  if (owner != nullptr) EnableWindow(W(owner), FALSE);
  modal_.push_back(sink);
  bool quit = false;
  MSG msg;
  while (!sink->ModalRunEnded()) {
    if (GetMessageW(&msg, nullptr, 0, 0) <= 0) {
      // Posted again for the loops outside this one: the quit ends the program, not one run.
      PostQuitMessage(static_cast<int>(msg.wParam));
      quit = true;
      break;
    }
    if (sink->PreTranslateMessage(ToMessage(msg.hwnd, msg.message, msg.wParam, msg.lParam))) {
      continue;
    }
    if (IsDialogMessageW(W(dialog), &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  modal_.pop_back();
  if (owner != nullptr) EnableWindow(W(owner), TRUE);
  return !quit;
}

void Win32Platform::DestroyWindow(HWND window) {
  ::DestroyWindow(W(window));
}

HWND Win32Platform::GetDlgItem(HWND dialog, int id) {
  return P(::GetDlgItem(W(dialog), id));
}

void Win32Platform::CheckButton(HWND button, bool checked) {
  SendMessageW(W(button), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void Win32Platform::SetListItems(HWND list, const std::vector<Text>& items) {
  // The list is made without LBS_SORT: each item lands at the end.
  SendMessageW(W(list), LB_RESETCONTENT, 0, 0);
  for (const Text& item : items) {
    SendMessageW(W(list), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(item)));
  }
}

int Win32Platform::GetListSelection(HWND list) {
  return static_cast<int>(SendMessageW(W(list), LB_GETCURSEL, 0, 0));
}

void Win32Platform::SetProgress(HWND bar, int percent) {
  SendMessageW(W(bar), PBM_SETPOS, static_cast<WPARAM>(percent), 0);
}

bool Win32Platform::MessageBox(HWND owner, const Text& text, const Text& caption,
                               MessageBoxButtons buttons) {
  int answer = MessageBoxW(W(owner), Wide(text), Wide(caption),
                           buttons == MessageBoxButtons::kYesNo ? MB_YESNO : MB_OK);
  return answer == IDOK || answer == IDYES;
}

void Win32Platform::PostMessage(HWND window, std::uint32_t message) {
  PostMessageW(W(window), message, 0, 0);
}

void Win32Platform::SetTimer(HWND window, unsigned id, unsigned milliseconds) {
  ::SetTimer(W(window), id, milliseconds, nullptr);
}

void Win32Platform::KillTimer(HWND window, unsigned id) {
  ::KillTimer(W(window), id);
}

Text Win32Platform::GetModuleFileName() {
  wchar_t path[kMaxPath] = {};
  DWORD length = GetModuleFileNameW(nullptr, path, kMaxPath);
  if (length == 0 || length >= kMaxPath) return Text();
  return FromWide(path);
}

std::optional<std::uint64_t> Win32Platform::GetFileVersion(const Text& path) {
  DWORD unused = 0;
  DWORD size = GetFileVersionInfoSizeW(Wide(path), &unused);
  if (size == 0) return std::nullopt;
  std::vector<BYTE> data(size);
  if (!GetFileVersionInfoW(Wide(path), 0, size, data.data())) return std::nullopt;
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(data.data(), L"\\", &value, &length) || value == nullptr ||
      length < sizeof(VS_FIXEDFILEINFO)) {
    return std::nullopt;
  }
  const auto* info = static_cast<const VS_FIXEDFILEINFO*>(value);
  return (std::uint64_t{info->dwFileVersionMS} << 32) | info->dwFileVersionLS;
}

bool Win32Platform::CreateProcess(const Text& path) {
  if (path.empty()) return false;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(Wide(path), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

void Win32Platform::Sleep(unsigned milliseconds) {
  ::Sleep(milliseconds);
}

bool Win32Platform::ClaimInstanceName(const Text& name) {
  // A named mutex whose handle stays open for the life of the process: its existence is the
  // claim, not its ownership.
  SetLastError(ERROR_SUCCESS);
  HANDLE mutex = CreateMutexW(nullptr, FALSE, Wide(name));
  return mutex == nullptr || GetLastError() != ERROR_ALREADY_EXISTS;
}

bool Win32Platform::InstanceNameHeld(const Text& name) {
  HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, Wide(name));
  if (mutex == nullptr) return false;
  CloseHandle(mutex);
  return true;
}

bool Win32Platform::ShellExecute(HWND owner, const Text& file, const Text& parameters) {
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  // The caller reports a failure itself; the shell shows no message of its own.
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  info.hwnd = W(owner);
  info.lpFile = Wide(file);
  info.lpParameters = Wide(parameters);
  info.nShow = SW_SHOWNORMAL;
  if (!ShellExecuteExW(&info)) return false;
  if (info.hProcess != nullptr) CloseHandle(info.hProcess);
  return true;
}

namespace {

// Messages taken from the queue while the thread waits for a transfer go where the modal loop
// sends them: the pre-translation and the keyboard handling of the dialog they belong to.
void DispatchQueuedMessage(MSG& msg) {
  ::HWND root = msg.hwnd != nullptr ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
  if (root != nullptr &&
      GetWindowLongPtrW(root, DWLP_DLGPROC) == reinterpret_cast<LONG_PTR>(DialogProc)) {
    DialogState* state = StateOf(root);
    if (state != nullptr && state->sink->PreTranslateMessage(
                                ToMessage(msg.hwnd, msg.message, msg.wParam, msg.lParam))) {
      return;
    }
    if (IsDialogMessageW(root, &msg)) return;
  }
  TranslateMessage(&msg);
  DispatchMessageW(&msg);
}

// One download on a thread of its own; shared with that thread, which may outlive the wait.
struct TransferJob {
  template <typename... Target>
  explicit TransferJob(Target&&... target) : transfer(std::forward<Target>(target)...) {
    pieces = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    transfer.SignalPiecesTo(pieces);
  }
  ~TransferJob() {
    if (pieces != nullptr) CloseHandle(pieces);
  }
  win32::Transfer transfer;
  std::shared_ptr<win32::Transfers> transfers;
  HANDLE pieces;
  std::int32_t result = 0;
};

DWORD WINAPI RunTransfer(void* parameter) {
  std::unique_ptr<std::shared_ptr<TransferJob>> job(
      static_cast<std::shared_ptr<TransferJob>*>(parameter));
  (*job)->result = (*job)->transfer.Run((*job)->transfers);
  return 0;
}

DWORD WINAPI RunWorker(void* parameter) {
  std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()>*>(parameter));
  (*work)();
  return 0;
}

std::int32_t LastErrorResult() {
  DWORD error = GetLastError();
  return error == ERROR_SUCCESS ? static_cast<std::int32_t>(E_FAIL)
                                : static_cast<std::int32_t>(HRESULT_FROM_WIN32(error));
}

// Runs the transfer on a thread of its own and waits for it, reporting progress and, when
// `dispatch` is set, dispatching this thread's messages. The wait ends early, leaving the thread
// to finish alone, on a cancel, a quit message (posted again), the end of the modal run `run`
// (its dialog was closed), a time without data or `totalMilliseconds` in all: a read blocked in
// the library need not return soon even when its connection is closed.
std::int32_t AwaitTransfer(const std::shared_ptr<TransferJob>& job, bool dispatch,
                           const DownloadProgress& progress, DialogSink* run,
                           unsigned totalMilliseconds) {
  if (job->pieces == nullptr) return LastErrorResult();
  auto* shared = new std::shared_ptr<TransferJob>(job);
  HANDLE thread = CreateThread(nullptr, 0, RunTransfer, shared, 0, nullptr);
  if (thread == nullptr) {
    delete shared;
    return LastErrorResult();
  }
  auto giveUp = [&](std::int32_t result) {
    job->transfer.Cancel();
    CloseHandle(thread);
    return result;
  };

  // Whatever arrived since the last report; false when nothing did.
  auto report = [&] {
    std::vector<std::uint64_t> counts = job->transfer.TakeNews();
    if (progress) {
      for (std::uint64_t received : counts) progress(received, job->transfer.Total());
    }
    return !counts.empty();
  };
  const ULONGLONG start = GetTickCount64();
  ULONGLONG news = start;
  HANDLE handles[2] = {thread, job->pieces};
  for (;;) {
    // Until the earlier of the two bounds.
    const ULONGLONG now = GetTickCount64();
    const ULONGLONG stall = news + win32::kTransferTimeoutMilliseconds;
    const ULONGLONG end = std::min<ULONGLONG>(stall, start + totalMilliseconds);
    DWORD timeout = end <= now ? 0 : static_cast<DWORD>(end - now);
    DWORD wait = MsgWaitForMultipleObjectsEx(2, handles, timeout, dispatch ? QS_ALLINPUT : 0,
                                             dispatch ? MWMO_INPUTAVAILABLE : 0);
    if (wait == WAIT_OBJECT_0 || wait == WAIT_FAILED) break;
    if (report()) news = GetTickCount64();
    if (job->transfer.Cancelled()) return giveUp(win32::kTransferCancelled);
    if (GetTickCount64() - news >= win32::kTransferTimeoutMilliseconds ||
        GetTickCount64() - start >= totalMilliseconds) {
      return giveUp(win32::kTransferTimedOut);
    }
    if (!dispatch) continue;
    // Messages every round, also while pieces arrive faster than they are reported.
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(msg.wParam));
        return giveUp(win32::kTransferCancelled);
      }
      DispatchQueuedMessage(msg);
      if (run != nullptr && run->ModalRunEnded()) return giveUp(win32::kTransferCancelled);
    }
  }
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  report();
  return job->result;
}

}  // namespace

std::int32_t Win32Platform::DownloadToFile(const Text& url, const Text& path, std::uint64_t limit,
                                           const DownloadProgress& progress) {
  return DownloadToFile(url, path, limit, progress, win32::kFileTransferLimitMilliseconds);
}

std::int32_t Win32Platform::DownloadToFile(const Text& url, const Text& path, std::uint64_t limit,
                                           const DownloadProgress& progress,
                                           unsigned totalMilliseconds) {
  auto job = std::make_shared<TransferJob>(url, path, limit);
  job->transfers = transfers_;
  // The transfer belongs to the modal run it dispatches for: closing that dialog ends it.
  DialogSink* run = modal_.empty() ? nullptr : modal_.back();
  return AwaitTransfer(job, true, progress, run, totalMilliseconds);
}

std::int32_t Win32Platform::DownloadToMemory(const Text& url, std::size_t limit,
                                             std::string* body) {
  return DownloadToMemory(url, limit, body, win32::kMemoryTransferLimitMilliseconds);
}

std::int32_t Win32Platform::DownloadToMemory(const Text& url, std::size_t limit, std::string* body,
                                             unsigned totalMilliseconds) {
  auto job = std::make_shared<TransferJob>(url, limit);
  job->transfers = transfers_;
  std::int32_t result = AwaitTransfer(job, false, nullptr, nullptr, totalMilliseconds);
  if (result >= 0) *body = std::move(job->transfer.Body());
  return result;
}

bool Win32Platform::StartWorker(std::function<void()> work) {
  auto* job = new std::function<void()>(std::move(work));
  HANDLE thread = CreateThread(nullptr, 0, RunWorker, job, 0, nullptr);
  if (thread == nullptr) {
    delete job;
    return false;
  }
  KeepThread(thread);
  return true;
}

void Win32Platform::KeepThread(void* thread) {
  // Threads that have ended are let go.
  threads_.erase(std::remove_if(threads_.begin(), threads_.end(),
                                [](void* kept) {
                                  if (WaitForSingleObject(kept, 0) != WAIT_OBJECT_0) return false;
                                  CloseHandle(kept);
                                  return true;
                                }),
                 threads_.end());
  threads_.push_back(thread);
}

namespace {

void (*crashHandler)(void*) = nullptr;
void* crashContext = nullptr;
LONG crashHandlerRuns = 0;

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS*) {
  // Once only, even when the handler itself faults or several threads fault together.
  if (crashHandler != nullptr && InterlockedExchange(&crashHandlerRuns, 1) == 0) {
    crashHandler(crashContext);
  }
  return EXCEPTION_CONTINUE_SEARCH;  // the process then ends as it would have
}

}  // namespace

void Win32Platform::SetCrashHandler(void (*handler)(void* context), void* context) {
  crashHandler = handler;
  crashContext = context;
  SetUnhandledExceptionFilter(handler != nullptr ? OnUnhandledException : nullptr);
}

}  // namespace sorvel
