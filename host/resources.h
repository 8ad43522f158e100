// The host's dialog template, menu bar and the ids they carry.
#pragma once

#include "platform/dialog_template.h"
#include "platform/message.h"

namespace sorvel {

constexpr int kIdiMainIcon = 128;
constexpr int kIddMainDialog = 102;
constexpr int kIdrMainMenu = 131;
constexpr int kIddFindDialog = 129;
constexpr int kIddVersionDialog = 1636;

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
const MenuTemplate& MainMenu();
const DialogTemplate& FindDialogTemplate();
const DialogTemplate& VersionDialogTemplate();

}  // namespace sorvel
