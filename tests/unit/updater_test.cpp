#include <algorithm>
#include <cctype>
#include <fstream>
#include <iomanip>
#include <iterator>
#include <sstream>

#include "settings/profile.h"
#include "tests/unit/host_fixture.h"
#include "updater/program_file.h"
#include "updater/resources.h"
#include "updater/sha256.h"
#include "updater/update_dlg.h"

namespace sorvel {
namespace {

constexpr char16_t kModule[] = u"\\Program Files\\Sorvel\\SorvelUpdate.exe";
constexpr char16_t kDescription[] = u"\\Program Files\\Sorvel\\Download.ini";
constexpr char16_t kTarget[] = u"\\Program Files\\Sorvel\\Sorvel.exe";
constexpr char16_t kTemp[] = u"\\Program Files\\Sorvel\\im.exe";
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
  return Hex(hash.Finish());
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

TEST(Sha256Test, StandardVectorsWholeAndInPieces) {
  struct Case {
    std::string message;
    const char* digest;
  };
  std::string varied;
  for (int i = 0; i < 1000; ++i) varied.push_back(static_cast<char>(i * 7));
  const Case cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {varied, "89f4ff56a25dd1db06a4ce6033603775d705fb96f30f8693733fef602a1ca532"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Case& c : cases) {
    for (std::size_t piece :
         {std::size_t{1}, std::size_t{55}, std::size_t{64}, std::size_t{65}, c.message.size()}) {
      if (piece == 0) piece = 1;
      Sha256 hash;
      for (std::size_t at = 0; at < c.message.size(); at += piece) {
        hash.Update(c.message.data() + at, std::min(piece, c.message.size() - at));
      }
      EXPECT_EQ(Hex(hash.Finish()), c.digest) << c.message.size() << " bytes by " << piece;
    }
  }
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

class UpdaterTest : public HostTest {
 protected:
  UpdaterTest() {
    device_.GetConfig().modulePath = kModule;
    files_.SetBytes(kTarget, kOldProgram);
  }

  void Describe(const Text& lines) {
    files_.SetBytes(kDescription, Utf16LeBytes(u"[Download]\r\n" + lines));
  }
  void Serve(const std::string& body, std::size_t chunk = 1000) {
    device_.ServeUrl(kUrl, {body, body.size(), 0, chunk});
  }

  // Runs the dialog modally; at each idle step `step` acts, then the clock moves 50 ms. The run
  // must end within 20 s.
  int Run(const std::function<void(HWND dialog, std::uint64_t elapsed)>& step = nullptr) {
    CUpdateDlg dialog(device_, nullptr);
    const std::uint64_t start = device_.Now();
    device_.SetIdleScript([&](SimDevice& device) {
      if (device.Now() - start >= 20000) return false;
      if (step) step(dialog.GetSafeHwnd(), device.Now() - start);
      device.AdvanceTime(50);
      return true;
    });
    int result = dialog.DoModal();
    device_.SetIdleScript(nullptr);
    EXPECT_FALSE(device_.ModalLoopStalled()) << "the dialog did not end";
    return result;
  }
  void PostCommand(HWND dialog, int id) {
    device_.PostMessage(dialog, kWmCommand, MakeWParam(static_cast<unsigned>(id), kBnClicked), 0);
  }
  void ExpectLastBox(const Text& text) {
    ASSERT_FALSE(device_.MessageBoxes().empty());
    const SimMessageBox& box = device_.MessageBoxes().back();
    EXPECT_EQ(box.text, text);
    EXPECT_EQ(box.caption, u"SorvelUpdate");
    EXPECT_EQ(box.type, static_cast<unsigned>(kMbOk));
  }
};

TEST_F(UpdaterTest, OpensCentredAtTemplateSizeAndWaitsASecond) {
  CUpdateDlg dialog(device_, nullptr);
  HWND hwnd = dialog.Create();
  // 101 x 26 dialog units and the caption, centred on a 240 x 320 screen.
  EXPECT_EQ(device_.GetWindowRect(hwnd), (Rect{44, 126, 44 + 151, 126 + 42 + 26}));
  EXPECT_EQ(device_.GetWindowText(hwnd), u"Auto Downloader");
  HICON icon = device_.LoadIcon(128);
  EXPECT_EQ(device_.Window(hwnd).bigIcon, icon);
  EXPECT_EQ(device_.Window(hwnd).smallIcon, icon);
  // Only the progress bar shows.
  EXPECT_TRUE(device_.IsWindowVisible(device_.GetDlgItem(hwnd, 1003)));
  EXPECT_FALSE(device_.IsWindowVisible(device_.GetDlgItem(hwnd, 1002)));
  EXPECT_FALSE(device_.IsWindowVisible(device_.GetDlgItem(hwnd, 1004)));

  device_.AdvanceTime(999);
  EXPECT_TRUE(device_.RequestedUrls().empty());
  device_.AdvanceTime(1);
  EXPECT_EQ(device_.RequestedUrls().size(), 1u);
  EXPECT_FALSE(device_.HasTimer(hwnd, CUpdateDlg::kStartTimer));
}

TEST_F(UpdaterTest, FirstRunWithoutDescriptionWritesTheDefaultsAndFails) {
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(files_.Bytes(kDescription),
            Utf16LeBytes(u"[Download]\r\nDownName=http://download.sorvel.example/Sorvel.exe\r\n"
                         u"MainName=sorvel.exe\r\n"));
  // The empty address of the unread description.
  EXPECT_EQ(device_.RequestedUrls(), std::vector<Text>{u""});
  EXPECT_EQ(device_.MessageBoxes().size(), 1u);
  ExpectLastBox(kNotUpdated);
  EXPECT_TRUE(device_.StartedPrograms().empty());
  EXPECT_EQ(files_.Bytes(kTarget), kOldProgram);
}

TEST_F(UpdaterTest, ReplacesTheProgramThenTellsThenStartsIt) {
  const std::string program = Program();
  struct Case {
    const char* name;
    Text lines;
    const char16_t* target;
  };
  const Case cases[] = {
      {"no hash", u"MainName=Sorvel.exe\r\n", kTarget},
      {"hash", u"MainName=Sorvel.exe\r\nSha256=" + FromUtf8(Sha256Hex(program)) + u"\r\n", kTarget},
      {"main program not there yet", u"MainName=New.exe\r\n", u"\\Program Files\\Sorvel\\New.exe"},
  };
  Serve(program);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    files_.SetBytes(kTarget, kOldProgram);
    Describe(Text(u"DownName=") + kUrl + u"\r\n" + c.lines);
    const std::size_t boxes = device_.MessageBoxes().size();
    std::size_t boxesAtStart = 0;
    std::string startedBytes;
    device_.InstallProgram(c.target, [&](SimDevice& device, int) {
      boxesAtStart = device.MessageBoxes().size();
      startedBytes = files_.Bytes(c.target);
    });
    EXPECT_EQ(Run(), 1);
    EXPECT_TRUE(files_.Bytes(c.target) == program);
    EXPECT_FALSE(files_.FileExists(kTemp));
    EXPECT_EQ(device_.StartedPrograms().back(), c.target);
    // The message came first, with the new program already in place.
    EXPECT_EQ(boxesAtStart, boxes + 1);
    EXPECT_TRUE(startedBytes == program);
    ExpectLastBox(kUpdated);
    if (Text(c.target) != kTarget) {
      EXPECT_EQ(files_.Bytes(kTarget), kOldProgram);
    }
  }
}

TEST_F(UpdaterTest, RefusedDownloadsLeaveTheProgramAndStartNothing) {
  const std::string program = Program();
  Image otherMachine, library;
  otherMachine.machine = kOtherMachine;
  library.characteristics |= 0x2000;
  const Text ownHash = FromUtf8(Sha256Hex(program));
  Text otherHash = ownHash;
  otherHash[0] = otherHash[0] == u'0' ? u'1' : u'0';
  HWND dialog = nullptr;
  const Text missing = u"http://127.0.0.1/missing.exe";
  struct Case {
    const char* name;
    std::string body;
    std::int32_t result;  // negative: the transfer fails after the body
    bool served;
    Text hash;
    std::string kept;  // what the temporary file holds afterwards, when served
    Text url = kUrl;
    std::uint64_t total = 0;  // the announced length; 0: the body's
    std::function<void()> midway = nullptr;
  };
  const Case cases[] = {
      {"not found", "", 0, false, u"", "", missing},
      {"short body", program.substr(0, 500), -1, true, u"", program.substr(0, 500)},
      {"web page", "<html><body>Update</body></html>", 0, true, u"",
       "<html><body>Update</body></html>"},
      {"other machine", Program(otherMachine), 0, true, u"", Program(otherMachine)},
      {"library", Program(library), 0, true, u"", Program(library)},
      {"other hash", program, 0, true, otherHash, program},
      {"malformed hash", program, 0, true, ownHash.substr(0, 63), program},
      {"not a web address", program, 0, false, u"", "", u"file:///Program Files/Sorvel.exe"},
      {"announced beyond the limit", program, 0, false, u"", "", kUrl, 70 * 1024 * 1024},
      // Closing the dialog stops the transfer after the piece in hand.
      {"closed meanwhile", program, 0, true, u"", program.substr(0, 1000), kUrl, 0,
       [&] { device_.PostMessage(dialog, kWmClose, 0, 0); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    files_.Remove(kTemp);
    SimDownload served{c.body, c.total == 0 ? program.size() : c.total, c.result, 1000};
    device_.ServeUrl(kUrl, served);
    // Served however strange the address: the platform is to refuse it.
    if (c.url != missing) device_.ServeUrl(c.url, served);
    device_.DuringNextDownload(c.midway);
    Describe(u"DownName=" + c.url + u"\r\nMainName=Sorvel.exe\r\n" +
             (c.hash.empty() ? Text() : u"Sha256=" + c.hash + u"\r\n"));
    EXPECT_EQ(Run([&](HWND hwnd, std::uint64_t) { dialog = hwnd; }), 1);
    EXPECT_EQ(device_.RequestedUrls().back(), c.url);
    EXPECT_EQ(files_.Bytes(kTarget), kOldProgram);
    // What came is left as it came.
    EXPECT_EQ(files_.FileExists(kTemp), c.served);
    if (c.served) {
      EXPECT_TRUE(files_.Bytes(kTemp) == c.kept);
    }
    ExpectLastBox(kNotUpdated);
    EXPECT_TRUE(device_.StartedPrograms().empty());
    EXPECT_EQ(files_.OpenFileCount(), 0u);
  }
  EXPECT_EQ(device_.MessageBoxes().size(), std::size(cases));
}

// Where programs are ELF files, an ELF program for this machine replaces the host's file and a
// Windows one is refused; a first run names the native host.
TEST_F(UpdaterTest, ElfPlatformTakesAnElfProgram) {
  device_.GetConfig().programFormat = ProgramFormat::kElf;
  device_.GetConfig().modulePath = u"\\Program Files\\Sorvel\\sorvel-update";
  constexpr char16_t kElfTarget[] = u"\\Program Files\\Sorvel\\sorvel";
  ElfImage otherMachine;
  otherMachine.machine = kOtherElfMachine;
  struct Case {
    const char* name;
    std::string body;
    bool replaced;
  };
  const Case cases[] = {
      {"ELF program", ElfProgram(), true},
      {"other machine", ElfProgram(otherMachine), false},
      {"Windows program", Program(), false},
  };
  files_.SetBytes(kDescription, Utf16LeBytes(Text(u"[Download]\r\nDownName=") + kUrl +
                                             u"\r\nMainName=sorvel\r\n"));
  device_.InstallProgram(kElfTarget, [](SimDevice&, int) {});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    files_.SetBytes(kElfTarget, kOldProgram);
    Serve(c.body);
    const std::size_t started = device_.StartedPrograms().size();
    EXPECT_EQ(Run(), 1);
    EXPECT_TRUE(files_.Bytes(kElfTarget) == (c.replaced ? c.body : kOldProgram));
    EXPECT_EQ(device_.StartedPrograms().size(), started + (c.replaced ? 1 : 0));
    ExpectLastBox(c.replaced ? kUpdated : kNotUpdated);
  }

  files_.Remove(kDescription);
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(files_.Bytes(kDescription),
            Utf16LeBytes(u"[Download]\r\nDownName=http://download.sorvel.example/Sorvel.exe\r\n"
                         u"MainName=sorvel\r\n"));
}

TEST_F(UpdaterTest, AddressIsTheDescribedOneCutTo259Units) {
  const Text longUrl = u"http://127.0.0.1/" + Text(300, u'x');
  struct Case {
    Text lines;
    Text requested;
  };
  const Case cases[] = {
      {u"MainName=Sorvel.exe\r\n", u"Default value"},
      {u"DownName=" + longUrl + u"\r\n", longUrl.substr(0, 259)},
  };
  for (const Case& c : cases) {
    Describe(c.lines);
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(device_.RequestedUrls().back(), c.requested);
    ExpectLastBox(kNotUpdated);
  }
}

TEST_F(UpdaterTest, RootFolderProgramUsesRootPaths) {
  const std::string program = Program();
  Serve(program);
  for (const char16_t* module : {u"\\SorvelUpdate.exe", u"SorvelUpdate.exe"}) {
    SCOPED_TRACE(ToUtf8(module));
    device_.GetConfig().modulePath = module;
    files_.SetBytes(u"\\Sorvel.exe", kOldProgram);
    files_.SetBytes(u"\\Download.ini", Utf16LeBytes(Text(u"[Download]\r\nDownName=") + kUrl +
                                                    u"\r\nMainName=Sorvel.exe"));
    device_.InstallProgram(u"\\Sorvel.exe", [&](SimDevice&, int) {});
    EXPECT_EQ(Run(), 1);
    EXPECT_TRUE(files_.Bytes(u"\\Sorvel.exe") == program);
    EXPECT_EQ(device_.StartedPrograms().back(), u"\\Sorvel.exe");
    EXPECT_FALSE(files_.FileExists(u"\\im.exe"));
  }
}

TEST_F(UpdaterTest, ProgressIsTheReceivedShareInWholePercent) {
  Image padded;
  padded.body.resize(padded.body.size() + (3 - Program().size() % 3) % 3);
  const std::string program = Program(padded);  // a multiple of 3 bytes
  ASSERT_EQ(program.size() % 3, 0u);
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
  Describe(Text(u"DownName=") + kUrl + u"\r\nMainName=Sorvel.exe\r\n");
  for (const Case& c : cases) {
    device_.ServeUrl(kUrl, {program, c.total, 0, c.chunk});
    std::vector<int> positions;
    device_.InstallProgram(kTarget, [&](SimDevice& device, int) {
      HWND dialog = device.FindWindow(kPortableDialogClass, u"Auto Downloader");
      positions = device.Window(device.GetDlgItem(dialog, 1003)).progressPositions;
    });
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(positions, c.positions) << "total " << c.total;
    EXPECT_TRUE(files_.Bytes(kTarget) == program);
  }
}

// The old program may still hold its file for a while after it has started the updater.
TEST_F(UpdaterTest, ReplacementWaitsUpToTenSecondsForTheOldProgramsFile) {
  const std::string program = Program();
  Serve(program);
  Describe(Text(u"DownName=") + kUrl + u"\r\nMainName=Sorvel.exe\r\n");
  constexpr std::uint64_t kNever = ~std::uint64_t{0};
  struct Case {
    const char* name;
    std::uint64_t letGoAt;
    std::uint64_t startedAt;
  };
  const Case cases[] = {{"lets go", 1900, 2000}, {"holds on", kNever, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    files_.SetBytes(kTarget, kOldProgram);
    const std::uint64_t start = device_.Now();
    FileHandle held = files_.OpenForRead(kTarget);
    ASSERT_NE(held, nullptr);
    std::uint64_t ended = 0;
    EXPECT_EQ(Run([&](HWND dialog, std::uint64_t elapsed) {
                ended = elapsed + 50;
                if (held != nullptr && elapsed == c.letGoAt) {
                  files_.Close(held);
                  held = nullptr;
                }
                // The dialog keeps answering; a tap meanwhile starts nothing new.
                if (elapsed == 1500) PostCommand(dialog, kIdFileDownload);
              }),
              1);
    if (held != nullptr) files_.Close(held);
    EXPECT_EQ(device_.RequestedUrls().size(), static_cast<std::size_t>(&c - cases) + 1);
    if (c.letGoAt != kNever) {
      EXPECT_TRUE(files_.Bytes(kTarget) == program);
      ASSERT_FALSE(device_.StartTimes().empty());
      EXPECT_EQ(device_.StartTimes().back() - start, c.startedAt);
      ExpectLastBox(kUpdated);
      continue;
    }
    EXPECT_EQ(ended, 11000u);
    EXPECT_EQ(files_.Bytes(kTarget), kOldProgram);
    EXPECT_TRUE(files_.Bytes(kTemp) == program);
    EXPECT_EQ(device_.StartedPrograms().size(), 1u);
    ExpectLastBox(kNotUpdated);
  }
}

// The download dispatches the dialog's messages: neither a second tap nor the start timer
// begins another run.
TEST_F(UpdaterTest, OneRunAtATime) {
  const std::string program = Program();
  Serve(program, 100);
  Describe(Text(u"DownName=") + kUrl + u"\r\nMainName=Sorvel.exe\r\n");
  FileHandle held = files_.OpenForRead(kTarget);
  EXPECT_EQ(Run([&](HWND dialog, std::uint64_t elapsed) {
              if (elapsed == 0) {
                PostCommand(dialog, kIdFileDownload);
                PostCommand(dialog, kIdFileDownload);
              }
              // Held past the start timer's second.
              if (elapsed == 1100) files_.Close(held);
            }),
            1);
  EXPECT_EQ(device_.RequestedUrls().size(), 1u);
  EXPECT_EQ(device_.StartTimes(), std::vector<std::uint64_t>{1250});
  EXPECT_EQ(device_.MessageBoxes().size(), 1u);
  ExpectLastBox(kUpdated);
}

TEST_F(UpdaterTest, CreateFileCommandRewritesBothKeysKeepingTheRest) {
  files_.SetBytes(kDescription,
                  Utf16LeBytes(u"[Other]\r\nKey=1\r\n[Download]\r\nMainName=old.exe\r\n"
                               u"DownName=http://old\r\nExtra=2\r\n"));
  EXPECT_EQ(Run([&](HWND dialog, std::uint64_t elapsed) {
              if (elapsed == 0) PostCommand(dialog, kIdCreateFile);
            }),
            1);
  EXPECT_EQ(files_.Bytes(kDescription),
            Utf16LeBytes(u"[Other]\r\nKey=1\r\n[Download]\r\nMainName=sorvel.exe\r\n"
                         u"DownName=http://www.sorvel.example/download/Sorvel.exe\r\nExtra=2\r\n"));
}

}  // namespace
}  // namespace sorvel
