// The updater's cases end to end, written once for SorvelUpdate.exe under Wine and sorvel-update
// on X11: the loopback server's routes, and each case's description or manifest and outcome.
// Each platform's test installs the updater beside a program, starts it and reads what it did.
#pragma once

#include <string>
#include <vector>

#include "platform/crypto.h"
#include "tests/e2e/http_server.h"
#include "tests/support/test_signer.h"
#include "tests/support/utf16le.h"

namespace sorvel::scenario {

// Past the test build's 20 s bound of a download in all.
constexpr int kTimeoutMs = 40000;
#ifdef _WIN32
constexpr wchar_t kMainName[] = L"Sorvel.exe", kSection[] = L"Windows-x64";
// The served test program's, the crashing one's.
constexpr wchar_t kServedVersion[] = L"65535.0.1.1";
#else
constexpr wchar_t kMainName[] = L"sorvel", kSection[] = L"Linux-x86_64";
constexpr wchar_t kServedVersion[] = L"1.0.2.0";
#endif
constexpr char kServed[] = "/served";

// The SHA-256 of `bytes` in hex digits; empty when the platform could not hash.
inline std::wstring Sha256Hex(const std::string& bytes) {
  Sha256 hash;
  hash.Update(bytes.data(), bytes.size());
  Sha256Digest digest;
  if (!hash.Finish(&digest)) return std::wstring();
  std::wstring hex;
  for (std::uint8_t b : digest) hex += {L"0123456789abcdef"[b >> 4], L"0123456789abcdef"[b & 15]};
  return hex;
}
// "Download.ini" as the host writes it for `program` at `url`.
inline std::wstring Description(const std::wstring& url, const std::string& program,
                                const std::wstring& version = kServedVersion) {
  return L"[Download]\r\nDownName=" + url + L"\r\nMainName=" + kMainName + L"\r\nSize=" +
         std::to_wstring(program.size()) + L"\r\nSha256=" + Sha256Hex(program) + L"\r\nVersion=" +
         version + L"\r\n";
}
// A manifest offering `program` at `url` as `version`, UTF-16LE with a byte-order mark.
inline std::string ManifestFor(const std::wstring& url, const std::string& program,
                               const std::wstring& version = kServedVersion) {
  const std::wstring text = L"[Update]\r\nVersion=" + version + L"\r\nKind=automatic\r\n[" +
                            kSection + L"]\r\nDownName=" + url + L"\r\nSize=" +
                            std::to_wstring(program.size()) + L"\r\nSha256=" + Sha256Hex(program) +
                            L"\r\n";
  return Utf16LeBytes(Text(text.begin(), text.end()), true);
}
// Serves `manifest` at `path`, its signature by `key` (the build's test key) beside it.
inline void ServeSigned(TestHttpServer& server, const std::string& path,
                        const std::string& manifest, const test::P256KeyPair* key = nullptr) {
  server.Serve(path, Reply(200, manifest));
  server.Serve(path + ".sig", Reply(200, test::SignatureFile(manifest, key)));
}

enum class Outcome { kReplaced, kRefused, kRolledBack };

struct Case {
  const char* name;
  std::wstring description;  // "Download.ini"; none when empty: the manifest at `checkUrl` decides
  std::wstring checkUrl{};   // named by the host's settings
  Outcome outcome = Outcome::kRefused;
  bool hostInstalled = false;  // the real host, 1.0.1.1, installed rather than an unversioned one
  bool oldHostRuns = false;    // that host runs as the updater starts, ended a few seconds later
};

// Of the cases' requests only these reach the served program: the three replacements' and the
// other hash's. The redirect is not followed, the unknown authority refused, and a refused
// manifest downloads nothing.
constexpr int kServedRequests = 4;

// Serves what the cases ask for, beside `served` at kServed over the trusted front that runs.
inline std::vector<Case> ServeCases(TestHttpServer& server, const std::string& served,
                                    const std::string& crashing) {
  using Body = TestHttpServer::Body;
  const std::wstring http = server.Url(kServed);
  server.Serve("/crashing", Reply(200, crashing));
  server.Serve("/page",
               Reply(200, "<html><body>Sorvel</body></html>", Body::kWithLength, "", "text/html"));
  server.Serve("/cut", Reply(200, served.substr(0, served.size() / 2), Body::kWithoutLength));
  server.Serve("/trickle", Reply(200, served, Body::kTrickle));
  server.Serve("/to-http",
               Reply(302, "", Body::kWithLength, std::string(http.begin(), http.end())));
  EXPECT_TRUE(server.StartTls(TestHttpServer::Certificate::kUnknownAuthority));
  const std::string manifest = ManifestFor(server.SecureUrl(kServed), served);
  test::P256KeyPair other{};
  EXPECT_TRUE(test::TestUpdateKey(&other));
  other.scalar[31] ^= 1;
  ServeSigned(server, "/signed.ini", manifest);
  std::string changed = manifest;
  changed[changed.size() - 4] ^= 1;
  ServeSigned(server, "/changed.ini", manifest);
  server.Serve("/changed.ini", Reply(200, changed));
  server.Serve("/unsigned.ini", Reply(200, manifest));
  ServeSigned(server, "/other-key.ini", manifest, &other);
  ServeSigned(server, "/older.ini", ManifestFor(server.SecureUrl(kServed), served, L"1.0.1.0"));
  std::string otherHash = served;
  otherHash.back() ^= 1;
  auto at = [&](const char* path, const std::string& program) {
    return Description(server.SecureUrl(path), program);
  };
  return {
      {"replaced", at(kServed, served), L"", Outcome::kReplaced},
      {"signed manifest", L"", server.SecureUrl("/signed.ini"), Outcome::kReplaced},
      // The new program takes the old one's place at once, but starts only once the old host
      // has ended: until then it holds the host's name.
      {"old host still runs", at(kServed, served), L"", Outcome::kReplaced, true, true},
      {"not found", at("/missing", served)},
      {"web page", at("/page", served)},
      // Over http: the TLS front holds a connection without a length open.
      {"cut short without a length", Description(server.Url("/cut"), served)},
      {"other hash", at(kServed, otherHash)},
      // A byte every 50 ms: past the test build's 20 s in all, long before its end.
      {"a body that trickles past the total time", at("/trickle", served)},
      {"redirect from https to http", at("/to-http", served)},
      {"certificate of an unknown authority",
       Description(server.SecureUrl(kServed, TestHttpServer::Certificate::kUnknownAuthority),
                   served)},
      {"unsigned manifest", L"", server.SecureUrl("/unsigned.ini")},
      {"manifest changed after signing", L"", server.SecureUrl("/changed.ini")},
      {"manifest signed by another key", L"", server.SecureUrl("/other-key.ini")},
      // The installed host is 1.0.1.1, read from its own version.
      {"replayed older manifest", L"", server.SecureUrl("/older.ini"), Outcome::kRefused, true},
      {"new program crashes at start", at("/crashing", crashing), L"", Outcome::kRolledBack},
  };
}

}  // namespace sorvel::scenario
