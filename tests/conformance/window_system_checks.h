// Checks of the window-system behaviour the host's logic relies on, written once and run
// against both backends: natively against the simulated device, and under Wine against the
// win32 backend with a real foreign process. Where the two disagree, the simulation is wrong.
#pragma once

#include "platform/platform.h"

namespace sorvel::conformance {

class Environment {
 public:
  virtual ~Environment() = default;
  virtual Platform& Device() = 0;
  // A visible top-level window of another process, titled `title`.
  virtual HWND StartForeignWindow(const Text& title) = 0;
  // The program file of the process StartForeignWindow started last.
  virtual Text ForeignProgramPath() = 0;
  // Lets `milliseconds` pass with this process's messages dispatched.
  virtual void Pump(unsigned milliseconds) = 0;
};

#define SORVEL_WINDOW_SYSTEM_CHECKS(X)        \
  X(DialogControlsFollowTheTemplate)          \
  X(OwnedDialogHasAnOwnerButNoParent)         \
  X(ReparentingKeepsThePositionNumbers)       \
  X(StyleIsReplacedWhole)                     \
  X(DestroyingAParentDestroysForeignChildren) \
  X(TopmostWindowLeadsTheStackingOrder)       \
  X(FindWindowMatchesTheWholeTitleExactly)    \
  X(ShowHideAndMinimise)                      \
  X(TimersArriveUntilKilled)

#define SORVEL_DECLARE_CHECK(name) void Check##name(Environment& environment);
SORVEL_WINDOW_SYSTEM_CHECKS(SORVEL_DECLARE_CHECK)
#undef SORVEL_DECLARE_CHECK

}  // namespace sorvel::conformance
