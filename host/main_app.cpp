#include "host/main_app.h"

#include <algorithm>
#include <cstdint>
#include <cwctype>

#include "host/main_dlg.h"
#include "update/description.h"

namespace sorvel {

namespace {

bool SamePath(const Text& a, const Text& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) {
           return std::towlower(static_cast<wint_t>(x)) == std::towlower(static_cast<wint_t>(y));
         });
}

}  // namespace

bool CMainApp::StartupCheck() {
  Platform& platform = GetPlatform();
  Text exePath = platform.GetModuleFileName();
  // Named after the program file: a copy elsewhere claims a name of its own.
  Text pathName = exePath;
  std::replace(pathName.begin(), pathName.end(), u'\\', u'/');
  if (platform.ClaimInstanceName(pathName)) return true;

  for (int attempt = 0; attempt < kFindTries; ++attempt) {
    if (HWND running = FindRunningInstance(exePath)) {
      platform.SetForegroundWindow(running);
      return false;
    }
    platform.Sleep(kFindPauseMs);
  }
  return true;
}

HWND CMainApp::FindRunningInstance(const Text& exePath) {
  Platform& platform = GetPlatform();
  for (HWND window : platform.TopLevelWindows(SIZE_MAX)) {
    if (!platform.HasWindowTrait(window, WindowTrait::kVisible) ||
        platform.GetOwner(window) != nullptr ||
        platform.HasWindowTrait(window, WindowTrait::kChild) ||
        platform.HasWindowTrait(window, WindowTrait::kToolWindow)) {
      continue;
    }
    Text className = platform.GetClassName(window);
    if (className == u"CursorWindow" || className == u"static" || className == u"shfind") {
      continue;
    }
    if (SamePath(platform.GetWindowProgramPath(window), exePath)) return window;
  }
  return nullptr;
}

bool CMainApp::InitInstance() {
  Platform& platform = GetPlatform();

  if (!platform.ClaimInstanceName(kHostInstanceName)) return false;

  CMainDlg dialog(platform, nullptr);
  dialog.DoModal();
  return false;
}

}  // namespace sorvel
