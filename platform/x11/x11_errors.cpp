#include "platform/x11/x11_errors.h"

#include <array>
#include <vector>

namespace sorvel::x11 {
namespace {

// The request serials of the traps that ended lately, [first, end): an error of one of their
// requests may come in after the trap has ended, and is theirs all the same. Errors arrive
// within a round trip or so; the ring keeps far more than that.
struct Range {
  Display* display = nullptr;
  unsigned long first = 0, end = 0;
};
std::array<Range, 64> ended;
std::size_t nextEnded = 0;
// The handler that was there before the first trap: errors of no trap of ours go to it.
bool installed = false;
XErrorHandler fallback = nullptr;

}  // namespace

ErrorTrap::ErrorTrap(Display* d) : display_(d), first_(NextRequest(d)) {
  // Installed for good: an error may come in after its trap has ended.
  if (!installed) {
    fallback = XSetErrorHandler(&Record);
    installed = true;
  }
  outer_ = current;
  current = this;
}

ErrorTrap::~ErrorTrap() {
  // Its requests go out now, as they did when every trap ended with a round trip: a caller may
  // next wait on another program, which must see them.
  XFlush(display_);
  ended[nextEnded] = Range{display_, first_, NextRequest(display_)};
  nextEnded = (nextEnded + 1) % ended.size();
  current = outer_;
}

bool ErrorTrap::Failed() {
  XSync(display_, False);
  return error_ != 0;
}

int ErrorTrap::Record(Display* d, XErrorEvent* e) {
  // A trap that has ended took its requests with it; then the innermost running one whose
  // requests it may be.
  for (const Range& r : ended) {
    if (r.display == d && e->serial >= r.first && e->serial < r.end) return 0;
  }
  for (ErrorTrap* t = current; t; t = t->outer_) {
    if (t->display_ == d && e->serial >= t->first_) {
      if (t->error_ == 0) t->error_ = e->error_code;
      return 0;
    }
  }
  return fallback != nullptr ? fallback(d, e) : 0;
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

void InternAtoms(Display* d, std::initializer_list<std::pair<const char*, Atom*>> atoms) {
  std::vector<char*> names;
  for (const auto& [name, atom] : atoms) names.push_back(const_cast<char*>(name));
  std::vector<Atom> found(names.size(), None);
  XInternAtoms(d, names.data(), static_cast<int>(names.size()), False, found.data());
  std::size_t i = 0;
  for (const auto& [name, atom] : atoms) *atom = found[i++];
}

}  // namespace sorvel::x11
