// The plain output's decisions that the window's tests reach only in part: which progress
// ends a file's line, and how that line reads.
#include "ui/terminal/plain_output.h"

#include <gtest/gtest.h>

namespace repair::terminal {
namespace {

TEST(PlainOutputTest, OnlyOkAndWholeDownloadsEndAFile) {
  const struct {
    const char* progress;
    bool final;
  } cases[] = {
      {"Ok", true},       {"100 %", true},
      {"120 %", true},    {"999999999 %", true},
      {"99 %", false},    {"0 %", false},
      {"100%", false},    {"100 % ", false},
      {"1 00 %", false},  {"1000000000 %", false},  // more digits than a percentage the tool writes
      {" %", false},      {"", false},
      {"ok", false},      {"checking...", false},
      {"invalid", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsFinalProgress(c.progress), c.final) << c.progress;
}

TEST(PlainOutputTest, CompletedFileLineLeavesOutAnEmptySize) {
  EXPECT_EQ(CompletedFileLine({"3", "data\\a.txt", "20 B ", "Ok"}), "#3 data\\a.txt (20 B): Ok");
  EXPECT_EQ(CompletedFileLine({"3", "data\\a.txt", "   ", "100 %"}), "#3 data\\a.txt: 100 %");
}

}  // namespace
}  // namespace repair::terminal
