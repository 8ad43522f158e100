// Signs bytes as the publisher signs an update manifest, for tests: ECDSA P-256 over SHA-256,
// with the platform's own cryptography (CNG on Windows, libcrypto elsewhere).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/crypto.h"

namespace sorvel::test {

struct P256KeyPair {
  P256PublicKey publicKey;              // X then Y
  std::array<std::uint8_t, 32> scalar;  // d
};

// `size` bytes from exactly 2 * `size` hex digits, either case.
bool ParseHex(const std::string& hex, std::uint8_t* bytes, std::size_t size);

// The build's throw-away update key; false when the build made none.
bool TestUpdateKey(P256KeyPair* key);

// The key's signature of the SHA-256 of the bytes, as r then s; false when the platform failed.
bool SignP256(const P256KeyPair& key, const void* data, std::size_t size, P256Signature* signature);

// What a signature file holds for `bytes`: their signature by `key`, or by the build's test key;
// empty when there is no such key or signing failed.
std::string SignatureFile(const std::string& bytes, const P256KeyPair* key = nullptr);

}  // namespace sorvel::test
