// The platform's own cryptography, as the update uses it: SHA-256 and the check of an ECDSA
// P-256 signature. CNG (bcrypt) on Windows, libcrypto elsewhere. Any thread may call these;
// nothing re-enters or blocks.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace sorvel {

using Sha256Digest = std::array<std::uint8_t, 32>;

// SHA-256 fed in pieces of any size.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void Update(const void* data, std::size_t size);
  // The digest of everything fed so far; false when the platform failed. Spent afterwards.
  bool Finish(Sha256Digest* digest);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// A P-256 public key as its point's coordinates: X then Y, 32 bytes each, big-endian.
using P256PublicKey = std::array<std::uint8_t, 64>;
// A signature as its two numbers: r then s, 32 bytes each, big-endian.
using P256Signature = std::array<std::uint8_t, 64>;

// True when `signature` is the key's ECDSA signature of the SHA-256 of the `size` bytes at
// `data` (`data` may be null when `size` is 0); false for any other signature, for r or s outside
// 1..n-1, and for a key that is not a point of the curve.
bool VerifyP256Signature(const P256PublicKey& key, const void* data, std::size_t size,
                         const P256Signature& signature);

}  // namespace sorvel
