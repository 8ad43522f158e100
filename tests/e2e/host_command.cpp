// Gives the running host a command as its menu bar or one of its buttons would: posts
// WM_COMMAND with the id to the host's main dialog, or to its dialog of the given title.
// scripts/run uses it to show the host at work.
//
//   SorvelCommand <id> [title]   e.g. 32780 split start, 1008 pane 3's A (the picker),
//                                1007 Dialog (the picker's 닫기), 32775 exit
// Exits 0 once the command is posted, 1 when no such dialog shows within ten seconds.
// clang-format off
#include <windows.h>
// clang-format on

#include <cwchar>

#include "host/resources.h"

int wmain(int argc, wchar_t** argv) {
  unsigned long id = argc >= 2 ? std::wcstoul(argv[1], nullptr, 10) : 0;
  if (id == 0 || id > 0xFFFF || argc > 3) return 2;
  for (int i = 0; i < 100; ++i, Sleep(100)) {
    for (HWND found = nullptr; (found = FindWindowExW(nullptr, found, L"#32770", nullptr));) {
      wchar_t title[64] = {};
      GetWindowTextW(found, title, 64);
      // The main dialog is titled as the host and holds pane 1's display control.
      bool match = argc == 3
                       ? lstrcmpW(title, argv[2]) == 0
                       : GetDlgItem(found, sorvel::kIdDisplay1) != nullptr &&
                             (lstrcmpW(title, L"Sorvel") == 0 || lstrcmpW(title, L"Tavrin") == 0);
      if (match && IsWindowVisible(found)) return PostMessageW(found, WM_COMMAND, id, 0) ? 0 : 1;
    }
  }
  return 1;
}
