// The private-profile store against the simulated file system: reading, writing, the writes it
// refuses and the path lengths it takes; the settings keys over it, and where the settings file
// lies.
#include "settings/profile.h"

#include <regex>

#include "settings/settings.h"
#include "tests/unit/host_fixture.h"

namespace sorvel {
namespace {

const std::string kBom = "\xFF\xFE";
const Text kIni = u"\\windows\\test.ini";
const Text kTemporary = kIni + u".tmp";

class ProfileTest : public FilesTest {
 protected:
  void TearDown() override {
    FilesTest::TearDown();
    EXPECT_FALSE(files_.FileExists(kTemporary)) << "a call left its temporary file";
  }
  Text Read(const Text& section, const Text& key, const char16_t* defaultValue = u"",
            std::uint32_t capacity = 260, const Text& file = kIni) {
    Text buffer(capacity + 1, u'#');
    std::uint32_t n = ReadPrivateProfileString(files_, section.c_str(), key.c_str(), defaultValue,
                                               &buffer[0], capacity, file.c_str());
    EXPECT_EQ(Text(buffer.c_str()).size(), n);
    return buffer.substr(0, n);
  }
  int Write(const Text& section, const Text& key, const Text& value, const Text& file = kIni) {
    return WritePrivateProfileString(files_, section.c_str(), key.c_str(), value.c_str(),
                                     file.c_str());
  }
  // The reports since the last call, each as its text; the line number of its first half is
  // checked, dropped, and given in `lines`.
  std::vector<Text> Reports(std::vector<int>* lines = nullptr) {
    std::vector<Text> reports;
    const auto& out = files_.DebugOutputs();
    EXPECT_EQ(out.size() % 2, 0u);
    const std::regex head(R"(ERROR: \.\\profile line ([1-9][0-9]*): )");
    for (std::size_t i = 0; i + 1 < out.size(); i += 2) {
      const std::string text = ToUtf8(out[i]);
      std::smatch match;
      EXPECT_TRUE(std::regex_match(text, match, head)) << text;
      if (lines != nullptr && match.size() == 2) lines->push_back(std::stoi(match[1]));
      reports.push_back(out[i + 1]);
    }
    files_.ClearDebugOutput();
    return reports;
  }
};

// --- Reading ---

// Each file's bytes, then reads of it: section, key, default and the value given.
TEST_F(ProfileTest, ReadsTheFirstMatchingKeyOfTheFirstMatchingSection) {
  struct Look {
    const char16_t *section, *key, *fallback, *value;
  };
  const std::pair<std::string, std::vector<Look>> cases[] = {
      // Any line end, leading white space.
      {kBom + Utf16LeBytes(u"; comment\r\nEarly=outside any section\r"
                           u" \t[SETTING]\n;FileName1=commented\r\n"
                           u"\u3000 positiontop1=5\n\r   \r\n"
                           u"FileName1=  a=b \t\r\nQuoted=\"x\"\r\n"
                           u"Last=no line end"),
       {{u"Setting", u"PositionTop1", u"", u"5"},
        {u"Setting", u"FileName1", u"", u"  a=b"},  // leading blanks and "=" are kept
        {u"Setting", u"Quoted", u"", u"\"x\""},
        {u"Setting", u"Last", u"", u"no line end"},
        {u"Setting", u"Early", u"d", u"d"},
        {u"setting", u"filename1", u"", u"  a=b"}}},
      // A header is matched by length and name, and ends the section before it.
      {Utf16LeBytes(u"[AB]\r\nk=0\r\n[A] \r\nk=0\r\n"  // "[A] " names no section
                    u"[A]\r\nk=1\r\n[A] \r\nk=2\r\n"
                    u"[B>\r\nk=3\r\n"  // the last character is not examined
                    u"[C]\r\n[D]\r\nk=4\r\n"),
       {{u"A", u"k", u"", u"1"},
        {u"A ", u"k", u"none", u"none"},
        {u"B", u"k", u"", u"3"},
        {u"C", u"k", u"none", u"none"},
        {u"D", u"k", u"", u"4"}}},
      {Utf16LeBytes(u"[ÉTÉ]\r\nКлюч=1\r\n"), {{u"été", u"КЛЮЧ", u"", u"1"}}},
      // The first section and the first key line count.
      {Utf16LeBytes(u"[S]\r\nFileName10=x\r\nFileName1=y\r\nEmpty=\r\nEmpty=later\r\n"
                    u"=noKey\r\n \t=alsoNoKey\r\nnoEquals\r\n[S]\r\nOther=second\r\n"),
       {{u"S", u"FileName1", u"", u"x"},  // FileName10 begins with FileName1
        {u"S", u"Empty", u"dflt", u"dflt"},
        {u"S", u"Other", u"dflt", u"dflt"},
        {u"S", u"noEquals", u"dflt", u"dflt"},
        // A line with nothing before "=" is no key line: the empty key finds the first real one.
        {u"S", u"", u"", u"x"}}},
      // A final odd byte is ignored; 8-bit text is not understood.
      {Utf16LeBytes(u"[S]\r\nk=v") + "x", {{u"S", u"k", u"", u"v"}}},
  };
  for (const auto& [bytes, looks] : cases) {
    files_.SetBytes(kIni, bytes);
    for (const Look& l : looks) {
      EXPECT_EQ(Read(l.section, l.key, l.fallback), l.value) << ToUtf8(l.key);
    }
  }
  for (const std::string& bytes :
       {std::string("[S]\r\nk=v\r\n"), std::string(), kBom, kBom + "x", std::string("x")}) {
    files_.SetBytes(kIni, bytes);
    EXPECT_EQ(Read(u"S", u"k", u"d"), u"d");
  }
  EXPECT_TRUE(Reports().empty());
}

TEST_F(ProfileTest, ValuesAndDefaultsAreCutToCapacityLessOne) {
  files_.SetBytes(kIni, Utf16LeBytes(u"[S]\r\nk=abcdef\r\nempty=\r\n"));
  EXPECT_EQ(Read(u"S", u"k", u"", 4), u"abc");
  EXPECT_EQ(Read(u"S", u"missing", u"Default value", 4), u"Def");
  EXPECT_EQ(Read(u"S", u"k", u"", 1), u"");
  EXPECT_EQ(Read(u"S", u"missing", nullptr), u"");
  char16_t buffer[8] = u"keep";
  EXPECT_EQ(FindProfileString(files_, u"S", u"missing", buffer, 8, kIni.c_str()), 0u);
  EXPECT_EQ(Text(buffer), u"keep");
  EXPECT_EQ(FindProfileString(files_, u"S", u"empty", buffer, 8, kIni.c_str()), 0u);
  EXPECT_EQ(Text(buffer), u"");
  EXPECT_EQ(FindProfileString(files_, u"S", u"k", buffer, 0, kIni.c_str()), 0u);
  EXPECT_EQ(Text(buffer), u"");
}

TEST_F(ProfileTest, FailedReadsGiveTheDefaultAndReport) {
  for (const Text& missing : {Text(u"\\windows\\missing.ini"), Text(u"missing.ini")}) {
    EXPECT_EQ(Read(u"S", u"k", u"d", 260, missing), u"d");
    EXPECT_EQ(Reports(), std::vector<Text>{u"Could not open INI file: " + missing + u"\r\n"});
  }
  files_.SetBytes(kIni, Utf16LeBytes(u"[S]\r\nk=v\r\n"));
  files_.Fail(SimFileSystem::Operation::kGetInformation, kIni);
  EXPECT_EQ(Read(u"S", u"k", u"d"), u"d");
  std::vector<int> lines;
  EXPECT_EQ(Reports(&lines),
            (std::vector<Text>{u"GetFileInformationByHandle failed on INI file: " + kIni + u"\r\n",
                               u"Could not open INI file: " + kIni + u"\r\n"}));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0], lines[1]);
  EXPECT_EQ(ReadPrivateProfileString(files_, nullptr, u"k", u"d", nullptr, 0, kIni.c_str()), 0u);
  char16_t buffer[4] = u"xyz";
  EXPECT_EQ(ReadPrivateProfileString(files_, u"S", u"k", u"d", buffer, 4, nullptr), 1u);
  EXPECT_EQ(Text(buffer), u"d");
  EXPECT_TRUE(Reports().empty());
}

// --- Writing ---

TEST_F(ProfileTest, WriteNormalisesTheWholeFile) {
  const Text before =
      u"  ; note\n\n\r[Other]\r\tk=1  \r\n"
      u"[SETTING]\r\nFileName1=old\r\nFileName1=second\r\n;tail comment\r\n\r\n"
      u"[Setting] \r\nx=1\r\n[Setting]\r\nFileName1=copy\r\nLast=1";
  for (const std::string& mark : {std::string(), kBom}) {
    files_.SetBytes(kIni, mark + Utf16LeBytes(before));
    EXPECT_EQ(Write(u"Setting", u"FileName1", u"new"), 1);
    EXPECT_EQ(Write(u"setting", u"PositionTop1", u"-20"), 1);
    EXPECT_EQ(Write(u"Fresh", u"k", u"v"), 1);
    EXPECT_EQ(files_.Bytes(kIni),
              mark + Utf16LeBytes(u"; note\r\n\r\n\r\n[Other]\r\nk=1  \r\n"
                                  u"[SETTING]\r\nFileName1=new\r\nFileName1=second\r\n"
                                  u";tail comment\r\n\r\nPositionTop1=-20\r\n"
                                  u"[Setting] \r\nx=1\r\n[Setting]\r\nFileName1=copy\r\nLast=1\r\n"
                                  u"[Fresh]\r\nk=v\r\n"));
  }
  files_.SetBytes(kIni, Utf16LeBytes(u"[S]\r\na=1\r\n;end"));
  EXPECT_EQ(Write(u"S", u"b", u"2"), 1);
  EXPECT_EQ(files_.Bytes(kIni), Utf16LeBytes(u"[S]\r\na=1\r\n;end\r\nb=2\r\n"));
}

// Null arguments write nothing but a null section; a temporary file left by an interrupted write
// is replaced.
TEST_F(ProfileTest, NullArgumentsAndALeftoverTemporaryFile) {
  EXPECT_EQ(WritePrivateProfileString(files_, u"S", u"k", u"v", nullptr), 0);
  EXPECT_EQ(WritePrivateProfileString(files_, u"S", nullptr, u"v", kIni.c_str()), 0);
  EXPECT_EQ(WritePrivateProfileString(files_, u"S", u"k", nullptr, kIni.c_str()), 0);
  EXPECT_FALSE(files_.FileExists(kIni));
  files_.SetBytes(kTemporary, "leftover from an interrupted write");
  EXPECT_EQ(WritePrivateProfileString(files_, nullptr, u"k", u"v", kIni.c_str()), 1);
  EXPECT_EQ(Write(u"S", u"k", u"v"), 1);
  EXPECT_EQ(files_.Bytes(kIni), Utf16LeBytes(u"[S]\r\nk=v\r\n"));
  EXPECT_TRUE(Reports().empty());
}

// A write that fails at any step returns 0, reports why, and leaves the file as it was and no
// temporary file.
TEST_F(ProfileTest, RefusedWriteLeavesTheFileAsItWas) {
  const std::string original = kBom + Utf16LeBytes(u"[S]\nk=old\n");
  const Text unreadable = u"Could not open INI file: " + kIni + u"\r\n";
  const Text unwritable = u"Could not write output file: " + kTemporary + u" \r\n";
  const Text inRom = u"WritePrivateProfileString: Unable to write to " + kIni + u" - in ROM\r\n";
  const Text unreplaced = u"Could not replace INI file: " + kIni + u"\r\n";
  const Text uncreated = u"Could not open output file: " + kTemporary + u" \r\n";
  const Text uninformed = u"GetFileInformationByHandle failed on INI file: " + kIni + u"\r\n";
  const Text noFolder = u"Could not open output file: \\no such folder\\x.ini.tmp \r\n";
  using Op = SimFileSystem::Operation;
  constexpr std::uint32_t kArchive = SimFileSystem::kAttributeArchive;
  struct Case {
    const char* name;
    Op failing;
    Text path;
    std::vector<Text> reports;
    std::uint32_t attributes = kArchive;
    bool readerHolds = false;  // a reader holds the file
    Text file = kIni;          // the one written
  };
  const Case cases[] = {
      {"in ROM", Op::kRead, u"", {inRom}, SimFileSystem::kAttributeInRom},
      {"ROM module", Op::kRead, u"", {inRom}, SimFileSystem::kAttributeRomModule},
      {"temporary file not creatable", Op::kCreateForWrite, kTemporary, {uncreated}},
      {"file not openable", Op::kOpenForRead, kIni, {unreadable}},
      {"file's information not given", Op::kGetInformation, kIni, {uninformed, unreadable}},
      {"file not readable", Op::kRead, kIni, {unreadable}},
      {"replacement fails", Op::kReplaceWith, kIni, {unreplaced}},
      {"temporary write fails", Op::kWrite, kTemporary, {unwritable}},
      {"temporary flush fails", Op::kFlush, kTemporary, {unwritable}},
      // Readers share the file, as on the device: the write reads it but cannot replace it.
      {"a reader holds the file", Op::kRead, u"", {unreplaced}, kArchive, true},
      {"no such folder", Op::kRead, u"", {noFolder}, kArchive, false, u"\\no such folder\\x.ini"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    files_.ClearFailures();
    files_.SetBytes(kIni, original);
    files_.SetAttributes(kIni, c.attributes | SimFileSystem::kAttributeArchive);
    if (!c.path.empty()) files_.Fail(c.failing, c.path);
    FileHandle reader = c.readerHolds ? files_.OpenForRead(kIni) : nullptr;
    EXPECT_EQ(Write(u"S", u"k", u"new", c.file), 0);
    if (reader != nullptr) files_.Close(reader);
    EXPECT_EQ(files_.Bytes(kIni), original);
    EXPECT_EQ(Reports(), c.reports);
  }
}

// Resolved paths (a bare name lies in the Windows folder): 259 units can be read, 255 written.
TEST_F(ProfileTest, PathsLongerThanTheFixedSizesAreRefused) {
  const Text folder = u"\\windows\\";
  const Text name250(250, u'n');  // \windows\ + 250 = 259
  files_.SetBytes(folder + name250, Utf16LeBytes(u"[S]\r\nk=v\r\n"));
  EXPECT_EQ(Read(u"S", u"k", u"d", 260, name250), u"v");
  EXPECT_EQ(Read(u"S", u"k", u"d", 260, folder + name250), u"v");
  EXPECT_TRUE(Reports().empty());
  const Text name251(251, u'n');
  EXPECT_EQ(Read(u"S", u"k", u"d", 260, name251), u"d");
  EXPECT_EQ(Reports(), (std::vector<Text>{u"INI file path too long: " + name251 + u"\r\n",
                                          u"Could not open INI file: " + name251 + u"\r\n"}));
  const Text name246(246, u'w');  // \windows\ + 246 = 255
  EXPECT_EQ(Write(u"S", u"k", u"v", name246), 1);
  EXPECT_TRUE(files_.FileExists(folder + name246));
  EXPECT_TRUE(Reports().empty());
  const Text name247(247, u'w');
  EXPECT_EQ(Write(u"S", u"k", u"v", name247), 0);
  EXPECT_EQ(Write(u"S", u"k", u"v", folder + name247), 0);
  EXPECT_FALSE(files_.FileExists(folder + name247));
  EXPECT_EQ(Reports(),
            (std::vector<Text>{u"INI file path too long: " + name247 + u"\r\n",
                               u"INI file path too long: " + folder + name247 + u"\r\n"}));
  EXPECT_EQ(Read(u"S", u"k", u"d", 260, Text(100000, u'x')), u"d");
}

// --- The settings ---

// (The keys' names by index: the host's tests read and write each of them by name.)
TEST_F(ProfileTest,
       SettingsFirstWriteCreatesTheFileIndexesOutsideTheTableTouchNothingLongValuesAreCut) {
  files_.CreateFolder(u"\\Program Files\\Sorvel");
  SettingsPath = kSettingsFile;
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
  // A long value reads back as its first 259 units.
  Text value;
  for (int i = 0; i < 300; ++i) value += static_cast<char16_t>(u'a' + i % 26);
  WriteSetting(files_, value, kFileFullPath1);
  EXPECT_EQ(ReadSetting(files_, kFileFullPath1), value.substr(0, 259));
  SettingsPath.clear();
}

TEST(SettingValueTest, SplitModeAndOffset) {
  for (const char16_t* two : {u"2", u" 2"})
    EXPECT_FALSE(ThreePaneModeFromSetting(two)) << ToUtf8(two);
  for (const char16_t* three : {u"3", u"0", u"5", u"", u"abc"}) {
    EXPECT_TRUE(ThreePaneModeFromSetting(three)) << ToUtf8(three);
  }
  for (const auto& [text, offset] :
       {std::pair<Text, int>{u"-20", -20}, {u"", 0}, {u"x", 0}, {u"15px", 15}, {u"+7", 7}}) {
    EXPECT_EQ(OffsetFromSetting(text), offset) << ToUtf8(text);
  }
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
