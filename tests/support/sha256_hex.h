// The SHA-256 of some bytes in hex digits, as a manifest or a description file announces it.
#pragma once

#include <string>

#include "updater/sha256.h"

namespace sorvel {

inline std::wstring Sha256Hex(const std::string& bytes, bool upperCase = false) {
  Sha256 hash;
  hash.Update(bytes.data(), bytes.size());
  const wchar_t* digits = upperCase ? L"0123456789ABCDEF" : L"0123456789abcdef";
  std::wstring hex;
  for (std::uint8_t b : hash.Finish()) {
    hex += digits[b >> 4];
    hex += digits[b & 15];
  }
  return hex;
}

}  // namespace sorvel
