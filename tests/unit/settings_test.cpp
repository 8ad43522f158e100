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

// (The keys' names by index: the host's tests read and write each of them by name.)
TEST_F(SettingsTest, FirstWriteCreatesTheFileAndIndexesOutsideTheTableTouchNothing) {
  for (int index = -1; index <= kSettingCount; ++index) EXPECT_EQ(ReadSetting(files_, index), u"");
  WriteSetting(files_, u"2", kPartionMode);
  const std::string written = Utf16LeBytes(u"[Setting]\r\nPartionMode=2\r\n");
  EXPECT_EQ(files_.Bytes(kSettingsFile), written);
  for (int index : {-1, 10, 11}) {
    WriteSetting(files_, u"x", index);
    EXPECT_EQ(ReadSetting(files_, index), u"");
    EXPECT_EQ(SettingKey(index), nullptr);
  }
  EXPECT_EQ(files_.Bytes(kSettingsFile), written);
}

TEST(SettingValueTest, SplitModeAndOffset) {
  for (const auto& [text, three] : {std::pair<Text, bool>{u"2", false},
                                    {u" 2", false},
                                    {u"3", true},
                                    {u"0", true},
                                    {u"5", true},
                                    {u"", true},
                                    {u"abc", true}}) {
    EXPECT_EQ(ThreePaneModeFromSetting(text), three) << ToUtf8(text);
  }
  for (const auto& [text, offset] :
       {std::pair<Text, int>{u"-20", -20}, {u"", 0}, {u"x", 0}, {u"15px", 15}, {u"+7", 7}}) {
    EXPECT_EQ(OffsetFromSetting(text), offset) << ToUtf8(text);
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
      {u"/opt/.sorvel", u'/', u"/opt/.sorvel.ini"}};
  for (const auto& c : cases) {
    EXPECT_EQ(MakeSettingsPath(c.program, c.separator), c.settings) << ToUtf8(c.program);
  }
}

}  // namespace
}  // namespace sorvel
