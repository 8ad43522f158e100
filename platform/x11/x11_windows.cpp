#include "platform/x11/x11_windows.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XRes.h>
#include <X11/extensions/Xfixes.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>

#include "platform/types.h"

namespace sorvel::x11 {
namespace {

// How long capture and release wait for a window manager to act on a window.
constexpr auto kManagerWait = std::chrono::seconds(2);

// Catches the X errors of the requests made while it lives, on its display only; errors of
// other connections go to the handler that was there before. Xlib's handler is process-wide, so
// traps nest through `current`.
class ErrorTrap {
 public:
  explicit ErrorTrap(Display* d) : display_(d) {
    XSync(display_, False);  // earlier requests' errors are not ours
    previous_ = XSetErrorHandler(&Record);
    outer_ = current;
    current = this;
  }
  ~ErrorTrap() {
    XSync(display_, False);
    current = outer_;
    XSetErrorHandler(previous_);
  }
  ErrorTrap(const ErrorTrap&) = delete;
  ErrorTrap& operator=(const ErrorTrap&) = delete;

  // Whether any request so far failed (one round trip).
  bool Failed() {
    XSync(display_, False);
    return error_ != 0;
  }

 private:
  static int Record(Display* d, XErrorEvent* e) {
    for (ErrorTrap* t = current; t; t = t->outer_) {
      if (t->display_ == d) {
        if (t->error_ == 0) t->error_ = e->error_code;
        return 0;
      }
    }
    return current && current->previous_ ? current->previous_(d, e) : 0;
  }

  static inline ErrorTrap* current = nullptr;
  Display* display_;
  XErrorHandler previous_ = nullptr;
  ErrorTrap* outer_ = nullptr;
  int error_ = 0;
};

struct Property {
  Atom type = None;
  int format = 0;
  std::string bytes;                 // format 8
  std::vector<unsigned long> longs;  // format 32, as Xlib hands them over
};

bool ReadProperty(Display* d, Window w, Atom name, Property* out) {
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(d, w, name, 0, 1 << 20, False, AnyPropertyType, &type, &format, &count,
                         &after, &data) != Success) {
    return false;
  }
  *out = Property{type, format, {}, {}};
  if (data && format == 8) {
    out->bytes.assign(reinterpret_cast<const char*>(data), count);
  } else if (data && format == 32) {
    const auto* longs = reinterpret_cast<const unsigned long*>(data);
    out->longs.assign(longs, longs + count);
  }
  if (data) XFree(data);
  return type != None;
}

// A list of texts in one property ends each with NUL; a title is the first.
std::string FirstText(const std::string& bytes) {
  return bytes.substr(0, bytes.find('\0'));
}

std::u16string FromLatin1(const std::string& s) {
  std::u16string out;
  for (unsigned char c : s) out.push_back(c);
  return out;
}

std::string ShortHostName(std::string name) {
  return name.substr(0, name.find('.'));
}

Bool IsEventOn(Display*, XEvent* e, XPointer window) {
  return e->xany.window == *reinterpret_cast<Window*>(window) ? True : False;
}

}  // namespace

X11Windows::X11Windows(Display* display)
    : display_(display), root_(DefaultRootWindow(display)), screen_(DefaultScreen(display)) {
  int event_base = 0, error_base = 0;
  has_xfixes_ = XFixesQueryExtension(display_, &event_base, &error_base);
  if (has_xfixes_) {
    int major = 0, minor = 0;
    XFixesQueryVersion(display_, &major, &minor);  // required before any other XFixes request
  }
  int major = 0, minor = 0;
  has_xres_ = XResQueryExtension(display_, &event_base, &error_base) &&
              XResQueryVersion(display_, &major, &minor) &&
              (major > 1 || (major == 1 && minor >= 2));  // client ids came with 1.2

  wm_state_ = Intern("WM_STATE");
  wm_sn_ = Intern(("WM_S" + std::to_string(screen_)).c_str());
  utf8_string_ = Intern("UTF8_STRING");
  compound_text_ = Intern("COMPOUND_TEXT");
  net_supported_ = Intern("_NET_SUPPORTED");
  net_supporting_wm_check_ = Intern("_NET_SUPPORTING_WM_CHECK");
  net_client_list_stacking_ = Intern("_NET_CLIENT_LIST_STACKING");
  net_wm_name_ = Intern("_NET_WM_NAME");
  net_wm_pid_ = Intern("_NET_WM_PID");
  net_wm_window_type_ = Intern("_NET_WM_WINDOW_TYPE");
  net_wm_window_type_dialog_ = Intern("_NET_WM_WINDOW_TYPE_DIALOG");
  net_active_window_ = Intern("_NET_ACTIVE_WINDOW");
  net_moveresize_window_ = Intern("_NET_MOVERESIZE_WINDOW");
}

X11Windows::~X11Windows() {
  if (claim_window_ != None) {
    XDestroyWindow(display_, claim_window_);
    XFlush(display_);
  }
}

Atom X11Windows::Intern(const char* name) {
  return XInternAtom(display_, name, False);
}

bool X11Windows::HasProperty(Window w, Atom property) {
  Property p;
  return ReadProperty(display_, w, property, &p);
}

// A window manager publishes _NET_SUPPORTED on the root; it counts only while the check window
// it names is alive and names itself (a dead manager's properties stay behind).
bool X11Windows::SupportsNet(Atom feature) {
  ErrorTrap trap(display_);
  Property check, self, supported;
  if (!ReadProperty(display_, root_, net_supporting_wm_check_, &check) || check.longs.size() != 1 ||
      !ReadProperty(display_, check.longs[0], net_supporting_wm_check_, &self) ||
      self.longs != check.longs || trap.Failed()) {
    return false;
  }
  if (feature == None) return true;
  return ReadProperty(display_, root_, net_supported_, &supported) &&
         std::find(supported.longs.begin(), supported.longs.end(), feature) !=
             supported.longs.end();
}

bool X11Windows::HasWindowManager() {
  return XGetSelectionOwner(display_, wm_sn_) != None || SupportsNet(None);
}

// The client window inside a window manager's frame: the first descendant with WM_STATE.
Window X11Windows::ClientBelow(Window frame) {
  Window root = None, parent = None, *children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(display_, frame, &root, &parent, &children, &count)) return None;
  Window found = None;
  for (unsigned i = 0; i < count && found == None; ++i) {
    found = HasProperty(children[i], wm_state_) ? children[i] : ClientBelow(children[i]);
  }
  if (children) XFree(children);
  return found;
}

std::vector<Window> X11Windows::TopLevelWindows() {
  ErrorTrap trap(display_);
  std::vector<Window> out;
  Property list;
  if (SupportsNet(net_client_list_stacking_) &&
      ReadProperty(display_, root_, net_client_list_stacking_, &list) && list.type == XA_WINDOW) {
    out.assign(list.longs.rbegin(), list.longs.rend());  // the property is bottom to top
    return out;
  }
  const bool managed = HasWindowManager();
  Window root = None, parent = None, *children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(display_, root_, &root, &parent, &children, &count)) return out;
  for (unsigned i = count; i-- > 0;) {  // bottom to top as well
    Window c = children[i];
    if (HasProperty(c, wm_state_)) {
      out.push_back(c);
    } else if (Window client = ClientBelow(c); client != None) {
      out.push_back(client);
    } else if (!managed) {
      XWindowAttributes a;
      if (XGetWindowAttributes(display_, c, &a) && !a.override_redirect &&
          a.c_class == InputOutput) {
        out.push_back(c);
      }
    }
  }
  if (children) XFree(children);
  return out;
}

std::u16string X11Windows::Title(Window w) {
  ErrorTrap trap(display_);
  Property p;
  if (ReadProperty(display_, w, net_wm_name_, &p) && p.type == utf8_string_ && p.format == 8) {
    return FromUtf8(FirstText(p.bytes));
  }
  if (!ReadProperty(display_, w, XA_WM_NAME, &p) || p.format != 8) return {};
  if (p.type == XA_STRING) return FromLatin1(FirstText(p.bytes));
  if (p.type == utf8_string_) return FromUtf8(FirstText(p.bytes));
  if (p.type != compound_text_) return {};
  XTextProperty text{reinterpret_cast<unsigned char*>(p.bytes.data()), p.type, p.format,
                     p.bytes.size()};
  char** list = nullptr;
  int n = 0;
  std::u16string title;
  if (Xutf8TextPropertyToTextList(display_, &text, &list, &n) >= Success && n > 0) {
    title = FromUtf8(list[0]);
  }
  if (list) XFreeStringList(list);
  return title;
}

Window X11Windows::Owner(Window w) {
  ErrorTrap trap(display_);
  Window owner = None;
  if (!XGetTransientForHint(display_, w, &owner) || trap.Failed() || owner == root_) return None;
  return owner;
}

bool X11Windows::IsDialog(Window w) {
  ErrorTrap trap(display_);
  Property p;
  return ReadProperty(display_, w, net_wm_window_type_, &p) &&
         std::find(p.longs.begin(), p.longs.end(), net_wm_window_type_dialog_) != p.longs.end();
}

pid_t X11Windows::ProcessId(Window w) {
  ErrorTrap trap(display_);
  Property pid, machine;
  bool local = true;
  if (ReadProperty(display_, w, XA_WM_CLIENT_MACHINE, &machine) && machine.format == 8) {
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    local = ShortHostName(FirstText(machine.bytes)) == ShortHostName(host);
  }
  if (local && ReadProperty(display_, w, net_wm_pid_, &pid) && pid.type == XA_CARDINAL &&
      pid.longs.size() == 1 && pid.longs[0] > 0 && pid.longs[0] <= INT_MAX) {
    return static_cast<pid_t>(pid.longs[0]);
  }
  if (!has_xres_ || trap.Failed()) return 0;
  // The server knows the process of a local connection that owns the window.
  XResClientIdSpec query{w, XRES_CLIENT_ID_PID_MASK};
  long count = 0;
  XResClientIdValue* ids = nullptr;
  pid_t found = 0;
  if (XResQueryClientIds(display_, 1, &query, &count, &ids) == Success) {
    for (long i = 0; i < count && found <= 0; ++i) found = XResGetClientPid(&ids[i]);
    XResClientIdsDestroy(count, ids);
  }
  return found > 0 ? found : 0;
}

std::string X11Windows::ProgramPath(Window w) {
  pid_t pid = ProcessId(w);
  if (pid <= 0) return {};
  char path[PATH_MAX];
  ssize_t n = readlink(("/proc/" + std::to_string(pid) + "/exe").c_str(), path, sizeof path);
  return n > 0 && n < static_cast<ssize_t>(sizeof path) ? std::string(path, n) : std::string();
}

bool X11Windows::IsVisible(Window w) {
  ErrorTrap trap(display_);
  XWindowAttributes a;
  if (!XGetWindowAttributes(display_, w, &a) || a.map_state != IsViewable) return false;
  Property state;
  return !(ReadProperty(display_, w, wm_state_, &state) && !state.longs.empty() &&
           state.longs[0] == IconicState);
}

bool X11Windows::ScreenRect(Window w, Rect* out) {
  ErrorTrap trap(display_);
  XWindowAttributes a;
  Window child = None;
  int x = 0, y = 0;
  if (!XGetWindowAttributes(display_, w, &a) ||
      !XTranslateCoordinates(display_, w, root_, 0, 0, &x, &y, &child) || trap.Failed()) {
    return false;
  }
  *out = Rect{x, y, a.width, a.height};
  return true;
}

Window X11Windows::TopLevelAncestor(Window w) {
  for (;;) {
    Window root = None, parent = None, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display_, w, &root, &parent, &children, &count)) return None;
    if (children) XFree(children);
    if (parent == root || parent == None) return w;
    w = parent;
  }
}

bool X11Windows::FrameRect(Window w, Rect* out) {
  ErrorTrap trap(display_);
  XWindowAttributes a;
  Window top = TopLevelAncestor(w);
  if (top == None || !XGetWindowAttributes(display_, top, &a) || trap.Failed()) return false;
  *out = Rect{a.x, a.y, a.width + 2 * a.border_width, a.height + 2 * a.border_width};
  return true;
}

bool X11Windows::NewWindowExtents(Extents* out) {
  *out = Extents{};
  if (!HasWindowManager()) return true;
  if (new_window_extents_) {
    *out = *new_window_extents_;
    return true;
  }
  const Atom request = Intern("_NET_REQUEST_FRAME_EXTENTS");
  const Atom extents = Intern("_NET_FRAME_EXTENTS");
  if (!SupportsNet(request)) return false;
  XSetWindowAttributes attributes{};
  Window probe = XCreateWindow(display_, root_, 0, 0, 100, 100, 0, CopyFromParent, InputOutput,
                               CopyFromParent, 0, &attributes);
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = probe;
  e.xclient.message_type = request;
  e.xclient.format = 32;
  XSendEvent(display_, root_, False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
  const auto deadline = std::chrono::steady_clock::now() + kManagerWait;
  Property answer;
  for (;;) {
    XSync(display_, False);
    if (ReadProperty(display_, probe, extents, &answer) && answer.longs.size() == 4) break;
    if (std::chrono::steady_clock::now() >= deadline) break;
    poll(nullptr, 0, 1);
  }
  XDestroyWindow(display_, probe);
  XSync(display_, False);
  if (answer.longs.size() != 4) return false;
  new_window_extents_ =
      Extents{static_cast<int>(answer.longs[0]), static_cast<int>(answer.longs[1]),
              static_cast<int>(answer.longs[2]), static_cast<int>(answer.longs[3])};
  *out = *new_window_extents_;
  return true;
}

bool X11Windows::MoveResize(Window w, const Rect& r) {
  ErrorTrap trap(display_);
  XMoveResizeWindow(display_, w, r.x, r.y, std::max(r.width, 1), std::max(r.height, 1));
  return !trap.Failed();
}

bool X11Windows::Iconify(Window w) {
  ErrorTrap trap(display_);
  XWindowAttributes a;
  if (!XGetWindowAttributes(display_, w, &a)) return false;  // a message to the root would not tell
  if (HasWindowManager()) {
    if (!XIconifyWindow(display_, w, screen_)) return false;
  } else {
    XUnmapWindow(display_, w);
  }
  return !trap.Failed();
}

bool X11Windows::Foreground(Window w) {
  ErrorTrap trap(display_);
  XWindowAttributes a;
  if (!XGetWindowAttributes(display_, w, &a)) return false;  // as Iconify
  if (SupportsNet(net_active_window_)) {
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = w;
    e.xclient.message_type = net_active_window_;
    e.xclient.format = 32;
    e.xclient.data.l[0] = 2;  // from a pager: managers honour it without focus-stealing rules
    e.xclient.data.l[1] = CurrentTime;
    XSendEvent(display_, root_, False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
    // Some managers (icewm) activate without raising: a restack request asks for that too.
    XRaiseWindow(display_, w);
  } else {
    XMapRaised(display_, w);
    XSync(display_, False);
    XSetInputFocus(display_, w, RevertToParent, CurrentTime);
  }
  return !trap.Failed();
}

// Waits, at most kManagerWait, until `done` holds for `w`, taking the structure events of `w`
// (which only this object selects) as they come. Never waits on the window's own client.
bool X11Windows::WaitFor(Window w, bool (X11Windows::*done)(Window)) {
  const auto deadline = std::chrono::steady_clock::now() + kManagerWait;
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
      poll(&fd, 1, 10);
    }
  }
}

// Unmapped, back at the root, and its WM_STATE taken away or set to withdrawn: the manager
// has let go of it and is done with it (it restores the border width before the state).
bool X11Windows::IsWithdrawnToRoot(Window w) {
  Window root = None, parent = None, *children = nullptr;
  unsigned count = 0;
  XWindowAttributes a;
  Property state;
  if (!XQueryTree(display_, w, &root, &parent, &children, &count)) return true;  // gone
  if (children) XFree(children);
  return parent == root_ && XGetWindowAttributes(display_, w, &a) && a.map_state == IsUnmapped &&
         !(ReadProperty(display_, w, wm_state_, &state) && !state.longs.empty() &&
           state.longs[0] != WithdrawnState);
}

// Taken by the manager: in a frame of its own, or mapped by a manager that does not frame.
bool X11Windows::IsManaged(Window w) {
  Window root = None, parent = None, *children = nullptr;
  unsigned count = 0;
  XWindowAttributes a;
  if (!XQueryTree(display_, w, &root, &parent, &children, &count)) return true;  // gone
  if (children) XFree(children);
  return parent != root_ || (XGetWindowAttributes(display_, w, &a) && a.map_state == IsViewable);
}

bool X11Windows::Capture(Window w, Window parent, int x, int y) {
  ErrorTrap trap(display_);
  XSelectInput(display_, w, StructureNotifyMask);
  // Given back to the root, mapped, when this connection ends in any way. The core request
  // picks the nearest ancestor not ours and does not map; XFixes can say both.
  if (has_xfixes_) {
    XFixesChangeSaveSet(display_, w, SetModeInsert, SaveSetRoot, SaveSetMap);
  } else {
    XAddToSaveSet(display_, w);
  }
  XWithdrawWindow(display_, w, screen_);
  if (trap.Failed()) return false;
  WaitFor(w, &X11Windows::IsWithdrawnToRoot);
  XWindowAttributes a;
  held_[w] = XGetWindowAttributes(display_, w, &a) ? a.border_width : 0;
  XSetWindowBorderWidth(display_, w, 0);
  XReparentWindow(display_, w, parent, x, y);
  XMapWindow(display_, w);
  Window root = None, now = None, *children = nullptr;
  unsigned count = 0;
  bool ok = XQueryTree(display_, w, &root, &now, &children, &count) && now == parent;
  if (children) XFree(children);
  if (!trap.Failed() && ok) return true;
  // Left as it was found, as far as it still exists.
  held_.erase(w);
  XReparentWindow(display_, w, root_, x, y);
  XMapWindow(display_, w);
  if (has_xfixes_) XFixesChangeSaveSet(display_, w, SetModeDelete, SaveSetRoot, SaveSetMap);
  XSelectInput(display_, w, NoEventMask);
  return false;
}

bool X11Windows::Release(Window w, const Rect& frame, const Rect& client) {
  ErrorTrap trap(display_);
  auto held = held_.find(w);
  const int border = held != held_.end() ? held->second : 0;
  if (held != held_.end()) held_.erase(held);
  const bool managed = HasWindowManager();
  XUnmapWindow(display_, w);
  XSetWindowBorderWidth(display_, w, border);
  // A manager places the frame's corner where the window stands (north-west gravity); without
  // one the window with its border is the frame.
  XReparentWindow(display_, w, root_, managed ? frame.x : client.x - border,
                  managed ? frame.y : client.y - border);
  XResizeWindow(display_, w, std::max(client.width, 1), std::max(client.height, 1));
  // Out of the save-set before a manager frames it: the server would pull it out of the
  // frame to the root if this connection ended.
  if (has_xfixes_) {
    XFixesChangeSaveSet(display_, w, SetModeDelete, SaveSetRoot, SaveSetMap);
  } else {
    XRemoveFromSaveSet(display_, w);
  }
  XMapWindow(display_, w);
  if (managed && WaitFor(w, &X11Windows::IsManaged) && SupportsNet(net_moveresize_window_)) {
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = w;
    e.xclient.message_type = net_moveresize_window_;
    e.xclient.format = 32;
    // North-west gravity: the frame's corner; x, y, width, height given; from a pager.
    e.xclient.data.l[0] = NorthWestGravity | (0xF << 8) | (2 << 12);
    e.xclient.data.l[1] = frame.x;
    e.xclient.data.l[2] = frame.y;
    e.xclient.data.l[3] = std::max(client.width, 1);
    e.xclient.data.l[4] = std::max(client.height, 1);
    XSendEvent(display_, root_, False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
  }
  XSelectInput(display_, w, NoEventMask);
  return !trap.Failed();
}

bool X11Windows::HandleEvent(const XEvent& event) {
  if (held_.find(event.xany.window) == held_.end()) return false;
  if (event.type == ConfigureNotify && event.xconfigure.border_width != 0) {
    ErrorTrap trap(display_);
    XSetWindowBorderWidth(display_, event.xconfigure.window, 0);
  } else if (event.type == DestroyNotify) {
    held_.erase(event.xdestroywindow.window);
  }
  return true;
}

bool X11Windows::ClaimName(const std::string& name) {
  const Atom selection = Intern(name.c_str());
  if (claim_window_ == None) {
    XSetWindowAttributes attributes{};
    claim_window_ = XCreateWindow(display_, root_, -1, -1, 1, 1, 0, CopyFromParent, InputOnly,
                                  CopyFromParent, 0, &attributes);
  }
  // Test and set in one piece: two programs starting together cannot both see it free.
  XGrabServer(display_);
  const bool free = XGetSelectionOwner(display_, selection) == None;
  if (free) XSetSelectionOwner(display_, selection, claim_window_, CurrentTime);
  XUngrabServer(display_);
  return free && XGetSelectionOwner(display_, selection) == claim_window_;
}

}  // namespace sorvel::x11
