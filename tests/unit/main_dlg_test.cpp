// The host program's single instance; the main dialog's start-up, layout, title, launch and
// colours. (The park command: the end-to-end start-up test, on each screen size.)
#include "host/main_dlg.h"

#include "host/main_app.h"
#include "tests/unit/host_fixture.h"

namespace sorvel {
namespace {

TEST_F(MainDlgTest, WithoutItsMenuBarTheDialogIsNotMadeAndNothingStarts) {
  device_.FailMenuBar(true);
  EXPECT_EQ(dialog_.DoModal(), CDialog::kModalQuit);
  EXPECT_EQ(device_.FindWindow(kPortableDialogClass, u"Sorvel"), nullptr);
  EXPECT_TRUE(SettingsPath.empty());
  EXPECT_TRUE(device_.MessageBoxes().empty());
}

TEST_F(MainDlgTest, ProgramPathWithoutADotEndsTheDialogWithAMessageAsOkDoesSilently) {
  device_.GetConfig().modulePath = u"\\Program Files\\Sorvel\\Sorvel";
  EXPECT_EQ(dialog_.DoModal(), kIdCancel);
  ExpectLastBox(u"프로그램의 이름을 얻어오지 못했습니다. 프로그램을 종료합니다.", 1);
  EXPECT_TRUE(SettingsPath.empty());
  EXPECT_FALSE(device_.ModalLoopStalled());
  // With a path it can read, the run ends at OK.
  device_.GetConfig().modulePath = kHostProgram;
  EXPECT_EQ(RunModal<CMainDlg>({Post(kIdOk)}), kIdOk);
  EXPECT_EQ(device_.MessageBoxes().size(), 1u);
}

// The client area's 268 pixels in a band a pane: the display fills it but for a line, A sits at
// its bottom right, the small buttons at its top left, hidden until the pane holds a window. In
// two-pane mode pane 3 keeps its template place (1, 90 dialog units), its settings unread, its
// program unstarted.
TEST_F(MainDlgTest, EachPaneLiesInItsBand) {
  struct Case {
    const char* name;
    const char16_t* settings;
    std::vector<int> tops;  // of each band, then the client height
  };
  const Case cases[] = {
      {"three panes", u"", {0, 89, 178, 268}},
      {"two panes", u"PartionMode=2\r\n", {0, 134, 268}},
  };
  const Text programs[] = {u"\\Windows\\notes.exe", u"\\Windows\\calc.exe", u"\\Windows\\mail.exe"};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteSettingsFile(Text(c.settings) + u"FileName3=Mail\r\nFileFullPath1=" + programs[0] +
                      u"\r\nFileFullPath2=" + programs[1] + u"\r\nFileFullPath3=" + programs[2] +
                      u"\r\n");
    const std::size_t started = device_.StartedPrograms().size(), panes = c.tops.size() - 1;
    CMainDlg dialog(device_, nullptr);
    hwnd_ = dialog.Create();
    for (std::size_t p = 0; p < panes; ++p) {
      SCOPED_TRACE(p + 1);
      const PaneControls& ids = kPaneControls[p];
      ExpectBand(ids, c.tops[p], c.tops[p + 1]);
      EXPECT_TRUE(Visible(ids.buttonA));
      EXPECT_FALSE(Visible(ids.buttonUp));
    }
    EXPECT_EQ(ThreePaneMode, panes == 3);
    EXPECT_EQ(ItemText(kIdDisplay3), panes == 3 ? Text(kEmptyPaneLabel) + u"Mail" : u"");
    if (panes == 2) {
      EXPECT_EQ(Where(kIdDisplay3), (Placement{1 * 6 / 4, 90 * 13 / 8, 142 * 6 / 4, 34 * 13 / 8}));
    }
    device_.AdvanceTime(1000);
    EXPECT_EQ(std::vector<Text>(device_.StartedPrograms().begin() + started,
                                device_.StartedPrograms().end()),
              std::vector<Text>(programs, programs + panes));
  }
}

// The remembered programs start half a second after start-up, a tenth of a second apart, once
// whatever timer messages come later. A start that fails (calc is not installed) is passed over; a
// path too long to have whole is never started cut.
TEST_F(MainDlgTest, TimersStartTheRememberedProgramsOnceInOrderThenTurnTheTitle) {
  const Text longPath = u"\\Windows\\" + Text(250, u'a') + u".exe";  // 263 units
  WriteSettingsFile(
      u"FileFullPath1=\\Windows\\notes.exe\r\nFileFullPath2=\\Windows\\calc.exe\r\n"
      u"FileFullPath3=" +
      longPath + u"\r\n");
  int notesWindows = 0, cutStarts = 0;
  device_.InstallProgram(u"\\Windows\\notes.exe", [&](SimDevice& device, int pid) {
    device.CreateForeignWindow(pid, u"Notes", u"Notes", kWsVisible, {0, 0, 240, 320});
    ++notesWindows;
  });
  device_.InstallProgram(longPath.substr(0, 259), [&](SimDevice&, int) { ++cutStarts; });
  Open();
  const std::uint64_t opened = device_.Now();
  device_.AdvanceTime(499);
  EXPECT_TRUE(device_.StartedPrograms().empty());
  device_.AdvanceTime(1);
  EXPECT_EQ(device_.StartedPrograms(),
            (std::vector<Text>{u"\\Windows\\notes.exe", u"\\Windows\\calc.exe", u""}));
  EXPECT_EQ(device_.StartTimes(), (std::vector<std::uint64_t>{500, 600, 700}));
  EXPECT_EQ(notesWindows, 1);
  EXPECT_NE(device_.FindWindow(nullptr, u"Notes"), nullptr);
  EXPECT_FALSE(device_.HasTimer(hwnd_, kLaunchTimer));
  // Another program posts the launch timer's message again.
  for (int i = 0; i < 5; ++i) device_.PostTimer(hwnd_, kLaunchTimer);
  // The title turns to "Tavrin" five seconds after start-up, and stays.
  device_.AdvanceTime(opened + 4999 - device_.Now());
  EXPECT_EQ(device_.GetWindowText(hwnd_), u"Sorvel");
  device_.AdvanceTime(1);
  EXPECT_EQ(device_.GetWindowText(hwnd_), u"Tavrin");
  device_.AdvanceTime(20000);
  EXPECT_EQ(device_.GetWindowText(hwnd_), u"Tavrin");
  EXPECT_TRUE(device_.HasTimer(hwnd_, kTitleTimer));
  EXPECT_EQ(device_.StartedPrograms().size(), 3u);
  EXPECT_EQ(cutStarts, 0);
}

TEST_F(MainDlgTest, PaneButtonsGetTheirColourAndWhiteTextOtherControlsTheDefault) {
  Open();
  for (const PaneControls& ids : kPaneControls) {
    const std::pair<int, COLORREF> buttons[] = {{ids.buttonA, Rgb(0, 255, 0)},
                                                {ids.buttonUp, Rgb(255, 0, 0)},
                                                {ids.buttonDown, Rgb(0, 0, 255)},
                                                {ids.buttonToggle, Rgb(200, 128, 0)}};
    for (const auto& [id, color] : buttons) {
      EXPECT_EQ(device_.PaintColors(Item(id)), (ControlColors{color, Rgb(255, 255, 255)})) << id;
    }
    EXPECT_EQ(device_.PaintColors(Item(ids.display)), std::nullopt) << ids.display;
  }
}

// --- The program: one instance at a time ---

constexpr char16_t kPathName[] = u"/Program Files/Sorvel/Sorvel.exe";

using MainAppTest = HostTest;

// The first instance runs the main dialog until it ends; the instance name alone, held by another
// program, keeps it from running. A second instance looks forty times, a quarter of a second
// apart, for a visible main window of its own program file (owned, tool, child-styled and
// "static" windows do not count) and brings it to the front and ends; finding none, it runs when
// the instance name is free.
TEST_F(MainAppTest, OneInstanceRunsAndASecondBringsItToTheFront) {
  struct Case {
    const char* name;
    std::vector<Text> held;   // instance names another program holds
    const char16_t* running;  // the program of a main window; null: none
    std::uint32_t style;
    int dialogs;
    std::size_t sleeps;
    bool raised;  // the main window brought to the front
  };
  // The running one's path as the window system gives it, in other letters.
  const char16_t *mine = u"\\program files\\sorvel\\SORVEL.EXE", *other = u"\\Windows\\Sorvel.exe";
  const Case cases[] = {
      {"first", {}, nullptr, 0, 1, 0, false},
      {"instance name held", {u"Sorvel3"}, nullptr, 0, 0, 0, false},
      {"second", {kPathName, u"Sorvel3"}, mine, kWsVisible, 0, 0, true},
      {"its window hidden", {kPathName, u"Sorvel3"}, mine, 0, 0, 40, false},
      {"another program's window", {kPathName}, other, kWsVisible, 1, 40, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    device_.ReleaseInstanceNames();
    for (const Text& name : c.held) device_.HoldInstanceName(name);
    HWND running = nullptr;
    if (c.running != nullptr) {
      int pid = device_.StartForeignProcess(c.running);
      running = device_.CreateForeignWindow(pid, u"Dialog", u"Tavrin", c.style, {0, 0, 240, 320});
      device_.CreateForeignWindow(pid, u"Dialog", u"Owned", kWsVisible, {0, 0, 9, 9}, running);
      device_.CreateForeignWindow(pid, u"Tool", u"Tool", kWsVisible, {0, 0, 9, 9}, nullptr,
                                  kWsExToolWindow);
      device_.CreateForeignWindow(pid, u"static", u"Static", kWsVisible, {0, 0, 9, 9});
    }
    HWND notes = device_.CreateForeignWindow(device_.StartForeignProcess(u"\\Windows\\notes.exe"),
                                             u"Notes", u"Notes", kWsVisible, {0, 0, 240, 320});
    device_.SetForegroundWindow(notes);
    const std::size_t windows = device_.TopLevelWindows(SIZE_MAX).size();
    const std::size_t sleeps = device_.Sleeps().size();
    // The program runs; the idle script ends the main dialog's run at once.
    int dialogs = 0;
    device_.SetIdleScript([&dialogs](SimDevice& device) {
      HWND dialog = device.FindWindow(u"Dialog", u"Sorvel");
      if (dialog == nullptr) return false;
      ++dialogs;
      device.PostCommand(dialog, kIdExit);
      return true;
    });
    CMainApp(device_).Run();
    EXPECT_EQ(dialogs, c.dialogs);
    EXPECT_FALSE(device_.ModalLoopStalled());
    EXPECT_EQ(device_.TopLevelWindows(SIZE_MAX).size(), windows) << "the dialog is destroyed";
    EXPECT_EQ(running != nullptr && device_.ForegroundWindow() == running, c.raised);
    ASSERT_EQ(device_.Sleeps().size() - sleeps, c.sleeps);
    for (std::size_t i = sleeps; i < device_.Sleeps().size(); ++i) {
      EXPECT_EQ(device_.Sleeps()[i].second, 250u);
    }
    for (HWND window : device_.TopLevelWindows(SIZE_MAX)) device_.DestroyWindow(window);
  }
}

}  // namespace
}  // namespace sorvel
