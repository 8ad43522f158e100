// File versions as the version resource (and the native programs' version note) give them.
// Pure functions, any thread, except ProgramFileVersion: the user-interface thread.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/platform.h"

namespace sorvel {

// A file version's four 16-bit parts, most significant first, in one number: comparing two of
// them compares the parts one by one.
using FileVersion = std::uint64_t;

constexpr FileVersion MakeFileVersion(std::uint32_t mostSignificant,
                                      std::uint32_t leastSignificant) {
  return (FileVersion{mostSignificant} << 32) | leastSignificant;
}

// "a.b.c.d", four decimal parts of 0 to 65535; nullopt for anything else.
std::optional<FileVersion> ParseFileVersion(const Text& text);

// "a.b.c.d".
Text FormatFileVersion(FileVersion version);

// The version a program file carries; nullopt when it carries none or cannot be read.
std::optional<FileVersion> ProgramFileVersion(Platform& platform, const Text& path);

}  // namespace sorvel
