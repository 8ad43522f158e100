// Entry point of the host on Linux: the same application over the X11 backend.
#include "host/main_app.h"
#include "platform/x11/program_icon.h"
#include "platform/x11/x11_platform.h"

int main() {
  sorvel::X11Platform platform(sorvel::x11::kProgramIcon);
  // Ended by a signal, the host gives the held windows back at their places as on exit.
  platform.CloseOnTerminationSignals();
  sorvel::CMainApp app(platform);
  return app.Run();
}
