// The host's dialog template, menu bar and the ids they carry.
// Constant data, built on first use by the user-interface thread.
#pragma once

#include "platform/dialog_template.h"
#include "platform/message.h"

namespace sorvel {

constexpr int kIdiMainIcon = 128;

// The panes' controls, pane 1 to 3: the display that holds a window, the A button, and the
// small ↑, ↓ and ↕ buttons.
constexpr int kIdDisplay1 = 1005, kIdButtonA1 = 1000, kIdUp1 = 1001, kIdDown1 = 1004,
              kIdToggle1 = 1015;
constexpr int kIdDisplay2 = 1011, kIdButtonA2 = 1006, kIdUp2 = 1007, kIdDown2 = 1010,
              kIdToggle2 = 1016;
constexpr int kIdDisplay3 = 1014, kIdButtonA3 = 1008, kIdUp3 = 1009, kIdDown3 = 1013,
              kIdToggle3 = 1017;

// The picker's list of programs and its buttons.
constexpr int kIdPickerList = 1006, kIdPickerClose = 1007, kIdPickerApply = 1008;

// The version dialog's OK button, its lines of text and the split choice.
constexpr int kIdVersionOk = 26641, kIdVersionLine = 21039, kIdDownloadLine = 21040,
              kIdPhoneLine = 21041;
constexpr int kIdThreeWay = 1013, kIdTwoWay = 1014;

// Menu commands.
constexpr unsigned kIdExit = 32775;
constexpr unsigned kIdSplitStart = 32780;
constexpr unsigned kIdSplitReset = 32782;
constexpr unsigned kIdSplitSelect = 32784;

// Timers.
constexpr unsigned kTitleTimer = 1003;
constexpr unsigned kTitleTimerMs = 5000;
constexpr unsigned kLaunchTimer = 1004;
constexpr unsigned kLaunchTimerMs = 500;
// Asks the held programs whether they still answer.
constexpr unsigned kWatchTimer = 1005;
constexpr unsigned kWatchTimerMs = 1000;
// Looks for a newer version, once, a while after start-up.
constexpr unsigned kUpdateCheckTimer = 1006;
constexpr unsigned kUpdateCheckTimerMs = 3000;

// Own messages: the update check has left a notice.
constexpr std::uint32_t kWmUpdateNotice = kWmApp + 1;

// The application's name: the caption of its message boxes and the template's title.
extern const char16_t kAppName[];
// The vendor's web site (host name) and representative telephone number.
extern const char16_t kWebSiteHost[];
extern const char16_t kVendorPhone[];

const DialogTemplate& MainDialogTemplate();
const DialogTemplate& FindDialogTemplate();
const DialogTemplate& VersionDialogTemplate();

}  // namespace sorvel
