// Where the pane controls go for a split into three or two bands, and the rectangle at which
// a hosted window sits inside its pane.
// Pure functions: any thread.
#pragma once

#include <array>
#include <functional>
#include <vector>

#include "platform/types.h"

namespace sorvel {

constexpr int kPaneCount = 3;

// The controls and settings keys of one pane.
struct PaneControls {
  int display;
  int buttonA;
  int buttonUp;
  int buttonDown;
  int buttonToggle;
  int titleKey;   // FileName<n>
  int pathKey;    // FileFullPath<n>
  int offsetKey;  // PositionTop<n>
};

extern const std::array<PaneControls, kPaneCount> kPaneControls;

struct ControlMove {
  int id;
  Placement placement;
};

struct Size {
  int cx = 0, cy = 0;
};

// Moves for every pane control of the split, pane by pane (A, up, down, toggle, display).
// `width`/`height` are the client rectangle's right and bottom edges; buttons keep their own
// size, given by `buttonSize`.
std::vector<ControlMove> LayoutPanes(int width, int height, bool threePanes,
                                     const std::function<Size(int id)>& buttonSize);

// x 0, y offset, width W, height H + offset; the sum saturates at the ends of int (an offset
// read from the settings may be any 32-bit number).
Placement PanePlacement(int width, int height, int offset);

// offset + step, saturated likewise: nudging has no limit but never wraps around.
int ShiftOffset(int offset, int step);

}  // namespace sorvel
