#include "host/top_level.h"

namespace sorvel {

bool IsProgramMainWindow(Platform& platform, HWND window, Text* title) {
  if (!platform.HasWindowTrait(window, WindowTrait::kVisible)) return false;
  *title = platform.GetWindowText(window);
  return !title->empty() && platform.GetOwner(window) == nullptr &&
         !platform.HasWindowTrait(window, WindowTrait::kChild);
}

bool IsHostTitle(const Text& title) {
  return title == u"Tavrin" || title == u"Sorvel";
}

}  // namespace sorvel
