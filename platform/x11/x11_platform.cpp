#include "platform/x11/x11_platform.h"

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Hold_Browser.H>
#include <FL/Fl_Menu_Bar.H>
#include <FL/Fl_Progress.H>
#include <FL/Fl_Round_Button.H>
#include <FL/Fl_Window.H>
#include <FL/fl_ask.H>
#include <FL/fl_draw.H>
#include <FL/x.H>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <system_error>

extern char** environ;

namespace sorvel {

namespace {

constexpr std::uintptr_t kOwnTag = std::uintptr_t{1} << 40;
constexpr std::size_t kMaxPath = 259;
// The display font of every dialog: it covers Hangul.
constexpr Fl_Font kDialogFont = FL_FREE_FONT;

std::uintptr_t Value(HWND window) {
  return reinterpret_cast<std::uintptr_t>(window);
}
HWND Handle(std::uintptr_t value) {
  return reinterpret_cast<HWND>(value);
}

// Reports the X errors of the requests made during its life instead of the toolkit's handler.
class ErrorTrap {
 public:
  explicit ErrorTrap(Display* display) : display_(display) {
    XSync(display_, False);
    failed_ = false;
    previous_ = XSetErrorHandler(&Record);
  }
  ~ErrorTrap() {
    XSync(display_, False);
    XSetErrorHandler(previous_);
  }
  bool Failed() {
    XSync(display_, False);
    return failed_;
  }

 private:
  static int Record(Display*, XErrorEvent*) {
    failed_ = true;
    return 0;
  }
  static inline bool failed_ = false;
  Display* display_;
  XErrorHandler previous_;
};

std::uint64_t NowMs() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

// A program path as the platform gives it: whole, within the limit, or not at all.
Text LimitedPath(const std::string& path) {
  Text text = FromUtf8(path);
  return text.size() > kMaxPath ? Text() : text;
}

// FLTK reads '@' in labels as a symbol and '&' as a shortcut; the text is shown as it is.
std::string LabelText(const Text& text) {
  std::string out;
  for (char c : ToUtf8(text)) {
    if (c == '@') out += '@';
    out += c;
  }
  return out;
}

}  // namespace

struct X11Platform::Node {
  std::uintptr_t handle = 0;
  bool dialog = false;
  int id = 0;
  ControlKind kind = ControlKind::kStatic;
  std::uint32_t style = 0;
  Fl_Widget* widget = nullptr;           // a dialog's window owns its controls' widgets
  std::uintptr_t parent = 0;             // a control's dialog
  std::uintptr_t owner = 0;              // a dialog's owner
  std::vector<std::uintptr_t> controls;  // a dialog's, topmost first
  DialogSink* sink = nullptr;
  Text text;
  std::string label;        // the widget's label, kept alive here
  std::vector<Text> items;  // a list box's
  int menuHeight = 0;       // a dialog's menu bar, above its client area
  bool topmost = false;
  bool minimized = false;
  // A dialog's placement asked for before it was shown: its frame's numbers, which can only be
  // turned into the window's once the window manager has framed it.
  std::optional<Placement> unframed;
  // A dialog's latest placement: asked for again when its manager changes its frame.
  std::optional<Placement> placed;
};

struct X11Platform::Timer {
  X11Platform* platform;
  std::uintptr_t window;
  unsigned id;
  double seconds;
};

namespace {

// Our widgets know their handle, to turn toolkit events into the framework's messages.
struct Owned {
  X11Platform* platform = nullptr;
  std::uintptr_t own = 0;  // the handle of the window
};

class DialogWindow : public Fl_Double_Window, public Owned {
 public:
  DialogWindow(int w, int h) : Fl_Double_Window(w, h) {}
  std::function<void(int, int)> onSize;
  std::function<void()> onClose;
  void resize(int x, int y, int w, int h) override {
    bool sized = w != this->w() || h != this->h();
    Fl_Double_Window::resize(x, y, w, h);
    if (sized && onSize) onSize(w, h);
  }
};

// Asks the dialog for a control's colours before drawing it.
using ColorQuery = std::function<bool(ControlColors*)>;

// Gives the widget the colours its dialog answers, else the toolkit's own.
void ApplyColors(Fl_Widget* widget, const ColorQuery& query) {
  ControlColors colors;
  if (!query || !query(&colors)) {
    widget->color(FL_BACKGROUND_COLOR);
    widget->labelcolor(FL_FOREGROUND_COLOR);
    return;
  }
  auto rgb = [](COLORREF c) {
    return fl_rgb_color(static_cast<uchar>(c & 0xFF), static_cast<uchar>((c >> 8) & 0xFF),
                        static_cast<uchar>((c >> 16) & 0xFF));
  };
  widget->color(rgb(colors.background));
  widget->labelcolor(rgb(colors.text));
}

// A button that paints in the colours its dialog answers, else in the toolkit's own.
template <class Base>
class ColoredButton : public Base {
 public:
  ColoredButton(int x, int y, int w, int h) : Base(x, y, w, h) {}
  ColorQuery colors;
  void draw() override {
    ApplyColors(this, colors);
    Base::draw();
  }
};

// A push button is an X window of its own, as a control is on the platform: where it overlaps a
// pane it stays above the pane's window and the program held in it, which a button drawn into
// the dialog's own window would not.
class PushButton : public Fl_Window {
 public:
  PushButton(int x, int y, int w, int h) : Fl_Window(x, y, w, h) { end(); }
  ColorQuery colors;
  void draw() override {
    ApplyColors(this, colors);
    fl_draw_box(pressed_ ? FL_DOWN_BOX : FL_UP_BOX, 0, 0, w(), h(), color());
    fl_font(labelfont(), labelsize());
    fl_color(active_r() ? labelcolor() : fl_inactive(labelcolor()));
    fl_draw(label(), 0, 0, w(), h(), FL_ALIGN_CENTER, nullptr, 1);
  }
  // A click is a press and a release inside; a release elsewhere does nothing.
  int handle(int event) override {
    switch (event) {
      case FL_PUSH:
      case FL_DRAG: {
        bool inside = Fl::event_inside(0, 0, w(), h()) != 0;
        if (inside != pressed_) {
          pressed_ = inside;
          redraw();
        }
        return 1;
      }
      case FL_RELEASE:
        if (pressed_) {
          pressed_ = false;
          redraw();
          do_callback();
        }
        return 1;
      default:
        return Fl_Window::handle(event);
    }
  }

 private:
  bool pressed_ = false;
};

// Radio buttons ask as static controls do, as on the platform.
class RadioButton : public ColoredButton<Fl_Round_Button> {
 public:
  RadioButton(int x, int y, int w, int h) : ColoredButton(x, y, w, h) {
    box(FL_FLAT_BOX);  // painted in its background colour
  }
};

// A static control is an X window of its own: a pane holds another program's window in it.
class StaticWindow : public Fl_Window {
 public:
  StaticWindow(int x, int y, int w, int h) : Fl_Window(x, y, w, h) {
    end();
    box(FL_FLAT_BOX);
    align(FL_ALIGN_INSIDE | FL_ALIGN_LEFT | FL_ALIGN_TOP | FL_ALIGN_WRAP);
  }
  ColorQuery colors;
  std::function<void()> onClick;
  void draw() override {
    ApplyColors(this, colors);
    Fl_Window::draw();
    // A window's label is its title: a static control shows its own inside.
    fl_font(labelfont(), labelsize());
    fl_color(labelcolor());
    fl_draw(label(), 2, 0, w() - 4, h(), align(), nullptr, 1);
  }
  int handle(int event) override {
    if (event == FL_PUSH && onClick) {
      onClick();
      return 1;
    }
    return Fl_Window::handle(event);
  }
};

}  // namespace

X11Platform::X11Platform() : files_(std::string(), true) {
  Fl::lock();  // enables Fl::awake from other threads
  fl_open_display();
  display_ = fl_display;
  windows_ = std::make_unique<x11::X11Windows>(display_);
  held_ = std::make_unique<x11::HeldWindows>(*windows_);
  messageAtom_ = XInternAtom(display_, "SORVEL_MESSAGE", False);
  frameExtentsAtom_ = XInternAtom(display_, "_NET_FRAME_EXTENTS", False);
  Fl::set_font(kDialogFont, "NanumGothic");
  // The toolkit's own texts (message box buttons) too.
  Fl::set_font(FL_HELVETICA, "NanumGothic");
  fl_message_font(kDialogFont, 14);
  Fl::add_system_handler(OnXEvent, this);
  // Other programs' windows are seen as they come and go: top-most windows stay above them.
  XSelectInput(display_, windows_->root(), SubstructureNotifyMask);
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

void X11Platform::RestackControls(Node* dialog) {
  std::vector<::Window> order;
  for (std::uintptr_t ch : dialog->controls) {
    if (::Window xid = XidOf(Handle(ch)); xid != None) order.push_back(xid);
  }
  if (order.size() > 1) XRestackWindows(display_, order.data(), static_cast<int>(order.size()));
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
    Posted posted;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (posted_.empty()) break;
      posted = posted_.front();
      posted_.pop_front();
    }
    Message m;
    m.window = Handle(posted.window);
    m.message = posted.message;
    if (posted.message == kWmCommand) {
      m.commandId = posted.wParam & 0xFFFF;
      m.notifyCode = (posted.wParam >> 16) & 0xFFFF;
    } else if (posted.message == kWmTimer) {
      m.timerId = static_cast<unsigned>(posted.wParam);
    }
    // The innermost modal run sees every queued message before its window does.
    if (!modal_.empty() && modal_.back()->PreTranslateMessage(m)) continue;
    Node* node = Find(m.window);
    if (node != nullptr) Deliver(DialogOf(node), m);
  }
}

void X11Platform::PostMessage(HWND window, std::uint32_t message, std::uintptr_t wParam,
                              std::intptr_t) {
  if (IsForeign(window)) {
    // Another program's window hears of it as a client message (another instance's dialog
    // takes it into its queue).
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = XidOf(window);
    e.xclient.message_type = messageAtom_;
    e.xclient.format = 32;
    e.xclient.data.l[0] = static_cast<long>(message);
    e.xclient.data.l[1] = static_cast<long>(wParam);
    XSendEvent(display_, e.xclient.window, False, NoEventMask, &e);
    XFlush(display_);
    return;
  }
  if (message == kWmQuit) {
    quitPosted_ = true;
  } else {
    std::lock_guard<std::mutex> lock(mutex_);
    posted_.push_back({Value(window), message, wParam});
  }
  Fl::awake(OnAwake, this);
}

void X11Platform::SendMessage(HWND window, std::uint32_t message, std::uintptr_t wParam,
                              std::intptr_t lParam) {
  Node* node = Find(window);
  if (node == nullptr) return;
  if (message == kPbmSetPos && node->kind == ControlKind::kProgressBar && !node->dialog) {
    static_cast<Fl_Progress*>(node->widget)->value(static_cast<float>(wParam));
    return;
  }
  Message m;
  m.window = window;
  m.message = message;
  if (message == kWmCommand) {
    m.commandId = wParam & 0xFFFF;
    m.notifyCode = (wParam >> 16) & 0xFFFF;
  } else if (message == kWmSize) {
    m.width = static_cast<int>(lParam & 0xFFFF);
    m.height = static_cast<int>((lParam >> 16) & 0xFFFF);
  }
  Deliver(DialogOf(node), m);
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
    for (std::uintptr_t handle : *list) platform->PostMessage(Handle(handle), kWmClose, 0, 0);
  }
}

void X11Platform::Pump(unsigned milliseconds) {
  std::uint64_t end = NowMs() + milliseconds;
  for (std::uint64_t now = NowMs(); now < end; now = NowMs()) {
    Fl::wait(static_cast<double>(end - now) / 1000.0);
  }
  Fl::check();
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
    // Another program's command to a dialog of ours: queued as if posted here, so that it
    // takes the same pre-translation path. Any client may send one; only commands are taken.
    HWND window = platform->HandleOfXid(e.xclient.window);
    if (platform->Find(window) == nullptr) return 0;
    if (e.xclient.data.l[0] != kWmCommand) return 1;
    {
      std::lock_guard<std::mutex> lock(platform->mutex_);
      platform->posted_.push_back({Value(window), static_cast<std::uint32_t>(e.xclient.data.l[0]),
                                   static_cast<std::uintptr_t>(e.xclient.data.l[1])});
    }
    platform->DeliverPosted();
    return 1;
  }
  if (e.type == PropertyNotify && e.xproperty.atom == platform->frameExtentsAtom_) {
    // The manager changed the dialog's frame (a window manager may draw an active window's
    // frame larger): the dialog goes where it was asked to, frame and all.
    Node* node = platform->Find(platform->HandleOfXid(e.xproperty.window));
    if (node != nullptr && node->dialog && node->placed && !node->unframed) {
      platform->MoveWindow(Handle(node->handle), *node->placed, true);
    }
  }
  if (e.type == ConfigureNotify || e.type == MapNotify) platform->KeepTopmostAbove();
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

// --- Dialogs and controls ---

namespace {

// The dialog font's base units in pixels, as the platform measures them: the average width of
// the Latin letters and the line height.
void BaseUnits(int points, int* baseX, int* baseY) {
  int pixels = (points * 96 + 36) / 72;
  fl_font(kDialogFont, pixels);
  const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  *baseX = static_cast<int>((fl_width(letters) / 26 + 1) / 2);
  *baseY = fl_height();
}

}  // namespace

HWND X11Platform::CreateDialogWindow(const DialogTemplate& t, HWND owner, DialogSink* sink) {
  int baseX = 0, baseY = 0;
  BaseUnits(t.fontPoints, &baseX, &baseY);
  int fontPixels = (t.fontPoints * 96 + 36) / 72;
  auto px = [&](int du) { return (du * baseX + 2) / 4; };
  auto py = [&](int du) { return (du * baseY + 4) / 8; };

  Node* dialog = NewNode();
  dialog->dialog = true;
  dialog->id = t.id;
  dialog->style = t.style;
  dialog->sink = sink;
  dialog->owner = Find(owner) != nullptr ? Value(owner) : 0;
  dialog->text = t.title;
  dialog->label = ToUtf8(dialog->text);
  auto* window = new DialogWindow(px(t.cx), py(t.cy));
  window->platform = this;
  window->own = dialog->handle;
  window->copy_label(dialog->label.c_str());
  window->xclass("Dialog");
  if ((t.style & kWsCaption) != kWsCaption) window->border(0);  // a caption is both bits
  dialog->widget = window;
  std::uintptr_t handle = dialog->handle;
  window->onSize = [this, handle](int w, int h) {
    Node* node = Find(Handle(handle));
    if (node == nullptr) return;
    Message m;
    m.window = Handle(handle);
    m.message = kWmSize;
    m.width = w;
    m.height = h - node->menuHeight;
    Deliver(node, m);
  };
  window->callback([](Fl_Widget* w, void*) {
    auto* d = static_cast<DialogWindow*>(w);
    d->platform->SendMessage(Handle(d->own), kWmClose, 0, 0);
  });

  for (const ControlTemplate& c : t.controls) {
    Node* control = NewNode();
    control->id = c.id;
    control->kind = c.kind;
    control->style = c.style;
    control->parent = handle;
    control->text = c.text;
    control->label = LabelText(control->text);
    dialog->controls.push_back(control->handle);
    int x = px(c.x), y = py(c.y), w = px(c.cx), h = py(c.cy);
    std::uintptr_t ch = control->handle;
    ColorQuery colors = [this, handle, ch, kind = c.kind](ControlColors* out) {
      Message m;
      m.window = Handle(handle);
      m.message = kind == ControlKind::kPushButton ? kWmCtlColorBtn : kWmCtlColorStatic;
      m.control = Handle(ch);
      Deliver(Find(Handle(handle)), m);
      if (!m.colors) return false;
      *out = *m.colors;
      return true;
    };
    Fl_Widget* widget = nullptr;
    switch (c.kind) {
      case ControlKind::kPushButton: {
        auto* button = new PushButton(x, y, w, h);
        button->colors = colors;
        widget = button;
        break;
      }
      case ControlKind::kRadioButton: {
        auto* radio = new RadioButton(x, y, w, h);
        radio->type(FL_TOGGLE_BUTTON);
        radio->colors = colors;
        widget = radio;
        break;
      }
      case ControlKind::kStatic: {
        auto* pane = new StaticWindow(x, y, w, h);
        pane->colors = colors;
        if ((c.style & kWsBorder) != 0) pane->box(FL_BORDER_BOX);
        if ((c.style & kSsNotify) != 0) {
          pane->onClick = [this, handle, id = c.id] {
            Message m;
            m.window = Handle(handle);
            m.message = kWmCommand;
            m.commandId = static_cast<unsigned>(id);
            m.notifyCode = kStnClicked;
            Deliver(Find(Handle(handle)), m);
          };
        }
        window->add(pane);
        widget = pane;
        break;
      }
      case ControlKind::kListBox: {
        auto* list = new Fl_Hold_Browser(x, y, w, h);
        list->textfont(kDialogFont);
        list->textsize(fontPixels);
        widget = list;
        break;
      }
      case ControlKind::kProgressBar: {
        auto* bar = new Fl_Progress(x, y, w, h);
        bar->minimum(0);
        bar->maximum(100);
        bar->selection_color(FL_BLUE);
        widget = bar;
        break;
      }
    }
    control->widget = widget;
    widget->labelfont(kDialogFont);
    widget->labelsize(fontPixels);
    widget->label(control->label.c_str());
    // The callback's data is the platform (argument() would overwrite it: one field in FLTK).
    if (c.kind != ControlKind::kStatic) widget->callback(OnControl, this);
    if (!c.visible) widget->hide();
  }
  window->end();
  // FLTK draws the last child on top; the template's first control lies on top.
  for (std::uintptr_t ch : dialog->controls) {
    window->insert(*nodes_[ch]->widget, 0);
  }
  window->labelfont(kDialogFont);
  sink->OnDialogCreated(Handle(handle));
  Node* node = Find(Handle(handle));
  if (node != nullptr && (t.style & kWsVisible) != 0) ShowDialog(node);
  return Find(Handle(handle)) != nullptr ? Handle(handle) : nullptr;
}

void X11Platform::ShowDialog(Node* dialog) {
  std::uintptr_t handle = dialog->handle;
  auto* window = static_cast<Fl_Window*>(dialog->widget);
  window->show();
  // Its frame's extents as the manager changes them (PropertyNotify), beside the toolkit's events.
  XWindowAttributes attributes;
  if (XGetWindowAttributes(display_, fl_xid(window), &attributes)) {
    XSelectInput(display_, fl_xid(window), attributes.your_event_mask | PropertyChangeMask);
  }
  // Listed among the top-level windows once mapped (under a window manager, once managed and,
  // for a framed window, once the manager has described its frame): looked for again as each
  // event comes in, for a second at most.
  const bool framed = window->border() && windows_->HasWindowManager();
  for (std::uint64_t end = NowMs() + 1000; NowMs() < end;) {
    Fl::check();
    if (Find(Handle(handle)) == nullptr) return;  // destroyed by its own handlers
    std::vector<::Window> stack = windows_->TopLevelWindows();
    x11::Extents extents;
    if (std::find(stack.begin(), stack.end(), fl_xid(window)) != stack.end() &&
        (!framed || windows_->FrameExtents(fl_xid(window), &extents))) {
      break;
    }
    Fl::wait(0.01);
  }
  if (Node* node = Find(Handle(handle)); node != nullptr && node->unframed) {
    Placement placement = *node->unframed;
    node->unframed.reset();
    MoveWindow(Handle(handle), placement, true);
  }
}

void X11Platform::OnControl(Fl_Widget* widget, void* self) {
  auto* platform = static_cast<X11Platform*>(self);
  Node* control = nullptr;
  for (auto& [handle, node] : platform->nodes_) {
    if (node->widget == widget && !node->dialog) control = node.get();
  }
  if (control == nullptr) return;
  std::uintptr_t ch = control->handle;
  Node* dialog = platform->DialogOf(control);
  Message m;
  m.window = Handle(control->parent);
  m.message = kWmCommand;
  m.commandId = static_cast<unsigned>(control->id);
  switch (control->kind) {
    case ControlKind::kRadioButton: {
      // An automatic radio button checks itself and clears the others of its group.
      auto* radio = static_cast<Fl_Button*>(widget);
      radio->value(1);
      auto& list = dialog->controls;
      auto at = std::find(list.begin(), list.end(), ch) - list.begin();
      auto first = at, last = at;
      auto isRadio = [&](std::ptrdiff_t i) {
        return platform->nodes_[list[static_cast<std::size_t>(i)]]->kind ==
               ControlKind::kRadioButton;
      };
      while (first > 0 && (platform->nodes_[list[first]]->style & kWsGroup) == 0 &&
             isRadio(first - 1)) {
        --first;
      }
      while (last + 1 < static_cast<std::ptrdiff_t>(list.size()) && isRadio(last + 1) &&
             (platform->nodes_[list[last + 1]]->style & kWsGroup) == 0) {
        ++last;
      }
      for (auto i = first; i <= last; ++i) {
        if (i != at) static_cast<Fl_Button*>(platform->nodes_[list[i]]->widget)->value(0);
      }
      m.notifyCode = kBnClicked;
      break;
    }
    case ControlKind::kListBox:
      if ((control->style & kLbsNotify) == 0) return;
      m.notifyCode = Fl::event_clicks() > 0 ? kLbnDblClk : kLbnSelChange;
      break;
    default:
      m.notifyCode = kBnClicked;
      break;
  }
  platform->Deliver(dialog, m);
}

bool X11Platform::RunModalLoop(HWND, HWND owner, DialogSink* sink) {
  Node* ownerNode = Find(owner);
  if (ownerNode != nullptr) ownerNode->widget->deactivate();
  std::uintptr_t ownerHandle = Value(owner);
  modal_.push_back(sink);
  bool quit = false;
  while (!sink->ModalRunEnded()) {
    if (quitPosted_) {
      quit = true;  // stays posted: it ends the runs outside this one too
      break;
    }
    Fl::wait(1.0);
  }
  modal_.pop_back();
  if (Node* o = Find(Handle(ownerHandle))) o->widget->activate();
  return !quit;
}

void X11Platform::DestroyNode(Node* node) {
  std::uintptr_t handle = node->handle;
  if (node->dialog) {
    Message m;
    m.window = Handle(handle);
    m.message = kWmDestroy;
    Deliver(node, m);
    node = Find(Handle(handle));
    if (node == nullptr) return;
  }
  for (auto it = timers_.begin(); it != timers_.end();) {
    if (it->first.first == handle) {
      Fl::remove_timeout(OnTimer, it->second.get());
      it = timers_.erase(it);
    } else {
      ++it;
    }
  }
  if (node->dialog) {
    // The X server would destroy windows still held in a pane with it: they go back first.
    if (::Window dialog = DialogXid(node); dialog != None) held_->GiveBackAll(dialog);
    for (std::uintptr_t ch : node->controls) nodes_.erase(ch);
    delete node->widget;  // and its controls' widgets
    nodes_.erase(handle);
    XSync(display_, False);
    return;
  }
}

void X11Platform::DestroyWindow(HWND window) {
  stackingFresh_ = false;
  Node* node = Find(window);
  if (node == nullptr) {
    if (IsForeign(window)) XDestroyWindow(display_, XidOf(window));
    return;
  }
  // A control is destroyed with its dialog only.
  if (node->dialog) DestroyNode(node);
}

HWND X11Platform::GetDlgItem(HWND dialog, int id) {
  Node* node = Find(dialog);
  if (node == nullptr || !node->dialog) return nullptr;
  for (std::uintptr_t ch : node->controls) {
    if (nodes_[ch]->id == id) return Handle(ch);
  }
  return nullptr;
}

int X11Platform::GetDlgCtrlID(HWND control) {
  Node* node = Find(control);
  return node != nullptr && !node->dialog ? node->id : 0;
}

namespace {

void AddMenuItems(Fl_Menu_Bar* bar, const std::string& path, const std::vector<MenuItem>& items,
                  std::vector<unsigned>* commands) {
  for (const MenuItem& item : items) {
    std::string name = path;
    for (char c : ToUtf8(item.text)) {
      if (c == '/' || c == '\\' || c == '_') name += '\\';
      name += c;
    }
    if (!item.popup.empty()) {
      AddMenuItems(bar, name + "/", item.popup, commands);
      continue;
    }
    commands->push_back(item.command);
    bar->add(name.c_str(), 0, nullptr,
             reinterpret_cast<void*>(static_cast<std::uintptr_t>(item.command)));
  }
}

}  // namespace

bool X11Platform::CreateMenuBar(HWND dialog, const MenuTemplate& menu) {
  Node* node = Find(dialog);
  if (node == nullptr || !node->dialog || node->menuHeight > 0) return false;
  auto* window = static_cast<DialogWindow*>(node->widget);
  int height = fl_height(kDialogFont, 14) + 8;
  // The bar takes its height from the client area: the controls move down by as much.
  for (std::uintptr_t ch : node->controls) {
    Fl_Widget* w = nodes_[ch]->widget;
    w->position(w->x(), w->y() + height);
  }
  auto* bar = new Fl_Menu_Bar(0, 0, window->w(), height);
  bar->textfont(kDialogFont);
  std::vector<unsigned> commands;
  AddMenuItems(bar, "", menu.items, &commands);
  std::uintptr_t handle = node->handle;
  bar->callback(
      [](Fl_Widget* w, void* self) {
        auto* platform = static_cast<X11Platform*>(self);
        const Fl_Menu_Item* item = static_cast<Fl_Menu_Bar*>(w)->mvalue();
        auto* d = static_cast<DialogWindow*>(w->window());
        if (item == nullptr || d == nullptr) return;
        Message m;
        m.window = Handle(d->own);
        m.message = kWmCommand;
        m.commandId = static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(item->user_data()));
        platform->Deliver(platform->Find(m.window), m);
      },
      this);
  window->add(bar);
  node->menuHeight = height;
  Message m;
  m.window = Handle(handle);
  m.message = kWmSize;
  m.width = window->w();
  m.height = window->h() - height;
  Deliver(node, m);
  return true;
}

HICON X11Platform::LoadIcon(int) {
  // A program file here carries no icon resources.
  return nullptr;
}

void X11Platform::SetIcon(HWND, HICON, bool) {
  // No icon is ever loaded (see LoadIcon): the window keeps the window manager's default.
}

int X11Platform::MessageBox(HWND owner, const Text& text, const Text& caption, unsigned type) {
  std::string message = ToUtf8(text), title = ToUtf8(caption);
  fl_message_title(title.c_str());
  Node* ownerNode = Find(owner);
  if (ownerNode != nullptr) ownerNode->widget->deactivate();
  std::uintptr_t ownerHandle = Value(owner);
  int answer;
  if ((type & 0xF) == kMbYesNo) {
    answer = fl_choice("%s", "아니요", "예", nullptr, message.c_str()) == 1 ? kIdYes : kIdNo;
  } else {
    fl_choice("%s", "확인", nullptr, nullptr, message.c_str());
    answer = kIdOk;
  }
  if (Node* o = Find(Handle(ownerHandle))) o->widget->activate();
  return answer;
}

void X11Platform::ListBoxResetContent(HWND list) {
  Node* node = Find(list);
  if (node == nullptr || node->kind != ControlKind::kListBox || node->dialog) return;
  node->items.clear();
  static_cast<Fl_Hold_Browser*>(node->widget)->clear();
}

void X11Platform::ListBoxAddString(HWND list, const Text& text) {
  Node* node = Find(list);
  if (node == nullptr || node->kind != ControlKind::kListBox || node->dialog) return;
  std::vector<Text>& items = node->items;
  int at = static_cast<int>(items.size());
  if ((node->style & kLbsSort) != 0) at = static_cast<int>(SortedListPlace(items, text));
  items.insert(items.begin() + at, text);
  auto* browser = static_cast<Fl_Hold_Browser*>(node->widget);
  // The browser reads '@' at the start of a line as a format: "@." ends the formats.
  browser->insert(at + 1, ("@." + ToUtf8(text)).c_str());
}

int X11Platform::ListBoxGetCurSel(HWND list) {
  Node* node = Find(list);
  if (node == nullptr || node->kind != ControlKind::kListBox || node->dialog) return -1;
  return static_cast<Fl_Hold_Browser*>(node->widget)->value() - 1;
}

Text X11Platform::ListBoxGetText(HWND list, int index) {
  Node* node = Find(list);
  if (node == nullptr || node->kind != ControlKind::kListBox || node->dialog || index < 0 ||
      index >= static_cast<int>(node->items.size())) {
    return Text();
  }
  return node->items[static_cast<std::size_t>(index)];
}

void X11Platform::CheckRadioButton(HWND dialog, int first, int last, int checked) {
  Node* node = Find(dialog);
  if (node == nullptr || !node->dialog) return;
  for (std::uintptr_t ch : node->controls) {
    Node* c = nodes_[ch].get();
    if (c->id < first || c->id > last) continue;
    if (c->kind != ControlKind::kRadioButton && c->kind != ControlKind::kPushButton) continue;
    static_cast<Fl_Button*>(c->widget)->value(c->id == checked ? 1 : 0);
  }
}

bool X11Platform::IsDlgButtonChecked(HWND dialog, int id) {
  Node* c = Find(GetDlgItem(dialog, id));
  return c != nullptr && c->kind == ControlKind::kRadioButton &&
         static_cast<Fl_Button*>(c->widget)->value() != 0;
}

// --- Windows: ours and other programs' ---

HWND X11Platform::FindWindow(const char16_t* className, const Text& title) {
  if (title.empty()) return nullptr;
  for (HWND window = GetTopWindow(); window != nullptr; window = GetWindow(window, kGwHwndNext)) {
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

HWND X11Platform::GetTopWindow() {
  // A walk down the list starts here: the next windows come from this one listing, or from the
  // one before while nothing has changed since as far as this program knows.
  if (!stackingFresh_) List();
  return listing_.empty() ? nullptr : HandleOfXid(listing_.front().window);
}

HWND X11Platform::GetWindow(HWND window, WindowRelation relation) {
  Node* node = Find(window);
  if (node != nullptr) {
    switch (relation) {
      case kGwOwner:
        return node->dialog && node->owner != 0 ? Handle(node->owner) : nullptr;
      case kGwChild:
        if (node->dialog) return node->controls.empty() ? nullptr : Handle(node->controls[0]);
        if (::Window pane = XidOf(window); pane != None) {
          std::vector<::Window> held = held_->InPane(pane);
          return held.empty() ? nullptr : Handle(held.front());
        }
        return nullptr;
      case kGwHwndNext:
        if (!node->dialog) {
          const auto& list = nodes_[node->parent]->controls;
          auto it = std::find(list.begin(), list.end(), node->handle);
          return it + 1 == list.end() ? nullptr : Handle(*(it + 1));
        }
        break;
      default:
        break;
    }
  }
  ::Window xid = XidOf(window);
  if (xid == None) return nullptr;
  const x11::TopLevel* listed = Listed(xid);
  if (relation == kGwOwner) return HandleOfXid(listed ? listed->owner : windows_->Owner(xid));
  ErrorTrap trap(display_);
  ::Window root = None, parent = None, *children = nullptr;
  unsigned count = 0;
  std::vector<::Window> siblings;
  if (relation == kGwChild) {
    if (XQueryTree(display_, xid, &root, &parent, &children, &count) == 0) return nullptr;
    siblings.assign(children, children + count);
    if (children != nullptr) XFree(children);
    return siblings.empty() ? nullptr : HandleOfXid(siblings.back());  // topmost is last
  }
  if (relation != kGwHwndNext) return nullptr;
  if (listed != nullptr) {
    std::size_t next = listed_.at(xid) + 1;
    return next == listing_.size() ? nullptr : HandleOfXid(listing_[next].window);
  }
  HWND parentHandle = GetParent(window);
  if (parentHandle == nullptr) {
    std::vector<::Window> stack = windows_->TopLevelWindows();
    auto it = std::find(stack.begin(), stack.end(), xid);
    return it == stack.end() || it + 1 == stack.end() ? nullptr : HandleOfXid(*(it + 1));
  }
  if (held_->Holds(xid)) {
    std::vector<::Window> held = held_->InPane(held_->PaneOf(xid));
    auto it = std::find(held.begin(), held.end(), xid);
    return it == held.end() || it + 1 == held.end() ? nullptr : HandleOfXid(*(it + 1));
  }
  if (XQueryTree(display_, XidOf(parentHandle), &root, &parent, &children, &count) == 0) {
    return nullptr;
  }
  siblings.assign(children, children + count);
  if (children != nullptr) XFree(children);
  auto it = std::find(siblings.begin(), siblings.end(), xid);
  return it == siblings.end() || it == siblings.begin() ? nullptr : HandleOfXid(*(it - 1));
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
  ErrorTrap trap(display_);
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

constexpr std::uint32_t kWsMinimize = 0x20000000;

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

bool X11Platform::IsWindowVisible(HWND window) {
  if (Node* node = Find(window)) {
    if (!node->widget->visible_r()) return node->dialog && node->minimized;
    return true;
  }
  if (!IsForeign(window)) return false;
  ::Window xid = XidOf(window);
  if (minimized_.count(xid) != 0) return true;
  if (const x11::TopLevel* listed = Listed(xid)) return listed->viewable || listed->iconic;
  ErrorTrap trap(display_);
  return windows_->IsVisible(xid) || WmState(display_, xid) == IconicState;
}

Text X11Platform::GetWindowText(HWND window) {
  if (Node* node = Find(window)) return node->text;
  if (!IsForeign(window)) return Text();
  if (const x11::TopLevel* listed = Listed(XidOf(window))) return listed->title;
  return windows_->Title(XidOf(window));
}

void X11Platform::SetWindowText(HWND window, const Text& text) {
  stackingFresh_ = false;
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
  ErrorTrap trap(display_);
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
  ErrorTrap trap(display_);
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
      case WindowTrait::kChild:
        return !node->dialog;
      case WindowTrait::kToolWindow:
        return false;
      case WindowTrait::kMinimized:
        return node->dialog && node->minimized;
    }
  }
  ::Window xid = XidOf(window);
  if (const x11::TopLevel* listed = Listed(xid)) {
    switch (trait) {
      case WindowTrait::kChild:
        return false;
      case WindowTrait::kToolWindow:
        return listed->tool;
      case WindowTrait::kMinimized:
        return listed->iconic || minimized_.count(xid) != 0;
    }
  }
  if (!IsWindow(window)) return false;
  ErrorTrap trap(display_);
  switch (trait) {
    case WindowTrait::kChild:
      return GetParent(window) != nullptr;
    case WindowTrait::kToolWindow: {
      static const char* const kTools[] = {"_NET_WM_WINDOW_TYPE_UTILITY",
                                           "_NET_WM_WINDOW_TYPE_TOOLBAR", nullptr};
      return HasWindowType(display_, xid, kTools);
    }
    case WindowTrait::kMinimized:
      return WmState(display_, xid) == IconicState || minimized_.count(xid) != 0;
  }
  return false;
}

// A foreign window's style is its state as the X server and the window manager keep it: shown,
// minimised, and framed (a top-level window a window manager decorates). Nothing else of it
// exists here.
std::uint32_t X11Platform::GetWindowStyle(HWND window) {
  if (Node* node = Find(window)) {
    std::uint32_t style = node->style & ~(kWsVisible | kWsMinimize);
    if (IsWindowVisible(window)) style |= kWsVisible;
    if (node->minimized) style |= kWsMinimize;
    return style;
  }
  if (!IsWindow(window)) return 0;
  std::uint32_t style = 0;
  if (IsWindowVisible(window)) style |= kWsVisible;
  if (HasWindowTrait(window, WindowTrait::kMinimized)) style |= kWsMinimize;
  XWindowAttributes attributes;
  ErrorTrap trap(display_);
  if (GetParent(window) == nullptr && XGetWindowAttributes(display_, XidOf(window), &attributes) &&
      !attributes.override_redirect) {
    style |= kWsCaption;
  }
  return style;
}

void X11Platform::SetWindowStyle(HWND window, std::uint32_t style) {
  stackingFresh_ = false;
  if (Node* node = Find(window)) {
    node->style = style;
    ShowWindow(window, (style & kWsMinimize) != 0  ? kSwMinimize
                       : (style & kWsVisible) != 0 ? kSwShow
                                                   : kSwHide);
    return;
  }
  if (!IsWindow(window)) return;
  // The frame comes with the place: a window manager frames a top-level window, a child has none.
  if ((style & kWsMinimize) != 0) {
    ShowWindow(window, kSwMinimize);
  } else if ((style & kWsVisible) != 0) {
    ShowWindow(window, kSwShowNormal);
  } else {
    ShowWindow(window, kSwHide);
  }
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
    ErrorTrap trap(display_);
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

HWND X11Platform::SetParent(HWND window, HWND parent) {
  stackingFresh_ = false;
  if (!IsForeign(window) || !IsWindow(window)) return nullptr;
  ::Window xid = XidOf(window);
  HWND former = GetParent(window);
  Node* pane = Find(parent);
  if (pane != nullptr && !pane->dialog && former == nullptr) {
    Rect frame = GetWindowRect(window);
    x11::Rect client;
    if (!windows_->ScreenRect(xid, &client)) return nullptr;
    ::Window paneXid = XidOf(parent);
    const x11::Rect insets{client.x - frame.left, client.y - frame.top,
                           frame.Width() - client.width, frame.Height() - client.height};
    // Its dialogs, as the listing of this walk (or a new one) names them.
    if (!stackingFresh_) List();
    std::vector<::Window> transients;
    for (const x11::TopLevel& t : listing_) {
      if (t.owner == xid) transients.push_back(t.window);
    }
    if (paneXid == None ||
        !held_->Take(xid, paneXid, DialogXid(pane), frame.left, frame.top, insets)) {
      return nullptr;
    }
    // It keeps its numbers: the whole window, frame and all, is now the window.
    held_->MoveResize(xid, {frame.left, frame.top, frame.Width(), frame.Height()});
    held_->AdoptTransients(xid, transients);
    XSync(display_, False);
    return nullptr;
  }
  if (parent == nullptr) {
    Node* holder = Find(former);
    if (holder == nullptr) return former;
    Rect rect = GetWindowRect(window);
    x11::Rect origin;
    windows_->ScreenRect(XidOf(former), &origin);
    held_->GiveBack(xid, {rect.left - origin.x, rect.top - origin.y, rect.Width(), rect.Height()});
    XSync(display_, False);
    return former;
  }
  return nullptr;
}

void X11Platform::ReturnWindowWithoutWaiting(HWND window, const Rect& rect, std::uint32_t style) {
  stackingFresh_ = false;
  // The X server re-parents a window without its program's help: it goes back at once.
  if (!IsForeign(window)) return;
  ::Window xid = XidOf(window);
  if (held_->Holds(xid)) held_->GiveBack(xid, {rect.left, rect.top, rect.Width(), rect.Height()});
  SetWindowStyle(window, style);
  XSync(display_, False);
}

bool X11Platform::FinishReturningWindows(unsigned) {
  // ReturnWindowWithoutWaiting leaves nothing to finish.
  return true;
}

void X11Platform::ShareInput(HWND, bool) {
  // X keeps one focus for the whole server: a child window of another program takes keys as it
  // is, and no focus change here ever waits for that program. Nothing to attach.
}

void X11Platform::MoveWindow(HWND window, const Placement& p, bool repaint) {
  stackingFresh_ = false;
  if (Node* node = Find(window)) {
    if (node->dialog) {
      auto* w = static_cast<Fl_Window*>(node->widget);
      if (!w->shown()) node->unframed = p;
      node->placed = p;
      Rect frame = GetWindowRect(window);
      int dx = 0, dy = 0, dw = 0, dh = 0;
      x11::Rect client;
      x11::Extents extents;
      if (w->shown() && windows_->FrameExtents(fl_xid(w), &extents)) {
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
    Fl::flush();
    XSync(display_, False);
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
  bool ok =
      GetParent(window) == nullptr ? windows_->FrameRect(xid, &r) : windows_->ScreenRect(xid, &r);
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
  ErrorTrap trap(display_);
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
    case kSwShowNormal:
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

HWND X11Platform::GetForegroundWindow() {
  ::Window focus = None;
  int revert = 0;
  XGetInputFocus(display_, &focus, &revert);
  if (focus == None || focus == PointerRoot) return nullptr;
  std::vector<::Window> stack = windows_->TopLevelWindows();
  // The top-level window that holds the focus (or whose frame does).
  ErrorTrap trap(display_);
  for (::Window w = focus; w != None;) {
    if (std::find(stack.begin(), stack.end(), w) != stack.end()) return HandleOfXid(w);
    ::Window root = None, parent = None, *children = nullptr;
    unsigned count = 0;
    if (XQueryTree(display_, w, &root, &parent, &children, &count) == 0) break;
    if (children != nullptr) XFree(children);
    if (parent == root) {
      for (::Window client : stack) {
        x11::Rect a, b;
        if (windows_->FrameRect(client, &a) && windows_->FrameRect(w, &b) && a.x == b.x &&
            a.y == b.y && a.width == b.width && a.height == b.height) {
          return HandleOfXid(client);
        }
      }
      break;
    }
    w = parent;
  }
  return nullptr;
}

void X11Platform::InvalidateWindow(HWND window, bool) {
  if (Node* node = Find(window)) {
    node->widget->redraw();
    return;
  }
  if (!IsWindow(window)) return;
  ErrorTrap trap(display_);
  XClearArea(display_, XidOf(window), 0, 0, 0, 0, True);
}

int X11Platform::GetSystemMetrics(SystemMetric metric) {
  return metric == kSmCxScreen ? Fl::w() : Fl::h();
}

Rect X11Platform::GetWorkArea() {
  int x = 0, y = 0, w = 0, h = 0;
  Fl::screen_work_area(x, y, w, h, 0);
  return {x, y, x + w, y + h};
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
  if (access(path.substr(0, slash == 0 ? 1 : slash).c_str(), W_OK) == 0) return besideProgram;
  std::string user = UserSettingsPath(path, getenv("XDG_CONFIG_HOME"), getenv("HOME"));
  if (user.empty()) return besideProgram;
  std::error_code error;
  std::filesystem::create_directories(user.substr(0, user.rfind('/')), error);
  return LimitedPath(user);
}

bool X11Platform::GetFileVersion(const Text&, std::uint32_t*, std::uint32_t*) {
  // An ELF program file has no version resource.
  return false;
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

void X11Platform::ShellStartupInit() {
  // The desktop needs no start-up call of its shell.
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

std::int32_t X11Platform::DownloadToFile(const Text& url, const Text& path,
                                         const DownloadProgress& progress) {
  return x11::DownloadFileWhileWaiting(
      ToUtf8(url), files_.HostPath(path), progress,
      [](int milliseconds) { Fl::wait(milliseconds / 1000.0); },
      [this] { return quitPosted_.load(); });
}

std::int32_t X11Platform::DownloadToMemory(const Text& url, std::size_t limit, std::string* body) {
  return x11::DownloadToMemory(ToUtf8(url), limit, body, &cancellation_);
}

bool X11Platform::StartWorker(std::function<void()> work) {
  try {
    workers_.emplace_back(std::move(work));
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

namespace {

void (*crashHandler)(void*) = nullptr;
void* crashContext = nullptr;
std::atomic<bool> crashHandlerRan{false};

void OnFault(int signal) {
  // Once only, even when the handler itself faults or several threads fault together.
  if (crashHandler != nullptr && !crashHandlerRan.exchange(true)) crashHandler(crashContext);
  ::signal(signal, SIG_DFL);
  raise(signal);  // the process then ends as it would have
}

}  // namespace

void X11Platform::SetCrashHandler(void (*handler)(void* context), void* context) {
  crashHandler = handler;
  crashContext = context;
  for (int fault : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT}) {
    ::signal(fault, handler != nullptr ? OnFault : SIG_DFL);
  }
}

}  // namespace sorvel
