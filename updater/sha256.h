// SHA-256 (FIPS 180-4), fed in pieces of any size.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace sorvel {

using Sha256Digest = std::array<std::uint8_t, 32>;

class Sha256 {
 public:
  Sha256();
  void Update(const void* data, std::size_t size);
  // The digest of everything fed so far; the object is spent afterwards.
  Sha256Digest Finish();

 private:
  void Compress(const std::uint8_t* block);

  std::array<std::uint32_t, 8> state_;
  std::array<std::uint8_t, 64> block_{};
  std::size_t blockFill_ = 0;
  std::uint64_t totalBytes_ = 0;
};

}  // namespace sorvel
