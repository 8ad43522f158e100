// A new program that dies of a fault as it starts, for the updater's roll-back: it carries the
// new version, so every check before its start passes.
#include <csignal>

int main() {
  std::signal(SIGSEGV, SIG_DFL);
  std::raise(SIGSEGV);
  return 1;
}
