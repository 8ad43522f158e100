// The SHA-256 of some bytes in hex digits, as a manifest or a description file announces it.
#pragma once

#include <string>

#include "platform/crypto.h"

namespace sorvel {

// Empty when the platform could not hash.
inline std::wstring Sha256Hex(const std::string& bytes) {
  Sha256 hash;
  hash.Update(bytes.data(), bytes.size());
  Sha256Digest digest;
  if (!hash.Finish(&digest)) return std::wstring();
  std::wstring hex;
  for (std::uint8_t b : digest) hex += {L"0123456789abcdef"[b >> 4], L"0123456789abcdef"[b & 15]};
  return hex;
}

}  // namespace sorvel
