// The Xlib layer against real X programs on the display that scripts/lib/run-on-xvfb gives it,
// with no window manager or with the one named by SORVEL_X11_WM.
// GoogleTest first: Xlib defines macros (None, Bool) that its names would meet.
#include <gtest/gtest.h>
// clang-format off
#include "platform/x11/held_windows.h"
#include "platform/x11/keeper.h"
#include "platform/x11/x11_windows.h"
#include "tests/support/spawn.h"
// clang-format on

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace sorvel::x11 {
namespace {

using test::Spawn;

// Polls `done` for up to ten seconds: the server and the window manager act asynchronously.
bool Eventually(const std::function<bool()>& done) {
  for (int i = 0; i < 1000; ++i) {
    if (done()) return true;
    usleep(10000);
  }
  return done();
}

void Kill(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGCONT);
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

bool SameRect(const Rect& a, const Rect& b) {
  return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}

std::string Show(const Rect& r) {
  return std::to_string(r.x) + "," + std::to_string(r.y) + " " + std::to_string(r.width) + "x" +
         std::to_string(r.height);
}

class X11WindowsTest : public testing::Test {
 protected:
  void SetUp() override {
    display_ = XOpenDisplay(nullptr);
    ASSERT_NE(display_, nullptr) << "no X display; run under scripts/lib/run-on-xvfb";
    x_ = std::make_unique<X11Windows>(display_);
    held_ = std::make_unique<HeldWindows>(*x_);
    const char* wm = std::getenv("SORVEL_X11_WM");
    managed_ = wm && *wm;
    ASSERT_EQ(x_->HasWindowManager(), managed_);
  }
  void TearDown() override {
    for (pid_t pid : programs_) Kill(pid);
    held_.reset();
    x_.reset();
    if (display_) XCloseDisplay(display_);
  }

  // Starts a program and returns its visible top-level window, found by its process.
  Window Start(std::vector<std::string> args, pid_t* pid_out = nullptr) {
    pid_t pid = Spawn(std::move(args));
    if (pid <= 0) return None;
    programs_.push_back(pid);
    if (pid_out) *pid_out = pid;
    Window found = None;
    Eventually([&] {
      for (Window w : x_->TopLevelWindows()) {
        if (x_->ProcessId(w) == pid && x_->IsVisible(w)) found = w;
      }
      return found != None;
    });
    return found;
  }

  bool Listed(Window w) {
    auto all = x_->TopLevelWindows();
    return std::find(all.begin(), all.end(), w) != all.end();
  }

  Window ParentOf(Window w) {
    Window root = None, parent = None, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display_, w, &root, &parent, &children, &count)) return None;
    if (children) XFree(children);
    return parent;
  }

  // A window of the test's own, outside any window manager's reach, as a pane.
  Window MakePane(Display* d, int x, int y) {
    XSetWindowAttributes a{};
    a.override_redirect = True;
    a.background_pixel = 0x3060a0;
    Window w = XCreateWindow(d, DefaultRootWindow(d), x, y, 320, 240, 0, CopyFromParent,
                             InputOutput, CopyFromParent, CWOverrideRedirect | CWBackPixel, &a);
    XMapWindow(d, w);
    XSync(d, False);
    return w;
  }

  void SetText(Window w, const char* property, const char* type, const std::string& text) {
    XChangeProperty(display_, w, XInternAtom(display_, property, False),
                    XInternAtom(display_, type, False), 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(text.data()),
                    static_cast<int>(text.size()));
  }
  void SetCardinal(Window w, const char* property, long value) {
    XChangeProperty(display_, w, XInternAtom(display_, property, False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<unsigned char*>(&value), 1);
  }

  Display* display_ = nullptr;
  std::unique_ptr<X11Windows> x_;
  std::unique_ptr<HeldWindows> held_;
  bool managed_ = false;
  std::vector<pid_t> programs_;
};

std::string OwnProgram() {
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path);
  return n > 0 ? std::string(path, n) : std::string();
}

TEST_F(X11WindowsTest, ListsTopLevelWindowsTopmostFirstWithTheirNamesOwnersAndPrograms) {
  pid_t logo_pid = 0, term_pid = 0;
  Window logo = Start({"xlogo"}, &logo_pid);
  ASSERT_NE(logo, None);
  Window term = Start({"xterm", "-T", "Sorvel term"}, &term_pid);
  ASSERT_NE(term, None);

  // A dialog of ours owned by the terminal, its title in UTF-8 beside a plain WM_NAME.
  Window dialog = XCreateSimpleWindow(display_, x_->root(), 100, 100, 200, 80, 0, 0, 0xffffff);
  XSetTransientForHint(display_, dialog, term);
  Atom dialog_type = XInternAtom(display_, "_NET_WM_WINDOW_TYPE_DIALOG", False);
  XChangeProperty(display_, dialog, XInternAtom(display_, "_NET_WM_WINDOW_TYPE", False), XA_ATOM,
                  32, PropModeReplace, reinterpret_cast<unsigned char*>(&dialog_type), 1);
  SetText(dialog, "_NET_WM_NAME", "UTF8_STRING", "대화 상자");
  SetText(dialog, "WM_NAME", "STRING", "fallback");
  XMapWindow(display_, dialog);
  XSync(display_, False);
  ASSERT_TRUE(Eventually([&] { return Listed(dialog) && x_->IsVisible(dialog); }));

  auto all = x_->TopLevelWindows();
  auto at = [&](Window w) { return std::find(all.begin(), all.end(), w) - all.begin(); };
  EXPECT_LT(at(dialog), at(term));
  EXPECT_LT(at(term), at(logo));

  struct Row {
    Window window;
    std::u16string title;
    Window owner;
    bool dialog;
    pid_t pid;
    std::string program;
  };
  const Row rows[] = {
      {logo, u"xlogo", None, false, logo_pid, "/usr/bin/xlogo"},
      {term, u"Sorvel term", None, false, term_pid, "/usr/bin/xterm"},
      {dialog, u"대화 상자", term, true, getpid(), OwnProgram()},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.program);
    EXPECT_EQ(x_->Title(row.window), row.title);
    EXPECT_EQ(x_->Owner(row.window), row.owner);
    EXPECT_EQ(x_->IsDialog(row.window), row.dialog);
    EXPECT_EQ(x_->ProcessId(row.window), row.pid);
    EXPECT_EQ(x_->ProgramPath(row.window), row.program);
    EXPECT_TRUE(x_->IsVisible(row.window));
  }

  // _NET_WM_PID counts only for a client on this host; else the server's knowledge does.
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  const struct {
    const char* machine;
    pid_t expected;
  } pids[] = {{host, getppid()}, {"elsewhere.example", getpid()}};
  for (const auto& p : pids) {
    SetCardinal(dialog, "_NET_WM_PID", getppid());
    SetText(dialog, "WM_CLIENT_MACHINE", "STRING", p.machine);
    EXPECT_EQ(x_->ProcessId(dialog), p.expected) << p.machine;
  }
}

TEST_F(X11WindowsTest, CapturesIntoAPaneAndGivesBackAtTheFormerPlaceEvenFromAStoppedClient) {
  pid_t logo_pid = 0;
  Window logo = Start({"xlogo"}, &logo_pid);
  ASSERT_NE(logo, None);
  Window pane = MakePane(display_, 300, 200);

  for (bool stopped : {false, true}) {
    SCOPED_TRACE(stopped ? "stopped client" : "running client");
    Rect frame, client;
    ASSERT_TRUE(x_->FrameRect(logo, &frame));
    ASSERT_TRUE(x_->ScreenRect(logo, &client));
    EXPECT_EQ(managed_, frame.height - client.height > frame.width - client.width)
        << "a title bar only from the manager";
    if (stopped) kill(logo_pid, SIGSTOP);

    const Rect insets{client.x - frame.x, client.y - frame.y, frame.width - client.width,
                      frame.height - client.height};
    ASSERT_TRUE(held_->Take(logo, pane, pane, 10, 20, insets));
    XWindowAttributes a;
    ASSERT_TRUE(XGetWindowAttributes(display_, logo, &a));
    EXPECT_EQ(ParentOf(logo), pane);
    EXPECT_EQ(a.x, 10);
    EXPECT_EQ(a.y, 20);
    EXPECT_EQ(a.map_state, IsViewable);
    EXPECT_TRUE(Eventually([&] { return !Listed(logo); }));

    // Managers set borders on windows they let go of (their own frame's, or the window's
    // former one, even after the capture): the caller's event loop and the hook take them off.
    if (!stopped) XSetWindowBorderWidth(display_, logo, 7);
    EXPECT_TRUE(Eventually([&] {
      while (XPending(display_)) {
        XEvent e;
        XNextEvent(display_, &e);
        held_->HandleEvent(e);
      }
      return XGetWindowAttributes(display_, logo, &a) && a.border_width == 0;
    }));

    const char* shots = std::getenv("SORVEL_X11_ARTEFACTS");
    if (shots && !stopped) {
      std::string command = std::string("import -window root ") + shots + "/x11-capture" +
                            (managed_ ? "-wm" : "") + ".png";
      EXPECT_EQ(std::system(command.c_str()), 0);
    }

    ASSERT_TRUE(x_->MoveResize(logo, {0, -30, 320, 200}));
    ASSERT_TRUE(XGetWindowAttributes(display_, logo, &a));
    EXPECT_EQ(a.y, -30);
    EXPECT_EQ(a.width, 320);

    ASSERT_TRUE(held_->GiveBack(logo, frame));
    Rect frame_after, client_after;
    EXPECT_TRUE(Eventually([&] {
      return x_->FrameRect(logo, &frame_after) && x_->ScreenRect(logo, &client_after) &&
             SameRect(frame_after, frame) && SameRect(client_after, client) &&
             x_->IsVisible(logo) && Listed(logo);
    })) << "frame "
        << Show(frame) << " became " << Show(frame_after) << ", client " << Show(client)
        << " became " << Show(client_after);
    if (stopped) kill(logo_pid, SIGCONT);
  }
}

// The server gives the windows of a killed holder back to the root, mapped, and the holder's
// keeper puts each where it stood before it was taken, framed again by a window manager.
TEST_F(X11WindowsTest, AKilledHoldersWindowGoesBackWhereItStood) {
  Window term = Start({"xterm", "-T", "held"});
  ASSERT_NE(term, None);
  // Away from where a manager puts a new window and from where the pane has it.
  Rect placed;
  ASSERT_TRUE(x_->FrameRect(term, &placed));
  XMoveWindow(display_, term, 400, 300);
  XSync(display_, False);
  Rect frame, client;
  ASSERT_TRUE(Eventually([&] { return x_->FrameRect(term, &frame) && frame.x >= 300; }));
  usleep(300000);  // settled
  ASSERT_TRUE(x_->FrameRect(term, &frame) && x_->ScreenRect(term, &client));
  const Rect insets{client.x - frame.x, client.y - frame.y, frame.width - client.width,
                    frame.height - client.height};
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t holder = fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    // A connection of its own; the parent's is left alone. The first window taken forks the
    // keeper.
    Display* d = XOpenDisplay(nullptr);
    char ok = 0;
    if (d) {
      Keeper keeper;
      X11Windows x(d);
      HeldWindows held(x, &keeper);
      Window pane = MakePane(d, 0, 0);
      ok = held.Take(term, pane, pane, frame.x, frame.y, insets) &&
                   held.MoveResize(term, {5, 5, 200, 150})
               ? 1
               : 0;
      XSync(d, False);
    }
    if (write(ready[1], &ok, 1) != 1) _exit(1);
    for (;;) pause();
  }
  close(ready[1]);
  char ok = 0;
  ASSERT_EQ(read(ready[0], &ok, 1), 1);
  close(ready[0]);
  EXPECT_EQ(ok, 1);
  EXPECT_TRUE(Eventually([&] { return !Listed(term); }));

  Kill(holder);
  Rect now;
  EXPECT_TRUE(Eventually([&] {
    return x_->IsVisible(term) && Listed(term) && x_->FrameRect(term, &now) &&
           std::abs(now.x - frame.x) <= 1 && std::abs(now.y - frame.y) <= 1 &&
           std::abs(now.width - frame.width) <= 1 && std::abs(now.height - frame.height) <= 1;
  })) << "at "
      << Show(now) << ", was " << Show(frame) << " (placed at " << Show(placed) << ")";
  if (!managed_) {
    EXPECT_EQ(ParentOf(term), x_->root());
  }
}

TEST_F(X11WindowsTest, IconifiedWindowsAreHiddenUntilBroughtToTheForegroundOnTop) {
  Window logo = Start({"xlogo"});
  ASSERT_NE(logo, None);
  Window term = Start({"xterm"});
  ASSERT_NE(term, None);
  ASSERT_TRUE(Eventually([&] { return x_->TopLevelWindows().front() == term; }));

  ASSERT_TRUE(x_->Iconify(logo));
  EXPECT_TRUE(Eventually([&] { return !x_->IsVisible(logo); }));
  ASSERT_TRUE(x_->Foreground(logo));
  EXPECT_TRUE(
      Eventually([&] { return x_->IsVisible(logo) && x_->TopLevelWindows().front() == logo; }));
}

TEST_F(X11WindowsTest, OneClaimOfANameAtATimeUntilItsConnectionEnds) {
  const std::string name = "SORVEL_TEST_INSTANCE";
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t first = fork();
  ASSERT_GE(first, 0);
  if (first == 0) {
    Display* d = XOpenDisplay(nullptr);
    char ok = 0;
    if (d) ok = X11Windows(d).ClaimName(name) ? 1 : 0;  // the claim ends with the object
    if (d) ok = ok == 1 && X11Windows(d).ClaimName(name) ? 1 : 0;
    X11Windows held(d);
    if (d && !held.ClaimName(name)) ok = 0;
    if (write(ready[1], &ok, 1) != 1) _exit(1);
    for (;;) pause();
  }
  close(ready[1]);
  char ok = 0;
  ASSERT_EQ(read(ready[0], &ok, 1), 1);
  close(ready[0]);
  EXPECT_EQ(ok, 1);

  EXPECT_FALSE(x_->ClaimName(name));
  Kill(first);
  EXPECT_TRUE(Eventually([&] { return x_->ClaimName(name); }));
  EXPECT_FALSE(x_->ClaimName(name)) << "held already by this very object";
}

TEST_F(X11WindowsTest, AVanishedWindowMakesEveryOperationFailQuietly) {
  Window pane = MakePane(display_, 0, 0);
  Window gone = XCreateSimpleWindow(display_, x_->root(), 0, 0, 10, 10, 0, 0, 0);
  XDestroyWindow(display_, gone);
  XSync(display_, False);
  Rect r{0, 0, 10, 10};
  const std::pair<const char*, std::function<bool()>> checks[] = {
      {"Title", [&] { return x_->Title(gone).empty(); }},
      {"Owner", [&] { return x_->Owner(gone) == None; }},
      {"IsDialog", [&] { return !x_->IsDialog(gone); }},
      {"ProcessId", [&] { return x_->ProcessId(gone) == 0; }},
      {"ProgramPath", [&] { return x_->ProgramPath(gone).empty(); }},
      {"IsVisible", [&] { return !x_->IsVisible(gone); }},
      {"ScreenRect", [&] { return !x_->ScreenRect(gone, &r); }},
      {"FrameRect", [&] { return !x_->FrameRect(gone, &r); }},
      {"MoveResize", [&] { return !x_->MoveResize(gone, r); }},
      {"Iconify", [&] { return !x_->Iconify(gone); }},
      {"Foreground", [&] { return !x_->Foreground(gone); }},
      {"Take", [&] { return !held_->Take(gone, pane, pane, 0, 0, r); }},
      {"GiveBack", [&] { return !held_->GiveBack(gone, r); }},
  };
  for (const auto& [name, check] : checks) EXPECT_TRUE(check()) << name;
}

}  // namespace
}  // namespace sorvel::x11
