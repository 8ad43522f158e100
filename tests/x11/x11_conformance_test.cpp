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
#include <X11/Xatom.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "platform/framework.h"
#include "platform/x11/held_windows.h"
#include "platform/x11/program_icon.h"
#include "platform/x11/x11_errors.h"
#include "platform/x11/x11_platform.h"
#include "tests/conformance/window_system_checks.h"
#include "tests/support/spawn.h"
#include "tests/support/x11_tree.h"

namespace sorvel {
namespace {

namespace fs = std::filesystem;

::Window Xid(HWND window) {
  return static_cast<::Window>(reinterpret_cast<std::uintptr_t>(window));
}

class X11Environment : public conformance::Environment {
 public:
  X11Environment() : folder_(test::MarkedFolder("sorvel-x11")), platform_(x11::kProgramIcon) {}
  ~X11Environment() override {
    for (std::thread& waker : wakers_) waker.join();
    test::EndMarked(folder_);  // those the platform started too
    for (pid_t pid : started_) waitpid(pid, nullptr, 0);
    fs::remove_all(folder_);
  }

  Platform& Device() override { return platform_; }
  HWND StartForeignWindow(const Text& title) override { return Start(ProbePath(), {}, title); }
  HWND StartForeignWindowAtPathLength(const Text& title, std::size_t length) override {
    std::string folder = folder_.string(), name = "/" + ToUtf8(title);
    // Folder names are at most 255 bytes: as many levels as the length asks for.
    for (std::size_t fill = length - folder.size() - name.size(); fill > 0;) {
      std::size_t part = std::min<std::size_t>(fill, 200);
      if (fill - part == 1) --part;  // never an empty name
      folder += "/" + std::string(part - 1, 'x');
      fill -= part;
    }
    fs::create_directories(folder);
    return Start(Install(folder + name), {}, title);
  }
  HWND StartForeignDialogProgram(const Text& title) override {
    return Start(SORVEL_X11_DIALOG_PROBE, {"--dialog"}, title);
  }
  Text InstallForeignProgram(const Text& title) override {
    return FromUtf8(Install(folder_.string() + "/" + ToUtf8(title)));
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
    Fl_Window* own = widget != nullptr ? widget->as_window() : nullptr;
    std::vector<HWND> out;
    if (widget == nullptr || (own != nullptr && own->parent() != nullptr && own->shown())) {
      x11::ErrorTrap trap(fl_display);
      for (::Window w : test::Children(fl_display, own != nullptr ? fl_xid(own) : Xid(window))) {
        out.insert(out.begin(), reinterpret_cast<HWND>(w));
      }
    } else if (own != nullptr && own->parent() == nullptr) {
      for (int i = own->children(); i-- > 0;) {
        if (own->child(i)->user_data() != nullptr)
          out.push_back(static_cast<HWND>(own->child(i)->user_data()));
      }
    }
    return out;
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
      for (::Window w = active; w != None && w != PointerRoot && w != root;
           w = test::Parent(display, w)) {
        active = w;
      }
    }
    if (active == None || active == PointerRoot || active == root) return nullptr;
    // One of our dialogs has a handle of its own, its callback data; another program's window
    // is its id.
    for (Fl_Window* w = Fl::first_window(); w != nullptr; w = Fl::next_window(w)) {
      if (fl_xid(w) == active) return static_cast<HWND>(w->user_data());
    }
    return reinterpret_cast<HWND>(active);
  }

 private:
  static std::string ProbePath() { return SORVEL_X11_PROBE; }
  static std::string Install(const std::string& path) {
    fs::copy_file(ProbePath(), path, fs::copy_options::overwrite_existing);
    return path;
  }

  HWND Start(const std::string& path, std::vector<std::string> arguments, const Text& title) {
    arguments.insert(arguments.begin(), path);
    arguments.push_back(ToUtf8(title));
    pid_t pid = test::Spawn(arguments);
    if (pid == 0) return nullptr;
    started_.push_back(pid);
    programPath_ = FromUtf8(path);
    HWND window = nullptr;
    // Once found, let it be mapped and, under a window manager, framed.
    if (Eventually([&] { return (window = platform_.FindWindow(nullptr, title)); }, 10000))
      Pump(100);
    return window;
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
  fs::path folder_;
  X11Platform platform_;
  std::vector<pid_t> started_;
  std::vector<std::thread> wakers_;
};

SORVEL_WINDOW_SYSTEM_TESTS(X11WindowSystem, X11Environment)

// The X11 layer where the shared checks do not reach: a border a window manager sets on a window
// it lets go of, even after the hold, comes off; the window manager is found where one runs; a
// title is the UTF-8 one before the plain one (the probe's WM_NAME differs from it); _NET_WM_PID
// counts only for a client of this machine, else the server's own knowledge does; an iconified
// window comes back on top when brought to the foreground; a vanished window makes every
// operation fail quietly.
TEST(X11Windows, WhatItReadsOfAnotherProgramsWindowsAndAsksOfTheManager) {
  X11Environment environment;
  conformance::HeldWindow bordered(environment, u"Conformance Border");
  ASSERT_TRUE(bordered.held);
  XSetWindowBorderWidth(fl_display, Xid(bordered.foreign), 7);
  environment.Pump(200);
  XWindowAttributes a;
  EXPECT_TRUE(XGetWindowAttributes(fl_display, Xid(bordered.foreign), &a) && a.border_width == 0);
  HWND other = environment.StartForeignWindow(u"Conformance Other");
  const ::Window probe = Xid(environment.StartForeignWindow(u"대화 상자"));
  ASSERT_NE(other, nullptr);
  ASSERT_NE(probe, None);
  Display* d = fl_display;
  x11::X11Windows x(d);
  x11::HeldWindows held(x);
  EXPECT_EQ(x.HasWindowManager(), getenv("SORVEL_X11_WM") != nullptr);
  EXPECT_EQ(x.Title(probe), u"대화 상자");
  const long own = x.ProcessId(probe), parent = getppid();
  ASSERT_NE(own, 0);
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  XChangeProperty(d, probe, XInternAtom(d, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&parent), 1);
  for (const auto& [machine, expected] :
       {std::pair<std::string, long>{host, parent}, {"elsewhere.example", own}}) {
    XChangeProperty(d, probe, XA_WM_CLIENT_MACHINE, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(machine.data()),
                    static_cast<int>(machine.size()));
    EXPECT_EQ(x.ProcessId(probe), expected) << machine;
  }
  ASSERT_TRUE(x.Iconify(probe));
  EXPECT_TRUE(environment.Eventually([&] { return !x.IsVisible(probe); }, 5000));
  ASSERT_TRUE(x.Foreground(probe));
  EXPECT_TRUE(environment.Eventually(
      [&] { return x.IsVisible(probe) && x.TopLevelWindows().front() == probe; }, 5000));
  ::Window pane = XCreateSimpleWindow(d, x.root(), 0, 0, 10, 10, 0, 0, 0);
  ::Window gone = XCreateSimpleWindow(d, x.root(), 0, 0, 10, 10, 0, 0, 0);
  XDestroyWindow(d, gone);
  XSync(d, False);
  x11::Rect r{0, 0, 10, 10};
  const std::pair<const char*, bool> failed[] = {{"Title", x.Title(gone).empty()},
                                                 {"Owner", x.Owner(gone) == None},
                                                 {"IsDialog", !x.IsDialog(gone)},
                                                 {"ProcessId", x.ProcessId(gone) == 0},
                                                 {"ProgramPath", x.ProgramPath(gone).empty()},
                                                 {"IsVisible", !x.IsVisible(gone)},
                                                 {"ScreenRect", !x.ScreenRect(gone, &r)},
                                                 {"FrameRect", !x.FrameRect(gone, &r)},
                                                 {"MoveResize", !x.MoveResize(gone, r)},
                                                 {"Iconify", !x.Iconify(gone)},
                                                 {"Foreground", !x.Foreground(gone)},
                                                 {"Take", !held.Take(gone, pane, pane, 0, 0, r)},
                                                 {"GiveBack", !held.GiveBack(gone, r)}};
  for (const auto& [name, quietly] : failed) EXPECT_TRUE(quietly) << name;
  XDestroyWindow(d, pane);
}

// A name is claimed by one client at a time, until the object that claimed it goes (the end of
// its connection, as when the host is killed, the host end to end sees by the next host's start).
TEST(X11Windows, OneClaimOfANameAtATimeUntilItsObjectGoes) {
  const std::string name = "SORVEL_TEST_INSTANCE";
  Display* d = XOpenDisplay(nullptr);
  Display* other = XOpenDisplay(nullptr);
  ASSERT_TRUE(d != nullptr && other != nullptr);
  alarm(20);  // a claim that leaves the server grabbed hangs the other connection's next one
  {
    x11::X11Windows x(d);
    EXPECT_TRUE(x11::X11Windows(other).ClaimName(name));
    auto first = std::make_unique<x11::X11Windows>(other);
    EXPECT_TRUE(first->ClaimName(name)) << "the first claim ended with its object";
    EXPECT_FALSE(x.ClaimName(name));
    EXPECT_FALSE(first->ClaimName(name)) << "held already by this very object";
    first.reset();
    XSync(other, False);
    EXPECT_TRUE(x.ClaimName(name));
  }
  alarm(0);
  XCloseDisplay(other);
  XCloseDisplay(d);
}

}  // namespace
}  // namespace sorvel
