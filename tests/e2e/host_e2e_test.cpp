// The real host under Wine: start-up, layout, the second instance, park and the commands of other
// programs; and its panes, which take real programs' windows (our probes and Wine's notepad)
// through its own dialogs and give them back whole however it ends. The test program drives the
// host as a user would: it taps buttons, chooses from the picker's list, answers message boxes
// and picks menu commands. The host's portable logic is the unit tests' (against the simulated
// device); here stands what the real window system decides.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "host/resources.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/same_rect.h"

namespace {

using e2e::Foreign, e2e::Process, e2e::kPanes, e2e::kStartTimeout, e2e::kStepTimeout;
using sorvel::kIdPickerList, sorvel::kIdPickerClose;

// The probe stops answering for wParam milliseconds on this message; its edit control.
constexpr UINT kProbeHang = WM_APP + 1;
constexpr int kProbeEdit = 100;
constexpr wchar_t kEmptyLabel[] = L"마지막 작동 파일명:";

RECT Rect(int left, int top, int width, int height) {
  return RECT{left, top, left + width, top + height};
}

void Click(HWND button) {
  PostMessageW(button, BM_CLICK, 0, 0);
}

bool Closes(HWND window) {
  return e2e::WaitFor([&] { return !IsWindow(window); }, kStepTimeout);
}

// An edit control's text, asked of its program.
std::wstring EditText(HWND edit) {
  wchar_t text[256] = {};
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(edit, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000,
                      &ignored);
  return text;
}

bool Answers(HWND window, UINT milliseconds) {
  DWORD_PTR ignored = 0;
  return SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, milliseconds, &ignored) != 0;
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

// The host driven through its panes' buttons and its picker.
class Host : public e2e::Host {
 public:
  using e2e::Host::Host;

  // Taps pane `pane`'s A button and applies `title` in the picker by a double tap on the item
  // (적용, which shows once an item is selected, is the unit tests').
  ::testing::AssertionResult Pick(int pane, const std::wstring& title) {
    Tap(kPanes[pane].a);
    HWND picker = WaitForOwnDialog([](HWND w) { return e2e::TextOf(w) == L"Dialog"; });
    if (picker == nullptr) return ::testing::AssertionFailure() << "no picker";
    HWND list = GetDlgItem(picker, kIdPickerList);
    LRESULT index = SendMessageW(list, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                 reinterpret_cast<LPARAM>(title.c_str()));
    if (index == LB_ERR) {
      return ::testing::AssertionFailure() << e2e::Narrow(title) << " is not listed";
    }
    SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
    PostMessageW(picker, WM_COMMAND, MAKEWPARAM(kIdPickerList, LBN_DBLCLK),
                 reinterpret_cast<LPARAM>(list));
    applied_ = GetTickCount();
    if (!Closes(picker)) return ::testing::AssertionFailure() << "the picker stays open";
    return ::testing::AssertionSuccess();
  }
  // When the last Pick applied its choice (GetTickCount).
  DWORD AppliedAt() const { return applied_; }

  // Picks `foreign` for `pane` and waits until the pane holds its window.
  ::testing::AssertionResult Hold(int pane, const Foreign& foreign) {
    ::testing::AssertionResult picked = Pick(pane, foreign.title);
    if (picked && (foreign.window == nullptr || !WaitUntilHolds(pane, foreign.window))) {
      return ::testing::AssertionFailure()
             << "pane " << pane + 1 << " does not hold " << e2e::Narrow(foreign.title);
    }
    return picked;
  }
  // Taps the A button of a holding pane and waits until the pane is empty.
  ::testing::AssertionResult Release(int pane) {
    Tap(kPanes[pane].a);
    if (e2e::WaitFor(
            [&] {
              return e2e::TextOf(Item(kPanes[pane].a)) == L"A" &&
                     !IsWindowVisible(Item(kPanes[pane].toggle));
            },
            kStepTimeout)) {
      return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "pane " << pane + 1 << " stays holding";
  }

  // The pane holds `window` as a plain visible child across its width, `offset` down, with the
  // holding pane's controls.
  void ExpectHolding(int pane, HWND window, int offset = 0) const {
    SCOPED_TRACE(testing::Message() << "pane " << pane + 1);
    const e2e::PaneIds& ids = kPanes[pane];
    RECT client{};
    GetClientRect(Dialog(), &client);
    EXPECT_EQ(GetAncestor(window, GA_PARENT), Item(ids.display));
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE)), DWORD{WS_VISIBLE});
    EXPECT_TRUE(SameRect(e2e::RectInParent(window), Rect(0, offset, client.right, client.bottom)));
    EXPECT_EQ(e2e::TextOf(Item(ids.a)), L"C");
    EXPECT_EQ(e2e::TextOf(Item(ids.display)), L"");
    for (int id : {ids.up, ids.down, ids.toggle}) EXPECT_TRUE(IsWindowVisible(Item(id))) << id;
  }

  // The pane is empty and labelled with its stored title.
  void ExpectEmpty(int pane, const std::wstring& title) const {
    SCOPED_TRACE(testing::Message() << "pane " << pane + 1);
    const e2e::PaneIds& ids = kPanes[pane];
    EXPECT_EQ(e2e::TextOf(Item(ids.a)), L"A");
    EXPECT_EQ(e2e::TextOf(Item(ids.display)), kEmptyLabel + title);
    for (int id : {ids.up, ids.down, ids.toggle}) EXPECT_FALSE(IsWindowVisible(Item(id))) << id;
  }

 private:
  DWORD applied_ = 0;
};

// The window is a top-level window again, where and as it was before the capture (waited for
// up to `milliseconds`), its frame included.
void ExpectGivenBack(const Foreign& foreign, DWORD milliseconds = kStepTimeout) {
  SCOPED_TRACE(e2e::Narrow(foreign.title));
  e2e::WaitFor([&] { return foreign.GivenBack(); }, milliseconds);
  EXPECT_TRUE(e2e::IsTopLevel(foreign.window));
  RECT now{};
  GetWindowRect(foreign.window, &now);
  EXPECT_TRUE(SameRect(now, foreign.former));
  EXPECT_EQ(GetWindowLongW(foreign.window, GWL_STYLE), foreign.formerStyle);
  EXPECT_TRUE(IsWindowVisible(foreign.window));
}

// --- Start-up and commands of other programs ---

constexpr WPARAM kParkCommand = 0x10000001;  // command 1 with notification code 0x1000

// Where the park command puts the dialog: only on 240- and 480-wide screens.
bool ParkedPosition(POINT* where) {
  int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
  if (width != 240 && width != 480) return false;
  *where = width == 240 ? POINT{220, height - 70} : POINT{430, height - 100};
  return true;
}

bool IsAt(HWND window, POINT where) {
  RECT rect{};
  GetWindowRect(window, &rect);
  return rect.left == where.x && rect.top == where.y;
}

// On desktops of several sizes. A second start brings the first to the front and ends. The park
// command moves the dialog only on 240- and 480-wide screens. Commands 1 and 2 end the host only
// as clicks of OK and Cancel; with another notification code (as other programs post or send
// them, the park command among them) they leave it running.
TEST(HostStart, FillsTheWorkAreaInThreeBandsComesToTheFrontAndParksOnPocketScreens) {
  Host host;
  ASSERT_TRUE(host.Start()) << "no host dialog appeared";

  // The dialog fills the work area; the menu bar takes its line below the caption.
  RECT work{}, window{}, client{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  GetWindowRect(host.Dialog(), &window);
  EXPECT_TRUE(SameRect(window, work));
  ASSERT_NE(GetMenu(host.Dialog()), nullptr);
  GetClientRect(host.Dialog(), &client);
  EXPECT_GE((window.bottom - window.top) - client.bottom,
            GetSystemMetrics(SM_CYCAPTION) + GetSystemMetrics(SM_CYMENU));

  int W = client.right, H = client.bottom, p = H / 3, q = 2 * H / 3;
  const RECT displays[3] = {Rect(0, 0, W, p - 1), Rect(0, p, W, p - 1), Rect(0, q, W, p)};
  e2e::PumpFor(300);
  for (int pane = 0; pane < 3; ++pane) {
    const e2e::PaneIds& ids = kPanes[pane];
    EXPECT_TRUE(SameRect(e2e::RectInParent(host.Item(ids.display)), displays[pane])) << pane;
    EXPECT_EQ(e2e::TextOf(host.Item(ids.display)), L"마지막 작동 파일명:");
    EXPECT_EQ(e2e::TextOf(host.Item(ids.a)), L"A");
    for (int id : {ids.up, ids.down, ids.toggle}) EXPECT_FALSE(IsWindowVisible(host.Item(id)));
    // The A buttons show their own green, drawn by the host (desktop push buttons would not).
    RECT button{};
    GetWindowRect(host.Item(ids.a), &button);
    HDC screen = GetDC(nullptr);
    EXPECT_EQ(GetPixel(screen, button.left + 3, button.bottom - 4), RGB(0, 255, 0)) << pane;
    ReleaseDC(nullptr, screen);
  }
  std::wstring size = std::to_wstring(GetSystemMetrics(SM_CXSCREEN)) + L"x" +
                      std::to_wstring(GetSystemMetrics(SM_CYSCREEN));
  RecordProperty("screenshot",
                 e2e::Narrow(e2e::SaveScreenshot((L"host-start-" + size + L".bmp").c_str())));

  e2e::Foreign other = e2e::StartProbe(host.Folder(), L"probe_o", {12, 30});
  SetForegroundWindow(other.window);
  ASSERT_TRUE(e2e::WaitFor([&] { return GetForegroundWindow() == other.window; }, 3000));
  e2e::Process second(host.Exe());
  EXPECT_EQ(second.WaitForExit(kStartTimeout), 0u);
  EXPECT_TRUE(e2e::WaitFor([&] { return GetForegroundWindow() == host.Dialog(); }, 3000));
  EXPECT_TRUE(e2e::WindowsOf(second.Id(), L"#32770").empty());

  POINT parked{};
  bool pocket = ParkedPosition(&parked);
  for (WPARAM command : {WPARAM{0x00050001}, WPARAM{0x12340002}, kParkCommand}) {
    PostMessageW(host.Dialog(), WM_COMMAND, command, 0);
  }
  // Parked once the host has handled the commands posted before.
  e2e::WaitFor([&] { return pocket && IsAt(host.Dialog(), parked); }, pocket ? 5000 : 800);
  DWORD_PTR answer = 0;
  EXPECT_NE(
      SendMessageTimeoutW(host.Dialog(), WM_COMMAND, kParkCommand, 0, SMTO_NORMAL, 5000, &answer),
      0)
      << "the host did not answer the park command sent";
  e2e::PumpFor(300);
  RECT after{};
  GetWindowRect(host.Dialog(), &after);
  EXPECT_TRUE(host.Running()) << "a command reached the handling of OK or Cancel";
  EXPECT_EQ(after.right - after.left, window.right - window.left);
  EXPECT_EQ(after.bottom - after.top, window.bottom - window.top);
  EXPECT_TRUE(IsAt(host.Dialog(), pocket ? parked : POINT{window.left, window.top}));
  EXPECT_EQ((GetWindowLongW(host.Dialog(), GWL_EXSTYLE) & WS_EX_TOPMOST) != 0, pocket);
  PostMessageW(host.Dialog(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  EXPECT_EQ(host.WaitForExit(), 0u) << "a click of Cancel left the host";

  // Its program carries its icon and manifest. (The file version: the new host's version dialog
  // shows it, UpdateCheck; the release checks it.)
  HMODULE module = LoadLibraryExW(host.Exe().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr);
  EXPECT_NE(FindResourceW(module, MAKEINTRESOURCEW(128), RT_GROUP_ICON), nullptr);
  EXPECT_NE(FindResourceW(module, MAKEINTRESOURCEW(1), RT_MANIFEST), nullptr);
  FreeLibrary(module);
}

// --- Picking, holding, working in held windows, a hung program and a fault ---

// Each pane takes another kind of window through the picker: a probe's, Wine's notepad with its
// menu, and the owned untitled dialog that is the interface of a program whose main window the
// picker lists. Keys typed over pane 1 reach its program, whose input the host then shares, and
// its buttons nudge it. Given back, each is where it was. A program that does not answer is not
// taken, and one that hangs while held is given back without waiting for it. Split start takes
// them in again by the titles written, and when the host (a test build of it) dies of a fault,
// it gives them back before it dies.
TEST(Panes, PickTypeNudgeGiveBackHungAndTakeAgainAndAFaultGivesEveryWindowBack) {
  Host host(L"", L"SorvelCrashTest.exe");
  ASSERT_TRUE(host.Start());
  Foreign probes[3] = {e2e::StartProbe(host.Folder(), L"probe_c", {12, 30}),
                       e2e::StartProbe(host.Folder(), L"probe_a", {25, 60}),
                       e2e::StartProbe(host.Folder(), L"probe_b", {3, 95})};
  for (const Foreign& probe : probes) ASSERT_NE(probe.window, nullptr);

  Foreign notepad;
  notepad.path = L"C:\\windows\\system32\\notepad.exe";
  notepad.process = std::make_unique<Process>(notepad.path);
  notepad.window = e2e::WaitForWindow(
      [] {
        HWND window = FindWindowW(L"Notepad", nullptr);
        return IsWindowVisible(window) && !e2e::TextOf(window).empty() ? window : nullptr;
      },
      kStartTimeout);
  ASSERT_NE(notepad.window, nullptr);
  notepad.title = e2e::TextOf(notepad.window);
  SetWindowPos(notepad.window, nullptr, 5, 40, 220, 200, SWP_NOZORDER | SWP_NOACTIVATE);
  notepad.Remember();

  Foreign owned;
  owned.title = L"dprobe";
  owned.path = host.Folder() + L"\\dprobe.exe";
  ASSERT_TRUE(e2e::CopyBesideMe(L"dialog_probe.exe", host.Folder(), L"dprobe.exe"));
  owned.process = std::make_unique<Process>(owned.path);
  HWND main = e2e::WaitForWindow([] { return FindWindowW(L"SorvelDialogProbe", L"dprobe"); },
                                 kStartTimeout);
  owned.window = e2e::WaitForDialog(owned.process->Id(), kStepTimeout);
  ASSERT_NE(owned.window, nullptr);
  ASSERT_EQ(GetWindow(owned.window, GW_OWNER), main);
  owned.Remember();

  // The list: our programs, sorted (they were started in another order); never the host.
  host.Tap(kPanes[0].a);
  HWND picker = host.WaitForOwnDialog([](HWND w) { return e2e::TextOf(w) == L"Dialog"; });
  ASSERT_NE(picker, nullptr);
  std::vector<std::wstring> probeItems;
  for (const std::wstring& item : e2e::ListItems(GetDlgItem(picker, kIdPickerList))) {
    EXPECT_NE(item, L"Sorvel");
    EXPECT_NE(item, L"Tavrin");
    if (item.rfind(L"probe_", 0) == 0) probeItems.push_back(item);
  }
  EXPECT_EQ(probeItems, (std::vector<std::wstring>{L"probe_a", L"probe_b", L"probe_c"}));
  RecordProperty("picker", e2e::Narrow(e2e::SaveScreenshot(L"picker.bmp")));
  // 닫기: nothing is captured, nothing written.
  Click(GetDlgItem(picker, kIdPickerClose));
  ASSERT_TRUE(Closes(picker));
  e2e::PumpFor(200);
  EXPECT_EQ(e2e::TextOf(host.Item(kPanes[0].a)), L"A");
  EXPECT_TRUE(host.Settings().empty());

  const Foreign* held[3] = {&probes[1], &notepad, &owned};
  for (int pane = 0; pane < 3; ++pane) {
    SCOPED_TRACE(testing::Message() << "pane " << pane + 1);
    ASSERT_TRUE(host.Hold(pane, *held[pane]));
    host.ExpectHolding(pane, held[pane]->window);
    EXPECT_EQ(host.Setting(L"FileName" + std::to_wstring(pane + 1)), held[pane]->title);
    std::wstring path = host.Setting(L"FileFullPath" + std::to_wstring(pane + 1));
    EXPECT_EQ(CompareStringOrdinal(path.c_str(), -1, held[pane]->path.c_str(), -1, TRUE),
              CSTR_EQUAL)
        << e2e::Narrow(path);
  }
  EXPECT_TRUE(e2e::IsTopLevel(main)) << "the main window was taken instead of its dialog";
  RecordProperty("three_panes", e2e::Narrow(e2e::SaveScreenshot(L"three-panes-held.bmp")));

  // As a user types: a tap into the middle of pane 1, where the probe's edit shows, then keys.
  HWND probe = held[0]->window, edit = GetDlgItem(probe, kProbeEdit);
  ASSERT_NE(edit, nullptr);
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
  EXPECT_TRUE(host.Holds(0, probe));
  EXPECT_TRUE(InputShared(host.Dialog(), probe));

  // Up twice, down once: the window stands ten pixels higher, and the file says so.
  for (int id : {kPanes[0].up, kPanes[0].up, kPanes[0].down}) host.Tap(id);
  EXPECT_TRUE(e2e::WaitFor(
      [&] {
        return e2e::RectInParent(probe).top == -10 && host.Setting(L"PositionTop1") == L"-10";
      },
      kStepTimeout));
  host.ExpectHolding(0, probe, -10);

  // Released in another order than captured, each at its own former place.
  for (int pane : {1, 0, 2}) {
    SCOPED_TRACE(testing::Message() << "pane " << pane + 1);
    ASSERT_TRUE(host.Release(pane));
    ExpectGivenBack(*held[pane]);
    host.ExpectEmpty(pane, held[pane]->title);
  }
  EXPECT_NE(GetMenu(notepad.window), nullptr) << "notepad lost its menu";
  EXPECT_EQ(GetWindow(owned.window, GW_OWNER), main);
  // Given back, the program has its input to itself again: activating it leaves the host be.
  SetForegroundWindow(probe);
  EXPECT_TRUE(e2e::WaitFor([&] { return GetForegroundWindow() == probe; }, kStepTimeout));
  EXPECT_FALSE(InputShared(host.Dialog(), probe));

  // A program that does not answer: refused, the host asks first and gives up after its time-out.
  Foreign& hung = probes[0];
  PostMessageW(hung.window, kProbeHang, 6000, 0);
  e2e::PumpFor(200);
  ASSERT_TRUE(host.Pick(0, hung.title));
  HWND box = host.WaitForMessageBox();
  DWORD refused = GetTickCount() - host.AppliedAt();
  ASSERT_NE(box, nullptr);
  RecordProperty("refused_ms", static_cast<int>(refused));
  EXPECT_LE(refused, 1500u);
  EXPECT_EQ(e2e::StaticTexts(box), L"프로그램이 응답하지 않습니다.");
  Click(GetDlgItem(box, IDOK));
  ASSERT_TRUE(Closes(box));
  EXPECT_TRUE(e2e::IsTopLevel(hung.window));
  // Nothing about the pane changed, its label included.
  host.ExpectEmpty(0, held[0]->title);

  // Held, then hung: A empties the pane at once; the window follows when its program wakes.
  // The two programs share one input state once one's window is the other's child; the host's
  // watch parts it within a second of the hang, after which a tap no longer waits for the
  // program. Pane 1, whose A also hands the input to its window when it takes the focus: once
  // the watch knows of the hang, neither asks the program again.
  ASSERT_TRUE(e2e::WaitFor([&] { return Answers(hung.window, 200); }, 10000));
  hung.Remember();
  ASSERT_TRUE(host.Hold(0, hung));
  PostMessageW(hung.window, kProbeHang, 6000, 0);
  e2e::PumpFor(1500);
  DWORD tapped = GetTickCount();
  ASSERT_TRUE(host.Release(0));
  DWORD emptied = GetTickCount() - tapped;
  RecordProperty("released_hung_ms", static_cast<int>(emptied));
  EXPECT_LE(emptied, 1500u);
  EXPECT_FALSE(Answers(hung.window, 200)) << "the host waited for the program";
  EXPECT_TRUE(Answers(host.Dialog(), 500)) << "the host does not answer";
  ExpectGivenBack(hung, 8000);

  // Split start takes in again the windows titled as the panes remember: pane 1's the hung one.
  held[0] = &hung;
  host.Command(sorvel::kIdSplitStart);
  for (int pane = 0; pane < 3; ++pane) {
    ASSERT_TRUE(host.WaitUntilHolds(pane, held[pane]->window)) << "pane " << pane + 1;
  }
  PostMessageW(host.Dialog(), RegisterWindowMessageW(L"SorvelCrashNow"), 0, 0);
  DWORD code = host.WaitForExit();
  EXPECT_NE(code, STILL_ACTIVE) << "the test build did not die";
  EXPECT_NE(code, 0u) << "the test build ended normally instead of by its fault";
  for (const Foreign* foreign : held) {
    ExpectGivenBack(*foreign);
    EXPECT_TRUE(foreign->process->Running());
  }
}

}  // namespace
