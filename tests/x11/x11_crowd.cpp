// A client that crowds the display, for the tests and the benchmark of listings:
//
//   x11-crowd WINDOWS DEPTH
//
// maps WINDOWS small top-level windows titled "crowd 1" ... and, when DEPTH > 0, one top-level
// window with a chain of DEPTH windows nested in it, each the only child of the one before.
// Writes "ready" to standard output once the server has them all, then waits to be ended.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const long windows = std::strtol(argv[1], nullptr, 10);
  const long depth = std::strtol(argv[2], nullptr, 10);
  Display* d = XOpenDisplay(nullptr);
  if (d == nullptr || windows < 0 || depth < 0) return 1;
  const Window root = DefaultRootWindow(d);
  for (long i = 0; i < windows; ++i) {
    Window w = XCreateSimpleWindow(d, root, static_cast<int>(i % 40) * 20,
                                   static_cast<int>(i / 40) * 20, 60, 40, 0, 0, 0xC0C0C0);
    std::string title = "crowd " + std::to_string(i + 1);
    XStoreName(d, w, title.c_str());
    XMapWindow(d, w);
  }
  if (depth > 0) {
    Window outer = XCreateSimpleWindow(d, root, 700, 500, 100, 100, 0, 0, 0x808080);
    XStoreName(d, outer, "crowd chain");
    Window parent = outer;
    for (long i = 0; i < depth; ++i) {
      parent = XCreateSimpleWindow(d, parent, 0, 0, 100, 100, 0, 0, 0x808080);
    }
    XMapWindow(d, outer);
  }
  XSync(d, False);
  std::puts("ready");
  std::fflush(stdout);
  for (;;) pause();
}
