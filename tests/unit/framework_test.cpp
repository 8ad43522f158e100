// The dialog framework: how a modal run ends, and radio groups.
#include "platform/framework.h"

#include "tests/unit/host_fixture.h"

namespace sorvel {
namespace {

// Radio groups 10-12, the push button 20 with the radio buttons 21 and 22 in its group, and 30
// alone: a group starts at each tenth id, its controls in a column.
const DialogTemplate kTestTemplate = [] {
  DialogTemplate made{0,         100, 60, kWsPopup | kWsVisible | kWsCaption, u"Framework",
                      u"Tahoma", 8,   {}};
  for (int id : {10, 11, 12, 20, 21, 22, 30}) {
    made.controls.push_back({id, id == 20 ? ControlKind::kPushButton : ControlKind::kRadioButton,
                             u"", id / 10 * 30 - 30, id % 10 * 10, 20, 10,
                             id % 10 == 0 ? kWsGroup : 0, true});
  }
  return made;
}();

// Records which buttons were checked when each command reached its handlers.
class TestDialog : public CDialog {
 public:
  explicit TestDialog(SimDevice& device)
      : CDialog(device, kTestTemplate, nullptr), device_(device) {
    SetFullScreen(false);
  }
  std::vector<int> Checked() {
    std::vector<int> ids;
    for (const ControlTemplate& control : kTestTemplate.controls) {
      if (device_.Window(GetDlgItem(control.id)).checked) ids.push_back(control.id);
    }
    return ids;
  }
  std::vector<int> checkedAtHandler;

 protected:
  bool DispatchMessageMap(Message& message) override {
    if (message.message == kWmCommand) checkedAtHandler = Checked();
    return false;
  }

 private:
  SimDevice& device_;
};

using FrameworkTest = HostTest;

TEST_F(FrameworkTest, OkAndCancelEndTheModalRunOnlyWhenClicked) {
  // (A close request ends it as Cancel: the split commands' exit and close.)
  struct Case {
    unsigned id, code;
    int result;
  };
  const Case cases[] = {
      {kIdOk, kBnClicked, kIdOk},
      {kIdCancel, kBnClicked, kIdCancel},
      // Another notification code is no click: the run goes on until the quit message.
      {kIdOk, 5, CDialog::kModalQuit},
      {kIdCancel, 0x1234, CDialog::kModalQuit},
      {kIdOk, 0x1000, CDialog::kModalQuit},
      {3, kBnClicked, CDialog::kModalQuit},
  };
  for (bool sent : {false, true}) {
    for (const Case& c : cases) {
      TestDialog dialog(device_);
      int step = 0;
      device_.SetIdleScript([&](SimDevice& d) {
        HWND hwnd = dialog.GetSafeHwnd();
        if (step++ != 0) {
          d.PostMessage(hwnd, kWmQuit);
        } else if (sent) {
          d.SendCommand(hwnd, c.id, c.code);
        } else {
          d.PostCommand(hwnd, c.id, c.code);
        }
        return step < 3;
      });
      EXPECT_EQ(dialog.DoModal(), c.result)
          << "command " << c.id << ", code 0x" << std::hex << c.code << (sent ? ", sent" : "");
    }
  }
  EXPECT_FALSE(device_.ModalLoopStalled());
}

// A click on a radio button checks it and clears the rest of its group before its handlers run;
// other notifications and other controls change nothing.
TEST_F(FrameworkTest, RadioButtonClickChecksItAndClearsItsGroupOnly) {
  struct Step {
    unsigned id, code;
    std::vector<int> checked;
  };
  const Step steps[] = {
      {10, kBnClicked, {10}},         {21, kBnClicked, {10, 21}},
      {11, kBnClicked, {11, 21}},     {12, kBnSetFocus, {11, 21}},
      {22, kBnClicked, {11, 22}},     {30, kBnClicked, {11, 22, 30}},
      {20, kBnClicked, {11, 22, 30}}, {11, kBnClicked, {11, 22, 30}},
  };
  TestDialog dialog(device_);
  HWND hwnd = dialog.Create();
  EXPECT_EQ(dialog.Checked(), std::vector<int>{});
  for (const Step& step : steps) {
    SCOPED_TRACE(step.id);
    device_.PostCommand(hwnd, step.id, step.code);
    device_.PumpMessages();
    EXPECT_EQ(dialog.Checked(), step.checked);
    EXPECT_EQ(dialog.checkedAtHandler, step.checked);
  }
  // The user's click reaches the framework as the same command.
  device_.Click(device_.GetDlgItem(hwnd, 12));
  device_.PumpMessages();
  EXPECT_EQ(dialog.Checked(), (std::vector<int>{12, 22, 30}));
}

}  // namespace
}  // namespace sorvel
