// The private-profile store: reads and writes one value of a UTF-16LE INI file per call.
// Every call opens, reads and closes the file by itself; nothing is kept between calls.
// Failures are reported on the platform's debug output only. Runs on the user-interface
// thread; every call blocks on the file system only.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/files.h"

// <windows.h> defines a macro of this name; the store's own function must keep it.
#ifdef WritePrivateProfileString
#undef WritePrivateProfileString
#endif

namespace sorvel {

// Paths are held in 260 units, the terminating zero included. A file that is written needs four
// more units for its temporary file (path + ".tmp").
constexpr std::uint32_t kProfilePathCapacity = 260;
constexpr std::uint32_t kProfileMaxPathLength = kProfilePathCapacity - 1;
constexpr std::uint32_t kProfileMaxWrittenPathLength = kProfileMaxPathLength - 4;

// One line of a loaded text: its start after the leading white space, and its length without
// the line end. An empty line has a null start and length 0.
struct ProfileLine {
  const char16_t* start = nullptr;
  std::uint32_t length = 0;
};

// The working record of one call.
struct ProfileFile {
  char16_t path[kProfilePathCapacity] = {};      // resolved path
  std::uint32_t textLength = 0;                  // units, byte-order mark excluded
  std::unique_ptr<char16_t[]> text;              // text + zero unit; null when empty or not loaded
  std::uint32_t position = 0;                    // first unit not yet handed out as a line
  ProfileLine line;                              // the line handed out last
  char16_t tempPath[kProfilePathCapacity] = {};  // path + ".tmp"; empty unless writing
  FileHandle output = nullptr;                   // the open temporary file of a write
};

// Looks up `key` in `section` of `file`. Places the value, cut to capacity - 1 units and
// zero-terminated, in `buffer` and returns its length. Returns 0 when nothing is found (the
// buffer is left as it was) and when the value is empty (the buffer receives "").
// A file name without a backslash names a file in \windows.
std::uint32_t FindProfileString(FileSystem& fs, const char16_t* section, const char16_t* key,
                                char16_t* buffer, std::uint32_t capacity, const char16_t* file);

// As FindProfileString, on a text held in memory instead of a file: UTF-16 units in the store's
// syntax, a leading byte-order mark skipped.
std::uint32_t FindProfileStringInText(const Text& text, const char16_t* section,
                                      const char16_t* key, char16_t* buffer,
                                      std::uint32_t capacity);

// As FindProfileString, but when no non-empty value is found the buffer receives
// `defaultValue` (cut to capacity - 1 units; "" when null). Returns the length placed.
std::uint32_t ReadPrivateProfileString(FileSystem& fs, const char16_t* section, const char16_t* key,
                                       const char16_t* defaultValue, char16_t* buffer,
                                       std::uint32_t capacity, const char16_t* file);

// Sets `key` to `value` in `section` of `file`, creating the file, section or key as needed,
// and rewrites the whole file in normal form (CR LF line ends, no leading white space). The new
// file is written beside it as path + ".tmp" and renamed over it, so the file always holds
// either its old or its new content.
// Returns 0 when file is null or the file cannot be written (held in ROM or read-only, not
// readable although it exists, path too long, temporary file not creatable or not writable,
// replacement failed); the file is then left as it was. Returns 1 otherwise, also for a null
// section, which writes nothing. Listing or deleting entries (null key or value) is not offered:
// such a call writes nothing and returns 0.
int WritePrivateProfileString(FileSystem& fs, const char16_t* section, const char16_t* key,
                              const char16_t* value, const char16_t* file);

}  // namespace sorvel
