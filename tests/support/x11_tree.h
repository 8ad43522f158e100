// The window tree as the native tests and benchmark read it: a window's children (bottom to
// top) and its parent, and the icon it bears. A window that is gone has none of them.
#pragma once

#include <X11/Xlib.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/x11/x11_errors.h"

namespace sorvel::test {

inline std::vector<Window> Children(Display* display, Window w, Window* parent = nullptr) {
  std::vector<Window> out;
  Window root = None, up = None, *children = nullptr;
  unsigned count = 0;
  if (w != None && XQueryTree(display, w, &root, &up, &children, &count)) {
    out.assign(children, children + count);
    if (children != nullptr) XFree(children);
  }
  if (parent != nullptr) *parent = up;
  return out;
}

inline Window Parent(Display* display, Window w) {
  Window parent = None;
  Children(display, w, &parent);
  return parent;
}

// The icon a window bears (_NET_WM_ICON: per image its width, its height, then its pixels) in
// short: the images' sizes in the order given, then the middle pixel of the first, 0xAARRGGBB,
// e.g. "32x32 16x16 middle ffe00000".
inline std::string IconSummary(Display* display, Window w) {
  x11::Property icon;
  x11::ReadProperty(display, w, XInternAtom(display, "_NET_WM_ICON", False), &icon);
  const std::vector<unsigned long>& v = icon.longs;
  std::string out;
  std::size_t at = 0;
  for (; at + 2 <= v.size() && v[at] * v[at + 1] <= v.size() - at - 2;
       at += 2 + v[at] * v[at + 1]) {
    out += std::to_string(v[at]) + "x" + std::to_string(v[at + 1]) + " ";
  }
  char middle[32] = "no middle";
  if (at > 0)
    std::snprintf(middle, sizeof middle, "middle %08lx",
                  v[2 + v[1] / 2 * v[0] + v[0] / 2] & 0xFFFFFFFF);
  return out + middle;
}

}  // namespace sorvel::test
