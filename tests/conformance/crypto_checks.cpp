// The update's cryptography, checked the same way against each platform's: natively against
// libcrypto, under Wine against CNG.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/crypto.h"
#include "tests/support/test_signer.h"
#include "update/trusted_keys.h"

namespace sorvel {
namespace {

using namespace std::string_literals;

template <std::size_t N>
std::array<std::uint8_t, N> FromHex(const std::string& hex) {
  std::array<std::uint8_t, N> bytes{};
  EXPECT_TRUE(test::ParseHex(hex, bytes.data(), N)) << hex;
  return bytes;
}

TEST(Sha256, StandardVectorsWholeAndInPieces) {
  struct Case {
    std::string message;
    const char* digest;
  };
  std::string varied;
  for (int i = 0; i < 1000; ++i) varied.push_back(static_cast<char>(i * 7));
  const Case cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {varied, "89f4ff56a25dd1db06a4ce6033603775d705fb96f30f8693733fef602a1ca532"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Case& c : cases) {
    for (std::size_t piece :
         {std::size_t{1}, std::size_t{55}, std::size_t{64}, std::size_t{65}, c.message.size()}) {
      if (piece == 0) piece = 1;
      Sha256 hash;
      for (std::size_t at = 0; at < c.message.size(); at += piece) {
        hash.Update(c.message.data() + at, std::min(piece, c.message.size() - at));
      }
      Sha256Digest digest{};
      ASSERT_TRUE(hash.Finish(&digest));
      EXPECT_EQ(digest, FromHex<32>(c.digest)) << c.message.size() << " bytes by " << piece;
    }
  }
}

// A key and signature published with the deterministic-nonce construction for P-256 and
// SHA-256: the message "sample".
const P256PublicKey kKnownKey = FromHex<64>(
    "60fed4ba255a9d31c961eb74c6356d68c049b8923b61fa6ce669622e60f29fb6"
    "7903fe1008b8bc99a41ae9e95628bc64f2f1b20c2d7e9f5177a3c294d4462299");
const P256Signature kKnownSignature = FromHex<64>(
    "efd48b2aacb6a8fd1140dd9cd45e81d69d2c877b56aaf991c34d0ea84eaf3716"
    "f7cb1c942d657c41d436c7a1b6e29f65f3e900dbb9aff4064dc4ab2f843acda8");
// The curve's base point: a valid key whose private half is 1, so nobody's key.
const P256PublicKey kBasePoint = FromHex<64>(
    "6b17d1f2e12c4247f8bce6e563a440f277037d812deb33a0f4a13945d898c296"
    "4fe342e2fe1a7f9b8ee7eb4a7c0f9e162bce33576b315ececbb6406837bf51f5");
// The order n of the base point.
const std::string kOrder = "ffffffff00000000ffffffffffffffffbce6faada7179e84f3b9cac2fc632551";

template <std::size_t N>
std::array<std::uint8_t, N> FlipBit(std::array<std::uint8_t, N> bytes, std::size_t bit) {
  bytes[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
  return bytes;
}

// The signature with its r (at 0) or its s (at 32) replaced.
P256Signature With(P256Signature signature, std::size_t at, const std::string& hex) {
  const auto half = FromHex<32>(hex);
  std::copy(half.begin(), half.end(), signature.begin() + at);
  return signature;
}

P256Signature Swapped(P256Signature signature) {
  std::rotate(signature.begin(), signature.begin() + 32, signature.end());
  return signature;
}

TEST(P256Signature, OnlyTheKeysSignatureOfTheExactBytesChecksAndTheTestKeyIsTrustedOnce) {
  test::P256KeyPair key{};
  if (!test::TestUpdateKey(&key)) GTEST_SKIP() << "configure with -DSORVEL_TEST_UPDATE_KEY=ON";
  const std::string manifest = "\xff\xfe[\0U\0p\0d\0a\0t\0e\0]\0\r\0\n\0"s;
  P256Signature good{}, ofEmpty{};
  ASSERT_TRUE(test::SignP256(key, manifest.data(), manifest.size(), &good));
  ASSERT_TRUE(test::SignP256(key, nullptr, 0, &ofEmpty));
  std::string flipped = manifest;
  flipped[5] ^= 0x10;
  const std::string zero(64, '0');
  struct Case {
    const char* name;
    P256PublicKey key;
    std::string data;
    P256Signature signature;
    bool checks;
  };
  const Case cases[] = {
      {"good", key.publicKey, manifest, good, true},
      {"a bit of the data flipped", key.publicKey, flipped, good, false},
      {"a byte more", key.publicKey, manifest + '\0', good, false},
      {"the last byte less", key.publicKey, manifest.substr(0, manifest.size() - 1), good, false},
      {"a bit of r flipped", key.publicKey, manifest, FlipBit(good, 100), false},
      {"a bit of s flipped", key.publicKey, manifest, FlipBit(good, 300), false},
      {"r and s swapped", key.publicKey, manifest, Swapped(good), false},
      {"another key", kBasePoint, manifest, good, false},
      {"r = 0", key.publicKey, manifest, With(good, 0, zero), false},
      {"s = 0", key.publicKey, manifest, With(good, 32, zero), false},
      {"s = n", key.publicKey, manifest, With(good, 32, kOrder), false},
      {"s > n", key.publicKey, manifest, With(good, 32, std::string(64, 'f')), false},
      {"r = n", key.publicKey, manifest, With(good, 0, kOrder), false},
      {"a key off the curve", FlipBit(key.publicKey, 500), manifest, good, false},
      {"a key of zeros", P256PublicKey{}, manifest, good, false},
      {"the empty message", key.publicKey, "", ofEmpty, true},
      {"the empty message's signature on one byte", key.publicKey, "\0"s, ofEmpty, false},
      {"the published vector", kKnownKey, "sample", kKnownSignature, true},
      {"the published vector, another message", kKnownKey, "Sample", kKnownSignature, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(VerifyP256Signature(c.key, c.data.empty() ? nullptr : c.data.data(), c.data.size(),
                                  c.signature),
              c.checks)
        << c.name;
  }
  // The publisher's own key comes first and is not the test key; the test key is trusted once.
  const std::vector<P256PublicKey> trusted = TrustedUpdateKeys();
  ASSERT_GE(trusted.size(), 2u);
  EXPECT_FALSE(VerifyP256Signature(trusted.front(), manifest.data(), manifest.size(), good));
  EXPECT_EQ(std::count_if(trusted.begin(), trusted.end(),
                          [&](const P256PublicKey& k) {
                            return VerifyP256Signature(k, manifest.data(), manifest.size(), good);
                          }),
            1);
}

}  // namespace
}  // namespace sorvel
