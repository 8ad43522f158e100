// Checks of a downloaded program file before it takes the place of the installed one.
// Runs on the updater's user-interface thread; blocks on the file system only.
#pragma once

#include <cstdint>

#include "platform/crypto.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "update/manifest.h"

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

// The ELF machine of the program being built (e_machine), little-endian all three.
#if defined(__aarch64__) || defined(_M_ARM64)
constexpr std::uint16_t kOwnElfMachine = 183;  // EM_AARCH64
#elif defined(__x86_64__) || defined(_M_X64)
constexpr std::uint16_t kOwnElfMachine = 62;  // EM_X86_64
#else
constexpr std::uint16_t kOwnElfMachine = 3;  // EM_386
#endif

// The ELF class of a program for `machine`: ELFCLASS64 for 64-bit machines, ELFCLASS32
// otherwise.
constexpr std::uint8_t ElfClass(std::uint16_t machine) {
  return machine == 62 || machine == 183 ? 2 : 1;
}

// The optional-header magic that a program for `machine` carries: PE32+ for 64-bit machines,
// PE32 otherwise.
constexpr std::uint16_t OptionalHeaderMagic(std::uint16_t machine) {
  return machine == 0x8664 || machine == 0xAA64 ? 0x020B : 0x010B;
}

// True when the file is a Windows program (an executable image, not a library) for `machine`:
// DOS header, PE signature, COFF machine, characteristics and optional-header magic.
bool IsProgramForMachine(FileSystem& files, const Text& path, std::uint16_t machine);

// True when the file is a little-endian ELF program (not a library or an object) for `machine`:
// identification, class and version, e_machine, and an entry point; a position-independent
// program must also name its interpreter (PT_INTERP) or call itself one (DF_1_PIE), which a
// shared library does not.
bool IsElfProgramForMachine(FileSystem& files, const Text& path, std::uint16_t machine);

// A program of the platform's own format for the machine being built.
bool IsProgramForThisMachine(FileSystem& files, const Text& path, ProgramFormat format);

// The SHA-256 of the whole file, and its size when `size` is not null; false when it cannot be
// read.
bool FileSha256(FileSystem& files, const Text& path, Sha256Digest* digest,
                std::uint64_t* size = nullptr);

// The file is the program `expected` describes: exactly its size and SHA-256, a program for
// this machine in `format`, and of its version.
bool IsSignedProgram(Platform& platform, const Text& path, const SignedProgram& expected);

// 64 lower-case hexadecimal digits.
Text FormatSha256(const Sha256Digest& digest);

// 64 hexadecimal digits, either case, and nothing else.
bool ParseSha256(const Text& text, Sha256Digest* digest);

}  // namespace sorvel
