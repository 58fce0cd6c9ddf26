// The screen's layout without a terminal: scrolling a row into view and the box over a
// screen of any size.
#include "ui/terminal/layout.h"

#include <gtest/gtest.h>

#include "ui/terminal/text_fit.h"

namespace repair::terminal {
namespace {

TEST(LayoutTest, ScrollMovesOnlyAsFarAsTheVisibleRowNeeds) {
  // 12 lines leave 7 list rows.
  const struct {
    int scrollTop, visibleRow, rowCount, rows, expected;
  } cases[] = {
      {0, -1, 30, 12, 0},    // nothing to show: stays
      {0, 6, 30, 12, 0},     // the last row on screen: stays
      {0, 7, 30, 12, 1},     // one below: one step
      {10, 3, 30, 12, 3},    // above: it becomes the first
      {10, 12, 30, 12, 10},  // in view
      {25, -1, 30, 12, 23},  // past the end: the list fills the screen
      {5, -1, 4, 12, 0},     // a list shorter than the screen starts at its top
      {0, 40, 30, 12, 0},    // no such row: ignored
      {4, 20, 30, 5, 4},     // no room for the list at all
      {20, 29, 30, 8, 27},   // a smaller screen keeps the row in view
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ClampScrollTop(c.scrollTop, c.visibleRow, c.rowCount, c.rows), c.expected)
        << c.scrollTop << " " << c.visibleRow << " " << c.rowCount << " " << c.rows;
  }
}

TEST(LayoutTest, BoxSitsInsideTheScreenAndKeepsItsKeys) {
  ScreenContent content;
  content.columns = 40;
  content.rows = 9;
  content.list = {{"1", "data\\a.txt", "20 B ", "Ok"}};
  content.box.reset(new BoxContent{"Confirm", "line one\nline two\nline three\nline four",
                                   MessageBoxKind::kYesNoQuestion});
  const std::vector<ScreenLine> lines = ComposeScreen(content);
  ASSERT_EQ(lines.size(), 9u);
  std::string all;
  for (const ScreenLine& line : lines) {
    EXPECT_EQ(DisplayWidth(line.text), 40u);
    EXPECT_LE(line.boxFrom, line.boxTo);
    EXPECT_LE(line.boxTo, line.text.size());
    all += line.text + "\n";
  }
  // Three rows of text fit beside the frame and the keys: the fourth is dropped.
  EXPECT_NE(all.find("[ Yes: y ]   [ No: n ]"), std::string::npos) << all;
  EXPECT_NE(all.find("line three"), std::string::npos) << all;
  EXPECT_EQ(all.find("line four"), std::string::npos) << all;
}

}  // namespace
}  // namespace repair::terminal
