// A new program that dies of a fault as it starts, for the updater's roll-back: it carries the
// new version, so every check before its start passes.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // The store is volatile: the optimiser drops a plain store through a null pointer.
  volatile int* volatile nowhere = nullptr;
  *nowhere = 1;
  return 1;
}
