// The duties a window manager has towards a client (ICCCM section 4, EWMH), taken on by the host
// for each top-level window of another program that it holds in a pane:
//
// - Take: from wherever the window manager keeps the window (a frame, the root, a compositor's
//   own window), into the pane, borderless and mapped; taken again while the manager pulls it
//   away, until it stays. The save-set makes the X server give it back, mapped, however this
//   connection ends.
// - Focus: a click in the pane gives the held window the keyboard as its input model asks
//   (WM_HINTS input, WM_TAKE_FOCUS) and marks it _NET_WM_STATE_FOCUSED; the keys stay with it
//   wherever the pointer goes, until a click elsewhere or the dialog loses the activation. The
//   dialog's own controls take the keyboard through a focus window of their own, outside every
//   pane, because X gives the keys to the window under the pointer while the focus is on one of
//   its ancestors. A window whose input is parted (its program hangs) takes no keyboard: a
//   click in its pane leaves the keys with the dialog, until its input is shared again.
// - Position: after every move of the held window, its pane or its dialog, a synthetic
//   ConfigureNotify tells it where it is on the screen, so that its popups open beside it.
// - Transients: a held window's dialogs name the host's dialog in WM_TRANSIENT_FOR while their
//   owner is held, so the window manager keeps them in front of the host; given back with it.
// - Destruction: a held window that is destroyed is forgotten at once, so a new window that
//   gets the same id is a window like any other.
// - GiveBack: to the root at the former place, for the window manager to frame anew.
//
// Runs on the user-interface thread, over the connection of the X11Windows it is given;
// HandleEvent must see every event of that connection. Nothing here waits for a held window's
// program: only for the X server and, bounded, for the window manager.
#pragma once

#include <X11/Xlib.h>

#include <chrono>
#include <map>
#include <vector>

#include "platform/x11/x11_windows.h"

namespace sorvel::x11 {

class Keeper;

class HeldWindows {
 public:
  // Uses, but does not own, `windows` and its display, nor `keeper`, which learns of every
  // window held and given back when there is one.
  explicit HeldWindows(X11Windows& windows, Keeper* keeper = nullptr);
  HeldWindows(const HeldWindows&) = delete;
  HeldWindows& operator=(const HeldWindows&) = delete;

  // Takes the top-level window `w` into `pane`, a window of ours inside our top-level window
  // `dialog`, at (x, y). `insets` are the client's place in its frame (x, y) and the frame's
  // extra width and height, for GiveBack. Waits, bounded, for the window manager to let go of
  // the window and for it to stay in the pane. Returns whether it is held.
  bool Take(Window w, Window pane, Window dialog, int x, int y, const Rect& insets);
  // Gives a held window back to the root with its frame's corner at `frame`'s and its own size
  // `frame` less the insets of Take, with its former border, mapped for the window manager to
  // frame anew; under a window manager waits, bounded, until it has taken the window and asks it
  // (_NET_MOVERESIZE_WINDOW) for that place whatever its placement policy. False when the window
  // is gone.
  bool GiveBack(Window w, const Rect& frame);
  // Puts `w`, which a holder that has ended held, back at `frame` as GiveBack would: the
  // save-set has given it back to the root, mapped, and a window manager takes it anew. Waits,
  // bounded, for the manager to have framed it; without one, places it itself. False when the
  // window is gone.
  bool PutBack(Window w, const Rect& frame, const Rect& insets, int border);
  // Gives back every window still held in `dialog`, which is about to be destroyed, where it
  // stands on the screen, and forgets the dialog.
  void GiveBackAll(Window dialog);

  bool Holds(Window w) const { return held_.count(w) != 0; }
  // The pane that holds `w`; None when it is not held.
  Window PaneOf(Window w) const;
  // The windows held in `pane`, topmost first.
  std::vector<Window> InPane(Window pane) const;

  // Moves a held window in its pane and tells it where it now is: `r` is where what it shows
  // goes, the shadow it draws around itself (if any) lies outside.
  bool MoveResize(Window w, const Rect& r);
  // The held window's rectangle in root coordinates as MoveResize names it, without its shadow.
  bool ContentRect(Window w, Rect* out);
  // Tells every window held in `dialog` where it is: the dialog or a pane of it has moved.
  void TellPositions(Window dialog);
  // Gives the keyboard of `dialog` to its held window `w`, or with None (or a `w` whose input
  // is parted) to the dialog's own controls. `time` is the server time of the user's action.
  void Focus(Window dialog, Window w, Time time);
  // Whether the held window `w` takes the keyboard (a window is taken sharing it). Parted, it
  // gives the keyboard it has to its dialog's controls.
  void ShareInput(Window w, bool shared);
  // The transients of the held window `w` (top-level windows that name it their owner) named to
  // the window manager as its dialog's.
  void AdoptTransients(Window w, const std::vector<Window>& transients);

  // Every event of the connection. True when it was consumed here (a click in a pane, which is
  // passed on to the program under the pointer).
  bool HandleEvent(XEvent& event);

 private:
  struct Held {
    Window pane = None;
    Window dialog = None;
    int border = 0;
    Rect insets;
    // The shadow a client draws around its own frame (_GTK_FRAME_EXTENTS: left, right, top,
    // bottom), kept outside the pane as a window manager keeps it outside the frame.
    Extents shadow;
    bool parted = false;  // its input: see ShareInput
  };

  // Asks for the frame's corner at `frame`'s and the window's size `client`'s, of a window the
  // manager has framed.
  void AskPlace(Window w, const Rect& frame, const Rect& client);
  bool WaitFor(Window w, bool (HeldWindows::*done)(Window), std::chrono::milliseconds bound);
  bool IsLetGo(Window w);
  bool IsManaged(Window w);
  bool StaysIn(Window w);
  Window ParentOf(Window w);
  void KeepInSaveSet(Window w, bool keep);
  void Forget(Window w);
  void TellPosition(Window w);
  void SetFocusedState(Window w, bool focused);
  void AdoptTransient(Window transient, Window owner);
  Window FocusWindowOf(Window dialog);
  bool HasFocusInside(Window w);
  bool ClickingInPane();

  X11Windows& windows_;
  Keeper* keeper_;
  Display* display_;
  Window root_;
  std::map<Window, Held> held_;
  std::vector<Window> order_;             // held windows, the latest taken first
  std::map<Window, Window> focus_;        // dialog: its held window with the keyboard, or None
  std::map<Window, Window> focusWindow_;  // dialog: the focus window of its own controls
  std::map<Window, Window> transients_;   // a held window's transient: its owner
  // The window Take watches until it stays, where, and since when nothing moved it.
  Window taking_ = None;
  Window takingPane_ = None;
  int takingX_ = 0, takingY_ = 0;
  std::chrono::steady_clock::time_point quietSince_;
  int corrections_ = 0;
  Time lastTime_ = CurrentTime;  // of the latest event that carries one

  Atom wm_state_, wm_protocols_, wm_take_focus_, net_wm_state_, net_wm_state_focused_;
  Atom net_moveresize_window_, gtk_frame_extents_;
};

}  // namespace sorvel::x11
