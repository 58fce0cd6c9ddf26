#include "app/run_context.h"

#include <gtest/gtest.h>

#include <string>

#include "app/run_context_test_helper.h"
#include "platform/paths.h"
#include "strings/string_table.h"

#if !defined(_WIN32)
#include <climits>
#include <cstdlib>
#endif

namespace repair {
namespace {

#if defined(_WIN32)
constexpr char kExecutable[] = "C:\\Games\\Client\\repair.exe";
constexpr char kFolder[] = "C:\\Games\\Client\\";
constexpr char kName[] = "repair.exe";
#else
constexpr char kExecutable[] = "/opt/games/client/repair.bin";
constexpr char kFolder[] = "/opt/games/client/";
constexpr char kName[] = "repair.bin";
#endif

// Each test starts from an empty global table and leaves one behind.
class RunContextTest : public ::testing::Test {
 protected:
  void SetUp() override { GlobalStringTable().Clear(); }
  void TearDown() override { GlobalStringTable().Clear(); }
};

TEST_F(RunContextTest, EmptyTableGivesDefaults) {
  CommandLineOptions options;
  RecoveryContext context;
  auto* window = reinterpret_cast<WindowControls*>(0x1234);  // only stored, never used
  ASSERT_TRUE(RunContextTestHelper::FillFromPath(window, options, kExecutable, context));

  EXPECT_EQ(context.window, window);
  EXPECT_EQ(context.request.baseFolder, kFolder);
  EXPECT_EQ(context.request.ownFileName, kName);
  EXPECT_EQ(context.request.versionFileName, "buildver.tvf");
  EXPECT_EQ(context.request.manifestFileName, "filehash.tsf");
  EXPECT_EQ(context.request.remotePath, "");
  EXPECT_EQ(context.request.caFile, "");  // the system's certificates alone
  EXPECT_EQ(context.request.versionMode, VersionMode::Current);
  EXPECT_EQ(context.quiet, 0);
}

TEST_F(RunContextTest, SettingsComeFromTheStringTable) {
  GlobalStringTable().Insert("SYS_LOCALVERFNAME", "ver.dat");
  GlobalStringTable().Insert("SYS_FILEHASHFNAME", "");
  GlobalStringTable().Insert("SYS_REMOTEPATH", "http://127.0.0.1/$MAJORVER$/%d");
  RecoveryContext context;
  ASSERT_TRUE(
      RunContextTestHelper::FillFromPath(nullptr, CommandLineOptions{}, kExecutable, context));
  EXPECT_EQ(context.request.versionFileName, "ver.dat");
  EXPECT_EQ(context.request.manifestFileName, "");
  EXPECT_EQ(context.request.remotePath, "http://127.0.0.1/$MAJORVER$/%d");
}

// A relative CA file lies beside the program, wherever the program was started from; a path
// from a root or a drive is kept as it is.
TEST_F(RunContextTest, TheCaFileIsFoundFromTheProgramsFolder) {
  const struct {
    const char* setting;
    std::string expected;
  } cases[] = {
      {"ca.pem", std::string(kFolder) + "ca.pem"},
      {"certs/ca.pem", std::string(kFolder) + "certs/ca.pem"},
      {"/etc/ssl/operator.pem", "/etc/ssl/operator.pem"},
      {"\\\\server\\ca.pem", "\\\\server\\ca.pem"},
      {"D:\\certs\\ca.pem", "D:\\certs\\ca.pem"},
  };
  for (const auto& c : cases) {
    GlobalStringTable().Clear();
    GlobalStringTable().Insert("SYS_CAFILE", c.setting);
    RecoveryContext context;
    ASSERT_TRUE(
        RunContextTestHelper::FillFromPath(nullptr, CommandLineOptions{}, kExecutable, context));
    EXPECT_EQ(context.request.caFile, c.expected) << c.setting;
  }
}

// The log is written by a program that may run elevated, from a file any user may change: it
// stays below the program's folder, or there is none.
TEST_F(RunContextTest, TheRunLogIsAPlainNameBelowTheProgramsFolderOrNone) {
  const struct {
    const char* setting;
    std::string expected;
  } cases[] = {
      {"", ""},
      {"repair.log", std::string(kFolder) + "repair.log"},
      {"logs\\repair.log", std::string(kFolder) + "logs" + platform::kPathSeparator + "repair.log"},
      {"/etc/passwd", ""},
      {"..\\repair.log", ""},
      {"logs/../../repair.log", ""},
      {"C:\\Windows\\win.ini", ""},
      {"\\\\server\\share\\x.log", ""},
      {"nul", ""},
  };
  for (const auto& c : cases) {
    GlobalStringTable().Clear();
    GlobalStringTable().Insert("SYS_RUNLOG", c.setting);
    RecoveryContext context;
    ASSERT_TRUE(
        RunContextTestHelper::FillFromPath(nullptr, CommandLineOptions{}, kExecutable, context));
    EXPECT_EQ(context.request.runLogPath, c.expected) << c.setting;
  }
}

// Downloads at once: a plain number from 1 to the most; a larger one stops at the most, and
// anything that is no such number keeps the default rather than stalling or flooding the run.
TEST_F(RunContextTest, DownloadsAtOnceComeFromTheSettingWithinBounds) {
  const struct {
    const char* setting;  // null: the key is absent
    std::uint32_t expected;
  } cases[] = {
      {nullptr, kDefaultDownloadsAtOnce},
      {"", kDefaultDownloadsAtOnce},
      {"1", 1},
      {" 8 ", 8},
      {"16", kMaxDownloadsAtOnce},
      {"17", kMaxDownloadsAtOnce},
      {"99999999999999999999", kMaxDownloadsAtOnce},
      {"0", kDefaultDownloadsAtOnce},
      {"-2", kDefaultDownloadsAtOnce},
      {"+2", kDefaultDownloadsAtOnce},
      {"2x", kDefaultDownloadsAtOnce},
      {"two", kDefaultDownloadsAtOnce},
  };
  for (const auto& c : cases) {
    GlobalStringTable().Clear();
    if (c.setting != nullptr) GlobalStringTable().Insert("SYS_MAXDOWNLOADS", c.setting);
    RecoveryContext context;
    ASSERT_TRUE(
        RunContextTestHelper::FillFromPath(nullptr, CommandLineOptions{}, kExecutable, context));
    EXPECT_EQ(context.request.maxDownloads, c.expected) << (c.setting ? c.setting : "(absent)");
  }
}

TEST_F(RunContextTest, VersionModeAndQuiet) {
  CommandLineOptions options;
  options.explicitVersion = true;
  options.quiet = true;
  options.major = 3;
  options.minor = -1;
  RecoveryContext context;
  ASSERT_TRUE(RunContextTestHelper::FillFromPath(nullptr, options, kExecutable, context));
  EXPECT_EQ(context.request.versionMode, VersionMode::Explicit);
  EXPECT_EQ(context.request.major, 3);
  EXPECT_EQ(context.request.minor, -1);
  EXPECT_EQ(context.quiet, 1);

  options.rollback = true;
  ASSERT_TRUE(RunContextTestHelper::FillFromPath(nullptr, options, kExecutable, context));
  EXPECT_EQ(context.request.versionMode, VersionMode::Rollback);
  EXPECT_EQ(context.request.major, 0);
  EXPECT_EQ(context.request.minor, 0);

  // Numbers left in options without an explicit version are not carried over.
  options.rollback = false;
  options.explicitVersion = false;
  ASSERT_TRUE(RunContextTestHelper::FillFromPath(nullptr, options, kExecutable, context));
  EXPECT_EQ(context.request.versionMode, VersionMode::Current);
  EXPECT_EQ(context.request.major, 0);
  EXPECT_EQ(context.request.minor, 0);
}

TEST_F(RunContextTest, FieldsThatDoNotFitFail) {
  RecoveryContext context;
  EXPECT_FALSE(RunContextTestHelper::FillFromPath(nullptr, CommandLineOptions{}, nullptr, context));
  EXPECT_EQ(context.request.baseFolder, "");
  EXPECT_EQ(context.request.ownFileName, "");

  // A file name beyond its 256-byte field.
  std::string path = std::string(kFolder) + std::string(300, 'n') + ".exe";
  EXPECT_FALSE(
      RunContextTestHelper::FillFromPath(nullptr, CommandLineOptions{}, path.c_str(), context));
  EXPECT_EQ(context.request.ownFileName, "");

  // Name and extension each fit their parts but not, together, a path buffer.
  path = std::string(kFolder) + std::string(200, 'n') + "." + std::string(99, 'e');
  EXPECT_FALSE(
      RunContextTestHelper::FillFromPath(nullptr, CommandLineOptions{}, path.c_str(), context));
  EXPECT_EQ(context.request.baseFolder, kFolder);
  EXPECT_EQ(context.request.ownFileName, "");
}

TEST_F(RunContextTest, RealExecutable) {
  RecoveryContext context;
  ASSERT_TRUE(FillRunContext(nullptr, CommandLineOptions{}, context));
  std::string folder = context.request.baseFolder;
  std::string name = context.request.ownFileName;
#if defined(_WIN32)
  ASSERT_GE(name.size(), 4u);
  EXPECT_EQ(name.substr(name.size() - 4), ".exe");
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '\\');
#else
  char resolved[PATH_MAX];
  ASSERT_NE(realpath("/proc/self/exe", resolved), nullptr);
  EXPECT_EQ(folder + name, std::string(resolved));
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '/');
  EXPECT_EQ(name.find('/'), std::string::npos);
#endif
  EXPECT_EQ(context.request.versionFileName, "buildver.tvf");
}

}  // namespace
}  // namespace repair
