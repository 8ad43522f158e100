// SHA-256 and the P-256 signature check over OpenSSL's libcrypto, loaded by the first check
// rather than with the program: the host needs it only for its update check, seconds after its
// start.
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>

#include "platform/crypto.h"
#include "platform/posix/shared_library.h"

namespace sorvel {
namespace {

// The soname of the libcrypto the build compiled against.
constexpr char kCryptoLibraryFile[] = "libcrypto.so.3";

// The libcrypto functions used here.
struct CryptoLibrary {
  decltype(&EVP_MD_CTX_new) mdContextNew = nullptr;
  decltype(&EVP_MD_CTX_free) mdContextFree = nullptr;
  decltype(&EVP_sha256) sha256 = nullptr;
  decltype(&EVP_DigestInit_ex) digestInit = nullptr;
  decltype(&EVP_DigestUpdate) digestUpdate = nullptr;
  decltype(&EVP_DigestFinal_ex) digestFinal = nullptr;
  decltype(&EVP_DigestVerifyInit) digestVerifyInit = nullptr;
  decltype(&EVP_DigestVerify) digestVerify = nullptr;
  decltype(&EVP_PKEY_CTX_new_from_name) pkeyContextNewFromName = nullptr;
  decltype(&EVP_PKEY_CTX_free) pkeyContextFree = nullptr;
  decltype(&EVP_PKEY_fromdata_init) pkeyFromdataInit = nullptr;
  decltype(&EVP_PKEY_fromdata) pkeyFromdata = nullptr;
  decltype(&EVP_PKEY_free) pkeyFree = nullptr;
  decltype(&OSSL_PARAM_construct_utf8_string) paramUtf8String = nullptr;
  decltype(&OSSL_PARAM_construct_octet_string) paramOctetString = nullptr;
  decltype(&OSSL_PARAM_construct_end) paramEnd = nullptr;
  decltype(&ECDSA_SIG_new) signatureNew = nullptr;
  decltype(&ECDSA_SIG_free) signatureFree = nullptr;
  decltype(&ECDSA_SIG_set0) signatureSet0 = nullptr;
  decltype(&i2d_ECDSA_SIG) signatureToDer = nullptr;
  decltype(&BN_bin2bn) binToNumber = nullptr;
  decltype(&BN_free) numberFree = nullptr;
  decltype(&CRYPTO_free) free = nullptr;
};

bool LoadCryptoLibrary(CryptoLibrary* l) {
  std::string why;
  void* handle = OpenSharedLibrary(kCryptoLibraryFile, &why);
  if (handle == nullptr) return false;
  auto take = [&](const char* name, auto* function) {
    return TakeFunction(handle, name, function, &why);
  };
  bool complete =
      take("EVP_MD_CTX_new", &l->mdContextNew) && take("EVP_MD_CTX_free", &l->mdContextFree) &&
      take("EVP_sha256", &l->sha256) && take("EVP_DigestInit_ex", &l->digestInit) &&
      take("EVP_DigestUpdate", &l->digestUpdate) && take("EVP_DigestFinal_ex", &l->digestFinal) &&
      take("EVP_DigestVerifyInit", &l->digestVerifyInit) &&
      take("EVP_DigestVerify", &l->digestVerify) &&
      take("EVP_PKEY_CTX_new_from_name", &l->pkeyContextNewFromName) &&
      take("EVP_PKEY_CTX_free", &l->pkeyContextFree) &&
      take("EVP_PKEY_fromdata_init", &l->pkeyFromdataInit) &&
      take("EVP_PKEY_fromdata", &l->pkeyFromdata) && take("EVP_PKEY_free", &l->pkeyFree) &&
      take("OSSL_PARAM_construct_utf8_string", &l->paramUtf8String) &&
      take("OSSL_PARAM_construct_octet_string", &l->paramOctetString) &&
      take("OSSL_PARAM_construct_end", &l->paramEnd) && take("ECDSA_SIG_new", &l->signatureNew) &&
      take("ECDSA_SIG_free", &l->signatureFree) && take("ECDSA_SIG_set0", &l->signatureSet0) &&
      take("i2d_ECDSA_SIG", &l->signatureToDer) && take("BN_bin2bn", &l->binToNumber) &&
      take("BN_free", &l->numberFree) && take("CRYPTO_free", &l->free);
  if (!complete) {
    *l = CryptoLibrary();
    CloseSharedLibrary(handle);
  }
  return complete;
}

// libcrypto, loaded on the first call that succeeds; null while it cannot be, which fails every
// check (nothing is trusted without it).
const CryptoLibrary* Crypto() {
  static std::mutex mutex;
  static CryptoLibrary library;
  static bool loaded = false;
  std::lock_guard<std::mutex> lock(mutex);
  if (!loaded) loaded = LoadCryptoLibrary(&library);
  return loaded ? &library : nullptr;
}

// The deleters run only on what the library made, so it is loaded when they run.
struct FreeMdContext {
  void operator()(EVP_MD_CTX* context) const { Crypto()->mdContextFree(context); }
};
struct FreePkeyContext {
  void operator()(EVP_PKEY_CTX* context) const { Crypto()->pkeyContextFree(context); }
};
struct FreePkey {
  void operator()(EVP_PKEY* key) const { Crypto()->pkeyFree(key); }
};
struct FreeSignature {
  void operator()(ECDSA_SIG* signature) const { Crypto()->signatureFree(signature); }
};
struct FreeBytes {
  void operator()(unsigned char* bytes) const { Crypto()->free(bytes, OPENSSL_FILE, OPENSSL_LINE); }
};
using MdContext = std::unique_ptr<EVP_MD_CTX, FreeMdContext>;

// The key from its uncompressed point 04 || X || Y. Null when the point is not on the curve:
// the import checks it.
std::unique_ptr<EVP_PKEY, FreePkey> ImportKey(const CryptoLibrary& c, const P256PublicKey& key) {
  unsigned char point[1 + 64];
  point[0] = 0x04;
  std::copy(key.begin(), key.end(), point + 1);
  char group[] = "prime256v1";
  OSSL_PARAM params[] = {
      c.paramUtf8String(OSSL_PKEY_PARAM_GROUP_NAME, group, 0),
      c.paramOctetString(OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point),
      c.paramEnd(),
  };
  std::unique_ptr<EVP_PKEY_CTX, FreePkeyContext> context(
      c.pkeyContextNewFromName(nullptr, "EC", nullptr));
  EVP_PKEY* imported = nullptr;
  if (!context || c.pkeyFromdataInit(context.get()) != 1 ||
      c.pkeyFromdata(context.get(), &imported, EVP_PKEY_PUBLIC_KEY, params) != 1) {
    return nullptr;
  }
  return std::unique_ptr<EVP_PKEY, FreePkey>(imported);
}

bool IsZero(const std::uint8_t* number) {
  return std::all_of(number, number + 32, [](std::uint8_t b) { return b == 0; });
}

}  // namespace

struct Sha256::State {
  const CryptoLibrary* c = Crypto();
  MdContext context{c != nullptr ? c->mdContextNew() : nullptr};
  bool failed = !context || c->digestInit(context.get(), c->sha256(), nullptr) != 1;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {}
Sha256::~Sha256() = default;

void Sha256::Update(const void* data, std::size_t size) {
  if (state_->failed || size == 0) return;
  state_->failed = state_->c->digestUpdate(state_->context.get(), data, size) != 1;
}

bool Sha256::Finish(Sha256Digest* digest) {
  unsigned int length = 0;
  const bool done = !state_->failed &&
                    state_->c->digestFinal(state_->context.get(), digest->data(), &length) == 1 &&
                    length == digest->size();
  state_->failed = true;
  return done;
}

bool VerifyP256Signature(const P256PublicKey& key, const void* data, std::size_t size,
                         const P256Signature& signature) {
  // The check refuses numbers outside 1..n-1 too; zero is turned away before it reaches DER.
  if (IsZero(signature.data()) || IsZero(signature.data() + 32)) return false;
  const CryptoLibrary* c = Crypto();
  if (c == nullptr) return false;
  auto publicKey = ImportKey(*c, key);
  if (!publicKey) return false;

  std::unique_ptr<ECDSA_SIG, FreeSignature> numbers(c->signatureNew());
  BIGNUM* r = c->binToNumber(signature.data(), 32, nullptr);
  BIGNUM* s = c->binToNumber(signature.data() + 32, 32, nullptr);
  if (!numbers || !r || !s || c->signatureSet0(numbers.get(), r, s) != 1) {
    c->numberFree(r);
    c->numberFree(s);
    return false;
  }
  unsigned char* der = nullptr;
  const int derSize = c->signatureToDer(numbers.get(), &der);
  std::unique_ptr<unsigned char, FreeBytes> ownedDer(der);
  if (derSize <= 0) return false;

  MdContext context(c->mdContextNew());
  return context &&
         c->digestVerifyInit(context.get(), nullptr, c->sha256(), nullptr, publicKey.get()) == 1 &&
         c->digestVerify(context.get(), der, static_cast<std::size_t>(derSize),
                         static_cast<const unsigned char*>(data), size) == 1;
}

}  // namespace sorvel
