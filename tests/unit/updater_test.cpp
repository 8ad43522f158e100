// The updater: its download, checks, replacement, roll-back and waits, against the simulated
// device.
#include "settings/profile.h"
#include "tests/unit/host_fixture.h"
#include "tests/unit/program_image.h"
#include "update/description.h"
#include "updater/resources.h"
#include "updater/update_app.h"
#include "updater/update_dlg.h"

namespace sorvel {
namespace {

constexpr char16_t kModule[] = u"\\Program Files\\Sorvel\\SorvelUpdate.exe";
constexpr char16_t kDescription[] = u"\\Program Files\\Sorvel\\Download.ini";
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
    files_.SetBytes(kHostProgram, kOldProgram);
    device_.SetProgramVersion(kOldProgram, 0x0001'0000'0001'0001);
    device_.SetProgramVersion(program_, 0x0001'0000'0002'0000);
    // The host that comes up claims its name.
    for (const Text& target : {Text(kHostProgram), Text(u"\\Sorvel.exe")}) {
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
  // Runs the dialog modally; at each idle step `step` acts, then the clock moves 50 ms. The run
  // must end within 30 s.
  int Run(const std::function<void(HWND dialog, std::uint64_t elapsed)>& step) {
    CUpdateDlg dialog(device_, nullptr);
    const std::uint64_t start = device_.Now();
    device_.SetIdleScript([&](SimDevice& device) {
      if (device.Now() - start >= 30000) return false;
      step(dialog.GetSafeHwnd(), device.Now() - start);
      device.RunWorkers();
      device.AdvanceTime(50);
      return true;
    });
    int result = dialog.DoModal();
    device_.SetIdleScript(nullptr);
    EXPECT_FALSE(device_.ModalLoopStalled()) << "the dialog did not end";
    return result;
  }
  const std::string program_ = ProgramWith([](Image& i) { i.body.resize(3001); });
  bool comesUp_ = true;
  std::vector<std::string> startedBytes_;
  std::vector<std::size_t> boxesAtStart_;
  std::vector<std::vector<int>> progressAtStart_;  // the progress bar's positions
};

enum class Outcome { kReplaced, kRefused, kRolledBack };
// Where the old program holds its file to the end.
constexpr std::uint64_t kThroughout = ~std::uint64_t{0};

// The new program is started in place of the old one, beside the updater, and only once it has
// come up is the old one gone and the success told. While the old program still runs it holds the
// host's name: the new one starts once it has ended; while it holds its file, for up to ten
// seconds, the replacement waits. The progress bar shows the share received in whole percent.
// Whatever the signed description does not vouch for is refused: the old program stays, byte for
// byte, and nothing is started (a program of another hash, or not newer than the installed one:
// the end-to-end cases'). A new program that never comes up (it crashes at start) is replaced by
// the old one, which is started again.
TEST_F(UpdaterTest, ReplacesTheProgramOrRefusesOrRollsBack) {
  ASSERT_EQ(program_.size() % 3, 0u);
  const std::string other = ProgramWith([](Image& i) { i.machine = kOtherMachine; });
  const std::string unversioned = ProgramWith([](Image& i) { i.body += "unversioned"; });
  device_.SetProgramVersion(other, 0x0001'0000'0002'0000);
  SignedProgram longer = Signed(program_), shorter = Signed(program_);
  longer.size += 1;
  shorter.size -= 1;
  struct Case {
    const char* name;
    Outcome outcome;
    SignedProgram described;
    std::string body;
    std::int64_t announced = -1;                // the announced length; -1: the body's, 0: none
    std::size_t pieces = 3;                     // the download's
    std::vector<int> progress = {33, 66, 100};  // the bar's, as the new program starts
    const char16_t* module = kModule;
    bool oldThere = true;
    std::uint64_t oldEndsAt = 0;    // 0: the old program has ended already
    std::uint64_t fileFreedAt = 0;  // 0: the old program does not hold its file
    bool closed = false;            // the dialog is closed while the transfer runs
  };
  const SignedProgram good = Signed(program_);
  // The new program described and served over the old one, after `change`.
  auto with = [&](const char* name, Outcome outcome, auto change) {
    Case c{name, outcome, good, program_};
    change(c);
    return c;
  };
  const Case cases[] = {
      with("no program there yet, no length announced", Outcome::kReplaced,
           [](Case& c) { c.oldThere = false, c.announced = 0, c.progress = {0}; }),
      with("old program ends 3 s in", Outcome::kReplaced, [](Case& c) { c.oldEndsAt = 3000; }),
      with("root folder, in one piece", Outcome::kReplaced,
           [](Case& c) { c.module = u"\\SorvelUpdate.exe", c.pieces = 1, c.progress = {100}; }),
      with("bare name", Outcome::kReplaced, [](Case& c) { c.module = u"SorvelUpdate.exe"; }),
      with("old program lets go of its file 1.9 s in", Outcome::kReplaced,
           [](Case& c) { c.fileFreedAt = 1900; }),
      with("announced beyond the signed size", Outcome::kRefused,
           [](Case& c) { c.announced = static_cast<std::int64_t>(c.body.size() + 1); }),
      with("closed meanwhile", Outcome::kRefused, [](Case& c) { c.closed = true; }),
      {"size one more than signed", Outcome::kRefused, longer, program_},
      {"size one less than signed", Outcome::kRefused, shorter, program_},
      {"other machine", Outcome::kRefused, Signed(other), other},
      {"version other than signed", Outcome::kRefused, Signed(program_, 0x0001'0000'0003'0000),
       program_},
      {"no version", Outcome::kRefused, Signed(unversioned), unversioned},
      with("old program's file held throughout", Outcome::kRefused,
           [](Case& c) { c.fileFreedAt = kThroughout; }),
      {"new program does not come up", Outcome::kRolledBack, good, program_},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Text module = c.module, folder = module.substr(0, module.rfind(u'\\') + 1),
               at = folder.empty() ? u"\\" : folder, target = at + u"Sorvel.exe";
    device_.GetConfig().modulePath = module;
    device_.ReleaseInstanceNames();
    if (c.oldEndsAt != 0) device_.HoldInstanceName(u"Sorvel3");
    comesUp_ = c.outcome != Outcome::kRolledBack;
    startedBytes_.clear();
    boxesAtStart_.clear();
    progressAtStart_.clear();
    device_.ServeUrl(
        kUrl, {c.body, c.announced < 0 ? c.body.size() : c.announced, 0, c.body.size() / c.pieces});
    HWND dialog = nullptr;
    device_.DuringNextDownload(
        c.closed ? std::function<void()>([&] { device_.RequestClose(dialog); }) : nullptr);
    files_.Remove(target);
    files_.Remove(at + u"im.exe");
    if (c.oldThere) files_.SetBytes(target, kOldProgram);
    Describe(c.described, at + u"Download.ini");
    const std::size_t boxes = device_.MessageBoxes().size(),
                      requests = device_.RequestedUrls().size();
    const std::uint64_t start = device_.Now();
    std::uint64_t ended = 0;
    FileHandle held = c.fileFreedAt != 0 ? files_.OpenForRead(target) : nullptr;
    EXPECT_EQ(Run([&](HWND hwnd, std::uint64_t elapsed) {
                dialog = hwnd;
                ended = elapsed + 50;
                if (elapsed == c.oldEndsAt) device_.ReleaseInstanceNames();
                if (held != nullptr && elapsed == c.fileFreedAt) {
                  files_.Close(held);
                  held = nullptr;
                }
                // Waiting for the file, the dialog keeps answering; a tap starts nothing new.
                if (held != nullptr && elapsed == 1500) device_.PostCommand(hwnd, kIdFileDownload);
              }),
              1);
    if (held != nullptr) files_.Close(held);
    const bool replaced = c.outcome == Outcome::kReplaced;
    EXPECT_EQ(device_.RequestedUrls().size(), requests + 1);
    EXPECT_TRUE(files_.Bytes(target) == (replaced ? program_ : kOldProgram));
    EXPECT_FALSE(files_.FileExists(target + u".old"));
    if (replaced || c.fileFreedAt == kThroughout) {
      EXPECT_EQ(files_.FileExists(at + u"im.exe"), !replaced) << "only a refused download is kept";
    }
    std::vector<std::string> started;
    if (c.outcome != Outcome::kRefused) started.push_back(program_);
    if (c.outcome == Outcome::kRolledBack) started.push_back(kOldProgram);
    EXPECT_TRUE(startedBytes_ == started);
    if (replaced && !boxesAtStart_.empty()) {
      EXPECT_EQ(device_.StartedPrograms().back(), target);
      EXPECT_EQ(boxesAtStart_[0], boxes);
      EXPECT_EQ(progressAtStart_[0], c.progress);
    }
    ExpectLastBox(replaced ? kUpdated : kNotUpdated, boxes + 1, u"SorvelUpdate");
    if (c.oldEndsAt != 0) {
      EXPECT_GE(device_.StartTimes().back() - start, c.oldEndsAt);
      EXPECT_LE(device_.StartTimes().back() - start, c.oldEndsAt + 300);
    }
    if (!comesUp_) {
      // The download a second after the dialog opens, then ten seconds of waiting.
      EXPECT_GE(ended, 11000u);
      EXPECT_LE(ended, 11500u);
    }
  }
}

// A second updater would download into the same file and replace the same program: it ends at
// once, showing nothing.
TEST_F(UpdaterTest, OneUpdaterAtATime) {
  device_.ServeUrl(kUrl, {program_});
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
