#include "engine/file_ops.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "engine/recovery_state.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "support/test_support.h"

#if defined(_WIN32)
// Only to hold a file open the way another program would: no std:: call opens without
// delete sharing.
#include <windows.h>
#endif

namespace repair {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using test::TempDir;

long long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Joins with the platform's separator, as the engine's callers build paths.
std::string Join(const std::string& folder, const std::string& name) {
  return folder + platform::kPathSeparator + name;
}

std::vector<std::uint8_t> Bytes(const std::string& text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

std::string ReadText(const std::string& path) {
  std::vector<std::uint8_t> bytes = test::ReadAll(path);
  return std::string(bytes.begin(), bytes.end());
}

void MakeReadOnly(const std::string& path) {
  // On Windows this sets the read-only attribute.
  fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  ASSERT_EQ(fs::status(path).permissions() & fs::perms::owner_write, fs::perms::none);
}

class FileOpsTest : public ::testing::Test {
 protected:
  void SetUp() override { SetError(RecoveryError::None); }
  void TearDown() override { SetError(RecoveryError::None); }
  TempDir dir_;
};

// --- EnsureParentFolders ---------------------------------------------------------------------

TEST_F(FileOpsTest, EnsureParentFoldersCreatesTheMissingFoldersInTurn) {
  std::string first = Join(dir_.path(), "one");
  ASSERT_TRUE(fs::create_directory(first));
  std::string file = Join(Join(Join(first, "two"), "three"), "file.bin");
  EXPECT_TRUE(EnsureParentFolders(file.c_str()).ok());
  EXPECT_TRUE(fs::is_directory(Join(first, "two")));
  EXPECT_TRUE(fs::is_directory(Join(Join(first, "two"), "three")));
  EXPECT_FALSE(fs::exists(file));
  // Everything there already: true at once.
  EXPECT_TRUE(EnsureParentFolders(file.c_str()).ok());
}

TEST_F(FileOpsTest, EnsureParentFoldersNeedsNothingWithoutAFolderPart) {
  EXPECT_TRUE(EnsureParentFolders("file.bin").ok());
}

#if defined(_WIN32)
TEST_F(FileOpsTest, EnsureParentFoldersTakesForwardSlashesOnWindows) {
  std::string file = dir_.path() + "\\a/b\\c.bin";
  EXPECT_TRUE(EnsureParentFolders(file.c_str()).ok());
  EXPECT_TRUE(fs::is_directory(dir_.path() + "\\a\\b"));
}
#endif

TEST_F(FileOpsTest, EnsureParentFoldersGivesUpAfterTenAttemptsWithError1) {
  // A regular file stands where a folder should be created.
  std::string blocker = Join(dir_.path(), "blocker");
  test::WriteAll(blocker, "not a folder");
  std::string file = Join(Join(blocker, "sub"), "file.bin");
  Clock::time_point start = Clock::now();
  const Status status = EnsureParentFolders(file.c_str());
  long long elapsed = MillisecondsSince(start);
  EXPECT_EQ(status.code, RecoveryError::Unknown);
  EXPECT_EQ(status.operation, "make folder");
  EXPECT_NE(status.osError, 0) << "the OS error of the last attempt is kept";
  EXPECT_GE(elapsed, 900);  // ten pauses of 100 ms
  EXPECT_TRUE(fs::is_regular_file(blocker));
}

TEST_F(FileOpsTest, EnsureParentFoldersRefusesAnOverlongFolderPart) {
  std::string longFolder = Join(dir_.path(), std::string(300, 'd'));
  std::string file = Join(longFolder, "f.bin");
  Clock::time_point start = Clock::now();
  EXPECT_EQ(EnsureParentFolders(file.c_str()).code, RecoveryError::Unknown);
  EXPECT_LT(MillisecondsSince(start), 900);  // refused, not retried
  std::vector<std::uint8_t> data = Bytes("x");
  EXPECT_EQ(WriteWholeFile(file.c_str(), data.data(), 1).code, RecoveryError::Unknown);
}

// --- ReadWholeFile / WriteWholeFile ----------------------------------------------------------

TEST_F(FileOpsTest, ReadWholeFileOfAMissingFileGivesError6AndNothing) {
  HeapBuffer buffer;
  ASSERT_TRUE(buffer.Allocate(16));
  std::uint32_t size = 77;
  EXPECT_EQ(ReadWholeFile(Join(dir_.path(), "missing.tvf").c_str(), buffer, size).code,
            RecoveryError::NotExistFile);
  EXPECT_EQ(buffer.data(), nullptr);
  EXPECT_EQ(size, 0u);
  // A folder is no file.
  EXPECT_EQ(ReadWholeFile(dir_.path().c_str(), buffer, size).code, RecoveryError::NotExistFile);
}

TEST_F(FileOpsTest, ReadWholeFileOfEmptyAndFullFiles) {
  std::string empty = Join(dir_.path(), "empty");
  test::WriteAll(empty, "");
  HeapBuffer buffer;
  std::uint32_t size = 77;
  EXPECT_TRUE(ReadWholeFile(empty.c_str(), buffer, size).ok());
  EXPECT_EQ(size, 0u);

  std::string full = Join(dir_.path(), "full");
  std::vector<std::uint8_t> bytes(70000);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7);
  test::WriteAll(full, bytes);
  EXPECT_TRUE(ReadWholeFile(full.c_str(), buffer, size).ok());
  ASSERT_EQ(size, bytes.size());
  EXPECT_EQ(std::memcmp(buffer.data(), bytes.data(), size), 0);
}

std::string DigestHex(const std::uint8_t* digest) {
  char hex[33];
  for (int i = 0; i < 16; ++i) std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
  return hex;
}

TEST_F(FileOpsTest, DigestFileReadsThroughABlockOfAnySize) {
  const std::string path = Join(dir_.path(), "f");
  test::WriteAll(path, std::string("message digest"));
  for (std::size_t blockSize : {std::size_t{1}, std::size_t{5}, kFileBlockSize}) {
    HeapBuffer block;
    ASSERT_TRUE(block.Allocate(blockSize));
    std::uint8_t digest[16];
    ASSERT_TRUE(DigestFile(path.c_str(), block, digest).ok()) << blockSize;
    EXPECT_EQ(DigestHex(digest), "f96b697d7cb7938d525a2f31aaf161d0") << blockSize;
  }
  // An empty file is content like any other: the digest of no bytes.
  test::WriteAll(path, std::string());
  HeapBuffer block;
  ASSERT_TRUE(block.Allocate(kFileBlockSize));
  std::uint8_t digest[16];
  ASSERT_TRUE(DigestFile(path.c_str(), block, digest).ok());
  EXPECT_EQ(DigestHex(digest), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST_F(FileOpsTest, DigestFileOfWhatIsNoReadableFileSetsTheReadErrors) {
  HeapBuffer block;
  ASSERT_TRUE(block.Allocate(kFileBlockSize));
  std::uint8_t digest[16];
  EXPECT_EQ(DigestFile(Join(dir_.path(), "missing").c_str(), block, digest).code,
            RecoveryError::NotExistFile);
  EXPECT_EQ(DigestFile(dir_.path().c_str(), block, digest).code, RecoveryError::NotExistFile);
  // 4 GiB: no 32-bit size describes it (sparse, so it costs no disk).
  const std::string huge = Join(dir_.path(), "huge");
  test::WriteAll(huge, std::string());
  fs::resize_file(huge, std::uintmax_t{1} << 32);
  EXPECT_EQ(DigestFile(huge.c_str(), block, digest).code, RecoveryError::MemoryAllocation);
}

TEST_F(FileOpsTest, WriteWholeFileTruncatesALongerFileAndCreatesFolders) {
  std::string path = Join(Join(Join(dir_.path(), "recovery"), "data"), "x.bin.recovery");
  std::vector<std::uint8_t> longer(5000, 0xAB);
  ASSERT_TRUE(WriteWholeFile(path.c_str(), longer.data(), 5000).ok());
  EXPECT_EQ(fs::file_size(path), 5000u);
  std::vector<std::uint8_t> shorter = Bytes("short");
  ASSERT_TRUE(WriteWholeFile(path.c_str(), shorter.data(), 5).ok());
  EXPECT_EQ(ReadText(path), "short");
  ASSERT_TRUE(WriteWholeFile(path.c_str(), nullptr, 0).ok());
  EXPECT_EQ(fs::file_size(path), 0u);
}

TEST_F(FileOpsTest, WriteWholeFileOntoAFolderFailsWithError1) {
  std::string folder = Join(dir_.path(), "folder");
  ASSERT_TRUE(fs::create_directory(folder));
  std::vector<std::uint8_t> data = Bytes("x");
  EXPECT_EQ(WriteWholeFile(folder.c_str(), data.data(), 1).code, RecoveryError::Unknown);
}

TEST_F(FileOpsTest, ReadOnlyFileIsReplacedByWriteAndRemovedByDelete) {
  std::string path = Join(dir_.path(), "cached.recovery");
  test::WriteAll(path, "old content, longer");
  MakeReadOnly(path);
  std::vector<std::uint8_t> data = Bytes("new");
  EXPECT_TRUE(WriteWholeFile(path.c_str(), data.data(), 3).ok());
  EXPECT_EQ(ReadText(path), "new");
  MakeReadOnly(path);
  EXPECT_TRUE(DeleteFileRetry(path.c_str()));
  EXPECT_FALSE(fs::exists(path));
}

// --- FileExists / DeleteFileRetry ------------------------------------------------------------

TEST_F(FileOpsTest, FileExistsForFilesAndFolders) {
  std::string file = Join(dir_.path(), "file");
  test::WriteAll(file, "x");
  EXPECT_TRUE(FileExists(file.c_str()));
  EXPECT_TRUE(FileExists(dir_.path().c_str()));
  EXPECT_FALSE(FileExists(Join(dir_.path(), "missing").c_str()));
  EXPECT_FALSE(FileExists(Join(file, "child").c_str()));
  // A trailing separator names a folder: a file of that name does not count.
  EXPECT_TRUE(platform::PathExists((dir_.path() + platform::kPathSeparator).c_str()));
  EXPECT_FALSE(platform::PathExists((file + platform::kPathSeparator).c_str()));
}

TEST_F(FileOpsTest, DeleteFileRetryOfAMissingPathIsFalseAtOnce) {
  Clock::time_point start = Clock::now();
  EXPECT_FALSE(DeleteFileRetry(Join(dir_.path(), "missing").c_str()));
  EXPECT_LT(MillisecondsSince(start), 500);
}

TEST_F(FileOpsTest, DeleteFileRetryGivesUpOnAFolderAfterAboutASecond) {
  std::string folder = Join(dir_.path(), "folder");
  ASSERT_TRUE(fs::create_directory(folder));
  Clock::time_point start = Clock::now();
  EXPECT_FALSE(DeleteFileRetry(folder.c_str()));
  EXPECT_GE(MillisecondsSince(start), 900);
  EXPECT_TRUE(fs::is_directory(folder));
}

// --- MoveFileRetry ---------------------------------------------------------------------------

TEST_F(FileOpsTest, MoveFileRetryWithAMissingSourceLeavesTheTargetAlone) {
  std::string target = Join(dir_.path(), "client.dat");
  test::WriteAll(target, "client");
  EXPECT_FALSE(MoveFileRetry(Join(dir_.path(), "missing.recovery").c_str(), target.c_str()).ok());
  EXPECT_EQ(ReadText(target), "client");
}

TEST_F(FileOpsTest, MoveFileRetryReplacesAnExistingTarget) {
  std::string source = Join(dir_.path(), "client.dat.recovery");
  std::string target = Join(dir_.path(), "client.dat");
  test::WriteAll(source, "fresh");
  test::WriteAll(target, "damaged and longer");
  MakeReadOnly(target);
  EXPECT_TRUE(MoveFileRetry(source.c_str(), target.c_str()).ok());
  EXPECT_EQ(ReadText(target), "fresh");
  EXPECT_FALSE(fs::exists(source));
}

TEST_F(FileOpsTest, MoveFileRetryCreatesTheTargetsFolders) {
  std::string source = Join(dir_.path(), "x.recovery");
  std::string target = Join(Join(Join(dir_.path(), "data"), "maps"), "x.map");
  test::WriteAll(source, "map");
  EXPECT_TRUE(MoveFileRetry(source.c_str(), target.c_str()).ok());
  EXPECT_EQ(ReadText(target), "map");
  EXPECT_FALSE(fs::exists(source));
}

TEST_F(FileOpsTest, MoveFileRetryFailsWithError1WhenTheFoldersCannotBeMade) {
  std::string source = Join(dir_.path(), "x.recovery");
  std::string blocker = Join(dir_.path(), "blocker");
  test::WriteAll(source, "data");
  test::WriteAll(blocker, "file");
  EXPECT_EQ(MoveFileRetry(source.c_str(), Join(Join(blocker, "sub"), "x").c_str()).code,
            RecoveryError::Unknown);
  EXPECT_EQ(ReadText(source), "data");
}

#if defined(_WIN32)
// Another program holds the file open without delete sharing, as a virus scanner might.
class Holder {
 public:
  explicit Holder(const std::string& path)
      : handle_(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~Holder() { Release(); }
  bool held() const { return handle_ != INVALID_HANDLE_VALUE; }
  void Release() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE handle_;
};

TEST_F(FileOpsTest, DeleteFileRetryOfAHeldFileFailsAfterAboutASecond) {
  std::string path = Join(dir_.path(), "held.dat");
  test::WriteAll(path, "held");
  Holder holder(path);
  ASSERT_TRUE(holder.held());
  Clock::time_point start = Clock::now();
  EXPECT_FALSE(DeleteFileRetry(path.c_str()));
  EXPECT_GE(MillisecondsSince(start), 900);
  EXPECT_TRUE(fs::exists(path));
  holder.Release();
  EXPECT_TRUE(DeleteFileRetry(path.c_str()));
}

TEST_F(FileOpsTest, DeleteAndMoveSucceedOnceAHolderLetsGo) {
  std::string path = Join(dir_.path(), "busy.dat");
  test::WriteAll(path, "busy");
  Holder holder(path);
  ASSERT_TRUE(holder.held());
  std::thread other([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    holder.Release();
  });
  Clock::time_point start = Clock::now();
  EXPECT_TRUE(DeleteFileRetry(path.c_str()));
  EXPECT_GE(MillisecondsSince(start), 200);
  other.join();
  EXPECT_FALSE(fs::exists(path));

  std::string source = Join(dir_.path(), "busy.recovery");
  std::string target = Join(dir_.path(), "moved.dat");
  test::WriteAll(source, "moved");
  Holder sourceHolder(source);
  ASSERT_TRUE(sourceHolder.held());
  std::thread mover([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    sourceHolder.Release();
  });
  EXPECT_TRUE(MoveFileRetry(source.c_str(), target.c_str()).ok());
  mover.join();
  EXPECT_EQ(ReadText(target), "moved");
  EXPECT_FALSE(fs::exists(source));
}
#endif

}  // namespace
}  // namespace repair
