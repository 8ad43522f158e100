// Portable vocabulary shared by the logic and the backends: window handles, rectangles, the
// command codes the logic uses, and UTF-16 text helpers.
// Data and pure functions: any thread.
// Values are Win32's own; names are spelled so that they never collide with <windows.h> macros.
#pragma once

#include <cstdint>
#include <string>

namespace sorvel {

using Text = std::u16string;

struct WindowTag;
using HWND = WindowTag*;  // opaque window handle; nullptr is "no window"

using COLORREF = std::uint32_t;
constexpr COLORREF Rgb(unsigned r, unsigned g, unsigned b) {
  return r | (g << 8) | (b << 16);
}

// The colours a control is painted in.
struct ControlColors {
  COLORREF background = 0;
  COLORREF text = 0;
  bool operator==(const ControlColors& o) const {
    return background == o.background && text == o.text;
  }
};

// left, top, right, bottom
struct Rect {
  std::int32_t left = 0, top = 0, right = 0, bottom = 0;
  std::int32_t Width() const { return right - left; }
  std::int32_t Height() const { return bottom - top; }
  bool IsEmpty() const { return right <= left || bottom <= top; }
  bool operator==(const Rect& o) const {
    return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
  }
};

// x, y, width, height
struct Placement {
  std::int32_t x = 0, y = 0, width = 0, height = 0;
  bool operator==(const Placement& o) const {
    return x == o.x && y == o.y && width == o.width && height == o.height;
  }
};

// The screen: its whole size, and the part of it that the shell's bars leave.
struct Screen {
  std::int32_t width = 0, height = 0;
  Rect workArea;
};

// What the logic asks of a window beyond its visibility.
enum class WindowTrait {
  kVisible,     // shown, and so is every window it lies in (a minimised window counts as shown)
  kChild,       // made to live inside another window (a control, a captured window)
  kToolWindow,  // a floating tool bar or palette, kept out of the lists of programs
  kMinimized,
  kHasChildren,  // holds windows of its own (a dialog's controls)
};

// ShowWindow commands.
enum ShowCommand : int { kSwHide = 0, kSwShow = 5, kSwMinimize = 6 };

// The buttons of a message box.
enum class MessageBoxButtons { kOk, kYesNo };

// The command ids of OK and Cancel, which end a dialog's modal run.
enum CommandId : int { kIdOk = 1, kIdCancel = 2 };

// Command notification codes the logic looks at.
constexpr unsigned kBnClicked = 0;
constexpr unsigned kBnSetFocus = 6;
constexpr unsigned kLbnSelChange = 1;
constexpr unsigned kLbnDblClk = 2;
constexpr unsigned kStnClicked = 0;

// Converts UTF-8 to UTF-16 and back (tests, diagnostics, and the Win32 boundary helpers).
Text FromUtf8(const std::string& s);
std::string ToUtf8(const Text& s);
// Decimal conversion as the C library's wcstol/_wtoi: leading white space, optional sign,
// digits up to the first other character; no digits gives 0. Saturates instead of overflowing.
std::int32_t ParseDecimal(const Text& s);
// "%d"
Text FormatDecimal(std::int32_t n);

}  // namespace sorvel
