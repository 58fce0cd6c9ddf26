// The staging folder of a release: gone unless committed, whatever was written into it, and a
// commit that never replaces a folder or file that holds something.
#include "publish/staging_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/test_support.h"

namespace repair::publish {
namespace {

namespace fs = std::filesystem;

TEST(StagingFolder, IsRemovedWithWhatItHoldsUnlessCommitted) {
  test::TempDir dir;
  const fs::path target = fs::path(dir.path()) / "3.7";
  fs::path staged;
  {
    StagingFolder staging(target);
    std::string error;
    ASSERT_TRUE(staging.Create(error)) << error;
    staged = staging.path();
    EXPECT_EQ(staged, fs::path(dir.path()) / ".3.7.publishing");
    fs::create_directories(staged / "data" / "ui");
    test::WriteAll((staged / "data" / "ui" / "font.fnt").string(), "font");
    // A step fails here: the function returns without committing.
  }
  EXPECT_FALSE(fs::exists(staged));
  EXPECT_FALSE(fs::exists(target));
}

TEST(StagingFolder, CreateClearsWhatAnInterruptedRunLeft) {
  test::TempDir dir;
  const fs::path target = fs::path(dir.path()) / "3.7";
  StagingFolder staging(target);
  fs::create_directories(staging.path() / "old");
  test::WriteAll((staging.path() / "old" / "stale.bin").string(), "stale");
  std::string error;
  ASSERT_TRUE(staging.Create(error)) << error;
  EXPECT_TRUE(fs::is_directory(staging.path()));
  EXPECT_TRUE(fs::is_empty(staging.path()));
}

TEST(StagingFolder, CommitMovesItIntoPlaceAndTheDestructorLeavesIt) {
  test::TempDir dir;
  // An empty folder at the target (a release removed by hand) is replaced.
  const fs::path target = fs::path(dir.path()) / "remote" / "3.7";
  fs::create_directories(target);
  {
    StagingFolder staging(target);
    std::string error;
    ASSERT_TRUE(staging.Create(error)) << error;
    test::WriteAll((staging.path() / "filehash.tsf").string(), "list");
    ASSERT_TRUE(staging.Commit(error)) << error;
    EXPECT_FALSE(fs::exists(staging.path()));
  }
  EXPECT_EQ(test::ReadAll((target / "filehash.tsf").string()).size(), 4u);
}

// A target that holds anything was published by someone else: it stays as it is, the commit
// fails, and the staging goes.
TEST(StagingFolder, CommitNeverReplacesATargetThatHoldsSomething) {
  struct Case {
    const char* what;
    bool folder;  // a folder holding one file, or a file
  };
  for (const Case& c : {Case{"a folder holding a release", true}, Case{"a file", false}}) {
    SCOPED_TRACE(c.what);
    test::TempDir dir;
    const fs::path target = fs::path(dir.path()) / "3.7";
    const fs::path kept = c.folder ? target / "filehash.tsf" : target;
    if (c.folder) fs::create_directories(target);
    test::WriteAll(kept.string(), "published");
    fs::path staged;
    {
      StagingFolder staging(target);
      std::string error;
      ASSERT_TRUE(staging.Create(error)) << error;
      staged = staging.path();
      test::WriteAll((staged / "filehash.tsf").string(), "new");
      EXPECT_FALSE(staging.Commit(error));
      EXPECT_NE(error.find("3.7"), std::string::npos) << error;
    }
    EXPECT_FALSE(fs::exists(staged));
    ASSERT_TRUE(fs::is_regular_file(kept));
    EXPECT_EQ(test::ReadAll(kept.string()).size(), 9u);
  }
}

TEST(StagingFolder, ACreateThatFailsLeavesNothingToRemove) {
  test::TempDir dir;
  // The parent is a file, so no folder can be made below it.
  const fs::path blocker = fs::path(dir.path()) / "remote";
  test::WriteAll(blocker.string(), "not a folder");
  {
    StagingFolder staging(blocker / "3.7");
    std::string error;
    EXPECT_FALSE(staging.Create(error));
    EXPECT_NE(error.find(".3.7.publishing: cannot create"), std::string::npos) << error;
  }
  EXPECT_TRUE(fs::is_regular_file(blocker));
}

}  // namespace
}  // namespace repair::publish
