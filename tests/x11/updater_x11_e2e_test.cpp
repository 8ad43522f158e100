// The native updater end to end on a display of its own: sorvel-update, copied into a folder
// beside an installed "sorvel" and a "Download.ini", downloads from a loopback server, puts the
// served program in place of the installed one, tells so and starts it; or refuses, tells so and
// leaves the installed program as it was.
// GoogleTest before Xlib, whose macros (None, Bool) would rename its identifiers.
#include <gtest/gtest.h>
// clang-format off
#include <X11/Xlib.h>
#include <X11/Xutil.h>
// clang-format on
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/http_server.h"
#include "tests/support/sha256_hex.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int kTimeoutMs = 20000;
// The caption of the updater's message boxes, success and failure alike.
constexpr char kBoxCaption[] = "SorvelUpdate";
// The installed "sorvel": a program, and not the served one.
constexpr char kInstalled[] = "#!/bin/sh\nexit 0\n";

bool WaitUntil(const std::function<bool()>& done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kTimeoutMs);
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return done();
}

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// The permission bits; -1 when the file is not there.
int ModeOf(const fs::path& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? static_cast<int>(info.st_mode & 07777) : -1;
}

// The description file's lines as the updater reads them: UTF-16LE.
std::string Utf16Le(const std::wstring& text) {
  std::string bytes;
  for (wchar_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>((c >> 8) & 0xFF));
  }
  return bytes;
}

std::wstring Describe(const std::wstring& url, const std::wstring& extra = L"") {
  return L"[Download]\r\nDownName=" + url + L"\r\nMainName=sorvel\r\n" + extra;
}

// A window found while the tree changes may be gone by the time it is asked about.
int IgnoreErrors(Display*, XErrorEvent*) {
  return 0;
}

// A viewable window titled `title` under `parent`, at any depth (a window manager's frame holds
// the client); 0 when there is none.
Window FindViewable(Display* display, Window parent, const std::string& title) {
  Window root = 0, ofParent = 0;
  Window* children = nullptr;
  unsigned count = 0;
  if (XQueryTree(display, parent, &root, &ofParent, &children, &count) == 0) return 0;
  Window found = 0;
  for (unsigned i = 0; i < count && found == 0; ++i) {
    char* name = nullptr;
    XWindowAttributes attributes;
    if (XFetchName(display, children[i], &name) != 0 && name != nullptr) {
      if (title == name && XGetWindowAttributes(display, children[i], &attributes) != 0 &&
          attributes.map_state == IsViewable) {
        found = children[i];
      }
      XFree(name);
    }
    if (found == 0) found = FindViewable(display, children[i], title);
  }
  if (children != nullptr) XFree(children);
  return found;
}

// sorvel-update in a temporary folder of its own, beside the installed "sorvel".
class Installation {
 public:
  // `description`: the lines of "Download.ini"; none when empty.
  explicit Installation(const std::wstring& description) {
    const char* temp = getenv("TMPDIR");
    std::string pattern =
        std::string(temp != nullptr && *temp != 0 ? temp : "/tmp") + "/sorvel-update-e2e.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) return;
    folder_ = pattern;
    fs::copy_file(SORVEL_UPDATE, Updater());
    fs::permissions(Updater(), static_cast<fs::perms>(0755));
    WriteBytes(Target(), kInstalled);
    fs::permissions(Target(), static_cast<fs::perms>(0755));
    if (!description.empty()) WriteBytes(folder_ / "Download.ini", Utf16Le(description));
  }
  ~Installation() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    std::error_code error;
    if (!folder_.empty()) fs::remove_all(folder_, error);
  }
  Installation(const Installation&) = delete;
  Installation& operator=(const Installation&) = delete;

  fs::path Updater() const { return folder_ / "sorvel-update"; }
  fs::path Target() const { return folder_ / "sorvel"; }
  fs::path Temp() const { return folder_ / "im.exe"; }
  fs::path Marker() const { return folder_ / "started"; }

  bool Start() {
    const std::string program = Updater().string();
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    return !folder_.empty() && posix_spawn(&pid_, argv[0], nullptr, nullptr, argv, environ) == 0;
  }
  // The updater's exit status once it has ended; -1 when it did not end in time or failed.
  int WaitForExit() {
    int status = 0;
    const bool ended = WaitUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; });
    if (!ended) return -1;
    pid_ = 0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  fs::path folder_;
  pid_t pid_ = 0;
};

class UpdaterX11Test : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Ok());
    display_ = XOpenDisplay(nullptr);
    ASSERT_NE(display_, nullptr) << "no X display (run under scripts/lib/run-on-xvfb)";
    XSetErrorHandler(IgnoreErrors);
    served_ = ReadBytes(SORVEL_MARKER);
    ASSERT_GT(served_.size(), 64u);
  }
  void TearDown() override {
    if (display_ != nullptr) XCloseDisplay(display_);
  }

  Window WaitForMessageBox() {
    Window box = 0;
    WaitUntil([&] {
      box = FindViewable(display_, DefaultRootWindow(display_), kBoxCaption);
      return box != 0;
    });
    return box;
  }
  // Closes the box as its title bar's close button would; the box then counts as answered.
  void Dismiss(Window box) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = box;
    event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display_, box, False, NoEventMask, &event);
    XFlush(display_);
  }

  TestHttpServer server_;
  Display* display_ = nullptr;
  std::string served_;  // the marker program
};

TEST_F(UpdaterX11Test, ReplacesTheProgramThenTellsThenStartsIt) {
  server_.Serve("/sorvel", Reply(200, served_));
  Installation setup(
      Describe(server_.Url("/sorvel"), L"Sha256=" + sorvel::Sha256Hex(served_) + L"\r\n"));
  ASSERT_TRUE(setup.Start());
  const Window box = WaitForMessageBox();
  ASSERT_NE(box, 0u);
  // In place, whole and executable before the message; started only once it is answered.
  EXPECT_TRUE(ReadBytes(setup.Target()) == served_);
  EXPECT_EQ(ModeOf(setup.Target()), 0755);
  EXPECT_EQ(ModeOf(setup.Temp()), -1);
  EXPECT_EQ(ModeOf(setup.Marker()), -1);
  Dismiss(box);
  EXPECT_EQ(setup.WaitForExit(), 0);
  ASSERT_TRUE(WaitUntil([&] { return ModeOf(setup.Marker()) != -1; }));
  EXPECT_EQ(ReadBytes(setup.Marker()), setup.Target().string());
  EXPECT_EQ(server_.Requests("/sorvel"), 1);
}

TEST_F(UpdaterX11Test, RefusalsLeaveTheInstalledProgramAndStartNothing) {
  // The marker program for another machine.
  std::string otherMachine = served_;
  ASSERT_EQ(otherMachine.compare(0, 4,
                                 "\x7F"
                                 "ELF"),
            0);
  otherMachine[18] = static_cast<char>(otherMachine[18] == 62 ? 183 : 62);
  otherMachine[19] = 0;
  // The other kinds of file the check refuses are the unit tests' business; here, one refused
  // by the check, one by the hash and a failed download.
  server_.Serve("/other-machine", Reply(200, otherMachine));
  server_.Serve("/whole", Reply(200, served_));
  struct Case {
    const char* name;
    std::string path;
    const std::string* body;  // null: nothing comes
    std::wstring extra;
  };
  const Case cases[] = {
      {"not found", "/missing", nullptr, L""},
      {"other machine", "/other-machine", &otherMachine, L""},
      {"other hash", "/whole", &served_, L"Sha256=" + std::wstring(64, L'0') + L"\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Installation setup(Describe(server_.Url(c.path), c.extra));
    ASSERT_TRUE(setup.Start());
    const Window box = WaitForMessageBox();
    ASSERT_NE(box, 0u);
    EXPECT_TRUE(ReadBytes(setup.Target()) == kInstalled);
    Dismiss(box);
    EXPECT_EQ(setup.WaitForExit(), 0);
    EXPECT_TRUE(ReadBytes(setup.Target()) == kInstalled);
    EXPECT_EQ(ModeOf(setup.Target()), 0755);
    // What came is left as it came, and not made a program.
    if (c.body != nullptr) {
      EXPECT_TRUE(ReadBytes(setup.Temp()) == *c.body);
      EXPECT_EQ(ModeOf(setup.Temp()) & 0111, 0);
    } else {
      EXPECT_EQ(ModeOf(setup.Temp()), -1);
    }
    // Nothing was started: the updater starts the program, if at all, before it ends.
    EXPECT_EQ(ModeOf(setup.Marker()), -1);
    EXPECT_EQ(server_.Requests(c.path), 1);
  }
}

}  // namespace
