// The bytes of a text as the INI files hold it: UTF-16LE, for the tests, the fuzz target and the
// benchmarks to build files and compare what the store wrote.
#pragma once

#include <string>

#include "platform/types.h"

namespace sorvel {

// The UTF-16LE bytes of `text`, after the byte-order mark when `marked`.
inline std::string Utf16LeBytes(const Text& text, bool marked = false) {
  std::string bytes = marked ? "\xFF\xFE" : "";
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

}  // namespace sorvel
