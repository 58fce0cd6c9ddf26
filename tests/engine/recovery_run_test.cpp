// The recovery run against the in-process HTTP server: the places where the run must be
// safer than a plain download-and-replace.
#include "engine/recovery_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "codec/builtin_key.h"
#include "codec/codec.h"
#include "engine/cache_plan.h"
#include "engine/recovery_state.h"
#include "platform/file_system.h"
#include "publish/manifest_format.h"
#include "publish/sealer.h"
#include "support/test_http_server.h"
#include "support/test_support.h"

namespace repair {
namespace {

namespace fs = std::filesystem;
using publish::Bytes;
using test::Response;

Bytes ToBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

publish::ManifestRecord Record(const std::string& name, const std::string& content) {
  publish::ManifestRecord record;
  record.name = name;
  record.size = static_cast<std::uint32_t>(content.size());
  Bytes bytes = ToBytes(content);
  std::uint8_t digest[16];
  if (!content.empty()) {
    EXPECT_EQ(DigestMd5(bytes.data(), record.size, digest, nullptr), 0);
  } else {
    const std::uint8_t empty[16] = {0xd4, 0x1d, 0x8c, 0xd9, 0x8f, 0x00, 0xb2, 0x04,
                                    0xe9, 0x80, 0x09, 0x98, 0xec, 0xf8, 0x42, 0x7e};
    std::copy(empty, empty + 16, digest);
  }
  std::copy(digest, digest + 16, record.md5.begin());
  return record;
}

// A client folder, a release on the test server, and a run driven as the window would drive
// it with /quiet: every phase acknowledged as soon as it is seen.
class RecoveryRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.ok());
    base_ = (fs::path(dir_.path()) / "client").string() + kSep;
    fs::create_directories(base_);
  }
  void TearDown() override { ResetRecoveryState(); }

  static constexpr char kSep =
#if defined(_WIN32)
      '\\';
#else
      '/';
#endif

  std::string Local(const std::string& name) const {
    std::string path = base_ + name;
    for (char& c : path) {
      if (c == '\\' || c == '/') c = kSep;
    }
    return path;
  }
  void WriteLocal(const std::string& name, const std::string& content) {
    fs::create_directories(fs::path(Local(name)).parent_path());
    test::WriteAll(Local(name), content);
  }
  std::string ReadLocal(const std::string& name) const {
    Bytes bytes = test::ReadAll(Local(name));
    return std::string(bytes.begin(), bytes.end());
  }

  // Publishes `records` as build 1.0 and serves each file's content unless told otherwise.
  void Publish(const std::vector<publish::ManifestRecord>& records) {
    Bytes publicKey =
        publish::PublicKeyFromPrivate(Bytes(BuiltinKey(), BuiltinKey() + BuiltinKeyLength()));
    Bytes manifest;
    std::string error;
    ASSERT_TRUE(publish::BuildManifest(records, publicKey, manifest, error)) << error;
    server_.ServeFile("/1.0/filehash.tsf", manifest);
  }
  void ServeContent(const std::string& urlPath, const std::string& content) {
    server_.ServeFile("/1.0/" + urlPath, content);
  }
  void FreshClient() {
    fs::remove_all(base_);
    fs::create_directories(base_);
  }
  // Publishes each (name, content) and serves it under its URL path.
  void PublishAndServe(const std::vector<std::pair<std::string, std::string>>& files) {
    std::vector<publish::ManifestRecord> records;
    for (const auto& [name, content] : files) {
      records.push_back(Record(name, content));
      std::string urlPath = name;
      std::replace(urlPath.begin(), urlPath.end(), '\\', '/');
      ServeContent(urlPath, content);
    }
    Publish(records);
  }
  std::size_t FilesInClient() const {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(base_), fs::directory_iterator()));
  }

  // Runs the engine; returns whether it finished.
  bool Run(const char* ownName = "repair.exe") {
    std::string remote = server_.BaseUrl() + "/$MAJORVER$.$MINORVER$";
    VersionChoice version;
    version.versionMode = VersionMode::Explicit;
    version.major = 1;
    version.minor = 0;
    std::atomic<bool> done{false};
    bool finished = false;
    std::thread worker([&] {
      finished = RunRecovery(base_.c_str(), remote.c_str(), "buildver.tvf", "filehash.tsf", ownName,
                             &version);
      done.store(true);
    });
    while (!done.load()) {
      if (IsPhaseChanged()) AcknowledgePhase();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    worker.join();
    return finished;
  }

  std::vector<std::string> RequestedTargets() const {
    std::vector<std::string> targets;
    for (const auto& request : server_.Requests()) targets.push_back(request.target);
    return targets;
  }

  test::TempDir dir_;
  test::TestHttpServer server_;
  std::string base_;
};

TEST_F(RecoveryRunTest, BytesThatDifferFromTheManifestNeverReachTheCacheOrTheClient) {
  Publish({Record("data\\a.dat", "the right bytes")});
  ServeContent("data/a.dat", "the WRONG bytes");
  WriteLocal("data\\a.dat", "damaged");
  EXPECT_FALSE(Run());
  EXPECT_EQ(GetError(), static_cast<int>(RecoveryError::InvalidData));
  EXPECT_EQ(GetPhase(), RecoveryPhase::DownloadFiles);
  EXPECT_EQ(ReadLocal("data\\a.dat"), "damaged");
  EXPECT_FALSE(fs::exists(Local("recovery\\a.dat.recovery")));
}

TEST_F(RecoveryRunTest, EntriesSharingACacheNameEachGetTheirOwnBytes) {
  Publish({Record("data\\ui\\font.dat", "ui font"), Record("data\\maps\\font.dat", "map font"),
           Record("font.dat", "top font")});
  ServeContent("data/ui/font.dat", "ui font");
  ServeContent("data/maps/font.dat", "map font");
  ServeContent("font.dat", "top font");
  WriteLocal("data\\ui\\font.dat", "x");
  WriteLocal("recovery\\font.dat.recovery", "a stale cache file longer than any content");
  // data\maps\font.dat and font.dat are missing altogether.
  ASSERT_TRUE(Run()) << GetError();
  EXPECT_EQ(ReadLocal("data\\ui\\font.dat"), "ui font");
  EXPECT_EQ(ReadLocal("data\\maps\\font.dat"), "map font");
  EXPECT_EQ(ReadLocal("font.dat"), "top font");
  EXPECT_EQ(CountFiles(Recovered), 4u);  // the three and the manifest, which had no local copy
}

TEST_F(RecoveryRunTest, EmptyFilesAreComparedLikeAnyOtherContent) {
  Publish({Record("empty-by-design.txt", ""), Record("truncated.txt", "some content"),
           Record("cached.txt", "cached content")});
  ServeContent("truncated.txt", "some content");
  ServeContent("cached.txt", "cached content");
  WriteLocal("empty-by-design.txt", "");
  WriteLocal("truncated.txt", "");                  // what a crash in the middle of a write leaves
  WriteLocal("recovery\\cached.txt.recovery", "");  // an empty cache file is stale
  ASSERT_TRUE(Run()) << GetError();
  EXPECT_EQ(ReadLocal("empty-by-design.txt"), "");
  EXPECT_EQ(ReadLocal("truncated.txt"), "some content");
  EXPECT_EQ(ReadLocal("cached.txt"), "cached content");
  EXPECT_EQ(CountFiles(Intact), 1u);     // the empty file
  EXPECT_EQ(CountFiles(Recovered), 3u);  // the two and the manifest, which had no local copy
}

// One entry's move must never put its bytes where another entry's cache file waits: names in
// the cache folder, in the file system's letter case, get cache paths of their own.
TEST_F(RecoveryRunTest, EntriesInTheCacheFolderNeverTakeAnotherEntrysCacheFile) {
  for (const char* inCache : {"recovery\\font.dat.recovery", "Recovery\\FONT.DAT.recovery"}) {
    SCOPED_TRACE(inCache);
    FreshClient();
    PublishAndServe({{inCache, "a file of the game"}, {"zdata\\font.dat", "the font"}});
    ASSERT_TRUE(Run()) << GetError();
    EXPECT_EQ(ReadLocal(inCache), "a file of the game");
    EXPECT_EQ(ReadLocal("zdata\\font.dat"), "the font");
  }
}

TEST_F(RecoveryRunTest, EntriesThatContradictEachOtherEndTheRunBeforeAnythingIsTouched) {
  struct Refusal {
    const char* why;
    std::vector<std::pair<std::string, std::string>> files;
    bool refusedHere;  // under this file system's rules
  };
  const Refusal cases[] = {
      {"a file where the cache folder goes", {{"recovery", "x"}, {"a.txt", "a"}}, true},
      {"one file, two contents", {{"a.txt", "one"}, {"a.txt", "two"}}, true},
      {"a file that is another's folder", {{"a.txt", "a"}, {"a.txt\\b", "b"}}, true},
      {"one file on Windows", {{"A.txt", "one"}, {"a.txt", "two"}}, platform::kFileNamesIgnoreCase},
  };
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.why);
    FreshClient();
    PublishAndServe(c.files);
    EXPECT_EQ(Run(), !c.refusedHere);
    if (!c.refusedHere) continue;
    EXPECT_EQ(GetError(), static_cast<int>(RecoveryError::InvalidData));
    EXPECT_EQ(GetPhase(), RecoveryPhase::DownloadManifest);
    EXPECT_EQ(FilesInClient(), 0u);
  }
}

TEST_F(RecoveryRunTest, OtherSpellingsOfTheToolsOwnNameEndTheRunUntouched) {
  for (const char* spelling : {".\\repair.exe", "./repair.exe", "repair.exe.", "repair.exe ",
                               "bin\\\\repair.exe", "bin\\.\\..\\repair.exe"}) {
    SCOPED_TRACE(spelling);
    FreshClient();
    PublishAndServe({{spelling, "published tool"}});
    WriteLocal("repair.exe", "the running tool");
    EXPECT_FALSE(Run());
    EXPECT_EQ(GetError(), static_cast<int>(RecoveryError::InvalidData));
    EXPECT_EQ(GetPhase(), RecoveryPhase::DownloadManifest);
    EXPECT_EQ(ReadLocal("repair.exe"), "the running tool");
    EXPECT_EQ(FilesInClient(), 1u);
  }
}

// Names that the file system itself resolves to the executable are left alone like its own.
TEST_F(RecoveryRunTest, NamesThatResolveToTheToolsOwnFileAreLeftAlone) {
  const std::string own = "repair-tool.exe";
  WriteLocal(own, "the running tool");
#if defined(_WIN32)
  char shortPath[MAX_PATH];
  DWORD length = GetShortPathNameA(Local(own).c_str(), shortPath, sizeof shortPath);
  ASSERT_GT(length, 0u);
  const std::string alias = fs::path(shortPath).filename().string();
  if (alias == own) GTEST_SKIP() << "this file system keeps no short names";
#else
  fs::create_directory_symlink(".", Local("bin"));  // a folder that is the client folder
  const std::string alias = "bin\\" + own;
#endif
  PublishAndServe({{alias, "published tool"}});
  ASSERT_TRUE(Run(own.c_str())) << GetError();
  EXPECT_EQ(ReadLocal(own), "the running tool");
  EXPECT_EQ(CountFiles(0), 1u);  // the manifest alone
}

// The version file goes in last: a run cut short leaves the client naming the build it was.
TEST_F(RecoveryRunTest, TheVersionFileIsReplacedAfterEveryOtherFile) {
  for (const char* versionName : {"buildver.tvf", "BuildVer.tvf"}) {
    SCOPED_TRACE(versionName);
    const bool isVersionFile =
        platform::kFileNamesIgnoreCase || std::string(versionName) == "buildver.tvf";
    FreshClient();
    WriteLocal(versionName, "build 1.1");
    WriteLocal("data\\b.dat\\blocker", "a folder where a file goes");
    PublishAndServe({{versionName, "build 1.0"}, {"data\\a.dat", "a"}, {"data\\b.dat", "b"}});
    EXPECT_FALSE(Run());
    EXPECT_EQ(GetPhase(), RecoveryPhase::RecoverFiles);
    EXPECT_EQ(ReadLocal("data\\a.dat"), "a");
    EXPECT_EQ(ReadLocal(versionName), isVersionFile ? "build 1.1" : "build 1.0");

    fs::remove_all(Local("data\\b.dat"));
    ASSERT_TRUE(Run()) << GetError();
    EXPECT_EQ(ReadLocal(versionName), "build 1.0");
  }
}

TEST_F(RecoveryRunTest, EmptyFilesArePutBackWithoutADownload) {
  Publish({Record("logs\\missing.log", ""), Record("damaged.txt", "")});
  WriteLocal("damaged.txt", "not empty");
  ASSERT_TRUE(Run()) << GetError();
  EXPECT_EQ(ReadLocal("logs\\missing.log"), "");
  EXPECT_EQ(ReadLocal("damaged.txt"), "");
  EXPECT_EQ(CountFiles(Recovered), 3u);  // the two and the manifest, which had no local copy
  for (const std::string& target : RequestedTargets()) EXPECT_EQ(target, "/1.0/filehash.tsf");
}

TEST_F(RecoveryRunTest, OnlyTheToolsOwnTopLevelNameIsLeftAlone) {
  Publish({Record("repair.exe", "published tool"), Record("repair.exe", "listed twice"),
           Record("bin\\repair.exe", "a file of the game"), Record("Repair.exe", "other case")});
  ServeContent("bin/repair.exe", "a file of the game");
  ServeContent("Repair.exe", "other case");
  WriteLocal("repair.exe", "the running tool");
  ASSERT_TRUE(Run("repair.exe")) << GetError();
  EXPECT_EQ(ReadLocal("bin\\repair.exe"), "a file of the game");
  for (const std::string& target : RequestedTargets()) EXPECT_NE(target, "/1.0/repair.exe");
#if defined(_WIN32)
  // Letter case does not tell Windows files apart: "Repair.exe" is the running tool too.
  EXPECT_EQ(ReadLocal("repair.exe"), "the running tool");
  EXPECT_EQ(CountFiles(0), 2u);  // the manifest and bin\repair.exe
#else
  EXPECT_EQ(ReadLocal("repair.exe"), "the running tool");
  EXPECT_EQ(ReadLocal("Repair.exe"), "other case");  // another file here
  EXPECT_EQ(CountFiles(0), 3u);                      // the manifest, bin\repair.exe and Repair.exe
#endif
}

TEST_F(RecoveryRunTest, NamesThatLeaveTheClientFolderEndTheRunBeforeAnythingIsTouched) {
  for (const char* unsafe : {"..\\outside.txt", "data\\..\\..\\outside.txt", "\\outside.txt",
                             "C:\\outside.txt", "/outside.txt"}) {
    SCOPED_TRACE(unsafe);
    Publish({Record("a.txt", "fine"), Record(unsafe, "evil")});
    ServeContent("a.txt", "fine");
    EXPECT_FALSE(Run());
    EXPECT_EQ(GetError(), static_cast<int>(RecoveryError::InvalidData));
    EXPECT_EQ(GetPhase(), RecoveryPhase::DownloadManifest);
    EXPECT_FALSE(fs::exists(Local("a.txt")));
    EXPECT_FALSE(fs::exists(fs::path(dir_.path()) / "outside.txt"));
  }
}

TEST_F(RecoveryRunTest, PathsTooLongForTheToolsBuffersEndTheRunWithUnknown) {
  std::string longName(300 - base_.size(), 'n');
  Publish({Record(longName, "x")});
  EXPECT_FALSE(Run());
  EXPECT_EQ(GetError(), static_cast<int>(RecoveryError::Unknown));
  EXPECT_EQ(GetPhase(), RecoveryPhase::CheckFiles);
}

TEST_F(RecoveryRunTest, ASecondRunWhileOneIsActiveChangesNothing) {
  Publish({Record("a.txt", "content")});
  ServeContent("a.txt", "content");
  std::string remote = server_.BaseUrl() + "/$MAJORVER$.$MINORVER$";
  VersionChoice version;
  version.versionMode = VersionMode::Explicit;
  version.major = 1;
  std::thread worker([&] {
    RunRecovery(base_.c_str(), remote.c_str(), "v", "filehash.tsf", "repair.exe", &version);
  });
  // The run now waits for its first phase to be acknowledged.
  while (!IsPhaseChanged()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_FALSE(
      RunRecovery(base_.c_str(), remote.c_str(), "v", "filehash.tsf", "repair.exe", &version));
  EXPECT_EQ(GetPhase(), RecoveryPhase::DownloadManifest);
  EXPECT_EQ(IsPhaseChanged(), 1);
  while (GetPhase() != RecoveryPhase::Finished && GlobalRecoveryState().running.load()) {
    if (IsPhaseChanged()) AcknowledgePhase();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  worker.join();
  EXPECT_EQ(ReadLocal("a.txt"), "content");
}

TEST(CachePaths, DropFoldersAndNumberCollisions) {
  char out[260];
#if defined(_WIN32)
  const char* base = "C:\\Games\\Client\\";
  ASSERT_TRUE(BuildCachePath(out, base, "data\\ui\\font.dat", 0));
  EXPECT_STREQ(out, "C:\\Games\\Client\\recovery\\font.dat.recovery");
  ASSERT_TRUE(BuildCachePath(out, base, "data\\ui\\font.dat", 2));
  EXPECT_STREQ(out, "C:\\Games\\Client\\recovery\\font.dat.2.recovery");
  ASSERT_TRUE(BuildLocalPath(out, base, "data\\ui\\font.dat"));
  EXPECT_STREQ(out, "C:\\Games\\Client\\data\\ui\\font.dat");
#else
  const char* base = "/opt/client/";
  ASSERT_TRUE(BuildCachePath(out, base, "data\\ui\\font.dat", 0));
  EXPECT_STREQ(out, "/opt/client/recovery/font.dat.recovery");
  ASSERT_TRUE(BuildCachePath(out, base, "data\\ui\\font.dat", 2));
  EXPECT_STREQ(out, "/opt/client/recovery/font.dat.2.recovery");
  ASSERT_TRUE(BuildLocalPath(out, base, "data\\ui\\font.dat"));
  EXPECT_STREQ(out, "/opt/client/data/ui/font.dat");
#endif
  std::string longName(260, 'x');
  EXPECT_FALSE(BuildLocalPath(out, base, longName.c_str()));
  EXPECT_STREQ(out, "");
  EXPECT_FALSE(BuildCachePath(out, base, longName.c_str(), 0));
}

// Cache names that stay clear of every entry's file, of the folders they lie in, and of the
// part files beside each cache file.
TEST(CachePlan, CachePathsAvoidEveryEntrysFilesAndFolders) {
  struct Case {
    std::vector<std::string> names;
    std::vector<std::string> cacheNames;
  };
  const std::string foldedPlain =
      platform::kFileNamesIgnoreCase ? "font.dat.1.recovery" : "font.dat.recovery";
  const Case cases[] = {
      {{"data\\font.dat"}, {"font.dat.recovery"}},
      {{"a\\font.dat", "b\\font.dat", "font.dat.1"},
       {"font.dat.recovery", "font.dat.1.recovery", "font.dat.1.1.recovery"}},
      {{"recovery\\font.dat.recovery.part", "x\\font.dat"},
       {"font.dat.recovery.part.recovery", "font.dat.1.recovery"}},
      {{"recovery\\font.dat.recovery.part.validator", "x\\font.dat"},
       {"font.dat.recovery.part.validator.recovery", "font.dat.1.recovery"}},
      {{"recovery\\font.dat.recovery\\inner.txt", "x\\font.dat"},
       {"inner.txt.recovery", "font.dat.1.recovery"}},
      {{"Recovery\\FONT.DAT.recovery", "x\\font.dat"}, {"FONT.DAT.recovery.recovery", foldedPlain}},
      // A number another name took is skipped, and later entries of one name go on from the
      // last number it got.
      {{"x\\a.dat", "a.dat.2", "y\\a.dat", "z\\a.dat", "w\\a.dat"},
       {"a.dat.recovery", "a.dat.2.recovery", "a.dat.1.recovery", "a.dat.3.recovery",
        "a.dat.4.recovery"}},
  };
  const std::uint8_t md5[16] = {};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.names.back());
    FileList files;
    for (const std::string& name : c.names) {
      files.Append(std::make_unique<FileEntry>(name.c_str(), 1, md5));
    }
    std::vector<std::string> paths;
    ASSERT_TRUE(PlanCachePaths(files, "base/", paths));
    ASSERT_EQ(paths.size(), c.cacheNames.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
      EXPECT_EQ(fs::path(paths[i]).filename().string(), c.cacheNames[i]);
    }
  }
}

// Either system's letter-case rules, planned on one: Windows rules make names that differ only
// in case one file, and one cache file, as the Windows build does.
TEST(CachePlan, EitherSystemsLetterCaseRulesCanBeCheckedOnOne) {
  EXPECT_EQ(FileNameKeyWithRules("Data/UI\\Font.DAT", true), "data\\ui\\font.dat");
  EXPECT_EQ(FileNameKeyWithRules("Data/UI\\Font.DAT", false), "Data\\UI\\Font.DAT");
  EXPECT_EQ(FileNameKey("A/b"), FileNameKeyWithRules("A/b", platform::kFileNamesIgnoreCase));

  const std::uint8_t md5[16] = {};
  FileList files;
  files.Append(std::make_unique<FileEntry>("a\\Font.DAT", 1, md5));
  files.Append(std::make_unique<FileEntry>("b\\font.dat", 1, md5));
  std::vector<std::string> paths;
  ASSERT_TRUE(PlanCachePathsWithRules(files, "base/", true, paths));
  EXPECT_EQ(fs::path(paths[1]).filename().string(), "font.dat.1.recovery");
  ASSERT_TRUE(PlanCachePathsWithRules(files, "base/", false, paths));
  EXPECT_EQ(fs::path(paths[1]).filename().string(), "font.dat.recovery");

  // One file listed twice with different sizes is a contradiction only where case is ignored.
  files.Append(std::make_unique<FileEntry>("A\\FONT.dat", 2, md5));
  files.Append(std::make_unique<FileEntry>("a\\font.dat", 2, md5));
  EXPECT_TRUE(PlanCachePathsWithRules(files, "base/", false, paths));
  EXPECT_FALSE(PlanCachePathsWithRules(files, "base/", true, paths));
  EXPECT_TRUE(paths.empty());
}

}  // namespace
}  // namespace repair

namespace repair {
namespace {

// A run cut off mid-download leaves its part file; the next run asks only for the rest, and
// installs the file only once all of it has the manifest's digest.
TEST_F(RecoveryRunTest, ARunCutOffMidDownloadIsContinuedByTheNext) {
  std::string big(2 * 1024 * 1024 + 333, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 131 + i / 4099);
  Publish({Record("data\\big.pak", big)});
  test::Resource resource{big, "\"big-v1\"", ""};
  resource.drops = 1;
  resource.dropAfter = 1500 * 1000;
  server_.ServeResource("/1.0/data/big.pak", resource);
  WriteLocal("data\\big.pak", "damaged");
  WriteLocal("filehash.tsf", "stale");

  EXPECT_FALSE(Run());
  EXPECT_EQ(GetError(), static_cast<int>(RecoveryError::InvalidData));
  EXPECT_EQ(ReadLocal("data\\big.pak"), "damaged");
  // A reset may discard bytes the client had not read yet: the part holds what arrived.
  const std::string part = ReadLocal("recovery\\big.pak.recovery.part");
  ASSERT_GT(part.size(), 0u);
  ASSERT_LE(part.size(), 1500u * 1000u);
  EXPECT_EQ(part, big.substr(0, part.size()));

  ASSERT_TRUE(Run()) << GetError();
  EXPECT_EQ(ReadLocal("data\\big.pak"), big);
  std::vector<std::string> ranges;
  for (const auto& request : server_.Requests()) {
    if (request.target == "/1.0/data/big.pak") ranges.push_back(request.Header("Range"));
  }
  EXPECT_EQ(ranges, (std::vector<std::string>{"", "bytes=" + std::to_string(part.size()) + "-"}));
  EXPECT_FALSE(fs::exists(Local("recovery\\big.pak.recovery.part")));
}

}  // namespace
}  // namespace repair
