// The window-system checks against the real window system (the win32 backend under Wine, with
// foreign windows of real processes); the same checks judge the simulated device.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/win32/win32_platform.h"
#include "tests/conformance/window_system_checks.h"
#include "tests/e2e/e2e_support.h"

namespace sorvel {
namespace {

class Win32Environment : public conformance::Environment {
 public:
  ~Win32Environment() override { e2e::CloseWindowsOfClass(L"SorvelProbe", 5000); }

  Platform& Device() override { return platform_; }
  HWND StartForeignWindow(const Text& title) override {
    std::wstring name(reinterpret_cast<const wchar_t*>(title.c_str()));
    std::wstring folder = e2e::MakeTestFolder();
    if (!e2e::CopyBesideMe(L"probe.exe", folder, (name + L".exe").c_str())) return nullptr;
    std::wstring path = folder + L"\\" + name + L".exe";
    path_ = Text(reinterpret_cast<const char16_t*>(path.c_str()));
    processes_.push_back(std::make_unique<e2e::Process>(path));
    ::HWND window = nullptr;
    e2e::WaitFor(
        [&] {
          window = FindWindowW(L"SorvelProbe", name.c_str());
          return window != nullptr;
        },
        10000);
    return reinterpret_cast<HWND>(window);
  }
  Text ForeignProgramPath() override { return path_; }
  void Pump(unsigned milliseconds) override { e2e::PumpFor(milliseconds); }

 private:
  Win32Platform platform_;
  std::vector<std::unique_ptr<e2e::Process>> processes_;
  Text path_;
};

#define SORVEL_WIN32_TEST(name)            \
  TEST(Win32WindowSystem, name) {          \
    Win32Environment environment;          \
    conformance::Check##name(environment); \
  }
SORVEL_WINDOW_SYSTEM_CHECKS(SORVEL_WIN32_TEST)

}  // namespace
}  // namespace sorvel
