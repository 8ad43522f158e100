// The version dialog: its lines, the split choice and the way to the web site.
#include "host/version_dlg.h"

#include "tests/unit/host_fixture.h"
#include "update/version.h"

namespace sorvel {
namespace {

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
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatFileVersion(MakeFileVersion(c.ms, c.ls)), c.text)
        << std::hex << c.ms << " " << c.ls;
  }
}

class VersionDlgTest : public HostTest {
 protected:
  VersionDlgTest() { SettingsPath = kSettingsFile; }

  Text ItemText(HWND dialog, int id) {
    return device_.GetWindowText(device_.GetDlgItem(dialog, id));
  }
  bool Checked(HWND dialog, int id) {
    return device_.Window(device_.GetDlgItem(dialog, id)).checked;
  }

  int Run(const std::vector<Action>& actions) {
    CVersionDlg dialog(device_, nullptr);
    return RunModal(dialog, actions);
  }
};

// Centred at its template size; the version line tells the program's own version, or nothing
// when it has none.
TEST_F(VersionDlgTest, OpensCentredAtTemplateSizeWithTheProgramsVersion) {
  device_.SetFileVersion(u"\\Windows\\other.exe", 0x0002'0000'0000'0000);
  for (const auto& [versioned, line] : {std::pair{false, u"버전: "}, {true, u"버전: 1.0.1.1"}}) {
    if (versioned) device_.SetFileVersion(kModule, 0x0001'0000'0001'0001);
    CVersionDlg dialog(device_, nullptr);
    HWND hwnd = dialog.Create();
    // 131 x 66 dialog units on a 240 x 320 screen.
    EXPECT_EQ(device_.GetWindowRect(hwnd), (Rect{22, 106, 22 + 196, 106 + 107}));
    EXPECT_EQ(ItemText(hwnd, kIdVersionOk), u"확인");
    EXPECT_EQ(ItemText(hwnd, kIdVersionLine), line) << (versioned ? "versioned" : "no version");
  }
}

// The stored mode selects a button and sets the flag; opening and closing writes nothing.
// (The reading of every other value is the settings' own, tested with them.)
TEST_F(VersionDlgTest, StoredModeSelectsTheButtonAndNothingIsWritten) {
  struct Case {
    const char16_t* stored;  // null: no settings file
    bool three;
  };
  const Case cases[] = {{nullptr, true}, {u"2", false}, {u"abc", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored == nullptr ? "absent" : ToUtf8(c.stored));
    files_.Remove(kSettingsFile);
    if (c.stored != nullptr) WriteSettingsFile(Text(u"PartionMode=") + c.stored + u"\r\n");
    const std::string before = files_.Bytes(kSettingsFile);
    ThreePaneMode = !c.three;
    bool three = false, two = false;
    int result = Run({[&](HWND dialog) {
      three = Checked(dialog, kIdThreeWay);
      two = Checked(dialog, kIdTwoWay);
      device_.Click(device_.GetDlgItem(dialog, kIdVersionOk));
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
  struct Step {
    int tap;
    const char16_t* stored;
    bool three;
  };
  // The selected button tapped again writes again.
  const Step steps[] = {
      {kIdThreeWay, u"3", true}, {kIdTwoWay, u"2", false}, {kIdTwoWay, u"2", false}};
  std::vector<Action> actions;
  for (const Step& step : steps) {
    actions.push_back([&](HWND dialog) {
      files_.Remove(kSettingsFile);
      ThreePaneMode = !step.three;
      device_.Click(device_.GetDlgItem(dialog, step.tap));
    });
    actions.push_back([&](HWND dialog) {
      EXPECT_EQ(ReadSetting(files_, kPartionMode), step.stored);
      EXPECT_EQ(ThreePaneMode, step.three);
      EXPECT_EQ(Checked(dialog, kIdThreeWay), step.three);
      EXPECT_EQ(Checked(dialog, kIdTwoWay), !step.three);
    });
  }
  actions.push_back(Tap(kIdVersionOk));
  EXPECT_EQ(Run(actions), kIdOk);
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
    int result = Run({Tap(kIdDownloadLine), [&](HWND dialog) {
                        owner = dialog;
                        device_.Click(device_.GetDlgItem(dialog, kIdVersionOk));
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
    ExpectLastBox(u" http://www.sorvel.example 에서 다시 받아 설치하세요.", ++boxes);
    EXPECT_EQ(device_.MessageBoxes().back().owner, owner);
  }
}

}  // namespace
}  // namespace sorvel
