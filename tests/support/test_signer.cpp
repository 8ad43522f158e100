#include "tests/support/test_signer.h"

#ifdef _WIN32
// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on
#include <cstring>
#else
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <memory>
#include <vector>
#endif

namespace sorvel::test {

bool ParseHex(const std::string& hex, std::uint8_t* bytes, std::size_t size) {
  if (hex.size() != 2 * size) return false;
  auto digit = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  for (std::size_t i = 0; i < size; ++i) {
    const int high = digit(hex[2 * i]), low = digit(hex[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    bytes[i] = static_cast<std::uint8_t>(high << 4 | low);
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

namespace {

struct Free {
  void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); }
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
  void operator()(EVP_MD_CTX* p) const { EVP_MD_CTX_free(p); }
  void operator()(OSSL_PARAM_BLD* p) const { OSSL_PARAM_BLD_free(p); }
  void operator()(OSSL_PARAM* p) const { OSSL_PARAM_free(p); }
  void operator()(BIGNUM* p) const { BN_clear_free(p); }
  void operator()(ECDSA_SIG* p) const { ECDSA_SIG_free(p); }
};
template <typename T>
using Owned = std::unique_ptr<T, Free>;

}  // namespace

bool SignP256(const P256KeyPair& key, const void* data, std::size_t size,
              P256Signature* signature) {
  unsigned char point[65] = {0x04};
  std::copy(key.publicKey.begin(), key.publicKey.end(), point + 1);
  Owned<BIGNUM> scalar(BN_bin2bn(key.scalar.data(), 32, nullptr));
  Owned<OSSL_PARAM_BLD> build(OSSL_PARAM_BLD_new());
  if (!scalar || !build ||
      OSSL_PARAM_BLD_push_utf8_string(build.get(), OSSL_PKEY_PARAM_GROUP_NAME, "prime256v1", 0) !=
          1 ||
      OSSL_PARAM_BLD_push_octet_string(build.get(), OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point) !=
          1 ||
      OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_PRIV_KEY, scalar.get()) != 1) {
    return false;
  }
  Owned<OSSL_PARAM> params(OSSL_PARAM_BLD_to_param(build.get()));
  Owned<EVP_PKEY_CTX> context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  EVP_PKEY* made = nullptr;
  if (!params || !context || EVP_PKEY_fromdata_init(context.get()) != 1 ||
      EVP_PKEY_fromdata(context.get(), &made, EVP_PKEY_KEYPAIR, params.get()) != 1) {
    return false;
  }
  Owned<EVP_PKEY> privateKey(made);

  Owned<EVP_MD_CTX> md(EVP_MD_CTX_new());
  std::size_t length = 0;
  if (!md || EVP_DigestSignInit(md.get(), nullptr, EVP_sha256(), nullptr, privateKey.get()) != 1 ||
      EVP_DigestSign(md.get(), nullptr, &length, nullptr, 0) != 1) {
    return false;
  }
  std::vector<unsigned char> der(length);
  if (EVP_DigestSign(md.get(), der.data(), &length, static_cast<const unsigned char*>(data),
                     size) != 1) {
    return false;
  }
  const unsigned char* at = der.data();
  Owned<ECDSA_SIG> numbers(d2i_ECDSA_SIG(nullptr, &at, static_cast<long>(length)));
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
