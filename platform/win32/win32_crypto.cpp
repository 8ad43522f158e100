// SHA-256 and the P-256 signature check over CNG (bcrypt).
// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on

#include <algorithm>
#include <climits>
#include <cstring>

#include "platform/crypto.h"

namespace sorvel {
namespace {

class Algorithm {
 public:
  explicit Algorithm(const wchar_t* name) {
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&handle_, name, nullptr, 0))) handle_ = nullptr;
  }
  ~Algorithm() {
    if (handle_ != nullptr) BCryptCloseAlgorithmProvider(handle_, 0);
  }
  Algorithm(const Algorithm&) = delete;
  Algorithm& operator=(const Algorithm&) = delete;
  BCRYPT_ALG_HANDLE Get() const { return handle_; }

 private:
  BCRYPT_ALG_HANDLE handle_ = nullptr;
};

class Key {
 public:
  Key() = default;
  ~Key() {
    if (handle_ != nullptr) BCryptDestroyKey(handle_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  BCRYPT_KEY_HANDLE* Out() { return &handle_; }
  BCRYPT_KEY_HANDLE Get() const { return handle_; }

 private:
  BCRYPT_KEY_HANDLE handle_ = nullptr;
};

}  // namespace

struct Sha256::State {
  Algorithm algorithm{BCRYPT_SHA256_ALGORITHM};
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool failed =
      algorithm.Get() == nullptr ||
      !BCRYPT_SUCCESS(BCryptCreateHash(algorithm.Get(), &hash, nullptr, 0, nullptr, 0, 0));

  ~State() {
    if (hash != nullptr) BCryptDestroyHash(hash);
  }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {}
Sha256::~Sha256() = default;

void Sha256::Update(const void* data, std::size_t size) {
  // The call takes a ULONG count: larger inputs go in several pieces.
  auto* bytes = static_cast<UCHAR*>(const_cast<void*>(data));
  while (!state_->failed && size != 0) {
    const ULONG piece = static_cast<ULONG>(std::min<std::size_t>(size, ULONG_MAX));
    state_->failed = !BCRYPT_SUCCESS(BCryptHashData(state_->hash, bytes, piece, 0));
    bytes += piece;
    size -= piece;
  }
}

bool Sha256::Finish(Sha256Digest* digest) {
  const bool done =
      !state_->failed && BCRYPT_SUCCESS(BCryptFinishHash(state_->hash, digest->data(),
                                                         static_cast<ULONG>(digest->size()), 0));
  state_->failed = true;
  return done;
}

bool VerifyP256Signature(const P256PublicKey& key, const void* data, std::size_t size,
                         const P256Signature& signature) {
  Sha256Digest digest;
  Sha256 hash;
  hash.Update(data, size);
  if (!hash.Finish(&digest)) return false;

  Algorithm algorithm(BCRYPT_ECDSA_P256_ALGORITHM);
  if (algorithm.Get() == nullptr) return false;
  // The public blob: its header, then X and Y. The import refuses a point off the curve.
  const BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
  UCHAR blob[sizeof header + 64];
  std::memcpy(blob, &header, sizeof header);
  std::memcpy(blob + sizeof header, key.data(), key.size());
  Key publicKey;
  if (!BCRYPT_SUCCESS(BCryptImportKeyPair(algorithm.Get(), nullptr, BCRYPT_ECCPUBLIC_BLOB,
                                          publicKey.Out(), blob, sizeof blob, 0))) {
    return false;
  }
  P256Signature numbers = signature;
  return BCRYPT_SUCCESS(BCryptVerifySignature(publicKey.Get(), nullptr, digest.data(),
                                              static_cast<ULONG>(digest.size()), numbers.data(),
                                              static_cast<ULONG>(numbers.size()), 0));
}

}  // namespace sorvel
