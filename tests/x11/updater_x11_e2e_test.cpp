// The native updater end to end on a display of its own: sorvel-update, copied into a folder
// beside an installed "sorvel" and a "Download.ini" (or the host's settings naming a signed
// manifest), downloads from a loopback HTTPS server, puts the served program in place of the
// installed one, starts it and tells so once it has come up; or refuses, tells so and leaves the
// installed program as it was, byte for byte.
// GoogleTest before Xlib, whose macros (None, Bool) would rename its identifiers.
#include <gtest/gtest.h>
// clang-format off
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
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

#include "platform/posix/posix_files.h"
#include "tests/e2e/http_server.h"
#include "tests/support/sha256_hex.h"
#include "tests/support/test_signer.h"
#include "tests/support/x11_tree.h"
#include "update/program_version.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Body = TestHttpServer::Body;

std::string Narrow(const std::wstring& text) {
  return std::string(text.begin(), text.end());
}

// Past the test build's 20 s bound of a download in all.
constexpr int kTimeoutMs = 40000;
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

// "Download.ini" as the host writes it for `program` at `url`.
std::wstring Describe(const std::wstring& url, const std::string& program,
                      const std::wstring& version = L"1.0.2.0") {
  return L"[Download]\r\nDownName=" + url + L"\r\nMainName=sorvel\r\nSize=" +
         std::to_wstring(program.size()) + L"\r\nSha256=" + sorvel::Sha256Hex(program) +
         L"\r\nVersion=" + version + L"\r\n";
}

// A manifest offering `program` at `url` as `version`, UTF-16LE with a byte-order mark.
std::string ManifestFor(const std::wstring& url, const std::string& program,
                        const std::wstring& version = L"1.0.2.0") {
  return Utf16Le(L"\xFEFF[Update]\r\nVersion=" + version +
                 L"\r\nKind=automatic\r\n[Linux-x86_64]\r\nDownName=" + url + L"\r\nSize=" +
                 std::to_wstring(program.size()) + L"\r\nSha256=" + sorvel::Sha256Hex(program) +
                 L"\r\n");
}

// Whether any client owns the host's single-instance name: the new host has come up.
bool HostNameHeld(Display* display) {
  return XGetSelectionOwner(display, XInternAtom(display, "Sorvel3", False)) != 0;
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
  // `description`: the lines of "Download.ini"; none when empty. `checkUrl`: the host's settings
  // name it. `installed`: the installed program's file; a small script when null.
  explicit Installation(const std::wstring& description, const std::wstring& checkUrl = L"",
                        const char* installed = nullptr) {
    const char* temp = getenv("TMPDIR");
    std::string pattern =
        std::string(temp != nullptr && *temp != 0 ? temp : "/tmp") + "/sorvel-update-e2e.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) return;
    folder_ = pattern;
    fs::copy_file(SORVEL_UPDATE, Updater());
    fs::permissions(Updater(), static_cast<fs::perms>(0755));
    if (installed != nullptr) {
      fs::copy_file(installed, Target());
    } else {
      WriteBytes(Target(), kInstalled);
    }
    fs::permissions(Target(), static_cast<fs::perms>(0755));
    installed_ = ReadBytes(Target());
    if (!description.empty()) WriteBytes(folder_ / "Download.ini", Utf16Le(description));
    if (!checkUrl.empty()) {
      WriteBytes(folder_ / "sorvel.ini", Utf16Le(L"[Update]\r\nCheckUrl=" + checkUrl + L"\r\n"));
    }
  }
  ~Installation() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    EndProgramsStartedHere();
    std::error_code error;
    if (!folder_.empty()) fs::remove_all(folder_, error);
  }
  Installation(const Installation&) = delete;
  Installation& operator=(const Installation&) = delete;

  const std::string& Installed() const { return installed_; }
  fs::path Updater() const { return folder_ / "sorvel-update"; }
  fs::path Kept() const { return folder_ / "sorvel.old"; }
  fs::path Target() const { return folder_ / "sorvel"; }
  fs::path Temp() const { return folder_ / "im.exe"; }
  fs::path Marker() const { return folder_ / "started"; }

  // Starts the updater, or the installed host when `host`.
  bool Start(bool host = false) {
    const std::string program = (host ? Target() : Updater()).string();
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
  // The programs the updater started from this folder (the new host, or the old one again).
  void EndProgramsStartedHere() {
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator("/proc", error)) {
      fs::path exe = fs::read_symlink(entry.path() / "exe", error);
      if (error || exe.parent_path() != folder_) continue;
      const pid_t pid = static_cast<pid_t>(std::atoi(entry.path().filename().c_str()));
      if (pid > 0) kill(pid, SIGKILL);
    }
  }

  fs::path folder_;
  std::string installed_;
  pid_t pid_ = 0;
};

class UpdaterX11Test : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Ok());
    ASSERT_TRUE(server_.StartTls(TestHttpServer::Certificate::kTrusted));
    display_ = XOpenDisplay(nullptr);
    ASSERT_NE(display_, nullptr) << "no X display (run under scripts/lib/run-on-xvfb)";
    XSetErrorHandler(IgnoreErrors);
    served_ = ReadBytes(SORVEL_NEXT);
    ASSERT_GT(served_.size(), 64u);
    server_.Serve("/sorvel", Reply(200, served_));
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

  // Return pressed and released in `window`, as the keyboard would send it there.
  void PressReturn(Window window) {
    XEvent event{};
    event.xkey.display = display_;
    event.xkey.window = window;
    event.xkey.root = DefaultRootWindow(display_);
    event.xkey.same_screen = True;
    event.xkey.keycode = XKeysymToKeycode(display_, XK_Return);
    for (int type : {KeyPress, KeyRelease}) {
      event.xkey.type = type;
      XSendEvent(display_, window, True, type == KeyPress ? KeyPressMask : KeyReleaseMask, &event);
    }
    XFlush(display_);
  }

  TestHttpServer server_;
  Display* display_ = nullptr;
  std::string served_;  // the new host, 1.0.2.0
};

// The new host is in place, runnable and has come up before the updater says so.
TEST_F(UpdaterX11Test, ReplacesTheProgramStartsItThenTells) {
  Installation setup(Describe(server_.SecureUrl("/sorvel"), served_));
  ASSERT_TRUE(setup.Start());
  const Window box = WaitForMessageBox();
  ASSERT_NE(box, 0u);
  // Its dialog bears the updater's icon, 32 and 16 pixels: a white arrow down the middle.
  std::vector<sorvel::test::IconImage> icons = sorvel::test::Icons(
      display_, FindViewable(display_, DefaultRootWindow(display_), "Auto Downloader"));
  ASSERT_EQ(icons.size(), 2u);
  EXPECT_EQ(icons[0].width, 32u);
  EXPECT_EQ(icons[1].width, 16u);
  EXPECT_EQ(icons[0].Middle(), 0xFFFFFFFFu);
  EXPECT_TRUE(ReadBytes(setup.Target()) == served_);
  EXPECT_EQ(ModeOf(setup.Target()), 0755);
  EXPECT_EQ(ModeOf(setup.Temp()), -1);
  EXPECT_EQ(ModeOf(setup.Kept()), -1);
  EXPECT_TRUE(HostNameHeld(display_));
  Dismiss(box);
  EXPECT_EQ(setup.WaitForExit(), 0);
  EXPECT_EQ(server_.Requests("/sorvel"), 1);
}

// Whatever the signature does not vouch for leaves the installed program byte for byte, starts
// nothing, and shows the failure message.
TEST_F(UpdaterX11Test, RefusalsLeaveTheInstalledProgramAndStartNothing) {
  // The new host for another machine.
  std::string otherMachine = served_;
  ASSERT_EQ(otherMachine.compare(0, 4,
                                 "\x7F"
                                 "ELF"),
            0);
  otherMachine[18] = static_cast<char>(otherMachine[18] == 62 ? 183 : 62);
  otherMachine[19] = 0;
  server_.Serve("/other-machine", Reply(200, otherMachine));
  server_.Serve("/cut", Reply(200, served_.substr(0, served_.size() / 2), Body::kWithoutLength));
  server_.Serve("/trickle", Reply(200, served_, Body::kTrickle));
  server_.Serve("/to-http", Reply(302, "", Body::kWithLength, Narrow(server_.Url("/sorvel"))));
  ASSERT_TRUE(server_.StartTls(TestHttpServer::Certificate::kUnknownAuthority));
  // The manifest cases: the updater started without a description reads it itself.
  const std::string manifest = ManifestFor(server_.SecureUrl("/sorvel"), served_);
  std::string changed = manifest;
  changed[changed.size() - 4] ^= 1;
  const std::string older = ManifestFor(server_.SecureUrl("/sorvel"), served_, L"1.0.1.0");
  sorvel::test::P256KeyPair other;
  ASSERT_TRUE(sorvel::test::TestUpdateKey(&other));
  other.scalar[31] ^= 1;
  server_.Serve("/unsigned.ini", Reply(200, manifest));
  server_.Serve("/other-key.ini", Reply(200, manifest));
  server_.Serve("/other-key.ini.sig", Reply(200, sorvel::test::SignatureFile(manifest, &other)));
  server_.Serve("/changed.ini", Reply(200, changed));
  server_.Serve("/changed.ini.sig", Reply(200, sorvel::test::SignatureFile(manifest)));
  server_.Serve("/older.ini", Reply(200, older));
  server_.Serve("/older.ini.sig", Reply(200, sorvel::test::SignatureFile(older)));
  std::string otherHash = served_;
  otherHash.back() ^= 1;
  struct Case {
    const char* name;
    std::wstring description;
    std::wstring checkUrl;
    const char* installed;
  };
  const Case cases[] = {
      {"not found", Describe(server_.SecureUrl("/missing"), served_), L"", nullptr},
      {"other machine", Describe(server_.SecureUrl("/other-machine"), otherMachine), L"", nullptr},
      {"other hash", Describe(server_.SecureUrl("/sorvel"), otherHash), L"", nullptr},
      // A byte every 100 ms: past the test build's 20 s in all, long before its end.
      {"a body that trickles past the total time", Describe(server_.SecureUrl("/trickle"), served_),
       L"", nullptr},
      {"cut short without a length", Describe(server_.SecureUrl("/cut"), served_), L"", nullptr},
      {"redirect from https to http", Describe(server_.SecureUrl("/to-http"), served_), L"",
       nullptr},
      {"certificate of an unknown authority",
       Describe(server_.SecureUrl("/sorvel", TestHttpServer::Certificate::kUnknownAuthority),
                served_),
       L"", nullptr},
      {"unsigned manifest", L"", server_.SecureUrl("/unsigned.ini"), nullptr},
      {"manifest signed by another key", L"", server_.SecureUrl("/other-key.ini"), nullptr},
      {"manifest changed after signing", L"", server_.SecureUrl("/changed.ini"), nullptr},
      // The installed host is 1.0.1.1.
      {"replayed older manifest", L"", server_.SecureUrl("/older.ini"), SORVEL_HOST},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int downloads = server_.Requests("/sorvel");
    Installation setup(c.description, c.checkUrl, c.installed);
    ASSERT_TRUE(setup.Start());
    const Window box = WaitForMessageBox();
    ASSERT_NE(box, 0u);
    Dismiss(box);
    EXPECT_EQ(setup.WaitForExit(), 0);
    EXPECT_TRUE(ReadBytes(setup.Target()) == setup.Installed());
    EXPECT_EQ(ModeOf(setup.Target()), 0755);
    // What came is not made a program, and nothing was started.
    EXPECT_EQ(ModeOf(setup.Temp()) == -1 ? 0 : ModeOf(setup.Temp()) & 0111, 0);
    EXPECT_EQ(ModeOf(setup.Marker()), -1);
    EXPECT_FALSE(HostNameHeld(display_));
    if (c.description.empty()) {
      EXPECT_EQ(server_.Requests("/sorvel"), downloads) << "nothing is downloaded";
    }
  }
  // Only "other hash" reached it: the redirect was not followed, the unknown authority refused.
  EXPECT_EQ(server_.Requests("/sorvel"), 1);
}

// Every viewable window titled `title`, at any depth.
void FindAllViewable(Display* display, Window parent, const std::string& title,
                     std::vector<Window>* found) {
  Window root = 0, ofParent = 0;
  Window* children = nullptr;
  unsigned count = 0;
  if (XQueryTree(display, parent, &root, &ofParent, &children, &count) == 0) return;
  for (unsigned i = 0; i < count; ++i) {
    char* name = nullptr;
    XWindowAttributes attributes;
    if (XFetchName(display, children[i], &name) != 0 && name != nullptr) {
      if (title == name && XGetWindowAttributes(display, children[i], &attributes) != 0 &&
          attributes.map_state == IsViewable) {
        found->push_back(children[i]);
      }
      XFree(name);
    }
    FindAllViewable(display, children[i], title, found);
  }
  if (children != nullptr) XFree(children);
}

// The whole road: the installed host reads the signed manifest, asks, and on Yes hands over to
// the updater, which brings up the new host in its place.
TEST_F(UpdaterX11Test, TheHostsNoticeLeadsToTheNewHost) {
  const std::string manifest = ManifestFor(server_.SecureUrl("/sorvel"), served_);
  server_.Serve("/Sorvel.ini", Reply(200, manifest));
  server_.Serve("/Sorvel.ini.sig", Reply(200, sorvel::test::SignatureFile(manifest)));
  Installation setup(L"", server_.SecureUrl("/Sorvel.ini"), SORVEL_HOST);
  ASSERT_TRUE(setup.Start(true));
  // The question: the host's second window titled "Sorvel", beside its dialog. Return answers
  // it with its default button, Yes.
  Window question = 0;
  ASSERT_TRUE(WaitUntil([&] {
    std::vector<Window> found;
    FindAllViewable(display_, DefaultRootWindow(display_), "Sorvel", &found);
    if (found.size() < 2) return false;
    XWindowAttributes a{}, b{};
    XGetWindowAttributes(display_, found[0], &a);
    XGetWindowAttributes(display_, found[1], &b);
    question = a.width * a.height < b.width * b.height ? found[0] : found[1];
    return true;
  })) << "no notice";
  PressReturn(question);
  EXPECT_NE(setup.WaitForExit(), -1) << "the old host ends";
  const Window box = WaitForMessageBox();
  ASSERT_NE(box, 0u);
  EXPECT_TRUE(ReadBytes(setup.Target()) == served_);
  EXPECT_TRUE(HostNameHeld(display_));
  sorvel::PosixFileSystem files("", false);
  std::uint32_t ms = 0, ls = 0;
  ASSERT_TRUE(
      sorvel::ReadElfFileVersion(files, sorvel::FromUtf8(setup.Target().string()), &ms, &ls));
  EXPECT_EQ(ms, 0x00010000u);
  EXPECT_EQ(ls, 0x00020000u);
  Dismiss(box);
}

// A new program that dies as it starts is replaced by the old one, byte for byte, which runs
// again.
TEST_F(UpdaterX11Test, ANewProgramThatCrashesAtStartIsRolledBack) {
  const std::string crashing = ReadBytes(SORVEL_CRASHING);
  ASSERT_FALSE(crashing.empty());
  server_.Serve("/crashing", Reply(200, crashing));
  Installation setup(Describe(server_.SecureUrl("/crashing"), crashing), L"", SORVEL_MARKER);
  ASSERT_TRUE(setup.Start());
  const Window box = WaitForMessageBox();
  ASSERT_NE(box, 0u);
  EXPECT_TRUE(ReadBytes(setup.Target()) == setup.Installed());
  EXPECT_EQ(ModeOf(setup.Kept()), -1);
  EXPECT_TRUE(WaitUntil([&] { return ModeOf(setup.Marker()) != -1; })) << "the old one ran again";
  Dismiss(box);
  EXPECT_EQ(setup.WaitForExit(), 0);
}

}  // namespace
