// SHA-256 and the P-256 signature check over OpenSSL's libcrypto.
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <algorithm>
#include <memory>

#include "platform/crypto.h"

namespace sorvel {
namespace {

struct FreeMdContext {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
struct FreePkeyContext {
  void operator()(EVP_PKEY_CTX* context) const { EVP_PKEY_CTX_free(context); }
};
struct FreePkey {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct FreeSignature {
  void operator()(ECDSA_SIG* signature) const { ECDSA_SIG_free(signature); }
};
struct FreeBytes {
  void operator()(unsigned char* bytes) const { OPENSSL_free(bytes); }
};
using MdContext = std::unique_ptr<EVP_MD_CTX, FreeMdContext>;

// The key from its uncompressed point 04 || X || Y. Null when the point is not on the curve:
// the import checks it.
std::unique_ptr<EVP_PKEY, FreePkey> ImportKey(const P256PublicKey& key) {
  unsigned char point[1 + 64];
  point[0] = 0x04;
  std::copy(key.begin(), key.end(), point + 1);
  char group[] = "prime256v1";
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, group, 0),
      OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point),
      OSSL_PARAM_construct_end(),
  };
  std::unique_ptr<EVP_PKEY_CTX, FreePkeyContext> context(
      EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  EVP_PKEY* imported = nullptr;
  if (!context || EVP_PKEY_fromdata_init(context.get()) != 1 ||
      EVP_PKEY_fromdata(context.get(), &imported, EVP_PKEY_PUBLIC_KEY, params) != 1) {
    return nullptr;
  }
  return std::unique_ptr<EVP_PKEY, FreePkey>(imported);
}

bool IsZero(const std::uint8_t* number) {
  return std::all_of(number, number + 32, [](std::uint8_t b) { return b == 0; });
}

}  // namespace

struct Sha256::State {
  MdContext context{EVP_MD_CTX_new()};
  bool failed = !context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {}
Sha256::~Sha256() = default;

void Sha256::Update(const void* data, std::size_t size) {
  if (state_->failed || size == 0) return;
  state_->failed = EVP_DigestUpdate(state_->context.get(), data, size) != 1;
}

bool Sha256::Finish(Sha256Digest* digest) {
  unsigned int length = 0;
  const bool done = !state_->failed &&
                    EVP_DigestFinal_ex(state_->context.get(), digest->data(), &length) == 1 &&
                    length == digest->size();
  state_->failed = true;
  return done;
}

bool VerifyP256Signature(const P256PublicKey& key, const void* data, std::size_t size,
                         const P256Signature& signature) {
  // The check refuses numbers outside 1..n-1 too; zero is turned away before it reaches DER.
  if (IsZero(signature.data()) || IsZero(signature.data() + 32)) return false;
  auto publicKey = ImportKey(key);
  if (!publicKey) return false;

  std::unique_ptr<ECDSA_SIG, FreeSignature> numbers(ECDSA_SIG_new());
  BIGNUM* r = BN_bin2bn(signature.data(), 32, nullptr);
  BIGNUM* s = BN_bin2bn(signature.data() + 32, 32, nullptr);
  if (!numbers || !r || !s || ECDSA_SIG_set0(numbers.get(), r, s) != 1) {
    BN_free(r);
    BN_free(s);
    return false;
  }
  unsigned char* der = nullptr;
  const int derSize = i2d_ECDSA_SIG(numbers.get(), &der);
  std::unique_ptr<unsigned char, FreeBytes> ownedDer(der);
  if (derSize <= 0) return false;

  MdContext context(EVP_MD_CTX_new());
  return context &&
         EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, publicKey.get()) ==
             1 &&
         EVP_DigestVerify(context.get(), der, static_cast<std::size_t>(derSize),
                          static_cast<const unsigned char*>(data), size) == 1;
}

}  // namespace sorvel
