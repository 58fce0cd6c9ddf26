// A publish that fails at any step leaves no half release, ships no version file, and never
// touches a release that was there before. Faults are made between the folder walk and the
// copy through the note the run gives for the client's stale manifest.
#include "publish/release.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "publish/sealer.h"
#include "support/test_support.h"

namespace repair::publish {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> StagingLeftovers(const fs::path& root) {
  std::vector<fs::path> found;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().extension() == ".publishing") found.push_back(it->path());
  }
  return found;
}

// Three files, the last one copied after the other two, and a stale manifest that makes the
// run give a note once the folder is listed. Build 3.7, published to rel/.
ReleaseOptions SmallClient(const test::TempDir& dir, bool badKey) {
  ReleaseOptions options;
  options.clientDir = fs::path(dir.path()) / "client";
  options.outDir = fs::path(dir.path()) / "rel";
  options.major = 3;
  options.minor = 7;
  options.publicKey = badKey ? Bytes{1, 2, 3} : GenerateKeyPair().publicKey;
  fs::create_directories(options.clientDir / "data");
  test::WriteAll((options.clientDir / "a.txt").string(), "a");
  test::WriteAll((options.clientDir / "data" / "b.txt").string(), "b");
  test::WriteAll((options.clientDir / "c.txt").string(), "c");
  test::WriteAll((options.clientDir / "filehash.tsf").string(), "stale");
  return options;
}

struct FaultCase {
  const char* what;
  // Run once, after the client was listed and before anything is copied.
  void (*afterListing)(const fs::path& client, const fs::path& remoteDir);
  bool badKey;
  const char* error;  // empty: the publish succeeds
};
const FaultCase kFaults[] = {
    {"nothing goes wrong", nullptr, false, ""},
    {"a file removed after listing, once others are copied",
     [](const fs::path& client, const fs::path&) { fs::remove(client / "c.txt"); }, false,
     "c.txt: cannot open"},
    {"a file grown after listing",
     [](const fs::path& client, const fs::path&) {
       std::ofstream(client / "c.txt", std::ios::app) << "more";
     },
     false, "changed while being read"},
    {"a public key that is no key, once every file is copied", nullptr, true, ""},
    {"another release put in place meanwhile",
     [](const fs::path&, const fs::path& remoteDir) {
       fs::create_directories(remoteDir);
       test::WriteAll((remoteDir / "filehash.tsf").string(), "other");
     },
     false, "3.7"},
};

TEST(PublishRelease, AFailedStepLeavesNoHalfReleaseAndKeepsAnEarlierOne) {
  for (const FaultCase& c : kFaults) {
    SCOPED_TRACE(c.what);
    test::TempDir dir;
    const ReleaseOptions options = SmallClient(dir, c.badKey);
    const fs::path& client = options.clientDir;
    const fs::path& out = options.outDir;
    const fs::path remoteDir = out / "remote" / "3.7";
    bool faulted = false;
    NoteSink note = [&](const std::string&) {
      if (faulted || !c.afterListing) return;
      faulted = true;
      c.afterListing(client, remoteDir);
    };
    ReleaseResult result;
    std::string error;
    const bool expectSuccess = !c.badKey && *c.error == '\0';
    ASSERT_EQ(PublishRelease(options, note, result, error), expectSuccess) << error;

    EXPECT_TRUE(StagingLeftovers(out).empty());
    EXPECT_EQ(fs::exists(out / "client-files" / "buildver.tvf"), expectSuccess);
    if (expectSuccess) {
      EXPECT_TRUE(fs::is_regular_file(remoteDir / "data" / "b.txt"));
      EXPECT_TRUE(fs::is_regular_file(remoteDir / "filehash.tsf"));
      continue;
    }
    EXPECT_FALSE(error.empty());
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
    if (faulted && fs::exists(remoteDir)) {
      // Only the release that was put there before the rename.
      EXPECT_EQ(test::ReadAll((remoteDir / "filehash.tsf").string()).size(), 5u);
      EXPECT_FALSE(fs::exists(remoteDir / "a.txt"));
    } else {
      EXPECT_FALSE(fs::exists(remoteDir));
    }
  }
}

}  // namespace
}  // namespace repair::publish
