// Our dialogs and their controls with FLTK: the windows built from a dialog template, the
// controls' widgets and their commands, the modal run, the menu bar, message boxes and lists.
//
// Runs on the user-interface thread.
#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Hold_Browser.H>
#include <FL/Fl_Menu_Bar.H>
#include <FL/Fl_PNG_Image.H>
#include <FL/Fl_Progress.H>
#include <FL/Fl_Round_Button.H>
#include <FL/Fl_Window.H>
#include <FL/fl_ask.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <algorithm>
#include <functional>

#include "platform/x11/x11_node.h"
#include "platform/x11/x11_platform.h"

namespace sorvel {

using namespace x11_detail;  // NOLINT: the backend's own handles and texts

namespace {

// Each widget of ours, the dialog's window and its controls', carries its handle as its
// callback data (user_data); the menu bar, no handle of its own, carries none.
class DialogWindow : public Fl_Double_Window {
 public:
  DialogWindow(X11Platform* platform, int w, int h) : Fl_Double_Window(w, h), platform(platform) {}
  X11Platform* platform;
  std::function<void(int, int)> onSize;
  std::function<void()> onClose;
  Fl_Widget* menuBar = nullptr;  // spans the window's width at its own height
  void resize(int x, int y, int w, int h) override {
    bool sized = w != this->w() || h != this->h();
    Fl_Double_Window::resize(x, y, w, h);
    if (menuBar != nullptr) menuBar->resize(0, 0, w, menuBar->h());
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

// A radio button reports its clicks and leaves its check to its dialog (CheckButton): a click
// changes neither it nor the others of its group. It asks for its colours as a static control
// does, as on the platform.
class RadioButton : public ColoredButton<Fl_Round_Button> {
 public:
  RadioButton(int x, int y, int w, int h) : ColoredButton(x, y, w, h) {
    box(FL_FLAT_BOX);  // painted in its background colour
    type(FL_NORMAL_BUTTON);
  }
  // A click is a press and a release inside; the keyboard's space goes the toolkit's way, which
  // for a normal button only reports it.
  int handle(int event) override {
    switch (event) {
      case FL_PUSH:
        if (Fl::visible_focus() && handle(FL_FOCUS)) Fl::focus(this);
        return 1;
      case FL_DRAG:
        return 1;
      case FL_RELEASE:
        if (Fl::event_inside(this)) do_callback();
        return 1;
      default:
        return ColoredButton::handle(event);
    }
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

void X11Platform::RestackControls(Node* dialog) {
  std::vector<::Window> order;
  for (std::uintptr_t ch : dialog->controls) {
    if (::Window xid = XidOf(Handle(ch)); xid != None) order.push_back(xid);
  }
  if (order.size() > 1) XRestackWindows(display_, order.data(), static_cast<int>(order.size()));
}

// --- Dialogs and controls ---

namespace {

// The dialog font's base units in pixels, as the platform measures them.
X11Platform::Units DialogUnits(int points) {
  X11Platform::Units units;
  units.fontPixels = (points * 96 + 36) / 72;
  fl_font(kDialogFont, units.fontPixels);
  const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  units.baseX = static_cast<int>((fl_width(letters) / 26 + 1) / 2);
  units.baseY = fl_height();
  return units;
}

}  // namespace

HWND X11Platform::CreateDialogWindow(const DialogTemplate& t, HWND owner, DialogSink* sink) {
  const Units units = DialogUnits(t.fontPoints);
  Node* dialog = NewNode();
  dialog->dialog = true;
  dialog->sink = sink;
  dialog->owner = Find(owner) != nullptr ? Value(owner) : 0;
  dialog->text = t.title;
  dialog->label = ToUtf8(dialog->text);
  const std::uintptr_t handle = dialog->handle;
  Fl_Window* window = NewDialogWindow(t, dialog, units);
  for (const ControlTemplate& c : t.controls) {
    Node* control = NewNode();
    control->id = c.id;
    control->kind = c.kind;
    control->style = c.style;
    control->parent = handle;
    control->text = c.text;
    control->label = LabelText(control->text);
    control->widget = NewControl(c, control, units);
    dialog->controls.push_back(control->handle);
  }
  window->end();
  // FLTK draws the last child on top; the template's first control lies on top.
  for (std::uintptr_t ch : dialog->controls) window->insert(*nodes_[ch]->widget, 0);
  if (t.menu != nullptr) AddMenuBar(dialog, *t.menu, units);
  sink->OnDialogCreated(Handle(handle));
  if (Node* node = Find(Handle(handle)); node != nullptr && (t.style & kWsVisible) != 0) {
    ShowDialog(node);
  }
  return Find(Handle(handle)) != nullptr ? Handle(handle) : nullptr;
}

Fl_Window* X11Platform::NewDialogWindow(const DialogTemplate& t, Node* dialog, const Units& units) {
  auto* window = new DialogWindow(this, units.X(t.cx), units.Y(t.cy));  // the current group now
  const std::uintptr_t handle = dialog->handle;
  dialog->widget = window;
  window->copy_label(dialog->label.c_str());
  window->labelfont(kDialogFont);
  window->xclass("Dialog");
  if ((t.style & kWsCaption) != kWsCaption) window->border(0);  // a caption is both bits
  GiveIcon(window, t.icon);
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
  window->onClose = [this, handle] {
    Message m;
    m.window = Handle(handle);
    m.message = kWmClose;
    Deliver(Find(Handle(handle)), m);
  };
  window->callback([](Fl_Widget* w, void*) { static_cast<DialogWindow*>(w)->onClose(); },
                   Handle(handle));
  return window;
}

Fl_Widget* X11Platform::NewControl(const ControlTemplate& c, Node* control, const Units& units) {
  const int x = units.X(c.x), y = units.Y(c.y), w = units.X(c.cx), h = units.Y(c.cy);
  const std::uintptr_t dialog = control->parent;
  ColorQuery colors = [this, dialog, id = c.id, kind = c.kind](ControlColors* out) {
    Message m;
    m.window = Handle(dialog);
    m.message = kind == ControlKind::kPushButton ? kWmCtlColorBtn : kWmCtlColorStatic;
    m.controlId = id;
    Deliver(Find(Handle(dialog)), m);
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
      radio->colors = colors;
      widget = radio;
      break;
    }
    case ControlKind::kStatic: {
      auto* pane = new StaticWindow(x, y, w, h);
      pane->colors = colors;
      if ((c.style & kWsBorder) != 0) pane->box(FL_BORDER_BOX);
      if ((c.style & kSsNotify) != 0) {
        pane->onClick = [this, dialog, id = c.id] {
          Message m;
          m.window = Handle(dialog);
          m.message = kWmCommand;
          m.commandId = static_cast<unsigned>(id);
          m.notifyCode = kStnClicked;
          Deliver(Find(Handle(dialog)), m);
        };
      }
      widget = pane;
      break;
    }
    case ControlKind::kListBox: {
      auto* list = new Fl_Hold_Browser(x, y, w, h);
      list->textfont(kDialogFont);
      list->textsize(units.fontPixels);
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
  widget->labelfont(kDialogFont);
  widget->labelsize(units.fontPixels);
  widget->label(control->label.c_str());
  // A static control calls no callback: it holds its handle all the same.
  widget->callback(OnControl, Handle(control->handle));
  if (!c.visible) widget->hide();
  return widget;
}

void X11Platform::GiveIcon(Fl_Window* window, int icon) {
  if (icon == 0) return;
  if (icon != icon_.resourceId) {
    files_.DebugOutput(u"no icon " + FormatDecimal(icon) + u" in this program\r\n");
    return;
  }
  // Decoded by the first dialog that bears it; each window takes copies.
  if (iconImages_.empty()) {
    for (std::size_t i = 0; i < icon_.count; ++i) {
      const x11::PngImage& png = icon_.images[i];
      auto image = std::make_unique<Fl_PNG_Image>("icon", png.data, static_cast<int>(png.size));
      if (image->w() > 0 && image->h() > 0) iconImages_.push_back(std::move(image));
    }
  }
  std::vector<const Fl_RGB_Image*> images;
  for (const auto& image : iconImages_) images.push_back(image.get());
  window->icons(images.data(), static_cast<int>(images.size()));
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

void X11Platform::OnControl(Fl_Widget* widget, void* handle) {
  auto* dialogWindow = static_cast<DialogWindow*>(widget->window());
  if (dialogWindow == nullptr) return;
  X11Platform* platform = dialogWindow->platform;
  Node* control = platform->Find(static_cast<HWND>(handle));
  if (control == nullptr) return;
  Message m;
  m.window = Handle(control->parent);
  m.message = kWmCommand;
  m.commandId = static_cast<unsigned>(control->id);
  m.notifyCode = kBnClicked;
  if (control->kind == ControlKind::kListBox) {
    if ((control->style & kLbsNotify) == 0) return;
    m.notifyCode = Fl::event_clicks() > 0 ? kLbnDblClk : kLbnSelChange;
  }
  platform->Deliver(platform->DialogOf(control), m);
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

namespace {

void AddMenuItems(Fl_Menu_Bar* bar, const std::string& path, const std::vector<MenuItem>& items) {
  for (const MenuItem& item : items) {
    std::string name = path;
    for (char c : ToUtf8(item.text)) {
      if (c == '/' || c == '\\' || c == '_') name += '\\';
      name += c;
    }
    if (!item.popup.empty()) {
      AddMenuItems(bar, name + "/", item.popup);
      continue;
    }
    bar->add(name.c_str(), 0, nullptr,
             reinterpret_cast<void*>(static_cast<std::uintptr_t>(item.command)));
  }
}

}  // namespace

void X11Platform::AddMenuBar(Node* dialog, const MenuTemplate& menu, const Units& units) {
  auto* window = static_cast<DialogWindow*>(dialog->widget);
  // In the dialog's font, which the controls' labels have opened already.
  int height = fl_height(kDialogFont, units.fontPixels) + 8;
  // The bar takes its height from the client area: the controls move down by as much.
  for (std::uintptr_t ch : dialog->controls) {
    Fl_Widget* w = nodes_[ch]->widget;
    w->position(w->x(), w->y() + height);
  }
  auto* bar = new Fl_Menu_Bar(0, 0, window->w(), height);
  bar->textfont(kDialogFont);
  bar->textsize(units.fontPixels);
  AddMenuItems(bar, "", menu.items);
  bar->callback([](Fl_Widget* w, void*) {
    const Fl_Menu_Item* item = static_cast<Fl_Menu_Bar*>(w)->mvalue();
    auto* d = static_cast<DialogWindow*>(w->window());
    if (item == nullptr || d == nullptr) return;
    Message m;
    m.window = static_cast<HWND>(d->user_data());
    m.message = kWmCommand;
    m.commandId = static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(item->user_data()));
    d->platform->Deliver(d->platform->Find(m.window), m);
  });
  window->add(bar);
  window->menuBar = bar;
  dialog->menuHeight = height;
}

bool X11Platform::MessageBox(HWND owner, const Text& text, const Text& caption,
                             MessageBoxButtons buttons) {
  std::string message = ToUtf8(text), title = ToUtf8(caption);
  fl_message_title(title.c_str());
  Node* ownerNode = Find(owner);
  if (ownerNode != nullptr) ownerNode->widget->deactivate();
  std::uintptr_t ownerHandle = Value(owner);
  bool answer = true;
  if (buttons == MessageBoxButtons::kYesNo) {
    answer = fl_choice("%s", "아니요", "예", nullptr, message.c_str()) == 1;
  } else {
    fl_choice("%s", "확인", nullptr, nullptr, message.c_str());
  }
  if (Node* o = Find(Handle(ownerHandle))) o->widget->activate();
  return answer;
}

namespace {

// The control's node when it is one of `kind`; null for anything else.
X11Platform::Node* ControlOf(X11Platform::Node* node, ControlKind kind) {
  return node != nullptr && !node->dialog && node->kind == kind ? node : nullptr;
}

}  // namespace

void X11Platform::CheckButton(HWND button, bool checked) {
  if (Node* node = ControlOf(Find(button), ControlKind::kRadioButton)) {
    static_cast<Fl_Button*>(node->widget)->value(checked ? 1 : 0);
  }
}

void X11Platform::SetListItems(HWND list, const std::vector<Text>& items) {
  Node* node = ControlOf(Find(list), ControlKind::kListBox);
  if (node == nullptr) return;
  auto* browser = static_cast<Fl_Hold_Browser*>(node->widget);
  browser->clear();
  // The browser reads '@' at the start of a line as a format: "@." ends the formats.
  for (const Text& item : items) browser->add(("@." + ToUtf8(item)).c_str());
}

int X11Platform::GetListSelection(HWND list) {
  Node* node = ControlOf(Find(list), ControlKind::kListBox);
  return node != nullptr ? static_cast<Fl_Hold_Browser*>(node->widget)->value() - 1 : -1;
}

void X11Platform::SetProgress(HWND bar, int percent) {
  if (Node* node = ControlOf(Find(bar), ControlKind::kProgressBar)) {
    static_cast<Fl_Progress*>(node->widget)->value(static_cast<float>(std::clamp(percent, 0, 100)));
  }
}

}  // namespace sorvel
