// What both programs share about updates: the program file's checks and version note, the
// signed manifest and the description file.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "settings/profile.h"
#include "tests/support/test_signer.h"
#include "tests/unit/host_fixture.h"
#include "tests/unit/program_image.h"
#include "update/description.h"
#include "update/manifest.h"
#include "update/program_version.h"

namespace sorvel {
namespace {

constexpr char16_t kSection[] = u"Linux-x86_64";
constexpr std::uint16_t kOtherElfMachine = kOwnElfMachine == 62 ? 183 : 62;
constexpr std::uint16_t kElf386 = 3;
const char kWebPage[] = "<html><body>Not Found</body></html>";

// The bytes of a file, at least 1000 of them.
std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  EXPECT_GT(bytes.size(), 1000u) << path;
  return bytes;
}

// The bytes of the first file this process has mapped whose path holds `name`.
std::string MappedFile(const std::string& name) {
  std::ifstream maps("/proc/self/maps");
  for (std::string line; std::getline(maps, line);) {
    const std::size_t at = line.find('/');
    if (at != std::string::npos && line.find(name, at) != std::string::npos) {
      return FileBytes(line.substr(at));
    }
  }
  return FileBytes(name);
}

using ProgramFileTest = FilesTest;

struct FileCase {
  const char* name;
  std::string bytes;
  bool accepted;
  std::uint16_t machine = kOwnElfMachine;
};

// Every file is checked as a program of either format: it is accepted in its own format only,
// and only as a program for the machine.
TEST_F(ProgramFileTest, OnlyAProgramForThisMachineIsAccepted) {
  std::string noSignature = Program(), notMz = Program();
  noSignature[0x81] = 'X';
  notMz[0] = 'Z';
  const auto staticPie = [](ElfImage& e) { e.interpreter = false, e.flags1 = 0x08000001; };
  const auto elf386 = [](ElfImage& e) { e.machine = kElf386, e.elfClass = 1; };
  const std::string program = ElfProgram(), pie = ElfWith(staticPie);
  const std::size_t headerSize = ElfClass(kOwnElfMachine) == 2 ? 64 : 52;
  // Windows programs, up to the ELF files.
  const FileCase windows[] = {
      {"program", Program(), true},
      // Beyond the first chunk read.
      {"headers far into the file", ProgramWith([](Image& i) { i.newHeader = 5000; }), true},
      {"other machine", ProgramWith([](Image& i) { i.machine = kOtherMachine; }), false},
      {"library", ProgramWith([](Image& i) { i.characteristics |= 0x2000; }), false},
      {"not executable", ProgramWith([](Image& i) { i.characteristics = 0x0020; }), false},
      {"other optional header",
       ProgramWith([](Image& i) { i.magic = i.magic == 0x20B ? 0x10B : 0x20B; }), false},
      {"header inside the DOS header", ProgramWith([](Image& i) { i.newHeader = 0x20; }), false},
      {"no PE signature", noSignature, false},
      {"no MZ", notMz, false},
      {"cut in the headers", Program().substr(0, 0x90), false},
      {"header pointer past the end", Program().substr(0, 0x7F), false},
      {"web page", kWebPage, false},
      {"empty", "", false},
  };
  const FileCase elf[] = {
      {"PIE program", program, true},
      {"fixed-address program",
       ElfWith([](ElfImage& e) { e.type = 2, e.interpreter = e.dynamic = false; }), true},
      {"static PIE program", pie, true},
      // Beyond the first chunk read.
      {"program headers far into the file", ElfWith([](ElfImage& e) { e.segmentsAt = 6000; }),
       true},
      {"32-bit program", ElfWith(elf386), true, kElf386},
      {"32-bit library", ElfWith([&](ElfImage& e) { elf386(e), e.interpreter = false; }), false,
       kElf386},
      {"shared library", ElfWith([](ElfImage& e) { e.interpreter = false; }), false},
      {"no interpreter, no dynamic section",
       ElfWith([](ElfImage& e) { e.interpreter = e.dynamic = false; }), false},
      {"object file", ElfWith([](ElfImage& e) { e.type = 1; }), false},
      {"core file", ElfWith([](ElfImage& e) { e.type = 4; }), false},
      {"other machine", ElfWith([](ElfImage& e) { e.machine = kOtherElfMachine; }), false},
      {"other class", ElfWith([](ElfImage& e) { e.elfClass = e.elfClass == 2 ? 1 : 2; }), false},
      {"big-endian", ElfWith([](ElfImage& e) { e.data = 2; }), false},
      {"no entry point", ElfWith([](ElfImage& e) { e.entry = 0; }), false},
      {"other program header size", ElfWith([](ElfImage& e) { e.segmentSizeDelta = 8; }), false},
      {"program headers inside the header", ElfWith([](ElfImage& e) { e.segmentsAt = 16; }), false},
      {"cut in the header", program.substr(0, headerSize - 1), false},
      {"cut in the program headers", program.substr(0, headerSize + 10), false},
      {"static PIE cut in its dynamic section", pie.substr(0, pie.size() - 3000 - 10), false},
      // What the linker made: this test program is a program; the C++ library it loaded is not,
      // nor is the dynamic loader, a library with an entry point.
      {"this test program", FileBytes("/proc/self/exe"), true},
      {"the C++ library", MappedFile("libstdc++"), false},
      {"the dynamic loader", MappedFile("/ld-linux"), false},
  };
  auto check = [this](ProgramFormat format, const auto& cases) {
    for (const FileCase& c : cases) {
      files_.SetBytes(u"\\im", c.bytes);
      const bool pe = c.accepted && format == ProgramFormat::kWindows, own = c.accepted && !pe;
      EXPECT_EQ(IsProgramForMachine(files_, u"\\im", kOwnMachine), pe) << c.name;
      EXPECT_EQ(IsElfProgramForMachine(files_, u"\\im", c.machine), own) << c.name;
      if (c.machine == kOwnElfMachine) {
        EXPECT_EQ(IsProgramForThisMachine(files_, u"\\im", ProgramFormat::kWindows), pe) << c.name;
        EXPECT_EQ(IsProgramForThisMachine(files_, u"\\im", ProgramFormat::kElf), own) << c.name;
      }
    }
  };
  check(ProgramFormat::kWindows, windows);
  check(ProgramFormat::kElf, elf);
  EXPECT_FALSE(IsProgramForMachine(files_, u"\\missing", kOwnMachine));
  EXPECT_FALSE(IsElfProgramForMachine(files_, u"\\missing", kOwnElfMachine));
  Sha256Digest digest{};
  EXPECT_FALSE(FileSha256(files_, u"\\missing", &digest));
}

// Version 1.2.3.4, the halves as the note holds them.
constexpr std::uint32_t kMs = 0x00010002, kLs = 0x00030004;
const ElfNote kVersionNote{std::string("Sorvel", 7), 1, Le(kMs, 4) + Le(kLs, 4)};
const ElfNote kBuildId{std::string("GNU", 4), 3, std::string(20, 'i')};
// 12 bytes of descriptor: where notes are padded to 8, 4 bytes of padding follow.
const ElfNote kProperty{std::string("GNU", 4), 5, std::string(12, 'p')};

// A program whose notes, right behind its program headers, are the build id and the version
// note, after `change`.
template <typename Change>
std::string Versioned(Change change, ElfLayout* layout = nullptr) {
  return ElfWith(
      [&](ElfImage& e) {
        e.interpreter = e.dynamic = false;
        e.notes = {kBuildId, kVersionNote};
        e.body = std::string(256, 't');
        change(e);
      },
      layout);
}

TEST_F(ProgramFileTest, TheVersionNoteIsFoundThroughTheNoteSegmentsOnly) {
  ElfLayout at{};
  const std::string good = Versioned([](ElfImage&) {}, &at);
  const std::string narrow = Versioned([](ElfImage& e) {
    e.elfClass = 1;
    e.machine = kElf386;
  });
  auto note = [](auto change) { return Versioned([&](ElfImage& e) { change(e.notes.back()); }); };
  const std::uint64_t huge = ~std::uint64_t{0};
  const std::size_t a = ElfClass(kOwnElfMachine) == 2 ? 8 : 4;
  auto with = [&good](std::size_t field, std::uint64_t value, std::size_t size) {
    return std::string(good).replace(field, size, Le(value, size));
  };
  const FileCase cases[] = {
      {"64-bit program", good, true},
      {"32-bit program", narrow, true},
      {"the only note", Versioned([](ElfImage& e) { e.notes = {kVersionNote}; }), true},
      {"notes padded to 8", Versioned([](ElfImage& e) {
         e.notes = {kProperty, kVersionNote}, e.alignment = 8;
       }),
       true},
      {"far into the file, within reach",
       Versioned([](ElfImage& e) { e.contentAt = kElfVersionReach - 200; }), true},
      {"other name", note([](ElfNote& n) { n.name = std::string("Sorvem", 7); }), false},
      {"name without its NUL", note([](ElfNote& n) { n.name = "Sorvel"; }), false},
      {"other type", note([](ElfNote& n) { n.type = 2; }), false},
      {"short descriptor", note([](ElfNote& n) { n.descriptor.resize(4); }), false},
      {"long descriptor", note([](ElfNote& n) { n.descriptor += "more"; }), false},
      // The same bytes, under a PT_LOAD.
      {"no PT_NOTE", Versioned([](ElfImage& e) { e.notesType = 1; }), false},
      {"big-endian", Versioned([](ElfImage& e) { e.data = 2; }), false},
      {"beyond reach", Versioned([](ElfImage& e) { e.contentAt = kElfVersionReach + 8; }), false},
      {"cut in the version note", good.substr(0, at.lastNoteAt + 20), false},
      {"cut in the program headers", good.substr(0, 64 + 60), false},
      {"cut in the header", good.substr(0, 40), false},
      {"32-bit cut in the header", narrow.substr(0, 50), false},
      {"notes' segment past the end", with(at.notesOffsetField, huge - 8, a), false},
      {"notes' segment of absurd size", with(at.notesSizeField, huge, a), false},
      // It ends inside the version note's descriptor.
      {"notes' segment shorter than its note",
       with(at.notesSizeField, at.lastNoteAt + 24 - at.notesAt, a), false},
      {"notes' segment over the headers", with(at.notesOffsetField, 0, a), false},
      {"program headers past the end", with(at.segmentsAtField, huge / 2, a), false},
      {"program headers over the header", with(at.segmentsAtField, 8, a), false},
      {"absurd header count", with(at.countField, 0xFFFF, 2), false},
      {"absurd name size", with(at.lastNoteAt, 0xFFFFFFFF, 4), false},
      {"absurd descriptor size", with(at.lastNoteAt + 4, 0xFFFFFFF0, 4), false},
      {"web page", kWebPage, false},
      {"empty", "", false},
  };
  for (const FileCase& c : cases) {
    files_.SetBytes(u"\\sorvel", c.bytes);
    std::uint32_t ms = 0, ls = 0;
    EXPECT_EQ(ReadElfFileVersion(files_, u"\\sorvel", &ms, &ls), c.accepted) << c.name;
    if (c.accepted) {
      EXPECT_EQ(std::make_pair(ms, ls), std::make_pair(kMs, kLs)) << c.name;
    }
  }
  std::uint32_t ms = 0, ls = 0;
  EXPECT_FALSE(ReadElfFileVersion(files_, u"\\missing", &ms, &ls));
}

TEST(ManifestTest, OnlyTheSignedBytesOfAWellFormedManifestCount) {
  test::P256KeyPair key;
  ASSERT_TRUE(test::TestUpdateKey(&key));
  const std::vector<P256PublicKey> keys = {key.publicKey};
  auto manifest = [](const Text& kind, const Text& rest = Text(),
                     const Text& version = u"Version=2.0.0.0\r\n") {
    return Utf16LeBytes(u"[Update]\r\n" + version + u"Kind=" + kind + u"\r\n" + rest, true);
  };
  // This build's program, bound by `size` and `hash`.
  auto program = [](const Text& size, const Text& hash, const Text& scheme = u"https:") {
    return Text(u"[") + kSection + u"]\r\nDownName=" + scheme + u"//updates.test/sorvel\r\n" +
           size + u"Sha256=" + hash + u"\r\n";
  };
  auto automatic = [&](const Text& size, const Text& hash, const Text& scheme = u"https:") {
    return manifest(u"automatic", program(size, hash, scheme));
  };
  const std::string good = automatic(u"Size=123456\r\n", kHash);
  const std::string signature = test::SignatureFile(good, &key);
  std::string flipped = good;
  flipped[30] ^= 1;
  struct Case {
    const char* name;
    std::string bytes, signature;
    bool read = false, program = false;
  };
  auto signedCase = [&](const char* name, const std::string& bytes, bool read = false,
                        bool program = false) {
    return Case{name, bytes, test::SignatureFile(bytes, &key), read, program};
  };
  const Case cases[] = {
      signedCase("signed", good, true, true),
      // (Another key's signature: the cryptography checks' and the end-to-end updater's.)
      {"a byte changed after signing", flipped, signature},
      {"signature cut short", good, signature.substr(0, 63)},
      {"signature too long", good, signature + "x"},
      {"no signature", good, ""},
      signedCase("optional without a program", manifest(u"optional"), true, false),
      signedCase("mandatory with a program",
                 manifest(u"mandatory", program(u"Size=123456\r\n", kHash)), true, true),
      signedCase("automatic without this build's program",
                 manifest(u"automatic",
                          u"[Windows-x64]\r\nDownName=https://updates.test/S.exe\r\n"
                          u"Size=1\r\nSha256=" +
                              Text(kHash) + u"\r\n")),
      signedCase("no version", manifest(u"optional", u"", u"")),
      signedCase("three-part version", manifest(u"optional", u"", u"Version=2.0.0\r\n")),
      signedCase("part over 65535", manifest(u"optional", u"", u"Version=1.0.65536.0\r\n")),
      signedCase("unknown kind", manifest(u"Optional")),
      signedCase("no size", automatic(u"", kHash)),
      signedCase("size zero", automatic(u"Size=0\r\n", kHash)),
      signedCase("size beyond the limit", automatic(u"Size=268435457\r\n", kHash)),
      signedCase("size not decimal", automatic(u"Size=0x10\r\n", kHash)),
      signedCase("short hash", automatic(u"Size=1\r\n", Text(kHash).substr(1))),
      signedCase("long hash", automatic(u"Size=1\r\n", Text(kHash) + u"0")),
      signedCase("hash after a blank", automatic(u"Size=1\r\n", u" " + Text(kHash))),
      signedCase("hash not hex", automatic(u"Size=1\r\n", Text(kHash).substr(1) + u"g")),
      signedCase("no hash", automatic(u"Size=1\r\n", u"")),
      signedCase("not a web address", automatic(u"Size=1\r\n", kHash, u"file:")),
      signedCase("odd byte count", good + " "),
      signedCase("over 64 KiB", manifest(u"optional", Text(33000, u';'))),
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Text why;
    std::optional<Manifest> read = ReadSignedManifest(c.bytes, c.signature, keys, kSection, &why);
    ASSERT_EQ(read.has_value(), c.read) << ToUtf8(why);
    if (!read) {
      EXPECT_FALSE(why.empty());
      continue;
    }
    ASSERT_EQ(read->program.has_value(), c.program);
    if (read->program) {
      EXPECT_EQ(read->program->downloadUrl, u"https://updates.test/sorvel");
      EXPECT_EQ(read->program->size, 123456u);
      EXPECT_EQ(FormatSha256(read->program->sha256), kLowerHash);
      EXPECT_EQ(read->program->version, read->version);
    }
  }
}

using DescriptionTest = HostTest;

// Without any one of the binding keys, nothing binds the program. (The file's text and a refused
// write are the notices' cases; what is read back, the updater's replacement cases.)
TEST_F(DescriptionTest, WithoutAnyBindingKeyNothingBindsTheProgram) {
  const Text path = u"\\Program Files\\Sorvel\\Download.ini";
  SignedProgram program;
  program.downloadUrl = u"https://updates.test/Sorvel.exe";
  program.size = 4096;
  program.version = 0x0001'0000'0002'0000;
  for (const Text key : {u"", u"Size", u"Sha256", u"Version"}) {
    ASSERT_TRUE(WriteUpdateDescription(files_, path, u"Sorvel.exe", program));
    if (!key.empty())
      WritePrivateProfileString(files_, u"Download", key.c_str(), u"", path.c_str());
    EXPECT_EQ(ReadUpdateDescription(files_, path).program.has_value(), key.empty()) << ToUtf8(key);
  }
}

}  // namespace
}  // namespace sorvel
