#include "host/version_dlg.h"

#include <functional>
#include <vector>

#include "tests/unit/host_fixture.h"

namespace sorvel {
namespace {

constexpr int kOkButton = 26641;
constexpr int kVersionLine = 21039;
constexpr int kDownloadLine = 21040;
constexpr int kPhoneLine = 21041;
constexpr int kThreeWay = 1013;
constexpr int kTwoWay = 1014;
constexpr char16_t kSettingsFile[] = u"\\Program Files\\Sorvel\\Sorvel.ini";
constexpr char16_t kModule[] = u"\\Program Files\\Sorvel\\Sorvel.exe";

TEST(FileVersionTest, FormatsFourUnsignedSixteenBitParts) {
  struct Case {
    std::uint32_t ms, ls;
    const char16_t* text;
  };
  const Case cases[] = {
      {0x00010000, 0x00010001, u"1.0.1.1"},
      {0x00010002, 0x00030004, u"1.2.3.4"},
      {0xFFFFFFFF, 0xFFFFFFFF, u"65535.65535.65535.65535"},
      {0x8000FFFF, 0x00008000, u"32768.65535.0.32768"},
      {0, 0, u"0.0.0.0"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatFileVersion(c.ms, c.ls), c.text) << std::hex << c.ms << " " << c.ls;
  }
}

class VersionDlgTest : public HostTest {
 protected:
  VersionDlgTest() { SettingsPath = kSettingsFile; }

  Text ItemText(HWND dialog, int id) {
    return device_.GetWindowText(device_.GetDlgItem(dialog, id));
  }
  bool Checked(HWND dialog, int id) { return device_.IsDlgButtonChecked(dialog, id); }

  // Runs the dialog modally; each idle step runs the next action on its window.
  int Run(std::vector<std::function<void(HWND dialog)>> actions) {
    CVersionDlg dialog(device_, nullptr);
    std::size_t step = 0;
    device_.SetIdleScript([&](SimDevice&) {
      if (step == actions.size()) return false;
      actions[step++](dialog.GetSafeHwnd());
      return true;
    });
    int result = dialog.DoModal();
    device_.SetIdleScript(nullptr);
    EXPECT_EQ(step, actions.size()) << "the dialog ended early";
    EXPECT_FALSE(device_.ModalLoopStalled()) << "the dialog did not end";
    return result;
  }
  std::function<void(HWND)> Tap(int id) {
    return [=](HWND dialog) { device_.Click(device_.GetDlgItem(dialog, id)); };
  }
};

TEST_F(VersionDlgTest, OpensCentredAtTemplateSizeWithItsLines) {
  device_.SetFileVersion(kModule, 0x00010000, 0x00010001);
  CVersionDlg dialog(device_, nullptr);
  HWND hwnd = dialog.Create();

  // 131 x 66 dialog units on a 240 x 320 screen.
  EXPECT_EQ(device_.GetWindowRect(hwnd), (Rect{22, 106, 22 + 196, 106 + 107}));
  EXPECT_EQ(ItemText(hwnd, kOkButton), u"확인");
  EXPECT_EQ(ItemText(hwnd, kVersionLine), u"버전: 1.0.1.1");
  EXPECT_EQ(ItemText(hwnd, kDownloadLine), u"다운로드: www.sorvel.example");
  EXPECT_EQ(ItemText(hwnd, kPhoneLine), u"대표번호 :000-0000-0000");
}

TEST_F(VersionDlgTest, NoVersionResourceLeavesTheLabelAlone) {
  device_.SetFileVersion(u"\\Windows\\other.exe", 0x00020000, 0);
  CVersionDlg dialog(device_, nullptr);
  HWND hwnd = dialog.Create();
  EXPECT_EQ(ItemText(hwnd, kVersionLine), u"버전: ");
}

// The stored mode selects a button and sets the flag; opening and closing writes nothing.
TEST_F(VersionDlgTest, StoredModeSelectsTheButtonAndNothingIsWritten) {
  struct Case {
    const char16_t* stored;  // null: no settings file
    bool three;
  };
  const Case cases[] = {
      {nullptr, true}, {u"", true},    {u"2", false}, {u"3", true},
      {u"5", true},    {u"abc", true}, {u"0", true},  {u" 2", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored == nullptr ? "absent" : ToUtf8(c.stored));
    files_.Remove(kSettingsFile);
    if (c.stored != nullptr) WriteSettingsFile(Text(u"PartionMode=") + c.stored + u"\r\n");
    const std::string before = files_.Bytes(kSettingsFile);
    ThreePaneMode = !c.three;
    bool three = false, two = false;
    int result = Run({[&](HWND dialog) {
      three = Checked(dialog, kThreeWay);
      two = Checked(dialog, kTwoWay);
      device_.Click(device_.GetDlgItem(dialog, kOkButton));
    }});
    EXPECT_EQ(result, kIdOk);
    EXPECT_EQ(ThreePaneMode, c.three);
    EXPECT_EQ(three, c.three);
    EXPECT_EQ(two, !c.three);
    EXPECT_EQ(files_.FileExists(kSettingsFile), c.stored != nullptr);
    EXPECT_EQ(files_.Bytes(kSettingsFile), before);
  }
}

TEST_F(VersionDlgTest, EachRadioTapWritesTheModeAndSetsTheFlag) {
  struct Seen {
    Text stored;
    bool flag;
    bool three, two;
  };
  std::vector<Seen> seen;
  auto look = [&](HWND dialog) {
    seen.push_back({ReadSetting(files_, kPartionMode), ThreePaneMode, Checked(dialog, kThreeWay),
                    Checked(dialog, kTwoWay)});
  };
  int result = Run({
      Tap(kThreeWay),
      look,
      Tap(kTwoWay),
      look,
      // The selected button tapped again writes again.
      [&](HWND dialog) {
        files_.Remove(kSettingsFile);
        ThreePaneMode = true;
        device_.Click(device_.GetDlgItem(dialog, kTwoWay));
      },
      look,
      Tap(kOkButton),
  });
  EXPECT_EQ(result, kIdOk);
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].stored, u"3");
  EXPECT_TRUE(seen[0].flag);
  EXPECT_TRUE(seen[0].three && !seen[0].two);
  EXPECT_EQ(seen[1].stored, u"2");
  EXPECT_FALSE(seen[1].flag);
  EXPECT_TRUE(!seen[1].three && seen[1].two);
  EXPECT_EQ(seen[2].stored, u"2");
  EXPECT_FALSE(seen[2].flag);
  EXPECT_EQ(ReadSetting(files_, kPartionMode), u"2");
  EXPECT_FALSE(ThreePaneMode);
}

TEST_F(VersionDlgTest, DownloadLineOpensTheWebSite) {
  struct Case {
    const char* name;
    bool browser;  // \Windows\iexplore.exe exists
    bool starts;
    const char16_t* executed;
  };
  const Case cases[] = {
      {"device browser", true, true, u"\\Windows\\iexplore.exe http://www.sorvel.example"},
      {"default browser", false, true, u"http://www.sorvel.example "},
      {"device browser fails", true, false, u"\\Windows\\iexplore.exe http://www.sorvel.example"},
      {"default browser fails", false, false, u"http://www.sorvel.example "},
  };
  std::size_t executes = 0, boxes = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.browser) {
      files_.SetBytes(u"\\Windows\\iexplore.exe", "MZ");
    } else {
      files_.Remove(u"\\Windows\\iexplore.exe");
    }
    device_.SetShellExecuteResult(c.starts);
    HWND owner = nullptr;
    // The dialog stays open after a failure; the OK button still ends it.
    int result = Run({Tap(kDownloadLine), [&](HWND dialog) {
                        owner = dialog;
                        device_.Click(device_.GetDlgItem(dialog, kOkButton));
                      }});
    EXPECT_EQ(result, kIdOk);
    EXPECT_EQ(files_.OpenFileCount(), 0u);
    ASSERT_EQ(device_.ShellExecutes().size(), ++executes);
    EXPECT_EQ(device_.ShellExecutes().back().first, owner);
    EXPECT_EQ(device_.ShellExecutes().back().second, c.executed);
    if (c.starts) {
      EXPECT_EQ(device_.MessageBoxes().size(), boxes);
      continue;
    }
    ASSERT_EQ(device_.MessageBoxes().size(), ++boxes);
    const SimMessageBox& box = device_.MessageBoxes().back();
    EXPECT_EQ(box.text, u" http://www.sorvel.example 에서 다시 받아 설치하세요.");
    EXPECT_EQ(box.caption, u"Sorvel");
    EXPECT_EQ(box.type, static_cast<unsigned>(kMbOk));
    EXPECT_EQ(box.owner, owner);
  }
}

}  // namespace
}  // namespace sorvel
