// The device's top-level windows as the host's scans and the window picker see them.
// Runs on the user-interface thread; nothing here re-enters or blocks.
#pragma once

#include <cstddef>
#include <vector>

#include "platform/platform.h"

namespace sorvel {

// How many top-level windows the host's own scans look at.
constexpr std::size_t kScanLimit = 201;

// A program's main window: visible, titled, neither owned nor a child. Its title goes to
// `title`, read once.
bool IsProgramMainWindow(Platform& platform, HWND window, Text* title);

// The captions of the host's own main window.
bool IsHostTitle(const Text& title);

}  // namespace sorvel
