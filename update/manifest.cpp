#include "update/manifest.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "settings/profile.h"
#include "update/program_file.h"

namespace sorvel {

const char16_t kDefaultCheckUrl[] = u"https://www.sorvel.example/update/Sorvel.ini";

namespace {

constexpr char16_t kUpdateSection[] = u"Update";
// Values are read as the updater reads its own: at most 259 units.
constexpr std::uint32_t kValueCapacity = 260;

Text Value(const Text& text, const char16_t* section, const char16_t* key) {
  std::array<char16_t, kValueCapacity> buffer{};
  std::uint32_t length = FindProfileStringInText(text, section, key, buffer.data(), kValueCapacity);
  return Text(buffer.data(), length);
}

bool SignedByOneOf(const std::vector<P256PublicKey>& keys, const std::string& bytes,
                   const std::string& signature) {
  if (signature.size() != kSignatureSize) return false;
  P256Signature rs{};
  std::memcpy(rs.data(), signature.data(), rs.size());
  for (const P256PublicKey& key : keys) {
    if (VerifyP256Signature(key, bytes.data(), bytes.size(), rs)) return true;
  }
  return false;
}

}  // namespace

std::optional<std::uint64_t> ParseProgramSize(const Text& text) {
  if (text.empty() || text.size() > 12) return std::nullopt;
  std::uint64_t size = 0;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') return std::nullopt;
    size = size * 10 + static_cast<std::uint64_t>(c - u'0');
  }
  if (size == 0 || size > kProgramLimit) return std::nullopt;
  return size;
}

Text UpdateCheckUrl(FileSystem& files, const Text& settingsPath) {
  // The store leaves the buffer alone for a missing key and empties it for an empty value.
  std::array<char16_t, kValueCapacity> buffer{};
  Text fallback = kDefaultCheckUrl;
  std::copy(fallback.begin(), fallback.end(), buffer.begin());
  FindProfileString(files, kUpdateSection, u"CheckUrl", buffer.data(), kValueCapacity,
                    settingsPath.c_str());
  return Text(buffer.data());
}

Text SignatureUrl(const Text& manifestUrl) {
  return manifestUrl + u".sig";
}

Text BuildSection(ProgramFormat format) {
  const bool windows = format == ProgramFormat::kWindows;
#if defined(__aarch64__) || defined(_M_ARM64)
  return windows ? u"Windows-arm64" : u"Linux-aarch64";
#elif defined(__x86_64__) || defined(_M_X64)
  return windows ? u"Windows-x64" : u"Linux-x86_64";
#else
  return windows ? u"Windows-x86" : u"Linux-i386";
#endif
}

bool IsWebAddress(const Text& url) {
  auto startsWith = [&url](const Text& prefix) {
    return url.size() > prefix.size() && url.compare(0, prefix.size(), prefix) == 0;
  };
  return startsWith(u"https://") || startsWith(u"http://");
}

std::optional<Manifest> ReadSignedManifest(const std::string& bytes, const std::string& signature,
                                           const std::vector<P256PublicKey>& keys,
                                           const Text& section, Text* why) {
  auto fail = [why](Text reason) {
    *why = std::move(reason);
    return std::nullopt;
  };
  if (bytes.size() > kManifestLimit) return fail(u"the manifest is larger than 64 KiB");
  if (!SignedByOneOf(keys, bytes, signature)) {
    return fail(u"the manifest's signature is not the publisher's");
  }
  if (bytes.size() % 2 != 0) return fail(u"the manifest is not UTF-16 (odd byte count)");
  Text text(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < text.size(); ++i) {
    text[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                    (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  }

  Manifest manifest;
  Text versionText = Value(text, kUpdateSection, u"Version");
  std::optional<FileVersion> version = ParseFileVersion(versionText);
  if (!version) return fail(u"the manifest's Version \"" + versionText + u"\" is malformed");
  manifest.version = *version;
  Text kind = Value(text, kUpdateSection, u"Kind");
  if (kind == u"optional") {
    manifest.kind = NoticeKind::kOptional;
  } else if (kind == u"mandatory") {
    manifest.kind = NoticeKind::kMandatory;
  } else if (kind == u"automatic") {
    manifest.kind = NoticeKind::kAutomatic;
  } else {
    return fail(u"the manifest's Kind \"" + kind + u"\" is unknown");
  }

  SignedProgram program;
  program.version = manifest.version;
  program.downloadUrl = Value(text, section.c_str(), u"DownName");
  Text size = Value(text, section.c_str(), u"Size");
  Text hash = Value(text, section.c_str(), u"Sha256");
  if (program.downloadUrl.empty() && size.empty() && hash.empty()) {
    if (manifest.kind == NoticeKind::kAutomatic) {
      return fail(u"the automatic notice names no program for " + section);
    }
    return manifest;
  }
  if (!IsWebAddress(program.downloadUrl)) {
    return fail(u"the program's DownName \"" + program.downloadUrl + u"\" is no web address");
  }
  std::optional<std::uint64_t> bytesOfProgram = ParseProgramSize(size);
  if (!bytesOfProgram) return fail(u"the program's Size \"" + size + u"\" is malformed");
  program.size = *bytesOfProgram;
  if (!ParseSha256(hash, &program.sha256)) {
    return fail(u"the program's Sha256 is not 64 hex digits");
  }
  manifest.program = std::move(program);
  return manifest;
}

}  // namespace sorvel
