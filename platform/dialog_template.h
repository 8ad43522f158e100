// Dialog templates and their menu bars as data. The win32 backend builds the in-memory dialog
// template from these records; the simulated device builds its windows from them.
// Constant data and pure functions: any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/types.h"

namespace sorvel {

// Dialog and control style bits (Win32 values).
constexpr std::uint32_t kWsVisible = 0x10000000;
constexpr std::uint32_t kWsPopup = 0x80000000;
constexpr std::uint32_t kWsCaption = 0x00C00000;
constexpr std::uint32_t kWsBorder = 0x00800000;
constexpr std::uint32_t kWsSysMenu = 0x00080000;
constexpr std::uint32_t kWsVScroll = 0x00200000;
constexpr std::uint32_t kWsGroup = 0x00020000;
constexpr std::uint32_t kWsTabStop = 0x00010000;
constexpr std::uint32_t kDsModalFrame = 0x00000080;
constexpr std::uint32_t kDsCenter = 0x00000800;
constexpr std::uint32_t kBsNotify = 0x00004000;
constexpr std::uint32_t kSsNotify = 0x00000100;
constexpr std::uint32_t kLbsNotify = 0x0001;
constexpr std::uint32_t kLbsNoIntegralHeight = 0x0100;

enum class ControlKind { kPushButton, kRadioButton, kStatic, kListBox, kProgressBar };

struct ControlTemplate {
  int id;
  ControlKind kind;
  const char16_t* text;
  int x, y, cx, cy;     // dialog units
  std::uint32_t style;  // kind-specific bits beyond child, visible and the kind itself
  bool visible;
};

struct MenuItem {
  const char16_t* text;
  unsigned command;             // 0 for a pop-up
  std::vector<MenuItem> popup;  // the pop-up's entries
};

struct MenuTemplate {
  std::vector<MenuItem> items;  // the bar's top-level entries
};

struct DialogTemplate {
  int icon;    // the program's icon that the dialog bears, a resource id; 0 for none
  int cx, cy;  // dialog units
  std::uint32_t style;
  const char16_t* title;
  const char16_t* fontName;
  int fontPoints;
  std::vector<ControlTemplate> controls;  // in stacking order, topmost first
  // The menu bar, above the client area, which gives it the bar's height; null for none.
  const MenuTemplate* menu = nullptr;
};

// The window class a control of this kind has on the platform, as GetClassName names it.
const char16_t* ControlClassName(ControlKind kind);

// Where `text` goes among the sorted `items`, in the order of the lists the programs show
// (Win32's sorted list box order, which the lists keep on every platform).
std::size_t SortedListPlace(const std::vector<Text>& items, const Text& text);

}  // namespace sorvel
