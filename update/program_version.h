// The file version of a native (ELF) program file, read from the note its build gave it.
// Any thread; blocks on the file system only.
#pragma once

#include <cstdint>

#include "platform/files.h"

namespace sorvel {

// The version in the program's note (name "Sorvel", type 1, two little-endian 32-bit words:
// VS_FIXEDFILEINFO's dwFileVersionMS and dwFileVersionLS), found through the program headers'
// PT_NOTE segments of a little-endian ELF file of either class. False when the file cannot be
// read, is no such file, or has no such note within its first kElfVersionReach bytes. Reads at
// most that much, whatever the file's headers claim.
bool ReadElfFileVersion(FileSystem& files, const Text& path, std::uint32_t* mostSignificant,
                        std::uint32_t* leastSignificant);

// Linkers put the notes right behind the program headers, in the file's first page.
constexpr std::uint32_t kElfVersionReach = 64 * 1024;

}  // namespace sorvel
