#include "platform/framework.h"

#include <gtest/gtest.h>

#include "platform/sim/sim_device.h"
#include "platform/sim/sim_files.h"
#include "tests/unit/host_fixture.h"

namespace sorvel {
namespace {

const DialogTemplate& TestTemplate() {
  static const DialogTemplate kTemplate{
      800, 100, 60, kWsPopup | kWsVisible | kWsCaption, u"Framework", u"Tahoma", 8, {}};
  return kTemplate;
}

class TestDialog : public CDialog {
 public:
  explicit TestDialog(Platform& platform) : CDialog(platform, TestTemplate(), nullptr) {
    SetFullScreen(false);
  }

 protected:
  bool DispatchMessageMap(Message&) override { return false; }
};

class FrameworkTest : public ::testing::Test {
 protected:
  FrameworkTest() : root_(MakeTempFolder()), files_(root_), device_(files_) {}
  ~FrameworkTest() override { std::filesystem::remove_all(root_); }

  std::string root_;
  SimFileSystem files_;
  SimDevice device_;
};

// Runs the dialog modally and delivers one message to it once the run waits; a run that goes
// on past that message is ended by a quit message.
int RunWith(SimDevice& device, std::uint32_t message, std::uintptr_t wParam, bool sent) {
  TestDialog dialog(device);
  int step = 0;
  device.SetIdleScript([&](SimDevice& d) {
    HWND hwnd = dialog.GetSafeHwnd();
    if (step++ == 0) {
      if (sent) {
        d.SendMessage(hwnd, message, wParam, 0);
      } else {
        d.PostMessage(hwnd, message, wParam, 0);
      }
    } else {
      d.PostMessage(hwnd, kWmQuit, 0, 0);
    }
    return step < 3;
  });
  int result = dialog.DoModal();
  device.SetIdleScript(nullptr);
  return result;
}

TEST_F(FrameworkTest, OkAndCancelEndTheModalRunOnlyWhenClicked) {
  struct Case {
    std::uint32_t message;
    std::uintptr_t wParam;
    int result;
  };
  const Case cases[] = {
      {kWmCommand, MakeWParam(kIdOk, kBnClicked), kIdOk},
      {kWmCommand, MakeWParam(kIdCancel, kBnClicked), kIdCancel},
      {kWmClose, 0, kIdCancel},
      // Another notification code is no click: the run goes on until the quit message.
      {kWmCommand, 0x00050001, CDialog::kModalQuit},
      {kWmCommand, 0x12340002, CDialog::kModalQuit},
      {kWmCommand, 0x10000001, CDialog::kModalQuit},
      {kWmCommand, MakeWParam(3, kBnClicked), CDialog::kModalQuit},
  };
  for (bool sent : {false, true}) {
    for (const Case& c : cases) {
      EXPECT_EQ(RunWith(device_, c.message, c.wParam, sent), c.result)
          << std::hex << "message 0x" << c.message << ", wParam 0x" << c.wParam
          << (sent ? ", sent" : ", posted");
    }
  }
  EXPECT_FALSE(device_.ModalLoopStalled());
}

}  // namespace
}  // namespace sorvel
