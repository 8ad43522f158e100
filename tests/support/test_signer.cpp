#include "tests/support/test_signer.h"

#ifdef _WIN32
// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on
#include <cstring>
#else
#include <openssl/ec.h>
#include <openssl/evp.h>

#include <iterator>
#include <memory>
#include <vector>
#endif

namespace sorvel::test {

bool ParseHex(const std::string& hex, std::uint8_t* bytes, std::size_t size) {
  if (hex.size() != 2 * size || hex.find_first_not_of("0123456789abcdefABCDEF") != hex.npos) {
    return false;
  }
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<std::uint8_t>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
  }
  return true;
}

bool TestUpdateKey(P256KeyPair* key) {
#if defined(SORVEL_TEST_UPDATE_KEY_D) && defined(SORVEL_TEST_UPDATE_KEY_PUB)
  return ParseHex(SORVEL_TEST_UPDATE_KEY_PUB, key->publicKey.data(), key->publicKey.size()) &&
         ParseHex(SORVEL_TEST_UPDATE_KEY_D, key->scalar.data(), key->scalar.size());
#else
  (void)key;
  return false;
#endif
}

#ifdef _WIN32

bool SignP256(const P256KeyPair& key, const void* data, std::size_t size,
              P256Signature* signature) {
  Sha256Digest digest;
  Sha256 hash;
  hash.Update(data, size);
  if (!hash.Finish(&digest)) return false;

  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!BCRYPT_SUCCESS(
          BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) {
    return false;
  }
  // The private blob: its header, X, Y, then d.
  const BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PRIVATE_P256_MAGIC, 32};
  UCHAR blob[sizeof header + 96];
  std::memcpy(blob, &header, sizeof header);
  std::memcpy(blob + sizeof header, key.publicKey.data(), 64);
  std::memcpy(blob + sizeof header + 64, key.scalar.data(), 32);
  BCRYPT_KEY_HANDLE privateKey = nullptr;
  ULONG written = 0;
  const bool signed_ =
      BCRYPT_SUCCESS(BCryptImportKeyPair(algorithm, nullptr, BCRYPT_ECCPRIVATE_BLOB, &privateKey,
                                         blob, sizeof blob, 0)) &&
      BCRYPT_SUCCESS(BCryptSignHash(privateKey, nullptr, digest.data(), 32, signature->data(),
                                    static_cast<ULONG>(signature->size()), &written, 0)) &&
      written == signature->size();
  SecureZeroMemory(blob, sizeof blob);
  if (privateKey != nullptr) BCryptDestroyKey(privateKey);
  BCryptCloseAlgorithmProvider(algorithm, 0);
  return signed_;
}

#else

// An OpenSSL object, freed by `Free`.
template <typename T, void (*Free)(T*)>
struct Owned : std::unique_ptr<T, void (*)(T*)> {
  explicit Owned(T* p) : std::unique_ptr<T, void (*)(T*)>(p, Free) {}
};

bool SignP256(const P256KeyPair& key, const void* data, std::size_t size,
              P256Signature* signature) {
  // The key as SEC 1's ECPrivateKey in DER: version 1, d, then the curve (prime256v1).
  unsigned char sec1[51] = {0x30, 0x31, 0x02, 0x01, 0x01, 0x04, 0x20};
  const unsigned char curve[] = {0xA0, 0x0A, 0x06, 0x08, 0x2A, 0x86,
                                 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};
  std::copy(key.scalar.begin(), key.scalar.end(), sec1 + 7);
  std::copy(std::begin(curve), std::end(curve), sec1 + 39);
  const unsigned char* read = sec1;
  Owned<EVP_PKEY, EVP_PKEY_free> privateKey(
      d2i_PrivateKey(EVP_PKEY_EC, nullptr, &read, sizeof sec1));
  OPENSSL_cleanse(sec1, sizeof sec1);
  Owned<EVP_MD_CTX, EVP_MD_CTX_free> md(EVP_MD_CTX_new());
  std::size_t length = 0;
  if (!privateKey || !md ||
      EVP_DigestSignInit(md.get(), nullptr, EVP_sha256(), nullptr, privateKey.get()) != 1 ||
      EVP_DigestSign(md.get(), nullptr, &length, nullptr, 0) != 1) {
    return false;
  }
  std::vector<unsigned char> der(length);
  if (EVP_DigestSign(md.get(), der.data(), &length, static_cast<const unsigned char*>(data),
                     size) != 1) {
    return false;
  }
  const unsigned char* at = der.data();
  Owned<ECDSA_SIG, ECDSA_SIG_free> numbers(d2i_ECDSA_SIG(nullptr, &at, static_cast<long>(length)));
  return numbers && BN_bn2binpad(ECDSA_SIG_get0_r(numbers.get()), signature->data(), 32) == 32 &&
         BN_bn2binpad(ECDSA_SIG_get0_s(numbers.get()), signature->data() + 32, 32) == 32;
}

#endif

std::string SignatureFile(const std::string& bytes, const P256KeyPair* key) {
  P256KeyPair own;
  if (key == nullptr) {
    if (!TestUpdateKey(&own)) return std::string();
    key = &own;
  }
  P256Signature signature{};
  if (!SignP256(*key, bytes.data(), bytes.size(), &signature)) return std::string();
  return std::string(signature.begin(), signature.end());
}

}  // namespace sorvel::test
