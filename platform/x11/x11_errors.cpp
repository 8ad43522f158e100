#include "platform/x11/x11_errors.h"

namespace sorvel::x11 {

ErrorTrap::ErrorTrap(Display* d) : display_(d) {
  XSync(display_, False);  // earlier requests' errors are not ours
  previous_ = XSetErrorHandler(&Record);
  outer_ = current;
  current = this;
}

ErrorTrap::~ErrorTrap() {
  XSync(display_, False);
  current = outer_;
  XSetErrorHandler(previous_);
}

bool ErrorTrap::Failed() {
  XSync(display_, False);
  return error_ != 0;
}

int ErrorTrap::Record(Display* d, XErrorEvent* e) {
  for (ErrorTrap* t = current; t; t = t->outer_) {
    if (t->display_ == d) {
      if (t->error_ == 0) t->error_ = e->error_code;
      return 0;
    }
  }
  return current && current->previous_ ? current->previous_(d, e) : 0;
}

bool ReadProperty(Display* d, Window w, Atom name, Property* out) {
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(d, w, name, 0, 1 << 20, False, AnyPropertyType, &type, &format, &count,
                         &after, &data) != Success) {
    return false;
  }
  *out = Property{type, format, {}, {}};
  if (data && format == 8) {
    out->bytes.assign(reinterpret_cast<const char*>(data), count);
  } else if (data && format == 32) {
    const auto* longs = reinterpret_cast<const unsigned long*>(data);
    out->longs.assign(longs, longs + count);
  }
  if (data) XFree(data);
  return type != None;
}

}  // namespace sorvel::x11
