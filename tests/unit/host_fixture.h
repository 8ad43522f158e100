// The unit tests' fixtures: a simulated file system in a folder of its own; a simulated device on
// it with the host's process-wide state reset; the host's main dialog among other programs'
// windows. The test's thread only.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "host/main_dlg.h"
#include "host/pane_layout.h"
#include "host/resources.h"
#include "platform/framework.h"
#include "platform/sim/sim_device.h"
#include "platform/sim/sim_files.h"
#include "settings/settings.h"
#include "tests/support/utf16le.h"

namespace sorvel {

inline std::string MakeTempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "sorvel-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  return pattern;
}

// A simulated file system in a folder of its own, every file closed at the end.
class FilesTest : public ::testing::Test {
 protected:
  FilesTest() : root_(MakeTempFolder()), files_(root_) {}
  ~FilesTest() override { std::filesystem::remove_all(root_); }
  void TearDown() override { EXPECT_EQ(files_.OpenFileCount(), 0u) << "a call left a file open"; }

  std::string root_;
  SimFileSystem files_;
};

constexpr char16_t kHostProgram[] = u"\\Program Files\\Sorvel\\Sorvel.exe";
constexpr char16_t kSettingsFile[] = u"\\Program Files\\Sorvel\\Sorvel.ini";
// A SHA-256 as a manifest may give it, and as the host writes it.
constexpr char16_t kHash[] = u"00112233445566778899aabbccddeeff00112233445566778899AABBCCDDEEFF";
constexpr char16_t kLowerHash[] =
    u"00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";

class HostTest : public FilesTest {
 protected:
  HostTest() : device_(files_) {
    SettingsPath.clear();
    ThreePaneMode = true;
    PickedWindowTitle.clear();
    PickedProgramPath.clear();
    files_.CreateFolder(u"\\Program Files\\Sorvel");
  }

  // Writes the settings file beside the program, UTF-16LE, one "key=value" line each.
  void WriteSettingsFile(const std::u16string& body) {
    files_.SetBytes(kSettingsFile, Utf16LeBytes(u"[Setting]\r\n" + body));
  }

  using Action = std::function<void(HWND dialog)>;
  // Runs `dialog` modally; each idle step runs the next action on its window. The last action
  // is to end the run.
  int RunModal(CDialog& dialog, const std::vector<Action>& actions) {
    std::size_t step = 0;
    device_.SetIdleScript([&](SimDevice&) {
      if (step == actions.size()) return false;
      actions[step++](dialog.GetSafeHwnd());
      return true;
    });
    int result = dialog.DoModal();
    device_.SetIdleScript(nullptr);
    EXPECT_EQ(step, actions.size()) << "the run ended before its last action";
    EXPECT_FALSE(device_.ModalLoopStalled()) << "the last action did not end the run";
    return result;
  }
  template <typename Dialog>
  int RunModal(const std::vector<Action>& actions) {
    Dialog dialog(device_, nullptr);
    return RunModal(dialog, actions);
  }
  Action Tap(int id) {
    return [this, id](HWND dialog) { device_.Click(device_.GetDlgItem(dialog, id)); };
  }
  Action Post(unsigned command) {
    return [this, command](HWND dialog) { device_.PostCommand(dialog, command); };
  }

  // The last message box shown, of `count` in all (0: any number).
  void ExpectLastBox(const Text& text, std::size_t count = 0, const Text& caption = u"Sorvel",
                     MessageBoxButtons buttons = MessageBoxButtons::kOk) {
    const std::vector<SimMessageBox>& boxes = device_.MessageBoxes();
    ASSERT_FALSE(boxes.empty());
    if (count != 0) {
      EXPECT_EQ(boxes.size(), count);
    }
    EXPECT_EQ(boxes.back().text, text);
    EXPECT_EQ(boxes.back().caption, caption);
    EXPECT_EQ(boxes.back().buttons, buttons);
  }

  SimDevice device_;
};

constexpr char16_t kEmptyPaneLabel[] = u"마지막 작동 파일명:";
constexpr std::uint32_t kOverlappedVisible = 0x10CF0000;  // WS_OVERLAPPEDWINDOW | WS_VISIBLE
constexpr Rect kFormerRect{30, 40, 200, 250};

// The host's main dialog `dialog_` (its window `hwnd_` once opened) among other programs.
class MainDlgTest : public HostTest {
 protected:
  void Open() {
    hwnd_ = dialog_.Create();
    ASSERT_NE(hwnd_, nullptr);
  }
  HWND Item(int id) { return device_.GetDlgItem(hwnd_, id); }
  Text ItemText(int id) { return device_.GetWindowText(Item(id)); }
  bool Visible(int id) { return device_.HasWindowTrait(Item(id), WindowTrait::kVisible); }
  // Where a control stands in the dialog's client area.
  Placement Where(int id) {
    Rect screen = device_.GetWindowRect(Item(id)), outer = device_.GetWindowRect(hwnd_);
    const SimWindow& d = device_.Window(hwnd_);
    return {screen.left - outer.left - d.insets.left, screen.top - outer.top - d.insets.top,
            screen.Width(), screen.Height()};
  }
  // A pane's controls in the band from `top` to `next`: the display fills it but for a line, A
  // sits at its bottom right, the small buttons in a row at its top, or bottom when expanded.
  void ExpectBand(const PaneControls& ids, int top, int next, bool expanded = false) {
    const Rect a = device_.GetClientRect(Item(ids.buttonA));
    const Rect small = device_.GetClientRect(Item(ids.buttonUp));
    const int sw = small.right, sh = small.bottom, y = expanded ? next - sh - 1 : top;
    EXPECT_EQ(Where(ids.display), (Placement{0, top, 240, next - top - 1}));
    EXPECT_EQ(Where(ids.buttonA),
              (Placement{240 - a.right, next - a.bottom - 1, a.right, a.bottom}));
    EXPECT_EQ(Where(ids.buttonUp), (Placement{0, y, sw, sh}));
    EXPECT_EQ(Where(ids.buttonDown), (Placement{sw + 1, y, sw, sh}));
    EXPECT_EQ(Where(ids.buttonToggle), (Placement{2 * (sw + 1), y, sw, sh}));
  }
  Text Setting(int index) { return ReadSetting(files_, index); }
  // The user taps a control, or a command comes, and its handler runs.
  void Click(int id) {
    device_.Click(Item(id));
    device_.PumpMessages();
  }
  void Command(unsigned id, unsigned code = kBnClicked) {
    device_.PostCommand(hwnd_, id, code);
    device_.PumpMessages();
  }

  // A program (its process `pid_`) with one main window titled `title` at `rect`.
  HWND Start(const Text& title, const Text& path = u"\\Windows\\notes.exe",
             const Rect& rect = kFormerRect) {
    pid_ = device_.StartForeignProcess(path);
    return device_.CreateForeignWindow(pid_, u"Notes", title, kOverlappedVisible, rect);
  }
  // The next window picker ends with OK but no new choice, the earlier choice standing (null);
  // is closed (""); or is answered with a double tap on `title`.
  void AnswerPicker(const char16_t* title = nullptr) {
    device_.SetIdleScript(
        [ok = title == nullptr, title = Text(title != nullptr ? title : u"")](SimDevice& device) {
          HWND picker = device.FindWindow(kPortableDialogClass, u"Dialog");
          if (picker == nullptr) return false;
          HWND list = device.GetDlgItem(picker, kIdPickerList);
          const std::vector<Text>& items = device.Window(list).items;
          auto at = std::find(items.begin(), items.end(), title);
          if (ok) {
            device.PostCommand(picker, kIdOk);
          } else if (title.empty()) {
            device.Click(device.GetDlgItem(picker, kIdPickerClose));
          } else if (at != items.end()) {
            device.SelectListItem(list, static_cast<int>(at - items.begin()), true);
          } else {
            return false;
          }
          return true;
        });
  }
  void PickInto(int buttonA, const char16_t* title) {
    AnswerPicker(title);
    Click(buttonA);
  }
  // The pane shows that it holds `window`: the window is its display's child, its button C.
  bool Holds(int pane, HWND window) {
    return device_.GetParent(window) == Item(kPaneControls[pane].display) &&
           ItemText(kPaneControls[pane].buttonA) == u"C";
  }
  // The window is back on the desktop at `rect` with its frame, its input parted from the host's.
  void ExpectGivenBack(HWND window, const Rect& rect = kFormerRect) {
    EXPECT_EQ(device_.GetParent(window), nullptr);
    EXPECT_EQ(device_.GetWindowRect(window), rect);
    EXPECT_EQ(device_.Window(window).style, kOverlappedVisible) << "the frame comes back";
    EXPECT_FALSE(device_.InputShared(window)) << "its input parted from the host's";
  }

  CMainDlg dialog_{device_, nullptr};
  HWND hwnd_ = nullptr;
  int pid_ = 0;
};

}  // namespace sorvel
