#include <algorithm>
#include <cctype>
#include <fstream>
#include <iomanip>
#include <iterator>
#include <sstream>

#include "settings/profile.h"
#include "tests/support/test_signer.h"
#include "tests/unit/host_fixture.h"
#include "update/description.h"
#include "update/program_file.h"
#include "updater/resources.h"
#include "updater/update_app.h"
#include "updater/update_dlg.h"

namespace sorvel {
namespace {

constexpr char16_t kModule[] = u"\\Program Files\\Sorvel\\SorvelUpdate.exe";
constexpr char16_t kDescription[] = u"\\Program Files\\Sorvel\\Download.ini";
constexpr char16_t kTarget[] = u"\\Program Files\\Sorvel\\Sorvel.exe";
constexpr char16_t kTemp[] = u"\\Program Files\\Sorvel\\im.exe";
constexpr char16_t kKept[] = u"\\Program Files\\Sorvel\\Sorvel.exe.old";
constexpr char16_t kUrl[] = u"http://127.0.0.1/Sorvel.exe";
constexpr char16_t kUpdated[] = u"자동 업데이트를 성공했습니다.";
constexpr char16_t kNotUpdated[] = u"자동 업데이트를 실패하였습니다. 다시 실행하세요.";
const std::string kOldProgram = "the installed program";

std::string Hex(const Sha256Digest& digest) {
  std::ostringstream out;
  for (std::uint8_t b : digest) out << std::hex << std::setw(2) << std::setfill('0') << int{b};
  return out.str();
}

std::string Sha256Hex(const std::string& bytes) {
  Sha256 hash;
  hash.Update(bytes.data(), bytes.size());
  Sha256Digest digest{};
  EXPECT_TRUE(hash.Finish(&digest));
  return Hex(digest);
}

constexpr std::uint16_t kOtherMachine = kOwnMachine == 0x8664 ? 0x014C : 0x8664;

// The headers of a program file as the checks read them, then `body`.
struct Image {
  std::uint16_t machine = kOwnMachine;
  std::uint16_t characteristics = 0x0022;  // executable image, large-address aware
  std::uint16_t magic = OptionalHeaderMagic(kOwnMachine);
  std::uint32_t newHeader = 0x80;
  std::string body = std::string(3000, 'n');
};

void Put(std::string& bytes, std::size_t at, std::uint32_t value, int size) {
  for (int i = 0; i < size; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

std::string Program(const Image& image = {}) {
  constexpr std::uint16_t kOptionalSize = 240;
  std::string bytes(image.newHeader + 24 + kOptionalSize, '\0');
  bytes[0] = 'M';
  bytes[1] = 'Z';
  Put(bytes, 0x3C, image.newHeader, 4);
  bytes.replace(image.newHeader, 4, std::string("PE\0\0", 4));
  Put(bytes, image.newHeader + 4, image.machine, 2);
  Put(bytes, image.newHeader + 4 + 16, kOptionalSize, 2);
  Put(bytes, image.newHeader + 4 + 18, image.characteristics, 2);
  Put(bytes, image.newHeader + 24, image.magic, 2);
  return bytes + image.body;
}

constexpr std::uint16_t kOtherElfMachine = kOwnElfMachine == 62 ? 183 : 62;
constexpr std::uint16_t kElf386 = 3;

// An ELF file as the checks read it: the header, the program headers, a dynamic section, then
// `body`. By default a PIE program for this machine.
struct ElfImage {
  std::uint16_t machine = kOwnElfMachine;
  std::uint8_t elfClass = ElfClass(kOwnElfMachine);
  std::uint8_t data = 1;   // little-endian
  std::uint16_t type = 3;  // ET_DYN
  std::uint64_t entry = 0x1040;
  bool interpreter = true;     // PT_INTERP
  bool dynamic = true;         // PT_DYNAMIC
  std::uint64_t flags1 = 0x1;  // DT_FLAGS_1: DF_1_NOW; 0x08000000 is DF_1_PIE
  std::int32_t segmentSizeDelta = 0;
  std::uint64_t segmentsAt = 0;  // 0: right after the header
  std::string body = std::string(3000, 'e');
};

std::string ElfProgram(const ElfImage& image = {}) {
  const bool wide = image.elfClass == 2;
  const std::size_t headerSize = wide ? 64 : 52, address = wide ? 8 : 4;
  const std::size_t segmentSize = (wide ? 56 : 32) + image.segmentSizeDelta;
  std::vector<std::uint32_t> kinds = {6, 1};  // PT_PHDR, PT_LOAD
  if (image.interpreter) kinds.insert(kinds.begin() + 1, 3);
  if (image.dynamic) kinds.push_back(2);
  const std::size_t segmentsAt = image.segmentsAt != 0 ? image.segmentsAt : headerSize;
  const std::size_t dynamicAt = segmentsAt + kinds.size() * segmentSize + 24;
  const std::size_t entrySize = 2 * address;
  std::string bytes(dynamicAt + 3 * entrySize, '\0');
  bytes.replace(0, 4,
                "\x7F"
                "ELF");
  bytes[4] = static_cast<char>(image.elfClass);
  bytes[5] = static_cast<char>(image.data);
  bytes[6] = 1;
  auto put = [&bytes](std::size_t at, std::uint64_t value, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
  };
  put(16, image.type, 2);
  put(18, image.machine, 2);
  put(20, 1, 4);
  put(24, image.entry, address);
  put(24 + address, segmentsAt, address);
  const std::size_t sizes = 24 + 3 * address + 4;
  put(sizes, headerSize, 2);
  put(sizes + 2, segmentSize, 2);
  put(sizes + 4, kinds.size(), 2);
  for (std::size_t i = 0; i < kinds.size(); ++i) {
    const std::size_t at = segmentsAt + i * segmentSize;
    put(at, kinds[i], 4);
    if (kinds[i] != 2) continue;
    put(at + (wide ? 8 : 4), dynamicAt, address);        // p_offset
    put(at + (wide ? 32 : 16), 3 * entrySize, address);  // p_filesz
  }
  put(dynamicAt, 1, address);  // DT_NEEDED
  put(dynamicAt + entrySize, 0x6FFFFFFB, address);
  put(dynamicAt + entrySize + address, image.flags1, address);
  return bytes + image.body;  // DT_NULL ends the entries
}

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The file of a shared library this process has loaded.
std::string LoadedLibrary(const std::string& name) {
  std::ifstream maps("/proc/self/maps");
  for (std::string line; std::getline(maps, line);) {
    const std::size_t at = line.find('/');
    if (at != std::string::npos && line.find(name, at) != std::string::npos) {
      return line.substr(at);
    }
  }
  return std::string();
}

class ProgramFileTest : public ::testing::Test {
 protected:
  ProgramFileTest() : root_(MakeTempFolder()), files_(root_) {}
  ~ProgramFileTest() override { std::filesystem::remove_all(root_); }

  std::string root_;
  SimFileSystem files_;
};

TEST_F(ProgramFileTest, FileHashIsStreamedInChunks) {
  std::string bytes;
  for (int i = 0; i < 10000; ++i) bytes.push_back(static_cast<char>(i * 7));
  files_.SetBytes(u"\\f.bin", bytes);
  Sha256Digest digest{};
  ASSERT_TRUE(FileSha256(files_, u"\\f.bin", &digest));
  EXPECT_EQ(Hex(digest), Sha256Hex(bytes));
  EXPECT_FALSE(FileSha256(files_, u"\\missing.bin", &digest));
  EXPECT_EQ(files_.OpenFileCount(), 0u);
}

TEST_F(ProgramFileTest, AnnouncedHashIsSixtyFourHexDigits) {
  const std::string lower = Sha256Hex("abc");
  std::string upper = lower;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  struct Case {
    std::string text;
    bool ok;
  };
  const Case cases[] = {
      {lower, true},        {upper, true},        {lower.substr(1), false},
      {lower + "0", false}, {" " + lower, false}, {lower.substr(0, 63) + "g", false},
      {"", false},
  };
  for (const Case& c : cases) {
    Sha256Digest digest{};
    EXPECT_EQ(ParseSha256(FromUtf8(c.text), &digest), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(Hex(digest), lower);
    }
  }
}

TEST_F(ProgramFileTest, OnlyAProgramForThisMachineIsAccepted) {
  Image dll, notExecutable, otherMagic, farHeader, earlyHeader;
  dll.characteristics |= 0x2000;
  notExecutable.characteristics = 0x0020;
  otherMagic.magic = OptionalHeaderMagic(kOwnMachine) == 0x20B ? 0x10B : 0x20B;
  farHeader.newHeader = 5000;  // beyond the first chunk read
  earlyHeader.newHeader = 0x20;
  Image otherMachine;
  otherMachine.machine = kOtherMachine;
  std::string noSignature = Program();
  noSignature[0x81] = 'X';
  std::string notMz = Program();
  notMz[0] = 'Z';
  struct Case {
    const char* name;
    std::string bytes;
    bool accepted;
  };
  const Case cases[] = {
      {"program", Program(), true},
      {"headers far into the file", Program(farHeader), true},
      {"other machine", Program(otherMachine), false},
      {"library", Program(dll), false},
      {"not executable", Program(notExecutable), false},
      {"other optional header", Program(otherMagic), false},
      {"header inside the DOS header", Program(earlyHeader), false},
      {"no PE signature", noSignature, false},
      {"no MZ", notMz, false},
      {"cut in the headers", Program().substr(0, 0x90), false},
      {"header pointer past the end", Program().substr(0, 0x7F), false},
      {"web page", "<html><body>Not Found</body></html>", false},
      {"empty", "", false},
  };
  for (const Case& c : cases) {
    files_.SetBytes(u"\\im.exe", c.bytes);
    EXPECT_EQ(IsProgramForMachine(files_, u"\\im.exe", kOwnMachine), c.accepted) << c.name;
  }
  EXPECT_FALSE(IsProgramForMachine(files_, u"\\missing.exe", kOwnMachine));
  EXPECT_EQ(files_.OpenFileCount(), 0u);
}

TEST_F(ProgramFileTest, OnlyAnElfProgramForThisMachineIsAccepted) {
  ElfImage fixed, staticPie, library, bare, object, core, otherMachine, otherClass, bigEndian,
      noEntry, badSegmentSize, farSegments, earlySegments, elf386;
  fixed.type = 2;
  fixed.interpreter = fixed.dynamic = false;
  staticPie.interpreter = false;
  staticPie.flags1 = 0x08000001;
  library.interpreter = false;
  bare.interpreter = bare.dynamic = false;
  object.type = 1;
  core.type = 4;
  otherMachine.machine = kOtherElfMachine;
  otherClass.elfClass = ElfClass(kOwnElfMachine) == 2 ? 1 : 2;
  bigEndian.data = 2;
  noEntry.entry = 0;
  badSegmentSize.segmentSizeDelta = 8;
  farSegments.segmentsAt = 6000;  // beyond the first chunk read
  earlySegments.segmentsAt = 16;
  elf386.machine = kElf386;
  elf386.elfClass = 1;
  ElfImage elf386Library = elf386;
  elf386Library.interpreter = false;
  const std::string program = ElfProgram();
  const std::size_t headerSize = ElfClass(kOwnElfMachine) == 2 ? 64 : 52;
  struct Case {
    const char* name;
    std::string bytes;
    bool accepted;
    std::uint16_t machine = kOwnElfMachine;
  };
  const Case cases[] = {
      {"PIE program", program, true},
      {"fixed-address program", ElfProgram(fixed), true},
      {"static PIE program", ElfProgram(staticPie), true},
      {"program headers far into the file", ElfProgram(farSegments), true},
      {"32-bit program", ElfProgram(elf386), true, kElf386},
      {"32-bit library", ElfProgram(elf386Library), false, kElf386},
      {"shared library", ElfProgram(library), false},
      {"no interpreter, no dynamic section", ElfProgram(bare), false},
      {"object file", ElfProgram(object), false},
      {"core file", ElfProgram(core), false},
      {"other machine", ElfProgram(otherMachine), false},
      {"other class", ElfProgram(otherClass), false},
      {"big-endian", ElfProgram(bigEndian), false},
      {"no entry point", ElfProgram(noEntry), false},
      {"other program header size", ElfProgram(badSegmentSize), false},
      {"program headers inside the header", ElfProgram(earlySegments), false},
      {"cut in the header", program.substr(0, headerSize - 1), false},
      {"cut in the program headers", program.substr(0, headerSize + 10), false},
      {"static PIE cut in its dynamic section",
       ElfProgram(staticPie).substr(0, ElfProgram(staticPie).size() - 3000 - 10), false},
      {"Windows program", Program(), false},
      {"web page", "<html><body>Not Found</body></html>", false},
      {"empty", "", false},
  };
  for (const Case& c : cases) {
    files_.SetBytes(u"\\im.exe", c.bytes);
    EXPECT_EQ(IsElfProgramForMachine(files_, u"\\im.exe", c.machine), c.accepted) << c.name;
  }
  EXPECT_FALSE(IsElfProgramForMachine(files_, u"\\missing", kOwnElfMachine));
  EXPECT_EQ(files_.OpenFileCount(), 0u);
}

// What the linker made: this test program is a program; the C++ library it loaded is not, nor
// is the dynamic loader, a library with an entry point.
TEST_F(ProgramFileTest, RealElfFilesAreToldApart) {
  const std::string library = LoadedLibrary("libstdc++"), loader = LoadedLibrary("/ld-linux");
  ASSERT_FALSE(library.empty());
  ASSERT_FALSE(loader.empty());
  struct Case {
    std::string path;
    bool accepted;
  };
  const Case cases[] = {{"/proc/self/exe", true}, {library, false}, {loader, false}};
  for (const Case& c : cases) {
    const std::string bytes = FileBytes(c.path);
    ASSERT_GT(bytes.size(), 1000u) << c.path;
    files_.SetBytes(u"\\f", bytes);
    EXPECT_EQ(IsElfProgramForMachine(files_, u"\\f", kOwnElfMachine), c.accepted) << c.path;
    EXPECT_FALSE(IsProgramForMachine(files_, u"\\f", kOwnMachine)) << c.path;
  }
}

TEST_F(ProgramFileTest, EachFormatTakesItsOwnKindOfProgram) {
  struct Case {
    ProgramFormat format;
    std::string bytes;
    bool accepted;
  };
  const Case cases[] = {
      {ProgramFormat::kWindows, Program(), true},
      {ProgramFormat::kWindows, ElfProgram(), false},
      {ProgramFormat::kElf, ElfProgram(), true},
      {ProgramFormat::kElf, Program(), false},
  };
  for (const Case& c : cases) {
    files_.SetBytes(u"\\im.exe", c.bytes);
    EXPECT_EQ(IsProgramForThisMachine(files_, u"\\im.exe", c.format), c.accepted)
        << static_cast<int>(c.format) << " " << c.bytes.substr(0, 2);
  }
}

// The updater beside an installed 1.0.1.1 host; the new program is 1.0.2.0.
class UpdaterTest : public HostTest {
 protected:
  UpdaterTest() {
    device_.GetConfig().modulePath = kModule;
    files_.SetBytes(kTarget, kOldProgram);
    device_.SetProgramVersion(kOldProgram, 0x0001'0000'0001'0001);
    device_.SetProgramVersion(program_, 0x0001'0000'0002'0000);
    // The host that comes up claims its name.
    device_.InstallProgram(kTarget, [this](SimDevice& device, int) {
      startedBytes_.push_back(files_.Bytes(kTarget));
      boxesAtStart_.push_back(device.MessageBoxes().size());
      if (files_.Bytes(kTarget) == program_ && comesUp_) device.HoldInstanceName(u"Sorvel3");
    });
  }

  SignedProgram Signed(const std::string& bytes, FileVersion version = 0x0001'0000'0002'0000) {
    SignedProgram program;
    program.downloadUrl = kUrl;
    program.size = bytes.size();
    EXPECT_TRUE(FileSha256(files_, Put(bytes), &program.sha256));
    program.version = version;
    return program;
  }
  Text Put(const std::string& bytes) {
    files_.SetBytes(u"\\scratch", bytes);
    return u"\\scratch";
  }
  void Describe(const SignedProgram& program) {
    files_.Remove(kDescription);
    ASSERT_TRUE(WriteUpdateDescription(files_, kDescription, u"Sorvel.exe", program));
  }
  void Serve(const std::string& body, std::size_t chunk = 1000) {
    device_.ServeUrl(kUrl, {body, body.size(), 0, chunk});
  }

  // Runs the dialog modally; at each idle step `step` acts, then the clock moves 50 ms. The run
  // must end within 30 s.
  int Run(const std::function<void(HWND dialog, std::uint64_t elapsed)>& step = nullptr) {
    CUpdateDlg dialog(device_, nullptr);
    const std::uint64_t start = device_.Now();
    device_.SetIdleScript([&](SimDevice& device) {
      if (device.Now() - start >= 30000) return false;
      if (step) step(dialog.GetSafeHwnd(), device.Now() - start);
      device.RunWorkers();
      device.AdvanceTime(50);
      return true;
    });
    int result = dialog.DoModal();
    device_.SetIdleScript(nullptr);
    EXPECT_FALSE(device_.ModalLoopStalled()) << "the dialog did not end";
    return result;
  }
  void ExpectLastBox(const Text& text) {
    ASSERT_FALSE(device_.MessageBoxes().empty());
    const SimMessageBox& box = device_.MessageBoxes().back();
    EXPECT_EQ(box.text, text);
    EXPECT_EQ(box.caption, u"SorvelUpdate");
    EXPECT_EQ(box.buttons, MessageBoxButtons::kOk);
  }

  const std::string program_ = Program();
  bool comesUp_ = true;
  std::vector<std::string> startedBytes_;
  std::vector<std::size_t> boxesAtStart_;
};

TEST_F(UpdaterTest, OpensCentredAtTemplateSizeAndWaitsASecond) {
  Describe(Signed(program_));
  CUpdateDlg dialog(device_, nullptr);
  HWND hwnd = dialog.Create();
  // 101 x 26 dialog units and the caption, centred on a 240 x 320 screen.
  EXPECT_EQ(device_.GetWindowRect(hwnd), (Rect{44, 126, 44 + 151, 126 + 42 + 26}));
  EXPECT_EQ(device_.GetWindowText(hwnd), u"Auto Downloader");

  device_.AdvanceTime(999);
  EXPECT_TRUE(device_.RequestedUrls().empty());
  device_.AdvanceTime(1);
  EXPECT_EQ(device_.RequestedUrls().size(), 1u);
  EXPECT_FALSE(device_.HasTimer(hwnd, CUpdateDlg::kStartTimer));
}

// The new program is started in place of the old one, and only once it has come up is the
// old one gone and the success told.
TEST_F(UpdaterTest, ReplacesTheProgramStartsItAndTellsOnceItCameUp) {
  Serve(program_);
  struct Case {
    const char* name;
    bool oldThere;
  };
  for (const Case& c : {Case{"over the old program", true}, Case{"no program there yet", false}}) {
    SCOPED_TRACE(c.name);
    device_.ReleaseInstanceNames();
    startedBytes_.clear();
    boxesAtStart_.clear();
    files_.Remove(kTarget);
    if (c.oldThere) files_.SetBytes(kTarget, kOldProgram);
    Describe(Signed(program_));
    const std::size_t boxes = device_.MessageBoxes().size();
    EXPECT_EQ(Run(), 1);
    EXPECT_TRUE(files_.Bytes(kTarget) == program_);
    EXPECT_FALSE(files_.FileExists(kTemp));
    EXPECT_FALSE(files_.FileExists(kKept));
    ASSERT_EQ(startedBytes_.size(), 1u);
    EXPECT_TRUE(startedBytes_[0] == program_);
    EXPECT_EQ(boxesAtStart_[0], boxes);
    EXPECT_EQ(device_.MessageBoxes().size(), boxes + 1);
    ExpectLastBox(kUpdated);
  }
}

// Whatever the signed description does not vouch for is refused: the old program stays, byte
// for byte, and nothing is started.
TEST_F(UpdaterTest, RefusedDownloadsLeaveTheProgramAndStartNothing) {
  Image otherMachine;
  otherMachine.machine = kOtherMachine;
  const std::string other = Program(otherMachine);
  device_.SetProgramVersion(other, 0x0001'0000'0002'0000);
  Image unversioned;
  unversioned.body += "unversioned";
  const std::string cut = program_.substr(0, program_.size() / 2);
  SignedProgram otherHash = Signed(program_), longer = Signed(program_), shorter = Signed(program_);
  otherHash.sha256[0] ^= 1;
  longer.size += 1;
  shorter.size -= 1;
  struct Case {
    const char* name;
    std::string body;
    std::int32_t result;  // negative: the transfer fails after the body
    SignedProgram described;
    bool downloads;
    std::uint64_t announced = 0;  // the announced length; 0: none
    bool closed = false;          // the dialog is closed while the transfer runs
  };
  HWND dialog = nullptr;
  const Case cases[] = {
      {"not found", "", -1, Signed(program_), true},
      {"announced beyond the signed size", program_, 0, Signed(program_), true,
       program_.size() + 1},
      {"closed meanwhile", program_, 0, Signed(program_), true, 0, true},
      {"cut short without a length", cut, 0, Signed(program_), true},
      {"other hash", program_, 0, otherHash, true},
      {"size one more than signed", program_, 0, longer, true},
      {"size one less than signed", program_, 0, shorter, true},
      {"other machine", other, 0, Signed(other), true},
      {"version other than signed", program_, 0, Signed(program_, 0x0001'0000'0003'0000), true},
      {"no version", Program(unversioned), 0, Signed(Program(unversioned)), true},
      {"web page", "<html></html>", 0, Signed("<html></html>"), true},
      {"not newer than installed", program_, 0, Signed(program_, 0x0001'0000'0001'0001), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    files_.Remove(kTemp);
    device_.ServeUrl(kUrl, {c.body, c.announced, c.result, 1000});
    device_.DuringNextDownload(
        c.closed ? std::function<void()>([&] { device_.RequestClose(dialog); }) : nullptr);
    Describe(c.described);
    const std::size_t requests = device_.RequestedUrls().size();
    EXPECT_EQ(Run([&](HWND hwnd, std::uint64_t) { dialog = hwnd; }), 1);
    EXPECT_EQ(device_.RequestedUrls().size(), requests + (c.downloads ? 1 : 0));
    EXPECT_EQ(files_.Bytes(kTarget), kOldProgram);
    EXPECT_FALSE(files_.FileExists(kKept));
    ExpectLastBox(kNotUpdated);
    EXPECT_TRUE(device_.StartedPrograms().empty());
    EXPECT_EQ(files_.OpenFileCount(), 0u);
  }
}

// A new program that never comes up (it crashes at start) is replaced by the old one, byte for
// byte, which is started again.
TEST_F(UpdaterTest, ANewProgramThatDoesNotComeUpIsRolledBack) {
  comesUp_ = false;
  Serve(program_);
  Describe(Signed(program_));
  std::uint64_t ended = 0;
  EXPECT_EQ(Run([&](HWND, std::uint64_t elapsed) { ended = elapsed + 50; }), 1);
  EXPECT_EQ(files_.Bytes(kTarget), kOldProgram);
  EXPECT_FALSE(files_.FileExists(kKept));
  ASSERT_EQ(startedBytes_.size(), 2u);
  EXPECT_TRUE(startedBytes_[0] == program_);
  EXPECT_EQ(startedBytes_[1], kOldProgram);
  ExpectLastBox(kNotUpdated);
  EXPECT_EQ(device_.MessageBoxes().size(), 1u);
  // The download a second in, then ten seconds of waiting.
  EXPECT_GE(ended, 11000u);
  EXPECT_LE(ended, 11500u);
}

// The old program still running holds the host's name: the new one starts once it has ended.
TEST_F(UpdaterTest, TheNewProgramStartsOnceTheOldOneHasEnded) {
  Serve(program_);
  Describe(Signed(program_));
  device_.HoldInstanceName(u"Sorvel3");
  const std::uint64_t start = device_.Now();
  EXPECT_EQ(Run([&](HWND, std::uint64_t elapsed) {
              if (elapsed == 3000) device_.ReleaseInstanceNames();
            }),
            1);
  ASSERT_EQ(device_.StartTimes().size(), 1u);
  EXPECT_GE(device_.StartTimes()[0] - start, 3000u);
  EXPECT_LE(device_.StartTimes()[0] - start, 3300u);
  ExpectLastBox(kUpdated);
}

// Without a description from the host, the updater reads the signed manifest itself; an
// unsigned one downloads nothing.
TEST_F(UpdaterTest, WithoutADescriptionTheSignedManifestDecides) {
  const std::string manifest =
      Utf16LeBytes(u"[Update]\r\nVersion=1.0.2.0\r\nKind=automatic\r\n[Windows-x64]\r\nDownName=" +
                   Text(kUrl) + u"\r\nSize=" + FromUtf8(std::to_string(program_.size())) +
                   u"\r\nSha256=" + FormatSha256(Signed(program_).sha256) + u"\r\n");
  test::P256KeyPair key;
  ASSERT_TRUE(test::TestUpdateKey(&key));
  P256Signature signature{};
  ASSERT_TRUE(test::SignP256(key, manifest.data(), manifest.size(), &signature));
  std::string good(signature.begin(), signature.end()), bad = good;
  bad[5] ^= 1;
  Serve(program_);
  for (const std::string* served : {&bad, &good}) {
    SCOPED_TRACE(served == &good ? "signed" : "signature broken");
    device_.ReleaseInstanceNames();
    files_.Remove(kDescription);
    device_.ServeUrl(kDefaultCheckUrl, {manifest});
    device_.ServeUrl(SignatureUrl(kDefaultCheckUrl), {*served});
    const std::size_t requests = device_.RequestedUrls().size();
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(files_.Bytes(kDescription),
              Utf16LeBytes(u"[Download]\r\nDownName=https://download.sorvel.example/Sorvel.exe\r\n"
                           u"MainName=Sorvel.exe\r\n"));
    std::vector<Text> asked(device_.RequestedUrls().begin() + requests,
                            device_.RequestedUrls().end());
    std::vector<Text> expected = {kDefaultCheckUrl, SignatureUrl(kDefaultCheckUrl)};
    if (served == &good) expected.push_back(kUrl);
    EXPECT_EQ(asked, expected);
    ExpectLastBox(served == &good ? kUpdated : kNotUpdated);
    EXPECT_TRUE(files_.Bytes(kTarget) == (served == &good ? program_ : kOldProgram))
        << ToUtf8(files_.DebugText());
  }
}

TEST_F(UpdaterTest, ProgressIsTheReceivedShareInWholePercent) {
  Image padded;
  padded.body.resize(padded.body.size() + (3 - Program().size() % 3) % 3);
  const std::string program = Program(padded);  // a multiple of 3 bytes
  ASSERT_EQ(program.size() % 3, 0u);
  device_.SetProgramVersion(program, 0x0001'0000'0002'0000);
  struct Case {
    std::uint64_t total;
    std::size_t chunk;
    std::vector<int> positions;
  };
  const Case cases[] = {
      {0, 100, {0}},
      {program.size(), program.size() / 3, {33, 66, 100}},
      {program.size(), program.size(), {100}},
  };
  for (const Case& c : cases) {
    files_.SetBytes(kTarget, kOldProgram);
    Describe(Signed(program));
    device_.ServeUrl(kUrl, {program, c.total, 0, c.chunk});
    std::vector<int> positions;
    device_.InstallProgram(kTarget, [&](SimDevice& device, int) {
      HWND dialog = device.FindWindow(kPortableDialogClass, u"Auto Downloader");
      positions = device.Window(device.GetDlgItem(dialog, 1003)).progressPositions;
      device.HoldInstanceName(u"Sorvel3");
    });
    device_.ReleaseInstanceNames();
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(positions, c.positions) << "total " << c.total;
    EXPECT_TRUE(files_.Bytes(kTarget) == program);
  }
}

// The old program may still hold its file for a while after it has started the updater; the
// dialog keeps answering meanwhile, and a tap starts nothing new.
TEST_F(UpdaterTest, ReplacementWaitsUpToTenSecondsForTheOldProgramsFile) {
  Serve(program_);
  constexpr std::uint64_t kNever = ~std::uint64_t{0};
  struct Case {
    const char* name;
    std::uint64_t letGoAt;
  };
  const Case cases[] = {{"lets go", 1900}, {"holds on", kNever}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    device_.ReleaseInstanceNames();
    files_.SetBytes(kTarget, kOldProgram);
    Describe(Signed(program_));
    FileHandle held = files_.OpenForRead(kTarget);
    ASSERT_NE(held, nullptr);
    const std::size_t requests = device_.RequestedUrls().size();
    EXPECT_EQ(Run([&](HWND dialog, std::uint64_t elapsed) {
                if (held != nullptr && elapsed == c.letGoAt) {
                  files_.Close(held);
                  held = nullptr;
                }
                if (elapsed == 1500) device_.PostCommand(dialog, kIdFileDownload);
              }),
              1);
    if (held != nullptr) files_.Close(held);
    EXPECT_EQ(device_.RequestedUrls().size(), requests + 1);
    const bool replaced = c.letGoAt != kNever;
    EXPECT_TRUE(files_.Bytes(kTarget) == (replaced ? program_ : kOldProgram));
    EXPECT_EQ(files_.FileExists(kTemp), !replaced);
    ExpectLastBox(replaced ? kUpdated : kNotUpdated);
  }
}

TEST_F(UpdaterTest, RootFolderProgramUsesRootPaths) {
  Serve(program_);
  for (const char16_t* module : {u"\\SorvelUpdate.exe", u"SorvelUpdate.exe"}) {
    SCOPED_TRACE(ToUtf8(module));
    device_.ReleaseInstanceNames();
    device_.GetConfig().modulePath = module;
    files_.SetBytes(u"\\Sorvel.exe", kOldProgram);
    files_.Remove(u"\\Download.ini");
    ASSERT_TRUE(WriteUpdateDescription(files_, u"\\Download.ini", u"Sorvel.exe", Signed(program_)));
    device_.InstallProgram(u"\\Sorvel.exe",
                           [&](SimDevice& device, int) { device.HoldInstanceName(u"Sorvel3"); });
    EXPECT_EQ(Run(), 1);
    EXPECT_TRUE(files_.Bytes(u"\\Sorvel.exe") == program_);
    EXPECT_EQ(device_.StartedPrograms().back(), u"\\Sorvel.exe");
    EXPECT_FALSE(files_.FileExists(u"\\im.exe"));
  }
}

// A second updater would download into the same file and replace the same program: it ends at
// once, showing nothing.
TEST_F(UpdaterTest, OneUpdaterAtATime) {
  Serve(program_);
  Describe(Signed(program_));
  for (bool another : {true, false}) {
    SCOPED_TRACE(another ? "another runs" : "alone");
    device_.ReleaseInstanceNames();
    if (another) device_.HoldInstanceName(u"SorvelUpdate");
    int dialogs = 0;
    device_.SetIdleScript([&](SimDevice& device) {
      dialogs += device.FindWindow(kPortableDialogClass, u"Auto Downloader") != nullptr;
      device.RunWorkers();
      device.AdvanceTime(50);
      return device.Now() < 30000;
    });
    CUpdateApp app(device_);
    app.Run();
    device_.SetIdleScript(nullptr);
    EXPECT_EQ(dialogs > 0, !another);
    EXPECT_EQ(device_.RequestedUrls().empty(), another);
  }
}

TEST_F(UpdaterTest, CreateFileCommandRewritesBothKeysKeepingTheRest) {
  files_.SetBytes(kDescription,
                  Utf16LeBytes(u"[Other]\r\nKey=1\r\n[Download]\r\nMainName=old.exe\r\n"
                               u"DownName=http://old\r\nExtra=2\r\n"));
  EXPECT_EQ(Run([&](HWND dialog, std::uint64_t elapsed) {
              if (elapsed == 0) device_.PostCommand(dialog, kIdCreateFile);
            }),
            1);
  EXPECT_EQ(
      files_.Bytes(kDescription),
      Utf16LeBytes(u"[Other]\r\nKey=1\r\n[Download]\r\nMainName=Sorvel.exe\r\n"
                   u"DownName=https://www.sorvel.example/download/Sorvel.exe\r\nExtra=2\r\n"));
}

}  // namespace
}  // namespace sorvel
