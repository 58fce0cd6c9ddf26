#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/format.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "platform/process_info.h"
#include "support/test_support.h"

namespace repair::platform {
namespace {

using test::TempDir;

TEST(ReadFileBytes, ReadsWholeFilesOfAnySize) {
  TempDir dir;
  for (std::size_t size :
       {std::size_t{0}, std::size_t{1}, std::size_t{65537}, std::size_t{3} << 20}) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 131 + 7);
    std::string path = dir.File("f" + std::to_string(size));
    test::WriteAll(path, bytes);
    HeapBuffer buffer;
    ASSERT_EQ(ReadFileBytes(path.c_str(), buffer), ReadStatus::kOk) << size;
    ASSERT_EQ(buffer.size(), size);
    if (size > 0) {
      EXPECT_EQ(std::memcmp(buffer.data(), bytes.data(), size), 0);
    }
  }
}

TEST(ReadFileBytes, MissingFilesAndFoldersCannotBeOpened) {
  TempDir dir;
  HeapBuffer buffer;
  ASSERT_TRUE(buffer.Allocate(10));
  EXPECT_EQ(ReadFileBytes(dir.File("missing").c_str(), buffer), ReadStatus::kOpenFailed);
  EXPECT_TRUE(buffer.empty());
  EXPECT_EQ(ReadFileBytes(dir.path().c_str(), buffer), ReadStatus::kOpenFailed);
  EXPECT_EQ(ReadFileBytes(dir.File("no-folder/child").c_str(), buffer), ReadStatus::kOpenFailed);
}

std::string ReadText(const std::string& path) {
  std::vector<std::uint8_t> bytes = test::ReadAll(path);
  return std::string(bytes.begin(), bytes.end());
}

const std::uint8_t* Text(const char* text) { return reinterpret_cast<const std::uint8_t*>(text); }

TEST(FileReader, ReadsInPiecesToTheEndAndRefusesWhatIsNoFile) {
  TempDir dir;
  std::string path = dir.File("f");
  test::WriteAll(path, std::string("0123456789"));
  FileReader reader;
  ASSERT_EQ(reader.Open(path.c_str()), ReadStatus::kOk);
  EXPECT_EQ(reader.size(), 10u);
  std::string seen;
  std::uint8_t piece[4];
  std::uint32_t got = 0;
  while (reader.Read(piece, sizeof piece, got) && got > 0) seen.append(piece, piece + got);
  EXPECT_EQ(seen, "0123456789");
  EXPECT_EQ(got, 0u);

  FileReader other;
  EXPECT_EQ(other.Open(dir.File("missing").c_str()), ReadStatus::kOpenFailed);
  EXPECT_EQ(other.Open(dir.path().c_str()), ReadStatus::kOpenFailed);
  EXPECT_FALSE(other.Read(piece, sizeof piece, got));
}

TEST(FileReader, AFileOfFourGibibytesHasNoThirtyTwoBitSize) {
  TempDir dir;
  std::string path = dir.File("huge");
  test::WriteAll(path, std::string());
  std::filesystem::resize_file(path, std::uintmax_t{1} << 32);  // sparse: costs no disk
  FileReader reader;
  EXPECT_EQ(reader.Open(path.c_str()), ReadStatus::kNoMemory);
  std::uint32_t size = 1;
  EXPECT_FALSE(RegularFileSize(path.c_str(), size));
  std::filesystem::resize_file(path, (std::uintmax_t{1} << 32) - 1);
  ASSERT_EQ(reader.Open(path.c_str()), ReadStatus::kOk);
  EXPECT_EQ(reader.size(), 0xFFFFFFFFu);
  EXPECT_TRUE(RegularFileSize(path.c_str(), size));
  EXPECT_EQ(size, 0xFFFFFFFFu);
}

TEST(FileWriter, KeepsThePrefixAskedForAndAppendsAfterIt) {
  TempDir dir;
  std::string path = dir.File("part");
  struct Case {
    const char* before;  // nullptr: no file
    std::uint32_t keep;
    bool opens;
    const char* after;
  } cases[] = {
      {nullptr, 0, true, "new"},  {"old bytes", 0, true, "new"}, {"old bytes", 4, true, "old new"},
      {"old", 3, true, "oldnew"}, {"old", 4, false, "old"},      {nullptr, 1, false, nullptr},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(path);
    if (c.before != nullptr) test::WriteAll(path, std::string(c.before));
    FileWriter writer;
    ASSERT_EQ(writer.Open(path.c_str(), c.keep), c.opens)
        << c.keep << " " << (c.before ? c.before : "-");
    if (c.opens) {
      ASSERT_TRUE(writer.Write(Text("new"), 3));
      ASSERT_TRUE(writer.Close());
    }
    if (c.after != nullptr) {
      EXPECT_EQ(ReadText(path), c.after);
    }
  }
}

TEST(FileWriter, ReadOnlyFilesAreWrittenAndRenamedOver) {
  TempDir dir;
  std::string source = dir.File("source");
  std::string target = dir.File("target");
  test::WriteAll(source, std::string("fresh"));
  test::WriteAll(target, std::string("stale and longer"));
  namespace fs = std::filesystem;
  const auto writeBits = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  fs::permissions(source, writeBits, fs::perm_options::remove);
  fs::permissions(target, writeBits, fs::perm_options::remove);

  FileWriter writer;
  ASSERT_TRUE(writer.Open(source.c_str(), 5));
  ASSERT_TRUE(writer.Write(Text("!"), 1));
  ASSERT_TRUE(writer.Close());
  EXPECT_FALSE(writer.Close());  // closed once only

  ASSERT_TRUE(RenameOver(source.c_str(), target.c_str()));
  EXPECT_EQ(ReadText(target), "fresh!");
  EXPECT_FALSE(fs::exists(source));
  EXPECT_FALSE(RenameOver(source.c_str(), target.c_str()));
  EXPECT_EQ(ReadText(target), "fresh!");
}

TEST(GetExecutablePath, NamesThisTestProgram) {
  char path[kPathBufferSize];
  ASSERT_TRUE(GetExecutablePath(path, sizeof path));
  PathParts parts;
  ASSERT_TRUE(SplitPath(path, parts));
  EXPECT_STREQ(parts.name, "platform_test");
#if defined(_WIN32)
  EXPECT_STREQ(parts.ext, ".exe");
  EXPECT_EQ(path[1], ':');
#else
  EXPECT_EQ(path[0], '/');
#endif
  char tiny[4];
  EXPECT_FALSE(GetExecutablePath(tiny, sizeof tiny));
  EXPECT_STREQ(tiny, "");
}

}  // namespace
}  // namespace repair::platform
