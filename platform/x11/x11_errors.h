// What the X11 layer shares about requests on windows that may vanish at any moment: a scoped
// trap for their errors, and one property read; and the interning of a set of atoms.
//
// Runs on the thread that owns the display connection (the user-interface thread).
#pragma once

#include <X11/Xlib.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace sorvel::x11 {

// Catches the X errors of the requests made while it lives, on its display only, by their
// request serials, also when they come in after it has ended; errors of no trap go to the
// handler that was there before the first. Xlib's handler is process-wide, so traps nest through
// `current`. Costs no round trip but Failed()'s; its requests are flushed when it ends.
class ErrorTrap {
 public:
  explicit ErrorTrap(Display* d);
  ~ErrorTrap();
  ErrorTrap(const ErrorTrap&) = delete;
  ErrorTrap& operator=(const ErrorTrap&) = delete;

  // Whether any request so far failed (one round trip).
  bool Failed();

 private:
  static int Record(Display* d, XErrorEvent* e);

  static inline ErrorTrap* current = nullptr;
  Display* display_;
  unsigned long first_;  // the serial of its first request
  ErrorTrap* outer_ = nullptr;
  int error_ = 0;
};

struct Property {
  Atom type = None;
  int format = 0;
  std::string bytes;                 // format 8
  std::vector<unsigned long> longs;  // format 32, as Xlib hands them over
};

// False when the window is gone or has no such property. One round trip.
bool ReadProperty(Display* d, Window w, Atom name, Property* out);

// Interns each name into its atom: one round trip for all those Xlib has not cached.
void InternAtoms(Display* d, std::initializer_list<std::pair<const char*, Atom*>> atoms);

// A list of texts in one property ends each with NUL; a title is the first.
inline std::string FirstText(const std::string& bytes) {
  return bytes.substr(0, bytes.find('\0'));
}

}  // namespace sorvel::x11
