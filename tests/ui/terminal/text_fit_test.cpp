// Fitting text to the terminal's columns: sanitizing, widths in code points, cutting and
// wrapping.
#include "ui/terminal/text_fit.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace repair::terminal {
namespace {

TEST(TerminalTextTest, SanitizeKeepsTextAndDefusesControls) {
  EXPECT_EQ(Sanitize("data\\file 1.txt"), "data\\file 1.txt");
  EXPECT_EQ(Sanitize("a\x1b[2Jb\tc\x7f"), "a?[2Jb c?");
  EXPECT_EQ(Sanitize("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"),
            "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80");
  EXPECT_EQ(Sanitize("\xFF\x80"), "??");  // no lead byte
  EXPECT_EQ(Sanitize("\xC0\x80"), "??");  // overlong
  EXPECT_EQ(Sanitize("\xC2\x9B"
                     "2J"),
            "?"
            "?2J");                            // C1 control (CSI): both bytes refused
  EXPECT_EQ(Sanitize("ab\xE2\x82"), "ab??");   // cut at the end
  EXPECT_EQ(Sanitize("\xED\xA0\x80"), "???");  // surrogate
  EXPECT_EQ(Sanitize(std::string("a\0b", 3)), "a?b");
}

TEST(TerminalTextTest, FittingCountsCodePointsAndNeverSplitsThem) {
  const std::string euro = "\xE2\x82\xAC";
  EXPECT_EQ(DisplayWidth(euro + euro + "x"), 3u);
  EXPECT_EQ(FitLeft("ab", 4), "ab  ");
  EXPECT_EQ(FitLeft(euro + euro + euro, 2), euro + euro);
  EXPECT_EQ(FitLeft("abc", 0), "");
  EXPECT_EQ(FitTail("data\\maps\\deep\\leaf.cfg", 12), "...\\leaf.cfg");
  EXPECT_EQ(DisplayWidth(FitTail(euro + "0123456789" + euro, 6)), 6u);
  EXPECT_EQ(FitTail(euro + "0123456789" + euro, 6), "...89" + euro);
  EXPECT_EQ(FitTail("short", 8), "short   ");
  EXPECT_EQ(FitTail("abcdef", 2), "ab");
}

TEST(TerminalTextTest, WrapsAtSpacesAndSplitsLongWords) {
  EXPECT_EQ(WrapText("one two three", 7), (std::vector<std::string>{"one two", "three"}));
  EXPECT_EQ(WrapText("abcdefghij", 4), (std::vector<std::string>{"abcd", "efgh", "ij"}));
  EXPECT_EQ(WrapText("", 4), (std::vector<std::string>{""}));
  for (const std::string& line : WrapText("a bb ccc dddd eeeee ffffff", 5)) {
    EXPECT_LE(DisplayWidth(line), 5u) << line;
  }
}

}  // namespace
}  // namespace repair::terminal
