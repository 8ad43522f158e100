// Gives the running native host a command as its menu bar or one of its buttons would: sends
// the host's dialog a command message (the client message SORVEL_MESSAGE, which the X11 backend
// queues as a WM_COMMAND: l[1] the command id, l[2] its notification code). scripts/run and the
// end-to-end tests use it.
//
//   sorvel-command <id> [title]   e.g. 32780 split start, 1000 pane 1's A, 32775 exit; the
//                                 dialog titled `title`, else the host's main dialog
// Exits 0 once the command is sent, 1 when no such dialog shows within ten seconds.
#include <X11/Xlib.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/types.h"
#include "platform/x11/x11_windows.h"

int main(int argc, char** argv) {
  unsigned long id = argc >= 2 ? std::strtoul(argv[1], nullptr, 10) : 0;
  if (id == 0 || id > 0xFFFF || argc > 3) return 2;
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return 1;
  int status = 1;
  {
    sorvel::x11::X11Windows windows(display);
    // The main dialog bears the host's name, or its running title once the title timer ran.
    auto wanted = [&](const std::u16string& title) {
      if (argc == 3) return title == sorvel::FromUtf8(argv[2]);
      return title == u"Sorvel" || title == u"Tavrin";
    };
    for (int i = 0; i < 100 && status != 0; ++i) {
      for (Window w : windows.TopLevelWindows()) {
        if (!windows.IsVisible(w) || !wanted(windows.Title(w))) continue;
        XEvent e{};
        e.xclient.type = ClientMessage;
        e.xclient.window = w;
        e.xclient.message_type = XInternAtom(display, "SORVEL_MESSAGE", False);
        e.xclient.format = 32;
        e.xclient.data.l[0] = 0x0111;  // WM_COMMAND
        e.xclient.data.l[1] = static_cast<long>(id);
        e.xclient.data.l[2] = 0;  // the notification code of a click (BN_CLICKED) or a menu
        XSendEvent(display, w, False, NoEventMask, &e);
        XSync(display, False);
        status = 0;
        break;
      }
      if (status != 0) usleep(100000);
    }
  }
  XCloseDisplay(display);
  return status;
}
