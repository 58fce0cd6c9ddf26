// The recovery run against the in-process HTTP server: the places where the run must be
// safer than a plain download-and-replace.
#include "engine/recovery_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "codec/builtin_key.h"
#include "codec/codec.h"
#include "engine/block_index.h"
#include "engine/cache_plan.h"
#include "engine/download_plan.h"
#include "engine/recovery_state.h"
#include "engine/url.h"
#include "common/format.h"
#include "platform/disk_info_test_hooks.h"
#include "platform/file_system.h"
#include "platform/paths.h"
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

  static constexpr char kSep = platform::kPathSeparator;

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
    manifest_.assign(manifest.begin(), manifest.end());
  }
  void ServeContent(const std::string& urlPath, const std::string& content) {
    server_.ServeFile("/1.0/" + urlPath, content);
  }
  void FreshClient() {
    test::RemoveTree(base_);
    fs::create_directories(base_);
  }
  // Publishes each (name, content) and serves it under its URL path.
  void PublishAndServe(const std::vector<std::pair<std::string, std::string>>& files) {
    std::vector<publish::ManifestRecord> records;
    for (const auto& [name, content] : files) {
      records.push_back(Record(name, content));
      char url[kPathBufferSize];
      ASSERT_TRUE(BuildFileUrl(url, "", name.c_str())) << name;
      ServeContent(url + 1, content);  // the path the tool asks for, less its leading '/'
    }
    Publish(records);
  }
  std::size_t FilesInClient() const {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(base_), fs::directory_iterator()));
  }

  // A run of build 1.0 of the release on the test server, for the client folder.
  RecoveryRequest Request(const char* ownName = "repair.exe") const {
    RecoveryRequest request;
    request.baseFolder = base_;
    request.remotePath = server_.BaseUrl() + "/$MAJORVER$.$MINORVER$";
    request.versionFileName = "buildver.tvf";
    request.manifestFileName = "filehash.tsf";
    request.ownFileName = ownName;
    request.versionMode = VersionMode::Explicit;
    request.major = 1;
    request.minor = 0;
    request.runLogPath = runLog_;
    request.maxDownloads = maxDownloads_;
    return request;
  }

  // Runs the engine; returns whether it finished.
  bool Run(const char* ownName = "repair.exe") { return RunStoppingWhen(nullptr, ownName); }

  // Runs the engine as Run does and asks it to stop, as the end of the message loop does, once
  // `stopWhen` holds. That is watched without a pause, so the stop comes where the test means.
  bool RunStoppingWhen(const std::function<bool()>& stopWhen, const char* ownName = "repair.exe") {
    const RecoveryRequest request = Request(ownName);
    std::atomic<bool> done{false};
    bool finished = false;
    std::thread worker([&] {
      finished = RunRecovery(request);
      done.store(true);
    });
    bool stopped = false;
    while (!done.load()) {
      if (IsPhaseChanged()) AcknowledgePhase();
      if (stopWhen && !stopped && stopWhen()) {
        RequestStop();
        stopped = true;
      }
      if (stopWhen) {
        std::this_thread::yield();
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    }
    worker.join();
    return finished;
  }

  // The index of the entry with that name in the run's list; -1 when there is none.
  static int IndexOf(const std::string& name) {
    for (std::uint32_t i = 0; i < CountFiles(0); ++i) {
      if (FileNameAt(i) == name) return static_cast<int>(i);
    }
    return -1;
  }

  std::vector<std::string> RequestedTargets() const {
    std::vector<std::string> targets;
    for (const auto& request : server_.Requests()) targets.push_back(request.target);
    return targets;
  }

  test::TempDir dir_;
  test::TestHttpServer server_;
  std::string base_;
  std::string runLog_;              // the request's run log; empty: none
  std::uint32_t maxDownloads_ = 0;  // the request's downloads at once; 0: the default
  std::string manifest_;            // the manifest's bytes as last published
};

// What support asks a player for: the log says what was done and, like the detail stored with
// the error code, what failed, where and why; a log that cannot be written changes nothing.
TEST_F(RecoveryRunTest, TheRunLogAndTheDetailNameWhatFailed) {
  const std::string log = base_ + "run.log";
  runLog_ = log;
  PublishAndServe({{"a.dat", "release a"}, {"b.dat", "release b"}});
  server_.Serve("/1.0/b.dat", test::Response::Status(404));
  WriteLocal("a.dat", "release a");
  EXPECT_FALSE(Run());
  EXPECT_EQ(GetError(), static_cast<int>(RecoveryError::NotExistFile));
  const std::string url = server_.Url("/1.0/b.dat");
  EXPECT_EQ(GetErrorDetail(), "fetch " + url + ": HTTP status 404, refused status");
  std::string text = ReadLocal("run.log");
  for (const std::string& line :
       {std::string("build resolved: remote folder ") + server_.BaseUrl() + "/1.0",
        std::string("manifest ") + server_.Url("/1.0/filehash.tsf") + ": 3 files",
        std::string("check a.dat: intact"), std::string("phase: download files"),
        "failed: ERR_NOTEXISTFILE fetch " + url + ": HTTP status 404"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << " in\n" << text;
  }

  // A folder where a file belongs: its path and the system's error.
  FreshClient();
  server_.ServeFile("/1.0/b.dat", "release b");
  WriteLocal("b.dat\\mine.txt", "the player's");
  EXPECT_FALSE(Run());
  EXPECT_EQ(GetError(), static_cast<int>(RecoveryError::Unknown));
  const std::string detail = GetErrorDetail();
  EXPECT_NE(detail.find(Local("b.dat") + ": "), std::string::npos) << detail;
  EXPECT_NE(detail.find("(OS error "), std::string::npos) << detail;
  text = ReadLocal("run.log");
  EXPECT_NE(text.find("failed: ERR_UNKNOWN " + detail), std::string::npos) << text;
  EXPECT_NE(text.find("fetch b.dat: 9 bytes"), std::string::npos) << text;

  // A log where a folder is, or in a folder that does not exist: the run goes on without it.
  for (const std::string& unwritable : {base_ + "logs", base_ + "missing" + kSep + "run.log"}) {
    FreshClient();
    fs::create_directories(base_ + "logs");
    runLog_ = unwritable;
    EXPECT_TRUE(Run()) << unwritable << ": " << GetErrorDetail();
    EXPECT_EQ(GetErrorDetail(), "");
  }
}

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

// U+00DC and U+00FC in code page 1252: one letter in two cases, which Windows takes for one
// file name. The Windows suites run with that code page; elsewhere names are bytes.
constexpr char kUpperName[] =
    "north\\\xDC"
    "bersicht.txt";
constexpr char kLowerName[] =
    "south\\\xFC"
    "bersicht.txt";

bool HostCodePageFits() {
  return !platform::kFileNamesIgnoreCase || platform::HostCodePage() == 1252;
}

// Two names of one file under the file system's letter case, beyond ASCII: each gets a cache
// file of its own, and a rerun finds both installed.
TEST_F(RecoveryRunTest, NamesThatFoldToOneFileNeverShareACacheFileAndRerunsConverge) {
  if (!HostCodePageFits()) GTEST_SKIP() << "the names are written for code page 1252";
  PublishAndServe({{kUpperName, "the upper one"}, {kLowerName, "the lower one"}});
  ASSERT_TRUE(Run()) << GetError();
  EXPECT_EQ(ReadLocal(kUpperName), "the upper one");
  EXPECT_EQ(ReadLocal(kLowerName), "the lower one");
  ASSERT_TRUE(Run()) << GetError();
  EXPECT_EQ(CountFiles(Intact), 3u);  // the two and the manifest
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
      {"one file on Windows, beyond ASCII",
       {{"x\\\xDC.txt", "one"}, {"X\\\xFC.txt", "two"}},
       platform::kFileNamesIgnoreCase},
  };
  if (!HostCodePageFits()) GTEST_SKIP() << "the names are written for code page 1252";
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
  const RecoveryRequest request = Request();
  std::thread worker([&] { RunRecovery(request); });
  // The run now waits for its first phase to be acknowledged.
  while (!IsPhaseChanged()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_FALSE(RunRecovery(request));
  EXPECT_EQ(GetPhase(), RecoveryPhase::DownloadManifest);
  EXPECT_EQ(IsPhaseChanged(), 1);
  while (GetPhase() != RecoveryPhase::Finished && GlobalRecoveryState().running.load()) {
    if (IsPhaseChanged()) AcknowledgePhase();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  worker.join();
  EXPECT_EQ(ReadLocal("a.txt"), "content");
}

// The run's entries go to the state the run is given, the tool's own executable left out, and
// the list they came from is left empty.
TEST(PublishEntriesTest, FillsTheGivenStateAloneWithoutTheToolsOwnName) {
  ASSERT_TRUE(ResetRecoveryState());
  const std::vector<std::string> names = {"filehash.tsf", "repair.exe", "bin\\repair.exe", "a.dat",
                                          "repair.exe"};
  FileList parsed;
  const std::uint8_t md5[16] = {};
  for (const std::string& name : names) {
    parsed.Append(std::make_unique<FileEntry>(name.c_str(), 1, md5));
  }
  RecoveryState state;
  PublishEntries(state, parsed, "no-such-folder/", "repair.exe");
  EXPECT_EQ(parsed.size(), 0u);
  std::vector<std::string> published;
  for (const auto& entry : state.files) published.push_back(entry->name);
  EXPECT_EQ(published, (std::vector<std::string>{"filehash.tsf", "bin\\repair.exe", "a.dat"}));
  EXPECT_EQ(CountFiles(0), 0u);  // the process-wide list
}

TEST(CachePaths, DropFoldersAndNumberCollisions) {
  char out[260];
#if defined(_WIN32)
  const char* base = "C:\\Games\\Client\\";
  ASSERT_TRUE(BuildCachePath(out, base, "data\\ui\\font.dat", 0));
  EXPECT_STREQ(out, "C:\\Games\\Client\\recovery\\font.dat.recovery");
  ASSERT_TRUE(BuildCachePath(out, base, "data\\ui\\font.dat", 2));
  EXPECT_STREQ(out, "C:\\Games\\Client\\recovery\\font.dat.2.recovery");
#else
  const char* base = "/opt/client/";
  ASSERT_TRUE(BuildCachePath(out, base, "data\\ui\\font.dat", 0));
  EXPECT_STREQ(out, "/opt/client/recovery/font.dat.recovery");
  ASSERT_TRUE(BuildCachePath(out, base, "data\\ui\\font.dat", 2));
  EXPECT_STREQ(out, "/opt/client/recovery/font.dat.2.recovery");
#endif
  std::string longName(260, 'x');
  EXPECT_FALSE(BuildCachePath(out, base, longName.c_str(), 0));
  EXPECT_STREQ(out, "");
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
    ASSERT_TRUE(PlanCachePaths(files, "base/", paths).ok());
    ASSERT_EQ(paths.size(), c.cacheNames.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
      EXPECT_EQ(fs::path(paths[i]).filename().string(), c.cacheNames[i]);
    }
  }
}

// Under the file system's letter case (Windows): names of one file with different contents
// refuse the manifest, and names whose cache files would be one file get a number each.
TEST(CachePlan, NamesOfOneFileBeyondAsciiAreToldApartAsTheFileSystemDoes) {
  if (!HostCodePageFits()) GTEST_SKIP() << "the names are written for code page 1252";
  const bool folds = platform::kFileNamesIgnoreCase;
  struct Case {
    const char* why;
    std::vector<std::pair<std::string, std::uint8_t>> entries;  // name, first byte of its MD5
    bool planned;
    std::vector<std::string> cacheNames;
  };
  const std::string upper =
      "\xDC"
      "bersicht.txt";
  const std::string lower =
      "\xFC"
      "bersicht.txt";
  const Case cases[] = {
      {"two files whose cache names fold to one",
       {{kUpperName, 1}, {kLowerName, 2}},
       true,
       {upper + ".recovery", lower + (folds ? ".1.recovery" : ".recovery")}},
      {"one file listed with the same content",
       {{"north\\" + upper, 1}, {"NORTH\\" + lower, 1}},
       true,
       {upper + ".recovery", lower + (folds ? ".1.recovery" : ".recovery")}},
      {"one file listed with two contents",
       {{"north\\" + upper, 1}, {"NORTH\\" + lower, 2}},
       !folds,
       {upper + ".recovery", lower + ".recovery"}},
      {"a file where another entry's folder is",
       {{"\xDC", 1}, {"\xFC\\a.txt", 2}},
       !folds,
       {"\xDC.recovery", "a.txt.recovery"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    FileList files;
    for (const auto& [name, md5First] : c.entries) {
      std::uint8_t md5[16] = {md5First};
      files.Append(std::make_unique<FileEntry>(name.c_str(), 1, md5));
    }
    std::vector<std::string> paths;
    const Status planned = PlanCachePaths(files, "base/", paths);
    ASSERT_EQ(planned.ok(), c.planned);
    if (!c.planned) {
      EXPECT_EQ(planned.code, RecoveryError::InvalidData);
      EXPECT_FALSE(planned.note.empty()) << "says which entries";
      EXPECT_TRUE(paths.empty());
      continue;
    }
    ASSERT_EQ(paths.size(), c.cacheNames.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
      const std::string path = paths[i];
      EXPECT_EQ(path.substr(path.find_last_of("\\/") + 1), c.cacheNames[i]);
    }
  }
}

// Not a test of speed: prints what planning a large manifest costs, every name keyed as the file
// system compares it (on Windows, through the code page and the system's case mapping), so that
// CI logs show it. Each bare name is shared by five entries, so numbers are handed out too.
TEST(CachePlan, BenchmarkPlanOfFiftyThousandEntries) {
  constexpr std::size_t kEntries = 50000;
  FileList files;
  const std::uint8_t md5[16] = {};
  for (std::size_t i = 0; i < kEntries; ++i) {
    const std::string name = "data\\Folder" + std::to_string(i % 5) +
                             "\\\xDC"
                             "bersicht" +
                             std::to_string(i / 5) + ".dat";
    files.Append(std::make_unique<FileEntry>(name.c_str(), 1, md5));
  }
  std::vector<std::string> paths;
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(PlanCachePaths(files, "base/", paths).ok());
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  std::printf("[ bench    ] PlanCachePaths over %zu entries: %.1f ms (%.2f us per entry)\n",
              kEntries, ms, ms * 1000 / kEntries);
  std::fflush(stdout);
  std::set<std::string> distinct(paths.begin(), paths.end());
  EXPECT_EQ(distinct.size(), kEntries);
}

// Either system's letter-case rules, planned on one: Windows rules make names that differ only
// in case one file, and one cache file, as the Windows build does.
TEST(CachePlan, EitherSystemsLetterCaseRulesCanBeCheckedOnOne) {
  EXPECT_EQ(FileNameKeyWithRules("Data/UI\\Font.DAT", true),
            FileNameKeyWithRules("data\\ui/font.dat", true));
  EXPECT_NE(FileNameKeyWithRules("Data/UI\\Font.DAT", false),
            FileNameKeyWithRules("data\\ui/font.dat", false));
  EXPECT_EQ(FileNameKey("A/b"), FileNameKeyWithRules("A/b", platform::kFileNamesIgnoreCase));

  const std::uint8_t md5[16] = {};
  FileList files;
  files.Append(std::make_unique<FileEntry>("a\\Font.DAT", 1, md5));
  files.Append(std::make_unique<FileEntry>("b\\font.dat", 1, md5));
  std::vector<std::string> paths;
  ASSERT_TRUE(PlanCachePathsWithRules(files, "base/", true, paths).ok());
  EXPECT_EQ(fs::path(paths[1]).filename().string(), "font.dat.1.recovery");
  ASSERT_TRUE(PlanCachePathsWithRules(files, "base/", false, paths).ok());
  EXPECT_EQ(fs::path(paths[1]).filename().string(), "font.dat.recovery");

  // One file listed twice with different sizes is a contradiction only where case is ignored.
  files.Append(std::make_unique<FileEntry>("A\\FONT.dat", 2, md5));
  files.Append(std::make_unique<FileEntry>("a\\font.dat", 2, md5));
  EXPECT_TRUE(PlanCachePathsWithRules(files, "base/", false, paths).ok());
  EXPECT_FALSE(PlanCachePathsWithRules(files, "base/", true, paths).ok());
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

// A large damaged file of a release with block indexes costs the run its damaged block and the
// index; without an index the run fetches the whole file, the index's 404 the only extra. The
// entry's bytes to fetch, which the bar and the row count, follow.
TEST_F(RecoveryRunTest, ALargeDamagedFileCostsItsDamagedBlocksWhereTheReleaseHasAnIndex) {
  const std::string big = test::Pattern(kBlockRepairMinSize + 5000);
  const publish::ManifestRecord record = Record("data\\big.pak", big);
  std::string damaged = big;
  damaged[7 * kDefaultIndexBlockSize + 3] ^= 1;
  BlockIndexBuilder builder(kDefaultIndexBlockSize);
  builder.Update(reinterpret_cast<const std::uint8_t*>(big.data()), big.size());
  BlockIndex index;
  ASSERT_TRUE(builder.Finish(record.md5.data(), index));
  const std::vector<std::uint8_t> indexBytes = FormatBlockIndex(index);
  Publish({record});
  server_.ServeResource("/1.0/data/big.pak", test::Resource{big, "\"v1\"", ""});
  runLog_ = base_ + "run.log";
  for (const bool indexed : {true, false}) {
    const char* what = indexed ? "with an index" : "without one";
    server_.Serve("/1.0/data/big.pak.blockidx",
                  indexed ? Response::Ok(std::string(indexBytes.begin(), indexBytes.end()))
                          : Response::Status(404));
    WriteLocal("data\\big.pak", damaged);
    const std::size_t before = server_.Requests().size();
    ASSERT_TRUE(Run()) << what << ": " << GetError();
    EXPECT_EQ(ReadLocal("data\\big.pak"), big) << what;
    std::vector<std::string> asked;
    const auto requests = server_.Requests();
    for (std::size_t i = before; i < requests.size(); ++i) {
      if (requests[i].target != "/1.0/filehash.tsf") {
        asked.push_back(requests[i].target + " " + requests[i].Header("Range"));
      }
    }
    const std::string block = "bytes=" + std::to_string(7 * kDefaultIndexBlockSize) + "-" +
                              std::to_string(8 * kDefaultIndexBlockSize - 1);
    const std::vector<std::string> expected =
        indexed
            ? std::vector<std::string>{"/1.0/data/big.pak.blockidx ", "/1.0/data/big.pak " + block}
            : std::vector<std::string>{"/1.0/data/big.pak.blockidx ", "/1.0/data/big.pak "};
    EXPECT_EQ(asked, expected) << what;
    // The log says per file what the blocks cost, or why the whole file was fetched.
    const std::string log = ReadLocal("run.log");
    // The plan counts the block, not the file: its bytes, and the room the cache file takes.
    const std::string plan = "bytes (" + std::string(indexed ? "1" : "0") + " by blocks,";
    EXPECT_NE(log.find(plan), std::string::npos) << what << ":\n" << log;
    const std::string line =
        indexed
            ? "fetch data\\big.pak: by blocks, 1 of 33 blocks fetched (1048576 bytes, 1 range), "
              "32 reused, 0 kept from an earlier run"
            : "fetch data\\big.pak: whole file, no index (HTTP status 404)";
    EXPECT_NE(log.find(line), std::string::npos) << what << ":\n" << log;
    const int entry = IndexOf("data\\big.pak");
    ASSERT_GE(entry, 0);
    const std::uint32_t toFetch = indexed ? kDefaultIndexBlockSize : record.size;
    EXPECT_EQ(FileToFetchAt(static_cast<std::uint32_t>(entry)), toFetch) << what;
    EXPECT_EQ(FileDoneAt(static_cast<std::uint32_t>(entry)), toFetch) << what;
    std::uint32_t total = 0;
    std::uint32_t done = 0;
    SumTransfer(total, done);
    // Beside the manifest's own entry, fetched whole by the first run.
    const auto manifest = static_cast<std::uint32_t>(IndexOf("filehash.tsf"));
    const std::uint32_t manifestBytes = FileStateAt(manifest) == Intact ? 0 : FileSizeAt(manifest);
    EXPECT_EQ(total, toFetch + manifestBytes) << what;
  }
}

// A stop while a file is digested ends the run before the next file: nothing later is looked
// at, and nothing is reported as an error.
TEST_F(RecoveryRunTest, AStopInTheCheckEndsTheRunAtTheNextFile) {
  std::vector<std::pair<std::string, std::string>> files = {
      {"first.pak", std::string(16 * 1024 * 1024, 'f')}};
  for (int i = 0; i < 10; ++i) {
    files.emplace_back("small" + std::to_string(i) + ".dat", "content " + std::to_string(i));
  }
  PublishAndServe(files);
  for (const auto& [name, content] : files) WriteLocal(name, content);

  EXPECT_FALSE(RunStoppingWhen([] {
    const int first = IndexOf("first.pak");
    return first >= 0 && FileStateAt(first) == Checking;
  }));
  EXPECT_EQ(GetError(), 0);
  EXPECT_EQ(GetPhase(), RecoveryPhase::CheckFiles);
  EXPECT_EQ(GlobalRecoveryState().running.load(), 0);
  const int first = IndexOf("first.pak");
  ASSERT_GE(first, 0);
  EXPECT_NE(FileStateAt(first), static_cast<std::uint32_t>(Listed));
  for (std::uint32_t i = first + 1; i < CountFiles(0); ++i) {
    EXPECT_EQ(FileStateAt(i), static_cast<std::uint32_t>(Listed)) << FileNameAt(i);
  }
}

}  // namespace
}  // namespace repair

#if !defined(_WIN32)
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace repair {
namespace {

// The client folder is writable by every user while the tool runs with more rights: whatever
// is planted in it may only ever be replaced, never written through.
class LinkedClientTest : public RecoveryRunTest {
 protected:
  void SetUp() override {
    RecoveryRunTest::SetUp();
    outside_ = (fs::path(dir_.path()) / "outside").string() + kSep;
    fs::create_directories(outside_);
  }
  std::string Outside(const std::string& name) const { return outside_ + name; }
  std::string ReadOutside(const std::string& name) const {
    Bytes bytes = test::ReadAll(Outside(name));
    return std::string(bytes.begin(), bytes.end());
  }
  // A link in the client folder to a file or folder outside it; skips where none can be made.
  bool LinkLocal(const std::string& name, const std::string& outsideName, bool folder = false) {
    fs::create_directories(fs::path(Local(name)).parent_path());
    return test::MakeSymlink(Outside(outsideName), Local(name), folder);
  }
  bool IsPlainFile(const std::string& name) const {
    return !test::IsLink(Local(name)) && fs::is_regular_file(Local(name));
  }
  std::string outside_;
};

TEST_F(LinkedClientTest, LinksAtCachePathsAreReplacedNeverWrittenThrough) {
  PublishAndServe({{"empty.txt", ""}, {"data\\a.dat", "release a"}, {"b.dat", "release b"}});
  WriteLocal("empty.txt", "not empty");
  WriteLocal("data\\a.dat", "damaged");
  test::WriteAll(Outside("truncated"), std::string("keep me"));
  test::WriteAll(Outside("overwritten"), std::string("keep me too"));
  test::WriteAll(Outside("same bytes"), std::string("release b"));
  // The empty entry's cache file, a part file, and a cache file that holds the right bytes.
  if (!LinkLocal("recovery\\empty.txt.recovery", "truncated") ||
      !LinkLocal("recovery\\a.dat.recovery.part", "overwritten") ||
      !LinkLocal("recovery\\b.dat.recovery", "same bytes")) {
    GTEST_SKIP() << test::kNoSymlink;
  }
  ASSERT_TRUE(Run()) << GetError();
  EXPECT_EQ(ReadOutside("truncated"), "keep me");
  EXPECT_EQ(ReadOutside("overwritten"), "keep me too");
  EXPECT_EQ(ReadOutside("same bytes"), "release b");
  EXPECT_EQ(ReadLocal("empty.txt"), "");
  EXPECT_EQ(ReadLocal("data\\a.dat"), "release a");
  EXPECT_EQ(ReadLocal("b.dat"), "release b");
  for (const char* name : {"empty.txt", "data\\a.dat", "b.dat"}) {
    EXPECT_TRUE(IsPlainFile(name)) << name;
  }
}

TEST_F(LinkedClientTest, AHardLinkAtThePartPathLeavesTheOtherNameAlone) {
  PublishAndServe({{"a.dat", "release a"}});
  WriteLocal("a.dat", "damaged");
  test::WriteAll(Outside("shared"), std::string("another file's bytes"));
  fs::create_directories(Local("recovery"));
  std::error_code error;
  fs::create_hard_link(Outside("shared"), Local("recovery\\a.dat.recovery.part"), error);
  if (error) GTEST_SKIP() << "no hard link: " << error.message();
  ASSERT_TRUE(Run()) << GetError();
  EXPECT_EQ(ReadOutside("shared"), "another file's bytes");
  EXPECT_EQ(ReadLocal("a.dat"), "release a");
}

TEST_F(LinkedClientTest, AClientFileThatIsALinkIsReplacedByARealFile) {
  PublishAndServe({{"data\\a.dat", "release a"}});
  // The target holds the right bytes: still, the entry is a link, not the file.
  test::WriteAll(Outside("target"), std::string("release a"));
  if (!LinkLocal("data\\a.dat", "target")) GTEST_SKIP() << test::kNoSymlink;
  ASSERT_TRUE(Run()) << GetError();
  EXPECT_TRUE(IsPlainFile("data\\a.dat"));
  EXPECT_EQ(ReadLocal("data\\a.dat"), "release a");
  EXPECT_EQ(ReadOutside("target"), "release a");
  EXPECT_TRUE(fs::exists(Outside("target")));
}

TEST_F(LinkedClientTest, AFolderThatIsALinkIsNeverWrittenThrough) {
  // Which folder is the link, and whether the run has anything to write there.
  struct Case {
    const char* link;
    const char* content;  // of data\a.dat, behind the link or in the client
    bool finishes;
  } cases[] = {
      {"data", "release a", true},     // intact behind the link: read, nothing to write
      {"data", "damaged", false},      // damaged behind the link
      {"recovery", "damaged", false},  // the cache folder elsewhere
  };
  PublishAndServe({{"data\\a.dat", "release a"}});
  for (const Case& c : cases) {
    FreshClient();
    test::RemoveTree(outside_);
    fs::create_directories(Outside("folder"));
    if (!LinkLocal(c.link, "folder", true)) GTEST_SKIP() << test::kNoSymlink;
    WriteLocal("data\\a.dat", c.content);
    EXPECT_EQ(Run(), c.finishes) << c.link << " " << c.content;
    EXPECT_EQ(GetError(), c.finishes ? 0 : static_cast<int>(RecoveryError::LinkedFolder)) << c.link;
    EXPECT_EQ(ReadLocal("data\\a.dat"), c.content) << c.link;
    // The manifest's own entry, missing, lies in the base folder: written only by a run that
    // goes on.
    EXPECT_EQ(fs::exists(Local("filehash.tsf")), c.finishes) << c.link;
    EXPECT_TRUE(test::IsLink(Local(c.link))) << c.link;
    const std::size_t behind = static_cast<std::size_t>(
        std::distance(fs::directory_iterator(Outside("folder")), fs::directory_iterator()));
    EXPECT_EQ(behind, std::string(c.link) == "data" ? 1u : 0u) << c.link;
  }
}

// A name that the manifest lists as a file's folder holds a file: no listed file can be there,
// so it is removed and the folder made, on this run.
TEST_F(LinkedClientTest, AnUnlistedFileWhereAFolderBelongsMakesWayForIt) {
  PublishAndServe({{"data\\maps\\a.map", "map a"}, {"b.dat", "release b"}});
  for (const char* inTheWay : {"data", "data\\maps", "recovery"}) {
    FreshClient();
    WriteLocal("b.dat", "damaged");
    WriteLocal(inTheWay, "a file in the way");
    ASSERT_TRUE(Run()) << inTheWay << ": " << GetError();
    EXPECT_EQ(ReadLocal("data\\maps\\a.map"), "map a") << inTheWay;
    EXPECT_EQ(ReadLocal("b.dat"), "release b") << inTheWay;
  }
}

// A folder where a file belongs may hold the player's own files: it stays, and the run fails.
TEST_F(LinkedClientTest, AFolderWhereAFileBelongsStaysAndFails) {
  PublishAndServe({{"a.dat", "release a"}});
  WriteLocal("a.dat\\mine.txt", "the player's");
  EXPECT_FALSE(Run());
  EXPECT_EQ(ReadLocal("a.dat\\mine.txt"), "the player's");
  // Once the folder is gone, a rerun converges.
  fs::remove_all(Local("a.dat"));
  ASSERT_TRUE(Run()) << GetError();
  EXPECT_EQ(ReadLocal("a.dat"), "release a");
}

#if !defined(_WIN32)
// A FIFO was opened before its type was looked at and hung the check for good; a socket and a
// FIFO are entries in the wrong shape, replaced like any damaged file.
TEST_F(LinkedClientTest, AFifoOrSocketWhereAFileBelongsIsReplaced) {
  PublishAndServe({{"pipe.dat", "release pipe"}, {"data\\sock.dat", "release sock"}});
  fs::create_directories(Local("data"));
  ASSERT_EQ(::mkfifo(Local("pipe.dat").c_str(), 0644), 0);
  const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socketPath = Local("data\\sock.dat");
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  std::copy(socketPath.begin(), socketPath.end(), address.sun_path);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const bool finished = Run();
  ::close(listener);
  ASSERT_TRUE(finished) << GetError();
  EXPECT_TRUE(IsPlainFile("pipe.dat"));
  EXPECT_EQ(ReadLocal("pipe.dat"), "release pipe");
  EXPECT_EQ(ReadLocal("data\\sock.dat"), "release sock");
}
#endif

}  // namespace
}  // namespace repair

namespace repair {
namespace {

// Several downloads at once against the in-process server.
class ParallelRunTest : public RecoveryRunTest {
 protected:
  void TearDown() override {
    platform::ForceFreeDiskBytes(-1);
    RecoveryRunTest::TearDown();
  }
  // `count` files of `size` bytes each (data\fN.dat), every one damaged in the client and
  // served slowly enough for the transfers to overlap; the client's manifest is the release's.
  std::vector<std::string> PublishSlowFiles(int count, std::size_t size, int pauseMs = 15) {
    std::vector<std::string> contents;
    std::vector<publish::ManifestRecord> records;
    for (int i = 0; i < count; ++i) {
      const std::string name = "data\\f" + std::to_string(i) + ".dat";
      contents.push_back(test::Pattern(size + static_cast<std::size_t>(i)));
      records.push_back(Record(name, contents.back()));
      test::Resource resource{contents.back(), "\"v" + std::to_string(i) + "\"", ""};
      resource.pieceSize = 64 * 1024;
      resource.pauseMs = pauseMs;
      server_.ServeResource("/1.0/data/f" + std::to_string(i) + ".dat", resource);
      WriteLocal(name, "damaged");
    }
    Publish(records);
    WriteLocal("filehash.tsf", manifest_);
    return contents;
  }
  void ExpectRepaired(const std::vector<std::string>& contents) {
    for (std::size_t i = 0; i < contents.size(); ++i) {
      EXPECT_TRUE(ReadLocal("data\\f" + std::to_string(i) + ".dat") == contents[i]) << i;
    }
  }
};

// Up to the setting's number of files travel at once, and one at a time is today's run.
TEST_F(ParallelRunTest, FilesTravelAtOnceUpToTheSetting) {
  for (const std::uint32_t atOnce : {1u, 4u}) {
    FreshClient();
    test::TestHttpServer& server = server_;
    const std::vector<std::string> contents = PublishSlowFiles(6, 300 * 1024);
    maxDownloads_ = atOnce;
    ASSERT_TRUE(Run()) << GetErrorDetail();
    ExpectRepaired(contents);
    if (atOnce == 1) {
      EXPECT_EQ(server.MostAnswersAtOnce(), 1u);
    } else {
      EXPECT_GE(server.MostAnswersAtOnce(), 2u) << "nothing travelled at once";
      EXPECT_LE(server.MostAnswersAtOnce(), atOnce);
    }
    std::uint32_t files = 0;
    std::uint64_t bytes = 0;
    ASSERT_TRUE(PlanTotals(files, bytes));
    EXPECT_EQ(files, 6u);
    EXPECT_EQ(bytes, 6u * 300 * 1024 + 15);
  }
}

// One failure among several transfers ends the run with that transfer's error; the others are
// stopped where they stand, their part files kept, and the next run continues them.
TEST_F(ParallelRunTest, AFailureEndsTheRunWithItsErrorAndTheOthersPartsStay) {
  // The others take about 0.6 s; the refusal's head trickles in over about 0.2 s, so that
  // every transfer is under way when it comes.
  const std::vector<std::string> contents = PublishSlowFiles(4, 1024 * 1024, 40);
  Response refusal = Response::Status(404);
  refusal.slowHead = true;
  refusal.pieceSize = 8;
  refusal.pauseMs = 15;
  server_.Serve("/1.0/data/f3.dat", refusal);
  maxDownloads_ = 4;
  EXPECT_FALSE(Run());
  EXPECT_EQ(GetError(), static_cast<int>(RecoveryError::NotExistFile));
  EXPECT_NE(GetErrorDetail().find(server_.Url("/1.0/data/f3.dat")), std::string::npos)
      << GetErrorDetail();
  std::uint64_t kept = 0;
  for (int i = 0; i < 3; ++i) {
    const std::string part = ReadLocal("recovery\\f" + std::to_string(i) + ".dat.recovery.part");
    EXPECT_GT(part.size(), 0u) << i;
    EXPECT_LT(part.size(), contents[i].size()) << i << ": the failure did not stop it";
    EXPECT_EQ(part, contents[i].substr(0, part.size())) << i;
    kept += part.size();
    EXPECT_EQ(ReadLocal("data\\f" + std::to_string(i) + ".dat"), "damaged");
  }

  // The file is back: the parts are continued, and the plan counts only what is missing.
  server_.Serve("/1.0/data/f3.dat", Response::Ok(contents[3]));
  ASSERT_TRUE(Run()) << GetErrorDetail();
  ExpectRepaired(contents);
  std::uint32_t files = 0;
  std::uint64_t bytes = 0;
  ASSERT_TRUE(PlanTotals(files, bytes));
  EXPECT_EQ(files, 4u);
  EXPECT_EQ(bytes, 4u * 1024 * 1024 + 6 - kept);
}

// A server that refuses extra connections, or answers 503 or 429 to them, is met with fewer
// at once; every file still arrives and the run finishes.
TEST_F(ParallelRunTest, AServerThatTurnsExtraTransfersAwayGetsFewerAtOnce) {
  const struct {
    const char* what;
    std::size_t connections;  // 0: no limit
    int status;               // 0: never busy
  } cases[] = {
      {"two connections", 2, 0},
      {"503 beyond two", 0, 503},
      {"429 beyond one", 0, 429},
  };
  for (const auto& c : cases) {
    FreshClient();
    server_.LimitConnections(c.connections);
    server_.BusyBeyond(c.status == 429 ? 1 : 2, c.status);
    if (c.status == 0) server_.BusyBeyond(0, 0);
    const std::vector<std::string> contents = PublishSlowFiles(6, 200 * 1024);
    maxDownloads_ = 6;
    EXPECT_TRUE(Run()) << c.what << ": " << GetErrorDetail();
    ExpectRepaired(contents);
  }
  server_.LimitConnections(0);
  server_.BusyBeyond(0, 0);
}

// A range or a block index that a busy host turns away is asked for again: a range when the
// file's turn comes again (the file back in the queue), an index turned away while the
// downloads are planned when the file's transfer comes. The file is repaired by blocks, never
// fetched whole, and the run finishes.
TEST_F(ParallelRunTest, ARangeOrIndexTurnedAwayIsAskedForAgainNotFetchedWhole) {
  const std::string slow = test::Pattern(1024 * 1024);
  const std::string big = test::Pattern(kBlockRepairMinSize + 5000);
  const publish::ManifestRecord bigRecord = Record("data\\big.pak", big);
  BlockIndexBuilder builder(kDefaultIndexBlockSize);
  builder.Update(reinterpret_cast<const std::uint8_t*>(big.data()), big.size());
  BlockIndex index;
  ASSERT_TRUE(builder.Finish(bigRecord.md5.data(), index));
  const std::vector<std::uint8_t> indexBytes = FormatBlockIndex(index);
  for (const bool rangeBusy : {true, false}) {
    const char* what = rangeBusy ? "the range turned away" : "the index turned away";
    FreshClient();
    Publish({Record("a.dat", slow), bigRecord});
    test::Resource slowResource{slow, "\"s\"", ""};
    slowResource.pieceSize = 64 * 1024;
    slowResource.pauseMs = 30;  // under way while the range is asked for
    server_.ServeResource("/1.0/a.dat", slowResource);
    test::Resource bigResource{big, "\"b\"", ""};
    bigResource.busyAnswers = rangeBusy ? 1 : 0;
    server_.ServeResource("/1.0/data/big.pak", bigResource);
    test::Resource indexResource{std::string(indexBytes.begin(), indexBytes.end()), "", ""};
    indexResource.busyAnswers = rangeBusy ? 0 : 1;
    server_.ServeResource("/1.0/data/big.pak.blockidx", indexResource);
    WriteLocal("filehash.tsf", manifest_);
    WriteLocal("a.dat", "damaged");
    std::string damaged = big;
    damaged[3 * kDefaultIndexBlockSize] ^= 1;
    WriteLocal("data\\big.pak", damaged);
    maxDownloads_ = 2;
    runLog_ = base_ + "run.log";
    const std::size_t before = server_.Requests().size();

    ASSERT_TRUE(Run()) << what << ": " << GetErrorDetail();
    EXPECT_TRUE(ReadLocal("data\\big.pak") == big) << what;
    EXPECT_TRUE(ReadLocal("a.dat") == slow) << what;
    std::size_t asked = 0;
    const auto requests = server_.Requests();
    for (std::size_t i = before; i < requests.size(); ++i) {
      if (requests[i].target != "/1.0/data/big.pak") continue;
      ++asked;
      EXPECT_NE(requests[i].Header("Range"), "") << what << ": the whole file was asked for";
    }
    EXPECT_EQ(asked, rangeBusy ? 2u : 1u) << what;
    const std::string log = ReadLocal("run.log");
    EXPECT_EQ(log.find("fetch data\\big.pak: turned away") != std::string::npos, rangeBusy)
        << what << ":\n"
        << log;
    EXPECT_NE(log.find("fetch data\\big.pak: by blocks, 1 of 33"), std::string::npos)
        << what << ":\n"
        << log;
  }
}

// Too little room on the cache's volume ends the run before any file is fetched or changed;
// what the cache holds already is left out of what is needed.
TEST_F(ParallelRunTest, TooLittleRoomEndsTheRunBeforeAnythingIsFetched) {
  const std::string a = test::Pattern(300 * 1024);
  const std::string b = test::Pattern(200 * 1024 + 1);
  PublishAndServe({{"a.dat", a}, {"b.dat", b}});
  WriteLocal("filehash.tsf", manifest_);
  WriteLocal("a.dat", "damaged a");
  WriteLocal("b.dat", "damaged b");
  WriteLocal("recovery\\b.dat.recovery", b);  // an earlier run's cache file
  const std::uint64_t needed = a.size() + kCacheSlackPerFile;

  platform::ForceFreeDiskBytes(static_cast<std::int64_t>(needed - 1));
  EXPECT_FALSE(Run());
  EXPECT_EQ(GetError(), static_cast<int>(RecoveryError::DiskSpace));
  EXPECT_NE(GetErrorDetail().find(std::to_string(needed) + " bytes needed"), std::string::npos)
      << GetErrorDetail();
  EXPECT_EQ(RequestedTargets(), (std::vector<std::string>{"/1.0/filehash.tsf"}));
  EXPECT_EQ(ReadLocal("a.dat"), "damaged a");
  EXPECT_FALSE(fs::exists(Local("recovery\\a.dat.recovery.part")));

  platform::ForceFreeDiskBytes(static_cast<std::int64_t>(needed));
  ASSERT_TRUE(Run()) << GetErrorDetail();
  EXPECT_EQ(ReadLocal("a.dat"), a);
  EXPECT_EQ(ReadLocal("b.dat"), b);
}

}  // namespace
}  // namespace repair
