// The version step: sealed version files, selection by mode, and the remote path template.

#include "engine/version.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "codec/builtin_key.h"
#include "engine/recovery_state.h"
#include "publish/sealer.h"
#include "support/test_support.h"

namespace repair {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr char kVersionName[] = "buildver.tvf";
constexpr char kTemplate[] = "http://h/$MAJORVER$/$MINORVER$";

constexpr std::int32_t Code(RecoveryError e) { return static_cast<std::int32_t>(e); }

// Little-endian words written out by hand, sealed for the built-in key.
Bytes SealedWords(std::initializer_list<std::uint32_t> words) {
  static const Bytes key =
      publish::PublicKeyFromPrivate(Bytes(BuiltinKey(), BuiltinKey() + BuiltinKeyLength()));
  Bytes plain;
  for (std::uint32_t w : words) {
    for (int shift = 0; shift < 32; shift += 8) plain.push_back(std::uint8_t(w >> shift));
  }
  return publish::Seal(key, plain);
}

class VersionTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(ResetRecoveryState()); }
  void WriteVersion(const Bytes& bytes) { test::WriteAll(dir_.File(kVersionName), bytes); }
  bool Resolve(VersionMode mode, std::int32_t major = 0, std::int32_t minor = 0,
               const char* remoteTemplate = kTemplate) {
    last_ = ResolveRemotePath(dir_.File("").c_str(), kVersionName, remoteTemplate, mode, major,
                              minor, resolved_);
    return last_.ok();
  }

  Status last_;  // what the last Resolve returned

  test::TempDir dir_;
  std::string resolved_ = "untouched";
};

TEST(VersionStampTest, DecodesOnlySealedTwelveOrSixteenBytes) {
  VersionStamp stamp{0, 0, 0, 99};
  ASSERT_TRUE(DecodeVersionStamp(SealedWords({3, 12, 0xDEADBEEF}).data(), 73, stamp));
  EXPECT_EQ(stamp.major, 3);
  EXPECT_EQ(stamp.minor, 12);
  EXPECT_EQ(stamp.third, static_cast<std::int32_t>(0xDEADBEEF));
  EXPECT_EQ(stamp.fourth, 0);
  ASSERT_TRUE(DecodeVersionStamp(SealedWords({1, 0xFFFFFFFF, 7, 0x80000000}).data(), 77, stamp));
  EXPECT_EQ(stamp.minor, -1);
  EXPECT_EQ(stamp.fourth, INT32_MIN);

  Bytes badTag = SealedWords({1, 2, 3});
  const Bytes cut(badTag.begin(), badTag.end() - 1);
  badTag.back() ^= 1;
  for (const Bytes& file :
       {SealedWords({}), SealedWords({1, 2}), SealedWords({1, 2, 3, 4, 5}), cut, badTag}) {
    VersionStamp untouched{11, 22, 33, 44};
    EXPECT_FALSE(DecodeVersionStamp(file.data(), std::uint32_t(file.size()), untouched));
    EXPECT_EQ(untouched.major, 11);
    EXPECT_EQ(untouched.fourth, 44);
  }
}

TEST_F(VersionTest, CurrentAndRollbackReadTheVersionFile) {
  WriteVersion(SealedWords({10, 7, 0}));
  ASSERT_TRUE(Resolve(VersionMode::Current, 99, 99));
  EXPECT_EQ(resolved_, "http://h/10/7");
  WriteVersion(SealedWords({2, 5, 0, 0}));
  ASSERT_TRUE(Resolve(VersionMode::Rollback));
  EXPECT_EQ(resolved_, "http://h/2/4");
}

TEST_F(VersionTest, VersionFileFailures) {
  EXPECT_FALSE(Resolve(VersionMode::Rollback));
  EXPECT_EQ(Code(last_.code), Code(RecoveryError::NotExistVersionFile));
  WriteVersion(Bytes(73, 0x04));
  EXPECT_FALSE(Resolve(VersionMode::Current));
  EXPECT_EQ(Code(last_.code), Code(RecoveryError::InvalidData));
  WriteVersion(Bytes{1, 2, 3});
  EXPECT_FALSE(Resolve(VersionMode::Current));
  EXPECT_EQ(Code(last_.code), Code(RecoveryError::InvalidData));
  EXPECT_EQ(resolved_, "untouched");

  // A version file path over 259 characters cannot be formed.
  const std::string longBase = dir_.File("") + std::string(250, 'f') + "\\";
  EXPECT_EQ(ResolveRemotePath(longBase.c_str(), kVersionName, kTemplate, VersionMode::Current, 1, 2,
                              resolved_)
                .code,
            RecoveryError::Unknown);
}

TEST_F(VersionTest, NegativeSelectionsEndTheRun) {
  WriteVersion(SealedWords({3, 0, 0}));
  EXPECT_FALSE(Resolve(VersionMode::Rollback));
  EXPECT_EQ(Code(last_.code), Code(RecoveryError::NotExistVersionFile));
  // Lowering the lowest minor must not wrap round to a large positive number.
  WriteVersion(SealedWords({3, 0x80000000u, 0}));
  EXPECT_FALSE(Resolve(VersionMode::Rollback));
  EXPECT_EQ(resolved_, "untouched");

  EXPECT_FALSE(Resolve(VersionMode::Explicit, -1, 0));
  EXPECT_EQ(Code(last_.code), Code(RecoveryError::NotExistVersionFile));
  EXPECT_FALSE(Resolve(VersionMode::Explicit, 0, -1));
}

TEST_F(VersionTest, ExplicitIgnoresAMissingOrCorruptVersionFile) {
  ASSERT_TRUE(Resolve(VersionMode::Explicit, 8, 1));
  EXPECT_EQ(resolved_, "http://h/8/1");
  WriteVersion(Bytes{0xBA, 0xD0});
  ASSERT_TRUE(Resolve(VersionMode::Explicit, 0, 0));
  EXPECT_EQ(resolved_, "http://h/0/0");
}

TEST_F(VersionTest, TemplateSubstitution) {
  const struct {
    const char* remoteTemplate;
    std::int32_t major, minor;
    const char* expected;
  } cases[] = {
      {"http://host/fixed", 5, 6, "http://host/fixed"},
      {"$MAJORVER$/$MAJORVER$.$MINORVER$", 3, 4, "3/3.4"},
      {"$majorver$/$MinorVer$/$MAJORVER", 3, 4, "$majorver$/$MinorVer$/$MAJORVER"},
      {"", 1, 2, ""},
      {"v$MAJORVER$.$MINORVER$", 10, 7, "v10.7"},
      {"$MAJORVER$$MINORVER$", 2147483647, 0, "21474836470"},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(Resolve(VersionMode::Explicit, c.major, c.minor, c.remoteTemplate));
    EXPECT_EQ(resolved_, c.expected);
  }
}

TEST(ManifestUrlTest, JoinsWithASlashWithinThePathBuffer) {
  char url[kPathBufferSize];
  ASSERT_TRUE(BuildManifestUrl(url, "", "filehash.tsf"));
  EXPECT_STREQ(url, "/filehash.tsf");
  const std::string folder(259 - 13, 'r');
  ASSERT_TRUE(BuildManifestUrl(url, folder, "filehash.tsf"));
  EXPECT_EQ(std::string(url), folder + "/filehash.tsf");
  EXPECT_FALSE(BuildManifestUrl(url, folder + "r", "filehash.tsf"));
  EXPECT_STREQ(url, "");
}

}  // namespace
}  // namespace repair
