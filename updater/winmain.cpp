// Entry point of the updater on Windows.
#include "platform/win32/win32.h"
#include "platform/win32/win32_platform.h"
#include "updater/update_app.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  sorvel::Win32Platform platform;
  sorvel::CUpdateApp app(platform);
  return app.Run();
}
