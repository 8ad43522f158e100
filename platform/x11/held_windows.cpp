#include "platform/x11/held_windows.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>
#include <poll.h>

#include <algorithm>

#include "platform/x11/keeper.h"
#include "platform/x11/x11_errors.h"

namespace sorvel::x11 {
namespace {

// How long Take waits for a window manager to let go of a withdrawn window: it unmaps it and
// gives it to the root, or (a Wayland compositor's X server) marks it withdrawn in the frame
// where it stays. Measured: 1 to 90 ms.
constexpr std::chrono::milliseconds kLetGoWait{500};
// How long Take watches a window it took from a manager that kept it framed: taken again each
// time the manager pulls it away (Weston does once, into a window of its own), done once it has
// stayed for kQuiet, given up after kMaxCorrections.
constexpr std::chrono::milliseconds kStayWait{1000};
constexpr std::chrono::milliseconds kQuiet{100};
constexpr int kMaxCorrections = 3;
// How long GiveBack waits for the window manager to frame the window it gives back.
constexpr std::chrono::milliseconds kManageWait{2000};

Bool IsEventOn(Display*, XEvent* e, XPointer window) {
  return e->xany.window == *reinterpret_cast<Window*>(window) ? True : False;
}

// The window's own place in its frame `frame`.
Rect ClientIn(const Rect& frame, const Rect& insets) {
  return Rect{frame.x + insets.x, frame.y + insets.y, std::max(frame.width - insets.width, 1),
              std::max(frame.height - insets.height, 1)};
}

bool IsStructureChange(const XEvent& e) {
  return e.type == ReparentNotify || e.type == UnmapNotify || e.type == MapNotify ||
         e.type == DestroyNotify;
}

}  // namespace

HeldWindows::HeldWindows(X11Windows& windows, Keeper* keeper)
    : windows_(windows), keeper_(keeper), display_(windows.display()), root_(windows.root()) {
  InternAtoms(display_, {{"WM_STATE", &wm_state_},
                         {"WM_PROTOCOLS", &wm_protocols_},
                         {"WM_TAKE_FOCUS", &wm_take_focus_},
                         {"_NET_WM_STATE", &net_wm_state_},
                         {"_NET_WM_STATE_FOCUSED", &net_wm_state_focused_},
                         {"_NET_MOVERESIZE_WINDOW", &net_moveresize_window_},
                         {"_GTK_FRAME_EXTENTS", &gtk_frame_extents_}});
}

Window HeldWindows::ParentOf(Window w) {
  Window root = None, parent = None, *children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(display_, w, &root, &parent, &children, &count)) return None;
  if (children) XFree(children);
  return parent;
}

// Waits, at most `bound`, until `done` holds for `w`, taking the events on `w` (which only this
// object selects) as they come. Never waits on the window's own client.
bool HeldWindows::WaitFor(Window w, bool (HeldWindows::*done)(Window),
                          std::chrono::milliseconds bound) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  for (;;) {
    if ((this->*done)(w)) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    XEvent e;
    bool any = false;
    while (XCheckIfEvent(display_, &e, &IsEventOn, reinterpret_cast<XPointer>(&w))) {
      HandleEvent(e);
      any = true;
    }
    if (!any) {
      pollfd fd{ConnectionNumber(display_), POLLIN, 0};
      poll(&fd, 1, 5);
    }
  }
}

// Unmapped, and either back at the root with its WM_STATE taken away or set to withdrawn (the
// manager has let go of it and is done with it: it restores the border width before the state),
// or marked withdrawn where it is (the manager keeps it).
bool HeldWindows::IsLetGo(Window w) {
  XWindowAttributes a;
  Property state;
  Window parent = ParentOf(w);
  if (parent == None) return true;  // gone
  bool withdrawn = !(ReadProperty(display_, w, wm_state_, &state) && !state.longs.empty() &&
                     state.longs[0] != WithdrawnState);
  if (!XGetWindowAttributes(display_, w, &a) || a.map_state != IsUnmapped) return false;
  return parent == root_
             ? withdrawn
             : state.type != None && !state.longs.empty() && state.longs[0] == WithdrawnState;
}

// Taken by the manager: in a frame of its own and marked as its client (WM_STATE, which it sets
// a moment after it has framed the window), or mapped by a manager that does not frame.
bool HeldWindows::IsManaged(Window w) {
  XWindowAttributes a;
  Property state;
  Window parent = ParentOf(w);
  if (parent == None) return true;  // gone
  if (parent == root_) return XGetWindowAttributes(display_, w, &a) && a.map_state == IsViewable;
  return ReadProperty(display_, w, wm_state_, &state) && !state.longs.empty() &&
         state.longs[0] != WithdrawnState;
}

// In the pane and mapped, and left there for kQuiet: each time the manager pulls the window
// away (re-parents or unmaps it) it is taken back.
bool HeldWindows::StaysIn(Window w) {
  XWindowAttributes a;
  Window parent = ParentOf(w);
  if (parent == None) return true;  // gone: nothing to wait for
  if (parent != takingPane_) {
    if (++corrections_ > kMaxCorrections) return true;  // the manager will not let it go
    XSetWindowBorderWidth(display_, w, 0);
    XReparentWindow(display_, w, takingPane_, takingX_, takingY_);
    XMapWindow(display_, w);
    quietSince_ = std::chrono::steady_clock::now();
    return false;
  }
  if (XGetWindowAttributes(display_, w, &a) && a.map_state == IsUnmapped) {
    XMapWindow(display_, w);
    quietSince_ = std::chrono::steady_clock::now();
    return false;
  }
  return std::chrono::steady_clock::now() - quietSince_ >= kQuiet;
}

// In the save-set, a window goes back to the root, mapped, when this connection ends in any
// way. The core request picks the nearest ancestor not ours and does not map; XFixes can say
// both.
void HeldWindows::KeepInSaveSet(Window w, bool keep) {
  if (windows_.HasXFixes()) {
    XFixesChangeSaveSet(display_, w, keep ? SetModeInsert : SetModeDelete, SaveSetRoot, SaveSetMap);
  } else if (keep) {
    XAddToSaveSet(display_, w);
  } else {
    XRemoveFromSaveSet(display_, w);
  }
}

bool HeldWindows::Take(Window w, Window pane, Window dialog, int x, int y, const Rect& insets) {
  ErrorTrap trap(display_);
  XSelectInput(display_, w, StructureNotifyMask | FocusChangeMask);
  KeepInSaveSet(w, true);
  XWithdrawWindow(display_, w, DefaultScreen(display_));
  if (trap.Failed()) {
    XSelectInput(display_, w, NoEventMask);
    return false;
  }
  const bool managed = windows_.HasWindowManager();
  if (managed) WaitFor(w, &HeldWindows::IsLetGo, kLetGoWait);
  // A window the manager gave to the root stays where it is put; one it keeps framed is
  // watched until it stays.
  const bool atRoot = !managed || ParentOf(w) == root_;
  XWindowAttributes a;
  Held held;
  held.pane = pane;
  held.dialog = dialog;
  held.insets = insets;
  Property shadow;
  if (ReadProperty(display_, w, gtk_frame_extents_, &shadow) && shadow.longs.size() == 4) {
    held.shadow = Extents{static_cast<int>(shadow.longs[0]), static_cast<int>(shadow.longs[1]),
                          static_cast<int>(shadow.longs[2]), static_cast<int>(shadow.longs[3])};
  }
  held.border = 0;
  if (XGetWindowAttributes(display_, w, &a)) {
    held.border = a.border_width;
    // From here on the keeper knows where it stood, should this process end while it is held.
    if (keeper_ != nullptr) {
      keeper_->Held(w, {x, y, a.width + insets.width, a.height + insets.height}, insets,
                    a.border_width);
    }
  }
  XSetWindowBorderWidth(display_, w, 0);
  XReparentWindow(display_, w, pane, x, y);
  XMapWindow(display_, w);
  if (!atRoot) {
    corrections_ = 0;
    taking_ = w;
    takingPane_ = pane;
    takingX_ = x;
    takingY_ = y;
    quietSince_ = std::chrono::steady_clock::now();
    WaitFor(w, &HeldWindows::StaysIn, kStayWait);
    taking_ = None;
  }
  if (!trap.Failed() && ParentOf(w) == pane) {
    held_[w] = held;
    order_.insert(order_.begin(), w);
    FocusWindowOf(dialog);
    // A click in the pane goes first to this connection, which gives the keyboard and passes
    // the click on (ReplayPointer).
    XGrabButton(display_, AnyButton, AnyModifier, pane, False, ButtonPressMask, GrabModeSync,
                GrabModeAsync, None, None);
    TellPosition(w);
    return true;
  }
  // Left as it was found, as far as it still exists.
  if (keeper_ != nullptr) keeper_->GivenBack(w);
  XReparentWindow(display_, w, root_, x, y);
  XMapWindow(display_, w);
  KeepInSaveSet(w, false);
  XSelectInput(display_, w, NoEventMask);
  return false;
}

void HeldWindows::Forget(Window w) {
  auto held = held_.find(w);
  if (held == held_.end()) return;
  Window pane = held->second.pane;
  Window dialog = held->second.dialog;
  held_.erase(held);
  order_.erase(std::remove(order_.begin(), order_.end(), w), order_.end());
  if (InPane(pane).empty()) XUngrabButton(display_, AnyButton, AnyModifier, pane);
  if (auto focus = focus_.find(dialog); focus != focus_.end() && focus->second == w) {
    focus->second = None;
  }
  for (auto it = transients_.begin(); it != transients_.end();) {
    it = it->second == w ? transients_.erase(it) : std::next(it);
  }
}

bool HeldWindows::GiveBack(Window w, const Rect& frame) {
  ErrorTrap trap(display_);
  auto found = held_.find(w);
  const Held held = found != held_.end() ? found->second : Held{};
  // Its dialogs are its own again.
  for (const auto& [transient, owner] : transients_) {
    if (owner == w) XSetTransientForHint(display_, transient, w);
  }
  Forget(w);
  const Rect client = ClientIn(frame, held.insets);
  const bool managed = windows_.HasWindowManager();
  XDeleteProperty(display_, w, net_wm_state_);
  XUnmapWindow(display_, w);
  XSetWindowBorderWidth(display_, w, held.border);
  // A manager places the frame's corner where the window stands (north-west gravity); without
  // one the window with its border is the frame.
  XReparentWindow(display_, w, root_, managed ? frame.x : client.x - held.border,
                  managed ? frame.y : client.y - held.border);
  XResizeWindow(display_, w, client.width, client.height);
  // Out of the save-set before a manager frames it: the server would pull it out of the
  // frame to the root if this connection ended.
  KeepInSaveSet(w, false);
  XMapWindow(display_, w);
  // The server has the requests before the keeper forgets the window: should this process end
  // now, it still carries them out.
  XFlush(display_);
  if (keeper_ != nullptr) keeper_->GivenBack(w);
  if (managed && WaitFor(w, &HeldWindows::IsManaged, kManageWait)) AskPlace(w, frame, client);
  XSelectInput(display_, w, NoEventMask);
  return !trap.Failed();
}

void HeldWindows::AskPlace(Window w, const Rect& frame, const Rect& client) {
  if (windows_.SupportsNet(net_moveresize_window_)) {
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = w;
    e.xclient.message_type = net_moveresize_window_;
    e.xclient.format = 32;
    // North-west gravity: the frame's corner; x, y, width, height given; from a pager.
    e.xclient.data.l[0] = NorthWestGravity | (0xF << 8) | (2 << 12);
    e.xclient.data.l[1] = frame.x;
    e.xclient.data.l[2] = frame.y;
    e.xclient.data.l[3] = client.width;
    e.xclient.data.l[4] = client.height;
    XSendEvent(display_, root_, False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
  } else {
    // A manager without the request (Weston) honours the client's own.
    XMoveResizeWindow(display_, w, frame.x, frame.y, client.width, client.height);
  }
}

bool HeldWindows::PutBack(Window w, const Rect& frame, const Rect& insets, int border) {
  ErrorTrap trap(display_);
  const Rect client = ClientIn(frame, insets);
  if (windows_.HasWindowManager()) {
    // Still in the ended holder's pane until the server has closed its connection; then
    // mapped at the root, where the manager frames it.
    if (!WaitFor(w, &HeldWindows::IsManaged, kManageWait)) return false;
    AskPlace(w, frame, client);
  } else {
    XSetWindowBorderWidth(display_, w, border);
    XReparentWindow(display_, w, root_, client.x - border, client.y - border);
    XResizeWindow(display_, w, client.width, client.height);
    XMapWindow(display_, w);
  }
  return !trap.Failed();
}

void HeldWindows::GiveBackAll(Window dialog) {
  std::vector<Window> inDialog;
  for (Window w : order_) {
    if (held_[w].dialog == dialog) inDialog.push_back(w);
  }
  for (Window w : inDialog) {
    const Rect& insets = held_[w].insets;
    Rect r;
    if (!windows_.ScreenRect(w, &r)) r = Rect{};
    GiveBack(w, {r.x - insets.x, r.y - insets.y, r.width + insets.width, r.height + insets.height});
  }
  focus_.erase(dialog);
  focusWindow_.erase(dialog);
}

// The keyboard's focus is `w` or a window inside it.
bool HeldWindows::HasFocusInside(Window w) {
  Window focus = None;
  int revert = 0;
  XGetInputFocus(display_, &focus, &revert);
  for (int depth = 0; focus != None && focus != PointerRoot && depth < 8; ++depth) {
    if (focus == w) return true;
    if (focus == root_) return false;
    focus = ParentOf(focus);
  }
  return false;
}

// A button is down over a pane: its click comes to this connection next, through the grab.
bool HeldWindows::ClickingInPane() {
  Window root = None, child = None;
  int rootX = 0, rootY = 0, x = 0, y = 0;
  unsigned mask = 0;
  if (!XQueryPointer(display_, root_, &root, &child, &rootX, &rootY, &x, &y, &mask) ||
      (mask & (Button1Mask | Button2Mask | Button3Mask)) == 0) {
    return false;
  }
  for (const auto& [w, held] : held_) {
    Window under = None;
    XWindowAttributes a;
    if (XTranslateCoordinates(display_, root_, held.pane, rootX, rootY, &x, &y, &under) &&
        XGetWindowAttributes(display_, held.pane, &a) && x >= 0 && y >= 0 && x < a.width &&
        y < a.height) {
      return true;
    }
  }
  return false;
}

Window HeldWindows::PaneOf(Window w) const {
  auto held = held_.find(w);
  return held == held_.end() ? None : held->second.pane;
}

std::vector<Window> HeldWindows::InPane(Window pane) const {
  std::vector<Window> out;
  for (Window w : order_) {
    if (held_.at(w).pane == pane) out.push_back(w);
  }
  return out;
}

bool HeldWindows::MoveResize(Window w, const Rect& r) {
  auto held = held_.find(w);
  const Extents shadow = held != held_.end() ? held->second.shadow : Extents{};
  if (!windows_.MoveResize(
          w, {r.x - shadow.left, r.y - shadow.top, r.width + shadow.left + shadow.right,
              r.height + shadow.top + shadow.bottom})) {
    return false;
  }
  if (held != held_.end()) TellPosition(w);
  return true;
}

bool HeldWindows::ContentRect(Window w, Rect* out) {
  if (!windows_.ScreenRect(w, out)) return false;
  auto held = held_.find(w);
  if (held == held_.end()) return true;
  const Extents& shadow = held->second.shadow;
  *out = Rect{out->x + shadow.left, out->y + shadow.top, out->width - shadow.left - shadow.right,
              out->height - shadow.top - shadow.bottom};
  return true;
}

// ICCCM 4.1.5: a window the manager moved learns its place in root coordinates from a synthetic
// ConfigureNotify; the real one names its parent's coordinates, which for a held window are the
// pane's.
void HeldWindows::TellPosition(Window w) {
  ErrorTrap trap(display_);
  XWindowAttributes a;
  Window child = None;
  int x = 0, y = 0;
  if (!XGetWindowAttributes(display_, w, &a) ||
      !XTranslateCoordinates(display_, w, root_, 0, 0, &x, &y, &child)) {
    return;
  }
  XEvent e{};
  e.xconfigure.type = ConfigureNotify;
  e.xconfigure.event = w;
  e.xconfigure.window = w;
  e.xconfigure.x = x - a.border_width;
  e.xconfigure.y = y - a.border_width;
  e.xconfigure.width = a.width;
  e.xconfigure.height = a.height;
  e.xconfigure.border_width = a.border_width;
  e.xconfigure.above = None;
  e.xconfigure.override_redirect = False;
  XSendEvent(display_, w, False, StructureNotifyMask, &e);
}

void HeldWindows::TellPositions(Window dialog) {
  for (Window w : order_) {
    if (held_[w].dialog == dialog) TellPosition(w);
  }
}

// The dialog's own controls take the keys through a window of their own: an input-only child
// of the dialog, outside every pane, which passes them on to the dialog.
Window HeldWindows::FocusWindowOf(Window dialog) {
  auto found = focusWindow_.find(dialog);
  if (found != focusWindow_.end()) return found->second;
  XSetWindowAttributes attributes{};
  Window w = XCreateWindow(display_, dialog, -1, -1, 1, 1, 0, 0, InputOnly, CopyFromParent, 0,
                           &attributes);
  XMapWindow(display_, w);
  focusWindow_[dialog] = w;
  return w;
}

void HeldWindows::Focus(Window dialog, Window w, Time time) {
  if (w != None && (!Holds(w) || held_[w].parted)) w = None;
  // A dialog that never held a window keeps the keyboard as the toolkit gives it.
  if (w == None && focusWindow_.count(dialog) == 0) return;
  ErrorTrap trap(display_);
  focus_[dialog] = w;
  if (w == None) {
    XSetInputFocus(display_, FocusWindowOf(dialog), RevertToParent, CurrentTime);
    return;
  }
  // ICCCM 4.1.7: a client takes the focus when its hints allow input (no hints: it does) and
  // is told with WM_TAKE_FOCUS when it asks to be.
  bool input = true;
  if (XWMHints* hints = XGetWMHints(display_, w)) {
    if ((hints->flags & InputHint) != 0) input = hints->input != False;
    XFree(hints);
  }
  Atom* protocols = nullptr;
  int count = 0;
  bool takeFocus = false;
  if (XGetWMProtocols(display_, w, &protocols, &count)) {
    takeFocus = std::find(protocols, protocols + count, wm_take_focus_) != protocols + count;
    XFree(protocols);
  }
  if (input) XSetInputFocus(display_, w, RevertToParent, time);
  if (takeFocus) {
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = w;
    e.xclient.message_type = wm_protocols_;
    e.xclient.format = 32;
    e.xclient.data.l[0] = static_cast<long>(wm_take_focus_);
    e.xclient.data.l[1] = static_cast<long>(time != CurrentTime ? time : lastTime_);
    XSendEvent(display_, w, False, NoEventMask, &e);
  }
}

void HeldWindows::ShareInput(Window w, bool shared) {
  auto held = held_.find(w);
  if (held == held_.end() || held->second.parted == !shared) return;
  held->second.parted = !shared;
  if (shared) return;
  const Window dialog = held->second.dialog;
  ErrorTrap trap(display_);
  if (HasFocusInside(w)) {
    Focus(dialog, None, CurrentTime);
  } else if (focus_[dialog] == w) {
    focus_[dialog] = None;  // not given back to it when the dialog is activated again
  }
}

// The state is the window manager's to set on the windows it manages; for a held window the
// host is its manager. Toolkits draw a window without it as inactive where the desktop's
// manager announces the state.
void HeldWindows::SetFocusedState(Window w, bool focused) {
  ErrorTrap trap(display_);
  Property state;
  std::vector<unsigned long> atoms;
  if (ReadProperty(display_, w, net_wm_state_, &state)) atoms = state.longs;
  auto at = std::find(atoms.begin(), atoms.end(), net_wm_state_focused_);
  if ((at != atoms.end()) == focused) return;
  if (focused) {
    atoms.push_back(net_wm_state_focused_);
  } else {
    atoms.erase(at);
  }
  XChangeProperty(display_, w, net_wm_state_, XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(atoms.data()),
                  static_cast<int>(atoms.size()));
}

void HeldWindows::AdoptTransient(Window transient, Window owner) {
  auto held = held_.find(owner);
  if (held == held_.end() || transient == held->second.dialog) return;
  ErrorTrap trap(display_);
  XSetTransientForHint(display_, transient, held->second.dialog);
  if (!trap.Failed()) transients_[transient] = owner;
}

void HeldWindows::AdoptTransients(Window w, const std::vector<Window>& transients) {
  for (Window t : transients) AdoptTransient(t, w);
}

bool HeldWindows::HandleEvent(XEvent& event) {
  switch (event.type) {
    case ButtonPress:
    case ButtonRelease:
      lastTime_ = event.xbutton.time;
      break;
    case KeyPress:
    case KeyRelease:
      lastTime_ = event.xkey.time;
      break;
    case PropertyNotify:
      lastTime_ = event.xproperty.time;
      break;
    default:
      break;
  }
  const Window window = event.xany.window;
  if (window == taking_ && taking_ != None && IsStructureChange(event)) {
    quietSince_ = std::chrono::steady_clock::now();
  }
  if (event.type == ButtonPress && !held_.empty()) {
    // The passive grab of a pane: the keyboard goes where the user clicked, then the click
    // goes on to whatever lies under the pointer.
    for (const auto& [w, held] : held_) {
      if (held.pane != window) continue;
      Window under = Holds(event.xbutton.subwindow) ? event.xbutton.subwindow : None;
      // A window that has the keyboard already keeps it as it is (its toolkit may have given it
      // to a window of its own inside).
      if (under == None || !HasFocusInside(under)) {
        Focus(held.dialog, under, event.xbutton.time);
      }
      XAllowEvents(display_, ReplayPointer, event.xbutton.time);
      XFlush(display_);  // the pointer stays frozen until the server has it
      return true;
    }
    return false;
  }
  // The focus passing to a window inside the dialog (its focus window, a held window) leaves
  // the keys with the dialog as far as the toolkit is concerned.
  if (event.type == FocusOut && focusWindow_.count(window) != 0 &&
      event.xfocus.detail == NotifyInferior) {
    return true;
  }
  if (event.type == FocusIn && focusWindow_.count(window) != 0 &&
      event.xfocus.mode == NotifyNormal && event.xfocus.detail != NotifyPointer) {
    // The window manager gave the dialog itself the focus (activating it, or on a click in
    // it): the keys go where they went before. A click in a pane decides for itself.
    Window focus = None;
    int revert = 0;
    XGetInputFocus(display_, &focus, &revert);
    if (focus == window && !ClickingInPane()) Focus(window, focus_[window], CurrentTime);
    return false;
  }
  if (Holds(window)) {
    switch (event.type) {
      case DestroyNotify:
        if (event.xdestroywindow.window == window) {
          Forget(window);
          if (keeper_ != nullptr) keeper_->GivenBack(window);
        }
        break;
      case ConfigureNotify:
        // Managers set borders on windows they let go of (their frame's, or the window's former
        // one a moment later): a held window has none.
        if (event.xconfigure.border_width != 0 && !event.xconfigure.send_event) {
          ErrorTrap trap(display_);
          XSetWindowBorderWidth(display_, window, 0);
        }
        break;
      case FocusIn:
        if (event.xfocus.detail != NotifyPointer) SetFocusedState(window, true);
        break;
      case FocusOut:
        if (event.xfocus.detail != NotifyPointer && event.xfocus.detail != NotifyInferior) {
          SetFocusedState(window, false);
        }
        break;
      default:
        break;
    }
    return false;
  }
  // A held program's new dialog, as the window manager takes it (or maps it, with none).
  Window mapped = None;
  if (event.type == ReparentNotify && event.xreparent.event == root_ &&
      event.xreparent.parent != root_ && !event.xreparent.override_redirect) {
    mapped = event.xreparent.window;
  } else if (event.type == MapNotify && event.xmap.event == root_ &&
             !event.xmap.override_redirect) {
    mapped = event.xmap.window;
  }
  if (mapped != None && !held_.empty() && transients_.count(mapped) == 0) {
    Window owner = windows_.Owner(mapped);
    if (Holds(owner)) AdoptTransient(mapped, owner);
  }
  return false;
}

}  // namespace sorvel::x11
