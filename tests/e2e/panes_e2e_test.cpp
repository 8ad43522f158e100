// The panes under Wine: the real host takes real programs' windows (our probes and Wine's
// notepad) into its panes through its own dialogs, moves them, and gives them back whole however
// it ends. The test program drives the host as a user would: it taps buttons, chooses from the
// picker's list, answers message boxes and picks menu commands.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "host/resources.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/same_rect.h"

namespace {

using e2e::Process;
// The host's menu commands and the controls of its dialogs.
using sorvel::kIdDisplay1, sorvel::kIdDisplay2;
using sorvel::kIdExit, sorvel::kIdSplitStart, sorvel::kIdSplitReset, sorvel::kIdSplitSelect;
using sorvel::kIdPickerList, sorvel::kIdPickerClose, sorvel::kIdPickerApply;
using sorvel::kIdVersionOk, sorvel::kIdVersionLine, sorvel::kIdThreeWay, sorvel::kIdTwoWay;

constexpr DWORD kStartTimeout = 15000;
constexpr DWORD kStepTimeout = 5000;
// The probe stops answering for wParam milliseconds on this message; its edit control.
constexpr UINT kProbeHang = WM_APP + 1;
constexpr int kProbeEdit = 100;
constexpr wchar_t kEmptyLabel[] = L"마지막 작동 파일명:";
constexpr wchar_t kNotResponding[] = L"프로그램이 응답하지 않습니다.";
constexpr wchar_t kResetQuestion[] =
    L"이전에 실행한 목록을 초기화하기 위해서는 프로그램을 다시 실행해야 합니다. 종료하시겠습니까?";
// The nine keys that split reset empties; the tenth, the split mode, stays.
constexpr const wchar_t* kResetKeys[9] = {L"FileName1",     L"FileName2",     L"PositionTop1",
                                          L"PositionTop2",  L"FileName3",     L"PositionTop3",
                                          L"FileFullPath1", L"FileFullPath2", L"FileFullPath3"};

struct PaneIds {
  int a, up, down, toggle, display;
};
constexpr PaneIds kPanes[3] = {
    {sorvel::kIdButtonA1, sorvel::kIdUp1, sorvel::kIdDown1, sorvel::kIdToggle1, kIdDisplay1},
    {sorvel::kIdButtonA2, sorvel::kIdUp2, sorvel::kIdDown2, sorvel::kIdToggle2, kIdDisplay2},
    {sorvel::kIdButtonA3, sorvel::kIdUp3, sorvel::kIdDown3, sorvel::kIdToggle3,
     sorvel::kIdDisplay3}};

RECT Rect(int left, int top, int width, int height) {
  return RECT{left, top, left + width, top + height};
}

void Click(HWND button) {
  PostMessageW(button, BM_CLICK, 0, 0);
}

std::wstring Key(const wchar_t* name, int pane) {
  return name + std::to_wstring(pane + 1);
}

// The value of `key` in the text of a settings file; empty when absent.
std::wstring IniValue(const std::wstring& text, const std::wstring& key) {
  std::wstring prefix = key + L"=";
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find(L"\r\n", at);
    if (end == std::wstring::npos) end = text.size();
    if (text.compare(at, prefix.size(), prefix) == 0) {
      return text.substr(at + prefix.size(), end - at - prefix.size());
    }
    at = end + 2;
  }
  return L"";
}

// The texts of a dialog's static controls, one after the other.
std::wstring StaticTexts(HWND dialog) {
  std::wstring texts;
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    wchar_t name[32] = {};
    GetClassNameW(child, name, 32);
    if (lstrcmpiW(name, L"Static") == 0) texts += e2e::TextOf(child);
  }
  return texts;
}

// An edit control's text, asked of its program.
std::wstring EditText(HWND edit) {
  wchar_t text[256] = {};
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(edit, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000,
                      &ignored);
  return text;
}

std::vector<std::wstring> ListItems(HWND list) {
  std::vector<std::wstring> items;
  LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    wchar_t text[260] = {};
    if (SendMessageW(list, LB_GETTEXTLEN, i, 0) < 260) {
      SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
    }
    items.push_back(text);
  }
  return items;
}

// Whether the threads of two windows share one input state (activation, focus, keyboard): each
// then reports the same active window.
bool InputShared(HWND a, HWND b) {
  GUITHREADINFO first{}, second{};
  first.cbSize = second.cbSize = sizeof(GUITHREADINFO);
  return GetGUIThreadInfo(GetWindowThreadProcessId(a, nullptr), &first) &&
         GetGUIThreadInfo(GetWindowThreadProcessId(b, nullptr), &second) &&
         first.hwndActive != nullptr && first.hwndActive == second.hwndActive;
}

bool IsTopLevel(HWND window) {
  return GetAncestor(window, GA_PARENT) == GetDesktopWindow();
}

// A foreign program started for one test, with the window the host is to hold and where that
// window stood before.
struct Foreign {
  std::wstring path;
  std::wstring title;
  std::unique_ptr<Process> process;
  HWND window = nullptr;  // the window that goes into the pane
  RECT former{};
  LONG formerStyle = 0;

  // Notes where the window stands now, as the host will find it.
  void Remember() {
    GetWindowRect(window, &former);
    formerStyle = GetWindowLongW(window, GWL_STYLE);
  }
};

// A copy of probe.exe named `name`.exe in `folder`, its window moved to `at` so that every probe
// of a test has a former place of its own.
Foreign StartProbe(const std::wstring& folder, const std::wstring& name, POINT at) {
  Foreign probe;
  probe.title = name;
  probe.path = folder + L"\\" + name + L".exe";
  if (!e2e::CopyBesideMe(L"probe.exe", folder, (name + L".exe").c_str())) return probe;
  probe.process = std::make_unique<Process>(probe.path);
  // Found once shown: the style then holds WS_VISIBLE.
  probe.window = e2e::WaitForWindow(
      [&]() -> HWND {
        HWND window = FindWindowW(L"SorvelProbe", name.c_str());
        return IsWindowVisible(window) ? window : nullptr;
      },
      kStartTimeout);
  if (probe.window != nullptr) {
    SetWindowPos(probe.window, nullptr, at.x, at.y, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    probe.Remember();
  }
  return probe;
}

// The real host, installed in a folder of its own with its settings file.
class Host {
 public:
  explicit Host(const std::wstring& settings = L"", const std::wstring& program = L"Sorvel.exe")
      : folder_(e2e::MakeTestFolder()), program_(program) {
    e2e::CopyBesideMe(program.c_str(), folder_, program.c_str());
    if (!settings.empty()) e2e::WriteUtf16File(SettingsFile(), settings);
  }

  // Starts the host (again) from its folder; false when its main dialog does not appear.
  bool Start() {
    process_ = std::make_unique<Process>(folder_ + L"\\" + program_);
    DWORD pid = process_->Id();
    dialog_ = e2e::WaitForWindow(
        [pid]() -> HWND {
          for (HWND window : e2e::WindowsOf(pid, L"#32770")) {
            if (GetDlgItem(window, kIdDisplay1) != nullptr) return window;
          }
          return nullptr;
        },
        kStartTimeout);
    if (dialog_ == nullptr) return false;
    GetClientRect(dialog_, &client_);
    // Past the launch timer (500 ms, then 100 ms per pane): a program picked before it fires
    // would be started a second time.
    e2e::PumpFor(900);
    return true;
  }
  DWORD WaitForExit() { return process_->WaitForExit(kStartTimeout); }
  bool Running() { return process_->Running(); }

  const std::wstring& Folder() const { return folder_; }
  std::wstring SettingsFile() const {
    return folder_ + L"\\" + program_.substr(0, program_.rfind(L'.')) + L".ini";
  }
  std::wstring Settings() const { return e2e::ReadUtf16File(SettingsFile()); }
  std::wstring Setting(const std::wstring& key) const { return IniValue(Settings(), key); }

  HWND Dialog() const { return dialog_; }
  HWND Item(int id) const { return GetDlgItem(dialog_, id); }
  int Width() const { return client_.right; }
  int Height() const { return client_.bottom; }
  void Command(WPARAM id) { PostMessageW(dialog_, WM_COMMAND, id, 0); }
  void Tap(int id) { Click(Item(id)); }

  // The host's other dialogs: the first of its visible dialog windows that `match` accepts.
  HWND OwnDialog(const std::function<bool(HWND)>& match) {
    for (HWND window : e2e::WindowsOf(process_->Id(), L"#32770")) {
      if (window != dialog_ && match(window)) return window;
    }
    return nullptr;
  }
  HWND WaitForOwnDialog(const std::function<bool(HWND)>& match) {
    return e2e::WaitForWindow([&] { return OwnDialog(match); }, kStepTimeout);
  }
  HWND WaitForPicker() {
    return WaitForOwnDialog([](HWND w) { return e2e::TextOf(w) == L"Dialog"; });
  }
  HWND WaitForMessageBox() {
    return WaitForOwnDialog([](HWND w) { return e2e::TextOf(w) == L"Sorvel"; });
  }
  HWND WaitForVersionDialog() {
    return WaitForOwnDialog([](HWND w) { return GetDlgItem(w, kIdVersionOk) != nullptr; });
  }

  // Taps pane `pane`'s A button and applies `title` in the picker: by a double tap on the item,
  // or by selecting it and tapping 적용, which shows only after a selection.
  ::testing::AssertionResult Pick(int pane, const std::wstring& title, bool doubleTap,
                                  const wchar_t* screenshot = nullptr) {
    Tap(kPanes[pane].a);
    HWND picker = WaitForPicker();
    if (picker == nullptr) return ::testing::AssertionFailure() << "no picker";
    HWND list = GetDlgItem(picker, kIdPickerList);
    LRESULT index = SendMessageW(list, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                 reinterpret_cast<LPARAM>(title.c_str()));
    if (index == LB_ERR) {
      return ::testing::AssertionFailure() << e2e::Narrow(title) << " is not listed";
    }
    SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
    if (screenshot != nullptr) e2e::SaveScreenshot(screenshot);
    LPARAM from = reinterpret_cast<LPARAM>(list);
    if (doubleTap) {
      applied_ = GetTickCount();
      PostMessageW(picker, WM_COMMAND, MAKEWPARAM(kIdPickerList, LBN_DBLCLK), from);
    } else {
      HWND apply = GetDlgItem(picker, kIdPickerApply);
      if (IsWindowVisible(apply)) {
        return ::testing::AssertionFailure() << "적용 shows before a selection";
      }
      PostMessageW(picker, WM_COMMAND, MAKEWPARAM(kIdPickerList, LBN_SELCHANGE), from);
      if (!e2e::WaitFor([&] { return IsWindowVisible(apply) != FALSE; }, kStepTimeout)) {
        return ::testing::AssertionFailure() << "적용 does not show after a selection";
      }
      applied_ = GetTickCount();
      Click(apply);
    }
    if (!e2e::WaitFor([&] { return !IsWindow(picker); }, kStepTimeout)) {
      return ::testing::AssertionFailure() << "the picker stays open";
    }
    return ::testing::AssertionSuccess();
  }
  // When the last Pick applied its choice (GetTickCount).
  DWORD AppliedAt() const { return applied_; }

  // Picks `foreign` for `pane` and waits until the pane holds its window.
  ::testing::AssertionResult Hold(int pane, const Foreign& foreign, bool doubleTap = true,
                                  const wchar_t* screenshot = nullptr) {
    if (foreign.window == nullptr) {
      return ::testing::AssertionFailure() << e2e::Narrow(foreign.title) << " did not start";
    }
    ::testing::AssertionResult picked = Pick(pane, foreign.title, doubleTap, screenshot);
    if (!picked) return picked;
    if (!WaitUntilHolds(pane, foreign.window)) {
      return ::testing::AssertionFailure()
             << "pane " << pane + 1 << " does not hold " << e2e::Narrow(foreign.title);
    }
    return ::testing::AssertionSuccess();
  }
  // Taps the A button of a holding pane and waits until the pane is empty.
  ::testing::AssertionResult Release(int pane) {
    Tap(kPanes[pane].a);
    if (WaitUntilEmpty(pane)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "pane " << pane + 1 << " stays holding";
  }

  // The capture is complete: its last step shows the small buttons.
  bool Holds(int pane, HWND window) const {
    return GetAncestor(window, GA_PARENT) == Item(kPanes[pane].display) &&
           IsWindowVisible(Item(kPanes[pane].toggle));
  }
  bool WaitUntilHolds(int pane, HWND window) {
    return e2e::WaitFor([&] { return Holds(pane, window); }, kStepTimeout);
  }
  bool WaitUntilEmpty(int pane) {
    return e2e::WaitFor(
        [&] {
          return e2e::TextOf(Item(kPanes[pane].a)) == L"A" &&
                 !IsWindowVisible(Item(kPanes[pane].toggle));
        },
        kStepTimeout);
  }

  // The pane holds `window` as a plain visible child at its placement rectangle, with the
  // holding pane's controls. The rectangle's height is H plus the offset loaded at start-up;
  // nudging changes only its top.
  void ExpectHolding(int pane, HWND window, int offset = 0, int loadedOffset = 0) const {
    SCOPED_TRACE(testing::Message() << "pane " << pane + 1);
    const PaneIds& ids = kPanes[pane];
    EXPECT_EQ(GetAncestor(window, GA_PARENT), Item(ids.display));
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE)), DWORD{WS_VISIBLE});
    EXPECT_TRUE(
        SameRect(e2e::RectInParent(window), Rect(0, offset, Width(), Height() + loadedOffset)));
    EXPECT_EQ(e2e::TextOf(Item(ids.a)), L"C");
    EXPECT_EQ(e2e::TextOf(Item(ids.display)), L"");
    for (int id : {ids.up, ids.down, ids.toggle}) EXPECT_TRUE(IsWindowVisible(Item(id))) << id;
  }

  // The pane is empty and labelled with its stored title.
  void ExpectEmpty(int pane, const std::wstring& title) const {
    SCOPED_TRACE(testing::Message() << "pane " << pane + 1);
    const PaneIds& ids = kPanes[pane];
    EXPECT_EQ(e2e::TextOf(Item(ids.a)), L"A");
    EXPECT_EQ(e2e::TextOf(Item(ids.display)), kEmptyLabel + title);
    for (int id : {ids.up, ids.down, ids.toggle}) EXPECT_FALSE(IsWindowVisible(Item(id))) << id;
  }

 private:
  std::wstring folder_;
  std::wstring program_;
  std::unique_ptr<Process> process_;
  HWND dialog_ = nullptr;
  RECT client_{};
  DWORD applied_ = 0;
};

// The window is a top-level window again, where and as it was before the capture (waited for
// up to `milliseconds`).
void ExpectGivenBack(const Foreign& foreign, DWORD milliseconds = kStepTimeout) {
  SCOPED_TRACE(e2e::Narrow(foreign.title));
  RECT now{};
  e2e::WaitFor(
      [&] {
        GetWindowRect(foreign.window, &now);
        return IsTopLevel(foreign.window) && SameRect(now, foreign.former) &&
               GetWindowLongW(foreign.window, GWL_STYLE) == foreign.formerStyle;
      },
      milliseconds);
  EXPECT_TRUE(IsTopLevel(foreign.window));
  EXPECT_TRUE(SameRect(now, foreign.former));
  LONG style = GetWindowLongW(foreign.window, GWL_STYLE);
  EXPECT_EQ(style, foreign.formerStyle);
  EXPECT_EQ(style & WS_CAPTION, foreign.formerStyle & WS_CAPTION) << "the caption is lost";
  EXPECT_TRUE(IsWindowVisible(foreign.window));
}

// --- Picking and holding ---

TEST(PanesPick, PickerListsTheProgramsAndEachPaneTakesAndGivesBackItsChoice) {
  Host host;
  ASSERT_TRUE(host.Start());
  Foreign probes[3] = {StartProbe(host.Folder(), L"probe_c", {12, 30}),
                       StartProbe(host.Folder(), L"probe_a", {25, 60}),
                       StartProbe(host.Folder(), L"probe_b", {3, 95})};
  for (const Foreign& probe : probes) ASSERT_NE(probe.window, nullptr);

  // The list: our programs, sorted; never the host itself.
  host.Tap(kPanes[0].a);
  HWND picker = host.WaitForPicker();
  ASSERT_NE(picker, nullptr);
  std::vector<std::wstring> items = ListItems(GetDlgItem(picker, kIdPickerList));
  std::vector<std::wstring> probeItems;
  for (const std::wstring& item : items) {
    EXPECT_NE(item, L"Sorvel");
    EXPECT_NE(item, L"Tavrin");
    if (item.rfind(L"probe_", 0) == 0) probeItems.push_back(item);
  }
  EXPECT_EQ(probeItems, (std::vector<std::wstring>{L"probe_a", L"probe_b", L"probe_c"}));
  // 닫기: nothing is captured, nothing written.
  Click(GetDlgItem(picker, kIdPickerClose));
  ASSERT_TRUE(e2e::WaitFor([&] { return !IsWindow(picker); }, kStepTimeout));
  e2e::PumpFor(200);
  EXPECT_EQ(e2e::TextOf(host.Item(kPanes[0].a)), L"A");
  EXPECT_TRUE(host.Settings().empty());

  for (int pane = 0; pane < 3; ++pane) {
    SCOPED_TRACE(testing::Message() << "pane " << pane + 1);
    Foreign& probe = probes[pane];
    ASSERT_TRUE(host.Hold(pane, probe, pane != 1, pane == 0 ? L"picker.bmp" : nullptr));
    host.ExpectHolding(pane, probe.window);
    EXPECT_EQ(host.Setting(Key(L"FileName", pane)), probe.title);
    EXPECT_EQ(host.Setting(Key(L"FileFullPath", pane)), probe.path);
  }
  RecordProperty("three_panes", e2e::Narrow(e2e::SaveScreenshot(L"three-panes-held.bmp")));

  // Released in another order than captured, each at its own former place.
  for (int pane : {1, 0, 2}) {
    SCOPED_TRACE(testing::Message() << "pane " << pane + 1);
    ASSERT_TRUE(host.Release(pane));
    ExpectGivenBack(probes[pane]);
    host.ExpectEmpty(pane, probes[pane].title);
  }
  EXPECT_TRUE(host.Running());
}

TEST(PanesPick, ProgramWhoseInterfaceIsAnOwnedDialogIsHeldByThatDialog) {
  Host host;
  ASSERT_TRUE(host.Start());
  std::wstring path = host.Folder() + L"\\dprobe.exe";
  ASSERT_TRUE(e2e::CopyBesideMe(L"dialog_probe.exe", host.Folder(), L"dprobe.exe"));
  Process program(path);
  HWND main = e2e::WaitForWindow([] { return FindWindowW(L"SorvelDialogProbe", L"dprobe"); },
                                 kStartTimeout);
  ASSERT_NE(main, nullptr);
  Foreign owned;
  owned.title = L"dprobe";
  owned.window = e2e::WaitForDialog(program.Id(), kStepTimeout);
  ASSERT_NE(owned.window, nullptr);
  ASSERT_EQ(GetWindow(owned.window, GW_OWNER), main);
  owned.Remember();

  ASSERT_TRUE(host.Hold(0, owned));
  host.ExpectHolding(0, owned.window);
  EXPECT_TRUE(IsTopLevel(main)) << "the main window was taken instead of its dialog";
  EXPECT_EQ(host.Setting(L"FileFullPath1"), path);

  ASSERT_TRUE(host.Release(0));
  ExpectGivenBack(owned);
  EXPECT_EQ(GetWindow(owned.window, GW_OWNER), main);
}

TEST(PanesPick, NotepadIsHeldAndGivenBack) {
  Host host;
  ASSERT_TRUE(host.Start());
  Foreign notepad;
  notepad.process = std::make_unique<Process>(L"C:\\windows\\system32\\notepad.exe");
  ASSERT_TRUE(notepad.process->Started());
  DWORD pid = notepad.process->Id();
  notepad.window = e2e::WaitForWindow(
      [pid]() -> HWND {
        std::vector<HWND> windows = e2e::WindowsOf(pid, L"Notepad");
        return windows.empty() || e2e::TextOf(windows.front()).empty() ? nullptr : windows.front();
      },
      kStartTimeout);
  ASSERT_NE(notepad.window, nullptr);
  notepad.title = e2e::TextOf(notepad.window);
  RecordProperty("notepad_title", e2e::Narrow(notepad.title));
  SetWindowPos(notepad.window, nullptr, 5, 40, 220, 200, SWP_NOZORDER | SWP_NOACTIVATE);
  notepad.Remember();

  ASSERT_TRUE(host.Hold(1, notepad, false));
  host.ExpectHolding(1, notepad.window);
  EXPECT_EQ(host.Setting(L"FileName2"), notepad.title);
  std::wstring path = host.Setting(L"FileFullPath2");
  EXPECT_EQ(
      CompareStringOrdinal(path.c_str() + path.size() - std::min<std::size_t>(path.size(), 12), -1,
                           L"\\notepad.exe", -1, TRUE),
      CSTR_EQUAL)
      << e2e::Narrow(path);

  ASSERT_TRUE(host.Release(1));
  ExpectGivenBack(notepad);
  EXPECT_NE(GetMenu(notepad.window), nullptr) << "notepad lost its menu";
}

// --- Working in a held window ---

TEST(PanesHeld, TypingReachesTheHeldProgramsEdit) {
  Host host;
  ASSERT_TRUE(host.Start());
  Foreign probe = StartProbe(host.Folder(), L"probe_t", {12, 30});
  ASSERT_TRUE(host.Hold(0, probe));
  HWND edit = GetDlgItem(probe.window, kProbeEdit);
  ASSERT_NE(edit, nullptr);

  // As a user types: a tap into the middle of the pane, where the edit shows, then keys.
  RECT display{};
  GetWindowRect(host.Item(kPanes[0].display), &display);
  POINT at{(display.left + display.right) / 2, (display.top + display.bottom) / 2};
  EXPECT_EQ(WindowFromPoint(at), edit);
  std::vector<INPUT> input(3);
  for (INPUT& mouse : input) {
    mouse.type = INPUT_MOUSE;
    mouse.mi.dx = at.x * 65535 / (GetSystemMetrics(SM_CXSCREEN) - 1);
    mouse.mi.dy = at.y * 65535 / (GetSystemMetrics(SM_CYSCREEN) - 1);
    mouse.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  }
  input[1].mi.dwFlags |= MOUSEEVENTF_LEFTDOWN;
  input[2].mi.dwFlags |= MOUSEEVENTF_LEFTUP;
  for (wchar_t c : std::wstring(L"typed")) {
    for (DWORD up : {DWORD{0}, DWORD{KEYEVENTF_KEYUP}}) {
      INPUT key{};
      key.type = INPUT_KEYBOARD;
      key.ki.wScan = c;
      key.ki.dwFlags = KEYEVENTF_UNICODE | up;
      input.push_back(key);
    }
  }
  SendInput(3, input.data(), sizeof(INPUT));
  e2e::PumpFor(200);
  SendInput(static_cast<UINT>(input.size() - 3), input.data() + 3, sizeof(INPUT));
  EXPECT_TRUE(e2e::WaitFor([&] { return EditText(edit) == L"typed"; }, kStepTimeout))
      << "the edit reads \"" << e2e::Narrow(EditText(edit)) << "\"";
  EXPECT_TRUE(host.Holds(0, probe.window));
  EXPECT_TRUE(InputShared(host.Dialog(), probe.window));

  // Given back, the program has its input to itself again: activating it leaves the host be.
  ASSERT_TRUE(host.Release(0));
  ExpectGivenBack(probe);
  SetForegroundWindow(probe.window);
  EXPECT_TRUE(e2e::WaitFor([&] { return GetForegroundWindow() == probe.window; }, kStepTimeout));
  EXPECT_FALSE(InputShared(host.Dialog(), probe.window));
}

TEST(PanesHeld, NudgingMovesTheWindowTenPixelsAndStoresTheOffset) {
  Host host;
  ASSERT_TRUE(host.Start());
  Foreign probe = StartProbe(host.Folder(), L"probe_n", {12, 30});
  ASSERT_TRUE(host.Hold(1, probe));

  auto offsetIs = [&](int offset) {
    return e2e::WaitFor(
        [&] {
          return e2e::RectInParent(probe.window).top == offset &&
                 host.Setting(L"PositionTop2") == std::to_wstring(offset);
        },
        kStepTimeout);
  };
  for (int i = 1; i <= 3; ++i) {
    host.Tap(kPanes[1].up);
    EXPECT_TRUE(offsetIs(-10 * i)) << i;
  }
  host.ExpectHolding(1, probe.window, -30);
  host.Tap(kPanes[1].down);
  EXPECT_TRUE(offsetIs(-20));
  host.ExpectHolding(1, probe.window, -20);

  // Released and taken again, the window comes back at the stored offset.
  ASSERT_TRUE(host.Release(1));
  ExpectGivenBack(probe);
  ASSERT_TRUE(host.Hold(1, probe));
  host.ExpectHolding(1, probe.window, -20);
}

TEST(PanesHeld, ExpandingPaneThreeHidesTheOtherPanesAndCollapsingShowsThem) {
  Host host;
  ASSERT_TRUE(host.Start());
  Foreign first = StartProbe(host.Folder(), L"probe_1", {12, 30});
  Foreign third = StartProbe(host.Folder(), L"probe_3", {25, 60});
  ASSERT_TRUE(host.Hold(0, first));
  ASSERT_TRUE(host.Hold(2, third));
  int W = host.Width(), H = host.Height(), p = H / 3, q = 2 * H / 3;
  const PaneIds &one = kPanes[0], &two = kPanes[1], &three = kPanes[2];
  // Whether all of `ids` show as `shown` says. A tap's handling moves the display first and
  // shows or hides the other panes' controls after it: the whole state is awaited.
  auto showing = [&](std::initializer_list<int> ids, bool shown) {
    return std::all_of(ids.begin(), ids.end(),
                       [&](int id) { return (IsWindowVisible(host.Item(id)) != FALSE) == shown; });
  };

  host.Tap(three.toggle);
  ASSERT_TRUE(e2e::WaitFor(
      [&] {
        return SameRect(e2e::RectInParent(host.Item(three.display)), Rect(0, 0, W, H - 1)) &&
               showing({one.display, one.up, one.down, one.toggle, one.a, two.display, two.up,
                        two.down, two.toggle, two.a},
                       false);
      },
      kStepTimeout))
      << "pane 3 over the whole dialog, the other panes hidden";
  RECT a{}, small{};
  GetClientRect(host.Item(three.a), &a);
  GetClientRect(host.Item(three.up), &small);
  EXPECT_TRUE(SameRect(e2e::RectInParent(host.Item(three.a)),
                       Rect(W - a.right, H - a.bottom - 1, a.right, a.bottom)));
  EXPECT_TRUE(
      SameRect(e2e::RectInParent(host.Item(three.toggle)),
               Rect(2 * (small.right + 1), H - small.bottom - 1, small.right, small.bottom)));
  // The window keeps its size and offset; the larger pane shows more of it.
  host.ExpectHolding(2, third.window);
  e2e::PumpFor(300);
  RecordProperty("expanded", e2e::Narrow(e2e::SaveScreenshot(L"expanded-pane.bmp")));

  // Pane 1 holds a window: all of its controls come back; pane 2 is empty: its small buttons
  // stay hidden.
  host.Tap(three.toggle);
  ASSERT_TRUE(e2e::WaitFor(
      [&] {
        return SameRect(e2e::RectInParent(host.Item(three.display)), Rect(0, q, W, p)) &&
               showing({one.display, one.up, one.down, one.toggle, one.a, two.display, two.a},
                       true) &&
               showing({two.up, two.down, two.toggle}, false);
      },
      kStepTimeout))
      << "pane 3 back in its place, the other panes shown";
  EXPECT_TRUE(SameRect(e2e::RectInParent(host.Item(two.display)), Rect(0, p, W, p - 1)));
  host.ExpectHolding(0, first.window);
  host.ExpectHolding(2, third.window);
}

TEST(PanesHeld, WindowClosedByItsProgramWhileHeldLeavesAPaneThatTheNextTapResets) {
  Host host;
  ASSERT_TRUE(host.Start());
  Foreign probe = StartProbe(host.Folder(), L"probe_x", {12, 30});
  ASSERT_TRUE(host.Hold(1, probe));

  PostMessageW(probe.window, WM_CLOSE, 0, 0);
  ASSERT_EQ(probe.process->WaitForExit(kStepTimeout), 0u);
  EXPECT_FALSE(IsWindow(probe.window));
  EXPECT_EQ(e2e::TextOf(host.Item(kPanes[1].a)), L"C") << "the pane holds until A is tapped";

  ASSERT_TRUE(host.Release(1));
  host.ExpectEmpty(1, probe.title);
  e2e::PumpFor(300);
  EXPECT_EQ(host.OwnDialog([](HWND) { return true; }), nullptr) << "a message showed";
  EXPECT_TRUE(host.Running());
}

// --- A program that does not answer ---

TEST(PanesHung, HungProgramIsRefusedWithinASecondAndAHeldOneIsGivenBackWithoutWaiting) {
  Host host;
  ASSERT_TRUE(host.Start());
  Foreign probe = StartProbe(host.Folder(), L"probe_h", {12, 30});
  ASSERT_NE(probe.window, nullptr);

  // Refused: the host asks first and gives up after its time-out.
  PostMessageW(probe.window, kProbeHang, 6000, 0);
  e2e::PumpFor(200);
  ASSERT_TRUE(host.Pick(0, probe.title, true));
  HWND box = host.WaitForMessageBox();
  DWORD refused = GetTickCount() - host.AppliedAt();
  ASSERT_NE(box, nullptr);
  RecordProperty("refused_ms", static_cast<int>(refused));
  std::printf("hung program refused after %lu ms\n", refused);
  EXPECT_LE(refused, 1500u);
  EXPECT_EQ(StaticTexts(box), kNotResponding);
  Click(GetDlgItem(box, IDOK));
  ASSERT_TRUE(e2e::WaitFor([&] { return !IsWindow(box); }, kStepTimeout));
  EXPECT_TRUE(IsTopLevel(probe.window));
  // Nothing about the pane changed, its label included.
  host.ExpectEmpty(0, L"");

  // Held, then hung: A empties the pane at once; the window follows when its program wakes.
  // The two programs share one input state once one's window is the other's child; the host's
  // watch parts it within a second of the hang, after which a tap no longer waits for the
  // program. Pane 1, whose A also hands the input to its window when it takes the focus: once
  // the watch knows of the hang, neither asks the program again.
  auto answers = [&] {
    DWORD_PTR ignored = 0;
    return SendMessageTimeoutW(probe.window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 200, &ignored) != 0;
  };
  ASSERT_TRUE(e2e::WaitFor(answers, 10000));
  probe.Remember();
  ASSERT_TRUE(host.Hold(0, probe));
  PostMessageW(probe.window, kProbeHang, 6000, 0);
  e2e::PumpFor(1500);
  DWORD tapped = GetTickCount();
  ASSERT_TRUE(host.Release(0));
  DWORD emptied = GetTickCount() - tapped;
  RecordProperty("released_hung_ms", static_cast<int>(emptied));
  std::printf("pane of a hung program emptied after %lu ms\n", emptied);
  EXPECT_LE(emptied, 1500u);
  EXPECT_FALSE(answers()) << "the host waited for the program";
  DWORD_PTR ignored = 0;
  EXPECT_NE(SendMessageTimeoutW(host.Dialog(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 500, &ignored), 0)
      << "the host does not answer";
  ExpectGivenBack(probe, 8000);
  EXPECT_TRUE(host.Running());
}

// --- The split commands ---

TEST(PanesSplit, ExitGivesTheHeldWindowsBackAndARestartTakesTheRememberedProgramsIn) {
  Host host;
  ASSERT_TRUE(host.Start());
  Foreign a = StartProbe(host.Folder(), L"probe_a", {12, 30});
  Foreign b = StartProbe(host.Folder(), L"probe_b", {25, 60});
  Foreign other = StartProbe(host.Folder(), L"probe_c", {3, 95});
  ASSERT_NE(other.window, nullptr);
  ASSERT_TRUE(host.Hold(0, a));
  ASSERT_TRUE(host.Hold(1, b, false));

  host.Command(kIdExit);
  ASSERT_EQ(host.WaitForExit(), 0u);
  for (const Foreign* held : {&a, &b}) {
    ExpectGivenBack(*held);
    EXPECT_FALSE(IsIconic(held->window)) << e2e::Narrow(held->title);
  }
  EXPECT_TRUE(IsIconic(other.window)) << "the other program was not minimised";
  EXPECT_EQ(host.Setting(L"FileFullPath1"), a.path);
  EXPECT_EQ(host.Setting(L"FileFullPath2"), b.path);

  for (Foreign* probe : {&a, &b, &other}) {
    PostMessageW(probe->window, WM_CLOSE, 0, 0);
    EXPECT_EQ(probe->process->WaitForExit(kStepTimeout), 0u);
  }

  // The next start launches the remembered programs; split start takes their windows in.
  ASSERT_TRUE(host.Start());
  HWND again[2] = {};
  for (int pane = 0; pane < 2; ++pane) {
    std::wstring title = pane == 0 ? a.title : b.title;
    again[pane] = e2e::WaitForWindow([&] { return FindWindowW(L"SorvelProbe", title.c_str()); },
                                     kStartTimeout);
    ASSERT_NE(again[pane], nullptr) << "not started: " << e2e::Narrow(title);
  }
  EXPECT_EQ(FindWindowW(L"SorvelProbe", L"probe_c"), nullptr);
  host.Command(kIdSplitStart);
  for (int pane = 0; pane < 2; ++pane) {
    ASSERT_TRUE(host.WaitUntilHolds(pane, again[pane])) << pane + 1;
    host.ExpectHolding(pane, again[pane]);
  }
  EXPECT_EQ(e2e::TextOf(host.Item(kPanes[2].a)), L"A");

  host.Command(kIdExit);
  EXPECT_EQ(host.WaitForExit(), 0u);
  for (HWND window : again) EXPECT_TRUE(IsTopLevel(window));
  EXPECT_TRUE(e2e::CloseWindowsOfClass(L"SorvelProbe", kStepTimeout));
}

TEST(PanesSplit, SplitSelectSwitchesToTwoPanesAndBack) {
  Host host;
  ASSERT_TRUE(host.Start());
  int W = host.Width(), H = host.Height();
  // A real size notification: the dialog made one pixel narrower and restored.
  auto resize = [&] {
    RECT window{};
    GetWindowRect(host.Dialog(), &window);
    int width = window.right - window.left, height = window.bottom - window.top;
    SetWindowPos(host.Dialog(), nullptr, 0, 0, width - 1, height, SWP_NOMOVE | SWP_NOZORDER);
    SetWindowPos(host.Dialog(), nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER);
  };
  struct Step {
    int checkedBefore, tap;
    const wchar_t* stored;
    RECT pane1, pane2;
  };
  const Step steps[] = {
      {kIdThreeWay, kIdTwoWay, L"2", Rect(0, 0, W, H / 2 - 1), Rect(0, H / 2, W, H / 2 - 1)},
      {kIdTwoWay, kIdThreeWay, L"3", Rect(0, 0, W, H / 3 - 1), Rect(0, H / 3, W, H / 3 - 1)},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(e2e::Narrow(step.stored));
    host.Command(kIdSplitSelect);
    HWND version = host.WaitForVersionDialog();
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(SendMessageW(GetDlgItem(version, step.checkedBefore), BM_GETCHECK, 0, 0),
              BST_CHECKED);
    EXPECT_EQ(e2e::TextOf(GetDlgItem(version, kIdVersionLine)), L"버전: 1.0.1.1");
    EXPECT_EQ(e2e::TextOf(GetDlgItem(version, kIdVersionOk)), L"확인");
    if (step.tap == kIdTwoWay) {
      e2e::PumpFor(300);
      RecordProperty("version", e2e::Narrow(e2e::SaveScreenshot(L"version-dialog.bmp")));
    }
    Click(GetDlgItem(version, step.tap));
    EXPECT_TRUE(
        e2e::WaitFor([&] { return host.Setting(L"PartionMode") == step.stored; }, kStepTimeout));
    EXPECT_EQ(SendMessageW(GetDlgItem(version, step.tap), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(SendMessageW(GetDlgItem(version, step.checkedBefore), BM_GETCHECK, 0, 0),
              BST_UNCHECKED);
    if (step.tap == kIdTwoWay) {
      e2e::PumpFor(300);
      RecordProperty("version_two",
                     e2e::Narrow(e2e::SaveScreenshot(L"version-dialog-two-way.bmp")));
    }
    Click(GetDlgItem(version, kIdVersionOk));
    ASSERT_TRUE(e2e::WaitFor([&] { return !IsWindow(version); }, kStepTimeout));

    resize();
    EXPECT_TRUE(e2e::WaitFor(
        [&] {
          return SameRect(e2e::RectInParent(host.Item(kIdDisplay1)), step.pane1) &&
                 SameRect(e2e::RectInParent(host.Item(kIdDisplay2)), step.pane2);
        },
        kStepTimeout));
    EXPECT_TRUE(SameRect(e2e::RectInParent(host.Item(kIdDisplay1)), step.pane1));
    EXPECT_TRUE(SameRect(e2e::RectInParent(host.Item(kIdDisplay2)), step.pane2));
  }
  EXPECT_TRUE(host.Running());
}

TEST(PanesSplit, SplitResetAnsweredNoKeepsTheSettingsAndYesEmptiesThemAndEnds) {
  Host host(
      L"[Setting]\r\nPartionMode=2\r\nFileName2=Beta\r\nPositionTop2=-40\r\n"
      L"FileFullPath2=C:\\gone\\beta.exe\r\nFileName3=Gamma\r\nPositionTop3=10\r\n"
      L"FileFullPath3=C:\\gone\\gamma.exe\r\n");
  ASSERT_TRUE(host.Start());
  Foreign probe = StartProbe(host.Folder(), L"probe_r", {12, 30});
  ASSERT_TRUE(host.Hold(0, probe));
  std::wstring before = host.Settings();
  ASSERT_EQ(IniValue(before, L"FileName1"), probe.title);

  for (int answer : {IDNO, IDYES}) {
    SCOPED_TRACE(answer == IDYES ? "yes" : "no");
    host.Command(kIdSplitReset);
    HWND box = host.WaitForMessageBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(StaticTexts(box), kResetQuestion);
    ASSERT_NE(GetDlgItem(box, IDYES), nullptr);
    Click(GetDlgItem(box, answer));
    ASSERT_TRUE(e2e::WaitFor([&] { return !IsWindow(box); }, kStepTimeout));
    if (answer == IDNO) {
      e2e::PumpFor(500);
      EXPECT_EQ(host.Settings(), before);
      EXPECT_TRUE(host.Running());
      EXPECT_TRUE(host.Holds(0, probe.window));
    }
  }
  EXPECT_EQ(host.WaitForExit(), 0u);
  std::wstring after = host.Settings();
  for (const wchar_t* key : kResetKeys) {
    EXPECT_NE(after.find(std::wstring(L"\r\n") + key + L"=\r\n"), std::wstring::npos)
        << e2e::Narrow(key) << " not emptied";
  }
  EXPECT_EQ(IniValue(after, L"PartionMode"), L"2");
  ExpectGivenBack(probe);
}

// --- A host that dies of a fault ---

TEST(PanesCrash, HostThatFaultsGivesItsWindowsBackBeforeItDies) {
  Host host(L"[Setting]\r\nFileName1=probe_a\r\nFileName2=probe_b\r\n", L"SorvelCrashTest.exe");
  Foreign a = StartProbe(host.Folder(), L"probe_a", {12, 30});
  Foreign b = StartProbe(host.Folder(), L"probe_b", {25, 60});
  ASSERT_NE(a.window, nullptr);
  ASSERT_NE(b.window, nullptr);
  ASSERT_TRUE(host.Start());
  host.Command(kIdSplitStart);
  ASSERT_TRUE(host.WaitUntilHolds(0, a.window));
  ASSERT_TRUE(host.WaitUntilHolds(1, b.window));

  PostMessageW(host.Dialog(), RegisterWindowMessageW(L"SorvelCrashNow"), 0, 0);
  DWORD code = host.WaitForExit();
  EXPECT_NE(code, STILL_ACTIVE) << "the test build did not die";
  EXPECT_NE(code, 0u) << "the test build ended normally instead of by its fault";
  RecordProperty("exit_code", static_cast<int>(code));
  for (const Foreign* probe : {&a, &b}) {
    ExpectGivenBack(*probe);
    EXPECT_TRUE(probe->process->Running());
  }
}

}  // namespace
