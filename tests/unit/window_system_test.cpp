// The window-system checks against the simulated device; the same checks run against the
// real window system under Wine.
#include <gtest/gtest.h>

#include "platform/sim/sim_device.h"
#include "platform/sim/sim_files.h"
#include "tests/conformance/window_system_checks.h"
#include "tests/unit/host_fixture.h"

namespace sorvel {
namespace {

class SimEnvironment : public conformance::Environment {
 public:
  SimEnvironment() : root_(MakeTempFolder()), files_(root_), device_(files_) {}
  ~SimEnvironment() override { std::filesystem::remove_all(root_); }

  Platform& Device() override { return device_; }
  HWND StartForeignWindow(const Text& title) override {
    path_ = u"\\Windows\\" + title + u".exe";
    int pid = device_.StartForeignProcess(path_);
    // An overlapped window as the probe program creates it.
    return device_.CreateForeignWindow(pid, u"SorvelProbe", title, 0x10CF0000u, {20, 20, 220, 170});
  }
  Text ForeignProgramPath() override { return path_; }
  void Pump(unsigned milliseconds) override { device_.AdvanceTime(milliseconds); }

 private:
  std::string root_;
  SimFileSystem files_;
  SimDevice device_;
  Text path_;
};

#define SORVEL_SIM_TEST(name)              \
  TEST(SimWindowSystem, name) {            \
    SimEnvironment environment;            \
    conformance::Check##name(environment); \
  }
SORVEL_WINDOW_SYSTEM_CHECKS(SORVEL_SIM_TEST)

}  // namespace
}  // namespace sorvel
