#include "host/main_app.h"

#include <algorithm>
#include <cwctype>

#include "host/main_dlg.h"

namespace sorvel {

namespace {

constexpr char16_t kInstanceMutex[] = u"Sorvel3";

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
  Text mutexName = exePath;
  std::replace(mutexName.begin(), mutexName.end(), u'\\', u'/');
  std::uint32_t lastError = 0;
  platform.CreateMutex(mutexName, false, &lastError);
  if (lastError != kErrorAlreadyExists) return true;

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
  for (HWND window = platform.GetTopWindow(); window != nullptr;
       window = platform.GetWindow(window, kGwHwndNext)) {
    if (!platform.IsWindowVisible(window) || platform.GetWindow(window, kGwOwner) != nullptr ||
        (platform.GetWindowStyle(window) & kWsChild) != 0 ||
        (platform.GetWindowExStyle(window) & kWsExToolWindow) != 0) {
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
  platform.ShellStartupInit();

  std::uint32_t lastError = 0;
  if (MutexHandle mutex = platform.CreateMutex(kInstanceMutex, true, &lastError)) {
    platform.ReleaseMutex(mutex);
  }
  if (lastError == kErrorAlreadyExists) return false;

  CMainDlg dialog(platform, nullptr);
  SetMainWnd(&dialog);
  dialog.DoModal();
  SetMainWnd(nullptr);
  return false;
}

}  // namespace sorvel
