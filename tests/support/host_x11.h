// The native host driven end to end on a display of its own: its command ids, the settings file
// it starts from, and a fixture that starts it in a folder of the test's and reads the window
// tree around it. The end-to-end tests of the native host share it.
// GoogleTest before Xlib, whose macros (None, Bool) would rename its identifiers.
#pragma once

#include <gtest/gtest.h>
// clang-format off
#include <X11/Xlib.h>
// clang-format on
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

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

#include "platform/types.h"
#include "platform/x11/x11_windows.h"
#include "tests/support/spawn.h"
#include "tests/support/x11_tree.h"

namespace sorvel::test {

// Pane 1, 2 and 3: A (capture or give back), up, down, expand.
constexpr int kButtonA[] = {1000, 1006, 1008};
constexpr int kButtonUp[] = {1001, 1007, 1009};
constexpr int kButtonDown[] = {1004, 1010, 1013};
constexpr int kButtonExpand[] = {1015, 1016, 1017};
constexpr int kSplitStart = 32780;
constexpr int kExit = 32775;

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

// Ends the processes named `names` that run on this test's display: the programs a host
// launched just before it ended show their windows only later, when no window names them yet.
// Tests on other displays run in parallel and keep theirs.
inline void KillOnThisDisplay(const std::vector<std::string>& names) {
  const char* display = getenv("DISPLAY");
  if (display == nullptr) return;
  const std::string wanted = std::string("DISPLAY=") + display;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string pid = entry.path().filename().string();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::string comm;
    std::getline(std::ifstream(entry.path() / "comm"), comm);
    bool named = false;
    for (const std::string& name : names) named = named || comm == name;
    if (!named) continue;
    std::ifstream environ(entry.path() / "environ");
    for (std::string variable; std::getline(environ, variable, '\0');) {
      if (variable == wanted) {
        kill(std::stoi(pid), SIGKILL);
        break;
      }
    }
  }
}

class HostFixture : public ::testing::Test {
 protected:
  using Rect = x11::Rect;

  // A fresh folder with a copy of the host, whose settings file lies beside it.
  void SetUpHost(const std::string& name) {
    // Windows come and go under the test's feet: a request on one that is gone is no error.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    display_ = XOpenDisplay(nullptr);
    ASSERT_NE(display_, nullptr) << "no X display (run under scripts/lib/run-on-xvfb)";
    windows_ = std::make_unique<x11::X11Windows>(display_);
    folder_ = std::filesystem::temp_directory_path() / (name + "-" + std::to_string(getpid()));
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
    std::filesystem::copy_file(SORVEL_HOST, folder_ / "sorvel");
  }
  // Ends the host; prints its log when the test failed.
  void EndHost() {
    if (HasFailure()) {
      std::ifstream log(folder_ / "host.log");
      std::cerr << "host.log:\n" << log.rdbuf() << "\n";
    }
    if (host_ != 0) {
      kill(host_, SIGKILL);
      waitpid(host_, nullptr, 0);
      host_ = 0;
    }
  }
  void CloseDisplay() {
    windows_.reset();
    if (display_ != nullptr) XCloseDisplay(display_);
    display_ = nullptr;
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
    std::u16string wide = FromUtf8(settings);
    std::filesystem::path next = folder_ / "sorvel.ini.next";
    std::ofstream(next, std::ios::binary)
        .write(reinterpret_cast<const char*>(wide.data()),
               static_cast<std::streamsize>(wide.size() * 2));
    std::filesystem::rename(next, folder_ / "sorvel.ini");
  }

  // Starts the host; it starts the remembered programs itself.
  void StartHost() {
    host_ = Spawn({(folder_ / "sorvel").string()}, (folder_ / "host.log").string());
    ASSERT_NE(host_, 0);
    ASSERT_TRUE(WaitUntil([&] { return Host() != None; })) << "the host's dialog shows";
  }
  void Command(int id, const std::string& dialog = std::string()) {
    std::vector<std::string> command = {SORVEL_COMMAND, std::to_string(id)};
    if (!dialog.empty()) command.push_back(dialog);
    ASSERT_EQ(RunToEnd(command), 0) << id;
  }

  Window Host() {
    for (const x11::TopLevel& t : windows_->ListTopLevels()) {
      if ((t.title == u"Sorvel" || t.title == u"Tavrin") && t.viewable) return t.window;
    }
    return None;
  }
  std::vector<Window> Children(Window w) { return test::Children(display_, w); }
  Window Parent(Window w) { return test::Parent(display_, w); }
  bool IsHeldByHost(Window w) {
    Window host = Host();
    for (Window p = Parent(w); p != None && host != None; p = Parent(p)) {
      if (p == host) return true;
      if (p == windows_->root()) return false;
    }
    return false;
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

  Display* display_ = nullptr;
  std::unique_ptr<x11::X11Windows> windows_;
  std::filesystem::path folder_;
  pid_t host_ = 0;
};

}  // namespace sorvel::test
