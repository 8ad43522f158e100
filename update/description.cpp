#include "update/description.h"

#include <array>
#include <string>

#include "settings/profile.h"
#include "update/program_file.h"

namespace sorvel {

const char16_t kDescriptionFile[] = u"Download.ini";
const char16_t kDownloadFile[] = u"im.exe";
const char16_t kHostInstanceName[] = u"Sorvel3";
const char16_t kUpdaterInstanceName[] = u"SorvelUpdate";

namespace {

constexpr char16_t kSection[] = u"Download";
constexpr char16_t kDownName[] = u"DownName";
constexpr char16_t kMainName[] = u"MainName";
constexpr char16_t kSize[] = u"Size";
constexpr char16_t kSha256[] = u"Sha256";
constexpr char16_t kVersion[] = u"Version";
constexpr char16_t kMissingValue[] = u"Default value";
// The updater's buffers: at most 259 units are used.
constexpr std::uint32_t kValueCapacity = 260;

Text Read(FileSystem& files, const char16_t* key, const char16_t* missing, const Text& path) {
  std::array<char16_t, kValueCapacity> buffer{};
  ReadPrivateProfileString(files, kSection, key, missing, buffer.data(), kValueCapacity,
                           path.c_str());
  return buffer.data();
}

Text FormatSize(std::uint64_t size) {
  std::string digits = std::to_string(size);
  return Text(digits.begin(), digits.end());
}

}  // namespace

ProgramNames ProgramNamesFor(ProgramFormat format) {
  if (format == ProgramFormat::kElf) return {u"sorvel-update", u"sorvel"};
  return {u"SorvelUpdate.exe", u"Sorvel.exe"};
}

bool WriteUpdateDescription(FileSystem& files, const Text& path, const Text& mainName,
                            const SignedProgram& program) {
  const Text values[][2] = {
      {kDownName, program.downloadUrl},
      {kMainName, mainName},
      {kSize, FormatSize(program.size)},
      {kSha256, FormatSha256(program.sha256)},
      {kVersion, FormatFileVersion(program.version)},
  };
  bool written = true;
  for (const auto& [key, value] : values) {
    written =
        WritePrivateProfileString(files, kSection, key.c_str(), value.c_str(), path.c_str()) != 0 &&
        written;
  }
  return written;
}

void WriteDefaultDescription(FileSystem& files, const Text& path, const Text& downloadUrl,
                             const Text& mainName) {
  WritePrivateProfileString(files, kSection, kDownName, downloadUrl.c_str(), path.c_str());
  WritePrivateProfileString(files, kSection, kMainName, mainName.c_str(), path.c_str());
}

UpdateDescription ReadUpdateDescription(FileSystem& files, const Text& path) {
  UpdateDescription description;
  description.downloadUrl = Read(files, kDownName, kMissingValue, path);
  description.mainName = Read(files, kMainName, kMissingValue, path);
  SignedProgram program;
  program.downloadUrl = description.downloadUrl;
  std::optional<std::uint64_t> size = ParseProgramSize(Read(files, kSize, u"", path));
  std::optional<FileVersion> version = ParseFileVersion(Read(files, kVersion, u"", path));
  if (size && version && ParseSha256(Read(files, kSha256, u"", path), &program.sha256)) {
    program.size = *size;
    program.version = *version;
    description.program = std::move(program);
  }
  return description;
}

}  // namespace sorvel
