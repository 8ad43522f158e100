#include "host/top_level.h"

namespace sorvel {

std::vector<HWND> ListTopLevelWindows(Platform& platform, std::size_t limit) {
  std::vector<HWND> windows;
  for (HWND window = platform.GetTopWindow(); window != nullptr && windows.size() < limit;
       window = platform.GetWindow(window, kGwHwndNext)) {
    windows.push_back(window);
  }
  return windows;
}

bool IsProgramMainWindow(Platform& platform, HWND window, Text* title) {
  if (!platform.IsWindowVisible(window)) return false;
  *title = platform.GetWindowText(window);
  return !title->empty() && platform.GetWindow(window, kGwOwner) == nullptr &&
         platform.GetParent(window) == nullptr;
}

bool IsHostTitle(const Text& title) {
  return title == u"Tavrin" || title == u"Sorvel";
}

}  // namespace sorvel
