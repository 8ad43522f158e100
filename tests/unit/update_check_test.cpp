// The update check: the manifest's reading, the notices' handling and where notices come from.
#include "host/update_check.h"

#include "host/main_dlg.h"
#include "host/resources.h"
#include "tests/unit/host_fixture.h"

namespace sorvel {
namespace {

constexpr char16_t kModule[] = u"\\Program Files\\Sorvel\\Sorvel.exe";
constexpr char16_t kSettingsFile[] = u"\\Program Files\\Sorvel\\Sorvel.ini";
constexpr char16_t kDescriptionFile[] = u"\\Program Files\\Sorvel\\Download.ini";
constexpr char16_t kUpdater[] = u"\\Program Files\\Sorvel\\SorvelUpdate.exe";
constexpr char16_t kCheckUrl[] = u"http://updates.test/Sorvel.ini";
constexpr char16_t kNewProgram[] = u"http://updates.test/Sorvel.exe";
constexpr char16_t kHash[] = u"00112233445566778899aabbccddeeff00112233445566778899AABBCCDDEEFF";

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

std::string ManifestBytes(const Text& body, bool marked = false) {
  return Utf16LeBytes(u"[Update]\r\n" + body, marked);
}

std::optional<UpdateNotice> Notice(NoticeKind kind, Text url = Text(), Text sha256 = Text()) {
  return UpdateNotice{kind, std::move(url), std::move(sha256)};
}

TEST(ManifestTest, NoticeOnlyForAWellFormedNewerVersion) {
  struct Case {
    const char* name;
    std::string bytes;
    std::optional<UpdateNotice> notice;
  };
  const Text automatic = u"Kind=automatic\r\nDownName=" + Text(kNewProgram) + u"\r\n";
  const Text longUrl(300, u'u');
  const auto optional = Notice(NoticeKind::kOptional);
  const std::optional<UpdateNotice> none;
  const Case cases[] = {
      {"first part greater", ManifestBytes(u"Version=2.0.0.0\r\nKind=optional\r\n"), optional},
      {"second part greater", ManifestBytes(u"Version=1.1.0.0\r\nKind=mandatory\r\n"),
       Notice(NoticeKind::kMandatory)},
      {"third part greater, marked", ManifestBytes(u"Version=1.0.2.0\r\nKind=optional", true),
       optional},
      {"fourth part greater", ManifestBytes(u"Kind=optional\r\nVersion=1.0.1.2\r\n"), optional},
      {"equal", ManifestBytes(u"Version=1.0.1.1\r\nKind=optional\r\n"), none},
      {"first part smaller", ManifestBytes(u"Version=0.65535.65535.65535\r\nKind=optional\r\n"),
       none},
      {"third part smaller", ManifestBytes(u"Version=1.0.0.9\r\nKind=optional\r\n"), none},
      {"fourth part smaller", ManifestBytes(u"Version=1.0.1.0\r\nKind=optional\r\n"), none},
      {"automatic", ManifestBytes(u"Version=1.0.2.0\r\n" + automatic),
       Notice(NoticeKind::kAutomatic, kNewProgram)},
      {"automatic with hash",
       ManifestBytes(u"Version=1.0.2.0\r\n" + automatic + u"Sha256=" + kHash + u"\r\n"),
       Notice(NoticeKind::kAutomatic, kNewProgram, kHash)},
      {"automatic, address cut at 259 units",
       ManifestBytes(u"Version=1.0.2.0\r\nKind=automatic\r\nDownName=" + longUrl),
       Notice(NoticeKind::kAutomatic, longUrl.substr(0, 259))},
      // Malformed.
      {"odd byte count", ManifestBytes(u"Version=2.0.0.0\r\nKind=optional\r\n") + " ", none},
      {"too big", ManifestBytes(u"Version=2.0.0.0\r\nKind=optional\r\n" + Text(40000, u';')), none},
      {"three parts", ManifestBytes(u"Version=2.0.0\r\nKind=optional\r\n"), none},
      {"five parts", ManifestBytes(u"Version=2.0.0.0.0\r\nKind=optional\r\n"), none},
      {"part over 65535", ManifestBytes(u"Version=1.0.65536.0\r\nKind=optional\r\n"), none},
      {"signed part", ManifestBytes(u"Version=2.0.+1.0\r\nKind=optional\r\n"), none},
      {"empty part", ManifestBytes(u"Version=2..0.0\r\nKind=optional\r\n"), none},
      {"no version", ManifestBytes(u"Kind=optional\r\n"), none},
      {"other section", Utf16LeBytes(u"[Setting]\r\nVersion=2.0.0.0\r\nKind=optional\r\n"), none},
      {"unknown kind", ManifestBytes(u"Version=2.0.0.0\r\nKind=Optional\r\n"), none},
      {"automatic without address", ManifestBytes(u"Version=2.0.0.0\r\nKind=automatic\r\n"), none},
      {"short hash",
       ManifestBytes(u"Version=2.0.0.0\r\n" + automatic + u"Sha256=" + Text(kHash).substr(1)),
       none},
      {"long hash", ManifestBytes(u"Version=2.0.0.0\r\n" + automatic + u"Sha256=0" + kHash), none},
      {"hash not hex",
       ManifestBytes(u"Version=2.0.0.0\r\n" + automatic + u"Sha256=g" + Text(kHash).substr(1)),
       none},
      {"empty", "", none},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Text why;
    std::optional<UpdateNotice> notice = NoticeFromManifest(c.bytes, kOwnVersion, &why);
    ASSERT_EQ(notice.has_value(), c.notice.has_value()) << ToUtf8(why);
    if (!notice) {
      EXPECT_FALSE(why.empty());
      continue;
    }
    EXPECT_EQ(notice->kind, c.notice->kind);
    EXPECT_EQ(notice->downloadUrl, c.notice->downloadUrl);
    EXPECT_EQ(notice->sha256, c.notice->sha256);
  }
}

// The host of version 1.0.1.1 with a manifest served at its CheckUrl.
class UpdateCheckTest : public HostTest {
 protected:
  static constexpr std::uint32_t kOverlappedVisible = 0x10CF0000;

  UpdateCheckTest() { device_.SetFileVersion(kModule, 0x00010000, 0x00010001); }

  void ServeManifest(const Text& body) {
    files_.SetBytes(kSettingsFile, Utf16LeBytes(u"[Setting]\r\n[Update]\r\nCheckUrl=" +
                                                Text(kCheckUrl) + u"\r\n"));
    device_.ServeUrl(kCheckUrl, {ManifestBytes(u"Version=1.0.2.0\r\n" + body)});
  }

  struct Held {
    HWND window;
    Rect former;
  };
  Held Hold(CMainDlg& dialog, int pane, const Text& title, const Rect& former) {
    int pid = device_.StartForeignProcess(u"\\Windows\\" + title + u".exe");
    HWND window = device_.CreateForeignWindow(pid, u"Notes", title, kOverlappedVisible, former);
    // The picker, ended with OK, keeps this earlier choice.
    PickedWindowTitle = title;
    dialog.TogglePane(pane);
    EXPECT_TRUE(dialog.Pane(pane).captured);
    return {window, former};
  }
  void ExpectGivenBack(const Held& held) {
    EXPECT_EQ(device_.GetParent(held.window), nullptr);
    EXPECT_EQ(device_.GetWindowRect(held.window), held.former);
    EXPECT_EQ(device_.GetWindowStyle(held.window), kOverlappedVisible);
  }

  // Runs the host with two held programs until the check's notice is handled; a host that
  // carries on is then ended by the exit command. Returns the run's result.
  int RunHost() {
    CMainDlg dialog(device_, nullptr);
    std::size_t step = 0;
    device_.SetIdleScript([&](SimDevice& device) {
      if (HWND picker = device.FindWindow(kPortableDialogClass, u"Dialog")) {
        device.PostMessage(picker, kWmCommand, kIdOk, 0);
        return true;
      }
      switch (step++) {
        case 0:
          held_.push_back(Hold(dialog, 0, u"Notes", {10, 20, 200, 220}));
          held_.push_back(Hold(dialog, 1, u"Calc", {30, 40, 150, 160}));
          return true;
        case 1:
          // The timer starts the check; its work posts the notice, which is then handled.
          device.AdvanceTime(kUpdateCheckTimerMs);
          device.RunWorkers();
          device.PumpMessages();
          givenBackAtNotice_ = device.GetParent(held_[0].window) == nullptr &&
                               device.GetParent(held_[1].window) == nullptr;
          return true;
        case 2:
          device.PostMessage(dialog.GetSafeHwnd(), kWmCommand, kIdExit, 0);
          return true;
      }
      return false;
    });
    int result = dialog.DoModal();
    device_.SetIdleScript(nullptr);
    EXPECT_FALSE(device_.ModalLoopStalled());
    return result;
  }

  std::vector<Text> BoxTexts() {
    std::vector<Text> texts;
    for (const SimMessageBox& box : device_.MessageBoxes()) {
      EXPECT_EQ(box.caption, u"Sorvel");
      EXPECT_NE(box.owner, nullptr);
      texts.push_back(box.text);
    }
    return texts;
  }
  std::vector<Text> Executed() {
    std::vector<Text> executed;
    for (const auto& [owner, text] : device_.ShellExecutes()) executed.push_back(text);
    return executed;
  }

  std::vector<Held> held_;
  bool givenBackAtNotice_ = false;
};

// Opens the host (without its modal run) and lets the check run to its end; the dialog stays
// open until the caller's dialog object goes.
void RunCheck(SimDevice& device, CMainDlg& dialog) {
  ASSERT_NE(dialog.Create(), nullptr);
  device.AdvanceTime(kUpdateCheckTimerMs);
  device.RunWorkers();
  device.PumpMessages();
}

TEST_F(UpdateCheckTest, AutomaticNoticeWritesTheDescriptionFileAndTheSettingsEntry) {
  const Text ours = u"DownName=" + Text(kNewProgram) + u"\r\nMainName=Sorvel.exe\r\n";
  const Text earlier = u"[Download]\r\nDownName=http://old.test/x.exe\r\nMainName=Old.exe\r\n";
  struct Case {
    const char* name;
    std::string before;  // empty: no description file yet
    const char16_t* hash;
    std::string after;
  };
  const Case cases[] = {
      {"new, no hash", "", u"", Utf16LeBytes(u"[Download]\r\n" + ours)},
      {"new, hash", "", kHash,
       Utf16LeBytes(u"[Download]\r\n" + ours + u"Sha256=" + kHash + u"\r\n")},
      {"earlier, no hash", Utf16LeBytes(earlier), u"", Utf16LeBytes(u"[Download]\r\n" + ours)},
      {"stale hash emptied", Utf16LeBytes(earlier + u"Sha256=0123\r\n"), u"",
       Utf16LeBytes(u"[Download]\r\n" + ours + u"Sha256=\r\n")},
      {"stale hash replaced", Utf16LeBytes(earlier + u"Sha256=0123\r\n"), kHash,
       Utf16LeBytes(u"[Download]\r\n" + ours + u"Sha256=" + kHash + u"\r\n")},
      {"marked, other keys kept", Utf16LeBytes(u"[Download]\r\nKeep=1\r\n", true), u"",
       Utf16LeBytes(u"[Download]\r\nKeep=1\r\n" + ours, true)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    files_.Remove(kDescriptionFile);
    if (!c.before.empty()) files_.SetBytes(kDescriptionFile, c.before);
    Text hashLine = *c.hash != 0 ? u"Sha256=" + Text(c.hash) + u"\r\n" : Text();
    ServeManifest(u"Kind=automatic\r\nDownName=" + Text(kNewProgram) + u"\r\n" + hashLine);
    const std::size_t boxes = device_.MessageBoxes().size();
    CMainDlg dialog(device_, nullptr);
    RunCheck(device_, dialog);
    // Answered No: both files are written all the same, and the host closes.
    EXPECT_EQ(device_.MessageBoxes().size(), boxes + 1);
    EXPECT_TRUE(dialog.ModalRunEnded());
    EXPECT_EQ(files_.Bytes(kDescriptionFile), c.after);
    EXPECT_EQ(files_.Bytes(kSettingsFile),
              Utf16LeBytes(u"[Setting]\r\n[Update]\r\nCheckUrl=" + Text(kCheckUrl) +
                           u"\r\n[Download]\r\nDownName=" + kNewProgram + u"\r\n"));
  }
}

TEST_F(UpdateCheckTest, HostInTheRootFolderWritesAndStartsFromTheRoot) {
  device_.GetConfig().modulePath = u"\\Sorvel.exe";
  device_.SetFileVersion(u"\\Sorvel.exe", 0x00010000, 0x00010001);
  files_.SetBytes(u"\\SorvelUpdate.exe", "MZ");
  files_.SetBytes(u"\\Sorvel.ini",
                  Utf16LeBytes(u"[Update]\r\nCheckUrl=" + Text(kCheckUrl) + u"\r\n"));
  device_.ServeUrl(kCheckUrl, {ManifestBytes(u"Version=1.0.2.0\r\nKind=automatic\r\nDownName=" +
                                             Text(kNewProgram))});
  device_.QueueMessageBoxAnswer(kIdYes);
  CMainDlg dialog(device_, nullptr);
  RunCheck(device_, dialog);

  EXPECT_EQ(files_.Bytes(u"\\Download.ini"),
            Utf16LeBytes(u"[Download]\r\nDownName=" + Text(kNewProgram) +
                         u"\r\nMainName=Sorvel.exe\r\n"));
  EXPECT_EQ(Executed(), std::vector<Text>{u"\\SorvelUpdate.exe "});
  EXPECT_EQ(BoxTexts(), std::vector<Text>{kAutomaticQuestion});
}

// Where programs are ELF files, the description names the native host and the native updater
// is the one started; a Windows updater beside it is not.
TEST_F(UpdateCheckTest, ElfProgramsAreTheNativelyNamedOnes) {
  device_.GetConfig().programFormat = ProgramFormat::kElf;
  constexpr char16_t kElfUpdater[] = u"\\Program Files\\Sorvel\\sorvel-update";
  struct Case {
    const char* name;
    const char16_t* updater;  // the program file beside the host
    std::vector<Text> executed;
    std::vector<Text> boxes;
  };
  const Case cases[] = {
      {"native updater", kElfUpdater, {Text(kElfUpdater) + u" "}, {kAutomaticQuestion}},
      {"Windows updater only", kUpdater, {}, {kAutomaticQuestion, kUpdaterMissing}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    files_.Remove(kElfUpdater);
    files_.Remove(kUpdater);
    files_.SetBytes(c.updater,
                    "\x7F"
                    "ELF");
    ServeManifest(u"Kind=automatic\r\nDownName=" + Text(kNewProgram));
    device_.QueueMessageBoxAnswer(kIdYes);
    const std::size_t executed = Executed().size(), boxes = BoxTexts().size();
    CMainDlg dialog(device_, nullptr);
    RunCheck(device_, dialog);
    EXPECT_EQ(
        files_.Bytes(kDescriptionFile),
        Utf16LeBytes(u"[Download]\r\nDownName=" + Text(kNewProgram) + u"\r\nMainName=sorvel\r\n"));
    const std::vector<Text> all = Executed(), texts = BoxTexts();
    EXPECT_EQ(std::vector<Text>(all.begin() + static_cast<std::ptrdiff_t>(executed), all.end()),
              c.executed);
    EXPECT_EQ(std::vector<Text>(texts.begin() + static_cast<std::ptrdiff_t>(boxes), texts.end()),
              c.boxes);
  }
}

// The settings choose the address; a check that finds nothing tells only the debug output.
TEST_F(UpdateCheckTest, CheckUrlChoosesTheAddressAndAFailedCheckStaysSilent) {
  const std::string setting = Utf16LeBytes(u"[Setting]\r\nPartionMode=2\r\n");
  const std::string checkUrl = Utf16LeBytes(u"[Update]\r\nCheckUrl=" + Text(kCheckUrl) + u"\r\n");
  struct Case {
    const char* name;
    std::string settings;  // empty: no settings file
    std::string served;    // empty: not served
    const char16_t* requested;
    const char16_t* reported;
    const char16_t* program = kModule;
  };
  const Case cases[] = {
      {"no settings file", "", "", kDefaultCheckUrl, u"could not be read"},
      {"no update section", setting, "", kDefaultCheckUrl, u"could not be read"},
      {"empty address", Utf16LeBytes(u"[Update]\r\nCheckUrl=\r\n"), "", nullptr, u"off"},
      {"not served", checkUrl, "", kCheckUrl, kCheckUrl},
      {"not newer", checkUrl, ManifestBytes(u"Version=1.0.1.1\r\nKind=optional"), kCheckUrl,
       u"1.0.1.1 is not newer than 1.0.1.1"},
      {"malformed", checkUrl, ManifestBytes(u"Version=1.0.2\r\nKind=optional"), kCheckUrl,
       u"Version"},
      {"program without version", "", "", nullptr, u"no version",
       u"\\Program Files\\Sorvel\\Other.exe"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    device_.GetConfig().modulePath = c.program;
    files_.Remove(kSettingsFile);
    if (!c.settings.empty()) files_.SetBytes(kSettingsFile, c.settings);
    device_.ServeUrl(kCheckUrl, {c.served, 0, c.served.empty() ? -1 : 0});
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
    EXPECT_EQ(asked, c.requested ? std::vector<Text>{c.requested} : std::vector<Text>{});
    EXPECT_NE(files_.DebugText().find(c.reported), Text::npos) << ToUtf8(files_.DebugText());
    EXPECT_TRUE(device_.MessageBoxes().empty());
    EXPECT_FALSE(dialog.ModalRunEnded());
  }
}

TEST_F(UpdateCheckTest, NoticeReachesTheDialogThroughItsMessageAfterTheWork) {
  ServeManifest(u"Kind=optional");
  {
    CMainDlg dialog(device_, nullptr);
    HWND hwnd = dialog.Create();
    // The message is only the signal: without a notice left by the work it does nothing.
    device_.PostMessage(hwnd, kWmUpdateNotice, 0, 0);
    device_.AdvanceTime(kUpdateCheckTimerMs);
    EXPECT_EQ(device_.PendingWorkers(), 1u);
    EXPECT_TRUE(device_.MessageBoxes().empty());
    device_.RunWorkers();
    EXPECT_TRUE(device_.MessageBoxes().empty());
    device_.PumpMessages();
    EXPECT_EQ(BoxTexts(), std::vector<Text>{kOptionalQuestion});
  }
  // Work that outlives its dialog posts to a window that is gone; nothing is shown or leaked.
  {
    CMainDlg dialog(device_, nullptr);
    dialog.Create();
    device_.AdvanceTime(kUpdateCheckTimerMs);
    EXPECT_EQ(device_.PendingWorkers(), 1u);
  }
  device_.RunWorkers();
  device_.PumpMessages();
  EXPECT_EQ(device_.MessageBoxes().size(), 1u);
}

struct NoticeCase {
  const char* name;
  const char16_t* manifest;
  int answer;
  bool updaterThere, startsOk;
  std::vector<Text> boxes, executed;
  bool closes;
};

void PrintTo(const NoticeCase& c, std::ostream* out) {
  *out << c.name;
}

class NoticeTest : public UpdateCheckTest, public ::testing::WithParamInterface<NoticeCase> {};

TEST_P(NoticeTest, AsksThenOpensTheSiteOrStartsTheUpdaterAndClosesWhereItSays) {
  const NoticeCase& c = GetParam();
  files_.SetBytes(u"\\Windows\\iexplore.exe", "MZ");
  if (c.updaterThere) files_.SetBytes(kUpdater, "MZ");
  device_.SetShellExecuteResult(c.startsOk);
  ServeManifest(c.manifest);
  device_.QueueMessageBoxAnswer(c.answer);

  EXPECT_EQ(RunHost(), c.closes ? kIdOk : CDialog::kModalQuit);
  EXPECT_EQ(BoxTexts(), c.boxes);
  EXPECT_EQ(Executed(), c.executed);
  // A closing notice gives the windows back itself, pane 1 first, before the dialog goes.
  EXPECT_EQ(givenBackAtNotice_, c.closes);
  ASSERT_EQ(held_.size(), 2u);
  for (const Held& h : held_) ExpectGivenBack(h);
  EXPECT_EQ(device_.GetForegroundWindow(), held_[1].window);
}

const Text kBrowser = u"\\Windows\\iexplore.exe http://www.sorvel.example";
const Text kUpdaterStart = Text(kUpdater) + u" ";
constexpr char16_t kAutomatic[] = u"Kind=automatic\r\nDownName=http://updates.test/Sorvel.exe";

INSTANTIATE_TEST_SUITE_P(
    Kinds, NoticeTest,
    ::testing::Values(
        NoticeCase{"OptionalYes",
                   u"Kind=optional",
                   kIdYes,
                   true,
                   true,
                   {kOptionalQuestion},
                   {kBrowser},
                   false},
        NoticeCase{
            "OptionalNo", u"Kind=optional", kIdNo, true, true, {kOptionalQuestion}, {}, false},
        NoticeCase{"OptionalBrowserFails",
                   u"Kind=optional",
                   kIdYes,
                   true,
                   false,
                   {kOptionalQuestion, kStartFailure},
                   {kBrowser},
                   false},
        NoticeCase{"MandatoryYes",
                   u"Kind=mandatory",
                   kIdYes,
                   true,
                   true,
                   {kMandatoryQuestion},
                   {kBrowser},
                   true},
        NoticeCase{
            "MandatoryNo", u"Kind=mandatory", kIdNo, true, true, {kMandatoryQuestion}, {}, true},
        NoticeCase{"MandatoryBrowserFails",
                   u"Kind=mandatory",
                   kIdYes,
                   true,
                   false,
                   {kMandatoryQuestion, kStartFailure},
                   {kBrowser},
                   true},
        NoticeCase{"AutomaticYes",
                   kAutomatic,
                   kIdYes,
                   true,
                   true,
                   {kAutomaticQuestion},
                   {kUpdaterStart},
                   true},
        NoticeCase{"AutomaticNo", kAutomatic, kIdNo, true, true, {kAutomaticQuestion}, {}, true},
        NoticeCase{"AutomaticUpdaterMissing",
                   kAutomatic,
                   kIdYes,
                   false,
                   true,
                   {kAutomaticQuestion, kUpdaterMissing},
                   {},
                   true},
        NoticeCase{"AutomaticUpdaterFails",
                   kAutomatic,
                   kIdYes,
                   true,
                   false,
                   {kAutomaticQuestion, kStartFailure},
                   {kUpdaterStart},
                   true}),
    [](const ::testing::TestParamInfo<NoticeCase>& info) { return info.param.name; });

}  // namespace
}  // namespace sorvel
