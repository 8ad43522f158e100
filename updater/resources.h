// The updater's dialog template, icon and names.
// Constant data, built on first use by the user-interface thread.
#pragma once

#include "platform/dialog_template.h"

namespace sorvel {

constexpr int kIdiUpdateIcon = 128;

// Controls: all three lie on one another; only the progress bar shows.
constexpr int kIdFileDownload = 1002;
constexpr int kIdProgress = 1003;
constexpr int kIdCreateFile = 1004;

// The updater's name: the caption of its message boxes.
extern const char16_t kUpdaterName[];

const DialogTemplate& UpdateDialogTemplate();

}  // namespace sorvel
