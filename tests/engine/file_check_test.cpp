// The check phase on its own: several readers at once, the length shortcut, and how a failure
// or a stop ends it.
#include "engine/file_check.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "codec/codec.h"
#include "platform/paths.h"
#include "support/test_support.h"

namespace repair {
namespace {

using platform::DiskKind;

TEST(CheckThreads, OneOnASpinningDiskElseTheCoresUpToTheMost) {
  const struct {
    DiskKind kind;
    unsigned cores;
    unsigned expected;
  } cases[] = {
      {DiskKind::kRotational, 8, 1},
      {DiskKind::kRotational, 1, 1},
      {DiskKind::kSolidState, 2, 2},
      {DiskKind::kUnknown, 2, 2},
      {DiskKind::kSolidState, 64, kMostCheckThreads},
      {DiskKind::kSolidState, 1, 1},
      {DiskKind::kUnknown, 0, 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CheckThreads(c.kind, c.cores), c.expected)
        << static_cast<int>(c.kind) << " " << c.cores;
  }
}

std::unique_ptr<FileEntry> Entry(const std::string& name, const std::string& content) {
  std::uint8_t md5[kMd5Size];
  EXPECT_EQ(DigestMd5(reinterpret_cast<const std::uint8_t*>(content.data()),
                      static_cast<std::uint32_t>(content.size()), md5, nullptr),
            0);
  return std::make_unique<FileEntry>(name.c_str(), static_cast<std::uint32_t>(content.size()), md5);
}

class FileCheckTest : public ::testing::Test {
 protected:
  void TearDown() override { ResetRecoveryState(); }
  std::string Base() const { return dir_.path() + kSep; }
  void Write(const std::string& name, const std::string& content) {
    test::WriteAll(dir_.File(name), content);
  }

  static constexpr char kSep = platform::kPathSeparator;
  test::TempDir dir_;
};

// Forty files, a third intact, a third damaged in place (same length), a third missing: every
// verdict is the one a single reader gives, whatever the number of readers.
TEST_F(FileCheckTest, EveryVerdictIsTheSameAtAnyNumberOfReaders) {
  for (unsigned threads : {1u, 3u, 8u}) {
    FileList files;
    for (int i = 0; i < 40; ++i) {
      const std::string name = "f" + std::to_string(i);
      const std::string content = test::Pattern(1000 + 5000 * static_cast<std::size_t>(i));
      files.Append(Entry(name, content));
      if (i % 3 == 0) Write(name, content);
      if (i % 3 == 1) Write(name, "X" + content.substr(1));
    }
    std::vector<std::string> why;
    ASSERT_TRUE(CheckFiles(files, Base().c_str(), threads, &why).ok()) << threads;
    EXPECT_EQ(GetError(), 0);  // the missing files' failed reads leave no code behind
    for (int i = 0; i < 40; ++i) {
      const FileEntry& entry = *files.At(static_cast<std::size_t>(i));
      EXPECT_EQ(entry.state.load(), i % 3 == 0 ? Intact : Invalid) << threads << " " << i;
      EXPECT_EQ(entry.done.load(), i % 3 == 0 ? entry.size : 0u) << threads << " " << i;
      // Why, for the log: a missing file names its failed open; a damaged one needs no word.
      EXPECT_EQ(why[static_cast<std::size_t>(i)].empty(), i % 3 != 2) << i << " " << why[i];
    }
  }
}

// The manifest's length decides before the digest does: a file of another length is damaged
// even where its bytes have the listed digest, and it is not read (a file nobody may read is
// judged all the same).
TEST_F(FileCheckTest, AFileOfAnotherLengthIsDamagedWithoutBeingRead) {
  FileList files;
  auto entry = Entry("a", "hello!");
  entry->size = 5;  // the digest is that of the six bytes on disk
  files.Append(std::move(entry));
  Write("a", "hello!");
  std::vector<std::string> why;
  ASSERT_TRUE(CheckFiles(files, Base().c_str(), 2, &why).ok());
  EXPECT_EQ(files.At(0)->state.load(), Invalid);
  EXPECT_EQ(why[0], "6 bytes, not 5");
}

TEST_F(FileCheckTest, APathTooLongEndsTheCheckWithUnknown) {
  FileList files;
  files.Append(Entry("ok", "x"));
  files.Append(Entry(std::string(300, 'n'), "y"));
  Write("ok", "x");
  const Status status = CheckFiles(files, Base().c_str(), 2);
  EXPECT_EQ(status.code, RecoveryError::Unknown);
  EXPECT_FALSE(status.stopped);
}

TEST_F(FileCheckTest, AStopEndsTheCheckWithoutAFailure) {
  FileList files;
  for (int i = 0; i < 8; ++i) files.Append(Entry("s" + std::to_string(i), "z"));
  RequestStop();
  const Status status = CheckFiles(files, Base().c_str(), 4);
  EXPECT_TRUE(status.stopped);
  EXPECT_EQ(status.code, RecoveryError::None);
  for (int i = 0; i < 8; ++i)
    EXPECT_EQ(files.At(static_cast<std::size_t>(i))->state.load(), Listed);
}

}  // namespace
}  // namespace repair
