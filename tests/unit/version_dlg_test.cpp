// The version dialog: its lines, the split choice and the way to the web site.
#include "host/version_dlg.h"

#include "tests/unit/host_fixture.h"

namespace sorvel {
namespace {

class VersionDlgTest : public HostTest {
 protected:
  VersionDlgTest() { SettingsPath = kSettingsFile; }
  // The split buttons show the mode the flag holds.
  void ExpectMode(HWND dialog, bool three) {
    EXPECT_EQ(ThreePaneMode, three);
    EXPECT_EQ(device_.Window(device_.GetDlgItem(dialog, kIdThreeWay)).checked, three);
    EXPECT_EQ(device_.Window(device_.GetDlgItem(dialog, kIdTwoWay)).checked, !three);
  }
};

// Centred at its template size; the version line tells the program's own version, four unsigned
// 16-bit parts, or nothing when it has none.
TEST_F(VersionDlgTest, OpensCentredAtTemplateSizeWithTheProgramsVersion) {
  device_.SetFileVersion(u"\\Windows\\other.exe", 0x0002'0000'0000'0000);
  const std::pair<std::uint64_t, const char16_t*> cases[] = {
      {0, u"버전: "},
      {0x0001'0000'0001'0001, u"버전: 1.0.1.1"},
      {0x0001'0002'0003'0004, u"버전: 1.2.3.4"},
      {0xFFFF'FFFF'FFFF'FFFF, u"버전: 65535.65535.65535.65535"},
      {0x8000'FFFF'0000'8000, u"버전: 32768.65535.0.32768"},
  };
  for (const auto& [version, line] : cases) {
    if (version != 0) device_.SetFileVersion(kHostProgram, version);
    CVersionDlg dialog(device_, nullptr);
    HWND hwnd = dialog.Create();
    // 131 x 66 dialog units on a 240 x 320 screen.
    EXPECT_EQ(device_.GetWindowRect(hwnd), (Rect{22, 106, 22 + 196, 106 + 107}));
    EXPECT_EQ(device_.GetWindowText(device_.GetDlgItem(hwnd, kIdVersionOk)), u"확인");
    EXPECT_EQ(device_.GetWindowText(device_.GetDlgItem(hwnd, kIdVersionLine)), line);
  }
}

// The stored mode selects a button and sets the flag; each tap, on the selected button too,
// writes the mode and sets the flag; opening and closing write nothing. (The reading of every
// other value is the settings' own, tested with them.)
TEST_F(VersionDlgTest, StoredModeSelectsTheButtonAndEachTapWritesTheMode) {
  const std::pair<const char16_t*, bool> stored[] = {
      {nullptr, true}, {u"2", false}, {u"abc", true}};
  const std::pair<int, bool> taps[] = {{kIdThreeWay, true}, {kIdTwoWay, false}, {kIdTwoWay, false}};
  for (const auto& [mode, three] : stored) {
    SCOPED_TRACE(mode == nullptr ? "absent" : ToUtf8(mode));
    files_.Remove(kSettingsFile);
    if (mode != nullptr) WriteSettingsFile(Text(u"PartionMode=") + mode + u"\r\n");
    const std::string before = files_.Bytes(kSettingsFile);
    ThreePaneMode = !three;
    std::vector<Action> actions = {[&, three = three](HWND dialog) {
      ExpectMode(dialog, three);
      EXPECT_EQ(files_.Bytes(kSettingsFile), before);
    }};
    for (const auto& [tap, threeWay] : taps) {
      actions.push_back([&, tap = tap, threeWay = threeWay](HWND dialog) {
        files_.Remove(kSettingsFile);
        ThreePaneMode = !threeWay;
        device_.Click(device_.GetDlgItem(dialog, tap));
      });
      actions.push_back([&, threeWay = threeWay](HWND dialog) {
        EXPECT_EQ(ReadSetting(files_, kPartionMode), threeWay ? u"3" : u"2");
        ExpectMode(dialog, threeWay);
        files_.Remove(kSettingsFile);
      });
    }
    actions.push_back(Tap(kIdVersionOk));
    EXPECT_EQ(RunModal<CVersionDlg>(actions), kIdOk);
    EXPECT_FALSE(files_.FileExists(kSettingsFile));
  }
}

// The device's browser where there is one, else the default one; the dialog stays open after a
// failure, which is told, and the OK button still ends it.
TEST_F(VersionDlgTest, DownloadLineOpensTheWebSite) {
  std::size_t executes = 0, boxes = 0;
  for (bool browser : {true, false}) {
    for (bool starts : {true, false}) {
      SCOPED_TRACE(::testing::Message()
                   << (browser ? "device" : "default") << " browser" << (starts ? "" : " fails"));
      files_.Remove(u"\\Windows\\iexplore.exe");
      if (browser) files_.SetBytes(u"\\Windows\\iexplore.exe", "MZ");
      device_.SetShellExecuteResult(starts);
      HWND owner = nullptr;
      int result = RunModal<CVersionDlg>({Tap(kIdDownloadLine), [&](HWND dialog) {
                                            owner = dialog;
                                            device_.Click(device_.GetDlgItem(dialog, kIdVersionOk));
                                          }});
      EXPECT_EQ(result, kIdOk);
      ASSERT_EQ(device_.ShellExecutes().size(), ++executes);
      EXPECT_EQ(device_.ShellExecutes().back(),
                std::make_pair(owner, Text(browser ? u"\\Windows\\iexplore.exe "
                                                     u"http://www.sorvel.example"
                                                   : u"http://www.sorvel.example ")));
      if (starts) {
        EXPECT_EQ(device_.MessageBoxes().size(), boxes);
        continue;
      }
      ExpectLastBox(u" http://www.sorvel.example 에서 다시 받아 설치하세요.", ++boxes);
      EXPECT_EQ(device_.MessageBoxes().back().owner, owner);
    }
  }
}

}  // namespace
}  // namespace sorvel
