// Checks of a downloaded program file before it takes the place of the installed one.
#pragma once

#include <cstdint>

#include "platform/files.h"
#include "updater/sha256.h"

namespace sorvel {

// The COFF machine of the program being built: a downloaded program must be for it.
#if defined(_M_ARM64) || defined(__aarch64__)
constexpr std::uint16_t kOwnMachine = 0xAA64;
#elif defined(_M_X64) || defined(__x86_64__)
constexpr std::uint16_t kOwnMachine = 0x8664;
#elif defined(_M_IX86) || defined(__i386__)
constexpr std::uint16_t kOwnMachine = 0x014C;
#else
#error "unknown target machine"
#endif

// The optional-header magic that a program for `machine` carries: PE32+ for 64-bit machines,
// PE32 otherwise.
constexpr std::uint16_t OptionalHeaderMagic(std::uint16_t machine) {
  return machine == 0x8664 || machine == 0xAA64 ? 0x020B : 0x010B;
}

// True when the file is a Windows program (an executable image, not a library) for `machine`:
// DOS header, PE signature, COFF machine, characteristics and optional-header magic.
bool IsProgramForMachine(FileSystem& files, const Text& path, std::uint16_t machine);

// The SHA-256 of the whole file; false when it cannot be read.
bool FileSha256(FileSystem& files, const Text& path, Sha256Digest* digest);

// 64 hexadecimal digits, either case, and nothing else.
bool ParseSha256(const Text& text, Sha256Digest* digest);

}  // namespace sorvel
