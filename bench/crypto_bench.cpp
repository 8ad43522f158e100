// The update's cryptography on this platform (libcrypto natively, CNG under Wine): the check of
// one manifest signature, cold (the first call of the process) and then the median of many, and
// SHA-256 of 1 MiB for scale. Prints figures against the aim; asserts nothing about them, but
// fails when a good signature does not check or a bad one does.
//
//   crypto_bench [rounds]      (scripts/test runs it natively and under Wine)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/crypto.h"

namespace {

using namespace sorvel;
using Clock = std::chrono::steady_clock;

// A published P-256/SHA-256 vector (deterministic nonce): the key, and its signature of
// "sample".
constexpr P256PublicKey kKey = {
    0x60, 0xfe, 0xd4, 0xba, 0x25, 0x5a, 0x9d, 0x31, 0xc9, 0x61, 0xeb, 0x74, 0xc6, 0x35, 0x6d, 0x68,
    0xc0, 0x49, 0xb8, 0x92, 0x3b, 0x61, 0xfa, 0x6c, 0xe6, 0x69, 0x62, 0x2e, 0x60, 0xf2, 0x9f, 0xb6,
    0x79, 0x03, 0xfe, 0x10, 0x08, 0xb8, 0xbc, 0x99, 0xa4, 0x1a, 0xe9, 0xe9, 0x56, 0x28, 0xbc, 0x64,
    0xf2, 0xf1, 0xb2, 0x0c, 0x2d, 0x7e, 0x9f, 0x51, 0x77, 0xa3, 0xc2, 0x94, 0xd4, 0x46, 0x22, 0x99};
constexpr P256Signature kSignature = {
    0xef, 0xd4, 0x8b, 0x2a, 0xac, 0xb6, 0xa8, 0xfd, 0x11, 0x40, 0xdd, 0x9c, 0xd4, 0x5e, 0x81, 0xd6,
    0x9d, 0x2c, 0x87, 0x7b, 0x56, 0xaa, 0xf9, 0x91, 0xc3, 0x4d, 0x0e, 0xa8, 0x4e, 0xaf, 0x37, 0x16,
    0xf7, 0xcb, 0x1c, 0x94, 0x2d, 0x65, 0x7c, 0x41, 0xd4, 0x36, 0xc7, 0xa1, 0xb6, 0xe2, 0x9f, 0x65,
    0xf3, 0xe9, 0x00, 0xdb, 0xb9, 0xaf, 0xf4, 0x06, 0x4d, 0xc4, 0xab, 0x2f, 0x84, 0x3a, 0xcd, 0xa8};
constexpr char kMessage[] = "sample";
constexpr double kAimMs = 5.0;

double Milliseconds(Clock::time_point since) {
  return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

bool Check(const char* message) {
  return VerifyP256Signature(kKey, message, std::char_traits<char>::length(message), kSignature);
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 201;

  Clock::time_point start = Clock::now();
  const bool first = Check(kMessage);
  const double cold = Milliseconds(start);
  std::vector<double> checks;
  bool allGood = first;
  for (int i = 0; i < rounds; ++i) {
    start = Clock::now();
    allGood = Check(kMessage) && allGood;
    checks.push_back(Milliseconds(start));
  }
  if (!allGood || Check("Sample")) {
    std::printf("crypto_bench: FAILED: the published signature %s\n",
                allGood ? "checks for another message" : "does not check");
    return 1;
  }

  const std::string mebibyte(1 << 20, '\x5a');
  std::vector<double> hashes;
  for (int i = 0; i < 21; ++i) {
    start = Clock::now();
    Sha256 hash;
    hash.Update(mebibyte.data(), mebibyte.size());
    Sha256Digest digest;
    if (!hash.Finish(&digest)) {
      std::printf("crypto_bench: FAILED: SHA-256 failed\n");
      return 1;
    }
    hashes.push_back(Milliseconds(start));
  }

  const double median = Median(checks);
  std::printf("signature check: first %.3f ms, median %.3f ms of %d (min %.3f, max %.3f)\n", cold,
              median, rounds, *std::min_element(checks.begin(), checks.end()),
              *std::max_element(checks.begin(), checks.end()));
  const double hashMs = Median(hashes);
  std::printf("SHA-256 of 1 MiB: median %.3f ms of 21 (%.0f MiB/s)\n", hashMs, 1000.0 / hashMs);
  std::printf("aim: a signature check under %.0f ms: %s\n", kAimMs,
              median < kAimMs ? "met" : "missed");
  return 0;
}
