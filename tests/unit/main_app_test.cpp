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

TEST_F(MainAppTest, FirstInstanceRunsTheMainDialogUntilItEnds) {
  Run();
  EXPECT_EQ(dialogsSeen_, 1);
  EXPECT_TRUE(device_.TopLevelWindows(SIZE_MAX).empty()) << "the dialog is destroyed at the end";
  EXPECT_FALSE(device_.ModalLoopStalled());
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

TEST_F(MainAppTest, SecondInstanceWaitsUpToFortyTriesThenStopsAtTheInstanceName) {
  device_.HoldInstanceName(kPathName);
  device_.HoldInstanceName(u"Sorvel3");
  // The running instance's window is hidden, so it is never found.
  int running = device_.StartForeignProcess(u"\\Program Files\\Sorvel\\Sorvel.exe");
  device_.CreateForeignWindow(running, u"Dialog", u"Sorvel", 0, {0, 0, 240, 320});
  Run();
  EXPECT_EQ(dialogsSeen_, 0);
  ASSERT_EQ(device_.Sleeps().size(), 40u);
  for (const auto& sleep : device_.Sleeps()) EXPECT_EQ(sleep.second, 250u);
}

TEST_F(MainAppTest, InstanceNameAloneKeepsASecondInstanceFromRunning) {
  device_.HoldInstanceName(u"Sorvel3");
  Run();
  EXPECT_EQ(dialogsSeen_, 0);
  EXPECT_TRUE(device_.TopLevelWindows(SIZE_MAX).empty());
}

TEST_F(MainAppTest, WindowOfAnotherProgramIsNotTakenForTheRunningInstance) {
  device_.HoldInstanceName(kPathName);
  int other = device_.StartForeignProcess(u"\\Windows\\Sorvel.exe");
  HWND lookalike =
      device_.CreateForeignWindow(other, u"Dialog", u"Sorvel", kWsVisible, {0, 0, 240, 320});
  Run();
  EXPECT_EQ(device_.Sleeps().size(), 40u);
  EXPECT_NE(device_.ForegroundWindow(), lookalike);
  // The path name was held but no window was found, and "Sorvel3" was free: the host runs.
  EXPECT_EQ(dialogsSeen_, 1);
}

}  // namespace
}  // namespace sorvel
