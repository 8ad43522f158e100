// What both programs share about updates: the signed manifest and the description file.
#include <gtest/gtest.h>

#include "settings/profile.h"
#include "tests/support/test_signer.h"
#include "tests/support/utf16le.h"
#include "tests/unit/host_fixture.h"
#include "update/description.h"
#include "update/manifest.h"
#include "update/program_file.h"

namespace sorvel {
namespace {

constexpr char16_t kSection[] = u"Linux-x86_64";
constexpr char16_t kHash[] = u"00112233445566778899aabbccddeeff00112233445566778899AABBCCDDEEFF";

Text Lower(Text text) {
  for (char16_t& c : text) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return text;
}

std::string Sign(const test::P256KeyPair& key, const std::string& bytes) {
  P256Signature signature{};
  EXPECT_TRUE(test::SignP256(key, bytes.data(), bytes.size(), &signature));
  return std::string(signature.begin(), signature.end());
}

TEST(ManifestTest, OnlyTheSignedBytesOfAWellFormedManifestCount) {
  test::P256KeyPair key, other;
  ASSERT_TRUE(test::TestUpdateKey(&key));
  other = key;
  other.scalar[31] ^= 1;
  const std::vector<P256PublicKey> keys = {key.publicKey};
  const Text program = Text(u"[") + kSection + u"]\r\nDownName=https://updates.test/sorvel\r\n";
  const Text bound = program + u"Size=123456\r\nSha256=" + kHash + u"\r\n";
  auto manifest = [](const Text& update, const Text& rest) {
    return Utf16LeBytes(u"[Update]\r\n" + update + rest, true);
  };
  const std::string good = manifest(u"Version=1.0.2.0\r\nKind=automatic\r\n", bound);
  std::string flipped = good;
  flipped[30] ^= 1;
  struct Case {
    const char* name;
    std::string bytes, signature;
    bool read;
    bool program;
  };
  const std::string goodSignature = Sign(key, good);
  auto signedCase = [&](const char* name, const std::string& bytes, bool read, bool hasProgram) {
    return Case{name, bytes, Sign(key, bytes), read, hasProgram};
  };
  const Case cases[] = {
      {"signed", good, goodSignature, true, true},
      {"a byte changed after signing", flipped, goodSignature, false, false},
      {"signed by another key", good, Sign(other, good), false, false},
      {"signature cut short", good, goodSignature.substr(0, 63), false, false},
      {"signature too long", good, goodSignature + "x", false, false},
      {"no signature", good, "", false, false},
      signedCase("optional without a program",
                 manifest(u"Version=2.0.0.0\r\nKind=optional\r\n", u""), true, false),
      signedCase("mandatory with a program",
                 manifest(u"Version=2.0.0.0\r\nKind=mandatory\r\n", bound), true, true),
      signedCase("automatic without this build's program",
                 manifest(u"Version=2.0.0.0\r\nKind=automatic\r\n",
                          u"[Windows-x64]\r\nDownName=https://updates.test/S.exe\r\nSize=1\r\n"
                          u"Sha256=" +
                              Text(kHash) + u"\r\n"),
                 false, false),
      signedCase("no version", manifest(u"Kind=optional\r\n", u""), false, false),
      signedCase("three-part version", manifest(u"Version=2.0.0\r\nKind=optional\r\n", u""), false,
                 false),
      signedCase("part over 65535", manifest(u"Version=1.0.65536.0\r\nKind=optional\r\n", u""),
                 false, false),
      signedCase("unknown kind", manifest(u"Version=2.0.0.0\r\nKind=Optional\r\n", u""), false,
                 false),
      signedCase("no size",
                 manifest(u"Version=2.0.0.0\r\nKind=automatic\r\n",
                          program + u"Sha256=" + kHash + u"\r\n"),
                 false, false),
      signedCase("size zero",
                 manifest(u"Version=2.0.0.0\r\nKind=automatic\r\n",
                          program + u"Size=0\r\nSha256=" + kHash + u"\r\n"),
                 false, false),
      signedCase("size beyond the limit",
                 manifest(u"Version=2.0.0.0\r\nKind=automatic\r\n",
                          program + u"Size=268435457\r\nSha256=" + kHash + u"\r\n"),
                 false, false),
      signedCase("size not decimal",
                 manifest(u"Version=2.0.0.0\r\nKind=automatic\r\n",
                          program + u"Size=0x10\r\nSha256=" + kHash + u"\r\n"),
                 false, false),
      signedCase("short hash",
                 manifest(u"Version=2.0.0.0\r\nKind=automatic\r\n",
                          program + u"Size=1\r\nSha256=" + Text(kHash).substr(1) + u"\r\n"),
                 false, false),
      signedCase("hash not hex",
                 manifest(u"Version=2.0.0.0\r\nKind=automatic\r\n",
                          program + u"Size=1\r\nSha256=g" + Text(kHash).substr(1) + u"\r\n"),
                 false, false),
      signedCase(
          "not a web address",
          manifest(u"Version=2.0.0.0\r\nKind=automatic\r\n",
                   Text(u"[") + kSection + u"]\r\nDownName=file:///etc/passwd\r\nSize=1\r\n" +
                       u"Sha256=" + kHash + u"\r\n"),
          false, false),
      signedCase("odd byte count", good + " ", false, false),
      signedCase("over 64 KiB",
                 manifest(u"Version=2.0.0.0\r\nKind=optional\r\n" + Text(33000, u';'), u""), false,
                 false),
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Text why;
    std::optional<Manifest> read = ReadSignedManifest(c.bytes, c.signature, keys, kSection, &why);
    ASSERT_EQ(read.has_value(), c.read) << ToUtf8(why);
    if (!read) {
      EXPECT_FALSE(why.empty());
      continue;
    }
    ASSERT_EQ(read->program.has_value(), c.program);
    if (read->program) {
      EXPECT_EQ(read->program->downloadUrl, u"https://updates.test/sorvel");
      EXPECT_EQ(read->program->size, 123456u);
      EXPECT_EQ(FormatSha256(read->program->sha256), Lower(kHash));
      EXPECT_EQ(read->program->version, read->version);
    }
  }
}

using DescriptionTest = HostTest;

TEST_F(DescriptionTest, TheHostsDescriptionBindsTheProgramAndReadsBack) {
  const Text path = u"\\Program Files\\Sorvel\\Download.ini";
  SignedProgram program;
  program.downloadUrl = u"https://updates.test/Sorvel.exe";
  program.size = 4096;
  ASSERT_TRUE(ParseSha256(kHash, &program.sha256));
  program.version = 0x0001'0000'0002'0000;
  ASSERT_TRUE(WriteUpdateDescription(files_, path, u"Sorvel.exe", program));
  EXPECT_EQ(files_.Bytes(path),
            Utf16LeBytes(u"[Download]\r\nDownName=https://updates.test/Sorvel.exe\r\n"
                         u"MainName=Sorvel.exe\r\nSize=4096\r\nSha256=" +
                         Lower(kHash) + u"\r\nVersion=1.0.2.0\r\n"));
  UpdateDescription read = ReadUpdateDescription(files_, path);
  EXPECT_EQ(read.mainName, u"Sorvel.exe");
  ASSERT_TRUE(read.program.has_value());
  EXPECT_EQ(read.program->downloadUrl, program.downloadUrl);
  EXPECT_EQ(read.program->size, program.size);
  EXPECT_EQ(read.program->sha256, program.sha256);
  EXPECT_EQ(read.program->version, program.version);

  // Without any one of the binding keys, nothing binds the program.
  for (const char16_t* key : {u"Size", u"Sha256", u"Version"}) {
    SCOPED_TRACE(ToUtf8(key));
    ASSERT_TRUE(WriteUpdateDescription(files_, path, u"Sorvel.exe", program));
    WritePrivateProfileString(files_, u"Download", key, u"", path.c_str());
    EXPECT_FALSE(ReadUpdateDescription(files_, path).program.has_value());
  }
  // A file that cannot be written is reported, so that no updater starts on an older one.
  files_.SetAttributes(path, SimFileSystem::kAttributeReadOnly);
  EXPECT_FALSE(WriteUpdateDescription(files_, path, u"Sorvel.exe", program));
}

}  // namespace
}  // namespace sorvel
