// What the native backend's files share: the records behind the handles of our windows and
// timers, and the small conversions between handles, texts and times. Private to platform/x11.
//
// Runs on the user-interface thread, as X11Platform does.
#pragma once

#include <FL/Fl.H>
#include <FL/Fl_Widget.H>
#include <X11/Xlib.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/x11/x11_platform.h"

namespace sorvel::x11_detail {

inline constexpr std::uintptr_t kOwnTag = std::uintptr_t{1} << 40;
inline constexpr std::size_t kMaxPath = 259;
// The display font of every dialog: it covers Hangul.
inline constexpr Fl_Font kDialogFont = FL_FREE_FONT;

inline std::uintptr_t Value(HWND window) {
  return reinterpret_cast<std::uintptr_t>(window);
}
inline HWND Handle(std::uintptr_t value) {
  return reinterpret_cast<HWND>(value);
}

inline std::uint64_t NowMs() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

// A program path as the platform gives it: whole, within the limit, or not at all.
inline Text LimitedPath(const std::string& path) {
  Text text = FromUtf8(path);
  return text.size() > kMaxPath ? Text() : text;
}

// FLTK reads '@' in labels as a symbol and '&' as a shortcut; the text is shown as it is.
inline std::string LabelText(const Text& text) {
  std::string out;
  for (char c : ToUtf8(text)) {
    if (c == '@') out += '@';
    out += c;
  }
  return out;
}

}  // namespace sorvel::x11_detail

namespace sorvel {

struct X11Platform::Node {
  std::uintptr_t handle = 0;
  bool dialog = false;
  int id = 0;                               // a control's
  ControlKind kind = ControlKind::kStatic;  // a control's
  std::uint32_t style = 0;                  // a control's template style
  Fl_Widget* widget = nullptr;              // a dialog's window owns its controls' widgets
  std::uintptr_t parent = 0;                // a control's dialog
  std::uintptr_t owner = 0;                 // a dialog's owner
  std::vector<std::uintptr_t> controls;     // a dialog's, topmost first
  DialogSink* sink = nullptr;
  Text text;
  std::string label;   // the widget's label, kept alive here
  int menuHeight = 0;  // a dialog's menu bar, above its client area
  bool topmost = false;
  bool minimized = false;
  // A dialog's placement asked for before it was shown: its frame's numbers, which can only be
  // turned into the window's once the window manager has framed it.
  std::optional<Placement> unframed;
  // A dialog's latest placement: asked for again when its manager changes its frame, and the
  // frame's extents it was made for (a manager may announce the same ones after every move).
  std::optional<Placement> placed;
  x11::Extents placedExtents;
};

// A dialog's units in pixels, from its font as the platform measures it: the average width of
// the Latin letters and the line height.
struct X11Platform::Units {
  int baseX = 0;
  int baseY = 0;
  int fontPixels = 0;
  int X(int dialogUnits) const { return (dialogUnits * baseX + 2) / 4; }
  int Y(int dialogUnits) const { return (dialogUnits * baseY + 4) / 8; }
};

struct X11Platform::Timer {
  X11Platform* platform;
  std::uintptr_t window;
  unsigned id;
  double seconds;
};

}  // namespace sorvel
