// The window tree as the native tests and benchmark read it: a window's children (bottom to
// top) and its parent. A window that is gone has neither.
#pragma once

#include <X11/Xlib.h>

#include <vector>

namespace sorvel::test {

inline std::vector<Window> Children(Display* display, Window w) {
  std::vector<Window> out;
  Window root = None, parent = None, *children = nullptr;
  unsigned count = 0;
  if (w != None && XQueryTree(display, w, &root, &parent, &children, &count)) {
    out.assign(children, children + count);
    if (children != nullptr) XFree(children);
  }
  return out;
}

inline Window Parent(Display* display, Window w) {
  Window root = None, parent = None, *children = nullptr;
  unsigned count = 0;
  if (w == None || !XQueryTree(display, w, &root, &parent, &children, &count)) return None;
  if (children != nullptr) XFree(children);
  return parent;
}

}  // namespace sorvel::test
