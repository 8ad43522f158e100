#include "platform/x11/x11_windows.h"

#include <X11/Xatom.h>
#include <X11/Xlib-xcb.h>
#include <X11/Xutil.h>
#include <X11/extensions/XRes.h>
#include <X11/extensions/Xfixes.h>
#include <poll.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/types.h"
#include "platform/x11/x11_errors.h"

namespace sorvel::x11 {
namespace {

// How long NewWindowExtents waits for the window manager's answer: those that answer do within
// a few milliseconds, fluxbox never does; the frame is measured again once the window is framed.
constexpr auto kManagerWait = std::chrono::milliseconds(250);

std::u16string FromLatin1(const std::string& s) {
  std::u16string out;
  for (unsigned char c : s) out.push_back(c);
  return out;
}

std::string ShortHostName(std::string name) {
  return name.substr(0, name.find('.'));
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

  const std::string selection = "WM_S" + std::to_string(screen_);
  InternAtoms(display_, {{"WM_STATE", &wm_state_},
                         {selection.c_str(), &wm_sn_},
                         {"UTF8_STRING", &utf8_string_},
                         {"COMPOUND_TEXT", &compound_text_},
                         {"_NET_SUPPORTED", &net_supported_},
                         {"_NET_SUPPORTING_WM_CHECK", &net_supporting_wm_check_},
                         {"_NET_CLIENT_LIST_STACKING", &net_client_list_stacking_},
                         {"_NET_WM_NAME", &net_wm_name_},
                         {"_NET_WM_PID", &net_wm_pid_},
                         {"_NET_WM_WINDOW_TYPE", &net_wm_window_type_},
                         {"_NET_WM_WINDOW_TYPE_DIALOG", &net_wm_window_type_dialog_},
                         {"_NET_WM_WINDOW_TYPE_UTILITY", &net_wm_window_type_utility_},
                         {"_NET_WM_WINDOW_TYPE_TOOLBAR", &net_wm_window_type_toolbar_},
                         {"_NET_ACTIVE_WINDOW", &net_active_window_},
                         {"_NET_FRAME_EXTENTS", &net_frame_extents_},
                         {"_NET_REQUEST_FRAME_EXTENTS", &net_request_frame_extents_}});
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

namespace {

// Replies of requests sent together on XCB's side of the connection: each request goes out at
// once, its reply is taken later, so a batch costs one round trip. Errors (a window gone
// meanwhile) come with the reply and are taken as "none".
class Batch {
 public:
  explicit Batch(Display* d) : c_(XGetXCBConnection(d)) {}

  xcb_get_property_cookie_t AskProperty(Window w, Atom name) {
    return xcb_get_property(c_, 0, static_cast<xcb_window_t>(w), static_cast<xcb_atom_t>(name),
                            XCB_GET_PROPERTY_TYPE_ANY, 0, 1 << 16);
  }
  // False when the window is gone or has no such property.
  bool TakeProperty(xcb_get_property_cookie_t cookie, Property* out) {
    xcb_generic_error_t* error = nullptr;
    xcb_get_property_reply_t* reply = xcb_get_property_reply(c_, cookie, &error);
    free(error);
    *out = Property{};
    if (reply == nullptr) return false;
    out->type = reply->type;
    out->format = reply->format;
    const auto* data = static_cast<const unsigned char*>(xcb_get_property_value(reply));
    int length = xcb_get_property_value_length(reply);
    if (reply->format == 8) {
      out->bytes.assign(reinterpret_cast<const char*>(data), static_cast<std::size_t>(length));
    } else if (reply->format == 32) {
      const auto* values = reinterpret_cast<const std::uint32_t*>(data);
      out->longs.assign(values, values + length / 4);
    }
    free(reply);
    return out->type != None;
  }
  xcb_get_window_attributes_cookie_t AskAttributes(Window w) {
    return xcb_get_window_attributes(c_, static_cast<xcb_window_t>(w));
  }
  // map_state, override_redirect and class of the window; false when it is gone.
  bool TakeAttributes(xcb_get_window_attributes_cookie_t cookie, int* mapState, bool* overrides,
                      bool* inputOutput) {
    xcb_generic_error_t* error = nullptr;
    xcb_get_window_attributes_reply_t* reply = xcb_get_window_attributes_reply(c_, cookie, &error);
    free(error);
    if (reply == nullptr) return false;
    *mapState = reply->map_state;
    *overrides = reply->override_redirect != 0;
    *inputOutput = reply->_class == XCB_WINDOW_CLASS_INPUT_OUTPUT;
    free(reply);
    return true;
  }
  xcb_query_tree_cookie_t AskChildren(Window w) {
    return xcb_query_tree(c_, static_cast<xcb_window_t>(w));
  }
  // Bottom to top; empty when the window is gone.
  std::vector<Window> TakeChildren(xcb_query_tree_cookie_t cookie) {
    xcb_generic_error_t* error = nullptr;
    xcb_query_tree_reply_t* reply = xcb_query_tree_reply(c_, cookie, &error);
    free(error);
    std::vector<Window> out;
    if (reply == nullptr) return out;
    const xcb_window_t* children = xcb_query_tree_children(reply);
    out.assign(children, children + xcb_query_tree_children_length(reply));
    free(reply);
    return out;
  }

 private:
  xcb_connection_t* c_;
};

// Managers put a client two or three levels below its frame; any client may nest windows of its
// own without bound, so the search stops here.
constexpr int kFrameDepth = 4;

}  // namespace

std::vector<Window> X11Windows::TopLevelWindows() {
  std::vector<Window> out;
  for (const TopLevel& t : ListTopLevels()) out.push_back(t.window);
  return out;
}

std::vector<TopLevel> X11Windows::ListTopLevels() {
  XFlush(display_);  // Xlib's requests before XCB's
  Batch batch(display_);
  std::vector<Window> clients;  // bottom to top
  Property list;
  if (SupportsNet(net_client_list_stacking_) &&
      ReadProperty(display_, root_, net_client_list_stacking_, &list) && list.type == XA_WINDOW) {
    clients.assign(list.longs.begin(), list.longs.end());
  } else {
    const bool managed = HasWindowManager();
    std::vector<Window> top = batch.TakeChildren(batch.AskChildren(root_));
    std::vector<xcb_get_window_attributes_cookie_t> attributes;
    std::vector<xcb_get_property_cookie_t> states;
    for (Window c : top) {
      attributes.push_back(batch.AskAttributes(c));
      states.push_back(batch.AskProperty(c, wm_state_));
    }
    // Each root child: a client itself, a frame with a client below, or neither.
    std::vector<Window> found(top.size(), None);
    std::vector<bool> plain(top.size(), false);  // a client where no manager frames
    std::vector<std::size_t> frames;
    for (std::size_t i = 0; i < top.size(); ++i) {
      int mapState = 0;
      bool overrides = false, inputOutput = false;
      bool exists = batch.TakeAttributes(attributes[i], &mapState, &overrides, &inputOutput);
      Property state;
      if (batch.TakeProperty(states[i], &state)) {
        found[i] = top[i];
      } else if (exists && !overrides && inputOutput) {
        frames.push_back(i);
        plain[i] = !managed;
      }
    }
    // Down the frames a level at a time; the first window with WM_STATE is the client.
    std::vector<std::pair<std::size_t, Window>> level;
    for (std::size_t i : frames) level.emplace_back(i, top[i]);
    for (int depth = 0; depth < kFrameDepth && !level.empty(); ++depth) {
      std::vector<xcb_query_tree_cookie_t> trees;
      for (const auto& [i, w] : level) trees.push_back(batch.AskChildren(w));
      std::vector<std::pair<std::size_t, Window>> next;
      for (std::size_t k = 0; k < level.size(); ++k) {
        for (Window child : batch.TakeChildren(trees[k])) next.emplace_back(level[k].first, child);
      }
      std::vector<xcb_get_property_cookie_t> childStates;
      for (const auto& [i, w] : next) childStates.push_back(batch.AskProperty(w, wm_state_));
      std::vector<std::pair<std::size_t, Window>> deeper;
      for (std::size_t k = 0; k < next.size(); ++k) {
        Property state;
        bool hasState = batch.TakeProperty(childStates[k], &state);
        std::size_t i = next[k].first;
        if (found[i] != None) continue;
        if (hasState) {
          found[i] = next[k].second;
        } else {
          deeper.push_back(next[k]);
        }
      }
      level = std::move(deeper);
    }
    for (std::size_t i = 0; i < top.size(); ++i) {
      if (found[i] != None) {
        clients.push_back(found[i]);
      } else if (plain[i]) {
        clients.push_back(top[i]);
      }
    }
  }

  // What the callers ask of each, in one more round trip.
  struct Asked {
    xcb_get_window_attributes_cookie_t attributes;
    xcb_get_property_cookie_t state, netName, name, transient, type, windowClass;
  };
  std::vector<Asked> asked;
  for (Window w : clients) {
    asked.push_back({batch.AskAttributes(w), batch.AskProperty(w, wm_state_),
                     batch.AskProperty(w, net_wm_name_), batch.AskProperty(w, XA_WM_NAME),
                     batch.AskProperty(w, XA_WM_TRANSIENT_FOR),
                     batch.AskProperty(w, net_wm_window_type_), batch.AskProperty(w, XA_WM_CLASS)});
  }
  std::vector<TopLevel> out;
  for (std::size_t k = clients.size(); k-- > 0;) {  // topmost first
    const Asked& a = asked[k];
    TopLevel t;
    t.window = clients[k];
    int mapState = 0;
    bool overrides = false, inputOutput = false;
    bool exists = batch.TakeAttributes(a.attributes, &mapState, &overrides, &inputOutput);
    Property state, netName, name, transient, type, windowClass;
    t.iconic = batch.TakeProperty(a.state, &state) && !state.longs.empty() &&
               state.longs[0] == IconicState;
    t.viewable = mapState == XCB_MAP_STATE_VIEWABLE;
    if (batch.TakeProperty(a.netName, &netName) && netName.type == utf8_string_ &&
        netName.format == 8) {
      t.title = FromUtf8(FirstText(netName.bytes));
    } else if (batch.TakeProperty(a.name, &name)) {
      t.title = DecodeTitle(name.type, name.format, name.bytes);
    }
    if (batch.TakeProperty(a.transient, &transient) && transient.longs.size() == 1 &&
        transient.longs[0] != root_) {
      t.owner = transient.longs[0];
    }
    if (batch.TakeProperty(a.type, &type)) {
      for (unsigned long atom : type.longs) {
        t.dialog = t.dialog || atom == net_wm_window_type_dialog_;
        t.tool =
            t.tool || atom == net_wm_window_type_utility_ || atom == net_wm_window_type_toolbar_;
      }
    }
    if (batch.TakeProperty(a.windowClass, &windowClass) && windowClass.format == 8) {
      // Two texts, each ending with NUL: the instance, then the class.
      std::size_t end = windowClass.bytes.find('\0');
      if (end != std::string::npos)
        t.windowClass = FromUtf8(FirstText(windowClass.bytes.substr(end + 1)));
    }
    if (exists) out.push_back(std::move(t));
  }
  return out;
}

std::u16string X11Windows::DecodeTitle(Atom type, int format, std::string bytes) {
  if (format != 8) return {};
  if (type == XA_STRING) return FromLatin1(FirstText(bytes));
  if (type == utf8_string_) return FromUtf8(FirstText(bytes));
  if (type != compound_text_) return {};
  XTextProperty text{reinterpret_cast<unsigned char*>(bytes.data()), type, format, bytes.size()};
  char** list = nullptr;
  int n = 0;
  std::u16string title;
  if (Xutf8TextPropertyToTextList(display_, &text, &list, &n) >= Success && n > 0) {
    title = FromUtf8(list[0]);
  }
  if (list) XFreeStringList(list);
  return title;
}

std::u16string X11Windows::Title(Window w) {
  ErrorTrap trap(display_);
  Property p;
  if (ReadProperty(display_, w, net_wm_name_, &p) && p.type == utf8_string_ && p.format == 8) {
    return FromUtf8(FirstText(p.bytes));
  }
  if (!ReadProperty(display_, w, XA_WM_NAME, &p)) return {};
  return DecodeTitle(p.type, p.format, p.bytes);
}

bool X11Windows::IsClient(Window w) {
  ErrorTrap trap(display_);
  return HasProperty(w, wm_state_);
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
  // The frame as its manager describes it, to which its requests (_NET_MOVERESIZE_WINDOW) refer:
  // the frame window may be larger by borders it does not draw (mutter's, to resize by).
  Extents e;
  Rect client;
  if (top != w && FrameExtents(w, &e) && ScreenRect(w, &client)) {
    *out = Rect{client.x - e.left, client.y - e.top, client.width + e.left + e.right,
                client.height + e.top + e.bottom};
    return true;
  }
  *out = Rect{a.x, a.y, a.width + 2 * a.border_width, a.height + 2 * a.border_width};
  return true;
}

void X11Windows::AskNewWindowExtents() {
  if (extents_probe_ != None || new_window_extents_ || !HasWindowManager()) return;
  if (!SupportsNet(net_request_frame_extents_)) return;
  XSetWindowAttributes attributes{};
  extents_probe_ = XCreateWindow(display_, root_, 0, 0, 100, 100, 0, CopyFromParent, InputOutput,
                                 CopyFromParent, 0, &attributes);
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = extents_probe_;
  e.xclient.message_type = net_request_frame_extents_;
  e.xclient.format = 32;
  XSendEvent(display_, root_, False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
  XFlush(display_);
}

bool X11Windows::NewWindowExtents(Extents* out) {
  *out = Extents{};
  if (!HasWindowManager()) return true;
  if (new_window_extents_) {
    *out = *new_window_extents_;
    return true;
  }
  AskNewWindowExtents();
  if (extents_probe_ == None) return false;
  const auto deadline = std::chrono::steady_clock::now() + kManagerWait;
  Property answer;
  for (;;) {
    if (ReadProperty(display_, extents_probe_, net_frame_extents_, &answer) &&
        answer.longs.size() == 4)
      break;
    if (std::chrono::steady_clock::now() >= deadline) break;
    poll(nullptr, 0, 1);
  }
  XDestroyWindow(display_, extents_probe_);
  extents_probe_ = None;
  XFlush(display_);
  if (answer.longs.size() != 4) return false;
  new_window_extents_ =
      Extents{static_cast<int>(answer.longs[0]), static_cast<int>(answer.longs[1]),
              static_cast<int>(answer.longs[2]), static_cast<int>(answer.longs[3])};
  *out = *new_window_extents_;
  return true;
}

bool X11Windows::FrameExtents(Window w, Extents* out) {
  ErrorTrap trap(display_);
  Property p;
  if (!ReadProperty(display_, w, net_frame_extents_, &p) || p.longs.size() != 4) {
    return false;
  }
  *out = Extents{static_cast<int>(p.longs[0]), static_cast<int>(p.longs[1]),
                 static_cast<int>(p.longs[2]), static_cast<int>(p.longs[3])};
  return true;
}

bool X11Windows::MoveResize(Window w, const Rect& r) {
  // The protocol carries positions in 16 bits with a sign and sizes in 16 bits; a number past
  // them stays at the end instead of wrapping around.
  auto position = [](int v) { return std::clamp(v, -32768, 32767); };
  auto size = [](int v) { return static_cast<unsigned>(std::clamp(v, 1, 32767)); };
  ErrorTrap trap(display_);
  XMoveResizeWindow(display_, w, position(r.x), position(r.y), size(r.width), size(r.height));
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

bool X11Windows::NameHeld(const std::string& name) {
  return XGetSelectionOwner(display_, Intern(name.c_str())) != None;
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
  const bool claimed = free && XGetSelectionOwner(display_, selection) == claim_window_;
  // Sent at once: the server serves no other client until it has the ungrab.
  XUngrabServer(display_);
  XFlush(display_);
  return claimed;
}

}  // namespace sorvel::x11
