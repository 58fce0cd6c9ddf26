#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/format.h"
#include "platform/file_io.h"
#include "platform/path_split.h"
#include "platform/process_info.h"
#include "support/test_support.h"

namespace repair::platform {
namespace {

using test::TempDir;

TEST(ReadFileBytes, ReadsWholeFilesOfAnySize) {
  TempDir dir;
  for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{65537}, std::size_t{3} << 20}) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 131 + 7);
    std::string path = dir.File("f" + std::to_string(size));
    test::WriteAll(path, bytes);
    HeapBuffer buffer;
    ASSERT_EQ(ReadFileBytes(path.c_str(), buffer), ReadStatus::kOk) << size;
    ASSERT_EQ(buffer.size(), size);
    if (size > 0) EXPECT_EQ(std::memcmp(buffer.data(), bytes.data(), size), 0);
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

TEST(SplitPath, WindowsRulesTakeDriveAndBothSlashes) {
  PathParts p;
  ASSERT_TRUE(SplitPathWithRules("C:\\Games\\Client\\repair.exe", p, true));
  EXPECT_STREQ(p.drive, "C:");
  EXPECT_STREQ(p.folder, "\\Games\\Client\\");
  EXPECT_STREQ(p.name, "repair");
  EXPECT_STREQ(p.ext, ".exe");

  ASSERT_TRUE(SplitPathWithRules("http://host/v1/3/filehash.tsf", p, true));
  EXPECT_STREQ(p.drive, "");  // "ht" is no drive: the second character is no colon
  EXPECT_STREQ(p.folder, "http://host/v1/3/");
  EXPECT_STREQ(p.name, "filehash");
  EXPECT_STREQ(p.ext, ".tsf");

  ASSERT_TRUE(SplitPathWithRules("a.b.c", p, true));
  EXPECT_STREQ(p.name, "a.b");
  EXPECT_STREQ(p.ext, ".c");
  ASSERT_TRUE(SplitPathWithRules("dir.d\\noext", p, true));
  EXPECT_STREQ(p.folder, "dir.d\\");
  EXPECT_STREQ(p.name, "noext");
  EXPECT_STREQ(p.ext, "");
}

TEST(SplitPath, LinuxRulesTakeOnlySlashesAndKeepHiddenNames) {
  PathParts p;
  ASSERT_TRUE(SplitPathWithRules("/opt/game/repair", p, false));
  EXPECT_STREQ(p.drive, "");
  EXPECT_STREQ(p.folder, "/opt/game/");
  EXPECT_STREQ(p.name, "repair");
  EXPECT_STREQ(p.ext, "");
  ASSERT_TRUE(SplitPathWithRules("/opt/odd\\name.bin", p, false));
  EXPECT_STREQ(p.folder, "/opt/");
  EXPECT_STREQ(p.name, "odd\\name");
  ASSERT_TRUE(SplitPathWithRules("/home/u/.hidden", p, false));
  EXPECT_STREQ(p.name, ".hidden");
  EXPECT_STREQ(p.ext, "");
  ASSERT_TRUE(SplitPathWithRules("C:/x", p, false));
  EXPECT_STREQ(p.drive, "");
  EXPECT_STREQ(p.folder, "C:/");
}

TEST(SplitPath, RefusesPartsThatDoNotFitTheirFields) {
  PathParts p;
  std::string longFolder = "/" + std::string(255, 'd') + "/x";
  EXPECT_FALSE(SplitPathWithRules(longFolder.c_str(), p, false));
  EXPECT_STREQ(p.folder, "");
  std::string longName = std::string(256, 'n') + ".e";
  EXPECT_FALSE(SplitPathWithRules(longName.c_str(), p, true));
  std::string fits = "/" + std::string(253, 'd') + "/" + std::string(255, 'n');  // 255 + 255
  EXPECT_TRUE(SplitPathWithRules(fits.c_str(), p, false));
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
