// What the host and the updater agree on: the programs' file names and instance names, and the
// update description file "Download.ini" that the host writes beside itself for the updater.
// Runs on the user-interface thread; blocks on the file system only.
//
// "Download.ini", section "Download": "DownName" (the new program's address) and "MainName"
// (the main program's file name), then "Size", "Sha256" and "Version", which bind the program
// as the signed manifest describes it.
#pragma once

#include <optional>

#include "platform/files.h"
#include "platform/platform.h"
#include "update/manifest.h"

namespace sorvel {

extern const char16_t kDescriptionFile[];  // "Download.ini"
// The temporary file of the download, beside the updater.
extern const char16_t kDownloadFile[];  // "im.exe"
// The host claims this name while it runs; the updater its own.
extern const char16_t kHostInstanceName[];
extern const char16_t kUpdaterInstanceName[];

// The file names of the two programs in the platform's format.
struct ProgramNames {
  const char16_t* updater;  // what the host starts
  const char16_t* main;     // "MainName", as the host and the updater's defaults write it
};
ProgramNames ProgramNamesFor(ProgramFormat format);

struct UpdateDescription {
  Text downloadUrl;  // "Default value" when missing, as the store reads a missing key
  Text mainName;
  // The binding of the program, when "Size", "Sha256" and "Version" are all present and valid.
  std::optional<SignedProgram> program;
};

// Writes the description of `program` for the main program `mainName`; false when any write
// failed (the updater must then not be started on what the file holds).
bool WriteUpdateDescription(FileSystem& files, const Text& path, const Text& mainName,
                            const SignedProgram& program);

// Writes only "DownName" and "MainName" (the updater's defaults).
void WriteDefaultDescription(FileSystem& files, const Text& path, const Text& downloadUrl,
                             const Text& mainName);

UpdateDescription ReadUpdateDescription(FileSystem& files, const Text& path);

}  // namespace sorvel
