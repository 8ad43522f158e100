// The update check: the manifest's reading, the notices' handling and where notices come from.
#include "host/update_check.h"

#include <ostream>

#include "tests/support/test_signer.h"
#include "tests/unit/host_fixture.h"

namespace sorvel {
namespace {

constexpr char16_t kCheckUrl[] = u"http://updates.test/Sorvel.ini";
constexpr char16_t kNewProgram[] = u"http://updates.test/Sorvel.exe";

constexpr char16_t kOptionalQuestion[] = u"프로그램이 업데이트되었습니다. 업데이트를 하시겠습니까?";
constexpr char16_t kMandatoryQuestion[] =
    u"프로그램이 업데이트되었습니다. 업데이트를 하지 않으면 프로그램이 구동되지 않습니다. "
    u"업데이트를 하시겠습니까?";
constexpr char16_t kAutomaticQuestion[] =
    u"최신 버전이 존재합니다. 업데이트를 하지 않으면 프로그램이 종료됩니다. 업데이트를 "
    u"하시겠습니까?";
constexpr char16_t kStartFailure[] = u" http://www.sorvel.example 에서 다시 받아 설치하세요.";
constexpr char16_t kUpdaterMissing[] =
    u" 자동 업데이트 기능이 없는 버전입니다. http://www.sorvel.example 에서 최신버전을 받아 "
    u"설치하세요.";

constexpr FileVersion kOwnVersion = 0x0001'0000'0001'0001;  // 1.0.1.1

// A manifest offering 1.0.2.0: `update` lines in its "Update" section, then `rest`.
std::string ManifestBytes(const Text& update, const Text& rest = Text()) {
  return Utf16LeBytes(u"[Update]\r\nVersion=1.0.2.0\r\n" + update + u"\r\n" + rest);
}

// This build's program as the automatic notices describe it.
Text ProgramSection(const char16_t* section = u"Windows-x64") {
  return Text(u"[") + section + u"]\r\nDownName=" + kNewProgram + u"\r\nSize=4096\r\nSha256=" +
         kHash + u"\r\n";
}

// What the host writes for the updater for that program.
Text Described(const char16_t* mainName = u"Sorvel.exe") {
  return u"DownName=" + Text(kNewProgram) + u"\r\nMainName=" + mainName +
         u"\r\nSize=4096\r\nSha256=" + kLowerHash + u"\r\nVersion=1.0.2.0\r\n";
}

// The host of version 1.0.1.1 with a manifest served at its CheckUrl.
class UpdateCheckTest : public MainDlgTest {
 protected:
  UpdateCheckTest() { device_.SetFileVersion(kHostProgram, kOwnVersion); }
  // Serves the manifest and its signature by the build's test key at `url`.
  void Serve(const Text& url, const std::string& manifest) {
    device_.ServeUrl(url, {manifest});
    device_.ServeUrl(SignatureUrl(url), {test::SignatureFile(manifest)});
  }
  // Opens the host holding two programs and lets the check run: the timer starts it, its work
  // leaves the notice and posts the message that has it handled; the message alone does nothing.
  void RunCheck(CMainDlg& dialog) {
    ASSERT_NE(hwnd_ = dialog.Create(), nullptr);
    device_.PostMessage(hwnd_, kWmUpdateNotice);
    for (int pane : {0, 1}) {
      const Text title = pane == 0 ? u"Notes" : u"Calc";
      held_.push_back(Start(title, u"\\Windows\\" + title + u".exe", formers_[pane]));
      PickInto(kPaneControls[pane].buttonA, title.c_str());
      ASSERT_TRUE(Holds(pane, held_.back()));
    }
    device_.AdvanceTime(kUpdateCheckTimerMs);
    EXPECT_EQ(device_.PendingWorkers(), 1u);
    device_.PumpMessages();
    device_.RunWorkers();
    EXPECT_TRUE(device_.MessageBoxes().empty());
    device_.PumpMessages();
  }
  const Rect formers_[2] = {{10, 20, 200, 220}, {30, 40, 150, 160}};
  std::vector<HWND> held_;
};

// The settings choose the address; a check that finds nothing tells only the debug output, and
// one whose dialog has gone shows nothing.
TEST_F(UpdateCheckTest, CheckUrlChoosesTheAddressAndAFailedCheckStaysSilent) {
  const std::string setting = Utf16LeBytes(u"[Setting]\r\nPartionMode=2\r\n");
  const std::string checkUrl = Utf16LeBytes(u"[Update]\r\nCheckUrl=" + Text(kCheckUrl) + u"\r\n");
  struct Case {
    const char* name;
    std::string settings;  // empty: no settings file
    std::string served;    // empty: not served
    std::vector<Text> requested;
    const char16_t* reported;
    const char16_t* program = kHostProgram;
  };
  const std::vector<Text> both = {kCheckUrl, SignatureUrl(kCheckUrl)};
  const Case cases[] = {
      {"no settings file", "", "", {kDefaultCheckUrl}, u"could not be read"},
      {"no update section", setting, "", {kDefaultCheckUrl}, u"could not be read"},
      {"empty address", Utf16LeBytes(u"[Update]\r\nCheckUrl=\r\n"), "", {}, u"off"},
      {"not served", checkUrl, "", {kCheckUrl}, kCheckUrl},
      {"equal", checkUrl, Utf16LeBytes(u"[Update]\r\nVersion=1.0.1.1\r\nKind=optional\r\n"), both,
       u"1.0.1.1 is not newer than 1.0.1.1"},
      {"older", checkUrl,
       Utf16LeBytes(u"[Update]\r\nVersion=1.0.0.9\r\nKind=automatic\r\n" + ProgramSection()), both,
       u"1.0.0.9 is not newer than 1.0.1.1"},
      {"program without version", "", "", {}, u"no version", u"\\Program Files\\Sorvel\\Other.exe"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    device_.GetConfig().modulePath = c.program;
    files_.Remove(kSettingsFile);
    if (!c.settings.empty()) files_.SetBytes(kSettingsFile, c.settings);
    device_.ServeUrl(kCheckUrl, {"", 0, -1});
    if (!c.served.empty()) Serve(kCheckUrl, c.served);
    files_.ClearDebugOutput();
    const std::size_t requests = device_.RequestedUrls().size();
    CMainDlg dialog(device_, nullptr);
    ASSERT_NE(dialog.Create(), nullptr);
    device_.AdvanceTime(kUpdateCheckTimerMs - 1);
    EXPECT_EQ(device_.RequestedUrls().size(), requests);
    // Once, a while after start-up.
    device_.AdvanceTime(1);
    device_.RunWorkers();
    device_.AdvanceTime(10 * kUpdateCheckTimerMs);
    std::vector<Text> asked(device_.RequestedUrls().begin() + requests,
                            device_.RequestedUrls().end());
    EXPECT_EQ(asked, c.requested);
    EXPECT_NE(files_.DebugText().find(c.reported), Text::npos) << ToUtf8(files_.DebugText());
    EXPECT_TRUE(device_.MessageBoxes().empty());
    EXPECT_FALSE(dialog.ModalRunEnded());
  }
  // Work that outlives its dialog posts to a window that is gone; nothing is shown or leaked.
  device_.GetConfig().modulePath = kHostProgram;
  Serve(kDefaultCheckUrl, ManifestBytes(u"Kind=optional"));
  {
    CMainDlg dialog(device_, nullptr);
    dialog.Create();
    device_.AdvanceTime(kUpdateCheckTimerMs);
    EXPECT_EQ(device_.PendingWorkers(), 1u);
  }
  device_.RunWorkers();
  device_.PumpMessages();
  EXPECT_TRUE(device_.MessageBoxes().empty());
}

// A notice's kind: what the manifest says, what the host asks, whether the host then closes.
struct NoticeKind {
  const char16_t* manifest;
  const char16_t* question;
  bool closes;
};
const NoticeKind kOptional{u"Kind=optional", kOptionalQuestion, false};
const NoticeKind kMandatory{u"Kind=mandatory", kMandatoryQuestion, true};
const NoticeKind kAutomatic{u"Kind=automatic", kAutomaticQuestion, true};

constexpr char16_t kInstalled[] = u"\\Program Files\\Sorvel\\";
const std::string kEarlier = Utf16LeBytes(
    u"[Download]\r\nDownName=http://old.test/x.exe\r\nMainName=Old.exe\r\nSize=1\r\n"
    u"Sha256=0123\r\nVersion=1.0.1.5\r\n");

struct NoticeCase {
  const char* name;
  const NoticeKind& kind;
  bool yes;
  const char16_t* failure = nullptr;              // the message box after the question
  bool startsOk = true;                           // the browser or the updater starts
  const char16_t* updater = u"SorvelUpdate.exe";  // the program file beside the host, if any
  const char16_t* folder = kInstalled;            // the host's
  ProgramFormat format = ProgramFormat::kWindows;
  std::string before = "", after = "";  // the description file; empty after: the one expected
  bool readOnly = false;
};

// Named by its case in the test list, not by its bytes.
void PrintTo(const NoticeCase& c, std::ostream* out) {
  *out << c.name;
}

class NoticeTest : public UpdateCheckTest, public ::testing::WithParamInterface<NoticeCase> {};

// Answered Yes, an optional or mandatory notice opens the web site. An automatic one, answered
// Yes or No, writes the description of the new program for the updater and points the settings'
// download at it; answered Yes, it starts the updater beside the host, wherever the host lies:
// where programs are ELF files the native one (the description then names the native host),
// never one of the other format. A description that cannot be written starts none on what an
// earlier notice left. A failed start is told (the web site's: the version dialog's cases).
TEST_P(NoticeTest, AsksThenOpensTheSiteOrStartsTheUpdaterAndClosesWhereItSays) {
  const NoticeCase& c = GetParam();
  const Text folder = c.folder, description = folder + u"Download.ini";
  const bool elf = c.format == ProgramFormat::kElf, automatic = &c.kind == &kAutomatic;
  device_.GetConfig().modulePath = folder + u"Sorvel.exe";
  device_.GetConfig().programFormat = c.format;
  device_.SetFileVersion(folder + u"Sorvel.exe", kOwnVersion);
  files_.SetBytes(u"\\Windows\\iexplore.exe", "MZ");
  if (c.updater != nullptr) files_.SetBytes(folder + c.updater, elf ? "\177ELF" : "MZ");
  if (!c.before.empty()) files_.SetBytes(description, c.before);
  if (c.readOnly) files_.SetAttributes(description, SimFileSystem::kAttributeReadOnly);
  const std::string settings = Utf16LeBytes(u"[Update]\r\nCheckUrl=" + Text(kCheckUrl) + u"\r\n");
  files_.SetBytes(folder + u"Sorvel.ini", settings);
  Serve(kCheckUrl,
        ManifestBytes(c.kind.manifest, ProgramSection(elf ? u"Linux-x86_64" : u"Windows-x64")));
  device_.SetShellExecuteResult(c.startsOk);
  device_.QueueMessageBoxAnswer(c.yes);
  CMainDlg dialog(device_, nullptr);
  RunCheck(dialog);
  EXPECT_EQ(dialog.ModalRunEnded(), c.kind.closes);
  // A closing notice gives the windows back itself, pane 1 first, before the dialog goes.
  EXPECT_EQ(device_.GetParent(held_[0]) == nullptr && device_.GetParent(held_[1]) == nullptr,
            c.kind.closes);
  dialog.DestroyWindow();
  // All the host's boxes.
  std::vector<Text> boxes = {c.kind.question}, told, executed, started;
  if (c.failure != nullptr) boxes.push_back(c.failure);
  for (const SimMessageBox& box : device_.MessageBoxes()) {
    EXPECT_EQ(box.caption, u"Sorvel");
    EXPECT_NE(box.owner, nullptr);
    told.push_back(box.text);
  }
  EXPECT_EQ(told, boxes);
  if (c.yes && (c.failure == nullptr || !c.startsOk)) {
    executed.push_back(automatic ? folder + c.updater + u" "
                                 : u"\\Windows\\iexplore.exe http://www.sorvel.example");
  }
  for (const auto& execute : device_.ShellExecutes()) started.push_back(execute.second);
  EXPECT_EQ(started, executed);
  const std::string described =
      automatic ? Utf16LeBytes(u"[Download]\r\n" + Described(elf ? u"sorvel" : u"Sorvel.exe")) : "";
  EXPECT_EQ(files_.Bytes(description), c.after.empty() ? described : c.after);
  // (The held windows' titles are written there too.)
  const std::string download =
      Utf16LeBytes(u"[Download]\r\nDownName=" + Text(kNewProgram) + u"\r\n");
  EXPECT_EQ(files_.Bytes(folder + u"Sorvel.ini").find(download) != std::string::npos, automatic);
  ASSERT_EQ(held_.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) ExpectGivenBack(held_[i], formers_[i]);
  EXPECT_EQ(device_.ForegroundWindow(), held_[1]);
}

const NoticeCase kNoticeCases[] = {
    {"OptionalYes", kOptional, true},
    {"OptionalNo", kOptional, false},
    {"MandatoryYes", kMandatory, true},
    {"MandatoryNo", kMandatory, false},
    {"AutomaticYes", kAutomatic, true},
    {"AutomaticNo", kAutomatic, false},
    {"AutomaticNoOverAnEarlierDescription", kAutomatic, false, nullptr, true, u"SorvelUpdate.exe",
     kInstalled, ProgramFormat::kWindows, kEarlier},
    {"AutomaticNoOverAMarkedDescriptionKeepingItsOtherKeys", kAutomatic, false, nullptr, true,
     u"SorvelUpdate.exe", kInstalled, ProgramFormat::kWindows,
     Utf16LeBytes(u"[Download]\r\nKeep=1\r\n", true),
     Utf16LeBytes(u"[Download]\r\nKeep=1\r\n" + Described(), true)},
    {"AutomaticInTheRootFolder", kAutomatic, true, nullptr, true, u"SorvelUpdate.exe", u"\\"},
    {"AutomaticNativeUpdater", kAutomatic, true, nullptr, true, u"sorvel-update", kInstalled,
     ProgramFormat::kElf},
    {"AutomaticWindowsUpdaterOnly", kAutomatic, true, kUpdaterMissing, true, u"SorvelUpdate.exe",
     kInstalled, ProgramFormat::kElf},
    {"AutomaticUpdaterMissing", kAutomatic, true, kUpdaterMissing, true, nullptr},
    {"AutomaticUpdaterFails", kAutomatic, true, kStartFailure, false},
    {"AutomaticDescriptionNotWritable", kAutomatic, true, kStartFailure, true, u"SorvelUpdate.exe",
     kInstalled, ProgramFormat::kWindows, kEarlier, kEarlier, true},
};

INSTANTIATE_TEST_SUITE_P(Kinds, NoticeTest, ::testing::ValuesIn(kNoticeCases),
                         [](const ::testing::TestParamInfo<NoticeCase>& info) {
                           return info.param.name;
                         });

}  // namespace
}  // namespace sorvel
