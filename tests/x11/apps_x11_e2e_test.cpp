// The native host end to end with the programs users hold: a GTK editor (mousepad), a Qt editor
// (featherpad) and a web browser (chromium), each with a file or page and a fresh configuration
// of its own in the test's folder. The host starts them through small wrapper scripts, since it
// starts a program path without arguments; split start then takes them in by the titles the
// programs gave their windows.
#include "tests/support/host_x11.h"
// clang-format off
#include <X11/Xatom.h>
#include <X11/Xutil.h>
// clang-format on

#include <algorithm>

#include "platform/x11/x11_errors.h"

namespace sorvel {
namespace {

namespace fs = std::filesystem;
using namespace test;  // NOLINT: the fixture's helpers and command ids

struct App {
  const char* name;
  const char* windowClass;  // WM_CLASS's class part
  const char* titleHas;     // a part of the title once the window shows its file
};
const App kMousepad = {"mousepad", "Mousepad", "mousepad.txt"};
const App kFeatherpad = {"featherpad", "FeatherPad", "featherpad.txt"};
const App kChromium = {"chromium", "Chromium", "SorvelPage"};

// The page's left half is a drop-down list, magenta, the rest plain green: the test finds both
// by their colours in the held window's picture.
constexpr unsigned long kSelectColour = 0xFF00FF, kPageColour = 0x00FF00;
const char kPage[] =
    "<!doctype html><title>SorvelPage</title><body style='margin:0;background:#0f0'>"
    "<select style='width:50%;height:40px;font-size:20px;background:#f0f;border:0'>"
    "<option>alpha<option>beta<option>gamma<option>delta</select></body>";

struct Held {
  Window window = None;
  pid_t pid = 0;
};

class AppsX11Test : public HostFixture {
 protected:
  void SetUp() override {
    SetUpHost("sorvel-apps-e2e");
    // A home of its own: no earlier session, first-run or restore question; no session bus, so
    // no program finds a running instance of itself elsewhere.
    const std::pair<const char*, const char*> homes[] = {{"HOME", "home"},
                                                         {"XDG_CONFIG_HOME", "config"},
                                                         {"XDG_CACHE_HOME", "cache"},
                                                         {"XDG_DATA_HOME", "data"},
                                                         {"XDG_RUNTIME_DIR", "run"}};
    for (const auto& [variable, dir] : homes) {
      fs::create_directories(folder_ / dir);
      setenv(variable, (folder_ / dir).c_str(), 1);
    }
    fs::permissions(folder_ / "run", fs::perms::owner_all);
    setenv("NO_AT_BRIDGE", "1", 1);
    unsetenv("DBUS_SESSION_BUS_ADDRESS");

    std::ofstream(folder_ / "page.html") << kPage;
    const std::string f = folder_.string();
    for (const App& app : {kMousepad, kFeatherpad}) {
      std::ofstream(File(app)) << app.name << "\n";
      Wrap(app, std::string(app.name) + " " + File(app).string());
    }
    Wrap(kChromium, "chromium --no-sandbox --test-type --user-data-dir=" + f +
                        "/chromium --no-first-run --disable-gpu --disable-background-networking "
                        "--disable-component-update --disable-sync --disable-quic "
                        "--password-store=basic file://" +
                        f + "/page.html");
  }

  void TearDown() override {
    EndHost();
    // Every program of the folder's, in sessions of their own (the host starts each so), ended
    // with its whole session: the browser's helpers too.
    for (int pass = 0; pass < 2; ++pass) {
      for (const auto& entry : fs::directory_iterator("/proc")) {
        pid_t pid = static_cast<pid_t>(std::atoi(entry.path().filename().c_str()));
        pid_t session = pid > 1 ? getsid(pid) : -1;
        if (session > 1 && session != getsid(0) &&
            ReadAll(entry.path() / "cmdline").find(folder_.string()) != std::string::npos) {
          kill(-session, SIGKILL);
          kill(session, SIGKILL);
        }
      }
    }
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
    HostFixture::TearDown();
  }

  fs::path Wrapper(const App& app) { return folder_ / (std::string(app.name) + ".sh"); }
  void Wrap(const App& app, const std::string& command) {
    std::ofstream(Wrapper(app)) << "#!/bin/sh\nexec " << command << " >>" << folder_.string() << "/"
                                << app.name << ".log 2>&1\n";
    fs::permissions(Wrapper(app), fs::perms::owner_all);
  }
  fs::path File(const App& app) { return folder_ / (std::string(app.name) + ".txt"); }

  // A top-level window of the program's, showing its file.
  Window Find(const App& app) {
    auto all = ShownWindows([&](const x11::TopLevel& t) {
      return t.windowClass == FromUtf8(app.windowClass) &&
             ToUtf8(t.title).find(app.titleHas) != std::string::npos;
    });
    return all.empty() ? None : all.front();
  }

  // The host starts the programs remembered in panes 1, 2, ...; once their windows show, the
  // settings remember their titles too, and split start takes them in.
  std::vector<Held> Hold(const std::vector<App>& apps) {
    std::vector<std::pair<std::string, std::string>> panes;
    for (const App& app : apps) panes.push_back({"", Wrapper(app).string()});
    WriteSettings(panes);
    StartHost();
    std::vector<Held> held;
    for (std::size_t i = 0; i < apps.size(); ++i) {
      Window w = None;
      EXPECT_TRUE(WaitUntil([&] { return (w = Find(apps[i])) != None; }, 30000))
          << apps[i].name << " shows";
      held.push_back({w, windows_->ProcessId(w)});
      panes[i].first = ToUtf8(windows_->Title(w));
    }
    WriteSettings(panes);
    Command(kSplitStart);
    for (std::size_t i = 0; i < apps.size(); ++i) {
      EXPECT_TRUE(WaitUntil([&] { return IsHeldByHost(held[i].window); }))
          << apps[i].name << " taken in";
    }
    return held;
  }

  // The part of a held window its pane shows, on the screen.
  Rect Visible(Window w) {
    Rect a = OnScreen(w), b = OnScreen(Parent(w));
    int x = std::max(a.x, b.x), y = std::max(a.y, b.y);
    return {x, y, std::min(a.x + a.width, b.x + b.width) - x,
            std::min(a.y + a.height, b.y + b.height) - y};
  }
  // A click into the text area of an editor's pane, below its menu and tool bars.
  void ClickInto(Window w) {
    Rect v = Visible(w);
    ASSERT_EQ(Pointer(v.x + v.width / 2, v.y + v.height * 3 / 4), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  void Keys(const std::string& keys) { ASSERT_EQ(RunToEnd({"xdotool", "key", keys}), 0); }
  void Type(const std::string& text) {
    ASSERT_EQ(RunToEnd({"xdotool", "type", "--delay", "30", text}), 0);
  }
  // Saves an editor with the keyboard after a click into it; true once its file holds `text`.
  bool SaveHolds(Window editor, const App& app, const std::string& text) {
    ClickInto(editor);
    Keys("ctrl+s");
    return WaitUntil([&] { return ReadAll(File(app)).find(text) != std::string::npos; }, 5000);
  }

  void Screenshot(const std::string& name) {
    const char* wm = std::getenv("SORVEL_X11_WM");
    fs::path file =
        fs::path(SORVEL_ARTEFACTS) / ("apps-" + std::string(wm ? wm : "wm") + "-" + name + ".png");
    fs::create_directories(file.parent_path());
    RunToEnd({"import", "-window", "root", file.string()});
  }

  // The mapped override-redirect windows on the root: popups and menus.
  std::vector<Window> Popups() {
    std::vector<Window> out;
    for (Window w : Children(windows_->root())) {
      XWindowAttributes a;
      if (XGetWindowAttributes(display_, w, &a) && a.override_redirect &&
          a.map_state == IsViewable && a.width > 20 && a.height > 20) {
        out.push_back(w);
      }
    }
    return out;
  }
  // The first point in the held window's shown part, row by row from the top on the column at
  // `share` of its width, of the colour `rgb`; {-1, -1} when there is none.
  std::pair<int, int> FindColour(Window w, double share, unsigned long rgb) {
    Rect v = Visible(w), on = OnScreen(w);
    int x = v.x + static_cast<int>(v.width * share);
    XImage* image = XGetImage(display_, w, x - on.x, v.y - on.y, 1, static_cast<unsigned>(v.height),
                              AllPlanes, ZPixmap);
    if (image == nullptr) return {-1, -1};
    std::pair<int, int> found = {-1, -1};
    for (int y = 0; y < v.height && found.first < 0; ++y) {
      if ((XGetPixel(image, 0, y) & 0xFFFFFF) == rgb) found = {x, v.y + y};
    }
    XDestroyImage(image);
    return found;
  }
};

TEST_F(AppsX11Test, ExpandingAndCollapsingEachPaneKeepsEveryProgramHeldWithItsUnsavedText) {
  std::vector<Held> held = Hold({kMousepad, kFeatherpad, kChromium});
  ASSERT_FALSE(HasFailure());
  ClickInto(held[0].window);
  Type("gtkunsaved");
  ClickInto(held[1].window);
  Type("qtunsaved");
  Screenshot("held");

  for (int pane = 0; pane < 3; ++pane) {
    Window display = Parent(held[pane].window);
    int height = OnScreen(display).height;
    Command(kButtonExpand[pane]);
    EXPECT_TRUE(WaitUntil([&] { return OnScreen(display).height > 2 * height; }))
        << "pane " << pane + 1 << " expands";
    Command(kButtonExpand[pane]);
    EXPECT_TRUE(WaitUntil([&] { return OnScreen(display).height == height; }))
        << "pane " << pane + 1 << " collapses";
  }
  // Held still, their programs running (a window goes with its program).
  for (const Held& h : held) EXPECT_TRUE(IsHeldByHost(h.window) && IsShown(h.window));
  EXPECT_TRUE(SaveHolds(held[0].window, kMousepad, "gtkunsaved")) << ReadAll(File(kMousepad));
  EXPECT_TRUE(SaveHolds(held[1].window, kFeatherpad, "qtunsaved")) << ReadAll(File(kFeatherpad));
}

// Keys go where the last click was, not where the pointer is. An editor's dialog, named the
// host's, stays framed above the host after a click in another pane. A held editor killed and
// started again is taken into its pane by split start.
TEST_F(AppsX11Test, TwoEditorsTakeKeysByTheClickKeepTheirDialogsAboveAndAreTakenAgain) {
  std::vector<Held> held = Hold({kMousepad, kFeatherpad});
  ASSERT_FALSE(HasFailure());
  ClickInto(held[0].window);
  Rect other = Visible(held[1].window);
  ASSERT_EQ(Pointer(other.x + other.width / 2, other.y + other.height * 3 / 4, {}), 0);
  Type("clickedword");
  Keys("ctrl+s");
  EXPECT_TRUE(WaitUntil(
      [&] { return ReadAll(File(kMousepad)).find("clickedword") != std::string::npos; }, 5000))
      << ReadAll(File(kMousepad));
  SaveHolds(held[1].window, kFeatherpad, "featherpad");
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(ReadAll(File(kFeatherpad)).find("clickedword"), std::string::npos)
      << ReadAll(File(kFeatherpad));

  ClickInto(held[0].window);
  Keys("ctrl+shift+s");
  Window dialog = None;
  ASSERT_TRUE(WaitUntil([&] {
    auto all = ShownWindows([](const x11::TopLevel& t) { return t.windowClass == u"Mousepad"; });
    dialog = all.empty() ? None : all.front();
    return dialog != None;
  })) << "Save As shows";
  ClickInto(held[1].window);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  Window host = Host();
  EXPECT_EQ(windows_->Owner(dialog), host) << "named the host's dialog";
  EXPECT_TRUE(IsShown(dialog));
  EXPECT_NE(Parent(dialog), windows_->root()) << "framed by the manager";
  x11::Property stacking;  // bottom to top
  ASSERT_TRUE(x11::ReadProperty(display_, windows_->root(),
                                XInternAtom(display_, "_NET_CLIENT_LIST_STACKING", False),
                                &stacking));
  const std::vector<unsigned long>& order = stacking.longs;
  auto dialogAt = std::find(order.begin(), order.end(), dialog);
  auto hostAt = std::find(order.begin(), order.end(), host);
  ASSERT_NE(dialogAt, order.end());
  ASSERT_NE(hostAt, order.end());
  EXPECT_GT(dialogAt, hostAt) << "stacked above the host";
  Rect frame = Frame(dialog);
  ASSERT_EQ(Pointer(frame.x + frame.width / 2, frame.y + 8), 0);
  Keys("Escape");
  EXPECT_TRUE(WaitUntil([&] { return !IsShown(dialog); }, 5000)) << "Escape closes it";
  EXPECT_TRUE(IsHeldByHost(held[0].window));

  Window pane = Parent(held[0].window);
  kill(held[0].pid, SIGKILL);
  ASSERT_TRUE(WaitUntil([&] { return Parent(held[0].window) == None; })) << "its window goes";
  Command(kButtonA[0]);
  // In a session of its own, as the host starts programs: ended with it.
  ASSERT_NE(Spawn({"setsid", Wrapper(kMousepad).string()}), 0);
  Window w = None;
  ASSERT_TRUE(WaitUntil([&] { return (w = Find(kMousepad)) != None; }, 30000));
  Command(kSplitStart);
  EXPECT_TRUE(WaitUntil([&] { return Parent(w) == pane; })) << "taken into pane 1";
  EXPECT_TRUE(IsHeldByHost(held[1].window)) << "featherpad stays";
}

// The browser draws its menus and drop-down lists in override-redirect windows, placed by what
// it believes its window's screen position to be.
TEST_F(AppsX11Test, TheBrowsersMenusOpenBesideTheClickAndStay) {
  std::vector<Held> held = Hold({kChromium});
  ASSERT_FALSE(HasFailure());
  Window browser = held[0].window;
  std::pair<int, int> select, page;
  ASSERT_TRUE(WaitUntil([&] {
    select = FindColour(browser, 0.25, kSelectColour);
    page = FindColour(browser, 0.75, kPageColour);
    return select.first >= 0 && page.first >= 0;
  })) << "the page shows in the pane";
  // The page reaches the pane's left edge: a shadow the browser draws around itself (under a
  // compositing manager) lies outside the pane, once the browser has announced its extents.
  EXPECT_TRUE(WaitUntil([&] { return FindColour(browser, 0.0, kSelectColour).first >= 0; }, 3000));

  const struct {
    const char* what;
    std::pair<int, int> at;
    const char* button;
  } cases[] = {{"context menu", {page.first, page.second + 20}, "3"},
               {"drop-down list", {select.first, select.second + 20}, "1"}};
  for (const auto& c : cases) {
    std::vector<Window> before = Popups();
    ASSERT_EQ(Pointer(c.at.first, c.at.second, {"click", c.button}), 0);
    Window popup = None;
    ASSERT_TRUE(WaitUntil(
        [&] {
          for (Window w : Popups()) {
            if (std::find(before.begin(), before.end(), w) == before.end()) popup = w;
          }
          return popup != None;
        },
        5000))
        << c.what;
    Rect r = OnScreen(popup);
    int dx = std::max({r.x - c.at.first, c.at.first - (r.x + r.width), 0});
    int dy = std::max({r.y - c.at.second, c.at.second - (r.y + r.height), 0});
    EXPECT_LE(dx + dy, 200) << c.what << " at " << Describe(r) << ", clicked " << c.at.first << ","
                            << c.at.second;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_TRUE(IsShown(popup)) << c.what << " stays open";
    if (std::string(c.button) == "3") Screenshot("menu");
    Keys("Escape");
    EXPECT_TRUE(WaitUntil([&] { return !IsShown(popup); }, 3000)) << c.what << " closes";
  }
}

}  // namespace
}  // namespace sorvel
