#include "host/pane_layout.h"

#include <algorithm>
#include <climits>

#include "host/resources.h"
#include "settings/settings.h"

namespace sorvel {

const std::array<PaneControls, kPaneCount> kPaneControls = {{
    {kIdDisplay1, kIdButtonA1, kIdUp1, kIdDown1, kIdToggle1, kFileName1, kFileFullPath1,
     kPositionTop1},
    {kIdDisplay2, kIdButtonA2, kIdUp2, kIdDown2, kIdToggle2, kFileName2, kFileFullPath2,
     kPositionTop2},
    {kIdDisplay3, kIdButtonA3, kIdUp3, kIdDown3, kIdToggle3, kFileName3, kFileFullPath3,
     kPositionTop3},
}};

namespace {

struct Band {
  int top;            // where the small buttons and the display control start
  int bottom;         // the A button sits one pixel above this edge
  int displayHeight;  // upper bands leave a one-pixel line below them
};

}  // namespace

std::vector<ControlMove> LayoutPanes(int width, int height, bool threePanes,
                                     const std::function<Size(int id)>& buttonSize) {
  int p = height / 3, q = (2 * height) / 3, r = height / 2;
  const Band three[] = {{0, p, p - 1}, {p, q, p - 1}, {q, height, p}};
  const Band two[] = {{0, r, r - 1}, {r, height, r - 1}};
  const Band* bands = threePanes ? three : two;
  int count = threePanes ? 3 : 2;

  std::vector<ControlMove> moves;
  for (int i = 0; i < count; ++i) {
    const PaneControls& pane = kPaneControls[i];
    const Band& band = bands[i];
    Size a = buttonSize(pane.buttonA);
    moves.push_back({pane.buttonA, {width - a.cx, band.bottom - a.cy - 1, a.cx, a.cy}});
    Size up = buttonSize(pane.buttonUp);
    moves.push_back({pane.buttonUp, {0, band.top, up.cx, up.cy}});
    Size down = buttonSize(pane.buttonDown);
    moves.push_back({pane.buttonDown, {down.cx + 1, band.top, down.cx, down.cy}});
    Size toggle = buttonSize(pane.buttonToggle);
    moves.push_back({pane.buttonToggle, {2 * (toggle.cx + 1), band.top, toggle.cx, toggle.cy}});
    moves.push_back({pane.display, {0, band.top, width, band.displayHeight}});
  }
  return moves;
}

int ShiftOffset(int offset, int step) {
  long long sum = static_cast<long long>(offset) + step;
  return static_cast<int>(std::clamp<long long>(sum, INT_MIN, INT_MAX));
}

Placement PanePlacement(int width, int height, int offset) {
  return {0, offset, width, ShiftOffset(height, offset)};
}

}  // namespace sorvel
