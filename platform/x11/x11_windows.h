// Window-system operations on other programs' top-level windows over one Xlib connection: the
// listing in stacking order, their names and owners, the process behind them, their places,
// and the requests a pager makes of the window manager (iconify, activate). Holding them is
// HeldWindows' job.
//
// Runs on the thread that owns the connection. Every request that names a foreign window runs
// under a scoped X error handler: a window that vanishes meanwhile (BadWindow and the like) makes
// the operation report failure instead of ending the process. Nothing here waits for a foreign
// client: only round trips to the X server, and NewWindowExtents for the window manager.
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

// A client top-level window and what one listing learnt of it.
struct TopLevel {
  Window window = None;
  std::u16string title;  // as Title gives it
  Window owner = None;   // as Owner gives it
  bool viewable = false;
  bool iconic = false;         // WM_STATE iconic
  bool dialog = false;         // _NET_WM_WINDOW_TYPE_DIALOG
  bool tool = false;           // _NET_WM_WINDOW_TYPE_UTILITY or _TOOLBAR
  std::u16string windowClass;  // WM_CLASS's class part
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
  // The property of a frame's extents, as the window manager sets it on a window it frames.
  Atom frameExtentsAtom() const { return net_frame_extents_; }

  // True while a window manager runs on the screen (it owns WM_Sn or names a living check
  // window in _NET_SUPPORTING_WM_CHECK). Round trips to the server only.
  bool HasWindowManager();
  // The manager lists `feature` in _NET_SUPPORTED (None: any running EWMH manager).
  bool SupportsNet(Atom feature);
  bool HasXFixes() const { return has_xfixes_; }

  // The client (not frame) top-level windows, topmost first: _NET_CLIENT_LIST_STACKING where
  // a running window manager publishes it, else the root's children, or under a reparenting
  // manager their descendants (at most four levels down), that carry WM_STATE; with no window
  // manager, the root's children that are not override-redirect. Unmapped ones included. Their
  // names, owners, states and types come with them. The requests go out together, a level of
  // the tree at a time: a few round trips however many windows there are.
  std::vector<TopLevel> ListTopLevels();
  // The windows of ListTopLevels.
  std::vector<Window> TopLevelWindows();

  // _NET_WM_NAME, else WM_NAME (STRING, UTF8_STRING or COMPOUND_TEXT); empty when it has none
  // or is gone. Round trips only.
  std::u16string Title(Window w);
  // A client's top-level window, as a window manager marks it (WM_STATE).
  bool IsClient(Window w);
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
  // a quarter of a second at most for the manager's answer), then remembered. None without a window
  // manager; false when the manager does not answer.
  bool NewWindowExtents(Extents* out);
  // Asks that question without waiting, so that the answer may be there when it is needed.
  void AskNewWindowExtents();

  // The frame its window manager has given `w` (_NET_FRAME_EXTENTS); false when none says.
  bool FrameExtents(Window w, Extents* out);

  // Moves and sizes a window in its parent's coordinates. No wait.
  bool MoveResize(Window w, const Rect& r);
  // Iconifies through the window manager (XIconifyWindow); with none, unmaps it. No wait.
  bool Iconify(Window w);
  // Maps and raises the window and gives it the focus: _NET_ACTIVE_WINDOW and a raise request to
  // a window manager that supports it, else XMapRaised and XSetInputFocus. No wait.
  bool Foreground(Window w);

  // Single instance by name: claims the selection named `name` with a small window of ours
  // unless another client owns it. The claim lasts until this object or its connection goes.
  // Round trips only.
  bool ClaimName(const std::string& name);
  // Whether any client owns the selection named `name`. One round trip.
  bool NameHeld(const std::string& name);

 private:
  Atom Intern(const char* name);
  Window TopLevelAncestor(Window w);
  bool HasProperty(Window w, Atom property);
  std::u16string DecodeTitle(Atom type, int format, std::string bytes);

  Display* display_;
  Window root_;
  int screen_;
  bool has_xfixes_ = false;
  bool has_xres_ = false;
  Window claim_window_ = None;
  std::optional<Extents> new_window_extents_;
  Window extents_probe_ = None;  // asked, the answer not read yet

  Atom wm_state_, wm_sn_, utf8_string_, compound_text_;
  Atom net_supported_, net_supporting_wm_check_, net_client_list_stacking_;
  Atom net_wm_name_, net_wm_pid_, net_wm_window_type_, net_wm_window_type_dialog_;
  Atom net_wm_window_type_utility_, net_wm_window_type_toolbar_;
  Atom net_active_window_, net_frame_extents_, net_request_frame_extents_;
};

}  // namespace sorvel::x11
