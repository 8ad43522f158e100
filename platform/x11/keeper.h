// The keeper: gives the held windows back at their former places however the holding process
// ends, kill -9 and faults included. When that process's X connection ends, the save-set gives
// each held window back to the root, mapped, where the pane had it; the keeper, a process forked
// when the first window is held that outlives the holder, then puts each where it stood before
// it was taken, for the window manager to frame again.
//
// The holder tells it over a socket pair, one fixed-size record a message, which window is held
// and where it stood, and which is no longer held. The keeper acts once the socket reaches its
// end (the holder has ended, whichever way): over an X connection of its own, only when some
// window is still recorded, and within kKeeperSeconds. It never makes the holder wait: a record
// that cannot go at once is dropped.
//
// Its functions run on the thread that holds the windows. The forked keeper uses nothing of the
// holder's but the socket: it closes every other descriptor (the holder's X connection too) and
// puts every signal back to its default action.
#pragma once

#include <X11/Xlib.h>

#include <cstdint>

#include "platform/x11/x11_windows.h"

namespace sorvel::x11 {

// How long the keeper may take, after the holder's end, before it gives up.
constexpr unsigned kKeeperSeconds = 5;

// One message from the holder to the keeper.
struct KeeperRecord {
  enum Kind : std::uint32_t { kHeld = 0x4B48454C, kGivenBack = 0x4B474956 };
  std::uint32_t kind = 0;
  std::uint32_t window = 0;
  // The window's frame on the screen before it was taken, and its own place in that frame
  // (x, y) with the frame's extra width and height: as GiveBack takes them.
  std::int32_t frame[4] = {};
  std::int32_t insets[4] = {};
  std::int32_t border = 0;
};

class Keeper {
 public:
  Keeper() = default;
  // Closes this end of the socket: the keeper ends, once it has put back the windows still
  // recorded (they come back to the root when this process's X connection ends).
  ~Keeper();
  Keeper(const Keeper&) = delete;
  Keeper& operator=(const Keeper&) = delete;

  // The first record forks the keeper; when it cannot be started, the save-set alone gives the
  // windows back, where the panes had them.
  void Held(Window w, const Rect& frame, const Rect& insets, int border);
  void GivenBack(Window w);

 private:
  bool Started();
  void Send(const KeeperRecord& record);

  int socket_ = -1;
  bool tried_ = false;
};

}  // namespace sorvel::x11
