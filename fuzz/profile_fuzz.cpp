// Reads and writes random files with random sections, keys and values: no crash, no sanitizer
// report, every written file in normal form, and, where the format can hold the entry, a repeated
// write gives the same bytes and the value reads back as written.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "fuzz/memory_files.h"
#include "settings/profile.h"
#include "tests/support/utf16le.h"

namespace {

using sorvel::Text;

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
  }
}

// The white space of the file format, as the store documents it: the characters of the Unicode
// White_Space property (PropList.txt), every one listed, so that a slip in the store's own
// expression of the rule is not shared here.
constexpr char16_t kWhiteSpace[] = {
    0x0009,  // CHARACTER TABULATION
    0x000A,  // LINE FEED
    0x000B,  // LINE TABULATION
    0x000C,  // FORM FEED
    0x000D,  // CARRIAGE RETURN
    0x0020,  // SPACE
    0x0085,  // NEXT LINE
    0x00A0,  // NO-BREAK SPACE
    0x1680,  // OGHAM SPACE MARK
    0x2000,  // EN QUAD
    0x2001,  // EM QUAD
    0x2002,  // EN SPACE
    0x2003,  // EM SPACE
    0x2004,  // THREE-PER-EM SPACE
    0x2005,  // FOUR-PER-EM SPACE
    0x2006,  // SIX-PER-EM SPACE
    0x2007,  // FIGURE SPACE
    0x2008,  // PUNCTUATION SPACE
    0x2009,  // THIN SPACE
    0x200A,  // HAIR SPACE
    0x2028,  // LINE SEPARATOR
    0x2029,  // PARAGRAPH SEPARATOR
    0x202F,  // NARROW NO-BREAK SPACE
    0x205F,  // MEDIUM MATHEMATICAL SPACE
    0x3000,  // IDEOGRAPHIC SPACE
};

bool IsWhiteSpace(char16_t c) {
  return std::find(std::begin(kWhiteSpace), std::end(kWhiteSpace), c) != std::end(kWhiteSpace);
}

// Units that make the parser's decisions, and a few letters that differ only in case.
constexpr char16_t kAlphabet[] = u"aAbB=[];=\t \r\n\u3000\u00e9\u00c9\u0416\u0436";

Text ConsumeText(FuzzedDataProvider& input, bool anyUnit, std::size_t maxLength) {
  Text text(input.ConsumeIntegralInRange<std::size_t>(0, maxLength), u'x');
  for (char16_t& c : text) {
    c = anyUnit
            ? input.ConsumeIntegral<char16_t>()
            : kAlphabet[input.ConsumeIntegralInRange<std::size_t>(0, sizeof(kAlphabet) / 2 - 2)];
    if (c == 0) c = u'0';
  }
  return text;
}

bool Has(const Text& text, char16_t c) {
  return text.find(c) != Text::npos;
}

bool SingleLine(const Text& section, const Text& key, const Text& value) {
  for (const Text* text : {&section, &key, &value}) {
    if (Has(*text, u'\r') || Has(*text, u'\n')) return false;
  }
  return true;
}

bool CanHold(const Text& section, const Text& key, const Text& value) {
  return SingleLine(section, key, value) && !key.empty() && !Has(key, u'=') &&
         !IsWhiteSpace(key[0]) && key[0] != u';' && key[0] != u'[';
}

// Lines that each end with CR LF and hold no other CR or LF, without leading white space.
// (The new key line may begin with white space when the key does.)
void CheckNormalForm(const std::string& bytes, bool marked, bool keyTrimmed) {
  Text text((bytes.size() - (marked ? 2 : 0)) / 2, u'\0');
  std::memcpy(&text[0], bytes.data() + (marked ? 2 : 0), text.size() * 2);
  Check(text.size() >= 2 && text.compare(text.size() - 2, 2, u"\r\n") == 0, "last line end");
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\r') Check(i + 1 < text.size() && text[i + 1] == u'\n', "CR then LF");
    if (text[i] == u'\n') Check(i > 0 && text[i - 1] == u'\r', "LF after CR");
    if (keyTrimmed && i > 0 && text[i - 1] == u'\n') {
      Check(!IsWhiteSpace(text[i]) || text[i] == u'\r', "no leading white space");
    }
  }
}

// Every unit, once: the store drops a value's trailing unit exactly when it is white space.
void CheckWhiteSpaceOfEveryUnit() {
  sorvel::MemoryFileSystem fs;
  const Text path = u"\\windows\\space.ini";
  for (char32_t u = 1; u <= 0xFFFF; ++u) {
    const auto c = static_cast<char16_t>(u);
    const Text text = u"[S]\r\nk=v" + Text(1, c) + u"\r\n";
    fs.files[path] = sorvel::Utf16LeBytes(text);
    char16_t buffer[8] = {};
    const std::uint32_t n =
        sorvel::ReadPrivateProfileString(fs, u"S", u"k", u"", buffer, 8, path.c_str());
    if (Text(buffer, n) != (IsWhiteSpace(c) ? Text(u"v") : u"v" + Text(1, c))) {
      std::fprintf(stderr, "U+%04X: ", static_cast<unsigned>(u));
      Check(false, "the store's white space is the Unicode White_Space property");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  CheckWhiteSpaceOfEveryUnit();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const bool anyUnit = input.ConsumeBool();
  const Text file = input.ConsumeBool() ? u"fuzz.ini" : u"\\windows\\fuzz.ini";
  const Text section = ConsumeText(input, anyUnit, 8);
  const Text key = ConsumeText(input, anyUnit, 8);
  const Text value = ConsumeText(input, anyUnit, 16);
  const std::uint32_t capacity = input.ConsumeIntegralInRange<std::uint32_t>(0, 40);
  const std::string bytes = input.ConsumeRemainingBytesAsString();

  if (std::getenv("PROFILE_FUZZ_SHOW") != nullptr) {
    std::fprintf(stderr, "section %s\nkey %s\nvalue %s\ncapacity %u, %zu file bytes\n",
                 sorvel::ToUtf8(section).c_str(), sorvel::ToUtf8(key).c_str(),
                 sorvel::ToUtf8(value).c_str(), capacity, bytes.size());
  }
  sorvel::MemoryFileSystem fs;
  const Text path = u"\\windows\\fuzz.ini";
  fs.files[path] = bytes;

  // A read places at most capacity - 1 units, ends them with a zero, and cuts the full value.
  std::vector<char16_t> small(capacity + 1, u'#');
  std::vector<char16_t> full(300, u'#');
  const std::uint32_t cut = sorvel::ReadPrivateProfileString(
      fs, section.c_str(), key.c_str(), u"default", small.data(), capacity, file.c_str());
  const std::uint32_t whole = sorvel::ReadPrivateProfileString(
      fs, section.c_str(), key.c_str(), u"default", full.data(), 300, file.c_str());
  if (capacity == 0) {
    Check(cut == 0 && small[0] == u'#', "capacity 0 leaves the buffer");
  } else {
    Check(cut <= capacity - 1 && small[cut] == 0, "cut and terminated");
    Check(Text(small.data(), cut) == Text(full.data(), std::min(whole, capacity - 1)),
          "a cut read is a prefix of the full read");
  }
  Check(fs.files[path] == bytes && fs.OpenCount() == 0, "a read changes nothing");

  Check(sorvel::WritePrivateProfileString(fs, section.c_str(), key.c_str(), value.c_str(),
                                          file.c_str()) == 1,
        "write succeeds");
  Check(fs.OpenCount() == 0 && fs.files.size() == 1 && fs.debug.empty(), "write cleans up");
  const std::string written = fs.files[path];
  const bool marked = bytes.size() >= 2 && bytes.compare(0, 2, "\xFF\xFE") == 0;
  Check(written.size() % 2 == 0, "whole units");
  // (Without a mark the first line itself may begin with U+FEFF.)
  Check(!marked || written.compare(0, 2, "\xFF\xFE") == 0, "byte-order mark kept");
  if (SingleLine(section, key, value)) {
    CheckNormalForm(written, marked, key.empty() || !IsWhiteSpace(key[0]));
  }

  // A first line that begins with U+FEFF turns into a mark once leading white space before it
  // is gone; the next write then reads the file differently.
  const bool stable = marked || written.compare(0, 2, "\xFF\xFE") != 0;
  if (stable && CanHold(section, key, value)) {
    Check(sorvel::WritePrivateProfileString(fs, section.c_str(), key.c_str(), value.c_str(),
                                            file.c_str()) == 1 &&
              fs.files[path] == written,
          "a repeated write gives the same file");

    Text expected = value;
    while (!expected.empty() && IsWhiteSpace(expected.back())) expected.pop_back();
    if (expected.empty()) expected = u"default";
    std::vector<char16_t> buffer(value.size() + 8, u'#');
    const std::uint32_t n = sorvel::ReadPrivateProfileString(
        fs, section.c_str(), key.c_str(), u"default", buffer.data(),
        static_cast<std::uint32_t>(buffer.size()), file.c_str());
    Check(Text(buffer.data(), n) == expected, "the written value reads back");
  }
  return 0;
}
