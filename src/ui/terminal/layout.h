// What goes where on the terminal window's screen, free of I/O: the title bar, the column
// headers, the visible part of the list, a frame, the status line and a text progress bar,
// with a message box centred over them. Every line is exactly as wide as the screen.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "ui/window_controls.h"

namespace repair::terminal {

using RowCells = std::array<std::string, 4>;  // "#", file name, size, progress

constexpr int kNumberWidth = 5;      // "#" and row numbers up to 99999, to start with
constexpr int kMaxNumberWidth = 10;  // every 32-bit row number

enum class LineStyle { kPlain, kTitleBar, kHeader };

struct ScreenLine {
  std::string text;  // sanitized, exactly the screen's width
  LineStyle style = LineStyle::kPlain;
  std::size_t boxFrom = 0;  // bytes of `text` covered by a message box, drawn unstyled
  std::size_t boxTo = 0;
};

struct BoxContent {
  std::string caption;  // as given: the layout sanitizes
  std::string text;
  MessageBoxKind kind = MessageBoxKind::kOkInformation;
};

// Everything the screen shows. Texts as the window was given them, except where noted.
struct ScreenContent {
  int columns = 80;
  int rows = 24;
  std::string title;  // sanitized
  RowCells headers;   // sanitized
  std::vector<RowCells> list;
  int scrollTop = 0;               // the first list row on screen
  int numberWidth = kNumberWidth;  // columns of "#" and the row numbers
  std::string status;
  int position = 0;                 // 0 to 1000; beyond shows an empty or a full bar
  bool closeKey = false;            // "[q]" at the end of the title bar
  std::unique_ptr<BoxContent> box;  // a message box over the window, or none
};

// How many list rows fit on a screen of `rows` lines.
int ListHeight(int rows);
// The first row to show so that `visibleRow` (-1: none) is in view, moving `scrollTop` as
// little as that takes, and the list fills the screen where it is long enough.
int ClampScrollTop(int scrollTop, int visibleRow, int rowCount, int rows);
// The columns the number column needs for `number`, at most kMaxNumberWidth.
int NumberWidthOf(const std::string& number);

// The screen, top to bottom; on a screen too small for it, the bottom lines.
std::vector<ScreenLine> ComposeScreen(const ScreenContent& content);

}  // namespace repair::terminal
