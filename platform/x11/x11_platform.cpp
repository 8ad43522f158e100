#include "platform/x11/x11_platform.h"

#include <FL/Fl.H>
#include <FL/Fl_RGB_Image.H>
#include <FL/Fl_Window.H>
#include <FL/fl_ask.H>
#include <FL/x.H>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <fontconfig/fontconfig.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <system_error>
#include <thread>

#include "platform/x11/curl_library.h"
#include "platform/x11/x11_errors.h"
#include "platform/x11/x11_node.h"
#include "update/program_version.h"

extern char** environ;

namespace sorvel {

using namespace x11_detail;  // NOLINT: the backend's own handles and texts

namespace {

// The atoms FLTK's display set-up interns, one round trip each.
// clang-format off
constexpr const char* kToolkitAtoms[] = {
    "WM_DELETE_WINDOW", "WM_PROTOCOLS", "_MOTIF_WM_HINTS", "TARGETS", "CLIPBOARD", "TIMESTAMP",
    "PRIMARY_TIMESTAMP", "CLIPBOARD_TIMESTAMP", "XdndAware", "XdndSelection", "XdndEnter",
    "XdndTypeList", "XdndPosition", "XdndLeave", "XdndDrop", "XdndStatus", "XdndActionCopy",
    "XdndFinished", "text/uri-list", "text/plain;charset=UTF-8", "text/plain;charset=utf-8",
    "text/plain", "TEXT", "COMPOUND_TEXT", "UTF8_STRING", "image/bmp", "image/png", "INCR",
    "_NET_WM_PID", "_NET_WM_NAME", "_NET_WM_ICON_NAME", "_NET_SUPPORTING_WM_CHECK",
    "_NET_WM_STATE", "_NET_WM_STATE_FULLSCREEN", "_NET_WM_FULLSCREEN_MONITORS", "_NET_WORKAREA",
    "_NET_WM_ICON", "_NET_ACTIVE_WINDOW"};
// clang-format on

void Unheard(const char*, ...) {}

// Opens the display as fl_open_display() does (locale, error handlers), with two savings
// before the first dialog shows. The toolkit's atoms are interned in one request first: Xlib's
// atom cache then answers FLTK's own calls, which would be as many round trips. And there is
// no input method: our dialogs take no text, and opening one costs a quarter of the start (the
// locale's compose table is parsed and a font set listed, 16 round trips). An input method
// server of a name that no server has makes XOpenIM fail at once, whatever XMODIFIERS says;
// the toolkit's warning of that is not shown. Keys still come, through XLookupString.
Display* OpenDisplay() {
  if (fl_display != nullptr) return fl_display;
  setlocale(LC_CTYPE, "");
  XSetLocaleModifiers("@im=sorvel-takes-no-text");
  XSetIOErrorHandler([](Display*) -> int {
    Fl::fatal("X I/O error");
    return 0;
  });
  // An error no trap of ours expects is reported, not fatal.
  XSetErrorHandler([](Display* d, XErrorEvent* e) {
    char text[128];
    XGetErrorText(d, e->error_code, text, sizeof text);
    Fl::warning("X error: %s (request %d, resource 0x%lx)", text, e->request_code, e->resourceid);
    return 0;
  });
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) Fl::fatal("Can't open display: %s", XDisplayName(nullptr));
  constexpr int kCount = static_cast<int>(std::size(kToolkitAtoms));
  Atom atoms[kCount];
  XInternAtoms(display, const_cast<char**>(kToolkitAtoms), kCount, False, atoms);
  void (*warning)(const char*, ...) = Fl::warning;
  Fl::warning = Unheard;
  fl_open_display(display);
  Fl::warning = warning;
  return display;
}

}  // namespace

X11Platform::X11Platform(const x11::ProgramIcon& icon) : files_(std::string(), true), icon_(icon) {
  // The font configuration loads while the display opens: the first dialog measures its font
  // before it shows.
  std::thread fonts([] { FcInit(); });
  Fl::lock();  // enables Fl::awake from other threads
  display_ = OpenDisplay();
  windows_ = std::make_unique<x11::X11Windows>(display_);
  // The manager answers while the first dialog is built, which places itself by that answer.
  windows_->AskNewWindowExtents();
  held_ = std::make_unique<x11::HeldWindows>(*windows_, &keeper_);
  messageAtom_ = XInternAtom(display_, "SORVEL_MESSAGE", False);
  Fl::set_font(kDialogFont, "NanumGothic");
  // The toolkit's own texts (message box buttons) too.
  Fl::set_font(FL_HELVETICA, "NanumGothic");
  fl_message_font(kDialogFont, 14);
  Fl::add_system_handler(OnXEvent, this);
  // Other programs' windows are seen as they come and go: top-most windows stay above them.
  XSelectInput(display_, windows_->root(), SubstructureNotifyMask);
  fonts.join();
}

X11Platform::~X11Platform() {
  Fl::remove_system_handler(OnXEvent);
  for (auto& [key, timer] : timers_) Fl::remove_timeout(OnTimer, timer.get());
  timers_.clear();
  std::vector<std::uintptr_t> dialogs;
  for (auto& [handle, node] : nodes_) {
    if (node->dialog) dialogs.push_back(handle);
  }
  for (std::uintptr_t handle : dialogs) {
    if (Node* node = Find(Handle(handle))) DestroyNode(node);
  }
  cancellation_.Cancel();
  for (std::thread& worker : workers_) worker.join();
  held_.reset();
  windows_.reset();
  XFlush(display_);
}

// --- Handles ---

bool X11Platform::IsForeign(HWND window) const {
  return window != nullptr && (Value(window) & kOwnTag) == 0;
}

X11Platform::Node* X11Platform::Find(HWND window) {
  auto it = nodes_.find(Value(window));
  return it == nodes_.end() ? nullptr : it->second.get();
}

X11Platform::Node* X11Platform::DialogOf(Node* node) {
  if (node == nullptr || node->dialog) return node;
  return Find(Handle(node->parent));
}

::Window X11Platform::XidOf(HWND window) {
  if (IsForeign(window)) return static_cast<::Window>(Value(window));
  Node* node = Find(window);
  if (node == nullptr) return None;
  Fl_Window* w = node->widget->as_window();
  if (w == nullptr) return None;
  return w->shown() ? fl_xid(w) : None;
}

HWND X11Platform::HandleOfXid(::Window xid) {
  if (xid == None) return nullptr;
  for (auto& [handle, node] : nodes_) {
    Fl_Window* w = node->widget->as_window();
    if (w != nullptr && w->shown() && fl_xid(w) == xid) return Handle(handle);
  }
  return Handle(xid);
}

::Window X11Platform::DialogXid(Node* node) {
  Node* dialog = DialogOf(node);
  return dialog != nullptr ? XidOf(Handle(dialog->handle)) : None;
}

X11Platform::Node* X11Platform::NewNode() {
  auto node = std::make_unique<Node>();
  node->handle = kOwnTag | ++serial_;
  Node* raw = node.get();
  nodes_[raw->handle] = std::move(node);
  return raw;
}

// --- Messages ---

void X11Platform::Deliver(Node* dialog, Message& message) {
  if (dialog != nullptr && dialog->sink != nullptr) dialog->sink->OnMessage(message);
}

void X11Platform::OnAwake(void* self) {
  static_cast<X11Platform*>(self)->DeliverPosted();
}

void X11Platform::DeliverPosted() {
  for (;;) {
    Message m;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (posted_.empty()) break;
      m = posted_.front();
      posted_.pop_front();
    }
    // The innermost modal run sees every queued message before its window does.
    if (!modal_.empty() && modal_.back()->PreTranslateMessage(m)) continue;
    Node* node = Find(m.window);
    if (node != nullptr) Deliver(DialogOf(node), m);
  }
}

void X11Platform::Queue(const Message& message) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    posted_.push_back(message);
  }
  Fl::awake(OnAwake, this);
}

void X11Platform::PostMessage(HWND window, std::uint32_t message) {
  if (message == kWmQuit) {
    quitPosted_ = true;
    Fl::awake(OnAwake, this);
    return;
  }
  Message m;
  m.window = window;
  m.message = message;
  Queue(m);
}

void X11Platform::OnTimer(void* data) {
  auto* timer = static_cast<Timer*>(data);
  X11Platform* platform = timer->platform;
  Fl::repeat_timeout(timer->seconds, OnTimer, data);
  Message m;
  m.window = Handle(timer->window);
  m.message = kWmTimer;
  m.timerId = timer->id;
  // The handler may kill this timer: nothing of it is read after.
  platform->Deliver(platform->DialogOf(platform->Find(m.window)), m);
}

void X11Platform::SetTimer(HWND window, unsigned id, unsigned milliseconds) {
  if (Find(window) == nullptr) return;
  KillTimer(window, id);
  auto timer =
      std::make_unique<Timer>(Timer{this, Value(window), id, std::max(milliseconds, 10u) / 1000.0});
  Fl::add_timeout(timer->seconds, OnTimer, timer.get());
  timers_[{Value(window), id}] = std::move(timer);
}

void X11Platform::KillTimer(HWND window, unsigned id) {
  auto it = timers_.find({Value(window), id});
  if (it == timers_.end()) return;
  Fl::remove_timeout(OnTimer, it->second.get());
  timers_.erase(it);
}

namespace {

int terminationPipe[2] = {-1, -1};

void OnTerminationSignal(int number) {
  int saved = errno;
  ::signal(number, SIG_DFL);
  char byte = 1;
  if (::write(terminationPipe[1], &byte, 1) < 0) {
    // Full or closed: a close is on its way already, or the program is ending.
  }
  errno = saved;
}

}  // namespace

void X11Platform::CloseOnTerminationSignals() {
  if (terminationPipe[0] < 0 && pipe2(terminationPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  Fl::add_fd(terminationPipe[0], FL_READ, OnTermination, this);
  for (int number : {SIGTERM, SIGINT, SIGHUP}) ::signal(number, OnTerminationSignal);
}

void X11Platform::OnTermination(int fd, void* self) {
  char bytes[16];
  while (::read(fd, bytes, sizeof bytes) > 0) {
  }
  auto* platform = static_cast<X11Platform*>(self);
  std::vector<std::uintptr_t> owned, unowned;
  for (auto& [handle, node] : platform->nodes_) {
    if (node->dialog) (node->owner != 0 ? owned : unowned).push_back(handle);
  }
  for (const auto* list : {&owned, &unowned}) {
    for (std::uintptr_t handle : *list) {
      Message m;
      m.window = Handle(handle);
      m.message = kWmClose;
      platform->Queue(m);
    }
  }
}

int X11Platform::OnXEvent(void* event, void* self) {
  auto* platform = static_cast<X11Platform*>(self);
  XEvent& e = *static_cast<XEvent*>(event);
  platform->stackingFresh_ = false;  // the listing may be out of date from here on
  if (platform->held_->HandleEvent(e)) return 1;
  if (e.type == ButtonPress || e.type == ConfigureNotify) {
    // A click on a dialog's own controls takes its keyboard back from the held windows; a
    // dialog that moved tells them where they now are.
    HWND own = platform->HandleOfXid(e.xany.window);
    if (Node* node = platform->Find(own)) {
      ::Window dialog = platform->DialogXid(node);
      if (e.type == ButtonPress) {
        platform->held_->Focus(dialog, None, e.xbutton.time);
      } else if (node->dialog) {
        platform->held_->TellPositions(dialog);
      }
    }
  }
  if (e.type == ClientMessage && e.xclient.message_type == platform->messageAtom_) {
    // Another program's command to a dialog of ours (l[1] its id, l[2] its notification code):
    // queued, so that it takes the same pre-translation path as the dialog's own. Any client
    // may send one; only commands within their codes' range are taken.
    HWND window = platform->HandleOfXid(e.xclient.window);
    if (platform->Find(window) == nullptr) return 0;
    const long* l = e.xclient.data.l;
    if (l[0] != kWmCommand || l[1] < 0 || l[1] > 0xFFFF || l[2] < 0 || l[2] > 0xFFFF) return 1;
    Message m;
    m.window = window;
    m.message = kWmCommand;
    m.commandId = static_cast<unsigned>(l[1]);
    m.notifyCode = static_cast<unsigned>(l[2]);
    platform->Queue(m);
    return 1;
  }
  if (e.type == PropertyNotify && e.xproperty.atom == platform->windows_->frameExtentsAtom()) {
    // The manager changed the dialog's frame (a window manager may draw an active window's
    // frame larger): the dialog goes where it was asked to, frame and all.
    Node* node = platform->Find(platform->HandleOfXid(e.xproperty.window));
    x11::Extents now;
    if (node != nullptr && node->dialog && node->placed && !node->unframed &&
        platform->windows_->FrameExtents(e.xproperty.window, &now) &&
        (now.left != node->placedExtents.left || now.right != node->placedExtents.right ||
         now.top != node->placedExtents.top || now.bottom != node->placedExtents.bottom)) {
      platform->MoveWindow(Handle(node->handle), *node->placed, true);
    }
  }
  if (e.type == ConfigureNotify || e.type == MapNotify) platform->KeepTopmostAbove();
  // The root's events are ours alone. FLTK takes a destroyed window that is none of its own for
  // a sign that the input method died and opens it again to see, parsing the compose table each
  // time: for every window that any program on the display destroys.
  if (e.type == DestroyNotify && e.xdestroywindow.event == platform->windows_->root()) return 1;
  return 0;  // FLTK handles its own windows' events as ever
}

void X11Platform::KeepTopmostAbove() {
  // A window manager keeps _NET_WM_STATE_ABOVE windows up; without one, this does.
  if (windows_->HasWindowManager()) return;
  for (auto& [handle, node] : nodes_) {
    if (!node->topmost) continue;
    ::Window xid = XidOf(Handle(handle));
    if (xid == None) continue;
    std::vector<::Window> stack = windows_->TopLevelWindows();
    if (!stack.empty() && stack.front() != xid) XRaiseWindow(display_, xid);
  }
}

// --- Windows: ours and other programs' ---

HWND X11Platform::FindWindow(const char16_t* className, const Text& title) {
  if (title.empty()) return nullptr;
  for (HWND window : TopLevelWindows(SIZE_MAX)) {
    if (GetWindowText(window) != title) continue;
    if (className == nullptr || GetClassName(window) == className) return window;
  }
  return nullptr;
}

void X11Platform::List() {
  listing_ = windows_->ListTopLevels();
  listed_.clear();
  for (std::size_t i = 0; i < listing_.size(); ++i) listed_[listing_[i].window] = i;
  stackingFresh_ = true;
}

const x11::TopLevel* X11Platform::Listed(::Window xid) const {
  if (!stackingFresh_) return nullptr;
  auto it = listed_.find(xid);
  return it == listed_.end() ? nullptr : &listing_[it->second];
}

std::vector<HWND> X11Platform::TopLevelWindows(std::size_t limit) {
  // One listing answers the questions asked of its windows until something changes, as far as
  // this program knows (an event comes in, an operation here changes the windows).
  if (!stackingFresh_) List();
  std::vector<HWND> out;
  for (std::size_t i = 0; i < listing_.size() && i < limit; ++i) {
    out.push_back(HandleOfXid(listing_[i].window));
  }
  return out;
}

HWND X11Platform::GetOwner(HWND window) {
  if (Node* node = Find(window)) return node->dialog ? Handle(node->owner) : nullptr;
  if (!IsForeign(window)) return nullptr;
  ::Window xid = XidOf(window);
  const x11::TopLevel* listed = Listed(xid);
  return HandleOfXid(listed != nullptr ? listed->owner : windows_->Owner(xid));
}

HWND X11Platform::GetParent(HWND window) {
  Node* node = Find(window);
  if (node != nullptr) return node->dialog ? nullptr : Handle(node->parent);
  if (!IsForeign(window)) return nullptr;
  ::Window xid = XidOf(window);
  if (held_->Holds(xid)) return HandleOfXid(held_->PaneOf(xid));
  // A foreign window's real parent: none for a top-level one (a child of the root, or a
  // client in its window manager's frame).
  if (Listed(xid) != nullptr) return nullptr;
  x11::ErrorTrap trap(display_);
  ::Window root = None, parent = None, *children = nullptr;
  unsigned count = 0;
  if (XQueryTree(display_, xid, &root, &parent, &children, &count) == 0) return nullptr;
  if (children != nullptr) XFree(children);
  return parent == root || windows_->IsClient(xid) ? nullptr : HandleOfXid(parent);
}

bool X11Platform::IsWindow(HWND window) {
  if (Find(window) != nullptr) return true;
  if (!IsForeign(window)) return false;
  x11::Rect rect;
  return windows_->ScreenRect(XidOf(window), &rect);
}

namespace {

// The ICCCM state of a top-level window: 3 is iconic.
long WmState(Display* display, ::Window w) {
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  long state = -1;
  if (XGetWindowProperty(display, w, XInternAtom(display, "WM_STATE", False), 0, 2, False,
                         AnyPropertyType, &type, &format, &count, &after, &data) == Success &&
      data != nullptr && format == 32 && count >= 1) {
    state = reinterpret_cast<long*>(data)[0];
  }
  if (data != nullptr) XFree(data);
  return state;
}

bool HasWindowType(Display* display, ::Window w, const char* const* names) {
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  bool found = false;
  if (XGetWindowProperty(display, w, XInternAtom(display, "_NET_WM_WINDOW_TYPE", False), 0, 16,
                         False, XA_ATOM, &type, &format, &count, &after, &data) == Success &&
      data != nullptr && format == 32) {
    auto* atoms = reinterpret_cast<Atom*>(data);
    for (const char* const* name = names; *name != nullptr && !found; ++name) {
      Atom wanted = XInternAtom(display, *name, False);
      found = std::find(atoms, atoms + count, wanted) != atoms + count;
    }
  }
  if (data != nullptr) XFree(data);
  return found;
}

// The process's state letter from /proc: 'T' stopped, 't' traced, 'Z' a zombie.
char ProcessState(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return 0;
  std::size_t close = line.rfind(')');
  return close == std::string::npos || close + 2 >= line.size() ? 0 : line[close + 2];
}

// Started in a session of its own, so that it outlives this one's terminal; reaped by a thread
// of its own so that it leaves no zombie.
bool Spawn(const std::vector<std::string>& arguments) {
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  int error = posix_spawnp(&pid, argv[0], nullptr, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  if (error != 0) return false;
  std::thread([pid] {
    int status = 0;
    waitpid(pid, &status, 0);
  }).detach();
  return true;
}

bool IsExecutableFile(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

}  // namespace

Text X11Platform::GetWindowText(HWND window) {
  if (Node* node = Find(window)) return node->text;
  if (!IsForeign(window)) return Text();
  if (const x11::TopLevel* listed = Listed(XidOf(window))) return listed->title;
  return windows_->Title(XidOf(window));
}

void X11Platform::SetWindowText(HWND window, const Text& text) {
  // Our own windows' changes leave the listing of other programs' windows as it is.
  if (IsForeign(window)) stackingFresh_ = false;
  if (Node* node = Find(window)) {
    node->text = text;
    node->label = node->dialog ? ToUtf8(text) : LabelText(text);
    if (node->dialog) {
      node->widget->copy_label(node->label.c_str());
    } else {
      node->widget->label(node->label.c_str());
      node->widget->redraw();
    }
    return;
  }
  if (!IsForeign(window)) return;
  // The name is the window's property, read by whoever shows it: the program need not answer.
  std::string name = ToUtf8(text);
  x11::ErrorTrap trap(display_);
  Atom utf8 = XInternAtom(display_, "UTF8_STRING", False);
  for (const char* property : {"_NET_WM_NAME", "WM_NAME"}) {
    XChangeProperty(display_, XidOf(window), XInternAtom(display_, property, False), utf8, 8,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(name.data()),
                    static_cast<int>(name.size()));
  }
}

Text X11Platform::GetClassName(HWND window) {
  if (Node* node = Find(window)) {
    if (node->dialog) return kPortableDialogClass;
    return ControlClassName(node->kind);
  }
  if (!IsForeign(window)) return Text();
  ::Window xid = XidOf(window);
  if (const x11::TopLevel* listed = Listed(xid)) {
    return listed->dialog ? Text(kPortableDialogClass) : listed->windowClass;
  }
  if (windows_->IsDialog(xid)) return kPortableDialogClass;
  x11::ErrorTrap trap(display_);
  XClassHint hint{};
  Text name;
  if (XGetClassHint(display_, xid, &hint) != 0) {
    if (hint.res_class != nullptr) name = FromUtf8(hint.res_class);
    if (hint.res_name != nullptr) XFree(hint.res_name);
    if (hint.res_class != nullptr) XFree(hint.res_class);
  }
  return name;
}

bool X11Platform::HasWindowTrait(HWND window, WindowTrait trait) {
  if (Node* node = Find(window)) {
    switch (trait) {
      case WindowTrait::kVisible:  // a minimised dialog is unmapped, and counts as shown
        return node->widget->visible_r() || (node->dialog && node->minimized);
      case WindowTrait::kChild:
        return !node->dialog;
      case WindowTrait::kToolWindow:
        return false;
      case WindowTrait::kMinimized:
        return node->dialog && node->minimized;
      case WindowTrait::kHasChildren:
        if (node->dialog) return !node->controls.empty();
        return XidOf(window) != None && !held_->InPane(XidOf(window)).empty();
    }
  }
  ::Window xid = XidOf(window);
  if (const x11::TopLevel* listed = Listed(xid); listed && trait != WindowTrait::kHasChildren) {
    switch (trait) {
      case WindowTrait::kVisible:
        return listed->viewable || listed->iconic || minimized_.count(xid) != 0;
      case WindowTrait::kToolWindow:
        return listed->tool;
      case WindowTrait::kMinimized:
        return listed->iconic || minimized_.count(xid) != 0;
      default:
        return false;
    }
  }
  if (!IsWindow(window)) return false;
  x11::ErrorTrap trap(display_);
  switch (trait) {
    case WindowTrait::kVisible:
      return minimized_.count(xid) != 0 || windows_->IsVisible(xid) ||
             WmState(display_, xid) == IconicState;
    case WindowTrait::kChild:
      return GetParent(window) != nullptr;
    case WindowTrait::kToolWindow: {
      static const char* const kTools[] = {"_NET_WM_WINDOW_TYPE_UTILITY",
                                           "_NET_WM_WINDOW_TYPE_TOOLBAR", nullptr};
      return HasWindowType(display_, xid, kTools);
    }
    case WindowTrait::kMinimized:
      return WmState(display_, xid) == IconicState || minimized_.count(xid) != 0;
    case WindowTrait::kHasChildren: {
      ::Window root = None, parent = None, *children = nullptr;
      unsigned count = 0;
      if (XQueryTree(display_, xid, &root, &parent, &children, &count) == 0) return false;
      if (children != nullptr) XFree(children);
      return count > 0;
    }
  }
  return false;
}

Text X11Platform::GetWindowProgramPath(HWND window) {
  if (Find(window) != nullptr) return GetModuleFileName();
  if (!IsForeign(window)) return Text();
  return LimitedPath(windows_->ProgramPath(XidOf(window)));
}

std::uint32_t X11Platform::GetWindowProcessId(HWND window) {
  if (Find(window) != nullptr) return static_cast<std::uint32_t>(getpid());
  if (!IsForeign(window)) return 0;
  ::Window xid = XidOf(window);
  pid_t pid = windows_->ProcessId(xid);
  // A child window carries no process property of its own: its top-level window does.
  for (int depth = 0; pid == 0 && depth < 8; ++depth) {
    ::Window root = None, parent = None, *children = nullptr;
    unsigned count = 0;
    x11::ErrorTrap trap(display_);
    if (XQueryTree(display_, xid, &root, &parent, &children, &count) == 0) break;
    if (children != nullptr) XFree(children);
    if (parent == root || parent == None) break;
    xid = parent;
    if (Find(HandleOfXid(xid)) != nullptr) break;  // one of ours holds it
    pid = windows_->ProcessId(xid);
  }
  return static_cast<std::uint32_t>(pid);
}

bool X11Platform::IsWindowResponding(HWND window, unsigned) {
  // The X server answers for a window whatever its program does, so the program's own state
  // decides: stopped (or a zombie) is hung. Nothing here waits.
  if (Find(window) != nullptr) return true;
  if (!IsWindow(window)) return false;
  pid_t pid = static_cast<pid_t>(GetWindowProcessId(window));
  if (pid == 0) return true;
  char state = ProcessState(pid);
  return state != 'T' && state != 't' && state != 'Z';
}

namespace {

// What FormerFrame keeps of a foreign window: its state before it was held, none for a window
// shown as it is. Its frame comes back with its place: a window manager frames it anew.
constexpr std::uint32_t kFormerHidden = 1;     // withdrawn
constexpr std::uint32_t kFormerMinimized = 2;  // iconic

}  // namespace

bool X11Platform::HoldWindow(HWND window, HWND holder, const Placement& p, FormerFrame* former) {
  Node* pane = Find(holder);
  if (!IsForeign(window) || pane == nullptr || pane->dialog || XidOf(holder) == None ||
      !IsWindow(window) || GetParent(window) != nullptr) {
    return false;
  }
  ::Window xid = XidOf(window);
  former->bits = (HasWindowTrait(window, WindowTrait::kVisible) ? 0 : kFormerHidden) |
                 (HasWindowTrait(window, WindowTrait::kMinimized) ? kFormerMinimized : 0);
  Rect frame = GetWindowRect(window);
  x11::Rect client;
  if (!windows_->ScreenRect(xid, &client)) return false;
  const x11::Rect insets{client.x - frame.left, client.y - frame.top, frame.Width() - client.width,
                         frame.Height() - client.height};
  // Its dialogs, as a listing names them before it leaves the listing.
  List();
  std::vector<::Window> transients;
  for (const x11::TopLevel& t : listing_) {
    if (t.owner == xid) transients.push_back(t.window);
  }
  stackingFresh_ = false;
  // Taken at its frame's numbers, which the keeper learns as its former place.
  if (!held_->Take(xid, XidOf(holder), DialogXid(pane), frame.left, frame.top, insets)) {
    return false;
  }
  minimized_.erase(xid);  // shown in the pane
  held_->MoveResize(xid, {p.x, p.y, p.width, p.height});
  held_->AdoptTransients(xid, transients);
  XSync(display_, False);
  return true;
}

void X11Platform::GiveBackWindow(HWND window, const Rect& rect, const FormerFrame& former, bool) {
  stackingFresh_ = false;
  if (!IsForeign(window) || !IsWindow(window)) return;
  ShareInput(window, false);
  ::Window xid = XidOf(window);
  const Placement place{rect.left, rect.top, rect.Width(), rect.Height()};
  if (held_->Holds(xid)) {
    held_->GiveBack(xid, {place.x, place.y, place.width, place.height});
  } else {
    // Taking it failed and left it on the desktop: only its place is given back.
    MoveWindow(window, place, true);
  }
  if ((former.bits & kFormerMinimized) != 0) {
    ShowWindow(window, kSwMinimize);
  } else if ((former.bits & kFormerHidden) != 0) {
    ShowWindow(window, kSwHide);
  }
  XSync(display_, False);
}

bool X11Platform::FinishReturningWindows(unsigned) {
  return true;
}

void X11Platform::ShareInput(HWND window, bool shared) {
  if (IsForeign(window)) held_->ShareInput(XidOf(window), shared);
}

void X11Platform::MoveWindow(HWND window, const Placement& p, bool repaint) {
  // Our own windows' changes leave the listing of other programs' windows as it is.
  if (IsForeign(window)) stackingFresh_ = false;
  if (Node* node = Find(window)) {
    if (node->dialog) {
      auto* w = static_cast<Fl_Window*>(node->widget);
      if (!w->shown()) node->unframed = p;
      node->placed = p;
      Rect frame = GetWindowRect(window);
      int dx = 0, dy = 0, dw = 0, dh = 0;
      x11::Rect client;
      x11::Extents extents;
      node->placedExtents = x11::Extents{};
      if (w->shown() && windows_->FrameExtents(fl_xid(w), &extents)) {
        node->placedExtents = extents;
        // The frame as its manager describes it: its windows' geometry need not show it.
        dx = extents.left;
        dy = extents.top;
        dw = extents.left + extents.right;
        dh = extents.top + extents.bottom;
      } else if (w->shown() && windows_->ScreenRect(fl_xid(w), &client)) {
        dx = client.x - frame.left;
        dy = client.y - frame.top;
        dw = frame.Width() - client.width;
        dh = frame.Height() - client.height;
      } else if (w->border() && windows_->NewWindowExtents(&extents)) {
        // Not framed yet: the frame it will get, so that the client rectangle is right at once.
        dx = extents.left;
        dy = extents.top;
        dw = extents.left + extents.right;
        dh = extents.top + extents.bottom;
      }
      const int width = std::max(p.width - dw, 1), height = std::max(p.height - dh, 1);
      // The window manager is told the size it may have (the user may not change it): a size
      // range from before would hold it at the former size.
      w->size_range(width, height, width, height);
      w->resize(p.x + dx, p.y + dy, width, height);
      // The toolkit asks for a move only when its cached position differs, and a manager that
      // moved the window meanwhile would leave it there: the whole request goes out.
      if (w->shown()) XMoveResizeWindow(display_, fl_xid(w), p.x + dx, p.y + dy, width, height);
    } else {
      int top = nodes_[node->parent]->menuHeight;
      node->widget->resize(p.x, p.y + top, std::max(p.width, 1), std::max(p.height, 1));
      if (node->widget->parent() != nullptr) node->widget->parent()->redraw();
      // A pane that moved moves the windows it holds on the screen.
      if (::Window pane = XidOf(window); pane != None && !held_->InPane(pane).empty()) {
        Fl::flush();
        held_->TellPositions(DialogXid(node));
      }
    }
    if (repaint) node->widget->redraw();
    // A window of its own (a dialog, a pane) has moved on the server once the call returns. A
    // control that is none, or a window not shown yet, has nothing there: the loop draws it.
    if (Fl_Window* own = node->widget->as_window(); own != nullptr && own->shown()) {
      Fl::flush();
      XSync(display_, False);
    }
    return;
  }
  if (!IsWindow(window)) return;
  ::Window xid = XidOf(window);
  if (held_->Holds(xid)) {
    held_->MoveResize(xid, {p.x, p.y, p.width, p.height});
  } else if (GetParent(window) != nullptr) {
    windows_->MoveResize(xid, {p.x, p.y, p.width, p.height});
  } else {
    // The numbers are the frame's; the request is for the window within it.
    Rect frame = GetWindowRect(window);
    x11::Rect client;
    if (!windows_->ScreenRect(xid, &client)) return;
    windows_->MoveResize(xid, {p.x, p.y, std::max(p.width - (frame.Width() - client.width), 1),
                               std::max(p.height - (frame.Height() - client.height), 1)});
  }
  if (repaint) XClearArea(display_, xid, 0, 0, 0, 0, True);
  XSync(display_, False);
}

void X11Platform::MoveTopmost(HWND window, int x, int y) {
  stackingFresh_ = false;
  Node* node = Find(window);
  if (node == nullptr || !node->dialog) return;
  node->topmost = true;
  auto* w = static_cast<Fl_Window*>(node->widget);
  if (!w->shown()) w->show();
  ::Window xid = fl_xid(w);
  if (windows_->HasWindowManager()) {
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = xid;
    e.xclient.message_type = XInternAtom(display_, "_NET_WM_STATE", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = 1;  // add
    e.xclient.data.l[1] = static_cast<long>(XInternAtom(display_, "_NET_WM_STATE_ABOVE", False));
    e.xclient.data.l[3] = 1;  // from an application
    XSendEvent(display_, windows_->root(), False, SubstructureRedirectMask | SubstructureNotifyMask,
               &e);
  }
  Rect frame = GetWindowRect(window);
  MoveWindow(window, {x, y, frame.Width(), frame.Height()}, true);
  XRaiseWindow(display_, xid);
  windows_->Foreground(xid);
  XSync(display_, False);
}

Rect X11Platform::GetWindowRect(HWND window) {
  if (Node* node = Find(window)) {
    Node* dialog = DialogOf(node);
    auto* w = static_cast<Fl_Window*>(dialog->widget);
    x11::Rect r{w->x(), w->y(), w->w(), w->h()};
    if (w->shown()) {
      if (node->dialog) {
        windows_->FrameRect(fl_xid(w), &r);
      } else {
        windows_->ScreenRect(fl_xid(w), &r);
      }
    }
    if (node->dialog) return {r.x, r.y, r.x + r.width, r.y + r.height};
    Fl_Widget* c = node->widget;
    return {r.x + c->x(), r.y + c->y(), r.x + c->x() + c->w(), r.y + c->y() + c->h()};
  }
  if (!IsForeign(window)) return {};
  x11::Rect r;
  ::Window xid = XidOf(window);
  bool ok = held_->Holds(xid)              ? held_->ContentRect(xid, &r)
            : GetParent(window) == nullptr ? windows_->FrameRect(xid, &r)
                                           : windows_->ScreenRect(xid, &r);
  return ok ? Rect{r.x, r.y, r.x + r.width, r.y + r.height} : Rect{};
}

Rect X11Platform::GetClientRect(HWND window) {
  if (Node* node = Find(window)) {
    int top = node->dialog ? node->menuHeight : 0;
    return {0, 0, node->widget->w(), std::max(node->widget->h() - top, 0)};
  }
  x11::Rect r;
  if (!IsForeign(window) || !windows_->ScreenRect(XidOf(window), &r)) return {};
  return {0, 0, r.width, r.height};
}

void X11Platform::ShowWindow(HWND window, ShowCommand command) {
  stackingFresh_ = false;
  if (Node* node = Find(window)) {
    Fl_Widget* w = node->widget;
    Fl_Window* own = w->as_window();
    if (!node->dialog && own != nullptr && own->shown()) {
      // A control's window is unmapped and mapped again, never destroyed as the toolkit's own
      // hide() would: a pane may hold another program's window, which would go with it.
      if (command == kSwHide) {
        w->Fl_Widget::hide();
        XUnmapWindow(display_, fl_xid(own));
      } else {
        w->Fl_Widget::show();
        XMapWindow(display_, fl_xid(own));
      }
      RestackControls(DialogOf(node));
      XFlush(display_);
      return;
    }
    if (command == kSwHide) {
      w->hide();
    } else if (command == kSwMinimize && node->dialog) {
      static_cast<Fl_Window*>(w)->iconize();
      node->minimized = true;
    } else {
      node->minimized = false;
      if (node->dialog && !static_cast<Fl_Window*>(w)->shown()) {
        ShowDialog(node);
      } else {
        w->show();
        if (!node->dialog) RestackControls(DialogOf(node));
      }
    }
    Fl::flush();
    return;
  }
  if (!IsWindow(window)) return;
  // Requests to the server and the window manager: the program takes no part.
  ::Window xid = XidOf(window);
  bool topLevel = GetParent(window) == nullptr;
  x11::ErrorTrap trap(display_);
  switch (command) {
    case kSwHide:
      minimized_.erase(xid);
      if (topLevel) {
        XWithdrawWindow(display_, xid, DefaultScreen(display_));
      } else {
        XUnmapWindow(display_, xid);
      }
      break;
    case kSwMinimize:
      if (topLevel) {
        windows_->Iconify(xid);
        if (!windows_->HasWindowManager()) minimized_.insert(xid);
      }
      break;
    case kSwShow:
      minimized_.erase(xid);
      XMapWindow(display_, xid);
      break;
  }
  XFlush(display_);
}

bool X11Platform::SetForegroundWindow(HWND window) {
  stackingFresh_ = false;
  if (Node* node = Find(window)) {
    if (!node->dialog) return false;
    auto* w = static_cast<Fl_Window*>(node->widget);
    w->show();
    bool done = windows_->Foreground(fl_xid(w));
    XSync(display_, False);
    return done;
  }
  if (!IsWindow(window)) return false;
  ::Window xid = XidOf(window);
  if (held_->Holds(xid)) {
    // A held window has the keyboard of the dialog that holds it, once that is active.
    Node* pane = Find(HandleOfXid(held_->PaneOf(xid)));
    ::Window dialog = pane != nullptr ? DialogXid(pane) : None;
    if (dialog == None) return false;
    held_->Focus(dialog, xid, CurrentTime);
    bool done = windows_->Foreground(dialog);
    XSync(display_, False);
    return done;
  }
  bool done = windows_->Foreground(xid);
  XSync(display_, False);
  return done;
}

void X11Platform::InvalidateWindow(HWND window, bool) {
  if (Node* node = Find(window)) {
    node->widget->redraw();
    return;
  }
  if (!IsWindow(window)) return;
  x11::ErrorTrap trap(display_);
  XClearArea(display_, XidOf(window), 0, 0, 0, 0, True);
}

Screen X11Platform::GetScreen() {
  int x = 0, y = 0, w = 0, h = 0;
  Fl::screen_work_area(x, y, w, h, 0);
  return {Fl::w(), Fl::h(), {x, y, x + w, y + h}};
}

// --- Processes, shell ---

Text X11Platform::GetModuleFileName() {
  char path[4096];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof path) return Text();
  return LimitedPath(std::string(path, static_cast<std::size_t>(length)));
}

Text X11Platform::LocateSettingsFile(const Text& besideProgram) {
  std::string path = ToUtf8(besideProgram);
  std::size_t slash = path.rfind('/');
  if (path.empty() || slash == std::string::npos) return besideProgram;
  const std::string folder = path.substr(0, slash == 0 ? 1 : slash);
  if (SettingsBesideProgram(folder, access(folder.c_str(), W_OK) == 0)) return besideProgram;
  std::string user = UserSettingsPath(path, getenv("XDG_CONFIG_HOME"), getenv("HOME"));
  if (user.empty()) return besideProgram;
  std::error_code error;
  std::filesystem::create_directories(user.substr(0, user.rfind('/')), error);
  return LimitedPath(user);
}

std::optional<std::uint64_t> X11Platform::GetFileVersion(const Text& path) {
  std::uint32_t mostSignificant = 0, leastSignificant = 0;
  if (!ReadElfFileVersion(files_, path, &mostSignificant, &leastSignificant)) return std::nullopt;
  return std::uint64_t{mostSignificant} << 32 | leastSignificant;
}

bool X11Platform::CreateProcess(const Text& path) {
  std::string file = ToUtf8(path);
  if (file.empty() || file[0] != '/' || !IsExecutableFile(file)) return false;
  return Spawn({file});
}

void X11Platform::Sleep(unsigned milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

bool X11Platform::ClaimInstanceName(const Text& name) {
  return windows_->ClaimName(ToUtf8(name));
}

bool X11Platform::InstanceNameHeld(const Text& name) {
  return windows_->NameHeld(ToUtf8(name));
}

bool X11Platform::ShellExecute(HWND, const Text& file, const Text& parameters) {
  std::string target = ToUtf8(file);
  if (target.empty()) return false;
  // A program runs itself, with the parameters as its one argument; anything else (a document,
  // an address) goes to the desktop's opener.
  if (target.find("://") == std::string::npos) {
    struct stat info;
    if (stat(target.c_str(), &info) != 0) return false;
    if (IsExecutableFile(target)) {
      std::vector<std::string> arguments{target};
      if (!parameters.empty()) arguments.push_back(ToUtf8(parameters));
      return Spawn(arguments);
    }
  }
  return Spawn({"xdg-open", target});
}

// --- Downloads and workers ---

std::int32_t X11Platform::DownloadToFile(const Text& url, const Text& path, std::uint64_t limit,
                                         const DownloadProgress& progress) {
  // The transfer belongs to the modal run it dispatches for: closing that dialog ends it.
  DialogSink* run = modal_.empty() ? nullptr : modal_.back();
  return TellMissingLibrary(x11::DownloadFileWhileWaiting(
      ToUtf8(url), files_.HostPath(path), limit, progress,
      [](int milliseconds) { Fl::wait(milliseconds / 1000.0); },
      [this, run] { return quitPosted_.load() || (run != nullptr && run->ModalRunEnded()); }));
}

std::int32_t X11Platform::DownloadToMemory(const Text& url, std::size_t limit, std::string* body) {
  return TellMissingLibrary(x11::DownloadToMemory(ToUtf8(url), limit, body, &cancellation_));
}

std::int32_t X11Platform::TellMissingLibrary(std::int32_t result) {
  std::string why;
  if (result == x11::kNoLibrary && x11::Curl(&why) == nullptr) {
    files_.DebugOutput(u"libcurl could not be loaded: " + FromUtf8(why) + u"\r\n");
  }
  return result;
}

bool X11Platform::StartWorker(std::function<void()> work) {
  try {
    workers_.emplace_back(std::move(work));
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void X11Platform::SetCrashHandler(void (*)(void* context), void*) {
  // A fault ends the process with the signal's default action; the keeper then gives the held
  // windows back, over a connection of its own.
}

}  // namespace sorvel
