// The window-system checks against the native X11 backend on an X server of its own, with
// foreign windows of x11_probe processes; the same checks judge the simulated device and the
// win32 backend.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include "platform/x11/x11_platform.h"
#include "tests/conformance/window_system_checks.h"

extern char** environ;

namespace sorvel {
namespace {

namespace fs = std::filesystem;

class X11Environment : public conformance::Environment {
 public:
  X11Environment() : folder_(MakeFolder()) {}
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
  void Pump(unsigned milliseconds) override { platform_.Pump(milliseconds); }
  std::uint64_t Now() override {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
  }
  bool ReparentsWithoutTheProgram() const override { return true; }

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
    for (HWND w = platform_.GetTopWindow(); w != nullptr; w = platform_.GetWindow(w, kGwHwndNext)) {
      if (platform_.GetWindow(w, kGwOwner) == main && platform_.IsWindowVisible(w)) return true;
    }
    return false;
  }

  static inline int serial_ = 0;
  fs::path folder_;
  X11Platform platform_;
  std::string path_;
  std::vector<pid_t> started_;
  std::vector<Text> installed_;
  std::vector<std::thread> wakers_;
};

// icewm keeps a window's title bar on the screen, so a window given back above the screen's top
// edge does not stay there.
const char* Unsupported(const char* check) {
  const char* wm = std::getenv("SORVEL_X11_WM");
  if (std::string(check) == "ReparentingKeepsThePositionNumbers" && wm != nullptr &&
      std::string(wm) == "icewm") {
    return "icewm moves a window whose title bar would be off the screen";
  }
  return nullptr;
}

#define SORVEL_X11_TEST(name)                                      \
  TEST(X11WindowSystem, name) {                                    \
    if (const char* why = Unsupported(#name)) GTEST_SKIP() << why; \
    X11Environment environment;                                    \
    conformance::Check##name(environment);                         \
  }
SORVEL_WINDOW_SYSTEM_CHECKS(SORVEL_X11_TEST)

}  // namespace
}  // namespace sorvel
