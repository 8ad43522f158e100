// Portable vocabulary shared by the logic and the backends: window handles, rectangles,
// the one style and the command codes the logic uses, and UTF-16 text helpers.
// Values are Win32's own; names are spelled so that they never collide with <windows.h> macros.
#pragma once

#include <cstdint>
#include <string>

namespace sorvel {

using Text = std::u16string;

struct WindowTag;
using HWND = WindowTag*;  // opaque window handle; nullptr is "no window"
struct IconTag;
using HICON = IconTag*;

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

// The style of a window that is shown and has nothing else: no caption, no frame, no border.
// The one style the logic makes itself; any other style word is one read from a window, to be
// given back to it whole.
constexpr std::uint32_t kWsVisible = 0x10000000;

// What the logic asks of a window beyond its visibility.
enum class WindowTrait {
  kChild,       // made to live inside another window (a control, a captured window)
  kToolWindow,  // a floating tool bar or palette, kept out of the lists of programs
  kMinimized,
};

// ShowWindow commands.
enum ShowCommand : int { kSwHide = 0, kSwShowNormal = 1, kSwMinimize = 6, kSwShow = 5 };

// GetWindow relations.
enum WindowRelation : unsigned { kGwHwndFirst = 0, kGwHwndNext = 2, kGwOwner = 4, kGwChild = 5 };

// Message box types, and the answers and command ids OK and Cancel.
enum MessageBoxType : unsigned { kMbOk = 0x0, kMbYesNo = 0x4 };
enum MessageBoxAnswer : int { kIdOk = 1, kIdCancel = 2, kIdYes = 6, kIdNo = 7 };

// System metrics.
enum SystemMetric : int { kSmCxScreen = 0, kSmCyScreen = 1 };

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
