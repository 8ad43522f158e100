// <windows.h> for the win32 backend, with the A/W name macros that collide with the portable
// interface's operation names removed. Backend code calls the W functions by their full names.
// Its conversions are pure: any thread.
#pragma once

// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
// clang-format on

#undef CreateProcess
#undef FindWindow
#undef GetClassName
#undef GetModuleFileName
#undef GetWindowText
#undef MessageBox
#undef PostMessage
#undef SetWindowText
#undef ShellExecute

#include "platform/types.h"

namespace sorvel::win32 {

inline ::HWND W(sorvel::HWND window) {
  return reinterpret_cast<::HWND>(window);
}
inline sorvel::HWND P(::HWND window) {
  return reinterpret_cast<sorvel::HWND>(window);
}
inline const wchar_t* Wide(const Text& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}
inline const wchar_t* Wide(const char16_t* text) {
  return reinterpret_cast<const wchar_t*>(text);
}
inline Text FromWide(const wchar_t* text) {
  return Text(reinterpret_cast<const char16_t*>(text));
}

}  // namespace sorvel::win32
