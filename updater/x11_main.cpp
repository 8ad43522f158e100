// Entry point of the updater on Linux: the same application over the X11 backend.
#include "platform/x11/program_icon.h"
#include "platform/x11/x11_platform.h"
#include "updater/update_app.h"

int main() {
  sorvel::X11Platform platform(sorvel::x11::kProgramIcon);
  sorvel::CUpdateApp app(platform);
  return app.Run();
}
