// The failure detail and the run log, on real files in a temp folder.
#include "engine/run_log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/status.h"
#include "support/test_support.h"

namespace repair {
namespace {

std::string Text(const std::string& path) {
  const std::vector<std::uint8_t> bytes = test::ReadAll(path);
  return std::string(bytes.begin(), bytes.end());
}

TEST(StatusTest, DetailNamesWhatFailedAndWhy) {
  struct Case {
    Status status;
    std::string detail;
  };
  Status both = HttpFailure(RecoveryError::NotExistFile, "http://h/a.dat", 503, "retry later");
  const Case cases[] = {
      {Ok(), ""},
      {Failure(RecoveryError::InvalidData, "digest", "a.dat", "not the manifest's MD5"),
       "digest a.dat: not the manifest's MD5"},
      {HttpFailure(RecoveryError::NotExistFile, "http://h/a.dat", 404),
       "fetch http://h/a.dat: HTTP status 404"},
      {both, "fetch http://h/a.dat: HTTP status 503, retry later"},
      {Failure(RecoveryError::Unknown, "", ""), "failure"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.status.Detail(), c.detail);

  // The system's own text for the number, whatever its wording on this system.
  const Status denied = OsFailure(RecoveryError::Unknown, "move", "a.dat", 13);
  const std::string detail = denied.Detail();
  EXPECT_EQ(detail.rfind("move a.dat: ", 0), 0u) << detail;
  EXPECT_NE(detail.find(" (OS error 13)"), std::string::npos) << detail;
  EXPECT_EQ(detail.find('\n'), std::string::npos) << detail;
}

TEST(RunLogTest, StartsAnewWritesStampedLinesAndRecordsFailures) {
  test::TempDir dir;
  const std::string path = dir.File("run.log");
  test::WriteAll(path, std::string(10000, '#'));  // an earlier run's log
  RunLog log;
  ASSERT_TRUE(log.Start(path));
  log.Line("build 3.7");
  log.Line("two\nlines");
  log.Failure(Ok());  // nothing
  log.Failure(HttpFailure(RecoveryError::NotExistFile, "http://h/a.dat", 404));
  log.Close();
  const std::string text = Text(path);
  EXPECT_EQ(text.find('#'), std::string::npos) << "the earlier log was kept";
  const std::vector<std::string> expected = {"build 3.7", "two lines",
                                             "failed: ERR_NOTEXISTFILE fetch http://h/a.dat: "
                                             "HTTP status 404"};
  std::size_t at = 0;
  for (const std::string& line : expected) {
    const std::size_t end = text.find('\n', at);
    ASSERT_NE(end, std::string::npos) << text;
    // "   0.000 build 3.7": the seconds, right-aligned, then the text.
    EXPECT_EQ(text.substr(at + 9, end - at - 9), line) << text;
    EXPECT_EQ(text[at + 4], '.') << text;
    at = end + 1;
  }
  EXPECT_EQ(at, text.size());
}

TEST(RunLogTest, StopsAtItsBoundAndNeverFailsWhenItCannotBeWritten) {
  test::TempDir dir;
  const std::string path = dir.File("run.log");
  RunLog log;
  ASSERT_TRUE(log.Start(path));
  const std::string line(1000, 'x');
  for (int i = 0; i < 5000; ++i) log.Line(line);  // about 5 MB offered
  log.Close();
  const std::string text = Text(path);
  EXPECT_LE(text.size(), RunLog::kMaxBytes);
  EXPECT_GT(text.size(), RunLog::kMaxBytes - 2 * line.size());
  EXPECT_EQ(text.substr(text.rfind('\n', text.size() - 2) + 1),
            "log cut here: it reached its size limit\n");

  // A folder where the log should be, or a missing folder: no log, and no harm.
  RunLog off;
  EXPECT_FALSE(off.Start(dir.path()));
  EXPECT_FALSE(off.Start(dir.File("missing/run.log")));
  EXPECT_FALSE(off.Start(""));
  off.Line("nowhere");
  off.Failure(Failure(RecoveryError::Unknown, "move", "a"));
  EXPECT_FALSE(off.on());
}

}  // namespace
}  // namespace repair
