// A window message as the dialog framework sees it: Win32's message number with the fields of
// its kind, which each backend fills from its own events, plus the answer to a control-colour
// request.
// Data only: made and read on the user-interface thread that runs the dialog.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/types.h"

namespace sorvel {

// Win32 message numbers the framework and the programs use.
enum MessageId : std::uint32_t {
  kWmNull = 0x0000,
  kWmDestroy = 0x0002,
  kWmSize = 0x0005,
  kWmClose = 0x0010,
  kWmEndSession = 0x0016,
  kWmQuit = 0x0012,
  kWmCommand = 0x0111,
  kWmTimer = 0x0113,
  kWmCtlColorBtn = 0x0135,
  kWmCtlColorStatic = 0x0138,
  // Messages of the programs' own, from here on.
  kWmApp = 0x8000,
};

struct Message {
  HWND window = nullptr;
  std::uint32_t message = kWmNull;

  // Command: the control or menu item, and the control's notification code (0 for a menu).
  unsigned commandId = 0;
  unsigned notifyCode = 0;
  // Timer: its id.
  unsigned timerId = 0;
  // Size: the new client size.
  int width = 0;
  int height = 0;
  // End of session: true when the session ends indeed, false when it goes on.
  bool sessionEnds = false;

  // Control-colour request: the id of the control asking, and the answer a handler gives; none
  // for the platform's default colours.
  int controlId = 0;
  std::optional<ControlColors> colors;
};

}  // namespace sorvel
