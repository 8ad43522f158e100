// The window-system checks against the simulated device; the same checks run against the
// real window system under Wine.
#include "tests/conformance/window_system_checks.h"
#include "tests/unit/host_fixture.h"

namespace sorvel {
namespace {

// An overlapped visible window as the probe programs create it.
constexpr std::uint32_t kProbeStyle = 0x14CF0000u;

class SimEnvironment : public conformance::Environment {
 public:
  SimEnvironment() : root_(MakeTempFolder()), files_(root_), device_(files_) {}
  ~SimEnvironment() override { std::filesystem::remove_all(root_); }
  Platform& Device() override { return device_; }
  HWND StartForeignWindow(const Text& title) override {
    return StartProbe(u"\\Windows\\" + title + u".exe", title);
  }
  HWND StartForeignWindowAtPathLength(const Text& title, std::size_t length) override {
    Text folder = u"\\Windows\\";
    Text name = u"\\" + title + u".exe";
    return StartProbe(folder + Text(length - folder.size() - name.size(), u'x') + name, title);
  }
  HWND StartForeignDialogProgram(const Text& title) override {
    programPath_ = u"\\Windows\\" + title + u".exe";
    int pid = device_.StartForeignProcess(programPath_);
    HWND main = device_.CreateForeignWindow(pid, u"SorvelDialogProbe", title, kProbeStyle,
                                            {10, 10, 210, 160});
    HWND dialog =
        device_.CreateForeignWindow(pid, kPortableDialogClass, u"",
                                    kWsPopup | kWsVisible | kWsBorder, {40, 75, 220, 195}, main);
    device_.CreateChildWindow(dialog, u"Edit", u"", {7, 8, 165, 23}, 100);
    device_.CreateChildWindow(dialog, u"Button", u"OK", {7, 40, 75, 23}, 101);
    return main;
  }
  Text InstallForeignProgram(const Text& title) override {
    Text path = u"\\Windows\\" + title + u".exe";
    device_.InstallProgram(path, [this, title](SimDevice&, int pid) { CreateProbe(pid, title); });
    return path;
  }
  void Hang(HWND window, unsigned milliseconds) override {
    device_.HangProcessFor(static_cast<int>(device_.GetWindowProcessId(window)), milliseconds);
  }
  void Pump(unsigned milliseconds) override { device_.AdvanceTime(milliseconds); }
  std::uint64_t Now() override { return device_.Now(); }
  bool ReparentsWithoutTheProgram() const override { return false; }
  std::vector<HWND> Children(HWND window) override { return device_.Window(window).children; }
  std::vector<Text> ListItems(HWND list) override { return device_.Window(list).items; }
  bool IsChecked(HWND button) override { return device_.Window(button).checked; }
  HWND Foreground() override { return device_.ForegroundWindow(); }

 private:
  HWND StartProbe(const Text& path, const Text& title) {
    programPath_ = path;
    device_.SetFileVersion(path, 0xFFFF'0000'0001'0001u);
    return CreateProbe(device_.StartForeignProcess(path), title);
  }
  HWND CreateProbe(int pid, const Text& title) {
    HWND window =
        device_.CreateForeignWindow(pid, u"SorvelProbe", title, kProbeStyle, {20, 20, 220, 170});
    device_.CreateChildWindow(window, u"Edit", u"", {0, 0, 192, 116}, 100);
    return window;
  }
  std::string root_;
  SimFileSystem files_;
  SimDevice device_;
};

SORVEL_WINDOW_SYSTEM_TESTS(SimWindowSystem, SimEnvironment)

}  // namespace
}  // namespace sorvel
