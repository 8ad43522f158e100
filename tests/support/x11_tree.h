// The window tree as the native tests and benchmark read it: a window's children (bottom to
// top) and its parent, and the icon it bears. A window that is gone has none of them.
#pragma once

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <utility>
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

// One image of a window's icon: its size and its pixels, row by row, 0xAARRGGBB.
struct IconImage {
  unsigned long width = 0;
  unsigned long height = 0;
  std::vector<unsigned long> pixels;
  unsigned long Middle() const { return pixels[(height / 2) * width + width / 2] & 0xFFFFFFFF; }
};

// The images of the icon a window bears (_NET_WM_ICON: per image its width, its height, then
// its pixels), in the order given.
inline std::vector<IconImage> Icons(Display* display, Window w) {
  std::vector<IconImage> out;
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(display, w, XInternAtom(display, "_NET_WM_ICON", False), 0, 1 << 20, False,
                         XA_CARDINAL, &type, &format, &count, &after, &data) != Success) {
    return out;
  }
  const auto* longs = reinterpret_cast<const unsigned long*>(data);
  for (unsigned long at = 0; data != nullptr && format == 32 && at + 2 <= count;) {
    IconImage image;
    image.width = longs[at];
    image.height = longs[at + 1];
    at += 2;
    if (image.width * image.height > count - at) break;
    image.pixels.assign(longs + at, longs + at + image.width * image.height);
    at += image.width * image.height;
    out.push_back(std::move(image));
  }
  if (data != nullptr) XFree(data);
  return out;
}

}  // namespace sorvel::test
