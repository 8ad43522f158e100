// Entry point of the host on Windows.
#include "host/main_app.h"
#include "platform/win32/win32.h"
#include "platform/win32/win32_platform.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  sorvel::Win32Platform platform;
  sorvel::CMainApp app(platform);
  return app.Run();
}
