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

namespace {

struct Search {
  const wchar_t* title;  // null: the host's main dialog
  HWND found;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  wchar_t name[16] = {}, title[64] = {};
  GetClassNameW(window, name, 16);
  GetWindowTextW(window, title, 64);
  if (lstrcmpW(name, L"#32770") != 0 || !IsWindowVisible(window)) return TRUE;
  // The main dialog is titled as the host and holds pane 1's display control.
  bool match = search->title != nullptr
                   ? lstrcmpW(title, search->title) == 0
                   : GetDlgItem(window, sorvel::kIdDisplay1) != nullptr &&
                         (lstrcmpW(title, L"Sorvel") == 0 || lstrcmpW(title, L"Tavrin") == 0);
  if (!match) return TRUE;
  search->found = window;
  return FALSE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  unsigned long id = argc >= 2 ? std::wcstoul(argv[1], nullptr, 10) : 0;
  if (id == 0 || id > 0xFFFF || argc > 3) return 2;
  Search search{argc == 3 ? argv[2] : nullptr, nullptr};
  for (int i = 0; i < 100; ++i) {
    EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&search));
    if (search.found != nullptr) return PostMessageW(search.found, WM_COMMAND, id, 0) ? 0 : 1;
    Sleep(100);
  }
  return 1;
}
