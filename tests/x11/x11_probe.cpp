// A foreign program for the native window-system checks, on Xlib alone. Without --dialog: a
// top-level window of class "SorvelProbe" whose only child is an "Edit" window. With --dialog:
// a main window of class "SorvelDialogProbe" that owns an untitled dialog holding an "Edit" and
// a "Button" window, the edit on top. The title is the last argument, else the program's name:
// the UTF-8 _NET_WM_NAME; its plain WM_NAME is "probe", for a title must be read from the former.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace {

Display* display;

Window Make(Window parent, int x, int y, int w, int h, const char* className) {
  Window window = XCreateSimpleWindow(
      display, parent, x, y, static_cast<unsigned>(w), static_cast<unsigned>(h), 1,
      BlackPixel(display, DefaultScreen(display)), WhitePixel(display, DefaultScreen(display)));
  XClassHint hint{const_cast<char*>("probe"), const_cast<char*>(className)};
  XSetClassHint(display, window, &hint);
  return window;
}

void Name(Window window, const std::string& title) {
  Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
  XChangeProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False), utf8, 8,
                  PropModeReplace, reinterpret_cast<const unsigned char*>(title.data()),
                  static_cast<int>(title.size()));
  XStoreName(display, window, "probe");
}

void TopLevel(Window window) {
  long pid = getpid();
  XChangeProperty(display, window, XInternAtom(display, "_NET_WM_PID", False), XA_CARDINAL, 32,
                  PropModeReplace, reinterpret_cast<unsigned char*>(&pid), 1);
  XSizeHints hints{};
  hints.flags = USPosition | USSize;
  XSetWMNormalHints(display, window, &hints);
}

}  // namespace

int main(int argc, char** argv) {
  display = XOpenDisplay(nullptr);
  if (display == nullptr) return 1;
  bool dialog = argc > 1 && std::strcmp(argv[1], "--dialog") == 0;
  std::string title = argc > (dialog ? 2 : 1) ? argv[argc - 1] : argv[0];
  if (title == argv[0]) title = title.substr(title.rfind('/') + 1);
  Window root = DefaultRootWindow(display);
  Window main = Make(root, 10, 10, 200, 150, dialog ? "SorvelDialogProbe" : "SorvelProbe");
  Name(main, title);
  TopLevel(main);
  if (dialog) {
    Window box = Make(root, 40, 75, 180, 120, "SorvelDialogProbe");
    TopLevel(box);
    XSetTransientForHint(display, box, main);
    Atom type = XInternAtom(display, "_NET_WM_WINDOW_TYPE_DIALOG", False);
    XChangeProperty(display, box, XInternAtom(display, "_NET_WM_WINDOW_TYPE", False), XA_ATOM, 32,
                    PropModeReplace, reinterpret_cast<unsigned char*>(&type), 1);
    Make(box, 7, 40, 75, 23, "Button");
    Make(box, 7, 8, 165, 23, "Edit");  // made last: on top
    XMapSubwindows(display, box);
    XMapWindow(display, main);
    XMapWindow(display, box);
  } else {
    Make(main, 7, 8, 165, 23, "Edit");
    XMapSubwindows(display, main);
    XMapWindow(display, main);
  }
  XFlush(display);
  for (;;) {
    XEvent event;
    XNextEvent(display, &event);
  }
}
