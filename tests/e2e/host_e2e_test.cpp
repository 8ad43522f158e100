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

#include "host/pane_layout.h"
#include "host/resources.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/same_rect.h"

namespace {

using e2e::Foreign, e2e::Process, e2e::kProbeHang, e2e::kStartTimeout, e2e::kStepTimeout;
using sorvel::kIdPickerList, sorvel::kIdPickerClose, sorvel::PaneControls;
const auto& kPanes = sorvel::kPaneControls;
constexpr int kProbeEdit = 100;  // the probe's edit control
constexpr wchar_t kEmptyLabel[] = L"마지막 작동 파일명:";

// A control's rectangle in its parent's client coordinates.
RECT RectInParent(HWND control) {
  RECT rect{};
  GetWindowRect(control, &rect);
  MapWindowPoints(HWND_DESKTOP, GetAncestor(control, GA_PARENT), reinterpret_cast<POINT*>(&rect),
                  2);
  return rect;
}

// An edit control's text, asked of its program.
std::wstring EditText(HWND edit) {
  wchar_t text[256] = {};
  SendMessageW(edit, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text));
  return text;
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

  // Applies `title` in pane `pane`'s picker by a double tap on the item (적용, which shows once
  // an item is selected, is the unit tests').
  ::testing::AssertionResult Pick(int pane, const std::wstring& title) {
    Tap(kPanes[pane].buttonA);
    HWND picker = WaitForOwnDialog(L"Dialog");
    if (picker == nullptr) return ::testing::AssertionFailure() << "no picker";
    HWND list = GetDlgItem(picker, kIdPickerList);
    LRESULT index = SendMessageW(list, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                 reinterpret_cast<LPARAM>(title.c_str()));
    if (index == LB_ERR) return ::testing::AssertionFailure() << title << " is not listed";
    SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
    PostMessageW(picker, WM_COMMAND, MAKEWPARAM(kIdPickerList, LBN_DBLCLK),
                 reinterpret_cast<LPARAM>(list));
    applied_ = GetTickCount();
    if (!e2e::Closes(picker)) return ::testing::AssertionFailure() << "the picker stays open";
    return ::testing::AssertionSuccess();
  }
  // When the last Pick applied its choice (GetTickCount).
  DWORD AppliedAt() const { return applied_; }

  // Picks `foreign` for `pane` and waits until the pane holds its window.
  ::testing::AssertionResult Hold(int pane, const Foreign& foreign) {
    ::testing::AssertionResult picked = Pick(pane, foreign.title);
    if (!picked || WaitUntilHolds(pane, foreign.window)) return picked;
    return ::testing::AssertionFailure()
           << "pane " << pane + 1 << " does not hold " << foreign.title;
  }
  // Taps the A button of a holding pane; whether the pane is empty then. The host hides the
  // toggle last, after A's text changes.
  bool Release(int pane) {
    const PaneControls& ids = kPanes[pane];
    Tap(ids.buttonA);
    return e2e::WaitFor(
        [&] {
          return e2e::TextOf(Item(ids.buttonA)) == L"A" && !IsWindowVisible(Item(ids.buttonToggle));
        },
        kStepTimeout);
  }

  // The pane holds `window` as a plain visible child filling it, with the holding pane's
  // controls; without a window it is empty and labelled with its stored `title`.
  void ExpectPane(int pane, HWND window, const std::wstring& title = L"") const {
    SCOPED_TRACE(testing::Message() << "pane " << pane + 1);
    const PaneControls& ids = kPanes[pane];
    EXPECT_EQ(e2e::TextOf(Item(ids.buttonA)), window ? L"C" : L"A");
    EXPECT_EQ(e2e::TextOf(Item(ids.display)), window ? L"" : kEmptyLabel + title);
    for (int id : {ids.buttonUp, ids.buttonDown, ids.buttonToggle}) {
      EXPECT_EQ(IsWindowVisible(Item(id)) != FALSE, window != nullptr) << id;
    }
    if (window == nullptr) return;
    RECT client{};
    GetClientRect(Dialog(), &client);
    EXPECT_EQ(GetAncestor(window, GA_PARENT), Item(ids.display));
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE)), DWORD{WS_VISIBLE});
    EXPECT_TRUE(SameRect(RectInParent(window), {0, 0, client.right, client.bottom}));
  }

 private:
  DWORD applied_ = 0;
};

constexpr WPARAM kParkCommand = 0x10000001;  // command 1 with notification code 0x1000

// On desktops of several sizes. A second start brings the first to the front and ends. The park
// command moves the dialog only on 240- and 480-wide screens. Commands 1 and 2 end the host only
// as clicks of OK and Cancel; with another notification code (as other programs post or send
// them, the park command among them) they leave it running.
TEST(HostStart, FillsTheWorkAreaInThreeBandsComesToTheFrontAndParksOnPocketScreens) {
  Host host;
  ASSERT_TRUE(host.Start()) << "no host dialog appeared";

  // The dialog fills the work area; the menu bar takes its line below the caption.
  const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
  RECT work{}, window{}, client{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  GetWindowRect(host.Dialog(), &window);
  EXPECT_TRUE(SameRect(window, work));
  ASSERT_NE(GetMenu(host.Dialog()), nullptr);
  GetClientRect(host.Dialog(), &client);
  EXPECT_GE((window.bottom - window.top) - client.bottom,
            GetSystemMetrics(SM_CYCAPTION) + GetSystemMetrics(SM_CYMENU));

  int W = client.right, H = client.bottom, p = H / 3, q = 2 * H / 3;
  const RECT displays[3] = {{0, 0, W, p - 1}, {0, p, W, 2 * p - 1}, {0, q, W, q + p}};
  e2e::PumpFor(300);
  for (int pane = 0; pane < 3; ++pane) {
    const PaneControls& ids = kPanes[pane];
    EXPECT_TRUE(SameRect(RectInParent(host.Item(ids.display)), displays[pane])) << pane;
    host.ExpectPane(pane, nullptr);
    // The A buttons show their own green, drawn by the host (desktop push buttons would not).
    RECT button{};
    GetWindowRect(host.Item(ids.buttonA), &button);
    HDC screen = GetDC(nullptr);
    EXPECT_EQ(GetPixel(screen, button.left + 3, button.bottom - 4), RGB(0, 255, 0)) << pane;
    ReleaseDC(nullptr, screen);
  }
  std::wstring shot = L"host-start-" + std::to_wstring(width) + L"x" + std::to_wstring(height);
  e2e::Screenshot("screenshot", shot + L".bmp");

  e2e::Foreign other = e2e::StartProbe(host.Folder(), L"probe_o", {12, 30});
  SetForegroundWindow(other.window);
  ASSERT_TRUE(e2e::WaitFor([&] { return GetForegroundWindow() == other.window; }, 3000));
  e2e::Process second(host.Exe());
  EXPECT_EQ(second.WaitForExit(kStartTimeout), 0u);
  EXPECT_TRUE(e2e::WaitFor([&] { return GetForegroundWindow() == host.Dialog(); }, 3000));

  // Where the park command puts the dialog: only on 240- and 480-wide screens.
  const bool pocket = width == 240 || width == 480;
  RECT parked = window, after{};
  if (pocket) {
    OffsetRect(&parked, (width == 240 ? 220 : 430) - window.left,
               height - (width == 240 ? 70 : 100) - window.top);
  }
  for (WPARAM command : {WPARAM{0x00050001}, WPARAM{0x12340002}, kParkCommand}) {
    PostMessageW(host.Dialog(), WM_COMMAND, command, 0);
  }
  // Parked once the host has handled the commands posted before.
  auto isParked = [&] { return GetWindowRect(host.Dialog(), &after) && SameRect(after, parked); };
  e2e::WaitFor([&] { return pocket && isParked(); }, pocket ? 5000 : 800);
  EXPECT_TRUE(e2e::Answers(host.Dialog(), 5000, WM_COMMAND, kParkCommand))
      << "the host did not answer the park command sent";
  e2e::PumpFor(300);
  EXPECT_EQ(host.WaitForExit(0), STILL_ACTIVE) << "a command reached the handling of OK or Cancel";
  EXPECT_TRUE(isParked());
  EXPECT_EQ((GetWindowLongW(host.Dialog(), GWL_EXSTYLE) & WS_EX_TOPMOST) != 0, pocket);
  PostMessageW(host.Dialog(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  EXPECT_EQ(host.WaitForExit(), 0u) << "a click of Cancel left the host";

  // Its program carries its icon and manifest (its file version: the release checks it).
  HMODULE module = LoadLibraryExW(host.Exe().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr);
  EXPECT_NE(FindResourceW(module, MAKEINTRESOURCEW(128), RT_GROUP_ICON), nullptr);
  EXPECT_NE(FindResourceW(module, MAKEINTRESOURCEW(1), RT_MANIFEST), nullptr);
  FreeLibrary(module);
}

// Each pane takes another kind of window through the picker: a probe's, Wine's notepad with its
// menu, and the owned untitled dialog that is the interface of a program whose main window the
// picker lists. Keys typed over pane 1 reach its program, whose input the host then shares
// (nudging: the unit tests' and the window-system checks'). Given back, each is where it was. A
// program that does not answer is not taken, and one that hangs while held is given back without
// waiting for it. Split start takes them in again by the titles written, and when the host (a test
// build of it) dies of a fault, it gives them back before it dies.
TEST(Panes, PickTypeGiveBackHungAndTakeAgainAndAFaultGivesEveryWindowBack) {
  Host host(L"", L"SorvelCrashTest.exe");
  ASSERT_TRUE(host.Start());
  Foreign probes[3] = {e2e::StartProbe(host.Folder(), L"probe_c", {12, 30}),
                       e2e::StartProbe(host.Folder(), L"probe_a", {25, 60}),
                       e2e::StartProbe(host.Folder(), L"probe_b", {3, 95})};
  for (const Foreign& probe : probes) ASSERT_NE(probe.window, nullptr);

  Foreign notepad = e2e::StartForeign(L"C:\\windows\\system32\\notepad.exe", L"Notepad", nullptr,
                                      [](HWND w) { return !e2e::TextOf(w).empty(); });
  ASSERT_NE(notepad.window, nullptr);
  SetWindowPos(notepad.window, nullptr, 5, 40, 220, 200, SWP_NOZORDER | SWP_NOACTIVATE);
  notepad.Remember();

  const std::wstring dprobe = e2e::CopyBesideMe(L"dialog_probe.exe", host.Folder(), L"dprobe.exe");
  ASSERT_FALSE(dprobe.empty());
  Foreign owned = e2e::StartForeign(dprobe, L"#32770");
  owned.title = L"dprobe";
  HWND main = FindWindowW(L"SorvelDialogProbe", L"dprobe");
  ASSERT_NE(owned.window, nullptr);
  ASSERT_EQ(GetWindow(owned.window, GW_OWNER), main);

  // 닫기 closes the picker (what it lists, and that closing it takes nothing, are the unit tests').
  host.Tap(kPanes[0].buttonA);
  HWND picker = host.WaitForOwnDialog(L"Dialog");
  ASSERT_NE(picker, nullptr);
  e2e::Screenshot("picker", L"picker.bmp");
  e2e::Click(picker, kIdPickerClose);
  ASSERT_TRUE(e2e::Closes(picker));

  const Foreign* held[3] = {&probes[1], &notepad, &owned};
  for (int pane = 0; pane < 3; ++pane) {
    SCOPED_TRACE(testing::Message() << "pane " << pane + 1);
    ASSERT_TRUE(host.Hold(pane, *held[pane]));
    host.ExpectPane(pane, held[pane]->window);
  }
  EXPECT_TRUE(e2e::IsTopLevel(main)) << "the main window was taken instead of its dialog";
  e2e::Screenshot("three_panes", L"three-panes-held.bmp");

  // As a user types: a tap into the middle of pane 1, where the probe's edit shows, then keys.
  HWND probe = held[0]->window, edit = GetDlgItem(probe, kProbeEdit);
  ASSERT_NE(edit, nullptr);
  RECT display{};
  GetWindowRect(host.Item(kPanes[0].display), &display);
  POINT at{(display.left + display.right) / 2, (display.top + display.bottom) / 2};
  EXPECT_EQ(WindowFromPoint(at), edit);
  const LONG x = at.x * 65535 / (GetSystemMetrics(SM_CXSCREEN) - 1),
             y = at.y * 65535 / (GetSystemMetrics(SM_CYSCREEN) - 1);
  std::vector<INPUT> input;
  for (DWORD button : {0, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP}) {
    input.push_back(INPUT{INPUT_MOUSE, {}});
    input.back().mi = {x, y, 0, MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | button, 0, 0};
  }
  for (wchar_t c : std::wstring(L"typed")) {
    for (DWORD up : {DWORD{0}, DWORD{KEYEVENTF_KEYUP}}) {
      input.push_back(INPUT{INPUT_KEYBOARD, {}});
      input.back().ki = {0, static_cast<WORD>(c), KEYEVENTF_UNICODE | up, 0, 0};
    }
  }
  SendInput(3, input.data(), sizeof(INPUT));
  e2e::PumpFor(200);
  SendInput(static_cast<UINT>(input.size() - 3), input.data() + 3, sizeof(INPUT));
  EXPECT_TRUE(e2e::WaitFor([&] { return EditText(edit) == L"typed"; }, kStepTimeout))
      << "the edit reads \"" << EditText(edit) << "\"";
  EXPECT_TRUE(InputShared(host.Dialog(), probe));

  // Released in another order than captured, each at its own former place.
  for (int pane : {1, 0, 2}) {
    SCOPED_TRACE(testing::Message() << "pane " << pane + 1);
    ASSERT_TRUE(host.Release(pane));
    EXPECT_TRUE(held[pane]->GivenBack());
    host.ExpectPane(pane, nullptr, held[pane]->title);
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
  HWND box = host.WaitForOwnDialog(L"Sorvel");
  DWORD refused = GetTickCount() - host.AppliedAt();
  ASSERT_NE(box, nullptr);
  RecordProperty("refused_ms", static_cast<int>(refused));
  EXPECT_LE(refused, 1500u);
  EXPECT_EQ(e2e::StaticTexts(box), L"프로그램이 응답하지 않습니다.");
  e2e::Click(box, IDOK);
  ASSERT_TRUE(e2e::Closes(box));
  EXPECT_TRUE(e2e::IsTopLevel(hung.window));
  // Nothing about the pane changed, its label included.
  host.ExpectPane(0, nullptr, held[0]->title);

  // Held, then hung: A empties the pane at once; the window follows when its program wakes.
  // The two programs share one input state once one's window is the other's child; the host's
  // watch parts it within a second of the hang, after which a tap no longer waits for the
  // program. Pane 1, whose A also hands the input to its window when it takes the focus: once
  // the watch knows of the hang, neither asks the program again.
  ASSERT_TRUE(e2e::WaitFor([&] { return e2e::Answers(hung.window, 200); }, 10000));
  hung.Remember();
  ASSERT_TRUE(host.Hold(0, hung));
  PostMessageW(hung.window, kProbeHang, 6000, 0);
  e2e::PumpFor(1500);
  DWORD tapped = GetTickCount();
  ASSERT_TRUE(host.Release(0));
  DWORD emptied = GetTickCount() - tapped;
  RecordProperty("released_hung_ms", static_cast<int>(emptied));
  EXPECT_LE(emptied, 1500u);
  EXPECT_FALSE(e2e::Answers(hung.window, 200)) << "the host waited for the program";
  EXPECT_TRUE(e2e::Answers(host.Dialog(), 500)) << "the host does not answer";
  EXPECT_TRUE(hung.GivenBack(8000));

  // Split start takes in again the windows titled as the panes remember: pane 1's the hung one.
  held[0] = &hung;
  host.Command(sorvel::kIdSplitStart);
  for (int pane = 0; pane < 3; ++pane) {
    ASSERT_TRUE(host.WaitUntilHolds(pane, held[pane]->window)) << "pane " << pane + 1;
  }
  PostMessageW(host.Dialog(), RegisterWindowMessageW(L"SorvelCrashNow"), 0, 0);
  DWORD code = host.WaitForExit();
  EXPECT_TRUE(code != STILL_ACTIVE && code != 0) << "the test build did not die of its fault";
  for (const Foreign* foreign : held) {
    EXPECT_TRUE(foreign->GivenBack());
    EXPECT_TRUE(foreign->process->Running());
  }
}

}  // namespace
