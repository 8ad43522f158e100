// The host's settings file: ten keys in section "Setting" of the file beside the program,
// read and written one key at a time through the private-profile store.
// Runs on the user-interface thread; every call blocks on the file system only.
#pragma once

#include <cstdint>

#include "platform/files.h"
#include "platform/types.h"

namespace sorvel {

// Settings keys by index.
constexpr int kFileName1 = 0;
constexpr int kFileName2 = 1;
constexpr int kPositionTop1 = 2;
constexpr int kPositionTop2 = 3;
constexpr int kFileName3 = 4;
constexpr int kPositionTop3 = 5;
constexpr int kFileFullPath1 = 6;
constexpr int kFileFullPath2 = 7;
constexpr int kFileFullPath3 = 8;
constexpr int kPartionMode = 9;
constexpr int kSettingCount = 10;

// Values read from the file come back with at most this many units, the zero included.
constexpr std::uint32_t kSettingCapacity = 260;

// The host's process-wide state.
extern Text SettingsPath;       // empty until the main dialog derives it
extern bool ThreePaneMode;      // three panes, or two
extern Text PickedWindowTitle;  // filled by the window picker
extern Text PickedProgramPath;

// The key name of an index; null outside 0 to 9.
const char16_t* SettingKey(int index);

// The value of the key `index` in the file `SettingsPath`, at most 259 units; "" when the key,
// its value or the file is missing, and for an index outside 0 to 9.
Text ReadSetting(FileSystem& fs, int index);

// The program path stored as the key `index`; empty when it is longer than the platform's path
// limit of 259 units, since the cut path might name another program.
Text ReadProgramPath(FileSystem& fs, int index);

// Writes `value` as the key `index`; does nothing for an index outside 0 to 9. Failures show
// only in the store's debug reports.
void WriteSetting(FileSystem& fs, const Text& value, int index);

// The program path with the text from its last "." replaced by ".ini"; empty when the path has
// no ".". The "." may lie in a folder name (\Apps.new\Sorvel gives \Apps.ini). POSIX programs
// seldom have an extension and often lie below a folder such as ".local": with the separator
// "/", only a "." in the file name counts, and a name without one gets ".ini" added.
Text MakeSettingsPath(const Text& exePath, char16_t separator);

// PartionMode: "2" means two panes; anything else, absent or not a number included, three.
bool ThreePaneModeFromSetting(const Text& value);
// PositionTop<n>: the decimal value, 0 when empty or not a number.
std::int32_t OffsetFromSetting(const Text& value);

}  // namespace sorvel
