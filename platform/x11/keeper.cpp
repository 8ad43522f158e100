#include "platform/x11/keeper.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>

#include "platform/x11/held_windows.h"

namespace sorvel::x11 {
namespace {

// Over a connection of its own: each window still recorded that exists goes back to its place.
void PutBack(const std::map<std::uint32_t, KeeperRecord>& held) {
  XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  // A lost connection ends the keeper at once: Xlib's own handler would exit, running the
  // holder's exit handlers in this copy of it.
  XSetIOErrorHandler([](Display*) -> int { _exit(0); });
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return;
  {
    X11Windows windows(display);
    HeldWindows putter(windows);
    for (const auto& [window, r] : held) {
      putter.PutBack(window, {r.frame[0], r.frame[1], r.frame[2], r.frame[3]},
                     {r.insets[0], r.insets[1], r.insets[2], r.insets[3]}, r.border);
    }
    XSync(display, False);
  }
  XCloseDisplay(display);
}

// The keeper's whole life. A session of its own, so that no terminal's signals reach it; no
// descriptor but its socket, so that it keeps nothing of the holder's open (a pipe a caller reads
// to its end, a lock).
[[noreturn]] void Keep(int socket) {
  setsid();
  if (chdir("/") != 0) {
    // Only keeps a folder from being unmounted meanwhile.
  }
  int null = open("/dev/null", O_RDWR);
  for (int fd = 0; fd < 3; ++fd) {
    if (null >= 0) dup2(null, fd);
  }
  if (socket != 3) dup2(socket, 3);
  close_range(4, ~0U, 0);
  // The holder's handlers (a termination signal's) are not the keeper's.
  for (int s = 1; s < NSIG; ++s) signal(s, SIG_DFL);
  signal(SIGPIPE, SIG_IGN);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);

  std::map<std::uint32_t, KeeperRecord> held;
  for (;;) {
    KeeperRecord r;
    // MSG_TRUNC: the message's whole length, so that an oversized one is told apart.
    ssize_t n = recv(3, &r, sizeof r, MSG_TRUNC);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // the holder has ended
    if (static_cast<std::size_t>(n) != sizeof r || r.window == 0) continue;
    if (r.kind == KeeperRecord::kHeld) {
      held[r.window] = r;
    } else if (r.kind == KeeperRecord::kGivenBack) {
      held.erase(r.window);
    }
  }
  if (!held.empty()) {
    alarm(kKeeperSeconds);  // its default action ends the keeper wherever it waits
    PutBack(held);
  }
  _exit(0);
}

}  // namespace

bool Keeper::Started() {
  if (tried_) return socket_ >= 0;
  tried_ = true;
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) return false;
  // Forked once, and never waited for: the keeper ends only after the holder has (its socket
  // reaches its end then), so the holder never has a child to reap; the init process reaps it.
  // Forked only now, not at start: a process that shares its pages with a fork copies each it
  // writes.
  pid_t keeper = fork();
  if (keeper == 0) {
    close(pair[0]);
    Keep(pair[1]);
  }
  close(pair[1]);
  if (keeper < 0) {
    close(pair[0]);
    return false;
  }
  socket_ = pair[0];
  return true;
}

Keeper::~Keeper() {
  if (socket_ >= 0) close(socket_);
}

void Keeper::Send(const KeeperRecord& record) {
  if (send(socket_, &record, sizeof record, MSG_NOSIGNAL | MSG_DONTWAIT) < 0) {
    // The keeper is gone or behind: the save-set still gives the window back.
  }
}

void Keeper::Held(Window w, const Rect& frame, const Rect& insets, int border) {
  KeeperRecord r;
  r.kind = KeeperRecord::kHeld;
  r.window = static_cast<std::uint32_t>(w);
  const int f[4] = {frame.x, frame.y, frame.width, frame.height};
  const int i[4] = {insets.x, insets.y, insets.width, insets.height};
  for (int k = 0; k < 4; ++k) {
    r.frame[k] = f[k];
    r.insets[k] = i[k];
  }
  r.border = border;
  if (Started()) Send(r);
}

void Keeper::GivenBack(Window w) {
  if (socket_ < 0) return;  // nothing was recorded
  KeeperRecord r;
  r.kind = KeeperRecord::kGivenBack;
  r.window = static_cast<std::uint32_t>(w);
  Send(r);
}

}  // namespace sorvel::x11
