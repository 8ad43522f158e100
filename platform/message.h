// A window message as the dialog framework sees it: Win32's message, wParam and lParam, plus
// the answer to a control-colour request.
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
  // A progress bar's set-position request: the position in wParam.
  kPbmSetPos = 0x0402,
};

constexpr unsigned kSizeRestored = 0;

constexpr std::uintptr_t MakeWParam(unsigned low, unsigned high) {
  return (static_cast<std::uintptr_t>(high & 0xFFFF) << 16) | (low & 0xFFFF);
}
constexpr std::intptr_t MakeLParam(unsigned low, unsigned high) {
  return static_cast<std::intptr_t>((static_cast<std::uint32_t>(high & 0xFFFF) << 16) |
                                    (low & 0xFFFF));
}

struct Message {
  HWND window = nullptr;
  std::uint32_t message = kWmNull;
  std::uintptr_t wParam = 0;
  std::intptr_t lParam = 0;

  // Control-colour request: the control asking, and the answer a handler gives; none for the
  // platform's default colours.
  HWND control = nullptr;
  std::optional<ControlColors> colors;

  unsigned CommandId() const { return static_cast<unsigned>(wParam & 0xFFFF); }
  unsigned NotifyCode() const { return static_cast<unsigned>((wParam >> 16) & 0xFFFF); }
  unsigned TimerId() const { return static_cast<unsigned>(wParam); }
  int SizeWidth() const { return static_cast<int>(lParam & 0xFFFF); }
  int SizeHeight() const { return static_cast<int>((lParam >> 16) & 0xFFFF); }
};

}  // namespace sorvel
