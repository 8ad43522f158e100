// The settings keys over the profile store, and where the settings file lies.
#include "settings/settings.h"

#include "tests/unit/host_fixture.h"

namespace sorvel {
namespace {

class SettingsTest : public FilesTest {
 protected:
  SettingsTest() {
    files_.CreateFolder(u"\\Program Files\\Sorvel");
    SettingsPath = kSettingsFile;
  }
  ~SettingsTest() override {
    SettingsPath.clear();
    EXPECT_EQ(files_.OpenFileCount(), 0u);
  }
};

TEST_F(SettingsTest, FirstRunReadsEmptyAndFirstWriteCreatesTheFile) {
  for (int index = 0; index < kSettingCount; ++index) EXPECT_EQ(ReadSetting(files_, index), u"");
  EXPECT_TRUE(ThreePaneModeFromSetting(ReadSetting(files_, kPartionMode)));

  WriteSetting(files_, u"2", kPartionMode);
  EXPECT_EQ(files_.Bytes(kSettingsFile), Utf16LeBytes(u"[Setting]\r\nPartionMode=2\r\n"));
  EXPECT_FALSE(ThreePaneModeFromSetting(ReadSetting(files_, kPartionMode)));
}

TEST_F(SettingsTest, KeysAreSpelledAndAddedInTheOrderFirstWritten) {
  for (int index = kSettingCount - 1; index >= 0; --index) {
    WriteSetting(files_, FormatDecimal(index), index);
  }
  WriteSetting(files_, u"again", kFileName1);
  EXPECT_EQ(files_.Bytes(kSettingsFile),
            Utf16LeBytes(u"[Setting]\r\nPartionMode=9\r\nFileFullPath3=8\r\nFileFullPath2=7\r\n"
                         u"FileFullPath1=6\r\nPositionTop3=5\r\nFileName3=4\r\nPositionTop2=3\r\n"
                         u"PositionTop1=2\r\nFileName2=1\r\nFileName1=again\r\n"));
  for (int index = 1; index < kSettingCount; ++index) {
    EXPECT_EQ(ReadSetting(files_, index), FormatDecimal(index));
  }
}

TEST_F(SettingsTest, IndexesOutsideTheTableTouchNothing) {
  WriteSetting(files_, u"3", kPartionMode);
  const std::string before = files_.Bytes(kSettingsFile);
  for (int index : {-1, 10, 11}) {
    WriteSetting(files_, u"x", index);
    EXPECT_EQ(ReadSetting(files_, index), u"");
    EXPECT_EQ(SettingKey(index), nullptr);
  }
  EXPECT_EQ(files_.Bytes(kSettingsFile), before);
}

TEST_F(SettingsTest, SplitModeAndOffsetConversions) {
  const std::pair<Text, bool> modes[] = {{u"2", false}, {u" 2", false}, {u"3", true},  {u"0", true},
                                         {u"5", true},  {u"", true},    {u"abc", true}};
  for (const auto& mode : modes) {
    WriteSetting(files_, mode.first, kPartionMode);
    EXPECT_EQ(ThreePaneModeFromSetting(ReadSetting(files_, kPartionMode)), mode.second)
        << ToUtf8(mode.first);
  }
  const std::pair<Text, int> offsets[] = {
      {u"-20", -20}, {u"", 0}, {u"x", 0}, {u"15px", 15}, {u"+7", 7}};
  for (const auto& offset : offsets) {
    WriteSetting(files_, offset.first, kPositionTop2);
    EXPECT_EQ(OffsetFromSetting(ReadSetting(files_, kPositionTop2)), offset.second);
  }
}

TEST_F(SettingsTest, LongValueReadsBackAsItsFirst259Units) {
  Text value;
  for (int i = 0; i < 300; ++i) value += static_cast<char16_t>(u'a' + i % 26);
  WriteSetting(files_, value, kFileFullPath1);
  EXPECT_EQ(ReadSetting(files_, kFileFullPath1), value.substr(0, 259));
}

TEST(SettingsPathTest, ReplacesTheTextFromTheLastDot) {
  const struct {
    const char16_t* program;
    char16_t separator;
    const char16_t* settings;
  } cases[] = {
      {u"\\Program Files\\Sorvel\\Sorvel.exe", u'\\', u"\\Program Files\\Sorvel\\Sorvel.ini"},
      {u"\\Apps.new\\Sorvel", u'\\', u"\\Apps.ini"},
      {u"\\a.b\\c.d.exe", u'\\', u"\\a.b\\c.d.ini"},
      {u"\\Apps\\Sorvel", u'\\', u""},
      {u"/usr/local/bin/sorvel", u'/', u"/usr/local/bin/sorvel.ini"},
      {u"/home/u/.local/bin/sorvel", u'/', u"/home/u/.local/bin/sorvel.ini"},
      {u"/opt/s.1/sorvel.bin", u'/', u"/opt/s.1/sorvel.ini"},
      {u"/opt/.sorvel", u'/', u"/opt/.sorvel.ini"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MakeSettingsPath(c.program, c.separator), c.settings) << ToUtf8(c.program);
  }
}

}  // namespace
}  // namespace sorvel
