// What the native end-to-end tests share on a display of their own: waiting, running a program
// to its end, a fixture that reads the window tree through the X11 layer, and one that starts the
// host in a folder of the test's, gives it commands and clicks as the user does.
// GoogleTest before Xlib, whose macros (None, Bool) would rename its identifiers.
#pragma once

#include <gtest/gtest.h>
// clang-format off
#include <X11/Xlib.h>
#include <X11/Xutil.h>
// clang-format on
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "host/pane_layout.h"
#include "host/resources.h"
#include "platform/types.h"
#include "platform/x11/x11_windows.h"
#include "tests/support/spawn.h"
#include "tests/support/utf16le.h"
#include "tests/support/x11_tree.h"

namespace sorvel::test {

inline bool WaitUntil(const std::function<bool()>& done, int milliseconds = 10000) {
  for (int waited = 0; waited < milliseconds; waited += 50) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return done();
}

// The exit status of a program run to its end; -1 when it could not start or was killed.
inline int RunToEnd(std::vector<std::string> arguments) {
  pid_t pid = Spawn(std::move(arguments));
  int status = 0;
  if (pid == 0 || waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A connection to the test's display and the window tree read through the X11 layer.
class X11Fixture : public ::testing::Test {
 protected:
  using Rect = x11::Rect;

  void SetUp() override {
    // Windows come and go under the test's feet: a request on one that is gone is no error.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    display_ = XOpenDisplay(nullptr);
    ASSERT_NE(display_, nullptr) << "no X display (run under scripts/lib/run-on-xvfb)";
    windows_ = std::make_unique<x11::X11Windows>(display_);
  }
  void TearDown() override {
    windows_.reset();
    if (display_ != nullptr) XCloseDisplay(display_);
  }

  // The topmost viewable top-level window that `wanted` picks, or of that title, once there is
  // one within `milliseconds`; None when there is none.
  using Wanted = std::function<bool(const x11::TopLevel&)>;
  Window ShownWindow(const Wanted& wanted, int milliseconds = 0) {
    Window found = None;
    WaitUntil(
        [&] {
          for (const x11::TopLevel& t : windows_->ListTopLevels()) {
            if (t.viewable && wanted(t)) return (found = t.window) != None;
          }
          return false;
        },
        milliseconds);
    return found;
  }
  Window ShownWindow(const std::string& title, int milliseconds = 0) {
    return ShownWindow([&](const x11::TopLevel& t) { return t.title == FromUtf8(title); },
                       milliseconds);
  }
  std::vector<Window> Children(Window w) { return test::Children(display_, w); }
  Window Parent(Window w) { return test::Parent(display_, w); }
  // Whether the keyboard's focus lies in `w` or a window inside it.
  bool HasFocus(Window w) {
    Window focus = None;
    int revert = 0;
    XGetInputFocus(display_, &focus, &revert);
    while (focus != None && focus != PointerRoot && focus != w) focus = Parent(focus);
    return focus == w;
  }
  bool IsShown(Window w) {
    XWindowAttributes a;
    return XGetWindowAttributes(display_, w, &a) && a.map_state == IsViewable;
  }
  Rect Frame(Window w) {
    Rect r;
    windows_->FrameRect(w, &r);
    return r;
  }
  Rect OnScreen(Window w) {
    Rect r;
    windows_->ScreenRect(w, &r);
    return r;
  }
  // The RGB values of a part of `w`, its inferiors included, row by row; none when it cannot be
  // read. Read from the window itself: under a compositing manager (mutter, a Wayland
  // compositor's X server) the root holds none of the windows' pixels.
  std::vector<unsigned long> Pixels(Window w, const Rect& r) {
    std::vector<unsigned long> out;
    XImage* image = r.width <= 0 || r.height <= 0
                        ? nullptr
                        : XGetImage(display_, w, r.x, r.y, unsigned(r.width), unsigned(r.height),
                                    AllPlanes, ZPixmap);
    for (int y = 0; image != nullptr && y < r.height; ++y) {
      for (int x = 0; x < r.width; ++x) out.push_back(XGetPixel(image, x, y) & 0xFFFFFF);
    }
    if (image != nullptr) XDestroyImage(image);
    return out;
  }
  static bool Inside(const Rect& a, const Rect& b) {
    return a.x >= b.x && a.y >= b.y && a.x + a.width <= b.x + b.width &&
           a.y + a.height <= b.y + b.height;
  }
  static std::string Describe(const Rect& r) {
    return std::to_string(r.width) + "x" + std::to_string(r.height) + "+" + std::to_string(r.x) +
           "+" + std::to_string(r.y);
  }

  Display* display_ = nullptr;
  std::unique_ptr<x11::X11Windows> windows_;
};

#ifdef SORVEL_COMMAND
// The host from a fresh folder with a copy of it, its settings file beside it; its log printed
// when the test failed.
class HostFixture : public X11Fixture {
 protected:
  void SetUpHost(const std::string& name) {
    X11Fixture::SetUp();
    folder_ = MarkedFolder(name);
    std::filesystem::copy_file(SORVEL_HOST, folder_ / "sorvel");
  }
  // The host and all it started (those it launched just before it ended too) ended with it.
  void TearDown() override {
    if (HasFailure()) std::cerr << "host.log:\n" << ReadAll(folder_ / "host.log") << "\n";
    WaitUntil([&] { return EndMarked(folder_) == 0; }, 5000);
    HostEnded();
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
    X11Fixture::TearDown();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  // The settings file as an earlier run leaves it, UTF-16LE: per pane a window title and a
  // program path, either of them empty. Replaced whole, never seen half written.
  void WriteSettings(const std::vector<std::pair<std::string, std::string>>& panes) {
    std::string settings = "[Setting]\r\n";
    for (std::size_t i = 0; i < panes.size(); ++i) {
      std::string pane = std::to_string(i + 1);
      settings += "FileName" + pane + "=" + panes[i].first + "\r\nFileFullPath" + pane + "=" +
                  panes[i].second + "\r\n";
    }
    std::ofstream(folder_ / "sorvel.ini.next", std::ios::binary)
        << Utf16LeBytes(FromUtf8(settings));
    std::filesystem::rename(folder_ / "sorvel.ini.next", folder_ / "sorvel.ini");
  }

  // Starts the host; it starts the remembered programs itself.
  void StartHost() {
    host_ = Spawn({(folder_ / "sorvel").string()}, (folder_ / "host.log").string());
    ASSERT_NE(host_, 0);
    ASSERT_TRUE(WaitUntil([&] { return Host() != None; })) << "the host's dialog shows";
  }
  // True once the host has ended (within `milliseconds`); it is then forgotten.
  bool HostEnded(int milliseconds = 10000) {
    if (host_ != 0 &&
        WaitUntil([&] { return waitpid(host_, nullptr, WNOHANG) == host_; }, milliseconds)) {
      host_ = 0;
    }
    return host_ == 0;
  }
  void Command(int id, const std::string& dialog = std::string()) {
    std::vector<std::string> command = {SORVEL_COMMAND, std::to_string(id)};
    if (!dialog.empty()) command.push_back(dialog);
    ASSERT_EQ(RunToEnd(command), 0) << id;
  }
  // The pointer moved to (x, y) on the screen, then xdotool's `then` (a click, keys). It gets
  // there by relative motion (XTEST): a warp, as xdotool's mousemove does, makes the X server of
  // a headless Weston, whose seat has no pointer, crash (Xwayland 22.1).
  int Pointer(int x, int y, const std::vector<std::string>& then = {"click", "1"}) {
    Window root = None, child = None;
    int rootX = 0, rootY = 0, inX = 0, inY = 0;
    unsigned mask = 0;
    XQueryPointer(display_, windows_->root(), &root, &child, &rootX, &rootY, &inX, &inY, &mask);
    std::vector<std::string> command{"xdotool", "mousemove_relative", "--",
                                     std::to_string(x - rootX), std::to_string(y - rootY)};
    command.insert(command.end(), then.begin(), then.end());
    return RunToEnd(command);
  }
  // The part of a held window its pane shows, on the screen.
  Rect Visible(Window w) {
    Rect a = OnScreen(w), b = OnScreen(Parent(w));
    int x = std::max(a.x, b.x), y = std::max(a.y, b.y);
    return {x, y, std::min(a.x + a.width, b.x + b.width) - x,
            std::min(a.y + a.height, b.y + b.height) - y};
  }
  // A click (or `then`) into a held window, below an editor's menu and tool bars.
  void ClickInto(Window w, const std::vector<std::string>& then = {"click", "1"}) {
    Rect v = Visible(w);
    ASSERT_EQ(Pointer(v.x + v.width / 2, v.y + v.height * 3 / 4, then), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  // The pane `pane` (0 to 2) that holds `w` expanded to cover the dialog, and collapsed again.
  void ExpandAndCollapse(int pane, Window w) {
    const Window display = Parent(w);
    const int height = OnScreen(display).height;
    Command(kPaneControls[pane].buttonToggle);
    EXPECT_TRUE(WaitUntil([&] {
      return OnScreen(display).height > 2 * height &&
             OnScreen(display).height >= OnScreen(Host()).height * 8 / 10;
    })) << "pane "
        << pane + 1 << " covers the dialog: " << Describe(OnScreen(display));
    Command(kPaneControls[pane].buttonToggle);
    EXPECT_TRUE(WaitUntil([&] { return OnScreen(display).height == height; }))
        << "pane " << pane + 1 << " collapses";
  }
  void Keys(const std::string& keys) { ASSERT_EQ(RunToEnd({"xdotool", "key", keys}), 0); }
  void Type(const std::string& text) {
    ASSERT_EQ(RunToEnd({"xdotool", "type", "--delay", "30", text}), 0);
  }

  Window Host() {
    return ShownWindow([](const x11::TopLevel& t) {
      return t.title == u"Sorvel" || t.title == u"Tavrin";  // its running title, once shown
    });
  }
  bool IsHeldByHost(Window w) {
    const Window host = Host();
    Window p = Parent(w);
    while (p != None && p != host && p != windows_->root()) p = Parent(p);
    return p != None && p == host;
  }

  std::filesystem::path folder_;
  pid_t host_ = 0;
};
#endif

}  // namespace sorvel::test
