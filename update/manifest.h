// The vendor's update manifest: what the newest version is, how urgently it is offered, and,
// per build, where its program lies with the size and SHA-256 that bind it. Only a manifest
// signed by one of the publisher's keys counts.
// Pure functions over bytes given: any thread (the update check reads on its worker).
//
// The manifest is UTF-16LE text in the private-profile syntax:
//   [Update]          Version=a.b.c.d, Kind=optional | mandatory | automatic
//   [<build>]         DownName=<address of the program>, Size=<bytes>, Sha256=<64 hex digits>
// with one section per build ("Windows-x64", "Linux-x86_64", ...). Its signature lies at the
// manifest's address followed by ".sig": 64 bytes, the ECDSA P-256 signature of the SHA-256 of
// the manifest's exact bytes, r then s.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/crypto.h"
#include "platform/platform.h"
#include "update/version.h"

namespace sorvel {

enum class NoticeKind { kOptional, kMandatory, kAutomatic };

// A program file as the signed manifest describes it.
struct SignedProgram {
  Text downloadUrl;
  std::uint64_t size = 0;
  Sha256Digest sha256{};
  FileVersion version = 0;
};

struct Manifest {
  FileVersion version = 0;
  NoticeKind kind = NoticeKind::kOptional;
  // This build's program; present whenever the manifest names one, always for kAutomatic.
  std::optional<SignedProgram> program;
};

// The largest manifest read, and the signature's exact size.
constexpr std::size_t kManifestLimit = 64 * 1024;
constexpr std::size_t kSignatureSize = 64;
// The largest program a manifest may announce.
constexpr std::uint64_t kProgramLimit = 256ull * 1024 * 1024;

// Where the vendor publishes its manifest; the settings file's "Update" "CheckUrl" replaces it.
extern const char16_t kDefaultCheckUrl[];

// A program's size as the manifest and the description file give it: decimal digits only,
// 1 to kProgramLimit.
std::optional<std::uint64_t> ParseProgramSize(const Text& text);

// The manifest address that the host's settings file names ("Update" "CheckUrl"): the vendor's
// when it names none, empty when its entry is empty (no check).
Text UpdateCheckUrl(FileSystem& files, const Text& settingsPath);

// Where the signature of the manifest at `manifestUrl` lies.
Text SignatureUrl(const Text& manifestUrl);

// The manifest's section for the programs of this build in `format`.
Text BuildSection(ProgramFormat format);

// An address the downloads may take: http:// or https://, and something after it.
bool IsWebAddress(const Text& url);

// The manifest that `bytes` hold when `signature` is one of `keys`' signature of them, read for
// the build `section`; nullopt otherwise, and `why` says why.
std::optional<Manifest> ReadSignedManifest(const std::string& bytes, const std::string& signature,
                                           const std::vector<P256PublicKey>& keys,
                                           const Text& section, Text* why);

}  // namespace sorvel
