// The host under Wine, measured side by side in one run: its start against an empty dialog
// program's; one capture and one release of a foreign window through the host's own main
// dialog, against the floor of the bare window calls they make on the same window (re-parent,
// style, move, input); split start of three remembered programs; and the parts a capture adds to
// that floor. Prints medians and ratios; asserts nothing about them, but fails when a window does
// not end where it should.
//
//   panes_bench [rounds]      (beside probe.exe, Sorvel.exe and empty_dialog.exe, in an X
//                              display; scripts/test runs it)
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/main_dlg.h"
#include "host/resources.h"
#include "host/top_level.h"
#include "platform/win32/win32.h"
#include "platform/win32/win32_platform.h"
#include "settings/settings.h"

namespace {

using namespace sorvel;
using win32::FromWide;
using win32::Wide;

constexpr int kPaneA[3] = {kIdButtonA1, kIdButtonA2, kIdButtonA3};
constexpr int kPaneDisplay[3] = {kIdDisplay1, kIdDisplay2, kIdDisplay3};

double Now() {
  LARGE_INTEGER count, frequency;
  QueryPerformanceCounter(&count);
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Dispatches this thread's messages for a while: the dialog's and the probes' answers.
void Pump(DWORD milliseconds) {
  DWORD end = GetTickCount() + milliseconds;
  do {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    Sleep(1);
  } while (GetTickCount() < end);
}

// A probe started under its own name, so that its window bears that title.
struct Probe {
  std::wstring title;
  PROCESS_INFORMATION process{};
  ::HWND window = nullptr;
  RECT rect{};
  LONG style = 0;

  ~Probe() {
    if (process.hProcess == nullptr) return;
    TerminateProcess(process.hProcess, 0);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
};

bool StartProbe(const std::wstring& folder, const std::wstring& title, Probe* probe) {
  wchar_t own[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, own, MAX_PATH);
  std::wstring source(own);
  source = source.substr(0, source.rfind(L'\\') + 1) + L"probe.exe";
  std::wstring path = folder + L"\\" + title + L".exe";
  if (!CopyFileW(source.c_str(), path.c_str(), FALSE)) return false;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  probe->title = title;
  if (!CreateProcessW(path.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &probe->process)) {
    return false;
  }
  // Found once shown: the style then holds WS_VISIBLE.
  for (int i = 0; i < 500 && probe->window == nullptr; ++i) {
    Pump(20);
    probe->window = FindWindowW(L"SorvelProbe", title.c_str());
    if (!IsWindowVisible(probe->window)) probe->window = nullptr;
  }
  if (probe->window == nullptr) return false;
  GetWindowRect(probe->window, &probe->rect);
  probe->style = GetWindowLongW(probe->window, GWL_STYLE);
  return true;
}

bool Holds(::HWND dialog, int pane, const Probe& probe) {
  return GetAncestor(probe.window, GA_PARENT) == GetDlgItem(dialog, kPaneDisplay[pane]);
}

bool IsBack(const Probe& probe) {
  RECT now{};
  GetWindowRect(probe.window, &now);
  return GetAncestor(probe.window, GA_PARENT) == GetDesktopWindow() &&
         EqualRect(&now, &probe.rect) && GetWindowLongW(probe.window, GWL_STYLE) == probe.style;
}

// The settings file naming the first `panes` probes as the remembered programs.
void Remember(const std::vector<std::unique_ptr<Probe>>& probes, int panes) {
  const int keys[3] = {kFileName1, kFileName2, kFileName3};
  Win32FileSystem files;
  for (int i = 0; i < 3; ++i) {
    WriteSetting(files, i < panes ? FromWide(probes[i]->title.c_str()) : Text(), keys[i]);
  }
}

struct Row {
  const char* name;
  std::vector<double> ms;
};

// The visible dialog of process `pid`, or null.
::HWND ShownDialogOf(DWORD pid) {
  struct Search {
    DWORD pid;
    ::HWND found;
  } search{pid, nullptr};
  EnumWindows(
      [](::HWND window, LPARAM data) -> BOOL {
        auto* search = reinterpret_cast<Search*>(data);
        DWORD owner = 0;
        wchar_t name[16] = {};
        GetWindowThreadProcessId(window, &owner);
        GetClassNameW(window, name, 16);
        if (owner != search->pid || !IsWindowVisible(window) || wcscmp(name, L"#32770") != 0) {
          return TRUE;
        }
        search->found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Starts `program` and waits until its dialog is visible: the milliseconds from the start and
// the dialog's size. Then ends it by `end`, a message to that dialog, and waits for the process
// to exit; false when it did not show within 10 s or did not end.
bool TimeStart(const std::wstring& program, const std::wstring& arguments, UINT end, WPARAM endWord,
               double* ms, SIZE* size) {
  std::wstring line = L"\"" + program + L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  const double start = Now();
  if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return false;
  }
  ::HWND dialog = nullptr;
  while ((dialog = ShownDialogOf(process.dwProcessId)) == nullptr && Now() - start < 10000) {
    Sleep(1);
  }
  *ms = Now() - start;
  RECT rect{};
  GetWindowRect(dialog, &rect);
  *size = {rect.right - rect.left, rect.bottom - rect.top};
  if (dialog != nullptr) PostMessageW(dialog, end, endWord, 0);
  bool ended = WaitForSingleObject(process.hProcess, 10000) == WAIT_OBJECT_0;
  if (!ended) TerminateProcess(process.hProcess, 1);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return dialog != nullptr && ended;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(3, std::atoi(argv[1])) : 15;

  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  std::wstring folder = std::wstring(temp) + L"sorvel-panes-bench";
  CreateDirectoryW(folder.c_str(), nullptr);

  // Start: the host, in the bench's folder with empty settings so that it starts no program,
  // against an empty dialog program of the host's dialog's size; each from its process's
  // creation to its dialog shown. A first round of each warms the caches.
  wchar_t own[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, own, MAX_PATH);
  const std::wstring bin = std::wstring(own).substr(0, std::wstring(own).rfind(L'\\') + 1);
  const std::wstring host = folder + L"\\Sorvel.exe";
  const std::wstring settings = folder + L"\\Sorvel.ini";
  if (!CopyFileW((bin + L"Sorvel.exe").c_str(), host.c_str(), FALSE)) {
    std::fprintf(stderr, "panes_bench: no Sorvel.exe beside me\n");
    return 1;
  }
  Row hostStart{"host start to dialog shown (empty settings)", {}};
  Row emptyStart{"empty dialog program start to dialog shown", {}};
  SIZE hostSize{}, emptySize{};
  for (int round = -1; round < rounds; ++round) {
    DeleteFileW(settings.c_str());
    CloseHandle(CreateFileW(settings.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    double ms = 0;
    if (!TimeStart(host, L"", WM_COMMAND, kIdExit, &ms, &hostSize)) {
      std::fprintf(stderr, "panes_bench: the host's dialog did not show or the host did not end\n");
      return 1;
    }
    if (round >= 0) hostStart.ms.push_back(ms);
    const std::wstring size = std::to_wstring(hostSize.cx) + L" " + std::to_wstring(hostSize.cy);
    if (!TimeStart(bin + L"empty_dialog.exe", size, WM_CLOSE, 0, &ms, &emptySize)) {
      std::fprintf(stderr, "panes_bench: the empty dialog did not show or did not end\n");
      return 1;
    }
    if (round >= 0) emptyStart.ms.push_back(ms);
  }

  std::vector<std::unique_ptr<Probe>> probes;
  for (const wchar_t* title : {L"bench_1", L"bench_2", L"bench_3"}) {
    probes.push_back(std::make_unique<Probe>());
    if (!StartProbe(folder, title, probes.back().get())) {
      std::fprintf(stderr, "panes_bench: probe %ls did not start (probe.exe beside me?)\n", title);
      return 1;
    }
  }
  const Probe& probe = *probes[0];

  Win32Platform platform;
  CMainDlg dialog(platform, nullptr);
  ::HWND hwnd = win32::W(dialog.Create());
  if (hwnd == nullptr) {
    std::fprintf(stderr, "panes_bench: no main dialog\n");
    return 1;
  }
  // The dialog's settings file: a fresh one in the bench's folder, not beside the bench.
  SettingsPath = FromWide((folder + L"\\Sorvel.ini").c_str());
  Pump(900);  // past the launch timer, which finds no program to start

  ::HWND display = GetDlgItem(hwnd, kPaneDisplay[0]);
  const DWORD probeThread = GetWindowThreadProcessId(probe.window, nullptr);
  RECT client{};
  GetClientRect(hwnd, &client);
  auto command = [&](WPARAM id) { SendMessageW(hwnd, WM_COMMAND, id, 0); };
  auto time = [](const std::function<void()>& work) {
    double start = Now();
    work();
    return Now() - start;
  };

  Row capture{"capture through the host (split start, 1 pane)", {}};
  Row captureFloor{"capture floor: re-parent, style, move, input", {}};
  Row release{"release through the host (A)", {}};
  Row releaseFloor{"release floor: input, style, move, re-parent", {}};
  Row splitThree{"split start of three remembered programs", {}};
  Row write{"  part: one settings write", {}};
  Row read{"  part: one settings read", {}};
  Row answer{"  part: the answer check", {}};
  Row scan{"  part: one top-level scan", {}};
  Row find{"  part: the look-up by title", {}};
  const char* failed = nullptr;  // the first step whose window did not end where it should
  auto check = [&](bool holds, const char* step) {
    if (!holds && failed == nullptr) failed = step;
  };

  // Every timed step starts from the same state: the dialog in front, messages answered.
  auto settle = [&] {
    SetForegroundWindow(hwnd);
    Pump(20);
  };
  for (int round = 0; round < rounds && failed == nullptr; ++round) {
    Remember(probes, 1);
    settle();
    capture.ms.push_back(time([&] { command(kIdSplitStart); }));
    check(Holds(hwnd, 0, probe), "capture through the host");
    settle();
    release.ms.push_back(time([&] { command(MAKEWPARAM(kPaneA[0], BN_CLICKED)); }));
    check(IsBack(probe), "release through the host");
    settle();

    captureFloor.ms.push_back(time([&] {
      SetParent(probe.window, display);
      SetWindowLongPtrW(probe.window, GWL_STYLE, WS_VISIBLE);
      MoveWindow(probe.window, 0, 0, client.right, client.bottom, TRUE);
      AttachThreadInput(GetCurrentThreadId(), probeThread, TRUE);
    }));
    check(GetAncestor(probe.window, GA_PARENT) == display, "capture floor");
    settle();
    const RECT& r = probe.rect;
    releaseFloor.ms.push_back(time([&] {
      AttachThreadInput(GetCurrentThreadId(), probeThread, FALSE);
      SetWindowLongPtrW(probe.window, GWL_STYLE, probe.style);
      MoveWindow(probe.window, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
      SetParent(probe.window, nullptr);
    }));
    check(IsBack(probe), "release floor");

    Remember(probes, 3);
    settle();
    splitThree.ms.push_back(time([&] { command(kIdSplitStart); }));
    for (int pane = 0; pane < 3; ++pane) check(Holds(hwnd, pane, *probes[pane]), "split start");
    for (int pane = 0; pane < 3; ++pane) command(MAKEWPARAM(kPaneA[pane], BN_CLICKED));
    for (const auto& each : probes) check(IsBack(*each), "release of three");
    Pump(20);

    FileSystem& files = platform.Files();
    write.ms.push_back(time([&] { WriteSetting(files, u"bench_1", kFileName1); }));
    read.ms.push_back(time([&] { ReadSetting(files, kFileName1); }));
    sorvel::HWND window = win32::P(probe.window);
    answer.ms.push_back(time([&] { platform.IsWindowResponding(window, 1000); }));
    scan.ms.push_back(time([&] {
      Text title;
      for (sorvel::HWND each : platform.TopLevelWindows(kScanLimit)) {
        IsProgramMainWindow(platform, each, &title);
      }
    }));
    find.ms.push_back(time([&] {
      sorvel::HWND main = platform.FindWindow(nullptr, u"bench_1");
      for (sorvel::HWND each : platform.TopLevelWindows(SIZE_MAX)) {
        if (platform.GetClassName(each) == kPortableDialogClass &&
            platform.GetWindowText(each).empty() && platform.GetOwner(each) == main) {
          break;
        }
      }
      platform.FindWindow(kPortableDialogClass, u"Dialog");
    }));
  }
  dialog.DestroyWindow();
  if (failed != nullptr) {
    std::fprintf(stderr, "panes_bench: %s: a window did not end where it should\n", failed);
    return 1;
  }

  std::printf("panes benchmark: %d rounds, medians, %d top-level windows\n", rounds,
              static_cast<int>(platform.TopLevelWindows(SIZE_MAX).size()));
  auto print = [](const Row& row, const Row* floor) {
    std::printf("  %-50s %7.2f ms", row.name, Median(row.ms));
    if (floor != nullptr) std::printf("   %5.2fx its floor", Median(row.ms) / Median(floor->ms));
    std::printf("\n");
  };
  const double startRatio = Median(hostStart.ms) / Median(emptyStart.ms);
  std::printf("  %-50s %7.2f ms   %5.2fx the empty dialog program\n", hostStart.name,
              Median(hostStart.ms), startRatio);
  print(emptyStart, nullptr);
  std::printf("  (dialogs of %ldx%ld and %ldx%ld pixels)\n", hostSize.cx, hostSize.cy, emptySize.cx,
              emptySize.cy);
  print(capture, &captureFloor);
  print(captureFloor, nullptr);
  print(release, &releaseFloor);
  print(releaseFloor, nullptr);
  print(splitThree, nullptr);
  for (const Row* part : {&write, &read, &answer, &scan, &find}) print(*part, nullptr);
  std::printf(
      "  aims: start within 1.2x the empty dialog program: %s; capture within 1.5x its floor "
      "and under 20 ms: %s; split start of three under 100 ms: %s\n",
      startRatio <= 1.2 ? "met" : "missed",
      Median(capture.ms) <= 1.5 * Median(captureFloor.ms) && Median(capture.ms) < 20.0 ? "met"
                                                                                       : "missed",
      Median(splitThree.ms) < 100.0 ? "met" : "missed");
  return 0;
}
