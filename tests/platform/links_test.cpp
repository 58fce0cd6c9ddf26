// What the file calls do with links, second names, FIFOs and folders that are links: a change
// never lands anywhere but at the name it was asked for.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include "platform/file_io.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "support/test_support.h"

namespace repair::platform {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

std::string ReadText(const std::string& path) {
  std::vector<std::uint8_t> bytes = test::ReadAll(path);
  return std::string(bytes.begin(), bytes.end());
}

const std::uint8_t* Text(const char* text) { return reinterpret_cast<const std::uint8_t*>(text); }

// What is at a name before it is replaced: a link to a file elsewhere, or a second name of it.
enum class Planted { kSymlink, kHardLink };

bool Plant(Planted how, const std::string& target, const std::string& name) {
  if (how == Planted::kSymlink) return test::MakeSymlink(target, name, false);
  std::error_code error;
  fs::create_hard_link(target, name, error);
  return !error;
}

class PlantedNameTest : public ::testing::TestWithParam<Planted> {
 protected:
  void SetUp() override {
    test::WriteAll(outside_, std::string("outside bytes"));
    if (!Plant(GetParam(), outside_, name_)) GTEST_SKIP() << test::kNoSymlink;
  }
  void TearDown() override { SetWriteRoot(""); }
  bool NameIsAPlainFile() const {
    return !test::IsLink(name_) && fs::is_regular_file(name_) && fs::hard_link_count(name_) == 1;
  }
  TempDir dir_;
  std::string outside_ = dir_.File("outside");
  std::string name_ = dir_.File("cache.recovery");
};

TEST_P(PlantedNameTest, WholeFileWritesReplaceTheName) {
  ASSERT_TRUE(WriteFileBytes(name_.c_str(), Text("new"), 3));
  EXPECT_TRUE(NameIsAPlainFile());
  EXPECT_EQ(ReadText(name_), "new");
  EXPECT_EQ(ReadText(outside_), "outside bytes");
}

TEST_P(PlantedNameTest, AFreshPartReplacesTheNameAndNoneIsContinued) {
  std::uint32_t size = 0;
  EXPECT_FALSE(RegularFileSize(name_.c_str(), size));
  FileWriter writer;
  EXPECT_FALSE(writer.Open(name_.c_str(), 3));  // continuing would write into the other file
  EXPECT_EQ(ReadText(outside_), "outside bytes");
  ASSERT_TRUE(writer.Open(name_.c_str(), 0));
  ASSERT_TRUE(writer.Write(Text("part"), 4));
  ASSERT_TRUE(writer.Close());
  EXPECT_TRUE(NameIsAPlainFile());
  EXPECT_EQ(ReadText(name_), "part");
  EXPECT_EQ(ReadText(outside_), "outside bytes");
  EXPECT_TRUE(RegularFileSize(name_.c_str(), size));
  EXPECT_EQ(size, 4u);
}

TEST_P(PlantedNameTest, DeletingAndRenamingOverTakeTheNameNotTheFile) {
  const std::string source = dir_.File("source");
  test::WriteAll(source, std::string("fresh"));
  ASSERT_TRUE(RenameOver(source.c_str(), name_.c_str()));
  EXPECT_EQ(ReadText(name_), "fresh");
  EXPECT_EQ(ReadText(outside_), "outside bytes");
  ASSERT_TRUE(Plant(GetParam(), outside_, source));
  ASSERT_TRUE(DeleteFileOnce(source.c_str()));
  EXPECT_FALSE(PathExists(source.c_str()));
  EXPECT_EQ(ReadText(outside_), "outside bytes");
}

INSTANTIATE_TEST_SUITE_P(Links, PlantedNameTest,
                         ::testing::Values(Planted::kSymlink, Planted::kHardLink));

TEST(FileReaderLinks, AReaderRefusesALinkUnlessToldToFollowIt) {
  TempDir dir;
  const std::string target = dir.File("target");
  const std::string link = dir.File("link");
  test::WriteAll(target, std::string("bytes"));
  if (!test::MakeSymlink(target, link, false)) GTEST_SKIP() << test::kNoSymlink;
  FileReader reader;
  EXPECT_EQ(reader.Open(link.c_str()), ReadStatus::kOpenFailed);
  ASSERT_EQ(reader.Open(link.c_str(), FileReader::Links::kFollowed), ReadStatus::kOk);
  EXPECT_EQ(reader.size(), 5u);
  EXPECT_EQ(LookAtEntry(link.c_str()), EntryKind::kLink);
}

TEST(EntryKinds, AreSeenWithoutFollowingAndWithoutOpening) {
  TempDir dir;
  const std::string file = dir.File("file");
  const std::string folder = dir.File("folder");
  test::WriteAll(file, std::string("x"));
  fs::create_directory(folder);
  EXPECT_EQ(LookAtEntry(file.c_str()), EntryKind::kFile);
  EXPECT_EQ(LookAtEntry(folder.c_str()), EntryKind::kFolder);
  EXPECT_EQ(LookAtEntry((folder + kPathSeparator).c_str()), EntryKind::kFolder);
  EXPECT_EQ(LookAtEntry(dir.File("missing").c_str()), EntryKind::kNone);
  const std::string linked = dir.File("linked");
  if (test::MakeSymlink(folder, linked, true)) {
    EXPECT_EQ(LookAtEntry(linked.c_str()), EntryKind::kLink);
    EXPECT_EQ(LookAtEntry((linked + kPathSeparator).c_str()), EntryKind::kLink);
  }
#if !defined(_WIN32)
  // A FIFO has no writer: opening it for reading would wait for one for ever.
  const std::string fifo = dir.File("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  EXPECT_EQ(LookAtEntry(fifo.c_str()), EntryKind::kOther);
  FileReader reader;
  EXPECT_EQ(reader.Open(fifo.c_str()), ReadStatus::kOpenFailed);
  EXPECT_EQ(reader.Open(fifo.c_str(), FileReader::Links::kFollowed), ReadStatus::kOpenFailed);
  HeapBuffer buffer;
  EXPECT_EQ(ReadFileBytes(fifo.c_str(), buffer), ReadStatus::kOpenFailed);
  std::uint32_t size = 0;
  EXPECT_FALSE(RegularFileSize(fifo.c_str(), size));
  ASSERT_TRUE(WriteFileBytes(fifo.c_str(), Text("file"), 4));
  EXPECT_EQ(LookAtEntry(fifo.c_str()), EntryKind::kFile);
#endif
}

// Below the write root every change reaches its folder without a link on the way; the root
// itself is taken as it is.
TEST(WriteRoot, NoChangeBelowTheRootPassesThroughALinkedFolder) {
  TempDir dir;
  const std::string root = dir.File("client") + kPathSeparator;
  const std::string elsewhere = dir.File("elsewhere");
  fs::create_directories(root);
  fs::create_directories(elsewhere);
  test::WriteAll(elsewhere + kPathSeparator + "f", std::string("elsewhere"));
  if (!test::MakeSymlink(elsewhere, root + "linked", true)) GTEST_SKIP() << test::kNoSymlink;
  const std::string source = root + "source";
  test::WriteAll(source, std::string("fresh"));
  const std::string through = root + "linked" + kPathSeparator;
  const std::string file = through + "f";
  const std::string added = through + "g";

  ScopedWriteRoot scope(root.c_str());
  EXPECT_TRUE(IsBelowWriteRoot(file.c_str()));
  EXPECT_FALSE(IsBelowWriteRoot(root.c_str()));
  EXPECT_FALSE(CreateFolder((through + "new" + kPathSeparator).c_str()));
  EXPECT_FALSE(DeleteFileOnce(file.c_str()));
  EXPECT_FALSE(WriteFileBytes(added.c_str(), Text("x"), 1));
  FileWriter writer;
  EXPECT_FALSE(writer.Open(added.c_str(), 0));
  EXPECT_FALSE(RenameOver(source.c_str(), file.c_str()));
  EXPECT_FALSE(MoveFileOnce(source.c_str(), added.c_str()));
  EXPECT_EQ(ReadText(elsewhere + kPathSeparator + "f"), "elsewhere");
  EXPECT_EQ(std::distance(fs::directory_iterator(elsewhere), fs::directory_iterator()), 1);
  EXPECT_EQ(ReadText(source), "fresh");

  // A root reached through a link is the installation's own business.
  const std::string rootLink = dir.File("client-link");
  ASSERT_TRUE(test::MakeSymlink(dir.File("client"), rootLink, true));
  SetWriteRoot(rootLink.c_str());
  const std::string inRoot = rootLink + kPathSeparator + "sub" + kPathSeparator;
  EXPECT_TRUE(CreateFolder(inRoot.c_str()));
  EXPECT_TRUE(WriteFileBytes((inRoot + "new").c_str(), Text("new"), 3));
  EXPECT_EQ(ReadText(root + "sub" + kPathSeparator + "new"), "new");
}

}  // namespace
}  // namespace repair::platform
