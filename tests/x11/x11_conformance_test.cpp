// The window-system checks against the native X11 backend on an X server of its own, with
// foreign windows of x11_probe processes; the same checks judge the simulated device and the
// win32 backend.
#include <gtest/gtest.h>
// clang-format off
#include <FL/Fl.H>
#include <FL/Fl_Browser.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Window.H>
#include <FL/x.H>
// clang-format on
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "platform/framework.h"
#include "platform/x11/program_icon.h"
#include "platform/x11/x11_errors.h"
#include "platform/x11/x11_platform.h"
#include "tests/conformance/window_system_checks.h"

extern char** environ;

namespace sorvel {
namespace {

namespace fs = std::filesystem;

class X11Environment : public conformance::Environment {
 public:
  X11Environment() : folder_(MakeFolder()), platform_(x11::kProgramIcon) {}
  ~X11Environment() override {
    for (std::thread& waker : wakers_) waker.join();
    for (pid_t pid : started_) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    // Programs the platform started are found by their windows.
    for (const Text& title : installed_) {
      if (HWND w = platform_.FindWindow(nullptr, title)) {
        kill(static_cast<pid_t>(platform_.GetWindowProcessId(w)), SIGKILL);
      }
    }
    fs::remove_all(folder_);
  }

  Platform& Device() override { return platform_; }
  HWND StartForeignWindow(const Text& title) override { return Start(ProbePath(), {}, title); }
  HWND StartForeignWindowAtPathLength(const Text& title, std::size_t length) override {
    std::string name = "/" + ToUtf8(title);
    std::string folder = folder_.string() + "/";
    // Folder names are at most 255 bytes: one more level where the path asks for it.
    std::size_t fill = length - folder.size() - name.size();
    while (fill > 0) {
      std::size_t part = std::min<std::size_t>(fill, 200);
      if (fill - part == 1) --part;  // room for the separator
      folder += std::string(part, 'x');
      fill -= part;
      if (fill > 0) {
        folder += "/";
        --fill;
      }
    }
    fs::create_directories(folder);
    fs::copy_file(ProbePath(), folder + name, fs::copy_options::overwrite_existing);
    return Start(folder + name, {}, title);
  }
  HWND StartForeignDialogProgram(const Text& title) override {
    HWND main = Start(SORVEL_X11_DIALOG_PROBE, {"--dialog"}, title);
    for (int i = 0; i < 100 && main != nullptr && !HasOwnedWindow(main); ++i) Pump(50);
    return main;
  }
  Text ForeignProgramPath() override { return FromUtf8(path_); }
  Text InstallForeignProgram(const Text& title) override {
    std::string path = folder_.string() + "/" + ToUtf8(title);
    fs::copy_file(ProbePath(), path, fs::copy_options::overwrite_existing);
    installed_.push_back(title);
    return FromUtf8(path);
  }
  void Hang(HWND window, unsigned milliseconds) override {
    auto pid = static_cast<pid_t>(platform_.GetWindowProcessId(window));
    if (pid == 0) return;
    kill(pid, SIGSTOP);
    // The stop lands when the program is next scheduled, not when kill returns.
    for (int i = 0; i < 200 && platform_.IsWindowResponding(window, 0); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    wakers_.emplace_back([pid, milliseconds] {
      std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
      kill(pid, SIGCONT);
    });
  }
  void Pump(unsigned milliseconds) override {
    for (std::uint64_t end = Now() + milliseconds, now = Now(); now < end; now = Now()) {
      Fl::wait(static_cast<double>(end - now) / 1000.0);
    }
    Fl::check();
  }
  std::uint64_t Now() override {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
  }
  bool ReparentsWithoutTheProgram() const override { return true; }

  // A dialog's controls as the toolkit stacks them (the last child on top); the windows held in
  // a pane, or another program's, as the X server does.
  std::vector<HWND> Children(HWND window) override {
    Fl_Widget* widget = Widget(window);
    if (widget == nullptr)
      return XChildren(static_cast<::Window>(reinterpret_cast<std::uintptr_t>(window)));
    Fl_Window* own = widget->as_window();
    if (own == nullptr) return {};
    if (own->parent() != nullptr)
      return own->shown() ? XChildren(fl_xid(own)) : std::vector<HWND>{};
    std::vector<HWND> controls;
    for (int i = own->children(); i-- > 0;) {
      if (own->child(i)->user_data() != nullptr)
        controls.push_back(static_cast<HWND>(own->child(i)->user_data()));
    }
    return controls;
  }
  // The browser's lines, each behind the "@." that ends its formats.
  std::vector<Text> ListItems(HWND list) override {
    std::vector<Text> items;
    if (auto* browser = dynamic_cast<Fl_Browser*>(Widget(list))) {
      for (int line = 1; line <= browser->size(); ++line) {
        std::string text = browser->text(line);
        items.push_back(FromUtf8(text.rfind("@.", 0) == 0 ? text.substr(2) : text));
      }
    }
    return items;
  }
  bool IsChecked(HWND button) override {
    auto* widget = dynamic_cast<Fl_Button*>(Widget(button));
    return widget != nullptr && widget->value() != 0;
  }
  // The window manager's active window; without one, the top-level window that has the focus.
  HWND Foreground() override {
    Display* display = fl_display;
    const ::Window root = DefaultRootWindow(display);
    ::Window active = None;
    x11::ErrorTrap trap(display);
    x11::Property property;
    if (x11::ReadProperty(display, root, XInternAtom(display, "_NET_ACTIVE_WINDOW", False),
                          &property)) {
      if (property.longs.size() == 1) active = property.longs[0];
    } else {
      int revert = 0;
      XGetInputFocus(display, &active, &revert);
      for (::Window w = active; w != None && w != PointerRoot && w != root;) {
        active = w;
        ::Window treeRoot = None, parent = None, *children = nullptr;
        unsigned count = 0;
        if (XQueryTree(display, w, &treeRoot, &parent, &children, &count) == 0) return nullptr;
        if (children != nullptr) XFree(children);
        w = parent;
      }
    }
    if (active == None || active == PointerRoot || active == root) return nullptr;
    // One of our dialogs has a handle of its own: found by its title; another program's window
    // is its id.
    for (Fl_Window* w = Fl::first_window(); w != nullptr; w = Fl::next_window(w)) {
      if (fl_xid(w) == active)
        return platform_.FindWindow(kPortableDialogClass, FromUtf8(w->label()));
    }
    return reinterpret_cast<HWND>(active);
  }

 private:
  static fs::path MakeFolder() {
    fs::path folder = fs::temp_directory_path() /
                      ("sorvel-x11-" + std::to_string(getpid()) + "-" + std::to_string(serial_++));
    fs::create_directories(folder);
    return folder;
  }
  static std::string ProbePath() { return SORVEL_X11_PROBE; }

  HWND Start(const std::string& path, std::vector<std::string> arguments, const Text& title) {
    arguments.insert(arguments.begin(), path);
    arguments.push_back(ToUtf8(title));
    std::vector<char*> argv;
    for (std::string& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
      return nullptr;
    }
    started_.push_back(pid);
    path_ = path;
    for (int i = 0; i < 200; ++i) {
      if (HWND w = platform_.FindWindow(nullptr, title)) {
        Pump(100);  // mapped and, under a window manager, framed
        return w;
      }
      Pump(50);
    }
    return nullptr;
  }
  bool HasOwnedWindow(HWND main) {
    for (HWND w : platform_.TopLevelWindows(SIZE_MAX)) {
      if (platform_.GetOwner(w) == main && platform_.IsWindowVisible(w)) return true;
    }
    return false;
  }
  // The toolkit's widget of a window of ours: each carries its handle as its callback data.
  static Fl_Widget* Widget(HWND window) {
    for (Fl_Window* w = Fl::first_window(); w != nullptr; w = Fl::next_window(w)) {
      if (w->user_data() == window) return w;
      for (int i = 0; i < w->children(); ++i) {
        if (w->child(i)->user_data() == window) return w->child(i);
      }
    }
    return nullptr;
  }
  // The children of an X window, topmost first, by their handles (another program's window's
  // is its id).
  static std::vector<HWND> XChildren(::Window window) {
    std::vector<HWND> out;
    ::Window root = None, parent = None, *children = nullptr;
    unsigned count = 0;
    x11::ErrorTrap trap(fl_display);
    if (window == None || XQueryTree(fl_display, window, &root, &parent, &children, &count) == 0) {
      return out;
    }
    for (unsigned i = count; i-- > 0;) out.push_back(reinterpret_cast<HWND>(children[i]));
    if (children != nullptr) XFree(children);
    return out;
  }

  static inline int serial_ = 0;
  fs::path folder_;
  X11Platform platform_;
  std::string path_;
  std::vector<pid_t> started_;
  std::vector<Text> installed_;
  std::vector<std::thread> wakers_;
};

#define SORVEL_X11_TEST(name)              \
  TEST(X11WindowSystem, name) {            \
    X11Environment environment;            \
    conformance::Check##name(environment); \
  }
SORVEL_WINDOW_SYSTEM_CHECKS(SORVEL_X11_TEST)

// A dialog whose one control is a pane.
class Holder : public CDialog {
 public:
  explicit Holder(Platform& platform) : CDialog(platform, Template(), nullptr) {
    SetFullScreen(false);
  }

 protected:
  bool DispatchMessageMap(Message&) override { return false; }

 private:
  static const DialogTemplate& Template() {
    static const DialogTemplate kTemplate{
        0,
        120,
        100,
        kWsPopup | kWsVisible | kWsCaption,
        u"Holder",
        u"Tahoma",
        8,
        {
            {1, ControlKind::kStatic, u"", 0, 0, 120, 80, kWsBorder, true},
        }};
    return kTemplate;
  }
};

// What a window was before it was held, minimised or hidden, it is again once given back; held,
// it is shown in its pane.
TEST(X11Platform, AWindowGoesBackMinimisedOrHiddenAsItWas) {
  const struct {
    ShowCommand before;
    bool visible;
    bool minimized;
  } cases[] = {{kSwMinimize, true, true}, {kSwHide, false, false}, {kSwShow, true, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.before);
    X11Environment environment;
    Platform& device = environment.Device();
    Holder holder(device);
    HWND pane = device.GetDlgItem(holder.Create(), 1);
    HWND foreign = environment.StartForeignWindow(u"Conformance Former");
    ASSERT_NE(foreign, nullptr);
    device.ShowWindow(foreign, c.before);
    environment.Pump(200);
    ASSERT_EQ(device.HasWindowTrait(foreign, WindowTrait::kMinimized), c.minimized);

    FormerFrame former;
    ASSERT_TRUE(device.HoldWindow(foreign, pane, {0, 0, 100, 60}, &former));
    environment.Pump(100);
    EXPECT_TRUE(device.IsWindowVisible(foreign));
    EXPECT_FALSE(device.HasWindowTrait(foreign, WindowTrait::kMinimized));

    device.GiveBackWindow(foreign, {30, 40, 190, 170}, former, true);
    environment.Pump(300);
    EXPECT_EQ(device.GetParent(foreign), nullptr);
    EXPECT_EQ(device.IsWindowVisible(foreign), c.visible);
    EXPECT_EQ(device.HasWindowTrait(foreign, WindowTrait::kMinimized), c.minimized);
  }
}

}  // namespace
}  // namespace sorvel
