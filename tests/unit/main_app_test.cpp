#include "host/main_app.h"

#include "host/resources.h"
#include "tests/unit/host_fixture.h"

namespace sorvel {
namespace {

constexpr char16_t kPathName[] = u"/Program Files/Sorvel/Sorvel.exe";

class MainAppTest : public HostTest {
 protected:
  // Runs the program; the idle script ends the main dialog's run at once.
  int Run() {
    device_.SetIdleScript([this](SimDevice& device) {
      HWND dialog = device.FindWindow(u"Dialog", u"Sorvel");
      dialogsSeen_ += dialog != nullptr;
      if (dialog == nullptr) return false;
      device.PostCommand(dialog, kIdExit);
      return true;
    });
    CMainApp app(device_);
    return app.Run();
  }

  int dialogsSeen_ = 0;
};

// The instance names held by a running instance, and the window it may show: no second
// instance runs while "Sorvel3" is held; the path's name alone costs forty tries at finding the
// running instance's window.
TEST_F(MainAppTest, RunsOnlyWhereNoOtherInstanceHoldsItsName) {
  enum class Shown { kNothing, kHiddenWindow, kLookalikeOfAnotherProgram };
  struct Case {
    const char* name;
    bool pathName, instanceName;
    Shown shown;
    int dialogs;
    std::size_t sleeps;
  };
  const Case cases[] = {
      {"first instance", false, false, Shown::kNothing, 1, 0},
      {"instance name alone", false, true, Shown::kNothing, 0, 0},
      {"running instance not found", true, true, Shown::kHiddenWindow, 0, 40},
      {"another program's window", true, false, Shown::kLookalikeOfAnotherProgram, 1, 40},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    device_.ReleaseInstanceNames();
    if (c.pathName) device_.HoldInstanceName(kPathName);
    if (c.instanceName) device_.HoldInstanceName(u"Sorvel3");
    HWND shown = nullptr;
    if (c.shown != Shown::kNothing) {
      bool own = c.shown == Shown::kHiddenWindow;
      int pid = device_.StartForeignProcess(own ? u"\\Program Files\\Sorvel\\Sorvel.exe"
                                                : u"\\Windows\\Sorvel.exe");
      shown = device_.CreateForeignWindow(pid, u"Dialog", u"Sorvel", own ? 0 : kWsVisible,
                                          {0, 0, 240, 320});
    }
    const std::size_t sleeps = device_.Sleeps().size();
    dialogsSeen_ = 0;

    Run();
    EXPECT_EQ(dialogsSeen_, c.dialogs);
    ASSERT_EQ(device_.Sleeps().size() - sleeps, c.sleeps);
    for (std::size_t i = sleeps; i < device_.Sleeps().size(); ++i) {
      EXPECT_EQ(device_.Sleeps()[i].second, 250u);
    }
    EXPECT_FALSE(device_.ModalLoopStalled());
    if (shown != nullptr) {
      EXPECT_NE(device_.ForegroundWindow(), shown);
      device_.DestroyWindow(shown);
    }
    EXPECT_TRUE(device_.TopLevelWindows(SIZE_MAX).empty()) << "the dialog is destroyed at the end";
  }
}

TEST_F(MainAppTest, SecondInstanceBringsTheRunningOneToTheFrontAndEnds) {
  device_.HoldInstanceName(kPathName);
  device_.HoldInstanceName(u"Sorvel3");
  int running = device_.StartForeignProcess(u"\\program files\\sorvel\\SORVEL.EXE");
  int other = device_.StartForeignProcess(u"\\Windows\\notes.exe");
  HWND first =
      device_.CreateForeignWindow(running, u"Dialog", u"Tavrin", kWsVisible, {0, 0, 240, 320});
  HWND notes = device_.CreateForeignWindow(other, u"Notes", u"Notes", kWsVisible, {0, 0, 240, 320});
  // Windows of the same program that do not qualify: owned, tool, child-styled, "static".
  device_.CreateForeignWindow(running, u"Dialog", u"Owned", kWsVisible, {0, 0, 9, 9}, first);
  device_.CreateForeignWindow(running, u"Tool", u"Tool", kWsVisible, {0, 0, 9, 9}, nullptr,
                              kWsExToolWindow);
  device_.CreateForeignWindow(running, u"static", u"Static", kWsVisible, {0, 0, 9, 9});
  device_.SetForegroundWindow(notes);

  Run();

  EXPECT_EQ(dialogsSeen_, 0);
  EXPECT_EQ(device_.ForegroundWindow(), first);
  EXPECT_EQ(device_.TopLevelWindows(1), std::vector<HWND>{first});
  EXPECT_TRUE(device_.Sleeps().empty());
}

}  // namespace
}  // namespace sorvel
