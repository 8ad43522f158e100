// Window-system operations on other programs' top-level windows over one Xlib connection: the
// listing in stacking order, their names and owners, the process behind them, and taking them
// into a window of ours and giving them back to the window manager.
//
// Every request that names a foreign window runs under a scoped X error handler: a window that
// vanishes meanwhile (BadWindow and the like) makes the operation report failure instead of
// ending the process. Nothing here waits for a reply from a foreign client; the only waits are
// bounded ones for the window manager (capture and release) and round trips to the X server.
//
// Holding a window: a captured window is a child of a window of ours (a pane). Never unmap or
// destroy that window while it holds the client: the captured window would be unmapped or
// destroyed with it. Release it first.
#pragma once

#include <X11/Xlib.h>
#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace sorvel::x11 {

// x, y in the parent's coordinates (the root's for a top-level window), width, height.
struct Rect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

// What a window manager's frame adds on each side of a window.
struct Extents {
  int left = 0;
  int right = 0;
  int top = 0;
  int bottom = 0;
};

class X11Windows {
 public:
  // Uses, but does not own, `display`. Interns its atoms and looks for the XFixes and X
  // resource extensions (one round trip each).
  explicit X11Windows(Display* display);
  // Gives up a name claimed by ClaimName.
  ~X11Windows();
  X11Windows(const X11Windows&) = delete;
  X11Windows& operator=(const X11Windows&) = delete;

  Display* display() const { return display_; }
  Window root() const { return root_; }

  // True while a window manager runs on the screen (it owns WM_Sn or names a living check
  // window in _NET_SUPPORTING_WM_CHECK). Round trips to the server only.
  bool HasWindowManager();

  // The client (not frame) top-level windows, topmost first: _NET_CLIENT_LIST_STACKING where
  // a running window manager publishes it, else the root's children, or under a reparenting
  // manager their descendants, that carry WM_STATE; with no window manager, the root's children
  // that are not override-redirect. Unmapped ones included. Round trips to the server only.
  std::vector<Window> TopLevelWindows();

  // _NET_WM_NAME, else WM_NAME (STRING, UTF8_STRING or COMPOUND_TEXT); empty when it has none
  // or is gone. Round trips only.
  std::u16string Title(Window w);
  // WM_TRANSIENT_FOR; None when absent, pointing at the root, or the window is gone.
  Window Owner(Window w);
  // _NET_WM_WINDOW_TYPE holds _NET_WM_WINDOW_TYPE_DIALOG.
  bool IsDialog(Window w);
  // The owning process: _NET_WM_PID (unless WM_CLIENT_MACHINE names another host), else the
  // server's own knowledge of the connection (X resource extension). 0 when unknown.
  pid_t ProcessId(Window w);
  // /proc/PID/exe of that process; empty when unknown or not readable.
  std::string ProgramPath(Window w);
  // Mapped (viewable) and not iconified.
  bool IsVisible(Window w);
  // The window's own rectangle (inside its border) in root coordinates.
  bool ScreenRect(Window w, Rect* out);
  // The rectangle of the root's child that holds `w` (its window manager frame, or `w` itself
  // with its border when it is not framed), in root coordinates.
  bool FrameRect(Window w, Rect* out);

  // The frame a window manager gives a new top-level window, before there is one to measure:
  // asked once with _NET_REQUEST_FRAME_EXTENTS on a window of ours that is never mapped (waits
  // for the manager's answer as long as Capture does), then remembered. None without a window
  // manager; false when the manager does not answer.
  bool NewWindowExtents(Extents* out);

  // Moves and sizes a window in its parent's coordinates. No wait.
  bool MoveResize(Window w, const Rect& r);
  // Iconifies through the window manager (XIconifyWindow); with none, unmaps it. No wait.
  bool Iconify(Window w);
  // Maps and raises the window and gives it the focus: _NET_ACTIVE_WINDOW and a raise request to
  // a window manager that supports it, else XMapRaised and XSetInputFocus. No wait.
  bool Foreground(Window w);

  // Takes the top-level window `w` into `parent` at (x, y): adds it to the save-set (so the
  // server gives it back to the root, mapped, whatever way this connection ends), withdraws it,
  // waits up to about two seconds for the window manager to give it up, re-parents it without
  // a border and maps it. Returns whether `w` is then a child of `parent`.
  bool Capture(Window w, Window parent, int x, int y);
  // Gives a captured window back to the root where FrameRect and ScreenRect saw it before the
  // capture, with its former border width, and maps it so that a window manager frames it anew.
  // Under a window manager waits, bounded as Capture, until it has taken the window, then asks it
  // (_NET_MOVERESIZE_WINDOW) to put the frame's corner at `frame`'s and the client at `client`'s
  // size, whatever its placement policy. False when the window is gone.
  bool Release(Window w, const Rect& frame, const Rect& client);
  // The event hook for the caller's event loop, which must hand it the structure events of
  // captured windows (selected by Capture): keeps them borderless when a window manager sets a
  // border on them (matchbox does; openbox gives back the former border a moment after it let
  // go of the window). True when the event was one of theirs.
  bool HandleEvent(const XEvent& event);

  // Single instance by name: claims the selection named `name` with a small window of ours
  // unless another client owns it. The claim lasts until this object or its connection goes.
  // Round trips only.
  bool ClaimName(const std::string& name);

 private:
  Atom Intern(const char* name);
  bool WaitFor(Window w, bool (X11Windows::*done)(Window));
  bool IsWithdrawnToRoot(Window w);
  bool IsManaged(Window w);
  Window TopLevelAncestor(Window w);
  Window ClientBelow(Window frame);
  bool HasProperty(Window w, Atom property);
  bool SupportsNet(Atom feature);

  Display* display_;
  Window root_;
  int screen_;
  bool has_xfixes_ = false;
  bool has_xres_ = false;
  Window claim_window_ = None;
  std::map<Window, int> held_;  // captured windows and their border widths before
  std::optional<Extents> new_window_extents_;

  Atom wm_state_, wm_sn_, utf8_string_, compound_text_;
  Atom net_supported_, net_supporting_wm_check_, net_client_list_stacking_;
  Atom net_wm_name_, net_wm_pid_, net_wm_window_type_, net_wm_window_type_dialog_;
  Atom net_active_window_, net_moveresize_window_;
};

}  // namespace sorvel::x11
