// The updater: its download, checks, replacement, roll-back and waits, against the simulated
// device.
#include "settings/profile.h"
#include "tests/support/test_signer.h"
#include "tests/unit/host_fixture.h"
#include "tests/unit/program_image.h"
#include "update/description.h"
#include "updater/resources.h"
#include "updater/update_app.h"
#include "updater/update_dlg.h"

namespace sorvel {
namespace {

constexpr char16_t kModule[] = u"\\Program Files\\Sorvel\\SorvelUpdate.exe";
constexpr char16_t kFolder[] = u"\\Program Files\\Sorvel\\";
constexpr char16_t kDescription[] = u"\\Program Files\\Sorvel\\Download.ini";
constexpr char16_t kTarget[] = u"\\Program Files\\Sorvel\\Sorvel.exe";
constexpr char16_t kTemp[] = u"\\Program Files\\Sorvel\\im.exe";
constexpr char16_t kKept[] = u"\\Program Files\\Sorvel\\Sorvel.exe.old";
constexpr char16_t kUrl[] = u"http://127.0.0.1/Sorvel.exe";
constexpr char16_t kUpdated[] = u"자동 업데이트를 성공했습니다.";
constexpr char16_t kNotUpdated[] = u"자동 업데이트를 실패하였습니다. 다시 실행하세요.";
const std::string kOldProgram = "the installed program";

// The updater beside an installed 1.0.1.1 host; the new program is 1.0.2.0, a multiple of 3
// bytes long.
class UpdaterTest : public HostTest {
 protected:
  UpdaterTest() {
    device_.GetConfig().modulePath = kModule;
    files_.SetBytes(kTarget, kOldProgram);
    device_.SetProgramVersion(kOldProgram, 0x0001'0000'0001'0001);
    device_.SetProgramVersion(program_, 0x0001'0000'0002'0000);
    // The host that comes up claims its name.
    for (const Text& target : {Text(kTarget), Text(u"\\Sorvel.exe")}) {
      device_.InstallProgram(target, [this, target](SimDevice& device, int) {
        startedBytes_.push_back(files_.Bytes(target));
        boxesAtStart_.push_back(device.MessageBoxes().size());
        HWND dialog = device.FindWindow(kPortableDialogClass, u"Auto Downloader");
        progressAtStart_.push_back(
            dialog == nullptr
                ? std::vector<int>{}
                : device.Window(device.GetDlgItem(dialog, kIdProgress)).progressPositions);
        if (startedBytes_.back() == program_ && comesUp_) device.HoldInstanceName(u"Sorvel3");
      });
    }
  }
  SignedProgram Signed(const std::string& bytes, FileVersion version = 0x0001'0000'0002'0000) {
    SignedProgram program;
    program.downloadUrl = kUrl;
    program.size = bytes.size();
    files_.SetBytes(u"\\scratch", bytes);
    EXPECT_TRUE(FileSha256(files_, u"\\scratch", &program.sha256));
    program.version = version;
    return program;
  }
  void Describe(const SignedProgram& program, const Text& path = kDescription) {
    files_.Remove(path);
    ASSERT_TRUE(WriteUpdateDescription(files_, path, u"Sorvel.exe", program));
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
  void Told(const Text& text, std::size_t count = 0) {
    ExpectLastBox(text, count, u"SorvelUpdate");
  }
  const std::string program_ = ProgramWith([](Image& i) { i.body.resize(3001); });
  bool comesUp_ = true;
  std::vector<std::string> startedBytes_;
  std::vector<std::size_t> boxesAtStart_;
  std::vector<std::vector<int>> progressAtStart_;  // the progress bar's positions
};

// The new program is started in place of the old one, beside the updater, and only once it has
// come up is the old one gone and the success told. While the old program still runs it holds the
// host's name: the new one starts once it has ended; while it holds its file, for up to ten
// seconds, the replacement waits. The progress bar shows the share received in whole percent.
TEST_F(UpdaterTest, ReplacesTheProgramStartsItAndTellsOnceItCameUp) {
  ASSERT_EQ(program_.size() % 3, 0u);
  struct Case {
    const char* name;
    const char16_t* module;
    const char16_t* folder;
    bool oldThere = true;
    std::uint64_t oldEndsAt = 0;  // 0: the old program has ended already
    std::size_t pieces = 3;       // the download's
    bool announced = true;        // its length
    std::vector<int> progress = {33, 66, 100};
    std::uint64_t fileFreedAt = 0;  // 0: the old program does not hold its file
  };
  const Case cases[] = {
      {"over the old program", kModule, kFolder},
      {"no program there yet, no length announced", kModule, kFolder, false, 0, 3, false, {0}},
      {"old program ends 3 s in", kModule, kFolder, true, 3000},
      {"root folder, in one piece", u"\\SorvelUpdate.exe", u"\\", true, 0, 1, true, {100}},
      {"bare name", u"SorvelUpdate.exe", u"\\"},
      {"old program lets go of its file 1.9 s in",
       kModule,
       kFolder,
       true,
       0,
       3,
       true,
       {33, 66, 100},
       1900},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Text folder = c.folder, target = folder + u"Sorvel.exe";
    device_.GetConfig().modulePath = c.module;
    device_.ReleaseInstanceNames();
    if (c.oldEndsAt != 0) device_.HoldInstanceName(u"Sorvel3");
    startedBytes_.clear();
    boxesAtStart_.clear();
    progressAtStart_.clear();
    device_.ServeUrl(kUrl,
                     {program_, c.announced ? program_.size() : 0, 0, program_.size() / c.pieces});
    files_.Remove(target);
    if (c.oldThere) files_.SetBytes(target, kOldProgram);
    Describe(Signed(program_), folder + u"Download.ini");
    const std::size_t boxes = device_.MessageBoxes().size(),
                      requests = device_.RequestedUrls().size();
    const std::uint64_t start = device_.Now();
    FileHandle held = c.fileFreedAt != 0 ? files_.OpenForRead(target) : nullptr;
    EXPECT_EQ(Run([&](HWND dialog, std::uint64_t elapsed) {
                if (elapsed == c.oldEndsAt) device_.ReleaseInstanceNames();
                if (held != nullptr && elapsed == c.fileFreedAt) {
                  files_.Close(held);
                  held = nullptr;
                }
                // Waiting for the file, the dialog keeps answering; a tap starts nothing new.
                if (held != nullptr && elapsed == 1500)
                  device_.PostCommand(dialog, kIdFileDownload);
              }),
              1);
    EXPECT_EQ(device_.RequestedUrls().size(), requests + 1);
    EXPECT_TRUE(files_.Bytes(target) == program_);
    EXPECT_FALSE(files_.FileExists(folder + u"im.exe"));
    EXPECT_FALSE(files_.FileExists(target + u".old"));
    EXPECT_EQ(device_.StartedPrograms().back(), target);
    ASSERT_EQ(startedBytes_.size(), 1u);
    EXPECT_TRUE(startedBytes_[0] == program_);
    EXPECT_EQ(boxesAtStart_[0], boxes);
    EXPECT_EQ(progressAtStart_[0], c.progress);
    Told(kUpdated, boxes + 1);
    if (c.oldEndsAt != 0) {
      EXPECT_GE(device_.StartTimes().back() - start, c.oldEndsAt);
      EXPECT_LE(device_.StartTimes().back() - start, c.oldEndsAt + 300);
    }
  }
}

// Whatever the signed description does not vouch for is refused: the old program stays, byte
// for byte, and nothing is started.
TEST_F(UpdaterTest, RefusedDownloadsLeaveTheProgramAndStartNothing) {
  const std::string other = ProgramWith([](Image& i) { i.machine = kOtherMachine; });
  const std::string unversioned = ProgramWith([](Image& i) { i.body += "unversioned"; });
  device_.SetProgramVersion(other, 0x0001'0000'0002'0000);
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
    bool fileHeld = false;        // the old program holds its file throughout
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
      {"no version", unversioned, 0, Signed(unversioned), true},
      {"web page", "<html></html>", 0, Signed("<html></html>"), true},
      {"not newer than installed", program_, 0, Signed(program_, 0x0001'0000'0001'0001), false},
      {"old program's file held throughout", program_, 0, Signed(program_), true, 0, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    files_.Remove(kTemp);
    device_.ServeUrl(kUrl, {c.body, c.announced, c.result, 1000});
    device_.DuringNextDownload(
        c.closed ? std::function<void()>([&] { device_.RequestClose(dialog); }) : nullptr);
    Describe(c.described);
    const std::size_t requests = device_.RequestedUrls().size();
    FileHandle held = c.fileHeld ? files_.OpenForRead(kTarget) : nullptr;
    EXPECT_EQ(Run([&](HWND hwnd, std::uint64_t) { dialog = hwnd; }), 1);
    if (held != nullptr) files_.Close(held);
    EXPECT_TRUE(!c.fileHeld || files_.FileExists(kTemp)) << "the download is kept";
    EXPECT_EQ(device_.RequestedUrls().size(), requests + (c.downloads ? 1 : 0));
    EXPECT_EQ(files_.Bytes(kTarget), kOldProgram);
    EXPECT_FALSE(files_.FileExists(kKept));
    Told(kNotUpdated);
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
  Told(kNotUpdated, 1);
  // The download a second after the dialog opens, then ten seconds of waiting.
  EXPECT_GE(ended, 11000u);
  EXPECT_LE(ended, 11500u);
}

// Without a description from the host, the updater reads the signed manifest itself; an
// unsigned one downloads nothing.
TEST_F(UpdaterTest, WithoutADescriptionTheSignedManifestDecides) {
  const std::string manifest =
      Utf16LeBytes(u"[Update]\r\nVersion=1.0.2.0\r\nKind=automatic\r\n[Windows-x64]\r\nDownName=" +
                   Text(kUrl) + u"\r\nSize=" + FromUtf8(std::to_string(program_.size())) +
                   u"\r\nSha256=" + FormatSha256(Signed(program_).sha256) + u"\r\n");
  std::string good = test::SignatureFile(manifest), bad = good;
  ASSERT_EQ(good.size(), 64u);
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
    Told(served == &good ? kUpdated : kNotUpdated);
    EXPECT_TRUE(files_.Bytes(kTarget) == (served == &good ? program_ : kOldProgram))
        << ToUtf8(files_.DebugText());
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
